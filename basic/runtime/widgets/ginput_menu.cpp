// The right-mouse edit menu of input fields (and of the focused note field): a GtkPopoverMenu
// over the field's text with undo, the clipboard, delete, select all and, for plain text types,
// upper, lower and title case. Its letter keys (the items' mnemonics) work without a modifier.
#include <gtk/gtk.h>

#include "cattach.h"
#include "ccallback.h"
#include "cevents.h"
#include "cfield.h"
#include "cinvoke.h"
#include "cmatrix.h"
#include "ginput.h"
#include "gwidget.h"
#include "message.h"

namespace {

// What the menu's actions work on; owned by the popover.
struct EditMenu {
    ControlMatrix_t *cm;
    int index;
    GtkWidget *editable;  // the popover's parent
    GSimpleActionGroup *actions;
};

enum class Case { upper, lower, title };

GtkEditable *editable_of(const EditMenu *m) { return GTK_EDITABLE(m->editable); }

// The widget that carries the clipboard signals: the GtkText itself, or the one an entry wraps.
GtkWidget *text_widget(GtkWidget *editable)
{
    if (GTK_IS_TEXT(editable)) return editable;
    GtkEditable *delegate = gtk_editable_get_delegate(GTK_EDITABLE(editable));
    return delegate && GTK_IS_TEXT(delegate) ? GTK_WIDGET(delegate) : nullptr;
}

void emit(const EditMenu *m, const char *signal)
{
    if (GtkWidget *text = text_widget(m->editable)) g_signal_emit_by_name(text, signal);
}

// Nothing is selected when the trimmed text is empty or the selection is empty.
bool nothing_selected(GtkEditable *e)
{
    int start = 0, end = 0;
    return trimmed(gtk_editable_get_text(e)).empty() || !gtk_editable_get_selection_bounds(e, &start, &end) ||
           start == end;
}

// The characters from start to end (character positions) in another case.
std::string change_case(const char *text, int start, int end, Case how)
{
    std::string out;
    bool after_space = true;
    int i = 0;
    for (const char *p = text; *p; p = g_utf8_next_char(p), ++i) {
        gunichar c = g_utf8_get_char(p);
        if (i >= start && i < end) {
            if (how == Case::upper || (how == Case::title && after_space)) c = g_unichar_toupper(c);
            else c = g_unichar_tolower(c);
        }
        after_space = g_unichar_isspace(c);
        char buffer[6];
        out.append(buffer, static_cast<std::size_t>(g_unichar_to_utf8(c, buffer)));
    }
    return out;
}

void recase(EditMenu *m, Case how)
{
    GtkEditable *e = editable_of(m);
    int start = 0, end = 0;
    if (nothing_selected(e)) {
        start = 0;
        end = static_cast<int>(g_utf8_strlen(gtk_editable_get_text(e), -1));
    } else {
        gtk_editable_get_selection_bounds(e, &start, &end);
    }
    ginput_write_text(m->editable, global_data, change_case(gtk_editable_get_text(e), start, end, how).c_str());
    gtk_editable_select_region(e, start, end);
}

// Undo: editing of the focused field ends, and its F8 routine (else its Pre_Focus) runs again.
void undo(EditMenu *m)
{
    ControlMatrix_t *cm = m->cm;
    if (!cm_chain_position(cm)) return;  // the window has gone meanwhile
    ccursor_set_busy(cm, 0);
    cinvoke_post_display(cm, 0);
    const int f8 = AC_F1 - 1 + 8;
    const bool has_f8 = cmat_get_fn_ptr(cm, m->index, f8) != nullptr;
    int index = m->index, closing = 0;
    char *text = nullptr;
    ControlMatrix_t *out = cm;
    cinvoke_basic_routine(cm, &out, has_f8 ? f8 : AC_PRE_FOCUS, &index, nullptr, global_data, "IP$", "", 0, 0, &text,
                          &closing, 0);
    g_free(text);
    if (!has_f8 && closing) Abort("Not permitted to delete a window in the 'Pre' Action Code");
    ccallbacks_finish_event(1, 1);
}

void run(GSimpleAction *action, GVariant *, gpointer data)
{
    forms_callback([&] {
        auto *m = static_cast<EditMenu *>(data);
        const std::string name = g_action_get_name(G_ACTION(action));
        GtkEditable *e = editable_of(m);
        if (name == "undo") undo(m);
        else if (name == "cut") emit(m, "cut-clipboard");
        else if (name == "copy") emit(m, "copy-clipboard");
        else if (name == "paste") emit(m, "paste-clipboard");
        else if (name == "delete") gtk_editable_delete_selection(e);
        else if (name == "select-all") gtk_editable_select_region(e, 0, -1);
        else if (name == "upper") recase(m, Case::upper);
        else if (name == "lower") recase(m, Case::lower);
        else if (name == "title") recase(m, Case::title);
    });
}

// The items in order: label, action, and whether it is one of the case items.
struct Item {
    const char *label, *action;
    bool case_item;
};
constexpr Item items[] = {
    {"_Undo  Ctrl-z", "undo", false},         {"Cu_t  Ctrl-x", "cut", false},
    {"_Copy\tCtrl-c", "copy", false},         {"_Paste\tCtrl-v", "paste", false},
    {"_Delete\t   Del", "delete", false},     {"Select _All\tCtrl-a", "select-all", false},
    {"Uppe_r Case\tr", "upper", true},        {"_Lower Case\tl", "lower", true},
    {"Titl_e Case\t\te", "title", true},
};

// The action each letter key stands for.
const char *action_of_key(guint keyval)
{
    switch (gdk_keyval_to_lower(keyval)) {
    case GDK_KEY_a: return "select-all";
    case GDK_KEY_c: return "copy";
    case GDK_KEY_d: return "delete";
    case GDK_KEY_e: return "title";
    case GDK_KEY_l: return "lower";
    case GDK_KEY_p: return "paste";
    case GDK_KEY_r: return "upper";
    case GDK_KEY_t: return "cut";
    case GDK_KEY_u: return "undo";
    default: return nullptr;
    }
}

gboolean on_menu_key(GtkEventControllerKey *, guint keyval, guint, GdkModifierType state, gpointer data)
{
    forms_callback([&] {
        constexpr auto held = GdkModifierType(GDK_CONTROL_MASK | GDK_ALT_MASK | GDK_SUPER_MASK | GDK_HYPER_MASK |
                                              GDK_META_MASK);
        const char *action = action_of_key(keyval);
        if (!action || (state & held)) return;
        auto *m = static_cast<EditMenu *>(data);
        g_action_group_activate_action(G_ACTION_GROUP(m->actions), action, nullptr);
    });
    return FALSE;  // not consumed
}

void free_menu(gpointer data)
{
    auto *m = static_cast<EditMenu *>(data);
    g_object_unref(m->actions);
    delete m;
}

gboolean unparent_later(gpointer popover)
{
    if (gtk_widget_get_parent(GTK_WIDGET(popover))) gtk_widget_unparent(GTK_WIDGET(popover));
    g_object_unref(popover);
    return G_SOURCE_REMOVE;
}

// A closed menu leaves its field once the action it ran is done.
void on_closed(GtkPopover *popover, gpointer) { g_idle_add(unparent_later, g_object_ref(popover)); }

// A field that goes while its menu is open takes the menu with it.
void on_editable_destroy(GtkWidget *editable, gpointer popover)
{
    if (gtk_widget_get_parent(GTK_WIDGET(popover)) == editable) gtk_widget_unparent(GTK_WIDGET(popover));
}

// Whether the case items are offered: a field of type a, c or s, or a focused note field.
bool offers_case(ControlMatrix_t *cm, int index)
{
    const int focus = cm->current_focus;
    if (focus >= 1 && focus <= cm->field_count && cm_field(cm, focus).type == WIDGET_NOTE) return true;
    const auto *r = static_cast<const input_data *>(ginput_get_mintype(cm, index));
    std::string_view type(r->input_type, strnlen(r->input_type, sizeof r->input_type));
    type = type.substr(0, type.find_last_not_of(' ') + 1);
    return type == "a" || type == "c" || type == "s";
}

} // namespace

