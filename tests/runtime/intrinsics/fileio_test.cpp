// File channels run in-process: programs written as zasm text open, write, read, rewind and close
// files; FORMAT items, random records, the DATA list, I/O traps, parameter and statement errors,
// and the texts of LOGPRINT, TPRINT and LOGEMAIL.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "exec_fixture.h"
#include "fileio.h"
#include "intrinsics.h"
#include "io_program.h"
#include "planted.h"
#include "run_time.h"

using namespace io_program;

namespace {

class IoTest : public ExecTest {
protected:
    void SetUp() override
    {
        ExecTest::SetUp();
        max_files = MAX_FILES;
        initialize_files();
        char *d = g_dir_make_tmp("fileio-test-XXXXXX", nullptr);
        data = d;
        g_free(d);
    }

    void TearDown() override
    {
        close_files();
        ioc_reset();
        max_files = MAX_FILES;
        remove_tree(data);
        ExecTest::TearDown();
    }

    static void remove_tree(const std::string &path)
    {
        if (GDir *dir = g_dir_open(path.c_str(), 0, nullptr)) {
            while (const char *name = g_dir_read_name(dir)) {
                std::string child = path + "/" + name;
                if (g_file_test(child.c_str(), G_FILE_TEST_IS_DIR)) remove_tree(child);
                else g_unlink(child.c_str());
            }
            g_dir_close(dir);
        }
        g_rmdir(path.c_str());
    }

    std::string at(const std::string &name) const { return data + "/" + name; }
    void put(const std::string &name, const std::string &bytes) const { lumba_test::write_bytes(at(name), bytes); }
    std::string get(const std::string &name) const { return lumba_test::read_bytes(at(name)); }

    struct Result {
        std::string abort;  // fatal message, "" when the program ended
        std::string out;    // standard output (LOGPRINT)
        int status = 0;
    };

    Result go(const std::string &body, const std::string &data_list = "", int dn = 0, int dc = 0)
    {
        testing::internal::CaptureStdout();
        Outcome o = run(main_program(body, data_list, dn, dc));
        Result r{o.abort, testing::internal::GetCapturedStdout(), o.status};
        // A statement stopped half-way leaves its parameters behind, as the process would end.
        ioc_reset();
        return r;
    }

    std::string data;
};

// READ of one line into the variables, printed by LOGPRINT joined by "|".
struct ReadCase {
    std::string line;
    std::string format;             // "" = none
    std::string vars;               // n = number, s = string of 10, t = string of 3
    std::string expect;             // printed values, or the stop message
};

std::string read_and_print(const std::string &path, const ReadCase &c)
{
    std::string targets, values;
    int nn = 0, offset = 0, count = 0;
    for (char v : c.vars) {
        if (count++) values += str("|");
        if (v == 'n') {
            targets += nvar(nn);
            values += nval(nn++);
        } else {
            const int max = v == 's' ? 10 : 3;
            targets += svar(offset, max);
            values += sval(offset, max);
            offset += max + 1;
        }
    }
    std::string t = open_lfn(1, path, "S", 0);
    std::string read_params = lfn(1).second + "ioc I:" + std::to_string(ioc_lfn) + "\n";
    if (!c.format.empty()) read_params += str(c.format) + "ioc I:" + std::to_string(ioc_format) + "\n";
    t += read_params + targets + "callio I:" + std::to_string(callio_read) + " I:" + std::to_string(c.vars.size()) + "\n";
    return t + logprint(values, static_cast<int>(2 * c.vars.size() - 1));
}

std::string repeat(const std::string &s, int n)
{
    std::string t;
    while (n-- > 0) t += s;
    return t;
}

} // namespace

TEST_F(IoTest, WriteBuildsRecordsWithFormatAndLineEnds)
{
    struct {
        std::string body;
        std::string bytes;
    } cases[] = {
        // A sequential record written with CARR n ends in 2n line ends; without CARR in none.
        {stmt(callio_write, {lfn(1), carr(1)}, str("AB") + num(12), 2), "AB12\n\n"},
        {stmt(callio_write, {lfn(1)}, str("AB") + num(12), 2) + stmt(callio_write, {lfn(1)}, num("-0.50"), 1),
         "AB12-0.5"},
        {stmt(callio_write, {lfn(1), format("XXXX,999.99,X")}, str("AB") + num("7.5") + str("z"), 3), "AB  7.5z"},
        {stmt(callio_write, {lfn(1), carr(2)}, "", 0), "\n\n\n\n"},
    };
    for (const auto &c : cases) {
        Result r = go(open_lfn(1, at("w.txt"), "S", 1) + c.body + close_lfn(1));
        EXPECT_EQ(r.abort, "") << c.bytes;
        EXPECT_EQ(get("w.txt"), c.bytes);
    }
}

TEST_F(IoTest, WriteErrorsEndTheRun)
{
    const std::string long_text(4096, 'x');
    struct {
        std::string body;
        std::string message;
    } cases[] = {
        {stmt(callio_write, {lfn(1), format("XX")}, str("abc"), 1), "Output width not large enough for value"},
        {stmt(callio_write, {lfn(1), format("XX")}, num(1), 1), "Error in format descriptor"},
        {stmt(callio_write, {lfn(1), format("99")}, str("a"), 1), "Error in format descriptor"},
        {stmt(callio_write, {lfn(1), format("99")}, num(1) + num(2), 2), "Insufficient format items"},
        {stmt(callio_write, {lfn(1), format("9.9.9")}, num(1), 1), "Error in numeric format descriptor"},
        {stmt(callio_write, {lfn(1), format("99;")}, num(1), 1), "Error in format descriptor"},
        {stmt(callio_write, {lfn(1)}, str(long_text) + str("y"), 2), "Attempt to write beyond record length"},
        {stmt(callio_write, {lfn(1), carr(1)}, str(long_text), 1), "Attempt to write beyond record length"},
        {stmt(callio_write, {lfn(1), mode("R")}, str("a"), 1), "Attempt to access sequential file " + at("w.txt") + " randomly"},
        {stmt(callio_write, {lfn(1), mode("P")}, str("a"), 1), "MODE=\"P\" applies only to ISAM files"},
        {stmt(callio_write, {lfn(2)}, str("a"), 1), "Attempt to WRITE to LFN 2 which has not been opened"},
        {stmt(callio_write, {lfn(255)}, str("a"), 1), "WRITE(LFN=255): no report open"},
        {stmt(callio_write, {}, str("a"), 1), "WRITE: LFN parameter missing"},
    };
    for (const auto &c : cases) {
        close_files();
        Result r = go(open_lfn(1, at("w.txt"), "S", 1) + c.body);
        EXPECT_EQ(r.abort, c.message);
    }
}

