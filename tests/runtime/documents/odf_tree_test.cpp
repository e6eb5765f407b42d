// The XML tree of OpenDocument parts (reader, writer, navigation, tree operations) and the
// package read and written with libzip, checked by an independent reader.
#include <gtest/gtest.h>
#include <string>

#include "odf_fixture.h"
#include "odf_package.h"
#include "odf_tree.h"
#include "read_error.h"
#include "test_host.h"

namespace {

using lumba_test::abort_text;
using namespace odf_test;

const std::string XML = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";

// A part that must read.
IooTree parse(const std::string &part)
{
    IooTree tree;
    const ReadError error = insert_oo_parse_xml(part, tree);
    EXPECT_FALSE(error) << error.message;
    return tree;
}

std::string round_trip(const std::string &part)
{
    IooTree tree = parse(part);
    std::string out;
    if (tree) {
        const ReadError error = insert_oo_write_xml(tree.get(), out);
        EXPECT_FALSE(error) << error.message;
    }
    return out;
}

int code(OdfReadCode c) { return static_cast<int>(c); }

// A part that must not read: the error, with the tree the caller had left as it was.
ReadError refused(const std::string &part)
{
    IooTree tree = parse(XML + "<kept/>");
    const IooNode_t *kept = tree.get();
    const ReadError error = insert_oo_parse_xml(part, tree);
    EXPECT_TRUE(error) << part;
    EXPECT_EQ(tree.get(), kept) << part;
    EXPECT_EQ(tree->next->name, "kept") << part;
    return error;
}

struct RoundTrip {
    const char *part;      // after the declaration
    const char *written;   // nullptr: the same
};

// A part comes back as it was, but for white space inside tags and childless elements.
TEST(OdfTree, ReadAndWrittenBackAsItWas)
{
    const RoundTrip cases[] = {
        {"\n<office:document-content a=\"1\"><text:p text:style-name=\"P1\">R&amp;D &lt;x&gt; &apos;q&apos;</text:p></office:document-content>\n", nullptr},
        {"<r><a   x=\"1\"    y=\"2\"/></r>", "<r><a x=\"1\" y=\"2\"/></r>"},
        {"<r><a x=\"1\" /></r>", "<r><a x=\"1\"/></r>"},
        {"<r><text:p text:style-name=\"P1\"></text:p><b/>after</r>", "<r><text:p text:style-name=\"P1\"/><b/>after</r>"},
        {"<r><a></a><b>t</b></r>", "<r><a/><b>t</b></r>"},
        {"<r x=unquoted y=\"v\">t</r>", nullptr},
        {"<r flag other=\"1\">t</r>", nullptr},
        {"<r><c>one</c>two<d/></r>\ntrailing text", nullptr},
    };
    for (const RoundTrip &c : cases) {
        const std::string part = XML + c.part;
        EXPECT_EQ(round_trip(part), c.written ? XML + c.written : part) << c.part;
    }
    // An unquoted value or a bare name ends at the declaration's "?>".
    for (const std::string head : {"<?xml version=1.0?>", "<?xml standalone?>", "<?xml a=\"1\" b?>", "<?xml?>"})
        EXPECT_EQ(round_trip(head + "<r/>"), head + "<r/>");
    EXPECT_EQ(round_trip("<?xml ?><r/>"), "<?xml?><r/>");
    // Elsewhere "?" is an ordinary character.
    EXPECT_EQ(round_trip(XML + "<r? a=b?>t</r?>"), XML + "<r? a=b?>t</r?>");
    EXPECT_EQ(round_trip("<?xml?><? >m"), "<?xml?><?>m</?>");
    EXPECT_EQ(round_trip("<?xml?><?>m</?>"), "<?xml?><?>m</?>");
    EXPECT_EQ(round_trip("<?xml?><?<? >m"), "<?xml?><?<?>m</?<?>");
    EXPECT_EQ(round_trip("<?xml?><?<?>m</?<?>"), "<?xml?><?<?>m</?<?>");
    // A NUL byte ends the part where it stands.
    EXPECT_EQ(round_trip(XML + "<r>a</r>tail" + std::string(1, '\0') + "<x/>"), XML + "<r>a</r>tail");
}

TEST(OdfTree, ValuesKeepTheirQuotesAndTextItsEntities)
{
    IooTree tree = parse(XML + "<office:document-content><text:p text:style-name=\"P1\">a&amp;b</text:p></office:document-content>");
    const IooNode_t *doc = tree->next;
    ASSERT_NE(doc, nullptr);
    EXPECT_EQ(doc->type, IOO_TAG_DOC_CONTENT);
    const IooNode_t *p = doc->content;
    EXPECT_EQ(p->type, IOO_TAG_PAR);
    EXPECT_EQ(p->parent, doc);
    EXPECT_EQ(p->attributes->type, IOO_ATTR_STYLE_NAME);
    EXPECT_EQ(*p->attributes->value, "\"P1\"");
    EXPECT_EQ(*p->content->text, "a&amp;b");
    EXPECT_EQ(p->content->type, IOO_TAG_RAW_TEXT);
    EXPECT_EQ(tree->type, IOO_TAG_HEAD_XML);
}

TEST(OdfTree, OnlyTheFirstChildLinksItsParent)
{
    IooTree tree = parse(XML + "<r><a/><b/><c/></r>");
    const IooNode_t *r = tree->next;
    EXPECT_EQ(tree->next->type, IOO_TAG_HEAD);
    EXPECT_EQ(r->content->parent, r);
    EXPECT_EQ(r->content->next->parent, nullptr);
    EXPECT_EQ(ioo_parent(r->content->next->next), r);
}

TEST(OdfTree, CodesComeFromTheNames)
{
    EXPECT_EQ(insert_oo_set_tag_type("style:page-layout"), 26u);
    EXPECT_EQ(insert_oo_set_tag_type("table:table-row"), 26u);
    EXPECT_EQ(insert_oo_set_tag_type("office:spreadsheet"), IOO_TAG_OSPREADSHEET);
    EXPECT_EQ(insert_oo_set_tag_type("Text:p"), IOO_TAG_DEFAULT);
    EXPECT_EQ(insert_oo_set_attr_type("manifest:full-path"), IOO_ATTR_MAN_FULL_PATH);
    EXPECT_EQ(insert_oo_set_attr_type("style:name"), IOO_ATTR_NAME);
    EXPECT_EQ(insert_oo_set_attr_type("x"), IOO_ATTR_DEFAULT);
}

TEST(OdfTree, LongNamesAndValues)
{
    const std::string name99(99, 'n');
    EXPECT_EQ(round_trip(XML + "<" + name99 + "/>"), XML + "<" + name99 + "/>");
    const ReadError name = refused(XML + "<" + name99 + "n/>");
    EXPECT_EQ(name.message, "Buffer overflow when obtaining tag name");
    EXPECT_EQ(name.code, code(OdfReadCode::NameTooLong));
    EXPECT_EQ(name.offset, XML.size() + 1 + 99);  // the hundredth character
    const ReadError attribute = refused(XML + "<r " + name99 + "n=\"1\"/>");
    EXPECT_EQ(attribute.message, "Buffer overflow when obtaining tag sub-name");
    EXPECT_EQ(attribute.code, code(OdfReadCode::AttrNameTooLong));
    EXPECT_EQ(attribute.offset, XML.size() + 3 + 99);
    const std::string value = "<r a=\"" + std::string(5000, 'v') + "\"/>";
    EXPECT_EQ(round_trip(XML + value), XML + value);
}

struct Fault {
    std::string part;
    OdfReadCode code;
    std::size_t offset;  // of the byte the reader was on when it found the fault
    const char *message;
};

// The reader's faults come back with their message, code and place; the caller's tree is kept.
TEST(OdfTree, FaultsAreReturned)
{
    const std::string X = "<?xml version=\"1.0\"?>";  // 21 bytes
    std::string deep = XML;
    for (int i = 0; i < 1100; ++i) deep += "<a>";
    const Fault cases[] = {
        {"</x>", OdfReadCode::CloseFirst, 3, "Can not start document with a close"},
        {"<r/>", OdfReadCode::NoDeclaration, 3, "OpenOffice Document did not commence with '?xml'"},
        {X, OdfReadCode::Malformed, 21, "Malformed OpenOffice Document"},
        {X + "</r>", OdfReadCode::MisplacedClose, 24, "Missplaced closing tag"},
        {X + "<r/></r>", OdfReadCode::MisplacedClose, 28, "Missplaced closing tag"},
        {X + "<r><a>x</b></r>", OdfReadCode::MismatchedClose, 31, "Mismatching closing tag following open"},
        {X + "<r><a></b></r>", OdfReadCode::MismatchedClose, 30, "Mismatching closing tag following open with empty content"},
        {X + "<r=1/>", OdfReadCode::EqualsInName, 23, "Unexpected '=' encountered in tag name"},
        {X + "<r/x>", OdfReadCode::MalformedClose, 24, "Malformed close tag; expecting '>' found 'x'"},
        {X + "<r a=\"1\"/x>", OdfReadCode::EndOfTag, 30, "Unexpected end to tag encountered"},
        {X + "<r a=\"1\"?x>", OdfReadCode::EndOfTag, 30, "Unexpected end to tag encountered"},
        {X + "<r a=\"1", OdfReadCode::EndOfFile, 28, "Unexpected end of file or error encountered"},
        {X + "<r a=\"1" + std::string(1, '\0') + "\"/>", OdfReadCode::EndOfFile, 28,
         "Unexpected end of file or error encountered"},
        {X + "<r a=1", OdfReadCode::EndOfFile, 27, "Unexpected end of file or error encountered"},
        {X + "<r ", OdfReadCode::EndInAttributes, 24, "Unexpected ending or error encountered"},
        {deep, OdfReadCode::TooDeep, XML.size() + 1001 * 3, "OpenOffice Document nested more than 1000 levels deep"},
    };
    for (const Fault &c : cases) {
        const ReadError error = refused(c.part);
        EXPECT_EQ(error.message, c.message) << c.part;
        EXPECT_EQ(error.code, code(c.code)) << c.part;
        EXPECT_EQ(error.offset, c.offset) << c.part;
    }
    // An empty part reads as an empty tree.
    IooTree tree = parse(XML + "<kept/>");
    EXPECT_FALSE(insert_oo_parse_xml("", tree));
    EXPECT_EQ(tree, nullptr);
}

struct Refusal {
    void (*damage)(IooNode_t *head);
    OdfReadCode code;
    const char *message;
};

// A tree the writer cannot write leaves what the caller had written before untouched.
TEST(OdfTree, TheWriterRefusesBrokenTrees)
{
    const Refusal cases[] = {
        {[](IooNode_t *head) { head->next->content->next->name.clear(); }, OdfReadCode::MissingName, "Missing name in tag"},
        {[](IooNode_t *head) {
             insert_oo_free_list(head->next);
             head->next = nullptr;
         },
         OdfReadCode::MissingContent, "Malformed OpenOffice Document missing content"},
        {[](IooNode_t *head) { head->name = "xml"; }, OdfReadCode::MissingDeclaration,
         "Malformed OpenOffice Document missing doctype name"},
    };
    for (const Refusal &c : cases) {
        IooTree tree = parse(XML + "<r><a>text</a><b/></r>");
        c.damage(tree.get());
        std::string out = "before";
        const ReadError error = insert_oo_write_xml(tree.get(), out);
        EXPECT_EQ(error.message, c.message);
        EXPECT_EQ(error.code, code(c.code)) << c.message;
        EXPECT_EQ(error.offset, 0u) << c.message;
        EXPECT_EQ(out, "before") << c.message;
    }
    // A part whose element has no name reads, and its writing is refused.
    IooTree tree = parse(XML + "<r>< a=\"1\"/></r>");
    std::string out;
    EXPECT_EQ(insert_oo_write_xml(tree.get(), out).message, "Missing name in tag");
    EXPECT_EQ(out, "");
}

struct Place {
    const char *part;
    IooNode_t *(*find)(IooNode_t *);
    const char *found;  // the name (or text) of the node found, or the warning
};

TEST(OdfTree, NavigationFindsThePlacesOrWarns)
{
    const Place cases[] = {
        {"<office:document-content><office:automatic-styles><style:style/></office:automatic-styles></office:document-content>",
         insert_oo_get_style_ptr_content_xml, "style:style"},
        {"<x/>", insert_oo_get_style_ptr_content_xml, "Document content not found in content OpenOffice Document"},
        {"<office:document-content/>", insert_oo_get_style_ptr_content_xml,
         "Content not found in content section of content OpenOffice Document"},
        {"<office:document-content><a/></office:document-content>", insert_oo_get_style_ptr_content_xml,
         "Content Automatic Styles section not found"},
        {"<office:document-content><office:automatic-styles/></office:document-content>",
         insert_oo_get_style_ptr_content_xml, "No styles found in content automatic styles section"},
        {"<office:document-content><office:automatic-styles><q/></office:automatic-styles></office:document-content>",
         insert_oo_get_style_ptr_content_xml, "Styles not found in content auto styles section q"},
        {"<office:document-content><office:body><office:spreadsheet><t/></office:spreadsheet></office:body></office:document-content>",
         insert_oo_get_text_ptr_content_xml, "t"},
        {"<x/>", insert_oo_get_text_ptr_content_xml, "Document content not found in content OpenOffice Document content"},
        {"<office:document-content/>", insert_oo_get_text_ptr_content_xml, "Content not found in content section of OpenOffice Document"},
        {"<office:document-content><a/></office:document-content>", insert_oo_get_text_ptr_content_xml,
         "Main Body content section not found in content"},
        {"<office:document-content><office:body/></office:document-content>", insert_oo_get_text_ptr_content_xml,
         "Content not found in body of content OpenOffice Document"},
        {"<office:document-content><office:body><a/></office:body></office:document-content>",
         insert_oo_get_text_ptr_content_xml, "Not an OpenOffice Writer/Calc Document"},
        {"<office:document-content><office:body><office:text/></office:body></office:document-content>",
         insert_oo_get_text_ptr_content_xml, "Nothing found in content section of content OpenOffice Document"},
        {"<office:document-styles><office:automatic-styles><style:page-layout/></office:automatic-styles></office:document-styles>",
         insert_oo_get_style_ptr_styles_xml, "style:page-layout"},
        {"<x/>", insert_oo_get_style_ptr_styles_xml, "Styles not found in OpenOffice Document Styles"},
        {"<office:document-styles/>", insert_oo_get_style_ptr_styles_xml,
         "Content not found in styles section of OpenOffice Document Styles"},
        {"<office:document-styles><a/></office:document-styles>", insert_oo_get_style_ptr_styles_xml,
         "Styles Automatic Styles section not found"},
        {"<office:document-styles><office:automatic-styles/></office:document-styles>", insert_oo_get_style_ptr_styles_xml,
         "No styles found in styles automatic styles section"},
        {"<office:document-styles><office:automatic-styles><q/></office:automatic-styles></office:document-styles>",
         insert_oo_get_style_ptr_styles_xml, "Styles not found in styles auto styles section q"},
        {"<office:document-styles><office:master-styles/></office:document-styles>", insert_oo_get_text_ptr_styles_xml,
         "office:master-styles"},
        {"<x/>", insert_oo_get_text_ptr_styles_xml, "Content Styles not found in OpenOffice Document Styles"},
        {"<office:document-styles/>", insert_oo_get_text_ptr_styles_xml,
         "Content not found in content styles section of OpenOffice Document Styles"},
        {"<office:document-styles><a/></office:document-styles>", insert_oo_get_text_ptr_styles_xml,
         "Master Styles section not found in content sytles"},
    };
    for (const Place &c : cases) {
        Warnings warnings;
        IooTree tree = parse(XML + c.part);
        const IooNode_t *found = c.find(tree.get());
        if (found) {
            EXPECT_TRUE(Warnings::shown().empty()) << c.part;
            EXPECT_EQ(found->name, c.found) << c.part;
        } else {
            EXPECT_EQ(Warnings::shown(), std::vector<std::string>{c.found}) << c.part;
        }
    }
}

TEST(OdfTree, TreeOperations)
{
    IooTree tree = parse(XML + "<r><text:span text:style-name=\"T1\">a<b/></text:span>z</r>");
    IooNode_t *span = tree->next->content;
    IooNode_t *copy = insert_oo_copy_tag_attr(span);
    EXPECT_EQ(copy->content, nullptr);
    EXPECT_EQ(*copy->attributes->value, "\"T1\"");
    insert_oo_free_xml(copy);
    IooNode_t *deep = insert_oo_copy_tag1(span);
    EXPECT_EQ(deep->next, nullptr);
    EXPECT_EQ(deep->content->parent, deep);
    EXPECT_EQ(*deep->content->text, "a");
    insert_oo_free_xml(deep);
    IooNode_t *all = insert_oo_copy_tag(span);
    EXPECT_EQ(*all->next->text, "z");
    EXPECT_EQ(all->next->prior, all);
    insert_oo_free_list(all);

    insert_oo_add_link_attr(span, "text:style-name", "\"T2\"");
    insert_oo_add_link_attr(span, "fo:color", "\"#ff0000\"");
    EXPECT_EQ(span->attributes->next->type, IOO_ATTR_DEFAULT);
    insert_oo_add_unlink_attr(span, "text:style-name");
    insert_oo_add_unlink_attr(span, "none");
    IooNode_t *added = insert_oo_add_link_tag(span, "text:s");
    EXPECT_EQ(added->prior, span);
    EXPECT_EQ(*added->next->text, "z");
    insert_oo_add_child_tag(added, std::nullopt)->text = "in";
    EXPECT_EQ(abort_text([&] { insert_oo_add_child_tag(added, "x"); }),
              "Attempting to add new content where content already exists");
    EXPECT_EQ(abort_text([] { insert_oo_add_link_tag(nullptr, "x"); }), "Attempting to link new tag to null prior");
    std::string out;
    EXPECT_FALSE(insert_oo_write_xml(tree.get(), out));
    EXPECT_EQ(out, XML + "<r><text:span fo:color=\"#ff0000\">a<b/></text:span><text:s>in</text:s>z</r>");
}

// ---- The package ----------------------------------------------------------------------------------

TEST(OdfPackage, ReadAndWrittenAsANewConformantPackage)
{
    Scratch dir;
    const fs::path source = dir / "template.odt";
    make_template(source, {"Pictures/=", "Pictures/a.png=png"});
    OdfPackage package = insert_oo_open_doc(source.c_str());
    ASSERT_NE(odf_entry(package, "content.xml"), nullptr);
    EXPECT_TRUE(odf_entry(package, "Pictures/")->directory);
    // Only the parts the filling changes are read; a picture stays in the source until it is copied.
    EXPECT_TRUE(odf_entry(package, "Pictures/a.png")->in_source);
    EXPECT_EQ(odf_entry(package, "Pictures/a.png")->data, "");
    EXPECT_FALSE(odf_entry(package, "content.xml")->in_source);
    // An old target with entries of its own: none of them survive.
    const fs::path target = dir / "old target.odt";
    make_template(target, {"extra.txt=old"});
    std::swap(package.entries[0], package.entries[2]);  // mimetype is written first wherever it is
    insert_oo_close_doc(package, target.c_str());
    EXPECT_EQ(check({"package", target.string()}),
              conformant("mimetype,content.xml,META-INF/manifest.xml,styles.xml,meta.xml,Pictures/,Pictures/a.png"));
    EXPECT_EQ(check({"part", target.string(), "Pictures/a.png"}), "png");
    int files = 0;
    for (const auto &e : fs::directory_iterator(dir.path())) files += e.path().filename().string()[0] == '.';
    EXPECT_EQ(files, 0) << "no temporary file is left";
}

TEST(OdfPackage, NamesReachLibzipAsTheyAre)
{
    Scratch dir;
    const char *const names[] = {"with blanks.odt", "quote\"'s.odt", "semi;colon.odt", "$(touch marker)", "-leading.odt",
                                 "wild*card?.odt", "no extension"};
    for (const char *name : names) {
        const fs::path source = dir / name;
        make_template(source);
        OdfPackage package = insert_oo_open_doc(source.c_str());
        const fs::path target = dir / (std::string("out ") + name);
        insert_oo_close_doc(package, target.c_str());
        EXPECT_EQ(check({"package", target.string()}), conformant(TEMPLATE_NAMES)) << name;
    }
    EXPECT_FALSE(fs::exists(dir / "marker"));
    EXPECT_FALSE(fs::exists("marker"));
}

TEST(OdfPackage, EntriesLeadingOutsideAreRefused)
{
    Scratch dir;
    const fs::path link = dir / "link.odt", up = dir / "up.odt", absolute = dir / "absolute.odt";
    make_template(link, {"--link", "Pictures/x.png=/etc/passwd"});
    make_template(up, {"../escape.txt=x"});
    make_template(absolute, {"/abs.txt=x"});
    EXPECT_EQ(abort_text([&] { insert_oo_open_doc(link.c_str()); }),
              "Entry Pictures/x.png of the OpenOffice document " + link.string() +
                  " refused: it is not a plain file or directory");
    EXPECT_EQ(abort_text([&] { insert_oo_open_doc(up.c_str()); }),
              "Entry ../escape.txt of the OpenOffice document " + up.string() + " refused: its name leads outside the package");
    EXPECT_EQ(abort_text([&] { insert_oo_open_doc(absolute.c_str()); }),
              "Entry /abs.txt of the OpenOffice document " + absolute.string() +
                  " refused: its name leads outside the package");
}

TEST(OdfPackage, FailuresAreReportedWithLibzipsCode)
{
    Scratch dir;
    const fs::path garbage = dir / "garbage.odt";
    std::ofstream(garbage) << "not a zip archive";
    EXPECT_EQ(abort_text([&] { insert_oo_open_doc(garbage.c_str()); }),
              "Return value 19 when attempting to unzip the OpenOffice document " + garbage.string());
    const fs::path source = dir / "t.odt";
    make_template(source);
    OdfPackage package = insert_oo_open_doc(source.c_str());
    const std::string missing = (dir / "no/such/dir/t.odt").string();
    EXPECT_EQ(abort_text([&] { insert_oo_close_doc(package, missing.c_str()); }),
              "Error No such file or directory when attempting to write the OpenOffice document " + missing);
}

// In a directory others can write (sticky, as /tmp) no link on the way to the target is followed:
// a planted one is refused.
TEST(OdfPackage, WhereOthersCanWriteNoLinkIsFollowed)
{
    Scratch dir, elsewhere;
    fs::permissions(dir.path(), fs::perms::all | fs::perms::sticky_bit);
    const fs::path source = dir / "t.odt";
    make_template(source);
    OdfPackage package = insert_oo_open_doc(source.c_str());
    fs::create_directory_symlink(elsewhere.path(), dir / "planted");
    const std::string through = (dir / "planted/out.odt").string();
    EXPECT_EQ(abort_text([&] { insert_oo_close_doc(package, through.c_str()); }),
              "Error Too many levels of symbolic links when attempting to write the OpenOffice document " + through);
    EXPECT_TRUE(fs::is_empty(elsewhere.path()));
    // A link under the target's own name is refused as well, and nothing is written through it.
    fs::create_symlink(elsewhere / "victim", dir / "target.odt");
    const std::string linked = (dir / "target.odt").string();
    EXPECT_EQ(abort_text([&] { insert_oo_close_doc(package, linked.c_str()); }),
              "Error Too many levels of symbolic links when attempting to write the OpenOffice document " + linked);
    EXPECT_FALSE(fs::exists(elsewhere / "victim"));
    // A plain name there is written as anywhere else.
    const std::string plain = (dir / "plain.odt").string();
    insert_oo_close_doc(package, plain.c_str());
    EXPECT_EQ(check({"package", plain}), conformant(TEMPLATE_NAMES));
}

// Where only the run writes (outside the shared directories), the target is written beside itself
// under a temporary name too.
TEST(OdfPackage, APrivateDirectoryGetsTheSameNewPackage)
{
    Scratch dir;
    const fs::path source = dir / "t.odt";
    make_template(source);
    OdfPackage package = insert_oo_open_doc(source.c_str());
    const fs::path own = fs::current_path() / ("odf-private." + std::to_string(getpid()));
    fs::create_directories(own);
    const fs::path target = own / "out.odt";
    make_template(target, {"extra.txt=old"});
    insert_oo_close_doc(package, target.c_str());
    const std::string listing = check({"package", target.string()});
    int left = 0;
    for (const auto &e : fs::directory_iterator(own)) left += e.path().filename().string()[0] == '.';
    fs::remove_all(own);
    EXPECT_EQ(listing, conformant(TEMPLATE_NAMES));
    EXPECT_EQ(left, 0);
}

} // namespace
