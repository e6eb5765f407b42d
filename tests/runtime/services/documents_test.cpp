// IDOC_FETCH and IDOC_STORE against the scratch cluster: files into a bytea column and back byte
// for byte (the server's own digest of what was stored), the stops and file errors with their
// texts, a store that changes no row, and writing over what is already at the target, a full file
// system included (a small tmpfs in the test's private mount namespace).
#include <sys/mount.h>
#include <sys/stat.h>

#include <random>

#include "documents_fixture.h"
#include "planted.h"

namespace documents {
namespace {

using lumba_test::abort_text;
using lumba_test::pg_cluster;

class Documents : public DocumentsTest {};

std::string random_bytes(std::size_t n, unsigned seed)
{
    std::mt19937 gen(seed);
    std::string s(n, '\0');
    for (char &c : s) c = static_cast<char>(gen() & 0xFF);
    return s;
}

std::string hex(const void *address)
{
    char text[16];
    std::snprintf(text, sizeof text, "%X", static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(address)));
    return text;
}

std::string md5(const std::string &bytes)
{
    gchar *sum = g_compute_checksum_for_data(G_CHECKSUM_MD5, reinterpret_cast<const guchar *>(bytes.data()), bytes.size());
    std::string s = sum;
    g_free(sum);
    return s;
}

} // namespace

TEST_F(Documents, FilesGoIntoTheColumnAndComeBackByteForByte)
{
    std::string every_byte;
    for (int i = 0; i < 256; ++i) every_byte += static_cast<char>(i);
    struct {
        const char *name;
        std::string bytes;
        bool standard_strings;
    } cases[] = {
        {"empty", "", true},
        {"one piece", random_bytes(4096, 1), true},
        {"one piece and a byte", random_bytes(4097, 2), true},
        {"100 KiB", random_bytes(100 * 1024, 3), true},
        {"every byte value, quotes and backslashes", every_byte + "'\\'\\\\x00" + every_byte, true},
        {"every byte value without standard-conforming strings", every_byte + "'\\'\\\\x00", false},
    };
    int n = 0;
    for (const auto &c : cases) {
        const std::string id = "d" + std::to_string(++n);
        const std::string in = file(id + ".in"), out = file(id + ".out");
        write_file(in, c.bytes);
        if (!c.standard_strings) clear(exec("set standard_conforming_strings = off"));
        put("D", "id", id);
        begin();
        EXPECT_EQ(fetch(in), 0) << c.name << ": " << errmsg();
        EXPECT_EQ(reference("body"), 0u) << c.name;
        EXPECT_EQ(commit(), 1) << c.name;
        EXPECT_EQ(pg_cluster().query("select md5(body) from doc where id = '" + id + "'"), md5(c.bytes)) << c.name;

        const long res = exec("select * from doc where id = '" + id + "'");
        ASSERT_GT(res, 0) << c.name;
        EXPECT_EQ(store(res, out), 0) << c.name;
        EXPECT_EQ(reference("body"), 0u) << c.name;
        EXPECT_TRUE(read_file(out) == c.bytes) << c.name << ": " << read_file(out).size() << " bytes";
        // The result has no row left: nothing is written.
        EXPECT_EQ(store(res, file(id + ".more")), 6) << c.name;
        EXPECT_FALSE(std::filesystem::exists(file(id + ".more"))) << c.name;
        clear(res);
        if (!c.standard_strings) clear(exec("set standard_conforming_strings = on"));
    }
}

TEST_F(Documents, FetchStoresTheWholeRecordAndTheOtherColumnsStay)
{
    // The row's other columns come from the record: the note goes with the document, and a row
    // that is there is updated, not doubled.
    pg_cluster().query("insert into doc values ('d1', 'old', 'old note')");
    write_file(file("in"), "new");
    put("D", "id", "d1");
    put_text("D", "note", "new note");
    begin();
    std::vector<std::string> sent;
    const std::size_t mark = pg_cluster().log_size();
    EXPECT_EQ(fetch(file("in")), 0);
    sent = pg_cluster().statements_since(mark);
    commit();
    EXPECT_EQ(sent, std::vector<std::string>{"UPDATE doc SET body = '\\x6e6577' ,note = 'new note'  WHERE id = 'd1' "});
    EXPECT_EQ(pg_cluster().query("select count(*) || ' ' || convert_from(body, 'UTF8') || ' ' || note from doc group by body, note"),
              "1 new new note");

    // A row with a NULL document gives an empty file.
    pg_cluster().query("insert into doc values ('d2', null, null)");
    write_file(file("out"), "left over");
    const long res = exec("select * from doc where id = 'd2'");
    EXPECT_EQ(store(res, file("out")), 0);
    EXPECT_EQ(read_file(file("out")), "");
    clear(res);
}

