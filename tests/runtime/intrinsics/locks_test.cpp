// Region locks between processes: forked holders open channels (or take locks directly) and wait;
// the test reads who holds which bytes of lock region 0 from /proc/locks.
#include <gtest/gtest.h>

#include <glib.h>
#include <glib/gstdio.h>

#include <cerrno>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "fileio.h"
#include "intrinsic_call.h"
#include "mem_mgt.h"
#include "op_codes.h"
#include "run_time.h"
#include "test_host.h"

namespace {

using Step = std::function<std::string()>;

// A forked process that runs its steps one at a time: each step's result comes back as a line,
// and the next step runs when the test says so. It holds its files open until released.
class Holder {
public:
    explicit Holder(std::vector<Step> steps)
    {
        int up[2], down[2];
        if (pipe(up) != 0 || pipe(down) != 0) throw std::runtime_error("pipe");
        pid_ = fork();
        if (pid_ == 0) {
            close(up[0]);
            close(down[1]);
            // Other holders' pipes stay with the test alone, so each holder ends when released.
            for (int fd : parent_ends()) close(fd);
            for (auto &step : steps) {
                std::string r;
                try {
                    r = step();
                } catch (const lumba_test::AbortError &e) {
                    r = std::string("abort: ") + e.what();
                }
                r += "\n";
                if (write(up[1], r.data(), r.size()) < 0) _exit(2);
                char c;
                if (read(down[0], &c, 1) != 1) break;
            }
            _exit(0);
        }
        close(up[1]);
        close(down[0]);
        from_ = up[0];
        to_ = down[1];
        parent_ends().push_back(from_);
        parent_ends().push_back(to_);
        result_ = read_line();
    }

    ~Holder() { release(); }

    const std::string &result() const { return result_; }
    pid_t pid() const { return pid_; }

    const std::string &next()
    {
        const char c = 'n';
        if (write(to_, &c, 1) != 1) throw std::runtime_error("holder gone");
        result_ = read_line();
        return result_;
    }

    void release()
    {
        if (pid_ <= 0) return;
        std::erase(parent_ends(), to_);
        std::erase(parent_ends(), from_);
        close(to_);
        close(from_);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

private:
    static std::vector<int> &parent_ends()
    {
        static std::vector<int> ends;
        return ends;
    }

    std::string read_line()
    {
        std::string line;
        char c;
        while (read(from_, &c, 1) == 1 && c != '\n') line += c;
        return line;
    }

    pid_t pid_ = -1;
    int from_ = -1, to_ = -1;
    std::string result_;
};

class LockTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char *d = g_dir_make_tmp("locks-test-XXXXXX", nullptr);
        dir = d;
        g_free(d);
        path = dir + "/data";
        std::ofstream(path) << "0123456789";
        max_files = MAX_FILES;
        initialize_files();
    }

    void TearDown() override
    {
        close_files();
        g_unlink(path.c_str());
        g_rmdir(dir.c_str());
    }

    // Region 0 as 64 characters: 'r' or 'w' where pid holds a lock, '.' elsewhere.
    std::string region(pid_t pid) const
    {
        struct stat st {};
        stat(path.c_str(), &st);
        const std::string inode = ":" + std::to_string(st.st_ino) + " ";
        std::string map(LOCK_REGION_SIZE, '.');
        std::ifstream locks("/proc/locks");
        std::string line;
        while (std::getline(locks, line)) {
            if (line.find(inode) == std::string::npos || line.find("POSIX") == std::string::npos) continue;
            std::istringstream f(line.substr(line.find("POSIX")));
            std::string posix, advisory, type, device, end_text;
            long holder = 0, start = 0;
            f >> posix >> advisory >> type >> holder >> device >> start >> end_text;
            if (holder != pid) continue;
            const long end = end_text == "EOF" ? start + LOCK_REGION_SIZE : std::stol(end_text);
            for (long b = start; b <= end; ++b) {
                const long i = b - LOCK_REGION_BASE;
                if (i >= 0 && i < LOCK_REGION_SIZE) map[static_cast<std::size_t>(i)] = type == "READ" ? 'r' : 'w';
            }
        }
        return map;
    }

    // Bytes held: a map with the given characters at the given slots.
    static std::string bytes(std::initializer_list<std::pair<int, char>> held, int from = -1, int to = -1, char c = '.')
    {
        std::string map(LOCK_REGION_SIZE, '.');
        for (int i = from; i >= 0 && i <= to; ++i) map[static_cast<std::size_t>(i)] = c;
        for (auto [i, t] : held) map[static_cast<std::size_t>(i)] = t;
        return map;
    }

    // Opens the file on a channel as OPEN does (ORG org, OPT option).
    Step channel(int lfn, char org, int option) const
    {
        std::string p = path;
        return [p, lfn, org, option] {
            Ioc.lfn = lfn;
            Ioc.file = Strcpy(p.c_str());
            Ioc.org = org;
            Ioc.opt = option;
            Ioc.reclen = 10;
            callio(callio_open, 0, -1, nullptr);
            ioc_reset();
            return std::string("open");
        };
    }

