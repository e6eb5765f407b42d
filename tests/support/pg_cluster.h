// A throw-away PostgreSQL 15 cluster for the tests of one test program: initdb and pg_ctl run as
// the postgres user (tests run as root), data directory and Unix socket in a new temporary
// directory, no TCP, every statement logged (log_statement=all), fsync off, DateStyle ISO and
// TimeZone UTC. See tests/support/README.md.
#pragma once

#include <cstddef>
#include <string>
#include <sys/types.h>
#include <vector>

namespace lumba_test {

class PgCluster {
public:
    PgCluster();   // initdb and start; throws std::runtime_error with the tools' output on failure
    ~PgCluster();  // pg_ctl stop -m fast, then the directory is removed
    PgCluster(const PgCluster &) = delete;
    PgCluster &operator=(const PgCluster &) = delete;

    // The directory that holds the socket (host= of a connection string).
    const std::string &socket_dir() const { return dir_; }
    // A libpq connection string for database db as the superuser postgres.
    std::string conninfo(const std::string &db = "postgres") const;

    // Runs sql (one or more statements) on a connection of its own and gives the first value of
    // the last result ("" when it has none); throws std::runtime_error with the server's message
    // when a statement fails. For fixtures: tables, rows, checks.
    std::string query(const std::string &sql, const std::string &db = "postgres") const;

    // The server log: the whole of it, its current size (a mark), and what came after a mark.
    std::string log() const;
    std::size_t log_size() const;
    std::string log_since(std::size_t mark) const;
    // The statements the server logged after a mark, each as the server logged it.
    std::vector<std::string> statements_since(std::size_t mark) const;

    // The server's main process (from its pid file), to hold it stopped as a server that no
    // longer answers.
    pid_t postmaster_pid() const;

private:
    std::string dir_;
    pid_t owner_;  // only the process that started the cluster stops it
};

// The cluster of this test program: started on first use, stopped when the program ends.
PgCluster &pg_cluster();

} // namespace lumba_test
