// Keys typed in the menu's selection entry. The entry takes a key path (3, then 3.2), short-cut
// letters, or a thought-of-the-day request (the at sign and a number), chosen by the first key; the
// function keys F1, F2, F3, F8 and F12 run the menu's routines and Escape its Escape handling. A
// key handled here returns true and never reaches the entry.
#include <cstring>
#include <string>

#include "ccallback.h"
#include "cevents.h"
#include "cinvoke.h"
#include "cmatrix.h"
#include "gmenu.h"
#include "gsoftkeys.h"
#include "gwidget.h"
#include "message.h"

namespace {

constexpr std::size_t TYPED_LIMIT = 10;  // digits or letters a path or short cut holds

// The entry's text as captured at the last key press.
char key[GMENU_ENTRY_MAX + 1];

void capture(GtkWidget *entry)
{
    g_strlcpy(key, gtk_editable_get_text(GTK_EDITABLE(entry)), sizeof key);
}

void show(GtkWidget *entry, const char *text)
{
    gtk_editable_set_text(GTK_EDITABLE(entry), text);
    gtk_editable_set_position(GTK_EDITABLE(entry), -1);
}

bool printable(guint keyval) { return keyval >= '!' && keyval <= '~'; }
bool keypad_digit(guint keyval) { return keyval >= GDK_KEY_KP_0 && keyval <= GDK_KEY_KP_9; }
bool keypad_operator(guint keyval)
{
    return keyval == GDK_KEY_KP_Multiply || keyval == GDK_KEY_KP_Add || keyval == GDK_KEY_KP_Subtract ||
           keyval == GDK_KEY_KP_Divide;
}
bool dot(guint keyval) { return keyval == '.' || keyval == GDK_KEY_KP_Decimal; }

// Keys that move or leave a text: dropped in a path.
bool movement(guint keyval)
{
    switch (keyval) {
    case GDK_KEY_Tab: case GDK_KEY_ISO_Left_Tab: case GDK_KEY_Home: case GDK_KEY_Left: case GDK_KEY_Up:
    case GDK_KEY_Right: case GDK_KEY_Down: case GDK_KEY_End: case GDK_KEY_KP_Home: case GDK_KEY_KP_Left:
    case GDK_KEY_KP_Up: case GDK_KEY_KP_Right: case GDK_KEY_KP_Down: case GDK_KEY_KP_End:
        return true;
    default: return false;
    }
}

gboolean clear_action(GtkWidget *entry, GlobalData_t *gd)
{
    gmenu_clear_selected(gd);
    key[0] = '\0';
    show(entry, "");
    gmenu_display_short_cut("", gd);
    return TRUE;
}

gboolean dot_action(GtkWidget *entry, GlobalData_t *gd)
{
    const std::size_t n = std::strlen(key);
    if (n == 0 || key[n - 1] == '.') return clear_action(entry, gd);
    if (n > TYPED_LIMIT) key[TYPED_LIMIT] = '\0';
    show(entry, key);
    const std::string copy = key;
    if (gmenu_display_short_cut(copy.c_str(), gd) == 1) {
        show(entry, copy.c_str());
        return FALSE;  // the entry appends the dot
    }
    capture(entry);  // the redraw wrote the marked path
    return key[0] == '\0';
}

// A function key runs the menu's routine at index 0 (optional for F12 only) and ends the event.
gboolean function_key(GtkWidget *entry, guint keyval, GlobalData_t *gd)
{
    int code = 0;
    switch (keyval) {
    case GDK_KEY_F1: code = AC_F1; break;
    case GDK_KEY_F2: code = AC_F1 + 1; break;
    case GDK_KEY_F3: code = AC_F1 + 2; break;
    case GDK_KEY_F8: code = AC_F1 + 7; break;
    default: code = AC_F12; break;
    }
    ControlMatrix_t *cm = cget_cm_for_window(gd, gtk_widget_get_ancestor(entry, GTK_TYPE_WINDOW), 1);
    cinvoke_post_display(cm, 0);
    ControlMatrix_t *out = cm;
    int index = 0, closing = 0;
    char *text = nullptr;
    forms_event_calls().invoke(cm, &out, code, &index, nullptr, gd, "", "", 0, code != AC_F12, &text, &closing, 0);
    g_free(text);
    ccallbacks_finish_event(1, 0);
    return TRUE;
}

gboolean path_key(GtkWidget *entry, GtkEventController *controller, guint keyval, GlobalData_t *gd)
{
    const std::size_t n = std::strlen(key);
    switch (keyval) {
    case GDK_KEY_Escape:
        forms_event_calls().escape(entry, controller, gd, 1);
        ccallbacks_finish_event(1, 0);
        return TRUE;
    case GDK_KEY_F1: case GDK_KEY_F2: case GDK_KEY_F3: case GDK_KEY_F8: case GDK_KEY_F12:
        return function_key(entry, keyval, gd);
    default: break;
    }
    if ((keyval >= '0' && keyval <= '9') || keypad_digit(keyval)) return n >= TYPED_LIMIT;
    if (dot(keyval)) return dot_action(entry, gd);
    return movement(keyval) || keypad_operator(keyval) || printable(keyval);
}

gboolean short_cut_key(GtkWidget *entry, GtkEventController *controller, guint keyval, GlobalData_t *gd)
{
    const std::size_t n = std::strlen(key);
    if (dot(keyval)) return clear_action(entry, gd);
    if (keyval >= 'A' && keyval <= 'Z') {
        if (n < TYPED_LIMIT) {
            const char letter[2] = {static_cast<char>(keyval - 'A' + 'a'), '\0'};
            const std::string text = std::string(key) + letter;
            show(entry, text.c_str());
        }
        return TRUE;
    }
    if (keyval >= 'a' && keyval <= 'z') return n >= TYPED_LIMIT;
    if (printable(keyval) || keypad_operator(keyval) || keypad_digit(keyval)) return TRUE;
    return path_key(entry, controller, keyval, gd);
}

gboolean menu_key(GtkEventController *controller, guint keyval, GlobalData_t *gd)
{
    ControlMatrix_t *first = gd->first_cm;
    if (!first) Abort("Unexpectedly encountered NULL top level Control Matrix");
    if (first->window == CM_WINDOWLESS) return FALSE;  // a form is shown in the menu window
    menu_data *v = gmenu_data(first);
    GtkWidget *entry = gtk_event_controller_get_widget(controller);
    capture(entry);
    if (key[0] == '\0') {
        v->entry_mode = keyval == '@' ? GMENU_MODE_THOUGHT
                        : keyval >= 'a' && keyval <= 'z' ? GMENU_MODE_SHORT_CUT
                                                         : GMENU_MODE_PATH;
    }
    switch (v->entry_mode) {
    case GMENU_MODE_THOUGHT: return FALSE;  // the entry takes every key until Enter
    case GMENU_MODE_SHORT_CUT: return short_cut_key(entry, controller, keyval, gd);
    default: return path_key(entry, controller, keyval, gd);
    }
}

} // namespace

gboolean gmenu_key_press_event(GtkEventControllerKey *controller, guint keyval, guint, GdkModifierType, gpointer gd)
{
    const BlockedHandler blocked(controller, G_CALLBACK(gmenu_key_press_event), gd);
    gboolean handled = TRUE;
    forms_callback([&] {
        const RoutineName name("gmenu_key_press_event");
        handled = menu_key(GTK_EVENT_CONTROLLER(controller), keyval, static_cast<GlobalData_t *>(gd));
    });
    return handled;
}

const char *gmenu_key_text()
{
    return key;
}