TEST_F(IoTest, ReadTakesVariablesThroughOneCursor)
{
    const ReadCase cases[] = {
        {"012.50abc", "999.99,XXX", "ns", "12.5|abc"},
        {"  7  42", "", "nn", "7|42"},
        {"  7  42", "", "nnn", "Numeric input missing"},
        {"012.5", "999.99", "n", "Input field not big enough for format"},
        {"x1", "", "n", "Error in numeric input"},
        {"", "", "n", "Numeric input missing"},
        // Without FORMAT a second string takes the text after the first one's length.
        {"abcdefgh", "", "tt", "abc|def"},
        {"abcdefgh", "", "ts", "abc|defgh"},
        // A string item's width bounds what its variable takes.
        {"abcdefgh", "XX,XXX", "ss", "ab|cde"},
        {"ab", "", "ts", "ab|"},
        {"12", "XX", "n", "Error in format descriptor"},
        {"1234", "99", "nn", "Insufficient format items"},
    };
    for (const auto &c : cases) {
        close_files();
        put("r.txt", c.line + "\nnext line\n");
        Result r = go(read_and_print(at("r.txt"), c));
        if (r.abort.empty()) EXPECT_EQ(r.out, c.expect + "\n") << c.line << " " << c.format;
        else EXPECT_EQ(r.abort, c.expect) << c.line << " " << c.format;
    }
}

// A line longer than the record is read whole: its first 4096 characters are the record, and
// the next READ takes the next line, not the rest of this one.
TEST_F(IoTest, LongLinesKeepRecordBoundaries)
{
    put("long.txt", std::string(4000, 'a') + "12345" + std::string(3000, 'b') + "\nnext 7\nlast");
    const std::string read_line = stmt(callio_read, {lfn(1)}, svar(30, 5) + nvar(0), 2);
    Result r = go(open_lfn(1, at("long.txt"), "S", 0) + stmt(callio_read, {lfn(1)}, svar(0, 20), 1) +
                  logprint(sval(0, 20), 1) + read_line + logprint(sval(30, 5) + str("|") + nval(0), 3) +
                  stmt(callio_read, {lfn(1)}, svar(0, 20), 1) + logprint(sval(0, 20), 1));
    ASSERT_EQ(r.abort, "");
    EXPECT_EQ(r.out, std::string(20, 'a') + "\nnext |7\nlast\n");
}

TEST_F(IoTest, SequentialRoundTripRewindRenameAndDelete)
{
    const std::string body =
        open_lfn(1, at("a.txt"), "S", 1) + stmt(callio_write, {lfn(1), carr(1)}, str("first") + num("1.25"), 2) +
        stmt(callio_write, {lfn(1)}, str("second"), 1) + close_lfn(1) +
        open_lfn(2, at("a.txt"), "S", 0) + stmt(callio_read, {lfn(2)}, svar(0, 20), 1) +
        stmt(callio_rewind, {lfn(2)}) + stmt(callio_read, {lfn(2)}, svar(21, 20), 1) +
        stmt(callio_rename, {lfn(2), file(at("b.txt"))}) +
        logprint(sval(0, 20) + str("|") + sval(21, 20), 3) +
        // Closing with OPT 1 deletes the file under its new name.
        stmt(callio_close, {lfn(2), opt(1)});
    Result r = go(body);
    ASSERT_EQ(r.abort, "");
    EXPECT_EQ(r.out, "first1.25|first1.25\n");
    EXPECT_FALSE(g_file_test(at("a.txt").c_str(), G_FILE_TEST_EXISTS));
    EXPECT_FALSE(g_file_test(at("b.txt").c_str(), G_FILE_TEST_EXISTS));
    EXPECT_EQ(File_table[2].descriptor, -1);
}

