// The statement texts of the structure-to-row mapping: a record as an UPDATE by primary key, as an
// INSERT and as one CSV line.
//
// Programs and stored logs rely on these texts byte for byte: the blank after every item, the
// separators, the decimals padded to their column's width. Every quoted value goes through libpq's
// escaping, so a field holding a quote (or a date holding SQL) stays a value; good dates, times
// and the server's bytea text come out of the escaping unchanged.
#include <cstdio>
#include <cstring>
#include <new>

#include <glib.h>

#include "applications.h"
#include "gdata.h"
#include "message.h"
#include "numerics.h"
#include "pg.h"
#include "pg_row_internal.h"
#include "pg_rows.h"
#include "structops.h"

namespace {

constexpr std::size_t FIRST_ROOM = 4096;
constexpr const char *SQL_GROWTH_FAILURE = "No memory in building sql statement. Needed %lu bytes";
constexpr const char *CSV_GROWTH_FAILURE = "No memory in building csv output. Needed %lu bytes";
constexpr int CSV_INTEGER_WIDTH = 65;

// A text under construction: room for 4096 bytes first, doubling as it fills.
class Builder {
public:
    explicit Builder(const char *growth_failure) : failure_(growth_failure) {}

    // false when not even the first room can be had.
    bool start(std::string &text) const
    {
        try {
            text.reserve(FIRST_ROOM);
            return true;
        } catch (const std::bad_alloc &) {
            return false;
        }
    }

