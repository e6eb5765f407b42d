// Whole-record operations on structure variables (clear, copy, compare, dump, copy into a text
// element) and the text fields they share with the program lists.
//
// Records are walked by their table schema. The loader has checked that every column lies inside
// its table's record; what is checked here is what only the walk sees: a nested table must fit
// its column and may not contain itself.
#include "structops.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <variant>
#include <vector>

#include "applications.h"
#include "executor.h"
#include "globals.h"
#include "mem_mgt.h"
#include "message.h"
#include "numerics.h"
#include "run_time.h"
#include "shared_files.h"
#include "sql.h"
#include "value_stack.h"

// ---- Text fields -----------------------------------------------------------------------------

namespace {

std::uint64_t raw_reference(const void *field)
{
    std::uint64_t raw;
    std::memcpy(&raw, field, sizeof raw);
    return raw;
}

// The node of the accounting that owns the field's text; nullptr when the field holds no text.
// A reference the accounting does not record for this field is never followed: unknown is set.
PointerMem_t *owner(const void *field, bool *unknown)
{
    *unknown = false;
    const char *text = BasicPtrtoText(field);
    if (!text) return nullptr;
    PointerMem_t *node = find_pointer_mem_usage(field, text);
    *unknown = node == nullptr;
    return node;
}

[[noreturn]] void refuse(const void *field, const char *what)
{
    // The eight bytes are read as they stand, most significant first, without following them.
    const auto *b = static_cast<const unsigned char *>(field);
    std::uint64_t v = 0;
    for (int i = 0; i < BasicPtrSz; ++i) v = (v << 8) | b[i];
    Abort("%s: unknown text reference 0x%" PRIX64 " at %p refused", what, v, field);
}

} // namespace

const char *text_field_text(const void *field, const char *what)
{
    bool unknown;
    PointerMem_t *node = owner(field, &unknown);
    if (unknown) refuse(field, what);
    return node ? static_cast<const char *>(node->block) : nullptr;
}

void text_field_release(void *field, const char *what)
{
    bool unknown;
    PointerMem_t *node = owner(field, &unknown);
    if (unknown) refuse(field, what);
    if (!node) return;
    sfree(node->block);
    node->block = nullptr;
    add_pointer_mem_usage(Minterp, field, nullptr);
    ClearBasicPtr(field);
}

void text_field_set(void *field, char *block, const char *what)
{
    bool unknown;
    PointerMem_t *node = owner(field, &unknown);
    if (unknown) {
        sfree(block);
        refuse(field, what);
    }
    if (node) {
        sfree(node->block);
        node->block = nullptr;
    }
    ClearBasicPtr(field);
    add_pointer_mem_usage(Minterp, field, block);
    if (block) CtoBasicPtr(field, block);
}

// ---- Schema walk -----------------------------------------------------------------------------