TEST_F(IoTest, AppendAllocateAndUnitPaths)
{
    put("log.txt", "old\n");
    const mode_t saved = umask(0);
    char cwd[4096];
    ASSERT_TRUE(getcwd(cwd, sizeof cwd));
    ASSERT_EQ(chdir(data.c_str()), 0);
    g_mkdir(at("unit3").c_str(), 0755);
    Result r = go(open_lfn(1, at("log.txt"), "S", 2) + stmt(callio_write, {lfn(1), carr(1)}, str("new"), 1) + close_lfn(1) +
                  stmt(callio_allocate, {file("empty.dat"), org("R"), {ioc_unit, num(3)}}) +
                  open_lfn(2, "u.txt", "S", 1, {{ioc_unit, num(3)}}) + stmt(callio_write, {lfn(2)}, str("in unit"), 1) +
                  close_lfn(2));
    EXPECT_EQ(chdir(cwd), 0);
    umask(saved);
    ASSERT_EQ(r.abort, "");
    EXPECT_EQ(get("log.txt"), "old\nnew\n\n");
    struct stat st {};
    ASSERT_EQ(stat(at("unit3/empty.dat").c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 0);
    EXPECT_EQ(st.st_mode & 0777, 0660u);
    EXPECT_EQ(get("unit3/u.txt"), "in unit");
}

// LFN.FILE finds the open channel of "unit<N>/<name>", the name OPEN gives a FILE with a UNIT;
// a closed channel is passed over even though its record still names the file.
TEST_F(IoTest, LfnFileNamesTheChannelOfAFile)
{
    char cwd[4096];
    ASSERT_TRUE(getcwd(cwd, sizeof cwd));
    ASSERT_EQ(chdir(data.c_str()), 0);
    g_mkdir(at("unit3").c_str(), 0755);
    g_mkdir(at("unit0").c_str(), 0755);
    auto lfn_file = [](const std::string &name, int unit) {
        return str(name) + num(unit) + "ifcallr I:" + std::to_string(in_LFN_FILE) + " I:2\n";
    };
    Result r = go(open_lfn(4, "a.txt", "S", 1, {{ioc_unit, num(3)}}) + open_lfn(6, "b", "S", 1, {{ioc_unit, num(0)}}) +
                  open_lfn(7, at("c"), "S", 1) +
                  logprint(lfn_file("a.txt", 3) + lfn_file("b", 0) + lfn_file("a.txt", 0) + lfn_file("a.tx", 3) +
                               lfn_file(at("c"), 0) + lfn_file("unit3/a.txt", -1),
                           6) +
                  close_lfn(4) + logprint(lfn_file("a.txt", 3), 1));
    EXPECT_EQ(chdir(cwd), 0);
    ASSERT_EQ(r.abort, "");
    EXPECT_EQ(r.out, "46-1-1-1-1\n-1\n");
}

// In a world-writable sticky directory (the site's temp, /tmp) a channel opens only a plain file
// of the run's own: what another user planted there is refused with the open error, and its
// target is left alone. Elsewhere links are followed.
TEST_F(IoTest, SharedDirectoriesOpenOnlyTheRunsOwnFiles)
{
    const std::string shared = at("shared"), plain = at("plain");
    ASSERT_EQ(g_mkdir(shared.c_str(), 0755), 0);
    ASSERT_EQ(chmod(shared.c_str(), 01777), 0);
    ASSERT_EQ(g_mkdir(plain.c_str(), 0755), 0);
    put("victim", "precious\n");
    ASSERT_EQ(symlink(at("victim").c_str(), (shared + "/link").c_str()), 0);
    ASSERT_EQ(symlink(at("victim").c_str(), (plain + "/link").c_str()), 0);
    ASSERT_EQ(link(at("victim").c_str(), (shared + "/hard").c_str()), 0);
    put("shared/theirs", "theirs\n");
    ASSERT_EQ(chown((shared + "/theirs").c_str(), 65534, 65534), 0);
    ASSERT_EQ(mkfifo((shared + "/fifo").c_str(), 0666), 0);
    ASSERT_EQ(g_mkdir((shared + "/dir").c_str(), 0755), 0);
    put("shared/ours", "ours\n");

    auto write_to = [&](const std::string &path, int option) {
        return go(open_lfn(1, path, "S", option) + stmt(callio_write, {lfn(1), carr(1)}, str("X"), 1) + close_lfn(1)).abort;
    };
    auto read_from = [&](const std::string &path) {
        return go(open_lfn(1, path, "S", 0) + stmt(callio_read, {lfn(1)}, svar(0, 20), 1) + close_lfn(1)).abort;
    };
    auto refused = [](const std::string &path, const char *why) { return "Cannot open \"" + path + "\" : : " + why; };
    struct {
        std::string abort, expected;
    } cases[] = {
        {write_to(shared + "/link", 1), refused(shared + "/link", "Too many levels of symbolic links")},
        {write_to(shared + "/link", 2), refused(shared + "/link", "Too many levels of symbolic links")},
        {read_from(shared + "/link"), refused(shared + "/link", "Too many levels of symbolic links")},
        {write_to(shared + "/hard", 1), refused(shared + "/hard", "Permission denied")},
        {write_to(shared + "/theirs", 1), refused(shared + "/theirs", "Permission denied")},
        {read_from(shared + "/theirs"), refused(shared + "/theirs", "Permission denied")},
        {read_from(shared + "/fifo"), refused(shared + "/fifo", "Invalid argument")},  // never waits for a writer
        {read_from(shared + "/dir"), refused(shared + "/dir", "Is a directory")},
        {go(stmt(callio_allocate, {file(shared + "/link"), org("S")})).abort,
         "ALLOCATE \"" + shared + "/link\" failed: : Too many levels of symbolic links"},
        {write_to(shared + "/ours", 1), ""},
        {write_to(shared + "/new", 2), ""},
        {write_to(plain + "/link", 2), ""},
    };
    for (const auto &c : cases) EXPECT_EQ(c.abort, c.expected);
    EXPECT_EQ(get("victim"), "precious\nX\n\n");  // only through the link outside the shared directory
    EXPECT_EQ(get("shared/theirs"), "theirs\n");
    EXPECT_EQ(get("shared/ours"), "X\n\n");
    EXPECT_EQ(get("shared/new"), "X\n\n");
}

// A shared directory of another user with what that user planted in it: a link for a
// subdirectory leading to a directory of root's, and a directory of their own. No channel
// statement reaches through either; the refusal is the open error and nothing beyond changes.
TEST_F(IoTest, NoChannelReachesThroughWhatAnotherUserPlanted)
{
    const std::string pub = at("pub"), elsewhere = at("elsewhere");
    lumba_test::make_their_shared_directory(pub);
    ASSERT_EQ(g_mkdir(elsewhere.c_str(), 0755), 0);
    put("elsewhere/kept", "kept\n");
    lumba_test::plant_link(elsewhere, pub + "/sub");
    lumba_test::plant_directory(pub + "/theirs");
    put("pub/own.txt", "own\n");

    auto write_to = [&](const std::string &path, int option) {
        return go(open_lfn(1, path, "S", option) + stmt(callio_write, {lfn(1), carr(1)}, str("X"), 1) + close_lfn(1)).abort;
    };
    auto read_from = [&](const std::string &path) {
        return go(open_lfn(1, path, "S", 0) + stmt(callio_read, {lfn(1)}, svar(0, 20), 1) + close_lfn(1)).abort;
    };
    auto refused = [](const std::string &path, const char *why) { return "Cannot open \"" + path + "\" : : " + why; };
    const char *loop = "Too many levels of symbolic links";
    struct {
        std::string abort, expected;
    } cases[] = {
        {write_to(pub + "/sub/new", 1), refused(pub + "/sub/new", loop)},
        {write_to(pub + "/sub/kept", 1), refused(pub + "/sub/kept", loop)},
        {write_to(pub + "/sub/kept", 2), refused(pub + "/sub/kept", loop)},
        {read_from(pub + "/sub/kept"), refused(pub + "/sub/kept", loop)},
        {go(open_lfn(1, pub + "/sub/kept", "R", 3, {reclen(2)}) + close_lfn(1)).abort, refused(pub + "/sub/kept", loop)},
        {go(stmt(callio_allocate, {file(pub + "/sub/kept"), org("S")})).abort,
         "ALLOCATE \"" + pub + "/sub/kept\" failed: : " + loop},
        {write_to(pub + "/theirs/new", 1), refused(pub + "/theirs/new", "Permission denied")},
        {go(open_lfn(2, pub + "/own.txt", "S", 0) + stmt(callio_rename, {lfn(2), file(pub + "/sub/moved")}) +
            close_lfn(2))
             .abort,
         "Cannot link \"" + pub + "/own.txt\" to \"" + pub + "/sub/moved\" : : " + loop},
    };
    for (const auto &c : cases) EXPECT_EQ(c.abort, c.expected);
    EXPECT_EQ(lumba_test::read_bytes(elsewhere + "/kept"), "kept\n");
    EXPECT_FALSE(g_file_test((elsewhere + "/new").c_str(), G_FILE_TEST_EXISTS));
    EXPECT_FALSE(g_file_test((elsewhere + "/moved").c_str(), G_FILE_TEST_EXISTS));
    EXPECT_FALSE(g_file_test((pub + "/theirs/new").c_str(), G_FILE_TEST_EXISTS));
    EXPECT_EQ(get("pub/own.txt"), "own\n");
}

// What the run writes in a shared directory works as anywhere: a new file, a file of its own
// written anew, appended to and updated in place by record (the file keeps its identity, so the
// region locks of other processes on it still meet the channel's), renamed and deleted.
TEST_F(IoTest, TheRunsOwnFilesInASharedDirectoryWorkAsAnywhere)
{
    const std::string pub = at("pub");
    lumba_test::make_their_shared_directory(pub);
    auto write_to = [&](const std::string &path, int option, const std::string &text) {
        return go(open_lfn(1, path, "S", option) + stmt(callio_write, {lfn(1), carr(1)}, str(text), 1) + close_lfn(1)).abort;
    };
    auto inode = [](const std::string &path) {
        struct stat st {};
        return stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
    };
    EXPECT_EQ(write_to(pub + "/seq.txt", 1, "first"), "");
    EXPECT_EQ(get("pub/seq.txt"), "first\n\n");
    struct stat st {};
    ASSERT_EQ(stat((pub + "/seq.txt").c_str(), &st), 0);
    const mode_t mask = umask(0);
    umask(mask);
    EXPECT_EQ(st.st_mode & 07777, 0666 & ~mask);  // as a new file gets
    const ino_t made = inode(pub + "/seq.txt");
    EXPECT_EQ(write_to(pub + "/seq.txt", 1, "second"), "");
    EXPECT_EQ(write_to(pub + "/seq.txt", 2, "third"), "");
    EXPECT_EQ(get("pub/seq.txt"), "second\n\nthird\n\n");
    EXPECT_EQ(inode(pub + "/seq.txt"), made);

    put("pub/rec.dat", "aaaabbbbcccc");
    const ino_t records = inode(pub + "/rec.dat");
    const Result r = go(open_lfn(3, pub + "/rec.dat", "R", 3, {reclen(4)}) +
                        stmt(callio_write, {lfn(3), mode("R"), rec(2)}, str("XY"), 1) + close_lfn(3));
    EXPECT_EQ(r.abort, "");
    EXPECT_EQ(get("pub/rec.dat"), std::string("aaaaXY\0\0cccc", 12));
    EXPECT_EQ(inode(pub + "/rec.dat"), records);

    EXPECT_EQ(go(open_lfn(2, pub + "/seq.txt", "S", 0) + stmt(callio_rename, {lfn(2), file(pub + "/renamed.txt")}) +
                 stmt(callio_close, {lfn(2), opt(1)}))
                  .abort,
              "");
    EXPECT_FALSE(g_file_test((pub + "/seq.txt").c_str(), G_FILE_TEST_EXISTS));
    EXPECT_FALSE(g_file_test((pub + "/renamed.txt").c_str(), G_FILE_TEST_EXISTS));
    // No temporary name is left behind.
    GDir *d = g_dir_open(pub.c_str(), 0, nullptr);
    ASSERT_NE(d, nullptr);
    std::vector<std::string> names;
    while (const char *n = g_dir_read_name(d)) names.push_back(n);
    g_dir_close(d);
    EXPECT_EQ(names, std::vector<std::string>{"rec.dat"});
}

TEST_F(IoTest, RandomRecords)
{
    put("r.dat", "aaaaaaaaaabbbbbbbbbbcccccccccc");
    put("short.dat", std::string(25, 'q'));
    const std::string read3 = stmt(callio_read, {lfn(1), mode("R"), rec(3)}, svar(0, 20), 1) + logprint(sval(0, 20), 1);
    struct {
        std::string body;
        std::string expect;  // printed, or the stop message
    } cases[] = {
        {open_lfn(1, at("r.dat"), "R", 0, {reclen(10)}) + read3, "cccccccccc\n"},
        // Without MODE "R" records follow one another from the current position.
        {open_lfn(1, at("r.dat"), "R", 4, {reclen(10)}) + stmt(callio_read, {lfn(1)}, svar(0, 20), 1) +
             stmt(callio_read, {lfn(1)}, svar(21, 20), 1) + logprint(sval(0, 20) + sval(21, 20), 2),
         "aaaaaaaaaabbbbbbbbbb\n"},
        {open_lfn(1, at("short.dat"), "R", 0, {reclen(10)}) + read3, "Record too short on LFN 1"},
        {open_lfn(1, at("r.dat"), "R", 0, {reclen(10)}) + stmt(callio_read, {lfn(1), mode("R")}, svar(0, 20), 1),
         "Record parameter missing"},
        {open_lfn(1, at("r.dat"), "R", 0, {reclen(10)}) + stmt(callio_read, {lfn(1), mode("N")}, svar(0, 20), 1),
         "Access mode applies only to ISAM files"},
        {open_lfn(1, at("r.dat"), "R", 3, {reclen(10)}) + stmt(callio_write, {lfn(1)}, str("12345678901"), 1),
         "Attempt to write beyond record length"},
        {open_lfn(1, at("r.dat"), "R", 0, {reclen(10)}) + stmt(callio_write, {lfn(1)}, str("x"), 1),
         "Invalid operation on LFN 1"},
        {open_lfn(1, at("r.dat"), "R", 1, {reclen(10)}) + read3, "Invalid operation on LFN 1"},
        {open_lfn(1, at("r.dat"), "R", 0), "RECLEN must be specified for OPEN of random file"},
        {open_lfn(1, at("r.dat"), "R", 8, {reclen(10)}), "Missing or illegal OPT on OPEN of LFN 1"},
    };
    for (const auto &c : cases) {
        close_files();
        Result r = go(c.body);
        if (r.abort.empty()) EXPECT_EQ(r.out, c.expect);
        else EXPECT_EQ(r.abort, c.expect);
    }
    EXPECT_EQ(get("r.dat"), "aaaaaaaaaabbbbbbbbbbcccccccccc");
}

TEST_F(IoTest, RandomWritesByRecordNumberReplaceEvenWhenAdding)
{
    put("r.dat", "aaaaaaaaaabbbbbbbbbbcccccccccc");
    // Adding records (OPT 2): a plain WRITE goes to the end, WRITE MODE "R" REC 2 replaces
    // record 2, and the filler after the text's zero byte is zero bytes.
    Result r = go(open_lfn(1, at("r.dat"), "R", 2, {reclen(10)}) + stmt(callio_write, {lfn(1)}, str("dd"), 1) +
                  stmt(callio_write, {lfn(1), mode("R"), rec(2)}, str("XY"), 1) +
                  stmt(callio_write, {lfn(1)}, str("0123456789"), 1) + close_lfn(1) +
                  open_lfn(2, at("r.dat"), "R", 3, {reclen(10)}) + stmt(callio_write, {lfn(2), mode("R"), rec(1)}, str("A"), 1) +
                  stmt(callio_read, {lfn(2), mode("R"), rec(2)}, svar(0, 20), 1) + logprint(sval(0, 20), 1));
    ASSERT_EQ(r.abort, "");
    EXPECT_EQ(r.out, "XY\n");
    EXPECT_EQ(get("r.dat"), std::string("A\0\0\0\0\0\0\0\0\0", 10) + std::string("XY\0\0\0\0\0\0\0\0", 10) +
                                "cccccccccc" + std::string("dd\0\0\0\0\0\0\0\0", 10) + "0123456789");
}

// A statement without REC reads or writes the record after the last one a statement touched,
// REC or not, and REWIND goes back to the first.
TEST_F(IoTest, RandomRecordsWithoutRecFollowTheLastOneTouched)
{
    const std::string data = "aaaaaaaaaabbbbbbbbbbcccccccccc";
    auto read = [](int at, std::initializer_list<Param> more = {}) {
        std::string t;
        for (const auto &p : more) t += p.second + "ioc I:" + std::to_string(p.first) + "\n";
        return t + stmt(callio_read, {lfn(1)}, svar(at, 10), 1);
    };
    const std::string print2 = logprint(sval(0, 10) + str("|") + sval(11, 10), 3);
    struct {
        std::string body;
        std::string expect;  // printed
        std::string file;    // the file afterwards
    } cases[] = {
        {open_lfn(1, at("r.dat"), "R", 3, {reclen(10)}) + read(0, {{ioc_mode, str("R")}, rec(2)}) + read(11) + print2,
         "bbbbbbbbbb|cccccccccc\n", data},
        {open_lfn(1, at("r.dat"), "R", 3, {reclen(10)}) + read(0, {{ioc_mode, str("R")}, rec(3)}) +
             stmt(callio_rewind, {lfn(1)}) + read(11) + print2,
         "cccccccccc|aaaaaaaaaa\n", data},
        {open_lfn(1, at("r.dat"), "R", 3, {reclen(10)}) + stmt(callio_write, {lfn(1), mode("R"), rec(1)}, str("X"), 1) +
             stmt(callio_write, {lfn(1)}, str("Y"), 1) + read(0) + logprint(sval(0, 10), 1),
         "cccccccccc\n", std::string("X\0\0\0\0\0\0\0\0\0Y\0\0\0\0\0\0\0\0\0", 20) + "cccccccccc"},
        {open_lfn(1, at("r.dat"), "R", 3, {reclen(10)}) + read(0, {{ioc_mode, str("R")}, rec(3)}) +
             stmt(callio_write, {lfn(1)}, str("Z"), 1) + logprint(sval(0, 10), 1),
         "cccccccccc\n", data + std::string("Z\0\0\0\0\0\0\0\0\0", 10)},
    };
    for (const auto &c : cases) {
        close_files();
        put("r.dat", data);
        Result r = go(c.body);
        EXPECT_EQ(r.abort, "");
        EXPECT_EQ(r.out, c.expect);
        EXPECT_EQ(get("r.dat"), c.file);
    }
}

// Two processes adding records to one random file at the same time: every record of both is in
// the file, whole, and each process's records keep their order.
TEST_F(IoTest, AppendsFromTwoProcessesAreAllKept)
{
    constexpr int records = 3000;
    put("shared.dat", "");
    auto adder = [&](const char *tag) {
        const std::string count = nval(0) + num(1) + "add\n" + "storrd I:0 I:1 I:0 I:0 I:0\n";
        return open_lfn(1, at("shared.dat"), "R", 2, {reclen(12)}) + num(0) + "storrd I:0 I:1 I:0 I:0 I:0\n" + "loop:\n" +
               count + stmt(callio_write, {lfn(1)}, str(tag) + nval(0), 2) + nval(0) + num(records) + "lt\n" +
               "jumpz l:done\njump l:loop\ndone:\n" + close_lfn(1);
    };
    // Both programs are loaded before the processes part, each from an object file of its own.
    Interp_t *programs[2] = {};
    for (int i = 0; i < 2; ++i) {
        const std::string name = i == 0 ? "a" : "b";
        ASSERT_EQ(load(assemble(main_program(adder(name.c_str())), name + ".obj"), &programs[i]), "");
    }
    int go_ahead[2];
    ASSERT_EQ(pipe(go_ahead), 0);
    pid_t children[2];
    for (int i = 0; i < 2; ++i) {
        children[i] = fork();
        ASSERT_GE(children[i], 0);
        if (children[i] == 0) {
            close(go_ahead[1]);
            char c;
            (void)!read(go_ahead[0], &c, 1);  // both start together
            _exit(execute(programs[i]).abort.empty() ? 0 : 1);
        }
    }
    close(go_ahead[0]);
    close(go_ahead[1]);
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    const std::string file = get("shared.dat");
    ASSERT_EQ(file.size(), 2u * records * 12);
    int next[2] = {1, 1};
    for (std::size_t at = 0; at < file.size(); at += 12) {
        const std::string record(file.c_str() + at);
        ASSERT_TRUE(record[0] == 'a' || record[0] == 'b') << "record at " << at << ": " << record;
        int &n = next[record[0] - 'a'];
        EXPECT_EQ(record.substr(1), std::to_string(n)) << "record at " << at;
        ++n;
    }
    EXPECT_EQ(next[0], records + 1);
    EXPECT_EQ(next[1], records + 1);
}

TEST_F(IoTest, EndOfFileAndErrorTraps)
{
    put("one.txt", "only\n");
    const std::string open1 = open_lfn(1, at("one.txt"), "S", 0);
    const std::string read1 = svar(0, 10);
    struct {
        std::string body;
        std::string out;
        int status;
    } cases[] = {
        {open1 + stmt(callio_read, {lfn(1), eof("end")}, read1, 1) + stmt(callio_read, {lfn(1), eof("end")}, read1, 1) +
             logprint(str("no"), 1) + "exit\nend:\n" + logprint(str("eof ") + sval(0, 10), 2),
         "eof only\n", 0},
        // Without an EOF label the end of the file goes to the ERL label.
        {open1 + stmt(callio_read, {lfn(1)}, read1, 1) + stmt(callio_read, {lfn(1), erl("bad")}, read1, 1) +
             "exit\nbad:\n" + logprint(str("erl"), 1),
         "erl\n", 0},
        // Without labels, the program's own trap.
        {"tsterr l:armed\n" + logprint(str("trap"), 1) + "exit\narmed:\n" + open1 + stmt(callio_read, {lfn(1)}, read1, 1) +
             stmt(callio_read, {lfn(1)}, read1, 1) + logprint(str("no"), 1),
         "trap\n", 0},
        // An EOF trap gives the routine its own trap back.
        {"tsterr l:armed\n" + logprint(str("trap"), 1) + "exit\narmed:\n" + open1 + stmt(callio_read, {lfn(1)}, read1, 1) +
             stmt(callio_read, {lfn(1), eof("e1")}, read1, 1) + "exit\ne1:\n" + logprint(str("eof"), 1) +
             stmt(callio_read, {lfn(1)}, read1, 1),
         "eof\ntrap\n", 0},
        // No trap at all: the program ends with status 1.
        {open1 + stmt(callio_read, {lfn(1)}, read1, 1) + stmt(callio_read, {lfn(1)}, read1, 1) + logprint(str("no"), 1),
         "", 1},
    };
    for (const auto &c : cases) {
        close_files();
        Result r = go(c.body);
        EXPECT_EQ(r.abort, "");
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.status, c.status);
    }
    ASSERT_FALSE(lumba_test::trapped_errors().empty());
    EXPECT_EQ(lumba_test::trapped_errors().back(), "Attempt to READ past end-of-file on LFN 1");
}

