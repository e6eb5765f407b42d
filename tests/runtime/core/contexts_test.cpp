// Interpreter contexts in-process: EXECUTE of child programs, CHAIN into another program, and the
// callback runner driven as the forms engine drives it (directly from C++, and from inside a
// running program through a test intrinsic standing in for a GUI main loop).
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include <glib/gstdio.h>

#include "common_block.h"
#include "context_globals.h"
#include "contexts.h"
#include "exec_fixture.h"
#include "heap.h"
#include "intrinsic_dispatch.h"
#include "intrinsics.h"
#include "program_text.h"
#include "softkeys.h"
#include "test_intrinsics.h"

// Test intrinsics in place of the run-time's: ABORT raises the trappable error; ICCALL_FUN
// stands for a GUI main loop that delivers one event: its first argument names the routine to
// call back, the others are copied as the routine's arguments, as the forms engine copies an
// attached routine's parameters.
namespace {
int deepest_callback;
Stack last_result;

void test_abort(int, int) { Xerror(TRAPPABLE_ERROR, "test error"); }

// What IMLOG_PUSH_STATS saw of the running context: ended children are freed, so a test looks at
// a child while it runs.
struct ChildView {
    Interp_t *context;
    std::string origin, program, argv;
    Interp_t *previous;
    KeySet_t *keyset;
    int argc;
    std::uint32_t dims[2], length;
    Application_t *application;
};
std::vector<ChildView> child_views;

void view_child(int, int)
{
    const Interp_t *c = Minterp;
    const std::size_t argv_size = std::size_t{c->ARGV.s_dims[0]} * c->ARGV.s_dims[1];
    child_views.push_back({Minterp, c->origin_name, c->program_name,
                           c->ARGV.s_c.C_S ? std::string(c->ARGV.s_c.C_S, argv_size) : std::string("(none)"),
                           c->previous, c->keyset, c->ARGC, {c->ARGV.s_dims[0], c->ARGV.s_dims[1]}, c->ARGV.length,
                           c->current_application});
}

void test_main_loop(int nargs, int last)
{
    if (nargs < 1) throw lumba_test::AbortError("unexpected statement intrinsic");
    const Stack &n = Stk[last - nargs + 1];
    const std::string name(n.s_c.C_S, n.length);
    std::vector<Stack> args(Stk + last - nargs + 2, Stk + last + 1);
    deepest_callback = std::max(deepest_callback, ib_callback_depth + 1);
    invoke_basic_callback_routine(name.c_str(), args.data(), nargs - 1, current_application, Minterp);
    last_result = fn_value;
}

// IMLOG_POP_STATS(name) stands for the destroy handler of a window the named program made: it
// unloads that application by name, and notes the applications left.
std::vector<std::string> left_after_unloads;

void unload(int nargs, int last)
{
    if (nargs != 1) throw lumba_test::AbortError("unexpected statement intrinsic");
    const Stack &n = Stk[last];
    DelApplication(std::string(n.s_c.C_S, n.length).c_str(), nullptr);
    std::string names;
    for (Application_t *ap = applications; ap; ap = ap->next) names += std::string(names.empty() ? "" : " ") + ap->name;
    left_after_unloads.push_back(names);
}

const auto *test_intrinsics =
    lumba_test::add_test_intrinsics({.statement = {{in_ABORT, test_abort},
                                                   {in_ICCALL_FUN, test_main_loop},
                                                   {in_IMLOG_PUSH_STATS, view_child},
                                                   {in_IMLOG_POP_STATS, unload}}});
} // namespace

namespace {

using lumba_test::dec;
using lumba_test::from_cell;
using lumba_test::num;
using lumba_test::str;
using lumba_test::to_cell;
std::string add_to_cell(int i, const std::string &v) { return from_cell(i) + num(v) + "add\n" + to_cell(i); }
constexpr const char *COMMON = ".common I:8 I:0\n";

std::string routine(const std::string &name, int params = 0, const char *kind = ".proc", int chars = 0)
{
    return std::string(kind) + " r:" + name + " I:0 I:0 I:2 I:" + std::to_string(chars) + " I:0 I:" +
           std::to_string(params) + "\n";
}

// Symbols of a routine's parameters: 'n' numeric, 's' string, in order.
std::string parameters(const std::string &name, const std::string &kinds)
{
    std::string t = "symtab\n__ROUTINE__ " + name + " " + std::to_string(kinds.size()) + "\n";
    for (std::size_t i = 0; i < kinds.size(); ++i)
        t += "P" + std::to_string(i) + " 0 0 " + (kinds[i] == 's' ? "0x8014" : "0x8012") + " 0 " +
             std::to_string(i + 1) + " -\n";
    return t + "__END_ROUTINE__\n.end\n";
}

std::string execute_call(const std::string &name, const std::string &unit)
{
    return str(name) + num(unit) + "ifcallr I:" + std::to_string(in_EXECUTE) + " I:2\n";
}
std::string chain(const std::string &name, bool shared = false)
{
    return str(name, shared) + "ipcall I:" + std::to_string(in_CHAIN) + " I:1\n";
}
// The test main loop calling back routine name with the pushes as its arguments.
std::string event(const std::string &name, const std::string &pushes = "", int count = 0)
{
    return str(name) + pushes + "ipcall I:" + std::to_string(in_ICCALL_FUN) + " I:" + std::to_string(count + 1) + "\n";
}
const std::string test_error = str("x") + "ipcall I:" + std::to_string(in_ABORT) + " I:1\n";
std::string unload_call(const std::string &name)
{
    return str(name) + "ipcall I:" + std::to_string(in_IMLOG_POP_STATS) + " I:1\n";
}
// Reached only when control flow goes wrong: a fatal stop.
constexpr const char *UNREACHABLE = "return\n";

// A child that counts its runs in cell 1 and shows its context to the test.
const std::string counting_child = routine("main") + COMMON + add_to_cell(1, "1") + "ipcall I:" +
                                   std::to_string(in_IMLOG_PUSH_STATS) + " I:0\nexit\n";

} // namespace

