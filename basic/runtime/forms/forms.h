// The forms engine's shared records and code sets: the control matrix (CM) of one form window,
// its field rows, the records attached to it and the numbers that name their kinds, modes and
// events. The widgets, notes and documents build on these records; what each may touch, and how,
// is stated beside each field. Operations live in cmatrix.h (matrices and their chain),
// cfield.h (field rows), cattach.h (attached records), kinds.h (what each field kind and window
// kind registers) and handles.h (numbers handed to programs); the run of routines and the focus in
// cinvoke.h and cfocus.h; the events in ckeys.h, center.h, cclick.h, cnext.h and cevents.h (the
// floors are in README.md).
#pragma once

#include <cstdint>
#include <gtk/gtk.h>

#include "gdata.h"
#include "mem_mgt.h"
#include "message.h"

struct Application_t;
struct Interp_t;
struct Routine;
struct Stack;

// Records other subsystems hang on a CM; the forms engine only keeps and releases them through
// the hooks of kinds.h.
struct BgClrTable_t;   // table colours of one grid
struct PrintHandle_t;  // a print handle opened for the window (documents)
struct ExternalJob_t;  // the external program running for the window

// ---- CM types (`type`) --------------------------------------------------------------------------
inline constexpr int CM_WT_WINDOW = 1;  // every new CM
inline constexpr int CM_WT_MENU = 2;    // the menu screen: always the first CM of the chain
inline constexpr int CM_WT_DRILL = 3;   // the report viewer
inline constexpr int CM_WT_ZOOM = 4;    // the zoom pick-list
inline constexpr int CM_WT_NOTE = 5;    // the note edit window

// ---- Program Mode values --------------------------------------------------------------------------
inline constexpr int CM_MODE_NULL = 0;
inline constexpr int CM_MODE_ADD = 1;
inline constexpr int CM_MODE_CHANGE = 2;
inline constexpr int CM_MODE_EXIT = 3;

// ---- Element numbers: 1..9 a field row's columns, 10..14 the CM's state --------------------------
inline constexpr int CM_NAME = 1;
inline constexpr int CM_PROMPT = 2;
inline constexpr int CM_LABEL_PTR = 3;
inline constexpr int CM_ENTRY_PTR = 4;
inline constexpr int CM_DES_PTR = 5;
inline constexpr int CM_TAB_SEQ = 6;
inline constexpr int CM_ENABLED = 7;
inline constexpr int CM_TYPE = 8;
inline constexpr int CM_VALID = 9;
inline constexpr int CM_PROG_MODE = 10;
inline constexpr int CM_ANYCHANGE = 11;
inline constexpr int CM_MODIFIED = 12;
inline constexpr int CM_CUR_FOCUS = 13;
inline constexpr int CM_RET_FOCUS = 14;
inline constexpr int CM_MAX = 14;

// ---- Widget Types: the CM_TYPE column of a field row ----------------------------------------------
inline constexpr int WIDGET_INPUT = 1;
inline constexpr int WIDGET_TABLE = 2;
inline constexpr int WIDGET_BUTTON = 3;
inline constexpr int WIDGET_COMBO = 4;
inline constexpr int WIDGET_CHECKBOX = 5;
inline constexpr int WIDGET_IMAGE = 6;
inline constexpr int WIDGET_DATE = 7;
inline constexpr int WIDGET_NOTE = 8;
inline constexpr int WIDGET_LABEL = 9;
inline constexpr int WIDGET_TOGGLE = 10;
inline constexpr int WIDGET_RADIO = 11;
inline constexpr int WIDGET_TEXT = 12;
inline constexpr int WIDGET_MAX = 12;

// ---- Tab Sequence Types: the CM_TAB_SEQ column --------------------------------------------------
inline constexpr int TAB_KEY = 1;
inline constexpr int TAB_REQUIRED = 2;
inline constexpr int TAB_STANDARD = 3;
inline constexpr int TAB_SKIP = 4;
inline constexpr int TAB_SKIP_IN_ADD = 5;
inline constexpr int TAB_NO_FOCUS = 6;
inline constexpr int TAB_ANYCHANGE = 7;
inline constexpr int TAB_SKIP_NOT_ANYCHANGE = 8;
inline constexpr int TAB_MAX = 8;

