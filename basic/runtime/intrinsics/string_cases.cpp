// The string intrinsics the dispatcher works out itself: names and texts of the run-time's state,
// characters and runs of them, the text filters, repetition, lookup, trimming, temporary
// directories, the texts behind text references and the address text of a variable.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "applications.h"
#include "cases.h"
#include "executor.h"
#include "loader.h"
#include "mem_mgt.h"
#include "message.h"
#include "run_time.h"
#include "startup.h"

namespace {

using namespace intr;

// The text work area of the filters.
constexpr std::size_t TEXT_AREA = 4096;
constexpr int ADDRESS_AREA = 2049;

std::string_view bounded(const char *text, std::size_t size) { return {text, strnlen(text, size)}; }
std::string_view or_unknown(const char *text) { return text ? text : "Unknown"; }

void refuse_long(const char *name, std::size_t length, std::size_t limit)
{
    if (length > limit) Xerror(202, "%s: text of %zu bytes is longer than %zu", name, length, limit);
}

void APPLICATIONNAME_case(int, int, Stack *result)
{
    set_text(result, or_unknown(current_application ? current_application->name : nullptr));
}

void APP_PROG_case(int, int, Stack *result)
{
    std::string_view name = or_unknown(current_application ? current_application->name : nullptr);
    set_text(result, name.substr(0, name.find('_')));
}

void ARGV_case(int nargs, int last, Stack *result)
{
    const int i = integer(arg(nargs, last, 0));
    if (i > ARGC || i < 1 || !ARGV) Xerror(202, "ARGV$: index out of range");
    const auto w = static_cast<std::size_t>(ARGV_width);
    const char *slot = ARGV + static_cast<std::size_t>(i - 1) * w;
    // w bytes whatever the argument: a shorter one keeps its padding; a zero byte ends the copy.
    std::string copy(w, '\0');
    std::memcpy(copy.data(), slot, strnlen(slot, w));
    set_text(result, copy);
}

void BASICLINENO_case(int, int, Stack *result) { set_text(result, std::to_string(src_line_number)); }

void control_case(int nargs, int last, Stack *result)
{
    const auto code = static_cast<int>(result->s_c.C_A);
    Intrinsic_string(result, code, nargs != 0 ? integer(arg(nargs, last, 0)) : 1);
}

void CHR_case(int nargs, int last, Stack *result)
{
    const int n = integer(arg(nargs, last, 0));
    if (n < 0) Xerror(202, "CHR$: argument must be positive not %d", n);
    const char c = static_cast<char>(n % 256);
    set_text(result, c ? std::string_view(&c, 1) : std::string_view());
}

void ERROR_TEXT_case(int, int, Stack *result) { set_text(result, bounded(Error_text, sizeof Error_text)); }
void EXIT_STRING_case(int, int, Stack *result) { set_text(result, bounded(EXIT_STRING, sizeof EXIT_STRING)); }

void HEX_case(int nargs, int last, Stack *result)
{
    set_text(result, Convert_HEX(number(arg(nargs, last, 0))));
}

// The database filters: bytes of 127 and above and backslashes become blanks; with quote
// doubling, each "'" is written twice.
std::string filtered(std::string_view in, bool double_quotes)
{
    std::string out;
    out.reserve(in.size());
    for (char ch : in) {
        const auto c = static_cast<unsigned char>(ch);
        if (c >= 127)
            out += ' ';
        else if (double_quotes && c == '\'')
            out += "''";
        else if (c == '\\')
            out += ' ';
        else
            out += ch;
    }
    return out;
}

void IFNCOPYFILTER_case(int nargs, int last, Stack *result)
{
    std::string_view in = text(arg(nargs, last, 0));
    refuse_long("IFNCOPYFILTER$", in.size(), TEXT_AREA);
    set_text(result, filtered(in, false));
}

void IFNPQFILTER_case(int nargs, int last, Stack *result)
{
    std::string out = filtered(text(arg(nargs, last, 0)), true);
    refuse_long("IFNPQFILTER$", out.size(), TEXT_AREA);
    set_text(result, out);
}

void IPQE_case(int nargs, int last, Stack *result)
{
    std::string_view in = text(arg(nargs, last, 0));
    in = in.substr(0, in.find('\0'));
    std::string out;
    for (char c : in) out += c == '\'' ? "''" : std::string(1, c);
    refuse_long("IPQE$", out.size(), TEXT_AREA);
    set_text(result, out);
}

void IREPEAT_case(int nargs, int last, Stack *result)
{
    std::string_view t = text(arg(nargs, last, 0));
    const int n = integer(arg(nargs, last, 1));
    if (n < 0) Xerror(202, "IREPEAT$: count must not be negative (%d)", n);
    // A zero byte inside the text ends the result there: the first copy up to it is all there is.
    const std::size_t zero = t.find('\0');
    if (zero != std::string_view::npos) {
        set_text(result, n ? t.substr(0, zero) : std::string_view());
        return;
    }
    const std::uint64_t size = static_cast<std::uint64_t>(t.size()) * static_cast<std::uint64_t>(n);
    if (size > REPEAT_LIMIT)
        Xerror(202, "IREPEAT$: result of %llu bytes is too long", static_cast<unsigned long long>(size));
    auto *out = static_cast<char *>(salloc(static_cast<std::size_t>(size) + 1));
    for (int i = 0; i < n && !t.empty(); ++i) std::memcpy(out + static_cast<std::size_t>(i) * t.size(), t.data(), t.size());
    out[size] = '\0';
    result->s_t = string;
    result->s_c.C_S = out;
    result->length = static_cast<std::uint32_t>(size);
}

void ISSUE_case(int, int, Stack *result) { set_text(result, bounded(ISSUE_STR, sizeof ISSUE_STR)); }

void LOOKUP_STRING_case(int nargs, int last, Stack *result)
{
    const int k = integer(arg(nargs, last, 0));
    set_text(result, k >= 1 && k < nargs ? text(arg(nargs, last, k)) : std::string_view());
}

void LSTRIP_case(int nargs, int last, Stack *result)
{
    std::string_view s = text(arg(nargs, last, 0));
    const std::size_t start = s.find_first_not_of(' ');
    set_text(result, start == std::string_view::npos ? std::string_view() : s.substr(start));
}

void STRIP_case(int nargs, int last, Stack *result)
{
    std::string_view s = text(arg(nargs, last, 0));
    const std::size_t end = s.find_last_not_of(' ');
    set_text(result, end == std::string_view::npos ? std::string_view() : s.substr(0, end + 1));
}

// The template is copied, so a constant stays a template; the new name goes back only into a
// variable given as the template. Its text is taken as it is: a fixed-length variable pads its
// template with blanks, so its last six characters are no XXXXXX and mkdtemp refuses it (error 202
// with the system's text). The blanks are not cut: where a padded template ends is a guess, and a
// guess could make a directory by a name the program never gave.
void MKTEMP_case(int nargs, int last, Stack *result)
{
    Stack &t = arg(nargs, last, 0);
    std::string_view v = text(t);
    std::string name(v.substr(0, v.find('\0')));
    if (!mkdtemp(name.data())) Xerror(202, "MKTEMP$: %s", std::strerror(errno));
    if ((t.flags & stk_ref) && t.s_c.C_S && variable_storage(t.s_c.C_S, (t.flags & stk_pointer) ? BasicPtrSz : t.length))
        store_text(t, name, "MKTEMP$");
    set_text(result, name);
}

void ORUN_ORIGIN_case(int, int, Stack *result)
{
    set_text(result, Minterp ? bounded(Minterp->origin_name, sizeof Minterp->origin_name) : std::string_view());
}

void PROGRAM_case(int, int, Stack *result) { set_text(result, or_unknown(LoadedProgramName)); }

void PROGRAMPOINT_case(int, int, Stack *result)
{
    const char *point = ProgramPoint();
    set_text(result, point ? point : "Unknown-?:");
}

void ROUTINENAME_case(int, int, Stack *result) { set_text(result, or_unknown(CurrentRoutineName())); }

void SHOWTEXT_case(int nargs, int last, Stack *result)
{
    const char *name = inbuilt[static_cast<int>(result->s_c.C_A)].F_name;
    const char *t = referenced_text(arg(nargs, last, 0), name);
    set_text(result, t ? t : "");
}

void STR_case(int nargs, int last, Stack *result) { set_text(result, Convert_BCD(number(arg(nargs, last, 0)))); }

void VARADR_case(int nargs, int last, Stack *result)
{
    char area[ADDRESS_AREA];
    get_variable_address(nargs, last, area, sizeof area);
    const Stack &v = arg(nargs, last, 0);
    // Only a structure of the main program may have its address taken (a local one goes away).
    if (v.flags & stk_ref) varadr_val_global_def(static_cast<Address>(reinterpret_cast<std::uintptr_t>(v.s_c.C_P)));
    set_text(result, area);
}

void X2GO_ID_case(int, int, Stack *result) { set_text(result, x2go_sid ? x2go_sid : ""); }

constexpr IntrinsicRow cases[] = {
    {in_APPLICATIONNAME, APPLICATIONNAME_case, exactly(0)},
    {in_APP_PROG, APP_PROG_case, exactly(0)},
    {in_ARGV, ARGV_case, exactly(1)},
    {in_BASICLINENO, BASICLINENO_case, exactly(0)},
    {in_BS, control_case, between(0, 1)},
    {in_CR, control_case, between(0, 1)},
    {in_FF, control_case, between(0, 1)},
    {in_LF, control_case, between(0, 1)},
    {in_TAB, control_case, between(0, 1)},
    {in_CHR, CHR_case, exactly(1)},
    {in_ERROR_TEXT, ERROR_TEXT_case, exactly(0)},
    {in_EXIT_STRING, EXIT_STRING_case, exactly(0)},
    {in_HEX, HEX_case, exactly(1)},
    {in_IFNCOPYFILTER, IFNCOPYFILTER_case, exactly(1)},
    {in_IFNPQFILTER, IFNPQFILTER_case, exactly(1)},
    {in_IPQE, IPQE_case, exactly(1)},
    {in_IREPEAT, IREPEAT_case, exactly(2)},
    {in_ISSUE, ISSUE_case, exactly(0)},
    {in_LOOKUP_STRING, LOOKUP_STRING_case, at_least(2)},
    {in_LSTRIP, LSTRIP_case, exactly(1), false, READS_TEXT_ONLY},
    {in_MKTEMP, MKTEMP_case, exactly(1)},
    {in_ORUN_ORIGIN, ORUN_ORIGIN_case, exactly(0)},
    {in_PROGRAM, PROGRAM_case, exactly(0)},
    {in_PROGRAMPOINT, PROGRAMPOINT_case, exactly(0)},
    {in_ROUTINENAME, ROUTINENAME_case, exactly(0)},
    {in_SHOWBYTEA, SHOWTEXT_case, exactly(1)},
    {in_SHOWTEXT, SHOWTEXT_case, exactly(1)},
    {in_STR, STR_case, exactly(1)},
    {in_STRIP, STRIP_case, exactly(1), false, READS_TEXT_ONLY},
    {in_VARADR, VARADR_case, exactly(1)},
    {in_X2GO_ID, X2GO_ID_case, exactly(0)},
};

} // namespace

std::span<const IntrinsicRow> string_intrinsics() { return cases; }
