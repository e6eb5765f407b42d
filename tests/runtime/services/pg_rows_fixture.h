// A fixture for the structure-to-row intrinsics: a program whose structure variables are laid out
// from a zasm sqltab section is loaded in-process, tables of the same shape are made in this test
// program's scratch cluster, and the intrinsics are called through the dispatchers
// (IntrinsicCall of intrinsic_call.h) with value-stack entries as the executor makes them (a
// structure as its record's address and declaring routine).
#pragma once

#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "../core/exec_fixture.h"
#include "pg_fixture.h"
#include "pg_rows.h"
#include "program_text.h"
#include "sql.h"
#include "structops.h"
#include "value_stack.h"

namespace pg_rows {

// Tables (each with the columns the server table of the same name has):
//   person: id varchar(10) key, code char(4), amount numeric(9,2), born date, notes text,
//           AUTO_I_created timestamp (with time zone; stamped on insert);
//   item:   id serial(4) key, blob oid, data bytea, due timestampw, opens timew, alarm time (with
//           time zone), AUTO_U_changed timestamp (stamped on update), AUTO_I_zone_TZ and
//           AUTO_U_zone_TZ varchar(40) (the server's time zone on insert / update), and three
//           columns with defaults: starts date '2000-01-01', label varchar(8) 'none', memo text 'n/a';
//   t:      k varchar(4) key, a varchar(4), b text;
//   wrap:   k varchar(4) key, nested struct (a column no row operation can handle);
//   loose:  v varchar(10), no primary key.
// Variables: P and Q person, I item, T t, W wrap, L loose.
inline const char *const program_text = R"(
.proc r:main I:0 I:0 I:1 I:0 I:640 I:0
end
symtab
__ROUTINE__ main 6
P 0 0 0x200010 0 1 person
Q 0 0 0x200010 96 2 person
I 0 0 0x200010 192 3 item
T 0 0 0x200010 448 4 t
W 0 0 0x200010 472 5 wrap
L 0 0 0x200010 584 6 loose
__END_ROUTINE__
.end
sqltab
__SQL_TABLES__ 5
T:person 1 6 0 95
C:id 3 10 0 0 0 0
C:code 2 4 0 11 0 0
C:amount 4 9 2 22 0 0
C:born 1 0 0 44 0 0
C:notes 5 0 0 56 0 0
C:AUTO_I_created 8 0 0 64 0 0
I:person_pkey 1
0
T:item 1 12 0 256
C:id 12 4 0 0 0 0
C:blob 13 10 0 22 0 0
C:data 6 0 0 48 0 0
C:due 9 0 0 56 0 0
C:opens 11 0 0 81 0 0
C:alarm 10 0 0 100 0 0
C:AUTO_U_changed 8 0 0 114 0 0
C:AUTO_I_zone_TZ 3 40 0 145 0 0
C:AUTO_U_zone_TZ 3 40 0 186 0 0
C:starts 1 0 0 227 11 0
2000-01-01
C:label 3 8 0 238 5 0
none
C:memo 5 0 0 248 4 0
n/a
I:item_pkey 1
0
T:t 1 3 0 24
C:k 3 4 0 0 0 0
C:a 3 4 0 5 0 0
C:b 5 0 0 16 0 0
I:t_pkey 1
0
T:wrap 1 2 0 104
C:k 3 4 0 0 0 0
C:nested 7 96 0 8 0 6
person
I:wrap_pkey 1
0
T:loose 0 1 0 11
C:v 3 10 0 0 0 0
.end
)";

inline const char *const server_tables = R"(
create table person (id varchar(10) primary key, code char(4), amount numeric(9,2), born date, notes text,
                     AUTO_I_created timestamp with time zone);
create table person_archive (like person);
alter table person_archive add primary key (id);
create table item (id serial primary key, blob oid, data bytea, due timestamp without time zone,
                   opens time without time zone, alarm time with time zone, AUTO_U_changed timestamp with time zone,
                   AUTO_I_zone_TZ varchar(40), AUTO_U_zone_TZ varchar(40), starts date, label varchar(8), memo text);
create table t (k varchar(4) primary key, a varchar(4), b text);
create table wrap (k varchar(4) primary key, nested text);
create table loose (v varchar(10));
)";

class PgRowsTest : public ExecTest, public lumba_test::IntrinsicCall {
public:  // used by the cases' lambdas
    // The program and server tables above, or a pair of a test's own.
    explicit PgRowsTest(const char *program = program_text, const char *tables = server_tables)
        : program_(program), tables_(tables)
    {
    }

    void SetUp() override
    {
        ExecTest::SetUp();
        ASSERT_EQ(load_text(program_, &context), "");
        ap = current_application;
        sp = -1;
        lumba_test::pg_cluster().query(tables_);
        conn = connect();
        ASSERT_EQ(conn, 1);
    }

