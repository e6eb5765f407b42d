// Rows of the tab-separated case tables that the test generators write.
#pragma once

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace lumba_test {

using TsvRow = std::vector<std::string>;

// Whether a line ending in a tab has an empty last field; tables whose last column may be empty
// need it kept, the others were read without it.
enum class TrailingEmptyField { dropped, kept };

// Every line of the file at path, split at tabs (an empty line gives an empty row).
inline std::vector<TsvRow> read_tsv(const char *path, TrailingEmptyField last = TrailingEmptyField::dropped)
{
    std::vector<TsvRow> rows;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        TsvRow row;
        std::stringstream fields(line);
        for (std::string f; std::getline(fields, f, '\t');) row.push_back(f);
        if (last == TrailingEmptyField::kept && !line.empty() && line.back() == '\t') row.emplace_back();
        rows.push_back(row);
    }
    return rows;
}

} // namespace lumba_test
