// OpenDocument packages that no office suite writes, filled in-process: forged sizes, zip bombs,
// entries of one name or with backslashes, a package without its media type; what the filling
// copies without inflating it; and the protection of the documents it writes.
#include <gtest/gtest.h>

#include <csignal>
#include <random>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "hostile_zip.h"
#include "odf_fixture.h"
#include "odf_insert.h"
#include "odf_package.h"
#include "test_host.h"

namespace {

using lumba_test::abort_text;
using namespace odf_test;
using hostile_zip::Entry;

const char *const MANIFEST =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<manifest:manifest xmlns:manifest=\"urn:oasis:names:tc:"
    "opendocument:xmlns:manifest:1.0\"><manifest:file-entry manifest:full-path=\"/\" manifest:media-type=\"application/"
    "vnd.oasis.opendocument.text\"/></manifest:manifest>\n";
const char *const CONTENT_HEAD = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<office:document-content>";
const char *const CONTENT = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<office:document-content "
                            "xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
                            "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\"><office:body>"
                            "<office:text><text:p>Dear {NAME}</text:p></office:text></office:body>"
                            "</office:document-content>\n";
const char *const STYLES = "<?xml version=\"1.0\"?>\n<office:document-styles><office:automatic-styles><style:style "
                           "style:name=\"M\"/></office:automatic-styles><office:master-styles><text:p>Page</text:p>"
                           "</office:master-styles></office:document-styles>\n";
const char *const META = "<?xml version=\"1.0\"?>\n<office:document-meta><office:meta><meta:generator>Hand/1.0"
                         "</meta:generator></office:meta></office:document-meta>\n";

// A well-made package with extra entries after its parts, or with a part replaced.
std::vector<Entry> package(std::vector<Entry> extra = {})
{
    std::vector<Entry> entries{{"mimetype", "application/vnd.oasis.opendocument.text", {}},
                               {"META-INF/manifest.xml", MANIFEST, {}},
                               {"content.xml", CONTENT, {}},
                               {"styles.xml", STYLES, {}},
                               {"meta.xml", META, {}}};
    for (Entry &e : extra) {
        auto same = std::find_if(entries.begin(), entries.end(), [&](const Entry &p) { return p.name == e.name; });
        if (same != entries.end() && !e.text.starts_with("#second"))
            *same = std::move(e);
        else
            entries.push_back(std::move(e));
    }
    return entries;
}

Entry with(std::string name, hostile_zip::Stored stored) { return {std::move(name), {}, std::move(stored)}; }

constexpr std::uint64_t MiB = 1 << 20;
const std::string ZEROS(MiB, '\0');
const std::string BLANKS(MiB, ' ');

class OdfPackageTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        auto value = std::make_unique<InsertOoValue_t>();
        value->text = "Ms Who";
        insert_oo_add_item(&handle, std::move(value), IOO_TP_TEXT, "{NAME}");
    }
    int fill(const fs::path &source, const fs::path &target)
    {
        int cycles = 0;
        std::string generator;
        return insert_oo_fill(&handle, source.c_str(), target.c_str(), &cycles, &generator);
    }
    // Fills a package that must be refused: the message, with the old target and the directory
    // left as they were.
    std::string refusal(const std::vector<Entry> &entries)
    {
        const fs::path source = dir / "hostile.odt", target = dir / "old.odt";
        hostile_zip::write(source, entries);
        make_template(target);
        const std::string old = contents(target);
        std::string message = abort_text([&] { fill(source, target); });
        EXPECT_EQ(contents(target), old);
        for (const auto &e : fs::directory_iterator(dir.path()))
            EXPECT_NE(e.path().filename().string()[0], '.') << e.path();
        if (const auto at = message.find(source.string()); at != std::string::npos) message.replace(at, source.string().size(), "SRC");
        return message;
    }

    InsertOoHandle_t handle;
    Scratch dir;
};

struct Hostile {
    const char *what;
    std::vector<Entry> entries;
    std::string message;
};