class ContextTest : public ExecTest {
protected:
    void SetUp() override
    {
        ExecTest::SetUp();
        apps = dir;
        apps_PATH = apps.data();
        for (const char *unit : {"/unit0", "/unit1"}) g_mkdir((dir + unit).c_str(), 0700);
        deepest_callback = 0;
        ib_callback_depth = 0;
        child_views.clear();
        left_after_unloads.clear();
    }

    void TearDown() override
    {
        for (const auto &f : files) g_unlink(f.c_str());
        for (const char *unit : {"/unit0", "/unit1"}) g_rmdir((dir + unit).c_str());
        ExecTest::TearDown();
        apps_PATH = nullptr;
    }

    // Assembles text as the program at relative (to the applications directory).
    void install(const std::string &relative, const std::string &text) { assemble(text, relative); }

    static Interp_t *context_of(const char *application)
    {
        Application_t *ap = FindApplication(application);
        return ap && ap->app ? ap->app->interp : nullptr;
    }

    std::string apps;
};

TEST_F(ContextTest, ExecuteRunsAChildAndReturnsZero)
{
    install("unit0/hello", counting_child);
    Outcome o = run(routine("main") + COMMON + num("5") + to_cell(0) + num("5") + to_cell(2) + execute_call("hello", "0") +
                    to_cell(0) + execute_call("hello", "0") + to_cell(2) + add_to_cell(3, "1") + "exit\n");
    ASSERT_EQ(o.abort, "") << o.err;
    EXPECT_EQ(o.status, 0);
    EXPECT_TRUE(same(cell(0), "0")) << text_of(cell(0));
    EXPECT_TRUE(same(cell(2), "0")) << text_of(cell(2));
    EXPECT_TRUE(same(cell(1), "2")) << text_of(cell(1));  // the child ran twice
    EXPECT_TRUE(same(cell(3), "1")) << text_of(cell(3));  // the parent went on once
    // Each run is an application of its own, in a context of its own made by "execute"; each
    // goes when it ends, so the second run takes the first one's name again.
    ASSERT_EQ(child_views.size(), 2u);
    for (const ChildView &child : child_views) {
        EXPECT_NE(child.context, context);
        EXPECT_EQ(child.origin, "execute");
        EXPECT_EQ(child.program, "hello__A");
        EXPECT_EQ(child.previous, context);
        EXPECT_EQ(child.keyset, default_keyset());
        EXPECT_EQ(child.argc, 0);
        EXPECT_EQ(child.argv, "(none)");
    }
    EXPECT_EQ(FindApplication("hello__A"), nullptr);
    ASSERT_NE(applications, nullptr);
    EXPECT_EQ(applications->next, nullptr);  // the parent's alone
    EXPECT_EQ(Minterp, nullptr);
    EXPECT_EQ(depth, 0);
}

TEST_F(ContextTest, ChildEndingWithAnUntrappedErrorGivesMinusOne)
{
    install("unit0/bad", routine("main") + COMMON + test_error + UNREACHABLE);
    install("unit0/hello", counting_child);
    // The parent goes on after each call, and a routine it calls afterwards finds its frame.
    Outcome o = run(routine("main") + COMMON + execute_call("bad", "0") + to_cell(0) + execute_call("hello", "0") + to_cell(2) +
                    num("4") + "fcallr r:twice I:1\n" + to_cell(3) + "exit\n" + routine("twice", 1, ".nfunc") +
                    "loadrvi I:0 I:0 I:1 I:0 I:0 I:0\n" + num("2") + "mul\nexitv\n" + parameters("twice", "n"));
    ASSERT_EQ(o.abort, "") << o.err;
    EXPECT_TRUE(same(cell(0), "-1")) << text_of(cell(0));
    EXPECT_TRUE(same(cell(2), "0")) << text_of(cell(2));
    EXPECT_TRUE(same(cell(3), "8")) << text_of(cell(3));
    EXPECT_EQ(o.status, 0);  // the parent's own status
    EXPECT_NE(o.err.find("test error"), std::string::npos) << o.err;
    // Both children went when they ended, the failed one too.
    EXPECT_NE(o.err.find("DELETING application bad__A"), std::string::npos) << o.err;
    EXPECT_EQ(FindApplication("bad__A"), nullptr);
    EXPECT_EQ(FindApplication("hello__A"), nullptr);
}

