// IAES_ENCRYPT$ and IAES_DECRYPT$ through the string dispatcher: known forms, round trips, the
// earlier 8-byte IV, the stops, and pycryptodome as an independent GCM on random texts.
#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <glib.h>
#include <glib/gstdio.h>

#include "intrinsic_call.h"

using lumba_test::IntrinsicOutcome;
using lumba_test::args::num;
using lumba_test::args::str;

namespace {

// The text (or "stop: " and the fatal message) and what the call wrote to standard error: the
// "SSL ERR:" blocks of failed attempts.
using Outcome = lumba_test::WithStderr;

Outcome call(int code, const std::vector<lumba_test::Arg> &args)
{
    IntrinsicOutcome direct;
    return lumba_test::with_stderr([&] { return direct.text(code, args); });
}

std::string encrypt(const std::string &text) { return call(in_IAES_ENCRYPT, {str(text)}).value; }

int blocks(const std::string &err)
{
    int n = 0;
    for (std::size_t at = err.find("SSL ERR:\n"); at != std::string::npos; at = err.find("SSL ERR:\n", at + 1)) ++n;
    return n;
}

std::string hex(const std::string &bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string h;
    for (unsigned char c : bytes) {
        h += digits[c >> 4];
        h += digits[c & 15];
    }
    return h;
}

// The oracle's answers to the lines of requests.
std::vector<std::string> oracle(const std::string &requests)
{
    char *dir = g_dir_make_tmp("aes-oracle-XXXXXX", nullptr);
    const std::string in = std::string(dir) + "/in";
    std::ofstream(in, std::ios::binary) << requests;
    const char *argv[] = {"/usr/bin/python3", AES_ORACLE, in.c_str(), nullptr};
    gchar *out = nullptr, *err = nullptr;
    gint status = 0;
    EXPECT_TRUE(g_spawn_sync(nullptr, const_cast<char **>(argv), nullptr, G_SPAWN_DEFAULT, nullptr, nullptr, &out, &err,
                             &status, nullptr));
    EXPECT_EQ(status, 0) << (err ? err : "");
    std::vector<std::string> lines;
    std::istringstream s(out ? out : "");
    for (std::string l; std::getline(s, l);) lines.push_back(l);
    g_free(out);
    g_free(err);
    g_unlink(in.c_str());
    g_rmdir(dir);
    g_free(dir);
    return lines;
}

std::size_t form_length(std::size_t text_length) { return 24 + 1 + 4 * ((text_length + 2) / 3); }

} // namespace

TEST(Aes, KnownFormsAndRoundTrips)
{
    struct {
        std::string text, form, plain;  // plain: what decryption gives back
    } cases[] = {
        {"", "RQdEIhCQSNGkHjOViCusAw==?", ""},
        {"hello", "w+DKwHLSpsNwCxCeglwKbQ==?kuoZ6Zs=", "hello"},
        {"Hello, World!", "9n8Ggm7pkYrkHxHzulIAYQ==?suoZ6ZuWhmxTjtn+Iw==", "Hello, World!"},
        // Trailing white space of the POSIX locale is not part of the text; leading is.
        {"hello  ", "w+DKwHLSpsNwCxCeglwKbQ==?kuoZ6Zs=", "hello"},
        {"hello \t\r\n\v\f", "w+DKwHLSpsNwCxCeglwKbQ==?kuoZ6Zs=", "hello"},
        {"   ", "RQdEIhCQSNGkHjOViCusAw==?", ""},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(encrypt(c.text), c.form) << '"' << c.text << '"';
        const Outcome back = call(in_IAES_DECRYPT, {str(c.form)});
        EXPECT_EQ(back.value, c.plain) << c.form;
        EXPECT_EQ(back.err, "") << c.form;
    }
    // The same text twice gives the same form; a form keeps its meaning with trailing white space.
    EXPECT_EQ(encrypt("Hello, World!"), encrypt("Hello, World!"));
    EXPECT_EQ(call(in_IAES_DECRYPT, {str("w+DKwHLSpsNwCxCeglwKbQ==?kuoZ6Zs=  \n")}).value, "hello");
    // Bytes past ASCII are no white space, whatever the locale; a NUL is part of the text.
    EXPECT_NE(encrypt("hello\xA0"), encrypt("hello"));
    const std::string with_nul("a\0b", 3);
    EXPECT_EQ(call(in_IAES_DECRYPT, {str(encrypt(with_nul))}).value, with_nul);
}

