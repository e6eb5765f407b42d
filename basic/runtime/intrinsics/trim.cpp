// The four ways of trimming white space that the file, geometry and encryption intrinsics share.
#include <cctype>
#include <cstring>

#include "misc.h"

namespace {

bool white(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

} // namespace

char *utrunc_space(char *text)
{
    char *p = text;
    while (*p && !white(*p)) ++p;
    *p = '\0';
    return text;
}

std::string utrunc_space_m(std::string_view text)
{
    std::size_t n = text.size();
    while (n > 0 && white(text[n - 1])) --n;
    return std::string(text.substr(0, n));
}

char *utrunc_blank(char *text)
{
    if (char *blank = std::strchr(text, ' ')) *blank = '\0';
    return text;
}

char *umisc_trim(char *text)
{
    std::size_t n = std::strlen(text);
    while (n > 0 && white(text[n - 1])) --n;
    text[n] = '\0';
    return text;
}
