// Error calls and the reports they make: fatal stops, trappable run-time errors, system-call and
// I/O failures, notices. Mailing lives in email.cpp.
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <exception>
#include <new>
#include <pwd.h>
#include <string>
#include <unistd.h>

#include "common_block.h"
#include "errors.h"
#include "gdata.h"
#include "globals.h"
#include "applications.h"
#include "executor.h"
#include "hooks.h"
#include "loader.h"
#include "message.h"
#include "report_sink.h"
#include "run_time.h"
#include "signals.h"

char Error_title[ERROR_TITLE_SIZE];
char Error_text[ERROR_TEXT_SIZE];
char Error_loc[ERROR_LOC_SIZE];
char *Error_vector[ERROR_VECTOR_SIZE + 1];
int have_abort;
int ERR_REG;
int IOERR_REG;
int cur_routine;
int src_line_number;
int src_file_index;
int yylinestart;

namespace {

constexpr const char *REPORT_BANNER = "** E R R O R ** This information will be emailed to Oska.";
constexpr int ESCAPE_SIZE = 4097;
constexpr int NOTICE_SIZE = 1024;
constexpr int M_MESG_SIZE = 4096;

// Set while Abort makes its report: a second fatal error then only reaches standard error.
volatile std::sig_atomic_t in_abort;

void date_format_0(char *buffer, std::size_t size)
{
    std::time_t now = std::time(nullptr);
    struct tm tm;
    localtime_r(&now, &tm);
    std::snprintf(buffer, size, "%04d-%02d-%02d %02d:%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                  tm.tm_hour, tm.tm_min);
}

const char *routine_name()
{
    return (cur_routine < 1 || !Rname) ? "__MAIN__" : Rname;
}

const char *application_name()
{
    const char *name = CurrentApplicationName();
    return name ? name : "Unknown";
}

// The report around a title and an already formatted message.
std::string report_text(const char *title, const char *message)
{
    char when[64];
    date_format_0(when, sizeof when);
    std::string r;
    r += std::string(title) + "\n";
    r += std::string(REPORT_BANNER) + "\n";
    r += "Program:  " + std::string(application_name()) + "; App:v." + apps_version + "; " + ApplicationNames() +
         "; Lumba:v." + LUMBA_VERSION + "; \n\n";
    r += std::string("Issue:    ") + ISSUE_STR + "\n";
    r += std::string("When:     ") + when + "\n";
    r += "Label:    \n";
    r += "Table:    \n";
    r += "Datapath: " + ProgramDataPath() + "\n";
    r += std::string("Function Name: ") + routine_name() + "\n";
    r += "Meaning:  \n";
    r += std::string("Message:  ") + message + "\n";
    if (Rname) {
        GenErrloc();
        r += std::string(Error_loc) + "\n";
    }
    return r;
}

// Title, message and (with a routine known) location into Error_vector; the number of lines.
int build_lines(const char *text, const char *extra = nullptr)
{
    error_vector_clear();
    set_title(Error_title, sizeof Error_title);
    error_vector_add(Error_title);
    std::snprintf(Error_text, sizeof Error_text, "%s", text);
    int n = error_vector_add(Error_text);
    if (extra) n = error_vector_add(extra);
    if (Rname) {
        GenErrloc();
        n = error_vector_add(Error_loc);
    }
    return n;
}

void show_notice(const char *kind, const char *format, std::va_list ap)
{
    char text[NOTICE_SIZE];
    std::vsnprintf(text, sizeof text, format, ap);
    char *lines[] = {text, nullptr};
    M_mesg(kind, lines);
}

// Before the process ends without finish: the COMMON object goes (its name only: a core dump
// keeps the mapping), and the streams are flushed unless a fault is being reported from inside
// its signal handler, where stdio may be half-way through something.
void leave_without_clean_up()
{
    unlink_common_object();
    if (!in_fault_handler()) std::fflush(nullptr);
}

} // namespace

const char *const SUPPORT_ADDRESS = "support@lumba-runtime.example";
const char *const TRANSACTION_LOG_ADDRESS = "translog@lumba-runtime.example";
const char *const DB_TRANSACTION_ADDRESS = "dbtrans@lumba-runtime.example";
const char *const RUNTIME_ADDRESS = "runtime@lumba-runtime.example";

void error_vector_clear()
{
    for (char *&line : Error_vector) {
        g_free(line);
        line = nullptr;
    }
}

int error_vector_add(const char *text)
{
    int n = 0;
    while (Error_vector[n]) ++n;
    if (n < ERROR_VECTOR_SIZE) Error_vector[n++] = g_strdup(text);
    return n;
}

const char *login_name()
{
    if (const char *name = std::getenv("LOGNAME"); name && *name) return name;
    if (const char *name = std::getenv("USER"); name && *name) return name;
    if (struct passwd *pw = getpwuid(getuid())) return pw->pw_name;
    return "Unknown";
}

bool has_control_characters(const char *text)
{
    for (const char *p = text; *p; ++p)
        if (static_cast<unsigned char>(*p) < 0x20 || *p == 0x7F) return true;
    return false;
}

std::string shown_name(const char *text)
{
    std::string out;
    for (const char *p = text; *p; ++p) {
        const auto c = static_cast<unsigned char>(*p);
        if (c < 0x20 || c == 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "0x%X", c);
            out += hex;
        } else {
            out += *p;
        }
    }
    return out;
}

