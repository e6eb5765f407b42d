// Properties of the note XML string over seeded random element lists: what is written reads back
// as the list (with compact 0, normalised as the format normalises it), writing is idempotent, and
// the strings are well-formed XML to xmllint. The amount text against Python's decimal module.
#include <fstream>
#include <gtest/gtest.h>
#include <random>
#include <sstream>
#include <string>
#include <vector>
#include <glib.h>
#include <glib/gstdio.h>

#include "note_test_util.h"

namespace {

using namespace note_test;

// A random element list and the dump its written string must read back as.
struct Generated {
    std::string expected;  // dump of the list as the reader gives it back
};

class ListGenerator {
public:
    explicit ListGenerator(unsigned seed) : random_(seed) {}

    int below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random_); }

    // UTF-8 text with the bytes the writer escapes, line feeds (never two in a row, which the
    // reader would split at) and multi-byte characters. Returns the text and its character
    // boundaries (byte offsets, the text's length included).
    std::string text(std::vector<int> &boundaries)
    {
        static const char *const pieces[] = {"a", "b", "Z", "0", " ", "&", "<", ">", "/", "]", "]]>", "\n",
                                             "\xc3\xa9", "\xe2\x82\xac", "\xf0\x9d\x84\x9e", ";", "\""};
        std::string s;
        boundaries = {0};
        const int n = below(4) == 0 ? 0 : below(40);
        for (int i = 0; i < n; ++i) {
            const char *piece = pieces[below(std::size(pieces))];
            if (piece[0] == '\n' && !s.empty() && s.back() == '\n') continue;
            if (std::strcmp(piece, "]]>") == 0) {  // three characters
                s += "]";
                boundaries.push_back(static_cast<int>(s.size()));
                s += "]";
                boundaries.push_back(static_cast<int>(s.size()));
                s += ">";
            } else {
                s += piece;
            }
            boundaries.push_back(static_cast<int>(s.size()));
        }
        return s;
    }

    // Runs of one kind at character boundaries, in order and clear of each other, with the odd
    // empty run and run left open; and the runs as the reader gives them back.
    std::vector<Run> runs(const std::vector<int> &boundaries, std::vector<Run> &normalised)
    {
        std::vector<Run> runs;
        const int length = boundaries.back();
        std::size_t at = 0;
        while (below(3) != 0) {
            at += below(4);
            if (at >= boundaries.size()) break;
            std::size_t end = at + below(4);
            if (end >= boundaries.size()) end = boundaries.size() - 1;
            Run r{boundaries[at], boundaries[end]};
            if (end == boundaries.size() - 1 && below(3) == 0) r.end = -1;  // still open
            runs.push_back(r);
            const int end_at = r.end < 0 ? length : r.end;
            if (r.start < end_at) normalised.push_back({r.start, end_at});
            at = end;
        }
        return runs;
    }

    std::string name()
    {
        static const char letters[] = "ABCXYZabc019_- .";
        std::string s;
        const int n = below(10) == 0 ? GNOTE_TAG_NAME_MAX : 1 + below(12);
        for (int i = 0; i < n; ++i) s += letters[below(sizeof letters - 1)];
        return s;
    }

    // A list built into note, and the dump its string must read back as with compact 0.
    std::string list(Note &note)
    {
        std::string expected;
        int last_type = 0;
        const int n = below(8) == 0 ? 0 : 1 + below(8);
        for (int i = 0; i < n; ++i) {
            int type = 1 + below(4);
            if (i == 0 && type == CM_GNOTE_NOTE_TYPE_AM) type = CM_GNOTE_NOTE_TYPE_P;
            if (type == CM_GNOTE_NOTE_TYPE_AM && last_type == CM_GNOTE_NOTE_TYPE_AM) expected += "P \"\"\n";
            last_type = type;
            switch (type) {
            case CM_GNOTE_NOTE_TYPE_P:
            case CM_GNOTE_NOTE_TYPE_HIDE: {
                std::vector<int> boundaries;
                const std::string t = text(boundaries);
                NoteElement_t *p = add_paragraph(note, t, type == CM_GNOTE_NOTE_TYPE_P ? "p" : "h");
                std::vector<Run> normalised[3];
                set_runs(p, 'b', runs(boundaries, normalised[0]));
                set_runs(p, 'i', runs(boundaries, normalised[1]));
                set_runs(p, 'u', runs(boundaries, normalised[2]));
                expected += std::string(type == CM_GNOTE_NOTE_TYPE_P ? "P" : "H") + " \"" + t + "\"";
                for (int k = 0; k < 3; ++k)
                    for (const Run &r : normalised[k])
                        expected += std::string(" ") + "biu"[k] + "[" + std::to_string(r.start) + "," +
                                    std::to_string(r.end) + ")";
                expected += "\n";
                break;
            }
            case CM_GNOTE_NOTE_TYPE_AM: {
                const bool null = below(10) == 0;
                const long long cents = std::uniform_int_distribution<long long>(-99999999999999LL, 99999999999999LL)(random_);
                const std::string value = (cents < 0 ? "-" : "") + std::to_string(std::llabs(cents) / 100) + "." +
                                          (std::llabs(cents) % 100 < 10 ? "0" : "") + std::to_string(std::llabs(cents) % 100);
                const int flags = below(8);
                const auto orsec = static_cast<std::int32_t>(random_());
                const auto orsecvalue = static_cast<std::int32_t>(random_());
                add_amount(note, null ? nullptr : value.c_str(), flags & 1, flags >> 1 & 1, flags >> 2 & 1, orsec,
                           orsecvalue);
                dec_t read_back;
                NumericCvASC(value.c_str(), static_cast<int>(value.size()), &read_back);
                expected += "AM " + (null ? std::string("0.00") : amount_text(read_back)) + " r" +
                            std::to_string(flags & 1) + " n" + std::to_string(flags >> 1 & 1) + " p" +
                            std::to_string(flags >> 2 & 1) + " s" + std::to_string(orsec) + " v" +
                            std::to_string(orsecvalue) + "\n";
                break;
            }
            default: {
                const std::string tag_name = name();
                std::string tag_text;
                const bool has_text = below(3) != 0;
                const int length = below(10) == 0 ? GNOTE_TAG_TEXT_MAX : below(20);
                for (int k = 0; has_text && k < length; ++k) tag_text += "xyz >/\"'"[below(8)];
                const int start = below(2);
                add_tag(note, tag_name.c_str(), start, has_text ? tag_text.c_str() : nullptr);
                expected += "TAG " + tag_name + (start ? " start" : " end") + " \"" + tag_text + "\"\n";
            }
            }
        }
        if (last_type != CM_GNOTE_NOTE_TYPE_P) expected += "P \"\"\n";  // the empty note's paragraph too
        return expected;
    }

