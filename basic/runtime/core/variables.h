// What both of the executor's paths share: the locals of one Execute run, the operand words of an
// op, the value-stack pushes, and the loads and stores of numeric, string and structure variables
// and parameters (places, cells, the checks of area and room).
//
// Operands come from a loaded program: everything that indexes memory is checked here before use.
#pragma once

#include <cstdint>

#include "code.h"
#include "executor.h"
#include "globals.h"
#include "message.h"
#include "numerics.h"
#include "op_codes.h"
#include "stack.h"

namespace exec {

// Locals of one Execute run.
struct Run {
    Code *pc;
    int frame = -1;        // stack index of the running routine's first argument
    int result_kind = 0;   // 0 numeric, 1 string function
    int intrinsic_depth = -1;  // depth before the intrinsic call in progress, -1 = none
};

inline int operand(const Code *w) { return static_cast<int>(static_cast<std::uint32_t>(w->param)); }

// The operand words that always follow op (the op table in op_codes.h). Ops decoded together
// are checked to have the same shape where they are decoded.
template <OpCode op> inline constexpr int WORDS = operand_words(op);
// The bracketed base operands of loadsad and storsd with the based flag set.
constexpr int BASED_WORDS = 2;

[[noreturn]] inline void stack_underflow() { Abort("Stack underflow\n"); }

inline void need(int entries)
{
    if (entries < 0 || sp + 1 < entries) stack_underflow();
}

inline Stack &push() { return Stk[++sp]; }

// Writes value into the number entry e.
inline void set_number(Stack &e, const dec_t &value)
{
    e.s_t = real;
    e.num = value;
    e.s_c.C_N = &e.num;
    e.flags = 0;
    e.s_dims[0] = e.s_dims[1] = 0;
    e.length = 0;
}

inline void push_number(const dec_t &value) { set_number(push(), value); }

inline void push_int(int value)
{
    dec_t d;
    NumericCvINT(value, &d);
    push_number(d);
}

// Pushes fn_value; a number is re-pointed at the new entry's own decimal.
inline void push_result(bool numeric)
{
    Stack &e = push();
    e = fn_value;
    if (numeric) e.s_c.C_N = &e.num;
    fn_value.s_dims[0] = fn_value.s_dims[1] = 0;
}

inline Routine &running_routine() { return routines[cur_routine]; }

// The routine's own numeric cell of a plain direct op without subscripts, else nullptr (the
// general path then places and checks it).
inline dec_t *plain_cell(const Code *pc)
{
    const long area = static_cast<long>(pc[1].param);
    if (area == AREA_COMMON || area == AREA_STRUCTS || area >= AREA_PSTRUCT || pc[4].param != 0) return nullptr;
    const long offset = operand(pc);
    if (offset < 0 || !local_numerics || offset >= routines[cur_routine].local_ncount) return nullptr;
    return local_numerics + offset;
}

// A load or store op of a variable, a parameter or a constant (loadr*, loads*, loadst*, storr*,
// stors*, loadrc, loadsc) by the general path, pc after the op word; false for any other op.
bool variable_op(Run &run, unsigned op, Code *&pc);

} // namespace exec
