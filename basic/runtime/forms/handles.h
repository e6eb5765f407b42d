// The registry of handles issued to programs: widgets, windows and field records cross into
// programs as numbers (their addresses). A number a program hands back is looked up here before
// anything behind it is read, so a stale, foreign or made-up number is refused, never followed.
//
// Field records enter when they are hung on a CM (cutil_new_setup, cattach.h) and leave when the
// CM frees them. Widgets enter when a constructor hands them out (handle_issue_widget) and leave
// by themselves when GTK disposes of them. Other objects handed out (size groups) enter and leave
// the same way, or earlier when the program gives them up.
#pragma once

#include <cstdint>
#include <gtk/gtk.h>

// Registers a field record; its first int must be a CM_FIELD_TYPE_* kind (1..12).
void handle_issue_record(void *record);
// Forgets a record about to be freed.
void handle_revoke_record(const void *record);
// Registers a widget (a window included) handed to a program; idempotent. It leaves the registry
// when the object is disposed.
void handle_issue_widget(GtkWidget *widget);

// Registers an object that is no widget (a size group) handed to a program; idempotent. It leaves
// when disposed, or when revoked.
void handle_issue_object(GObject *object);
void handle_revoke_object(GObject *object);

// The live field record a number names, or nullptr.
void *handle_record(std::uintptr_t value);
// The live widget a number names, or nullptr.
GtkWidget *handle_widget(std::uintptr_t value);
// The live object (not a widget) a number names, or nullptr.
GObject *handle_object(std::uintptr_t value);
// The kind of a live field record (1..12), 0 for a live widget, -1 for anything else.
int handle_kind(const void *entry);
