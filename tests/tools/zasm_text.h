// Shared by zasm and zdis: the section ops and quoting of texts.
#pragma once

#include <string>

namespace ztools {

// Byte op codes of the records that carry a text section instead of operands.
bool is_section_op(unsigned op);

// A text as zasm reads it back: double quotes, backslash escapes for \ " and control bytes.
std::string quote(const std::string &text);

// The default issue field: seven characters.
inline constexpr const char *DEFAULT_ISSUE = "V150611";
inline constexpr const char *DEFAULT_UNUSED15 = "-";

} // namespace ztools