private:
    std::mt19937 random_;
};

std::string written(Note &note)
{
    char *xml = gnote_get_xml(note.data);
    std::string s = xml;
    sfree(xml);
    return s;
}

// Runs a program on a file holding text; its exit status and error output.
std::pair<int, std::string> run_on_file(std::vector<const char *> argv, const std::string &text, const char *suffix)
{
    gchar *path = nullptr;
    const int fd = g_file_open_tmp((std::string("note-XXXXXX") + suffix).c_str(), &path, nullptr);
    close(fd);
    std::ofstream(path, std::ios::binary) << text;
    argv.push_back(path);
    argv.push_back(nullptr);
    gchar *out = nullptr, *err = nullptr;
    gint status = -1;
    const bool ran = g_spawn_sync(nullptr, const_cast<char **>(argv.data()), nullptr, G_SPAWN_DEFAULT, nullptr,
                                  nullptr, &out, &err, &status, nullptr);
    EXPECT_TRUE(ran) << argv[0];
    std::string output = std::string(out ? out : "") + (err ? err : "");
    g_free(out);
    g_free(err);
    g_unlink(path);
    g_free(path);
    return {ran && g_spawn_check_wait_status(status, nullptr) ? 0 : 1, output};
}

TEST(NoteXmlProperties, WrittenListsReadBackAndAreWellFormed)
{
    std::string batch = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<notes>\n";
    int notes = 0;
    for (unsigned seed : {1u, 2u, 3u}) {
        ListGenerator generate(seed);
        for (int i = 0; i < 150; ++i, ++notes) {
            Note note;
            const std::string expected = generate.list(note);
            const std::string xml = written(note);
            Note back;
            const ReadError error = gnote_parse_xml(back.data, xml.c_str(), 0);
            ASSERT_FALSE(error) << error.message << ": " << xml;
            ASSERT_EQ(dump(back), expected) << "seed " << seed << ", note " << i << ": " << xml;
            ASSERT_EQ(written(back), written(back)) << xml;
            Note again;
            ASSERT_FALSE(gnote_parse_xml(again.data, written(back).c_str(), 0)) << xml;
            ASSERT_EQ(written(again), written(back)) << "writing is idempotent: " << xml;
            batch += xml + "\n";
        }
    }
    batch += "</notes>\n";
    const auto [status, output] = run_on_file({"/usr/bin/xmllint", "--noout"}, batch, ".xml");
    EXPECT_EQ(status, 0) << output;
    EXPECT_EQ(output, "");
    EXPECT_EQ(notes, 450);
}

TEST(NoteXmlProperties, AmountTextsAgreeWithPythonDecimal)
{
    std::mt19937 random(42);
    auto below = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(random); };
    std::vector<std::string> values = {"0",       "null",    "0.005",    "-0.005",  "0.004", "-0.004", "999.995",
                                       "-999.995", "1000",   "-100",     "0.01",    "-1",    "99999.999",
                                       "123456789012345678901234.125", "-0.000001"};
    while (values.size() < 400) {
        std::string v = below(2) ? "-" : "";
        const int integer_digits = below(16), decimals = below(7);
        v += integer_digits ? std::to_string(1 + below(9)) : "0";
        for (int i = 1; i < integer_digits; ++i) v += static_cast<char>('0' + below(10));
        if (decimals) v += ".";
        for (int i = 0; i < decimals; ++i) v += static_cast<char>('0' + below(10));
        values.push_back(v);
    }
    std::string requests;
    for (const std::string &v : values) requests += v + "\n";
    const auto [status, output] = run_on_file({"/usr/bin/python3", AMOUNT_ORACLE}, requests, ".txt");
    ASSERT_EQ(status, 0) << output;
    std::istringstream lines(output);
    for (const std::string &v : values) {
        std::string expected;
        ASSERT_TRUE(std::getline(lines, expected)) << v;
        dec_t value;
        if (v == "null")
            value.dec_pos = DECPOSNULL;
        else
            ASSERT_EQ(NumericCvASC(v.c_str(), static_cast<int>(v.size()), &value), 0) << v;
        char *text = gnote_format_amount(&value);
        EXPECT_EQ(text, expected) << v;
        sfree(text);
    }
}

} // namespace
