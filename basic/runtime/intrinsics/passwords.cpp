// IPASSWORD_ENCRYPT$ and IPASSWORD_CHECK: salted SHA-512 crypt hashes made and checked by the
// system's crypt library. This file owns the salt: method prefix, rounds setting, salt length and
// characters, all drawn from the system's random source.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <crypt.h>
#include <memory>
#include <string>
#include <sys/random.h>

#include "cases.h"
#include "file_intrinsics.h"
#include "gdata.h"
#include "message.h"
#include "misc.h"
#include "passwords.h"

namespace {

using namespace intr;

constexpr int MIN_SALT_SIZE = 8;
constexpr int MAX_SALT_SIZE = 16;
constexpr long MIN_ROUNDS = 1000;
constexpr std::size_t RESULT_SIZE = 40;  // a whole setting stays below this
// The 64 salt characters, in the order l64a gives them.
constexpr char SALT_CHARS[] = "./0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

void random_bytes(void *area, std::size_t size)
{
    auto *p = static_cast<unsigned char *>(area);
    while (size > 0) {
        const ssize_t n = getrandom(p, size, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) Abort("Unable to read the system's random source: %s", misc_get_error().c_str());
        p += n;
        size -= static_cast<std::size_t>(n);
    }
}

std::uint32_t random_number()
{
    std::uint32_t v;
    random_bytes(&v, sizeof v);
    return v;
}

int SHA_salt_size() { return static_cast<int>(random_number() % 9) + MIN_SALT_SIZE; }

// "rounds=N$" for the preferred count, a random count from 1000 to 9998 without one, and nothing
// for a preferred count of 0 (the method's default).
std::string SHA_salt_rounds(const long *preferred)
{
    if (preferred && *preferred == 0) return "";
    long rounds = preferred ? *preferred : static_cast<long>(random_number() % 8999) + MIN_ROUNDS;
    rounds = std::clamp(rounds, MIN_ROUNDS, MAX_ROUNDS);
    return "rounds=" + std::to_string(rounds) + "$";
}

std::string gensalt(int size)
{
    if (size < MIN_SALT_SIZE || size > MAX_SALT_SIZE)
        assertion_failed("upassword", __LINE__, "salt_size >= MIN_SALT_SIZE && salt_size <= MAX_SALT_SIZE");
    unsigned char bytes[MAX_SALT_SIZE];
    random_bytes(bytes, static_cast<std::size_t>(size));
    std::string salt;
    for (int i = 0; i < size; ++i) salt += SALT_CHARS[bytes[i] & 63];
    return salt;
}

} // namespace

std::string crypt_make_salt(const char *meth, const long *preferred)
{
    if (!meth) Abort("meth must not be NULL");
    std::string result;
    int salt_size = 8;
    if (std::strcmp(meth, "MD5") == 0) {
        result = "$1$";
    } else if (std::strcmp(meth, "SHA256") == 0 || std::strcmp(meth, "SHA512") == 0) {
        result = std::string(meth[3] == '2' ? "$5$" : "$6$") + SHA_salt_rounds(preferred);
        salt_size = SHA_salt_size();
    } else if (std::strcmp(meth, "DES") != 0) {
        Abort("Invalid ENCRYPT_METHOD value: '%s'.\n", meth);
    }
    if (result.size() + static_cast<std::size_t>(salt_size) >= RESULT_SIZE)
        assertion_failed("upassword", __LINE__, "sizeof (result) > strlen (result) + salt_len");
    return result + gensalt(salt_size);
}

