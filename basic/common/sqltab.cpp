// Table schemas: records, the hashed registry, the record layout and the comparisons.
#include <strings.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <new>

#include "globals.h"
#include "sql.h"

OskaTable_t *oska_tables[NH_OSKATABLES];
int oska_htables_initialised;
TableVars_t *table_vars;
TableVars_t *last_table_var;

namespace {

struct ColTypeInfo {
    const char *name;
    int number;  // in the object file
};

// Indexed by ColType_t.
constexpr ColTypeInfo col_types[] = {
    {"Unknown", 0},
    {"date", 1},
    {"char", 2},
    {"varchar", 3},
    {"numeric", 4},
    {"text", 5},
    {"bytea", 6},
    {"serial", 12},
    {"struct", 7},
    {"timestamp with time zone", 8},
    {"timestamp without time zone", 9},
    {"time without time zone", 11},
    {"time with time zone", 10},
    {"oid", 13},
};
constexpr int N_COL_TYPES = sizeof col_types / sizeof col_types[0];

// Alignment of a column's place in the record: decimals on 22, pointers and structures on 8.
int ct_alignment(ColType_t type)
{
    switch (type) {
    case ct_numeric:
    case ct_serial:
    case ct_oid:
        return 22;
    case ct_text:
    case ct_bytea:
    case ct_struct:
        return 8;
    default:
        return 1;
    }
}

unsigned bucket_of(const char *name)
{
    return hash_32(name) & (NH_OSKATABLES - 1);
}

void ensure_initialised()
{
    if (!oska_htables_initialised) init_oskatable();
}

// A new record with its name set; nullptr when memory runs out.
template <class Record>
Record *new_named(std::string Record::*name, const char *text)
{
    auto *r = new (std::nothrow) Record;
    if (!r) return nullptr;
    try {
        r->*name = text;
    } catch (const std::bad_alloc &) {
        delete r;
        return nullptr;
    }
    return r;
}

} // namespace

const char *ct_string(ColType_t type)
{
    return type >= 0 && type < N_COL_TYPES ? col_types[type].name : col_types[ct_unknown].name;
}

int ct_ct2number(ColType_t type)
{
    return type >= 0 && type < N_COL_TYPES ? col_types[type].number : 0;
}

ColType_t ct_number2ct(int number)
{
    if (number < 1 || number > 13) return ct_unknown;
    for (int t = 1; t < N_COL_TYPES; ++t)
        if (col_types[t].number == number) return static_cast<ColType_t>(t);
    return ct_unknown;
}

int ct_record_bytes(ColType_t type, int storage_A)
{
    switch (type) {
    case ct_date: return SQL_DATE_SIZE + 1;
    case ct_char:
    case ct_varchar: return storage_A < 0 ? -1 : storage_A + 1;
    case ct_numeric:
    case ct_serial:
    case ct_oid: return 22;  // a decimal
    case ct_text:
    case ct_bytea: return 8;  // a pointer value
    case ct_struct: return storage_A < 0 ? -1 : storage_A;
    case ct_timestamp: return SQL_TSTAMP_SIZE + 1;
    case ct_timestampw: return SQL_TSTAMPW_SIZE + 1;
    case ct_timew: return SQL_TIMEW_SIZE + 1;
    case ct_time: return SQL_TIME_SIZE + 1;
    default: return -1;
    }
}

std::uint32_t hash_32(const char *name)
{
    return static_cast<std::uint32_t>(
        crc32(0L, reinterpret_cast<const Bytef *>(name), static_cast<uInt>(std::strlen(name))));
}

void init_oskatable()
{
    for (auto &bucket : oska_tables) bucket = nullptr;
    oska_htables_initialised = 1;
}

OskaTable_t *FindOskaTable(OskaTableRegistry tables, const char *name)
{
    ensure_initialised();
    if (!name) return nullptr;
    for (OskaTable_t *t = tables[bucket_of(name)]; t; t = t->nxt)
        if (t->tname == name) return t;
    return nullptr;
}