TEST_F(ContextTest, ExecuteWithArgumentCountAndArguments)
{
    const std::string kid = assemble(counting_child, "kid");
    // A$ (two elements of five characters) = "ab", "cde"; EXECUTE kid by its path (unit -1).
    auto parent = [&](const std::string &argc) {
        return routine("main", 0, ".proc", 12) + COMMON + str("ab") + num("1") + num("1") +
               "storsd I:0 I:1 I:5 I:2 I:2 I:0 I:0 I:0\n" + str("cde") + num("1") + num("2") +
               "storsd I:0 I:1 I:5 I:2 I:2 I:0 I:0 I:0\n" + str(kid) + num("-1") + num(argc) +
               "loadsad I:0 I:1 I:5 I:2 I:0 I:0 I:0 I:0\nifcallr I:" + std::to_string(in_EXECUTE) + " I:4\n" +
               to_cell(0) + "exit\n";
    };
    struct {
        const char *argc;
        const char *message;
    } cases[] = {
        {"2", ""}, {"0", ""}, {"3", "EXECUTE: ARGC/ARGV conflict"}, {"-1", "EXECUTE: ARGC/ARGV conflict"},
    };
    for (const auto &c : cases) {
        Outcome o = run(parent(c.argc));
        ASSERT_EQ(o.abort, c.message) << c.argc;
        if (*c.message) {
            delete_all_applications();
            continue;
        }
        EXPECT_TRUE(same(cell(0), "0")) << text_of(cell(0));
        ASSERT_EQ(child_views.size(), 1u);
        const ChildView &child = child_views.back();
        EXPECT_EQ(child.argc, std::atoi(c.argc));
        EXPECT_EQ(child.dims[0], 5u);
        EXPECT_EQ(child.dims[1], 2u);
        EXPECT_EQ(child.length, 10u);
        EXPECT_EQ(child.argv, "ab   cde  ");  // the child's own copy, freed with it
        EXPECT_EQ(FindApplication("kid__A"), nullptr);
        child_views.clear();
        delete_all_applications();
    }
}

TEST_F(ContextTest, ArgumentsAndPathsThatAreRefused)
{
    const std::string long_name(600, 'x');
    struct {
        std::string body;
        std::string message;  // the start of the fatal message
    } cases[] = {
        {str("hello") + num("0") + num("0") + "ifcallr I:" + std::to_string(in_EXECUTE) + " I:3\n",
         "EXECUTE: wrong number of arguments (3)"},
        {num("1") + num("0") + "ifcallr I:" + std::to_string(in_EXECUTE) + " I:2\n", "EXECUTE: program name expected"},
        {execute_call(long_name, "0"), "EXECUTE: program path longer than 511 characters: " + dir + "/unit0/xxx"},
        {execute_call(long_name, "-1"), "EXECUTE: program path longer than 511 characters: xxx"},
        {execute_call("nosuch", "0"), "Cannot load " + dir + "/unit0/nosuch: No such file or directory"},
        {str("a") + str("b") + num("0") + "ipcall I:" + std::to_string(in_CHAIN) + " I:3\n",
         "CHAIN: wrong number of arguments (3)"},
        {chain(long_name, true), "CHAIN: program path longer than 511 characters: " + dir + "/unit0/xxx"},
        {chain("nosuch", true), "Cannot load " + dir + "/unit0/nosuch: No such file or directory"},
    };
    for (const auto &c : cases) {
        Outcome o = run(routine("main") + COMMON + c.body + "exit\n");
        EXPECT_EQ(o.abort.substr(0, c.message.size()), c.message) << o.abort;
        // A refused or failed load leaves no application behind (nor a context: the sanitizer
        // build checks).
        ASSERT_NE(applications, nullptr);
        EXPECT_EQ(applications->next, nullptr);
        delete_all_applications();
    }
}

TEST_F(ContextTest, ChainRunsTheNamedProgramInTheSameContext)
{
    install("unit0/b", routine("main") + COMMON + num("2") + to_cell(1) + "exit\n");
    // The name is an owned text with trailing blanks; nothing after CHAIN runs.
    Outcome o = run(routine("main") + COMMON + num("1") + to_cell(0) + chain("b   ") + UNREACHABLE);
    ASSERT_EQ(o.abort, "") << o.err;
    EXPECT_EQ(o.status, 0);
    EXPECT_TRUE(same(cell(0), "1"));
    EXPECT_TRUE(same(cell(1), "2")) << text_of(cell(1));
    // The context now belongs to b alone: deleting both applications frees it once.
    EXPECT_EQ(context_of("prog__A"), nullptr);
    EXPECT_EQ(context_of("b__A"), context);
    EXPECT_STREQ(context->program_name, "b__A");
    EXPECT_STREQ(MANUAL_NAME, "001");
    EXPECT_STREQ(MANUAL_SECTION, "b");
    EXPECT_EQ(depth, 0);
}

// A program that chains to itself over and over runs in the memory of one program: each one
// replaced goes with its application, and the names begin again once the suffixes run out.
TEST_F(ContextTest, SelfChainsRunInFlatMemory)
{
    auto self_chaining = [](int times) {
        return routine("main") + COMMON + add_to_cell(0, "1") + from_cell(0) + num(std::to_string(times)) +
               "lt\njumpz l:done\n" + chain("self", true) + "done:\nexit\n";
    };
    auto in_use = [] { return static_cast<long>(lumba_test::heap_in_use()); };
    // A first run goes past the last suffix, so that the trace ring has kept a copy of every
    // application name there is (their number is bounded); from then on nothing may grow.
    install("unit0/self", self_chaining(20000));
    Outcome o = run(routine("main") + COMMON + chain("self", true) + "exit\n");
    ASSERT_EQ(o.abort, "") << o.err.substr(0, 2000);
    ASSERT_TRUE(same(cell(0), "20000")) << text_of(cell(0));
    // What the runs wrote on standard error (a line a program replaced) is the test's, not the
    // run-time's: it is let go before each count.
    std::string().swap(o.err);
    const long after_the_first = in_use();
    release_common_block();
    delete_all_applications();

    // Once more through every suffix: four bytes kept per chain would pass the bound (a name kept
    // is more than that).
    install("unit0/self", self_chaining(20000));
    o = run(routine("main") + COMMON + chain("self", true) + "exit\n");
    ASSERT_EQ(o.abort, "") << o.err.substr(0, 2000);
    EXPECT_TRUE(same(cell(0), "20000")) << text_of(cell(0));
    ASSERT_NE(applications, nullptr);
    EXPECT_EQ(applications->next, nullptr);  // only the last program is left
    EXPECT_EQ(std::string(applications->name).rfind("self__", 0), 0u) << applications->name;
    std::string().swap(o.err);
    EXPECT_LT(in_use() - after_the_first, 64 * 1024);
}

