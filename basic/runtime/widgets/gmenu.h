// The menu screen: the application's opening window, from which users launch programs. A program
// builds it once (IGMENU_SETUP) from a menu definition list; the window shows a header, a grid of
// three columns by twenty rows holding a three-level menu tree, a footer with program buttons and
// the selection entry, and the soft-key bar of key set "FKA". Its control matrix is the first of
// the chain and has the menu type; its window_data is the menu_data record below.
//
// gmenu_data.cpp: the records and the definition list; gmenu_layout.cpp: the window's widgets and
// the redraw; gmenu_keys.cpp and gmenu_navigation.cpp: choosing an item and launching its program,
// lending the window to a form; gmenu_intrinsics.cpp: the intrinsics.
#pragma once

#include <gtk/gtk.h>
#include <string>

#include "forms.h"

struct IList_t;
struct Stack;

inline constexpr int GMENU_COLUMNS = 3;
inline constexpr int GMENU_ROWS = 20;       // grid rows 1..20; an item of row 0 is not drawn
inline constexpr int GMENU_BUTTONS = 7;
inline constexpr int GMENU_MAX_KEY = 20;    // each key of a path lies in 0..20
inline constexpr int GMENU_DESCRIPTION = 63;  // longest description of the list
// A description escaped for mark-up: each of its characters may become five ("&amp;", "&#47;").
inline constexpr int GMENU_ESCAPED_SIZE = 5 * GMENU_DESCRIPTION + 1;
inline constexpr int GMENU_ENTRY_MAX = 63;  // the selection entry holds at most this many characters

// Entry modes, decided at a key press while the entry is empty.
inline constexpr int GMENU_MODE_PATH = 0;
inline constexpr int GMENU_MODE_SHORT_CUT = 1;
inline constexpr int GMENU_MODE_THOUGHT = 2;

// One entry of the definition list; owned by the menu_data tree.
struct menu_item {
    int key_one;   // number of the top-level parent; 0 for a top-level item
    int key_two;   // number of the level-two parent; 0 when it hangs under a top-level item
    int number;    // its own number, shown and typed; 0: an unnumbered line
    int row;       // grid row 0..20
    char description[GMENU_ESCAPED_SIZE];  // escaped for mark-up
    char style[32];      // CSS widget name of its cell ("MenuCM3")
    char program[16];    // empty for sub-menus and labels
    char short_cut[16];
    char key[16];        // the key path as written in the list
    int selected;        // 1 while on the selected path
    menu_item *parent, *children, *prev, *next;
};

// A footer button.
struct menu_button {
    int type;         // 1 Project View, 2 Incoming group, 3 Tarvel group; 0 ends the list
    char *program;    // owned
    char *count;      // owned: the count shown on the button
    char *style;      // owned: its CSS widget name
    GtkWidget *button;
};

struct menu_cell {
    GtkWidget *box, *label;
    GtkWidget *arrow;  // the first column's only
};

// The menu of the menu CM (its window_data), allocated zeroed by IGMENU_SETUP and freed with the CM.
struct menu_data {
    GtkWidget *short_cut;        // the selection entry (a GtkText)
    GtkWidget *short_cut_label;  // the chosen item's short cut, or three spaces
    int show_short_cuts;
    int entry_mode;
    menu_cell cells[GMENU_COLUMNS][GMENU_ROWS];
    menu_item *root;
    char selected_program[10];
    char selected_description[GMENU_ESCAPED_SIZE];
    char selected_short_cut[10];
    char selected_key[16];
    menu_button buttons[GMENU_BUTTONS];
    int buttons_end;  // 0: ends every walk over the buttons
    char *title, *site, *code, *logo;  // owned
    GtkWidget *thought_widget;  // the thought-of-the-day label, or the scrolled window around it
    GtkWidget *thought_box;
    GtkWidget *header, *footer, *grid;
    int thought_hour;  // gmenu_get_time() when the thought was fetched
};

// The background number of the last IGMENU_SETUP or IGMENU_RESET, appended to every item's style.
extern int menu_bg_no;

// ---- Records and the definition list (gmenu_data.cpp) --------------------------------------------------

