// Error calls and reports. Abort, Xerror and Syserr never return: Abort reports and ends the
// process (the run-time) or throws (the test host of the library tests); a trappable error
// unwinds to the executor's error return by throwing BailOut. In the run-time every report goes
// through one replaceable sink (report_sink.h).
#pragma once

#include <cstdarg>
#include <string>
#include <glib.h>

[[noreturn]] void Abort(const char *format, ...) G_GNUC_PRINTF(1, 2);
[[noreturn]] void Xerror(int code, const char *format, ...) G_GNUC_PRINTF(2, 3);
[[noreturn]] void Syserr(const char *format, ...) G_GNUC_PRINTF(1, 2);
void Warn(const char *format, ...) G_GNUC_PRINTF(1, 2);
void Message(const char *format, ...) G_GNUC_PRINTF(1, 2);
void Email(const char *recipient, const char *format, ...) G_GNUC_PRINTF(2, 3);
void Debug(const char *format, ...) G_GNUC_PRINTF(1, 2);

// Thrown by Xerror (code 110) and Syserr once the report is made; caught by the executor run
// that owns the error return, or by main, which shows Error_vector and ends with status 1.
struct BailOut {};

// The only error code a program can trap.
inline constexpr int TRAPPABLE_ERROR = 110;

// Program assertions: a failed condition is a fatal report that ends by raising SIGTRAP.
[[noreturn]] void assertion_failed(const char *file, int line, const char *condition);
#define PROGRAM_ASSERT(cond) \
    do { if (!(cond)) assertion_failed(__FILE__, __LINE__, #cond); } while (0)

// Report buffers and state.
inline constexpr int ERROR_TITLE_SIZE = 1024;
inline constexpr int ERROR_TEXT_SIZE = 2048;
inline constexpr int ERROR_LOC_SIZE = 1024;
inline constexpr int ERROR_VECTOR_SIZE = 2197;
extern char Error_title[ERROR_TITLE_SIZE];
extern char Error_text[ERROR_TEXT_SIZE];
extern char Error_loc[ERROR_LOC_SIZE];
extern char *Error_vector[ERROR_VECTOR_SIZE + 1];  // the lines of the report being built, NULL-ended
extern int have_abort;
extern int ERR_REG;
extern int IOERR_REG;
extern int cur_routine;
extern int src_line_number;
extern int src_file_index;
extern int yylinestart;

// The recipients of mailed reports, by role.
extern const char *const SUPPORT_ADDRESS;
extern const char *const TRANSACTION_LOG_ADDRESS;
extern const char *const DB_TRANSACTION_ADDRESS;
extern const char *const RUNTIME_ADDRESS;

// True while Abort is making its report.
bool abort_in_progress();

// Shows lines to the user (standard error in background mode or before a program is loaded).
void M_mesg(const char *kind, char **lines);
// Asks whether to take a crash dump (GUI mode with a program loaded); 1 for yes.
int Dump_requested();
// Builds the trace and stack-trace lines after the first count lines and mails the report.
void GenEmailLog(const char *recipient, const char *kind, int count);
// Sends lines (NULL-ended; nothing when fewer than three) with the subject "E-<kind>:<third line>"
// through the site mail script: E_mesg to the transaction-log address for kinds beginning with
// f, r, F or R, else to recipient (support when none); E_mesg_to always to recipient.
void E_mesg(const char *recipient, const char *kind, char **lines);
void E_mesg_to(const char *recipient, const char *kind, char **lines);
// Shows a report: with a status, the full report (log in background mode, else a message box);
// status 0, each line logged at level 0.
void perform_log(char **lines, int status);
// The full report text around a message format and its arguments (a new g_malloc text).
char *perform_log_message(const char *format, std::va_list ap);
// Cleaned copy (g_malloc) of a text: CR LF -> LF, CR -> LF, other unprintables as 0x%X.
char *perform_log_conv_cr(const char *text);
// Escaped copy in a static buffer: tab -> blank, backslash before '"', '$', '[' and '\'.
const char *escape_chars(const char *text);
// Report title and error location.
void set_title(char *buffer, std::size_t size);
void GenErrloc();
// Login name for titles and mails (LOGNAME, USER, the password entry, else "Unknown").
const char *login_name();
// True when text holds a control character (below 0x20, or 0x7F).
bool has_control_characters(const char *text);
// text with each control character shown as 0x%X, as reports show unprintable bytes.
std::string shown_name(const char *text);
// Error_vector helpers.
void error_vector_clear();
int error_vector_add(const char *text);

// A message box (or standard error before a program is loaded) of kind "W" when flag is set.
void mmessage(int flag, const char *format, ...) G_GNUC_PRINTF(2, 3);
