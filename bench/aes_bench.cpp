// IAES_ENCRYPT$ and IAES_DECRYPT$ as a program calls them (the argument on the value stack, the
// result text allocated by the case and freed as the value stack would), against OpenSSL's EVP
// AES-256-GCM with EVP_EncodeBlock/EVP_DecodeBlock doing the same work by hand: the same key, IV
// and texts, the same "tag?ciphertext" form in a new buffer, in the same run. Texts of 64 bytes
// and 4 KiB. Each benchmark first checks that both sides make (or read back) the same form.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include <openssl/evp.h>

#include "intrinsic_dispatch.h"
#include "intrinsics.h"
#include "mem_mgt.h"
#include "value_stack.h"

namespace {

// The run-time's current pair, for the peer.
const unsigned char KEY[32] = {0x5E, 0x8A, 0x13, 0xC7, 0xF0, 0x4B, 0x92, 0xD6, 0xA1, 0xE7, 0x38,
                               0x5F, 0xC2, 0x4D, 0x9B, 0x60, 0xE3, 0xA7, 0x1F, 0x58, 0xD2, 0x9C,
                               0x04, 0xB6, 0xF7, 0xE1, 0x8A, 0x3D, 0x52, 0xC9, 0x6B, 0x0F};
const unsigned char IV[16] = {0x7C, 0x41, 0xE9, 0xB0, 0x5D, 0x2A, 0x86, 0xF3,
                              0xC1, 0xE8, 0x4B, 0x6D, 0x09, 0xA5, 0xF2, 0x7E};

// A printable text of n bytes that ends in no white space.
std::string text_of(std::size_t n)
{
    std::mt19937 rng(4107);
    std::string t(n, 'x');
    for (char &c : t) c = static_cast<char>('!' + rng() % 94);
    return t;
}

// ---- The peer --------------------------------------------------------------------------------

// The form of text as a new malloc buffer (its length in *length), or nullptr on a failure.
char *peer_encrypt(const std::string &text, std::size_t *length)
{
    auto *ciphertext = static_cast<unsigned char *>(std::malloc(text.size() + 1));
    auto *form = static_cast<char *>(std::malloc(25 + (text.size() + 2) / 3 * 4 + 1));
    EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
    unsigned char tag[16];
    int n = 0, last = 0;
    const bool ok = ciphertext && form && ctx && EVP_EncryptInit_ex(ctx, EVP_aes_256_gcm(), nullptr, nullptr, nullptr) &&
                    EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_GCM_SET_IVLEN, 16, nullptr) &&
                    EVP_EncryptInit_ex(ctx, nullptr, nullptr, KEY, IV) &&
                    EVP_EncryptUpdate(ctx, ciphertext, &n, reinterpret_cast<const unsigned char *>(text.data()),
                                      static_cast<int>(text.size())) &&
                    EVP_EncryptFinal_ex(ctx, ciphertext + n, &last) &&
                    EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_GCM_GET_TAG, 16, tag);
    EVP_CIPHER_CTX_free(ctx);
    if (ok) {
        auto *out = reinterpret_cast<unsigned char *>(form);
        const int tag_text = EVP_EncodeBlock(out, tag, 16);
        form[tag_text] = '?';
        *length = static_cast<std::size_t>(tag_text + 1 + EVP_EncodeBlock(out + tag_text + 1, ciphertext, n + last));
    }
    std::free(ciphertext);
    if (!ok) std::free(form);
    return ok ? form : nullptr;
}

// The plain text of a form as a new malloc buffer, or nullptr when it does not authenticate.
char *peer_decrypt(const std::string &form, std::size_t *length)
{
    const std::size_t mark = form.find('?');
    if (mark == std::string::npos) return nullptr;
    unsigned char tag[18];
    const auto *bytes = reinterpret_cast<const unsigned char *>(form.data());
    if (mark != 24 || EVP_DecodeBlock(tag, bytes, 24) != 18) return nullptr;
    const std::size_t body = form.size() - mark - 1;
    int padding = 0;
    while (padding < 2 && body > static_cast<std::size_t>(padding) && form[form.size() - 1 - padding] == '=') ++padding;
    auto *ciphertext = static_cast<unsigned char *>(std::malloc(body / 4 * 3 + 1));
    auto *plain = static_cast<char *>(std::malloc(body / 4 * 3 + 1));
    EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
    const int decoded = ciphertext ? EVP_DecodeBlock(ciphertext, bytes + mark + 1, static_cast<int>(body)) : -1;
    int n = 0, last = 0;
    const bool ok = plain && ctx && decoded >= 0 && EVP_DecryptInit_ex(ctx, EVP_aes_256_gcm(), nullptr, nullptr, nullptr) &&
                    EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_GCM_SET_IVLEN, 16, nullptr) &&
                    EVP_DecryptInit_ex(ctx, nullptr, nullptr, KEY, IV) &&
                    EVP_DecryptUpdate(ctx, reinterpret_cast<unsigned char *>(plain), &n, ciphertext, decoded - padding) &&
                    EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_GCM_SET_TAG, 16, tag) &&
                    EVP_DecryptFinal_ex(ctx, reinterpret_cast<unsigned char *>(plain) + n, &last) > 0;
    EVP_CIPHER_CTX_free(ctx);
    std::free(ciphertext);
    if (!ok) {
        std::free(plain);
        return nullptr;
    }
    plain[n + last] = '\0';
    *length = static_cast<std::size_t>(n + last);
    return plain;
}

