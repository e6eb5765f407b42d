// String variables (substrings, fixed, arrays, pointer fields), error traps and their scope,
// COMMON in shared memory and the program trace ring, run in-process.
#include <cerrno>
#include <fcntl.h>
#include <pwd.h>
#include <sys/mman.h>
#include <unistd.h>

#include "common_block.h"
#include "errors.h"
#include "exec_fixture.h"
#include "mem_mgt.h"
#include "program_text.h"
#include "trace_ring.h"

namespace {

using lumba_test::num;
using lumba_test::str;
using lumba_test::to_cell;

// Character area of main: S$ (10) at 0, F$ (fixed, 5) at 10, A$ (3 x 4) at 15, P$ (pointer) at 27.
const std::string string_symbols = "symtab\n__ROUTINE__ main 4\nS$ 10 0 0x14 0 1 -\nF$ 5 0 0x1014 10 2 -\n"
                                   "A$ 4 3 0x14 15 3 -\nP$ 8 0 0x80014 27 4 -\n__END_ROUTINE__\n.end\n";
std::string set_s(const std::string &t) { return str(t) + "storsd I:0 I:1 I:10 I:0 I:0 I:0 I:0 I:0\n"; }
std::string set_s_at(const std::string &k, const std::string &t)
{
    return str(t) + num(k) + "storsd I:0 I:1 I:10 I:0 I:1 I:0 I:0 I:0\n";
}
std::string set_f(const std::string &t) { return str(t) + "storsd I:10 I:1 I:5 I:0 I:0 I:1 I:0 I:0\n"; }
std::string set_a(const std::string &offset, const std::string &element, const std::string &t)
{
    return str(t) + num(offset) + num(element) + "storsd I:15 I:1 I:4 I:3 I:2 I:0 I:0 I:0\n";
}
std::string set_p(const std::string &t) { return str(t) + "storsd I:27 I:1 I:8 I:0 I:0 I:0 I:1 I:0\n"; }
std::string range(const std::string &n) { return num(n) + "srnge\n"; }
std::string s_value_at(const std::string &k) { return num(k) + "loadsvd I:0 I:1 I:10 I:0 I:1 I:0 I:0 I:0\n"; }
std::string s_reference_at(const std::string &k) { return num(k) + "loadsad I:0 I:1 I:10 I:0 I:1 I:0 I:0 I:0\n"; }
std::string p_value() { return "loadsvd I:27 I:1 I:8 I:0 I:0 I:1 I:0 I:0\n"; }
std::string store_s() { return "storsd I:0 I:1 I:10 I:0 I:0 I:0 I:0 I:0\n"; }

std::string strings_program(const std::string &body)
{
    return program(body + "exit\n", 0, 36, string_symbols);
}

} // namespace

