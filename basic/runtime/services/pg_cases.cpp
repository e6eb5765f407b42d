// The dispatcher cases of the PostgreSQL intrinsics: handles are cut to their low 16 bits, texts
// are read by their length, and each case hands its arguments to the operation in pg.h and makes
// the operation's answer the result.
#include <cstring>
#include <string>

#include "cases.h"
#include "intrinsics.h"
#include "mem_mgt.h"
#include "message.h"
#include "pg.h"
#include "service_cases.h"

namespace {

using namespace intr;

void need(int nargs, int wanted, const char *name)
{
    if (nargs != wanted) Xerror(200, "%s called with wrong number of arguments (%d)", name, nargs);
}

std::uint16_t handle(int nargs, int last, int i)
{
    return static_cast<std::uint16_t>(static_cast<unsigned>(integer(arg(nargs, last, i))));
}

// A NUL-terminated copy of a string argument (a NUL inside ends it for libpq).
std::string c_text(int nargs, int last, int i) { return std::string(text(arg(nargs, last, i))); }

// A numeric variable the intrinsic reports through.
void set_flag(Stack &e, int value, const char *name)
{
    if (!(e.flags & stk_ref) || !is_number(e)) Xerror(202, "%s: argument must be a numeric variable", name);
    NumericCvINT(value, e.s_c.C_N);
}

// Makes the new salloc text the string result.
void take_text(Stack *result, char *text, std::size_t length)
{
    result->s_t = string;
    result->s_c.C_S = text;
    result->length = static_cast<std::uint32_t>(length);
}
void take_text(Stack *result, char *text) { take_text(result, text, std::strlen(text)); }

// Cases taking one handle and answering with a number.
template <auto Operation> void one_handle(int nargs, int last, Stack *result, const char *name)
{
    need(nargs, 1, name);
    set_number(result, static_cast<long>(Operation(handle(nargs, last, 0))));
}

void IPQAFFECTEDROWS_case(int n, int l, Stack *r) { one_handle<OskaPgAffectedRows>(n, l, r, "IPQAFFECTEDROWS"); }
void IPQBACKENDPID_case(int n, int l, Stack *r) { one_handle<OskaPgConnBEPID>(n, l, r, "IPQBACKENDPID"); }
void IPQCLEAR_case(int n, int l, Stack *r) { one_handle<OskaPgFreeRes>(n, l, r, "IPQCLEAR"); }
void IPQCLOSE_case(int n, int l, Stack *r) { one_handle<OskaFreePgConn>(n, l, r, "IPQCLOSE"); }
void IPQCOMMIT_case(int n, int l, Stack *r) { one_handle<OskaPgCommit>(n, l, r, "IPQCOMMIT"); }
void IPQNFIELDS_case(int n, int l, Stack *r) { one_handle<OskaPgnfields>(n, l, r, "IPQNFIELDS"); }
void IPQNTUPLES_case(int n, int l, Stack *r) { one_handle<OskaPgntuples>(n, l, r, "IPQNTUPLES"); }
void IPQTRANSACTIONSTATUS_case(int n, int l, Stack *r)
{
    one_handle<OskaPgTransactionStatus>(n, l, r, "IPQTRANSACTIONSTATUS");
}

void IPQCONNECTDB_case(int nargs, int last, Stack *result)
{
    need(nargs, 1, "IPQCONNECTDB");
    set_number(result, OskaPgConnect(c_text(nargs, last, 0).c_str()));
}

void IPQEXEC_case(int nargs, int last, Stack *result)
{
    need(nargs, 2, "IPQEXEC");
    set_number(result, OskaPgExec(handle(nargs, last, 0), c_text(nargs, last, 1).c_str()));
}

void IPQEXECFILE_case(int nargs, int last, Stack *result)
{
    need(nargs, 2, "IPQEXECFILE");
    set_number(result, OskaPgExecFile(handle(nargs, last, 0), c_text(nargs, last, 1).c_str()));
}

void IPQNUMFETCH_case(int nargs, int last, Stack *result)
{
    need(nargs, 2, "IPQNUMFETCH");
    NumericCvINT(0, &result->num);
    const int status = OskaPgNumericFetch(handle(nargs, last, 0), &result->num);
    set_flag(arg(nargs, last, 1), status == 0 ? 1 : 0, "IPQNUMFETCH");
}

void IPQCMDSTATUS_case(int nargs, int last, Stack *result)
{
    need(nargs, 1, "IPQCMDSTATUS$");
    take_text(result, OskaPgcmdStatus(handle(nargs, last, 0)));
}

void IPQGETVALUE_case(int nargs, int last, Stack *result)
{
    need(nargs, 3, "IPQGETVALUE$");
    const int row = integer(arg(nargs, last, 1)), column = integer(arg(nargs, last, 2));
    char *value = OskaPggetvalue(handle(nargs, last, 0), row, column);
    std::fprintf(stderr, "returning string \"%s\", for row %i, col %i\n", value, row, column);
    std::fflush(stderr);
    take_text(result, value);
}

void IPQSTRFETCH_case(int nargs, int last, Stack *result)
{
    need(nargs, 2, "IPQSTRFETCH$");
    Stack &flag = arg(nargs, last, 1);
    set_flag(flag, 0, "IPQSTRFETCH$");  // refused before a row is taken
    std::uint32_t length = 0;
    char *row = OskaStrFetch(handle(nargs, last, 0), &length);
    if (row) set_flag(flag, 1, "IPQSTRFETCH$");
    if (row)
        take_text(result, row, length);
    else
        set_text(result, "");
}

void IPQERRMSG_case(int, int, Stack *result) { take_text(result, OskaPgLastErrStr()); }
void IPQERRCODE_case(int, int, Stack *result) { take_text(result, OskaPgLastSQLSTATE()); }

void IPQNOTIFIES_case(int nargs, int last, Stack *result)
{
    need(nargs, 1, "IPQNOTIFIES$");
    take_text(result, OskaPgNotifies(handle(nargs, last, 0)));
}

using TimeOperation = char *(*)(std::uint16_t, const char *, const char *);

// IPQTIME$ and IPQTIMESTAMP$: the handle, then an optional interval and an optional time stamp,
// each of which must be a string.
void server_time_case(int nargs, int last, Stack *result, TimeOperation operation, const char *name,
                      const char *intrinsic)
{
    if (nargs < 1 || nargs > 3) Xerror(200, "%s called with wrong number of arguments (%d)", intrinsic, nargs);
    std::string texts[2];
    for (int i = 1; i < nargs; ++i) {
        const Stack &e = arg(nargs, last, i);
        if (!is_text(e)) Abort("%s arg to %s() must be a string", i == 1 ? "Second" : "Third", name);
        texts[i - 1] = std::string(text(e));
    }
    take_text(result, operation(handle(nargs, last, 0), nargs > 1 ? texts[0].c_str() : nullptr,
                                nargs > 2 ? texts[1].c_str() : nullptr));
}

void IPQTIME_case(int nargs, int last, Stack *result) { server_time_case(nargs, last, result, ipqtime, "ipqtime", "IPQTIME$"); }
void IPQTIMESTAMP_case(int nargs, int last, Stack *result)
{
    server_time_case(nargs, last, result, ipqtimestamp, "ipqtimestamp", "IPQTIMESTAMP$");
}

void IPQBEGIN_case(int nargs, int last)
{
    need(nargs, 1, "IPQBEGIN");
    OskaPgBegin(handle(nargs, last, 0));
}

void IPQROLLBACK_case(int nargs, int last)
{
    need(nargs, 1, "IPQROLLBACK");
    OskaPgRollback(handle(nargs, last, 0));
}

constexpr IntrinsicRow rows[] = {
    {in_IPQCONNECTDB, IPQCONNECTDB_case},
    {in_IPQCLOSE, IPQCLOSE_case},
    {in_IPQEXEC, IPQEXEC_case},
    {in_IPQEXECFILE, IPQEXECFILE_case},
    {in_IPQCLEAR, IPQCLEAR_case},
    {in_IPQCOMMIT, IPQCOMMIT_case},
    {in_IPQTRANSACTIONSTATUS, IPQTRANSACTIONSTATUS_case},
    {in_IPQNTUPLES, IPQNTUPLES_case},
    {in_IPQNFIELDS, IPQNFIELDS_case},
    {in_IPQAFFECTEDROWS, IPQAFFECTEDROWS_case},
    {in_IPQNUMFETCH, IPQNUMFETCH_case},
    {in_IPQBACKENDPID, IPQBACKENDPID_case},
    {in_IPQCMDSTATUS, IPQCMDSTATUS_case},
    {in_IPQGETVALUE, IPQGETVALUE_case},
    {in_IPQSTRFETCH, IPQSTRFETCH_case},
    {in_IPQERRMSG, IPQERRMSG_case},
    {in_IPQERRCODE, IPQERRCODE_case},
    {in_IPQNOTIFIES, IPQNOTIFIES_case},
    {in_IPQTIME, IPQTIME_case},
    {in_IPQTIMESTAMP, IPQTIMESTAMP_case},
    {in_IPQBEGIN, IPQBEGIN_case},
    {in_IPQROLLBACK, IPQROLLBACK_case},
};

} // namespace

std::span<const IntrinsicRow> pg_intrinsics() { return rows; }
