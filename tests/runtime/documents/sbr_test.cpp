// The SBR XML import in-process: the fixtures' six lists against an independent reading of the
// same documents (sbr_oracle.py, on Python's ElementTree), the import's edge cases, the context
// table's names, documents beyond every former fixed size, and the inputs that end the run.
#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <glib.h>
#include <glib/gstdio.h>

#include "axml.h"
#include "ilist.h"
#include "planted.h"
#include "read_error.h"
#include "signals.h"
#include "test_host.h"

namespace {

using lumba_test::abort_text;

const std::string FIXTURES = std::string(LUMBA_SOURCE_DIR) + "/tests/runtime/documents/sbr/";

std::string escape(const std::string &s)
{
    std::string out;
    for (char c : s) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\t': out += "\\t"; break;
        case '\r': out += "\\r"; break;
        default: out += c;
        }
    }
    return out;
}

int live_lists()
{
    int n = 0;
    for (IList_t *l = master_list; l; l = l->next) ++n;
    return n;
}

// A parse's lists, destroyed with it, and what the tests read of them.
struct Lists {
    SbrResult_t r{};
    explicit Lists(const std::string &file)
    {
        const ReadError error = sbr_xml_parse(file.c_str(), r);
        EXPECT_FALSE(error) << error.message;
    }
    ~Lists() { sbr_result_free(r); }
    Lists(const Lists &) = delete;

    IList_t *operator[](SbrList l) const { return r.lists[l]; }

    // Every list as "name<TAB>value" lines, as the oracle prints them.
    std::string dump(SbrList l) const
    {
        std::string out;
        for (IListElt_t *e = r.lists[l]->head; e; e = e->next)
            out += escape(e->name ? e->name : "") + "\t" + escape(e->value.text) + "\n";
        return out;
    }
    // The list-1 indexes of the values under name, in order.
    std::vector<int> indexes(const std::string &name) const
    {
        std::vector<int> found;
        for (int i = ilist_getindex(r.lists[SBR_VALUES], name.c_str()); i;
             i = ilist_getindex_after(r.lists[SBR_VALUES], name.c_str(), i))
            found.push_back(i);
        return found;
    }
    std::vector<std::string> values(const std::string &name) const
    {
        std::vector<std::string> v;
        for (int i : indexes(name)) v.emplace_back(ilist_sfetch(r.lists[SBR_VALUES], i, nullptr));
        return v;
    }
    // The entry of list l for the list-1 index, nullopt when it has none.
    std::optional<std::string> keyed(SbrList l, int index) const
    {
        const std::string key = std::to_string(index);
        if (!ilist_getindex(r.lists[l], key.c_str())) return std::nullopt;
        return std::string(ilist_sfetch(r.lists[l], 0, key.c_str()));
    }
    std::vector<std::string> names(SbrList l) const
    {
        std::vector<std::string> v;
        for (IListElt_t *e = r.lists[l]->head; e; e = e->next) v.emplace_back(e->name);
        return v;
    }
};

// A document the import refuses: its error, with the caller's result left as it was and no list
// left behind.
ReadError refused(const std::string &file)
{
    const int before = live_lists();
    IList_t *const mark = reinterpret_cast<IList_t *>(&master_list);  // never dereferenced
    SbrResult_t r;
    for (IList_t *&l : r.lists) l = mark;
    const ReadError error = sbr_xml_parse(file.c_str(), r);
    EXPECT_TRUE(error) << file;
    for (IList_t *l : r.lists) EXPECT_EQ(l, mark) << file;
    EXPECT_EQ(live_lists(), before) << file;
    return error;
}

int code(SbrReadCode c) { return static_cast<int>(c); }

