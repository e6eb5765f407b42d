// The object loader: what a program becomes in memory, the header checks, operand edge cases and
// the refusal of files that would reach outside their areas.
#include <string>
#include <vector>

#include "core_fixture.h"
#include "numerics.h"
#include "op_codes.h"
#include "program_text.h"

namespace {

using lumba_test::dec;

bool same(const dec_t *a, const char *text)
{
    dec_t b = dec(text);
    return NumericCmp(a, &b) == 0;
}

// Routine main: data lists of 2 decimals and 7 characters, 5 local decimals, 8 local characters,
// 70 structure bytes. Routine sub: a data list of 1 decimal. Word positions are noted.
const std::string program = R"(
.proc r:main I:2 I:7 I:5 I:8 I:70 I:0   ; 0..7
.data n:7 s:"abc" n:-2.5 s:"de"
loadrc n:1.5 c:0                         ; 8..10
loadsc s:"hello" p:1                     ; 11..13
jump l:#0                                ; 14..15
jump l:#12                               ; 16..17
loadrc c:255 I:-7                        ; 18..20
fcallr r:sub I:0                         ; 21..23
end                                      ; 24
symtab
__ROUTINE__ main 5
COUNT 0 0 0x12 3 1 -
NAME$ 20 0 0x14 2 2 -
CUST 0 0 0x200010 0 3 customer
BREC 0 0 0x200812 44 4 -
ARG 0 0 0x8012 4 5 -
__END_ROUTINE__
.end
.sfunc r:sub I:1 I:0 I:0 I:0 I:0 I:1     ; 25..32
.data n:9
exitv                                    ; 33
sqltab
__SQL_TABLES__ 1
T:customer 0 2 0 44
C:code 2 10 0 0 0 0
C:amount 4 12 2 22 0 0
.end
inclvs
__INCL_VERS__ 1
common.inc => 2.3
.end
loadedfiles
__LOADED_FILES__ 1
main.src
.end
)";

const std::string minimal = ".proc r:main I:0 I:0 I:0 I:0 I:0 I:0\nend\n";

using Loader = CoreTest;