TEST_F(Documents, AStoreThatChangesNoRowAnswersOne)
{
    write_file(file("in"), "x");
    put("D", "id", "refused");
    begin();
    EXPECT_EQ(fetch(file("in")), 1);
    EXPECT_EQ(reference("body"), 0u);
    EXPECT_NE(errmsg().find("violates check constraint \"doc_id_check\""), std::string::npos) << errmsg();
    rollback();
    EXPECT_EQ(pg_cluster().query("select count(*) from doc"), "0");
}

TEST_F(Documents, MisuseAndFileErrorsEndTheRunWithTheirTexts)
{
    write_file(file("in"), "x");
    std::filesystem::create_directory(file("dir"));
    pg_cluster().query("insert into doc values ('d1', 'abc', null)");
    struct {
        const char *name;
        std::function<void(Documents &)> call;
        std::string stop;
    } cases[] = {
        {"a text column", [](Documents &t) { t.fetch(t.file("in"), "note"); }, "Column note in table doc is type text, not bytea"},
        {"a column the table has not", [](Documents &t) { t.fetch(t.file("in"), "nope"); }, "No column nope table named doc"},
        {"the store names the column as well",
         [](Documents &t) { t.store(t.exec("select * from doc"), t.file("out"), "NOTE"); },
         "Column NOTE in table doc is type text, not bytea"},
        {"a missing file", [](Documents &t) { t.fetch(t.file("missing")); },
         "IDOC_FETCH: Cannot open " + file("missing") + " for reading. Error - No such file or directory"},
        {"a directory to read", [](Documents &t) { t.fetch(t.file("dir")); }, "IDOC_FETCH: Error reading file"},
        {"no transaction block", [](Documents &t) { t.fetch(t.file("in")); },
         "OskaPgStoreX: Transaction has NOT been started yet on table doc (is ipqbegin() missing ?)"},
        {"a directory to write", [](Documents &t) { t.store(t.exec("select * from doc"), t.file("dir")); },
         "IDOC_STORE: Cannot open " + file("dir") + " for writing. Error - Is a directory"},
        {"a missing directory to write in",
         [](Documents &t) { t.store(t.exec("select * from doc"), t.file("none/out")); },
         "IDOC_STORE: Cannot open " + file("none/out") + " for writing. Error - No such file or directory"},
        {"an unknown result handle", [](Documents &t) { t.store(99, t.file("out")); },
         "OskaPgFetchX: unknown result handle 99"},
        {"three arguments",
         [](Documents &t) { t.numeric(in_IDOC_FETCH, {num(t.conn), str("body"), str(t.file("in"))}); },
         "IDOC_FETCH called with wrong number of arguments (3)"},
        {"no structure at the address",
         [](Documents &t) { t.numeric(in_IDOC_STORE, {num(1), str("body"), str(t.file("in")), structure(t.record("D") + 8, &t.main_routine())}); },
         "No symtab found for struct at 0x" + hex(record("D") + 8)},
    };
    put("D", "id", "d9");
    for (const auto &c : cases) {
        EXPECT_EQ(abort_text([&] { c.call(*this); }), c.stop) << c.name;
        EXPECT_EQ(reference("body"), 0u) << c.name;
    }
    EXPECT_FALSE(std::filesystem::exists(file("out")));
    EXPECT_EQ(pg_cluster().query("select count(*) from doc"), "1");
}

