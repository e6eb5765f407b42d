#include "slapd.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <memory>
#include <netinet/in.h>
#include <sched.h>
#include <sstream>
#include <stdexcept>
#include <sys/mount.h>
#include <sys/socket.h>
#include <unistd.h>

#include <glib.h>
#include <glib/gstdio.h>

namespace lumba_test {

namespace {

const char *const SCHEMAS[] = {"core", "cosine", "nis", "inetorgperson", "misc"};

const char *const SEED =
    "dn: dc=example,dc=test\n"
    "objectClass: top\nobjectClass: dcObject\nobjectClass: organization\no: Example\ndc: example\n\n"
    "dn: ou=People,dc=example,dc=test\n"
    "objectClass: top\nobjectClass: organizationalUnit\nou: People\n\n"
    "dn: ou=Groups,dc=example,dc=test\n"
    "objectClass: top\nobjectClass: organizationalUnit\nou: Groups\n\n"
    "dn: cn=x2gousers,ou=Groups,dc=example,dc=test\n"
    "objectClass: top\nobjectClass: posixGroup\ncn: x2gousers\ngidNumber: 5000\n";

// The client tools' arguments for a simple bind as the rootdn.
std::vector<std::string> as_admin(const char *tool)
{
    return {tool, "-x", "-H", Slapd::URL, "-D", Slapd::ADMIN_DN, "-w", Slapd::PASSWORD};
}

bool port_open()
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(389);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
    close(fd);
    return ok;
}

// An LDIF line "attr: value" or "attr:: base64" split into the name and the value.
bool ldif_value(const std::string &line, std::string &name, std::string &value)
{
    const auto colon = line.find(':');
    if (colon == std::string::npos || line.empty() || line[0] == ' ') return false;
    name = line.substr(0, colon);
    if (line.compare(colon, 3, ":: ") == 0) {
        gsize n = 0;
        guchar *bytes = g_base64_decode(line.c_str() + colon + 3, &n);
        value.assign(reinterpret_cast<char *>(bytes), n);
        g_free(bytes);
    } else {
        value = line.size() > colon + 2 ? line.substr(colon + 2) : "";
    }
    return true;
}

} // namespace

Slapd::Slapd() : owner_(getpid())
{
    if (!only_loopback())
        throw std::runtime_error("the test slapd listens on 127.0.0.1:389: run the test program under the isolate runner");
    dir_ = temporary_dir("lumba-slapd-XXXXXX");
    try {
        if (g_mkdir((dir_ + "/db").c_str(), 0700) != 0) throw std::runtime_error("cannot make " + dir_ + "/db");
        std::ofstream conf(dir_ + "/slapd.conf");
        for (const char *schema : SCHEMAS) conf << "include /etc/ldap/schema/" << schema << ".schema\n";
        conf << "pidfile " << dir_ << "/slapd.pid\n"
             << "modulepath /usr/lib/ldap\nmoduleload back_mdb\n"
             << "allow bind_anon_dn\n"
             << "database mdb\nmaxsize 67108864\n"
             << "suffix \"" << SUFFIX << "\"\nrootdn \"" << ADMIN_DN << "\"\nrootpw " << PASSWORD << "\n"
             << "directory " << dir_ << "/db\n";
        conf.close();
        if (!conf) throw std::runtime_error("cannot write " + dir_ + "/slapd.conf");
        start();
        add(SEED);
    } catch (...) {
        stop();
        remove_tree(dir_);
        throw;
    }
}

Slapd::~Slapd()
{
    if (getpid() != owner_) return;  // a forked child leaves the server to its parent
    stop();
    remove_tree(dir_);
}

void Slapd::start()
{
    // -d keeps the server in the foreground, so it stays the child this process ends.
    server_.start({LUMBA_SLAPD, "-d", "0", "-f", dir_ + "/slapd.conf", "-h", URL}, dir_ + "/slapd.log", port_open);
}

void Slapd::stop() { server_.stop(); }

std::string Slapd::ldapinfo() { return std::string("admin:") + PASSWORD + "@127.0.0.1:389?" + SUFFIX; }

