// IEXTERNAL_PROGRAM_START and IEXTERNAL_PROGRAM_DETACH.
//
// START, on the GUI thread, checks its arguments, binds the job to its window and starts a worker
// thread; then it waits in a main loop of its own, so windows and program callbacks stay alive
// while the command runs (a second START from a callback nests, with a job and queue of its own).
// The worker runs the command as `/bin/sh -c COMMAND`, its standard error joined to its output,
// queues the output as it comes until the shell has exited (a process the command left in the
// background may hold the pipe long after), reaps the shell (its own pid only) and, as its last
// act, posts the end to the main context. The end runs on the GUI thread: it joins the worker, so
// it sees the final status and every byte of output, and only then logs, mails and calls the
// program, and frees the job after START's loop has returned.
#include "external_program.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "applications.h"
#include "cases.h"
#include "child_exec.h"
#include "child_signals.h"
#include "gdata.h"
#include "interp.h"
#include "message.h"
#include "misc.h"
#include "run_time.h"
#include "signals.h"

namespace {

using namespace intr;

constexpr std::size_t OUTPUT_CHUNK = 65536;
constexpr unsigned SAFE_POINT_MS = 100;  // signals are acted on while START waits

std::vector<ExternalJob_t *> running_jobs;  // oldest first; GUI thread only

ControlMatrix_t *no_control_matrix(const Stack *) { Abort("Control matrices not available"); }
void no_attach(ExternalJob_t *, const Stack *, int) { Abort("Control matrices not available"); }
void no_detach(ExternalJob_t *) {}
void no_follow_on(ExternalJob_t *, const std::string &) { Abort("Control matrices not available"); }

ExternalProgramHooks &hooks()
{
    static ExternalProgramHooks h{no_control_matrix, no_attach, no_detach, no_follow_on};
    return h;
}

const char *program_name() { return Program_name ? Program_name : ""; }
bool logging_above(int level) { return global_data && global_data->log_level_lumbas > level; }

void push_error(ExternalJob_t *job, const char *format, int number)
{
    char *text = g_strdup_printf(format, number);
    external_program_push_data(job, 'E', text);
    g_free(text);
}

// ---- The worker ---------------------------------------------------------------------------------

// Queues what one read of the pipe gives: the bytes read, 0 at its end, -1 after a failure
// (queued) or when nothing is there now.
ssize_t read_piece(ExternalJob_t *job, int fd, std::vector<char> &chunk)
{
    for (;;) {
        const ssize_t n = read(fd, chunk.data(), chunk.size());
        if (n > 0) external_program_push_data(job, 'L', std::string(chunk.data(), static_cast<std::size_t>(n)));
        if (n >= 0) return n;
        if (errno == EINTR) continue;
        if (errno != EAGAIN) push_error(job, "Error %d encountered while attempting to run external program", errno);
        return -1;
    }
}

// Reads the command's output until the shell has exited, then what the pipe holds at that moment.
// The pipe's end of file is no end: a process the command left in the background ("sleep 4 &")
// holds the pipe open long after the command is done.
void read_until_exit(ExternalJob_t *job, int fd, pid_t pid)
{
    std::vector<char> chunk(OUTPUT_CHUNK);
    // By the system call: the C library's header of this one lacks its C linkage.
    const int exited = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    if (exited < 0) {  // no process descriptor: the pipe's end is all there is to go by
        while (read_piece(job, fd, chunk) > 0) {}
        return;
    }
    bool open = true;
    for (;;) {
        pollfd watched[2] = {{exited, POLLIN, 0}, {fd, POLLIN, 0}};
        if (poll(watched, open ? 2 : 1, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (watched[0].revents) break;
        if (watched[1].revents && read_piece(job, fd, chunk) <= 0) open = false;
    }
    close(exited);
    if (!open) return;
    // What the pipe holds now; a background process writing on cannot keep the end waiting.
    const int flags = fcntl(fd, F_GETFL);
    fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    const long capacity = fcntl(fd, F_GETPIPE_SZ);
    long left = capacity > 0 ? capacity : static_cast<long>(OUTPUT_CHUNK);
    for (ssize_t n; left > 0 && (n = read_piece(job, fd, chunk)) > 0;) left -= static_cast<long>(n);
}

// Runs the command and reads its output until it ends; what fails is queued as an 'E' message.
void run_command(ExternalJob_t *job)
{
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
        push_error(job, "Failure %d while attempting to open External Program for running", errno);
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, out[1], 2);
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // Every disposition back to its default (the run-time ignores SIGPIPE) and nothing blocked
    // (this worker blocks every signal), as reset_child_signals gives a forked child.
    sigset_t defaults, none;
    sigfillset(&defaults);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    char *argv[] = {const_cast<char *>("/bin/sh"), const_cast<char *>("-c"), job->command.data(), nullptr};
    pid_t pid = -1;
    const int failed = posix_spawn(&pid, "/bin/sh", &actions, &attributes, argv, job->environment);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (failed) {
        close(out[0]);
        push_error(job, "Failure %d while attempting to open External Program for running", failed);
        return;
    }
    job->pid = pid;
    read_until_exit(job, out[0], pid);
    close(out[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno == EINTR) continue;
        job->wait_error = errno;
        status = 0;
        break;
    }
    job->exit_status = status;
}

gboolean external_program_destroy(gpointer data);

gpointer external_program_do_background(gpointer data)
{
    // Signals are the GUI thread's business: there they wake its loop and reach a safe point.
    sigset_t all;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, nullptr);
    auto *job = static_cast<ExternalJob_t *>(data);
    run_command(job);
    g_idle_add_full(G_PRIORITY_DEFAULT, external_program_destroy, job, nullptr);
    return nullptr;
}

// ---- The end, on the GUI thread -------------------------------------------------------------------

bool loaded(const Application_t *ap)
{
    for (const Application_t *a = applications; a; a = a->next)
        if (a == ap) return true;
    return false;
}

// The job leaves the running ones and its application and window are let go.
void release(ExternalJob_t *job)
{
    running_jobs.erase(std::remove(running_jobs.begin(), running_jobs.end(), job), running_jobs.end());
    if (loaded(job->application) && job->application->busy > 0) --job->application->busy;
    hooks().detach(job);
}

void mail_status(const ExternalJob_t *job, const std::string &output)
{
    const int s = job->exit_status;
    const char *command = job->command.c_str();
    if (WIFSIGNALED(s))
        Email(SUPPORT_ADDRESS,
              "external program: abnormal termination; WIFSIGNALED: %d; WTERMSIG: %d; WCOREDUMP: %d; output of %s is "
              "below\r\n%s\r\n",
              1, WTERMSIG(s), WCOREDUMP(s) ? 128 : 0, command, output.c_str());
    else
        Email(SUPPORT_ADDRESS, "external program: exit: %d; output of %s is below\r\n%s\r\n", WEXITSTATUS(s), command,
              output.c_str());
}

void external_program_end(ExternalJob_t *job)
{
    struct NameBack {
        const char *saved = Rname;
        ~NameBack() { Rname = saved; }
    } name_back;
    Rname = job->routine_name;
    release(job);

    ExternalMessage m;
    if (external_program_pop_data_error(job, &m)) Abort("%s", m.text.c_str());
    std::string output;
    while (external_program_pop_data(job, &m)) output += m.text;
    if (!output.empty() && logging_above(0))
        mlog(0, "External Program '%s' Results = '\n%s'", job->command.c_str(), output.c_str());
    if (job->wait_error)
        Email(SUPPORT_ADDRESS, "external program: pclose() error %d; %s", job->wait_error,
              misc_error_text(job->wait_error).c_str());
    if (job->exit_status > 0) mail_status(job, output);
    hooks().follow_on(job, output);
}

// What goes wrong in a GLib callback is kept for START to throw once its loop is done; the first
// one stays.
template <class Work> void kept_by(ExternalJob_t *job, Work &&work) noexcept
{
    try {
        work();
    } catch (...) {
        if (!job->error) job->error = std::current_exception();
    }
}

gboolean external_program_destroy(gpointer data)
{
    auto *job = static_cast<ExternalJob_t *>(data);
    g_thread_join(job->thread);
    job->thread = nullptr;
    kept_by(job, [&] { external_program_end(job); });
    g_main_loop_quit(job->loop);
    return G_SOURCE_REMOVE;
}

gboolean safe_point(gpointer data)
{
    kept_by(static_cast<ExternalJob_t *>(data), [] { check_signals(); });
    return G_SOURCE_CONTINUE;
}

// ---- START ------------------------------------------------------------------------------------------

// The command's first word (up to the first blank) must name a program on PATH.
void need_program(const std::string &command)
{
    const std::string word = command.substr(0, command.find(' '));
    gchar *found = word.empty() ? nullptr : g_find_program_in_path(word.c_str());
    if (!found) Abort("External Program '%s' not found", word.c_str());
    g_free(found);
}

Routine *follow_on_routine(int number)
{
    Routine *routine = GetRoutine(number);
    if (!routine) Abort("Routine %d not found! Program_name %s", number, program_name());
    if (routine->R_name.empty()) {
        if (global_data && global_data->log_level_lumbas >= 0)
            mlog(0, "interp 0x%lX, app 0x%lX\n", reinterpret_cast<unsigned long>(Minterp),
                 reinterpret_cast<unsigned long>(current_application));
        PrintApplication(current_application, stdout);
        Abort("Routine %d is nameless! Program_name %s", number, program_name());
    }
    return routine;
}

// Runs the job's loop until the job's end has run there (the worker is joined by then).
void wait_for(ExternalJob_t *job)
{
    const guint safe = g_timeout_add(SAFE_POINT_MS, safe_point, job);
    g_main_loop_run(job->loop);
    g_source_remove(safe);
    g_main_loop_unref(job->loop);
    job->loop = nullptr;
}

} // namespace