TEST_F(Documents, WritingOverWhatIsThere)
{
    pg_cluster().query("insert into doc values ('d1', 'document', null)");
    write_file(file("kept"), "old");
    chmod(file("kept").c_str(), 0640);
    write_file(file("linked"), "old");
    std::filesystem::create_symlink(file("linked"), file("link"));
    write_file(file("twice"), "old");
    std::filesystem::create_hard_link(file("twice"), file("twice2"));
    struct {
        const char *target;
        const char *looked_at;  // where the document must be found
        mode_t kind;
        mode_t mode;            // permission bits afterwards, 0: not checked
    } cases[] = {
        {"new", "new", S_IFREG, 0},
        {"kept", "kept", S_IFREG, 0640},          // a replaced file keeps its permissions
        {"link", "linked", S_IFREG, 0},           // written where the link leads; the link stays
        {"twice", "twice2", S_IFREG, 0},          // both names see the new document
        {"/dev/null", "/dev/null", S_IFCHR, 0},   // a device stays a device
    };
    for (const auto &c : cases) {
        const std::string target = c.target[0] == '/' ? c.target : file(c.target);
        const std::string seen = c.looked_at[0] == '/' ? c.looked_at : file(c.looked_at);
        const long res = exec("select * from doc");
        EXPECT_EQ(store(res, target), 0) << c.target;
        clear(res);
        struct stat st;
        ASSERT_EQ(lstat(seen.c_str(), &st), 0) << c.target;
        EXPECT_EQ(st.st_mode & S_IFMT, c.kind) << c.target;
        if (c.kind == S_IFREG) {
            EXPECT_EQ(read_file(seen), "document") << c.target;
        }
        if (c.mode) {
            EXPECT_EQ(st.st_mode & 07777, c.mode) << c.target;
        }
    }
    EXPECT_TRUE(std::filesystem::is_symlink(file("link")));
    // No temporary file is left beside the targets.
    std::vector<std::string> names;
    for (const auto &e : std::filesystem::directory_iterator(scratch)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"kept", "link", "linked", "new", "twice", "twice2"}));
}

TEST_F(Documents, InASharedDirectoryNothingPlantedIsWrittenOrRead)
{
    // A sticky directory anyone may write to, as /tmp: there a link or another user's file is
    // never taken for the program's own.
    const std::string shared = file("shared");
    std::filesystem::create_directory(shared);
    chmod(shared.c_str(), 01777);
    write_file(file("victim"), "secret");
    std::filesystem::create_symlink(file("victim"), shared + "/link");
    write_file(shared + "/theirs", "theirs");
    ASSERT_EQ(chown((shared + "/theirs").c_str(), 1, 1), 0);
    write_file(shared + "/mine", "old");
    pg_cluster().query("insert into doc values ('d1', 'document', null)");
    struct {
        const char *name;
        std::function<long(Documents &)> call;
        std::string stop;  // "" when the call answers 0
    } cases[] = {
        {"a store through a link",
         [&](Documents &t) { return t.store(t.exec("select * from doc"), shared + "/link"); },
         "IDOC_STORE: Cannot open " + shared + "/link for writing. Error - Too many levels of symbolic links"},
        {"a store over another user's file",
         [&](Documents &t) { return t.store(t.exec("select * from doc"), shared + "/theirs"); },
         "IDOC_STORE: Cannot open " + shared + "/theirs for writing. Error - Permission denied"},
        {"a fetch through a link", [&](Documents &t) { return t.fetch(shared + "/link"); },
         "IDOC_FETCH: Cannot open " + shared + "/link for reading. Error - Too many levels of symbolic links"},
        {"a store over our own file", [&](Documents &t) { return t.store(t.exec("select * from doc"), shared + "/mine"); },
         ""},
    };
    put("D", "id", "d2");
    begin();
    for (const auto &c : cases) {
        long result = -1;
        EXPECT_EQ(abort_text([&] { result = c.call(*this); }), c.stop) << c.name;
        if (c.stop.empty()) {
            EXPECT_EQ(result, 0) << c.name;
        }
    }
    rollback();
    EXPECT_EQ(read_file(file("victim")), "secret");
    EXPECT_EQ(read_file(shared + "/theirs"), "theirs");
    EXPECT_EQ(read_file(shared + "/mine"), "document");
    EXPECT_TRUE(std::filesystem::is_symlink(shared + "/link"));
}