TEST_F(OdfPackageTest, ForgedSizesStopBeforeAnythingIsAllocated)
{
    const std::vector<Hostile> cases = {
        {"a part declaring a terabyte", package({with("content.xml", hostile_zip::forged("<?xml?>ab", 1ull << 40))}),
         "Entry content.xml of the OpenOffice document SRC refused: it inflates to 1099511627776 bytes, above the limit "
         "of 536870912 bytes for an entry"},
        {"a part declaring almost 4 GiB", package({with("content.xml", hostile_zip::forged("<?xml?>ab", 0xFFFFFFF0))}),
         "Entry content.xml of the OpenOffice document SRC refused: it inflates to 4294967280 bytes, above the limit "
         "of 536870912 bytes for an entry"},
        {"a picture declaring a terabyte", package({with("Thumbnails/thumbnail.png", hostile_zip::forged("PNG", 1ull << 40))}),
         "Entry Thumbnails/thumbnail.png of the OpenOffice document SRC refused: it inflates to 1099511627776 bytes, "
         "above the limit of 536870912 bytes for an entry"},
        {"a part inflating to more than it declares",
         package({with("content.xml", [] {
             hostile_zip::Stored s = hostile_zip::deflated(CONTENT_HEAD, BLANKS, 1);
             s.size = 100;
             return s;
         }())}),
         "Entry content.xml of the OpenOffice document SRC refused: it inflates to more than the 100 bytes it declares"},
    };
    for (const Hostile &c : cases) EXPECT_EQ(refusal(c.entries), c.message) << c.what;
}

TEST_F(OdfPackageTest, ZipBombsStopAtTheirLimits)
{
    const std::uint64_t entry_mib = ODF_ENTRY_LIMIT / MiB, part_mib = ODF_PART_LIMIT / MiB;
    const std::vector<Hostile> cases = {
        {"content.xml of 2 GiB of zeros", package({with("content.xml", hostile_zip::deflated(CONTENT_HEAD, ZEROS, 2048))}),
         "Entry content.xml of the OpenOffice document SRC refused: it inflates to 2147483712 bytes, above the limit "
         "of 536870912 bytes for an entry"},
        {"content.xml just above the part limit",
         package({with("content.xml", hostile_zip::deflated(CONTENT_HEAD, BLANKS, part_mib))}),
         "Entry content.xml of the OpenOffice document SRC refused: it inflates to 67108928 bytes, above the limit "
         "of 67108864 bytes for a part that is filled"},
        {"an extra entry of 2 GiB of zeros", package({with("zeros.bin", hostile_zip::deflated("", ZEROS, 2048))}),
         "Entry zeros.bin of the OpenOffice document SRC refused: it inflates to 2147483648 bytes, above the limit "
         "of 536870912 bytes for an entry"},
        {"an extra entry just above the entry limit", package({with("zeros.bin", hostile_zip::deflated("0", ZEROS, entry_mib))}),
         "Entry zeros.bin of the OpenOffice document SRC refused: it inflates to 536870913 bytes, above the limit "
         "of 536870912 bytes for an entry"},
        {"two entries the package limit cannot hold",
         package({with("a.bin", hostile_zip::deflated("", ZEROS, entry_mib)),
                  with("b.bin", hostile_zip::deflated("", ZEROS, entry_mib))}),
         "Entry b.bin of the OpenOffice document SRC refused: with it the package inflates to more than the limit of "
         "1073741824 bytes"},
    };
    for (const Hostile &c : cases) EXPECT_EQ(refusal(c.entries), c.message) << c.what;
}

TEST_F(OdfPackageTest, AnEntryAtTheLimitIsCopiedWithoutBeingInflated)
{
    const fs::path source = dir / "big.odt", target = dir / "out.odt";
    hostile_zip::write(source, package({with("zeros.bin", hostile_zip::deflated("", ZEROS, ODF_ENTRY_LIMIT / MiB))}));
    EXPECT_EQ(fill(source, target), 1);
    const auto out = checks({{"raw", source.string(), "zeros.bin"}, {"raw", target.string(), "zeros.bin"}});
    EXPECT_EQ(out[1], out[0]);
    EXPECT_NE(out[0].find(" size=536870912 "), std::string::npos) << out[0];
}

TEST_F(OdfPackageTest, EntriesOfOneNameAndBackslashesAreRefused)
{
    const std::vector<Hostile> cases = {
        {"two content.xml", package({{"content.xml", "#second", {}}}),
         "Entry content.xml of the OpenOffice document SRC refused: the package holds two entries of that name"},
        {"two pictures", package({{"Pictures/a.png", "one", {}}, {"Pictures/a.png", "#second", {}}}),
         "Entry Pictures/a.png of the OpenOffice document SRC refused: the package holds two entries of that name"},
        {"climbing with backslashes", package({{"..\\..\\win", "x", {}}}),
         "Entry ..\\..\\win of the OpenOffice document SRC refused: its name leads outside the package"},
        {"a backslash inside", package({{"Pictures\\a.png", "x", {}}}),
         "Entry Pictures\\a.png of the OpenOffice document SRC refused: its name leads outside the package"},
    };
    for (const Hostile &c : cases) EXPECT_EQ(refusal(c.entries), c.message) << c.what;
}

