// Password hashing through the dispatchers, with Python's crypt module as the oracle: every hash
// made here verifies there, and hashes made there by other methods check here.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include <glib.h>
#include <glib/gstdio.h>

#include "intrinsic_call.h"
#include "passwords.h"
#include "test_time.h"

using lumba_test::IntrinsicOutcome;
using lumba_test::args::str;

namespace {

const std::regex sha512_hash(R"(^\$6\$rounds=([0-9]{4})\$([./0-9A-Za-z]{8,16})\$[./0-9A-Za-z]{86}$)");

// Runs a Python script over lines of input (tab-separated fields, escaped as Python literals by
// repr on the way back); the script's standard output.
std::string python(const std::string &script, const std::string &input)
{
    char *dir = g_dir_make_tmp("passwords-XXXXXX", nullptr);
    const std::string in = std::string(dir) + "/in", code = std::string(dir) + "/run.py";
    std::ofstream(in, std::ios::binary) << input;
    std::ofstream(code) << script;
    const char *argv[] = {"/usr/bin/python3", "-W", "ignore", code.c_str(), in.c_str(), nullptr};
    gchar *out = nullptr, *err = nullptr;
    gint status = 0;
    EXPECT_TRUE(g_spawn_sync(nullptr, const_cast<char **>(argv), nullptr, G_SPAWN_DEFAULT, nullptr, nullptr, &out, &err,
                             &status, nullptr));
    std::string s = out ? out : "";
    EXPECT_EQ(status, 0) << (err ? err : "");
    g_free(out);
    g_free(err);
    g_unlink(in.c_str());
    g_unlink(code.c_str());
    g_rmdir(dir);
    g_free(dir);
    return s;
}

// "1" or "0" per line: whether crypt.crypt(password, hash) == hash.
const char *verify_script = R"(import crypt, sys
for line in open(sys.argv[1], encoding="utf-8").read().split("\n")[:-1]:
    password, hashed = line.split("\t")
    print(1 if crypt.crypt(password, hashed) == hashed else 0)
)";

std::vector<std::string> lines(const std::string &text)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) out.push_back(l);
    return out;
}

} // namespace

TEST(Passwords, HashesVerifyWithPython)
{
    IntrinsicOutcome call;
    // Trailing white space is not part of the password; the first character always is.
    struct {
        std::string given, hashed_as;
    } cases[] = {
        {"secret", "secret"},       {"", ""},       {" ", " "},         {"with blanks  \t", "with blanks"},
        {"p\xC3\xA4ss w\xC3\xB6rd", "p\xC3\xA4ss w\xC3\xB6rd"}, {std::string(200, 'x'), std::string(200, 'x')},
        {"$6$rounds=1$", "$6$rounds=1$"},
    };
    std::string input;
    std::set<std::string> hashes;
    for (const auto &c : cases) {
        const std::string h = call.text(in_IPASSWORD_ENCRYPT, {str(c.given)});
        std::smatch m;
        ASSERT_TRUE(std::regex_match(h, m, sha512_hash)) << h;
        const int rounds = std::stoi(m[1]);
        EXPECT_GE(rounds, 1000);
        EXPECT_LE(rounds, 9998);
        hashes.insert(h);
        input += c.hashed_as + "\t" + h + "\n";
        // Checked here too, with and without the trailing white space.
        EXPECT_EQ(call.number(in_IPASSWORD_CHECK, {str(c.given), str(h)}), "1") << c.given;
        EXPECT_EQ(call.number(in_IPASSWORD_CHECK, {str(c.hashed_as), str(h + "  ")}), "1") << c.given;
        EXPECT_EQ(call.number(in_IPASSWORD_CHECK, {str(c.hashed_as + "x"), str(h)}), "0") << c.given;
    }
    EXPECT_EQ(hashes.size(), std::size(cases));
    const std::vector<std::string> verdicts = lines(python(verify_script, input));
    ASSERT_EQ(verdicts.size(), std::size(cases));
    for (std::size_t i = 0; i < verdicts.size(); ++i) EXPECT_EQ(verdicts[i], "1") << cases[i].hashed_as;
}

TEST(Passwords, TheSamePasswordHashesDifferentlyEachTime)
{
    IntrinsicOutcome call;
    const std::string a = call.text(in_IPASSWORD_ENCRYPT, {str("same")});
    const std::string b = call.text(in_IPASSWORD_ENCRYPT, {str("same")});
    EXPECT_NE(a, b);
    EXPECT_EQ(call.number(in_IPASSWORD_CHECK, {str("same"), str(a)}), "1");
    EXPECT_EQ(call.number(in_IPASSWORD_CHECK, {str("same"), str(b)}), "1");
}

