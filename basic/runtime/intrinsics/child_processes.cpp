// MACH: starting child processes in the background with pipes to their standard input and output
// (or none), or in the foreground; reading lines from them, writing to them, closing either pipe,
// waiting for them and ending them.
//
// Every pipe is made close-on-exec, so a child never holds another child's pipe ends, file
// channels or sockets: once CO closes our end of a child's input, that child's reader sees the
// end of its input even while other children run. All buffered output is flushed before a fork,
// and a child does nothing but set up its descriptors and exec; a failure there comes back through
// a report pipe and is mailed from here, in the run-time, which goes on with the ended child in
// its slot. A wait is always for the slot's own pid.
#include "child_processes.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <string_view>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "cases.h"
#include "child_exec.h"
#include "child_signals.h"
#include "message.h"
#include "run_time.h"
#include "signals.h"

ChildSlot children[CHILD_SLOTS];

namespace {

using namespace intr;

constexpr int MAX_ARGUMENTS = 255;
constexpr std::size_t READ_CHUNK = 65536;
constexpr std::size_t COMPLAINT_MAX = 1024;  // a child's output shown when a write to it fails
constexpr int COMPLAINT_WAIT_MS = 1000;
constexpr int TERMINATE_WAIT_MS = 2000;     // after SIGTERM, before SIGKILL

// Output read from a child but not yet handed to the program (RP reads a chunk at a time).
std::string pending[CHILD_SLOTS];

// The steps of a child that can fail, with the messages the run-time raises for them.
enum Step { STEP_NONE, STEP_OUTPUT, STEP_INPUT, STEP_EXEC };
const char *const STEP_MESSAGES[] = {"", "Child cannot duplicate output", "Child cannot duplicate input",
                                     "Child cannot exec command"};

[[noreturn]] void refuse(const char *message) { Xerror(206, "%s", message); }

void free_slot(int slot)
{
    ChildSlot &c = children[slot];
    if (c.read_fd >= 0) close(c.read_fd);
    if (c.write_fd >= 0) close(c.write_fd);
    c = ChildSlot{0, -1, -1, 0, 0};
    pending[slot].clear();
    pending[slot].shrink_to_fit();
}

// A string variable of the program (a shared constant also comes as a reference, and must never
// be written into).
bool text_variable(const Stack &e) { return is_text(e) && (e.flags & stk_ref) && e.s_c.C_S && variable_storage(e.s_c.C_S, 1); }

// The slot a process reference names: its first byte (an empty text is slot 0).
int reference_slot(const Stack &reference)
{
    const std::string_view t = is_text(reference) ? text(reference) : std::string_view();
    return t.empty() ? 0 : static_cast<unsigned char>(t[0]);
}

// ---- Starting ------------------------------------------------------------------------------------

// Where a child's standard descriptors come from; -1 leaves one as the run-time has it.
struct Plumbing {
    int input = -1;           // becomes standard input
    int output = -1;          // becomes standard output and standard error
    bool null_output = false; // standard output and error to "/dev/null"
};

// Ends the child after a failed step (the exec's message names the program).
[[noreturn]] void child_step_failed(int report, Step step, const std::string &exec_message)
{
    if (step == STEP_EXEC) child_exec::fail(report, step, exec_message.data(), exec_message.size());
    const char *m = STEP_MESSAGES[step];
    child_exec::fail(report, step, m, std::strlen(m));
}

// Runs in the child: descriptors, then the program, searched on PATH.
[[noreturn]] void run_child(char *const argv[], const Plumbing &p, int report, const std::string &exec_message)
{
    reset_child_signals();
    if (p.null_output) {
        const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (null < 0 || !child_exec::move_to(null, 1) || !child_exec::move_to(null, 2))
            child_step_failed(report, STEP_OUTPUT, exec_message);
    }
    if (p.output >= 0 && (!child_exec::move_to(p.output, 1) || !child_exec::move_to(p.output, 2)))
        child_step_failed(report, STEP_OUTPUT, exec_message);
    if (p.input >= 0 && !child_exec::move_to(p.input, 0)) child_step_failed(report, STEP_INPUT, exec_message);
    child_exec::close_others_on_exec();
    execvp(argv[0], argv);
    child_step_failed(report, STEP_EXEC, exec_message);
}

// Forks a child for argv once all buffered output is written (so nothing is written twice). In
// the parent: the child's pid, or -1 when the fork failed (errno set). A child that could not run
// the program has been reaped when this returns: *failure tells the step and its error, *status
// its wait status.
pid_t start_child(const std::vector<std::string> &args, const Plumbing &p, child_exec::Failure *failure, int *status)
{
    std::vector<char *> argv;
    for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    const std::string exec_message = "MACH: Child cannot exec command " + args[0] + "\n";
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) Syserr("Error creating pipe");
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        close(report[0]);
        run_child(argv.data(), p, report[1], exec_message);
    }
    const int fork_error = errno;
    close(report[1]);
    if (pid < 0) {
        close(report[0]);
        errno = fork_error;
        return -1;
    }
    *failure = child_exec::await_report(report[0]);
    if (failure->step != STEP_NONE) *status = child_exec::reap(pid);
    return pid;
}

