// Hand-written object-file sections shared by the section-reader tests, and small helpers.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

#include "sql.h"

namespace fixtures {

// A routine with a numeric, a string, a structure-on-table and a based-structure symbol.
inline const std::string symtab_sub1 =
    "__ROUTINE__ sub1 4\n"
    "COUNT 0 0 0x12 3 1 -\n"
    "NAME$ 20 0 0x14 7 2 -\n"
    "CUST 0 0 0x200010 0 3 customer\n"
    "BREC 0 0 0x200810 0 4 customer\n"
    "__END_ROUTINE__\n";

inline const std::string inclv_two =
    "__INCL_VERS__ 2\n"
    "common.inc => 2.3\n"
    "forms.inc => 2.3\n";

inline const std::string loaded_three =
    "__LOADED_FILES__ 3\n"
    "main.src\n"
    "lib/util.src\n"
    "forms.src\n";

// Columns: char(10) with a default, numeric with a constraint, text, serial, timestamp with
// time zone (insert stamp), varchar time-zone column (update stamp), date with no stamp prefix.
// Offsets follow the layout rule; record size 171.
inline const std::string sql_customer =
    "__SQL_TABLES__ 1\n"
    "T:customer 2 7 0 171\n"
    "C:code 2 10 0 0 7 0\n"
    "'none'\n"
    "C:amount 4 12 2 22 0 19\n"
    "CHECK (amount >= 0)\n"
    "C:note 5 0 0 48 0 0\n"
    "C:id 12 0 0 66 0 0\n"
    "C:AUTO_I_created 8 0 0 88 0 0\n"
    "C:AUTO_U_stamp_TZ 3 40 0 119 0 0\n"
    "C:AUTO_X_when 1 0 0 160 0 0\n"
    "I:customer_pk 1\n"
    "3\n"
    "I:by_code 2\n"
    "0\n"
    "1\n";

// A registry owned by a test.
struct Registry {
    OskaTable_t *tables[NH_OSKATABLES] = {};
    Registry() = default;
    Registry(const Registry &) = delete;
    ~Registry() { DelAllOskaTables(tables); }
    int count() const
    {
        int n = 0;
        for (const OskaTable_t *b : tables)
            for (const OskaTable_t *t = b; t; t = t->nxt) ++n;
        return n;
    }
};

// What a function writes to a stream.
template <class F> std::string stream_text(F &&write)
{
    char *buf = nullptr;
    std::size_t len = 0;
    std::FILE *f = open_memstream(&buf, &len);
    write(f);
    std::fclose(f);
    std::string text(buf, len);
    std::free(buf);
    return text;
}

// Every field of every table, in bucket and chain order.
inline std::string describe(OskaTable_t *const *tables)
{
    std::string out;
    char line[512];
    for (int b = 0; b < NH_OSKATABLES; ++b) {
        for (const OskaTable_t *t = tables[b]; t; t = t->nxt) {
            std::snprintf(line, sizeof line, "T %s v%d c%d i%d s%d\n", t->tname.c_str(), t->vtable, t->ncols, t->nidx,
                          t->tsize);
            out += line;
            for (int i = 0; i < t->ncols; ++i) {
                const OskaCol_t *c = t->cols[i].get();
                std::snprintf(line, sizeof line, " C %s %s %d %d @%d f%u d[%s] k[%s]\n", c->cname.c_str(),
                              ct_string(c->type), c->storage_A, c->storage_B, c->offset, c->cflags,
                              c->defaults ? c->defaults->c_str() : "-", c->constraints ? c->constraints->c_str() : "-");
                out += line;
            }
            for (int i = 0; i < t->nidx; ++i) {
                const OskaIdx_t *x = t->idxes[i].get();
                out += " I " + x->iname;
                for (int a = 0; a < x->natts; ++a) out += " " + std::to_string(x->atts[a]);
                out += "\n";
            }
        }
    }
    return out;
}

} // namespace fixtures
