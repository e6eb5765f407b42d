// The executor's decoded steps: the ops that make up most of a program's turns, decoded once a
// routine into one step a code word and run by one loop (run_steps) on numbers kept in binary
// between ops; anything else it leaves to the general path (executor.cpp), op by op.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "op_codes.h"
#include "run_time.h"
#include "variables.h"

// ---- The step table ----------------------------------------------------------------------------
//
// One row per kind of step, in the order of StepKind: the enumerator, the loop's label for its
// path (kinds that share a path share a label), the op or ops it stands for and the step's
// operands as the decoder fills them. ONE(op): every such op decodes to this kind, by an arm the
// table writes, the step's operands filled after the decoder's switch. SOME(ops): the decoder's
// own arm looks at the operands and makes this kind of some of those ops, a general step of the
// others. A position that starts no op the decoding walk met is general too.
#define LUMBA_STEP_TABLE(X) \
    X(STEP_GENERAL,            general,            SOME(),                   "the general path's op at the step's position") \
    X(STEP_LOAD_NUMBER,        load_number,        SOME(o_loadrvd),          "cell, shadow: a plain variable of the routine's own numeric area") \
    X(STEP_LOAD_CONSTANT,      load_constant,      SOME(o_loadrc),           "constant") \
    X(STEP_LOAD_BINARY,        load_binary,        SOME(o_loadrc),           "constant, binary: a constant that has a binary form") \
    X(STEP_STORE_NUMBER,       store_number,       SOME(o_storrd),           "cell, shadow: a plain variable of the routine's own numeric area") \
    X(STEP_LOAD_TEXT,          load_text,          SOME(o_loadsvd),          "field, length, the call that follows it: a whole plain string of the routine's own character area") \
    X(STEP_ADD,                arithmetic,         ONE(o_add),               "") \
    X(STEP_SUB,                arithmetic,         ONE(o_sub),               "") \
    X(STEP_MUL,                arithmetic,         ONE(o_mul),               "") \
    X(STEP_EQ,                 comparison,         ONE(o_eq),                "") \
    X(STEP_NE,                 comparison,         ONE(o_ne),                "") \
    X(STEP_LT,                 comparison,         ONE(o_lt),                "") \
    X(STEP_LE,                 comparison,         ONE(o_le),                "") \
    X(STEP_GT,                 comparison,         ONE(o_gt),                "") \
    X(STEP_GE,                 comparison,         ONE(o_ge),                "") \
    X(STEP_FOR_TEST,           for_test,           ONE(o_cmpidx),            "target: the exit (the next op when the label is none)") \
    X(STEP_JUMP,               jump,               ONE(o_jump),              "target") \
    X(STEP_JUMP_ZERO,          jump_zero,          ONE(o_jumpz),             "target") \
    X(STEP_CALL,               call,               SOME(o_ifcallr, o_ifcalls), "the intrinsic's code, the count of arguments, whether a string function; not EXECUTE") \
    X(STEP_SOURCE_LINE,        source_line,        ONE(o_srcline),           "line, file") \
    X(STEP_LOAD_ELEMENT,       load_element,       SOME(o_loadrvd),          "first cell, its shadow, dimension: an element of a one-subscript array lying wholly inside the routine's own numeric area") \
    X(STEP_STORE_ELEMENT,      store_element,      SOME(o_storrd),           "the same") \
    X(STEP_GOSUB,              gosub,              ONE(o_gosub),             "target") \
    X(STEP_RETURN,             return_,            ONE(o_return),            "") \
    X(STEP_LOAD_TEXT_CONSTANT, load_text_constant, SOME(o_loadsc),           "the constant's text, whether shared") \
    X(STEP_STORE_TEXT,         store_text,         SOME(o_storsd),           "field, length: a whole plain string of the routine's own character area, not fixed, no pointer or base") \
    X(STEP_TEXT_OP,            text_op_step,       SOME(o_scat, o_srnge, o_loadsvd, o_loadsad, o_storsd, o_loadsc), "entries read: the general path's op, which reads no numeric variable; no store through a pointer or base")

#define LUMBA_STEP_ENUMERATOR(kind, label, ops, operands) kind,
enum StepKind : std::uint8_t { LUMBA_STEP_TABLE(LUMBA_STEP_ENUMERATOR) STEP_KINDS };
#undef LUMBA_STEP_ENUMERATOR
static_assert(STEP_KINDS == 27);

