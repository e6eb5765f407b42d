// Table schemas: the database tables a program declares, whose rows map onto fixed-layout records
// (structure variables), and the registry of 256 buckets that holds them per application.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

inline constexpr int MAX_SQL_COLS = 256;
inline constexpr int MAX_SQL_INDICES = 32;
inline constexpr int MAX_SQL_IDX_ATTS = 31;  // attribute slots used of the 32 an index has
inline constexpr int NH_OSKATABLES = 256;

// Text sizes of the date and time columns in a record (one more byte for the terminator).
inline constexpr int SQL_DATE_SIZE = 10;
inline constexpr int SQL_TSTAMP_SIZE = 30;
inline constexpr int SQL_TSTAMPW_SIZE = 24;
inline constexpr int SQL_TIMEW_SIZE = 18;
inline constexpr int SQL_TIME_SIZE = 13;

// Column flags.
inline constexpr std::uint32_t OCOL_TS_AUTO_I = 0x1;  // set automatically on insert
inline constexpr std::uint32_t OCOL_TS_AUTO_U = 0x2;  // set automatically on update
inline constexpr std::uint32_t OCOL_TS_TZ = 0x4;      // text column holding a time zone

// Column types. The object file numbers them differently (ct_ct2number, ct_number2ct).
enum ColType_t : int {
    ct_unknown, ct_date, ct_char, ct_varchar, ct_numeric, ct_text, ct_bytea, ct_serial,
    ct_struct, ct_timestamp, ct_timestampw, ct_timew, ct_time, ct_oid,
};

const char *ct_string(ColType_t type);
int ct_ct2number(ColType_t type);
ColType_t ct_number2ct(int number);  // ct_unknown for a number outside 1..13
// Bytes a column of this type takes in a record, or -1 for an unknown type or a negative size.
int ct_record_bytes(ColType_t type, int storage_A);

struct OskaCol_t {
    std::string cname;
    ColType_t type = ct_unknown;
    std::int16_t storage_A = 0;  // length or precision
    std::int16_t storage_B = 0;  // scale
    std::optional<std::string> constraints;
    std::optional<std::string> defaults;
    int src_line = 0;
    int offset = -1;  // byte offset in the record, -1 until assigned
    std::uint32_t cflags = 0;
};

struct OskaIdx_t {
    std::string iname;
    std::int16_t natts = 0;
    std::int16_t atts[MAX_SQL_IDX_ATTS + 1] = {};  // column positions
    int src_line = 0;
};

struct OskaTable_t {
    std::string tname;
    std::optional<std::string> crtstr;  // creation text
    std::int16_t nidx = 0;
    std::int16_t ncols = 0;
    bool vtable = false;  // virtual: not stored in the database
    int tsize = 0;        // record size in bytes
    std::unique_ptr<OskaIdx_t> idxes[MAX_SQL_INDICES];
    std::unique_ptr<OskaCol_t> cols[MAX_SQL_COLS];  // in declaration order
    OskaTable_t *nxt = nullptr;  // next table of the same bucket
    int src_line = 0;            // declaration line; 0 when read from an object file
};

// A registry is an array of NH_OSKATABLES bucket chains, indexed by hash_32(name) & 255.
using OskaTableRegistry = OskaTable_t **;

// The compiler's registry, emptied by init_oskatable on the first lookup or creation.
extern OskaTable_t *oska_tables[NH_OSKATABLES];
extern int oska_htables_initialised;
void init_oskatable();

// Standard CRC-32 of the name's bytes.
std::uint32_t hash_32(const char *name);

OskaTable_t *FindOskaTable(OskaTableRegistry tables, const char *name);
OskaTable_t *CreateOskaTable(OskaTableRegistry tables, const char *name);  // nullptr without memory
void DelOskaTable(OskaTableRegistry tables, OskaTable_t *table);
void DelAllOskaTables(OskaTableRegistry tables);
OskaCol_t *FindOskaCol(OskaTable_t *table, const char *name, int *index);  // name case-insensitive
OskaCol_t *CreateOskaCol(OskaTable_t *table, const char *name);
OskaIdx_t *FindOskaIdx(OskaTable_t *table, const char *name);
OskaIdx_t *CreateOskaIdx(OskaTable_t *table, const char *name);
void AddColAttribute(OskaTable_t *table, OskaIdx_t *index, const char *column);

// Reads one table-schema section from the object buffer into tables; returns the tables read.
int LoadOskaTables(OskaTableRegistry tables);
// Writes the section for every table of the compiler's registry; returns the tables written.
int SaveOskaTables(std::FILE *stream);
// Assigns the column offsets and returns the record size.
int OskaTable_GenOffsets(OskaTable_t *table);
// 0 when both tables have the same record layout, else 1.
int CompareOskaTable(const OskaTable_t *t0, const OskaTable_t *t1);
void show_sql_tables(OskaTableRegistry tables);

// The compiler's list of table variables. Entries refer to the given strings, not copies.
struct TableVars_t {
    const char *tname;
    const char *vname;
    std::uint32_t flag;
    int routine_idx;
    TableVars_t *nxt;
};
extern TableVars_t *table_vars;
extern TableVars_t *last_table_var;
void AddTableVar(const char *tname, const char *vname, std::uint32_t flag, int routine_idx);
TableVars_t *FindTableVar(const char *vname, int routine_idx);
