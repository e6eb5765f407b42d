// Structure variables and table rows through the intrinsics, against the scratch cluster: the
// statement texts the server receives, a store-change-store-fetch round trip, NULLs, the stops,
// the faults once made (SQL in a field, cut keys, zones and dates, memory per fetched row), the
// dispatcher rows and the structures the intrinsics keep.

#include <functional>

#include "heap.h"
#include "pg_rows_fixture.h"

namespace pg_rows {
namespace {

using lumba_test::abort_text;
using lumba_test::pg_cluster;

class PgRows : public PgRowsTest {};

std::string blanks(std::size_t n) { return std::string(n, ' '); }

// An item with every field set but the stamps and the defaulted columns.
void item(PgRowsTest &t, const char *id)
{
    t.put_number("I", "id", id);
    t.put_number("I", "blob", "12345");
    t.put_text("I", "data", "\\x4142");
    t.put_closed("I", "due", "2024-02-01 08:30:00");
    t.put_closed("I", "opens", "08:30:00");
    t.put_closed("I", "alarm", "10:00:00+01");
    for (const char *col : {"AUTO_U_changed", "AUTO_I_zone_TZ", "AUTO_U_zone_TZ", "starts", "label"}) t.put("I", col, "");
    t.put_text("I", "memo", nullptr);
}

} // namespace

TEST_F(PgRows, StatementTextsAreTheServersToTheByte)
{
    const std::string person_insert =
        "insert into person (id,code,amount,born,notes,AUTO_I_created) values('k4' ,'AB  ' ,'12.50       ' ,"
        "'2024-01-31','O''Brien' ,NOW());";
    const std::string person_update =
        "UPDATE person SET code = 'AB  ' ,amount = '12.50       ' ,born = '2024-01-31' ,notes = 'O''Brien'  "
        "WHERE id = 'k1' ";
    struct Case {
        const char *name;
        std::function<void(PgRows &)> fill;
        std::function<long(PgRows &)> write;
        long result;
        std::vector<std::string> sent;
    } cases[] = {
        {"INSERT: char keeps its blanks, varchar loses them, numeric padded, NOW() on insert",
         [](PgRows &t) { t.person("P", "k4", "AB", "12.5", "2024-01-31", "O'Brien"); },
         [](PgRows &t) { return t.insert("P"); }, 1, {person_insert}},
        {"UPDATE of that row: the stamp on insert left alone",
         [](PgRows &t) { t.person("P", "k1", "AB", "12.5", "2024-01-31", "O'Brien"); },
         [](PgRows &t) { return t.update("P"); }, 1, {person_update}},
        {"UPDATE that finds no row", [](PgRows &t) { t.person("P", "k2", "AB", "12.5", "2024-01-31", "x"); },
         [](PgRows &t) { return t.update("P"); }, 0,
         {"UPDATE person SET code = 'AB  ' ,amount = '12.50       ' ,born = '2024-01-31' ,notes = 'x'  WHERE id = 'k2' "}},
        {"STORE of a new row: UPDATE, then INSERT", [](PgRows &t) { t.person("P", "k3", "A", "-1", "", nullptr); },
         [](PgRows &t) { return t.store("P"); }, 1,
         {"UPDATE person SET code = 'A   ' ,amount = '-1.00       ' ,born = NULL ,notes = NULL  WHERE id = 'k3' ",
          "insert into person (id,code,amount,born,notes,AUTO_I_created) values('k3' ,'A   ' ,'-1.00       ' ,NULL ,"
          "NULL ,NOW());"}},
        {"STORE of a row that is there: UPDATE only",
         [](PgRows &t) { t.person("P", "k1", "AB", "12.5", "2024-01-31", "O'Brien"); },
         [](PgRows &t) { return t.store("P"); }, 1, {person_update}},
        {"the separators and blanks of a two-item UPDATE",
         [](PgRows &t) {
             t.put("T", "k", "v");
             t.put("T", "a", "x");
             t.put_text("T", "b", nullptr);
         },
         [](PgRows &t) { return t.update("T"); }, 0, {"UPDATE t SET a = 'x' ,b = NULL  WHERE k = 'v' "}},
        {"INSERT of an item: no serial, no stamp on update, the zone on insert, defaults for blank fields",
         [](PgRows &t) { item(t, "7"); }, [](PgRows &t) { return t.insert("I"); }, 1,
         {"insert into item (blob,data,due,opens,alarm,AUTO_I_zone_TZ,starts,label,memo) values('12345     ' ,"
          "'\\x4142' ,'2024-02-01 08:30:00','08:30:00','10:00:00+01',CURRENT_SETTING('TimeZone') ,'2000-01-01',"
          "'none' ,'n/a' );"}},
        {"UPDATE of an item: the serial key padded, NOW() and the zone on update",
         [](PgRows &t) { item(t, "7"); }, [](PgRows &t) { return t.update("I"); }, 0,
         {"UPDATE item SET blob = '12345     ' ,data = '\\x4142' ,due = '2024-02-01 08:30:00' ,opens = '08:30:00' "
          ",alarm = '10:00:00+01' ,AUTO_U_changed = NOW() ,AUTO_U_zone_TZ = CURRENT_SETTING('TimeZone') ,"
          "starts = '2000-01-01' ,label = 'none' ,memo = 'n/a'  WHERE id = '7   ' "}},
        {"fields that hold values win over the defaults; no bytea text is NULL",
         [](PgRows &t) {
             item(t, "8");
             t.put_text("I", "data", nullptr);
             t.put("I", "starts", "2024-03-01");
             t.put("I", "label", "tools");
             t.put_text("I", "memo", "hand");
             t.put("I", "due", "");
         },
         [](PgRows &t) { return t.insert("I"); }, 1,
         {"insert into item (blob,data,due,opens,alarm,AUTO_I_zone_TZ,starts,label,memo) values('12345     ' ,"
          "NULL ,NULL ,'08:30:00','10:00:00+01',CURRENT_SETTING('TimeZone') ,'2024-03-01','tools' ,'hand' );"}},
        {"IPQPARTIALSTORE: another table, this structure's columns and key",
         [](PgRows &t) { t.person("P", "k1", "AB", "12.5", "2024-01-31", "O'Brien"); },
         [](PgRows &t) { return t.partial("public.person_archive", "P"); }, 1,
         {"UPDATE public.person_archive SET code = 'AB  ' ,amount = '12.50       ' ,born = '2024-01-31' ,"
          "notes = 'O''Brien'  WHERE id = 'k1' "}},
        {"a table without primary key is neither updated nor stored", [](PgRows &t) { t.put("L", "v", "x"); },
         [](PgRows &t) { return t.store("L") + t.update("L"); }, 0, {}},
    };
    pg_cluster().query("insert into person (id) values ('k1'); insert into person_archive (id) values ('k1');");
    for (auto &c : cases) {
        begin();
        c.fill(*this);
        long result = -1;
        testing::internal::CaptureStderr();
        const std::vector<std::string> sent = statements([&] { result = c.write(*this); });
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(sent, c.sent) << c.name;
        EXPECT_EQ(result, c.result) << c.name << "\n" << err;
        rollback();
    }
}

TEST_F(PgRows, KeyNumbersAreLoggedAndNoPrimaryKeyIsSaid)
{
    begin();
    item(*this, "7");
    const int level = std::exchange(Lumba_Log_Level, 0);  // the run-time log on standard error
    testing::internal::CaptureStderr();
    update("I");
    const std::string err = testing::internal::GetCapturedStderr();
    Lumba_Log_Level = level;
    EXPECT_NE(err.find(" -- tmp:|12345     | OID: 12345  format: %-10ld\n"), std::string::npos) << err;
    EXPECT_NE(err.find(" -- tmp:|7   | serial: 7  format: %-4ld\n"), std::string::npos) << err;

    put("L", "v", "x");
    testing::internal::CaptureStderr();
    EXPECT_EQ(store("L"), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "table \"loose\" has no primary key\n");
}

TEST_F(PgRows, CsvLines)
{
    const std::string item_line = "'7." + blanks(63) + "','12345." + blanks(59) +
                                  "','\\x4142','2024-02-01 08:30:00','08:30:00','10:00:00+01',NULL,'','',"
                                  "'2000-01-01','none','n/a'";
    struct {
        const char *name;
        std::function<void(PgRows &)> fill;
        const char *var;
        std::string line;
    } cases[] = {
        {"a person", [](PgRows &t) { t.person("P", "k1", "AB", "12.5", "2024-01-31", "O'Brien"); }, "P",
         "'k1','AB  ','12.50       ','2024-01-31','O''Brien',NULL"},
        {"blank date and no text", [](PgRows &t) { t.person("P", "k1", "", "0", "", nullptr); }, "P",
         "'k1','    ','0.00        ',NULL,NULL,NULL"},
        {"an item: whole numbers 65 wide, the flags play no part", [](PgRows &t) { item(t, "7"); }, "I", item_line},
        {"a structure column is an empty field", [](PgRows &t) { t.put("W", "k", "w"); }, "W", "'w',"},
    };
    for (auto &c : cases) {
        c.fill(*this);
        const std::vector<std::string> sent = statements([&] { EXPECT_EQ(csv(c.var), c.line) << c.name; });
        EXPECT_TRUE(sent.empty()) << c.name;
    }
}

TEST_F(PgRows, StoreChangeStoreFetch)
{
    begin();
    person("P", "k1", "AB", "12.5", "2024-01-31", "O'Brien");
    EXPECT_EQ(store("P"), 1);
    put_number("P", "amount", "99.99");
    EXPECT_EQ(store("P"), 1);
    put_number("P", "amount", "12.5");
    EXPECT_EQ(store("P"), 1);
    EXPECT_EQ(commit(), 1);
    EXPECT_EQ(pg_cluster().query("select count(*) || ' ' || string_agg(id || '|' || notes || '|' || amount, ',') "
                                 "from person where auto_i_created > now() - interval '1 hour'"),
              "1 k1|O'Brien|12.50");

    const long res = exec("select * from person");
    ASSERT_NE(res, 0);
    EXPECT_EQ(fetch(res, "Q"), 1);
    EXPECT_EQ(chars("Q", "id"), "k1" + blanks(8));
    EXPECT_EQ(chars("Q", "code"), "AB  ");
    EXPECT_EQ(number("Q", "amount"), "12.5");
    EXPECT_EQ(chars("Q", "born"), "2024-01-31");
    EXPECT_EQ(text_in("Q", "notes"), "O'Brien");
    const std::string stamp = pg_cluster().query("select auto_i_created from person");
    EXPECT_EQ(std::string(field("Q", "AUTO_I_created")), stamp) << "the server's time, closed by a NUL";

    put("Q", "id", "unchanged");
    EXPECT_EQ(fetch(res, "Q"), 0) << "after the last row";
    EXPECT_EQ(chars("Q", "id"), "unchanged" + blanks(1));

    // Columns are matched by position: a reordered select fills the fields in its own order.
    const long swapped = exec("select code, id, amount, born, notes, auto_i_created from person");
    EXPECT_EQ(fetch(swapped, "Q"), 1);
    EXPECT_EQ(chars("Q", "id"), "AB  " + blanks(6));
    EXPECT_EQ(chars("Q", "code"), "k1  ");

    const long narrow = exec("select id, code from person");
    EXPECT_EQ(abort_text([&] { fetch(narrow, "Q"); }),
              "OskaPgFetchX: Column missmatch: Supplied stuct (person) count = 6, result set count = 2");
}

TEST_F(PgRows, NullsFetchAsBlanksZeroAndEmptyText)
{
    pg_cluster().query("insert into person (id) values ('n1');"
                       "insert into item (id, due, opens, alarm) values (5, null, null, null);");
    std::memset(record("P"), 'x', 95);
    std::memset(field("P", "notes"), 0, 8);  // no text
    const long res = exec("select * from person");
    EXPECT_EQ(fetch(res, "P"), 1);
    EXPECT_EQ(chars("P", "id"), "n1" + blanks(8));
    EXPECT_EQ(chars("P", "code"), blanks(4));
    EXPECT_EQ(number("P", "amount"), "0");
    EXPECT_EQ(chars("P", "born"), blanks(10));
    EXPECT_EQ(text_in("P", "notes"), "");
    EXPECT_EQ(chars("P", "AUTO_I_created"), blanks(30));

    const long items = exec("select * from item");
    EXPECT_EQ(fetch(items, "I"), 1);
    EXPECT_EQ(number("I", "id"), "5");
    EXPECT_EQ(number("I", "blob"), "0");
    EXPECT_EQ(chars("I", "due"), blanks(24));
    EXPECT_EQ(chars("I", "opens"), blanks(18));
    EXPECT_EQ(chars("I", "alarm"), blanks(13));
}

TEST_F(PgRows, StopsWithTheirTexts)
{
    struct Case {
        const char *name;
        std::function<void(PgRows &)> call;
        std::string message;
    } cases[] = {
        {"store without IPQBEGIN", [](PgRows &t) { t.store("P"); },
         "OskaPgStoreX: Transaction has NOT been started yet on table person (is ipqbegin() missing ?)"},
        {"insert without IPQBEGIN", [](PgRows &t) { t.insert("P"); },
         "OskaPgiuX: INSERT transaction has NOT be started yet on table person (is ipqbegin() missing ?)"},
        {"update without IPQBEGIN", [](PgRows &t) { t.update("P"); },
         "OskaPgiuX: UPDATE transaction has NOT be started yet on table person (is ipqbegin() missing ?)"},
        {"partial store without IPQBEGIN", [](PgRows &t) { t.partial("person_archive", "P"); },
         "OskaPgPartialStoreX: Transaction has NOT be started yet on person_archive struct person (is ipqbegin() "
         "missing ?)"},
        {"store on a failed block",
         [](PgRows &t) {
             t.begin();
             t.exec("select no_such_column from person");
             t.store("P");
         },
         "OskaPgStoreX: connection \"1\" is in abort state (ERROR:  column \"no_such_column\" does not exist\n"
         "LINE 1: select no_such_column from person\n               ^\n, 42703)"},
        {"store on no connection", [](PgRows &t) { t.numeric(in_IPQSTORE, {num(9), t.rec("P")}); },
         "OskaPgStoreX: database connection \"9\" in invalid state"},
        {"CSV on no connection", [](PgRows &t) { t.text(in_IPQCSVOUT, {num(0), t.rec("P")}); },
         "OskaPgcsvX: database connection \"0\" in invalid state"},
        {"fetch from an unknown result", [](PgRows &t) { t.fetch(7, "P"); }, "OskaPgFetchX: unknown result handle 7"},
        {"structure without schema",
         [](PgRows &t) {
             t.symbol("P")->S_ = SymSignature{"person"};
             t.fetch(t.exec("select * from person"), "P");
         },
         "Cannot find table for struct P at 0x"},
        {"no structure there", [](PgRows &t) { t.numeric(in_IPQFETCH, {num(1), num(1)}); },
         "No symtab found for struct at 0x"},
        {"oversize numeric",
         [](PgRows &t) { t.fetch(t.exec("select 'k', 'c', 12345678901.5, null, null, null"), "P"); },
         "OskaPgFetchX: numeric 12345678901.5 is bigger than storage 11"},
        {"a time with its zone longer than its field",
         [](PgRows &t) {
             t.fetch(t.exec("select 1, null, null, null, null, time with time zone '10:00:00.123456+05:30', null, "
                            "null, null, null, null, null"),
                     "I");
         },
         "OskaPgFetchX: time with time zone value 10:00:00.123456+05:30 is bigger than storage 13"},
        {"a structure column fetched", [](PgRows &t) { t.fetch(t.exec("select 'k', 'x'"), "W"); },
         "OskaPgFetchX: unrecognised col type 8"},
        {"a structure column updated",
         [](PgRows &t) {
             t.begin();
             t.put("W", "k", "w");
             t.update("W");
         },
         "doset: unknown code 8"},
        {"a structure column inserted",
         [](PgRows &t) {
             t.begin();
             t.insert("W");
         },
         "doset: unknown code 8"},
        {"a bad table name for the partial store",
         [](PgRows &t) {
             t.begin();
             t.partial("person; DROP TABLE person", "P");
         },
         "OskaPgPartialStoreX: bad table name \"person; DROP TABLE person\""},
    };
    pg_cluster().query("insert into person (id, code) values ('k1', 'keep')");
    for (auto &c : cases) {
        person("P", "k1", "AB", "12.5", "2024-01-31", "O'Brien");
        const std::size_t mark = pg_cluster().log_size();
        const std::string message = abort_text([&] { c.call(*this); });
        if (c.message.back() == 'x')
            EXPECT_EQ(message.rfind(c.message, 0), 0u) << c.name << ": " << message;
        else
            EXPECT_EQ(message, c.message) << c.name;
        for (const std::string &s : pg_cluster().statements_since(mark))
            EXPECT_TRUE(s.rfind("UPDATE", 0) != 0 && s.rfind("insert", 0) != 0) << c.name << " sent " << s;
        sp = -1;
        symbol("P")->S_ = table_of("Q");
        // A failed block is one IPQROLLBACK leaves alone.
        PQclear(PQexec(hdlgetconn(static_cast<std::uint16_t>(conn)), "ROLLBACK"));
        pg_count_transactions();
    }
    EXPECT_EQ(pg_cluster().query("select code from person"), "keep") << "no write reached the table";
}

TEST_F(PgRows, BadTableNamesNeverReachTheServer)
{
    begin();
    person("P", "k1", "AB", "12.5", "2024-01-31", "x");
    const char *bad[] = {"", "1person", "$a$", "s.$a$", "a.b.c", "person;--", "pers on", "a.", ".a", "\"person\"",
                         "person\n"};
    for (const char *name : bad)
        EXPECT_EQ(abort_text([&] { partial(name, "P"); }), std::string("OskaPgPartialStoreX: bad table name \"") + name + "\"");
    for (const char *name : {"person_archive", "PUBLIC.Person_Archive", "_x$1"}) {
        const std::string message = abort_text([&] { partial(name, "P"); });
        EXPECT_EQ(message, "") << name;
    }
    EXPECT_EQ(status_of(conn), PQTRANS_INERROR) << "the unknown table _x$1 reached the server";
}

TEST_F(PgRows, SqlInAFieldStaysAValue)
{
    pg_cluster().query("insert into person (id, code, born) values ('k1', 'a', '2024-01-01'), ('k2', 'b', '2024-01-02')");
    begin();
    // A date that would end the statement and comment out its condition, and the text the
    // system was once given.
    for (const char *date : {"1-1-1';--", "'; DELETE FROM person;--"}) {
        person("P", "k1", "zz", "1", date, nullptr);
        EXPECT_EQ(store("P"), 0) << date;
        rollback();
        begin();
    }
    EXPECT_EQ(pg_cluster().query("select string_agg(id || code || born, ',' order by id) from person"),
              "k1a2024-01-01,k2b2024-01-02");
}

TEST_F(PgRows, FaultsOnceMade)
{
    // A date shorter than its field is blank-padded: nothing of the row before stays.
    pg_cluster().query("insert into person (id, born) values ('a', '2024-01-31'), ('b', 'infinity')");
    const long res = exec("select * from person order by id");
    EXPECT_EQ(fetch(res, "P"), 1);
    EXPECT_EQ(chars("P", "born"), "2024-01-31");
    EXPECT_EQ(fetch(res, "P"), 1);
    EXPECT_EQ(chars("P", "born"), "infinity  ");

    // A serial key with more digits than its storage is written whole and updates its own row.
    pg_cluster().query("insert into item (id, label) values (1234, 'short'), (12345, 'long')");
    begin();
    item(*this, "12345");
    put("I", "label", "changed");
    testing::internal::CaptureStderr();
    EXPECT_EQ(update("I"), 1);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(commit(), 1);
    EXPECT_EQ(pg_cluster().query("select string_agg(id || label, ',' order by id) from item"), "1234short,12345changed");
}

TEST_F(PgRows, FetchingTextsKeepsOneBlockPerField)
{
    constexpr int ROWS = 10000;
    pg_cluster().query("insert into person (id, notes) select 'k' || i, repeat('x', 1024) from generate_series(1, " +
                       std::to_string(ROWS) + ") i");
    const long res = exec("select * from person");
    ASSERT_NE(res, 0);
    ASSERT_EQ(fetch(res, "P"), 1);
    const std::size_t before = lumba_test::heap_in_use();
    int rows = 1;
    while (fetch(res, "P") == 1) ++rows;
    const std::size_t after = lumba_test::heap_in_use();
    EXPECT_EQ(rows, ROWS);
    EXPECT_EQ(text_in("P", "notes"), std::string(1024, 'x'));
    EXPECT_LT(after, before + 64 * 1024) << "the fetched texts are released row by row";
    int nodes = 0;
    for (PointerMem_t *p = ap->app->pointer_memory; p; p = p->next) nodes += p->variable == field("P", "notes");
    EXPECT_EQ(nodes, 1);
}

TEST_F(PgRows, OperationsByTableName)
{
    // What other parts of the run-time call with the table's name, looked up in the application.
    const auto h = static_cast<std::uint16_t>(conn);
    begin();
    person("P", "k1", "AB", "12.5", "2024-01-31", "O'Brien");
    EXPECT_EQ(OskaPgStoreX(h, "person", record("P")), 1);
    EXPECT_EQ(OskaPgiuX(h, 1, "person", record("P")), 1);
    EXPECT_EQ(OskaPgPartialStoreX(h, "person", "person", record("P")), 1);
    Stack line{};
    EXPECT_EQ(OskaPgcsvX(h, "person", record("P"), &line), 55);
    EXPECT_EQ(std::string(line.s_c.C_S, line.length), "'k1','AB  ','12.50       ','2024-01-31','O''Brien',NULL");
    sfree(line.s_c.C_S);
    EXPECT_EQ(commit(), 1);
    const auto res = static_cast<std::uint16_t>(exec("select * from person"));
    EXPECT_EQ(OskaPgFetchX(res, "person", record("Q")), 1);
    EXPECT_EQ(text_in("Q", "notes"), "O'Brien");
    EXPECT_EQ(OskaPgFetchX(res, "nosuch", record("Q")), 0) << "no row left: the name is not looked at";

    const auto again = static_cast<std::uint16_t>(exec("select * from person"));
    begin();
    struct {
        std::function<void()> call;
        const char *message;
    } unknown[] = {
        {[&] { OskaPgFetchX(again, "nosuch", record("Q")); }, "OskaPgFetchX: cannot find table nosuch definition"},
        {[&] { OskaPgStoreX(h, "nosuch", record("P")); }, "OskaPgStoreX: cannot find table \"nosuch\" definition"},
        {[&] { OskaPgiuX(h, 0, "nosuch", record("P")); }, "OskaPgiuX: cannot find table \"nosuch\" definition"},
        {[&] { OskaPgPartialStoreX(h, "person", "nosuch", record("P")); },
         "OskaPgPartialStoreX: cannot find table \"nosuch\" definition"},
        {[&] { OskaPgcsvX(h, "nosuch", record("P"), &line); }, "OskaPgcsv: cannot find table \"nosuch\" definition"},
    };
    for (const auto &u : unknown) EXPECT_EQ(abort_text(u.call), u.message);
}

TEST_F(PgRows, EveryRowReachesItsHandler)
{
    struct {
        int code;
        std::function<std::string(PgRows &)> call;
        std::string answer;  // the value, or "stop: " and the fatal message
    } rows[] = {
        {in_IPQFETCH, [](PgRows &t) { return std::to_string(t.fetch(0, "P")); },
         "stop: OskaPgFetchX: unknown result handle 0"},
        {in_IPQSTORE, [](PgRows &t) { return std::to_string(t.store("P")); },
         "stop: OskaPgStoreX: Transaction has NOT been started yet on table person (is ipqbegin() missing ?)"},
        {in_IPQUPDATE, [](PgRows &t) { return std::to_string(t.update("P")); },
         "stop: OskaPgiuX: UPDATE transaction has NOT be started yet on table person (is ipqbegin() missing ?)"},
        {in_IPQINSERT, [](PgRows &t) { return std::to_string(t.insert("P")); },
         "stop: OskaPgiuX: INSERT transaction has NOT be started yet on table person (is ipqbegin() missing ?)"},
        {in_IPQPARTIALSTORE, [](PgRows &t) { return std::to_string(t.partial("x y", "P")); },
         "stop: OskaPgPartialStoreX: bad table name \"x y\""},
        {in_IPQCSVOUT, [](PgRows &t) { return t.csv("T"); }, "'v','x',NULL"},
    };
    put("T", "k", "v");
    put("T", "a", "x");
    for (const auto &row : rows) {
        std::string value;
        const std::string stop = abort_text([&] { value = row.call(*this); });
        EXPECT_EQ(stop.empty() ? value : "stop: " + stop, row.answer) << inbuilt[row.code].F_name;
        sp = -1;
    }

    lumba_test::trapped_errors().clear();
    EXPECT_EQ(abort_text([&] { numeric(in_IPQFETCH, {num(1)}); }), "IPQFETCH called with wrong number of arguments (1)");
    EXPECT_EQ(abort_text([&] { numeric(in_IPQPARTIALSTORE, {num(1), rec("P")}); }),
              "IPQPARTIALSTORE called with wrong number of arguments (2)");
    EXPECT_EQ(abort_text([&] { text(in_IPQCSVOUT, {num(1), rec("P"), num(2)}); }),
              "IPQCSVOUT$ called with wrong number of arguments (3)");
}

TEST_F(PgRows, AStructureIsFoundOnceAndForgottenWithItsApplication)
{
    pg_cluster().query("insert into person (id) values ('a'), ('b')");
    const long res = exec("select * from person order by id");
    EXPECT_EQ(fetch(res, "P"), 1);
    EXPECT_EQ(pg_kept_structures(), 1u);
    // A search now would no longer find the variable: the kept one serves the next row.
    symbol("P")->S_type |= s_based;
    EXPECT_EQ(fetch(res, "P"), 1);
    EXPECT_EQ(chars("P", "id"), "b" + blanks(9));
    symbol("P")->S_type &= ~s_based;

    delete_all_applications();
    EXPECT_EQ(pg_kept_structures(), 0u) << "forgotten with the application's memory";
    ap = nullptr;
}

namespace {

// Fields without decimals behind integer, bigint and numeric(10,0) columns: table counts with
// k varchar(4) key, i numeric(10,0), b numeric(19,0), n numeric(10,0); the variable C of it.
const char *const whole_program = R"(
.proc r:main I:0 I:0 I:1 I:0 I:88 I:0
end
symtab
__ROUTINE__ main 1
C 0 0 0x200010 0 1 counts
__END_ROUTINE__
.end
sqltab
__SQL_TABLES__ 1
T:counts 1 4 0 88
C:k 3 4 0 0 0 0
C:i 4 10 0 22 0 0
C:b 4 19 0 44 0 0
C:n 4 10 0 66 0 0
I:counts_pkey 1
0
.end
)";
const char *const whole_tables = "create table counts (k varchar(4) primary key, i integer, b bigint, n numeric(10,0));";

class PgWholeNumbers : public PgRowsTest {
public:
    PgWholeNumbers() : PgRowsTest(whole_program, whole_tables) {}
};

// Names an object file gave that are no SQL names: table evil's column v='pwned'-- (the server's
// table has a column v), and a table named evil;-- of the same shape. Variables E and B.
const char *const names_program = R"(
.proc r:main I:0 I:0 I:1 I:0 I:32 I:0
end
symtab
__ROUTINE__ main 2
E 0 0 0x200010 0 1 evil
B 0 0 0x200010 16 2 evil;--
__END_ROUTINE__
.end
sqltab
__SQL_TABLES__ 2
T:evil 1 2 0 16
C:k 3 4 0 0 0 0
C:v='pwned'-- 3 10 0 5 0 0
I:evil_pkey 1
0
T:evil;-- 1 2 0 16
C:k 3 4 0 0 0 0
C:v 3 10 0 5 0 0
I:bad_pkey 1
0
.end
)";
const char *const names_tables = "create table evil (k varchar(4) primary key, v varchar(10));"
                                  "insert into evil values ('a', 'one'), ('b', 'two');";

