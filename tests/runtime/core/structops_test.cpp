// Structure operations on records laid out by a schema loaded from a zasm sqltab section: clear
// (the executor's sclear op), copy, compare, dump and copy into a text element, with text fields
// under the pointer accounting. The handlers are called with value-stack entries built the way the
// executor builds them.
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

#include "exec_fixture.h"
#include "program_text.h"
#include "site.h"
#include "sql.h"
#include "structops.h"
#include "value_stack.h"

namespace {

// Tables: addr (varchar, text), cust (char, varchar, numeric, date, text, a nested addr,
// timestamp), other (a different layout), doc (char, bytea) and loop (contains itself).
// Variables A and B are cust records, O other, D and E doc, L loop.
const std::string fixture = R"(
.proc r:main I:0 I:0 I:0 I:0 I:376 I:0
MAIN_CODE
end
symtab
__ROUTINE__ main 6
A 0 0 0x200010 0 1 cust
B 0 0 0x200010 144 2 cust
O 0 0 0x200010 288 3 other
D 0 0 0x200010 336 4 doc
E 0 0 0x200010 352 5 doc
L 0 0 0x200010 368 6 loop
__END_ROUTINE__
.end
sqltab
__SQL_TABLES__ 5
T:addr 0 2 0 24
C:street 3 10 0 0 0 0
C:memo 5 0 0 16 0 0
T:cust 0 7 0 143
C:code 2 6 0 0 0 0
C:name 3 20 0 7 0 0
C:amount 4 12 2 44 0 0
C:born 1 0 0 66 0 0
C:notes 5 0 0 80 0 0
C:home 7 24 0 88 0 4
addr
C:stamp 8 0 0 112 0 0
T:other 0 2 0 44
C:code 2 6 0 0 0 0
C:amount 4 12 2 22 0 0
T:doc 0 2 0 16
C:title 2 4 0 0 0 0
C:body 6 0 0 8 0 0
T:loop 0 1 0 8
C:self 7 8 0 0 0 4
loop
.end
)";

std::string with_code(const std::string &code)
{
    std::string text = fixture;
    text.replace(text.find("MAIN_CODE"), 9, code);
    return text;
}

using lumba_test::dec;

std::string bytes(const char *p, std::size_t n) { return std::string(p, n); }

class StructOps : public ExecTest {
public:  // the helpers are used by the cases' lambdas
    void SetUp() override
    {
        ExecTest::SetUp();
        saved_level = Lumba_Log_Level;
        Lumba_Log_Level = 2;  // warnings are shown
    }

    void TearDown() override
    {
        Lumba_Log_Level = saved_level;
        ExecTest::TearDown();
    }

    // Loads the fixture with code as the main routine's body; the value stack is the context's.
    void load_fixture(const std::string &code = "")
    {
        ASSERT_EQ(load_text(with_code(code), &context), "");
        ap = current_application;
        Stk = context->Stk;
        sp = -1;
    }

    Routine &main_routine() { return ap->app->routines[0]; }
    Symbol *symbol(const char *var) { return FindSymInRoutine(&main_routine(), var); }
    char *record(const char *var) { return reinterpret_cast<char *>(symbol(var)->S_memloc); }
    OskaTable_t *table(const char *name) { return FindOskaTable(ap->app->tables, name); }

    // The field of column col of var's record ("home.street" reaches into the nested record).
    char *field(const char *var, const std::string &col)
    {
        OskaTable_t *t = std::get<OskaTable_t *>(symbol(var)->S_);
        char *at = record(var);
        std::string rest = col;
        for (;;) {
            const std::size_t dot = rest.find('.');
            int index = -1;
            OskaCol_t *c = FindOskaCol(t, rest.substr(0, dot).c_str(), &index);
            EXPECT_NE(c, nullptr) << col;
            at += c->offset;
            if (dot == std::string::npos) return at;
            t = table(c->constraints->c_str());
            rest = rest.substr(dot + 1);
        }
    }