std::string contents(const std::string &file)
{
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The offset just after the n-th (from 1) occurrence of what in the file.
std::size_t after(const std::string &file, const std::string &what, int n = 1)
{
    const std::string text = contents(file);
    std::size_t at = 0;
    for (int i = 0; i < n && at != std::string::npos; ++i) at = text.find(what, i ? at + 1 : 0);
    EXPECT_NE(at, std::string::npos) << what << " in " << file;
    return at == std::string::npos ? 0 : at + what.size();
}

class Sbr : public ::testing::Test {
protected:
    void SetUp() override { dir = g_dir_make_tmp("sbr-XXXXXX", nullptr); }
    void TearDown() override
    {
        for (const auto &f : files) std::remove(f.c_str());
        g_rmdir(dir);
        g_free(dir);
    }
    std::string write(const std::string &name, const std::string &text)
    {
        const std::string path = std::string(dir) + "/" + name;
        std::ofstream(path, std::ios::binary) << text;
        files.push_back(path);
        return path;
    }
    // A document of the instance namespace around body.
    std::string document(const std::string &body)
    {
        return write("doc.xml", "<?xml version=\"1.0\"?>\n<xbrli:xbrl xmlns:xbrli=\"http://www.xbrl.org/2003/instance\""
                                " xmlns:xbrldi=\"http://xbrl.org/2006/xbrldi\" xmlns:d=\"http://sbr.gov.au/dims\""
                                " xmlns:t=\"http://sbr.gov.au/t\">" + body + "</xbrli:xbrl>\n");
    }

    char *dir = nullptr;
    std::vector<std::string> files;
};

// A context with these explicit members (member texts after "d:").
std::string context(const std::string &id, const std::vector<std::string> &members)
{
    std::string text = "<xbrli:context id=\"" + id + "\"><xbrli:entity><xbrli:segment>";
    for (const auto &m : members)
        text += "<xbrldi:explicitMember dimension=\"d:Dim\">d:" + m + "</xbrldi:explicitMember>";
    return text + "</xbrli:segment></xbrli:entity></xbrli:context>";
}

std::string din(const std::string &context_ref, const std::string &value)
{
    return "<t:BusinessDocument.GovernmentGeneratedIdentifier.Text contextRef=\"" + context_ref + "\">" + value +
           "</t:BusinessDocument.GovernmentGeneratedIdentifier.Text>";
}

// The oracle's six lists for the file.
std::vector<std::string> oracle(const std::string &file)
{
    const std::string script = std::string(LUMBA_SOURCE_DIR) + "/tests/runtime/documents/sbr_oracle.py";
    const char *argv[] = {"/usr/bin/python3", script.c_str(), file.c_str(), nullptr};
    gchar *out = nullptr, *err = nullptr;
    gint status = 0;
    GError *error = nullptr;
    EXPECT_TRUE(g_spawn_sync(nullptr, const_cast<gchar **>(argv), nullptr, G_SPAWN_DEFAULT, nullptr, nullptr, &out,
                             &err, &status, &error));
    EXPECT_EQ(status, 0) << (err ? err : "");
    std::vector<std::string> lists;
    std::istringstream lines(out ? out : "");
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("== list ", 0) == 0)
            lists.emplace_back();
        else if (!lists.empty())
            lists.back() += line + "\n";
    }
    g_free(out);
    g_free(err);
    if (error) g_error_free(error);
    return lists;
}