    void TearDown() override
    {
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        FreeAllPgRes();
        FreeAllPgConn();
        testing::internal::GetCapturedStdout();
        testing::internal::GetCapturedStderr();
        for (std::uint64_t *c : {&pg_req_count, &pg_select_count, &pg_insert_count, &pg_update_count, &pg_delete_count,
                                 &pg_truncate_count, &pg_comment_count, &pg_begin_count, &pg_commit_count,
                                 &pg_rollback_count})
            *c = 0;
        ExecTest::TearDown();
    }

    long connect() { return numeric(in_IPQCONNECTDB, {str(lumba_test::pg_cluster().conninfo())}); }
    long exec(const std::string &sql) { return numeric(in_IPQEXEC, {num(conn), str(sql)}); }
    void begin() { statement(in_IPQBEGIN, {num(conn)}); }
    long commit() { return numeric(in_IPQCOMMIT, {num(conn)}); }
    void rollback() { statement(in_IPQROLLBACK, {num(conn)}); }
    // A structure argument: the record of var and the routine that declares it.
    lumba_test::Arg rec(const char *var) { return structure(record(var), &main_routine()); }
    long fetch(long res, const char *var) { return numeric(in_IPQFETCH, {num(res), rec(var)}); }
    long store(const char *var) { return numeric(in_IPQSTORE, {num(conn), rec(var)}); }
    long insert(const char *var) { return numeric(in_IPQINSERT, {num(conn), rec(var)}); }
    long update(const char *var) { return numeric(in_IPQUPDATE, {num(conn), rec(var)}); }
    long partial(const std::string &table, const char *var)
    {
        return numeric(in_IPQPARTIALSTORE, {num(conn), str(table), rec(var)});
    }
    std::string csv(const char *var) { return text(in_IPQCSVOUT, {num(conn), rec(var)}); }
    PGTransactionStatusType status_of(long handle)
    {
        return PQtransactionStatus(hdlgetconn(static_cast<std::uint16_t>(handle)));
    }

    // ---- Records ------------------------------------------------------------------------------

    Routine &main_routine() { return ap->app->routines[0]; }
    Symbol *symbol(const char *var) { return FindSymInRoutine(&main_routine(), var); }
    char *record(const char *var) { return reinterpret_cast<char *>(symbol(var)->S_memloc); }
    OskaTable_t *table_of(const char *var) { return std::get<OskaTable_t *>(symbol(var)->S_); }
    char *field(const char *var, const char *col)
    {
        int index = -1;
        OskaCol_t *c = FindOskaCol(table_of(var), col, &index);
        EXPECT_NE(c, nullptr) << col;
        return record(var) + c->offset;
    }
    int width(const char *var, const char *col)
    {
        int index = -1;
        return ct_record_bytes(FindOskaCol(table_of(var), col, &index)->type,
                               FindOskaCol(table_of(var), col, &index)->storage_A) - 1;
    }

    // A text field: the value blank-padded to the column's width (a value as long as the field
    // fills it; longer values are cut).
    void put(const char *var, const char *col, const std::string &value)
    {
        const int w = width(var, col);
        std::string padded = value.substr(0, static_cast<std::size_t>(w));
        padded.resize(static_cast<std::size_t>(w), ' ');
        std::memcpy(field(var, col), padded.data(), padded.size());
    }
    // A text field holding value and a NUL (the rest of the field as it was).
    void put_closed(const char *var, const char *col, const std::string &value)
    {
        std::memcpy(field(var, col), value.c_str(), value.size() + 1);
    }
    void put_number(const char *var, const char *col, const char *value)
    {
        const dec_t d = lumba_test::dec(value);
        std::memcpy(field(var, col), &d, sizeof d);
    }
    // A registered text, or (nullptr) no text.
    void put_text(const char *var, const char *col, const char *value)
    {
        char *block = nullptr;
        if (value) {
            block = static_cast<char *>(salloc(std::strlen(value) + 1));
            std::strcpy(block, value);
        }
        text_field_set(field(var, col), block, "test");
    }

    std::string chars(const char *var, const char *col) { return std::string(field(var, col), width(var, col)); }
    std::string number(const char *var, const char *col)
    {
        dec_t d;
        std::memcpy(&d, field(var, col), sizeof d);
        return Convert_BCD(&d);
    }
    std::string text_in(const char *var, const char *col)
    {
        const char *t = text_field_text(field(var, col), "test");
        return t ? t : "(none)";
    }

    // A person: id, code, amount, born, notes; the stamp blank.
    void person(const char *var, const std::string &id, const std::string &code, const char *amount,
                const std::string &born, const char *notes)
    {
        put(var, "id", id);
        put(var, "code", code);
        put_number(var, "amount", amount);
        put(var, "born", born);
        put_text(var, "notes", notes);
        put(var, "AUTO_I_created", "");
    }

    // The statements the server ran while f ran.
    template <class F> std::vector<std::string> statements(F &&f)
    {
        const std::size_t mark = lumba_test::pg_cluster().log_size();
        f();
        return lumba_test::pg_cluster().statements_since(mark);
    }

    Application_t *ap = nullptr;
    long conn = 0;

private:
    const char *program_;
    const char *tables_;
};

} // namespace pg_rows