// What the filling does not change is copied as it is stored: a stored picture stays stored, and
// an entry deflated otherwise than libzip would deflate it keeps its very bytes.
TEST_F(OdfPackageTest, EntriesNotFilledAreCopiedAsStored)
{
    std::string words = "<?xml version=\"1.0\"?>\n<settings>";
    for (int i = 0; words.size() < 256 * 1024; ++i) words += "<line>" + std::to_string(i * 7919 % 1000) + " of settings</line>\n";
    words += "</settings>\n";
    std::string picture(64 * 1024, '\0');
    for (std::size_t i = 0; i < picture.size(); ++i) picture[i] = static_cast<char>(i * 2654435761u >> 13);
    const fs::path source = dir / "pictures.odt", target = dir / "out.odt";
    hostile_zip::write(source, package({with("Pictures/photo.jpg", hostile_zip::stored(picture, 64)),
                                        with("settings.xml", hostile_zip::deflated(words, {}, 0, 1)),
                                        {"Thumbnails/thumbnail.png", "small", {}}}));
    EXPECT_EQ(fill(source, target), 1);
    look_at(target, "copied-as-stored");
    std::vector<std::vector<std::string>> commands{{"package", target.string()}, {"paras", target.string(), "content.xml"}};
    for (const char *name : {"Pictures/photo.jpg", "settings.xml", "Thumbnails/thumbnail.png"}) {
        commands.push_back({"raw", source.string(), name});
        commands.push_back({"raw", target.string(), name});
    }
    const auto out = checks(commands);
    EXPECT_EQ(out[0], conformant(std::string(TEMPLATE_NAMES) + ",Pictures/photo.jpg,settings.xml,Thumbnails/thumbnail.png"));
    EXPECT_EQ(out[1], "|Dear Ms Who\n");
    EXPECT_EQ(out[3], out[2]);
    EXPECT_TRUE(out[2].starts_with("method=0 ")) << out[2];
    EXPECT_EQ(out[5], out[4]);
    EXPECT_EQ(out[7], out[6]);
}

TEST_F(OdfPackageTest, APackageWithoutMediaTypeGetsOneFromItsManifest)
{
    const fs::path source = dir / "no-mimetype.odt", target = dir / "out.odt";
    make_template(source, {"--drop", "mimetype"});
    EXPECT_EQ(fill(source, target), 1);
    look_at(target, "mimetype-from-manifest");
    const auto out = checks({{"package", target.string()}, {"part", target.string(), "mimetype"}});
    EXPECT_EQ(out[0], conformant(TEMPLATE_NAMES));
    EXPECT_EQ(out[1], "application/vnd.oasis.opendocument.text");
}

// A filled document replacing another keeps its protection, and its owner (tests run as root).
TEST_F(OdfPackageTest, ReplacingKeepsTheTargetsModeAndOwner)
{
    const fs::path source = dir / "t.odt", target = dir / "payslip.odt";
    make_template(source);
    for (const mode_t mode : {0600, 0640, 0604}) {
        make_template(target);
        ASSERT_EQ(chmod(target.c_str(), mode), 0);
        ASSERT_EQ(chown(target.c_str(), 1234, 2345), 0);
        EXPECT_EQ(fill(source, target), 1);
        struct stat st;
        ASSERT_EQ(stat(target.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, mode);
        EXPECT_EQ(st.st_uid, 1234u);
        EXPECT_EQ(st.st_gid, 2345u);
    }
    EXPECT_EQ(check({"paras", target.string(), "content.xml"}), "P1|Dear {TITLE} Ms Who,\nStandard|R&D <ok>\n");
}

// A run that dies while it writes the new document (here: past its file size limit) leaves the
// unfinished copy beside the target with the target's mode, never a wider one.
TEST_F(OdfPackageTest, AnUnfinishedCopyIsNoMoreOpenThanTheTarget)
{
    std::string noise(256 * 1024, '\0');
    std::mt19937 random(7);
    for (char &c : noise) c = static_cast<char>(random());
    const fs::path source = dir / "t.odt", target = dir / "private.odt";
    hostile_zip::write(source, package({{"noise.bin", noise, {}}}));
    make_template(target);
    ASSERT_EQ(chmod(target.c_str(), 0600), 0);
    const std::string old = contents(target);
    const pid_t pid = fork();
    if (pid == 0) {
        umask(022);
        const rlimit limit{64 * 1024, 64 * 1024};
        setrlimit(RLIMIT_FSIZE, &limit);
        fill(source, target);
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ) << status;
    EXPECT_EQ(contents(target), old);
    int left = 0;
    for (const auto &e : fs::directory_iterator(dir.path())) {
        if (!e.path().filename().string().starts_with(".private.odt.")) continue;
        ++left;
        struct stat st;
        ASSERT_EQ(stat(e.path().c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0600u) << e.path();
    }
    EXPECT_EQ(left, 1);
}

} // namespace
