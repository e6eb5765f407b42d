// The crash dump written in-process in the middle of small programs: its layout section by section
// (call chain, value stack, gosub stack), its file mode, and the refusals of a file it cannot make.
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

#include "crash_dump.h"
#include "exec_fixture.h"
#include "planted.h"
#include "intrinsic_dispatch.h"
#include "intrinsics.h"
#include "hooks.h"
#include "program_text.h"

namespace fs = std::filesystem;

namespace {

using lumba_test::num;
using lumba_test::to_cell;
std::string cell_ref(int i) { return "loadrad I:" + std::to_string(22 * i) + " I:0 I:0 I:0 I:0\n"; }
// The statement that takes the dump where the program stands (see DumpHere).
std::string dump_here(int nargs) { return "ipcall I:" + std::to_string(in_ITIMER_LAP) + " I:" + std::to_string(nargs) + "\n"; }

// X = 5 in COMMON, then three entries: a number, a reference to X and a text.
const std::string pushes = num("5") + to_cell(0) + num("1") + cell_ref(0) + "loadsc s:\"boom\" p:0\n";

// The report lines a fatal error would have left, then the dump the core has been handed.
void take_dump_now(int, int)
{
    error_vector_clear();
    error_vector_add("the title");
    error_vector_add("the message");
    run_hook(CoreHook::take_dump);
}

class CrashDump : public ExecTest {
protected:
    void SetUp() override
    {
        ExecTest::SetUp();
        saved_handler = register_statement_intrinsic(in_ITIMER_LAP, take_dump_now);
        saved_ppath = PPATH;
        site = dir + "/site";
        fs::create_directories(site + "/crash");
        PPATH = site.data();
        Dump_available = 1;
        dump_path = site + "/crash/" + std::to_string(getpid());
    }
    void TearDown() override
    {
        register_statement_intrinsic(in_ITIMER_LAP, saved_handler);
        PPATH = saved_ppath;
        error_vector_clear();
        fs::remove_all(site);
        ExecTest::TearDown();
    }