class PgBadNames : public PgRowsTest {
public:
    PgBadNames() : PgRowsTest(names_program, names_tables) {}
};

} // namespace

TEST_F(PgWholeNumbers, RoundTripThroughIntegerBigintAndNumericColumns)
{
    struct {
        const char *name;
        std::string i, b, n;
    } cases[] = {
        {"small", "7", "7", "7"},
        {"negative", "-7", "-42", "-1"},
        {"zero", "0", "0", "0"},
        {"the upper limits", "2147483647", "9223372036854775807", "9999999999"},
        {"the lower limits", "-2147483648", "-9223372036854775808", "-9999999999"},
    };
    int row = 0;
    for (const auto &c : cases) {
        const std::string k = std::to_string(++row);
        begin();
        put("C", "k", k);
        for (const char *col : {"i", "b", "n"}) put_number("C", col, "1");
        EXPECT_EQ(statements([&] { EXPECT_EQ(store("C"), 1) << c.name; }),
                  (std::vector<std::string>{"UPDATE counts SET i = '1' ,b = '1' ,n = '1'  WHERE k = '" + k + "' ",
                                            "insert into counts (k,i,b,n) values('" + k + "' ,'1' ,'1' ,'1' );"}))
            << c.name;
        put_number("C", "i", c.i.c_str());
        put_number("C", "b", c.b.c_str());
        put_number("C", "n", c.n.c_str());
        EXPECT_EQ(statements([&] { EXPECT_EQ(store("C"), 1) << c.name; }),
                  std::vector<std::string>{"UPDATE counts SET i = '" + c.i + "' ,b = '" + c.b + "' ,n = '" + c.n +
                                           "'  WHERE k = '" + k + "' "})
            << c.name;
        EXPECT_EQ(commit(), 1) << c.name;
        EXPECT_EQ(pg_cluster().query("select i || ' ' || b || ' ' || n from counts where k = '" + k + "'"),
                  c.i + " " + c.b + " " + c.n)
            << c.name;

        for (const char *col : {"i", "b", "n"}) put_number("C", col, "5");
        const long res = exec("select * from counts where k = '" + k + "'");
        EXPECT_EQ(fetch(res, "C"), 1) << c.name;
        EXPECT_EQ(number("C", "i") + " " + number("C", "b") + " " + number("C", "n"), c.i + " " + c.b + " " + c.n)
            << c.name;
        numeric(in_IPQCLEAR, {num(res)});
    }
}