// ---- Field-record kinds: the first int of every field (widget setup) record ----------------------
// A different numbering from the Widget Types; the two are never mixed.
inline constexpr int CM_FIELD_TYPE_GINPUT = 1;
inline constexpr int CM_FIELD_TYPE_GNOTE = 2;
inline constexpr int CM_FIELD_TYPE_GCOMBO = 3;
inline constexpr int CM_FIELD_TYPE_GCHECKBOX = 4;
inline constexpr int CM_FIELD_TYPE_GTABLE = 5;
inline constexpr int CM_FIELD_TYPE_GLABEL = 6;
inline constexpr int CM_FIELD_TYPE_GIMAGE = 7;
inline constexpr int CM_FIELD_TYPE_GTOGGLE_BUTTON = 8;
inline constexpr int CM_FIELD_TYPE_GRADIO_BUTTON = 9;
inline constexpr int CM_FIELD_TYPE_GDATE = 10;
inline constexpr int CM_FIELD_TYPE_GBUTTON = 11;
inline constexpr int CM_FIELD_TYPE_GTEXT = 12;
inline constexpr int CM_FIELD_TYPE_GMAX = CM_FIELD_TYPE_GTEXT;

// ---- Action codes ---------------------------------------------------------------------------------
inline constexpr int AC_POST_FOCUS = 1;
inline constexpr int AC_ESCAPE = 2;
inline constexpr int AC_ACTIVATE = 3;
inline constexpr int AC_EXIT = 4;
inline constexpr int AC_SET_CONTENT = 5;
inline constexpr int AC_EDIT_CONTENT = 6;
inline constexpr int AC_CHANGE_CONTENT = 7;
inline constexpr int AC_PRE_FOCUS = 20;
inline constexpr int AC_PRE_MOUSE = 21;
inline constexpr int AC_CLEAR = 22;
inline constexpr int AC_WIN_POST = 23;
inline constexpr int AC_DRILL_POST = 24;
inline constexpr int AC_ZOOM_POST = 25;
inline constexpr int AC_MENU_REFRESH = 26;
inline constexpr int AC_GET_NOTE = 27;
inline constexpr int AC_GET_NOTE_AMOUNT = 28;
inline constexpr int AC_ZOOM_SEARCH = 29;
inline constexpr int AC_GET_NOTE_BLOCK_TAG = 30;
inline constexpr int AC_REVERT = 31;
inline constexpr int AC_POST_FILE_CHOOSER = 32;
inline constexpr int AC_POST_IMAGE_CHOOSER = 33;
inline constexpr int AC_SCREEN_CAPTURE = 34;
inline constexpr int AC_F1 = 51;  // function key Fn is AC_F1 - 1 + n; F4 (54) has no code
inline constexpr int AC_F12 = 62;
// Internal codes, never accepted from programs: widget setup records of each field kind, the
// follow-on call of an external program, and the codes of built-in windows. Codes 151..162 are
// function-key codes plus 100.
inline constexpr int AC_INTERNAL = 100;  // codes above this are internal
inline constexpr int AC_INPUT_SETUP = 101;
inline constexpr int AC_DATE_SETUP = 102;
inline constexpr int AC_NOTE_SETUP = 103;
inline constexpr int AC_COMBO_SETUP = 104;
inline constexpr int AC_CHECKBOX_SETUP = 105;
inline constexpr int AC_LABEL_SETUP = 107;
inline constexpr int AC_IMAGE_SETUP = 108;
inline constexpr int AC_TOGGLE_SETUP = 109;
inline constexpr int AC_RADIO_SETUP = 110;
inline constexpr int AC_TEXT_SETUP = 112;
inline constexpr int AC_EXTERNAL_END = 121;
inline constexpr int AC_ZOOM_SEARCH_FIELD = 155;
inline constexpr int AC_NOTE_F9 = 159;
inline constexpr int AC_NOTE_WINDOW = 162;

inline constexpr int CM_MAX_AC = 16;      // routine runs that may nest on one CM
inline constexpr int CM_EVENT_NAME = 10;  // event name: 9 characters and the terminator
inline constexpr int CM_SOFT_KEYS = 13;   // soft-key slots: Escape, F1 .. F12

// ---- Records ----------------------------------------------------------------------------------------