void Slapd::add(const std::string &ldif) const
{
    const std::string path = dir_ + "/add.ldif";
    if (!g_file_set_contents(path.c_str(), ldif.data(), static_cast<gssize>(ldif.size()), nullptr))
        throw std::runtime_error("cannot write " + path);
    std::vector<std::string> argv = as_admin("ldapadd");
    argv.insert(argv.end(), {"-f", path});
    const ToolOutput o = run_tool(argv);
    if (!o.ok) throw std::runtime_error("ldapadd failed:\n" + o.out + o.err + "\n" + ldif);
}

bool Slapd::remove(const std::string &dn) const
{
    std::vector<std::string> argv = as_admin("ldapdelete");
    argv.push_back(dn);
    return run_tool(argv).ok;
}

std::string Slapd::search(const std::string &base, const std::string &scope, const std::string &filter,
                          const std::vector<std::string> &attrs) const
{
    std::vector<std::string> argv = as_admin("ldapsearch");
    argv.insert(argv.end(), {"-LLL", "-o", "ldif-wrap=no", "-b", base, "-s", scope, filter});
    argv.insert(argv.end(), attrs.begin(), attrs.end());
    const ToolOutput o = run_tool(argv);
    // No such object is an empty answer; any other failure is the test's fault.
    if (!o.ok && o.err.find("No such object") == std::string::npos)
        throw std::runtime_error("ldapsearch -b " + base + " " + filter + " failed:\n" + o.err);
    return o.ok ? o.out : "";
}

std::vector<std::string> Slapd::values(const std::string &dn, const std::string &attr) const
{
    std::vector<std::string> found;
    std::istringstream lines(search(dn, "base", "(objectClass=*)", {attr}));
    std::string name, value;
    for (std::string line; std::getline(lines, line);)
        if (ldif_value(line, name, value) && g_ascii_strcasecmp(name.c_str(), attr.c_str()) == 0)
            found.push_back(value);
    return found;
}

bool Slapd::exists(const std::string &dn) const { return !search(dn, "base", "(objectClass=*)", {"1.1"}).empty(); }

std::vector<std::string> Slapd::children(const std::string &base) const
{
    std::vector<std::string> dns;
    std::istringstream lines(search(base, "one", "(objectClass=*)", {"1.1"}));
    std::string name, value;
    for (std::string line; std::getline(lines, line);)
        if (ldif_value(line, name, value) && name == "dn") dns.push_back(value);
    return dns;
}

bool Slapd::can_bind(const std::string &dn, const std::string &password) const
{
    return run_tool({"ldapwhoami", "-x", "-H", URL, "-D", dn, "-w", password}).ok;
}

std::string Slapd::log() const { return read_file(dir_ + "/slapd.log"); }

Slapd &slapd()
{
    static std::unique_ptr<Slapd> server = std::make_unique<Slapd>();
    return *server;
}

namespace {

// The file shown as /etc/group, taken away when the program ends.
struct GroupCopy {
    std::string path;
    pid_t owner = getpid();
    ~GroupCopy()
    {
        if (path.empty() || getpid() != owner) return;
        umount2("/etc/group", MNT_DETACH);
        g_unlink(path.c_str());
    }
};

} // namespace

void set_group_file(const std::string &content)
{
    static GroupCopy group;
    std::string &copy = group.path;
    if (copy.empty()) {
        // A mount namespace of this process's own: the bind mount below can reach nothing else.
        if (unshare(CLONE_NEWNS) != 0) throw std::runtime_error(std::string("unshare: ") + std::strerror(errno));
        if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            throw std::runtime_error(std::string("mount --make-rprivate /: ") + std::strerror(errno));
        char *path = nullptr;
        const int fd = g_file_open_tmp("lumba-group-XXXXXX", &path, nullptr);
        if (fd < 0) throw std::runtime_error("cannot make a group file");
        close(fd);
        copy = path;
        g_free(path);
        chmod(copy.c_str(), 0644);
        std::ofstream(copy, std::ios::trunc) << content;
        if (mount(copy.c_str(), "/etc/group", nullptr, MS_BIND, nullptr) != 0)
            throw std::runtime_error(std::string("bind mount over /etc/group: ") + std::strerror(errno));
        return;
    }
    // The mount shows the file's inode: rewriting it in place changes what /etc/group reads.
    std::ofstream(copy, std::ios::trunc) << content;
}

} // namespace lumba_test