TEST_F(IoTest, RepeatedTrapsLeaveNoValuesOnTheStack)
{
    put("empty.txt", "");
    // 300 trapped ends of file with two values each would overflow the 256-entry stack if the
    // trap kept the statement's values.
    Result r = go(num(0) + "storrd I:0 I:1 I:0 I:0 I:0\n" + open_lfn(1, at("empty.txt"), "S", 0) + "again:\n" +
                  "loadrvd I:0 I:1 I:0 I:0 I:0\n" + num(300) + "eq\njumpz l:more\n" + logprint(str("done"), 1) +
                  "exit\nmore:\n" + "loadrvd I:0 I:1 I:0 I:0 I:0\n" + num(1) + "add\nstorrd I:0 I:1 I:0 I:0 I:0\n" +
                  stmt(callio_read, {lfn(1), eof("again")}, svar(0, 10) + nvar(1), 2) + "jump l:again\n");
    EXPECT_EQ(r.abort, "");
    EXPECT_EQ(r.out, "done\n");
}

TEST_F(IoTest, DataListRead)
{
    const std::string data = ".data n:1.5 s:\"ab\" n:-2 s:\"\" \n";
    struct {
        std::string body;
        std::string expect;
    } cases[] = {
        {stmt(callio_read, {}, nvar(0) + svar(0, 10) + nvar(1) + svar(11, 10), 4) +
             logprint(nval(0) + str("|") + sval(0, 10) + str("|") + nval(1) + str("|") + sval(11, 10) + str("|"), 8),
         "1.5|ab|-2||\n"},
        {stmt(callio_read, {}, nvar(0) + nvar(1) + nvar(2), 3), "Data list exhausted - further input aborted"},
        {stmt(callio_read, {}, svar(0, 10) + svar(0, 10) + svar(0, 10), 3), "Data list exhausted - further input aborted"},
        {stmt(callio_read, {}, num(4), 1), "Literal in input variable list"},
        {"restore I:1 I:0\n" + stmt(callio_read, {}, nvar(0), 1) + logprint(nval(0), 1), "-2\n"},
        {"restore I:-5 I:0\n" + stmt(callio_read, {}, nvar(0), 1), "Data list exhausted - further input aborted"},
    };
    for (const auto &c : cases) {
        Result r = go(c.body, data, 2, 4);
        if (r.abort.empty()) EXPECT_EQ(r.out, c.expect);
        else EXPECT_EQ(r.abort, c.expect);
    }
}

