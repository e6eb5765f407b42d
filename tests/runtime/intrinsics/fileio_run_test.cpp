// File channels through the real lumba_run in background mode: files written and read back,
// standard output, fatal I/O errors with their status, the sample invoice, and region locks
// held by two lumba_run processes at once.
#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "io_program.h"
#include "shell_time.h"
#include "site.h"
#include "zasm_run.h"

using lumba_test::Site;
using namespace io_program;

namespace {

} // namespace

TEST(FileChannelRuns, WriteReadBackAndPrint)
{
    Site site;
    const std::string f = site.root() + "/orders.txt";
    site.install_program("orders",
            main_program(open_lfn(1, f, "S", 1) +
                         stmt(callio_write, {lfn(1), carr(1)}, str("A-17") + str(";") + num("1250.5"), 3) +
                         stmt(callio_write, {lfn(1), format("XXXXXX,9999.99")}, str("B-2") + num("-3.25"), 2) +
                         close_lfn(1) + open_lfn(2, f, "S", 0) +
                         stmt(callio_read, {lfn(2), format("XXXX,X,999999")}, svar(0, 4) + svar(5, 1) + nvar(0), 3) +
                         stmt(callio_read, {lfn(2)}, svar(20, 5), 1) +
                         stmt(callio_read, {lfn(2)}, svar(10, 3) + nvar(1), 2) +
                         stmt(callio_read, {lfn(2), eof("end")}, svar(20, 5), 1) + logprint(str("no"), 1) +
                         "exit\nend:\n" +
                         logprint(sval(0, 4) + sval(5, 1) + nval(0) + str(" ") + sval(10, 3) + str(" ") + nval(1), 7) +
                         logprint(str("end\\\\tof file"), 1)));
    auto r = site.lumba({"-b", "orders", "0"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(lumba_test::read_bytes(f), "A-17;1250.5\n\nB-2   -3.25");
    EXPECT_EQ(r.out, "A-17;1250.5 B-2 -3.25\nend\tof file\n") << r.err;
}

TEST(FileChannelRuns, FatalErrorsEndWithStatusOneAndKeepWrittenData)
{
    struct {
        std::string name;
        std::string statement;
        std::string message;
        std::vector<std::string> env;
    } cases[] = {
        {"mode", stmt(callio_write, {lfn(1), mode("X")}, str("x"), 1), "Invalid MODE parameter", {}},
        {"reclen", stmt(callio_open, {lfn(2), reclen(4097)}), "Invalid RECLEN parameter", {}},
        {"lfn", stmt(callio_write, {lfn(10)}, str("x"), 1), "Illegal LFN", {"F=10"}},
        {"shortrec", open_lfn(3, "/dev/null", "R", 0, {reclen(10)}) + stmt(callio_read, {lfn(3), mode("R"), rec(1)}, svar(0, 5), 1),
         "Attempt to READ past end-of-file on LFN 3", {}},
    };
    Site site;
    for (const auto &c : cases) {
        const std::string f = site.root() + "/" + c.name + ".txt";
        site.install_program(c.name,
                main_program(open_lfn(1, f, "S", 1) + stmt(callio_write, {lfn(1)}, str("kept"), 1) + c.statement +
                             logprint(str("not reached"), 1)));
        auto r = site.lumba({"-b", c.name, "0"}, c.env);
        EXPECT_EQ(r.status, 1) << c.name << "\n" << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << c.name << "\n" << r.err;
        EXPECT_EQ(r.out, "") << c.name;
        EXPECT_EQ(lumba_test::read_bytes(f), "kept") << c.name;
    }
}

TEST(FileChannelRuns, PrintShowsItsNoticeAndLogsTheText)
{
    Site site;
    site.install_program("print", main_program(stmt(callio_print, {}, str("total ") + num("9.50"), 2) +
                                        stmt(callio_tprint, {}, str("a\\x07b"), 1)));
    auto r = site.lumba({"-b", "-v", "0", "print", "0"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("Redundant code called to print use tprint callio line 257"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("T total 9.5\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("T a\\7b\n"), std::string::npos) << r.err;
}

TEST(FileChannelRuns, HelloPrintsItsInvoice)
{
    Site site;
    site.install_example("hello");
    auto r = site.lumba({"-b", "hello", "0"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(lumba_test::report_message(r.err), "") << r.err;
    EXPECT_EQ(r.out,
              "Widget: 3 x 12.5 = 37.5\n"
              "Gadget: 2 x 7.25 = 14.5\n"
              "Service hour: 1.5 x 60 = 90\n"
              "Net: 142\n"
              "VAT 20%: 28.4\n"
              "Total: 170.4\n");
    EXPECT_EQ(site.read_file("oska/temp/invoice.txt"),
              "Widget          3 x 12.5 = 37.5\n"
              "Gadget          2 x 7.25 = 14.5\n"
              "Service hour    1.5 x 60 = 90\n"
              "Net:   142\nVAT 20%: 28.4\nTotal: 170.4\n");
}

// Two lumba_run processes hold channels on one file at once; each waits on INPUT until the
// script lets it go. What each holds is read from /proc/locks. The output files are emptied before
// each case: a run truncates its own only after the pipe it reads has opened, so a "ready" left by
// the previous case could otherwise end the wait before the new run has taken its locks.
TEST(FileChannelRuns, LocksBetweenTwoRuns)
{
    Site site;
    const std::string f = site.root() + "/shared.dat";
    lumba_test::write_bytes(f, std::string(40, 'x'));
    auto holder = [&](const std::string &name, const std::string &org, int option) {
        site.install_program(name,
                main_program(open_lfn(1, f, org, option, {reclen(10)}) + logprint(str("ready"), 1) +
                             stmt(callio_input, {}) + close_lfn(1)));
    };
    const std::string script = R"(
run=$1 file=$2 a=$3 b=$4 wait_ms=$5 d=$(dirname "$file")
ready() { i=0; until grep -q ready "$1" || [ $i -ge $((wait_ms / 20)) ]; do sleep 0.02; i=$((i+1)); done; }
: > "$d/o1"; : > "$d/o2"
mkfifo "$d/p1" "$d/p2"
"$run" -b "$a" 0 < "$d/p1" > "$d/o1" & pa=$!
exec 3> "$d/p1"
ready "$d/o1"
"$run" -b "$b" 0 < "$d/p2" > "$d/o2" & pb=$!
exec 4> "$d/p2"
ready "$d/o2"
ino=$(stat -c %i "$file")
grep ":$ino " /proc/locks | while read -r n posix adv type pid dev start end; do
  [ "$pid" = "$pa" ] && echo "A $type $start $end"
  [ "$pid" = "$pb" ] && echo "B $type $start $end"
done | sort
echo >&3; echo >&4; wait; rm -f "$d/p1" "$d/p2"
)";
    struct {
        std::string a_org;
        int a_opt;
        std::string b_org;
        int b_opt;
        std::string locks;
    } cases[] = {
        // Two readers share slot 0 with read locks.
        {"S", 0, "R", 0, "A READ 67108864 67108864\nB READ 67108864 67108864\n"},
        // Two shared writers: a share slot and a writer slot each.
        {"R", 3, "R", 3,
         "A WRITE 67108864 67108864\nA WRITE 67108896 67108896\nB WRITE 67108865 67108865\nB WRITE 67108897 67108897\n"},
        // A reader holds its slot; the exclusive opener gets nothing, and still opens.
        {"S", 0, "R", 6, "A READ 67108864 67108864\n"},
        // An exclusive holder keeps a later writer out of every slot.
        {"R", 6, "R", 3, "A WRITE 67108864 67108927\n"},
    };
    for (const auto &c : cases) {
        holder("hold_a", c.a_org, c.a_opt);
        holder("hold_b", c.b_org, c.b_opt);
        auto r = site.run({"sh", "-c", script, "sh", LUMBA_RUN, f, "hold_a", "hold_b",
                           lumba_test::scaled_ms_text(lumba_test::WAIT_MS)});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, c.locks) << c.a_org << c.a_opt << " " << c.b_org << c.b_opt << "\n" << r.err;
    }
}

TEST(FileChannelRuns, SystemErrorsGoToTheErrorLabel)
{
    Site site;
    const std::string missing = site.root() + "/no/such/file";
    auto program = [&](const Param &label) {
        return main_program(stmt(callio_open, {lfn(1), file(missing), org("S"), opt(0), label}) +
                            logprint(str("opened"), 1) + "exit\nbad:\n" + logprint(str("caught"), 1));
    };
    site.install_program("erl", program(erl("bad")));
    auto r = site.lumba({"-b", "erl", "0"});
    EXPECT_EQ(r.out, "caught\n") << r.err;
    EXPECT_NE(r.err.find("Cannot open \"" + missing + "\" : "), std::string::npos) << r.err;
    // With only an EOF label a system error finds no handler: the run ends there.
    site.install_program("eofonly", program(eof("bad")));
    r = site.lumba({"-b", "eofonly", "0"});
    EXPECT_EQ(r.out, "") << r.err;
    EXPECT_EQ(r.status, 1);
}

// The site's temp directory is shared (world-writable, sticky): a link there for a subdirectory,
// even one of root's own that the kernel's guard for sticky directories lets root follow, takes
// no channel's write elsewhere. The run gets the open error at its error label; a file of its
// own in temp is written as anywhere.
TEST(FileChannelRuns, ALinkInTheSharedTempDirectoryTakesNoWriteElsewhere)
{
    Site site;
    ASSERT_EQ(symlink("/usr/local/oska/apps", (site.oska() + "/temp/sub").c_str()), 0);
    const std::string through = "/usr/local/oska/temp/sub/out.txt";
    site.install_program(
        "planted", main_program(stmt(callio_open, {lfn(1), file(through), org("S"), opt(1), erl("bad")}) +
                                logprint(str("opened"), 1) + "exit\nbad:\n" + logprint(str("refused"), 1) +
                                open_lfn(2, "/usr/local/oska/temp/own.txt", "S", 1) +
                                stmt(callio_write, {lfn(2), carr(1)}, str("own"), 1) + close_lfn(2) +
                                logprint(str("own written"), 1)));
    auto r = site.lumba({"-b", "planted", "0"});
    EXPECT_EQ(r.out, "refused\nown written\n") << r.err;
    // The system error's report, mailed with the reason.
    EXPECT_NE(r.err.find("Cannot open \"" + through + "\" : "), std::string::npos) << r.err;
    const std::string mail = site.read_file("mail/0.txt");
    EXPECT_NE(mail.find("Cannot open \"" + through + "\" : "), std::string::npos) << mail;
    EXPECT_NE(mail.find("Too many levels of symbolic links"), std::string::npos) << mail;
    struct stat st;
    EXPECT_NE(lstat((site.oska() + "/apps/out.txt").c_str(), &st), 0) << "written through the link";
    EXPECT_EQ(site.read_file("oska/temp/own.txt"), "own\n\n");
}