    void put(const char *var, const std::string &col, const std::string &value)
    {
        std::memcpy(field(var, col), value.data(), value.size());
    }
    void put_number(const char *var, const std::string &col, const char *value)
    {
        dec_t d = dec(value);
        std::memcpy(field(var, col), &d, sizeof d);
    }
    // A registered text (nullptr: none, the field all zero).
    void put_text(const char *var, const std::string &col, const char *text)
    {
        char *block = nullptr;
        if (text) {
            block = static_cast<char *>(salloc(std::strlen(text) + 1));
            std::strcpy(block, text);
        }
        text_field_set(field(var, col), block, "test");
    }
    std::string text(const char *var, const std::string &col)
    {
        const char *t = text_field_text(field(var, col), "test");
        return t ? t : "(none)";
    }

    // A customer with every field set.
    void fill(const char *var)
    {
        put(var, "code", std::string("C1    ", 7));
        put(var, "name", std::string("ABC\0xxxxxxxxxxxxxxxxx", 21));
        put_number(var, "amount", "12.5");
        put(var, "born", std::string("2024-01-31", 11));
        put_text(var, "notes", "hello");
        put(var, "home.street", std::string("Main\0", 5));
        put_text(var, "home.memo", "m1");
        put(var, "stamp", std::string("2024-01-31 10:00:00+01", 23));
    }

    void push_struct(const char *var)
    {
        Stack &e = Stk[++sp];
        e = Stack{};
        e.s_t = bstruct;
        e.s_c.C_P = record(var);
        e.flags = stk_ref;
        e.params[0] = reinterpret_cast<Address>(&main_routine());
    }
    // A text or bytea element, as the address of its pointer field.
    void push_element(const char *var, const std::string &col)
    {
        Stack &e = Stk[++sp];
        e = Stack{};
        e.s_t = string;
        e.s_c.C_S = field(var, col);
        e.flags = stk_ref | stk_pointer;
        e.s_dims[0] = 8;
    }
    void push_string(const std::string &s, std::uint32_t length)
    {
        Stack &e = Stk[++sp];
        e = Stack{};
        e.s_t = string;
        e.s_c.C_S = const_cast<char *>(s.data());
        e.flags = stk_ref;
        e.length = length;
        e.s_dims[0] = length;
    }
    void push_number(const char *value)
    {
        Stack &e = Stk[++sp];
        e = Stack{};
        e.s_t = real;
        e.num = dec(value);
        e.s_c.C_N = &e.num;
    }

    // Calls a handler on the whole stack, then empties it; the warnings it wrote go to warned.
    int call(int (*handler)(int, int))
    {
        testing::internal::CaptureStderr();
        int result = -1;
        std::string error = lumba_test::abort_text([&] { result = handler(sp + 1, sp); });
        warned = testing::internal::GetCapturedStderr();
        sp = -1;
        if (!error.empty()) throw lumba_test::AbortError(error);
        return result;
    }
    std::string call_error(int (*handler)(int, int))
    {
        return lumba_test::abort_text([&] { call(handler); });
    }

    std::string dump(const char *var)
    {
        push_struct(var);
        testing::internal::CaptureStdout();
        std::string error = lumba_test::abort_text([&] { istruct_dump(1, 0); });
        std::string out = testing::internal::GetCapturedStdout();
        sp = -1;
        return error.empty() ? out : "abort: " + error;
    }

    Application_t *ap = nullptr;
    std::string warned;
    int saved_level = 0;
};

// The dump of a customer filled by fill(), whose memo text has memo characters.
std::string filled_dump(const char *var, int memo = 2)
{
    const std::string m = std::to_string(memo);
    return std::string("Struct cust varname ") + var + "\n" +
           "char(6)        code=(6)[C1    ]\n"
           "varchar(20)    name=(3)[ABC]\n"
           "numeric(12,2)  amount=[12.5]\n"
           "date(10)       born=[2024-01-31]\n"
           "text(5)        notes=(5)[]\n"
           "struct(24)     : Struct addr varname home\n"
           "varchar(10)    street=(4)[Main]\n"
           "text(" + m + ")        memo=(" + m + ")[]\n"
           "timestamp with time zone(30) stamp=[2024-01-31 10:00:00+01]\n";
}
const std::string expected_dump_of_filled_A = filled_dump("A");

} // namespace