TEST(Passwords, HashesOfOtherMethodsCheck)
{
    // Made by Python with fixed salts: MD5, SHA-256, SHA-512 and the traditional DES.
    const char *make = R"(import crypt, sys
for line in open(sys.argv[1]).read().split("\n")[:-1]:
    password, salt = line.split("\t")
    print(crypt.crypt(password, salt))
)";
    const std::vector<std::pair<std::string, std::string>> made = {
        {"md5 word", "$1$saltsalt"},
        {"sha256 word", "$5$rounds=5000$abcdefghijklmnop"},
        {"sha512 word", "$6$./0123456789"},
        {"desword", "ab"},
    };
    std::string input;
    for (const auto &[password, salt] : made) input += password + "\t" + salt + "\n";
    const std::vector<std::string> hashes = lines(python(make, input));
    ASSERT_EQ(hashes.size(), made.size());
    IntrinsicOutcome call;
    for (std::size_t i = 0; i < made.size(); ++i) {
        EXPECT_EQ(call.number(in_IPASSWORD_CHECK, {str(made[i].first), str(hashes[i])}), "1") << hashes[i];
        EXPECT_EQ(call.number(in_IPASSWORD_CHECK, {str(made[i].first + "!"), str(hashes[i])}), "0") << hashes[i];
    }
}

TEST(Passwords, FailuresAreNeverHashes)
{
    IntrinsicOutcome call;
    struct {
        int code;
        std::vector<lumba_test::Arg> args;
        std::string result;
    } cases[] = {
        {in_IPASSWORD_CHECK, {str("x"), str("*0")}, "0"},  // the library's failure tokens match nothing
        {in_IPASSWORD_CHECK, {str(""), str("*1")}, "0"},
        {in_IPASSWORD_CHECK, {str("x"), str("")}, "0"},  // no hash stored: no password matches
        {in_IPASSWORD_CHECK, {str(""), str("   ")}, "0"},
        {in_IPASSWORD_CHECK, {str("x")}, "stop: Invalid number of parameteres"},
        {in_IPASSWORD_ENCRYPT, {}, "stop: Invalid number of parameteres"},
        {in_IPASSWORD_ENCRYPT, {str("a"), str("b")}, "stop: Invalid number of parameteres"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.code == in_IPASSWORD_CHECK ? call.number(c.code, c.args) : call.text(c.code, c.args), c.result)
            << c.args.size();
}

// What a user types, or what a stored hash asks for, never ends the run: a password the library
// cannot take answers 0 or the empty text, and a stored hash asking for more rounds than the limit
// answers 0 at once; each with a log line that leaves the password out.
TEST(Passwords, LongPasswordsAndHugeRoundsAreRefusedWithALogLine)
{
    IntrinsicOutcome call;
    const std::string longest(MAX_PASSWORD_SIZE, 'p'), too_long = longest + "q";
    const std::string made = call.text(in_IPASSWORD_ENCRYPT, {str(longest)});
    ASSERT_TRUE(std::regex_match(made, sha512_hash)) << made;
    EXPECT_EQ(call.number(in_IPASSWORD_CHECK, {str(longest), str(made)}), "1");

    // Made by Python: a hash at the limit of rounds, and the same password and salt one above.
    const std::string limit = std::to_string(MAX_STORED_ROUNDS), above = std::to_string(MAX_STORED_ROUNDS + 1);
    const char *make = R"(import crypt, sys
for rounds in open(sys.argv[1]).read().split():
    print(crypt.crypt("word", "$6$rounds=" + rounds + "$saltsalt"))
)";
    const std::vector<std::string> at_limit = lines(python(make, limit + "\n" + above + "\n"));
    ASSERT_EQ(at_limit.size(), 2u);
    EXPECT_EQ(call.number(in_IPASSWORD_CHECK, {str("word"), str(at_limit[0])}), "1") << at_limit[0];

    const int saved = Lumba_Log_Level;
    Lumba_Log_Level = 0;
    struct {
        int code;
        std::vector<lumba_test::Arg> args;
        std::string result, logged;
    } cases[] = {
        {in_IPASSWORD_ENCRYPT, {str(too_long)}, "",
         "IPASSWORD_ENCRYPT$: a password of " + std::to_string(too_long.size()) + " bytes is refused, more than " +
             std::to_string(MAX_PASSWORD_SIZE)},
        {in_IPASSWORD_CHECK, {str(too_long), str(made)}, "0",
         "IPASSWORD_CHECK: a password of " + std::to_string(too_long.size()) + " bytes is refused, more than " +
             std::to_string(MAX_PASSWORD_SIZE)},
        {in_IPASSWORD_CHECK, {str(std::string(100000, 'p')), str(made)}, "0", "a password of 100000 bytes is refused"},
        {in_IPASSWORD_CHECK, {str("word"), str(at_limit[1])}, "0",
         "IPASSWORD_CHECK: a stored hash asking for " + above + " rounds is refused, more than " + limit},
        {in_IPASSWORD_CHECK, {str("word"), str("$6$rounds=999999999$saltsalt$x")}, "0",
         "asking for 999999999 rounds is refused"},
        {in_IPASSWORD_CHECK, {str("word"), str("$5$rounds=000000000000000000123456789$saltsalt$x")}, "0",
         "asking for 000000000000000000123456789 rounds is refused"},
    };
    for (const auto &c : cases) {
        testing::internal::CaptureStderr();
        const gint64 before = g_get_monotonic_time();
        const std::string result =
            c.code == in_IPASSWORD_CHECK ? call.number(c.code, c.args) : call.text(c.code, c.args);
        const gint64 took = g_get_monotonic_time() - before;
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(result, c.result) << c.logged;
        EXPECT_NE(err.find(c.logged), std::string::npos) << err;
        EXPECT_EQ(err.find("ppppp"), std::string::npos) << err;  // never the password
        // At once: the rounds refused would take minutes.
        EXPECT_LT(took, gint64{lumba_test::scaled_ms(lumba_test::PROMPT_MS)} * 1000) << c.logged;
    }
    Lumba_Log_Level = saved;
}