TEST_F(IoTest, ParameterChecks)
{
    struct {
        std::string body;
        std::string message;
    } cases[] = {
        {stmt(callio_date, {mode("AB")}), "Invalid MODE parameter"},
        {stmt(callio_date, {mode("X")}), "Invalid MODE parameter"},
        {stmt(callio_date, {mode("r")}), "Invalid MODE parameter"},
        {stmt(callio_date, {{ioc_lock, num(2)}}), "Invalid MODE parameter"},
        {stmt(callio_date, {reclen(4097)}), "Invalid RECLEN parameter"},
        {stmt(callio_date, {reclen(0)}), "Invalid RECLEN parameter"},
        {stmt(callio_date, {rec(0)}), "Invalid REC parameter"},
        {stmt(callio_date, {lfn(-1)}), "LFN negative"},
        {stmt(callio_date, {lfn(512)}), "Illegal LFN"},
        {stmt(callio_date, {{ioc_lfn, num("99999999999")}}), "Illegal LFN"},
        {stmt(callio_date, {carr(-1)}), "CARR negative"},
        {stmt(callio_date, {{ioc_iunit, num(-1)}}), "IUNIT negative"},
        {stmt(callio_date, {{ioc_unit, num(-2)}}), "UNIT negative"},
        {stmt(callio_date, {{ioc__NOP, num(1)}}), "Ioc code 0 not implemented"},
        {stmt(callio_date, {{ioc_key, num(1)}}), "Ioc code 9 not implemented"},
        {stmt(callio_date, {{IocCode(23), num(1)}}), "Ioc code 23 not implemented"},
        {stmt(callio__NOP, {}), "Callio function not implemented"},
        {stmt(CallioCode(16), {}), "Callio function not implemented"},
        {stmt(callio_unlock, {}), "UNLOCK: No DISAM available"},
    };
    for (const auto &c : cases) EXPECT_EQ(go(c.body).abort, c.message);
    // Accepted values of the parameters with no effect, and LFN 255.
    EXPECT_EQ(go(stmt(callio_date, {lfn(255), {ioc_prompt, str("p")}, {ioc_nrec, str("n")}, {ioc_recfmt, num(1)},
                                    {ioc_iunit, num(2)}, {ioc_lock, num(0)}, mode("L")}))
                  .abort,
              "");
}

