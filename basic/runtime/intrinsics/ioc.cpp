// The I/O control block: one keyword parameter of an I/O statement at a time (LFN=, FILE=, ...)
// is checked and stored here by ioc; callio reads the block; the executor resets it from the
// defaults after every statement and after every trapped error, so nothing carries over.
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstring>
#include <string>

#include "executor.h"
#include "fileio.h"
#include "mem_mgt.h"
#include "message.h"
#include "numerics.h"
#include "op_codes.h"
#include "run_time.h"

IocBlock Io_defaults{nullptr, nullptr, nullptr, 'S', 'S', 0, -1, -1, -1, 0, 0, -1, 1, Stack{}, nullptr, nullptr};
IocBlock Ioc = Io_defaults;

namespace {

const char *name_of(int code) { return code >= 0 && code < static_cast<int>(IOC_CODE_COUNT) ? ioc_codes[code] : "?"; }

const Stack &value_at(int index)
{
    if (index < 0 || index >= STACKSIZE || index > sp) Abort("Ioc parameter outside the value stack");
    return Stk[index];
}

// A number parameter as an int; a value beyond the int range keeps its sign, so the range
// checks below reject it.
int int_value(int code, const Stack &e)
{
    if (e.s_t != real || !e.s_c.C_N) Io_error(7777, 0, "Ioc parameter %s must be a number", name_of(code));
    int n = 0;
    if (NumericToINT(e.s_c.C_N, &n) != 0) n = e.s_c.C_N->dec_pos == 0 ? INT_MIN : INT_MAX;
    return n;
}

// A copy of a text parameter, owned by the block.
char *text_value(int code, const Stack &e, long *length = nullptr)
{
    if (e.s_t != string) Io_error(7777, 0, "Ioc parameter %s must be a string", name_of(code));
    long n = 0;
    const char *text = entry_text(e, &n);
    auto *copy = static_cast<char *>(salloc(static_cast<std::size_t>(n) + 1));
    if (n > 0) std::memcpy(copy, text, static_cast<std::size_t>(n));
    copy[n] = '\0';
    if (length) *length = n;
    return copy;
}

void replace(char *&field, char *text)
{
    if (field) sfree(field);
    field = text;
}

Code *label_value(int code, const Stack &e)
{
    if (e.s_t != label) Io_error(7777, 0, "Ioc parameter %s must be a label", name_of(code));
    return e.s_c.C_L;
}

void release_nrec()
{
    if (Ioc.nrec.s_t == string && !(Ioc.nrec.flags & stk_ref) && Ioc.nrec.s_c.C_S) sfree(Ioc.nrec.s_c.C_S);
    Ioc.nrec = Stack{};
}

} // namespace

void ioc(int code, int index)
{
    const Stack &e = value_at(index);
    switch (code) {
    case ioc_carr: {
        const int n = int_value(code, e);
        if (n < 0) Io_error(301, 0, "CARR negative");
        Ioc.carr = n;
        break;
    }
    case ioc_eof: Ioc.eof = label_value(code, e); break;
    case ioc_erl: Ioc.erl = label_value(code, e); break;
    case ioc_file: replace(Ioc.file, text_value(code, e)); break;
    case ioc_format: replace(Ioc.format, text_value(code, e)); break;
    case ioc_iolist: Warn("IOLIST parameter not implemented"); break;
    case ioc_iunit: {
        const int n = int_value(code, e);
        if (n < 0) Io_error(301, 0, "IUNIT negative");
        Ioc.iunit = n;
        break;
    }
    case ioc_lfn: {
        const int n = int_value(code, e);
        if (n < 0) Io_error(301, 0, "LFN negative");
        if (n != REPORT_LFN && (n >= max_files || n >= FILE_TABLE_SIZE)) Io_error(301, 0, "Illegal LFN");
        Ioc.lfn = n;
        break;
    }
    case ioc_lock: {
        const int n = int_value(code, e);
        if (n != 0 && n != 1) Io_error(301, 0, "Invalid MODE parameter");
        Ioc.lock = n;
        break;
    }
    case ioc_mode: {
        if (e.s_t != string) Io_error(301, 0, "Invalid MODE parameter");
        long n = 0;
        const char *text = entry_text(e, &n);
        if (n != 1 || !text || !std::memchr("RPSNGFL", text[0], 7) || text[0] == '\0')
            Io_error(301, 0, "Invalid MODE parameter");
        Ioc.mode = text[0];
        break;
    }
    case ioc_nrec:
        release_nrec();
        Ioc.nrec = e;
        if (e.s_t == string && !(e.flags & stk_ref)) {
            long n = 0;
            Ioc.nrec.s_c.C_S = text_value(code, e, &n);
            Ioc.nrec.flags &= static_cast<std::uint16_t>(~stk_pointer);
        }
        if (e.s_t == real) Ioc.nrec.s_c.C_N = &Ioc.nrec.num;
        break;
    case ioc_opt: Ioc.opt = int_value(code, e); break;
    case ioc_org: {
        long n = 0;
        char *text = text_value(code, e, &n);
        Ioc.org = n > 0 ? text[0] : ' ';
        sfree(text);
        break;
    }
    case ioc_prompt: replace(Ioc.prompt, text_value(code, e)); break;
    case ioc_rec: {
        const int n = int_value(code, e);
        if (n < 1) Io_error(301, 0, "Invalid REC parameter");
        Ioc.rec = n;
        break;
    }
    case ioc_recfmt: break;
    case ioc_reclen: {
        const int n = int_value(code, e);
        if (n < 1 || n > RECORD_MAX) Io_error(301, 0, "Invalid RECLEN parameter");
        Ioc.reclen = n;
        break;
    }
    case ioc_unit: {
        const int n = int_value(code, e);
        if (n < 0) Io_error(301, 0, "UNIT negative");
        Ioc.unit = n;
        break;
    }
    default:  // .NOP, ABSOLUTE, KEY, KEYLEN, KEYNUM and unknown codes
        Io_error(7777, 0, "Ioc code %d not implemented", code);
    }
}

bool ioc_traps_set() { return Ioc.eof || Ioc.erl; }
Code *ioc_trap_label() { return Ioc.erl; }
Code *ioc_eof_label() { return Ioc.eof; }

void ioc_reset()
{
    if (Ioc.file) sfree(Ioc.file);
    if (Ioc.format) sfree(Ioc.format);
    if (Ioc.prompt) sfree(Ioc.prompt);
    release_nrec();
    Ioc = Io_defaults;
}

void Io_error(int code, int system, const char *format, ...)
{
    const int saved = errno;
    IOERR_REG = code;
    // An end of file goes to the statement's EOF label when it has one.
    if (code == TRAPPABLE_ERROR && ioc_eof_label()) IO_TRAP.handler = ioc_eof_label();
    std::va_list ap;
    va_start(ap, format);
    char *text = g_strdup_vprintf(format, ap);
    va_end(ap);
    std::string message(text);
    g_free(text);
    errno = saved;
    if (system == 0) Xerror(code, "%s", message.c_str());
    Syserr("%s", message.c_str());
}
