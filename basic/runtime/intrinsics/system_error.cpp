// The system's text for an error number, as every report of a failed system call quotes it.
#include <cerrno>
#include <cstring>

#include "misc.h"

std::string misc_error_text(int number)
{
    char area[1024];
    // The GNU form always yields a text ("Unknown error N" for a number it does not know).
    return strerror_r(number, area, sizeof area);
}

std::string misc_get_error()
{
    const int saved = errno;
    errno = 0;
    return misc_error_text(saved);
}
