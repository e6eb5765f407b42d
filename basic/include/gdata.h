// The global record: the log settings (first part) and the forms engine's state (the rest), and
// the run-time log that those settings drive.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <glib.h>

struct ControlMatrix_t;
struct PendingCall_t;
struct ProgressMeter_t;
struct _GdkMonitor;

inline constexpr int LOG_FILE_SIZE = 64;
inline constexpr int LOG_MODE_STDERR = 1;
inline constexpr int LOG_MODE_FILE = 2;
inline constexpr int LOG_MODE_BOTH = 3;

struct GlobalData_t {
    // Log part.
    char log_file[LOG_FILE_SIZE];  // PPATH/temp/<user>.log
    int log_mode;                  // 1 standard error, 2 log file, 3 both
    int log_level_lumbas;          // run-time log level
    int log_level_basic;           // program log level
    double cpu_start;              // CPU seconds used at initialisation

    // Forms part: the chain of control matrices (oldest first; the last is the active window)
    // and the matrices whose freeing waits for their external program (see cmatrix.h).
    ControlMatrix_t *first_cm;
    ControlMatrix_t *last_cm;
    ControlMatrix_t *deferred_cms;
    int cm_counter;                // -1 at start
    int cm_limit;                  // 5000
    char menu_code[16];            // "init"
    // Re-entrancy of events: 1 while Enter, an external program or the end of an event runs.
    int enter_running;
    int external_running;
    int finishing_event;
    PendingCall_t *pending_call;   // the one delayed routine call, or nullptr
    ControlMatrix_t *presented_cm; // the matrix whose window was presented last
    int last_key;                  // key value of the event being handled
    int key_count;                 // key presses counted by the key handlers
    int four_digit_year;           // 1 while a date field with four-digit years is edited
    int date_key_word;             // set to 0 by every key of a date field
    // Busy flags of events, taken only by try-take (all events run on the one GTK thread): a
    // busy one drops the event.
    int escape_lock, f8_lock, activate_lock, menu_search_lock;

    // Application area set at launch from the geometry options.
    int oae_app_x, oae_app_y, oae_app_width, oae_app_height;
    _GdkMonitor *monitor;
    int monitor_width, monitor_height;
    int window_x_decoration, window_y_decoration;

    // The one progress window while it is open (the widgets' record), else nullptr.
    ProgressMeter_t *progress_meter;
};

extern GlobalData_t _global_data;
extern GlobalData_t *global_data;

GlobalData_t *global_data_init(GlobalData_t *gd);
void mlog_init(char *log_file);

// Run-time and program log lines: levels 0 to 3 by the log level, 9 always, negative fatal.
void _mlog(int enabled, int level, const char *format, ...) G_GNUC_PRINTF(3, 4);
void _mlog_basic(int enabled, int level, const char *format, ...) G_GNUC_PRINTF(3, 4);
#define mlog(level, ...) _mlog(1, (level), __VA_ARGS__)
#define mlog_basic(level, ...) _mlog_basic(1, (level), __VA_ARGS__)
void mlog_do_tprint(const char *text);
int mlog_sprintf(char *buffer, int size, const char *format, ...) G_GNUC_PRINTF(3, 4);
int mlog_vpsprintf(char *buffer, int size, const char *format, std::va_list ap);
[[noreturn]] void mlog_abort(const char *format, ...) G_GNUC_PRINTF(1, 2);
double mlog_get_cpu_usage();
long mlog_get_malloc_usage();
void mlog_write_fatal_error(const char *format, std::va_list ap);
// Appends an already built report text to both error logs.
void mlog_append_error_logs(const char *report);

// Memory and statistics hooks kept for their callers; they record nothing.
void mlog_mem_update(int kind, const void *old_block, const void *new_block);
void mlog_mem_delete(int kind, const void *block);
void mlog_mem_delete2(int kind, const void *block);
void mlog_mem_display();
void clog_push_stats(const char *name);
void clog_pop_stats(const char *name);

// The work of IMLOG, IMLOG_PUSH_STATS and IMLOG_POP_STATS once the dispatcher has taken the
// arguments off the value stack (the level already converted, the text by its length).
void mlog_imlog(int nargs, int level, const char *text, std::size_t length);
void mlog_imlog_stats(int nargs, const char *name, std::size_t length);
