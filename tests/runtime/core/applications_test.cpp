// Applications: suffixes, lookup, the deletion rules, tracked handles and the listings.
#include <cstdio>
#include <string>
#include <vector>

#include "core_fixture.h"
#include "hooks.h"
#include "ilist.h"
#include "message.h"

namespace {

using Applications = CoreTest;

std::string names()
{
    std::string all;
    for (Application_t *ap = applications; ap; ap = ap->next) all += std::string(all.empty() ? "" : " ") + ap->name;
    return all;
}

void add_all(const std::vector<const char *> &list)
{
    for (const char *n : list) AddApplication(n);
}

std::string next_suffix(const char *existing)
{
    std::string name = std::string("x__") + existing;
    AddApplication(name.c_str());
    char suffix[APP_SUFFIX_SIZE] = "";
    Application_t *ap = FindLastApplication("x", suffix);
    std::string next = ap ? suffix : "(none)";
    CoreTest::delete_all_applications();
    return next;
}

// Deletion without reporting to the test's output.
void del(const char *name, void *owner = nullptr)
{
    testing::internal::CaptureStderr();
    DelApplication(name, owner);
    testing::internal::GetCapturedStderr();
}

TEST_F(Applications, SuffixesAdvanceFirstLetterFastest)
{
    struct {
        const char *existing, *next;
    } cases[] = {
        {"A", "B"}, {"Y", "Z"}, {"Z", "AA"}, {"AA", "BA"}, {"ZA", "AB"},
        {"ZY", "AZ"}, {"ZZ", "AAA"}, {"ZAA", "ABA"}, {"ZZA", "AAB"}, {"YZZ", "ZZZ"},
    };
    for (const auto &c : cases) EXPECT_EQ(next_suffix(c.existing), c.next) << c.existing;
}

TEST_F(Applications, NewestOfTheBaseGivesTheNextName)
{
    add_all({"x__A", "x__B", "xy__Q", "x__C", "x__extra__A", "other__K"});
    char suffix[APP_SUFFIX_SIZE] = "";
    Application_t *ap = FindLastApplication("x", suffix);
    ASSERT_NE(ap, nullptr);
    EXPECT_STREQ(ap->name, "x__C");
    EXPECT_STREQ(suffix, "D");
    EXPECT_EQ(FindLastApplication("", suffix), nullptr);
    EXPECT_EQ(FindLastApplication("y", suffix), nullptr);
    // Adding an existing name gives the existing record; new ones go to the tail.
    EXPECT_EQ(AddApplication("x__B"), FindApplication("x__B"));
    EXPECT_EQ(names(), "x__A x__B xy__Q x__C x__extra__A other__K");
    EXPECT_EQ(FindApplication("x__Z"), nullptr);
}

TEST_F(Applications, DeletionByName)
{
    struct Case {
        const char *what;
        std::vector<const char *> busy;
        int delete_ok;
        const char *name;
        const char *left;
        std::vector<const char *> running = {};  // routines of it run
    } cases[] = {
        {"unknown name", {}, 1, "nope", "a__A b__A c__A d__A"},
        {"walks back over unowned predecessors", {}, 1, "c__A", "d__A"},
        {"the first application stays until allowed", {}, 0, "c__A", "a__A d__A"},
        {"the only first application stays", {}, 0, "a__A", "a__A b__A c__A d__A"},
        {"stops at a busy predecessor", {"b__A"}, 1, "d__A", "a__A b__A"},
        {"a busy named application stays", {"c__A"}, 1, "c__A", "a__A b__A c__A d__A"},
        {"a busy successor goes with it", {"d__A"}, 1, "c__A", ""},
        {"a busy successor running a routine stays", {"d__A"}, 1, "c__A", "d__A", {"d__A"}},
        {"a named application running a routine stays", {}, 1, "c__A", "a__A b__A c__A d__A", {"c__A"}},
        {"stops at a predecessor running a routine", {}, 1, "d__A", "a__A b__A", {"b__A"}},
    };
    for (const auto &c : cases) {
        add_all({"a__A", "b__A", "c__A", "d__A"});
        for (const char *b : c.busy) FindApplication(b)->busy = 1;
        for (const char *r : c.running) FindApplication(r)->running = 1;
        last_ap_delete_ok = c.delete_ok;
        del(c.name);
        EXPECT_EQ(names(), c.left) << c.what;
        delete_all_applications();
    }
}

TEST_F(Applications, DeletionWalkStopsAtAnotherWindow)
{
    int w1, w2;
    add_all({"a__A", "b__A", "c__A", "d__A"});
    FindApplication("b__A")->owner_window = &w2;
    FindApplication("c__A")->owner_window = &w1;
    FindApplication("d__A")->owner_window = &w1;
    last_ap_delete_ok = 1;
    del("d__A", &w1);
    EXPECT_EQ(names(), "a__A b__A");
    // A windowed predecessor without an owner also ends the walk.
    add_all({"e__A"});
    FindApplication("a__A")->windowed = 1;
    FindApplication("b__A")->owner_window = nullptr;
    del("e__A", &w1);
    EXPECT_EQ(names(), "a__A");
}

TEST_F(Applications, DeletionByOwnerWindow)
{
    int w;
    add_all({"a__A", "b__A", "c__A", "d__A"});
    for (Application_t *ap = applications; ap; ap = ap->next) ap->owner_window = &w;
    FindApplication("c__A")->windowed = 1;
    del(nullptr, &w);
    EXPECT_EQ(names(), "a__A b__A c__A d__A");  // the first one is protected and ends the walk
    last_ap_delete_ok = 1;
    FindApplication("b__A")->busy = 1;
    del("", &w);
    EXPECT_EQ(names(), "b__A c__A d__A");
    FindApplication("b__A")->busy = 0;
    FindApplication("b__A")->running = 1;  // a routine of it runs
    del("", &w);
    EXPECT_EQ(names(), "b__A c__A d__A");
    FindApplication("b__A")->running = 0;
    del("", &w);
    EXPECT_EQ(names(), "c__A");
}

TEST_F(Applications, DeletingReportsWhatIsLeft)
{
    add_all({"a__A", "b__A"});
    Application_t *ap = FindApplication("b__A");
    ap->app = NewApplicationMem(4, 2, 10, 30);
    Interp_t *interp = new_context();
    ap->app->interp = interp;
    interp->sp = 1;
    interp->Stk[1].s_t = string;
    interp->Stk[1].s_c.C_S = ap->app->chars;  // a text the entry does not own
    interp->Stk[0].s_t = real;
    last_ap_delete_ok = 1;
    testing::internal::CaptureStderr();
    DelApplication("b__A", nullptr);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("DELETING application b__A @ "), std::string::npos) << err;
    EXPECT_NE(err.find(" -- There are 2 elements left on Basic stack.\n"), std::string::npos) << err;
    EXPECT_NE(err.find(" -- 1: there is a non-NULL string left on Stack, address: "), std::string::npos) << err;
    EXPECT_EQ(err.find(" -- 0:"), std::string::npos) << err;
}