TEST_F(Loader, BuildsTheMemorySpaceOfAProgram)
{
    Interp_t *interp = nullptr;
    ASSERT_EQ(load_text(program, &interp), "");
    Application_t *ap = FindApplication("prog__A");
    ASSERT_NE(ap, nullptr);
    AppMemory_t *mem = ap->app;
    EXPECT_EQ(current_application, ap);
    EXPECT_EQ(interp->current_application, ap);
    EXPECT_EQ(mem->interp, interp);
    EXPECT_STREQ(interp->program_name, "prog__A");
    EXPECT_STREQ(Loaded_program, "prog.obj");
    EXPECT_EQ(std::string(Loaded_program_header).rfind("V150611 70 34 1 3 5 6 7 8 70 0 44 ", 0), 0u)
        << Loaded_program_header;

    Code *code = mem->code;
    ASSERT_EQ(mem->code_count, 34);
    EXPECT_EQ(code[0].param, o__proc);
    EXPECT_EQ(code[1].param, 0u);
    EXPECT_EQ(code[8].param, o_loadrc);
    // Areas in file order: main's data and local decimals, the constant, sub's data decimal.
    EXPECT_EQ(code[9].num, mem->numerics + 7);
    EXPECT_TRUE(same(code[9].num, "1.5"));
    EXPECT_EQ(code[12].string, mem->chars + 15);
    EXPECT_STREQ(code[12].string, "hello");
    EXPECT_EQ(code[15].c_ptr, code);       // "l" 0: routine 0's entry word
    EXPECT_EQ(code[17].c_ptr, code + 12);  // "l" 12: twelve words after it
    EXPECT_EQ(code[19].param, 255u);
    EXPECT_EQ(static_cast<std::int64_t>(code[20].param), -7);
    EXPECT_EQ(code[22].param, 1u);  // the routine number of sub
    EXPECT_EQ(code[33].param, o_exitv);

    EXPECT_EQ(mem->routine_count, 2);
    EXPECT_EQ(interp->loaded_routines, 1);
    EXPECT_EQ(mem->routines[0].R_name, "main");
    EXPECT_EQ(mem->routines[1].R_name, "sub");
    EXPECT_EQ(mem->entries[0], code);
    EXPECT_EQ(mem->entries[1], code + 25);
    EXPECT_EQ(interp->code[1], code + 25);
    EXPECT_EQ(interp->npc, code);
    EXPECT_EQ(interp->sp, -1);
    EXPECT_EQ(mem->routines[1].arg_count, 1);

    Routine &main = mem->routines[0];
    EXPECT_EQ(main.data_numerics, mem->numerics);
    EXPECT_TRUE(same(&main.data_numerics[0], "7"));
    EXPECT_TRUE(same(&main.data_numerics[1], "-2.5"));
    EXPECT_EQ(std::string(main.data_chars, 7), std::string("abc\0de\0", 7));
    EXPECT_EQ(main.local_numerics, mem->numerics + 2);
    EXPECT_EQ(main.local_chars, mem->chars + 7);
    EXPECT_EQ(main.local_structs, mem->structs);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(main.local_numerics[i].dec_pos, 1);
        EXPECT_EQ(main.local_numerics[i].dec_ndgts, 0);
    }
    // Every routine's data list is read from its start, the last one's included.
    Routine &sub = mem->routines[1];
    EXPECT_TRUE(same(&sub.data_numerics[0], "9"));
    EXPECT_EQ(main.data_nindex, 0);
    EXPECT_EQ(sub.data_nindex, 0);
    EXPECT_EQ(main.data_cindex, 0);

    // Symbols: the numeric at offset 3 is the fourth local decimal.
    Symbol *count = FindSymInRoutine(&main, "COUNT");
    EXPECT_EQ(count->S_memloc, reinterpret_cast<Address>(main.local_numerics + 3));
    EXPECT_EQ(FindSymInRoutine(&main, "NAME$")->S_memloc, reinterpret_cast<Address>(main.local_chars + 2));
    Symbol *cust = FindSymInRoutine(&main, "CUST");
    EXPECT_EQ(cust->S_memloc, reinterpret_cast<Address>(main.local_structs));
    auto *table = std::get_if<OskaTable_t *>(&cust->S_);
    ASSERT_NE(table, nullptr);
    EXPECT_EQ((*table)->tname, "customer");
    EXPECT_EQ(cust->S_type & s_sigtname, 0u);
    Symbol *brec = FindSymInRoutine(&main, "BREC");
    EXPECT_EQ(brec->S_memloc, reinterpret_cast<Address>(main.local_structs + 44));
    dec_t based;
    std::memcpy(&based, main.local_structs + 44, sizeof based);
    EXPECT_EQ(based.dec_pos, 1);
    EXPECT_EQ(FindSymInRoutine(&main, "ARG")->S_memloc, 4u);  // arguments are placed at call time

    EXPECT_STREQ(FindLoadedFileExIndex(0, &mem->loaded_files), "main.src");
    EXPECT_NE(FindOskaTable(mem->tables, "customer"), nullptr);
}

TEST_F(Loader, SampleProgramLoads)
{
    ASSERT_EQ(load(LUMBA_EXAMPLES_DIR "/hello.obj"), "");
    Application_t *ap = FindApplication("hello__A");
    ASSERT_NE(ap, nullptr);
    EXPECT_EQ(ap->app->routines[0].R_name, "main");
    EXPECT_EQ(ap->app->interp->npc, ap->app->code);
    EXPECT_EQ(ap->app->code[ap->app->code_count - 1].param, o_end);
}

TEST_F(Loader, HashBangLineIsSkipped)
{
    Interp_t *a = nullptr, *b = nullptr;
    ASSERT_EQ(load(assemble(program, "prog.obj"), &a), "");
    ASSERT_EQ(load(assemble(".shebang #!/usr/local/bin/lumba_run\n" + program, "prog.x"), &b), "");
    ASSERT_EQ(a->code_size, b->code_size);
    EXPECT_STREQ(b->program_name, "prog__B");
    EXPECT_EQ(a->code[1] - a->code_base, b->code[1] - b->code_base);
    EXPECT_EQ(a->code_base[14].param, b->code_base[14].param);

    std::string p = assemble(".shebang #!" + std::string(3000, 'x') + "\n" + minimal);
    EXPECT_EQ(load(p), "cannot load " + p + " - first line longer than 2048 bytes");
}

