// The dispatcher cases of the documents in the database, the video frames and the file server:
// IDOC_FETCH, IDOC_STORE and IPQVIDEOFRAMES (numeric), IMFILER$ (string).
#include <string>

#include "cases.h"
#include "documents.h"
#include "message.h"
#include "service_cases.h"
#include "video_frames.h"

namespace {

using namespace intr;

void need(int nargs, int wanted, int code)
{
    if (nargs != wanted) Xerror(200, "%s called with wrong number of arguments (%d)", inbuilt[code].F_name, nargs);
}

void IDOC_FETCH_case(int nargs, int last, Stack *result)
{
    set_number(result, idoc_perform(nargs, last, in_IDOC_FETCH));
}

void IDOC_STORE_case(int nargs, int last, Stack *result)
{
    set_number(result, idoc_perform(nargs, last, in_IDOC_STORE));
}

// Connection handle, large-object OID, count, file prefix (read by its length).
void IPQVIDEOFRAMES_case(int nargs, int last, Stack *result)
{
    need(nargs, 4, in_IPQVIDEOFRAMES);
    const int handle = integer(arg(nargs, last, 0));
    const long oid = long_integer(arg(nargs, last, 1));
    const int count = integer(arg(nargs, last, 2));
    const std::string prefix(text(arg(nargs, last, 3)));
    set_number(result, ipqvideoframes(handle, oid, count, prefix.c_str()));
}

void IMFILER_case(int nargs, int last, Stack *result)
{
    need(nargs, 1, in_IMFILER);
    set_text(result, filer_client(text(arg(nargs, last, 0)), FILER_PORT, FILER_HOST));
}

constexpr IntrinsicRow rows[] = {
    {in_IDOC_FETCH, IDOC_FETCH_case},
    {in_IDOC_STORE, IDOC_STORE_case},
    {in_IPQVIDEOFRAMES, IPQVIDEOFRAMES_case},
    {in_IMFILER, IMFILER_case},
};

} // namespace

std::span<const IntrinsicRow> document_intrinsics() { return rows; }
