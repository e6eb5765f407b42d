// The zoom pick-list: a window of rows, each showing one or more columns, perhaps coloured by a
// style tag, and carrying a hidden answer that goes back to the field of the window that opened
// it. Here: its private record, the row objects of its list, the row colours from the style tags
// file, and the rules that choose a row from an answer or from typed characters.
#pragma once

#include <glib-object.h>
#include <gtk/gtk.h>
#include <string>
#include <vector>

struct IList_t;

typedef struct _GzoomRow GzoomRow;
typedef struct _GzoomRows GzoomRows;

// ---- The window's record (the zoom CM's window_data) ------------------------------------------------
inline constexpr int GZOOM_TYPEAHEAD = 15;  // characters of type-ahead text kept

struct zoom_data {
    GtkWidget *search_box;     // "Search:" and the entry; hidden until F5
    GtkWidget *search_entry;
    GtkWidget *main_box;       // the window's child
    GtkWidget *scrolled_window;
    GtkWidget *column_view;    // named "gZoomFixedFont"
    IList_t *column_titles;    // owned clone of the program's list
    int column_count;
    int markup;                // column texts are Pango markup
    char *initial_answer;      // owned, without trailing white space
    char typeahead[GZOOM_TYPEAHEAD + 1];  // upper-case
    int matching;              // 0 first not below, 1 longest common prefix
    GzoomRows *rows;           // the list's model, borrowed (type-ahead reads its answers directly)
};

// ---- Rows ------------------------------------------------------------------------------------------------
G_BEGIN_DECLS
#define GZOOM_TYPE_ROW (gzoom_row_get_type())
G_DECLARE_FINAL_TYPE(GzoomRow, gzoom_row, GZOOM, ROW, GObject)
G_END_DECLS

struct _GzoomRow {
    GObject parent_instance;
    int r, g, b;            // background colour, 0 .. 255 each
    char *answer;           // owned; empty when made
    unsigned column_count;
    char **columns;         // owned array of column_count texts, each nullptr until set
    int markup;
};

// A row with colour 0, 0, 0, an empty answer and column_count empty columns.
GzoomRow *gzoom_row_new(unsigned column_count, int markup);
void gzoom_row_set_bg_color(GzoomRow *row, int r, int g, int b);
// Replaces column index with a copy of text; an index at or beyond the column count is ignored.
void gzoom_row_set_column(GzoomRow *row, unsigned index, const char *text);
void gzoom_row_set_answer(GzoomRow *row, const char *answer);

// ---- The list model ------------------------------------------------------------------------------------
// The rows of a zoom as a GListModel of GzoomRow, built once from the program's string lists of
// display texts (columns a row) and answers, and the row colours (nullptr: every row white). The
// texts are copied into one block; a row object is made when the list or a caller asks for its
// item, and the same object is given while anyone holds it. A display list that is not a
// multiple of the columns ends in a partly filled row with an empty answer.
G_BEGIN_DECLS
#define GZOOM_TYPE_ROWS (gzoom_rows_get_type())
G_DECLARE_FINAL_TYPE(GzoomRows, gzoom_rows, GZOOM, ROWS, GObject)
G_END_DECLS

struct GzoomColour;
GzoomRows *gzoom_rows_new(IList_t *display, IList_t *answers, const std::vector<GzoomColour> *colours, unsigned columns,
                          int markup);
// Every row's answer in order (valid while the model lives).
const std::vector<const char *> &gzoom_rows_answers(GzoomRows *rows);

// The CSS class of a cell of that background: "bg_" and r, g, b in lower-case hexadecimal without
// leading zeros (white "bg_ffffff", 10, 11, 12 "bg_abc").
std::string gzoom_bg_class(int r, int g, int b);

// ---- Colours ---------------------------------------------------------------------------------------------
struct GzoomColour {
    int r = 255, g = 255, b = 255;  // white unless a tag says otherwise
};

// One colour per row (rows of them): white without a format list; else row i takes the colour of
// the tag named by the list's i-th text (white for an empty name, one beginning with a blank, one
// no tag has, and rows beyond the list). The tags file is read once per distinct name in the call;
// a tag whose value is unusable ends the run.
std::vector<GzoomColour> gzoom_get_row_colours(IList_t *format, int rows);

// The screen-bg-colour value of the tag of that full name ("mtag_..."), a new g_malloc text, or
// nullptr when no tag has the name. Reads the tags file up to the tag; a tag that is not written
// as the zoom expects ends the run.
char *gzoom_get_tag_bg_colour(const char *name);

// ---- Choosing rows ---------------------------------------------------------------------------------------
// The first selected row for an initial answer (already without trailing blanks) by the matching
// option (0 first not below, 1 longest common prefix); rows with an empty answer are never
// chosen; -1 when no row has an answer.
int gzoom_initial_row(const std::vector<const char *> &answers, const char *initial, int matching);

// The row typed characters lead to (row 0 when none qualifies or there are no rows): by the
// matching option, over the answers without regard to case.
int gzoom_typeahead_row(const std::vector<const char *> &answers, const char *text, int matching);

// Adds an upper-cased typed character to the type-ahead text: at its end while it holds fewer than
// 15, else in place of the 15th.
void gzoom_typeahead_add(char *text, int character);

// ---- The window ------------------------------------------------------------------------------------------
struct ControlMatrix_t;
struct Stack;

// IGZOOM_SETUP (cm, title, tall, width, placement, display list, columns, return list, column
// titles, initial answer, format list or 0, markup [, matching [, key set]]): the window's handle.
void gzoom_setup(int nargs, int last, Stack *result);
// IGZOOM_RESET (cm, title, display list, return list, format list or 0 [, key set]).
void gzoom_reset(int nargs, int last);

// The column view over a new store of the rows (display texts row after row, one answer per row,
// colours from the format list), with the row of the initial answer selected; mismatched list
// lengths end the run.
GtkWidget *gzoom_fillPopUp(IList_t *answers, IList_t *display, IList_t *titles, IList_t *format, int columns,
                           const char *initial, int markup, int matching);

// The selected row's answer as a new g_malloc text; an empty text when no row is selected.
char *gzoom_get_ip(ControlMatrix_t *cm);
// The zoom record of a zoom CM (the run ends for any other).
zoom_data *gzoom_data(ControlMatrix_t *cm);
// The list's selection model and the position selected in it (GTK_INVALID_LIST_POSITION: none).
GtkSingleSelection *gzoom_selection(const zoom_data *zd);

// Registers the zoom with the forms engine (its window kind row).
void gzoom_register_kind();

// ---- Keys, type-ahead, search and choosing -------------------------------------------------------------
gboolean gzoom_callback_handle_select_key_press(GtkEventControllerKey *controller, guint keyval, guint keycode,
                                                GdkModifierType state, gpointer cm);
void gzoom_alphanumeric_search(ControlMatrix_t *cm, guint keyval, GdkModifierType state);
// One-shot idle callback (user data: the column view): the selected row scrolled into view and
// given the keyboard focus.
gboolean scroll_to_selected(gpointer column_view);
// Schedules scroll_to_selected once at idle, holding the column view meanwhile.
void gzoom_schedule_scroll(GtkWidget *column_view);
gboolean gzoom_on_key_press_search(GtkEventControllerKey *controller, guint keyval, guint keycode,
                                   GdkModifierType state, gpointer cm);
// F5 on the zoom: shows the search box when a Zoom_Search routine is attached, else nothing.
void gzoom_search_field(ControlMatrix_t *cm);
// "activate" of the column view (user data: global_data): the row at position is chosen.
void gzoom_onSelection(GtkColumnView *view, guint position, gpointer gd);
