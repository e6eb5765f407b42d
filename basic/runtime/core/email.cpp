// Mailed reports: the report lines with both trace rings and a debugger stack trace, written to a
// mail file and handed to the site mail script.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "child_signals.h"
#include "errors.h"
#include "gdata.h"
#include "loader.h"
#include "mem_mgt.h"
#include "message.h"
#include "applications.h"
#include "run_time.h"
#include "signals.h"

namespace {

constexpr const char *FALLBACK_LOGIN = "oska";
constexpr const char *MAIL_DOMAIN = "lumba-runtime.example";
constexpr std::size_t STACK_TRACE_SIZE = 65536;
constexpr int PROGRAM_TRACE_SIZE = 1024;
constexpr std::size_t SUBJECT_SIZE = 59;

// The debugger's view of this process, or "" when it cannot be had.
std::string stack_trace()
{
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return "";
    char pid[32];
    std::snprintf(pid, sizeof pid, "%d", static_cast<int>(getpid()));
    // The site's copy of the program when it has one, else this very executable.
    std::string target = access(GDB_TARGET, R_OK) == 0 ? GDB_TARGET : "/proc/" + std::string(pid) + "/exe";
    pid_t child = fork();
    if (child < 0) {
        close(out[0]);
        close(out[1]);
        return "";
    }
    if (child == 0) {
        reset_child_signals();
        int null = open("/dev/null", O_RDWR);
        if (null >= 0) dup2(null, STDIN_FILENO);
        dup2(out[1], STDOUT_FILENO);
        if (null >= 0) dup2(null, STDERR_FILENO);
        execl(GDB_PROGRAM, GDB_PROGRAM, "-q", "-batch", "-x", GDB_COMMANDS, target.c_str(), pid,
              static_cast<char *>(nullptr));
        _exit(0);  // no debugger: the trace is simply left out
    }
    close(out[1]);
    prctl(PR_SET_PTRACER, child, 0, 0, 0);
    std::string text;
    std::vector<char> buffer(STACK_TRACE_SIZE);
    while (text.size() < STACK_TRACE_SIZE - 1) {
        ssize_t n = read(out[0], buffer.data(), STACK_TRACE_SIZE - 1 - text.size());
        if (n < 0 && interrupted(errno)) continue;
        if (n <= 0) break;
        text.append(buffer.data(), static_cast<std::size_t>(n));
    }
    close(out[0]);
    while (waitpid(child, nullptr, 0) < 0 && interrupted(errno)) {}
    // Keep what follows the debugger's start-up chatter.
    std::size_t last = std::string::npos;
    for (std::size_t at = text.find("Loaded ", 7); at != std::string::npos; at = text.find("Loaded ", at + 1))
        last = at;
    return last == std::string::npos ? text : text.substr(last);
}

// A login name that is safe inside a file name.
std::string file_safe(const char *name)
{
    std::string out;
    for (const char *p = name; *p && out.size() < 64; ++p)
        out += (g_ascii_isalnum(*p) || *p == '.' || *p == '_' || *p == '-') ? *p : '_';
    return out.empty() ? std::string(FALLBACK_LOGIN) : out;
}

std::string first_line(const char *text)
{
    std::string s(text ? text : "");
    return s.substr(0, s.find_first_of("\r\n"));
}

// Runs the site's mail script; true when it ran and ended with status 0.
bool run_mail_script(const char *recipient, const std::string &sender, const std::string &subject,
                     const std::string &path)
{
    std::fflush(nullptr);
    pid_t child = fork();
    if (child < 0) {
        std::printf("*** E_mesg: ERROR: forking child process failed");
        std::fflush(stdout);
        finish(1);
    }
    if (child == 0) {
        reset_child_signals();
        execlp(MAIL_SCRIPT, MAIL_SCRIPT, recipient, sender.c_str(), subject.c_str(), path.c_str(),
               static_cast<char *>(nullptr));
        static const char failed[] = "*** E_mesg: ERROR: exec failed\n";
        ssize_t ignored = write(STDERR_FILENO, failed, sizeof failed - 1);
        (void)ignored;
        _exit(1);
    }
    int status = 0;
    pid_t waited;
    while ((waited = waitpid(child, &status, 0)) < 0 && interrupted(errno)) {}
    return waited == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace

void GenEmailLog(const char *recipient, const char *kind, int count)
{
    char host[129] = "";
    gethostname(host, sizeof host - 1);
    char when[32];
    {
        std::time_t now = std::time(nullptr);
        struct tm tm;
        localtime_r(&now, &tm);
        std::strftime(when, sizeof when, "%Y-%m-%d %H:%M", &tm);
    }
    const char *app = CurrentApplicationName();
    std::string info = std::string("\nHost:  ") + host + ";\nProgram:  " + (app ? app : "Unknown") + "; " +
                       "App:v." + apps_version + "; " + ApplicationNames() + "; Lumba:v." + LUMBA_VERSION + "; \n" +
                       "Issue:    " + ISSUE_STR + "\n" + "When:     " + when + "\n" + "Datapath: " +
                       ProgramDataPath() + "\n" + "Function Name: " +
                       ((cur_routine < 1 || !Rname) ? "__MAIN__" : Rname) + "\n\n";
    error_vector_add(info.c_str());

    std::vector<std::string> program_trace;
    ProgramTraceLines(program_trace);
    for (std::size_t i = 0; i < program_trace.size() && i < PROGRAM_TRACE_SIZE; ++i)
        error_vector_add(program_trace[i].c_str());
    for (int i = 0; i < TRACE_SIZE; ++i) {
        const char *entry = trace_log[(p_trace - 1 - i + 2 * TRACE_SIZE) % TRACE_SIZE];
        if (!entry[0]) break;
        error_vector_add(entry);
    }
    error_vector_add("---");
    std::string trace = stack_trace();
    if (!trace.empty()) error_vector_add(trace.c_str());

    E_mesg(recipient ? recipient : SUPPORT_ADDRESS, kind, Error_vector);

    for (int i = count; i <= ERROR_VECTOR_SIZE && Error_vector[i]; ++i) {
        g_free(Error_vector[i]);
        Error_vector[i] = nullptr;
    }
}

void E_mesg(const char *recipient, const char *kind, char **lines)
{
    E_mesg_to(kind[0] && std::strchr("frFR", kind[0]) ? TRANSACTION_LOG_ADDRESS : recipient, kind, lines);
}

void E_mesg_to(const char *recipient, const char *kind, char **lines)
{
    int n = 0;
    while (lines[n]) ++n;
    if (n < 3) return;
    if (!recipient) recipient = SUPPORT_ADDRESS;

    // The login name comes from the environment: one with control characters in it never reaches
    // the mail script's arguments.
    const char *login = login_name();
    if (!login || !*login || has_control_characters(login)) login = FALLBACK_LOGIN;
    // A new file per report, never through a symbolic link someone left in the shared directory.
    std::string path = std::string(TEMP_DIR "/email-") + file_safe(login) + "-XXXXXX.txt";
    int fd = mkostemps(path.data(), 4, O_CLOEXEC);
    if (fd < 0) Abort("E_mesg: could not open temporary file '%s'", path.c_str());
    FILE *file = fdopen(fd, "w");
    if (!file) {
        close(fd);
        Abort("E_mesg: could not open temporary file '%s'", path.c_str());
    }
    for (int i = 0; i < n; ++i) std::fprintf(file, "%s\n", lines[i]);
    if (std::fclose(file) != 0) Abort("E_mesg: could not write temporary file '%s'", path.c_str());

    // The subject is the third line's first line; a report whose third line begins with a line
    // break (no routine known) takes the message's first line instead.
    std::string about = first_line(lines[2]);
    if (about.empty()) about = first_line(lines[1]);
    std::string subject = std::string("E-") + kind + ":" + about;
    if (subject.size() > SUBJECT_SIZE) subject.resize(SUBJECT_SIZE);
    for (char &c : subject)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
    std::string sender = std::string(login) + "@" + MAIL_DOMAIN;

    // The mail file goes once the script has taken the mail; when the mail cannot be sent, it
    // stays and the run-time log says where, so nothing of the report is lost.
    if (has_control_characters(recipient)) {
        _mlog(1, 9, "E_mesg: recipient %s refused; the report stays in %s", shown_name(recipient).c_str(),
              path.c_str());
        return;
    }
    if (run_mail_script(recipient, sender, subject, path))
        unlink(path.c_str());
    else
        _mlog(1, 9, "E_mesg: the mail script failed; the report stays in %s", path.c_str());
}
