// Escaping for mark-up and search-and-replace (IFNESCSTR$, IFNESC_XML_STR$, ISTR_REPLACE$).
// Escaping grows the text once by what its special characters need and then fills it from the
// end, so each byte is moved once and nothing is copied twice.
#include "text_escape.h"
#include "formatting.h"

#include <new>
#include <stdexcept>

#include "cases.h"
#include "message.h"

namespace {

using namespace intr;

struct Escape {
    char c;
    std::string_view as;
};

constexpr Escape markup_escapes[] = {{'>', "&gt;"}, {'<', "&lt;"}, {'&', "&amp;"}, {'/', "&#47;"}};
constexpr Escape xml_escapes[] = {{'>', "&gt;"}, {'<', "&lt;"}, {'&', "&amp;"}, {'"', "&quot;"}, {'\'', "&apos;"}};

template <std::size_t N> const Escape *escape_of(const Escape (&table)[N], char c)
{
    for (const Escape &e : table)
        if (e.c == c) return &e;
    return nullptr;
}

template <std::size_t N> std::string escaped(std::string text, const Escape (&table)[N], const char *who)
{
    const std::size_t old_size = text.size();
    std::size_t extra = 0;
    for (char c : text)
        if (const Escape *e = escape_of(table, c)) extra += e->as.size() - 1;
    if (extra == 0) return text;
    try {
        text.resize(old_size + extra);
    } catch (const std::bad_alloc &) {
        Xerror(202, "%s: Failed to reallocate memory", who);
    } catch (const std::length_error &) {
        Xerror(202, "%s: Failed to reallocate memory", who);
    }
    // From the end: the write position never passes the read position, so nothing unread is
    // overwritten.
    std::size_t out = text.size();
    for (std::size_t in = old_size; in-- > 0;) {
        const char c = text[in];
        if (const Escape *e = escape_of(table, c)) {
            out -= e->as.size();
            e->as.copy(text.data() + out, e->as.size());
        } else {
            text[--out] = c;
        }
    }
    return text;
}

void fnescstr(int nargs, int last, Stack *result)
{
    if (nargs < 1) Xerror(200, "IFNESCSTR$: wrong number of arguments (%d)", nargs);
    set_text(result, fn_escape_string(std::string(text(Stk[last]))));
}

void fnesc_xml_str(int nargs, int last, Stack *result)
{
    if (nargs < 1) Xerror(200, "IFNESC_XML_STR$: wrong number of arguments (%d)", nargs);
    set_text(result, fn_escape_xml_string(std::string(text(Stk[last]))));
}

// Nothing replaced (or nothing to look for) gives the text as str_replace sees it: cut of its
// trailing blanks, so the result does not depend on whether a replacement happened.
void ustr_replace(int nargs, int last, Stack *result)
{
    if (nargs != 3) Abort("Invalid number of parameters");
    const std::string_view t = text(arg(nargs, last, 0));
    std::optional<std::string> replaced = str_replace(t, text(arg(nargs, last, 1)), text(arg(nargs, last, 2)));
    if (replaced) {
        set_text(result, *replaced);
        return;
    }
    std::size_t end = t.size();
    while (end > 0 && t[end - 1] == ' ') --end;
    set_text(result, t.substr(0, end));
}

} // namespace

namespace {

constexpr IntrinsicRow rows[] = {
    {in_IFNESCSTR, fnescstr},
    {in_IFNESC_XML_STR, fnesc_xml_str},
    {in_ISTR_REPLACE, ustr_replace},
};

} // namespace

std::span<const IntrinsicRow> text_escape_intrinsics() { return rows; }

std::string fn_escape_string(std::string text) { return escaped(std::move(text), markup_escapes, "fn_escape_string"); }

std::string fn_escape_xml_string(std::string text)
{
    return escaped(std::move(text), xml_escapes, "fn_escape_xml_string");
}

std::optional<std::string> str_replace(std::string_view text, std::string_view search, std::string_view replacement)
{
    if (search.empty()) return std::nullopt;
    std::size_t end = text.size();
    while (end > 0 && text[end - 1] == ' ') --end;
    text = text.substr(0, end);
    std::string out;
    bool replaced = false;
    try {
        std::size_t from = 0;
        for (std::size_t at; (at = text.find(search, from)) != std::string_view::npos; from = at + search.size()) {
            out.append(text, from, at - from).append(replacement);
            replaced = true;
        }
        if (!replaced) return std::nullopt;
        out.append(text, from);
    } catch (const std::bad_alloc &) {
        Abort("Out of memory");
    } catch (const std::length_error &) {
        Abort("Out of memory");
    }
    if (out == text) return std::nullopt;
    return out;
}