TEST_F(IoTest, ChannelsBeyondFAreRefused)
{
    max_files = 10;
    EXPECT_EQ(go(stmt(callio_date, {lfn(10)})).abort, "Illegal LFN");
    EXPECT_EQ(go(stmt(callio_date, {lfn(9)})).abort, "");
    EXPECT_EQ(go(stmt(callio_date, {lfn(255)})).abort, "");
}

TEST_F(IoTest, StatementErrors)
{
    put("f.txt", "x\n");
    const std::string f = at("f.txt");
    struct {
        std::string body;
        std::string message;
    } cases[] = {
        {open_lfn(1, f, "S", 0) + open_lfn(1, f, "S", 0), "Attempt to open LFN 1 which is already open"},
        {open_lfn(1, f, "I", 0), "OPEN: No DISAM available"},
        {open_lfn(1, f, "Q", 0), "OPEN: invalid ORG"},
        {open_lfn(1, f, "", 0), "OPEN: invalid ORG"},
        {open_lfn(1, f, "S", 3), "Illegal OPT on OPEN of LFN 1"},
        {stmt(callio_open, {file(f)}), "OPEN: LFN parameter missing"},
        {stmt(callio_open, {lfn(1)}), "OPEN: FILE parameter missing"},
        {stmt(callio_read, {lfn(2)}, svar(0, 2), 1), "Attempt to READ LFN 2 which has not been opened"},
        {stmt(callio_read, {lfn(255)}, svar(0, 2), 1), "READ illegal while report is open"},
        {stmt(callio_rewind, {lfn(2)}), "Attempt to REWIND LFN 2 which has not been opened"},
        {stmt(callio_rewind, {lfn(255)}), "REWIND attempt on LFN 255"},
        {stmt(callio_rename, {lfn(2), file(f)}), "Attempt to RENAME LFN 2 which has not been opened"},
        {stmt(callio_rename, {lfn(255)}), "RENAME attempt on LFN 255"},
        {stmt(callio_delete, {lfn(2)}), "Attempt to DELETE record on LFN 2 which has not been opened"},
        {stmt(callio_delete, {lfn(255)}), "DELETE attempt on LFN 255"},
        {open_lfn(1, f, "S", 0) + stmt(callio_delete, {lfn(1)}), "Invalid delete operation on LFN 1"},
        {open_lfn(1, f, "S", 0) + stmt(callio_write, {lfn(1)}, str("a"), 1), "Invalid operation on LFN 1"},
        {open_lfn(1, f, "S", 1) + stmt(callio_read, {lfn(1)}, svar(0, 2), 1), "Invalid operation on LFN 1"},
        {open_lfn(1, f, "S", 0) + stmt(callio_read, {lfn(1), mode("G")}, svar(0, 2), 1),
         "Access mode applies only to ISAM files"},
        {stmt(callio_close, {lfn(255)}), "CLOSE(LFN=255): no report open"},
        {stmt(callio_allocate, {file(at("n")), org("I")}), "ALLOCATE: No DISAM available"},
        {stmt(callio_allocate, {file(at("n")), org("X")}), "ALLOCATE: invalid ORG"},
        {open_lfn(1, data + "/missing/x", "S", 0), "Cannot open \"" + data + "/missing/x\" : : No such file or directory"},
    };
    for (const auto &c : cases) {
        close_files();
        EXPECT_EQ(go(c.body).abort, c.message);
    }
    // A failed OPEN leaves the channel closed; closing a closed channel does nothing.
    EXPECT_EQ(File_table[1].descriptor, -1);
    EXPECT_EQ(File_table[1].name, nullptr);
    EXPECT_EQ(go(close_lfn(1)).abort, "");
}

