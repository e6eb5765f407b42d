// libFuzzer target for the reader and writer of OpenDocument parts: every input is read as a part.
// A malformed part must end in the reader's own fatal message (the report sink throws), never in a
// crash or an overrun. A part that reads is written; what is written must read back and be
// written the same again.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "odf_tree.h"
#include "test_host.h"

namespace {

// Reads part and writes its tree into written; false when the reader or the writer refused it
// (the message in written).
bool read_and_write(std::string_view part, std::string &written)
{
    try {
        IooTree tree = insert_oo_parse_xml(part);
        if (tree) insert_oo_write_xml(tree.get(), written);
        return true;
    } catch (const lumba_test::AbortError &e) {
        written = e.what();
        return false;
    }
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
