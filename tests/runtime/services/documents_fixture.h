// A fixture for the document and video intrinsics: a program with structure variables of a table
// with a bytea and a text column is loaded in-process, the same table is made in this test
// program's scratch cluster, the intrinsics are called through the dispatchers (PgCalls of
// pg_fixture.h), and each test has a scratch directory of its own.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "../core/exec_fixture.h"
#include "pg_fixture.h"
#include "sql.h"
#include "structops.h"

namespace documents {

// Table doc: id varchar(10) key, body bytea, note text; variables D and E of it. The server
// refuses the id 'refused', so a store can fail.
inline const char *const program_text = R"(
.proc r:main I:0 I:0 I:1 I:0 I:64 I:0
end
symtab
__ROUTINE__ main 2
D 0 0 0x200010 0 1 doc
E 0 0 0x200010 32 2 doc
__END_ROUTINE__
.end
sqltab
__SQL_TABLES__ 1
T:doc 1 3 0 32
C:id 3 10 0 0 0 0
C:body 6 0 0 16 0 0
C:note 5 0 0 24 0 0
I:doc_pkey 1
0
.end
)";

inline const char *const server_tables =
    "create table doc (id varchar(10) primary key check (id <> 'refused'), body bytea, note text);";

inline std::string read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void write_file(const std::string &path, const std::string &bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

class DocumentsTest : public ExecTest, public PgCalls {
public:
    void SetUp() override
    {
        ExecTest::SetUp();
        ASSERT_EQ(load_text(program_text, &context), "");
        ap = current_application;
        sp = -1;
        lumba_test::pg_cluster().query(server_tables);
        conn = numeric(in_IPQCONNECTDB, {str(lumba_test::pg_cluster().conninfo())});
        ASSERT_EQ(conn, 1);
        scratch = dir + "/scratch";
        std::filesystem::create_directory(scratch);
    }

    void TearDown() override
    {
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        FreeAllPgRes();
        FreeAllPgConn();
        testing::internal::GetCapturedStdout();
        testing::internal::GetCapturedStderr();
        std::filesystem::remove_all(scratch);
        ExecTest::TearDown();
    }

    std::string file(const std::string &name) const { return scratch + "/" + name; }

    long exec(const std::string &sql) { return numeric(in_IPQEXEC, {num(conn), str(sql)}); }
    long clear(long res) { return numeric(in_IPQCLEAR, {num(res)}); }
    void begin() { statement(in_IPQBEGIN, {num(conn)}); }
    long commit() { return numeric(in_IPQCOMMIT, {num(conn)}); }
    void rollback() { statement(in_IPQROLLBACK, {num(conn)}); }
    std::string errmsg()
    {
        testing::internal::CaptureStderr();
        std::string m = text(in_IPQERRMSG);
        testing::internal::GetCapturedStderr();
        return m;
    }

    // IDOC_FETCH of path into column of D's row, IDOC_STORE of the next row of res into path.
    long fetch(const std::string &path, const char *column = "body")
    {
        return numeric(in_IDOC_FETCH, {num(conn), str(column), str(path), rec("D")});
    }
    long store(long res, const std::string &path, const char *column = "body")
    {
        return numeric(in_IDOC_STORE, {num(res), str(column), str(path), rec("D")});
    }

    // ---- Records ------------------------------------------------------------------------------

    Routine &main_routine() { return ap->app->routines[0]; }
    char *record(const char *var) { return reinterpret_cast<char *>(FindSymInRoutine(&main_routine(), var)->S_memloc); }
    PgArg rec(const char *var) { return structure(record(var), &main_routine()); }
    char *field(const char *var, const char *col)
    {
        int index = -1;
        const Symbol *s = FindSymInRoutine(&main_routine(), var);
        return record(var) + FindOskaCol(std::get<OskaTable_t *>(s->S_), col, &index)->offset;
    }
    // The id, blank-padded to its ten characters.
    void put_id(const std::string &id)
    {
        std::string padded = id;
        padded.resize(10, ' ');
        std::memcpy(field("D", "id"), padded.data(), padded.size());
    }
    // The eight bytes of a text reference field, as a number (0: no text).
    std::uint64_t reference(const char *col)
    {
        std::uint64_t v = 0;
        std::memcpy(&v, field("D", col), sizeof v);
        return v;
    }
    // A registered text in D's note field.
    void put_note(const char *value)
    {
        auto *block = static_cast<char *>(salloc(std::strlen(value) + 1));
        std::strcpy(block, value);
        text_field_set(field("D", "note"), block, "test");
    }

    Application_t *ap = nullptr;
    long conn = 0;
    std::string scratch;
};

} // namespace documents