// The slot's child could not run its program and has ended with the error number as its status.
// It is the child's failure, not the run's: the report the child cannot make itself (no mail may
// leave a forked child) goes to the support address from here, and the slot keeps the ended child
// for TP to collect.
void child_failed(int slot, pid_t pid, const child_exec::Failure &f, int status)
{
    if (status < 0) Abort("Child missing");
    Email(SUPPORT_ADDRESS, "mach syserror: slot: %d emsg: %s", slot, STEP_MESSAGES[f.step]);
    ChildSlot &c = children[slot];
    c.pid = pid;
    c.status = status;
    c.done = 1;
}

// The two ends of a pipe, closed when they go out of scope unless taken.
struct Pipe {
    int read = -1, write = -1;
    Pipe() = default;
    Pipe(const Pipe &) = delete;
    Pipe &operator=(const Pipe &) = delete;
    ~Pipe()
    {
        for (int fd : {read, write})
            if (fd >= 0) close(fd);
    }
    void make()
    {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) Syserr("Error creating pipe");
        read = fds[0];
        write = fds[1];
    }
    static int take(int &fd)
    {
        const int taken = fd;
        fd = -1;
        return taken;
    }
};

// Options 0 to 3: in the background, with an output pipe (bit 1) and an input pipe (bit 2).
void start_background(int slot, int option, const std::vector<std::string> &args)
{
    Pipe from_child, to_child;
    Plumbing p;
    if (option & 1) {
        from_child.make();
        p.output = from_child.write;
    } else {
        p.null_output = option == 0;
    }
    if (option & 2) {
        to_child.make();
        p.input = to_child.read;
    }
    child_exec::Failure failure{};
    int status = 0;
    const pid_t pid = start_child(args, p, &failure, &status);
    if (pid < 0) {
        const int error = errno;
        free_slot(slot);
        Email(SUPPORT_ADDRESS, "mach syserror: slot: %d emsg: %s", slot, "MACH: fork failed");
        finish(error ? error : 1);
    }
    ChildSlot &c = children[slot];
    if (failure.step != STEP_NONE) child_failed(slot, pid, failure, status);
    c.pid = pid;
    c.read_fd = Pipe::take(from_child.read);
    c.write_fd = Pipe::take(to_child.write);
}

void pause_for_enter()
{
    std::fputs("\nPress the [ENTER] key to continue ...", stdout);
    std::fflush(stdout);
    for (int ch; (ch = std::getchar()) != EOF && ch != '\n';) {}
    std::clearerr(stdin);
}

