// callio: one I/O statement with the parameters ioc stored in the control block and the values
// (variables to read into, values to write) on the value stack. READ takes the variables left to
// right from one record through a read cursor; WRITE builds one record from the values.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "intrinsic_dispatch.h"
#include "executor.h"
#include "hooks.h"
#include "intrinsics.h"
#include "io_internal.h"
#include "message.h"
#include "numerics.h"
#include "op_codes.h"
#include "run_time.h"
#include "signals.h"
#include "symtab.h"

namespace {

static_assert(in_BS == 10 && in_CR == 18 && in_FF == 27 && in_LF == 335 && in_TAB == 366);

// Stores text into the string variable a reference entry stands for, by the store rules of
// string variables (fixed-length fields blank-padded, pointer fields re-allocated).
void store_into(Stack &e, const char *text, long length)
{
    if (!e.s_c.C_S) return;
    substring = (e.flags & stk_substring) ? 1 : 0;
    const long flags = (e.flags & stk_pointer) ? static_cast<long>(s_pointer) : -1;
    const int n = store_string(e.s_c.C_S, text, length, static_cast<int>(e.s_dims[0]), 0, 0,
                               (e.flags & stk_fixed) ? 1 : 0, (e.flags & stk_based) ? 1 : 0, e.params[0],
                               e.params[1], static_cast<Address>(-1), flags);
    substring = 0;
    e.length = static_cast<std::uint32_t>(n);
}

// ---- READ -----------------------------------------------------------------------------------------

struct ReadCursor {
    const char *text;
    std::size_t length;
    std::size_t at = 0;
    const char *format;  // FORMAT cursor, nullptr without FORMAT
};

void read_number(ReadCursor &c, Stack &e)
{
    if (c.at >= c.length) Io_error(305, 0, "Numeric input missing");
    std::size_t start = c.at, end;
    if (c.format) {
        const FormatItem item = decode_format(c.format, true);
        const std::size_t width =
            static_cast<std::size_t>(item.width) + static_cast<std::size_t>(item.decimals) + (item.decimals ? 1 : 0);
        if (c.length - c.at < width) Io_error(306, 0, "Input field not big enough for format");
        end = start + width;
    } else {
        while (start < c.length && c.text[start] == ' ') ++start;
        end = start;
        while (end < c.length && c.text[end] != ' ') ++end;
    }
    if (end == start) Io_error(305, 0, "Numeric input missing");
    dec_t value{};
    if (NumericCvASC(c.text + start, static_cast<int>(end - start), &value) != 0)
        Io_error(306, 0, "Error in numeric input");
    c.at = end;
    if (e.s_c.C_N) *e.s_c.C_N = value;
}

void read_string(ReadCursor &c, Stack &e)
{
    if (c.at >= c.length) {
        store_into(e, "", 0);
        return;
    }
    std::size_t span = c.length - c.at;
    if (c.format) span = std::min(span, static_cast<std::size_t>(decode_format(c.format, false).width));
    // A pointer field has no fixed length of its own: it takes the whole span.
    const std::size_t own = (e.flags & stk_pointer) ? span : e.s_dims[0];
    const std::size_t taken = std::min(own, span);
    store_into(e, c.text + c.at, static_cast<long>(taken));
    c.at += taken;
}

void read_var(ReadCursor &c, Stack &e)
{
    switch (e.s_t) {
    case real: read_number(c, e); break;
    case string: read_string(c, e); break;
    case intrinsic: Io_error(7777, 0, "Cannot input to an intrinsic");
    case real_array:
    case string_array: Io_error(7777, 0, "Cannot input to an array");
    default: break;  // labels, markers, structures are passed over
    }
}

// READ without a channel: the running routine's DATA list, numbers and strings from their own
// positions.
void internal_read(Routine *routine, int nargs, int last)
{
    if (!routine) Abort("READ of a DATA list without a routine");
    for (int k = last - nargs + 1; k <= last; ++k) {
        Stack &e = Stk[k];
        switch (e.s_t) {
        case intrinsic: Io_error(303, 0, "Cannot input to an intrinsic");
        case real_array:
        case string_array: Io_error(303, 0, "Cannot input to an array");
        case real: {
            const int i = routine->data_nindex;
            if (i < 0 || static_cast<std::uint32_t>(i) >= routine->data_ncount || !routine->data_numerics)
                Io_error(307, 0, "Data list exhausted - further input aborted");
            if (!(e.flags & stk_ref)) Io_error(303, 0, "Literal in input variable list");
            if (e.s_c.C_N) *e.s_c.C_N = routine->data_numerics[i];
            routine->data_nindex = i + 1;
            break;
        }
        case string: {
            const int i = routine->data_cindex;
            if (i < 0 || static_cast<std::uint32_t>(i) >= routine->data_ccount || !routine->data_chars)
                Io_error(307, 0, "Data list exhausted - further input aborted");
            const char *text = routine->data_chars + i;
            const std::size_t n = strnlen(text, routine->data_ccount - static_cast<std::uint32_t>(i));
            store_into(e, text, static_cast<long>(n));
            routine->data_cindex = i + static_cast<int>(n) + 1;
            break;
        }
        default: break;
        }
    }
}

void io_read(int nargs, int last, Routine *routine)
{
    if (Ioc.lfn < 0) {
        internal_read(routine, nargs, last);
        return;
    }
    if (Ioc.lfn == REPORT_LFN) Io_error(302, 0, "READ illegal while report is open");
    FileChannel_t *channel = statement_channel("READ");
    if (channel->descriptor == -1)
        Io_error(101, 0, "Attempt to READ LFN %d which has not been opened", channel_number(channel));
    // Not zero-filled: the read operation ends the text with a zero byte and says its length.
    RecordBuffer record;
    record.text[0] = '\0';
    record.length = 0;
    channel->read(channel, record);
    ReadCursor cursor{record.text, record.length, 0, Ioc.format};
    for (int k = last - nargs + 1; k <= last; ++k) read_var(cursor, Stk[k]);
}

// ---- WRITE ----------------------------------------------------------------------------------------

// The character and repeat count of an intrinsic value (BS$, CR$, FF$, LF$, TAB$).
std::string screen_characters(const Stack &e, std::size_t limit)
{
    char c;
    switch (static_cast<int>(e.s_c.C_A)) {
    case in_BS: c = 8; break;
    case in_CR: c = 13; break;
    case in_FF: c = 12; break;
    case in_LF: c = 10; break;
    case in_TAB: c = 9; break;
    default: Io_error(202, 0, "Illegal use of Screen intrinsic");
    }
    const Address count = e.params[1];
    if (count > limit) Io_error(308, 0, "Attempt to write beyond record length");
    return std::string(static_cast<std::size_t>(count), c);
}

void append(RecordBuffer &record, const char *text, std::size_t n, std::size_t limit)
{
    if (record.length + n > limit) Io_error(308, 0, "Attempt to write beyond record length");
    std::memcpy(record.text + record.length, text, n);
    record.length += n;
    record.text[record.length] = '\0';
}

void write_var(RecordBuffer &record, const Stack &e, const char *&format, std::size_t limit)
{
    std::string text;
    bool numeric = false;
    switch (e.s_t) {
    case real:
        if (!e.s_c.C_N) Abort("WRITE of a number without a value");
        text = Convert_BCD(e.s_c.C_N);
        numeric = true;
        break;
    case string: {
        long n = 0;
        const char *s = entry_text(e, &n);
        if (s && n > 0) text.assign(s, static_cast<std::size_t>(n));
        break;
    }
    case intrinsic: text = screen_characters(e, limit); break;
    case real_array:
    case string_array: Io_error(7777, 0, "Cannot write an array");
    default: Io_error(304, 0, "Format error detected by WRITE");
    }
    if (format) {
        const FormatItem item = decode_format(format, numeric);
        // Numbers keep their plain text; strings and characters fill their item's width.
        if (!numeric) {
            const auto width = static_cast<std::size_t>(item.width);
            if (text.size() > width) Io_error(304, 0, "Output width not large enough for value");
            text.resize(width, ' ');
        }
    }
    append(record, text.data(), text.size(), limit);
}

void io_write(int nargs, int last)
{
    if (Ioc.lfn == REPORT_LFN) Io_error(300, 0, "WRITE(LFN=255): no report open");
    FileChannel_t *channel = statement_channel("WRITE");
    if (channel->descriptor == -1)
        Io_error(101, 0, "Attempt to WRITE to LFN %d which has not been opened", channel_number(channel));
    const std::size_t limit = channel->random ? static_cast<std::size_t>(channel->reclen) : RECORD_MAX;
    // Not zero-filled: each append keeps a zero byte after the text, and a random record's
    // filler is written by its write operation.
    RecordBuffer record;
    record.text[0] = '\0';
    record.length = 0;
    const char *format = Ioc.format;
    for (int k = last - nargs + 1; k <= last; ++k) write_var(record, Stk[k], format, limit);
    // The line ends share the record's bound.
    const std::string ends(static_cast<std::size_t>(Ioc.carr), '\n');
    if (Ioc.carr > 0) append(record, ends.data(), ends.size(), limit);
    channel->write(channel, record);
}

// ---- The other statements -------------------------------------------------------------------------

void io_input()
{
    if (!Back_ground) return;
    char line[RECORD_MAX + 1];
    for (;;) {
        errno = 0;
        if (std::fgets(line, sizeof line, stdin) || !std::ferror(stdin)) return;
        const int e = errno ? errno : EIO;
        std::clearerr(stdin);
        if (interrupted(e)) continue;  // a signal that ends the run does so here
        errno = e;
        Io_error(e, 1, "reading INPUT : ");
    }
}

} // namespace

void callio(int code, int nargs, int last, Routine *routine)
{
    if (nargs < 0 || last - nargs + 1 < 0 || last >= STACKSIZE) Abort("I/O statement values outside the value stack");
    switch (code) {
    case callio_allocate: io_allocate(); break;
    case callio_close: io_close(); break;
    case callio_date: break;
    case callio_delete: io_delete(); break;
    case callio_input: io_input(); break;
    case callio_logemail: log_email(nargs, last); break;
    case callio_logprint: log_print(nargs, last); break;
    case callio_open: io_open(); break;
    case callio_print:
        window_hooks().message("Redundant code called to print use tprint callio line 257", "error");
        terminal_print(nargs, last);
        break;
    case callio_read: io_read(nargs, last, routine); break;
    case callio_rename: io_rename(); break;
    case callio_rewind: io_rewind(); break;
    case callio_tprint: terminal_print(nargs, last); break;
    case callio_unlock: Io_error(302, 0, "UNLOCK: No DISAM available");
    case callio_write: io_write(nargs, last); break;
    default: Io_error(7777, 0, "Callio function not implemented");
    }
}