// ---- sclear, through the executor -----------------------------------------------------------

TEST_F(StructOps, ClearBlanksEveryKindOfField)
{
    load_fixture("loadstad I:0 I:2 I:0 I:0 I:0\nsclear\n");
    std::memset(record("A"), 'x', 143);
    std::memset(field("A", "notes"), 0, 8);
    std::memset(field("A", "home.memo"), ' ', 8);  // a blank-filled record's text: no text
    put_text("A", "notes", "to be released");
    fill("B");

    Outcome o = execute(context);
    ASSERT_EQ(o.abort, "");
    EXPECT_EQ(bytes(field("A", "code"), 7), "      x") << "the terminator byte is not the field's";
    EXPECT_EQ(bytes(field("A", "name"), 21), std::string(20, ' ') + "x");
    EXPECT_EQ(bytes(field("A", "amount"), 22), bytes(reinterpret_cast<const char *>(&ZERO_DEC), 22));
    EXPECT_EQ(bytes(field("A", "born"), 11), std::string(10, ' ') + "x");
    EXPECT_EQ(bytes(field("A", "notes"), 8), std::string(8, '\0'));
    EXPECT_EQ(text("A", "notes"), "(none)");
    EXPECT_EQ(bytes(field("A", "home.street"), 11), std::string(10, ' ') + "x");
    EXPECT_EQ(bytes(field("A", "home.memo"), 8), std::string(8, ' ')) << "no text: left as it was";
    EXPECT_EQ(bytes(field("A", "stamp"), 31), std::string(30, ' ') + "x");
    EXPECT_EQ(text("B", "notes"), "hello") << "only the cleared record changes";
    bool registered_empty = false;
    for (PointerMem_t *p = ap->app->pointer_memory; p; p = p->next)
        if (p->variable == field("A", "notes")) registered_empty = p->block == nullptr;
    EXPECT_TRUE(registered_empty) << "the emptied field is registered with no block";
}

TEST_F(StructOps, ClearStopsOnWhatItCannotWalk)
{
    struct Case {
        std::string code;
        std::function<void(StructOps &)> prepare;
        std::string message;  // a prefix of the fatal message
    } cases[] = {
        {"loadstad I:0 I:2 I:0 I:0 I:0\nsclear\n",
         [](StructOps &t) { DelOskaTable(t.ap->app->tables, t.table("addr")); },
         "No table addr found when clearing table cust\n"},
        {"loadstad I:0 I:2 I:0 I:0 I:0\nsclear\n",
         [](StructOps &t) { t.table("cust")->cols[5]->constraints = "cust"; },
         "Table cust (143 bytes) does not fit column home of table cust (24 bytes)"},
        {"loadstad I:368 I:2 I:0 I:0 I:0\nsclear\n", [](StructOps &) {},
         "Table loop contains itself through column self of table loop"},
        {"loadstad I:0 I:2 I:0 I:0 I:0\nsclear\n",
         [](StructOps &t) { CtoBasicPtr(t.field("A", "notes"), "a constant"); },
         "sclear column notes of table cust: unknown text reference 0x"},
        // A structure that no variable starts at: the record at offset 8 is inside A.
        {"loadstad I:8 I:2 I:0 I:0 I:0\nsclear\n", [](StructOps &) {}, "No symtab found for struct at 0x"},
        {"loadrc n:1 c:0\nsclear\n", [](StructOps &) {}, "No symtab found for struct at 0x"},
    };
    for (auto &c : cases) {
        load_fixture(c.code);
        c.prepare(*this);
        Outcome o = execute(context);
        EXPECT_EQ(o.abort.rfind(c.message, 0), 0u) << c.code << "gave: " << o.abort;
        delete_all_applications();
    }
}

