// ISBRXMLPARSE (file name, structure variable): the document's six lists into the structure's six
// numeric(20,0) columns, in list order, the lists tracked with the current application.
#include "sbr_case.h"

#include <cstdint>
#include <cstring>
#include <string>

#include "applications.h"
#include "axml.h"
#include "cases.h"
#include "ilist.h"
#include "message.h"
#include "numerics.h"
#include "read_error.h"
#include "sql.h"
#include "structops.h"

namespace {

// Digits a column must hold: a handle is a 64-bit address.
constexpr int HANDLE_DIGITS = 20;

// The structure must take six handles; checked after the parse, whose own failures come first.
void check_columns(const OskaTable_t &table)
{
    const char *name = table.tname.c_str();
    if (table.ncols != SBR_LISTS)
        Abort("Struct for ISBRXMLPARSE must contain 6 numeric columns, while %s has %d columns", name, table.ncols);
    for (int i = 0; i < SBR_LISTS; ++i) {
        const OskaCol_t &column = *table.cols[i];
        if (column.type != ct_numeric) Abort("Column %s of %s must be of numeric(20,0) type", column.cname.c_str(), name);
        if (column.storage_A < HANDLE_DIGITS)
            Abort("Column %s of %s must be at least numeric(20,0)", column.cname.c_str(), name);
    }
}

} // namespace

void isbrxmlparse(int nargs, int last, Stack *result)
{
    using namespace intr;
    if (nargs != 2) Xerror(200, "%s called with wrong number of arguments (%d)", "ISBRXMLPARSE", nargs);
    const std::string file(text(arg(nargs, last, 0)));
    SbrResult_t lists{};
    // A document the import refuses stops the run with its text; the import has freed its lists.
    stop_on(sbr_xml_parse(file.c_str(), lists));
    // The lists are the program's only once they are in its structure.
    struct Owner {
        SbrResult_t &lists;
        ~Owner() { sbr_result_free(lists); }
    } owner{lists};
    const StructureArg s = structure_argument(arg(nargs, last, 1));
    check_columns(*s.table);

    for (int i = 0; i < SBR_LISTS; ++i) {
        dec_t handle;
        NumericCvLONG(static_cast<long>(reinterpret_cast<std::uintptr_t>(lists.lists[i])), &handle);
        std::memcpy(s.record + s.table->cols[i]->offset, &handle, sizeof handle);
        if (current_application && current_application->app)
            AppIlistAdd(current_application->app, APP_HANDLE_ILIST, reinterpret_cast<std::uintptr_t>(lists.lists[i]),
                        current_application->name, src_line_number, src_file_index);
        lists.lists[i] = nullptr;
    }
    set_number(result, 1);
}
