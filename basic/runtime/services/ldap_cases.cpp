// The dispatcher cases of the directory intrinsics: every argument is a text, copied by its length
// into a closed text, and handed to the operation in argument order; the operation's status is the
// result. ILDAP_RPCADD and ILDAP_RPCMODIFY are the person add and modify with the responsible-person
// flag set.
#include <string>
#include <utility>
#include <vector>

#include "cases.h"
#include "intrinsics.h"
#include "directory.h"
#include "message.h"
#include "service_cases.h"

namespace {

using namespace intr;

// The arguments of one call as closed texts.
class Texts {
public:
    Texts(int nargs, int last, int wanted, const char *name)
    {
        if (nargs != wanted) Xerror(200, "%s called with wrong number of arguments (%d)", name, nargs);
        for (int i = 0; i < nargs; ++i) texts_.emplace_back(text(arg(nargs, last, i)));
    }
    const char *operator[](int i) const { return texts_[static_cast<std::size_t>(i)].c_str(); }

private:
    std::vector<std::string> texts_;
};

// The operation's arguments: every text of the call, in order.
template <class... Params, std::size_t... I>
int apply(int (*operation)(Params...), const Texts &t, std::index_sequence<I...>)
{
    return operation(t[I]...);
}

// A case whose operation takes the call's texts as its parameters, one each.
template <int Code, auto Operation> void texts_case(int nargs, int last, Stack *result)
{
    constexpr auto indices = []<class... Params>(int (*)(Params...)) {
        return std::index_sequence_for<Params...>{};
    }(Operation);
    const Texts t(nargs, last, static_cast<int>(indices.size()), inbuilt[Code].F_name);
    set_number(result, apply(Operation, t, indices));
}

// The person add and modify: the 17 texts, after the responsible-person flag.
template <int Code, int (*Operation)(int, const LdapPerson &), int Rpc> void person_case(int nargs, int last, Stack *result)
{
    const Texts t(nargs, last, 17, inbuilt[Code].F_name);
    const LdapPerson p{t[0], t[1], t[2],  t[3],  t[4],  t[5],  t[6],  t[7], t[8],
                       t[9], t[10], t[11], t[12], t[13], t[14], t[15], t[16]};
    set_number(result, Operation(Rpc, p));
}

template <int Code, int (*Operation)(const LdapOrganisation &)> void organisation_case(int nargs, int last, Stack *result)
{
    const Texts t(nargs, last, 15, inbuilt[Code].F_name);
    const LdapOrganisation o{t[0], t[1], t[2], t[3], t[4], t[5], t[6], t[7], t[8], t[9], t[10], t[11], t[12], t[13], t[14]};
    set_number(result, Operation(o));
}

constexpr IntrinsicRow rows[] = {
    {in_ILDAP_CERTADD, texts_case<in_ILDAP_CERTADD, oska_ldap_certadd>},
    {in_ILDAP_CERTDEL, texts_case<in_ILDAP_CERTDEL, oska_ldap_certdel>},
    {in_ILDAP_CHECKUSER, texts_case<in_ILDAP_CHECKUSER, oska_ldap_checkuser>},
    {in_ILDAP_IMAPACL, texts_case<in_ILDAP_IMAPACL, oska_ldap_imapacl>},
    {in_ILDAP_ORGADD, organisation_case<in_ILDAP_ORGADD, oska_ldap_orgadd>},
    {in_ILDAP_ORGDEL, texts_case<in_ILDAP_ORGDEL, oska_ldap_orgdel>},
    {in_ILDAP_ORGMODIFY, organisation_case<in_ILDAP_ORGMODIFY, oska_ldap_orgmodify>},
    {in_ILDAP_PHLINKADD, texts_case<in_ILDAP_PHLINKADD, oska_ldap_phlinkadd>},
    {in_ILDAP_PHLINKDEL, texts_case<in_ILDAP_PHLINKDEL, oska_ldap_phlinkdel>},
    {in_ILDAP_PROJALIASADD, texts_case<in_ILDAP_PROJALIASADD, oska_ldap_projaliasadd>},
    {in_ILDAP_PROJALIASDEL, texts_case<in_ILDAP_PROJALIASDEL, oska_ldap_projaliasdel>},
    {in_ILDAP_RESETPASSWD, texts_case<in_ILDAP_RESETPASSWD, oska_ldap_resetpasswd>},
    {in_ILDAP_RPCADD, person_case<in_ILDAP_RPCADD, oska_ldap_useradd, 1>},
    {in_ILDAP_RPCMODIFY, person_case<in_ILDAP_RPCMODIFY, oska_ldap_usermodify, 1>},
    {in_ILDAP_SETEMAIL, texts_case<in_ILDAP_SETEMAIL, oska_ldap_setemail>},
    {in_ILDAP_USERADD, person_case<in_ILDAP_USERADD, oska_ldap_useradd, 0>},
    {in_ILDAP_USERDEL, texts_case<in_ILDAP_USERDEL, oska_ldap_userdel>},
    {in_ILDAP_USERDISABLE, texts_case<in_ILDAP_USERDISABLE, oska_ldap_userdisable>},
    {in_ILDAP_USERID, texts_case<in_ILDAP_USERID, oska_ldap_userid>},
    {in_ILDAP_USERMODIFY, person_case<in_ILDAP_USERMODIFY, oska_ldap_usermodify, 0>},
    {in_ILDAP_VERIFYPASSWD, texts_case<in_ILDAP_VERIFYPASSWD, oska_ldap_verifypasswd>},
};

} // namespace

std::span<const IntrinsicRow> ldap_intrinsics() { return rows; }