TEST_F(ContextTest, ChainWithAUnitFromInsideARoutine)
{
    install("unit1/c", routine("main") + COMMON + num("3") + to_cell(1) + "gosub l:g\nexit\ng:\nreturn\n");
    // main calls f with an owned text; f arms a trap, opens a gosub and chains: the stack with
    // the owned texts, the call depth, the gosubs and the traps all go with the old program.
    Outcome o = run(routine("main") + COMMON + str("arg", false) + "pcall r:f I:1\n" + UNREACHABLE +
                    routine("f", 1) + "tsterr l:go\n" + UNREACHABLE + "go:\ngosub l:sub\n" + UNREACHABLE +
                    "sub:\n" + str("txt", false) + str("c", false) + num("1") + "ipcall I:" +
                    std::to_string(in_CHAIN) + " I:2\n" + UNREACHABLE + parameters("f", "s"));
    ASSERT_EQ(o.abort, "") << o.err;
    EXPECT_TRUE(same(cell(1), "3")) << text_of(cell(1));
    EXPECT_EQ(context_of("c__A"), context);
    EXPECT_STREQ(MANUAL_NAME, "011");
    EXPECT_EQ(depth, 0);
    EXPECT_EQ(gosub_ptr, 0);
    for (const TrapVector &t : context->TRAP_VECTORS) EXPECT_EQ(t.handler, nullptr);
}

TEST_F(ContextTest, ChainToADamagedProgramKeepsTheOldOne)
{
    install("unit0/bad", ".proc r:main I:0 I:0 I:2 I:0 I:0 I:0\n.bytes 0x1E 0x78 0x0A\nend\n");
    Outcome o = run(routine("main") + COMMON + chain("bad", true) + "exit\n");
    EXPECT_EQ(o.abort, "Binary corrupted: bad operand type - 0x78 (x)");
    // The half-loaded application does not hold the context; the old one still does, unchanged.
    EXPECT_EQ(context_of("bad__A"), nullptr);
    EXPECT_EQ(context_of("prog__A"), context);
    EXPECT_STREQ(context->program_name, "prog__A");
    EXPECT_EQ(context->current_application, FindApplication("prog__A"));
    EXPECT_EQ(context->routines, FindApplication("prog__A")->app->routines);
}

// ---- The callback runner --------------------------------------------------------------------

namespace {

// Routines a GUI would call back: add(a, b) = a + b; greet(s$) = "hi " + s$; set(x) stores 42
// into x and leaves by exit; name(s$) stores "Zed" into s$; twice(x) calls add(x, x).
const std::string callbacks =
    routine("main") + COMMON + "exit\n" +
    routine("add", 2, ".nfunc") + "loadrvi I:0 I:0 I:1 I:0 I:0 I:0\nloadrvi I:1 I:0 I:1 I:0 I:0 I:0\nadd\nexitv\n" +
    parameters("add", "nn") +
    routine("greet", 1, ".sfunc") + str("hi ") + "loadsvi I:0 I:0 I:1 I:0 I:0 I:0\nscat I:2\nexitv\n" +
    parameters("greet", "s") +
    routine("set", 1) + num("42") + "storri I:0 I:0 I:1 I:0 I:0 I:0\nexit\n" + parameters("set", "n") +
    routine("name", 1) + str("Zed") + "storsi I:0 I:0 I:1 I:0 I:0 I:0 I:0 I:0\nexit\n" + parameters("name", "s") +
    routine("twice", 1, ".nfunc") + "loadrvi I:0 I:0 I:1 I:0 I:0 I:0\nloadrvi I:0 I:0 I:1 I:0 I:0 I:0\n" +
    "fcallr r:add I:2\nexitv\n" + parameters("twice", "n");

Stack number_entry(dec_t *value)
{
    Stack e{};
    e.s_t = real;
    e.s_c.C_N = value;
    e.flags = stk_ref;
    return e;
}


// The state a callback must leave as it found it.
struct Snapshot {
    Interp_t *minterp;
    Stack *stk;
    int sp, depth, cur_routine, gosub_ptr, new_routine, argcount, exit_stat, line, yylineno;
    const char *rname;
    Application_t *application;
    Routine *routines;
    TrapVector *error_trap;
    std::string exit_string;