namespace {

// Trailing white space goes; the first character always stays.
std::string passwd_trim(std::string text)
{
    std::size_t n = text.size();
    while (n > 1 && std::isspace(static_cast<unsigned char>(text[n - 1]))) --n;
    text.resize(n);
    return text;
}

// crypt of phrase with setting: the hash, or nullptr when the library refused (it never hands a
// failure token out as a hash).
const char *hash(crypt_data &work, const std::string &phrase, const std::string &setting)
{
    errno = 0;
    const char *h = crypt_rn(phrase.c_str(), setting.c_str(), &work, sizeof work);
    if (h && h[0] == '*') h = nullptr;
    if (!h && errno == 0) errno = EINVAL;
    return h;
}

// A password the library would refuse is a user's doing (anyone at a login form can type one),
// not a fault of the run: it is logged by its length, never by its text.
bool too_long(const char *intrinsic, const std::string &password)
{
    if (password.size() <= MAX_PASSWORD_SIZE) return false;
    mlog(0, "%s: a password of %zu bytes is refused, more than %zu", intrinsic, password.size(), MAX_PASSWORD_SIZE);
    return true;
}

// The count of a "rounds=N" setting in a stored hash is over the limit.
bool too_many_rounds(const std::string &stored)
{
    const auto at = stored.find("rounds=");
    if (at == std::string::npos) return false;
    const std::size_t first = at + 7;
    std::size_t end = first;
    while (end < stored.size() && std::isdigit(static_cast<unsigned char>(stored[end]))) ++end;
    if (end == first) return false;  // no count: the library's to refuse
    const std::string digits = stored.substr(first, end - first);
    const auto significant = digits.find_first_not_of('0');
    if (significant == std::string::npos) return false;
    if (digits.size() - significant <= 9 && std::stol(digits.substr(significant)) <= MAX_STORED_ROUNDS) return false;
    mlog(0, "IPASSWORD_CHECK: a stored hash asking for %s rounds is refused, more than %ld", digits.c_str(),
         MAX_STORED_ROUNDS);
    return true;
}

// An empty text when the password cannot be hashed.
void upassword_encrypt(int nargs, int last, Stack *result)
{
    if (nargs != 1) Abort("Invalid number of parameteres");
    const std::string password = passwd_trim(plain_text(arg(nargs, last, 0)));
    if (too_long("IPASSWORD_ENCRYPT$", password)) {
        set_text(result, "");
        return;
    }
    auto work = std::make_unique<crypt_data>();
    const char *h = hash(*work, password, crypt_make_salt("SHA512", nullptr));
    if (!h) Abort("Error in crypt '%s'", misc_get_error().c_str());
    set_text(result, h);
}

// True when text is empty or white space only: a string variable that holds no hash is blank.
bool blank(const std::string &text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return std::isspace(static_cast<unsigned char>(c)); });
}

// What a stored hash is, in words that give nothing of it away: "!" first locks an account, and
// "$id$" names a method (ids are short: "1", "2b", "6", "y", "sha1"; anything longer may be salt).
std::string hash_kind(const std::string &stored)
{
    constexpr std::size_t LONGEST_METHOD_ID = 4;
    if (stored[0] == '!') return "a locked hash";
    if (stored[0] == '$') {
        const auto end = stored.find('$', 1);
        const bool named = end != std::string::npos && end > 1 && end <= LONGEST_METHOD_ID + 1 &&
                           std::all_of(stored.begin() + 1, stored.begin() + static_cast<long>(end), [](char c) {
                               return std::islower(static_cast<unsigned char>(c)) ||
                                      std::isdigit(static_cast<unsigned char>(c));
                           });
        if (named) return "a hash of method '" + stored.substr(0, end + 1) + "'";
    }
    return "a hash of no known form";
}

// A stored failure token ("*0", "*1") or an empty stored hash matches no password. A stored hash
// the library refuses (a locked account, a malformed or unknown one) matches none either: anyone
// may type such an account's name at a login form, so it must not end the run.
void upassword_check(int nargs, int last, Stack *result)
{
    if (nargs != 2) Abort("Invalid number of parameteres");
    const std::string password = passwd_trim(plain_text(arg(nargs, last, 0)));
    const std::string stored = passwd_trim(plain_text(arg(nargs, last, 1)));
    if (blank(stored) || stored[0] == '*' || too_long("IPASSWORD_CHECK", password) || too_many_rounds(stored)) {
        set_number(result, 0);
        return;
    }
    auto work = std::make_unique<crypt_data>();
    const char *h = hash(*work, password, stored);
    if (!h) {
        const std::string why = misc_get_error();
        mlog(0, "IPASSWORD_CHECK: %s is refused by crypt '%s'", hash_kind(stored).c_str(), why.c_str());
        set_number(result, 0);
        return;
    }
    set_number(result, stored == h ? 1 : 0);
}

} // namespace

namespace {

constexpr IntrinsicRow rows[] = {
    {in_IPASSWORD_ENCRYPT, upassword_encrypt},
    {in_IPASSWORD_CHECK, upassword_check},
};

} // namespace

std::span<const IntrinsicRow> password_intrinsics() { return rows; }
