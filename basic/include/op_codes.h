// The three code sets of the object file (executor ops, I/O clauses, I/O verbs) and their name tables.
#pragma once

#include <cstddef>

enum OpCode : unsigned {
    o__NOP, o__common, o__data, o__labdef, o__label, o__nfunc, o__proc, o__sfunc,
    o_add, o_and, o_bkp, o_callio, o_cmpidx, o_div, o_end, o_eq,
    o_exit, o_exitv, o_fcallr, o_fcalls, o_ge, o_gosub, o_gosubl, o_gt,
    o_ifcallr, o_ifcalls, o_ifref, o_inclvs, o_ioc, o_ipcall, o_jump, o_jumpl,
    o_jumpz, o_le, o_loadedfiles, o_loadrad, o_loadrai, o_loadrc, o_loadrvd, o_loadrvi,
    o_loadsad, o_loadsai, o_loadsc, o_loadstad, o_loadstai, o_loadstvd, o_loadstvi, o_loadsvd,
    o_loadsvi, o_lt, o_mod, o_mul, o_ne, o_neg, o_not, o_or,
    o_passign, o_pcall, o_reseterr, o_restore, o_return, o_scat, o_sclear, o_seterr,
    o_sqltab, o_srcline, o_srnge, o_stop, o_storrd, o_storri, o_storsd, o_storsi,
    o_sub, o_symtab, o_tsterr,
    OP_CODE_COUNT
};
static_assert(OP_CODE_COUNT == 75);

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