TEST_F(IoTest, ReportChannelOpenDoesNothing)
{
    Result r = go(open_lfn(255, at("never"), "S", 1));
    EXPECT_EQ(r.abort, "");
    EXPECT_FALSE(g_file_test(at("never").c_str(), G_FILE_TEST_EXISTS));
    EXPECT_EQ(go(close_lfn(255)).abort, "CLOSE(LFN=255): no report open");
}

TEST_F(IoTest, ChannelDescriptorsAreCloseOnExec)
{
    put("f.txt", "");
    ASSERT_EQ(go(open_lfn(1, at("f.txt"), "S", 0) + open_lfn(2, at("g.txt"), "S", 1) +
                 open_lfn(3, at("f.txt"), "R", 2, {reclen(4)}) + open_lfn(4, at("f.txt"), "R", 3, {reclen(4)}))
                  .abort,
              "");
    for (int i = 1; i <= 4; ++i) {
        ASSERT_NE(File_table[i].descriptor, -1);
        EXPECT_TRUE(fcntl(File_table[i].descriptor, F_GETFD) & FD_CLOEXEC) << i;
    }
    // The random channel that adds records is not in append mode.
    EXPECT_FALSE(fcntl(File_table[3].descriptor, F_GETFL) & O_APPEND);
}

TEST_F(IoTest, CloseFilesClosesWhatIsOpen)
{
    ASSERT_EQ(go(open_lfn(7, at("c.txt"), "S", 1) + stmt(callio_write, {lfn(7)}, str("kept"), 1)).abort, "");
    ASSERT_NE(File_table[7].descriptor, -1);
    close_files();
    EXPECT_EQ(File_table[7].descriptor, -1);
    EXPECT_EQ(File_table[7].name, nullptr);
    EXPECT_EQ(get("c.txt"), "kept");
}

