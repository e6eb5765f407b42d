// The program's diagnostic statements: a debug report, its own fatal report (LOG.ERROR), the dump
// of arguments and the variables behind them (VARINFO), and the address text of a variable.
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include <glib.h>

#include "applications.h"
#include "cases.h"
#include "crash_dump.h"
#include "errors.h"
#include "globals.h"
#include "gdata.h"
#include "hooks.h"
#include "interp.h"
#include "intrinsics.h"
#include "mem_mgt.h"
#include "message.h"
#include "run_time.h"

namespace {

constexpr std::size_t REPORT_SIZE = 2048;

std::string_view text_at(int index)
{
    const Stack &e = Stk[index];
    if (!intr::is_text(e)) return {};
    return intr::text(e);
}

// The routine that executed the statement.
Routine *calling_routine()
{
    if (!routines || cur_routine < 0 || cur_routine > loaded_routines || cur_routine >= MAX_ROUTINES) return nullptr;
    return &routines[cur_routine];
}

// Where a reference entry's variable lies and how its symbol is typed; a structure's routine is
// the one its entry names.
struct VariablePlace {
    Address address = 0;
    SymType mask = 0;
    Routine *routine = nullptr;
};

VariablePlace place_of(const Stack &e)
{
    VariablePlace p;
    p.routine = calling_routine();
    switch (e.s_t) {
    case real:
    case real_array: p.address = reinterpret_cast<Address>(e.s_c.C_N); p.mask = s_numeric; break;
    case string:
    case string_array: p.address = reinterpret_cast<Address>(e.s_c.C_S); p.mask = s_string; break;
    case bstruct:
        p.address = reinterpret_cast<Address>(e.s_c.C_P);
        p.mask = s_struct;
        p.routine = nullptr;
        // Followed only when it is a routine record of the running program.
        for (int i = 0; routines && i <= loaded_routines && i < MAX_ROUTINES; ++i)
            if (reinterpret_cast<Address>(&routines[i]) == e.params[0]) p.routine = &routines[i];
        break;
    default: break;
    }
    return p;
}

void append_bounded(std::string &report, const std::string &part)
{
    if (report.size() < REPORT_SIZE - 1) report += part.substr(0, REPORT_SIZE - 1 - report.size());
}

std::string labelled(const char *label, std::string_view value) { return label + std::string(value) + "\n"; }

} // namespace

void log_debug(int last)
{
    std::string_view t = text_at(last);
    Debug("%.*s", static_cast<int>(std::min<std::size_t>(t.size(), REPORT_SIZE - 1)), t.data());
}

void log_window(int last)
{
    have_abort = 1;
    std::string_view heading = text_at(last - 8), program = text_at(last - 7), issue = text_at(last - 6),
                     label = text_at(last - 5), table = text_at(last - 4), data_path = text_at(last - 3),
                     function = text_at(last - 2), meaning = text_at(last - 1), message = text_at(last);
    std::string apps;
    for (Application_t *ap = applications; ap; ap = ap->next) apps += std::string(ap == applications ? "" : ", ") + ap->name;
    char when[64];
    std::time_t now = std::time(nullptr);
    struct tm tm;
    localtime_r(&now, &tm);
    std::snprintf(when, sizeof when, "%04d-%02d-%02d %02d:%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                  tm.tm_hour, tm.tm_min);

    std::string report;
    for (const std::string &part : {
             std::string(heading) + "\n",
             std::string("** E R R O R ** This information will be emailed to Oska.\n"),
             labelled("Program:  ", program),
             "App:v." + std::string(apps_version) + "; " + apps + "; Lumba:v." + LUMBA_VERSION + "; \n",
             labelled("Issue:    ", issue),
             labelled("When:     ", when),
             labelled("Label:    ", label),
             labelled("Table:    ", table),
             labelled("Datapath: ", data_path),
             labelled("Function Name: ", function),
             labelled("Meaning:  ", meaning),
             labelled("Message:  ", message),
         })
        append_bounded(report, part);

    char *clean = perform_log_conv_cr(report.c_str());
    if (Back_ground)
        _mlog(1, -1, "%s", clean);
    else
        window_hooks().message(clean, "fatal");

    std::vector<std::string> lines{"", clean};
    g_free(clean);
    ProgramTraceLines(lines);
    for (int i = 1; i <= TRACE_SIZE; ++i) {
        const char *entry = trace_log[(p_trace - i + TRACE_SIZE) % TRACE_SIZE];
        if (!entry[0]) break;
        lines.emplace_back(entry, strnlen(entry, TRACE_LINE));
    }
    std::vector<char *> list;
    for (std::string &l : lines) list.push_back(l.data());
    list.push_back(nullptr);
    // The program's own report goes to support, whatever its kind word would choose.
    E_mesg_to(SUPPORT_ADDRESS, "rerror", list.data());
}

void varinfo(int nargs, int last)
{
    for (int i = 0; i < nargs; ++i) {
        const Stack &e = intr::arg(nargs, last, i);
        dump_stack_entry(stdout, i, e);
        if (!(e.flags & stk_ref)) {
            std::printf("  Litteral value\n");
            continue;
        }
        VariablePlace p = place_of(e);
        Symbol *symbol = p.routine && p.mask ? FindSymbolExMloc(p.routine, p.mask, 0, p.address) : nullptr;
        if (!symbol) {
            if (Routine *main = SeekRunTimeRoutine("_MAIN_")) {
                symbol = FindSymbolExMlocAbsolute(main, p.address);
                if (symbol) p.routine = main;
            }
        }
        std::printf("  Variable: 0x%X, %s symbol [@ %s 0x%lX]\n", static_cast<unsigned>(p.address & 0xFFFFFFFFu),
                    symbol ? "found" : "no", p.routine ? p.routine->R_name.c_str() : "MAIN",
                    reinterpret_cast<unsigned long>(p.routine));
        if (symbol) PrintSymbol(symbol, stdout);
    }
    std::fflush(stdout);
}

char *get_variable_address(int nargs, int last, char *area, int size)
{
    if (size < 25) Abort("get_variable_address() needs atleast a bufsz of 25");
    const Stack &e = intr::arg(nargs, last, 0);
    if (nargs < 1 || !(e.flags & stk_ref)) {
        std::snprintf(area, static_cast<std::size_t>(size), "0x0:0x0");
        return area;
    }
    VariablePlace p = place_of(e);
    std::snprintf(area, static_cast<std::size_t>(size), "0x%lX:0x%lX", static_cast<unsigned long>(p.address),
                  reinterpret_cast<unsigned long>(p.routine));
    return area;
}
