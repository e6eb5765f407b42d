// PATTERN.MATCH: a text against a POSIX extended regular expression, with the whole match and its
// groups stored into the program's string variables.
#include <regex.h>

#include <algorithm>
#include <limits>
#include <string>

#include "cases.h"
#include "formatting.h"
#include "mem_mgt.h"
#include "message.h"

namespace {

using namespace intr;

// A compiled expression, freed on every way out (a failed store ends the run by unwinding).
class CompiledPattern {
public:
    CompiledPattern(std::string_view pattern, bool ignore_case)
    {
        // regcomp reads up to a terminator: a zero byte inside would silently shorten the pattern.
        if (pattern.find('\0') != std::string_view::npos) Xerror(202, "PATTERN.MATCH: pattern holds a zero byte");
        const std::string terminated(pattern);
        const int rc = regcomp(&re_, terminated.c_str(), REG_EXTENDED | (ignore_case ? REG_ICASE : 0));
        if (rc != 0) Xerror(202, "PATTERN.MATCH: rexcomp() returns %d", rc);
    }
    ~CompiledPattern() { regfree(&re_); }
    CompiledPattern(const CompiledPattern &) = delete;
    CompiledPattern &operator=(const CompiledPattern &) = delete;
    const regex_t *get() const { return &re_; }

private:
    regex_t re_;
};

// A program's string variable, by reference: a constant given in its place must not be written.
bool string_variable(const Stack &e)
{
    const std::size_t size = (e.flags & stk_pointer) ? BasicPtrSz : e.s_dims[0];
    return is_text(e) && (e.flags & stk_ref) && e.s_c.C_S && variable_storage(e.s_c.C_S, size);
}

// Arguments: pattern, text, options (bit 0: ignore case), then the variables that take the whole
// match and the groups. The result is 1 on a match, else 0 with the variables left alone.
void ipatternmatch(int nargs, int last, Stack *result)
{
    if (nargs < 2) Xerror(200, "PATTERN.MATCH: wrong number of arguments (%d)", nargs);
    const int variables = std::max(nargs - 3, 0);
    if (variables > PATTERN_MAX_VARIABLES) Xerror(202, "PATTERN.MATCH: too many substring match variables");
    for (int i = 0; i < variables; ++i)
        if (!string_variable(arg(nargs, last, 3 + i))) Xerror(202, "PATTERN.MATCH: argument must be a string variable");
    const bool ignore_case = nargs >= 3 && (integer(arg(nargs, last, 2)) & 1);
    // The text is copied first: a variable that takes a part may be the very text matched.
    const std::string subject(text(arg(nargs, last, 1)));
    std::string_view parts[PATTERN_MAX_VARIABLES];
    const bool matched = pattern_match(text(arg(nargs, last, 0)), subject, ignore_case, std::span(parts, variables));
    if (matched)
        for (int i = 0; i < variables; ++i) store_text(arg(nargs, last, 3 + i), parts[i], "PATTERN.MATCH");
    set_number(result, matched ? 1 : 0);
}

} // namespace

namespace {

constexpr IntrinsicRow rows[] = {
    {in_PATTERN_MATCH, ipatternmatch},
};

} // namespace

std::span<const IntrinsicRow> pattern_match_intrinsics() { return rows; }

bool pattern_match(std::string_view pattern, std::string_view text, bool ignore_case, std::span<std::string_view> parts)
{
    if (parts.size() > PATTERN_MAX_VARIABLES) Xerror(202, "PATTERN.MATCH: too many substring match variables");
    if (text.size() > static_cast<std::size_t>(std::numeric_limits<regoff_t>::max()))
        Xerror(202, "PATTERN.MATCH: text of %zu bytes is too long", text.size());
    const CompiledPattern re(pattern, ignore_case);
    // REG_STARTEND bounds the search by the text's length, so zero bytes in it are matched too.
    regmatch_t m[PATTERN_MAX_VARIABLES];
    m[0].rm_so = 0;
    m[0].rm_eo = static_cast<regoff_t>(text.size());
    const char *subject = text.data() ? text.data() : "";
    const std::size_t wanted = std::max<std::size_t>(parts.size(), 1);
    if (regexec(re.get(), subject, wanted, m, REG_STARTEND) != 0) return false;
    for (std::size_t i = 0; i < parts.size(); ++i)
        parts[i] = m[i].rm_so < 0 ? std::string_view()
                                  : text.substr(static_cast<std::size_t>(m[i].rm_so),
                                                static_cast<std::size_t>(m[i].rm_eo - m[i].rm_so));
    return true;
}