// Hostile sizes stop with the limit they pass, and the lists made so far go.
TEST_F(Sbr, NestingDepthAndNameLengthAreBounded)
{
    const auto nested = [](std::size_t depth, const std::string &name) {
        std::string text;
        for (std::size_t i = 0; i < depth; ++i) text += "<" + name + ">";
        text += "x";
        for (std::size_t i = 0; i < depth; ++i) text += "</" + name + ">";
        return text;
    };
    const std::string long_name(500, 'n');
    struct Case {
        const char *what;
        std::string body;
        const char *stop;  // nullptr: read whole
        SbrReadCode code;
        std::string tag;  // the start tag found beyond the limit: its n-th
        int n;
    } cases[] = {
        {"the deepest document read", nested(SBR_MAX_DEPTH - 1, "a"), nullptr, SbrReadCode::None, "", 0},
        // The root is the first level.
        {"one level deeper", nested(SBR_MAX_DEPTH, "a"),
         "Pass 1: XML Document nests elements deeper than 256 levels (SBR_MAX_DEPTH) @ sbr_xml_parse",
         SbrReadCode::TooDeep, "<a>", SBR_MAX_DEPTH},
        {"five thousand levels", nested(5000, "a"),
         "Pass 1: XML Document nests elements deeper than 256 levels (SBR_MAX_DEPTH) @ sbr_xml_parse",
         SbrReadCode::TooDeep, "<a>", SBR_MAX_DEPTH},
        // "xbrl" and 33 names of 500 with their carets pass 16384 bytes.
        {"a path of long names", nested(40, long_name),
         "Pass 1: XML Document has an element path longer than 16384 bytes (SBR_MAX_NAME) @ sbr_xml_parse",
         SbrReadCode::PathTooLong, "<" + long_name + ">", 33},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const std::string file = document(c.body);
        const int before = live_lists();
        testing::internal::CaptureStdout();
        if (c.stop) {
            const ReadError error = refused(file);
            EXPECT_EQ(error.message, c.stop);
            EXPECT_EQ(error.code, code(c.code));
            // libxml2 hands a start tag over on its closing ">".
            EXPECT_EQ(error.offset, after(file, c.tag, c.n) - 1);
        } else {
            Lists lists(file);
            EXPECT_EQ(lists.values("a"), std::vector<std::string>{"x"});
        }
        testing::internal::GetCapturedStdout();
        EXPECT_EQ(live_lists(), before);
    }
}

// A fact repeated many times is joined in one value, in time proportionate to its length.
TEST_F(Sbr, AFactRepeatedManyTimesIsJoinedOnce)
{
    constexpr int repeats = 60000;
    std::string body;
    body.reserve(repeats * 24);
    for (int i = 0; i < repeats; ++i) body += "<t:F>" + std::to_string(i % 10) + "</t:F>";
    testing::internal::CaptureStdout();
    Lists lists(document(body));
    testing::internal::GetCapturedStdout();
    const auto values = lists.values("F");
    ASSERT_EQ(values.size(), 1u);
    ASSERT_EQ(values[0].size(), 2u * repeats - 1);
    EXPECT_EQ(values[0].substr(0, 8), "0\n1\n2\n3\n");
    EXPECT_EQ(values[0].substr(values[0].size() - 3), "8\n9");
}

// A signal that arrives while a document is read is acted on by the handlers' safe point: the
// run ends through the signal path (an interrupt: the fatal report) and the lists go.
TEST_F(Sbr, ASignalStopsTheImportAtTheSafePoint)
{
    std::string body;
    for (int i = 0; i < 3 * static_cast<int>(SBR_SIGNAL_EVERY); ++i) body += "<t:F>1</t:F>";
    const std::string file = document(body);
    const int before = live_lists();
    testing::internal::CaptureStdout();
    pending_signal = SIGINT;
    EXPECT_EQ(abort_text([&] { Lists lists(file); }), "Program interrupted by user");
    const bool left = pending_signal != 0;
    pending_signal = 0;
    EXPECT_FALSE(left);
    EXPECT_EQ(testing::internal::GetCapturedStdout().find("well formed"), std::string::npos);
    EXPECT_EQ(live_lists(), before);
}

} // namespace

TEST_F(Sbr, TheFixtureReadsAsTheIndependentReadingDoes)
{
    const std::string file = FIXTURES + "good.xml";
    const std::vector<std::string> expected = oracle(file);
    ASSERT_EQ(expected.size(), static_cast<std::size_t>(SBR_LISTS));
    testing::internal::CaptureStdout();
    Lists lists(file);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Pass 1: XML Document is well formed\nPass 2: XML Document is well formed\n");
    for (int l = 0; l < SBR_LISTS; ++l) EXPECT_EQ(lists.dump(SbrList(l)), expected[l]) << "list " << l + 1;
    // What the fixture holds, so that an oracle gone wrong the same way cannot pass it.
    EXPECT_EQ(lists.values("OrganisationName"), (std::vector<std::string>{"Smith & Jones", "Agent <Pty> Ltd  "}));
    EXPECT_EQ(lists.values("Remark"), std::vector<std::string>{"first line\nsecond line "});
    EXPECT_EQ(lists.names(SBR_DINS), std::vector<std::string>{"DIN-2026-0042"});
}

