// What each field kind and each window kind hands the forms engine. The engine knows field
// records, built-in windows and the lists other subsystems hang on a CM only through these rows:
// the code of each kind (widgets, notes, documents) registers its row at start-up, as a
// subsystem registers its intrinsics. Registering returns the row it replaces, so a test can put
// it back. A member left empty stops the run with "<Kind> fields not available" (or the text
// named below) when the engine needs it, except where a default is stated.
//
// How to add a field kind: in the kind's own file, fill one FieldKindDescriptor (widgets/gwidget.h)
// with designated initialisers: its record kind CM_FIELD_TYPE_*, its Widget Type WIDGET_*, and in
// each of its rows (RecordKindHooks and WidgetTypeHooks below, the widgets' FieldKindHooks) only
// the hooks the kind has; every other member stays empty. Register it with one register_field_kind
// call at start-up, from the registration.cpp of the kind's subsystem (widgets or any above it):
// nothing here changes.
#pragma once

#include <gtk/gtk.h>

#include "forms.h"

// ---- Field records, by kind (CM_FIELD_TYPE_GINPUT .. CM_FIELD_TYPE_GTEXT) -------------------------
struct RecordKindHooks {
    // Releases what the record owns (texts, lists, widgets it made); the engine then frees the
    // block itself. Default: nothing is owned.
    void (*free)(void *record) = nullptr;
    // 1 when the widget is one of the record's own widgets (matching a widget to its field).
    // Default: none is.
    int (*owns)(const void *record, const GtkWidget *widget) = nullptr;
    // The widget that takes the focus and stands for the field in its container.
    GtkWidget *(*principal)(const void *record) = nullptr;
    // The record's own copy of its field index, kept equal to its attachment's index when rows
    // are inserted or removed; nullptr (or no member) for kinds that keep none.
    int *(*own_index)(void *record) = nullptr;
    // Makes the record's widgets sensitive (1) or not (0) for a field whose Enabled flag and Tab
    // Sequence Type give `sensitive`; `enabled` is the Enabled flag itself.
    void (*set_sensitive)(ControlMatrix_t *cm, int index, void *record, int sensitive, int enabled) = nullptr;
    // A label record's GtkLabel (the description column may hold a label record), else nullptr.
    GtkWidget *(*label)(const void *record) = nullptr;
    // The form's first ICSET_FOCUS (or ICCLEAR) checks the form: a combo record gets its initial
    // selection here. Called for records of the kinds that need it (combo).
    void (*init_focus)(ControlMatrix_t *cm, int index, void *record) = nullptr;
};
RecordKindHooks register_record_kind(int kind, const RecordKindHooks &hooks);
// The row of a kind; a kind outside 1..12 ends the run ("Unexpected widget type %d").
const RecordKindHooks &record_kind(int kind);

// ---- Field behaviour, by Widget Type (1 input .. 12 text) -------------------------------------------
// What routine runs and focus moves need of a field: each is called with the field's CM, index and
// entry element (a widget or the kind's record), only in a run with windows. The engine asks for
// value, focus_widget and clear of every type but table and button (which it serves itself),
// validate of input, date, note and text, pre_display of input, combo, image, label, date, note
// and text, post_display of input, combo, date, note and text, display_init of input and date.
struct WidgetTypeHooks {
    // The field's value for IP and IP$: returns a new g_malloc text or nullptr; may set *ip_int, and
    // *ip_decimal (a new g_malloc text replacing the old one), and *ip_given to 1.
    char *(*value)(ControlMatrix_t *cm, int index, void *entry, int *ip_int, char **ip_decimal,
                   int *ip_given) = nullptr;
    // Enter validation of the typed text: 1 to accept, 0 when refused (the field has said why, and
    // an input field has its whole text selected, a date field its cursor at the first position).
    int (*validate)(ControlMatrix_t *cm, int index, void *entry) = nullptr;
    // Editing begins (pre-display) and ends (post-display) on the field.
    void (*pre_display)(ControlMatrix_t *cm, int index, void *entry) = nullptr;
    void (*post_display)(ControlMatrix_t *cm, int index, void *entry) = nullptr;
    // Puts the field into its shown form without touching its handlers.
    void (*display_init)(ControlMatrix_t *cm, int index, void *entry) = nullptr;
    // The widget that takes the keyboard focus for the field, ready for it (a note in its one-line
    // state selects its whole text); the engine gives it the focus, and for input and date fields
    // selects the whole text.
    GtkWidget *(*focus_widget)(ControlMatrix_t *cm, int index, void *entry) = nullptr;
    // Empties what the field shows.
    void (*clear)(ControlMatrix_t *cm, int index, void *entry) = nullptr;
    // The kind's own handling of a key the dispatcher leaves to it (date, toggle, radio): TRUE when
    // the key was taken.
    gboolean (*key_press)(ControlMatrix_t *cm, int index, guint keyval, GlobalData_t *gd) = nullptr;
    // The focus arrives on the field by a key (keyval, with the Shift flag) or a click (keyval 0,
    // clicked the widget the user clicked: a toggle or radio field chooses that item; nullptr for
    // keys) that also flips it (check box, toggle, radio).
    void (*toggle)(ControlMatrix_t *cm, int index, guint keyval, int shift, GtkWidget *clicked) = nullptr;
    // Opens the field for editing: a combo its list, a note its editor (page_key 0, Page_Up or
    // Page_Down switching the expanded display).
    void (*edit)(ControlMatrix_t *cm, int index, guint page_key) = nullptr;
    // Opens the field's context menu (an input's edit menu) for mouse button `button`: its answer.
    int (*context_menu)(ControlMatrix_t *cm, int index, void *entry, int button) = nullptr;
    // An open list of this kind (a combo's) takes F12 (save 1) or Escape (save 0): 1 when one did.
    // Default: no list is open.
    int (*list_key)(ControlMatrix_t *cm, int save) = nullptr;
    // A note record's key-refused flag (its `modified`), set when Edit_Content refused a key.
    int *(*key_refused)(void *entry) = nullptr;
    // A click on one of the field's choices while the field has the focus (toggle, radio): the
    // clicked widget's choice becomes the active one.
    void (*click_choice)(ControlMatrix_t *cm, int index, GtkWidget *clicked) = nullptr;
    // A click that leaves the field commits the choice pending in its open list (a combo's).
    // Default: nothing is pending.
    void (*commit_pending)(ControlMatrix_t *cm, int index) = nullptr;
};
WidgetTypeHooks register_widget_type(int type, const WidgetTypeHooks &hooks);
// The row of a Widget Type; a type outside 1..12 ends the run ("Unexpected widget type %d").
const WidgetTypeHooks &widget_type(int type);

