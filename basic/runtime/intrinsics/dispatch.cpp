// The three intrinsic dispatchers: one table, indexed by intrinsic code, of the dispatcher that
// serves each code and of the row its owner registered (handler, argument counts, windows-only
// flag), around which each dispatcher puts its common frame. The table knows which codes have a
// case; what each one needs comes from its row alone.
#include <array>
#include <cstdio>
#include <string>

#include <glib.h>

#include "cases.h"
#include "hooks.h"
#include "intrinsics.h"
#include "message.h"
#include "run_time.h"

namespace {

// Intrinsics of the table that no dispatcher serves: EXECUTE and CHAIN (the executor's) and
// those that the language names but the run-time never had.
constexpr int without_case[] = {
    in_EXECUTE, in_CHAIN,
    in_ICHECKVIRUS, in_ILIST_CLONE, in_IMAP_FOLDER_CREATE, in_IMAP_FOLDER_DECLARE, in_IMAP_FOLDER_DELETE,
    in_IMAP_FOLDER_DESTROY, in_IMAP_MAILBOX_DECLARE, in_IMAP_MAILBOX_DESTROY, in_VARIABLE_ARRAY_SIZE,
    in_VARIABLE_EXISTS, in_VARIABLE_LIST_LENGTH, in_VARIABLE_LIST_SEARCH,
    in_PATTERN_SUBST, in_VARIABLE_LIST_ITEM, in_VARIABLE_LIST_JOIN, in_VARIABLE_VALUE,
    in_NEWRUN, in_VARIABLE_DESTROY, in_VARIABLE_GET, in_VARIABLE_LIST_APPEND, in_VARIABLE_LIST_INSERT,
    in_VARIABLE_LIST_REMOVE, in_VARIABLE_LIST_REPLACE, in_VARIABLE_LIST_SORT, in_VARIABLE_SET, in_VARIABLE_SPLIT,
};

enum Kind { NUMERIC, STRING, STATEMENT };
constexpr const char *kind_names[] = {"numeric", "string", "statement"};

Kind kind_of(int code)
{
    const SymType t = inbuilt[code].F_type;
    if (t == IN_STRING_FN) return STRING;
    if (t == IN_STATEMENT || t == IN_NUMERIC_STATEMENT) return STATEMENT;
    return NUMERIC;
}

struct Row {
    Kind kind = NUMERIC;
    bool has_case = false;      // its dispatcher serves the code (else the default stop)
    bool registered = false;    // an owner registered its row: a second row is a fault
    bool windows_only = false;  // refused with error 208 in background mode
    IntrinsicHandler handler;
    NumericIntrinsic text_reader = nullptr;  // the owner's handler when its row reads texts only
    TextMeasure measure = nullptr;  // the owner's count beside text_reader
    Arity arity;  // the intrinsic's, kept when another handler is installed
};

using Table = std::array<Row, IN_ROWS>;

// The rows' READS_TEXT_ONLY flags, apart, so that the executor reads them as a plain array.
constinit bool text_only[IN_ROWS] = {};
// The function rows the executor calls itself, apart for the same reason (see direct_rows).
constinit DirectIntrinsic direct[IN_ROWS] = {};

// Made on first use, so owners may register from static initialisers. Inlined: every call runs it.
[[gnu::always_inline]] inline Table &table()
{
    static Table t = [] {
        Table made{};
        for (int code = 0; code < in_NULL; ++code) {
            made[code].kind = kind_of(code);
            made[code].has_case = true;
        }
        for (int code : without_case) made[code].has_case = false;
        return made;
    }();
    return t;
}

// The name of code in the language's table, or its number (kept in number) when it has no row.
const char *name_of(int code, std::string &number)
{
    if (code >= 0 && code < IN_ROWS) return inbuilt[code].F_name;
    number = std::to_string(code);
    return number.c_str();
}

// The row of code when the dispatcher of kind serves it, else a fault of the caller (named by
// function), which ends the process.
Row &row_to_fill(int code, Kind kind, const char *function)
{
    if (code < 0 || code >= in_NULL || !table()[code].has_case || table()[code].kind != kind) {
        std::string number;
        g_error("%s: %s is not a %s intrinsic that the dispatcher serves", function, name_of(code, number),
                kind_names[kind]);
    }
    return table()[code];
}

// The row of code when the dispatcher of kind serves it, after the windows-mode refusal; nullptr
// when the code ends in the default stop. A served row without a handler stops here, and so does
// a call with a number of arguments the row does not take (the handler would read past them).
[[gnu::always_inline]] inline const Row *served(int code, Kind kind, int nargs)
{
    if (code < 0 || code >= IN_ROWS) return nullptr;
    const Row &row = table()[code];
    if (!row.has_case || row.kind != kind) return nullptr;
    const char *name = inbuilt[code].F_name;
    if (row.windows_only && Back_ground) {
        // Without the "$" of a string intrinsic: the forms engine's own text for one of them is
        // "ICGET_FIELD_NAME: not in windows mode", and one rule serves every refused row.
        std::string bare(name);
        if (!bare.empty() && bare.back() == '$') bare.pop_back();
        Xerror(208, "%s: not in windows mode", bare.c_str());
    }
    if (kind == STATEMENT ? !row.handler.statement : !row.handler.value) Abort("%s not available", name);
    if (nargs < row.arity.min || nargs > row.arity.max) Xerror(200, "%s: wrong number of arguments (%d)", name, nargs);
    return &row;
}

// Fills in the executor's row of code from the table's: served's checks are made here, once, for
// every count of arguments; a call that would fail any of them does not come straight to the
// handler but to the dispatcher, which stops it.
void refresh_direct(int code)
{
    const Row &row = table()[code];
    DirectIntrinsic d;
    if (row.has_case && row.kind != STATEMENT && !row.windows_only && row.handler.value) {
        d.handler = row.handler.value;
        d.name = inbuilt[code].F_name;
        for (int n = 0; n < 64; ++n)
            if (n >= row.arity.min && n <= row.arity.max) d.takes[row.kind == STRING] |= std::uint64_t{1} << n;
        // Only the owner's own handler is known to give what its count gives.
        if (row.handler.value == row.text_reader) d.measure = row.measure;
    }
    direct[code] = d;
}

} // namespace

