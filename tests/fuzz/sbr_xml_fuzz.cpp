// libFuzzer target for the SBR XML import: every input is written to a file and read by
// sbr_xml_parse. It must end in six lists or in one of the import's own fatal messages (the
// throwing report sink of test_report_sink.cpp), never in a crash, an overrun, a leak or a hang.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include <glib.h>
#include <libxml/xmlerror.h>

#include "axml.h"
#include "test_host.h"

namespace {

std::string document_path;

void quiet(void *, const char *, ...) {}

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
    try {
        SbrResult_t lists = sbr_xml_parse(document_path.c_str());
        sbr_result_free(lists);
    } catch (const lumba_test::AbortError &) {
    }
    return 0;
}