// ---- Built-in windows, by CM type (CM_WT_MENU .. CM_WT_NOTE) ------------------------------------------
struct WindowKindHooks {
    // Releases the CM's window_data. Default: a CM of that type never has any.
    void (*free_data)(ControlMatrix_t *cm);
    // The end of an event gives the (first) CM of this type its keyboard focus back. Default: nothing.
    void (*grab_focus)(ControlMatrix_t *cm);
    // A newer CM over this windowless one closes: give the borrowed window back to this CM
    // instead of destroying it.
    void (*restore)(ControlMatrix_t *cm);
    // IP$ of a routine run on the window itself (index 0): a new g_malloc text.
    char *(*value)(ControlMatrix_t *cm);
    // A form window opens while this CM (the menu's) is the newest: lends the CM's window to the
    // form, leaving this CM windowless, and returns the window. Without it the menu window cannot
    // be lent ("Menu screen not available").
    GtkWidget *(*lend_window)(ControlMatrix_t *cm);
    // F5 on the window (the key or its soft key): the zoom pick-list shows its search box.
    // Default: F5 does nothing special on a window of this kind.
    void (*search)(ControlMatrix_t *cm);
    // F12 saves the edit (the note edit window), Escape and F8 cancel it (keyval names the key).
    void (*save)(ControlMatrix_t *cm);
    void (*cancel)(ControlMatrix_t *cm, guint keyval);
};
WindowKindHooks register_window_kind(int type, const WindowKindHooks &hooks);
const WindowKindHooks &window_kind(int type);

// ---- Lists other subsystems hang on a CM ---------------------------------------------------------------
struct CmResourceHooks {
    // Deletes the soft-key bar of a window whose CM is freed. Default: no window has one.
    void (*delete_softkeys)(GtkWidget *window);
    // Re-applies and frees the CM's table colours. Defaults: a CM has none ("Table colours not
    // available" if one had).
    void (*paint_colour_tables)(ControlMatrix_t *cm);
    void (*free_colour_tables)(ControlMatrix_t *cm);
    // Releases every print handle of the CM. Default: a CM has none ("Print handles not available"
    // if one had).
    void (*free_print_handles)(ControlMatrix_t *cm);
    // The colour settings of a grid, in any CM of the chain (first CM first), or nullptr. Default:
    // no grid has any. The three below are called only with a record this one returned.
    BgClrTable_t *(*find_colour_table)(GtkWidget *grid);
    // Marks the grid's settings for painting at the end of the event.
    void (*mark_colour_table)(BgClrTable_t *table);
    // Keeps the row settings in step with the grid: a row inserted at `row` (the settings of that
    // row and below move down one), or rows first..last deleted (their settings go, those below
    // move up by the count).
    void (*colour_row_inserted)(BgClrTable_t *table, int row);
    void (*colour_rows_deleted)(BgClrTable_t *table, int first, int last);
};
// Installs every member (all must be set) and returns what it replaces.
CmResourceHooks register_cm_resources(const CmResourceHooks &hooks);
const CmResourceHooks &cm_resources();

// ---- Names -----------------------------------------------------------------------------------------------
// "Input", "Note", "Combo", ... of a record kind (cinvoke_get_widget_type without the copy);
// "Unexpected widget type" for any other number.
const char *record_kind_name(int kind);
// The word of a Widget Type in messages ("Input", "Table", ..., "Toggle", "Radio", "Text").
const char *widget_type_word(int type);
[[noreturn]] void kind_not_available(int record_kind_code);
[[noreturn]] void type_not_available(int widget_type_code);

// A new g_malloc text naming a record kind (1 "Input" .. 12 "Text", else "Unexpected widget type").
char *cinvoke_get_widget_type(int kind);