void external_program_push_data(ExternalJob_t *job, char kind, std::string text)
{
    g_mutex_lock(&job->data_mutex);
    job->current_data.push_back({kind, std::move(text)});
    g_mutex_unlock(&job->data_mutex);
}

bool external_program_pop_data(ExternalJob_t *job, ExternalMessage *message)
{
    g_mutex_lock(&job->data_mutex);
    const bool any = !job->current_data.empty();
    if (any) {
        *message = std::move(job->current_data.front());
        job->current_data.pop_front();
    }
    g_mutex_unlock(&job->data_mutex);
    return any;
}

bool external_program_pop_data_error(ExternalJob_t *job, ExternalMessage *message)
{
    g_mutex_lock(&job->data_mutex);
    auto &q = job->current_data;
    auto it = std::find_if(q.begin(), q.end(), [](const ExternalMessage &m) { return m.kind == 'E'; });
    const bool any = it != q.end();
    if (any) {
        *message = std::move(*it);
        q.erase(it);
    }
    g_mutex_unlock(&job->data_mutex);
    return any;
}

ExternalProgramHooks register_external_program_hooks(const ExternalProgramHooks &h)
{
    if (!h.control_matrix || !h.attach || !h.detach || !h.follow_on)
        g_error("register_external_program_hooks: every member must be set");
    const ExternalProgramHooks previous = hooks();
    hooks() = h;
    return previous;
}

