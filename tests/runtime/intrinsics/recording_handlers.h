// Intrinsic handlers that only record the code they were reached for, and a call of a code through
// a given dispatcher with blank arguments that tells whether the handler of the code's row ran:
// what a dispatcher does with a code, told apart from what a handler does with it.
#pragma once

#include <string>
#include <vector>

#include "intrinsic_call.h"

namespace recording {

inline int reached = -1;  // the code the recording handlers last saw
inline int current = -1;  // the code being called

inline void record_number(int, int, Stack *result)
{
    reached = current;
    NumericCvINT(current, &result->num);
}
inline void record_text(int, int, Stack *result)
{
    reached = current;
    result->s_t = string;
    result->flags = stk_ref;  // a constant text: nobody frees it
    result->s_c.C_S = const_cast<char *>("abc");
    result->length = 3;
}
inline void record_statement(int, int) { reached = current; }

enum Dispatcher { NUMERIC, STRING, STATEMENT };

// What calling code through dispatcher d with nargs blank arguments does: "handler", or the
// stop's text.
inline std::string call_with(Dispatcher d, int code, int nargs)
{
    lumba_test::IntrinsicCall calls;
    const std::vector<lumba_test::Arg> args = lumba_test::args::blanks(nargs);
    reached = -1;
    current = code;
    const std::string stop = lumba_test::abort_text([&] {
        if (d == NUMERIC) calls.numeric(code, args);
        if (d == STRING) calls.text(code, args);
        if (d == STATEMENT) calls.statement(code, args);
    });
    if (!stop.empty()) return stop;
    return reached == code ? "handler" : "no handler reached";
}

} // namespace recording