// ---- COPYSTRUCT -----------------------------------------------------------------------------

TEST_F(StructOps, CopyGivesTheDestinationItsOwnTexts)
{
    load_fixture();
    fill("A");
    put_text("B", "notes", "old text of B");  // released by the copy
    put_text("A", "home.memo", nullptr);
    put_text("B", "home.memo", "goes");
    push_struct("B");
    push_struct("A");
    EXPECT_EQ(call(copy_struct), 1);
    EXPECT_EQ(dump("B"), filled_dump("B", 0));
    EXPECT_EQ(bytes(field("B", "home.memo"), 8), std::string(8, '\0')) << "a source without text leaves 0";
    EXPECT_NE(BasicPtrtoC(field("B", "notes")), BasicPtrtoC(field("A", "notes")));
    put_text("A", "notes", "changed");
    EXPECT_EQ(text("B", "notes"), "hello") << "changing one record's text leaves the other's";
}

TEST_F(StructOps, CopyOntoItselfLeavesTheRecordAsItWas)
{
    load_fixture();
    fill("A");
    const std::string before = dump("A");
    push_struct("A");
    push_struct("A");
    EXPECT_EQ(call(copy_struct), 1);
    EXPECT_EQ(dump("A"), before);
    EXPECT_EQ(text("A", "notes"), "hello");
}

TEST_F(StructOps, CopyRefusesDifferentLayoutsAndBytea)
{
    load_fixture();
    fill("A");
    put("O", "code", "OTHER ");
    push_struct("O");
    push_struct("A");
    EXPECT_EQ(call(copy_struct), 0);
    EXPECT_NE(warned.find("COPYSTRUCT - differing structs other (dst) != cust (src)"), std::string::npos) << warned;
    EXPECT_EQ(bytes(field("O", "code"), 6), "OTHER ") << "nothing copied";

    // Columns before a bytea column are copied when the run stops.
    put("D", "title", "TTTT");
    push_struct("E");
    push_struct("D");
    EXPECT_EQ(call_error(copy_struct), "Need to test COPYSTRUCT with BYTEA elements!");
    EXPECT_EQ(bytes(field("E", "title"), 4), "TTTT");

    // Unknown references are refused before the destination changes.
    CtoBasicPtr(field("B", "notes"), "not a block of the accounting");
    const std::string before = bytes(record("B"), 143);
    push_struct("B");
    push_struct("A");
    EXPECT_EQ(call_error(copy_struct).rfind("COPYSTRUCT column notes of table cust: unknown text reference 0x", 0), 0u);
    EXPECT_EQ(bytes(field("B", "notes"), 8), before.substr(80, 8));
}

// ---- ISTRUCTEQ ------------------------------------------------------------------------------

TEST_F(StructOps, EqualityByColumn)
{
    struct Case {
        const char *what;
        std::function<void(StructOps &)> change;  // applied to B after B became a copy of A
        int equal;
    } cases[] = {
        {"copies", [](StructOps &) {}, 1},
        {"bytes after the text of a varchar", [](StructOps &t) { t.put("B", "name", std::string("ABC\0y", 5)); }, 0},
        {"numeric", [](StructOps &t) { t.put_number("B", "amount", "12.51"); }, 0},
        {"date", [](StructOps &t) { t.put("B", "born", "2024-02-01"); }, 0},
        {"timestamp", [](StructOps &t) { t.put("B", "stamp", "2025"); }, 0},
        {"text", [](StructOps &t) { t.put_text("B", "notes", "hellO"); }, 0},
        {"nested field", [](StructOps &t) { t.put("B", "home.street", "Side"); }, 0},
        {"nested text", [](StructOps &t) { t.put_text("B", "home.memo", nullptr); }, 0},
        {"no text and an empty text",
         [](StructOps &t) {
             t.put_text("A", "notes", nullptr);
             t.put_text("B", "notes", "");
         },
         1},
        {"zero and eight blanks",
         [](StructOps &t) {
             t.put_text("A", "notes", nullptr);
             t.put_text("B", "notes", nullptr);
             t.put("B", "notes", "        ");
         },
         1},
        {"the same reference", [](StructOps &t) { std::memcpy(t.field("B", "notes"), t.field("A", "notes"), 8); }, 1},
    };
    for (auto &c : cases) {
        load_fixture();
        fill("A");
        push_struct("B");
        push_struct("A");
        ASSERT_EQ(call(copy_struct), 1);
        c.change(*this);
        push_struct("A");
        push_struct("B");
        EXPECT_EQ(call(is_struct_equal), c.equal) << c.what;
        delete_all_applications();
    }
}