void set_title(char *buffer, std::size_t size)
{
    char when[64];
    date_format_0(when, sizeof when);
    // A login name with line ends in it (LOGNAME is the user's to set) may not forge report lines.
    std::snprintf(buffer, size, "%s %s Issue: %s RPC: %s (%d)", when, application_name(), ISSUE_STR,
                  shown_name(login_name()).c_str(), static_cast<int>(getuid()));
}

void GenErrloc()
{
    const unsigned address = static_cast<unsigned>(yylineno - yylinestart + 1);
    const char *routine = (cur_routine < 1 || !Rname) ? "__MAIN__" : Rname;
    if (src_line_number > 0) {
        const char *file = LoadedFileName(src_file_index);
        std::snprintf(Error_loc, sizeof Error_loc, "at address %.6x in routine %s around line %d@%s", address,
                      routine, src_line_number, file ? file : "Ukn src");
    } else {
        std::snprintf(Error_loc, sizeof Error_loc, "at address %.6x in routine %s", address, routine);
    }
}

const char *escape_chars(const char *text)
{
    static char out[ESCAPE_SIZE];
    std::size_t n = 0;
    for (const char *p = text; *p; ++p) {
        const char c = *p == '\t' ? ' ' : *p;
        const bool escaped = c == '"' || c == '$' || c == '[' || c == '\\';
        if (n + (escaped ? 2 : 1) > ESCAPE_SIZE - 1) break;
        if (escaped) out[n++] = '\\';
        out[n++] = c;
    }
    out[n] = '\0';
    return out;
}

char *perform_log_conv_cr(const char *text)
{
    std::string out;
    for (const char *p = text; *p; ++p) {
        const char c = *p;
        if (c == '\r') {
            if (p[1] != '\n') out += '\n';
        } else if (c == '\n' || c == '\t' || std::isprint(static_cast<unsigned char>(c))) {
            out += c;
        } else {
            char hex[16];
            std::snprintf(hex, sizeof hex, "0x%X", static_cast<unsigned>(static_cast<int>(static_cast<signed char>(c))));
            out += hex;
        }
    }
    return g_strdup(out.c_str());
}

char *perform_log_message(const char *format, std::va_list ap)
{
    // Error_title may hold an older report's title; the log report gets a current one.
    char title[ERROR_TITLE_SIZE];
    set_title(title, sizeof title);
    std::string escaped = escape_chars(format);
    std::vsnprintf(Error_text, sizeof Error_text, escaped.c_str(), ap);
    return g_strdup(report_text(title, Error_text).c_str());
}