TEST_F(PgBadNames, NamesThatAreNoSqlNamesNeverReachTheServer)
{
    const std::string column = "\"v='pwned'--\"";
    struct {
        const char *name;
        std::function<void(PgBadNames &)> call;
        std::string message;
    } cases[] = {
        {"IPQSTORE", [](PgBadNames &t) { t.store("E"); }, "OskaPgStoreX: bad column name " + column},
        {"IPQUPDATE", [](PgBadNames &t) { t.update("E"); }, "OskaPgiuX: bad column name " + column},
        {"IPQINSERT", [](PgBadNames &t) { t.insert("E"); }, "OskaPgiuX: bad column name " + column},
        {"IPQPARTIALSTORE", [](PgBadNames &t) { t.partial("evil", "E"); },
         "OskaPgPartialStoreX: bad column name " + column},
        {"the search", [](PgBadNames &t) { OskaTblStrSearch(static_cast<std::uint16_t>(t.conn), "evil", "x"); },
         "OskaTblStrSearch: bad column name " + column},
        {"IPQSTORE of a table so named", [](PgBadNames &t) { t.store("B"); },
         "OskaPgStoreX: bad table name \"evil;--\""},
        {"IPQINSERT of a table so named", [](PgBadNames &t) { t.insert("B"); },
         "OskaPgiuX: bad table name \"evil;--\""},
        {"the search of a table so named",
         [](PgBadNames &t) { OskaTblStrSearch(static_cast<std::uint16_t>(t.conn), "evil;--", "x"); },
         "OskaTblStrSearch: bad table name \"evil;--\""},
    };
    put("E", "k", "a");
    put("E", "v='pwned'--", "x");
    put("B", "k", "a");
    put("B", "v", "x");
    begin();
    for (const auto &c : cases) {
        std::string message;
        EXPECT_EQ(statements([&] { message = abort_text([&] { c.call(*this); }); }), std::vector<std::string>{})
            << c.name;
        EXPECT_EQ(message, c.message) << c.name;
        sp = -1;
    }
    rollback();
    EXPECT_EQ(pg_cluster().query("select string_agg(k || v, ',' order by k) from evil"), "aone,btwo");
}

} // namespace pg_rows
