// The value-stack entry. Its 72-byte layout is shared by the common library and every intrinsic
// handler.
#pragma once

#include <cstdint>

#include "code.h"
#include "disamdec.h"

enum ConType : std::int32_t {
    real = 0, string = 1, real_array = 2, string_array = 3,
    intrinsic = 4, label = 5, marker = 6, bstruct = 7
};

// Entry flags (octal, as the object-file tools print them).
inline constexpr std::uint16_t stk_ref = 01;        // points into program storage or a constant
inline constexpr std::uint16_t stk_fixed = 02;      // blank-padded, never terminated
inline constexpr std::uint16_t stk_based = 04;      // string with a base, see params
inline constexpr std::uint16_t stk_substring = 010; // made under a substring range
inline constexpr std::uint16_t stk_pointer = 020;   // the field holds a pointer to the text

union StackValue {
    dec_t *C_N;     // decimal
    char *C_S;      // text
    void *C_P;      // structure storage
    Code *C_L;      // code position of a label or marker
    Address C_A;    // intrinsic code, raw address
};

struct Stack {
    ConType s_t;
    StackValue s_c;
    NumericType_t num;
    std::uint16_t flags;
    std::uint32_t s_dims[2];
    std::uint32_t length;
    Address params[2];
};
static_assert(sizeof(Stack) == 72, "a value-stack entry is 72 bytes");