    static Snapshot take()
    {
        return {::Minterp, ::Stk, ::sp, ::depth, ::cur_routine, ::gosub_ptr, ::new_routine, ::argcount, ::EXIT_STAT,
                ::src_line_number, ::yylineno, ::Rname, ::current_application, ::routines, ::ERROR_TRAP,
                ::EXIT_STRING};
    }
    void expect_same() const
    {
        Snapshot now = take();
        EXPECT_EQ(now.minterp, minterp);
        EXPECT_EQ(now.stk, stk);
        EXPECT_EQ(now.sp, sp);
        EXPECT_EQ(now.depth, depth);
        EXPECT_EQ(now.cur_routine, cur_routine);
        EXPECT_EQ(now.gosub_ptr, gosub_ptr);
        EXPECT_EQ(now.new_routine, new_routine);
        EXPECT_EQ(now.argcount, argcount);
        EXPECT_EQ(now.exit_stat, exit_stat);
        EXPECT_EQ(now.exit_string, exit_string);
        EXPECT_EQ(now.line, line);
        EXPECT_EQ(now.yylineno, yylineno);
        EXPECT_EQ(now.rname, rname);
        EXPECT_EQ(now.application, application);
        EXPECT_EQ(now.routines, routines);
        EXPECT_EQ(now.error_trap, error_trap);
        EXPECT_EQ(ib_callback_depth, 0);
    }
};

} // namespace

class CallbackTest : public ContextTest {
protected:
    // Loads the callback routines and makes their context current as a running program's, with
    // an interrupted run's state around: entries on the stack, a depth, gosubs, a line, an exit
    // status and text.
    void SetUp() override
    {
        ContextTest::SetUp();
        ASSERT_EQ(load_text(callbacks, &context), "");
        push_interpreter(context, nullptr, "");
        ap = current_application;
        Stk[0] = number_entry(&outer);
        Stk[1] = number_entry(&outer);
        sp = 1;
        depth = 3;
        gosub_ptr = 2;
        src_line_number = 77;
        yylineno = 12345;
        EXIT_STAT = 5;
        std::strcpy(EXIT_STRING, "before");
        new_routine = -1;
        argcount = 7;
    }

    void TearDown() override
    {
        Minterp = nullptr;
        ContextTest::TearDown();
    }

    std::string call(const char *name, std::vector<Stack> args)
    {
        return lumba_test::abort_text([&] {
            invoke_basic_callback_routine(name, args.data(), static_cast<int>(args.size()), ap, context);
        });
    }

    Application_t *ap = nullptr;
    dec_t outer{};
};

TEST_F(CallbackTest, FunctionResultInFnValueAndStateUnchanged)
{
    dec_t two = dec("2"), three = dec("3");
    const Snapshot before = Snapshot::take();
    ASSERT_EQ(call("add", {number_entry(&two), number_entry(&three)}), "");
    EXPECT_EQ(fn_value.s_t, real);
    EXPECT_TRUE(same(*fn_value.s_c.C_N, "5")) << text_of(*fn_value.s_c.C_N);
    before.expect_same();

    // A function that calls another routine, twice over: the routines' flags were cleared.
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(call("twice", {number_entry(&three)}), "");
        EXPECT_TRUE(same(*fn_value.s_c.C_N, "6")) << text_of(*fn_value.s_c.C_N);
        before.expect_same();
    }
}

TEST_F(CallbackTest, StringArgumentsStayTheCallers)
{
    // An owned text, as the forms engine's per-call copy holds: the routine reads it, the nested
    // run never frees it, and the result text is handed over in fn_value.
    Stack s{};
    s.s_t = string;
    s.s_c.C_S = Strcpy("Bob");
    s.length = s.s_dims[0] = 3;
    const Snapshot before = Snapshot::take();
    ASSERT_EQ(call("greet", {s}), "");
    ASSERT_EQ(fn_value.s_t, string);
    EXPECT_EQ(std::string(fn_value.s_c.C_S, fn_value.length), "hi Bob");
    EXPECT_STREQ(s.s_c.C_S, "Bob");
    before.expect_same();
    DPS_FREE(fn_value.s_c.C_S);

    // A string parameter stored into changes the caller's text in place.
    char field[8] = "abcdef";
    Stack v{};
    v.s_t = string;
    v.s_c.C_S = field;
    v.flags = stk_ref;
    v.length = 6;
    v.s_dims[0] = 6;
    ASSERT_EQ(call("name", {v}), "");
    EXPECT_STREQ(field, "Zed");
    before.expect_same();
    sfree(s.s_c.C_S);
}

TEST_F(CallbackTest, ProcedureLeavingByExitReturnsToTheCaller)
{
    dec_t x = dec("1");
    const Snapshot before = Snapshot::take();
    ASSERT_EQ(call("set", {number_entry(&x)}), "");
    EXPECT_TRUE(same(x, "42")) << text_of(x);
    // exit gives the procedure's function value 0, and nothing of the interrupted run moved:
    // the context was not left, the depth and gosubs are as they were.
    EXPECT_EQ(fn_value.s_t, real);
    EXPECT_TRUE(same(*fn_value.s_c.C_N, "0"));
    before.expect_same();
    EXPECT_EQ(context->previous, nullptr);
    EXPECT_EQ(context->Stk, Stk);
    EXPECT_EQ(last_ap_delete_ok, 0);
}

