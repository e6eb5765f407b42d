// The connection and result handle tables: slot allocation from a free list, release and lookup.
//
// A table's size (the number a handle must stay below) grows by two entries at a time, as
// programs have always seen it; the storage behind it grows geometrically, so issuing handle
// after handle costs O(1) and never copies the table on every second allocation.
#include <cstdlib>
#include <cstring>

#include "applications.h"
#include "interp.h"
#include "mem_mgt.h"
#include "message.h"
#include "pg.h"
#include "sql.h"

PgConnEntry *contab;
std::uint16_t pgctabsize;
PgResEntry *restab;
std::uint16_t pgrestabsize;

namespace {

constexpr unsigned GROWTH = 2;
constexpr unsigned MOST_ENTRIES = 0xFFFF;  // the size is a 16-bit number
std::size_t contab_room, restab_room;      // entries allocated behind each table

template <class Entry> int alloc_slot(Entry *&table, std::uint16_t &size, std::size_t &room, const char *failure)
{
    if (!table) {
        room = 8;
        table = static_cast<Entry *>(DpsXmalloc(room * sizeof(Entry)));
        if (!table) Abort("%s", failure);
        std::memset(table, 0, sizeof(Entry));
        size = 1;
    }
    if (table[0].next_free == 0) {
        const unsigned old = size;
        if (old + GROWTH > MOST_ENTRIES) Abort("%s", failure);  // a wrapped size would reissue handles
        if (old + GROWTH > room) {
            const std::size_t wanted = std::min<std::size_t>(room * 2, MOST_ENTRIES);
            table = static_cast<Entry *>(DpsRealloc(table, wanted * sizeof(Entry)));
            if (!table) Abort("%s", failure);
            room = wanted;
        }
        for (unsigned i = old; i < old + GROWTH; ++i) {
            std::memset(&table[i], 0, sizeof(Entry));
            table[i].next_free = i + 1;
        }
        table[old + GROWTH - 1].next_free = 0;
        table[0].next_free = old;
        size = static_cast<std::uint16_t>(old + GROWTH);
    }
    const std::uint32_t slot = table[0].next_free;
    table[0].next_free = table[slot].next_free;
    table[slot].next_free = 0;
    return static_cast<int>(slot);
}

template <class Entry> void release_slot(Entry *table, std::uint16_t size, std::uint16_t slot)
{
    if (!table || slot == 0 || slot >= size) return;
    table[slot].next_free = table[0].next_free;
    table[0].next_free = slot;
}

} // namespace

PGconn *hdlgetconn(std::uint16_t handle)
{
    return handle == 0 || handle >= pgctabsize ? nullptr : contab[handle].conn;
}

PgResEntry *reshdlgetent(std::uint16_t handle)
{
    return handle == 0 || handle >= pgrestabsize ? nullptr : &restab[handle];
}

int conngethdl(const PGconn *conn)
{
    if (!conn) return 0;
    for (unsigned i = 1; i < pgctabsize; ++i)
        if (contab[i].conn == conn) return static_cast<int>(i);
    return 0;
}

int allocconn(PGconn *conn)
{
    const int slot = alloc_slot(contab, pgctabsize, contab_room, "allocconn(): Could not allocate memory");
    contab[slot].conn = conn;
    return slot;
}

int allocreshdl(PGresult *res)
{
    const int slot = alloc_slot(restab, pgrestabsize, restab_room, "allocreshhdl: Could not allocate memory");
    restab[slot].res = res;
    restab[slot].row_cursor = 0;
    return slot;
}

int allocreshdl_for(PGresult *res, const char *sql)
{
    const int slot = allocreshdl(res);
    restab[slot].sql = sql ? Strcpy(sql) : nullptr;
    restab[slot].routine = copy_cur_routine_aname();
    return slot;
}

void releaseconn(std::uint16_t handle)
{
    if (handle == 0 || handle >= pgctabsize) return;
    contab[handle].conn = nullptr;
    release_slot(contab, pgctabsize, handle);
}

void releasereshdl(std::uint16_t handle)
{
    if (handle == 0 || handle >= pgrestabsize) return;
    restab[handle].res = nullptr;
    restab[handle].row_cursor = 0;
    release_slot(restab, pgrestabsize, handle);
}

OskaIdx_t *tblgetpk(const OskaTable_t *table)
{
    return table && table->nidx > 0 ? table->idxes[0].get() : nullptr;
}

// Storage of the tables, for the exit clean-up.
void pg_free_tables_storage(bool connections)
{
    if (connections) {
        std::free(contab);
        contab = nullptr;
        pgctabsize = 0;
        contab_room = 0;
    } else {
        std::free(restab);
        restab = nullptr;
        pgrestabsize = 0;
        restab_room = 0;
    }
}
