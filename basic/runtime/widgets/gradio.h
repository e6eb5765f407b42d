// Radio and toggle fields: a group of check buttons of which one is on, and a row of toggle buttons
// of which one is pressed in. Their items are added, set, read and validated through the choice
// intrinsics (gcombo.h); the arrow keys move the choice, and a key move runs the field's
// Change_Content routine with IP$ the chosen text. A radio field runs it also on every "toggled"
// signal of its buttons (blocked while that routine runs, so that a routine setting its own field
// does not run again inside itself); a toggle field's buttons never let a click leave none pressed.
#pragma once

#include <gtk/gtk.h>

#include "forms.h"

struct Stack;

// One item of a radio or toggle field, owned by its record: text is an owned copy without
// trailing blanks, never empty.
struct ButtonItem {
    char *text;
    GtkWidget *button;  // GtkCheckButton (radio) or GtkToggleButton (toggle), labelled with the text
    ButtonItem *next, *prev;
};

// The radio field's record (kind CM_FIELD_TYPE_GRADIO_BUTTON, internal code 110). active is the
// active_index-th item and its button the only one on.
struct radio_data {
    int type;            // always CM_FIELD_TYPE_GRADIO_BUTTON
    ControlMatrix_t *cm;
    int active_index;    // 1 at creation, 0 after a clear of an empty field
    GtkWidget *box;      // the outer vertical box that containers place
    GtkWidget *row;      // the horizontal box of the buttons; nullptr when a width stacks them in box
    int fixed_width;     // 1 when made with a width
    int width;           // every button's width request when fixed_width
    ButtonItem *active;
    ButtonItem *values;
};

// The toggle field's record (kind CM_FIELD_TYPE_GTOGGLE_BUTTON, internal code 109).
struct toggle_data {
    int type;            // always CM_FIELD_TYPE_GTOGGLE_BUTTON
    ControlMatrix_t *cm;
    int active_index;
    GtkWidget *box;      // the outer vertical box that containers place
    GtkWidget *row;      // the horizontal box of the buttons
    ButtonItem *active;
    ButtonItem *values;
};

// ---- The choice intrinsics' part (text already without trailing blanks; n from the intrinsic) -------
// Adding an empty text ends the run ("Empty values not permitted").
void gradio_button_do_text_add(radio_data *radio, const char *text);
void gtoggle_button_do_text_add(toggle_data *toggle, const char *text);
// Set by text (non-empty) or item number n (0 and 1: the first). A radio field's new button
// goes on and takes the focus (its "toggled" signals run Change_Content); a toggle field's runs
// nothing.
void gradio_button_do_set(radio_data *radio, const char *text, int n);
void gtoggle_button_do_set(toggle_data *toggle, const char *text, int n);
// 1 when the text is an item's, or the field has at least n items (0 counts as 1); else 0.
int gradio_button_do_val_set(const radio_data *radio, const char *text, int n);
int gtoggle_button_do_val_set(const toggle_data *toggle, const char *text, int n);
// The n-th item's text (0 and 1: the first), a new g_malloc copy.
char *gradio_button_do_text_get(const radio_data *radio, int n);
char *gtoggle_button_do_text_get(const toggle_data *toggle, int n);

// ---- Hooks of the forms engine (the record of field index is found through its attachment) -----------
// A click on widget, one of the field's buttons, makes that item the choice (the toolkit switches
// the button on); any other widget changes nothing.
void gradio_button_mouse_toggle(ControlMatrix_t *cm, int index, GtkWidget *widget);
void gtoggle_button_mouse_toggle(ControlMatrix_t *cm, int index, GtkWidget *widget);
// The focus arrives on the field: when widget is one of its buttons that item becomes the choice,
// its button goes on and takes the focus; nullptr (a key) or another widget changes nothing.
void gradio_button_toggle(ControlMatrix_t *cm, int index, int unused, GtkWidget *widget);
void gtoggle_button_toggle(ControlMatrix_t *cm, int index, int unused, GtkWidget *widget);
// The first item becomes the choice (index 1); with no items active_index becomes 0.
void gradio_button_clear_display(radio_data *radio);
void gtoggle_button_clear_display(toggle_data *toggle);
// A new g_malloc copy of the chosen text, or nullptr with no items.
char *gradio_button_get_active_text(const radio_data *radio);
char *gtoggle_button_get_active_text(const toggle_data *toggle);
// The forms engine's key handler hands these fields' keys here: 1 when the key was used. A radio
// field moves with Left, Up (back) and Right, Down (on) and runs its change routine; a toggle
// field moves with Left and Right only and runs nothing (its own key controller takes the rest).
int gradio_button_on_key_press(ControlMatrix_t *cm, int index, guint keyval);
int gtoggle_button_on_key_press(ControlMatrix_t *cm, int index, guint keyval);

// ---- Handlers (tests call them directly) --------------------------------------------------------------------
// The toggle field's own key controller (user data the record): the arrow keys move the choice and
// run Change_Content; other keys go to the forms engine's dispatcher.
gboolean gtoggle_button_key_press_event(GtkEventControllerKey *controller, guint keyval, guint keycode,
                                        GdkModifierType state, gpointer record);
// A mouse button released on a toggle field's button: the chosen button is pressed in again.
void gtoggle_button_release_event(GtkGestureClick *gesture, int n_press, double x, double y, gpointer record);

// The rows of the radio and toggle kinds in the forms engine's and the widgets' tables.
void gradio_register_kinds();

// ---- Intrinsics -------------------------------------------------------------------------------------------
void igradio_new(int nargs, int last, Stack *result);   // IGRADIO_NEW
void igtoggle_new(int nargs, int last, Stack *result);  // IGTOGGLE_NEW