// A stored hash the library refuses is a user's doing too: "!" before a hash is how an account is
// locked, and anyone may type a locked account's name at a login form. The check answers 0 (also
// for the locked hash's own password) with a log line naming the kind of hash, never the hash or
// the password.
TEST(Passwords, HashesCryptRefusesAnswerZeroWithALogLine)
{
    IntrinsicOutcome call;
    const std::string password = "Pw-ZebraQuill";
    const std::string made = call.text(in_IPASSWORD_ENCRYPT, {str(password)});
    ASSERT_TRUE(std::regex_match(made, sha512_hash)) << made;
    const std::string salt = made.substr(made.find('$', 3) + 1, 8);

    const int saved = Lumba_Log_Level;
    Lumba_Log_Level = 0;
    struct {
        std::string stored, logged;
    } cases[] = {
        {"!", "IPASSWORD_CHECK: a locked hash is refused by crypt 'Invalid argument'"},
        {"!" + made, "IPASSWORD_CHECK: a locked hash is refused by crypt"},
        {"!!", "a locked hash is refused"},
        {"x", "IPASSWORD_CHECK: a hash of no known form is refused by crypt"},
        {"$y$malformed" + salt, "IPASSWORD_CHECK: a hash of method '$y$' is refused by crypt"},
        {"$6$bad salt!$x" + salt, "a hash of method '$6$' is refused"},
        {"$" + salt + "$x", "a hash of no known form is refused"},
    };
    for (const auto &c : cases) {
        testing::internal::CaptureStderr();
        const std::string result = call.number(in_IPASSWORD_CHECK, {str(password), str(c.stored)});
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(result, "0") << c.stored;
        EXPECT_NE(err.find(c.logged), std::string::npos) << err;
        EXPECT_EQ(err.find(password), std::string::npos) << err;
        EXPECT_EQ(err.find(salt), std::string::npos) << err;  // nothing of the hash but its kind
    }
    Lumba_Log_Level = saved;
    EXPECT_EQ(call.number(in_IPASSWORD_CHECK, {str(password), str(made)}), "1");  // unlocked, it matches
}

TEST(Passwords, SettingsOfEachMethod)
{
    const long none = 0, few = 50, many = 20000, some = 5000;
    struct {
        const char *meth;
        const long *rounds;
        const char *pattern;
    } cases[] = {
        {"MD5", nullptr, R"(\$1\$[./0-9A-Za-z]{8})"},
        {"DES", nullptr, R"([./0-9A-Za-z]{8})"},
        {"SHA256", &none, R"(\$5\$[./0-9A-Za-z]{8,16})"},
        {"SHA256", &some, R"(\$5\$rounds=5000\$[./0-9A-Za-z]{8,16})"},
        {"SHA512", &few, R"(\$6\$rounds=1000\$[./0-9A-Za-z]{8,16})"},
        {"SHA512", &many, R"(\$6\$rounds=9999\$[./0-9A-Za-z]{8,16})"},
        {"SHA512", nullptr, R"(\$6\$rounds=[1-9][0-9]{3}\$[./0-9A-Za-z]{8,16})"},
    };
    for (const auto &c : cases) {
        const std::string s = crypt_make_salt(c.meth, c.rounds);
        EXPECT_TRUE(std::regex_match(s, std::regex(c.pattern))) << c.meth << ": " << s;
    }
    EXPECT_EQ(lumba_test::abort_text([] { crypt_make_salt("BLOWFISH", nullptr); }),
              "Invalid ENCRYPT_METHOD value: 'BLOWFISH'.\n");
    EXPECT_EQ(lumba_test::abort_text([] { crypt_make_salt(nullptr, nullptr); }), "meth must not be NULL");

    // Drawn from the whole range: every salt length, all 64 characters, many round counts.
    std::set<std::size_t> lengths;
    std::set<char> characters;
    std::set<std::string> rounds;
    const std::regex parts(R"(\$6\$rounds=([0-9]{4})\$([./0-9A-Za-z]+))");
    for (int i = 0; i < 400; ++i) {
        const std::string s = crypt_make_salt("SHA512", nullptr);
        std::smatch m;
        ASSERT_TRUE(std::regex_match(s, m, parts)) << s;
        rounds.insert(m[1]);
        lengths.insert(m[2].length());
        for (char ch : m[2].str()) characters.insert(ch);
    }
    EXPECT_EQ(lengths, (std::set<std::size_t>{8, 9, 10, 11, 12, 13, 14, 15, 16}));
    EXPECT_EQ(characters.size(), 64u);
    EXPECT_GT(rounds.size(), 300u);
}