    Step close_channel(int lfn) const
    {
        return [lfn] {
            Ioc.lfn = lfn;
            callio(callio_close, 0, -1, nullptr);
            ioc_reset();
            return std::string("closed");
        };
    }

    // filock of kind m on a new descriptor opened with flags.
    Step raw(int flags, int m) const
    {
        std::string p = path;
        return [p, flags, m] {
            const int fd = ::open(p.c_str(), flags);
            return std::to_string(filock(fd, m, 0));
        };
    }

    std::string dir, path;
};

} // namespace

TEST_F(LockTest, ReadersShareTheirSlotWithReadLocks)
{
    Holder a({channel(1, 'S', 0)}), b({channel(1, 'R', 0)});
    ASSERT_EQ(a.result(), "open");
    ASSERT_EQ(b.result(), "open");
    EXPECT_EQ(region(a.pid()), bytes({{0, 'r'}}));
    EXPECT_EQ(region(b.pid()), bytes({{0, 'r'}}));
    // A descriptor opened read-only takes read locks of its own accord.
    Holder c({raw(O_RDONLY, 0)});
    EXPECT_EQ(c.result(), "0");
    EXPECT_EQ(region(c.pid()), bytes({{0, 'r'}}));
}

TEST_F(LockTest, ExclusiveOpensConflictWithEveryOtherOpener)
{
    {
        Holder reader({channel(1, 'S', 0)});
        Holder exclusive({raw(O_RDWR, 3)});
        EXPECT_EQ(exclusive.result(), "-1");
        // The OPEN goes on without its lock.
        Holder writer({channel(1, 'S', 1)});
        EXPECT_EQ(writer.result(), "open");
        EXPECT_EQ(region(writer.pid()), bytes({}));
    }
    Holder exclusive({channel(1, 'R', 6)});
    EXPECT_EQ(region(exclusive.pid()), bytes({}, 0, 63, 'w'));
    Holder reader({raw(O_RDONLY, 0)}), writer({raw(O_RDWR, 1)});
    EXPECT_EQ(reader.result(), "-1");
    EXPECT_EQ(writer.result(), "-1");
    EXPECT_EQ(region(reader.pid()), bytes({}));
    EXPECT_EQ(region(writer.pid()), bytes({}));
}

TEST_F(LockTest, ExclusiveReadOnlyOpenKeepsWritersOut)
{
    Holder exclusive({channel(1, 'S', 7)});
    EXPECT_EQ(region(exclusive.pid()), bytes({}, 0, 63, 'r'));
    Holder writer({raw(O_RDWR, 1)}), reader({raw(O_RDONLY, 0)});
    EXPECT_EQ(writer.result(), "-1");
    EXPECT_EQ(reader.result(), "0");
}

TEST_F(LockTest, WritersTakeShareAndWriterSlots)
{
    Holder first({channel(1, 'R', 3)}), second({channel(1, 'R', 3)});
    EXPECT_EQ(region(first.pid()), bytes({{0, 'w'}, {32, 'w'}}));
    EXPECT_EQ(region(second.pid()), bytes({{1, 'w'}, {33, 'w'}}));
    // A sole writer keeps its share slot but cannot have the writer half.
    Holder sole({raw(O_RDWR, 2)});
    EXPECT_EQ(sole.result(), "-1");
    EXPECT_EQ(region(sole.pid()), bytes({{2, 'w'}}));
    // A reader still finds a slot beside the writers.
    Holder reader({channel(1, 'S', 0)});
    EXPECT_EQ(region(reader.pid()), bytes({{3, 'r'}}));
}

TEST_F(LockTest, SoleWriterHoldsTheWholeWriterHalf)
{
    Holder sole({channel(1, 'R', 5)});
    EXPECT_EQ(region(sole.pid()), bytes({{0, 'w'}}, 32, 63, 'w'));
    Holder writer({raw(O_RDWR, 1)});
    EXPECT_EQ(writer.result(), "-1");
    EXPECT_EQ(region(writer.pid()), bytes({{1, 'w'}}));
}

TEST_F(LockTest, ThirtyThirdOpenerFindsNoShareSlot)
{
    std::vector<std::unique_ptr<Holder>> holders;
    for (int i = 0; i < SHARE_SLOTS; ++i) {
        holders.push_back(std::make_unique<Holder>(std::vector<Step>{raw(O_RDWR, 0)}));
        ASSERT_EQ(holders.back()->result(), "0") << i;
        EXPECT_EQ(region(holders.back()->pid()), bytes({{i, 'w'}}));
    }
    Holder last({raw(O_RDWR, 1)});
    EXPECT_EQ(last.result(), "-1");
    EXPECT_EQ(region(last.pid()), bytes({}));
}

