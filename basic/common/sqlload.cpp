// The table-schema section of the object file. A program loaded into an application that already
// has a table must declare it with the same layout; any conflict removes every table of the
// registry before the run stops, so no half-checked schema is left behind.
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

#include "globals.h"
#include "objlines.h"
#include "sql.h"

namespace {

constexpr std::size_t SQL_LINE = 1024;  // 1023 characters and the terminator

struct Reader {
    OskaTableRegistry tables;
    char line[SQL_LINE];

    // Reads the next line of the section; false when it is too long for the line buffer.
    bool next_line()
    {
        ObjLine r = obj_read_line(line, sizeof line);
        if (r == ObjLine::end_of_file) obj_incomplete();
        return r == ObjLine::ok;
    }

    // Every table goes before the run stops; the texts are copied first, since they may live in
    // the tables being removed.
    template <class... Args> [[noreturn]] void conflict(const char *format, Args... args)
    {
        DelAllOskaTables(tables);
        Abort(format, args...);
    }
};

// True when the word that ends at end was read whole (a width-limited %s stops early).
bool word_complete(const char *line, int end)
{
    return end >= 0 && (line[end] == '\0' || std::isspace(static_cast<unsigned char>(line[end])));
}

bool fits_int16(int v)
{
    return v >= SHRT_MIN && v <= SHRT_MAX;
}

// Reads a text of exactly n bytes (fewer when a NUL byte comes first) and skips the byte after it.
std::string read_text(int n)
{
    std::string text;
    for (int i = 0; i < n; ++i) {
        int c = obj_peek_byte();
        if (c < 0) obj_incomplete();
        if (c == '\0') break;
        text.push_back(static_cast<char>(c));
        ++obj_ptr;
    }
    if (obj_next_byte() < 0) obj_incomplete();
    return text;
}

std::uint32_t column_flags(ColType_t type, const std::string &name)
{
    bool dated = type == ct_date || type == ct_timestamp || type == ct_timestampw || type == ct_time ||
                 type == ct_timew;
    bool prefixed = name.rfind("AUTO_I_", 0) == 0 || name.rfind("AUTO_U_", 0) == 0;
    std::uint32_t io = !prefixed ? 0 : name[5] == 'I' ? OCOL_TS_AUTO_I : OCOL_TS_AUTO_U;
    if (dated && prefixed) return io;
    if (type == ct_varchar && prefixed && name.size() >= 3 && name.compare(name.size() - 3, 3, "_TZ") == 0)
        return OCOL_TS_TZ | io;
    return 0;
}

const char *or_null(const std::optional<std::string> &t)
{
    return t ? t->c_str() : "NULL";
}

void read_column(Reader &rd, OskaTable_t *t, bool reloading, int position)
{
    char name[64] = "";
    int name_end = -1, number = 0, a = 0, b = 0, offset = 0, d = 0, k = 0;
    bool whole = rd.next_line();
    std::string line = rd.line;
    if (!whole ||
        std::sscanf(rd.line, "C:%63s%n %d %d %d %d %d %d", name, &name_end, &number, &a, &b, &offset, &d, &k) != 7 ||
        !word_complete(rd.line, name_end) || !fits_int16(a) || !fits_int16(b))
        Abort("Malformed SQL column entry - %s\n", line.c_str());
    ColType_t type = ct_number2ct(number);
    // The column must lie inside the record the table line announced.
    int bytes = type == ct_unknown ? 0 : ct_record_bytes(type, a);
    if (offset < 0 || bytes < 0 || offset > t->tsize || bytes > t->tsize - offset)
        Abort("Malformed SQL column entry - %s\n", line.c_str());

    std::optional<std::string> defaults, constraints;
    if (d > 0) defaults = read_text(d - 1);
    if (k > 0) constraints = read_text(k);

    int index = -1;
    OskaCol_t *old = FindOskaCol(t, name, &index);
    std::string tname = t->tname;
    if (!reloading) {
        if (old) {
            std::fprintf(stderr, "Column %s in table %s already defined @ line %d", name, tname.c_str(), yylineno);
            rd.conflict("Column %s in table %s already defined @ line %d\n", name, tname.c_str(), yylineno);
        }
        OskaCol_t *c = CreateOskaCol(t, name);
        if (!c) {
            std::fprintf(stderr, "No memory to create column %s in tabled %s", name, tname.c_str());
            rd.conflict("No memory to create column %s in tabled %s\n", name, tname.c_str());
        }
        c->type = type;
        c->storage_A = static_cast<std::int16_t>(a);
        c->storage_B = static_cast<std::int16_t>(b);
        c->offset = offset;
        c->defaults = std::move(defaults);
        c->constraints = std::move(constraints);
        c->cflags = column_flags(type, c->cname);
        return;
    }

    // A reloaded table: the column at the same name must keep its place and shape. A name the
    // table lacks counts as a mismatch against the column at the same position.
    bool found = old != nullptr;
    if (!old && position < t->ncols) old = t->cols[position].get();
    int o_type = old ? old->type : 0, o_a = old ? old->storage_A : 0, o_b = old ? old->storage_B : 0;
    int o_offs = old ? old->offset : 0;
    if (!found || o_type != type || o_a != a || o_b != b || o_offs != offset) {
        std::fprintf(stderr, "Reloading table %s, column %s. Mismatch\n", tname.c_str(), name);
        std::fprintf(stderr, "Type, Stor A, B: Old %d %d %d %d vs New %d %d %d %d\n", o_type, o_a, o_b, o_offs,
                     int(type), a, b, offset);
        rd.conflict("Reloading table %s, column %s. Mismatch\nType, Stor A, B, Offs: Old %d %d %d %d vs New %d %d %d %d\n",
                    tname.c_str(), name, o_type, o_a, o_b, o_offs, int(type), a, b, offset);
    }
    if (old->defaults.has_value() != defaults.has_value()) {
        std::string o = or_null(old->defaults), n = or_null(defaults);
        std::fprintf(stderr, "Reloading table %s, column %s. Old defaults value %s, new defaults value %s\n",
                     tname.c_str(), name, o.c_str(), n.c_str());
        rd.conflict("Reloading table %s, column %s. Old defaults value %s, new default value %s\n", tname.c_str(),
                    name, o.c_str(), n.c_str());
    }
    if (old->constraints.has_value() != constraints.has_value()) {
        std::string o = or_null(old->constraints), n = or_null(constraints);
        std::fprintf(stderr, "Reloading table %s, column %s. Old constraint %s, new constraint %s\n", tname.c_str(),
                     name, o.c_str(), n.c_str());
        rd.conflict("Reloading table %s, column %s. Old constraint %s, new constraint %s\n", tname.c_str(), name,
                    o.c_str(), n.c_str());
    }
}

void read_index(Reader &rd, OskaTable_t *t, bool reloading)
{
    char name[64] = "";
    int name_end = -1, natts = 0;
    if (!rd.next_line() || std::sscanf(rd.line, "I:%63s%n %d", name, &name_end, &natts) != 2 ||
        !word_complete(rd.line, name_end))
        Abort("Malformed SQL index entry - %s\n", rd.line);
    std::string tname = t->tname;
    OskaIdx_t *x = nullptr;
    if (!reloading) {
        if (FindOskaIdx(t, name)) {
            std::fprintf(stderr, "Index %s in table %s already defined @ line %d", name, tname.c_str(), yylineno);
            rd.conflict("Index %s in table %s already defined @ line %d\n", name, tname.c_str(), yylineno);
        }
        x = CreateOskaIdx(t, name);
        if (!x) {
            std::fprintf(stderr, "No memory to create index %s in table %s", name, tname.c_str());
            rd.conflict("No memory to create index %s in table %s\n", name, tname.c_str());
        }
    }
    if (natts > MAX_SQL_IDX_ATTS)
        rd.conflict("Index %s in table %s - too many attribute indices\n", name, tname.c_str());
    for (int i = 0; i < natts; ++i) {
        int pos = 0;
        if (!rd.next_line() || std::sscanf(rd.line, "%d", &pos) != 1 || pos < 0 || pos >= t->ncols)
            Abort("Malformed SQL index list entry - %s\n", rd.line);
        if (x) x->atts[x->natts++] = static_cast<std::int16_t>(pos);
    }
}

void read_table(Reader &rd)
{
    char name[64] = "";
    int name_end = -1, nidx = 0, ncols = 0, vtable = 0, tsize = 0;
    if (!rd.next_line() ||
        std::sscanf(rd.line, "T:%63s%n %d %d %d %d", name, &name_end, &nidx, &ncols, &vtable, &tsize) != 5 ||
        !word_complete(rd.line, name_end) || nidx < 0 || ncols < 0 || tsize < 0)
        Abort("Malformed SQL table entry - %s\n", rd.line);

    OskaTable_t *t = FindOskaTable(rd.tables, name);
    bool reloading = t != nullptr;
    if (reloading) {
        if (t->vtable != (vtable != 0) || t->ncols != ncols || t->nidx != nidx || t->tsize != tsize) {
            int ov = t->vtable, on = t->ncols, oi = t->nidx, os = t->tsize;
            std::fprintf(stderr, "Reloaded SQL table %s different @ line %d", name, yylineno);
            std::fprintf(stderr, "Type, Ncols, Nidx: Old %d %d %d %d, New %d %d %d %d\n", ov, on, oi, os, vtable, ncols,
                         nidx, tsize);
            rd.conflict("Reloaded SQL table %s different @ line %d\nType, Ncols, Nidx, Size: Old %d %d %d %d, New %d %d %d %d\n",
                        name, yylineno, ov, on, oi, os, vtable, ncols, nidx, tsize);
        }
    } else {
        t = CreateOskaTable(rd.tables, name);
        if (!t) {
            std::fprintf(stderr, "No memory for table %s", name);
            rd.conflict("No memory for table %s\n", name);
        }
        t->vtable = vtable != 0;
        t->tsize = tsize;
    }
    for (int c = 0; c < ncols; ++c) read_column(rd, t, reloading, c);
    for (int i = 0; i < nidx; ++i) read_index(rd, t, reloading);
}

} // namespace

int LoadOskaTables(OskaTableRegistry tables)
{
    Reader rd{tables, {}};
    int count = 0;
    if (!rd.next_line() || std::sscanf(rd.line, "__SQL_TABLES__ %d", &count) != 1)
        Abort("Malformed SQL table section - Possible old object\n");
    for (int i = 0; i < count; ++i) read_table(rd);
    obj_section_done();
    return count > 0 ? count : 0;
}