TEST_F(ExecTest, StringStoresAndLoads)
{
    struct {
        std::string body;
        int at, size;          // bytes of the character area compared
        std::string bytes;     // expected, or ""
        const char *message;   // expected stop, or nullptr
    } cases[] = {
        {set_s("abc"), 0, 4, std::string("abc\0", 4), nullptr},
        {set_s("abc") + set_s_at("6", "xy"), 0, 10, "abc  xy   ", nullptr},
        {set_s("abcdef") + range("2") + set_s_at("2", "XY"), 0, 7, std::string("aXYdef\0", 7), nullptr},
        {set_s("abcdef") + range("2") + set_s_at("5", "XY"), 0, 7, std::string("abcdXY\0", 7), nullptr},
        {set_s("abcdefghijkl"), 0, 10, "abcdefghij", nullptr},
        // A full field gets no terminator: the next variable keeps its first byte.
        {set_f("ABCDE") + set_s("0123456789"), 0, 15, "0123456789ABCDE", nullptr},
        {set_f("ab"), 10, 5, "ab   ", nullptr},
        {set_s("hello") + s_value_at("2") + store_s(), 0, 5, std::string("ello\0", 5), nullptr},
        {set_s("hello") + s_reference_at("2") + store_s(), 0, 5, std::string("ello\0", 5), nullptr},
        {set_s("hello") + range("3") + s_value_at("2") + store_s(), 0, 4, std::string("ell\0", 4), nullptr},
        {set_a("1", "2", "wxyz"), 15, 12, std::string("\0\0\0\0wxyz\0\0\0\0", 12), nullptr},
        {set_a("1", "3", "ab"), 23, 4, "ab  ", nullptr},
        {set_s_at("12", "x"), 0, 0, "", "Attempt to set string past maximum length (Val 11) Var: S$"},
        {set_s_at("0", "x"), 0, 0, "", "Attempt to set string past maximum length (Val -1) Var: S$"},
        {range("0") + set_s("x"), 0, 0, "", "Attempt to store into zero-length sub-string"},
        {range("-1"), 0, 0, "", "Range reference of string must be >= 0 but it is -1 now"},
        {set_s("abc") + s_value_at("5"), 0, 0, "", "Attempt to reference string beyond current length (offset 4) Var: S$"},
        {set_s("abc") + range("4") + s_value_at("1"), 0, 0, "",
         "Attempt to reference string beyond current length (offset 0) Var: S$"},
        {set_a("1", "4", "x"), 0, 0, "", "Second subscript out of bounds. Val 4 past 3 Var: A$"},
        {set_a("1", "0", "x"), 0, 0, "", "Second subscript out of bounds. Val 0 past 3 Var: A$"},
        {num("2") + num("4") + "loadsvd I:15 I:1 I:4 I:3 I:2 I:0 I:0 I:0\n", 0, 0, "",
         "Second subscript out of bounds (Val 4 past 3) Var: A$"},
        {num("12") + "storsd I:0 I:1 I:10 I:0 I:0 I:0 I:0 I:0\n", 0, 3, std::string("12\0", 3), nullptr},
    };
    for (const auto &c : cases) {
        Outcome o = run(strings_program(c.body));
        if (c.message) {
            EXPECT_EQ(o.abort, c.message) << c.body;
        } else {
            ASSERT_EQ(o.abort, "") << c.body;
            EXPECT_EQ(std::string(context->routines[0].local_chars + c.at, static_cast<std::size_t>(c.size)), c.bytes)
                << c.body;
        }
        delete_all_applications();
    }
}

TEST_F(ExecTest, PointerStrings)
{
    // P$ = "hello"; S$ = P$; P$ = "" (frees the block); S$ keeps its copy.
    Outcome o = run(strings_program(set_p("hello") + p_value() + store_s() + set_p("bye") + set_p("")));
    ASSERT_EQ(o.abort, "");
    char *chars = context->routines[0].local_chars;
    EXPECT_EQ(std::string(chars, 6), std::string("hello\0", 6));
    EXPECT_EQ(std::string(chars + 27, 8), std::string(8, '\0'));
    // One node per variable, its block gone.
    PointerMem_t *list = context->current_application->app->pointer_memory;
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->variable, chars + 27);
    EXPECT_EQ(list->block, nullptr);
    EXPECT_EQ(list->next, nullptr);
    delete_all_applications();

    // A blank-filled field holds no text: it loads as "" and is never freed or followed.
    Interp_t *c = nullptr;
    ASSERT_EQ(load_text(strings_program(str("x") + store_s() + p_value() + store_s() + set_p("new")), &c), "");
    std::memset(c->routines[0].local_chars + 27, ' ', 8);
    o = execute(c);
    ASSERT_EQ(o.abort, "");
    chars = c->routines[0].local_chars;
    EXPECT_EQ(std::string(chars, 1), std::string("\0", 1));
    EXPECT_STREQ(BasicPtrtoText(chars + 27), "new");
    delete_all_applications();

    // A field whose eight bytes are no block of the program's is refused, never followed.
    ASSERT_EQ(load_text(strings_program(p_value() + store_s()), &c), "");
    std::memcpy(c->routines[0].local_chars + 27, "abcdefgh", 8);
    o = execute(c);
    EXPECT_EQ(o.abort.rfind("Pointer string: unknown text reference 0x6162636465666768 at ", 0), 0u) << o.abort;
}

