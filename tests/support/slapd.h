// A private OpenLDAP server for the tests of one test program, and the local group file the
// directory's person add reads. See tests/support/README.md.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

#include "test_server.h"

namespace lumba_test {

// slapd in the foreground on ldap://127.0.0.1:389/ with a generated slapd.conf and an mdb database
// in a new temporary directory: the schemas core, cosine, nis, inetorgperson and misc, the suffix
// dc=example,dc=test, the rootdn cn=admin,dc=example,dc=test with the password "Adm1n-Pw", and
// "allow bind_anon_dn" (the server itself takes an empty-password bind). Seeded with ldapadd: the
// base entry, ou=People, ou=Groups and the remote-desktop posixGroup cn=x2gousers,ou=Groups.
//
// Port 389 is fixed, so the test program must run in a network namespace of its own (the isolate
// runner); the constructor refuses to start anywhere else.
class Slapd {
public:
    static constexpr const char *SUFFIX = "dc=example,dc=test";
    static constexpr const char *ADMIN_DN = "cn=admin,dc=example,dc=test";
    static constexpr const char *PASSWORD = "Adm1n-Pw";
    static constexpr const char *URL = "ldap://127.0.0.1:389/";

    Slapd();   // writes the configuration, starts and seeds; throws std::runtime_error on failure
    ~Slapd();  // stops the server (only in the process that started it) and removes the directory
    Slapd(const Slapd &) = delete;
    Slapd &operator=(const Slapd &) = delete;

    // Ends the server by its process id and starts it again on the same database.
    void stop();
    void start();
    bool running() const { return server_.running(); }
    pid_t pid() const { return server_.pid(); }

    // The connection-information string of the directory intrinsics for this server:
    // "admin:Adm1n-Pw@127.0.0.1:389?dc=example,dc=test".
    static std::string ldapinfo();

    // ldapadd of LDIF text as the rootdn; throws with the tool's output when it fails.
    void add(const std::string &ldif) const;
    // ldapdelete of a DN as the rootdn; false when the server refused.
    bool remove(const std::string &dn) const;
    // ldapsearch -LLL (no line wrapping) as the rootdn: the LDIF text of the answer, "" when
    // nothing matches. scope: base, one, sub.
    std::string search(const std::string &base, const std::string &scope = "base",
                       const std::string &filter = "(objectClass=*)", const std::vector<std::string> &attrs = {}) const;
    // The values of attr (compared ignoring case, as the server names it) of the entry dn in the
    // order the server gives them, base64 values decoded; empty when the entry or attribute is absent.
    std::vector<std::string> values(const std::string &dn, const std::string &attr) const;
    bool exists(const std::string &dn) const;
    // The DNs ldapsearch finds one level under base, in the server's order.
    std::vector<std::string> children(const std::string &base) const;
    // ldapwhoami as dn with password: true when that simple bind succeeds.
    bool can_bind(const std::string &dn, const std::string &password) const;
    // What the server wrote on its standard error.
    std::string log() const;

private:
    std::string dir_;
    ServerProcess server_;
    pid_t owner_;  // only the process that started the server stops it
};

// The server of this test program: started on first use, stopped when the program ends.
Slapd &slapd();

// Makes /etc/group read as content (whole lines, "name:x:gid:members") for this process and every
// process it starts: a file of the test's own is bind-mounted over /etc/group in a mount namespace
// of the process's own, so the machine's file is never touched. A later call replaces the content.
// Throws std::runtime_error when the namespace or the mount cannot be had.
void set_group_file(const std::string &content);

} // namespace lumba_test