// One field row, numbered from 1. The row owns its name; the widgets belong to the window.
struct CmField_t {
    char *name;          // CM_NAME; lookups take the first row of that name
    int prompt;          // CM_PROMPT: the number typed on the AnyChange field to reach it (0..10000)
    GtkWidget *label;    // CM_LABEL_PTR: the prompt widget, or nullptr
    void *entry;         // CM_ENTRY_PTR: a GtkWidget, or the field record of a compound field
    void *description;   // CM_DES_PTR: a widget, a label field record, or nullptr
    int tab_seq;         // CM_TAB_SEQ
    int enabled;         // CM_ENABLED
    int type;            // CM_TYPE: the Widget Type
    int valid;           // CM_VALID
};

// A routine attached to a (field index, action code) pair, or a field record parked under an
// internal code. Built by cutil_cp_stack and freed by the CM (cattach.h). Its arguments (the CM's
// handle first, then the index and the routine's further arguments, with the names of the
// variables they refer to) follow the record in the same block, packed; read them with
// cattach_params and copy them for a run with cutil_cp_scm. `ind` is renumbered when rows are
// inserted or removed; set it only through cattach_set_ind, which keeps the CM's lookup of
// records in step.
struct SubControlMatrix_t {
    Routine *routine;            // the routine to run; nullptr for field records
    Application_t *application;  // the application that attached the routine
    void *setup;                 // the field record (its first int is its CM_FIELD_TYPE_* kind), or nullptr
    SubControlMatrix_t *next, *prior;
    SubControlMatrix_t *same_next;  // kept by cattach.cpp: the next record at the same index
    int action_code;
    int ind;                     // field index; 0: the whole window, or a field record made before its row
    int nparams;                 // number of arguments
    std::uint64_t seq;           // kept by cattach.cpp: the order of attachment
};

// A soft-key button with the action code it stands for (cmatrix.h, function keys).
struct FunctionKey_t {
    GtkWidget *button;
    std::uint32_t action_code;
    FunctionKey_t *next, *prior;
};

// A scrolled window of the form, kept for scrolling a focused field into view; appended by the
// grid and scrolled-area code, freed with the CM.
struct ScrolledWindow_t {
    GtkWidget *scrolled_window;
    ScrolledWindow_t *next, *prior;
};

// One routine run in progress on a CM (innermost first on invoke_stack); the run owns its texts.
struct Invocation_t {
    int depth;             // 1 for the outermost run on this CM
    char *routine_name;
    int action_code;
    char *ip_text;         // last text given to IP$ in this run, or nullptr
    int ip_int;            // last integer given to IP
    int ip_int_set;
    char *ip_decimal;      // last decimal text given to IP, or nullptr
    Invocation_t *prior;   // the enclosing run
    Invocation_t *next;    // the run nested inside this one
};

// The one delayed routine call (ICCALL_FUN), owned by global_data's pending slot until it runs.
struct PendingCall_t {
    Routine *routine;
    Application_t *application;
    Stack *params;          // per-call copy of the arguments (cutil_cp_stk)
    int nparams;
    char **strings;         // the copy's owned texts
    int nstrings;
    Interp_t *interp;       // the interpreter current when it was asked for
};

struct ScmIndex;  // the CM's lookup of attached records by field index; private to cattach.cpp