TEST(Aes, EarlierIvStillDecrypts)
{
    // Made with the same key and the earlier 8-byte IV: the current pair fails first.
    const Outcome o = call(in_IAES_DECRYPT, {str("j/lqnheYiwaQNegNudM4AA==?Xtmq0P0=")});
    EXPECT_EQ(o.value, "hello");
    EXPECT_EQ(blocks(o.err), 1) << o.err;
    EXPECT_EQ(o.err.rfind("SSL ERR:\n", 0), 0u) << o.err;
}

TEST(Aes, LongTextRoundTripsWithoutLineBreaks)
{
    std::mt19937 random(22);
    std::string text(10000, '\0');
    for (char &c : text) c = static_cast<char>(random() % 256);
    text.back() = 'x';  // no trailing white space to lose
    const std::string form = encrypt(text);
    EXPECT_EQ(form.size(), form_length(text.size()));
    EXPECT_EQ(form.find('\n'), std::string::npos);
    EXPECT_EQ(form.find('\r'), std::string::npos);
    EXPECT_EQ(call(in_IAES_DECRYPT, {str(form)}).value, text);
}

TEST(Aes, AgreesWithAnIndependentGcm)
{
    std::mt19937 random(4107);
    std::vector<std::string> texts;
    for (int i = 0; i < 300; ++i) {
        std::string t(random() % (i < 200 ? 40 : 2000), '\0');
        for (char &c : t) c = static_cast<char>(random() % 256);
        while (!t.empty() && std::string(" \t\n\v\f\r").find(t.back()) != std::string::npos) t.pop_back();
        texts.push_back(t);
    }
    std::string requests;
    std::vector<std::string> forms;
    for (const auto &t : texts) {
        forms.push_back(encrypt(t));
        requests += "E " + hex(t) + "\n";
    }
    for (const auto &f : forms) requests += "D " + f + "\n";
    const std::vector<std::string> answers = oracle(requests);
    ASSERT_EQ(answers.size(), 2 * texts.size());
    for (std::size_t i = 0; i < texts.size(); ++i) {
        EXPECT_EQ(forms[i], answers[i]) << "encrypting " << hex(texts[i]);
        EXPECT_EQ(answers[texts.size() + i], hex(texts[i])) << "the oracle decrypting " << forms[i];
        // And the run-time reads the oracle's forms.
        EXPECT_EQ(call(in_IAES_DECRYPT, {str(answers[i])}).value, texts[i]) << answers[i];
    }
}

