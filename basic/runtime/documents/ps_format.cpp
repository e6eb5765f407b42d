// See ps_format.h.
#include "ps_format.h"

#include <charconv>
#include <clocale>
#include <cstdio>
#include <locale.h>

namespace {

// The C locale for this thread while one text is formatted.
class CNumerics {
public:
    CNumerics() : previous_(uselocale(c_locale())) {}
    ~CNumerics() { uselocale(previous_); }
    CNumerics(const CNumerics &) = delete;
    CNumerics &operator=(const CNumerics &) = delete;

private:
    static locale_t c_locale()
    {
        static const locale_t c = newlocale(LC_ALL_MASK, "C", nullptr);
        return c;
    }
    locale_t previous_;
};

void append_v(std::string &out, const char *format, va_list args)
{
    const CNumerics c;
    va_list again;
    va_copy(again, args);
    char small[256];
    const int n = std::vsnprintf(small, sizeof small, format, args);
    if (n < 0) {
        va_end(again);
        return;
    }
    if (static_cast<std::size_t>(n) < sizeof small) {
        out.append(small, static_cast<std::size_t>(n));
    } else {
        const std::size_t at = out.size();
        out.resize(at + static_cast<std::size_t>(n) + 1);
        std::vsnprintf(out.data() + at, static_cast<std::size_t>(n) + 1, format, again);
        out.resize(at + static_cast<std::size_t>(n));
    }
    va_end(again);
}

} // namespace

void ps_append(std::string &out, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    append_v(out, format, args);
    va_end(args);
}

std::string ps_format(const char *format, ...)
{
    std::string out;
    va_list args;
    va_start(args, format);
    append_v(out, format, args);
    va_end(args);
    return out;
}

void ps_fixed(std::string &out, double value, int decimals)
{
    char text[64];
    const auto [end, error] = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
    if (error == std::errc{})
        out.append(text, end);
    else
        ps_append(out, "%0.*f", decimals, value);
}

void ps_integer(std::string &out, int value)
{
    char text[16];
    const auto [end, error] = std::to_chars(text, text + sizeof text, value);
    out.append(text, error == std::errc{} ? end : text);
}