    std::string dump() const
    {
        std::ifstream in(dump_path);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    // The lines of one section: those after its title up to the next title.
    std::vector<std::string> section(const std::string &title) const
    {
        std::istringstream in(dump());
        std::vector<std::string> lines;
        bool inside = false;
        for (std::string line; std::getline(in, line);) {
            if (inside && (line.front() == '<' || line == "All application variable dump")) break;
            if (inside) lines.push_back(line);
            if (line == title) inside = true;
        }
        return lines;
    }

    StatementIntrinsic saved_handler = nullptr;
    char *saved_ppath = nullptr;
    std::string site, dump_path;
};

std::string prog(const std::string &main_body, const std::string &more = "")
{
    return ".proc r:main I:0 I:0 I:4 I:0 I:0 I:0\n.common I:4 I:0\n" + main_body + "exit\n" + more;
}

} // namespace

TEST_F(CrashDump, MainProgramLayout)
{
    Outcome o = run(prog(pushes + dump_here(3)));
    ASSERT_EQ(o.abort, "");
    std::istringstream in(dump());
    std::vector<std::string> head;
    for (std::string line; head.size() < 13 && std::getline(in, line);) head.push_back(line);
    ASSERT_EQ(head.size(), 13u);
    EXPECT_EQ(head[0], "OSKA dump");
    EXPECT_EQ(head[1], std::to_string(getpid()));
    EXPECT_EQ(head[2], "abcdefghijklmnopqrstuvwxyz");
    EXPECT_EQ(head[3].substr(0, 5), "Date\t");
    EXPECT_EQ(head[3].size(), 5u + 24u);  // ctime's fixed form
    EXPECT_EQ(head[4], std::string("User\t") + getpwuid(getuid())->pw_name);
    char host[257] = {};
    gethostname(host, sizeof host - 1);
    EXPECT_EQ(head[5], std::string("Host\t") + host);
    EXPECT_EQ(head[6], "PPATH\t" + site);
    EXPECT_EQ(head[7], std::string("DPATH\t") + (DPATH ? DPATH : "<undef>"));
    EXPECT_EQ(head[8], std::string("Program\t") + context->program_name);
    EXPECT_EQ(head[9], std::string("Program_path\t") + Loaded_program_path);
    // The header "V150611 70 ...", read as the loader reads it: the seven characters,
    // then the revision number.
    ASSERT_EQ(std::string(Loaded_program_header, 11), "V150611 70 ");
    EXPECT_EQ(head[10], "Issue\tV150611");
    EXPECT_EQ(head[11], "Revision\t70");
    EXPECT_EQ(head[12], "<Error>");

    EXPECT_EQ(section("<Error>"), (std::vector<std::string>{"the title", "the message"}));
    // An intrinsic called from the main program: one line.
    const std::vector<std::string> trace = section("<Traceback>");
    ASSERT_EQ(trace.size(), 1u);
    EXPECT_EQ(trace[0].substr(0, 11), "ITIMER_LAP\t");
    EXPECT_EQ(trace[0].size(), 11u + 6u);
    EXPECT_EQ(section("<Stack>"),
              (std::vector<std::string>{"STK[  0]: real 1", "STK[  1]: real (5)", "STK[  2]: str  \"boom\""}));
    EXPECT_EQ(section("<Gosub>"), std::vector<std::string>{});
    EXPECT_NE(dump().find("All application variable dump\n"), std::string::npos);
    EXPECT_EQ(Dump_available, 0);  // never offered twice

    struct stat st;
    ASSERT_EQ(stat(dump_path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
}

TEST_F(CrashDump, RoutinesAndGosubsAreListed)
{
    // main calls f, which enters a gosub and takes the dump there.
    const std::string f = ".proc r:f I:0 I:0 I:2 I:0 I:0 I:0\ngosub l:inner\nexit\ninner:\n" + num("7") + dump_here(1) +
                          "return\n";
    Outcome o = run(prog("pcall r:f I:0\n", f));
    ASSERT_EQ(o.abort, "");
    const std::vector<std::string> trace = section("<Traceback>");
    ASSERT_EQ(trace.size(), 2u) << dump();
    EXPECT_EQ(trace[0].substr(0, 11), "ITIMER_LAP\t");
    EXPECT_EQ(trace[1].substr(0, 2), "f\t");
    const std::vector<std::string> gosubs = section("<Gosub>");
    ASSERT_EQ(gosubs.size(), 1u) << dump();
    EXPECT_NE(std::stoul(gosubs[0], nullptr, 16), 0u);
    // The call's marker lies below f's own entry.
    const std::vector<std::string> stack = section("<Stack>");
    ASSERT_EQ(stack.size(), 2u) << dump();
    EXPECT_EQ(stack[0], "STK[  0]: ");
    EXPECT_EQ(stack[1], "STK[  1]: real 7");
}

TEST_F(CrashDump, FileThatCannotBeMadeEndsTheRunOnce)
{
    // A link planted under the dump's name is not followed.
    const std::string target = site + "/elsewhere";
    std::ofstream(target) << "untouched";
    fs::create_symlink(target, dump_path);
    // No owned text on the stack: the stop leaves the run where it stands.
    const std::string numbers = num("5") + to_cell(0) + num("1") + cell_ref(0);
    Outcome o = run(prog(numbers + dump_here(2)));
    EXPECT_EQ(o.abort, "Cannot open dump file - " + dump_path);
    EXPECT_EQ(Dump_available, 0);
    std::ifstream in(target);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "untouched");
    delete_all_applications();

    fs::remove(dump_path);
    fs::remove(site + "/crash");
    Dump_available = 1;
    o = run(prog(numbers + dump_here(2)));
    EXPECT_EQ(o.abort, "Cannot open dump file - " + dump_path);
    EXPECT_EQ(Dump_available, 0);
}

TEST_F(CrashDump, AnotherUsersFileInASharedCrashDirectoryIsLeftAlone)
{
    // A crash directory anyone may write to, with a file of another user's under the dump's name.
    fs::remove(site + "/crash");
    lumba_test::make_their_shared_directory(site + "/crash");
    lumba_test::plant_file(dump_path, "theirs");
    const std::string numbers = num("5") + to_cell(0) + num("1") + cell_ref(0);
    Outcome o = run(prog(numbers + dump_here(2)));
    EXPECT_EQ(o.abort, "Cannot open dump file - " + dump_path);
    EXPECT_EQ(dump(), "theirs");
    delete_all_applications();
    // A dump of the run's own is written there.
    fs::remove(dump_path);
    Dump_available = 1;
    o = run(prog(numbers + dump_here(2)));
    EXPECT_NE(dump().find("PPATH\t" + site), std::string::npos) << dump();
}

TEST(CrashDumpHook, TheRegisteredDumpIsTheWriter)
{
    const HookFunction registered = register_hook(CoreHook::take_dump, write_crash_dump);
    EXPECT_EQ(registered, write_crash_dump);
}

TEST(StackEntryDetail, EachKind)
{
    dec_t five{};
    NumericCvASC("5", 1, &five);
    char text[] = "hello";
    struct {
        Stack entry;
        std::string suffix;  // after "0x%8.8lX STK[%3d]: "
    } cases[] = {
        {Stack{real, {.C_N = &five}, {}, stk_ref, {0, 0}, 0, {}}, "real (5) malloced [0, 0]\n"},
        {Stack{string, {.C_S = text}, {}, 0, {5, 0}, 5, {}}, "str  \"hello\" [0x" + [&] {
             char a[32];
             std::snprintf(a, sizeof a, "%lX", reinterpret_cast<unsigned long>(text));
             return std::string(a);
         }() + "] len 5 in [5,0]\n"},
        {Stack{real_array, {.C_N = &five}, {}, stk_ref, {3, 4}, 0, {}}, ""},
        {Stack{intrinsic, {.C_A = in_ABS}, {}, 0, {}, 0, {}}, "IABS\n"},
        {Stack{label, {.C_A = 8}, {}, 0, {}, 0, {}}, "L10\n"},
        {Stack{marker, {.C_A = 0x1F}, {}, 0, {2, 1}, 0, {7, 0}}, "Marker: pc 1F, nargs 2, entry_sp 7, ra 1\n"},
        {Stack{bstruct, {.C_A = 0xABC}, {}, stk_ref, {}, 0, {0x10, 0}}, "struct @ 0xABC proc 0x10\n"},
    };
    for (auto &c : cases) {
        char *buffer = nullptr;
        std::size_t size = 0;
        std::FILE *out = open_memstream(&buffer, &size);
        dump_stack_entry(out, 3, c.entry);
        std::fclose(out);
        char head[64];
        std::snprintf(head, sizeof head, "0x%8.8lX STK[  3]: ", reinterpret_cast<unsigned long>(&c.entry));
        std::string expected = head + c.suffix;
        if (c.entry.s_t == real_array) {
            char a[64];
            std::snprintf(a, sizeof a, "R%6lx[3,4]\n", reinterpret_cast<unsigned long>(&five));
            expected = head + std::string(a);
        }
        EXPECT_EQ(std::string(buffer, size), expected);
        std::free(buffer);
    }
    // A value kept in the entry itself.
    Stack own{};
    own.s_t = real;
    own.num = five;
    own.s_c.C_N = &own.num;
    char *buffer = nullptr;
    std::size_t size = 0;
    std::FILE *out = open_memstream(&buffer, &size);
    dump_stack_entry(out, 0, own);
    std::fclose(out);
    EXPECT_NE(std::string(buffer, size).find("STK[  0]: real 5 stk->num [0, 0]\n"), std::string::npos);
    std::free(buffer);
}
