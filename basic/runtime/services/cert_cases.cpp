// The dispatcher cases of the certificate API intrinsics: list handles come as numbers, the
// request's HTTP status becomes the numeric result.
#include <string>

#include "cases.h"
#include "cert_api.h"
#include "ilist.h"
#include "message.h"
#include "service_cases.h"

namespace {

using namespace intr;

IList_t *list_arg(int nargs, int last, int i)
{
    return reinterpret_cast<IList_t *>(static_cast<std::intptr_t>(long_integer(arg(nargs, last, i))));
}

void set_status(Stack *result, int status) { NumericCvINT(status, &result->num); }

void ICERT_APPROVE_case(int nargs, int last, Stack *result)
{
    if (nargs != 1) Abort("icert_approve: Wrong Argument Count!");
    set_status(result, cert_approve(list_arg(nargs, last, 0)));
}

// The DN, status and certificate lists are the first three arguments and the type, when given,
// the fourth, as the intrinsic's signature has them. A type that is no text is no type word.
void ICERT_LIST_case(int nargs, int last, Stack *result)
{
    if (nargs != 3 && nargs != 4) Abort("icert_list: Wrong Argument Count!");
    std::string type;
    if (nargs == 4 && is_text(arg(nargs, last, 3))) type = text(arg(nargs, last, 3));
    set_status(result, cert_list(list_arg(nargs, last, 0), list_arg(nargs, last, 1), list_arg(nargs, last, 2),
                                 nargs == 4 ? type.c_str() : nullptr));
}

void reject_revoke(int nargs, int last, Stack *result, int reject)
{
    if (nargs != 2) Abort("icert_%s: Wrong Argument Count!", reject ? "reject" : "revoke");
    set_status(result, cert_reject_revoke(list_arg(nargs, last, 0), list_arg(nargs, last, 1), reject));
}

void ICERT_REJECT_case(int nargs, int last, Stack *result) { reject_revoke(nargs, last, result, 1); }
void ICERT_REVOKE_case(int nargs, int last, Stack *result) { reject_revoke(nargs, last, result, 0); }

constexpr IntrinsicRow rows[] = {
    {in_ICERT_APPROVE, ICERT_APPROVE_case},
    {in_ICERT_LIST, ICERT_LIST_case},
    {in_ICERT_REJECT, ICERT_REJECT_case},
    {in_ICERT_REVOKE, ICERT_REVOKE_case},
};

} // namespace

std::span<const IntrinsicRow> cert_intrinsics() { return rows; }