    void put(std::string &text, std::string_view piece) const
    {
        const std::size_t needed = text.size() + piece.size() + 1;
        if (needed > text.capacity()) {
            try {
                text.reserve(std::max(needed, 2 * text.capacity()));
            } catch (const std::bad_alloc &) {
                Abort(failure_, static_cast<unsigned long>(needed));
            }
        }
        text.append(piece);
    }

private:
    const char *failure_;
};

const Builder sql_builder(SQL_GROWTH_FAILURE);
const Builder csv_builder(CSV_GROWTH_FAILURE);

bool white(char c) { return g_ascii_isspace(c); }  // whatever the locale

// True when every character before the first NUL, or before width characters, is white space.
bool is_char_empty(const char *field, int width)
{
    for (int i = 0; i < width && field[i]; ++i)
        if (!white(field[i])) return false;
    return true;
}

// A time-like value with no characters, or only blanks, is no time: NULL.
bool empty_time(const std::string &value)
{
    for (char c : value)
        if (!white(c)) return false;
    return true;
}

// The value of a time-like, char or varchar column: its default when it has one and the field is
// blank, else the field's text (to a NUL, at most W characters).
std::string default_or_field(const OskaCol_t &c, const char *field)
{
    const int w = std::max(text_width(c), 0);
    if (c.defaults && is_char_empty(field, w)) return *c.defaults;
    return std::string(field, strnlen(field, static_cast<std::size_t>(w)));
}

// A char or varchar value, escaped; varchar loses its trailing white space (char keeps its blanks).
std::string chars_value(PGconn *conn, const OskaCol_t &c, const char *field)
{
    std::string v = pg_escape(conn, default_or_field(c, field).c_str());
    if (c.type == ct_varchar)
        while (!v.empty() && white(v.back())) v.pop_back();
    return v;
}

// The decimal as NumericToASC shows it in width characters with the column's decimals.
std::string decimal_text(const char *field, int width, int decimals)
{
    if (width <= 0) return {};
    dec_t d;
    std::memcpy(&d, field, sizeof d);  // records need not keep decimals aligned
    std::string text(static_cast<std::size_t>(width), ' ');
    NumericToASC(&d, text.data(), width, decimals);
    return text;
}

// A serial or oid value: the whole number, left-justified and blank-padded to storage_A
// characters, never cut (a cut key would name another row).
struct WholeNumber {
    long value;
    std::string text;
};
WholeNumber whole_number(const OskaCol_t &c, const char *field)
{
    dec_t d;
    std::memcpy(&d, field, sizeof d);
    WholeNumber n{0, {}};
    NumericToLONG(&d, &n.value);
    const int length = std::snprintf(nullptr, 0, "%-*ld", c.storage_A, n.value);
    n.text.assign(static_cast<std::size_t>(std::max(length, 0)), ' ');
    std::snprintf(n.text.data(), n.text.size() + 1, "%-*ld", c.storage_A, n.value);
    return n;
}

// A numeric column's value in a statement. A column without decimals is written as the whole
// number alone ("7", not "7." padded): integer and bigint columns refuse the point, and numeric
// columns read both the same. The CSV line keeps the fixed-width text with the point.
std::string numeric_value(const OskaCol_t &c, const char *field)
{
    std::string text = decimal_text(field, c.storage_A + c.storage_B + 1, c.storage_B);
    if (c.storage_B > 0) return text;
    while (!text.empty() && text.back() == ' ') text.pop_back();
    if (!text.empty() && text.back() == '.') text.pop_back();
    return text;
}

// The text or bytea value: the field's text, else (text only) the column's default; nothing when
// there is neither.
std::optional<std::string> referenced_value(PGconn *conn, const OskaCol_t &c, const char *field)
{
    const char *text = text_field_text(field, c.cname.c_str());
    if (!text && c.type == ct_text && c.defaults) text = c.defaults->c_str();
    if (!text) return std::nullopt;
    return pg_escape(conn, text);
}

bool key_column(const OskaIdx_t &key, int column)
{
    const int n = std::min<int>(key.natts, MAX_SQL_IDX_ATTS);
    for (int i = 0; i < n; ++i)
        if (key.atts[i] == column) return true;
    return false;
}

// The time-zone flag counts only on a varchar column that is filled on insert or update; on any
// other column it is an ordinary column.
bool zone_column(const OskaCol_t &c)
{
    return c.type == ct_varchar && (c.cflags & OCOL_TS_TZ) && (c.cflags & (OCOL_TS_AUTO_I | OCOL_TS_AUTO_U));
}

std::string quoted(const std::string &value) { return "'" + value + "'"; }

[[noreturn]] void unknown_code(const OskaCol_t &c) { Abort("doset: unknown code %i", static_cast<int>(c.type)); }

// The INSERT's value item of a column it writes.
std::string insert_item(PGconn *conn, const OskaCol_t &c, const char *field)
{
    switch (row_field(c.type)) {
    case RowField::time: {
        if (c.cflags & OCOL_TS_AUTO_I) return "NOW()";
        const std::string v = default_or_field(c, field);
        return empty_time(v) ? "NULL " : quoted(pg_escape(conn, v.c_str()));
    }
    case RowField::chars:
        if (zone_column(c)) return "CURRENT_SETTING('TimeZone') ";
        return quoted(chars_value(conn, c, field)) + " ";
    case RowField::numeric: return quoted(numeric_value(c, field)) + " ";
    case RowField::integer: return quoted(whole_number(c, field).text) + " ";
    case RowField::text:
    case RowField::bytea: {
        const auto v = referenced_value(conn, c, field);
        return v ? quoted(*v) + " " : "NULL ";
    }
    case RowField::other: break;
    }
    unknown_code(c);
}

// Whether the INSERT leaves the column to the server: stamped on update, or a serial.
bool insert_skips(const OskaCol_t &c)
{
    if (c.type == ct_serial) return true;
    if (row_field(c.type) == RowField::time) return c.cflags & OCOL_TS_AUTO_U;
    return zone_column(c) && (c.cflags & OCOL_TS_AUTO_U);
}

// Whether the UPDATE leaves a column outside the key alone: stamped on insert, or a serial.
bool update_skips(const OskaCol_t &c)
{
    if (c.type == ct_serial) return true;
    if (row_field(c.type) == RowField::time) return c.cflags & OCOL_TS_AUTO_I;
    return zone_column(c) && (c.cflags & OCOL_TS_AUTO_I);
}

// The CSV field of a column.
std::string csv_field(PGconn *conn, const OskaCol_t &c, const char *field)
{
    switch (row_field(c.type)) {
    case RowField::time: {
        const std::string v = default_or_field(c, field);
        return empty_time(v) ? "NULL" : quoted(pg_escape(conn, v.c_str()));
    }
    case RowField::chars: return quoted(chars_value(conn, c, field));
    case RowField::numeric: return quoted(decimal_text(field, c.storage_A + c.storage_B + 1, c.storage_B));
    case RowField::integer: return quoted(decimal_text(field, CSV_INTEGER_WIDTH, c.storage_B));
    case RowField::text:
    case RowField::bytea: {
        const auto v = referenced_value(conn, c, field);
        return v ? quoted(*v) : "NULL";
    }
    case RowField::other: break;
    }
    return {};
}

void no_room(const char *what, const OskaTable_t &table)
{
    std::fprintf(stderr, "table \"%s\" no memory for %s formation!", table.tname.c_str(), what);
    std::fflush(stderr);
}

} // namespace

RowField row_field(ColType_t type)
{
    switch (type) {
    case ct_date:
    case ct_timestamp:
    case ct_timestampw:
    case ct_timew:
    case ct_time: return RowField::time;
    case ct_char:
    case ct_varchar: return RowField::chars;
    case ct_numeric: return RowField::numeric;
    case ct_serial:
    case ct_oid: return RowField::integer;
    case ct_text: return RowField::text;
    case ct_bytea: return RowField::bytea;
    default: return RowField::other;
    }
}

