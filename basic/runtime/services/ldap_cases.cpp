// The dispatcher cases of the directory intrinsics: every argument is a text, copied by its length
// into a closed text, and handed to the operation in argument order; the operation's status is the
// result. ILDAP_RPCADD and ILDAP_RPCMODIFY are the person add and modify with the responsible-person
// flag set.
#include <string>
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

LdapPerson person(const Texts &t)
{
    return {t[0], t[1], t[2], t[3], t[4], t[5], t[6], t[7], t[8], t[9], t[10], t[11], t[12], t[13], t[14], t[15], t[16]};
}

LdapOrganisation organisation(const Texts &t)
{
    return {t[0], t[1], t[2], t[3], t[4], t[5], t[6], t[7], t[8], t[9], t[10], t[11], t[12], t[13], t[14]};
}

void ILDAP_CHECKUSER_case(int n, int l, Stack *r)
{
    const Texts t(n, l, 2, "ILDAP_CHECKUSER");
    set_number(r, oska_ldap_checkuser(t[0], t[1]));
}

void ILDAP_USERID_case(int n, int l, Stack *r)
{
    const Texts t(n, l, 2, "ILDAP_USERID");
    set_number(r, oska_ldap_userid(t[0], t[1]));
}

void ILDAP_IMAPACL_case(int n, int l, Stack *r)
{
    const Texts t(n, l, 3, "ILDAP_IMAPACL");
    set_number(r, oska_ldap_imapacl(t[0], t[1], t[2]));
}

void ILDAP_SETEMAIL_case(int n, int l, Stack *r)
{
    const Texts t(n, l, 3, "ILDAP_SETEMAIL");
    set_number(r, oska_ldap_setemail(t[0], t[1], t[2]));
}

void ILDAP_USERADD_case(int n, int l, Stack *r) { set_number(r, oska_ldap_useradd(0, person(Texts(n, l, 17, "ILDAP_USERADD")))); }
void ILDAP_RPCADD_case(int n, int l, Stack *r) { set_number(r, oska_ldap_useradd(1, person(Texts(n, l, 17, "ILDAP_RPCADD")))); }
void ILDAP_USERMODIFY_case(int n, int l, Stack *r)
{
    set_number(r, oska_ldap_usermodify(0, person(Texts(n, l, 17, "ILDAP_USERMODIFY"))));
}
void ILDAP_RPCMODIFY_case(int n, int l, Stack *r)
{
    set_number(r, oska_ldap_usermodify(1, person(Texts(n, l, 17, "ILDAP_RPCMODIFY"))));
}

void ILDAP_RESETPASSWD_case(int n, int l, Stack *r)
{
    const Texts t(n, l, 3, "ILDAP_RESETPASSWD");
    set_number(r, oska_ldap_resetpasswd(t[0], t[1], t[2]));
}

void ILDAP_USERDISABLE_case(int n, int l, Stack *r)
{
    const Texts t(n, l, 2, "ILDAP_USERDISABLE");
    set_number(r, oska_ldap_userdisable(t[0], t[1]));
}

void ILDAP_USERDEL_case(int n, int l, Stack *r)
{
    const Texts t(n, l, 2, "ILDAP_USERDEL");
    set_number(r, oska_ldap_userdel(t[0], t[1]));
}

void ILDAP_VERIFYPASSWD_case(int n, int l, Stack *r)
{
    const Texts t(n, l, 3, "ILDAP_VERIFYPASSWD");
    set_number(r, oska_ldap_verifypasswd(t[0], t[1], t[2]));
}

void ILDAP_ORGADD_case(int n, int l, Stack *r) { set_number(r, oska_ldap_orgadd(organisation(Texts(n, l, 15, "ILDAP_ORGADD")))); }
void ILDAP_ORGMODIFY_case(int n, int l, Stack *r)
{
    set_number(r, oska_ldap_orgmodify(organisation(Texts(n, l, 15, "ILDAP_ORGMODIFY"))));
}

void ILDAP_ORGDEL_case(int n, int l, Stack *r)
{
    const Texts t(n, l, 2, "ILDAP_ORGDEL");
    set_number(r, oska_ldap_orgdel(t[0], t[1]));
}

void ILDAP_PROJALIASADD_case(int n, int l, Stack *r)
{
    const Texts t(n, l, 6, "ILDAP_PROJALIASADD");
    set_number(r, oska_ldap_projaliasadd(t[0], t[1], t[2], t[3], t[4], t[5]));
}

void ILDAP_PROJALIASDEL_case(int n, int l, Stack *r)
{
    const Texts t(n, l, 3, "ILDAP_PROJALIASDEL");
    set_number(r, oska_ldap_projaliasdel(t[0], t[1], t[2]));
}

void ILDAP_PHLINKADD_case(int n, int l, Stack *r)
{
    const Texts t(n, l, 3, "ILDAP_PHLINKADD");
    set_number(r, oska_ldap_phlinkadd(t[0], t[1], t[2]));
}

void ILDAP_PHLINKDEL_case(int n, int l, Stack *r)
{
    const Texts t(n, l, 2, "ILDAP_PHLINKDEL");
    set_number(r, oska_ldap_phlinkdel(t[0], t[1]));
}

void ILDAP_CERTADD_case(int n, int l, Stack *r)
{
    const Texts t(n, l, 7, "ILDAP_CERTADD");
    set_number(r, oska_ldap_certadd(t[0], t[1], t[2], t[3], t[4], t[5], t[6]));
}

void ILDAP_CERTDEL_case(int n, int l, Stack *r)
{
    const Texts t(n, l, 2, "ILDAP_CERTDEL");
    set_number(r, oska_ldap_certdel(t[0], t[1]));
}

constexpr IntrinsicCase<NumericIntrinsic> numeric[] = {
    {in_ILDAP_CERTADD, ILDAP_CERTADD_case},
    {in_ILDAP_CERTDEL, ILDAP_CERTDEL_case},
    {in_ILDAP_CHECKUSER, ILDAP_CHECKUSER_case},
    {in_ILDAP_IMAPACL, ILDAP_IMAPACL_case},
    {in_ILDAP_ORGADD, ILDAP_ORGADD_case},
    {in_ILDAP_ORGDEL, ILDAP_ORGDEL_case},
    {in_ILDAP_ORGMODIFY, ILDAP_ORGMODIFY_case},
    {in_ILDAP_PHLINKADD, ILDAP_PHLINKADD_case},
    {in_ILDAP_PHLINKDEL, ILDAP_PHLINKDEL_case},
    {in_ILDAP_PROJALIASADD, ILDAP_PROJALIASADD_case},
    {in_ILDAP_PROJALIASDEL, ILDAP_PROJALIASDEL_case},
    {in_ILDAP_RESETPASSWD, ILDAP_RESETPASSWD_case},
    {in_ILDAP_RPCADD, ILDAP_RPCADD_case},
    {in_ILDAP_RPCMODIFY, ILDAP_RPCMODIFY_case},
    {in_ILDAP_SETEMAIL, ILDAP_SETEMAIL_case},
    {in_ILDAP_USERADD, ILDAP_USERADD_case},
    {in_ILDAP_USERDEL, ILDAP_USERDEL_case},
    {in_ILDAP_USERDISABLE, ILDAP_USERDISABLE_case},
    {in_ILDAP_USERID, ILDAP_USERID_case},
    {in_ILDAP_USERMODIFY, ILDAP_USERMODIFY_case},
    {in_ILDAP_VERIFYPASSWD, ILDAP_VERIFYPASSWD_case},
};

} // namespace

ServiceCases ldap_cases() { return {numeric, {}, {}}; }
