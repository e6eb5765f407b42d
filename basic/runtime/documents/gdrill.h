// The drill-down report viewer: IGDRILL_SETUP replays a print handle's buffer file into lines,
// renders each as Pango mark-up and shows them in a list view of a drill window (a control matrix
// of type CM_WT_DRILL). Lines that carry a value can be selected; the program's routines get the
// value in IP$.
#pragma once

#include <glib-object.h>
#include <gtk/gtk.h>
#include <string>
#include <string_view>
#include <vector>

#include "print_state.h"

struct ControlMatrix_t;
struct IList_t;
struct PrintHandle_t;

// The page layout of the last IGDRILL_SETUP: 1 for "a4l" and "a3l".
extern int gdrill_landscape;
// The screen scale of the last IGDRILL_SETUP (1.64, 1.25 or 1.0 by the application's width).
extern float gdrill_factor;

// ---- Rows ------------------------------------------------------------------------------------------
G_BEGIN_DECLS
#define GDRILL_TYPE_ROW (gdrill_row_get_type())
G_DECLARE_FINAL_TYPE(GdrillRow, gdrill_row, GDRILL, ROW, GObject)
G_END_DECLS

struct _GdrillRow {
    GObject parent_instance;
    char *value;   // owned; empty for headings, flush lines and lines without a value
    char *markup;  // owned drill line mark-up
};

GdrillRow *gdrill_row_new(const char *value, const char *markup);

// ---- The replay into three lists ------------------------------------------------------------------
// Values, texts and formats rescaled for the screen, one entry each per screen line.
struct GdrillLists {
    IList_t *values = nullptr;
    IList_t *texts = nullptr;
    IList_t *formats = nullptr;
};

// The drill steps of one buffer record each (the PostScript replay's, into the lists).
PrintState_t *psopen_ps_drill(const std::string &format, const std::string &margins, const std::string &form,
                              const std::string &colour, const std::string &gutter, float scale);
void psheader_ps_drill(PrintState_t *state, const std::string &text, const std::string &format, int new_page,
                       int level, int store_only, float keep_cm, float gap_cm, const GdrillLists &lists);
void psfooter_ps_drill(PrintState_t *state, const std::string &text, const std::string &format);
void pswrite_ps_drill(PrintState_t *state, const std::string &text, const std::string &format,
                      const std::string &value, float keep_cm, int clear, const GdrillLists &lists);

// Replays the handle's buffer into new lists (the caller destroys them).
GdrillLists gdrill_read_buffer(PrintHandle_t *handle, float scale);

// ---- Rows and the row to select -------------------------------------------------------------------
// Whether mark-up shows nothing: without blanks, '>' and everything from a '<' to the next '>'.
bool gdrill_markup_empty(std::string_view markup);
// The rows of the lists into a new store of GdrillRow; *selected becomes the row to select
// (GTK_INVALID_LIST_POSITION when there are no rows). Notes come from the Get_Note routine of cm,
// the matrix the print handle belongs to.
GListStore *gdrill_fillPopUp(ControlMatrix_t *cm, const GdrillLists &lists, const std::string &initial, int non_alphabetical,
                             int initial_focus, guint *selected);
// Which of values (empty: no candidate) to select for the initial string: an index, or -1 when
// no value is a candidate.
int gdrill_row_to_select(const std::vector<std::string> &values, const std::string &initial, int non_alphabetical,
                         int initial_focus);

// ---- Layout of one row ----------------------------------------------------------------------------
// One piece of a row: its mark-up, where it goes (pixels before alignment) and its alignment.
struct GdrillItem {
    std::string markup;
    double x = 0;
    int align = 0;
};
// The row's mark-up cut into its pieces, from the left.
std::vector<GdrillItem> gdrill_layout_get_item(std::string_view markup);
// The piece's mark-up as the label shows it (backgrounds removed, font sizes scaled, rules drawn).
std::string gdrill_label_set_markup(std::string_view item);
// x moved by the alignment over the label's own layout, never below 0.
double gdrill_aligned_x(GtkLabel *label, double x, int align);

// ---- The window ------------------------------------------------------------------------------------
GtkWidget *gdrill_create_listview(GListStore *store, guint selected);
// The capture-phase key handler of the drill window (user data: the list view).
gboolean callback_handle_drill_key_press(GtkEventControllerKey *controller, guint keyval, guint keycode,
                                         GdkModifierType state, gpointer list_view);

// "activate" of a row (double click or Enter): the drill's Post routine with the row's value, and
// the closing and the parent's Drill_Post when it answers true. A second activation while one is
// handled is dropped.
void gdrill_row_activated_event(GtkListView *view, guint position, gpointer data);
void gdrill_onSelection(GtkListView *view, guint position);

// IGDRILL_SETUP and the retired IGDRILL (statements).
void gdrill_setup(int nargs, int last);
void gdrill(int nargs, int last);
// IP$ of a drill window's function-key routines: the selected row's value (a g_malloc text).
char *gdrill_f3(ControlMatrix_t *cm);
// Removes trailing white space in place and returns text.
char *gdrill_trim(char *text);
// The window kind's row for the forms engine.
void gdrill_register_kind();