TEST_F(ExecTest, ErrorTraps)
{
    // The test ABORT's trappable error (ABORT takes its one text).
    const std::string raise = "loadsc s:\"x\" p:1\nipcall I:0 I:1\n";
    struct {
        std::string text;
        const char *cell0;  // value the handler (or the program) left in cell 0
        int status;
        int traps;          // trappable errors raised
    } cases[] = {
        // Trapped: the stack is cut back to its level at tsterr and the handler runs.
        {program(".common I:2 I:0\n" + num("7") + "tsterr l:go\n" + num("1") + to_cell(0) +
                 "loadrc n:0 c:0\nadd\n" + to_cell(1) + "exit\ngo:\n" + num("5") + num("6") + raise + num("9") +
                 to_cell(0) + "exit\n"),
         "1", 0, 1},
        // A trap catches one error: the second is untrapped and ends the program with status 1.
        {program(".common I:2 I:0\ntsterr l:go\n" + num("1") + to_cell(0) + raise + num("3") + to_cell(0) +
                 "exit\ngo:\n" + raise + "exit\n"),
         "1", 1, 2},
        // reseterr disarms.
        {program(".common I:2 I:0\n" + num("2") + to_cell(0) + "tsterr l:go\n" + num("1") + to_cell(0) +
                 "exit\ngo:\nreseterr\n" + raise + "exit\n"),
         "2", 1, 1},
        // A routine's trap is not taken for an error in a routine it calls...
        {program(".common I:2 I:0\n" + num("2") + to_cell(0) + "tsterr l:go\n" + num("1") + to_cell(0) +
                 "exit\ngo:\npcall r:f I:0\nexit\n") +
             ".proc r:f I:0 I:0 I:0 I:0 I:0 I:0\n" + raise + "exit\n",
         "2", 1, 1},
        // ...nor is a trap set by a routine that has returned...
        {program(".common I:2 I:0\n" + num("2") + to_cell(0) + "pcall r:f I:0\n" + raise + "exit\n") +
             ".proc r:f I:0 I:0 I:0 I:0 I:0 I:0\ntsterr l:go\n" + num("1") + to_cell(0) + "exit\ngo:\nexit\n",
         "2", 1, 1},
        // ...but the caller's own trap is active again once the callee exits.
        {program(".common I:2 I:0\n" + num("2") + to_cell(0) + "tsterr l:go\n" + num("1") + to_cell(0) +
                 "exit\ngo:\npcall r:f I:0\n" + raise + "exit\n") +
             ".proc r:f I:0 I:0 I:0 I:0 I:0 I:0\nexit\n",
         "1", 0, 1},
    };
    for (const auto &c : cases) {
        lumba_test::trapped_errors().clear();
        Outcome o = run(c.text);
        EXPECT_EQ(o.abort, "") << c.text;
        EXPECT_EQ(o.status, c.status) << c.text;
        EXPECT_EQ(static_cast<int>(lumba_test::trapped_errors().size()), c.traps) << c.text;
        EXPECT_TRUE(same(cell(0), c.cell0)) << c.text << " gave " << text_of(cell(0));
        if (c.status == 1) {
            EXPECT_NE(o.err.find("test error 1"), std::string::npos) << o.err;
        }
        release_common_block();
        delete_all_applications();
    }
}

TEST_F(ExecTest, TrapInsideIntrinsicRestoresDepthAndName)
{
    Outcome o = run(program(".common I:2 I:0\ntsterr l:go\nexit\ngo:\nloadsc s:\"x\" p:1\nipcall I:0 I:1\nexit\n"));
    ASSERT_EQ(o.abort, "");
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(ERR_REG, TRAPPABLE_ERROR);
    EXPECT_EQ(depth, 0);  // main's exit brought it down from 1, not from 2
}

