// The list intrinsics: the dispatchers turn the handle into the list, keys and values into list
// arguments by their kinds, and hand them to the program-list operations.
#include <cstdint>

#include "applications.h"
#include "cases.h"
#include "ilist.h"
#include "mem_mgt.h"

namespace {

using namespace intr;

IList_t *list_of(int nargs, int last)
{
    return reinterpret_cast<IList_t *>(static_cast<std::intptr_t>(long_integer(arg(nargs, last, 0))));
}

IListArg list_arg(const Stack &e)
{
    if (is_number(e)) return {IListArg::Number, e.s_c.C_N, nullptr, 0};
    if (is_text(e)) {
        std::string_view t = text(e);
        return {IListArg::Text, nullptr, t.data(), static_cast<int>(t.size())};
    }
    return {IListArg::Other, nullptr, nullptr, 0};
}

IListArg list_arg(int nargs, int last, int i) { return list_arg(arg(nargs, last, i)); }
int int_arg(int nargs, int last, int i) { return integer(arg(nargs, last, i)); }
std::string_view text_arg(int nargs, int last, int i) { return text(arg(nargs, last, i)); }
int length_of(std::string_view t) { return static_cast<int>(t.size()); }

void ILIST_DECLARE_case(int nargs, int last, Stack *result)
{
    std::string_view type = text_arg(nargs, last, 0);
    IList_t *list = intr_ilist_declare(type.data(), length_of(type));
    set_number(result, reinterpret_cast<long>(list));
}

void ILIST_ADD_case(int nargs, int last, Stack *result)
{
    intr_ilist_add(list_of(nargs, last), list_arg(nargs, last, 1));
    set_number(result, 0);
}

void ILIST_INSERT_case(int nargs, int last, Stack *result)
{
    intr_ilist_insert(list_of(nargs, last), int_arg(nargs, last, 1), list_arg(nargs, last, 2));
    set_number(result, 0);
}

void ILIST_SET_case(int nargs, int last, Stack *result)
{
    intr_ilist_set(list_of(nargs, last), list_arg(nargs, last, 1), list_arg(nargs, last, 2));
    set_number(result, 0);
}

void ILIST_SETTEXT_case(int nargs, int last, Stack *result)
{
    const char *field = reference_bytes(arg(nargs, last, 2), "ILIST_SETTEXT");
    intr_ilist_settext(list_of(nargs, last), list_arg(nargs, last, 1), field);
    set_number(result, 0);
}

void ILIST_EXTEXT_case(int nargs, int last, Stack *result)
{
    const char *field = reference_bytes(arg(nargs, last, 1), "ILIST_EXTEXT");
    intr_ilist_extext(list_of(nargs, last), field);
    set_number(result, 0);
}

// The element's text goes into a new block that the third argument's text field takes over; the
// block it held before is released, as a store into the variable would.
void ILIST_TOTEXT_case(int nargs, int last, Stack *result)
{
    char *field = reference_field(arg(nargs, last, 2), "ILIST_TOTEXT");
    intr_ilist_totext(list_of(nargs, last), list_arg(nargs, last, 1), field);
    set_number(result, 0);
}

void ILIST_IFETCH_case(int nargs, int last, Stack *result)
{
    set_number(result, static_cast<long>(intr_ilist_ifetch(list_of(nargs, last), list_arg(nargs, last, 1))));
}

void ILIST_NFETCH_case(int nargs, int last, Stack *result)
{
    intr_ilist_nfetch(list_of(nargs, last), list_arg(nargs, last, 1), &result->num);
}

void ILIST_DELETE_case(int nargs, int last, Stack *result)
{
    intr_ilist_delete(list_of(nargs, last), int_arg(nargs, last, 1));
    set_number(result, 0);
}

void ILIST_DESTROY_case(int nargs, int last, Stack *result)
{
    intr_ilist_destroy(list_of(nargs, last));
    set_number(result, 0);
}

void ILIST_CLEAR_case(int nargs, int last, Stack *result) { set_number(result, intr_ilist_clear(list_of(nargs, last))); }
void ILIST_LENGTH_case(int nargs, int last, Stack *result) { set_number(result, intr_ilist_length(list_of(nargs, last))); }

void ILIST_GETINDEX_case(int nargs, int last, Stack *result)
{
    std::string_view name = text_arg(nargs, last, 1);
    set_number(result, intr_ilist_getindex(list_of(nargs, last), name.data(), length_of(name)));
}

void ILIST_GETINDEX_AFTER_case(int nargs, int last, Stack *result)
{
    std::string_view name = text_arg(nargs, last, 1);
    const long start = long_integer(arg(nargs, last, 2));
    set_number(result, intr_ilist_getindex_after(list_of(nargs, last), name.data(), length_of(name), start));
}

void ILIST_SSEARCH_case(int nargs, int last, Stack *result)
{
    std::string_view t = text_arg(nargs, last, 1);
    const long compare = long_integer(arg(nargs, last, 2));
    set_number(result, intr_ilist_ssearch(list_of(nargs, last), t.data(), length_of(t), compare));
}

void ILIST_SETNAME_case(int nargs, int last, Stack *result)
{
    std::string_view name = text_arg(nargs, last, 2);
    set_number(result, intr_ilist_setname(list_of(nargs, last), int_arg(nargs, last, 1), name.data(), length_of(name)));
}

void ILIST_SORT_case(int nargs, int last, Stack *)
{
    intr_ilist_sort(list_of(nargs, last), nargs > 1 ? int_arg(nargs, last, 1) : 0);
}

void ILIST_CDUMP_case(int nargs, int last, Stack *result)
{
    intr_ilist_cdump(list_of(nargs, last));
    set_number(result, 0);
}

void ILIST_CDUMPALL_case(int nargs, int last, Stack *result)
{
    intr_ilist_cdumpall(int_arg(nargs, last, 0));
    set_number(result, 0);
}

void ILIST_FETCHNAME_case(int nargs, int last, Stack *result)
{
    set_text(result, intr_ilist_fetchname(list_of(nargs, last), int_arg(nargs, last, 1)));
}

void ILIST_SFETCH_case(int nargs, int last, Stack *result)
{
    set_text(result, intr_ilist_sfetch(list_of(nargs, last), list_arg(nargs, last, 1)));
}

void ILIST_TYPE_case(int nargs, int last, Stack *result) { set_text(result, intr_ilist_type(list_of(nargs, last))); }

constexpr IntrinsicRow rows[] = {
    {in_ILIST_DECLARE, ILIST_DECLARE_case, exactly(1)},
    {in_ILIST_ADD, ILIST_ADD_case, exactly(2)},
    {in_ILIST_INSERT, ILIST_INSERT_case, exactly(3)},
    {in_ILIST_SET, ILIST_SET_case, exactly(3)},
    {in_ILIST_SETTEXT, ILIST_SETTEXT_case, exactly(3)},
    {in_ILIST_EXTEXT, ILIST_EXTEXT_case, exactly(2)},
    {in_ILIST_TOTEXT, ILIST_TOTEXT_case, exactly(3)},
    {in_ILIST_IFETCH, ILIST_IFETCH_case, exactly(2)},
    {in_ILIST_NFETCH, ILIST_NFETCH_case, exactly(2)},
    {in_ILIST_DELETE, ILIST_DELETE_case, exactly(2)},
    {in_ILIST_DESTROY, ILIST_DESTROY_case, exactly(1)},
    {in_ILIST_CLEAR, ILIST_CLEAR_case, exactly(1)},
    {in_ILIST_LENGTH, ILIST_LENGTH_case, exactly(1)},
    {in_ILIST_GETINDEX, ILIST_GETINDEX_case, exactly(2)},
    {in_ILIST_GETINDEX_AFTER, ILIST_GETINDEX_AFTER_case, exactly(3)},
    {in_ILIST_SSEARCH, ILIST_SSEARCH_case, exactly(3)},
    {in_ILIST_SETNAME, ILIST_SETNAME_case, exactly(3)},
    {in_ILIST_SORT, ILIST_SORT_case, between(1, 2)},
    {in_ILIST_CDUMP, ILIST_CDUMP_case, exactly(1)},
    {in_ILIST_CDUMPALL, ILIST_CDUMPALL_case, exactly(1)},
    {in_ILIST_FETCHNAME, ILIST_FETCHNAME_case, exactly(2)},
    {in_ILIST_SFETCH, ILIST_SFETCH_case, exactly(2)},
    {in_ILIST_TYPE, ILIST_TYPE_case, exactly(1)},
};

} // namespace

std::span<const IntrinsicRow> list_intrinsics() { return rows; }
