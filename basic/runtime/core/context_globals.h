// The executor's context globals, listed once: the copies of the current context's state that the
// executor works on, and what becomes of each when a context is made current or left, when a
// callback interrupts a run, and when a test forgets a run. Loading a context, leaving it, the
// callback runner's save and restore and the test fixtures' reset are all generated from this
// table, so a global added here goes into every list its flags name and no list can forget it.
#pragma once

#include <cstring>
#include <type_traits>

#include "applications.h"
#include "common_block.h"
#include "executor.h"
#include "globals.h"
#include "interp.h"
#include "message.h"
#include "run_time.h"
#include "startup.h"
#include "value_stack.h"

namespace context_globals {

// What is done with a global; each row carries the flags of the lists it belongs to.
enum Flag : unsigned {
    load = 1u << 0,              // made current: loaded from the context's member
    routine_table = 1u << 1,     // of the routine table: loaded again when a failed load clobbered it
    parked = 1u << 2,            // pushing another context over this one stores it into the member
    exit_result = 1u << 3,       // leaving a context loads it from that context (the last one's stays)
    cleared = 1u << 4,           // when the last context is left, set to the row's value
    common = 1u << 5,            // loaded only from a context that maps a COMMON block
    callback = 1u << 6,          // a callback puts back the global as the interrupted run had it
    callback_context = 1u << 7,  // a callback puts back the context's member as well
    test_reset = 1u << 8,        // a test forgetting a stopped run sets it to the row's value
};

// The value column of a row that no list sets to a value.
struct Keep {};
inline constexpr Keep keep;

} // namespace context_globals

// One row per context global. IN_CONTEXT rows are kept in a member of Interp_t (an expression of
// it: the global's type is what counts); OWN rows have no member: they are worked out from others
// (the routine's name and areas, the active trap) or belong to the run alone. Columns: the
// global, [the member,] the value of the cleared and test_reset lists (one value serves both: they
// agree wherever both apply), the flags.
//
// Where the lists differ, on purpose: only sp, cur_routine, depth and gosub_ptr are parked (the
// context's npc is the return position push_interpreter is given, its Stk never moves); a callback
// keeps the context's Stk and npc besides; the COMMON block is not a callback's to put back; the
// exit status and text are the ended program's when no context is left.
#define LUMBA_CONTEXT_GLOBALS(IN_CONTEXT, OWN) \
    IN_CONTEXT(Program_name,        program_name,        keep,    load | callback) \
    IN_CONTEXT(ARGC,                ARGC,                keep,    load | callback) \
    IN_CONTEXT(ARGV,                ARGV.s_c.C_S,        keep,    load | callback) \
    IN_CONTEXT(ARGV_width,          ARGV.s_dims[0],      keep,    load | callback) \
    IN_CONTEXT(routines,            routines,            nullptr, load | routine_table | callback | cleared | test_reset) \
    IN_CONTEXT(loaded_routines,     loaded_routines,     -1,      load | routine_table | callback | cleared) \
    IN_CONTEXT(cur_routine,         cur_routine,         0,       load | routine_table | parked | callback | callback_context | cleared) \
    IN_CONTEXT(code,                code,                nullptr, load | routine_table | callback | cleared) \
    IN_CONTEXT(current_application, current_application, nullptr, load | routine_table | callback | cleared | test_reset) \
    IN_CONTEXT(EXIT_STAT,           EXIT_STAT,           0,       load | exit_result | callback | test_reset) \
    IN_CONTEXT(EXIT_STRING,         EXIT_STRING,         keep,    load | exit_result | callback) \
    IN_CONTEXT(Stk,                 Stk,                 nullptr, load | callback | callback_context | test_reset) \
    IN_CONTEXT(sp,                  sp,                  -1,      load | parked | callback | callback_context | test_reset) \
    IN_CONTEXT(caller,              caller,              keep,    load | callback) \
    IN_CONTEXT(depth,               depth,               0,       load | parked | callback | callback_context | test_reset) \
    IN_CONTEXT(gosub_stk,           gosub_stk,           keep,    load | callback) \
    IN_CONTEXT(gosub_ptr,           gosub_ptr,           0,       load | parked | callback | callback_context | test_reset) \
    IN_CONTEXT(npc,                 npc,                 nullptr, load | callback | callback_context | cleared | test_reset) \
    IN_CONTEXT(yylinestart,         line_start,          keep,    load | callback) \
    IN_CONTEXT(TRAP_VECTORS,        TRAP_VECTORS,        keep,    load | callback) \
    IN_CONTEXT(Common_variables,    Common_variables,    keep,    common) \
    IN_CONTEXT(Common_size,         Common_size,         keep,    common) \
    OWN(Minterp,           nullptr, callback | cleared | test_reset) \
    OWN(Rname,             nullptr, callback | cleared) \
    OWN(local_numerics,    keep,    callback) \
    OWN(local_chars,       keep,    callback) \
    OWN(local_structs,     keep,    callback) \
    OWN(ERROR_TRAP,        keep,    callback) \
    OWN(new_routine,       -1,      callback | test_reset) \
    OWN(argcount,          0,       callback | test_reset) \
    OWN(srange,            -1,      callback | test_reset) \
    OWN(substring,         0,       test_reset) \
    OWN(ERR_REG,           0,       test_reset) \
    OWN(yylineno,          keep,    callback) \
    OWN(src_line_number,   0,       callback | test_reset) \
    OWN(src_file_index,    0,       callback | test_reset) \
    OWN(last_ap_delete_ok, keep,    callback)

