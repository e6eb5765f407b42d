// The registry of issued handles: one hash table from address to what lives there. Widgets are
// watched with a weak reference, which GLib notifies when the object is disposed, so a window
// destroyed by the user or a widget dropped with its container is gone from the table before its
// memory can be reused.
#include "handles.h"

#include <cstring>
#include <unordered_map>

#include "forms.h"
#include "message.h"

namespace {

constexpr int WIDGET = 0;
constexpr int OBJECT = 1000;  // any other GObject handed out

bool is_record(int kind) { return kind >= 1 && kind <= CM_FIELD_TYPE_GMAX; }

std::unordered_map<std::uintptr_t, int> &issued()
{
    static auto *table = new std::unordered_map<std::uintptr_t, int>;  // lives to the end of the process
    return *table;
}

void object_gone(gpointer, GObject *object)
{
    issued().erase(reinterpret_cast<std::uintptr_t>(object));
}

void issue_object(GObject *object, int tag)
{
    auto [it, added] = issued().try_emplace(reinterpret_cast<std::uintptr_t>(object), tag);
    if (added) g_object_weak_ref(object, object_gone, nullptr);
}

int first_int(const void *record)
{
    int kind;
    std::memcpy(&kind, record, sizeof kind);
    return kind;
}

} // namespace

void handle_issue_record(void *record)
{
    const int kind = first_int(record);
    if (kind < 1 || kind > CM_FIELD_TYPE_GMAX) Abort("Invalid field record type %d", kind);
    issued()[reinterpret_cast<std::uintptr_t>(record)] = kind;
}

void handle_revoke_record(const void *record)
{
    auto it = issued().find(reinterpret_cast<std::uintptr_t>(record));
    if (it != issued().end() && is_record(it->second)) issued().erase(it);
}

void handle_issue_widget(GtkWidget *widget)
{
    if (widget) issue_object(G_OBJECT(widget), WIDGET);
}

void handle_issue_object(GObject *object)
{
    if (object) issue_object(object, OBJECT);
}

void handle_revoke_object(GObject *object)
{
    auto it = issued().find(reinterpret_cast<std::uintptr_t>(object));
    if (it == issued().end() || it->second != OBJECT) return;
    issued().erase(it);
    g_object_weak_unref(object, object_gone, nullptr);
}

void *handle_record(std::uintptr_t value)
{
    auto it = issued().find(value);
    return it != issued().end() && is_record(it->second) ? reinterpret_cast<void *>(value) : nullptr;
}

GObject *handle_object(std::uintptr_t value)
{
    auto it = issued().find(value);
    return it != issued().end() && it->second == OBJECT ? reinterpret_cast<GObject *>(value) : nullptr;
}

GtkWidget *handle_widget(std::uintptr_t value)
{
    auto it = issued().find(value);
    return it != issued().end() && it->second == WIDGET ? reinterpret_cast<GtkWidget *>(value) : nullptr;
}

int handle_kind(const void *entry)
{
    auto it = issued().find(reinterpret_cast<std::uintptr_t>(entry));
    return it == issued().end() || it->second == OBJECT ? -1 : it->second;
}
