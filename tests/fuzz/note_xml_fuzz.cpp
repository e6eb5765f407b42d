// libFuzzer target for the note XML reader and writer: every input is read as a note string with
// compact 0 and with compact 1. A malformed string must end in the reader's own fatal message (the
// library tests' host, whose Abort throws), never in a crash or an overrun. When a string
// reads and its list is written (the writer may refuse a list with its own message, one beginning
// with an amount for instance), the written string must read back without a fatal message.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "mem_mgt.h"
#include "note_model.h"
#include "test_host.h"

namespace {

// A scratch note record whose list is freed however the reading ends.
struct Scratch {
    NoteData_t *data = static_cast<NoteData_t *>(salloc(sizeof(NoteData_t)));
    ~Scratch()
    {
        gnote_free_xml(data);
        sfree(data);
    }
};

// Reads string and writes its list into written; false when the reader or the writer refused it.
bool read_and_write(const char *string, int compact, std::string &written)
{
    Scratch note;
    try {
        gnote_parse_xml(note.data, string, compact);
        char *xml = gnote_get_xml(note.data);
        written = xml;
        sfree(xml);
        return true;
    } catch (const lumba_test::AbortError &) {
        return false;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string input(reinterpret_cast<const char *>(data), size);
    for (int compact : {0, 1}) {
        std::string written;
        if (!read_and_write(input.c_str(), compact, written)) continue;
        for (int again : {0, 1}) {
            Scratch back;
            try {
                gnote_parse_xml(back.data, written.c_str(), again);
            } catch (const lumba_test::AbortError &e) {
                std::fprintf(stderr, "The writer wrote a note its reader refuses (%s):\n%s\n", e.what(), written.c_str());
                std::abort();
            }
        }
    }
    return 0;
}
