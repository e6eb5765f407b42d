// The numeric intrinsics the dispatcher works out itself: arithmetic on decimals, measures and
// searches of strings, text to number, the status registers, the channel of a file, and the
// indexed-file stubs.
#include <cstring>
#include <string>
#include <unistd.h>

#include "cases.h"
#include "executor.h"
#include "fileio.h"
#include "message.h"
#include "run_time.h"
#include "structops.h"

namespace {

using namespace intr;

Stack &first(int nargs, int last) { return arg(nargs, last, 0); }

void ABS_case(int nargs, int last, Stack *result)
{
    const dec_t *x = number(first(nargs, last));
    if (x->dec_pos != 0)
        NumericCopy(&result->num, x);
    else
        NumericSub(&ZERO_DEC, x, &result->num);
}

void INT_case(int nargs, int last, Stack *result)
{
    const dec_t *x = number(first(nargs, last));
    const char *text = Convert_BCD(x);
    const char *point = std::strchr(text, '.');
    if (!point) {
        NumericCopy(&result->num, x);
        return;
    }
    if (NumericCvASC(text, static_cast<int>(point - text), &result->num) != 0) result->num = ZERO_DEC;
}

// The first of the largest (a later argument replaces the candidate when the candidate compares
// -1 to it) or of the smallest (1).
void extreme(int nargs, int last, Stack *result, int replace_when)
{
    const dec_t *candidate = number(first(nargs, last));
    for (int i = 1; i < nargs; ++i) {
        const dec_t *a = number(arg(nargs, last, i));
        if (NumericCmp(candidate, a) == replace_when) candidate = a;
    }
    NumericCopy(&result->num, candidate);
}

void MAXIMUM_case(int nargs, int last, Stack *result) { extreme(nargs, last, result, -1); }
void MINIMUM_case(int nargs, int last, Stack *result) { extreme(nargs, last, result, 1); }

std::size_t without_trailing_blanks(std::string_view s)
{
    std::size_t n = s.size();
    while (n > 0 && s[n - 1] == ' ') --n;
    return n;
}

long LEN_count(std::string_view s) { return static_cast<long>(s.size()); }

long FLEN_count(std::string_view s) { return static_cast<long>(without_trailing_blanks(s)); }

long LLEN_count(std::string_view s)
{
    std::size_t n = 0;
    while (n < s.size() && s[n] == ' ') ++n;
    return n == s.size() ? 0 : static_cast<long>(n);
}

void LEN_case(int nargs, int last, Stack *result) { set_number(result, LEN_count(text(first(nargs, last)))); }
void FLEN_case(int nargs, int last, Stack *result) { set_number(result, FLEN_count(text(first(nargs, last)))); }
void LLEN_case(int nargs, int last, Stack *result) { set_number(result, LLEN_count(text(first(nargs, last)))); }

void ASC_case(int nargs, int last, Stack *result)
{
    std::string_view s = text(first(nargs, last));
    set_number(result, s.empty() ? 0 : static_cast<unsigned char>(s[0]));
}

void POS_case(int nargs, int last, Stack *result)
{
    std::string_view hay = text(arg(nargs, last, 0)), needle = text(arg(nargs, last, 1));
    long found = 0;
    for (std::size_t i = 0; i < hay.size(); ++i)
        if (hay.size() - i >= needle.size() && hay.compare(i, needle.size(), needle) == 0) {
            found = static_cast<long>(i) + 1;
            break;
        }
    set_number(result, found);
}

void RPOS_case(int nargs, int last, Stack *result)
{
    std::string_view hay = text(arg(nargs, last, 0)), needle = text(arg(nargs, last, 1));
    long found = 0;
    if (needle.empty()) {
        found = static_cast<long>(hay.size());  // the last start position, as POS finds the first
    } else if (needle.size() <= hay.size()) {
        for (std::size_t i = hay.size() - needle.size() + 1; i-- > 0;)
            if (hay.compare(i, needle.size(), needle) == 0) {
                found = static_cast<long>(i) + 1;
                break;
            }
    }
    set_number(result, found);
}

void ISAME_case(int nargs, int last, Stack *result)
{
    std::string_view a = text(arg(nargs, last, 0)), b = text(arg(nargs, last, 1));
    const std::size_t na = without_trailing_blanks(a), nb = without_trailing_blanks(b);
    bool same = na == nb;
    // A byte comparison that, like the terminated texts it was made for, ends at a zero byte.
    for (std::size_t i = 0; same && i < na; ++i) {
        if (a[i] != b[i]) same = false;
        if (a[i] == '\0') break;
    }
    set_number(result, same ? 1 : 0);
}

void VAL_case(int nargs, int last, Stack *result)
{
    constexpr std::size_t WORK = 2047;
    std::string_view s = text(first(nargs, last));
    std::size_t i = 0;
    while (i < s.size() && s[i] == ' ') ++i;
    std::string work;
    bool number = i < s.size(), blank_seen = false;
    for (; number && i < s.size() && work.size() < WORK; ++i) {
        const char c = s[i];
        if (c == ' ') {
            blank_seen = true;
        } else if (!blank_seen && ((c >= '0' && c <= '9') || (c != '\0' && std::strchr("+-.eE", c)))) {
            work += c;
        } else {
            number = false;
        }
    }
    if (!number || work.empty() || NumericCvASC(work.data(), static_cast<int>(work.size()), &result->num) != 0)
        result->num = ZERO_DEC;
}

void ARGC_case(int, int, Stack *result) { set_number(result, ARGC); }

void ERR_case(int, int, Stack *result)
{
    set_number(result, ERR_REG);
    ERR_REG = 0;
}

void IOERR_case(int, int, Stack *result)
{
    set_number(result, IOERR_REG);
    IOERR_REG = 0;
}

void EXIT_CODE_case(int, int, Stack *result) { set_number(result, EXIT_STAT); }
void GETPID_case(int, int, Stack *result) { set_number(result, getpid()); }
void IS_FG_case(int, int, Stack *result) { set_number(result, Back_ground ? 0 : 1); }
void zero_case(int, int, Stack *result) { result->num = ZERO_DEC; }

// The open channel whose file is "unit<unit>/<name>", the name OPEN gives a FILE with a UNIT;
// -1 when no open channel has it. The name ends at a zero byte, as the FILE text of OPEN does.
void LFN_FILE_case(int nargs, int last, Stack *result)
{
    std::string_view name = text(arg(nargs, last, 0));
    name = name.substr(0, name.find('\0'));
    const std::string path = "unit" + std::to_string(integer(arg(nargs, last, 1))) + "/" + std::string(name);
    for (int i = 0; i < FILE_TABLE_SIZE; ++i) {
        const FileChannel_t &channel = File_table[i];
        if (channel.descriptor >= 0 && channel.name && path == channel.name) {
            set_number(result, i);
            return;
        }
    }
    set_number(result, -1);
}

// The indexed-file layer is not part of the system.
void LSTKEY_case(int, int, Stack *) { Xerror(301, "LSTKEY: No DISAM available"); }
void NKEYS_case(int, int, Stack *) { Xerror(301, "NKEYS: No DISAM available"); }
void NRECORDS_case(int, int, Stack *) { Xerror(301, "NRECORDS: No DISAM available"); }

// The structure operations answer with a status that becomes the result.
void COPYSTRUCT_case(int nargs, int last, Stack *result) { set_number(result, copy_struct(nargs, last)); }
void COPYTOTEXT_case(int nargs, int last, Stack *result) { set_number(result, copy_into_text(nargs, last)); }
void ISTRUCTEQ_case(int nargs, int last, Stack *result) { set_number(result, is_struct_equal(nargs, last)); }

constexpr IntrinsicRow cases[] = {
    {in_COPYSTRUCT, COPYSTRUCT_case}, {in_COPYTOTEXT, COPYTOTEXT_case}, {in_ISTRUCTEQ, ISTRUCTEQ_case},
    {in_ABS, ABS_case, exactly(1)},       {in_INT, INT_case, exactly(1)},         {in_MAXIMUM, MAXIMUM_case, at_least(1)},
    {in_MINIMUM, MINIMUM_case, at_least(1)},
    {in_LEN, LEN_case, exactly(1), false, READS_TEXT_ONLY, LEN_count},
    {in_FLEN, FLEN_case, exactly(1), false, READS_TEXT_ONLY, FLEN_count},
    {in_LLEN, LLEN_case, exactly(1), false, READS_TEXT_ONLY, LLEN_count}, {in_ASC, ASC_case, exactly(1)}, {in_POS, POS_case, exactly(2)},
    {in_RPOS, RPOS_case, exactly(2)},     {in_ISAME, ISAME_case, exactly(2)},     {in_VAL, VAL_case, exactly(1)},
    {in_ARGC, ARGC_case, exactly(0)},     {in_ERR, ERR_case, exactly(0)},         {in_IOERR, IOERR_case, exactly(0)},
    {in_EXIT_CODE, EXIT_CODE_case, exactly(0)}, {in_GETPID, GETPID_case, exactly(0)}, {in_IS_FG, IS_FG_case, exactly(0)},
    {in_ISGTK2, zero_case, exactly(0)},   {in_ISGTK3, zero_case, exactly(0)},     {in_LSTKEY, LSTKEY_case},
    {in_NKEYS, NKEYS_case},   {in_NRECORDS, NRECORDS_case}, {in_LFN_FILE, LFN_FILE_case, exactly(2)},
};

} // namespace

std::span<const IntrinsicRow> numeric_intrinsics() { return cases; }
