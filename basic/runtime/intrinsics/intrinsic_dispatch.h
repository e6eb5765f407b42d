// The three intrinsic dispatchers the executor calls, the table through which each subsystem
// hands its intrinsics to them, and the helpers kept beside them. The arguments of an intrinsic
// are the nargs value-stack entries ending at index last (the first at last - nargs + 1).
#pragma once

struct Stack;
struct dec_t;

int r_intrins(Stack *result, int code, int nargs, int last);  // numeric functions
int s_intrins(Stack *result, int code, int nargs, int last);  // string functions
int c_intrins(int code, int nargs, int last);                 // statements

// ---- Handler table ----------------------------------------------------------------------------
//
// Each dispatcher keeps one row per intrinsic code. A row of an intrinsic that the dispatcher
// serves holds the handler of the subsystem that owns it; until that subsystem registers it, a
// call stops the run with "<NAME> not available". Codes the dispatcher has no case for end in
// its default stop ("Bad real function intrinsic code - %d" and the like). The dispatcher itself
// makes the windows-mode refusal (error 208 in background mode) of the rows that need it, so a
// handler never runs without a window system when its intrinsic needs one, and it refuses a call
// with a number of arguments the row does not take (error 200, "<NAME>: wrong number of arguments
// (n)"), so a handler never reads an argument that is not there. A row's argument count is the
// intrinsic's: registering another handler keeps it.
//
// A numeric handler writes its value into result->num; a string handler sets result->s_t to
// string, result->s_c to a text allocated with salloc and result->length.
using NumericIntrinsic = void (*)(int nargs, int last, Stack *result);
using StringIntrinsic = void (*)(int nargs, int last, Stack *result);
using StatementIntrinsic = void (*)(int nargs, int last);

// Installs the handler of code (an InCodes value) and returns the one it replaces (nullptr when
// the row had none). A code the dispatcher has no case for cannot be registered: that is a fault
// of the caller and ends the process with a message naming it. Owners may register from a static
// initialiser, e.g.
//     static const bool registered = (register_statement_intrinsic(in_IGTK_MAIN, igtk_main_case), true);
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
