// IPQFETCH: the current row of a result into a structure variable's record, column by column by
// position, and the row cursor one row on.
//
// A fetch loop runs over every row of a result, so a row costs one pass over the columns: no
// statement text, no search by column name, and a text field's old block released before its new
// one is registered, so memory stays flat however many rows a program reads.
#include <algorithm>
#include <cstring>

#include "libpq_calls.h"
#include "mem_mgt.h"
#include "message.h"
#include "numerics.h"
#include "pg.h"
#include "pg_row_internal.h"
#include "pg_rows.h"
#include "run_time.h"
#include "structops.h"

namespace {

// A time with a time zone cut to its field would lose its offset and be written back shifted.
bool keeps_zone(ColType_t type) { return type == ct_timestamp || type == ct_time; }

void fill_chars(char *field, int width, const char *value, int length)
{
    width = std::max(width, 0);
    std::memset(field, ' ', static_cast<std::size_t>(width));
    std::memcpy(field, value, static_cast<std::size_t>(std::min(length, width)));
}

void fill_time(const OskaCol_t &c, char *field, const char *value, int length, bool null)
{
    const int w = text_width(c);
    if (null) {
        std::memset(field, ' ', static_cast<std::size_t>(w));
    } else if (c.type == ct_date) {
        fill_chars(field, w, value, length);  // a shorter date ('infinity') keeps nothing of the last row
    } else if (length < w) {
        std::memcpy(field, value, static_cast<std::size_t>(length));
        field[length] = '\0';
    } else {
        if (length > w && keeps_zone(c.type))
            Abort("OskaPgFetchX: %s value %s is bigger than storage %i", ct_string(c.type), value, w);
        std::memcpy(field, value, static_cast<std::size_t>(w));
    }
}

// A NULL has length 0, like an empty value: both give 0.
void fill_number(const OskaCol_t &c, char *field, const char *value, int length)
{
    dec_t d = ZERO_DEC;
    if (length > 0) {
        if (c.type != ct_serial && length > c.storage_A + c.storage_B + 1)
            Abort("OskaPgFetchX: numeric %s is bigger than storage %i", value, c.storage_A + c.storage_B);
        NumericCvASC(value, length, &d);
    }
    std::memcpy(field, &d, sizeof d);  // records need not keep decimals aligned
}

void fill_text(const OskaTable_t &t, const OskaCol_t &c, char *field, const char *value, int length)
{
    auto *block = static_cast<char *>(DpsXmalloc(static_cast<std::size_t>(length) + 1));
    if (!block)
        Abort("OskaPgFetchX: No memory (needed %d) for %s field %s.%s", length, c.type == ct_text ? "text" : "bytea",
              t.tname.c_str(), c.cname.c_str());
    std::memcpy(block, value, static_cast<std::size_t>(length));
    text_field_set(field, block, "OskaPgFetchX");
}

// The result entry of handle with a row left to deliver, or nullptr when none is left.
PgResEntry *next_row(std::uint16_t handle)
{
    PgResEntry *e = reshdlgetent(handle);
    if (!e) Abort("OskaPgFetchX: unknown result handle %i", static_cast<int>(handle));
    return e->row_cursor < static_cast<std::uint32_t>(libpq().PQntuples(e->res)) ? e : nullptr;
}

} // namespace

int OskaPgFetchX(std::uint16_t handle, const char *table_name, char *record)
{
    if (!next_row(handle)) return 0;
    const OskaTable_t *t = pg_find_table(table_name);
    if (!t) Abort("OskaPgFetchX: cannot find table %s definition", table_name);
    return OskaPgFetchX(handle, *t, record);
}

int OskaPgFetchX(std::uint16_t handle, const OskaTable_t &t, char *record)
{
    PgResEntry *e = next_row(handle);
    if (!e) return 0;
    PGresult *res = e->res;
    const int columns = libpq().PQnfields(res);
    if (columns != t.ncols)
        Abort("OskaPgFetchX: Column missmatch: Supplied stuct (%s) count = %d, result set count = %d",
              t.tname.c_str(), static_cast<int>(t.ncols), columns);

    const int row = static_cast<int>(e->row_cursor);
    for (int i = 0; i < columns; ++i) {
        if (!t.cols[i]) continue;
        const OskaCol_t &c = *t.cols[i];
        char *field = record + c.offset;
        const char *value = libpq().PQgetvalue(res, row, i);
        const int length = libpq().PQgetlength(res, row, i);
        switch (row_field(c.type)) {
        case RowField::chars: fill_chars(field, text_width(c), value, length); break;
        case RowField::time: fill_time(c, field, value, length, length == 0 && libpq().PQgetisnull(res, row, i)); break;
        case RowField::numeric:
        case RowField::integer: fill_number(c, field, value, length); break;
        case RowField::text:
        case RowField::bytea: fill_text(t, c, field, value, length); break;
        case RowField::other: Abort("OskaPgFetchX: unrecognised col type %i", static_cast<int>(c.type));
        }
    }
    ++e->row_cursor;
    return 1;
}