// A row of the table as data, for its checks and names.
struct StepRow {
    StepKind kind;
    const char *name;   // the enumerator
    const char *label;  // the loop's label
    bool one;           // ONE(op): decoded by the table's own arm
    OpCode ops[6];      // o__NOP after the last
};

#define LUMBA_STEP_ROW_ONE(op) true, {op}
#define LUMBA_STEP_ROW_SOME(...) false, {__VA_ARGS__}
#define LUMBA_STEP_ROW(kind, label, ops, operands) {kind, #kind, #label, LUMBA_STEP_ROW_##ops},
inline constexpr StepRow step_rows[STEP_KINDS] = {LUMBA_STEP_TABLE(LUMBA_STEP_ROW)};
#undef LUMBA_STEP_ROW
#undef LUMBA_STEP_ROW_SOME
#undef LUMBA_STEP_ROW_ONE

// The decoder's arms the table writes: case op: s.kind = kind; break; for each ONE row.
#define LUMBA_STEP_ARM_KIND(step_kind) s.kind = step_kind; break;
#define LUMBA_STEP_ARM_ONE(op) case op: LUMBA_STEP_ARM_KIND
#define LUMBA_STEP_ARM_SOME(...) LUMBA_STEP_ARM_NONE
#define LUMBA_STEP_ARM_NONE(kind)
#define LUMBA_STEP_ARM(kind, label, ops, operands) LUMBA_STEP_ARM_##ops(kind)

namespace step_table {

constexpr bool starts_with(const char *text, const char *prefix)
{
    while (*prefix && *text == *prefix) ++text, ++prefix;
    return *prefix == '\0';
}

constexpr bool same_text(const char *a, const char *b) { return starts_with(a, b) && starts_with(b, a); }

constexpr bool names(const StepRow &row, OpCode op)
{
    for (OpCode o : row.ops)
        if (o == op && o != o__NOP) return true;
    return false;
}

// The rows in kind order; a ONE row names one op, which no other row names (a one-to-one arm and
// a hand-written arm of the same op would not both be reached); the ops of the arithmetic and
// comparison paths, which step over one code word, carry no operands; every op named is one the
// loop can meet (no section or loader-only op).
constexpr bool consistent()
{
    for (std::size_t k = 0; k < STEP_KINDS; ++k) {
        const StepRow &row = step_rows[k];
        if (row.kind != k) return false;
        if (row.one && (row.ops[0] == o__NOP || row.ops[1] != o__NOP)) return false;
        const bool one_word = same_text(row.label, "arithmetic") || same_text(row.label, "comparison");
        for (OpCode op : row.ops) {
            if (op == o__NOP) continue;
            const char *effect = op_info[op].effect;
            if (starts_with(effect, "loader only") || starts_with(effect, "section:")) return false;
            if (one_word && operand_words(op) != 0) return false;
            for (std::size_t j = 0; j < STEP_KINDS; ++j)
                if (j != k && (row.one || step_rows[j].one) && names(step_rows[j], op)) return false;
        }
    }
    return true;
}
static_assert(consistent(), "the step table: kinds in order, one-to-one ops named once, one-word paths without operands");

} // namespace step_table

// The name of a kind of step, for traces and tests: its enumerator without "STEP_".
constexpr const char *step_name(StepKind kind)
{
    return kind < STEP_KINDS ? step_rows[kind].name + sizeof "STEP_" - 1 : "?";
}

namespace exec {

// Runs the current context from run.pc until the position becomes 0 or the program ends, on the
// decoded steps (fast) or on the general path alone; the form of the loop, threaded or the
// portable switch, as the build and executor_switch_steps say.
void run_steps(Run &run, bool fast);

// The names of the steps the running context's routine number decoded to, op by op from its entry
// (an empty list when it has no code): what a trace of the decoding shows and tests check.
std::vector<const char *> decoded_step_names(int number);

// ---- What the loop takes from the general path (executor.cpp) ----

// One op by the general path, with the executor's state in its globals (sp, npc, yylineno set to
// the op) and pc after the op word. True when the run is over, its exit published.
bool general_op(Run &run, unsigned op, Code *&pc);
// The call of intrinsic number through its dispatcher (op ifcallr, ifcalls or ipcall).
void dispatch_intrinsic(Run &run, unsigned op, int number, int nargs);
// EXIT_STAT and EXIT_STRING from the current context, as the run ends.
void publish_exit();

inline void restore_caller_name() { Rname = depth >= 1 ? caller[depth - 1].name : Rname; }

} // namespace exec