TEST_F(StructOps, EqualityRefusals)
{
    load_fixture();
    fill("A");
    push_struct("A");
    push_struct("O");
    EXPECT_EQ(call(is_struct_equal), 0);
    EXPECT_NE(warned.find("COPYSTRUCT - differing structs cust (dst) != other (src)"), std::string::npos) << warned;

    push_struct("D");
    push_struct("E");
    EXPECT_EQ(call_error(is_struct_equal), "Need to test ISTRUCTEQ with BYTEA elements!");

    push_struct("B");
    push_struct("A");
    ASSERT_EQ(call(copy_struct), 1);
    char own[8];
    std::memcpy(own, field("B", "notes"), 8);
    CtoBasicPtr(field("B", "notes"), "not a block of the accounting");
    push_struct("A");
    push_struct("B");
    EXPECT_EQ(call_error(is_struct_equal).rfind("ISTRUCTEQ column notes of table cust: unknown text reference 0x", 0), 0u);
    std::memcpy(field("B", "notes"), own, 8);

    DelOskaTable(ap->app->tables, table("addr"));
    push_struct("A");
    push_struct("B");
    EXPECT_EQ(call_error(is_struct_equal), "No table addr found when ISTRUCTEQ'ing table cust\n");
}

// ---- Arguments ------------------------------------------------------------------------------

TEST_F(StructOps, StructureArgumentsAreResolvedBeforeUse)
{
    load_fixture();
    char text[64];
    // A routine reference that is no routine record is never followed.
    push_struct("A");
    push_struct("B");
    Stk[sp].params[0] = 0x1234;
    std::snprintf(text, sizeof text, "No symtab found for struct at 0x%X in routine 0x1234",
                  static_cast<unsigned>(reinterpret_cast<Address>(record("B"))));
    EXPECT_EQ(call_error(copy_struct), text);

    // A structure symbol whose table was never attached.
    SymExtra saved = symbol("A")->S_;
    symbol("A")->S_ = SymSignature{"cust"};
    push_struct("A");
    push_struct("A");
    std::snprintf(text, sizeof text, "Cannot find table for struct A at 0x%X",
                  static_cast<unsigned>(reinterpret_cast<Address>(record("A"))));
    EXPECT_EQ(call_error(is_struct_equal), text);
    symbol("A")->S_ = saved;

    push_struct("A");
    EXPECT_EQ(call_error(copy_struct), "COPYSTRUCT called with wrong number of arguments (1)");
    EXPECT_EQ(lumba_test::abort_text([] { istruct_dump(3, 2); }), "ISTRUCT_DUMP called with wrong number of arguments (3)");
    EXPECT_EQ(lumba_test::abort_text([] { copy_into_text(2, 0); }), "COPYTOTEXT called with wrong number of arguments (2)");
}

// ---- ISTRUCT_DUMP to standard output --------------------------------------------------------