const OskaTable_t *pg_find_table(const char *name)
{
    if (!current_application || !current_application->app) return nullptr;
    return FindOskaTable(current_application->app->tables, name);
}

void dosetX(PGconn *conn, const OskaCol_t &c, const char *record, bool key, std::string &text)
{
    const char *field = record + c.offset;
    const std::string &name = c.cname;
    auto item = [&](const std::string &value) { sql_builder.put(text, name + " = " + value + " "); };
    switch (row_field(c.type)) {
    case RowField::time: {
        if (!key && (c.cflags & OCOL_TS_AUTO_U)) return item("NOW()");
        if (!key && (c.cflags & OCOL_TS_AUTO_I)) return;
        const std::string v = default_or_field(c, field);
        return item(empty_time(v) ? "NULL" : quoted(pg_escape(conn, v.c_str())));
    }
    case RowField::chars:
        if (!key && zone_column(c)) {
            if (c.cflags & OCOL_TS_AUTO_U) item("CURRENT_SETTING('TimeZone')");
            return;
        }
        return item(quoted(chars_value(conn, c, field)));
    case RowField::numeric: return item(quoted(numeric_value(c, field)));
    case RowField::integer: {
        const WholeNumber n = whole_number(c, field);
        const std::string format = "%-" + std::to_string(c.storage_A) + "ld";
        _mlog(1, 0, " -- tmp:|%s| %s: %ld  format: %s", n.text.c_str(), c.type == ct_serial ? "serial" : "OID", n.value,
              format.c_str());
        return item(quoted(n.text));
    }
    case RowField::text:
    case RowField::bytea: {
        const auto v = referenced_value(conn, c, field);
        return item(v ? quoted(*v) : "NULL");
    }
    case RowField::other: break;
    }
    unknown_code(c);
}

std::optional<std::string> bldudstrX(PGconn *conn, const char *target, const OskaTable_t &table, const char *record)
{
    const OskaIdx_t *key = tblgetpk(&table);
    if (!key) {
        std::fprintf(stderr, "table \"%s\" has no primary key\n", table.tname.c_str());
        std::fflush(stderr);
        return std::nullopt;
    }
    std::string set, where;
    if (!sql_builder.start(set) || !sql_builder.start(where)) {
        no_room("sql statement", table);
        return std::nullopt;
    }
    sql_builder.put(set, std::string("UPDATE ") + target + " SET ");
    sql_builder.put(where, " WHERE ");
    bool first_set = true, first_key = true;
    for (int i = 0; i < table.ncols; ++i) {
        const OskaCol_t *c = table.cols[i].get();
        if (!c) continue;
        const bool in_key = key_column(*key, i);
        if (!in_key && update_skips(*c)) continue;
        std::string &part = in_key ? where : set;
        bool &first = in_key ? first_key : first_set;
        if (!first) sql_builder.put(part, in_key ? " AND " : ",");
        first = false;
        dosetX(conn, *c, record, in_key, part);
    }
    sql_builder.put(set, where);
    return set;
}

std::optional<std::string> bldinsstrX(PGconn *conn, const OskaTable_t &table, const char *record)
{
    std::string names, values;
    if (!sql_builder.start(names) || !sql_builder.start(values)) {
        no_room("sql statement", table);
        return std::nullopt;
    }
    bool first = true;
    for (int i = 0; i < table.ncols; ++i) {
        const OskaCol_t *c = table.cols[i].get();
        if (!c || insert_skips(*c)) continue;
        if (!first) {
            sql_builder.put(names, ",");
            sql_builder.put(values, ",");
        }
        first = false;
        sql_builder.put(names, c->cname);
        sql_builder.put(values, insert_item(conn, *c, record + c->offset));
    }
    std::string text;
    if (!sql_builder.start(text)) {
        no_room("sql statement", table);
        return std::nullopt;
    }
    for (std::string_view piece : {std::string_view("insert into "), std::string_view(table.tname),
                                   std::string_view(" ("), std::string_view(names), std::string_view(") values("),
                                   std::string_view(values), std::string_view(");")})
        sql_builder.put(text, piece);
    return text;
}

std::optional<std::string> bldcsvstrX(PGconn *conn, const OskaTable_t &table, const char *record)
{
    std::string line;
    if (!csv_builder.start(line)) {
        no_room("csv output", table);
        return std::nullopt;
    }
    for (int i = 0; i < table.ncols; ++i) {
        const OskaCol_t *c = table.cols[i].get();
        if (!c) continue;
        if (i > 0) csv_builder.put(line, ",");
        csv_builder.put(line, csv_field(conn, *c, record + c->offset));
    }
    return line;
}