// Options 4 and 5: the program runs with the run-time's own descriptors, which waits for it.
void start_foreground(int slot, int option, const std::vector<std::string> &args)
{
    child_exec::Failure failure{};
    int status = 0;
    const pid_t pid = start_child(args, Plumbing{}, &failure, &status);
    if (pid < 0) {
        const int error = errno;
        free_slot(slot);
        errno = error;
        Syserr("MACH: fork failed");
    }
    if (failure.step != STEP_NONE) {
        child_failed(slot, pid, failure, status);
    } else {
        ChildSlot &c = children[slot];
        c.pid = pid;
        const int ended = child_exec::reap(pid);
        if (ended < 0) Abort("Child missing");
        c.status = ended;
        c.done = 1;
    }
    if (option == 5 && !Back_ground) pause_for_enter();
}

void mach_start(const std::string_view code, int nargs, int last)
{
    if (nargs < 3) refuse("MACH: Insufficient arguments");
    if (code.size() != 3 || code[2] < '0' || code[2] > '5') refuse("MACH: Illegal SP option");
    if (!is_text(arg(nargs, last, 2))) refuse("MACH: Argument #3 must be a string");
    if (nargs > MAX_ARGUMENTS) refuse("MACH: Too many arguments");
    if (!text_variable(arg(nargs, last, 1))) refuse("MACH: Argument #2 must be a variable");
    std::vector<std::string> args;
    for (int i = 2; i < nargs; ++i) {
        const Stack &e = arg(nargs, last, i);
        const int position = i + 1;
        if (!is_text(e)) Xerror(206, "MACH: Argument #%d must be a string", position);
        if (e.s_t == string_array) Xerror(206, "MACH: Argument #%d cannot be an array", position);
        const std::string_view a = text(e);
        if (a.empty()) Xerror(206, "MACH: Argument #%d cannot be a null string", position);
        // A program receives its arguments as C strings: a zero byte would silently cut one short.
        if (a.find('\0') != std::string_view::npos) Xerror(206, "MACH: Argument #%d holds a zero byte", position);
        args.emplace_back(a);
    }
    int slot = 0;
    while (slot < CHILD_SLOTS && children[slot].pid != 0) ++slot;
    if (slot == CHILD_SLOTS) Xerror(201, "MACH: Process limit exceeded");
    children[slot].done = children[slot].status = 0;
    const int option = code[2] - '0';
    if (option <= 3)
        start_background(slot, option, args);
    else
        start_foreground(slot, option, args);
    store_text(arg(nargs, last, 1), std::string(1, static_cast<char>(slot)), "MACH");
}

// ---- Reading and writing ----------------------------------------------------------------------------

// Reads what the pipe has into the slot's pending output: false at its end.
bool fill(int slot)
{
    char chunk[READ_CHUNK];
    for (;;) {
        const ssize_t n = read(children[slot].read_fd, chunk, sizeof chunk);
        if (n > 0) {
            pending[slot].append(chunk, static_cast<std::size_t>(n));
            return true;
        }
        if (n == 0) return false;
        if (!interrupted(errno)) Syserr("Error reading from spawned process");
    }
}

