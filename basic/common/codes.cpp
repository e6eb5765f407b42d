// Name tables of the three code sets and the mnemonic lookup.
#include <cstring>

#include "enum_codes.h"
#include "objfile.h"
#include "op_codes.h"

#define LUMBA_OP_NAME(code, name, operands, effect) name,
const char *const op_codes[OP_CODE_COUNT] = {LUMBA_OP_TABLE(LUMBA_OP_NAME)};
#undef LUMBA_OP_NAME

const char *const ioc_codes[IOC_CODE_COUNT] = {
    ".NOP", "absolute", "carr", "eof", "erl", "file", "format", "iolist",
    "iunit", "key", "keylen", "keynum", "lfn", "lock", "mode", "nrec",
    "opt", "org", "prompt", "rec", "recfmt", "reclen", "unit",
};

const char *const callio_codes[CALLIO_CODE_COUNT] = {
    ".NOP", "allocate", "close", "date", "delete", "input", "logemail", "logprint",
    "open", "print", "read", "rename", "rewind", "tprint", "unlock", "write",
};

int codes_search(const char *const *table, std::size_t size, const char *text)
{
    if (!text) return 0;
    // The tables are short and sorted: stop at the first row that sorts above the text.
    for (std::size_t i = 0; i < size; ++i) {
        int c = std::strcmp(table[i], text);
        if (c == 0) return static_cast<int>(i);
        if (c > 0) break;
    }
    return 0;
}

OpCode OP_CODE(const char *text)
{
    return static_cast<OpCode>(codes_search(op_codes, OP_CODE_COUNT, text));
}

IocCode IOC_CODE(const char *text)
{
    return static_cast<IocCode>(codes_search(ioc_codes, IOC_CODE_COUNT, text));
}

CallioCode CALLIO_CODE(const char *text)
{
    return static_cast<CallioCode>(codes_search(callio_codes, CALLIO_CODE_COUNT, text));
}

int StringCompare(const char *s1, const char *s2)
{
    if (!s1) return s2 ? -1 : 0;
    if (!s2) return 1;
    return std::strcmp(s1, s2);
}

const char *S_TypeStr(SymType type)
{
    static const struct {
        SymType bit;
        const char *name;
    } names[] = {
        {s_logical, "s_logical"},   {s_numeric, "s_numeric"},     {s_string, "s_string"},
        {s_label, "s_label"},       {s_variable, "s_variable"},   {s_function, "s_function"},
        {s_procedure, "s_procedure"}, {s_used, "s_used"},         {s_decl, "s_decl"},
        {s_alloc, "s_alloc"},       {s_intrinsic, "s_intrinsic"}, {s_based, "s_based"},
        {s_fixed, "s_fixed"},       {s_dlabel, "s_dlabel"},       {s_common, "s_common"},
        {s_args, "s_args"},         {s_vararg, "s_vararg"},       {s_constant, "s_constant"},
        {s_tablevar, "s_tablevar"}, {s_pointer, "s_pointer"},     {s_nocheck, "s_nocheck"},
        {s_struct, "s_struct"},     {s_pstruct, "s_pstruct"},     {s_assigned, "s_assigned"},
        {s_sigtname, "s_sigtname"},
    };
    static char text[512];
    std::size_t len = 0;
    text[0] = '\0';
    for (const auto &n : names) {
        if (!(type & n.bit)) continue;
        std::size_t add = std::strlen(n.name) + (len ? 1 : 0);
        if (len + add > sizeof text - 1) continue;  // a name that does not fit is left out
        if (len) text[len++] = ' ';
        std::strcpy(text + len, n.name);
        len += std::strlen(n.name);
    }
    return text;
}