TEST_F(IoTest, LogprintTexts)
{
    struct {
        std::string values;
        int nargs;
        std::string out;
    } cases[] = {
        {str("a\\\\tb"), 1, "a\tb\n"},
        {str("a\\\\\\\\tb"), 1, "a\\\\tb\n"},
        {str("x\\\\ny"), 1, "x\ny\n"},
        {str("end\\\\"), 1, "end\\\n"},
        {str("\\x01\\t\\xE9"), 1, "\\1\\9\\E9\n"},
        {str("n=") + num("-12.50") + str("!"), 3, "n=-12.5!\n"},
        {"", 0, "\n"},
    };
    for (const auto &c : cases) {
        Result r = go(logprint(c.values, c.nargs));
        EXPECT_EQ(r.abort, "");
        EXPECT_EQ(r.out, c.out) << c.values;
    }
    EXPECT_EQ(go(logprint(str("a") + "loadrad I:0 I:1 I:3 I:0 I:0\n", 2)).abort, "Argument 2 to LOGPRINT cannot be an array");
}

TEST_F(IoTest, TprintLimitAndLogemail)
{
    EXPECT_EQ(go(stmt(callio_tprint, {}, str(std::string(2043, 'a')), 1)).abort, "");
    EXPECT_EQ(go(stmt(callio_tprint, {}, str("x") + str(std::string(2043, 'a')), 2)).abort,
              "Buffer overflow while processing argument 2 to TPRINT");
    // Escapes count as the text they become.
    EXPECT_EQ(go(stmt(callio_tprint, {}, str(repeat("\\x01", 1021)), 1)).abort, "");
    EXPECT_EQ(go(stmt(callio_tprint, {}, str(repeat("\\x01", 1022)), 1)).abort,
              "Buffer overflow while processing argument 1 to TPRINT");

    lumba_test::mailed().clear();
    EXPECT_EQ(go(stmt(callio_logemail, {}, str("who@example.org") + str("total ") + num("9.5") + str("\\\\n"), 4)).abort, "");
    EXPECT_EQ(go(stmt(callio_logemail, {}, str("who@example.org") + str(""), 2)).abort, "");
    EXPECT_EQ(go(stmt(callio_logemail, {}, "", 0)).abort, "");
    ASSERT_EQ(lumba_test::mailed().size(), 1u);
    EXPECT_EQ(lumba_test::mailed()[0], "total 9.5\n");
    EXPECT_EQ(go(stmt(callio_logemail, {}, num(1) + str("x"), 2)).abort,
              "Argument 1 to LOGEMAIL must be a string representing an e-mail address to send to");
}

// Values the compiler gives WRITE that zasm cannot push: screen intrinsics with repeat counts.
TEST_F(IoTest, WriteOfScreenIntrinsics)
{
    Stack stack[STACKSIZE]{};
    Stk = stack;
    auto screen = [&](int i, int code, Address count) {
        stack[i] = Stack{};
        stack[i].s_t = intrinsic;
        stack[i].s_c.C_A = static_cast<Address>(code);
        stack[i].params[1] = count;
    };
    ASSERT_EQ(go(open_lfn(1, at("s.txt"), "S", 1)).abort, "");
    Stk = stack;
    sp = 4;
    screen(0, in_TAB, 2);
    screen(1, in_LF, 1);
    screen(2, in_CR, 1);
    screen(3, in_BS, 0);
    screen(4, in_FF, 3);
    Ioc.lfn = 1;
    EXPECT_EQ(lumba_test::abort_text([] { callio(callio_write, 5, 4, nullptr); }), "");
    ioc_reset();
    screen(0, in_ABS, 1);
    Ioc.lfn = 1;
    EXPECT_EQ(lumba_test::abort_text([] { callio(callio_write, 1, 0, nullptr); }), "Illegal use of Screen intrinsic");
    ioc_reset();
    screen(0, in_TAB, 5000);
    Ioc.lfn = 1;
    EXPECT_EQ(lumba_test::abort_text([] { callio(callio_write, 1, 0, nullptr); }), "Attempt to write beyond record length");
    ioc_reset();
    Stk = nullptr;
    sp = -1;
    close_files();
    EXPECT_EQ(get("s.txt"), "\t\t\n\r\f\f\f");
}
