// A fixture for the document and video intrinsics: the structure-to-row fixture (pg_rows_fixture.h)
// over a program with structure variables of a table with a bytea and a text column, and a
// scratch directory for each test.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "pg_rows_fixture.h"

namespace documents {

// Table doc: id varchar(10) key, body bytea, note text; the variable D of it. The server
// refuses the id 'refused', so a store can fail.
inline const char *const program_text = R"(
.proc r:main I:0 I:0 I:1 I:0 I:32 I:0
end
symtab
__ROUTINE__ main 1
D 0 0 0x200010 0 1 doc
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

class DocumentsTest : public pg_rows::PgRowsTest {
public:
    DocumentsTest() : PgRowsTest(program_text, server_tables) {}

    void SetUp() override
    {
        PgRowsTest::SetUp();
        scratch = dir + "/scratch";
        std::filesystem::create_directory(scratch);
    }

    void TearDown() override
    {
        std::filesystem::remove_all(scratch);
        PgRowsTest::TearDown();
    }

    std::string file(const std::string &name) const { return scratch + "/" + name; }

    long clear(long res) { return numeric(in_IPQCLEAR, {num(res)}); }
    // The error kept for IPQERRMSG$.
    static std::string errmsg() { return lasterrmsg ? lasterrmsg : ""; }

    // IDOC_FETCH of path into column of D's row, IDOC_STORE of the next row of res into path.
    long fetch(const std::string &path, const char *column = "body")
    {
        return numeric(in_IDOC_FETCH, {num(conn), str(column), str(path), rec("D")});
    }
    long store(long res, const std::string &path, const char *column = "body")
    {
        return numeric(in_IDOC_STORE, {num(res), str(column), str(path), rec("D")});
    }

    // The eight bytes of D's text reference field col, as a number (0: no text).
    std::uint64_t reference(const char *col)
    {
        std::uint64_t v = 0;
        std::memcpy(&v, field("D", col), sizeof v);
        return v;
    }

    std::string scratch;
};

} // namespace documents
