// zasm's assembler in the test program itself (zasm_run.h).
#include <sstream>
#include <stdexcept>

#include "mem_mgt.h"
#include "objfile.h"
#include "zasm_assembler.h"
#include "zasm_run.h"

namespace lumba_test {

void zasm_in_process(const std::string &text, const std::string &path)
{
    const std::string source = path + ".zasm";
    write_bytes(source, text);
    char *bare = basic_obj_fname(path.c_str());
    const std::string name = bare;
    sfree(bare);
    std::istringstream in(text);
    try {
        write_bytes(path, ztools::assemble_text(in, source, name));
    } catch (const ztools::AssemblyError &e) {
        throw std::runtime_error(std::string("zasm failed: ") + e.what());
    }
}

} // namespace lumba_test
