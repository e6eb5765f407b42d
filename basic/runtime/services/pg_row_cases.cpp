// The dispatcher cases of the structure-to-row intrinsics (IPQFETCH, IPQSTORE, IPQUPDATE,
// IPQINSERT, IPQPARTIALSTORE, IPQCSVOUT$), and the structure variables they are given.
//
// A fetch loop names the same structure for every row, so a structure's symbol is searched for
// once per routine and address and then kept; the core tells us when an application's memory goes,
// and its structures are forgotten with it before their addresses can be reused.
#include <string>
#include <unordered_map>
#include <variant>

#include "applications.h"
#include "cases.h"
#include "intrinsics.h"
#include "message.h"
#include "pg_rows.h"
#include "service_cases.h"
#include "sql.h"
#include "structops.h"
#include "symtab.h"

namespace {

using namespace intr;

struct Place {
    Address routine;
    Address record;
    bool operator==(const Place &) const = default;
};
struct PlaceHash {
    std::size_t operator()(const Place &p) const
    {
        return std::hash<Address>()(p.routine) ^ (std::hash<Address>()(p.record) * 31);
    }
};
std::unordered_map<Place, Symbol *, PlaceHash> structures;

void need(int nargs, int wanted, int code)
{
    if (nargs != wanted) Xerror(200, "%s called with wrong number of arguments (%d)", inbuilt[code].F_name, nargs);
}

std::uint16_t handle(int nargs, int last, int i)
{
    return static_cast<std::uint16_t>(static_cast<unsigned>(integer(arg(nargs, last, i))));
}

// IPQFETCH, IPQSTORE, IPQUPDATE and IPQINSERT: a handle and a structure.
void row_case(int nargs, int last, Stack *result, int code)
{
    need(nargs, 2, code);
    const PgStructure s = pg_structure(arg(nargs, last, 1));
    const std::uint16_t h = handle(nargs, last, 0);
    const OskaTable_t &table = *s.table;
    int value = 0;
    switch (code) {
    case in_IPQFETCH: value = OskaPgFetchX(h, table, s.record); break;
    case in_IPQSTORE: value = OskaPgStoreX(h, table, s.record); break;
    case in_IPQUPDATE: value = OskaPgiuX(h, 1, table, s.record); break;
    default: value = OskaPgiuX(h, 0, table, s.record); break;
    }
    // Each answers 1 or 0, and a fetch loop asks for every row: the two numbers are made once.
    static const dec_t answers[2] = {[] { dec_t d; NumericCvINT(0, &d); return d; }(),
                                     [] { dec_t d; NumericCvINT(1, &d); return d; }()};
    result->num = answers[value != 0];
}

void IPQFETCH_case(int n, int l, Stack *r) { row_case(n, l, r, in_IPQFETCH); }
void IPQSTORE_case(int n, int l, Stack *r) { row_case(n, l, r, in_IPQSTORE); }
void IPQUPDATE_case(int n, int l, Stack *r) { row_case(n, l, r, in_IPQUPDATE); }
void IPQINSERT_case(int n, int l, Stack *r) { row_case(n, l, r, in_IPQINSERT); }

void IPQPARTIALSTORE_case(int nargs, int last, Stack *result)
{
    need(nargs, 3, in_IPQPARTIALSTORE);
    const PgStructure s = pg_structure(arg(nargs, last, 2));
    const std::string target(text(arg(nargs, last, 1)));
    set_number(result, OskaPgPartialStoreX(handle(nargs, last, 0), target.c_str(), *s.table, s.record));
}

void IPQCSVOUT_case(int nargs, int last, Stack *result)
{
    need(nargs, 2, in_IPQCSVOUT);
    const PgStructure s = pg_structure(arg(nargs, last, 1));
    OskaPgcsvX(handle(nargs, last, 0), *s.table, s.record, result);
}

constexpr IntrinsicRow rows[] = {
    {in_IPQFETCH, IPQFETCH_case},
    {in_IPQSTORE, IPQSTORE_case},
    {in_IPQUPDATE, IPQUPDATE_case},
    {in_IPQINSERT, IPQINSERT_case},
    {in_IPQPARTIALSTORE, IPQPARTIALSTORE_case},
    {in_IPQCSVOUT, IPQCSVOUT_case},
};

} // namespace

PgStructure pg_structure(const Stack &entry)
{
    const Place place{entry.params[0], reinterpret_cast<Address>(entry.s_c.C_P)};
    const auto found = structures.find(place);
    const StructureArg s = structure_argument(entry, found != structures.end() ? found->second : nullptr);
    structures[place] = s.symbol;
    return {s.record, s.symbol, s.table};
}

void pg_forget_structures(const AppMemory_t *mem)
{
    if (!mem || !mem->routines) return;
    const auto first = reinterpret_cast<Address>(mem->routines);
    const auto end = reinterpret_cast<Address>(mem->routines + MAX_ROUTINES);
    std::erase_if(structures, [&](const auto &kept) { return kept.first.routine >= first && kept.first.routine < end; });
}

std::size_t pg_kept_structures()
{
    return structures.size();
}

std::span<const IntrinsicRow> pg_row_intrinsics() { return rows; }