TEST_F(Loader, HeaderChecks)
{
    std::string p = path("prog.obj");
    std::string key(44, '0');
    struct Case {
        std::string header;  // the header directive
        std::string message;
    } cases[] = {
        {".header * * * * * * * * * * * * * * *", "ZEMA object header miss match! Read 15 header fields"},
        {".rawheader \"\"", "ZEMA object header miss match! Read 0 header fields"},
        {".header * * * * * * * * * * * * * * * other", "Compiled in object name [other] != loaded name [prog]\n"},
        {".header * * * * * * * * * * * 0 " + key + " * * other",
         "Compiled in object name [other] != loaded name [prog]\n"},
        {".header * * * * * * * * * * * 43 * * * *", "Version mismatch in program header"},
        {".header * * * * * * * * * * * * " + key + " * * *", "Version mismatch in program header"},
        {".header X1A0611 * * * * * * * * * * * * * * *", "cannot load " + p + " - incomplete binary"},
        {".header V1X0611 71 * * * * * * * * * * * * * *", "cannot load " + p + " - incomplete binary"},
        {".header * 71 * * * * * * * * * * * * * *",
         "cannot load " + p + " - incompatible revision\nObject Version: 71 but expected 70. Please recompile."},
        {".header * 69.99 * * * * * * * * * * * * * *",
         "cannot load " + p + " - incompatible revision\nObject Version: 69 but expected 70. Please recompile."},
        {".header V160611 * * * * * * * * * * * * * * *",
         "cannot load " + p + " - incompatible ISSUE expected V15 but got ISSUE=V160611\n"},
        // The areas together may ask for 1 GiB: code words of 8 bytes, decimals of 22.
        {".header * * 134217729 * * * * * * * * * * * * *",
         "Binary corrupted: header asks for 1073741832 bytes of program areas, more than 1073741824"},
        {".header * * 9 400000000 * * 400000000 * * 400000000 * * * * * *",
         "Binary corrupted: header asks for 9600000072 bytes of program areas, more than 1073741824"},
        {".header * * 9 * * * 500000000 * * 600000000 * * * * * *",
         "Binary corrupted: header asks for 1100000072 bytes of program areas, more than 1073741824"},
        {".header * 70.9 * * * * * * * * * * * * * *", ""},
        {".header V15abcd * * * * * * * * * * * * * * *", ""},
        {".header * * 10 * * * * * * * * * * * * *", ""},  // one spare code word
        {".header * * 9 * * * * * * * * * * * * *", ""},   // the exact word count
        {".header * * 8 * * * * * * * * * * * * *", "Not enought code space!"},
    };
    for (const auto &c : cases) {
        lumba_test::zasm(c.header + "\n" + minimal, p);
        EXPECT_EQ(load(p), c.message) << c.header;
        delete_all_applications();
    }
}

TEST_F(Loader, FilesWithoutAHeader)
{
    EXPECT_EQ(load(assemble(".noheader\n")), "Null load file");
    EXPECT_EQ(load(assemble(".noheader\n.bytes \"V15 70 no newline\"\n")), "Not ZEMA object file - Missing Header");
    std::string missing = dir + "/absent.obj";
    EXPECT_EQ(load(missing), "Cannot load " + missing + ": No such file or directory");
}