// Each case reads one document and checks one rule of the import on it.
TEST_F(Sbr, EdgeCases)
{
    const std::string fact_ri = "<t:F contextRef=\"ri\">x</t:F>";
    struct Case {
        const char *what;
        std::string body;
        std::function<void(const Lists &)> check;
    } cases[] = {
        {"a repeated fact is joined by a newline", "<t:F contextRef=\"c\">one</t:F><t:F contextRef=\"c\">two</t:F>",
         [](const Lists &l) {
             EXPECT_EQ(l.values("F"), std::vector<std::string>{"one\ntwo"});
             EXPECT_EQ(l.values("xbrl^F"), std::vector<std::string>{"one\ntwo"});
         }},
        {"a repeated fact takes the flags of its last occurrence",
         "<t:F contextRef=\"c\" isEditable=\"yes\" isVisible=\"v\">one</t:F>"
         "<t:F contextRef=\"c\" isEditable=\"no\">two</t:F>",
         [](const Lists &l) {
             EXPECT_EQ(l.values("F"), std::vector<std::string>{"one\ntwo"});
             const int i = l.indexes("F").at(0);
             EXPECT_EQ(l.keyed(SBR_EDITABLE, i), "no");
             EXPECT_EQ(l.keyed(SBR_VISIBLE, i), "v");
             EXPECT_EQ(l.keyed(SBR_CONTEXT, i), "c");
         }},
        {"one name under two contexts", context("a", {"Intermediary"}) + context("b", {"Reporting"}) +
                                            "<t:F contextRef=\"a\">x</t:F><t:F contextRef=\"b\">y</t:F>",
         [](const Lists &l) {
             EXPECT_EQ(l.values("F"), (std::vector<std::string>{"x", "y"}));
             const auto at = l.indexes("F");
             ASSERT_EQ(at.size(), 2u);
             EXPECT_EQ(l.keyed(SBR_CONTEXT, at[0]), "I");
             EXPECT_EQ(l.keyed(SBR_CONTEXT, at[1]), "R");
         }},
        {"members I and R make R.I", context("ri", {"Intermediary", "Reporting"}) + fact_ri,
         [](const Lists &l) {
             const auto at = l.indexes("F");
             ASSERT_EQ(at.size(), 1u);
             EXPECT_EQ(l.keyed(SBR_CONTEXT, at[0]), "R.I");
             EXPECT_EQ(l.values("explicitMember*R.I"), std::vector<std::string>{"d:Intermediary\nd:Reporting"});
         }},
        {"I, R and A make R.I.A", context("ri", {"Intermediary", "Reporting", "Agent"}) + fact_ri,
         [](const Lists &l) { EXPECT_EQ(l.keyed(SBR_CONTEXT, l.indexes("F").at(0)), "R.I.A"); }},
        {"a DIN of two contexts is listed once",
         context("a", {"Intermediary"}) + context("b", {"Reporting"}) + din("a", "D1") + din("B", "D1") +
             "<t:F contextRef=\"b\">v</t:F>",
         [](const Lists &l) {
             EXPECT_EQ(l.names(SBR_DINS), std::vector<std::string>{"D1"});
             EXPECT_EQ(l.keyed(SBR_DIN, l.indexes("F").at(0)), "D1");
         }},
        {"leading white space is dropped, trailing kept", "<t:F> \t\n  text with space \t </t:F>",
         [](const Lists &l) { EXPECT_EQ(l.values("F"), std::vector<std::string>{"text with space \t "}); }},
        {"text in pieces is joined before trimming", "<t:F>  Smith &amp; Jones</t:F><t:G>&lt; <![CDATA[a]]> &#65;</t:G>",
         [](const Lists &l) {
             EXPECT_EQ(l.values("F"), std::vector<std::string>{"Smith & Jones"});
             EXPECT_EQ(l.values("G"), std::vector<std::string>{"< a A"});
         }},
        {"RA beside R is a member of its own",
         context("r", {"Reporting", "Intermediary"}) + context("ra", {"ReportingAgent", "Intermediary"}) +
             context("rra", {"Reporting", "ReportingAgent"}) +
             "<t:F contextRef=\"r\">x</t:F><t:F contextRef=\"ra\">y</t:F><t:F contextRef=\"rra\">z</t:F>",
         [](const Lists &l) {
             EXPECT_EQ(l.values("F"), (std::vector<std::string>{"x", "y", "z"}));
             const auto at = l.indexes("F");
             ASSERT_EQ(at.size(), 3u);
             EXPECT_EQ(l.keyed(SBR_CONTEXT, at[0]), "R.I");
             EXPECT_EQ(l.keyed(SBR_CONTEXT, at[1]), "RA.I");
             EXPECT_EQ(l.keyed(SBR_CONTEXT, at[2]), "RA.R");
         }},
        {"a fact without context has no list-4 entry", "<t:F isEditable=\"Y\">v</t:F>",
         [](const Lists &l) {
             const int i = l.indexes("F").at(0);
             EXPECT_EQ(l.keyed(SBR_CONTEXT, i), std::nullopt);
             EXPECT_EQ(l.keyed(SBR_EDITABLE, i), "Y");
             EXPECT_EQ(l.keyed(SBR_VISIBLE, i), std::nullopt);
             EXPECT_EQ(l.keyed(SBR_DIN, i), "");
         }},
        {"a tuple lacking its code and its amount's attributes stores empty texts",
         "<t:ITPAYGWithholdingDetails><t:IncomeTax.PayAsYouGoWithholding.TaxWithheld.Amount>9"
         "</t:IncomeTax.PayAsYouGoWithholding.TaxWithheld.Amount></t:ITPAYGWithholdingDetails>"
         "<t:ITPAYGWithholdingDetails/>",
         [](const Lists &l) {
             const std::string name = "IncomeTax.PayAsYouGoWithholding.TaxWithheld.Amount#";
             EXPECT_EQ(l.values(name), std::vector<std::string>{""});  // the second tuple's, with no amount
             const int i = l.indexes(name).at(0);
             for (SbrList k : {SBR_EDITABLE, SBR_VISIBLE, SBR_CONTEXT, SBR_DIN}) EXPECT_EQ(l.keyed(k, i), "");
             EXPECT_TRUE(l.values("IncomeTax.PayAsYouGoWithholding.TaxWithheld.Amount").empty());
         }},
        {"a tuple with its code", context("ri", {"Intermediary", "Reporting"}) + din("ri", "D9") +
                                      "<t:ITPAYGWithholdingDetails>"
                                      "<t:IncomeTax.PayAsYouGoWithholding.PaymentType.Code>ETP</t:IncomeTax.PayAsYouGoWithholding.PaymentType.Code>"
                                      "<t:IncomeTax.PayAsYouGoWithholding.TaxWithheld.Amount contextRef=\"ri\" isEditable=\"1\" isVisible=\"0\">"
                                      "42</t:IncomeTax.PayAsYouGoWithholding.TaxWithheld.Amount></t:ITPAYGWithholdingDetails>",
         [](const Lists &l) {
             const std::string name = "IncomeTax.PayAsYouGoWithholding.TaxWithheld.Amount#ETP";
             EXPECT_EQ(l.values(name), std::vector<std::string>{"42"});
             const int i = l.indexes(name).at(0);
             EXPECT_EQ(l.keyed(SBR_EDITABLE, i), "1");
             EXPECT_EQ(l.keyed(SBR_VISIBLE, i), "0");
             EXPECT_EQ(l.keyed(SBR_CONTEXT, i), "R.I");
             EXPECT_EQ(l.keyed(SBR_DIN, i), "D9");
         }},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const int before = live_lists();
        {
            Lists lists(document(c.body));
            c.check(lists);
        }
        EXPECT_EQ(live_lists(), before);
    }
}

