// The certificate API client's world for a test program run by `isolate` (private mount and
// network namespaces): a throw-away PKI and site data tree (make_pki.sh) bind-mounted over the
// site data root, the built-in server host mapped to 127.0.0.1 in the private hosts file, and a
// scripted TLS server (tls_stub.py) on 127.0.0.1:443.
#pragma once

#include <string>
#include <sys/types.h>

#include "test_server.h"

namespace lumba_test {

// The contract number of the test site's client certificate.
inline constexpr int TEST_CONTRACT = 4711;

// Made on first use for the whole test program and removed when it ends. Refuses (the test fails
// with a message) when the program does not run in a private network namespace, so that the
// machine's own data root and hosts file are never touched.
class CertApiSite {
public:
    static CertApiSite &get();
    // A file of the PKI: "ca.crt", "server.key", ...
    std::string pki(const std::string &name) const { return dir_ + "/pki/" + name; }
    // A file of the data tree (mounted over the data root), e.g. "site/common_database".
    std::string data(const std::string &name) const { return dir_ + "/data/" + name; }

    CertApiSite(const CertApiSite &) = delete;
    CertApiSite &operator=(const CertApiSite &) = delete;

private:
    CertApiSite();
    ~CertApiSite();
    std::string dir_;
};

// The scripted server: presents the PKI's certificate `certificate` ("server", "revoked",
// "wrong-name"), requires a client certificate signed by `client_ca` ("ca", or "other-ca" to
// refuse the client). Started by the constructor (which waits until it listens), ended by the
// destructor.
class TlsStub {
public:
    explicit TlsStub(const std::string &certificate = "server", const std::string &client_ca = "ca");
    ~TlsStub();
    TlsStub(const TlsStub &) = delete;
    TlsStub &operator=(const TlsStub &) = delete;

    // The bytes every following connection is answered with (nothing at all for "").
    void respond(const std::string &bytes);
    // Whether every following connection ends without a TLS close_notify (the TCP stream just
    // stops after the answer), as a server that drops the connection does.
    void end_abruptly(bool abrupt);
    // From the next connection on, after the answer: keep the connection open, sending nothing
    // more, until the client goes (true), or close it (false, the default).
    void hold(bool on);
    // The raw bytes of the last request received, "" when none was; forget() clears it.
    std::string request() const;
    void forget();

private:
    void set_flag(const char *name, bool on);
    std::string dir_;
    ServerProcess server_;
};

} // namespace lumba_test
