// The PostgreSQL layer. Programs hold connections and results as small numbers: slots of two
// process-wide handle tables. Every statement the layer sends goes through OskaPQexec, which
// classifies and counts it, applies the transaction-discipline rules, logs and times it and mails
// slow ones. The structure mapping, documents and video frames build on what is declared here.
//
// Handles from programs are cut to their low 16 bits before use; a handle of 0 or not below its
// table's size is a bad handle, and bad handles give the neutral results the intrinsics document.
#pragma once

#include <cstdint>
#include <string>

#include <libpq-fe.h>

struct OskaTable_t;
struct OskaIdx_t;
struct dec_t;

// ---- Handle tables ------------------------------------------------------------------------------
//
// Entry 0 of each table is never a handle: its next_free heads the list of free slots (0 = none).
// A table grows by two entries when no slot is free and never shrinks; the last slot released is
// the next one issued.
struct PgConnEntry {
    PGconn *conn;             // null while the slot is free
    std::uint32_t next_free;  // next free slot, 0 = end of the list
};

struct PgResEntry {
    PGresult *res;            // null while the slot is free
    std::uint32_t row_cursor; // the next row IPQSTRFETCH$, IPQNUMFETCH and IPQFETCH deliver
    std::uint32_t next_free;
    char *sql;                // owned copy of the statement that made the result, or null
    char *routine;            // owned copy of the calling routine's name (copy_cur_routine_aname)
};

extern PgConnEntry *contab;
extern std::uint16_t pgctabsize;  // entries of contab, 0 before the first connection
extern PgResEntry *restab;
extern std::uint16_t pgrestabsize;

// The connection of a handle, or null for a bad handle or a free slot.
PGconn *hdlgetconn(std::uint16_t handle);
// The entry of a result handle, or null for a bad handle (the entry of a cleared slot is returned,
// its res null).
PgResEntry *reshdlgetent(std::uint16_t handle);
// The slot that holds conn, 0 when none does (only to name a connection in messages).
int conngethdl(const PGconn *conn);
// A slot for conn / res; the table grows when needed. Growing past 65535 entries ends the run
// with "allocconn(): Could not allocate memory" / "allocreshhdl: Could not allocate memory".
int allocconn(PGconn *conn);
int allocreshdl(PGresult *res);
// Frees a slot (its pointers must already be released).
void releaseconn(std::uint16_t handle);
void releasereshdl(std::uint16_t handle);
// A result slot for res that keeps copies of the statement and of the calling routine's name.
int allocreshdl_for(PGresult *res, const char *sql);

// The primary key of a table: its first index, or null for no table or no index.
OskaIdx_t *tblgetpk(const OskaTable_t *table);

// ---- Statements -----------------------------------------------------------------------------------

// Sends sql on conn and returns libpq's result (null included) unchanged. strict is 1 only for
// statements a program wrote (IPQEXEC, IPQEXECFILE): the discipline rules that mail writes outside
// a transaction block apply to those alone. Afterwards inPgTransaction is brought up to date.
PGresult *OskaPQexec(PGconn *conn, const char *sql, int strict);
// The classification and rules OskaPQexec applies first: counters, Prep records and mails.
void OskaPQcheck(PGconn *conn, const char *sql, int strict);

// 1 when conn is inside a healthy transaction block, else 0; a connection that is bad or absent
// ends the run with "OskaPgTransactionStatus: database connection \"%i\" in invalid state".
int OskaPQTransactionStatus(PGconn *conn);
int OskaPgTransactionStatus(std::uint16_t handle);

// The number of connections inside a transaction block, healthy or failed. It is recounted after
// every statement the layer sends and whenever a connection is closed, so BEGIN or COMMIT written
// by the program, a failed COMMIT or a closed connection never leave it wrong.
extern int inPgTransaction;
void pg_count_transactions();

// text as a literal's contents, escaped for conn's encoding and settings (libpq's escaping).
std::string pg_escape(PGconn *conn, const char *text);

// ---- Last error ----------------------------------------------------------------------------------

extern char *lasterrmsg;    // last error message, null = none
extern char *lastsqlstate;  // last SQLSTATE, null = none
// Keeps res's error message (empty for a result without error) and SQLSTATE (null without one).
void setreserrmsgs(const PGresult *res);
// As setreserrmsgs, or for a null result (no memory, no connection) the connection's message and
// no SQLSTATE.
void keep_error(PGconn *conn, const PGresult *res);
// Replaces only the last error message (a failed connection attempt keeps the SQLSTATE).
void keep_error_text(const char *message);

