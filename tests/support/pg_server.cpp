// The tree's PostgreSQL server: share files linked in from the host folder, a cluster made and
// started as an ordinary user, stopped (or killed) with the object.
#include "pg_server.h"

#include <dirent.h>
#include <pwd.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <stdexcept>

#include "device_tree.h"
#include "korvtest.h"

namespace korvtest {

namespace {

const char kLibDir[] = "/usr/lib/postgresql";
const char kData[] = "/tmp/pgsql/data";
const char kServerLog[] = "/tmp/pgsql/server.log";
// Bounds of the waits, seconds.
const int kInitSeconds = 90;
const int kStartSeconds = 30;
const int kStopSeconds = 20;

// The highest major version installed with a server: its number.
std::string InstalledVersion()
{
    std::string best;
    DIR *dir = opendir(kLibDir);
    if (!dir)
        return best;
    while (dirent *e = readdir(dir)) {
        std::string name = e->d_name;
        std::string server = std::string(kLibDir) + "/" + name + "/bin/postgres";
        if (name[0] == '.' || access(server.c_str(), X_OK) != 0)
            continue;
        if (best.empty() || atoi(name.c_str()) > atoi(best.c_str()))
            best = name;
    }
    closedir(dir);
    return best;
}

// A host folder as the sandbox shows it, linked at its host path in the tree.
void LinkHostFolder(const std::string &path)
{
    std::string inside = std::string(KORV_SANDBOX_HOST_DIR) + path;
    struct stat st = {};
    if (lstat(path.c_str(), &st) == 0)
        return;
    if (stat(inside.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        throw std::runtime_error(path + " is not bound into the sandbox (" + inside + ")");
    make_dirs(path.substr(0, path.rfind('/')));
    if (symlink(inside.c_str(), path.c_str()) != 0)
        throw std::runtime_error("symlink " + path);
}

}  // namespace

PgServer::PgServer(const std::string &user) : user_(user)
{
    std::string version = InstalledVersion();
    if (version.empty())
        throw std::runtime_error("no PostgreSQL server under /usr/lib/postgresql (scripts/bootstrap installs it)");
    bin_ = std::string(kLibDir) + "/" + version + "/bin";
    LinkHostFolder("/usr/share/postgresql");
    LinkHostFolder("/usr/share/zoneinfo");

    struct passwd *pw = getpwnam(user.c_str());
    if (!pw)
        throw std::runtime_error("no user " + user + " in /etc/passwd");
    make_dirs(socket_dir());
    if (chown(socket_dir(), pw->pw_uid, pw->pw_gid) != 0 || chmod(socket_dir(), 0700) != 0)
        throw std::runtime_error(std::string("cannot give ") + socket_dir() + " to " + user);

    auto as_user = [&](const std::string &cmd, std::string *out) {
        return run_shell("/bin/su -l " + shell_quote(user) + " -c " + shell_quote(cmd) + " 2>&1", out);
    };
    std::string out;
    if (as_user("/.korvsim/tools/timeout " + std::to_string(kInitSeconds) + " " + bin_ + "/initdb -D " + kData +
                    " -U " + shell_quote(user) + " -A trust -E UTF8 --no-locale --no-sync",
                &out) != 0)
        throw std::runtime_error("initdb failed:\n" + out);
    std::string options = std::string("-c listen_addresses='' -c unix_socket_directories=") + socket_dir() +
                          " -c dynamic_shared_memory_type=mmap -c fsync=off -c max_connections=20"
                          " -c shared_buffers=16MB";
    int status = as_user(bin_ + "/pg_ctl -D " + kData + " -l " + kServerLog + " -w -t " +
                             std::to_string(kStartSeconds) + " -o " + shell_quote(options) + " start",
                         &out);
    running_ = true;  // a start that timed out may still have a postmaster
    if (status != 0) {
        std::string text = "pg_ctl start failed:\n" + out + "\n" + log();
        stop();
        throw std::runtime_error(text);
    }
}

PgServer::~PgServer()
{
    stop();
}

void PgServer::stop()
{
    if (!running_)
        return;
    running_ = false;
    std::string out;
    run_shell("/bin/su -l " + shell_quote(user_) + " -c " +
                  shell_quote(bin_ + "/pg_ctl -D " + kData + " -m immediate -w -t " + std::to_string(kStopSeconds) +
                              " stop") +
                  " 2>&1",
              &out);
    // A postmaster that outlived the stop is killed.
    FILE *f = fopen((std::string(kData) + "/postmaster.pid").c_str(), "r");
    if (!f)
        return;
    int pid = 0;
    if (fscanf(f, "%d", &pid) == 1 && pid > 0)
        kill(pid, SIGKILL);
    fclose(f);
}

int PgServer::psql(const std::string &db, const std::string &sql, std::string *out) const
{
    return run_shell(bin_ + "/psql -h " + socket_dir() + " -U " + shell_quote(user_) + " -d " + shell_quote(db) +
                         " -X -A -t -q -v ON_ERROR_STOP=1 -c " + shell_quote(sql) + " 2>&1",
                     out);
}

std::string PgServer::query(const std::string &db, const std::string &sql) const
{
    std::string out;
    if (psql(db, sql, &out) != 0)
        return "<error: " + out + ">";
    while (!out.empty() && out.back() == '\n')
        out.pop_back();
    return out;
}

int PgServer::psql_file(const std::string &db, const std::string &file, std::string *out) const
{
    return run_shell(bin_ + "/psql -h " + socket_dir() + " -U " + shell_quote(user_) + " -d " + shell_quote(db) +
                         " -X -q -v ON_ERROR_STOP=1 -f " + shell_quote(file) + " 2>&1",
                     out);
}

void PgServer::install_device_tools() const
{
    std::string head = "#!/bin/bash\n# The device's PostgreSQL tool over the test's server.\n";
    std::string record = std::string("echo \"${0##*/} $*\" >> ") + kProgramsLog + "\n";
    std::string host = std::string(" -h ") + socket_dir();
    install_program("/usr/korv/pgsql/bin/psql",
                    head + record +
                        "args=()\nfor a in \"$@\"; do args+=(\"${a// WITH OIDS/}\"); done\n"
                        "exec " + bin_ + "/psql" + host + " -X \"${args[@]}\"\n");
    install_program("/usr/korv/pgsql/bin/dropdb", head + record + "exec " + bin_ + "/dropdb" + host + " \"$@\"\n");
    install_program("/usr/korv/pgsql/bin/pg_dump",
                    head + record +
                        "args=()\nfor a in \"$@\"; do [ \"$a\" = -o ] || args+=(\"$a\"); done\n"
                        "exec " + bin_ + "/pg_dump" + host + " \"${args[@]}\"\n");
}

std::string PgServer::log() const
{
    std::string text;
    run_shell(std::string("/bin/cat ") + kServerLog + " 2>&1", &text);
    return text;
}

}  // namespace korvtest
