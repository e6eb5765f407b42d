// libFuzzer target for the SBR XML import: every input is written to a file and read by
// sbr_xml_parse. It must end in six lists or in the import's error (a message, an offset inside the
// document, no list left), never in a crash, an overrun, a leak or a hang.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include <glib.h>
#include <libxml/xmlerror.h>

#include "axml.h"
#include "ilist.h"
#include "read_error.h"

namespace {

std::string document_path;

void quiet(void *, const char *, ...) {}

int live_lists()
{
    int n = 0;
    for (const IList_t *l = master_list; l; l = l->next) ++n;
    return n;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    char *dir = g_dir_make_tmp("lumba-sbr-fuzz-XXXXXX", nullptr);
    document_path = std::string(dir) + "/document.xml";
    g_free(dir);
    // libxml2's diagnostics and the passes' lines would only bury the fuzzer's own output.
    xmlSetGenericErrorFunc(nullptr, quiet);
    if (!std::freopen("/dev/null", "w", stdout)) return 1;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (!g_file_set_contents(document_path.c_str(), reinterpret_cast<const char *>(data),
                             static_cast<gssize>(size), nullptr))
        return 0;
    const int before = live_lists();
    SbrResult_t lists{};
    const ReadError error = sbr_xml_parse(document_path.c_str(), lists);
    if (!error) {
        sbr_result_free(lists);
        return 0;
    }
    bool untouched = true;
    for (const IList_t *l : lists.lists) untouched = untouched && !l;
    if (error.message.empty() || error.offset > size || !untouched || live_lists() != before) {
        std::fprintf(stderr, "A refused document gave code %d, offset %zu of %zu, message \"%s\"%s\n", error.code,
                     error.offset, size, error.message.c_str(), untouched ? "" : ", and lists");
        std::abort();
    }
    return 0;
}