TEST_F(LockTest, ChannelsOfOneProcessDoNotConflictAndCloseReleases)
{
    Holder h({channel(1, 'R', 6), channel(2, 'R', 6), close_channel(2)});
    EXPECT_EQ(h.result(), "open");
    EXPECT_EQ(region(h.pid()), bytes({}, 0, 63, 'w'));
    EXPECT_EQ(h.next(), "open");
    EXPECT_EQ(region(h.pid()), bytes({}, 0, 63, 'w'));
    // Closing either channel drops every lock the process holds on the file.
    EXPECT_EQ(h.next(), "closed");
    EXPECT_EQ(region(h.pid()), bytes({}));
}

// Looking at a file a channel holds, or copying it, keeps the channel's region locks: closing any
// descriptor of the file would drop all of the process's locks on it. A CLOSE still drops them.
TEST_F(LockTest, LooksAndCopiesKeepTheLocks)
{
    const std::string copy = dir + "/copy";
    // The intrinsic's answer, and what the copy holds.
    auto look = [](int code, std::vector<lumba_test::Arg> args, std::string copy) -> Step {
        return [=] {
            lumba_test::IntrinsicOutcome call;
            std::string answer = code == in_ICOPY ? call.statement(code, args) : call.number(code, args);
            if (!copy.empty()) {
                std::ifstream in(copy);
                answer += "|" + std::string(std::istreambuf_iterator<char>(in), {});
            }
            return answer;
        };
    };
    // Descriptors of the process still open on the data file.
    std::string p = path;
    Step descriptors = [p] {
        struct stat file {}, st {};
        stat(p.c_str(), &file);
        int n = 0;
        for (int fd = 0; fd < 1024; ++fd)
            n += fstat(fd, &st) == 0 && st.st_dev == file.st_dev && st.st_ino == file.st_ino;
        return std::to_string(n);
    };
    struct Case {
        const char *name;
        char org;
        int option;
        Step look;
        std::string answer;
        std::string held;
    } cases[] = {
        {"IIS_WRITEABLE of an exclusive channel's file", 'R', 6,
         look(in_IIS_WRITEABLE, {lumba_test::args::str(path)}, ""), "1", bytes({}, 0, 63, 'w')},
        {"ICOPY from a reader's file", 'R', 0,
         look(in_ICOPY, {lumba_test::args::str(path), lumba_test::args::str(copy)}, copy), "|0123456789",
         bytes({{0, 'r'}})},
        {"ICOPY from a shared writer's file", 'R', 3,
         look(in_ICOPY, {lumba_test::args::str(path), lumba_test::args::str(copy)}, copy), "|0123456789",
         bytes({{0, 'w'}, {32, 'w'}})},
        {"ICOPY from a write-only channel's file", 'R', 1,
         look(in_ICOPY, {lumba_test::args::str(path), lumba_test::args::str(copy)}, copy), "|0123456789",
         bytes({}, 0, 63, 'w')},
    };
    for (auto &c : cases) {
        std::ofstream(path) << "0123456789";
        Holder h({channel(1, c.org, c.option), c.look, descriptors, close_channel(1), descriptors});
        EXPECT_EQ(h.result(), "open") << c.name;
        EXPECT_EQ(region(h.pid()), c.held) << c.name;
        EXPECT_EQ(h.next(), c.answer) << c.name;
        EXPECT_EQ(region(h.pid()), c.held) << c.name << ": the locks are still held";
        const std::string open_after_look = h.next();
        EXPECT_EQ(h.next(), "closed") << c.name;
        EXPECT_EQ(region(h.pid()), bytes({})) << c.name;
        EXPECT_EQ(h.next(), "0") << c.name << ": every descriptor of the file went with the channel ("
                                 << open_after_look << " after the look)";
        g_unlink(copy.c_str());
    }
}

TEST(Locking, ModesAndPosition)
{
    char name[] = "/tmp/locking-XXXXXX";
    const int fd = mkstemp(name);
    ASSERT_GE(fd, 0);
    for (int mode : {5, -1}) {
        errno = 0;
        EXPECT_EQ(locking(fd, mode, 1), -1);
        EXPECT_EQ(errno, EINVAL);
    }
    ASSERT_EQ(lseek(fd, 7, SEEK_SET), 7);
    EXPECT_EQ(rglock(fd, LOCK_REGION_BASE, SHARE_SLOTS, 1), 0);
    EXPECT_EQ(lseek(fd, 0, SEEK_CUR), 7);
    EXPECT_EQ(rglock(fd, LOCK_REGION_BASE, 0, 1), -1);
    EXPECT_EQ(lseek(fd, 0, SEEK_CUR), 7);
    // The region lies beyond the data: locking it does not extend the file.
    struct stat st {};
    fstat(fd, &st);
    EXPECT_EQ(st.st_size, 0);
    // Locks of all modes on a descriptor's own position.
    for (int mode : {1, 2, 3, 4, 0}) EXPECT_EQ(locking(fd, mode, 4), 0) << mode;
    close(fd);
    unlink(name);
}
