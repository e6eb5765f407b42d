// Bounded formatting and the key-to-character rule.
#include "cutil.h"

#include <cstdio>
#include <gdk/gdk.h>

#include "message.h"

int cutil_sprintf(char *buffer, int size, const char *format, ...)
{
    std::va_list ap;
    va_start(ap, format);
    const int n = size < 1 ? std::vsnprintf(nullptr, 0, format, ap)
                           : std::vsnprintf(buffer, static_cast<std::size_t>(size), format, ap);
    va_end(ap);
    if (n < 0) Abort("cutil_sprintf format error encountered");
    if (n >= size) Abort("cutil_sprintf buffer overflow");
    return n;
}

int cutil_vpsprintf(char *buffer, int size, const char *format, std::va_list ap)
{
    const int n = size < 1 ? std::vsnprintf(nullptr, 0, format, ap)
                           : std::vsnprintf(buffer, static_cast<std::size_t>(size), format, ap);
    if (n < 0) Abort("cutil_sprintf format error encountered");
    if (n >= size) Abort("cutil_sprintf buffer overflow(2)");
    return n;
}

int cutil_conv_eventkey_to_char(unsigned keyval, unsigned state)
{
    constexpr unsigned no_character = GDK_CONTROL_MASK | GDK_ALT_MASK | GDK_META_MASK | GDK_HYPER_MASK;
    if (state & no_character) return '\n';
    if (keyval >= 32 && keyval <= 126) return static_cast<int>(keyval);
    switch (keyval) {
    case GDK_KEY_KP_Multiply: return '*';
    case GDK_KEY_KP_Add: return '+';
    case GDK_KEY_KP_Subtract: return '-';
    case GDK_KEY_KP_Decimal: return '.';
    case GDK_KEY_KP_Divide: return '/';
    default: break;
    }
    if (keyval >= GDK_KEY_KP_0 && keyval <= GDK_KEY_KP_9) return '0' + static_cast<int>(keyval - GDK_KEY_KP_0);
    return '\n';
}
