// The 8-byte code word a program's code is made of, and the label tree of the text form.
#pragma once

#include <cstdint>

#include "op_codes.h"

struct dec_t;

using Address = std::uint64_t;

struct Label {
    char *l_l;        // name
    Address l_a;      // address
    Label *l_left;    // binary tree of labels
    Label *l_right;
};

union Code {
    OpCode op;
    char *string;
    dec_t *num;
    Address param;
    Label *label;
    Code *c_ptr;
};
static_assert(sizeof(Code) == 8, "a code word is 8 bytes");

inline constexpr int CODE_BYTES = 4;  // bytes of an op in the text form
inline constexpr int DATA_BYTES = 8;
