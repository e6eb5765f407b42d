// What the two object-file tools share: the section ops and the text quoting. Their host hooks
// for the common library are tests/support/tool_host.cpp.
#include <cstdio>

#include "op_codes.h"
#include "zasm_text.h"

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
