// IURL_ENCODE$: percent-encoding through libcurl, on one handle made on first use and kept for
// the rest of the run.
#include <curl/curl.h>

#include <climits>
#include <memory>

#include "cases.h"
#include "formatting.h"
#include "libcurl_calls.h"
#include "message.h"

namespace {

using namespace intr;

struct CurlFree {
    void operator()(char *p) const { libcurl().curl_free(p); }
};

CURL *url_handle()
{
    // Cleaned up when the process exits normally; a run that is replaced by exec needs no clean-up.
    static const std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> handle(libcurl().curl_easy_init(),
                                                                             libcurl().curl_easy_cleanup);
    if (!handle) Abort("url_encode: cannot make a URL library handle");
    return handle.get();
}

void aiurl_encode(int nargs, int last, Stack *result)
{
    if (nargs < 1) Xerror(200, "IURL_ENCODE$: wrong number of arguments (%d)", nargs);
    set_text(result, url_encode(text(Stk[last])));
}

} // namespace

namespace {

constexpr IntrinsicRow rows[] = {
    {in_IURL_ENCODE, aiurl_encode},
};

} // namespace

std::span<const IntrinsicRow> url_encode_intrinsics() { return rows; }

std::string url_encode(std::string_view text)
{
    // libcurl takes a length of 0 as "up to the terminator", so an empty text never reaches it.
    if (text.empty()) Abort("url_encode: Empty string passed in");
    if (text.size() > INT_MAX) Xerror(202, "url_encode: text of %zu bytes is too long", text.size());
    const std::unique_ptr<char, CurlFree> escaped(
        libcurl().curl_easy_escape(url_handle(), text.data(), static_cast<int>(text.size())));
    if (!escaped) Abort("url_encode: the URL library could not encode %zu bytes", text.size());
    return escaped.get();
}