void register_intrinsic_rows(std::span<const IntrinsicRow> rows)
{
    for (const IntrinsicRow &r : rows) {
        std::string number;
        const char *name = name_of(r.code, number);
        if (r.code < 0 || r.code >= in_NULL || !table()[r.code].has_case)
            g_error("register_intrinsic_rows: %s is not an intrinsic that a dispatcher serves", name);
        Row &row = table()[r.code];
        const bool statement = row.kind == STATEMENT;
        if ((statement && r.handler.value) || (!statement && r.handler.statement))
            g_error("register_intrinsic_rows: the handler of %s is not a %s handler", name, kind_names[row.kind]);
        if (row.registered) g_error("register_intrinsic_rows: %s has a row already", name);
        row.registered = true;
        row.windows_only = r.windows_only;
        row.text_reader = r.reads_text_only ? r.handler.value : nullptr;
        if (r.measure && (row.kind != NUMERIC || !row.text_reader || r.arity.min > 1 || r.arity.max < 1))
            g_error("register_intrinsic_rows: the count of %s needs a numeric row that reads one text only", name);
        row.measure = r.measure;
        text_only[r.code] = row.text_reader != nullptr;
        row.arity = r.arity;
        row.handler = r.handler;
        refresh_direct(r.code);
    }
}

bool reads_text_only(int code)
{
    return code >= 0 && code < IN_ROWS && text_only[code];
}

const bool *text_only_rows()
{
    return text_only;
}

const DirectIntrinsic *direct_rows()
{
    return direct;
}

NumericIntrinsic register_numeric_intrinsic(int code, NumericIntrinsic handler)
{
    Row &row = row_to_fill(code, NUMERIC, "register_numeric_intrinsic");
    NumericIntrinsic previous = row.handler.value;
    row.handler.value = handler;
    // Only the owner's own handler is known to read its texts only.
    text_only[code] = row.text_reader && handler == row.text_reader;
    refresh_direct(code);
    return previous;
}

StringIntrinsic register_string_intrinsic(int code, StringIntrinsic handler)
{
    Row &row = row_to_fill(code, STRING, "register_string_intrinsic");
    StringIntrinsic previous = row.handler.value;
    row.handler.value = handler;
    // Only the owner's own handler is known to read its texts only.
    text_only[code] = row.text_reader && handler == row.text_reader;
    refresh_direct(code);
    return previous;
}

StatementIntrinsic register_statement_intrinsic(int code, StatementIntrinsic handler)
{
    Row &row = row_to_fill(code, STATEMENT, "register_statement_intrinsic");
    StatementIntrinsic previous = row.handler.statement;
    row.handler.statement = handler;
    return previous;
}

int r_intrins(Stack *result, int code, int nargs, int last)
{
    begin_result(result, false, code);
    const Row *row = served(code, NUMERIC, nargs);
    if (!row) Abort("Bad real function intrinsic code - %d", code);
    row->handler.value(nargs, last, result);
    end_result(result, false);
    return 0;
}

int s_intrins(Stack *result, int code, int nargs, int last)
{
    begin_result(result, true, code);
    const Row *row = served(code, STRING, nargs);
    if (!row) Abort("Bad string intrinsic code - %d", code);
    row->handler.value(nargs, last, result);
    end_result(result, true);
    return 0;
}

int c_intrins(int code, int nargs, int last)
{
    const Row *row = served(code, STATEMENT, nargs);
    if (!row) Abort("Bad c-intrinsic code - %d", code);
    row->handler.statement(nargs, last);
    return 0;
}
