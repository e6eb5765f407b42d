// The value stack of the current interpreter context and the operations every part of the
// run-time uses on it (variables, subscripts, substrings, parameters, the gosub stack).
#pragma once

#include <cstddef>
#include <cstdint>

#include "code.h"
#include "stack.h"

inline constexpr int STACKSIZE = 256;

struct Routine;
struct Application_t;
struct Interp_t;

extern Stack *Stk;  // STACKSIZE entries of the current context
extern int sp;      // index of the top entry, -1 when empty
extern int srange;  // pending substring length of the next string load or store, -1 when none
extern int substring;  // the string being stored is a substring reference (no terminator)

inline constexpr int GOSUB_STK = 100;
inline constexpr std::uint32_t PASSIGN_VALUE = 0x3FFFFFFF;  // structure parameter being assigned

// Releases what a popped entry owns (an owned string text).
void release_entry(Stack &entry);
// A block for an owned text of size bytes (its zero byte included), not zero-filled; ends the run
// when memory runs out. Freed with sfree or by popping the entry that owns it.
char *text_block(std::size_t size);
// Pops n entries, freeing owned texts.
inline void POPSTK(int n)
{
    for (; n > 0; --n, --sp) {
        Stack &e = Stk[sp];
        if (e.s_t == string && !(e.flags & stk_ref) && e.s_c.C_S) release_entry(e);
    }
}

void push_gosub(Code *position, Code **stack, int *count);
Code *pop_gosub(Code **stack, int *count);
// Unwinds to the nearest call marker: its return position, frame base and routine; pops the
// marker and the arguments below it. Without a marker: position 0, frame base -1.
void unwind_stack(Code **pc, int *frame, int *routine);

// Cell index of a subscripted numeric element (subscripts 1-based, the first varies fastest);
// the subscripts are the nsubs entries ending at index top and stay on the stack.
// variable is the variable's storage address (-1: no name in messages), flags its type bits.
int numeric_offset(int nsubs, int dim1, int dim2, int top, Address variable, long flags);

// Pushes a string entry for the field at address, replacing the nsubs subscripts on the stack.
// length -1: the field's current text length; flags -1: no type (a parameter).
void load_string(char *address, long length, int max_length, int dim2, int nsubs, bool as_reference,
                 Address variable, long flags);
// Stores text (text_length bytes) into the field at address; the subscripts are the nsubs entries
// at the top of the stack. Returns the new length of the field's text.
int store_string(char *address, const char *text, long text_length, int max_length, int dim2, int nsubs,
                 int fixed, int based, Address base_address, Address base_value, Address variable, long flags);
// The name of the running routine's variable at address, else "Unknown_Var".
const char *get_var_ex_memloc(Address address, long flags);

// The text a string entry stands for (its own bytes, or the text its pointer field names) and its
// length; a pointer field that holds no text gives nullptr and 0.
const char *entry_text(const Stack &entry, long *length);

void ArgumentSymbolMemory(Routine *routine, Stack *first, int count);
void CommonSymbolMemory(Application_t *ap);
void passign(int parameter);
void passign_val_global_def(Address address);
void varadr_val_global_def(Address address);
void add_pointer_mem_usage(Interp_t *context, void *variable, void *block);
// The pointer-accounting node that records block as the text of the field at variable (the
// current context's application first, then every other), or nullptr when none does.
struct PointerMem_t;
PointerMem_t *find_pointer_mem_usage(const void *variable, const void *block);
int lookup_routine(const char *name);
void pstk();