// Loads the definition list (a string list, seven elements per item) into the tree of v, which must
// be empty; a rule the list breaks ends the run.
void gmenu_fill_data_store(IList_t *list, menu_data *v);
// Frees the tree, the button texts and the code, title, site and logo texts; the root becomes empty.
void gmenu_delete_data_store(menu_data *v);
// The three keys of a key path for a menu type; a bad path ends the run.
void gmenu_get_keys(int *key_one, int *key_two, int *key_three, int type, const char *path);
// Fills a button with copies of the texts; a count that is not empty and reads as 0 takes the
// style "ButtonNormal".
void gmenu_get_button_param(menu_button *b, const char *program, const char *count, const char *style, int type);
// The text without trailing white space.
std::string gmenu_trim(std::string_view text);
// The program texts and counts of the seven buttons, in the order of IGMENU_SETUP's arguments.
struct MenuButtonTexts {
    std::string incoming, project_view, tarvel;
    std::string counts[6];
};
// Frees and fills the seven buttons (and the terminating 0).
void gmenu_set_buttons(menu_data *v, const MenuButtonTexts &texts);
// The selected top-level item: the first marked, else the last; nullptr for an empty tree.
menu_item *gmenu_selected_top(const menu_data *v);
// The menu CM (the chain's first CM, when it is a menu), or nullptr.
ControlMatrix_t *gmenu_cm();
menu_data *gmenu_data(ControlMatrix_t *cm);

// ---- Window, layout and redraw (gmenu_layout.cpp) ------------------------------------------------------

struct MenuSize {
    float scale;
    int width, height;
};
// The menu window's default size for an application area.
MenuSize gmenu_window_size(int area_width, int area_height);
// The same for global_data's area, logged ("Setup menu" or "Restore menu") above log level 0.
MenuSize gmenu_window_size_logged(const char *who);
GtkWidget *gmenu_setup_Header(menu_data *v, const char *logo, const char *code, const char *title, const char *site);
GtkWidget *gmenu_setup_Middle(GlobalData_t *gd);
GtkWidget *gmenu_setup_Footer(GlobalData_t *gd);
// Runs PPATH/bin/crumb with the number and shows its output in the thought box.
void gmenu_get_tod(menu_data *v, int crumb);
int gmenu_get_time();
// The logo file for a site word and logo name (both cut at their first white space).
std::string gmenu_get_logo(const char *site, const char *logo);
// The width and height a logo of w x h is shown at.
void gmenu_logo_size(int *w, int *h);
// The mark-up of an item's cell.
std::string gmenu_cell_markup(const menu_item *item);
void gmenu_display_menu(ControlMatrix_t *cm);

// ---- Navigation and launch (gmenu_keys.cpp, gmenu_navigation.cpp) ---------------------------------------

gboolean gmenu_key_press_event(GtkEventControllerKey *controller, guint keyval, guint keycode, GdkModifierType state,
                               gpointer gd);
void gmenu_Search(GtkText *entry, gpointer gd);
void gmenu_button_press_event(GtkGestureClick *gesture, int n_press, double x, double y, gpointer gd);
void gmenu_button_key_event(GtkGestureClick *gesture, int n_press, double x, double y, gpointer gd);
int gmenu_display_short_cut(const char *text, GlobalData_t *gd);
void gmenu_finish(const char *key, menu_data *v, GtkWidget *widget, GlobalData_t *gd);
int gmenu_clear_selected(GlobalData_t *gd);
void gmenu_grab_focus(ControlMatrix_t *cm);
GtkWidget *gmenu_remove_menu(ControlMatrix_t *cm);
void gmenu_restore_menu(ControlMatrix_t *cm);
gboolean on_gmenu_delete(GtkWindow *window, gpointer gd);
void on_gmenu_destroy(GtkWidget *window, gpointer name);
// The entry's text as captured at the last key press (at most 63 characters).
const char *gmenu_key_text();

// ---- Intrinsics (gmenu_intrinsics.cpp) --------------------------------------------------------------------
void igmenu_setup(int nargs, int last, Stack *result);  // IGMENU_SETUP
void igmenu_reset(int nargs, int last);                 // IGMENU_RESET
void igmenu_set_buttons(int nargs, int last);           // IGMENU_SET_BUTTONS
void igmenu_set_shortcut(int nargs, int last);          // IGMENU_SET_SHORTCUT
void igmenu_refresh(int nargs, int last);               // IGMENU_REFRESH
void igmenu_get(int nargs, int last);                   // IGMENU_GET
void igmenu_key(int nargs, int last, Stack *result);    // IGMENU_KEY$
// The menu's rows in the forms engine's table of window kinds.
void gmenu_register_window_kind();
