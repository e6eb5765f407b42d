// What the structure-to-row files share beyond pg_rows.h: how each column type's field is read.
#pragma once

#include <string>

#include "sql.h"

// How a column's field is handled when rows are read and statements written.
enum class RowField {
    time,     // date, timestamp, timestampw, timew, time: a text of a fixed width
    chars,    // char, varchar: a blank-padded text of storage_A bytes
    numeric,  // a decimal shown with storage_B decimals
    integer,  // serial, oid: a decimal written as a whole number
    text,     // text, bytea: a reference to a closed text
    bytea,
    other,    // struct, unknown: no field these operations can read or write
};
RowField row_field(ColType_t type);

// Width W of the text of a time-like, char or varchar field (its record bytes less the terminator).
inline int text_width(const OskaCol_t &c) { return ct_record_bytes(c.type, c.storage_A) - 1; }

// The schema of that name in the current application, or nullptr.
const OskaTable_t *pg_find_table(const char *name);
