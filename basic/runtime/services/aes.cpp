// AES-256-GCM text encryption on OpenSSL's EVP interface: the built-in key and IV (this file is
// the only place that holds them, and nothing here writes them anywhere), the earlier pairs that
// decryption still accepts, the base64 coding of the text form and the collecting of OpenSSL's
// error queue.
#include "aes.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <climits>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>

#include "mem_mgt.h"
#include "message.h"

namespace {

// ---- Built-in secrets ---------------------------------------------------------------------------
//
// Upper-case hexadecimal. The key and IV are fixed on purpose: a text always gives the same form,
// which stored data and equality look-ups rely on (README: what that means for confidentiality).
constexpr char keystr[] = "5E8A13C7F04B92D6A1E7385FC24D9B60E3A71F58D29C04B6F7E18A3D52C96B0F";
constexpr char ivstr[] = "7C41E9B05D2A86F3C1E84B6D09A5F27E";

// Earlier pairs, tried in order after the current one; null-ended and paired by position. Forms
// made with the earlier 8-byte IV still decrypt. An earlier 128-byte IV belongs here as well, once
// its value is known.
constexpr const char *OLD_KEY[] = {keystr, nullptr};
constexpr const char *OLD_IV[] = {"7C41E9B05D2A86F3", nullptr};

constexpr int KEY_SIZE = 32;
constexpr int IV_BUFFER_SIZE = 128;
constexpr int CURRENT_IV_SIZE = 16;
constexpr int TAG_SIZE = 16;
constexpr int TAG_BUFFER_SIZE = 32;
// The longest text whose form's length an int holds (the cipher's and the coder's counts are ints).
constexpr std::size_t MAX_TEXT = INT_MAX / 4 * 3 - 2 * TAG_BUFFER_SIZE;

constexpr bool hex_text(const char *text, std::size_t max_bytes)
{
    std::size_t n = 0;
    for (; text[n]; ++n)
        if (!((text[n] >= '0' && text[n] <= '9') || (text[n] >= 'A' && text[n] <= 'F'))) return false;
    return n > 0 && n % 2 == 0 && n / 2 <= max_bytes;
}

constexpr bool pairs_well_formed()
{
    std::size_t i = 0;
    for (; OLD_KEY[i]; ++i)
        if (!OLD_IV[i] || !hex_text(OLD_KEY[i], KEY_SIZE) || !hex_text(OLD_IV[i], IV_BUFFER_SIZE)) return false;
    return !OLD_IV[i];
}

static_assert(sizeof keystr == 2 * KEY_SIZE + 1 && hex_text(keystr, KEY_SIZE));
static_assert(sizeof ivstr == 2 * CURRENT_IV_SIZE + 1 && hex_text(ivstr, CURRENT_IV_SIZE));
// Every earlier IV fits the IV buffer, so decryption never meets an IV it cannot hold.
static_assert(pairs_well_formed());

// The decoded current pair, made on first use.
unsigned char key[KEY_SIZE];
unsigned char iv[IV_BUFFER_SIZE];
bool need_init = true;

// Two hex digits to a byte, the first giving the high four bits.
void hex_decode(const char *text, unsigned char *out, std::size_t bytes)
{
    auto digit = [](char c) { return c < 'A' ? c - '0' : c - 55; };
    for (std::size_t i = 0; i < bytes; ++i)
        out[i] = static_cast<unsigned char>(digit(text[2 * i]) << 4 | digit(text[2 * i + 1]));
}

// An earlier pair decoded for one attempt, wiped when the attempt is over.
struct OldPair {
    unsigned char key[KEY_SIZE] = {};
    unsigned char iv[IV_BUFFER_SIZE] = {};
    ~OldPair() { OPENSSL_cleanse(this, sizeof *this); }
};

void _init()
{
    hex_decode(keystr, key, KEY_SIZE);
    hex_decode(ivstr, iv, CURRENT_IV_SIZE);
    need_init = false;
}

// ---- OpenSSL helpers ----------------------------------------------------------------------------

struct CtxFree {
    void operator()(EVP_CIPHER_CTX *c) const { EVP_CIPHER_CTX_free(c); }
};
using CipherCtx = std::unique_ptr<EVP_CIPHER_CTX, CtxFree>;

struct BufferFree {
    void operator()(void *p) const { std::free(p); }
};
using Buffer = std::unique_ptr<unsigned char[], BufferFree>;

// A work buffer of size bytes (not cleared: every byte read is written first), which sfree may
// release; stops the run with message when memory runs out.
Buffer buffer(std::size_t size, const char *message)
{
    auto *p = static_cast<unsigned char *>(std::malloc(size ? size : 1));
    if (!p) Abort("%s", message);
    return Buffer(p);
}

// The cipher, fetched once: looking it up by name on every call costs more than a short text's
// encryption.
const EVP_CIPHER *aes_256_gcm()
{
    static const EVP_CIPHER *cipher = EVP_CIPHER_fetch(nullptr, "AES-256-GCM", nullptr);
    if (!cipher) _handleErrors();
    return cipher;
}

// Each error line of the queue, appended to the text *u collects; the first line as it is, each
// further one after a line break.
int _cb(const char *str, std::size_t len, void *u)
{
    auto &text = *static_cast<std::string *>(u);
    while (len > 0 && str[len - 1] == '\n') --len;
    if (!text.empty()) text += '\n';
    text.append(str, len);
    return 1;
}

// Empties the error queue into one text.
std::string ssl_errors()
{
    std::string text;
    ERR_print_errors_cb(_cb, &text);
    return text;
}

void check(int ok)
{
    if (ok != 1) _handleErrors();
}

// True for a character of the base64 alphabet (the padding character is none).
constexpr auto b64_alphabet = [] {
    std::array<bool, 256> table{};
    for (const char *p = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/"; *p; ++p)
        table[static_cast<unsigned char>(*p)] = true;
    return table;
}();

// The number of bytes a standard base64 text stands for, or -1 when it is none. EVP_DecodeBlock
// refuses every other character itself, but passes over white space at either end and takes "="
// anywhere; those are refused here, without a pass over the whole text.
long b64_decoded_size(const unsigned char *data, std::size_t length)
{
    if (length % 4 != 0) return -1;
    if (length == 0) return 0;
    std::size_t padding = 0;
    while (padding < 2 && data[length - 1 - padding] == '=') ++padding;
    const std::size_t body = length - padding;
    if (!b64_alphabet[data[0]] || !b64_alphabet[data[body - 1]] || std::memchr(data, '=', body)) return -1;
    return static_cast<long>(length / 4 * 3 - padding);
}

// True when a base64 text that decodes is the one encoding gives its bytes: the bits the last
// character before the padding carries beyond the data (four before "==", two before "=") are
// zero. Decoding passes over them, so without this check four texts stand for the same bytes.
bool b64_canonical(const unsigned char *data, std::size_t length)
{
    if (length < 2 || data[length - 1] != '=') return true;
    const bool two = data[length - 2] == '=';
    const unsigned char last = data[length - (two ? 3 : 2)];
    static constexpr std::string_view alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const std::size_t value = alphabet.find(static_cast<char>(last));
    return value != std::string_view::npos && (value & (two ? 0x0F : 0x03)) == 0;
}

int b64_encode(const unsigned char *data, std::size_t length, unsigned char *out, std::size_t size)
{
    if (length > MAX_TEXT) return -1;
    const std::size_t produced = (length + 2) / 3 * 4;
    if (produced + 1 > size) return -1;
    return EVP_EncodeBlock(out, data, static_cast<int>(length));
}

int b64_decode(const unsigned char *data, std::size_t length, unsigned char *out, std::size_t size)
{
    if (length > static_cast<std::size_t>(INT_MAX)) return -1;
    const long decoded = b64_decoded_size(data, length);
    if (decoded < 0) return -1;
    // EVP_DecodeBlock writes the padding's zero bytes too.
    const std::size_t whole = length / 4 * 3;
    const auto n = static_cast<std::size_t>(decoded);
    if (whole <= size) {
        if (EVP_DecodeBlock(out, data, static_cast<int>(length)) < 0) return -1;
    } else {
        std::vector<unsigned char> all(whole);
        if (EVP_DecodeBlock(all.data(), data, static_cast<int>(length)) < 0) return -1;
        std::memcpy(out, all.data(), std::min(n, size));
    }
    const std::size_t kept = std::min(n, size);
    if (kept < size) out[kept] = '\0';
    return static_cast<int>(kept);
}

} // namespace

int _b64(const unsigned char *data, std::size_t length, unsigned char *out, std::size_t size, int direction)
{
    return direction == 0 ? b64_encode(data, length, out, size) : b64_decode(data, length, out, size);
}

void _handleErrors()
{
    const std::string text = ssl_errors();
    Abort("%s", text.c_str());
}

int aes_gcm_encrypt(const char *text, std::size_t length, char **out)
{
    if (need_init) _init();
    Buffer ciphertext = buffer(length, "aes_gcm_encrypt: ciphertext alloc");
    // A form whose length an int cannot hold is refused like a buffer that cannot be had.
    if (length > MAX_TEXT) Abort("aes_gcm_encrypt: ciphertext64 alloc");
    const std::size_t form_size = TAG_BUFFER_SIZE + 1 + (length + 2) / 3 * 4 + 1;
    Buffer form_owner = buffer(form_size, "aes_gcm_encrypt: ciphertext64 alloc");
    auto *form = reinterpret_cast<char *>(form_owner.get());

    unsigned char tag[TAG_SIZE];
    {
        CipherCtx ctx(EVP_CIPHER_CTX_new());
        if (!ctx) _handleErrors();
        check(EVP_EncryptInit_ex(ctx.get(), aes_256_gcm(), nullptr, nullptr, nullptr));
        check(EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_IVLEN, CURRENT_IV_SIZE, nullptr));
        check(EVP_EncryptInit_ex(ctx.get(), nullptr, nullptr, key, iv));
        int produced = 0, last = 0;
        check(EVP_EncryptUpdate(ctx.get(), ciphertext.get(), &produced,
                                reinterpret_cast<const unsigned char *>(text), static_cast<int>(length)));
        check(EVP_EncryptFinal_ex(ctx.get(), ciphertext.get() + produced, &last));
        check(EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_GET_TAG, TAG_SIZE, tag));
    }

    // The tag's text (24 characters), "?", then the ciphertext's, written in place.
    auto *bytes = reinterpret_cast<unsigned char *>(form);
    const int tag_text = _b64(tag, TAG_SIZE, bytes, TAG_BUFFER_SIZE, 0);
    form[tag_text] = '?';
    const int body = _b64(ciphertext.get(), length, bytes + tag_text + 1, form_size - tag_text - 1, 0);
    if (tag_text < 0 || body < 0) Abort("aes_gcm_encrypt: asprintf error");
    form_owner.release();
    *out = form;
    return tag_text + 1 + body;
}