TEST_F(Documents, NothingAnotherUserPlantedOnTheWayIsWrittenOrRead)
{
    // A shared directory of another user's with their link for a subdirectory, a link for a
    // file, a file and a directory of theirs: no document goes through any of them.
    const std::string pub = file("pub"), elsewhere = file("elsewhere");
    lumba_test::make_their_shared_directory(pub);
    std::filesystem::create_directory(elsewhere);
    write_file(elsewhere + "/kept", "kept");
    lumba_test::plant_link(elsewhere, pub + "/sub");
    lumba_test::plant_link(elsewhere + "/kept", pub + "/link");
    lumba_test::plant_file(pub + "/theirs", "theirs");
    lumba_test::plant_directory(pub + "/their-dir");
    pg_cluster().query("insert into doc values ('d1', 'document', null)");
    const std::string loop = "Too many levels of symbolic links", denied = "Permission denied";
    auto unwritable = [](const std::string &path, const std::string &why) {
        return "IDOC_STORE: Cannot open " + path + " for writing. Error - " + why;
    };
    struct {
        std::string path;
        bool store;
        std::string stop;  // "" when the call answers 0
    } cases[] = {
        {pub + "/sub/new", true, unwritable(pub + "/sub/new", loop)},
        {pub + "/sub/kept", true, unwritable(pub + "/sub/kept", loop)},
        {pub + "/link", true, unwritable(pub + "/link", loop)},
        {pub + "/theirs", true, unwritable(pub + "/theirs", denied)},
        {pub + "/their-dir/new", true, unwritable(pub + "/their-dir/new", denied)},
        {pub + "/sub/kept", false, "IDOC_FETCH: Cannot open " + pub + "/sub/kept for reading. Error - " + loop},
        {pub + "/mine", true, ""},
    };
    put("D", "id", "d2");
    begin();
    for (const auto &c : cases) {
        long result = -1;
        EXPECT_EQ(abort_text([&] { result = c.store ? store(exec("select * from doc"), c.path) : fetch(c.path); }), c.stop)
            << c.path;
        if (c.stop.empty()) {
            EXPECT_EQ(result, 0) << c.path;
        }
    }
    rollback();
    std::vector<std::string> names;
    for (const auto &e : std::filesystem::directory_iterator(elsewhere)) names.push_back(e.path().filename());
    EXPECT_EQ(names, std::vector<std::string>{"kept"});
    EXPECT_EQ(read_file(elsewhere + "/kept"), "kept");
    EXPECT_EQ(read_file(pub + "/theirs"), "theirs");
    EXPECT_TRUE(std::filesystem::is_empty(pub + "/their-dir"));
    EXPECT_EQ(read_file(pub + "/mine"), "document");
}

TEST_F(Documents, AFullFileSystemLeavesTheEarlierFileWhole)
{
    // 64 KiB of tmpfs in this test's private mount namespace (the program runs under isolate).
    const std::string small = file("small");
    std::filesystem::create_directory(small);
    ASSERT_EQ(mount("tmpfs", small.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "size=64k"), 0) << std::strerror(errno);
    const std::string earlier = random_bytes(10 * 1024, 4);
    write_file(small + "/doc", earlier);

    const std::string big = random_bytes(100 * 1024, 5);
    write_file(file("big"), big);
    put("D", "id", "big");
    begin();
    ASSERT_EQ(fetch(file("big")), 0);
    commit();
    const long res = exec("select * from doc");
    EXPECT_EQ(abort_text([&] { store(res, small + "/doc"); }), "IDOC_FETCH: Error reading file");
    EXPECT_TRUE(read_file(small + "/doc") == earlier);
    std::vector<std::string> names;
    for (const auto &e : std::filesystem::directory_iterator(small)) names.push_back(e.path().filename());
    EXPECT_EQ(names, std::vector<std::string>{"doc"});
    umount2(small.c_str(), MNT_DETACH);
}

} // namespace documents
