// libFuzzer target for the reader and writer of OpenDocument parts: every input is read as a part.
// A malformed part must come back as the reader's error with a message and an offset inside the
// part, never a crash or an overrun. A part that reads is written; what is written must read back
// and be written the same again.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "odf_tree.h"
#include "read_error.h"

namespace {

// An error must say what it is and where, and leave the output as it was.
void check_error(const ReadError &error, std::size_t size, bool untouched)
{
    if (error.message.empty() || error.offset > size || !untouched) {
        std::fprintf(stderr, "A refused part gave code %d, offset %zu of %zu, message \"%s\"%s\n", error.code,
                     error.offset, size, error.message.c_str(), untouched ? "" : ", and changed the output");
        std::abort();
    }
}

// Reads part and writes its tree into written; false when the reader or the writer refused it.
bool read_and_write(std::string_view part, std::string &written)
{
    IooTree tree;
    if (ReadError error = insert_oo_parse_xml(part, tree)) {
        check_error(error, part.size(), !tree);
        return false;
    }
    if (!tree) return true;
    if (ReadError error = insert_oo_write_xml(tree.get(), written)) {
        check_error(error, part.size(), written.empty());
        return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    std::string written;
    if (!read_and_write({reinterpret_cast<const char *>(data), size}, written)) return 0;
    std::string again;
    if (!read_and_write(written, again) || again != written) {
        std::fprintf(stderr, "The writer wrote a part that does not read back the same:\n%s\n---- written again:\n%s\n",
                     written.c_str(), again.c_str());
        std::abort();
    }
    return 0;
}
