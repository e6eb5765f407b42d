// The file and system intrinsics through their dispatchers, in-process: names, existence, sizes,
// directories, copies, tree removal, write and link tests, environment and system facts, the
// unprintable-byte filter. Full and read-only file systems are small tmpfs mounts in a mount
// namespace of the test process's own.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <glib.h>

#include "command_output.h"
#include "intrinsic_call.h"
#include "planted.h"
#include "scratch.h"

namespace fs = std::filesystem;
using lumba_test::first_line_of;
using lumba_test::IntrinsicOutcome;
using lumba_test::args::num;
using lumba_test::args::str;

namespace {

class Files : public lumba_test::ScratchDir {
protected:
    void SetUp() override
    {
        ScratchDir::SetUp();
        saved_umask = umask(022);
    }
    void TearDown() override
    {
        for (auto it = mounts.rbegin(); it != mounts.rend(); ++it) umount2(it->c_str(), MNT_DETACH);
        umask(saved_umask);
        ScratchDir::TearDown();
    }
    mode_t mode(const std::string &name) const
    {
        struct stat st;
        return stat(at(name).c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
    }
    std::vector<std::string> listing(const std::string &name) const
    {
        std::vector<std::string> names;
        for (const auto &e : fs::directory_iterator(at(name))) names.push_back(e.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }

    // A tmpfs on the directory name, in a mount namespace of this process's own.
    void mount_tmpfs(const std::string &name, unsigned long flags, const char *options)
    {
        static const bool unshared =
            unshare(CLONE_NEWNS) == 0 && mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
        ASSERT_TRUE(unshared) << "a private mount namespace needs root";
        fs::create_directories(at(name));
        ASSERT_EQ(mount("tmpfs", at(name).c_str(), "tmpfs", flags, options), 0) << std::strerror(errno);
        mounts.push_back(at(name));
    }

    static std::string random_bytes(std::size_t n)
    {
        std::mt19937_64 g(n);
        std::string s(n, '\0');
        for (char &c : s) c = static_cast<char>(g());
        return s;
    }

    IntrinsicOutcome call;
    std::vector<std::string> mounts;
    mode_t saved_umask = 022;
};

} // namespace

TEST_F(Files, Basename)
{
    struct {
        const char *path, *base;
    } cases[] = {
        {"/data/in/report.2024.txt", "report"}, {"file", "file"},      {"/data/in/", ""},
        {"name.tar.gz", "name"},                {".profile", ""},       {"dir.d/file", "file"},
        {"/x", "x"},                            {"", ""},               {"a/b.", "b"},
    };
    for (const auto &c : cases) EXPECT_EQ(call.text(in_BASENAME, {str(c.path)}), c.base) << c.path;
    EXPECT_EQ(call.text(in_BASENAME, {}), "stop: Invalid number of parameters");
}

TEST_F(Files, ExistenceThroughTheIntrinsic)
{
    write("file", "x");
    fs::create_directory(at("dir"));
    struct {
        std::vector<lumba_test::Arg> args;
        std::string result;
    } cases[] = {
        {{str(at("file") + "  "), num(1)}, "1"},
        {{str(at("dir")), num(1)}, "2"},
        {{str(at("missing")), num(1)}, "0"},
        {{str(at("file") + "/x"), num(1)}, std::to_string(-ENOTDIR)},
        {{str("sh"), num(2)}, "1"},
        {{str("no-such-program-lumba"), num(2)}, "0"},
        {{str(at("file")), num(3)}, "stop: Invalid type 3"},
        {{str(at("file"))}, "stop: Invalid number of parameters"},
    };
    for (const auto &c : cases) EXPECT_EQ(call.number(in_IFEXISTS, c.args), c.result) << c.args[0].s;
}

TEST_F(Files, SizeIsTheWhole64BitSize)
{
    {
        std::ofstream(at("sparse file"));
        ASSERT_EQ(truncate(at("sparse file").c_str(), 5LL << 30), 0);
    }
    write("small", "12345");
    EXPECT_EQ(call.number(in_IFSIZE, {str(at("sparse file") + " \t")}), "5368709120");
    EXPECT_EQ(call.number(in_IFSIZE, {str(at("small"))}), "5");
    EXPECT_EQ(call.number(in_IFSIZE, {str(at("missing"))}),
              "stop: Error No such file or directory when attempting to obtain size of file " + at("missing"));
    EXPECT_EQ(call.number(in_IFSIZE, {str(at("small")), str("x")}), "stop: Invalid number of parameters");
}

TEST_F(Files, MakeDirectoryWithModeLessUmask)
{
    struct {
        const char *name;
        long mode;
        mode_t umask_value, expected;
    } cases[] = {
        {"d755", 493, 022, 0755},
        {"d700", 448, 022, 0700},
        {"d750", 511, 027, 0750},
        {"d777", 511, 0, 0777},
    };
    for (const auto &c : cases) {
        umask(c.umask_value);
        EXPECT_EQ(call.statement(in_IMKDIR, {str(at(c.name) + " "), num(c.mode)}), "") << c.name;
        EXPECT_EQ(mode(c.name), c.expected) << c.name;
        EXPECT_TRUE(fs::is_directory(at(c.name)));
    }
    EXPECT_EQ(call.statement(in_IMKDIR, {str(at("d755")), num(493)}),
              "stop: Error File exists when attempting to create directory " + at("d755"));
    EXPECT_EQ(call.statement(in_IMKDIR, {str(at("x"))}), "stop: imkdir must have two parameters; not 1");
}

TEST_F(Files, DeleteFileTakesTheNameAsItStands)
{
    write("gone", "x");
    EXPECT_EQ(call.statement(in_DELETE_FILE, {str(at("gone"))}), "");
    EXPECT_FALSE(fs::exists(at("gone")));
    write("kept", "x");
    EXPECT_EQ(call.statement(in_DELETE_FILE, {str(at("kept") + " ")}),
              "stop: Error No such file or directory when attempting to delete file " + at("kept") + " ");
    EXPECT_TRUE(fs::exists(at("kept")));
}

TEST_F(Files, EnvironmentAndSystemFacts)
{
    setenv("LUMBA_FILES_TEST", " spaced value ", 1);
    unsetenv("LUMBA_FILES_UNSET");
    auto answer = [](std::vector<std::string> argv) { return first_line_of(lumba_test::command_output(argv, {})); };
    const std::string uid = answer({"id", "-u"});
    const std::string passwd = answer({"getent", "passwd", uid});  // name:x:uid:gid:gecos:home:shell
    std::vector<std::string> fields;
    for (std::size_t start = 0;;) {
        const std::size_t colon = passwd.find(':', start);
        fields.push_back(passwd.substr(start, colon - start));
        if (colon == std::string::npos) break;
        start = colon + 1;
    }
    ASSERT_GE(fields.size(), 6u);
    struct {
        int code;
        std::string key, result;
    } cases[] = {
        {in_GETENV, "LUMBA_FILES_TEST", " spaced value "},
        {in_GETENV, "LUMBA_FILES_TEST ", ""},  // the name is taken as it stands
        {in_GETENV, "LUMBA_FILES_UNSET", ""},
        {in_GETSYS, "UID", uid},
        {in_GETSYS, "GID", answer({"id", "-g"})},
        {in_GETSYS, "PID", std::to_string(getpid())},
        {in_GETSYS, "HOSTNAME", answer({"hostname"})},
        {in_GETSYS, "LOGNAME", fields[0]},
        {in_GETSYS, "HOMEDIR", fields[5]},
        {in_GETSYS, "hostname", "stop: hostname not supported"},
        {in_GETSYS, "UID ", "stop: UID  not supported"},
    };
    for (const auto &c : cases) EXPECT_EQ(call.text(c.code, {str(c.key)}), c.result) << c.key;
    EXPECT_EQ(call.text(in_GETSYS, {}), "stop: Invalid number of parameters");
}

TEST_F(Files, RemoveNonPrintableKeepsWidth)
{
    struct {
        std::string text;
        std::uint32_t width;
        std::string keep, result;
    } cases[] = {
        {"a\tb\fc", 10, "\t", "a\tbc      "},
        {"a\tb\fc", 3, "\t", "a\tb"},
        {"a\tb\fc", 10, "\f", "ab\fc      "},
        {"a\tb\fc", 10, "\f \t", "ab\fc      "},  // the keep set ends at its first blank
        {"a\x01\x7F\xE9z  \t", 8, "", "az      "},
        {"\x01\x02", 2, "", "  "},
    };
    for (const auto &c : cases)
        EXPECT_EQ(call.text(in_IREMOVE_NON_PRINTABLE, {str(c.text, c.width), str(c.keep)}), c.result) << c.text;
    EXPECT_EQ(call.text(in_IREMOVE_NON_PRINTABLE, {str("x")}),
              "stop: iremove_non_printable must have two parameters; not 1");
}

TEST_F(Files, RemoveTreeNeverLeavesIt)
{
    fs::create_directories(at("tree/a/b/c"));
    fs::create_directories(at("tree/empty"));
    fs::create_directories(at("outside/inner"));
    write("outside/keep", "kept");
    write("outside/inner/keep", "kept");
    write("tree/top", "1");
    write("tree/a/b/c/deep", "2");
    write("tree/.hidden", "3");
    fs::create_symlink(at("outside"), at("tree/a/to-dir"));
    fs::create_symlink(at("outside/keep"), at("tree/a/b/to-file"));
    fs::create_symlink(at("missing"), at("tree/dangling"));
    EXPECT_EQ(call.statement(in_IREMOVE, {str(at("tree") + "  ")}), "");
    EXPECT_FALSE(fs::exists(fs::symlink_status(at("tree"))));
    EXPECT_EQ(read("outside/keep"), "kept");
    EXPECT_EQ(read("outside/inner/keep"), "kept");

    // A link given itself is removed as a link.
    fs::create_symlink(at("outside"), at("link"));
    EXPECT_EQ(call.statement(in_IREMOVE, {str(at("link"))}), "");
    EXPECT_FALSE(fs::exists(fs::symlink_status(at("link"))));
    EXPECT_EQ(read("outside/inner/keep"), "kept");

    write("single", "x");
    EXPECT_EQ(call.statement(in_IREMOVE, {str(at("single"))}), "");
    EXPECT_FALSE(fs::exists(at("single")));

    EXPECT_EQ(call.statement(in_IREMOVE, {str(at("missing"))}), "stop: File: '" + at("missing") + "' does not exist");
    EXPECT_EQ(call.statement(in_IREMOVE, {str("")}), "stop: File: '' does not exist");
    // What would take more with it than the name says is refused before anything goes.
    fs::create_directories(at("kept/inner"));
    write("kept/inner/file", "x");
    for (const std::string &name : {std::string("/"), std::string("//"), at("kept/inner/."), at("kept/inner/.."),
                                    at("kept/inner/../"), dir + "/kept/../../../../../../../../../.."})
        EXPECT_EQ(call.statement(in_IREMOVE, {str(name)}), "stop: Refusing to remove '" + name + "'");
    EXPECT_EQ(read("kept/inner/file"), "x");
    fs::create_symlink("/", at("to-root"));
    EXPECT_EQ(call.statement(in_IREMOVE, {str(at("to-root"))}), "");
    EXPECT_FALSE(fs::exists(fs::symlink_status(at("to-root"))));
    EXPECT_EQ(call.statement(in_IREMOVE, {}), "stop: iremove must have one parameter; not 0");
    fs::create_directories(at("odd"));
    ASSERT_EQ(mkfifo(at("odd/fifo").c_str(), 0600), 0);
    EXPECT_EQ(call.statement(in_IREMOVE, {str(at("odd"))}),
              "stop: Unexpected code -2 encountered when checking for existence of file or directory '" +
                  at("odd/fifo") + "'");
    EXPECT_EQ(call.statement(in_IREMOVE, {str(at("odd/fifo"))}),
              "stop: Error -2 when check for existence of file or directory '" + at("odd/fifo") + "'");
}

TEST_F(Files, WriteTestsLeaveNothingBehind)
{
    write("file", "contents");
    fs::create_directories(at("dir"));
    mount_tmpfs("ro", MS_RDONLY, "size=64k");
    const std::string pid = std::to_string(getpid());
    struct {
        std::string name, result;
    } cases[] = {
        {at("file") + " ", "1"},
        {at("dir"), "1"},
        {at("dir") + "/", "1"},
        {at("dir/new"), "1"},
        {at("missing/new"), "0"},
        {at("ro"), "0"},
        {at("ro/new"), "0"},
        {at("dir/missing/"), "stop: Directory name does not exist " + at("dir/missing/")},
        {"a", "stop: Must specify a file or directory name"},
        {at("file") + "/x", "stop: Error -20 when check for existence of file or directory '" + at("file") + "/x'"},
    };
    for (const auto &c : cases) EXPECT_EQ(call.number(in_IIS_WRITEABLE, {str(c.name)}), c.result) << c.name;
    EXPECT_EQ(read("file"), "contents");
    EXPECT_EQ(listing("dir"), std::vector<std::string>{});
    // A test file of this process left over from before is cleared away.
    write("dir/t" + pid + ".tmp", "left over");
    EXPECT_EQ(call.number(in_IIS_WRITEABLE, {str(at("dir"))}), "1");
    EXPECT_EQ(listing("dir"), std::vector<std::string>{});
    EXPECT_EQ(call.number(in_IIS_WRITEABLE, {}), "stop: iis_writeable must have one parameter; not 0");
}

TEST_F(Files, LinkTest)
{
    write("file", "x");
    fs::create_symlink(at("file"), at("link"));
    fs::create_symlink(at("missing"), at("dangling"));
    struct {
        std::string name, result;
    } cases[] = {
        {at("link") + "\t", "1"},
        {at("dangling"), "0"},
        {at("file"), "0"},
        {at("missing"), "0"},
        {"l", "stop: Must specify a full path and name of a link"},
    };
    for (const auto &c : cases) EXPECT_EQ(call.number(in_IIS_LINK, {str(c.name)}), c.result) << c.name;
    EXPECT_EQ(call.number(in_IIS_LINK, {str("a"), str("b")}), "stop: Must have one parameter; not 2");
}

TEST_F(Files, CopyMakesAnExactCopy)
{
    const std::string big = random_bytes((3 << 20) + 17);  // more than one block
    write("big", big);
    write("small", std::string("a\0b\n", 4));
    write("old", "old contents that are longer");
    ASSERT_EQ(chmod(at("old").c_str(), 0640), 0);
    EXPECT_EQ(call.statement(in_ICOPY, {str(at("big") + " "), str(at("big.copy"))}), "");
    EXPECT_TRUE(read("big.copy") == big);
    EXPECT_EQ(mode("big.copy"), 0644u);  // 0666 less the umask, as a new file
    EXPECT_EQ(call.statement(in_ICOPY, {str(at("small")), str(at("old"))}), "");
    EXPECT_EQ(read("old"), std::string("a\0b\n", 4));
    EXPECT_EQ(mode("old"), 0640u);  // an existing destination keeps its permissions
    // Through a link to the file it names; a device is written in place.
    fs::create_symlink(at("old"), at("to-old"));
    EXPECT_EQ(call.statement(in_ICOPY, {str(at("big")), str(at("to-old"))}), "");
    EXPECT_TRUE(fs::is_symlink(at("to-old")));
    EXPECT_TRUE(read("old") == big);
    EXPECT_EQ(call.statement(in_ICOPY, {str(at("big")), str("/dev/null")}), "");
    // Other names of the destination see the new contents.
    fs::create_hard_link(at("old"), at("old.second"));
    EXPECT_EQ(call.statement(in_ICOPY, {str(at("small")), str(at("old"))}), "");
    EXPECT_EQ(read("old.second"), std::string("a\0b\n", 4));
    // Nothing but the copies is left in the directory.
    EXPECT_EQ(listing(""), (std::vector<std::string>{"big", "big.copy", "old", "old.second", "small", "to-old"}));
}

TEST_F(Files, CopyOntoItselfIsRefusedBeforeAnythingIsWritten)
{
    const std::string source = random_bytes(100000);
    write("a", source);
    fs::create_symlink(at("a"), at("link"));
    fs::create_hard_link(at("a"), at("hard"));
    fs::create_directories(at("sub"));
    const std::string same = "stop: Error in ICOPY: source and destination are the same file!";
    for (const std::string &other : {at("a"), at("a") + "  ", dir + "/./a", dir + "/sub/../a", at("link"), at("hard")}) {
        EXPECT_EQ(call.statement(in_ICOPY, {str(at("a")), str(other)}), same) << other;
        EXPECT_EQ(call.statement(in_ICOPY, {str(other), str(at("a"))}), same) << other;
        EXPECT_TRUE(read("a") == source) << "the source changed by " << other;
    }
    EXPECT_EQ(call.statement(in_ICOPY, {str(at("a"))}), "stop: icopy must have two parameters; not 1");
    EXPECT_EQ(listing(""), (std::vector<std::string>{"a", "hard", "link", "sub"}));
}

TEST_F(Files, FailedCopyLeavesNoPartialDestination)
{
    mount_tmpfs("full", 0, "size=1m");
    write("big", random_bytes(3 << 20));
    write("full/old", "previous contents");
    const std::string full = "stop: Error No space left on device encountered when writing destination file ";
    EXPECT_EQ(call.statement(in_ICOPY, {str(at("big")), str(at("full/new"))}), full + at("full/new"));
    EXPECT_EQ(call.statement(in_ICOPY, {str(at("big")), str(at("full/old"))}), full + at("full/old"));
    // No half copy under either name, and the old destination is as it was.
    EXPECT_EQ(listing("full"), std::vector<std::string>{"old"});
    EXPECT_EQ(read("full/old"), "previous contents");

    EXPECT_EQ(call.statement(in_ICOPY, {str(at("missing")), str(at("x"))}),
              "stop: Error No such file or directory encountered when attempting to open source file for reading " +
                  at("missing"));
    EXPECT_EQ(
        call.statement(in_ICOPY, {str(at("big")), str(at("nodir/x"))}),
        "stop: Error No such file or directory encountered when attempting to open destination file for writing " +
            at("nodir/x"));
    EXPECT_EQ(call.statement(in_ICOPY, {str(at("big")), str(at("full"))}),
              "stop: Error Is a directory encountered when attempting to open destination file for writing " +
                  at("full"));
    EXPECT_FALSE(fs::exists(at("x")));
    // A directory as source is found out before the destination, even one written in place, is touched.
    write("kept", "kept");
    fs::create_hard_link(at("kept"), at("kept.second"));
    EXPECT_EQ(call.statement(in_ICOPY, {str(at("full")), str(at("kept"))}),
              "stop: Error Is a directory encountered when reading source file " + at("full"));
    EXPECT_EQ(read("kept"), "kept");
}

// A copy into a shared directory of another user, onto what that user planted there: a link to a
// new name, a link to a file of root's, a file of theirs, a link for a subdirectory and a
// directory of theirs. Each copy is refused with the destination's open error, and nothing the
// planted names lead to is created or changed. A copy onto a new name or a file of the run's own
// there works as anywhere.
TEST_F(Files, CopyIntoASharedDirectoryNeverWritesWhatAnotherUserPlanted)
{
    const std::string pub = at("pub");
    lumba_test::make_their_shared_directory(pub);
    fs::create_directories(at("elsewhere"));
    write("source", "copied bytes");
    write("elsewhere/roots", "root's own");
    lumba_test::plant_link(at("elsewhere/created"), pub + "/to-new");
    lumba_test::plant_link(at("elsewhere/roots"), pub + "/to-roots");
    lumba_test::plant_file(pub + "/theirs", "their own");
    lumba_test::plant_link(at("elsewhere"), pub + "/sub");
    lumba_test::plant_directory(pub + "/their-dir");
    const std::string refused = "stop: Error %s encountered when attempting to open destination file for writing ";
    auto refusal = [&](const char *why, const std::string &name) {
        std::string text = refused;
        text.replace(text.find("%s"), 2, why);
        return text + name;
    };
    const char *loop = "Too many levels of symbolic links", *denied = "Permission denied";
    struct {
        std::string destination, expected;
    } cases[] = {
        {pub + "/to-new", refusal(loop, pub + "/to-new")},
        {pub + "/to-roots", refusal(loop, pub + "/to-roots")},
        {pub + "/theirs", refusal(denied, pub + "/theirs")},
        {pub + "/sub/created", refusal(loop, pub + "/sub/created")},
        {pub + "/sub/roots", refusal(loop, pub + "/sub/roots")},
        {pub + "/their-dir/created", refusal(denied, pub + "/their-dir/created")},
    };
    for (const auto &c : cases)
        EXPECT_EQ(call.statement(in_ICOPY, {str(at("source")), str(c.destination)}), c.expected);
    EXPECT_EQ(listing("elsewhere"), std::vector<std::string>{"roots"});
    EXPECT_EQ(read("elsewhere/roots"), "root's own");
    EXPECT_EQ(read("pub/theirs"), "their own");
    EXPECT_EQ(listing("pub/their-dir"), std::vector<std::string>{});
    EXPECT_TRUE(fs::is_symlink(pub + "/to-new") && fs::is_symlink(pub + "/to-roots") && fs::is_symlink(pub + "/sub"));

    EXPECT_EQ(call.statement(in_ICOPY, {str(at("source")), str(pub + "/mine")}), "");
    EXPECT_EQ(read("pub/mine"), "copied bytes");
    EXPECT_EQ(mode("pub/mine"), 0644u);
    ASSERT_EQ(chmod((pub + "/mine").c_str(), 0600), 0);
    write("source", "new bytes");
    EXPECT_EQ(call.statement(in_ICOPY, {str(at("source")), str(pub + "/mine")}), "");
    EXPECT_EQ(read("pub/mine"), "new bytes");
    EXPECT_EQ(mode("pub/mine"), 0600u);  // an existing file of ours keeps its permissions
    EXPECT_EQ(listing("pub"), (std::vector<std::string>{"mine", "sub", "their-dir", "theirs", "to-new", "to-roots"}));
}

// A copy from a shared directory of another user's reads only a file of the run's own (or root's)
// under the source's name: a link they planted there (to a file only root may read, as the
// shadow file), a FIFO (which a copy would wait on for ever) and a file of theirs are refused
// with the source's open error, and no copy is made. A file of the run's own there is copied.
TEST_F(Files, CopyFromASharedDirectoryReadsOnlyTheRunsOwnFile)
{
    const std::string pub = at("pub");
    lumba_test::make_their_shared_directory(pub);
    write("shadow", "root:secret");
    ASSERT_EQ(chmod(at("shadow").c_str(), 0600), 0);
    lumba_test::plant_link(at("shadow"), pub + "/link");
    lumba_test::plant_fifo(pub + "/fifo");
    lumba_test::plant_file(pub + "/theirs", "their own");
    // Were the FIFO waited on, the copy would get these bytes instead of hanging.
    const lumba_test::FifoFeeder feeder(pub + "/fifo", "fed");
    struct {
        const char *name, *why;
    } cases[] = {
        {"link", "Too many levels of symbolic links"},
        {"fifo", "Invalid argument"},
        {"theirs", "Permission denied"},
    };
    fs::create_directories(at("out"));
    for (const auto &c : cases)
        EXPECT_EQ(call.statement(in_ICOPY, {str(pub + "/" + c.name), str(at("out/") + c.name)}),
                  "stop: Error " + std::string(c.why) +
                      " encountered when attempting to open source file for reading " + pub + "/" + c.name);
    EXPECT_EQ(listing("out"), std::vector<std::string>{});

    write("pub/mine", "my own");
    EXPECT_EQ(call.statement(in_ICOPY, {str(pub + "/mine"), str(at("out/mine"))}), "");
    EXPECT_EQ(read("out/mine"), "my own");
}

// A copy is open to no one its source is closed to: a new copy of a private file is private, and
// so becomes an existing destination of the run's own; a wider source leaves the destination's
// own permissions as they were.
TEST_F(Files, ACopyGetsNoPermissionItsSourceLacks)
{
    write("private", "private bytes");
    ASSERT_EQ(chmod(at("private").c_str(), 0600), 0);
    write("open", "open bytes");
    ASSERT_EQ(chmod(at("open").c_str(), 0644), 0);
    write("existing", "old");
    ASSERT_EQ(chmod(at("existing").c_str(), 0640), 0);
    const std::string pub = at("pub");
    lumba_test::make_their_shared_directory(pub);
    struct {
        std::string from, to;
        mode_t mode;
    } cases[] = {
        {"private", "new", 0600},
        {"private", "pub/new", 0600},
        {"open", "existing", 0640},
        {"private", "existing", 0600},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(call.statement(in_ICOPY, {str(at(c.from)), str(at(c.to))}), "") << c.to;
        EXPECT_EQ(read(c.to), read(c.from)) << c.to;
        EXPECT_EQ(mode(c.to), c.mode) << c.from << " to " << c.to;
    }
}

TEST_F(Files, EveryRowReachesItsHandler)
{
    // Called without arguments, each handler refuses with its own count message.
    enum { NUMBER, TEXT, STATEMENT };
    struct {
        int code, kind;
        const char *stop;
    } cases[] = {
        {in_BASENAME, TEXT, "Invalid number of parameters"},
        {in_DELETE_FILE, STATEMENT, "Invalid number of parameters"},
        {in_IFEXISTS, NUMBER, "Invalid number of parameters"},
        {in_IFSIZE, NUMBER, "Invalid number of parameters"},
        {in_IMKDIR, STATEMENT, "imkdir must have two parameters; not 0"},
        {in_GETENV, TEXT, "Invalid number of parameters"},
        {in_GETSYS, TEXT, "Invalid number of parameters"},
        {in_ICOPY, STATEMENT, "icopy must have two parameters; not 0"},
        {in_IREMOVE, STATEMENT, "iremove must have one parameter; not 0"},
        {in_IIS_WRITEABLE, NUMBER, "iis_writeable must have one parameter; not 0"},
        {in_IIS_LINK, NUMBER, "Must have one parameter; not 0"},
        {in_IREMOVE_NON_PRINTABLE, TEXT, "iremove_non_printable must have two parameters; not 0"},
        {in_IPROCESS_CHECK, NUMBER, "Invalid number of parameters"},
        {in_IPROCESS_KILL, NUMBER, "Invalid number of parameters"},
        {in_IPASSWORD_ENCRYPT, TEXT, "Invalid number of parameteres"},
        {in_IPASSWORD_CHECK, NUMBER, "Invalid number of parameteres"},
    };
    for (const auto &c : cases) {
        const std::string got = c.kind == NUMBER ? call.number(c.code, {})
                                : c.kind == TEXT ? call.text(c.code, {})
                                                 : call.statement(c.code, {});
        EXPECT_EQ(got, std::string("stop: ") + c.stop) << inbuilt[c.code].F_name;
    }
}