TEST_F(StructOps, DumpFormat)
{
    load_fixture();
    fill("A");
    EXPECT_EQ(dump("A"), expected_dump_of_filled_A);

    const char *cleared =
        "Struct other varname O\n"
        "char(6)        code=(0)[]\n"
        "numeric(12,2)  amount=[0]\n";
    sql_clear_struct(table("other"), record("O"));
    std::memset(field("O", "code"), 0, 6);
    EXPECT_EQ(dump("O"), cleared);

    CtoBasicPtr(field("A", "home.memo"), "not a block of the accounting");
    EXPECT_EQ(dump("A").rfind("abort: ISTRUCT_DUMP column memo of table addr: unknown text reference 0x", 0), 0u);
    DelOskaTable(ap->app->tables, table("addr"));
    EXPECT_EQ(dump("A"), "abort: No table addr found when DUMP'ing table cust\n");
}

// ---- COPYTOTEXT -----------------------------------------------------------------------------

TEST_F(StructOps, CopyIntoText)
{
    load_fixture();
    const std::string hello = "hello world";
    struct Case {
        const char *what;
        std::function<void(StructOps &)> push;  // destination and source
        int result;
        std::string notes;  // A.notes afterwards
        const char *warning;
    } cases[] = {
        {"a string by its length",
         [&](StructOps &t) {
             t.push_element("A", "notes");
             t.push_string(hello, 5);
         },
         1, "hello", nullptr},
        {"an empty string leaves no text",
         [&](StructOps &t) {
             t.push_element("A", "notes");
             t.push_string(hello, 0);
         },
         1, "(none)", nullptr},
        {"another element's text",
         [&](StructOps &t) {
             t.put_text("B", "notes", "from B");
             t.push_element("A", "notes");
             t.push_element("B", "notes");
         },
         1, "from B", nullptr},
        {"an element without text (blanks)",
         [&](StructOps &t) {
             t.put_text("B", "notes", nullptr);
             t.put("B", "notes", "        ");
             t.push_element("A", "notes");
             t.push_element("B", "notes");
         },
         1, "(none)", nullptr},
        {"onto itself",
         [&](StructOps &t) {
             t.push_element("A", "notes");
             t.push_element("A", "notes");
         },
         1, "old", nullptr},
        {"a destination that is no element",
         [&](StructOps &t) {
             t.push_string(hello, 5);
             t.push_string(hello, 5);
         },
         0, "old", "COPYTOTEXT first arg (dst) must be a TEXT/BYTEA struct element"},
        {"a number as source",
         [&](StructOps &t) {
             t.push_element("A", "notes");
             t.push_number("7");
         },
         0, "old", "COPYTOTEXT second arg (src) must be a string or string variable"},
    };
    for (auto &c : cases) {
        put_text("A", "notes", "old");
        c.push(*this);
        EXPECT_EQ(call(copy_into_text), c.result) << c.what;
        EXPECT_EQ(text("A", "notes"), c.notes) << c.what;
        if (c.notes == "(none)") {
            EXPECT_EQ(bytes(field("A", "notes"), 8), std::string(8, '\0')) << c.what;
        }
        if (c.warning) {
            EXPECT_NE(warned.find(c.warning), std::string::npos) << c.what << ": " << warned;
        }
    }

    // Into a bytea element, into a blank-filled element.
    push_element("D", "body");
    push_string(hello, 11);
    EXPECT_EQ(call(copy_into_text), 1);
    EXPECT_EQ(text("D", "body"), "hello world");
    put("E", "body", "        ");
    push_element("E", "body");
    push_string(hello, 2);
    EXPECT_EQ(call(copy_into_text), 1);
    EXPECT_EQ(text("E", "body"), "he");

    // Unknown references, as source or destination, are refused and nothing changes.
    static const char constant[] = "a constant";
    put_text("A", "notes", "kept");
    CtoBasicPtr(field("B", "notes"), constant);
    push_element("A", "notes");
    push_element("B", "notes");
    EXPECT_EQ(call_error(copy_into_text).rfind("COPYTOTEXT: unknown text reference 0x", 0), 0u);
    push_element("B", "notes");
    push_string(hello, 5);
    EXPECT_EQ(call_error(copy_into_text).rfind("COPYTOTEXT: unknown text reference 0x", 0), 0u);
    EXPECT_EQ(text("A", "notes"), "kept");
    EXPECT_EQ(BasicPtrtoC(field("B", "notes")), constant);
}