// ---- Statistics ------------------------------------------------------------------------------------

extern std::uint64_t pg_req_count, pg_select_count, pg_insert_count, pg_update_count, pg_delete_count,
    pg_truncate_count, pg_comment_count, pg_begin_count, pg_commit_count, pg_rollback_count;

// ---- Operations behind the intrinsics --------------------------------------------------------------

// The longest IPQCONNECTDB takes, every attempt and pause included: a form waits no longer for a
// server that does not answer. A connect_timeout in the connection text still bounds each attempt.
inline constexpr int PG_CONNECT_TOTAL_MS = 60'000;

int OskaPgConnect(const char *conninfo);  // IPQCONNECTDB: handle, 0 after 6 failures or the total time-out
int OskaFreePgConn(std::uint16_t handle);                  // IPQCLOSE
int OskaPgExec(std::uint16_t handle, const char *sql);     // IPQEXEC: result handle, 0 on error
int OskaPgExecFile(std::uint16_t handle, const char *name);  // IPQEXECFILE
int OskaPgFreeRes(std::uint16_t handle);                   // IPQCLEAR
void OskaPgBegin(std::uint16_t handle);                    // IPQBEGIN
int OskaPgCommit(std::uint16_t handle);                    // IPQCOMMIT
void OskaPgRollback(std::uint16_t handle);                 // IPQROLLBACK

int OskaPgntuples(std::uint16_t handle);                   // IPQNTUPLES
int OskaPgnfields(std::uint16_t handle);                   // IPQNFIELDS
long OskaPgAffectedRows(std::uint16_t handle);             // IPQAFFECTEDROWS
int OskaPgConnBEPID(std::uint16_t handle);                 // IPQBACKENDPID: -1 for a bad handle
// The texts below are new salloc texts the caller owns.
char *OskaPgcmdStatus(std::uint16_t handle);               // IPQCMDSTATUS$
char *OskaPggetvalue(std::uint16_t handle, int row, int column);  // IPQGETVALUE$
// IPQSTRFETCH$: the next row joined by "|" (length in *length), or null when none is left.
char *OskaStrFetch(std::uint16_t handle, std::uint32_t *length);
// IPQNUMFETCH: 0 when a value was delivered into *value (the cursor moves), else 1 (no row left),
// 2 (bad handle or more than one column) or 3 (missing or empty value).
int OskaPgNumericFetch(std::uint16_t handle, dec_t *value);
char *OskaPgLastErrStr();                                  // IPQERRMSG$
char *OskaPgLastSQLSTATE();                                // IPQERRCODE$
char *OskaPgNotifies(std::uint16_t handle);                // IPQNOTIFIES$
// IPQTIME$ / IPQTIMESTAMP$ with the optional interval and time stamp (null when not given).
char *ipqtime(std::uint16_t handle, const char *interval, const char *stamp);
char *ipqtimestamp(std::uint16_t handle, const char *interval, const char *stamp);
// A search of text in every column of a table of the current application: a result handle of the
// rows' primary keys, 0 when the table is unknown, has no primary key or the statement fails.
int OskaTblStrSearch(std::uint16_t handle, const char *table, const char *text);

// At exit, in this order: results a program never cleared (reported on standard output), then
// connections, the prepared-statement records and the statistics (standard error, and a mail
// above 100000 statements).
void FreeAllPgRes();
void FreeAllPgConn();

// ---- Seams for tests -------------------------------------------------------------------------------
//
// The pause between connection attempts (seconds) and the statement clock (milliseconds, by
// default DpsStartTimer's wall clock); each setter returns what it replaces, nullptr restores the
// default.
using PgSleep = void (*)(unsigned seconds);
using PgClock = std::int64_t (*)();
PgSleep set_pg_connect_sleep(PgSleep sleep);
PgClock set_pg_statement_clock(PgClock clock);
// The longest a whole connect (every attempt and pause) takes, in milliseconds (by default
// PG_CONNECT_TOTAL_MS); returns what it replaces, 0 restores the default.
int set_pg_connect_total_ms(int ms);
