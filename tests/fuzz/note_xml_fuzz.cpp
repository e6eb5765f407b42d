// libFuzzer target for the note XML reader and writer: every input is read as a note string with
// compact 0 and with compact 1, into a note that already holds a paragraph. A malformed string
// must come back as the reader's error (one of its codes, a message, an offset inside the string)
// with the note's list as it was, never as a crash or an overrun. When a string reads and its
// list is written (the writer may refuse a list with its own message, one beginning with an amount
// for instance: the library tests' host, whose Abort throws), the written string must read back.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "mem_mgt.h"
#include "note_model.h"
#include "test_host.h"

namespace {

// A scratch note record holding one paragraph "kept", whose list is freed however the run ends.
struct Scratch {
    NoteData_t *data = static_cast<NoteData_t *>(salloc(sizeof(NoteData_t)));
    NoteElement_t *kept = gmenu_parse_xml_add(data, "p");
    Scratch() { kept->p.text = Strcpy("kept"); }
    ~Scratch()
    {
        gnote_free_xml(data);
        sfree(data);
    }
};

[[noreturn]] void fail(const char *what, const ReadError &error, const char *string)
{
    std::fprintf(stderr, "%s (code %d at %zu: %s):\n%s\n", what, error.code, error.offset, error.message.c_str(),
                 string);
    std::abort();
}

// Reads string into a scratch note; when it does not read, checks the error and that the note kept
// its list.
ReadError read(Scratch &note, const char *string, int compact)
{
    ReadError error = gnote_parse_xml(note.data, string, compact);
    if (!error) return error;
    if (error.code < GNOTE_READ_NOTE || error.code > GNOTE_READ_ENTITY || error.message.empty() ||
        error.offset > std::strlen(string))
        fail("The reader returned an error of no meaning", error, string);
    if (note.data->note != note.kept || note.kept->next || std::strcmp(note.kept->p.text, "kept") != 0)
        fail("The reader changed the note of a string it refused", error, string);
    return error;
}

// Writes the note's list into written; false when the writer refused it.
bool write(Scratch &note, std::string &written)
{
    try {
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
        Scratch note;
        std::string written;
        if (read(note, input.c_str(), compact) || !write(note, written)) continue;
        for (int again : {0, 1}) {
            Scratch back;
            if (const ReadError error = read(back, written.c_str(), again))
                fail("The writer wrote a note its reader refuses", error, written.c_str());
        }
    }
    return 0;
}