// RP: one line of at most length bytes, its line end not kept. The count is -1 only when the
// pipe has ended before any byte of this line: the bytes of a last line without a line end come
// with their count, and the end on the next call.
void mach_read(int slot, int nargs, int last)
{
    if (nargs != 4) refuse("MACH: Incorrect parameter count");
    Stack &buffer = arg(nargs, last, 2);
    Stack &count = arg(nargs, last, 3);
    if (!is_text(buffer)) refuse("MACH: Argument #3 must be a string");
    if (!text_variable(buffer)) refuse("MACH: argument #3 must be a variable");
    if (buffer.flags & stk_fixed) refuse("MACH: string buffer must be non-fixed");
    if (buffer.s_t == string_array) refuse("MACH: string buffer cannot be an array");
    if (count.s_t != real || !is_number(count)) refuse("MACH: buffer length argument must be numeric scalar");
    if (!(count.flags & stk_ref)) refuse("MACH: argument #4 must be a variable");
    const int length = integer(count);
    if (length < 0) refuse("MACH: RP Length must not be negative");
    if (static_cast<std::uint32_t>(length) > buffer.s_dims[0]) refuse("MACH: RP Length exceeds buffer size");
    if (children[slot].read_fd < 0) refuse("MACH: Process not opened for reading");

    std::string &in = pending[slot];
    std::string line;
    bool ended = false;
    while (line.size() < static_cast<std::size_t>(length)) {
        if (in.empty() && !fill(slot)) {
            ended = true;
            break;
        }
        const std::size_t room = static_cast<std::size_t>(length) - line.size();
        const std::size_t end = in.find('\n');
        if (end != std::string::npos && end < room) {
            line.append(in, 0, end);
            in.erase(0, end + 1);
            break;
        }
        const std::size_t take = std::min(room, in.size());
        line.append(in, 0, take);
        in.erase(0, take);
    }
    store_text(buffer, line, "MACH");
    NumericCvINT(ended && line.empty() ? -1 : static_cast<int>(line.size()), count.s_c.C_N);
}

// What a child that stopped reading has said, for the report of the failed write: what was read
// already, then what comes within a moment.
std::string complaint(int slot)
{
    std::string said = pending[slot].substr(0, COMPLAINT_MAX);
    struct pollfd p{children[slot].read_fd, POLLIN, 0};
    while (said.size() < COMPLAINT_MAX && poll(&p, 1, COMPLAINT_WAIT_MS) > 0) {
        char chunk[COMPLAINT_MAX];
        const ssize_t n = read(p.fd, chunk, COMPLAINT_MAX - said.size());
        if (n <= 0) break;
        said.append(chunk, static_cast<std::size_t>(n));
    }
    return said;
}

void mach_write(int slot, int nargs, int last)
{
    if (nargs != 3) refuse("MACH: Too many parameters");
    const Stack &data = arg(nargs, last, 2);
    if (!is_text(data)) refuse("MACH: Argument #3 must be a string");
    if (data.s_t == string_array) refuse("MACH: string buffer cannot be an array");
    if (children[slot].write_fd < 0) refuse("MACH: Process not opened for writing");
    std::string_view t = text(data);
    while (!t.empty()) {
        const ssize_t n = write(children[slot].write_fd, t.data(), t.size());
        if (n >= 0) {
            t.remove_prefix(static_cast<std::size_t>(n));
            continue;
        }
        if (interrupted(errno)) continue;
        const int error = errno;
        if (children[slot].read_fd >= 0) {
            const std::string said = complaint(slot);
            if (!said.empty()) Xerror(309, "%s", said.c_str());
        }
        errno = error;
        Syserr("Error writing to spawned process");
    }
}

void mach_close(std::string_view code, int slot, int nargs)
{
    if (nargs != 2) refuse("MACH: Incorrect parameter count");
    ChildSlot &c = children[slot];
    int &fd = code[1] == 'I' ? c.read_fd : c.write_fd;
    if (fd >= 0) close(fd);
    fd = -1;
    if (code[1] == 'I') pending[slot].clear();
}

// ---- Ending ----------------------------------------------------------------------------------------------

int code_of(int status)
{
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return WTERMSIG(status) | (WCOREDUMP(status) ? 0x80 : 0);
    if (WIFSTOPPED(status)) return WSTOPSIG(status);
    return 0;
}

// Waits up to the bound for pid to end: true when it has.
bool ends_within(pid_t pid, int milliseconds)
{
    const int fd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));  // close-on-exec by itself
    if (fd < 0) return false;
    struct pollfd p{fd, POLLIN, 0};
    int n;
    while ((n = poll(&p, 1, milliseconds)) < 0 && interrupted(errno)) {}
    close(fd);
    return n > 0;
}

