// Runs the test tools zasm and zdis from tests, and reads and writes whole files.
#pragma once

#include <string>

namespace lumba_test {

// Assembles text into the object file path (its bare name is the compiled-in name unless the
// text's header gives one); throws std::runtime_error with zasm's message on failure.
void zasm(const std::string &text, const std::string &path);
// The same without starting zasm, for programs that link liblumba-common and assemble many
// programs (link lumba-test-assembler).
void zasm_in_process(const std::string &text, const std::string &path);
// The zasm text zdis prints for the object file path.
std::string zdis(const std::string &path);

std::string read_bytes(const std::string &path);
void write_bytes(const std::string &path, const std::string &bytes);

} // namespace lumba_test