void perform_log(char **lines, int status)
{
    if (!lines || !lines[0]) return;
    if (status != 0) {
        std::string report = report_text(lines[0], lines[1] ? lines[1] : "");
        char *clean = perform_log_conv_cr(report.c_str());
        if (Back_ground)
            _mlog(1, -1, "%s", clean);
        else
            window_hooks().message(clean, "fatal");
        g_free(clean);
        return;
    }
    for (char **line = lines; *line; ++line) {
        char *clean = perform_log_conv_cr(*line);
        _mlog(1, 0, "%s", clean);
        g_free(clean);
    }
}

void M_mesg(const char *kind, char **lines)
{
    std::string text;
    for (char **line = lines; line && *line; ++line) {
        std::string escaped = escape_chars(*line);
        if (text.size() + escaped.size() + 1 > M_MESG_SIZE - 1) break;
        text += escaped + "\n";
    }
    if (Back_ground || !ProgramLoaded()) {
        std::fprintf(stderr, "%s\n", text.c_str());
        std::fflush(stderr);
    } else {
        window_hooks().message(text.c_str(), kind);
    }
}

int Dump_requested()
{
    if (Back_ground || !ProgramLoaded()) return 0;
    return window_hooks().question("Do you want to take a crash dump?", "_No", "_Yes") == 1;
}

namespace {

ReportSink report_sink = standard_report;

// The message of an error call. It is formatted into a buffer of the report's own size, so that
// a report of exhausted memory needs none; only a longer message is allocated whole.
class Formatted {
public:
    Formatted(const char *format, std::va_list ap)
    {
        std::va_list again;
        va_copy(again, ap);
        const int n = std::vsnprintf(small_, sizeof small_, format, ap);
        if (n < 0) small_[0] = '\0';
        if (n >= static_cast<int>(sizeof small_)) {
            large_.resize(static_cast<std::size_t>(n) + 1);
            std::vsnprintf(large_.data(), large_.size(), format, again);
        }
        va_end(again);
    }
    const char *c_str() const { return large_.empty() ? small_ : large_.c_str(); }

private:
    char small_[ERROR_TEXT_SIZE];
    std::string large_;
};

[[noreturn]] void fatal_report(const char *text)
{
    if (in_abort) {
        // A fatal error while the fatal report is being made: no second report, and none of the
        // exit's clean-up but the COMMON object and what is safely flushed.
        std::fprintf(stderr, "%s\n", text);
        std::fflush(stderr);
        leave_without_clean_up();
        _exit(1);
    }
    in_abort = 1;
    have_abort = 1;
    const int count = build_lines(text);
    perform_log(Error_vector, 1);
    GenEmailLog(nullptr, "fatal", count);
    if (Dump_available && Dump_requested()) run_hook(CoreHook::take_dump);
    if (has_signal) {
        // Ends by the trap (and its core dump) instead of the exit's clean-up.
        leave_without_clean_up();
        std::raise(SIGTRAP);
    }
    finish(1);
}

} // namespace

void standard_report(const Report &report)
{
    switch (report.kind) {
    case ReportKind::fatal:
        fatal_report(report.text);
    case ReportKind::trappable:
        build_lines(report.text);
        perform_log(Error_vector, ContextRunning() ? ContextExitStatus() : 1);
        return;
    case ReportKind::system: {
        const int count = build_lines(report.text, std::strerror(report.error_number));
        perform_log(Error_vector, 1);
        GenEmailLog(nullptr, "Syserr", count);
        return;
    }
    case ReportKind::mail:
        GenEmailLog(report.recipient, "info", build_lines(report.text));
        return;
    case ReportKind::debug: {
        error_vector_clear();
        set_title(Error_title, sizeof Error_title);
        error_vector_add(Error_title);
        const int count = error_vector_add(report.text);
        GenEmailLog(report.recipient, "debug", count);
        return;
    }
    }
}

ReportSink set_report_sink(ReportSink sink)
{
    ReportSink previous = report_sink;
    report_sink = sink ? sink : standard_report;
    return previous;
}