namespace {

// How a column's field is handled.
enum class Field { Number, Time, Text, Bytea, Nested, Chars };

Field field_of(ColType_t type)
{
    switch (type) {
    case ct_numeric:
    case ct_serial:
    case ct_oid: return Field::Number;
    case ct_date:
    case ct_timestamp:
    case ct_timestampw:
    case ct_timew:
    case ct_time: return Field::Time;
    case ct_text: return Field::Text;
    case ct_bytea: return Field::Bytea;
    case ct_struct: return Field::Nested;
    default: return Field::Chars;
    }
}

// Width of a time-like field's text.
int time_width(ColType_t type)
{
    switch (type) {
    case ct_date: return SQL_DATE_SIZE;
    case ct_timestamp: return SQL_TSTAMP_SIZE;
    case ct_timestampw: return SQL_TSTAMPW_SIZE;
    case ct_timew: return SQL_TIMEW_SIZE;
    default: return SQL_TIME_SIZE;
    }
}

std::size_t chars_width(const OskaCol_t &c) { return c.storage_A > 0 ? static_cast<std::size_t>(c.storage_A) : 0; }

// Tables being walked, outermost first: a nested table already among them would never end.
using Path = std::vector<const OskaTable_t *>;

// The table of a struct column, from the current application's registry. absent is the
// operation's message for a missing table (nested name, table name).
OskaTable_t *nested_table(const OskaTable_t *table, const OskaCol_t &c, const char *absent, const Path &path)
{
    const char *name = c.constraints ? c.constraints->c_str() : "";
    OskaTable_t *nested = nullptr;
    if (c.constraints && current_application && current_application->app)
        nested = FindOskaTable(current_application->app->tables, name);
    if (!nested) Abort(absent, name, table->tname.c_str());
    if (nested->tsize > c.storage_A)
        Abort("Table %s (%d bytes) does not fit column %s of table %s (%d bytes)", name, nested->tsize,
              c.cname.c_str(), table->tname.c_str(), static_cast<int>(c.storage_A));
    if (std::find(path.begin(), path.end(), nested) != path.end())
        Abort("Table %s contains itself through column %s of table %s", name, c.cname.c_str(), table->tname.c_str());
    return nested;
}

// The text of a record's text field; an unknown reference ends the run naming the column.
const char *column_text(const char *field, const char *operation, const OskaCol_t &c, const OskaTable_t *t)
{
    bool unknown;
    PointerMem_t *node = owner(field, &unknown);
    if (unknown) {
        std::string what = std::string(operation) + " column " + c.cname + " of table " + t->tname;
        refuse(field, what.c_str());
    }
    return node ? static_cast<const char *>(node->block) : nullptr;
}

dec_t number_at(const char *field)
{
    dec_t d;
    std::memcpy(&d, field, sizeof d);  // records need not keep decimals aligned
    return d;
}

void clear_record(OskaTable_t *t, char *record, Path &path)
{
    path.push_back(t);
    for (int i = 0; i < t->ncols; ++i) {
        const OskaCol_t *c = t->cols[i].get();
        if (!c) continue;
        char *f = record + c->offset;
        switch (field_of(c->type)) {
        case Field::Number: std::memcpy(f, &ZERO_DEC, sizeof(dec_t)); break;
        case Field::Time: std::memset(f, ' ', static_cast<std::size_t>(time_width(c->type))); break;
        case Field::Text:
        case Field::Bytea:
            if (column_text(f, "sclear", *c, t)) text_field_release(f, "sclear");
            break;
        case Field::Nested:
            clear_record(nested_table(t, *c, "No table %s found when clearing table %s\n", path), f, path);
            break;
        case Field::Chars: std::memset(f, ' ', chars_width(*c)); break;
        }
    }
    path.pop_back();
}

void copy_record(char *dst, const char *src, OskaTable_t *t, Path &path)
{
    path.push_back(t);
    for (int i = 0; i < t->ncols; ++i) {
        const OskaCol_t *c = t->cols[i].get();
        if (!c) continue;
        char *d = dst + c->offset;
        const char *s = src + c->offset;
        switch (field_of(c->type)) {
        case Field::Number: std::memmove(d, s, sizeof(dec_t)); break;
        case Field::Time: std::memmove(d, s, static_cast<std::size_t>(time_width(c->type))); break;
        case Field::Chars: std::memmove(d, s, chars_width(*c)); break;
        case Field::Nested:
            copy_record(d, s, nested_table(t, *c, "No table %s found when COPYSTRUCT'ing table %s\n", path), path);
            break;
        case Field::Bytea: Abort("Need to test COPYSTRUCT with BYTEA elements!");
        case Field::Text: {
            // Both references are checked before anything changes; the copy is made before the
            // destination's old text goes, which may be the very text copied.
            const char *text = column_text(s, "COPYSTRUCT", *c, t);
            column_text(d, "COPYSTRUCT", *c, t);
            char *block = nullptr;
            if (text) {
                const std::size_t n = std::strlen(text);
                block = static_cast<char *>(salloc(n + 1));
                std::memcpy(block, text, n);
            }
            text_field_set(d, block, "COPYSTRUCT");
            break;
        }
        }
    }
    path.pop_back();
}

int compare_record(const char *a, const char *b, OskaTable_t *t, Path &path)
{
    path.push_back(t);
    int equal = 1;
    for (int i = 0; equal && i < t->ncols; ++i) {
        const OskaCol_t *c = t->cols[i].get();
        if (!c) continue;
        const char *fa = a + c->offset;
        const char *fb = b + c->offset;
        switch (field_of(c->type)) {
        case Field::Number: {
            dec_t x = number_at(fa), y = number_at(fb);
            equal = NumericCmp(&x, &y) == 0;
            break;
        }
        case Field::Time: equal = std::memcmp(fa, fb, static_cast<std::size_t>(time_width(c->type))) == 0; break;
        case Field::Chars: equal = std::memcmp(fa, fb, chars_width(*c)) == 0; break;
        case Field::Nested:
            equal = compare_record(fa, fb, nested_table(t, *c, "No table %s found when ISTRUCTEQ'ing table %s\n", path),
                                   path);
            break;
        case Field::Bytea: Abort("Need to test ISTRUCTEQ with BYTEA elements!");
        case Field::Text: {
            if (raw_reference(fa) == raw_reference(fb)) break;  // the same reference
            const char *x = column_text(fa, "ISTRUCTEQ", *c, t);
            const char *y = column_text(fb, "ISTRUCTEQ", *c, t);
            equal = std::strcmp(x ? x : "", y ? y : "") == 0;  // no text equals an empty text
            break;
        }
        }
    }
    path.pop_back();
    return equal;
}

void dump_record(const char *record, OskaTable_t *t, std::FILE *out, Path &path)
{
    path.push_back(t);
    for (int i = 0; i < t->ncols; ++i) {
        const OskaCol_t *c = t->cols[i].get();
        if (!c) continue;
        const char *f = record + c->offset;
        const char *type = ct_string(c->type);
        const char *name = c->cname.c_str();
        char label[64];
        switch (field_of(c->type)) {
        case Field::Number: {
            std::snprintf(label, sizeof label, "%s(%d,%d)", type, c->storage_A, c->storage_B);
            dec_t d = number_at(f);
            std::fprintf(out, "%-14s %s=[%s]\n", label, name, Convert_BCD(&d));
            break;
        }
        case Field::Time: {
            const int w = time_width(c->type);
            std::snprintf(label, sizeof label, "%s(%d)", type, w);
            std::fprintf(out, "%-14s %s=[%.*s]\n", label, name, static_cast<int>(strnlen(f, static_cast<std::size_t>(w))), f);
            break;
        }
        case Field::Text:
        case Field::Bytea: {
            const char *text = column_text(f, "ISTRUCT_DUMP", *c, t);
            const int n = text ? static_cast<int>(std::strlen(text)) : 0;
            std::snprintf(label, sizeof label, "%s(%d)", type, n);
            std::fprintf(out, "%-14s %s=(%d)[]\n", label, name, n);
            break;
        }
        case Field::Nested: {
            OskaTable_t *nested = nested_table(t, *c, "No table %s found when DUMP'ing table %s\n", path);
            std::snprintf(label, sizeof label, "%s(%d)", type, c->storage_A);
            std::fprintf(out, "%-14s : Struct %s varname %s\n", label, nested->tname.c_str(), name);
            dump_record(f, nested, out, path);
            break;
        }
        case Field::Chars: {
            const std::size_t n = strnlen(f, chars_width(*c));
            std::snprintf(label, sizeof label, "%s(%d)", type, c->storage_A);
            std::fprintf(out, "%-14s %s=(%d)[", label, name, static_cast<int>(n));
            std::fwrite(f, 1, n, out);
            std::fputs("]\n", out);
            break;
        }
        }
    }
    path.pop_back();
}

} // namespace

