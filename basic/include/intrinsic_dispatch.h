// The three intrinsic dispatchers the executor calls, and the helpers kept beside them. The
// arguments are the nargs value-stack entries ending at index last.
#pragma once

struct Stack;
struct dec_t;

int r_intrins(Stack *result, int code, int nargs, int last);
int s_intrins(Stack *result, int code, int nargs, int last);
int c_intrins(int code, int nargs, int last);

// EXECUTE and CHAIN, served by the executor itself rather than a dispatcher.
struct Interp_t;
Interp_t *new_interpreter(int nargs, int last);
void Chain(int nargs, int last);

// A decimal's shortest text in a static buffer that the next call overwrites.
char *Convert_BCD(const dec_t *value);
// The concatenation of the count string entries ending at last, into result.
int s_concat(Stack *result, int last, int count);
// Clears the structure of the entry at last (sclear op).
void sclear(int last);