TEST_F(Sbr, ContextNamesAreBuiltFromWholeAbbreviations)
{
    struct {
        std::vector<const char *> members;
        const char *name;
    } cases[] = {
        {{"Intermediary", "Reporting", "Agent"}, "R.I.A"},
        {{"Reporting", "ReportingAgent"}, "RA.R"},
        {{"ReportingAgent", "Reporting"}, "RA.R"},
        {{"Reporting", "Reporting"}, "R"},
        {{"AB", "A", "ABC", "B"}, "B.ABC.AB.A"},
        {{"lower only", "Xy"}, "X"},  // a member without capitals adds an empty component
        {{"Xy", "lower only"}, "X."},
    };
    for (const auto &c : cases) {
        SbrContext_t record;
        for (const char *m : c.members) append_context(record, m);
        EXPECT_EQ(record.contexts.at(0).name, c.name);
    }
}

// More than 1024 contexts, ids over 127 characters and DINs over 20 are kept whole.
TEST_F(Sbr, NoFixedSizes)
{
    std::string body;
    const int n = 1500;
    for (int i = 0; i < n; ++i) body += context("c" + std::to_string(i), {i % 2 ? "Reporting" : "Intermediary"});
    const std::string long_id = std::string(300, 'x') + "END";
    const std::string long_din = std::string(100, '7') + "END";
    const std::string member(400, 'Q');
    body += context(long_id, {member});
    body += din(long_id, long_din);
    body += "<t:F contextRef=\"c1499\">last</t:F><t:F contextRef=\"" + long_id + "\">long</t:F>";
    Lists lists(document(body));
    const auto at = lists.indexes("F");
    ASSERT_EQ(at.size(), 2u);
    EXPECT_EQ(lists.keyed(SBR_CONTEXT, at[0]), "R");
    EXPECT_EQ(lists.keyed(SBR_CONTEXT, at[1]), member);
    EXPECT_EQ(lists.keyed(SBR_DIN, at[1]), long_din);
    EXPECT_EQ(lists.names(SBR_DINS), std::vector<std::string>{long_din});
}

