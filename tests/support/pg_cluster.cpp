#include "pg_cluster.h"

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <memory>
#include <pwd.h>
#include <sstream>
#include <stdexcept>
#include <sys/file.h>
#include <unistd.h>

#include <glib.h>
#include <libpq-fe.h>

#include "test_server.h"

namespace fs = std::filesystem;

namespace lumba_test {

namespace {

// Settings of every test cluster: nothing but the private socket, nothing written to disk that a
// test would wait for, every statement in the log, and dates and times that read the same on
// every machine.
const char *const SETTINGS =
    "listen_addresses = ''\n"
    "fsync = off\n"
    "synchronous_commit = off\n"
    "full_page_writes = off\n"
    "shared_buffers = 16MB\n"
    "logging_collector = off\n"
    "log_statement = 'all'\n"
    "DateStyle = 'ISO'\n"
    "TimeZone = 'UTC'\n";

// A PostgreSQL tool run as the postgres user.
std::vector<std::string> as_postgres(const std::string &tool, std::vector<std::string> args)
{
    std::vector<std::string> argv{"runuser", "-u", "postgres", "--", std::string(LUMBA_PG_BINDIR) + "/" + tool};
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
}

// The data directory initdb makes is the same for every cluster, and making it takes a second or
// more (it starts the server several times): it is made once, as a template in the build tree,
// and each cluster starts from a copy. The lock keeps test programs started together from making
// it twice.
std::string cluster_template(const struct passwd *pw)
{
    const std::string dir = LUMBA_PG_TEMPLATE;
    const int lock = open((dir + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (lock < 0 || flock(lock, LOCK_EX) != 0) throw std::runtime_error("cannot lock " + dir + ".lock");
    struct Unlock {
        int fd;
        ~Unlock() { close(fd); }
    } unlock{lock};
    if (fs::exists(dir + "/PG_VERSION")) return dir;
    const std::string made = dir + ".new";
    std::error_code ignored;
    fs::remove_all(made, ignored);
    fs::create_directories(made);
    if (chown(made.c_str(), pw->pw_uid, pw->pw_gid) != 0) throw std::runtime_error("cannot give " + made + " to postgres");
    const ToolOutput o = run_tool(as_postgres("initdb", {"-D", made + "/data", "-A", "trust", "-U", "postgres", "-E",
                                                         "UTF8", "--locale=C", "--no-sync"}),
                                  made);
    if (!o.ok) throw std::runtime_error("initdb failed:\n" + o.out + o.err);
    fs::rename(made + "/data", dir);
    fs::remove_all(made, ignored);
    return dir;
}

// A copy of the template as data, owned by postgres as initdb left it (modes kept by the copy).
void copy_template(const std::string &from, const std::string &data, const struct passwd *pw)
{
    fs::copy(from, data, fs::copy_options::recursive);
    if (lchown(data.c_str(), pw->pw_uid, pw->pw_gid) != 0) throw std::runtime_error("cannot give " + data + " to postgres");
    for (const auto &entry : fs::recursive_directory_iterator(data))
        if (lchown(entry.path().c_str(), pw->pw_uid, pw->pw_gid) != 0)
            throw std::runtime_error("cannot give " + entry.path().string() + " to postgres");
}

// What the server log holds after offset bytes.
std::string read_from(const std::string &path, std::size_t offset)
{
    std::ifstream in(path, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(offset));
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

} // namespace

PgCluster::PgCluster() : owner_(getpid())
{
    dir_ = temporary_dir("lumba-pg-XXXXXX");
    try {
        const struct passwd *pw = getpwnam("postgres");
        if (!pw) throw std::runtime_error("no postgres user (is postgresql-15 installed?)");
        if (chown(dir_.c_str(), pw->pw_uid, pw->pw_gid) != 0) throw std::runtime_error("cannot give " + dir_ + " to postgres");
        const std::string data = dir_ + "/data";
        copy_template(cluster_template(pw), data, pw);
        std::ofstream(data + "/postgresql.conf", std::ios::app)
            << SETTINGS << "unix_socket_directories = '" << dir_ << "'\n";
        const ToolOutput o =
            run_tool(as_postgres("pg_ctl", {"start", "-D", data, "-l", dir_ + "/server.log", "-w", "-s"}), dir_);
        if (!o.ok) throw std::runtime_error("pg_ctl start failed:\n" + o.out + o.err + log());
    } catch (...) {
        remove_tree(dir_);
        throw;
    }
}

PgCluster::~PgCluster()
{
    if (getpid() != owner_) return;  // a forked child leaves the cluster to its parent
    run_tool(as_postgres("pg_ctl", {"stop", "-D", dir_ + "/data", "-m", "fast", "-w", "-s"}), dir_);
    remove_tree(dir_);
}

std::string PgCluster::conninfo(const std::string &db) const
{
    return "host=" + dir_ + " dbname=" + db + " user=postgres";
}

std::string PgCluster::query(const std::string &sql, const std::string &db) const
{
    PGconn *conn = PQconnectdb(conninfo(db).c_str());
    if (PQstatus(conn) != CONNECTION_OK) {
        std::string message = PQerrorMessage(conn);
        PQfinish(conn);
        throw std::runtime_error("cannot connect to the test cluster: " + message);
    }
    PGresult *res = PQexec(conn, sql.c_str());
    const ExecStatusType status = PQresultStatus(res);
    std::string value, message = PQresultErrorMessage(res);
    if (status == PGRES_TUPLES_OK && PQntuples(res) > 0 && PQnfields(res) > 0) value = PQgetvalue(res, 0, 0);
    PQclear(res);
    PQfinish(conn);
    if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK) throw std::runtime_error(sql + ": " + message);
    return value;
}

pid_t PgCluster::postmaster_pid() const
{
    std::ifstream in(dir_ + "/data/postmaster.pid");
    pid_t pid = -1;
    in >> pid;
    return pid;
}

std::string PgCluster::log() const { return read_from(dir_ + "/server.log", 0); }

std::size_t PgCluster::log_size() const { return log().size(); }

std::string PgCluster::log_since(std::size_t mark) const { return read_from(dir_ + "/server.log", mark); }

std::vector<std::string> PgCluster::statements_since(std::size_t mark) const
{
    // A logged statement starts with "LOG:  statement: "; the further lines of a statement that
    // spans several stand on their own, without the time stamp that starts every log entry.
    std::vector<std::string> statements;
    std::istringstream lines(log_since(mark));
    bool in_statement = false;
    for (std::string line; std::getline(lines, line);) {
        const auto at = line.find("LOG:  statement: ");
        const bool entry = !line.empty() && g_ascii_isdigit(line[0]);
        if (at != std::string::npos && entry) {
            statements.push_back(line.substr(at + 17));
            in_statement = true;
        } else if (entry) {
            in_statement = false;
        } else if (in_statement) {
            statements.back() += "\n" + line;
        }
    }
    return statements;
}

PgCluster &pg_cluster()
{
    static std::unique_ptr<PgCluster> cluster = std::make_unique<PgCluster>();
    return *cluster;
}

} // namespace lumba_test
