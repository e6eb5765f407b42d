// The statement intrinsics the dispatcher works out itself: ending the run, the data directory
// and the environment, the exit status and text, the manual page, sleeping, the user's identity,
// the indexed-file stubs, and the program's log and diagnostic statements.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <pwd.h>
#include <string>
#include <unistd.h>

#include "cases.h"
#include "executor.h"
#include "gdata.h"
#include "message.h"
#include "run_time.h"
#include "signals.h"
#include "structops.h"

namespace {

using namespace intr;

constexpr std::size_t FIXED_TEXT = 2048;  // exit text, manual name and section

// The environment entry of DPATH that CHG_ROOT makes; putenv keeps this very area, so a later
// CHG_ROOT changes the entry in place.
char DPATH_env[128];
constexpr std::size_t DPATH_NAME_MAX = sizeof DPATH_env - sizeof "DPATH=";

Stack &last_arg(int last) { return Stk[last]; }
std::string_view up_to_zero(std::string_view t) { return t.substr(0, t.find('\0')); }

void refuse_long(const char *name, std::string_view t, std::size_t limit)
{
    if (t.size() > limit) Xerror(202, "%s: text of %zu bytes is longer than %zu", name, t.size(), limit);
}

// Copies t into a fixed area of limit bytes and its terminator.
void set_fixed(char *area, const char *name, std::string_view t, std::size_t limit)
{
    refuse_long(name, t, limit);
    std::memcpy(area, t.data(), t.size());
    area[t.size()] = '\0';
}

void ABORT_case(int, int last)
{
    std::string t(text(last_arg(last)));
    Abort("%s", t.c_str());
}

void ADDKEY_case(int, int) { Xerror(301, "ADDKEY: No DISAM available"); }
void DELKEY_case(int, int) { Xerror(301, "DELKEY: No DISAM available"); }

void CHG_ROOT_case(int, int last)
{
    std::string_view dir = up_to_zero(text(last_arg(last)));
    if (dir.size() > DPATH_NAME_MAX)
        Xerror(202, "CHG_ROOT: directory name of %zu bytes is longer than %zu", dir.size(), DPATH_NAME_MAX);
    std::snprintf(DPATH_env, sizeof DPATH_env, "DPATH=%.*s", static_cast<int>(dir.size()), dir.data());
    putenv(DPATH_env);
    DPATH = getenv("DPATH");
    if (!DPATH || chdir(DPATH) != 0)
        Abort("*** Cannot change directory  to '%s'*** \n Contact your Oska Representative", DPATH ? DPATH : "");
}

void LOG_DEBUG_case(int, int last) { log_debug(last); }

void LOG_ERROR_case(int, int last)
{
    log_window(last);
    finish(1);
}

// NAME=VALUE, each part right-aligned in a field as wide as its length (a text that ends early
// is blank-padded on the left). The environment keeps the text.
void PUTENV_case(int, int last)
{
    auto field = [](std::string_view t) {
        std::string_view s = up_to_zero(t);
        return std::string(t.size() - s.size(), ' ') + std::string(s);
    };
    std::string entry = field(text(Stk[last - 1])) + "=" + field(text(last_arg(last)));
    putenv(g_strdup(entry.c_str()));
}

void SETEXIT_case(int, int last)
{
    const int status = integer(Stk[last - 1]);
    std::string_view t = text(last_arg(last));
    if (Minterp) {
        set_fixed(Minterp->EXIT_STRING, "SETEXIT", t, FIXED_TEXT);
        Minterp->EXIT_STAT = status;
    } else {
        set_fixed(EXIT_STRING, "SETEXIT", t, FIXED_TEXT);
        EXIT_STAT = status;
    }
}

void SETMAN_case(int, int last)
{
    std::string_view name = text(Stk[last - 1]), section = text(last_arg(last));
    refuse_long("SETMAN", name, FIXED_TEXT);
    set_fixed(MANUAL_SECTION, "SETMAN", section, FIXED_TEXT);
    set_fixed(MANUAL_NAME, "SETMAN", name, FIXED_TEXT);
}

void SLEEP_case(int, int last)
{
    const int seconds = integer(last_arg(last));
    if (seconds < 0) Xerror(202, "SLEEP: number of seconds must not be negative (%d)", seconds);
    // A signal wakes the sleep: the safe point acts on it, and the rest is slept when it lets the
    // run go on.
    for (unsigned left = static_cast<unsigned>(seconds); left > 0;) {
        left = sleep(left);
        check_signals();
    }
}

void USER_INFO_case(int, int last)
{
    const struct passwd *pw = pwent ? pwent : getpwuid(getuid());
    if (!pw) Abort("USER.INFO: no password entry for user %u", static_cast<unsigned>(getuid()));
    Stack &id = last_arg(last);
    if (!(id.flags & stk_ref) || !is_number(id)) Xerror(202, "USER.INFO: argument must be a numeric variable");
    store_text(Stk[last - 1], pw->pw_name, "USER.INFO");
    NumericCvINT(static_cast<int>(pw->pw_uid), id.s_c.C_N);
}

void VARINFO_case(int nargs, int last) { varinfo(nargs, last); }

// The program log: IMLOG's level and text, the statistics statements' name. The log functions
// check the argument count themselves, so arguments are read only when it is right.
void IMLOG_case(int nargs, int last)
{
    int level = 0;
    std::string_view t;
    if (nargs == 2) {
        level = integer(Stk[last - 1]);
        t = text(last_arg(last));
    }
    mlog_imlog(nargs, level, t.data(), t.size());
}

void IMLOG_STATS_case(int nargs, int last)
{
    std::string_view t = nargs == 1 ? text(last_arg(last)) : std::string_view();
    mlog_imlog_stats(nargs, t.data(), t.size());
}

constexpr IntrinsicRow cases[] = {
    {in_ABORT, ABORT_case, exactly(1)},
    {in_ADDKEY, ADDKEY_case},
    {in_DELKEY, DELKEY_case},
    {in_CHG_ROOT, CHG_ROOT_case, at_least(1)},
    {in_LOG_DEBUG, LOG_DEBUG_case, exactly(1)},
    {in_LOG_ERROR, LOG_ERROR_case, exactly(9)},
    {in_PUTENV, PUTENV_case, exactly(2)},
    {in_SETEXIT, SETEXIT_case, exactly(2)},
    {in_SETMAN, SETMAN_case, exactly(2)},
    {in_SLEEP, SLEEP_case, exactly(1)},
    {in_USER_INFO, USER_INFO_case, exactly(2)},
    {in_VARINFO, VARINFO_case},
    {in_IMLOG, IMLOG_case},
    {in_ISTRUCT_DUMP, istruct_dump},
    {in_IMLOG_PUSH_STATS, IMLOG_STATS_case},
    {in_IMLOG_POP_STATS, IMLOG_STATS_case},
};

} // namespace

std::span<const IntrinsicRow> statement_intrinsics() { return cases; }
