// The intrinsics that ask the system for facts or act on processes: GETENV$, GETSYS$,
// IREMOVE_NON_PRINTABLE$, and IPROCESS_CHECK and IPROCESS_KILL, which run the site's process
// scripts with an argument vector (never through a shell) and answer by their exit code.
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <pwd.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "cases.h"
#include "child_signals.h"
#include "file_intrinsics.h"
#include "message.h"
#include "misc.h"
#include "run_time.h"

namespace {

using namespace intr;

constexpr std::size_t HOST_AREA = 257;          // gethostname's area; a name filling it is refused
constexpr std::size_t FACT_MAX = 256;           // login names and home directories must be shorter
constexpr std::size_t PASSWD_AREA_MAX = 1 << 20;
constexpr std::uint32_t WIDTH_MAX = 256u << 20;  // widest result IREMOVE_NON_PRINTABLE$ pads to

void agetenv(int nargs, int last, Stack *result)
{
    need_an_argument(nargs);
    const char *value = std::getenv(plain_text(Stk[last]).c_str());
    set_text(result, value ? value : "");
}

std::string agetsys_return_error(int number) { return misc_error_text(number); }

std::string host_name()
{
    char area[HOST_AREA] = {};
    if (gethostname(area, sizeof area) != 0) Abort("HOSTNAME Error: %s", misc_get_error().c_str());
    area[HOST_AREA - 1] = '\0';
    if (std::strlen(area) >= FACT_MAX) Abort("HOSTNAME Error: Buffer overflow");
    return area;
}

// The login name or home directory of the real user; key names the fact in the messages and
// missing and too_long are its refusals. The work area grows when an entry does not fit it.
std::string user_fact(const char *key, const char *missing, const char *too_long, bool home)
{
    const long hint = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> area(hint == -1 ? 4096 : static_cast<std::size_t>(hint));
    struct passwd entry, *found = nullptr;
    int error;
    while ((error = getpwuid_r(getuid(), &entry, area.data(), area.size(), &found)) == ERANGE &&
           area.size() < PASSWD_AREA_MAX)
        area.resize(area.size() * 2);
    if (error != 0) Abort("%s Error: %s", key, agetsys_return_error(error).c_str());
    if (!found) Abort("%s Error: %s", key, missing);
    const std::string fact = home ? entry.pw_dir : entry.pw_name;
    if (fact.size() >= FACT_MAX) Abort("%s Error: %s", key, too_long);
    return fact;
}

void agetsys(int nargs, int last, Stack *result)
{
    need_an_argument(nargs);
    const std::string key = plain_text(Stk[last]);
    std::string fact;
    if (key == "HOSTNAME")
        fact = host_name();
    else if (key == "UID")
        fact = std::to_string(static_cast<int>(getuid()));
    else if (key == "PID")
        fact = std::to_string(static_cast<int>(getpid()));
    else if (key == "GID")
        fact = std::to_string(static_cast<int>(getgid()));
    else if (key == "LOGNAME")
        fact = user_fact("LOGNAME", "logname not found", "logname too long", false);
    else if (key == "HOMEDIR")
        fact = user_fact("HOMEDIR", "homedir not found", "homedir too long", true);
    else
        Abort("%s not supported", key.c_str());
    set_text(result, fact);
}

// Unprintable bytes leave the text unless the keep set names them; the result is exactly as wide
// as the first argument, cut or padded with blanks.
void remove_non_printable(int nargs, int last, Stack *result)
{
    if (nargs != 2) Abort("iremove_non_printable must have two parameters; not %d", nargs);
    const Stack &first = arg(nargs, last, 0);
    const std::string text = name_text(first);
    std::string keep = plain_text(arg(nargs, last, 1));
    keep.resize(std::strlen(utrunc_blank(keep.data())));
    const std::uint32_t width = first.s_dims[0];
    if (width > WIDTH_MAX) Xerror(202, "IREMOVE_NON_PRINTABLE$: width %u is too large", width);
    std::string out;
    for (char c : text)
        if (std::isprint(static_cast<unsigned char>(c)) || keep.find(c) != std::string::npos) out += c;
    out.resize(width, ' ');
    set_text(result, out);
}

// Runs argv[0] (found in the search path) with argv and waits for it: its wait status, or -1
// when no child could be started. A program that cannot be run exits with 127.
int run_script(const std::vector<std::string> &argv)
{
    std::vector<char *> args;
    for (const std::string &a : argv) args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child < 0) return -1;
    if (child == 0) {
        reset_child_signals();
        execvp(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0)
        if (errno != EINTR) return -1;
    return status;
}

// 1 when the script exited with 0, else 0; a script killed by a signal, or none started, ends the run.
int script_succeeded(const std::vector<std::string> &argv)
{
    const int status = run_script(argv);
    if (status < 0 || !WIFEXITED(status)) Abort("system error");
    return WEXITSTATUS(status) == 0 ? 1 : 0;
}

// The name goes to the script as one argument, whatever it holds.
void uprocess_check(int nargs, int last, Stack *result)
{
    need_arguments(nargs, 2);
    const std::string name = plain_text(arg(nargs, last, 0));
    const int number = integer(arg(nargs, last, 1));
    set_number(result, script_succeeded({PROCESS_CHECK_SCRIPT, name, std::to_string(number)}));
}

// Process ids of 1 and below stand for init, a process group or every process: never passed on.
void uprocess_kill(int nargs, int last, Stack *result)
{
    need_arguments(nargs, 1);
    const int pid = integer(arg(nargs, last, 0));
    set_number(result, pid <= 1 ? 0 : script_succeeded({SUDO_PROGRAM, PROCESS_KILL_SCRIPT, std::to_string(pid)}));
}


} // namespace

namespace {

constexpr IntrinsicRow rows[] = {
    {in_GETENV, agetenv},
    {in_GETSYS, agetsys},
    {in_IREMOVE_NON_PRINTABLE, remove_non_printable},
    {in_IPROCESS_CHECK, uprocess_check},
    {in_IPROCESS_KILL, uprocess_kill},
};

} // namespace

std::span<const IntrinsicRow> system_intrinsics() { return rows; }
