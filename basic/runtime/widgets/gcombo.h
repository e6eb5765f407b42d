// The combo field and the choice intrinsics. A combo is a button showing the chosen text with a
// drop-down arrow; Enter or space opens a list of every item in a popover under (or above) the
// button, where each move runs the field's Change_Content routine with IP$ the highlighted text
// and Enter, F12, Tab or a click commits the choice. The choice intrinsics (IGCOMBO_TEXT_ADD,
// IGCOMBO_SET, IGCOMBO_GET$, IGCOMBO_VALIDATE_SET) serve combo, toggle and radio fields alike: they
// read the kind at the head of the field record and hand toggle and radio records to gradio.h.
#pragma once

#include <gtk/gtk.h>

#include "forms.h"

struct Stack;

// ---- StringHolder: the item type of a combo's list store (one owned string) -------------------------
G_DECLARE_FINAL_TYPE(StringHolder, string_holder, STRING, HOLDER, GObject)
// A new holder with a copy of text.
StringHolder *string_holder_new(const char *text);
const char *string_holder_get_string(StringHolder *holder);

// One item of a combo, owned by its record: text is an owned copy without trailing blanks.
struct ComboItem {
    char *text;
    ComboItem *next, *prev;  // creation order; nullptr at the ends
};

// The combo's field record (kind CM_FIELD_TYPE_GCOMBO, internal code 104), owned by its
// attachment. active is the active_index-th item of values; the store holds a StringHolder per
// item, in the same order. Items are never removed.
struct combo_data {
    int type;                 // always CM_FIELD_TYPE_GCOMBO
    ControlMatrix_t *cm;
    int active_index;         // 1-based position of the chosen item; 0 while the list is empty
    int pending_index;        // row pressed in the open list, not yet committed; -1 none, 0 no selection
    ComboItem *pending;
    ComboItem *active;        // the first item added becomes active
    ComboItem *values;
    ComboItem *longest;       // the item with the longest text seen so far
    int width;                // width request of the button in pixels; -1: natural width
    int list_open;            // 1 while a choice made in the open list waits for the form's Enter handling
    GtkWidget *button;
    GtkWidget *label;         // inside the button: the chosen text
    GListStore *store;        // of StringHolder (the record holds a reference)
    GtkWidget *list_view;
    GtkWidget *scroller;
    GtkWidget *popover;
    gulong activate_handler, press_handler, key_handler;  // list handlers while the list is usable; 0 when not
    GObject *activate_source, *press_source, *key_source;  // the objects they are connected on
};

// ---- Placing the open list ------------------------------------------------------------------------------
// What the placement needs: the button's rectangle and the monitor's, in the same (screen)
// coordinates, and the scrolled list's minimum size with both scrollbars off.
struct ComboListGeometry {
    int x, y, width, height;          // the button
    int list_width, list_height;      // the list's minimum size
    GdkRectangle monitor;
};
// Where the list goes: its rectangle in the same coordinates, and the scrollbars to show always.
struct ComboListPlace {
    int x, y, width, height;
    bool scroll_horizontal, scroll_vertical;
};
// The list is as wide as the button (a horizontal scrollbar when its items are wider), kept
// within the monitor's left and right edges; it goes below the button when it fits there, else
// above when it fits there, else on the larger side cut to that side's room (with a vertical
// scrollbar).
ComboListPlace gcombo_list_place(const ComboListGeometry &geometry);

// ---- Hooks of the forms engine ------------------------------------------------------------------------------
// A new g_malloc copy of the active item's text (the field's IP$), or nullptr with no items.
char *gcombo_get_active_text(const combo_data *combo);
// The focus arrives on the combo of field index, or Enter on it: flag 0 opens its list. An entry
// that is no combo ends the run ("Unexpected type found in Combo").
void gcombo_edit(ControlMatrix_t *cm, int index, int flag);
// The first item becomes active (index 1) and shows; with no items index 0 and an empty label.
void gcombo_clear_display(combo_data *combo);
// The form's first check: a combo whose active_index is below 2 is set to item 1.
void gcombo_box_init_focus(ControlMatrix_t *cm, int index, void *record);
// A click in the form: the pending choice of the combo at index (when its list is open) is
// committed.
void gcombo_button_press_next(ControlMatrix_t *cm, int index);
// F12 and Escape on the form while the combo at index has its list open: F12 commits a pending
// choice, both run the Enter handling for the button and finish the event when it succeeds.
// Answer 1 when they did, 0 when the field is no combo with its list open.
int gcombo_button_press_save(ControlMatrix_t *cm, int index);
int gcombo_button_press_cancel(ControlMatrix_t *cm, int index);

// ---- The list --------------------------------------------------------------------------------------------
// Opens the list at the active item (no items: "Unable to find active item") and closes it.
void gcombo_popup_menu(combo_data *combo);
void gcombo_popdown_menu(combo_data *combo);

// ---- Handlers (the key controllers and gestures call these; tests call them directly) ---------------
// Keys on the closed field (user data global_data): space, Return, KP_Enter open the list; Up,
// Down, Home, End move the choice without a routine; others go to the forms engine's dispatcher.
gboolean gcombo_key_press_event(GtkEventControllerKey *controller, guint keyval, guint keycode,
                                GdkModifierType state, gpointer gd);
// Keys in the open list (user data the record).
gboolean gcombo_tv_key_press_event(GtkEventControllerKey *controller, guint keyval, guint keycode,
                                   GdkModifierType state, gpointer record);
// A press in the open list and the activation of a row (user data the record).
void gcombo_tv_button_press_event(GtkGestureClick *gesture, int n_press, double x, double y, gpointer record);
void gcombo_row_activated(GtkListView *list_view, guint position, gpointer record);

// ---- Adding, setting, reading a combo's items (the choice intrinsics' combo part) -----------------------
// Appends an item (text already without trailing blanks); the label shows the longest text.
void gcombo_text_add(combo_data *combo, const char *text);
// Sets the choice by text (non-empty) or item number n (0 and 1: the first); runs no routine.
void gcombo_set(combo_data *combo, const char *text, int n);

// The rows of the combo kind in the forms engine's and the widgets' tables.
void gcombo_register_kind();

// ---- Intrinsics -------------------------------------------------------------------------------------------
void igcombo_new(int nargs, int last, Stack *result);           // IGCOMBO_NEW
void igcombo_text_add(int nargs, int last);                     // IGCOMBO_TEXT_ADD
void igcombo_set(int nargs, int last);                          // IGCOMBO_SET
void igcombo_get(int nargs, int last, Stack *result);           // IGCOMBO_GET$
void igcombo_validate_set(int nargs, int last, Stack *result);  // IGCOMBO_VALIDATE_SET