TEST(Aes, StopsWithTheirMessages)
{
    const std::string key_text = "5E8A13C7F04B92D6", iv_text = "7C41E9B05D2A86F3";
    const std::string failed = "stop: aes_gcm_decrypt: decryption failed!; ret=-1";
    struct {
        const char *what;
        int code;
        std::vector<lumba_test::Arg> args;
        std::string value;
        int ssl_blocks;  // "SSL ERR:" blocks on standard error
    } cases[] = {
        // Each of the two pairs is tried once.
        {"first ciphertext character changed", in_IAES_DECRYPT, {str("w+DKwHLSpsNwCxCeglwKbQ==?luoZ6Zs=")}, failed, 2},
        {"tag character changed", in_IAES_DECRYPT, {str("x+DKwHLSpsNwCxCeglwKbQ==?kuoZ6Zs=")}, failed, 2},
        {"ciphertext cut short", in_IAES_DECRYPT, {str("w+DKwHLSpsNwCxCeglwKbQ==?kuoZ")}, failed, 2},
        // A tag shorter than sixteen bytes never passes, even where its missing bytes would match.
        {"tag cut to 15 bytes", in_IAES_DECRYPT, {str("w+DKwHLSpsNwCxCeglwK?kuoZ6Zs=")}, failed, 2},
        // Only the form encryption makes: no extra tag bytes after the sixteen that match, no
        // other text for the same bytes (the bits the last character carries beyond them set).
        {"tag with two extra bytes", in_IAES_DECRYPT, {str("w+DKwHLSpsNwCxCeglwKbQAA?kuoZ6Zs=")}, failed, 2},
        {"unused bits of the tag set", in_IAES_DECRYPT, {str("w+DKwHLSpsNwCxCeglwKbR==?kuoZ6Zs=")}, failed, 2},
        {"unused bits of the ciphertext set", in_IAES_DECRYPT, {str("w+DKwHLSpsNwCxCeglwKbQ==?kuoZ6Zt=")}, failed, 2},
        {"no question mark", in_IAES_DECRYPT, {str("w+DKwHLSpsNwCxCeglwKbQ==kuoZ6Zs=")},
         "stop: aes_gcm_decrypt: incorrect ciphertext supplied", 0},
        {"empty", in_IAES_DECRYPT, {str("")}, "stop: aes_gcm_decrypt: incorrect ciphertext supplied", 0},
        {"tag not base64", in_IAES_DECRYPT, {str("w+DKwHLSpsNw!xCeglwKbQ==?kuoZ6Zs=")},
         "stop: aes_gcm_decrypt: base64 decode error for tag", 0},
        {"no tag", in_IAES_DECRYPT, {str("?kuoZ6Zs=")}, "stop: aes_gcm_decrypt: base64 decode error for tag", 0},
        {"tag without padding", in_IAES_DECRYPT, {str("w+DKwHLSpsNwCxCeglwKbQ?kuoZ6Zs=")},
         "stop: aes_gcm_decrypt: base64 decode error for tag", 0},
        {"ciphertext not base64", in_IAES_DECRYPT, {str("w+DKwHLSpsNwCxCeglwKbQ==?kuo!Z6Zs")},
         "stop: aes_gcm_decrypt: base64 decode error for ciphertext64", 0},
        {"ciphertext length not a multiple of four", in_IAES_DECRYPT, {str("w+DKwHLSpsNwCxCeglwKbQ==?kuoZ6Zs")},
         "stop: aes_gcm_decrypt: base64 decode error for ciphertext64", 0},
        {"padding inside the ciphertext", in_IAES_DECRYPT, {str("w+DKwHLSpsNwCxCeglwKbQ==?ku==Z6Zs=")},
         "stop: aes_gcm_decrypt: base64 decode error for ciphertext64", 0},
        {"decrypt without argument", in_IAES_DECRYPT, {}, "stop: Invalid number of parameteres", 0},
        {"decrypt with two", in_IAES_DECRYPT, {str("a"), str("b")}, "stop: Invalid number of parameteres", 0},
        {"encrypt without argument", in_IAES_ENCRYPT, {}, "stop: Invalid number of parameteres", 0},
        {"encrypt with two", in_IAES_ENCRYPT, {str("a"), str("b")}, "stop: Invalid number of parameteres", 0},
        {"encrypt a number", in_IAES_ENCRYPT, {num(5)}, "stop: IAES_ENCRYPT$: string argument expected", 0},
    };
    for (const auto &c : cases) {
        const Outcome o = call(c.code, c.args);
        EXPECT_EQ(o.value, c.value) << c.what;
        EXPECT_EQ(blocks(o.err), c.ssl_blocks) << c.what << ": " << o.err;
        // The built-in secrets appear in no message.
        for (const std::string &secret : {key_text, iv_text})
            EXPECT_EQ((o.value + o.err).find(secret), std::string::npos) << c.what;
    }
}