TEST_F(Sbr, BadInputIsRefusedAndTheListsFreed)
{
    const std::string secret = write("secret.txt", "TOP-SECRET-TEXT");
    const std::string missing = std::string(dir) + "/missing.xml";
    struct {
        std::string file;
        const char *stop;
        SbrReadCode code;
        // The offset is just after this text (empty: 0): the reference, the end tag that does not
        // pair, or where libxml2 gave up; a declared entity is refused at the end of its declaration,
        // where libxml2 asks whether it is declared already.
        std::string at;
    } cases[] = {
        {FIXTURES + "truncated.xml", "Pass 1: XML Document isn't well formed @ sbr_xml_parse", SbrReadCode::NotWellFormed,
         "<xbrli:entity>\n"},
        {FIXTURES + "entity.xml",
         "Pass 1: XML Document isn't well formed @ sbr_xml_parse: entities are not accepted (&secret;)",
         SbrReadCode::EntityRefused, "&secret;"},
        {FIXTURES + "unpaired.xml", "Unpaired end element 'measure*AUD^X' in XML parsing, X is expected",
         SbrReadCode::UnpairedEnd, "</measure>"},
        {missing, "Pass 1: Context creation error @ sbr_xml_parse", SbrReadCode::ContextCreation, ""},
        // The entity is never declared to anyone, so its file is never read.
        {write("entity.xml", "<?xml version=\"1.0\"?>\n<!DOCTYPE x [<!ENTITY s SYSTEM \"file://" + secret +
                                 "\">]>\n<x><F>&s;</F></x>\n"),
         "Pass 1: XML Document isn't well formed @ sbr_xml_parse: entities are not accepted (&s;)",
         SbrReadCode::EntityRefused, "&s;"},
        // Nested internal entities (a billion laughs) stop at the first reference, in a declaration,
        // expanding nothing.
        {write("laughs.xml", "<?xml version=\"1.0\"?>\n<!DOCTYPE x [<!ENTITY a \"TOP-SECRET-TEXT\">"
                             "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\"><!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;\">]>\n"
                             "<x><F>&c;</F></x>\n"),
         "Pass 1: XML Document isn't well formed @ sbr_xml_parse: entities are not accepted (&a;)",
         SbrReadCode::EntityRefused, "<!ENTITY a \"TOP-SECRET-TEXT\">"},
        {write("attribute.xml", "<?xml version=\"1.0\"?>\n<!DOCTYPE x [<!ENTITY i \"inner\">]>\n<x><F a=\"&i;\">1</F></x>\n"),
         "Pass 1: XML Document isn't well formed @ sbr_xml_parse: entities are not accepted (&i;)",
         SbrReadCode::EntityRefused, "<!ENTITY i \"inner\">"},
        // libxml2 keeps the declarations of a DOCTYPE in a document of its own, which goes with
        // the parser (the sanitizer build's leak check).
        {std::string(LUMBA_SOURCE_DIR) + "/tests/fuzz/sbr_regressions/doctype-cut-inside-an-entity-declaration.xml",
         "Pass 1: XML Document isn't well formed @ sbr_xml_parse", SbrReadCode::NotWellFormed, "<t Ni"},
    };
    for (const auto &c : cases) {
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        const ReadError error = refused(c.file);
        const std::string out = testing::internal::GetCapturedStdout();
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(error.message, c.stop) << c.file;
        EXPECT_EQ(error.code, code(c.code)) << c.file;
        EXPECT_EQ(error.offset, c.at.empty() ? 0 : after(c.file, c.at)) << c.file;
        EXPECT_EQ(out.find("is well formed"), std::string::npos) << out;
        EXPECT_EQ(err.find("TOP-SECRET"), std::string::npos) << err;
    }
}