OskaTable_t *CreateOskaTable(OskaTableRegistry tables, const char *name)
{
    ensure_initialised();
    auto *t = new_named(&OskaTable_t::tname, name);
    if (!t) return nullptr;
    OskaTable_t **link = &tables[bucket_of(name)];
    while (*link) link = &(*link)->nxt;
    *link = t;
    return t;
}

void DelOskaTable(OskaTableRegistry tables, OskaTable_t *table)
{
    for (OskaTable_t **link = &tables[bucket_of(table->tname.c_str())]; *link; link = &(*link)->nxt) {
        if (*link == table) {
            *link = table->nxt;
            break;
        }
    }
    delete table;  // its columns and indexes go with it
}

void DelAllOskaTables(OskaTableRegistry tables)
{
    for (int b = 0; b < NH_OSKATABLES; ++b) {
        while (OskaTable_t *t = tables[b]) {
            tables[b] = t->nxt;
            delete t;
        }
    }
}

OskaCol_t *FindOskaCol(OskaTable_t *table, const char *name, int *index)
{
    for (int i = 0; i < table->ncols; ++i) {
        if (strcasecmp(table->cols[i]->cname.c_str(), name) == 0) {
            if (index) *index = i;
            return table->cols[i].get();
        }
    }
    if (index) *index = -1;
    return nullptr;
}

OskaCol_t *CreateOskaCol(OskaTable_t *table, const char *name)
{
    if (table->ncols >= MAX_SQL_COLS)
        Abort("Too many columns in table %s. Increase MAX_SQL_COLS", table->tname.c_str());
    auto *c = new_named(&OskaCol_t::cname, name);
    if (!c) return nullptr;
    table->cols[table->ncols++].reset(c);
    return c;
}

OskaIdx_t *FindOskaIdx(OskaTable_t *table, const char *name)
{
    for (int i = 0; i < table->nidx; ++i)
        if (table->idxes[i]->iname == name) return table->idxes[i].get();
    return nullptr;
}

OskaIdx_t *CreateOskaIdx(OskaTable_t *table, const char *name)
{
    if (table->nidx >= MAX_SQL_INDICES)
        Abort("Too many indexes in table %s. Increase MAX_SQL_INDICES", table->tname.c_str());
    auto *x = new_named(&OskaIdx_t::iname, name);
    if (!x) return nullptr;
    table->idxes[table->nidx++].reset(x);
    return x;
}

void AddColAttribute(OskaTable_t *table, OskaIdx_t *index, const char *column)
{
    if (index->natts >= MAX_SQL_IDX_ATTS)
        Abort("Index %s in table %s - too many attribute indices\n", index->iname.c_str(), table->tname.c_str());
    int pos = -1;
    if (!FindOskaCol(table, column, &pos))
        Abort("Index attribute column %s not present in table %s\n", column, table->tname.c_str());
    index->atts[index->natts++] = static_cast<std::int16_t>(pos);
}

int OskaTable_GenOffsets(OskaTable_t *table)
{
    int size = 0;
    for (int i = 0; i < table->ncols; ++i) {
        OskaCol_t *c = table->cols[i].get();
        int bytes = ct_record_bytes(c->type, c->storage_A);
        if (c->type == ct_unknown || bytes < 0) Abort("Unknown column type found!\n");
        int align = ct_alignment(c->type);
        size = (size + align - 1) / align * align;
        c->offset = size;
        size += bytes;
    }
    return size;
}

int CompareOskaTable(const OskaTable_t *t0, const OskaTable_t *t1)
{
    if (!t0 || !t1 || t0->ncols != t1->ncols || t0->tsize != t1->tsize) return 1;
    if (t0 == t1) return 0;
    for (int i = 0; i < t0->ncols; ++i) {
        const OskaCol_t *a = t0->cols[i].get();
        const OskaCol_t *b = t1->cols[i].get();
        if (a->type != b->type || a->storage_A != b->storage_A || a->storage_B != b->storage_B ||
            a->offset != b->offset)
            return 1;
    }
    return 0;
}

