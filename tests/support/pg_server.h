// A real PostgreSQL server for the photo database steps: the host's installation (Debian's
// postgresql), run inside the sandbox as an ordinary user of the tree. The test installs nothing:
// the server's programs are the host's under /usr/lib, its share files are seen through the
// sandbox's host folder (the updater tests bind them read-only), its cluster, log and Unix socket
// are in "/tmp/pgsql" of the tree, and it listens on no network address. Every wait is bounded;
// the server is always stopped with the object.
#pragma once

#include <string>

namespace korvtest {

class PgServer {
public:
    // initdb and start as the tree's `user` (of "/etc/passwd", through the tree's `su`, which
    // install_su lays out), the database superuser of the same name, trust on the socket. Throws
    // std::runtime_error with the tools' output when the server cannot be had.
    explicit PgServer(const std::string &user = "admin");
    ~PgServer();
    PgServer(const PgServer &) = delete;
    PgServer &operator=(const PgServer &) = delete;

    // The socket's folder (psql's -h).
    static const char *socket_dir() { return "/tmp/pgsql"; }
    // The folder of the real tools ("/usr/lib/postgresql/15/bin").
    const std::string &bin_dir() const { return bin_; }

    // psql as the superuser on db (unaligned, tuples only, stopping at the first error): its exit
    // status, and its output and errors in *out.
    int psql(const std::string &db, const std::string &sql, std::string *out = nullptr) const;
    // The output of a query, its last newline removed; "<error: ...>" when psql fails.
    std::string query(const std::string &db, const std::string &sql) const;
    // psql -f file on db: the exit status, output and errors in *out.
    int psql_file(const std::string &db, const std::string &file, std::string *out = nullptr) const;

    // The device's "/usr/korv/pgsql/bin/" psql, dropdb and pg_dump as wrappers of the real tools
    // on this server's socket, each first recording its run in the programs log as the fixtures
    // do. They speak the device's older PostgreSQL: psql drops "WITH OIDS" from its arguments and
    // pg_dump the option -o, which this server's version no longer knows.
    void install_device_tools() const;

    // The server's log, for assertion output.
    std::string log() const;

private:
    void stop();

    std::string user_;
    std::string bin_;
    bool running_ = false;
};

}  // namespace korvtest
