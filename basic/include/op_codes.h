// The three code sets of the object file (executor ops, I/O clauses, I/O verbs) and their name
// tables; the op set with each op's operands and effect.
#pragma once

#include <cstddef>

// ---- The op set --------------------------------------------------------------------------------
//
// One row per op code, in code order: the enumerator, the mnemonic of the text form (the name
// table op_codes), the operand words that follow the op in a program's code and what the executor
// does with it. Operands are written tag:meaning with the tag of the object file's operand (I
// integer, l label, n decimal constant, s text constant, c/p one-byte flag, r routine, numbered
// once loaded); a part in [brackets] is present only as it says. "Section" rows carry no code
// words: the loader reads the lines that follow and the executor never meets them. Stack effects
// are written "before -- after" with the top entry last.
#define LUMBA_OP_TABLE(OP) \
    OP(o__NOP,        ".NOP",        "",                                          "a lone 0 byte: ends the code the loader reads; not executed") \
    OP(o__common,     ".common",     "I:numerics I:chars",                        "maps the COMMON block for that many 22-byte cells and bytes") \
    OP(o__data,       ".data",       "",                                          "section: the routine's DATA list of n: and s: items") \
    OP(o__labdef,     ".labdef",     "",                                          "loader only; not executed") \
    OP(o__label,      ".label",      "l:position",                                "-- label: pushes a label entry") \
    OP(o__nfunc,      ".nfunc",      "r:routine I:data_numerics I:data_chars I:local_numerics I:local_chars I:local_structs I:args", "entry of a numeric function: checks and binds the arguments") \
    OP(o__proc,       ".proc",       "r:routine I:data_numerics I:data_chars I:local_numerics I:local_chars I:local_structs I:args", "entry of a procedure, as .nfunc") \
    OP(o__sfunc,      ".sfunc",      "r:routine I:data_numerics I:data_chars I:local_numerics I:local_chars I:local_structs I:args", "entry of a string function, as .nfunc") \
    OP(o_add,         "add",         "",                                          "a b -- a+b") \
    OP(o_and,         "and",         "",                                          "a b -- 1 when both are non-zero, else 0") \
    OP(o_bkp,         "bkp",         "",                                          "loader only; not executed") \
    OP(o_callio,      "callio",      "I:verb I:nargs",                            "args -- : runs the I/O statement (a CallioCode) on the I/O control block") \
    OP(o_cmpidx,      "cmpidx",      "l:exit",                                    "control limit step -- : FOR test, jumps to exit when the loop is done") \
    OP(o_div,         "div",         "",                                          "a b -- a/b") \
    OP(o_end,         "end",         "",                                          "ends the program (an EXECUTE parent goes on with 0)") \
    OP(o_eq,          "eq",          "",                                          "a b -- 1 when a = b, else 0 (numbers or strings)") \
    OP(o_exit,        "exit",        "",                                          "returns from the routine without a value") \
    OP(o_exitv,       "exitv",       "",                                          "value -- : returns from the function, pushing value in the caller") \
    OP(o_fcallr,      "fcallr",      "r:routine I:nargs",                         "args -- args marker: calls a numeric function") \
    OP(o_fcalls,      "fcalls",      "r:routine I:nargs",                         "args -- args marker: calls a string function") \
    OP(o_ge,          "ge",          "",                                          "a b -- 1 when a >= b, else 0") \
    OP(o_gosub,       "gosub",       "l:target",                                  "pushes the next position on the gosub stack, jumps to target") \
    OP(o_gosubl,      "gosubl",      "I:n [l:label, n times]",                    "k -- : gosub to label k when 1 <= k <= n, else goes on after the labels") \
    OP(o_gt,          "gt",          "",                                          "a b -- 1 when a > b, else 0") \
    OP(o_ifcallr,     "ifcallr",     "I:intrinsic I:nargs",                       "args -- value: numeric intrinsic (EXECUTE runs a child program)") \
    OP(o_ifcalls,     "ifcalls",     "I:intrinsic I:nargs",                       "args -- text: string intrinsic") \
    OP(o_ifref,       "ifref",       "I:intrinsic",                               "-- number: pushes the intrinsic's number") \
    OP(o_inclvs,      "inclvs",      "",                                          "section: include versions") \
    OP(o_ioc,         "ioc",         "I:clause",                                  "value -- : stores one parameter (an IocCode) of the next I/O statement") \
    OP(o_ipcall,      "ipcall",      "I:intrinsic I:nargs",                       "args -- : statement intrinsic (CHAIN switches to another program)") \
    OP(o_jump,        "jump",        "l:target",                                  "jumps to target") \
    OP(o_jumpl,       "jumpl",       "I:n [l:label, n times]",                    "k -- : jumps to label k when 1 <= k <= n, else goes on after the labels") \
    OP(o_jumpz,       "jumpz",       "l:target",                                  "a -- : jumps to target when a = 0") \
    OP(o_le,          "le",          "",                                          "a b -- 1 when a <= b, else 0") \
    OP(o_loadedfiles, "loadedfiles", "",                                          "section: the source files of the program") \
    OP(o_loadrad,     "loadrad",     "I:offset I:area I:dim1 I:dim2 I:nsubs",     "subscripts -- reference: numeric variable by address") \
    OP(o_loadrai,     "loadrai",     "I:param I:nsubs I:area I:offset I:dim1 I:dim2", "subscripts -- reference: numeric variable through a parameter") \
    OP(o_loadrc,      "loadrc",      "n:constant c:flag",                         "-- value: pushes the decimal constant (the flag has no effect)") \
    OP(o_loadrvd,     "loadrvd",     "I:offset I:area I:dim1 I:dim2 I:nsubs",     "subscripts -- value: numeric variable's value") \
    OP(o_loadrvi,     "loadrvi",     "I:param I:nsubs I:area I:offset I:dim1 I:dim2", "subscripts -- value: numeric value through a parameter") \
    OP(o_loadsad,     "loadsad",     "I:offset I:area I:length I:dim2 I:nsubs I:pointer I:fixed I:based [I:base_offset I:base_value when based]", "subscripts -- reference: string variable by address") \
    OP(o_loadsai,     "loadsai",     "I:param I:nsubs I:area I:offset I:length I:dim2", "subscripts -- reference: string variable through a parameter") \
    OP(o_loadsc,      "loadsc",      "s:constant p:shared",                       "-- text: the constant itself when shared, else a copy") \
    OP(o_loadstad,    "loadstad",    "I:offset I:area I:dim1 I:dim2 I:pops",      "pops -- structure: structure variable by address") \
    OP(o_loadstai,    "loadstai",    "I:param I:pops",                            "pops -- structure: structure parameter by address") \
    OP(o_loadstvd,    "loadstvd",    "I:offset I:area I:dim1 I:dim2 I:pops",      "pops -- structure: structure variable") \
    OP(o_loadstvi,    "loadstvi",    "I:param I:pops",                            "pops -- structure: structure parameter") \
    OP(o_loadsvd,     "loadsvd",     "I:offset I:area I:length I:dim2 I:nsubs I:pointer I:fixed I:based", "subscripts -- text: string variable's value") \
    OP(o_loadsvi,     "loadsvi",     "I:param I:nsubs I:area I:offset I:length I:dim2", "subscripts -- text: string value through a parameter") \
    OP(o_lt,          "lt",          "",                                          "a b -- 1 when a < b, else 0") \
    OP(o_mod,         "mod",         "",                                          "a b -- a mod b") \
    OP(o_mul,         "mul",         "",                                          "a b -- a*b") \
    OP(o_ne,          "ne",          "",                                          "a b -- 1 when a <> b, else 0") \
    OP(o_neg,         "neg",         "",                                          "a -- -a") \
    OP(o_not,         "not",         "",                                          "a -- 1 when a = 0, else 0") \
    OP(o_or,          "or",          "",                                          "a b -- 1 when either is non-zero, else 0") \
    OP(o_passign,     "passign",     "I:pstruct",                                 "x text -- : binds structure parameter pstruct to the address text") \
    OP(o_pcall,       "pcall",       "r:routine I:nargs",                         "args -- args marker: calls a procedure") \
    OP(o_reseterr,    "reseterr",    "",                                          "clears the routine's error trap and ERR_REG") \
    OP(o_restore,     "restore",     "I:numeric_index I:char_index",              "sets the READ positions of the routine's DATA lists") \
    OP(o_return,      "return",      "",                                          "jumps to the position popped off the gosub stack") \
    OP(o_scat,        "scat",        "I:n",                                       "n texts -- text: concatenation") \
    OP(o_sclear,      "sclear",      "",                                          "structure -- : clears the structure's fields") \
    OP(o_seterr,      "seterr",      "",                                          "code -- code: sets ERR_REG, leaving the entry") \
    OP(o_sqltab,      "sqltab",      "",                                          "section: the table schemas") \
    OP(o_srcline,     "srcline",     "I:line I:file",                             "the source line and file of what follows (trace ring, reports)") \
    OP(o_srnge,       "srnge",       "",                                          "length -- : substring length of the next string load or store") \
    OP(o_stop,        "stop",        "",                                          "as end") \
    OP(o_storrd,      "storrd",      "I:offset I:area I:dim1 I:dim2 I:nsubs",     "value subscripts -- : stores into a numeric variable") \
    OP(o_storri,      "storri",      "I:param I:nsubs I:area I:offset I:dim1 I:dim2", "value subscripts -- : stores through a parameter") \
    OP(o_storsd,      "storsd",      "I:offset I:area I:length I:dim2 I:nsubs I:fixed I:pointer I:based [I:base_offset I:base_value when based]", "value subscripts -- : stores into a string variable") \
    OP(o_storsi,      "storsi",      "I:param I:nsubs I:area I:offset I:length I:dim2 I:fixed I:pointer", "value subscripts -- : stores through a parameter") \
    OP(o_sub,         "sub",         "",                                          "a b -- a-b") \
    OP(o_symtab,      "symtab",      "",                                          "section: the symbol tables") \
    OP(o_tsterr,      "tsterr",      "l:continue",                                "arms the routine's trap (level sp, handler the next op), jumps to continue")