TEST_F(CallbackTest, RefusedCalls)
{
    dec_t one = dec("1");
    const Snapshot before = Snapshot::take();
    EXPECT_EQ(call("nosuch", {}), "callback nosuch not found");
    before.expect_same();
    EXPECT_EQ(call("add", {number_entry(&one)}), "Routine add called with wrong number of arguments");
    before.expect_same();
    // The routine the interrupted run is in is still running.
    context->routines[0].executing = 1;
    EXPECT_EQ(call("main", {}), "Routine main is being recursively called!");
    context->routines[0].executing = 0;
    before.expect_same();
    std::string assertion = lumba_test::abort_text([&] { invoke_basic_callback_routine("add", nullptr, 0, nullptr, context); });
    EXPECT_NE(assertion.find(": ap != NULL"), std::string::npos) << assertion;
    has_signal = 0;
    before.expect_same();
}

TEST_F(CallbackTest, CallbackInAnExecuteChildNeverRunsTheParent)
{
    // The callbacks' context is made a child of a parent whose code, continued, would declare
    // COMMON.
    Interp_t *parent = nullptr;
    ASSERT_EQ(load(assemble(routine("main") + COMMON + "exit\n", "parent.obj"), &parent), "");
    context->previous = parent;
    parent->npc = parent->code[0] + 8;  // the COMMON declaration after the routine start
    dec_t x = dec("1");
    const Snapshot before = Snapshot::take();
    ASSERT_EQ(call("set", {number_entry(&x)}), "");
    EXPECT_TRUE(same(x, "42"));
    before.expect_same();
    EXPECT_EQ(context->previous, parent);
    EXPECT_EQ(Common_variables, nullptr);  // the parent's code never ran
}

// ---- Callbacks from a running program ---------------------------------------------------------

TEST_F(ContextTest, NestedCallbacksFromARunningProgram)
{
    // main: X = 3; the main loop calls cb1(X); cell 2 = twice(X) afterwards.
    // cb1(x): cell 1 = x * 10, then the main loop (nested) calls cb2, then x = x + 1.
    // cb2: cell 3 = 7; leaves by exit.
    Outcome o = run(routine("main") + COMMON + num("3") + "storrd I:0 I:1 I:0 I:0 I:0\n" +
                    event("cb1", "loadrad I:0 I:1 I:0 I:0 I:0\n", 1) + "loadrad I:0 I:1 I:0 I:0 I:0\n" +
                    "fcallr r:twice I:1\n" + to_cell(2) + "exit\n" +
                    routine("cb1", 1) + "loadrvi I:0 I:0 I:1 I:0 I:0 I:0\n" + num("10") + "mul\n" + to_cell(1) +
                    event("cb2") + "loadrvi I:0 I:0 I:1 I:0 I:0 I:0\n" + num("1") + "add\n" +
                    "storri I:0 I:0 I:1 I:0 I:0 I:0\nexit\n" + parameters("cb1", "n") +
                    routine("cb2") + num("7") + to_cell(3) + "exit\n" +
                    routine("twice", 1, ".nfunc") + "loadrvi I:0 I:0 I:1 I:0 I:0 I:0\n" + num("2") + "mul\nexitv\n" +
                    parameters("twice", "n"));
    ASSERT_EQ(o.abort, "") << o.err;
    EXPECT_EQ(o.status, 0);
    EXPECT_TRUE(same(cell(1), "30")) << text_of(cell(1));
    EXPECT_TRUE(same(cell(3), "7")) << text_of(cell(3));
    EXPECT_TRUE(same(cell(2), "8")) << text_of(cell(2));  // X became 4 through the callback
    EXPECT_EQ(deepest_callback, 2);
    EXPECT_EQ(ib_callback_depth, 0);
    EXPECT_EQ(depth, 0);
    EXPECT_EQ(sp, -1);
}

TEST_F(ContextTest, CallbackEndingInAnUntrappedErrorReturnsToTheProgram)
{
    // The error ends the callback's run only; the program goes on and ends with status 1.
    Outcome o = run(routine("main") + COMMON + event("cb") + num("1") + to_cell(0) + "exit\n" + routine("cb") +
                    test_error + UNREACHABLE);
    ASSERT_EQ(o.abort, "") << o.err;
    EXPECT_TRUE(same(cell(0), "1"));
    EXPECT_EQ(o.status, 1);
    EXPECT_NE(o.err.find("test error"), std::string::npos);
}

TEST_F(ContextTest, CallbackInAnExecuteChild)
{
    // The child's main loop calls back its own routine, which leaves by exit: the child goes on
    // after the event, and the parent after EXECUTE, each once.
    install("unit0/kid", routine("main") + COMMON + event("cb") + add_to_cell(2, "1") + "exit\n" + routine("cb") +
                             add_to_cell(1, "1") + "exit\n");
    Outcome o = run(routine("main") + COMMON + num("5") + to_cell(0) + execute_call("kid", "0") + to_cell(0) +
                    add_to_cell(3, "1") + "exit\n");
    ASSERT_EQ(o.abort, "") << o.err;
    EXPECT_TRUE(same(cell(0), "0")) << text_of(cell(0));
    EXPECT_TRUE(same(cell(1), "1")) << text_of(cell(1));
    EXPECT_TRUE(same(cell(2), "1")) << text_of(cell(2));
    EXPECT_TRUE(same(cell(3), "1")) << text_of(cell(3));
    EXPECT_EQ(o.status, 0);
}