TEST_F(Applications, TrackedHandles)
{
    AppMemory_t *mem = NewApplicationMem(1, 0, 0, 0);
    AddLoadedFile("main.src", &mem->loaded_files);
    AppIlistAdd(mem, APP_HANDLE_ILIST, 11, "prog__A", 7, 0);
    AppIlistAdd(mem, APP_HANDLE_OODOC, 22, "prog__A", 9, 5);
    AppIlistAdd(mem, APP_HANDLE_ILIST, 33, "prog__A", 12, 0);
    EXPECT_STREQ(mem->handles_first->file, "main.src");
    EXPECT_STREQ(mem->handles_first->next->file, "unknown");
    AppIlistDel(mem, 22);
    AppIlistDel(mem, 99);  // unknown: ignored
    ASSERT_NE(mem->handles_first, nullptr);
    EXPECT_EQ(mem->handles_first->handle, 11u);
    EXPECT_EQ(mem->handles_first->next, mem->handles_last);
    EXPECT_EQ(mem->handles_last->handle, 33u);
    EXPECT_EQ(mem->handles_last->prev, mem->handles_first);
    AppIlistDel(mem, 11);
    AppIlistDel(mem, 33);
    EXPECT_EQ(mem->handles_first, nullptr);
    EXPECT_EQ(mem->handles_last, nullptr);

    // A list left behind is reported and destroyed with the memory space.
    IList_t *list = ilist_declare(ILIST_STRING);
    AppIlistAdd(mem, APP_HANDLE_ILIST, reinterpret_cast<std::uintptr_t>(list), "prog__A", 12, 0);
    testing::internal::CaptureStderr();
    std::string message = lumba_test::abort_text([&] { DeleteApplicationMem(mem); });
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "Unfreed ilist around line 12 of main.src (app: prog__A)\n");
    EXPECT_EQ(message, "");
    EXPECT_EQ(ilist_type(list), 0);
}