int SaveOskaTables(std::FILE *stream)
{
    ensure_initialised();
    int n = 0;
    for (const OskaTable_t *b : oska_tables)
        for (const OskaTable_t *t = b; t; t = t->nxt) ++n;
    std::fprintf(stream, "__SQL_TABLES__ %d\n", n);
    for (const OskaTable_t *b : oska_tables) {
        for (const OskaTable_t *t = b; t; t = t->nxt) {
            std::fprintf(stream, "T:%s %hd %hd %d %d\n", t->tname.c_str(), t->nidx, t->ncols, t->vtable ? 1 : 0,
                         t->tsize);
            for (int i = 0; i < t->ncols; ++i) {
                const OskaCol_t *c = t->cols[i].get();
                int d = c->defaults ? static_cast<int>(c->defaults->size()) + 1 : 0;
                int k = c->constraints ? static_cast<int>(c->constraints->size()) : 0;
                std::fprintf(stream, "C:%s %d %hd %hd %d %d %d\n", c->cname.c_str(), ct_ct2number(c->type),
                             c->storage_A, c->storage_B, c->offset, d, k);
                if (d > 0) std::fprintf(stream, "%s\n", c->defaults->c_str());
                if (k > 0) std::fprintf(stream, "%s\n", c->constraints->c_str());
            }
            for (int i = 0; i < t->nidx; ++i) {
                const OskaIdx_t *x = t->idxes[i].get();
                std::fprintf(stream, "I:%s %hd\n", x->iname.c_str(), x->natts);
                for (int a = 0; a < x->natts; ++a) std::fprintf(stream, "%hd\n", x->atts[a]);
            }
        }
    }
    return n;
}

void show_sql_tables(OskaTableRegistry tables)
{
    if (!oska_htables_initialised) return;
    std::printf("SQL Tables:\n");
    for (int b = 0; b < NH_OSKATABLES; ++b) {
        for (const OskaTable_t *t = tables[b]; t; t = t->nxt) {
            std::printf("%s: ncols %hd, nindexes %hd, table size %d, %s\n", t->tname.c_str(), t->ncols, t->nidx,
                        t->tsize, t->vtable ? "VIRTUAL" : "REAL");
            std::printf("  Columns:\n");
            for (int i = 0; i < t->ncols; ++i) {
                const OskaCol_t *c = t->cols[i].get();
                std::printf("\t%-20s %-8s %5hd %4hd @ %5d %s %s\n", c->cname.c_str(), ct_string(c->type), c->storage_A,
                            c->storage_B, c->offset, c->defaults ? c->defaults->c_str() : "",
                            c->constraints ? c->constraints->c_str() : "");
            }
            std::printf("  Indices:\n");
            for (int i = 0; i < t->nidx; ++i) {
                const OskaIdx_t *x = t->idxes[i].get();
                std::printf("\t%s %hd => cols", x->iname.c_str(), x->natts);
                for (int a = 0; a < x->natts; ++a) std::printf(" %hd", x->atts[a]);
                for (int a = 0; a < x->natts; ++a) {
                    int pos = x->atts[a];
                    std::printf(" %s", pos >= 0 && pos < t->ncols ? t->cols[pos]->cname.c_str() : "?");
                }
                std::printf("\n");
            }
        }
    }
}

void AddTableVar(const char *tname, const char *vname, std::uint32_t flag, int routine_idx)
{
    auto *v = new TableVars_t{tname, vname, flag, routine_idx, nullptr};
    if (last_table_var)
        last_table_var->nxt = v;
    else
        table_vars = v;
    last_table_var = v;
}

TableVars_t *FindTableVar(const char *vname, int routine_idx)
{
    for (TableVars_t *v = table_vars; v; v = v->nxt)
        if (v->routine_idx == routine_idx && std::strcmp(v->vname, vname) == 0) return v;
    return nullptr;
}
