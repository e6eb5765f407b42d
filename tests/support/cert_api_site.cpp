#include "cert_api_site.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <sys/mount.h>
#include <unistd.h>

#include <glib.h>

#include "run_time.h"

namespace lumba_test {

CertApiSite &CertApiSite::get()
{
    static CertApiSite site;
    return site;
}

CertApiSite::CertApiSite()
{
    if (!only_loopback())
        throw std::runtime_error("the certificate API tests must run in private namespaces (the isolate runner)");
    dir_ = temporary_dir("lumba-cert-api-XXXXXX");
    const std::string contract = std::to_string(TEST_CONTRACT);
    const ToolOutput o = run_tool({LUMBA_TEST_SUPPORT_DIR "/make_pki.sh", dir_, CERT_API_HOST, contract});
    if (!o.ok) throw std::runtime_error("make_pki.sh failed: " + o.err);
    if (g_mkdir_with_parents(OSKADATA_ROOT, 0755) != 0 ||
        mount(data("").c_str(), OSKADATA_ROOT, nullptr, MS_BIND, nullptr) != 0)
        throw std::runtime_error(std::string("cannot mount the test data tree: ") + std::strerror(errno));
    std::ofstream("/etc/hosts", std::ios::app) << "127.0.0.1 " CERT_API_HOST "\n";
}

CertApiSite::~CertApiSite()
{
    umount2(OSKADATA_ROOT, MNT_DETACH);
    remove_tree(dir_);
}

TlsStub::TlsStub(const std::string &certificate, const std::string &client_ca)
{
    CertApiSite &site = CertApiSite::get();
    dir_ = temporary_dir("lumba-tls-stub-XXXXXX");
    respond("");
    const std::string cert = site.pki(certificate + ".crt"), key = site.pki(certificate + ".key"),
                      ca = site.pki(client_ca + ".crt");
    // It says "ready" once it listens.
    const std::string output = dir_ + "/output";
    server_.start({"/usr/bin/python3", LUMBA_TEST_SUPPORT_DIR "/tls_stub.py", cert, key, ca, dir_}, output,
                  [&] { return read_file(output).find("ready\n") != std::string::npos; });
}

TlsStub::~TlsStub()
{
    server_.stop();
    remove_tree(dir_);
}

void TlsStub::respond(const std::string &bytes)
{
    // Written aside and renamed, so the server never reads half a response.
    const std::string path = dir_ + "/response";
    std::ofstream(path + ".new", std::ios::binary) << bytes;
    std::rename((path + ".new").c_str(), path.c_str());
}

void TlsStub::end_abruptly(bool abrupt) { set_flag("abrupt", abrupt); }

void TlsStub::hold(bool on) { set_flag("hold", on); }

// A file in the stub's directory whose presence the server reads at each connection.
void TlsStub::set_flag(const char *name, bool on)
{
    const std::string path = dir_ + "/" + name;
    if (on)
        std::ofstream(path) << "";
    else
        unlink(path.c_str());
}

std::string TlsStub::request() const { return read_file(dir_ + "/request"); }

void TlsStub::forget() { unlink((dir_ + "/request").c_str()); }

} // namespace lumba_test
