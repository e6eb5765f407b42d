// The three intrinsic dispatchers the executor calls, the rows through which each subsystem hands
// its intrinsics to them, and the helpers kept beside them. The arguments of an intrinsic
// are the nargs value-stack entries ending at index last (the first at last - nargs + 1).
#pragma once

#include <climits>
#include <span>
#include <string_view>

struct Stack;
struct dec_t;
struct DirectIntrinsic;

int r_intrins(Stack *result, int code, int nargs, int last);  // numeric functions
int s_intrins(Stack *result, int code, int nargs, int last);  // string functions
int c_intrins(int code, int nargs, int last);                 // statements

// ---- Intrinsic rows ----------------------------------------------------------------------------
//
// The dispatchers keep one row per intrinsic code. A code that its dispatcher serves gets its row
// from the subsystem that owns it; until then a call stops the run with "<NAME> not available".
// Codes the dispatcher has no case for end in its default stop ("Bad real function intrinsic code
// - %d" and the like). Before any handler runs, the dispatcher refuses, from the row alone, a
// windows-only intrinsic in background mode (error 208, "<NAME>: not in windows mode") and a
// number of arguments the row does not take (error 200, "<NAME>: wrong number of arguments (n)"),
// so a handler never runs without a window system when its intrinsic needs one and never reads an
// argument that is not there.
//
// A numeric handler writes its value into result->num; a string handler sets result->s_t to
// string, result->s_c to a text allocated with salloc and result->length.
using NumericIntrinsic = void (*)(int nargs, int last, Stack *result);
using StringIntrinsic = void (*)(int nargs, int last, Stack *result);
using StatementIntrinsic = void (*)(int nargs, int last);
// The value of a numeric function of one text that cannot fail, as a plain count (LEN and its
// kin): given beside the handler, it lets the executor call it with the text in place and keep
// the count as a number in binary. It must give what the handler gives for the same text.
using TextMeasure = long (*)(std::string_view text);

// How many arguments an intrinsic takes; the dispatcher refuses any other count (error 200). A
// handler that checks its count itself, with a message of its own, takes ANY_COUNT.
struct Arity {
    int min = 0;
    int max = INT_MAX;
};
inline constexpr Arity ANY_COUNT{};
constexpr Arity exactly(int n) { return {n, n}; }
constexpr Arity at_least(int n) { return {n, INT_MAX}; }
constexpr Arity between(int min, int max) { return {min, max}; }

// The windows-only flag of a row: refused in background mode before the handler runs.
inline constexpr bool WINDOWS_ONLY = true;
// The flag of a row whose handler only reads its string arguments: it writes into none of them,
// keeps none and looks at no flag of theirs, reads no variable, and raises any error before it
// makes its result. The executor may then hand it a string variable's text in place (an entry
// referring to the variable) instead of a copy, and call it with variables still held in binary.
inline constexpr bool READS_TEXT_ONLY = true;

// The handler of a row. Numeric and string handlers have one type; the code tells which
// dispatcher serves it.
struct IntrinsicHandler {
    constexpr IntrinsicHandler() = default;
    constexpr IntrinsicHandler(NumericIntrinsic h) : value(h) {}
    constexpr IntrinsicHandler(StatementIntrinsic h) : statement(h) {}
    NumericIntrinsic value = nullptr;  // numeric and string functions
    StatementIntrinsic statement = nullptr;
};

// One intrinsic as its owner hands it to the dispatchers, e.g.
//     {in_IGWIN_NEW, igwin_new, ANY_COUNT, WINDOWS_ONLY}   // the handler checks its own count
//     {in_ABS, ABS_case, exactly(1)}
// A row without a handler reserves the code with its flag for an owner not built yet.
struct IntrinsicRow {
    int code;  // an InCodes value (basic/include/intrinsics.h)
    IntrinsicHandler handler = {};
    Arity arity = ANY_COUNT;
    bool windows_only = false;
    bool reads_text_only = false;
    TextMeasure measure = nullptr;  // only on a READS_TEXT_ONLY numeric row that takes one argument
};

// How to add an intrinsic:
//  1. Write its handler in the topic file of the subsystem that owns it (see the types above).
//  2. Add its row to that topic's table: code, handler, the counts the dispatcher takes (ANY_COUNT
//     when the handler checks its count with its own message), WINDOWS_ONLY when it needs a
//     window system.
//  3. A topic exports its table as std::span<const IntrinsicRow>; a new topic's span is handed
//     over by one register_intrinsic_rows call in its subsystem's registration.cpp.
// Registering a row for a code its dispatcher does not serve, a handler of the other kind
// (statement or function) than the code's, or a second row for a code ends the process with a
// message naming the code: a fault of the owner, found at start-up.
void register_intrinsic_rows(std::span<const IntrinsicRow> rows);

// The rows of the function intrinsics that the executor calls without a dispatcher, IN_ROWS of them
// indexed by code (DirectIntrinsic, core/hooks.h), kept in step with every row and handler
// registered.
const DirectIntrinsic *direct_rows();

// True when the row of code (an InCodes value) carries READS_TEXT_ONLY and has its owner's handler.
bool reads_text_only(int code);
// The same for every code, IN_ROWS flags indexed by code, for the executor to read without a call.
const bool *text_only_rows();

// Installs another handler in the row of code (an InCodes value) and returns the one it replaces
// (nullptr when the row had none); the row's counts and flags stay, but READS_TEXT_ONLY holds only
// while the row has its owner's handler. This is the seam through which
// tests put their own handlers in and the replaced ones back. A code the dispatcher has no case
// for cannot be given a handler: that ends the process with a message naming it.
NumericIntrinsic register_numeric_intrinsic(int code, NumericIntrinsic handler);
StringIntrinsic register_string_intrinsic(int code, StringIntrinsic handler);
StatementIntrinsic register_statement_intrinsic(int code, StatementIntrinsic handler);

// The integer value of a decimal as "%p" text ("0xff", "(nil)"), in a static buffer that the
// next call overwrites.
char *Convert_HEX(const dec_t *value);
// Makes result a string of n copies of the control character of BS$, CR$, FF$, LF$ or TAB$.
void Intrinsic_string(Stack *result, int code, int n);

// ---- Diagnostic statements ----------------------------------------------------------------------
// LOG.DEBUG: the text at last as a debug report.
void log_debug(int last);
// LOG.ERROR: the program's own fatal report from the nine texts ending at last, shown (or logged
// in background mode) and mailed; the caller then ends the run.
void log_window(int last);
// VARINFO: each argument and the variable behind it, on standard output.
void varinfo(int nargs, int last);
// VARADR$: "0x%lX:0x%lX" (variable, routine record) of the first argument, "0x0:0x0" when it is
// not a variable, written into area (size bytes, at least 25); returns area.
char *get_variable_address(int nargs, int last, char *area, int size);