ExternalJob_t *external_program_running_on(const ControlMatrix_t *cm)
{
    for (auto it = running_jobs.rbegin(); it != running_jobs.rend(); ++it)
        if ((*it)->cm == cm) return *it;
    return nullptr;
}

bool external_programs_running() { return !running_jobs.empty(); }

void external_program_start(int nargs, int last)
{
    if (nargs < 3) Abort("Invalid number of parameters to iexternal_program_start");
    auto job = std::make_unique<ExternalJob_t>();
    const std::string_view command = text(arg(nargs, last, 0));
    // The shell takes its command as a C string: a zero byte would run a different command.
    if (command.find('\0') != std::string_view::npos)
        Xerror(202, "IEXTERNAL_PROGRAM_START: the command holds a zero byte");
    job->command = command;
    const int number = integer(arg(nargs, last, 1));
    job->routine = follow_on_routine(number);
    const Stack *process_cm = &arg(nargs, last, 2);
    job->cm = hooks().control_matrix(process_cm);
    if (!job->cm) Abort("Must include the Process Control Matrix as the first parameter of the follow on function");
    job->application = FindApplication(program_name());
    if (!job->application)
        Abort("Failed to determine application, given the program name %s", program_name());
    need_program(job->command);

    job->routine_name = Rname;
    hooks().attach(job.get(), process_cm, nargs - 2);
    if (logging_above(0))
        mlog(0, "Do iexternal_program_start; CM = %lX; Program = %s; Command String = '%s'",
             reinterpret_cast<unsigned long>(job->cm), program_name(), job->command.c_str());
    ++job->application->busy;
    running_jobs.push_back(job.get());
    job->environment = g_get_environ();

    // The loop (and with it the default main context) exists before the worker that posts to it.
    job->loop = g_main_loop_new(nullptr, FALSE);
    GError *error = nullptr;
    job->thread = g_thread_try_new("external_background", external_program_do_background, job.get(), &error);
    if (!job->thread) {
        g_main_loop_unref(job->loop);
        release(job.get());
        const std::string message = error ? error->message : "";
        g_clear_error(&error);
        Abort("Error %s encountered when attempting to start process for external program", message.c_str());
    }
    wait_for(job.get());
    if (job->error) std::rethrow_exception(job->error);
}

// ---- DETACH -------------------------------------------------------------------------------------------