// A program still in use is never unloaded by name (as the destroy handler of a window it made
// unloads it): not while its code runs, nor while it waits for a program it executed, nor while a
// callback has interrupted its run or one it waits for. prog executes mid, mid executes kid, and
// kid (or a routine of kid's that its main loop calls back) unloads one of them; each goes on,
// and goes once it has ended.
TEST_F(ContextTest, AProgramInUseIsNotUnloaded)
{
    const std::string mid =
        routine("main") + COMMON + execute_call("kid", "0") + to_cell(0) + add_to_cell(2, "1") + "exit\n";
    struct Case {
        const char *what;
        std::string kid;
    } cases[] = {
        {"the program that runs", unload_call("kid__A") + add_to_cell(1, "1") + "exit\n"},
        {"a program waiting for the one it executed", unload_call("mid__A") + add_to_cell(1, "1") + "exit\n"},
        {"a program waiting, from a callback of the one it executed",
         event("cb") + add_to_cell(1, "1") + "exit\n" + routine("cb") + unload_call("mid__A") + "exit\n"},
    };
    install("unit0/mid", mid);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        left_after_unloads.clear();
        install("unit0/kid", routine("main") + COMMON + c.kid);
        Outcome o =
            run(routine("main") + COMMON + num("5") + to_cell(0) + execute_call("mid", "0") + to_cell(0) + "exit\n");
        ASSERT_EQ(o.abort, "") << o.err;
        EXPECT_EQ(o.status, 0);
        EXPECT_EQ(left_after_unloads, std::vector<std::string>{"prog__A mid__A kid__A"});
        EXPECT_TRUE(same(cell(0), "0")) << text_of(cell(0));
        EXPECT_TRUE(same(cell(1), "1")) << text_of(cell(1));  // kid went on
        EXPECT_TRUE(same(cell(2), "1")) << text_of(cell(2));  // and mid after it
        // Both went when they ended.
        EXPECT_EQ(FindApplication("mid__A"), nullptr);
        EXPECT_EQ(FindApplication("kid__A"), nullptr);
        release_common_block();
        delete_all_applications();
    }
}

// A routine's program stays while the routine runs, even when it follows a program unloaded by
// name meanwhile (a successor busy only with an external program goes along). The routine runs in
// the context of the first program, as a form's routine runs in the context it was attached in.
TEST_F(ContextTest, AProgramRunningARoutineStaysWhenTheOneBeforeItGoes)
{
    Interp_t *first = nullptr;
    ASSERT_EQ(load(assemble(routine("main") + "exit\n", "first.obj"), &first), "");
    ASSERT_EQ(load(assemble(routine("main") + "exit\n", "before.obj")), "");
    const std::string own_text = routine("main") + "exit\n" + routine("cb") + unload_call("before__A") + "exit\n";
    ASSERT_EQ(load(assemble(own_text, "own.obj")), "");
    Application_t *own = FindApplication("own__A");
    ASSERT_NE(own, nullptr);
    ++own->busy;  // an external program it started runs too
    testing::internal::CaptureStderr();
    const std::string stop =
        lumba_test::abort_text([&] { invoke_basic_callback_routine("cb", nullptr, 0, own, first); });
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(stop, "");
    EXPECT_EQ(left_after_unloads, std::vector<std::string>{"first__A own__A"});
    ASSERT_EQ(FindApplication("own__A"), own);
    EXPECT_EQ(own->running, 0);
    EXPECT_EQ(Minterp, nullptr);
    --own->busy;
}

TEST_F(ContextTest, RoutineNamesOfTheRunningProgram)
{
    EXPECT_STREQ(CurrentRoutineName(), "UNK");
    src_line_number = 12;
    EXPECT_STREQ(ProgramPoint(), "12-UNK:");
    EXPECT_EQ(copy_cur_routine_aname(), nullptr);

    Interp_t *c = nullptr;
    ASSERT_EQ(load_text(routine("main") + "exit\n" + routine("f") + "exit\n", &c), "");
    push_interpreter(c, nullptr, "");
    cur_routine = 1;
    EXPECT_STREQ(CurrentRoutineName(), "f");
    EXPECT_STREQ(ProgramPoint(), "12-f:");
    char *name = copy_cur_routine_aname();
    ASSERT_NE(name, nullptr);
    EXPECT_STREQ(name, "f@prog__A");
    sfree(name);
    // set_application_context makes an application current by itself.
    routines = nullptr;
    current_application = nullptr;
    set_application_context(FindApplication("prog__A"));
    EXPECT_STREQ(Program_name, "prog__A");
    EXPECT_EQ(loaded_routines, 1);
    EXPECT_STREQ(Rname, "f");
    EXPECT_EQ(code[1], c->code[1]);
    current_application = nullptr;
    cur_routine = 0;
    routines = nullptr;
    name = copy_cur_routine_aname();
    EXPECT_EQ(name, nullptr);
    Minterp = nullptr;
}

// ---- Every context global, from the one table of them ---------------------------------------

namespace {

namespace cg = context_globals;

// Distinct values for the rows' globals and members, one number each: integers are the number,
// pointers address their own slot of a zeroed pool (a text there reads as empty), texts say it.
class Distinct {
public:
    template <class T> void set(T &to, int n)
    {
        if constexpr (std::is_array_v<T>) {
            if constexpr (std::is_same_v<std::remove_extent_t<T>, char>) std::snprintf(to, sizeof to, "value %d", n);
        } else if constexpr (std::is_pointer_v<T>) {
            to = reinterpret_cast<T>(pool_.data() + SLOT * static_cast<std::size_t>(n));
        } else {
            to = static_cast<T>(n);
        }
    }

    // Every global of the rows with all of flags, numbered from first in table order.
    template <unsigned Flags> void globals(int first)
    {
        int n = first;
        cg::for_each_row([&](auto row) {
            using Row = decltype(row);
            if constexpr (cg::has<Row>(Flags)) set(Row::global(), n);
            ++n;
        });
    }

