// What a reader returns instead of stopping the run: its callers decide where the run stops, with
// the same text, and a reader's tests assert the value. A reader leaves its output untouched when
// it returns an error.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>

#include "message.h"

struct ReadError {
    int code = 0;             // 0: no error; otherwise the reader's own code for what it found
    std::string message;      // the text the run stops with, exactly as it is reported
    std::size_t offset = 0;   // byte offset in the input where it was found (0 when not known)

    explicit operator bool() const { return code != 0; }
};

// An error carrying a message formatted as printf does.
inline ReadError read_error(int code, std::size_t offset, const char *format, ...) G_GNUC_PRINTF(3, 4);
inline ReadError read_error(int code, std::size_t offset, const char *format, ...)
{
    std::va_list ap;
    va_start(ap, format);
    char *text = g_strdup_vprintf(format, ap);
    va_end(ap);
    ReadError error{code, text, offset};
    g_free(text);
    return error;
}

// Stops the run with the error's text when there is one (the call at the intrinsic).
inline void stop_on(const ReadError &error)
{
    if (error) Abort("%s", error.message.c_str());
}