namespace {

std::terminate_handler default_terminate = nullptr;

// Every std::bad_alloc that no code catches comes here, wherever it was thrown (callbacks keep
// theirs and throw them again once their C frames are left): the stack is not unwound, so the
// report sees the run as the failure left it. Anything else ends as it always did.
[[noreturn]] void unhandled_exception()
{
    if (const std::exception_ptr e = std::current_exception()) {
        try {
            std::rethrow_exception(e);
        } catch (const std::bad_alloc &) {
            Abort("Out of memory");
        } catch (...) {
        }
    }
    (default_terminate ? default_terminate : std::abort)();
    std::abort();
}

} // namespace

void report_unhandled_allocation_failures()
{
    const std::terminate_handler previous = std::set_terminate(unhandled_exception);
    if (previous != unhandled_exception) default_terminate = previous;
}

void Abort(const char *format, ...)
{
    settle_for_report();  // the report, the dump and a trap see the variables as the program left them
    std::va_list ap;
    va_start(ap, format);
    const Formatted text(format, ap);
    va_end(ap);
    report_sink({ReportKind::fatal, text.c_str(), nullptr, 0});
    // A sink must not return from a fatal report; the run-time's own report ends the process.
    fatal_report(text.c_str());
}

bool abort_in_progress()
{
    return in_abort != 0;
}

void Xerror(int code, const char *format, ...)
{
    settle_for_report();
    std::va_list ap;
    va_start(ap, format);
    const Formatted text(format, ap);
    va_end(ap);
    if (code != TRAPPABLE_ERROR) Abort("%s", text.c_str());
    ERR_REG = code;
    ++n_errors;
    if (ContextRunning() && !ErrorTrapArmed()) SetContextExitStatus(1);
    report_sink({ReportKind::trappable, text.c_str(), nullptr, 0});
    throw BailOut{};
}

void Syserr(const char *format, ...)
{
    const int saved = errno;
    settle_for_report();
    std::va_list ap;
    va_start(ap, format);
    const Formatted text(format, ap);
    va_end(ap);
    ++n_errors;
    SetContextExitStatus(1);
    report_sink({ReportKind::system, text.c_str(), nullptr, saved});
    throw BailOut{};
}

void Warn(const char *format, ...)
{
    if (Lumba_Log_Level <= 1) return;
    std::va_list ap;
    va_start(ap, format);
    show_notice("warning", format, ap);
    va_end(ap);
}

void Message(const char *format, ...)
{
    std::va_list ap;
    va_start(ap, format);
    show_notice("info", format, ap);
    va_end(ap);
}

void Email(const char *recipient, const char *format, ...)
{
    std::va_list ap;
    va_start(ap, format);
    const Formatted text(format, ap);
    va_end(ap);
    report_sink({ReportKind::mail, text.c_str(), recipient, 0});
}

void Debug(const char *format, ...)
{
    std::va_list ap;
    va_start(ap, format);
    char *text = g_strdup_vprintf(format, ap);
    va_end(ap);
    if (!text) Abort("Error in Debug(), perhaps no free memory left");
    const std::string message(text);
    g_free(text);
    report_sink({ReportKind::debug, message.c_str(), DB_TRANSACTION_ADDRESS, 0});
}

void assertion_failed(const char *file, int line, const char *condition)
{
    has_signal = 1;
    char *base = g_path_get_basename(file);
    if (char *dot = std::strrchr(base, '.')) *dot = '\0';
    std::string name(base);
    g_free(base);
    Abort("Program assertion failed in %s@%d: %s", name.c_str(), line, condition);
}

void mmessage(int flag, const char *format, ...)
{
    if (!flag) return;
    char text[ERROR_TEXT_SIZE];
    std::va_list ap;
    va_start(ap, format);
    const int n = std::vsnprintf(text, sizeof text, format, ap);
    va_end(ap);
    // The bounded formatting of the forms engine, whose stops these are.
    if (n < 0) Abort("cutil_sprintf format error encountered");
    if (n >= static_cast<int>(sizeof text)) Abort("cutil_sprintf buffer overflow(2)");
    window_hooks().message(text, "W");
}
