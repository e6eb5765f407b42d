// Symbol-type bits and the run phase the shared library reads from its host.
#pragma once

#include <cstdint>

using SymType = std::uint64_t;

inline constexpr SymType s_logical = 0x1;
inline constexpr SymType s_numeric = 0x2;
inline constexpr SymType s_string = 0x4;
inline constexpr SymType s_label = 0x8;
inline constexpr SymType s_variable = 0x10;
inline constexpr SymType s_function = 0x20;
inline constexpr SymType s_procedure = 0x40;
inline constexpr SymType s_used = 0x80;
inline constexpr SymType s_decl = 0x100;
inline constexpr SymType s_alloc = 0x200;
inline constexpr SymType s_intrinsic = 0x400;
inline constexpr SymType s_based = 0x800;
inline constexpr SymType s_fixed = 0x1000;
inline constexpr SymType s_dlabel = 0x2000;
inline constexpr SymType s_common = 0x4000;
inline constexpr SymType s_args = 0x8000;
inline constexpr SymType s_vararg = 0x10000;
inline constexpr SymType s_constant = 0x20000;
inline constexpr SymType s_tablevar = 0x40000;
inline constexpr SymType s_pointer = 0x80000;
inline constexpr SymType s_nocheck = 0x100000;
inline constexpr SymType s_struct = 0x200000;
inline constexpr SymType s_pstruct = 0x400000;
inline constexpr SymType s_assigned = 0x800000;
inline constexpr SymType s_sigtname = 0x1000000;

// Static text naming the set bits, separated by blanks; overwritten by the next call.
const char *S_TypeStr(SymType type);

enum RunPhase : int { initializing = 0, compiling = 1, loading = 2, executing = 3, listing = 4 };