    // Every member of c of the rows with all of flags (an array that is not a text keeps its
    // address: the context's own).
    template <unsigned Flags> void members(Interp_t *c, int first)
    {
        int n = first;
        cg::for_each_row([&](auto row) {
            using Row = decltype(row);
            if constexpr (Row::in_context && cg::has<Row>(Flags)) set(Row::member(c), n);
            ++n;
        });
    }

private:
    static constexpr std::size_t SLOT = 64;
    alignas(64) std::array<unsigned char, SLOT * 256> pool_{};
};

template <class T> bool same_value(const T &a, const T &b)
{
    if constexpr (std::is_array_v<T>)
        return std::memcmp(a, b, sizeof a) == 0;
    else
        return a == b;
}

// Each global of the rows with all of flags holds what copies took.
template <unsigned Flags, class Copies> void expect_globals(const Copies &copies, const char *when)
{
    cg::for_each_row([&](auto row) {
        using Row = decltype(row);
        if constexpr (cg::has<Row>(Flags)) {
            EXPECT_TRUE(same_value(Row::global(), copies.template of<Row>())) << Row::name << " " << when;
        }
    });
}

// Each global of the rows with all of flags holds what c's member gives it.
template <unsigned Flags> void expect_loaded(Interp_t *c, const char *when)
{
    cg::for_each_row([&](auto row) {
        using Row = decltype(row);
        if constexpr (Row::in_context && cg::has<Row>(Flags)) {
            cg::Value<Row> expected{};
            cg::copy_value(expected, Row::member(c));
            EXPECT_TRUE(same_value(Row::global(), expected)) << Row::name << " " << when;
        }
    });
}

} // namespace

TEST_F(ContextTest, ASwitchAndBackGivesEveryGlobalAsTheRunLeftIt)
{
    const auto everything = cg::Copies<0>::take();
    // The routine table is a real one: the routine's name and areas are read from it.
    std::vector<Routine> table(MAX_ROUTINES);
    auto a = std::make_unique<Interp_t>(), b = std::make_unique<Interp_t>();
    auto distinct = std::make_unique<Distinct>();
    distinct->members<cg::load>(a.get(), 1);
    distinct->members<cg::load>(b.get(), 51);
    distinct->members<cg::common>(a.get(), 101);
    a->routines = b->routines = table.data();
    Minterp = nullptr;

    push_interpreter(a.get(), nullptr, "a");
    expect_loaded<cg::load>(a.get(), "loading a");
    expect_loaded<cg::common>(a.get(), "loading a's COMMON");
    EXPECT_STREQ(Rname, table[a->cur_routine].R_name.c_str());
    EXPECT_EQ(ERROR_TRAP, &a->TRAP_VECTORS[a->cur_routine]);
    // a's run moves what it keeps in the globals alone.
    distinct->globals<cg::parked>(151);
    const auto running = cg::Copies<cg::load>::take();

    push_interpreter(b.get(), npc, "b");
    expect_loaded<cg::load>(b.get(), "loading b");
    expect_loaded<cg::common>(a.get(), "b has no COMMON of its own");
    pop_interpreter();
    expect_globals<cg::load>(running, "back in a");
    EXPECT_EQ(Minterp, a.get());
    EXPECT_STREQ(Rname, table[a->cur_routine].R_name.c_str());
    EXPECT_EQ(ERROR_TRAP, &a->TRAP_VECTORS[a->cur_routine]);

    // With no context left, a's exit status and text stay; the rest is cleared.
    pop_interpreter();
    expect_loaded<cg::exit_result>(a.get(), "after the last context");
    cg::for_each_row([](auto row) {
        using Row = decltype(row);
        if constexpr (cg::has<Row>(cg::cleared)) {
            EXPECT_TRUE(Row::global() == Row::value()) << Row::name << " after the last context";
        }
    });
    everything.put_back();
}

TEST_F(CallbackTest, EveryGlobalAndTheContextComeBackAsTheInterruptedRunHadThem)
{
    const auto everything = cg::Copies<0>::take();
    const auto members = cg::MemberCopies<cg::callback_context>::take(context);
    auto distinct = std::make_unique<Distinct>();
    // The callback from inside the context's own run, and from another context's.
    for (const bool own_run : {true, false}) {
        distinct->globals<cg::callback>(1);
        distinct->members<cg::callback_context>(context, 51);
        if (own_run) Minterp = context;
        const auto before = cg::Copies<cg::callback>::take();
        const auto context_before = cg::MemberCopies<cg::callback_context>::take(context);
        dec_t two = dec("2"), three = dec("3");
        ASSERT_EQ(call("add", {number_entry(&two), number_entry(&three)}), "");
        EXPECT_TRUE(same(*fn_value.s_c.C_N, "5")) << text_of(*fn_value.s_c.C_N);
        expect_globals<cg::callback>(before, own_run ? "after a callback from the context's run" : "after a callback from another's");
        cg::for_each_row([&](auto row) {
            using Row = decltype(row);
            if constexpr (Row::in_context && cg::has<Row>(cg::callback_context)) {
                cg::Value<Row> now{};
                cg::copy_value(now, Row::member(context));
                EXPECT_TRUE(same_value(now, context_before.template of<Row>())) << "the context's " << Row::name;
            }
        });
    }
    members.put_back(context);
    everything.put_back();
}