namespace context_globals {

// A row as a type: its name, flags, global, member (IN_CONTEXT rows) and value. The lists below
// visit the rows with a generic function and test the flags with if constexpr, so a member or a
// value is only touched where a row's flags say so.
#define LUMBA_CONTEXT_ROW_IN_CONTEXT(global_, member_, value_, flags_)       \
    struct global_##_row {                                                   \
        static constexpr const char *name = #global_;                        \
        static constexpr unsigned flags = (flags_);                          \
        static constexpr bool in_context = true;                             \
        static auto &global() { return ::global_; }                          \
        static auto &member(Interp_t *c) { return c->member_; }              \
        static auto value() { return value_; }                               \
    };
#define LUMBA_CONTEXT_ROW_OWN(global_, value_, flags_)                       \
    struct global_##_row {                                                   \
        static constexpr const char *name = #global_;                        \
        static constexpr unsigned flags = (flags_);                          \
        static constexpr bool in_context = false;                            \
        static auto &global() { return ::global_; }                          \
        static auto value() { return value_; }                               \
    };
LUMBA_CONTEXT_GLOBALS(LUMBA_CONTEXT_ROW_IN_CONTEXT, LUMBA_CONTEXT_ROW_OWN)
#undef LUMBA_CONTEXT_ROW_IN_CONTEXT
#undef LUMBA_CONTEXT_ROW_OWN

template <class... Row> struct RowList {};
template <class First, class... Row> struct AfterFirst {
    using type = RowList<Row...>;
};
// Each row's type after a comma; the leading void soaks up the first comma.
#define LUMBA_CONTEXT_ROW_TYPE(global_, ...) , global_##_row
using Rows = AfterFirst<void LUMBA_CONTEXT_GLOBALS(LUMBA_CONTEXT_ROW_TYPE, LUMBA_CONTEXT_ROW_TYPE)>::type;
#undef LUMBA_CONTEXT_ROW_TYPE

// Calls visit(Row{}) for every row, in table order.
template <class Visit> void for_each_row(Visit &&visit)
{
    [&]<class... Row>(RowList<Row...>) { (visit(Row{}), ...); }(Rows{});
}

// Row has every flag of wanted.
template <class Row> constexpr bool has(unsigned wanted) { return (Row::flags & wanted) == wanted; }