// The control matrix of one form window, allocated zeroed by cset_new and owned by the chain until
// cmatrix_free. A program holds it as a number (the record's address), checked against the chain
// on every use (cutil_get_cm).
struct ControlMatrix_t {
    GtkWidget *window;      // the GtkWindow; nullptr until bound; CM_WINDOWLESS for the menu's CM
                            // while the form borrows its window (the window is then the next CM's)
    int type;               // CM_WT_*
    Interp_t *Minterp;      // interpreter of the application that made the CM
    int field_count;
    CmField_t *field;       // rows 1..field_count at field[0..field_count-1]; use cm_field
    int field_capacity;     // rows allocated: appending never copies the table
    unsigned enabled_changes;  // counts changes of the rows' Enabled flags and of the row count, so
                               // a routine run can tell whether they changed (set the flags through
                               // cset_cm_put_int)
    int program_mode;       // CM_PROG_MODE (10)
    int anychange;          // CM_ANYCHANGE (11)
    int modified;           // CM_MODIFIED (12)
    int current_focus;      // CM_CUR_FOCUS (13): the focused field, 0 none
    int edit_field;         // the field whose editing state (pre-display) is in effect, 0 none
    char *app_name;         // owned: program that built the form's content box
    int focus_request;      // a routine asked for a focus move during the event
    int return_focus;       // CM_RET_FOCUS (14): event_index when the newer CM was made
    int event_index;        // field index of the event being handled
    int focus_initialised;  // 1 once the first ICSET_FOCUS (or ICCLEAR) has run
    int closing;            // marked for deletion at the end of the event
    int close_requested;    // the window's close button was pressed while a routine ran here (or on
                            // a newer CM): the close road runs once none does (cinvoke.h)
    int drill_post_due, zoom_post_due, win_post_due;
    int menu_refresh_due;
    int edit_checked;       // Edit_Content's answer for the field being edited
    int softkey_event;      // 1 while a soft-key button replays its key
    int in_edit;            // 1 while the Edit_Content routine runs
    int set_content;        // 1 while ICSET_CONTENT fills a field
    int user_edit_watch;    // 1 at creation and after each routine run; 0 while one runs
    int geometry_tracked;   // 1 once the window's size notifications are connected
    char *post_text;        // owned: IP$ for the parent's post routine
    void *window_data;      // the window kind's record (menu, zoom, drill); for a note CM the
                            // note record it edits, borrowed; released through kinds.h
    int ac_stack[CM_MAX_AC];  // action codes of the routines running on this CM, 0 = free slot
    SubControlMatrix_t *scm_list;       // attached records in attachment order
    SubControlMatrix_t *scm_last;       // its last record
    SubControlMatrix_t *scm_free_list;  // records removed while a routine ran on this CM
    ScmIndex *scm_index;                // records by field index
    int scm_max_ind;                    // no record has a higher index (may be above the highest)
    FunctionKey_t *function_keys;
    PrintHandle_t *print_handles;       // chained through the handles' own link
    int sem_id, sem_key, pipe_read_fd, pipe_write_fd;  // -1 when closed (cmatrix.h)
    BgClrTable_t *bgclr_tables;
    ScrolledWindow_t *scrolled_windows;
    Invocation_t *invoke_stack;         // innermost run first
    GtkWidget *child_container;         // the first CM's window child; its children belong to the CM
    GtkWidget *extra_widget;            // a further widget that identifies the CM
    int busy;                           // 1 while the busy cursor counts as shown (1 at creation)
    int oae_app_x, oae_app_y, oae_app_width, oae_app_height;  // application area for placing windows
    GdkMonitor *monitor;
    int monitor_width, monitor_height;
    int window_x, window_y, window_width, window_height;  // last placement, recorded only
    char event_name[CM_EVENT_NAME];
    ControlMatrix_t *next;    // newer CM (child)
    ControlMatrix_t *prior;   // older CM (parent)
    ExternalJob_t *external_job;  // while set, freeing the CM waits (cmatrix.h)
    ControlMatrix_t *deferred_next;  // link of global_data's deferred_cms
};

// The window value of a windowless CM (all bits set).
inline GtkWidget *const CM_WINDOWLESS = reinterpret_cast<GtkWidget *>(~std::uintptr_t{0});

// Row index (1-based) of a CM. An index outside 1..field_count (a focus left on a removed row, say)
// ends the run rather than read past the table.
inline CmField_t &cm_field(ControlMatrix_t *cm, int index)
{
    if (index < 1 || index > cm->field_count)
        Abort("Control Matrix index %d out of range %d", index, cm->field_count);
    return cm->field[index - 1];
}

// Whether a routine runs on the CM now: records it uses are then kept (cattach.h).
inline bool cm_routine_running(const ControlMatrix_t *cm) { return cm->invoke_stack || cm->ac_stack[0] != 0; }

// Records the entry and exit of a forms or widget function in the trace ring that fatal reports
// print; the exit is recorded however the function is left.
struct FormsTrace {
    const char *function, *file;
    int line;
    FormsTrace(const char *f, const char *fl, int l) : function(f), file(fl), line(l) { trace_in(f, fl, l); }
    ~FormsTrace() { trace_out(function, file, line); }
    FormsTrace(const FormsTrace &) = delete;
    FormsTrace &operator=(const FormsTrace &) = delete;
};
#define FORMS_TRACE const FormsTrace forms_trace_(__func__, __FILE__, __LINE__)