namespace {

std::string common_object_name()
{
    struct passwd *pw = getpwuid(getuid());
    return std::string("/oska_") + (pw ? pw->pw_name : "") + "_" + std::to_string(getpid());
}

} // namespace

TEST_F(ExecTest, CommonBlock)
{
    // A stale object of an earlier process with this id is not attached.
    const std::string name = common_object_name();
    int fd = shm_open(name.c_str(), O_RDWR | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, 4096), 0);
    void *stale = mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    std::memset(stale, 0xAB, 4096);
    munmap(stale, 4096);
    close(fd);

    const std::string symbols = "symtab\n__ROUTINE__ main 1\nCX 3 0 0x4012 22 1 -\n__END_ROUTINE__\n.end\n";
    Outcome o = run(program(".common I:4 I:3\n.common I:4 I:3\n.common I:1 I:0\nloadrvd I:22 I:0 I:0 I:0 I:0\n" +
                                to_cell(3) + "exit\n",
                            0, 0, symbols));
    ASSERT_EQ(o.abort, "");
    EXPECT_EQ(Common_size, 4 * 22 + 3);
    for (int i = 0; i < Common_size; ++i) ASSERT_EQ(static_cast<const char *>(Common_variables)[i], 0) << i;
    // COMMON symbols now hold absolute addresses.
    EXPECT_EQ(context->routines[0].R_variables->S_memloc, reinterpret_cast<Address>(Common_variables) + 22);

    // The block is removed when the run releases it.
    release_common_block();
    EXPECT_EQ(shm_open(name.c_str(), O_RDONLY, 0), -1);
    EXPECT_EQ(errno, ENOENT);
    delete_all_applications();

    o = run(program(".common I:4 I:3\n.common I:4 I:4\nexit\n"));
    EXPECT_EQ(o.abort, "Illegal attempt to extend COMMON");
    release_common_block();
    delete_all_applications();

    // Subscript messages name COMMON variables too.
    o = run(program(".common I:4 I:0\n" + num("4") + "loadrvd I:22 I:0 I:3 I:0 I:1\nexit\n", 0, 0, symbols));
    EXPECT_EQ(o.abort, "Subscript (val 4) out of bounds on Var: CX");
    release_common_block();
    delete_all_applications();
    o = run(program(num("1") + to_cell(0) + "exit\n"));
    EXPECT_EQ(o.abort, "COMMON variable used before COMMON is declared");
}

TEST_F(ExecTest, ProgramTraceRing)
{
    free_program_trace_ring();
    const std::string files = "loadedfiles\n__LOADED_FILES__ 2\nprog.src\n.incl\n.end\n";
    Outcome o = run(program("srcline I:5 I:0\nsrcline I:9 I:1\npcall r:f I:0\nexit\n", 0, 0, files) +
                    ".proc r:f I:0 I:0 I:0 I:0 I:0 I:0\nsrcline I:20 I:0\nexit\n");
    ASSERT_EQ(o.abort, "");
    std::vector<std::string> lines;
    ProgramTraceLines(lines);
    const std::vector<std::string> expected = {
        "T f  @ prog.src:20\tprog.src:20",
        "T f  @ .incl:9\tprog.src:5",  // routine entry: the file and line of the last srcline
        "T main  @ .incl:9\tprog.src:5",
        "T main  @ prog.src:5\tprog.src:5",
        "T main  @ prog.src:0\tprog.src:0",  // before any source line
    };
    EXPECT_EQ(lines, expected);
    delete_all_applications();
    lines.clear();
    ProgramTraceLines(lines);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0].rfind("  :delApp:  @ prog__A:", 0), 0u) << lines[0];
    EXPECT_EQ(lines[0].substr(lines[0].find('\t')), "\tprog.src:20");
    free_program_trace_ring();
}