// ---- The intrinsics ----------------------------------------------------------------------------

// A text argument on the value stack, as a program's string variable is.
Stack text_argument(const std::string &t)
{
    Stack e{};
    e.s_t = string;
    e.s_c.C_S = const_cast<char *>(t.data());
    e.length = e.s_dims[0] = static_cast<std::uint32_t>(t.size());
    e.flags = stk_ref;
    return e;
}

// The string intrinsic code's result for the argument t.
std::string call(int code, const std::string &t)
{
    Stack stack[1] = {text_argument(t)};
    Stk = stack;
    Stack result{};
    s_intrins(&result, code, 1, 0);
    std::string out(result.s_c.C_S, result.length);
    sfree(result.s_c.C_S);
    Stk = nullptr;
    return out;
}

void run_intrinsic(benchmark::State &state, int code, const std::string &argument)
{
    Stack stack[1] = {text_argument(argument)};
    Stk = stack;
    Stack result{};
    for (auto _ : state) {
        s_intrins(&result, code, 1, 0);
        benchmark::DoNotOptimize(result.s_c.C_S);
        sfree(result.s_c.C_S);
    }
    Stk = nullptr;
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * state.range(0)));
}

// Both sides make the same form of the text, and read it back.
bool agree(benchmark::State &state, const std::string &text)
{
    std::size_t n = 0, m = 0;
    char *form = peer_encrypt(text, &n);
    const std::string peer_form = form ? std::string(form, n) : "";
    std::free(form);
    char *plain = peer_decrypt(peer_form, &m);
    const std::string peer_plain = plain ? std::string(plain, m) : "(not authentic)";
    std::free(plain);
    if (call(in_IAES_ENCRYPT, text) != peer_form || call(in_IAES_DECRYPT, peer_form) != text || peer_plain != text) {
        state.SkipWithError("the run-time and the peer disagree on the form");
        return false;
    }
    return true;
}

void BM_IaesEncrypt(benchmark::State &state)
{
    const std::string text = text_of(static_cast<std::size_t>(state.range(0)));
    if (agree(state, text)) run_intrinsic(state, in_IAES_ENCRYPT, text);
}

void BM_IaesDecrypt(benchmark::State &state)
{
    const std::string text = text_of(static_cast<std::size_t>(state.range(0)));
    if (agree(state, text)) run_intrinsic(state, in_IAES_DECRYPT, call(in_IAES_ENCRYPT, text));
}

void BM_EvpEncrypt(benchmark::State &state)
{
    const std::string text = text_of(static_cast<std::size_t>(state.range(0)));
    if (!agree(state, text)) return;
    std::size_t n = 0;
    for (auto _ : state) {
        char *form = peer_encrypt(text, &n);
        benchmark::DoNotOptimize(form);
        std::free(form);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * state.range(0)));
}

void BM_EvpDecrypt(benchmark::State &state)
{
    const std::string text = text_of(static_cast<std::size_t>(state.range(0)));
    if (!agree(state, text)) return;
    const std::string form = call(in_IAES_ENCRYPT, text);
    std::size_t n = 0;
    for (auto _ : state) {
        char *plain = peer_decrypt(form, &n);
        benchmark::DoNotOptimize(plain);
        std::free(plain);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * state.range(0)));
}

} // namespace

BENCHMARK(BM_IaesEncrypt)->Arg(64)->Arg(4096);
BENCHMARK(BM_EvpEncrypt)->Arg(64)->Arg(4096);
BENCHMARK(BM_IaesDecrypt)->Arg(64)->Arg(4096);
BENCHMARK(BM_EvpDecrypt)->Arg(64)->Arg(4096);
BENCHMARK_MAIN();
