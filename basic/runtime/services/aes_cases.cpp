// The dispatcher cases of IAES_ENCRYPT$ and IAES_DECRYPT$: one text argument, read by its length
// and without its trailing white space, whose encryption or decryption becomes the string result.
#include <string_view>

#include "aes.h"
#include "cases.h"
#include "message.h"
#include "service_cases.h"

namespace {

using namespace intr;

using AesOperation = int (*)(const char *text, std::size_t length, char **out);

// White space of the POSIX locale, whatever locale the windows have set since.
bool posix_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

void aes_case(int nargs, int last, Stack *result, AesOperation operation)
{
    if (nargs != 1) Abort("Invalid number of parameteres");
    std::string_view t = text(arg(nargs, last, 0));
    while (!t.empty() && posix_space(t.back())) t.remove_suffix(1);
    char *out = nullptr;
    const int length = operation(t.empty() ? "" : t.data(), t.size(), &out);
    result->s_t = string;
    result->s_c.C_S = out;
    result->length = static_cast<std::uint32_t>(length);
}

void IAES_ENCRYPT_case(int nargs, int last, Stack *result) { aes_case(nargs, last, result, aes_gcm_encrypt); }
void IAES_DECRYPT_case(int nargs, int last, Stack *result) { aes_case(nargs, last, result, aes_gcm_decrypt); }

constexpr IntrinsicRow rows[] = {
    {in_IAES_ENCRYPT, IAES_ENCRYPT_case},
    {in_IAES_DECRYPT, IAES_DECRYPT_case},
};

} // namespace

std::span<const IntrinsicRow> aes_intrinsics() { return rows; }