// Each program is refused with its message; none writes outside its areas.
TEST_F(Loader, RefusesDamagedRecords)
{
    const std::string start = ".proc r:main I:1 I:4 I:1 I:4 I:30 I:0\n";
    const std::string symtab_head = "symtab\n__ROUTINE__ main 1\n";
    struct Case {
        std::string text;
        std::string message;
    } cases[] = {
        {start + ".bytes 0x1E 0x78 0x0A\nend\n", "Binary corrupted: bad operand type - 0x78 (x)"},
        {start + "loadrc n:1.5x c:0\n", "Binary corrupted: ill-formed decimal number"},
        {start + "loadrc n:1..5 c:0\n", "Binary corrupted: ill-formed decimal number"},
        {start + "loadrc n:\"\" c:0\n", "Binary corrupted: ill-formed decimal number"},
        {start + "loadrc n:1e c:0\n", "Binary corrupted: ill-formed decimal number"},
        {start + "loadrc n:1e9999 c:0\n", "Binary corrupted: ill-formed decimal number"},
        {start + ".bytes 0x02 0x78 0x0A\nend\n", "Binary corrupted: invalid data list type - \"x\""},
        {start + ".data n:1 n:2\nend\n", "Binary corrupted: data list overrun"},
        {start + ".data s:\"abcd\"\nend\n", "Binary corrupted: data list overrun"},
        {".data n:1\n" + start + "end\n", "Binary corrupted: data list outside a routine"},
        {start + "jump l:#39\nend\n", "Binary corrupted: label 39 outside the code area"},
        {start + "jump l:#-1\nend\n", "Binary corrupted: label -1 outside the code area"},
        {".proc r:main I:-1 I:0 I:0 I:0 I:0 I:0\nend\n", "Binary corrupted: bad routine area size"},
        {".proc r:main I:0 I:0\nend\n", "Binary corrupted: bad routine start record"},
        {".proc I:0 I:0 I:0 I:0 I:0 I:0 I:0\nend\n", "Binary corrupted: bad routine start record"},
        {start + "fcallr r:" + std::string(1024, 'f') + " I:0\n", "Binary corrupted: operand text too long"},
        {start + symtab_head + "N 0 0 0x12 1 1 -\n__END_ROUTINE__\n.end\n",
         "Binary corrupted: symbol N outside its area"},
        {start + symtab_head + "S$ 4 0 0x14 4 1 -\n__END_ROUTINE__\n.end\n",
         "Binary corrupted: symbol S$ outside its area"},
        {start + symtab_head + "B 0 0 0x200812 10 1 -\n__END_ROUTINE__\n.end\n",
         "Binary corrupted: symbol B outside its area"},
        {start + symtab_head + "T 0 0 0x200010 0 1 t\n__END_ROUTINE__\n.end\n"
                 "sqltab\n__SQL_TABLES__ 1\nT:t 0 1 0 31\nC:c 2 30 0 0 0 0\n.end\n",
         "Binary corrupted: symbol T outside its area"},
        {start + symtab_head + "T 0 0 0x200010 0 1 nosuch\n__END_ROUTINE__\n.end\n",
         "Cannot find oska table nosuch on needed by var T\n"},
        {start + "symtab\n__ROUTINE__ other 0\n__END_ROUTINE__\n.end\n",
         "Cannot find routine other for loading symbol table\n"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(load_text(c.text), c.message) << c.text;
        delete_all_applications();
    }
}

// Sizes in the header smaller than what the records need.
TEST_F(Loader, RefusesAreasTheHeaderDidNotDeclare)
{
    const std::string start = ".proc r:main I:0 I:0 I:0 I:0 I:0 I:0\n";
    struct Case {
        std::string text;
        std::string message;
    } cases[] = {
        {".header * * * 0 * * * * * * * * * * * *\n" + start + "loadrc n:1 c:0\n",
         "Binary corrupted: numeric area overrun"},
        {".header * * * * * * 1 * * * * * * * * *\n" + start + "loadsc s:\"x\" p:0\n",
         "Binary corrupted: character area overrun"},
        {".header * * * * * 4 * * * * * * * * * *\n.proc r:main I:0 I:0 I:5 I:0 I:0 I:0\n",
         "Binary corrupted: numeric area overrun"},
        {".header * * * * 0 * * * * * * * * * * *\n.proc r:main I:1 I:0 I:0 I:0 I:0 I:0\n",
         "Binary corrupted: numeric area overrun"},
        {".header * * * * * * * * 3 * * * * * * *\n.proc r:main I:0 I:0 I:0 I:4 I:0 I:0\n",
         "Binary corrupted: character area overrun"},
        {".header * * * * * * * * * 9 * * * * * *\n.proc r:main I:0 I:0 I:0 I:0 I:10 I:0\n",
         "Binary corrupted: structure area overrun"},
        {".header * * * 4294967295 4294967295 * * * * * * * * * * *\n" + start,
         "Binary corrupted: header area sizes too large"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(load_text(c.text), c.message) << c.text;
        delete_all_applications();
    }
}

TEST_F(Loader, AllowsAtMost512Routines)
{
    auto calls = [](int n) {
        std::string t = ".proc r:main I:0 I:0 I:0 I:0 I:0 I:0\n";
        for (int i = 1; i < n; ++i) t += "fcallr r:f" + std::to_string(i) + " I:0\n";
        return t;
    };
    ASSERT_EQ(load_text(calls(512)), "");
    EXPECT_EQ(current_application->app->routine_count, 512);
    delete_all_applications();
    EXPECT_EQ(load_text(calls(513)), "Load aborted: too many routines");
}

// Every prefix of a program either loads (cut at a record's end) or is refused; none crashes.
TEST_F(Loader, TruncatedFilesAreRefused)
{
    std::string whole = lumba_test::read_bytes(assemble(program));
    std::string p = path("prog.cut");  // the compiled-in name stays "prog"
    int loaded = 0;
    for (std::size_t n = 0; n < whole.size(); ++n) {
        lumba_test::write_bytes(p, whole.substr(0, n));
        testing::internal::CaptureStderr();
        std::string message = load(p);
        testing::internal::GetCapturedStderr();
        if (message.empty()) {
            ++loaded;
            EXPECT_EQ(whole[n - 1], '\n') << "cut at " << n;
        }
        delete_all_applications();
    }
    EXPECT_GT(loaded, 0);
    lumba_test::write_bytes(p, whole.substr(0, whole.find("\x49__ROUTINE__") + 3));
    EXPECT_EQ(load(p), "Binary corrupted: incomplete object file");
}

TEST_F(Loader, LongStringsCrossBlocks)
{
    std::string text(5000, 'y');
    std::string src = ".proc r:main I:0 I:0 I:0 I:0 I:0 I:0\nloadsc s:\"" + text + "\" p:0\nloadrc n:2 c:0\nend\n";
    ASSERT_EQ(load_text(src), "");
    EXPECT_EQ(std::string(current_application->app->code[9].string), text);
    EXPECT_TRUE(same(current_application->app->code[12].num, "2"));
}

TEST_F(Loader, NamesFollowTheSuffixSequence)
{
    std::string p = assemble(minimal);
    ASSERT_EQ(load(p), "");
    ASSERT_EQ(load(p), "");
    EXPECT_NE(FindApplication("prog__A"), nullptr);
    EXPECT_NE(FindApplication("prog__B"), nullptr);
    AddApplication("prog__ZB");
    ASSERT_EQ(load(p), "");
    EXPECT_NE(FindApplication("prog__AC"), nullptr);
    // Past the last suffix the first one free is taken (B went, as a replaced program does);
    // only when every suffix is in use is the load refused.
    DeleteApplication(FindApplication("prog__B"));
    AddApplication("prog__YZZ");
    ASSERT_EQ(load(p), "");
    EXPECT_NE(FindApplication("prog__B"), nullptr);
    for (int letters = 1; letters <= 3; ++letters)  // every name of one to three capitals but ZZZ
        for (int n = 0, count = letters == 1 ? 26 : letters == 2 ? 676 : 17575; n < count; ++n) {
            std::string suffix;
            for (int i = 0, v = n; i < letters; ++i, v /= 26) suffix += static_cast<char>('A' + v % 26);
            if (!FindApplication(("prog__" + suffix).c_str())) AddApplication(("prog__" + suffix).c_str());
        }
    char suffix[APP_SUFFIX_SIZE] = "";
    EXPECT_FALSE(FirstFreeSuffix("prog", suffix));
    EXPECT_EQ(load(p), "Too many loaded prog applications - free some");
}

TEST_F(Loader, ProgramNamesFitTheContext)
{
    std::string ok(58, 'p'), too_long(59, 'p');
    std::string a = path(ok + ".obj");
    lumba_test::zasm(minimal, a);
    EXPECT_EQ(load(a), "");
    std::string b = path(too_long + ".obj");
    lumba_test::zasm(minimal, b);
    EXPECT_EQ(load(b), "cannot load " + b + " - program name longer than 58 characters");
}

} // namespace