#define LUMBA_OP_ENUMERATOR(code, name, operands, effect) code,
enum OpCode : unsigned { LUMBA_OP_TABLE(LUMBA_OP_ENUMERATOR) OP_CODE_COUNT };
#undef LUMBA_OP_ENUMERATOR
static_assert(OP_CODE_COUNT == 75);

struct OpInfo {
    const char *name;
    const char *operands;
    const char *effect;
};

#define LUMBA_OP_INFO(code, name, operands, effect) {name, operands, effect},
inline constexpr OpInfo op_info[OP_CODE_COUNT] = {LUMBA_OP_TABLE(LUMBA_OP_INFO)};
#undef LUMBA_OP_INFO

// The number of code words that always follow op: the operands before any [bracketed] part.
constexpr int operand_words(OpCode op)
{
    int words = 0;
    bool in_word = false;
    for (const char *p = op_info[op].operands; *p && *p != '['; ++p) {
        if (*p != ' ' && !in_word) ++words;
        in_word = *p != ' ';
    }
    return words;
}

// The name table is searched by codes_search: the mnemonics must ascend in byte order.
constexpr bool op_names_ascend()
{
    for (unsigned op = 1; op < OP_CODE_COUNT; ++op) {
        const char *a = op_info[op - 1].name, *b = op_info[op].name;
        while (*a && *a == *b) ++a, ++b;
        if (static_cast<unsigned char>(*a) >= static_cast<unsigned char>(*b)) return false;
    }
    return true;
}
static_assert(op_names_ascend(), "op mnemonics in ascending byte order");