gboolean ginput_right_mouse_menu(ControlMatrix_t *cm, int index, GtkWidget *entry, int button)
{
    FORMS_TRACE;
    if (button != 3) return FALSE;
    GtkWidget *editable = cget_widget_for_widget(entry);
    if (!editable || !GTK_IS_EDITABLE(editable)) Abort("Widget %p of field %d has no text to edit", entry, index);
    GtkEditable *e = GTK_EDITABLE(editable);

    auto *m = new EditMenu{cm, index, editable, g_simple_action_group_new()};
    const bool selected = !nothing_selected(e);
    const bool case_items = offers_case(cm, index);
    const bool case_enabled = selected || gtk_editable_get_position(e) > 0;
    GMenu *menu = g_menu_new();
    for (const Item &item : items) {
        if (item.case_item && !case_items) continue;
        GSimpleAction *action = g_simple_action_new(item.action, nullptr);
        const std::string name = item.action;
        const bool enabled = item.case_item ? case_enabled
                                            : !(name == "cut" || name == "copy" || name == "delete") || selected;
        g_simple_action_set_enabled(action, enabled);
        g_signal_connect(action, "activate", G_CALLBACK(run), m);
        g_action_map_add_action(G_ACTION_MAP(m->actions), G_ACTION(action));
        g_object_unref(action);
        g_menu_append(menu, item.label, ("ginput." + name).c_str());
    }

    GtkWidget *popover = gtk_popover_menu_new_from_model(G_MENU_MODEL(menu));
    g_object_unref(menu);
    g_object_set_data_full(G_OBJECT(popover), "oska-edit-menu", m, free_menu);
    gtk_widget_insert_action_group(popover, "ginput", G_ACTION_GROUP(m->actions));
    GtkEventController *keys = gtk_event_controller_key_new();
    gtk_event_controller_set_name(keys, "ginput-right-mouse-menu");
    g_signal_connect(keys, "key-pressed", G_CALLBACK(on_menu_key), m);
    gtk_widget_add_controller(popover, keys);
    gtk_widget_set_parent(popover, editable);
    g_signal_connect(popover, "closed", G_CALLBACK(on_closed), nullptr);
    g_signal_connect_object(editable, "destroy", G_CALLBACK(on_editable_destroy), popover, G_CONNECT_DEFAULT);
    gtk_popover_popup(GTK_POPOVER(popover));
    return TRUE;
}