// SIGTERM, then the child is reaped: a child that does not end within the bound is killed.
void terminate_child(int slot)
{
    ChildSlot &c = children[slot];
    if (c.done) return;
    kill(c.pid, SIGTERM);
    if (!ends_within(c.pid, TERMINATE_WAIT_MS)) kill(c.pid, SIGKILL);
    c.status = child_exec::reap(c.pid);
    c.done = 1;
}

void mach_end(std::string_view code, int slot, int nargs, int last)
{
    if (nargs != 3) refuse("MACH: Incorrect parameter count");
    if (code[2] != '0' && code[2] != '1') refuse("MACH: Illegal TP option");
    Stack &result = arg(nargs, last, 2);
    if (!text_variable(result)) refuse("MACH: argument #3 must be a variable");
    if (result.flags & stk_fixed) refuse("MACH: return code must be non-fixed");
    ChildSlot &c = children[slot];
    for (int *fd : {&c.read_fd, &c.write_fd}) {
        if (*fd >= 0) close(*fd);
        *fd = -1;
    }
    int code_value;
    if (code[2] == '1') {
        code_value = await_child(slot);
    } else {
        terminate_child(slot);
        code_value = SIGTERM;
    }
    free_slot(slot);
    store_text(result, code_value ? std::string(1, static_cast<char>(code_value)) : std::string(), "MACH");
}

// The length and second letter each code must have.
bool well_formed(std::string_view code)
{
    switch (code[0]) {
    case 'S': case 'T': return code.size() >= 2 && code[1] == 'P';
    case 'R': case 'W': return code.size() == 2 && code[1] == 'P';
    case 'C': return code.size() == 2 && (code[1] == 'I' || code[1] == 'O');
    default: return false;
    }
}

} // namespace

void initialize_children()
{
    for (int slot = 0; slot < CHILD_SLOTS; ++slot) {
        children[slot] = ChildSlot{0, -1, -1, 0, 0};
        pending[slot].clear();
    }
}

int await_child(int slot)
{
    ChildSlot &c = children[slot];
    if (!c.done) {
        const int status = child_exec::reap(c.pid);
        if (status < 0) Abort("Child missing");
        c.status = status;
        c.done = 1;
    }
    const int code = code_of(c.status);
    if (code != 0) Warn("Debug: mach: Child exits with non zero status = %d \n", code);
    return code;
}

void mach(int nargs, int last)
{
    if (nargs < 2) refuse("MACH: Insufficient arguments");
    const Stack &reference = arg(nargs, last, 1);
    if (reference.flags & stk_fixed) refuse("MACH: Argument #2 cannot be fixed");
    const std::string code(text(arg(nargs, last, 0)));
    const char letter = code.empty() ? '\0' : code[0];
    if (letter == '\0' || !std::strchr("CRSTW", letter))
        Xerror(206, "MACH: Illegal parameter - \"%s\"", shown_name(code.c_str()).c_str());
    int slot = 0;
    if (letter != 'S') {
        slot = reference_slot(reference);
        if (slot >= CHILD_SLOTS) Xerror(211, "MACH: Illegal process ref A - \"%d\"", slot);
        if (children[slot].pid == 0) Xerror(211, "MACH: Illegal process ref B - \"%d\" %d", slot, static_cast<int>(getpid()));
    }
    if (!well_formed(code)) refuse("MACH: Illegal MACH code");
    switch (letter) {
    case 'S': mach_start(code, nargs, last); break;
    case 'R': mach_read(slot, nargs, last); break;
    case 'W': mach_write(slot, nargs, last); break;
    case 'C': mach_close(code, slot, nargs); break;
    case 'T':
        if (code.size() != 3) refuse("MACH: Illegal MACH code");
        mach_end(code, slot, nargs, last);
        break;
    }
}

namespace {

constexpr IntrinsicRow rows[] = {
    {in_MACH, mach},
};

} // namespace

std::span<const IntrinsicRow> child_process_intrinsics() { return rows; }
