// Structure variables and table rows: filling a record from the current row of a result, writing
// a record as an UPDATE by primary key, an INSERT or an UPDATE falling back to an INSERT, updating
// another table from a record, and a record as one CSV line.
//
// A record is laid out by its table schema (sql.h): per column, a blank-padded text for char,
// varchar, date and the time types, a 22-byte decimal for numeric, serial and oid, and for text
// and bytea an 8-byte big-endian reference to a closed text kept by the application's pointer
// accounting (0 or eight blanks: no text). Columns and result columns are matched by position.
//
// Every statement goes through OskaPQexec (strict 0). Writes never open or end a transaction:
// they need an open, healthy transaction block on the connection and end the run without one.
// Every value put into a statement is escaped with libpq's escaping. A failed statement gives 0
// and keeps the server's error for IPQERRMSG$ and IPQERRCODE$; the transaction stays open (failed).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include <libpq-fe.h>

#include "code.h"

struct AppMemory_t;
struct OskaCol_t;
struct OskaTable_t;
struct Stack;
struct Symbol;

// ---- Operations ----------------------------------------------------------------------------------
//
// Each takes the schema of the record's table, or its name, which is then looked up among the
// current application's schemas (ending the run when it is not there, with the operation's
// "cannot find table" message). The intrinsics pass the schema they keep for the structure.

// IPQFETCH: the next row of the result into record, the row cursor moving on: 1, or 0 when no row
// is left (the record unchanged). A text or bytea field's previous text is released and the new
// one (the value exactly as the server sent it, a NULL as an empty text) registered for the field.
// Ends the run for an unknown handle ("OskaPgFetchX: unknown result handle %i"), a column count
// other than the table's, a number longer than its column allows, a time with a time zone longer
// than its field, and a column type it cannot fill.
int OskaPgFetchX(std::uint16_t handle, const char *table, char *record);
int OskaPgFetchX(std::uint16_t handle, const OskaTable_t &table, char *record);

// IPQSTORE: the UPDATE of the row with record's primary key, and when it changed no row the
// INSERT: 1 when a row was updated or inserted, 0 otherwise (a failed statement, a table without
// primary key).
int OskaPgStoreX(std::uint16_t handle, const char *table, char *record);
int OskaPgStoreX(std::uint16_t handle, const OskaTable_t &table, char *record);

// IPQINSERT (command 0) and IPQUPDATE (command 1): 1 when the statement changed a row, else 0.
int OskaPgiuX(std::uint16_t handle, int command, const char *table, char *record);
int OskaPgiuX(std::uint16_t handle, int command, const OskaTable_t &table, char *record);

// IPQPARTIALSTORE: the UPDATE of table target from the columns, flags and primary key of the
// schema: 1 when it changed a row, else 0; it never inserts. target must be a plain name (letters,
// digits, "_" and "$", not starting with a digit or "$"), optionally after one schema name and a
// dot; anything else ends the run before a statement is sent.
int OskaPgPartialStoreX(std::uint16_t handle, const char *target, const char *schema, char *record);
int OskaPgPartialStoreX(std::uint16_t handle, const char *target, const OskaTable_t &schema, char *record);

// IPQCSVOUT$: the record as one CSV line (no line end), made the string result (a new salloc
// text); returns its length. The connection serves the escaping and must be usable.
int OskaPgcsvX(std::uint16_t handle, const char *table, char *record, Stack *result);
int OskaPgcsvX(std::uint16_t handle, const OskaTable_t &table, char *record, Stack *result);

// ---- Statement texts (conn serves the escaping) --------------------------------------------------

// "UPDATE <target> SET <items> WHERE <key items>" with one blank after each item and no
// semicolon; nothing (and a line on standard error) when table has no primary key.
std::optional<std::string> bldudstrX(PGconn *conn, const char *target, const OskaTable_t &table, const char *record);
// "insert into <table> (<names>) values(<values>);".
std::optional<std::string> bldinsstrX(PGconn *conn, const OskaTable_t &table, const char *record);
// The CSV line: one field per column, "," between them.
std::optional<std::string> bldcsvstrX(PGconn *conn, const OskaTable_t &table, const char *record);
// Appends column's item of an UPDATE to text: its SET item, or with key its condition item.
void dosetX(PGconn *conn, const OskaCol_t &column, const char *record, bool key, std::string &text);

// ---- Structure arguments of the intrinsics --------------------------------------------------------

// A structure variable: its record, its symbol and the schema of its table.
struct PgStructure {
    char *record;
    const Symbol *symbol;
    const OskaTable_t *table;
};
// The structure a value-stack entry refers to (its address and, in params[0], the routine that
// declares it). Found once per routine and address and then kept until that routine's application
// memory goes. Ends the run with "No symtab found for struct at 0x%X" when no structure variable
// lies there, and "Cannot find table for struct %s at 0x%X" when it has no schema.
PgStructure pg_structure(const Stack &entry);
// Forgets the structures of mem's routines (the core calls it as mem is released).
void pg_forget_structures(const AppMemory_t *mem);
// How many structures are kept (for tests and diagnostics).
std::size_t pg_kept_structures();