// In a shared directory of another user's only a document of the run's own (or root's) is read: a
// link they planted under the name (to a document only root may read), a FIFO (libxml2 would wait
// on it for ever) and a document of theirs give the open error; the run's own document there is
// read as anywhere.
TEST_F(Sbr, OnlyTheRunsOwnDocumentIsReadFromASharedDirectory)
{
    const std::string good = "<?xml version=\"1.0\"?>\n<x><F>planted</F></x>\n";
    const std::string pub = std::string(dir) + "/pub";
    lumba_test::make_their_shared_directory(pub);
    const std::string kept = write("kept.xml", good);
    ASSERT_EQ(chmod(kept.c_str(), 0600), 0);
    lumba_test::plant_link(kept, pub + "/link.xml");
    lumba_test::plant_fifo(pub + "/fifo.xml");
    lumba_test::plant_file(pub + "/theirs.xml", good);
    files.insert(files.end(), {pub + "/link.xml", pub + "/fifo.xml", pub + "/theirs.xml", pub + "/mine.xml", pub});
    const lumba_test::FifoFeeder feeder(pub + "/fifo.xml", good);
    for (const char *name : {"link.xml", "fifo.xml", "theirs.xml"}) {
        testing::internal::CaptureStdout();
        const ReadError error = refused(pub + "/" + name);
        EXPECT_EQ(error.message, "Pass 1: Context creation error @ sbr_xml_parse") << name;
        EXPECT_EQ(error.code, code(SbrReadCode::ContextCreation)) << name;
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << name;
    }
    std::ofstream(pub + "/mine.xml") << good;
    testing::internal::CaptureStdout();
    {
        const Lists lists(pub + "/mine.xml");
        EXPECT_EQ(lists.values("F"), std::vector<std::string>{"planted"});
    }
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Pass 1: XML Document is well formed\nPass 2: XML Document is well formed\n");
}

// With an external subset an undeclared entity is no longer an error: its reference reads as
// nothing, and neither that subset nor the file an entity names is read.
TEST_F(Sbr, EntityReferencesReadAsNothingBesideAnExternalSubset)
{
    const std::string secret = write("secret.txt", "TOP-SECRET-TEXT");
    const std::string file = write("external.xml", "<?xml version=\"1.0\"?>\n<!DOCTYPE x SYSTEM \"" + std::string(dir) +
                                                       "/missing.dtd\" [<!ENTITY e SYSTEM \"file://" + secret +
                                                       "\"><!ENTITY i \"inner\">]>\n<x><F>a&e;b&i;c</F></x>\n");
    testing::internal::CaptureStdout();
    Lists lists(file);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Pass 1: XML Document is well formed\nPass 2: XML Document is well formed\n");
    EXPECT_EQ(lists.values("F"), std::vector<std::string>{"abc"});
}