int _aes_gcm_decrypt(const char *form, std::size_t length, char **out, const unsigned char *key_bytes,
                     const unsigned char *iv_bytes, int iv_length)
{
    const char *mark = static_cast<const char *>(std::memchr(form, '?', length));
    if (!mark) Abort("aes_gcm_decrypt: incorrect ciphertext supplied");
    const auto *bytes = reinterpret_cast<const unsigned char *>(form);
    const auto tag_length = static_cast<std::size_t>(mark - form);

    unsigned char tag[TAG_BUFFER_SIZE] = {};
    const int tag_bytes = _b64(bytes, tag_length, tag, sizeof tag, 1);
    if (tag_bytes < 1) Abort("aes_gcm_decrypt: base64 decode error for tag");

    Buffer ciphertext = buffer(length + 1, "aes_gcm_decrypt: ciphertext alloc");
    Buffer plain_owner = buffer(length + 1, "aes_gcm_decrypt: plaintext alloc");
    auto *plain = reinterpret_cast<char *>(plain_owner.get());
    plain[0] = '\0';

    const int ciphertext_bytes = _b64(bytes + tag_length + 1, length - tag_length - 1, ciphertext.get(), length + 1, 1);
    if (ciphertext_bytes < 0) Abort("aes_gcm_decrypt: base64 decode error for ciphertext64");

    if (need_init) _init();

    int produced = 0, last = 0, authentic = 0;
    {
        CipherCtx ctx(EVP_CIPHER_CTX_new());
        if (!ctx) _handleErrors();
        check(EVP_DecryptInit_ex(ctx.get(), aes_256_gcm(), nullptr, nullptr, nullptr));
        check(EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_IVLEN, iv_length, nullptr));
        check(EVP_DecryptInit_ex(ctx.get(), nullptr, nullptr, key_bytes, iv_bytes));
        check(EVP_DecryptUpdate(ctx.get(), reinterpret_cast<unsigned char *>(plain), &produced, ciphertext.get(),
                                ciphertext_bytes));
        check(EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_TAG, TAG_SIZE, tag));
        // Only the form encryption makes authenticates: a tag of other than sixteen bytes (zero
        // bytes standing in for missing ones would let a cut tag pass now and then; extra ones
        // would be passed over), or a base64 text whose unused bits are set, is an altered form.
        authentic = EVP_DecryptFinal_ex(ctx.get(), reinterpret_cast<unsigned char *>(plain) + produced, &last);
        if (tag_bytes != TAG_SIZE || !b64_canonical(bytes, tag_length) ||
            !b64_canonical(bytes + tag_length + 1, length - tag_length - 1))
            authentic = 0;
    }
    if (authentic <= 0) {
        const std::string errors = ssl_errors();
        std::fprintf(stderr, "SSL ERR:\n%s\n", errors.c_str());
        std::fflush(stderr);
        return -1;
    }
    plain[produced + last] = '\0';
    plain_owner.release();
    *out = plain;
    return produced + last;
}

int aes_gcm_decrypt(const char *form, std::size_t length, char **out)
{
    // The attempt decodes the current pair into key and iv before it reads them.
    int ret = _aes_gcm_decrypt(form, length, out, key, iv, CURRENT_IV_SIZE);
    for (int i = 0; ret < 0 && OLD_KEY[i]; ++i) {
        OldPair pair;
        const std::size_t iv_length = std::strlen(OLD_IV[i]) / 2;
        hex_decode(OLD_KEY[i], pair.key, KEY_SIZE);
        hex_decode(OLD_IV[i], pair.iv, iv_length);
        ret = _aes_gcm_decrypt(form, length, out, pair.key, pair.iv, static_cast<int>(iv_length));
    }
    if (ret < 0) Abort("aes_gcm_decrypt: decryption failed!; ret=%d", ret);
    return ret;
}
