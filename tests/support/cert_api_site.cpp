#include "cert_api_site.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fstream>
#include <net/if.h>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <glib.h>

#include "run_time.h"

namespace lumba_test {

namespace {

// True when the only network interface is the loopback: a private network namespace, which
// `isolate` pairs with a private mount namespace and hosts file.
bool private_namespaces()
{
    struct if_nameindex *names = if_nameindex();
    if (!names) return false;
    bool only_loopback = true;
    for (struct if_nameindex *n = names; n->if_index != 0; ++n)
        if (std::strcmp(n->if_name, "lo") != 0) only_loopback = false;
    if_freenameindex(names);
    return only_loopback;
}

std::string read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void remove_tree(const std::string &dir)
{
    const char *argv[] = {"rm", "-rf", dir.c_str(), nullptr};
    g_spawn_sync(nullptr, const_cast<char **>(argv), nullptr, G_SPAWN_SEARCH_PATH, nullptr, nullptr, nullptr, nullptr,
                 nullptr, nullptr);
}

std::string temporary_dir(const char *pattern)
{
    char *dir = g_dir_make_tmp(pattern, nullptr);
    if (!dir) throw std::runtime_error("cannot make a temporary directory");
    std::string d = dir;
    g_free(dir);
    return d;
}

} // namespace

CertApiSite &CertApiSite::get()
{
    static CertApiSite site;
    return site;
}

CertApiSite::CertApiSite()
{
    if (!private_namespaces())
        throw std::runtime_error("the certificate API tests must run in private namespaces (the isolate runner)");
    dir_ = temporary_dir("lumba-cert-api-XXXXXX");
    const std::string contract = std::to_string(TEST_CONTRACT);
    const char *argv[] = {LUMBA_TEST_SUPPORT_DIR "/make_pki.sh", dir_.c_str(), CERT_API_HOST, contract.c_str(), nullptr};
    int status = 0;
    char *err = nullptr;
    if (!g_spawn_sync(nullptr, const_cast<char **>(argv), nullptr, G_SPAWN_DEFAULT, nullptr, nullptr, nullptr, &err,
                      &status, nullptr) ||
        !g_spawn_check_wait_status(status, nullptr)) {
        std::string message = "make_pki.sh failed: " + std::string(err ? err : "");
        g_free(err);
        throw std::runtime_error(message);
    }
    g_free(err);
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
    const char *argv[] = {"/usr/bin/python3", LUMBA_TEST_SUPPORT_DIR "/tls_stub.py", cert.c_str(), key.c_str(),
                          ca.c_str(), dir_.c_str(), nullptr};
    int out = -1;
    GError *error = nullptr;
    if (!g_spawn_async_with_pipes(nullptr, const_cast<char **>(argv), nullptr, G_SPAWN_DO_NOT_REAP_CHILD, nullptr,
                                  nullptr, &pid_, nullptr, &out, nullptr, &error)) {
        std::string message = error->message;
        g_error_free(error);
        throw std::runtime_error("cannot start tls_stub.py: " + message);
    }
    // "ready" once it listens; nothing within ten seconds (or the end of its output) is a failure.
    std::string line;
    pollfd p{out, POLLIN, 0};
    char c;
    while (line.find('\n') == std::string::npos && poll(&p, 1, 10000) == 1 && read(out, &c, 1) == 1) line += c;
    close(out);
    if (line != "ready\n") {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
        throw std::runtime_error("tls_stub.py did not start");
    }
}

TlsStub::~TlsStub()
{
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        while (waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {}
    }
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
