// What the PostgreSQL layer's own files share beyond pg.h.
#pragma once

#include <cstdint>
#include <string_view>

#include "pg.h"

// Frees the storage of the connection table (true) or of the result table (false) and sets its
// size to 0; the slots must hold nothing any more.
void pg_free_tables_storage(bool connections);
// Frees every prepared-statement record.
void pg_free_prepared();
// The routine name that discipline mails start with: Rname inside a routine, else "__MAIN__".
const char *pg_mail_routine();
// Milliseconds on the statement clock.
std::int64_t pg_clock_now();
// Sleeps between connection attempts.
void pg_connect_pause(unsigned seconds);
// The text IPQERRMSG$ gives: a new salloc copy of the last error ("" when none); when there is
// one, "returning <message>" goes to standard error first.
char *pg_last_error_for_program();
// Whether name may stand in a statement as a column: a letter or "_", then letters, digits, "_"
// and "$" (ASCII). A table name may have one schema name of that form and a dot before it.
bool pg_column_name(std::string_view name);
bool pg_table_name(std::string_view name);