namespace {

// The texts the daemon may need, made before the fork.
struct DaemonPlan {
    std::string command;
    std::string output_target, error_target;  // the terminals of our standard output and error
};

std::string terminal_of(int fd)
{
    const char *name = ttyname(fd);
    return name ? name : "/dev/null";
}

// Appends the decimal digits of n (async-signal-safe).
void append_number(char *&at, int n)
{
    char digits[12];
    int count = 0;
    unsigned v = n < 0 ? 0u - static_cast<unsigned>(n) : static_cast<unsigned>(n);
    do {
        digits[count++] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v);
    if (n < 0) *at++ = '-';
    while (count) *at++ = digits[--count];
}

void append_text(char *&at, const char *end, const char *text)
{
    while (*text && at < end) *at++ = *text++;
}

// Opens path on target as the daemonisation's steps do; the error bits of the three steps
// (open, make it target, close the spare) are open_bit, open_bit * 2 and open_bit * 4.
int open_on(const char *path, int flags, int target, int open_bit)
{
    const int fd = open(path, flags | O_NOCTTY);
    if (fd < 0) return open_bit;
    if (fd == target) return 0;
    int word = 0;
    if (dup2(fd, target) != target) word |= open_bit * 2;
    if (close(fd) != 0) word |= open_bit * 4;
    return word;
}

// The daemon: a session of its own without a terminal, standard input from "/dev/null", output
// and error to our terminals (or "/dev/null"), then bash runs the command.
[[noreturn]] void run_daemon(const DaemonPlan &plan)
{
    reset_child_signals();
    close(0);
    close(1);
    close(2);
    int word = 0;
    if (setsid() < 0) word |= 1;
    if (const int fd = open("/dev/null", O_RDONLY | O_NOCTTY); fd < 0)
        word |= 2;
    else if (fd != 0 && (dup2(fd, 0) != 0 || close(fd) != 0))
        word |= 4;
    word |= open_on(plan.output_target.c_str(), O_WRONLY, 1, 16);
    word |= open_on(plan.error_target.c_str(), O_WRONLY, 2, 128);
    child_exec::close_others_on_exec();
    char message[512];
    char *at = message;
    const char *end = message + sizeof message - 2;
    if (word != 0) {
        append_text(at, end, "iexternal_program_detach: error in daemonisation ");
        append_number(at, word);
        *at++ = '\n';
        child_exec::say(message, static_cast<std::size_t>(at - message));
        _exit(1);
    }
    char *argv[] = {const_cast<char *>("/bin/bash"), const_cast<char *>("-c"), const_cast<char *>(plan.command.c_str()),
                    nullptr};
    execv("/bin/bash", argv);
    const int error = errno;
    append_text(at, end, "iexternal_program_detach: error ");
    append_number(at, error);
    append_text(at, end, " (");
    const char *description = strerrordesc_np(error);
    append_text(at, end, description ? description : "");
    append_text(at, end, ") in executing command '");
    append_text(at, end, plan.command.c_str());
    append_text(at, end, "'");
    *at++ = '\n';
    child_exec::say(message, static_cast<std::size_t>(at - message));
    _exit(error ? error : 1);
}

} // namespace

// Two forks: the first child starts the daemon and ends at once, so the daemon is nobody's child
// here and never stays a zombie of this process; the daemon's pid comes back through a pipe.
void external_program_detach(int nargs, int last, Stack *result)
{
    if (nargs != 1) Abort("Invalid number of parameters to iexternal_program_detach");
    const std::string_view command = text(arg(nargs, last, 0));
    if (command.find('\0') != std::string_view::npos)
        Xerror(202, "IEXTERNAL_PROGRAM_DETACH: the command holds a zero byte");
    const DaemonPlan plan{std::string(command), terminal_of(1), terminal_of(2)};
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) {
        set_number(result, -1);
        return;
    }
    std::fflush(nullptr);
    const pid_t first = fork();
    if (first == 0) {
        close(report[0]);
        const pid_t daemon = _Fork();
        if (daemon == 0) run_daemon(plan);
        while (write(report[1], &daemon, sizeof daemon) < 0 && errno == EINTR) {}
        _exit(daemon < 0 ? 1 : 0);
    }
    close(report[1]);
    pid_t daemon = -1;
    if (first > 0) {
        if (read(report[0], &daemon, sizeof daemon) != static_cast<ssize_t>(sizeof daemon)) daemon = -1;
        child_exec::reap(first);
    }
    close(report[0]);
    set_number(result, daemon);
}

namespace {

constexpr IntrinsicRow rows[] = {
    {in_IEXTERNAL_PROGRAM_START, external_program_start},
    {in_IEXTERNAL_PROGRAM_DETACH, external_program_detach},
};

} // namespace

std::span<const IntrinsicRow> external_program_intrinsics() { return rows; }