// A document-insertion handle left behind is reported on standard error, mailed to the maker and
// released by the layer that registered its release.
TEST_F(Applications, DocumentHandlesLeftBehindAreMailedAndReleased)
{
    static std::vector<std::uintptr_t> released;
    released.clear();
    AppMemory_t *mem = NewApplicationMem(1, 0, 0, 0);
    AddLoadedFile("main.src", &mem->loaded_files);
    AppIlistAdd(mem, APP_HANDLE_OODOC, 22, "prog__A", 9, 0);
    const InsertionHandleRelease standard =
        register_insertion_handle_release([](std::uintptr_t h) { released.push_back(h); });
    lumba_test::mail_reports().clear();
    testing::internal::CaptureStderr();
    std::string message = lumba_test::abort_text([&] { DeleteApplicationMem(mem); });
    std::string err = testing::internal::GetCapturedStderr();
    register_insertion_handle_release(standard);
    EXPECT_EQ(message, "");
    EXPECT_EQ(err, "Unfreed oo doc around line 9 of main.src (app: prog__A)\n");
    EXPECT_EQ(released, std::vector<std::uintptr_t>{22});
    ASSERT_EQ(lumba_test::mail_reports().size(), 1u);
    EXPECT_EQ(lumba_test::mail_reports()[0].recipient, RUNTIME_ADDRESS);
    EXPECT_EQ(lumba_test::mail_reports()[0].text, "Unfreed oo doc around line 9 of main.src (app: prog__A)");
}

TEST_F(Applications, LayersAboveHearOfAMemorySpaceBeforeItGoes)
{
    struct Told {
        const AppMemory_t *mem;
        bool routines_there;  // what a layer looked up in the space is still readable
    };
    static std::vector<Told> told;
    told.clear();
    const AppMemoryRelease standard =
        register_app_memory_release([](const AppMemory_t *m) { told.push_back({m, m->routines != nullptr}); });
    add_all({"a__A", "b__A"});
    AppMemory_t *mem = FindApplication("b__A")->app = NewApplicationMem(1, 0, 0, 0);
    last_ap_delete_ok = 1;
    del("b__A");
    register_app_memory_release(standard);
    ASSERT_EQ(told.size(), 1u);
    EXPECT_EQ(told[0].mem, mem);
    EXPECT_TRUE(told[0].routines_there);
}

TEST_F(Applications, RoutineLookups)
{
    std::string p = assemble(".proc r:main I:0 I:0 I:1 I:0 I:0 I:0\nfcallr r:sub I:0\nend\n"
                             ".proc r:sub I:0 I:0 I:1 I:0 I:0 I:0\nend\n"
                             "symtab\n__ROUTINE__ sub 1\nX 0 0 0x12 0 1 -\n__END_ROUTINE__\n.end\n");
    ASSERT_EQ(load(p), "");
    Application_t *ap = current_application;
    int index = 7;
    EXPECT_EQ(FindAppRoutine(ap, "sub", &index), &ap->app->routines[1]);
    EXPECT_EQ(index, 1);
    EXPECT_EQ(FindAppRoutine(ap, "none", &index), nullptr);
    EXPECT_EQ(index, -1);
    EXPECT_EQ(FindAppRoutine(nullptr, "sub", &index), nullptr);
    EXPECT_EQ(GetRoutine(0), &ap->app->routines[0]);
    EXPECT_EQ(GetRoutine(-1), nullptr);
    EXPECT_EQ(GetRoutine(2), nullptr);
    EXPECT_EQ(SeekRunTimeRoutine("sub"), &ap->app->routines[1]);
    EXPECT_NE(FindSymInRoutine(SeekRunTimeRoutine("sub"), "X"), nullptr);
    EXPECT_EQ(FindSymInRoutine(SeekRunTimeRoutine("sub"), "Y"), nullptr);
}

TEST_F(Applications, Listings)
{
    std::string p = assemble(".proc r:main I:0 I:0 I:1 I:0 I:0 I:0\nfcallr r:a I:0\nfcallr r:b I:0\nend\n"
                             "symtab\n__ROUTINE__ main 1\nX 0 0 0x12 0 1 -\n__END_ROUTINE__\n.end\n"
                             "loadedfiles\n__LOADED_FILES__ 1\nmain.src\n.end\n");
    ASSERT_EQ(load(p), "");
    char *buf = nullptr;
    std::size_t size = 0;
    std::FILE *out = open_memstream(&buf, &size);
    PrintAllAppVariables("Variables", out);
    std::fclose(out);
    std::string text(buf, size);
    std::free(buf);
    EXPECT_EQ(text.rfind("Variables\n\nApplication 0x", 0), 0u) << text;
    EXPECT_NE(text.find(" prog__A CURRENT\nCode: 0x"), std::string::npos) << text;
    EXPECT_NE(text.find(", size 15, routines 3, interp 0x"), std::string::npos) << text;
    EXPECT_NE(text.find("Vars: Num 1 @ 0x"), std::string::npos) << text;
    EXPECT_NE(text.find("Routines: 3\n"), std::string::npos) << text;
    EXPECT_NE(text.find("[main                    ] "), std::string::npos) << text;
    EXPECT_NE(text.find("[b                       ] \n__LOADED_FILES__ 1\n0\tmain.src\n"), std::string::npos)
        << text;
    EXPECT_NE(text.find("[main                            ] variables\n"
                        "Varname Dim[0] Dim[1] Flag_Wd (Flags) Memloc Order [StructName]\nX 0 0 0x12"),
              std::string::npos)
        << text;
}

} // namespace