// The value's type of a row's global.
template <class Row> using Value = std::remove_cvref_t<decltype(Row::global())>;

// to = from for a global and a member that hold the same thing in their own types: an array of
// the context's is the global's pointer, or is copied whole into an array global.
template <class To, class From> void copy_value(To &to, From &from)
{
    if constexpr (std::is_array_v<To>) {
        static_assert(sizeof to == sizeof from);
        std::memcpy(to, from, sizeof to);
    } else {
        to = static_cast<To>(from);
    }
}

// Loads from context c every global whose row has all the flags of wanted.
template <unsigned Wanted> void load_from(Interp_t *c)
{
    for_each_row([c](auto row) {
        using Row = decltype(row);
        if constexpr (Row::in_context && has<Row>(Wanted)) copy_value(Row::global(), Row::member(c));
    });
}

// Stores into context c every global whose row has all the flags of wanted.
template <unsigned Wanted> void store_into(Interp_t *c)
{
    for_each_row([c](auto row) {
        using Row = decltype(row);
        if constexpr (Row::in_context && has<Row>(Wanted)) copy_value(Row::member(c), Row::global());
    });
}

// Sets every global whose row has all the flags of wanted to the row's value.
template <unsigned Wanted> void set_values()
{
    for_each_row([](auto row) {
        using Row = decltype(row);
        if constexpr (has<Row>(Wanted)) Row::global() = Row::value();
    });
}

// One copy per row: the global's value where the row has Flag, nothing otherwise.
template <class Row, unsigned Flag> struct Slot {
    struct Nothing {};
    [[no_unique_address]] std::conditional_t<has<Row>(Flag), Value<Row>, Nothing> value;
};
template <unsigned Flag, class List> struct CopiesOf;
template <unsigned Flag, class... Row> struct CopiesOf<Flag, RowList<Row...>> : Slot<Row, Flag>... {};

// The globals of the rows with Flag (0: of every row), as they were when taken; put_back() sets
// them again.
template <unsigned Flag> class Copies : CopiesOf<Flag, Rows> {
public:
    static Copies take()
    {
        Copies s{};
        for_each_row([&s](auto row) {
            using Row = decltype(row);
            if constexpr (has<Row>(Flag)) copy_value(s.template slot<Row>(), Row::global());
        });
        return s;
    }
    void put_back() const
    {
        for_each_row([&](auto row) {
            using Row = decltype(row);
            if constexpr (has<Row>(Flag)) copy_value(Row::global(), slot<Row>());
        });
    }
    // The copy of the global of Row.
    template <class Row> const Value<Row> &of() const { return slot<Row>(); }

private:
    template <class Row> auto &slot() { return static_cast<Slot<Row, Flag> &>(*this).value; }
    template <class Row> const auto &slot() const { return static_cast<const Slot<Row, Flag> &>(*this).value; }
};

// The members of a context of the rows with Flag, as they were when taken; put_back(c) sets
// them again.
template <unsigned Flag> class MemberCopies : CopiesOf<Flag, Rows> {
public:
    static MemberCopies take(Interp_t *c)
    {
        MemberCopies s{};
        for_each_row([&s, c](auto row) {
            using Row = decltype(row);
            if constexpr (Row::in_context && has<Row>(Flag)) copy_value(s.template slot<Row>(), Row::member(c));
        });
        return s;
    }
    void put_back(Interp_t *c) const
    {
        for_each_row([&](auto row) {
            using Row = decltype(row);
            if constexpr (Row::in_context && has<Row>(Flag)) copy_value(Row::member(c), slot<Row>());
        });
    }
    // The copy of the member of Row.
    template <class Row> const Value<Row> &of() const { return slot<Row>(); }

private:
    template <class Row> auto &slot() { return static_cast<Slot<Row, Flag> &>(*this).value; }
    template <class Row> const auto &slot() const { return static_cast<const Slot<Row, Flag> &>(*this).value; }
};

} // namespace context_globals