// The area operand of the variable ops: which storage the offset is in. Any selector not named
// here is the routine's own numeric or character area (the compiler writes 1).
inline constexpr long AREA_COMMON = 0;   // the COMMON block
inline constexpr long AREA_LOCAL = 1;    // the routine's own area
inline constexpr long AREA_STRUCTS = 2;  // the routine's structure area
inline constexpr long AREA_PSTRUCT = 30; // 30 + n: the structure bound to structure parameter n

enum IocCode : unsigned {
    ioc__NOP, ioc_absolute, ioc_carr, ioc_eof, ioc_erl, ioc_file, ioc_format, ioc_iolist,
    ioc_iunit, ioc_key, ioc_keylen, ioc_keynum, ioc_lfn, ioc_lock, ioc_mode, ioc_nrec,
    ioc_opt, ioc_org, ioc_prompt, ioc_rec, ioc_recfmt, ioc_reclen, ioc_unit,
    IOC_CODE_COUNT
};
static_assert(IOC_CODE_COUNT == 23);

enum CallioCode : unsigned {
    callio__NOP, callio_allocate, callio_close, callio_date, callio_delete, callio_input,
    callio_logemail, callio_logprint, callio_open, callio_print, callio_read, callio_rename,
    callio_rewind, callio_tprint, callio_unlock, callio_write,
    CALLIO_CODE_COUNT
};
static_assert(CALLIO_CODE_COUNT == 16);

// Name tables: each name at the index equal to its code, in ascending byte order.
extern const char *const op_codes[OP_CODE_COUNT];
extern const char *const ioc_codes[IOC_CODE_COUNT];
extern const char *const callio_codes[CALLIO_CODE_COUNT];

// Index of text in a sorted name table, or 0 when absent (".NOP" also gives 0).
int codes_search(const char *const *table, std::size_t size, const char *text);
OpCode OP_CODE(const char *text);
IocCode IOC_CODE(const char *text);
CallioCode CALLIO_CODE(const char *text);