void sql_clear_struct(OskaTable_t *table, char *record)
{
    Path path;
    clear_record(table, record, path);
}

void do_copy_struct(char *destination, const char *source, OskaTable_t *table)
{
    Path path;
    copy_record(destination, source, table, path);
}

int do_compare_struct(const char *first, const char *second, OskaTable_t *table)
{
    Path path;
    return compare_record(first, second, table, path);
}

void do_dump_struct(const char *record, OskaTable_t *table, std::FILE *out)
{
    Path path;
    dump_record(record, table, out, path);
}

// ---- Structure arguments ---------------------------------------------------------------------

namespace {

struct Structure {
    char *record;
    const Symbol *symbol;
    OskaTable_t *table;
};

// Whether r is the address of an entry of a loaded routine table: the only routine references a
// structure entry may carry, and the only ones followed.
bool known_routine(Address r)
{
    auto within = [r](const Routine *table) {
        if (!table) return false;
        const auto base = reinterpret_cast<Address>(table);
        return r >= base && r < base + MAX_ROUTINES * sizeof(Routine) && (r - base) % sizeof(Routine) == 0;
    };
    if (within(routines)) return true;
    for (Application_t *ap = applications; ap; ap = ap->next)
        if (ap->app && within(ap->app->routines)) return true;
    return false;
}

Structure resolve(const Stack &e)
{
    const auto address = reinterpret_cast<Address>(e.s_c.C_P);
    Symbol *s = nullptr;
    if (e.s_t == bstruct && known_routine(e.params[0]))
        s = FindSymbolExMloc(reinterpret_cast<Routine *>(e.params[0]), s_struct, s_based, address);
    if (!s)
        Abort("No symtab found for struct at 0x%X in routine 0x%X", static_cast<unsigned>(address),
              static_cast<unsigned>(e.params[0]));
    auto *const *table = std::get_if<OskaTable_t *>(&s->S_);
    if (!table || !*table || (*table)->tname.empty())
        Abort("Cannot find table for struct %s at 0x%X", s->S_name.c_str(), static_cast<unsigned>(address));
    return {static_cast<char *>(e.s_c.C_P), s, *table};
}

// The index of the first of nargs arguments ending at last, once the count is one the
// intrinsic takes.
int first_argument(const char *name, int nargs, int last, int least, int most)
{
    const int first = last - nargs + 1;
    if (nargs < least || nargs > most || first < 0 || last >= STACKSIZE)
        Xerror(200, "%s called with wrong number of arguments (%d)", name, nargs);
    return first;
}

// Whether both records have one layout; else the warning (first named as the destination).
bool same_layout(const Structure &a, const Structure &b)
{
    if (CompareOskaTable(b.table, a.table) == 0) return true;
    Warn("COPYSTRUCT - differing structs %s (dst) != %s (src)", a.table->tname.c_str(), b.table->tname.c_str());
    return false;
}

// Opens the dump file in the shared temp directory by its rules: never through a symbolic link,
// a new file of the run's own put under the name.
std::FILE *open_dump_file(const std::string &path)
{
    const int fd = open_by_name(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return nullptr;
    std::FILE *f = fdopen(fd, "w");
    if (!f) close(fd);
    return f;
}

} // namespace

bool known_routine_record(Address r)
{
    return known_routine(r);
}

StructureArg structure_argument(const Stack &entry, Symbol *known)
{
    const auto record = reinterpret_cast<Address>(entry.s_c.C_P);
    Symbol *s = nullptr;
    if (entry.s_t == bstruct) {
        if (known && known->S_memloc == record)
            s = known;
        else if (known_routine(entry.params[0]))
            s = FindSymbolExMloc(reinterpret_cast<Routine *>(entry.params[0]), s_struct, s_based, record);
    }
    if (!s) Abort("No symtab found for struct at 0x%X", static_cast<unsigned>(record));
    auto *const *table = std::get_if<OskaTable_t *>(&s->S_);
    if (!table || !*table || (*table)->tname.empty())
        Abort("Cannot find table for struct %s at 0x%X", s->S_name.c_str(), static_cast<unsigned>(record));
    return {static_cast<char *>(entry.s_c.C_P), s, *table};
}

void sclear(int last)
{
    if (last < 0 || last >= STACKSIZE) Abort("sclear: no structure on the value stack");
    Structure s = resolve(Stk[last]);
    sql_clear_struct(s.table, s.record);
}

int copy_struct(int nargs, int last)
{
    const int first = first_argument("COPYSTRUCT", nargs, last, 2, 2);
    Structure dst = resolve(Stk[first]);
    Structure src = resolve(Stk[last]);
    if (!same_layout(dst, src)) return 0;
    do_copy_struct(dst.record, src.record, dst.table);
    return 1;
}

int is_struct_equal(int nargs, int last)
{
    const int first = first_argument("ISTRUCTEQ", nargs, last, 2, 2);
    Structure a = resolve(Stk[first]);
    Structure b = resolve(Stk[last]);
    if (!same_layout(a, b)) return 0;
    return do_compare_struct(a.record, b.record, a.table);
}

void istruct_dump(int nargs, int last)
{
    const int first = first_argument("ISTRUCT_DUMP", nargs, last, 1, 2);
    Structure s = resolve(Stk[first]);
    std::FILE *out = stdout;
    std::string path;
    if (nargs == 2) {
        const Stack &arg = Stk[last];
        if (arg.s_t != string) Abort("ISTRUCT_DUMP second arg (file name) must be a string");
        long n = 0;
        const char *name = (arg.flags & stk_pointer) ? text_field_text(arg.s_c.C_S, "ISTRUCT_DUMP") : arg.s_c.C_S;
        if (name) n = (arg.flags & stk_pointer) ? static_cast<long>(std::strlen(name)) : static_cast<long>(arg.length);
        const std::string file(name ? name : "", static_cast<std::size_t>(n));
        path = std::string(TEMP_DIR) + "/" + file + ".txt";
        // The file lives in the temp directory itself, under a name of at most 255 characters.
        const bool plain = file.find('/') == std::string::npos && file.find('\0') == std::string::npos;
        out = plain && path.size() <= 255 ? open_dump_file(path) : nullptr;
        if (!out) Abort("Cannot open filename %s for istruct_dump ", path.c_str());
    }
    std::fprintf(out, "Struct %s varname %s\n", s.table->tname.c_str(), s.symbol->S_name.c_str());
    if (out != stdout) std::printf("called istruct_dump(%s,%s)\n", s.symbol->S_name.c_str(), path.c_str());
    do_dump_struct(s.record, s.table, out);
    if (out == stdout) {
        std::fflush(stdout);
        return;
    }
    std::fflush(stdout);
    const bool failed = std::ferror(out) != 0;
    if (std::fclose(out) != 0 || failed) Abort("Cannot write filename %s for istruct_dump", path.c_str());
}

int copy_into_text(int nargs, int last)
{
    const int first = first_argument("COPYTOTEXT", nargs, last, 2, 2);
    const Stack &dst = Stk[first];
    const Stack &src = Stk[last];
    if (!(dst.flags & stk_pointer) || !dst.s_c.C_S) {
        Warn("COPYTOTEXT first arg (dst) must be a TEXT/BYTEA struct element");
        return 0;
    }
    if (src.s_t != string) {
        Warn("COPYTOTEXT second arg (src) must be a string or string variable");
        return 0;
    }
    // Source and destination are both checked before anything is allocated or released.
    const char *text;
    std::size_t n = 0;
    if (src.flags & stk_pointer) {
        text = src.s_c.C_S ? text_field_text(src.s_c.C_S, "COPYTOTEXT") : nullptr;
        if (text) n = std::strlen(text);
    } else {
        // The string's stored length, not its first dimension word: that word is the room of a
        // variable (or nothing useful for a constant or an expression's result), and reading by it
        // would copy the blanks or bytes after the text, or read past a shorter one.
        text = src.s_c.C_S;
        if (text) n = src.length;
    }
    text_field_text(dst.s_c.C_S, "COPYTOTEXT");
    char *block = nullptr;
    if (n > 0) {
        // Copied before the old text is released: the source may be the destination itself.
        block = static_cast<char *>(salloc(n + 1));
        std::memcpy(block, text, n);
    }
    text_field_set(dst.s_c.C_S, block, "COPYTOTEXT");
    return 1;
}
