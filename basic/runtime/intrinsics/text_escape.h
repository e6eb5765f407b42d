// Escaping text for mark-up and search-and-replace: the helpers behind IFNESCSTR$,
// IFNESC_XML_STR$ and ISTR_REPLACE$, shared with the screens, notes and printing, which put
// program text into mark-up of their own. Each takes and returns owned text; every byte counts
// (a text may hold zero bytes), nothing is read up to a terminator.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// The text with ">" as "&gt;", "<" as "&lt;", "&" as "&amp;" and "/" as "&#47;" (quotes stay):
// safe inside the Pango-style mark-up of labels and notes. The text is grown in place, so an
// escaped text costs one growth at most. When the text cannot grow the run ends with error 202
// "fn_escape_string: Failed to reallocate memory".
std::string fn_escape_string(std::string text);

// The text with ">", "<", "&", the double quote and "'" as "&gt;", "&lt;", "&amp;", "&quot;" and
// "&apos;" ("/" stays): safe in XML content and attribute values. When the text cannot grow the
// run ends with error 202 "fn_escape_xml_string: Failed to reallocate memory".
std::string fn_escape_xml_string(std::string text);

// The text, cut of its trailing blanks (code 32 only), with each occurrence of search replaced by
// replacement, scanning from the left and resuming after each replacement (occurrences do not
// overlap). Nothing (std::nullopt) when search is empty or when the result equals the cut text
// (nothing replaced). When the result cannot grow the run ends with "Out of memory".
std::optional<std::string> str_replace(std::string_view text, std::string_view search, std::string_view replacement);