// ---- ISTRUCT_DUMP into the site's temp directory --------------------------------------------
// The file part runs inside a private site tree: the test program runs itself there with
// STRUCTOPS_IN_SITE set, and only then do the StructDumpFile cases run.

namespace {

bool in_site() { return std::getenv("STRUCTOPS_IN_SITE") != nullptr; }

std::string read_all(const std::string &path)
{
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

} // namespace

class StructDumpFile : public StructOps {
protected:
    void SetUp() override
    {
        if (!in_site()) GTEST_SKIP() << "runs inside a test site (StructOps.DumpIntoTheTempDirectory)";
        StructOps::SetUp();
    }

    // ISTRUCT_DUMP (A, name): "" or the fatal message; standard output into out.
    std::string dump_to(const std::string &name, std::string *out = nullptr)
    {
        push_struct("A");
        push_string(name, static_cast<std::uint32_t>(name.size()));
        testing::internal::CaptureStdout();
        std::string error = lumba_test::abort_text([&] { istruct_dump(2, 1); });
        std::string o = testing::internal::GetCapturedStdout();
        if (out) *out = o;
        sp = -1;
        return error;
    }
};

TEST_F(StructDumpFile, WritesAndReplaces)
{
    load_fixture();
    fill("A");
    const std::string path = TEMP_DIR "/dumpA.txt";
    std::ofstream(path) << std::string(2000, 'z');  // an older, longer dump
    std::string out;
    EXPECT_EQ(dump_to("dumpA", &out), "");
    EXPECT_EQ(read_all(path), expected_dump_of_filled_A);
    EXPECT_EQ(out, "called istruct_dump(A," + path + ")\n");
    EXPECT_EQ(dump_to("fresh"), "");
    EXPECT_EQ(read_all(TEMP_DIR "/fresh.txt"), expected_dump_of_filled_A);
}

TEST_F(StructDumpFile, NeverFollowsALinkOrLeavesTheDirectory)
{
    load_fixture();
    fill("A");
    const std::string target = TEMP_DIR "/../conf/victim";
    std::ofstream(target) << "precious";
    ASSERT_EQ(symlink(target.c_str(), TEMP_DIR "/link.txt"), 0);
    const std::string name_of_255 = std::string(255 - std::strlen(TEMP_DIR "/.txt"), 'n');
    struct {
        std::string name;
        std::string path;
    } cases[] = {
        {"link", TEMP_DIR "/link.txt"},
        {"../conf/victim2", TEMP_DIR "/../conf/victim2.txt"},
        {name_of_255 + "n", TEMP_DIR "/" + name_of_255 + "n.txt"},
        {std::string("a\0b", 3), std::string(TEMP_DIR "/a\0b.txt", std::strlen(TEMP_DIR) + 8)},
    };
    for (const auto &c : cases)
        EXPECT_EQ(dump_to(c.name), "Cannot open filename " + std::string(c.path.c_str()) + " for istruct_dump ") << c.name;
    EXPECT_EQ(read_all(target), "precious");
    EXPECT_NE(access(TEMP_DIR "/../conf/victim2.txt", F_OK), 0);
    EXPECT_EQ(dump_to(name_of_255), "") << "255 characters are allowed";
}

TEST_F(StructOps, DumpIntoTheTempDirectory)
{
    if (in_site()) GTEST_SKIP();
    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    ASSERT_GT(n, 0);
    self[n] = '\0';
    lumba_test::Site site;
    lumba_test::RunResult r = site.run({self, "--gtest_filter=StructDumpFile.*"}, {"STRUCTOPS_IN_SITE=1"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("[  PASSED  ] 2 tests"), std::string::npos) << r.out;
    EXPECT_EQ(site.read_file("oska/temp/dumpA.txt"), expected_dump_of_filled_A);
}
