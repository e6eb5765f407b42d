// What the common library needs from a program that hosts it, for the two object-file tools, and
// the text quoting they share.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "globals.h"
#include "op_codes.h"
#include "zasm_text.h"

RunPhase phase = initializing;
int yylineno;
int quiet = 1;
Routine *routines;
int cur_loaded_routine = -1;
char *obj_ptr;
char *obj_end;

int Load_buffer()
{
    return -1;  // the tools never read through the library's section readers
}

void mlog_mem_save(int, const void *) {}

void Abort(const char *format, ...)
{
    std::va_list ap;
    va_start(ap, format);
    std::vfprintf(stderr, format, ap);
    va_end(ap);
    std::fputc('\n', stderr);
    std::exit(1);
}

namespace ztools {

bool is_section_op(unsigned op)
{
    return op == o_inclvs || op == o_loadedfiles || op == o_sqltab || op == o_symtab;
}

std::string quote(const std::string &text)
{
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\t': out += "\\t"; break;
        case '\r': out += "\\r"; break;
        default:
            if (c < 0x20 || c >= 0x7F) {
                char hex[5];
                std::snprintf(hex, sizeof hex, "\\x%02X", c);
                out += hex;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out + "\"";
}

} // namespace ztools
