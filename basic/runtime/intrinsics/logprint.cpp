// LOGEMAIL, LOGPRINT and TPRINT: the statement's values as one text. Strings keep their
// printable characters, take "\n" and "\t" as a line end and a tab, and show any other byte as a
// backslash and its code in hexadecimal, so a log line or mail never carries control bytes.
#include <cstdio>
#include <string>

#include "executor.h"
#include "gdata.h"
#include "intrinsic_dispatch.h"
#include "io_internal.h"
#include "message.h"

namespace {

constexpr std::size_t TPRINT_AREA = 2048;
constexpr std::size_t TPRINT_SPARE = 5;

// Printable in the plain 7-bit sense, whatever the locale says about other bytes.
bool printable(unsigned char c) { return c >= 0x20 && c < 0x7F; }

void append_string(std::string &out, const char *s, long length)
{
    for (long i = 0; i < length; ++i) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c == '\\' && i + 1 < length && (s[i + 1] == 'n' || s[i + 1] == 't') && !(i > 0 && s[i - 1] == '\\')) {
            out += s[i + 1] == 'n' ? '\n' : '\t';
            ++i;
        } else if (printable(c)) {
            out += static_cast<char>(c);
        } else {
            char code[8];
            std::snprintf(code, sizeof code, "\\%X", c);
            out += code;
        }
    }
}

// Adds the text of the value numbered k (from 1) of the statement.
void append_value(std::string &out, const Stack &e, int k, const char *statement)
{
    switch (e.s_t) {
    case real:
        if (e.s_c.C_N) out += Convert_BCD(e.s_c.C_N);
        break;
    case string: {
        long n = 0;
        const char *text = entry_text(e, &n);
        if (text) append_string(out, text, n);
        break;
    }
    case real_array:
    case string_array: Io_error(7777, 0, "Argument %d to %s cannot be an array", k, statement);
    default: break;
    }
}

} // namespace

void log_email(int nargs, int last)
{
    if (nargs <= 0) return;
    const Stack *first = &Stk[last - nargs + 1];
    if (first[0].s_t != string)
        Io_error(7777, 0, "Argument %d to LOGEMAIL must be a string representing an e-mail address to send to", 1);
    long n = 0;
    const char *to = entry_text(first[0], &n);
    const std::string recipient(to ? to : "", to ? static_cast<std::size_t>(n) : 0);
    std::string text;
    for (int k = 1; k < nargs; ++k) append_value(text, first[k], k + 1, "LOGEMAIL");
    if (!text.empty()) Email(recipient.c_str(), "%s", text.c_str());
}

void log_print(int nargs, int last)
{
    std::string text;
    for (int k = 0; k < nargs; ++k) append_value(text, Stk[last - nargs + 1 + k], k + 1, "LOGPRINT");
    text += '\n';
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

void terminal_print(int nargs, int last)
{
    std::string text;
    for (int k = 0; k < nargs; ++k) {
        append_value(text, Stk[last - nargs + 1 + k], k + 1, "TPRINT");
        if (text.size() > TPRINT_AREA - TPRINT_SPARE)
            Io_error(7777, 0, "Buffer overflow while processing argument %d to TPRINT", k + 1);
    }
    mlog_do_tprint(text.c_str());
}
