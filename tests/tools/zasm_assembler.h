// The assembler behind zasm (README.md in this directory): readable text to the bytes of a ZEMA
// object file. Tests that load programs in-process assemble them here, without starting zasm.
#pragma once

#include <istream>
#include <stdexcept>
#include <string>

namespace ztools {

// A line zasm cannot assemble: "zasm: SOURCE:LINE: what is wrong".
struct AssemblyError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The object file for the text read from in (named source in messages), whose compiled-in name
// is name unless the text's header gives one. Throws AssemblyError.
std::string assemble_text(std::istream &in, const std::string &source, const std::string &name);

} // namespace ztools
