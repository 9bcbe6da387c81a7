// Record-store files: Berkeley DB's own handle, or, when faults.conf names the store's path for
// PUT or DEL at open time, a handle around it that asks the faults before each put and delete.
#include <errno.h>
#include <sys/stat.h>

#include <new>
#include <string>

#include "korv/platform_store.h"
#include "sim_state.h"

namespace korvsim {

namespace {

// What the caller holds is `outer`, whose `internal` leads back here.
struct FaultyDb {
    DB outer;
    DB *inner;
    std::string path;
};

FaultyDb &of(const DB *db)
{
    return *static_cast<FaultyDb *>(db->internal);
}

// The errno of a fault that stops this request, logged as a stopped request; 0 to go on.
int stopped(const FaultyDb &f, const char *request)
{
    StateLock lock;
    int err = fault_fail(f.path, request);
    if (err)
        log_request(f.path, request, "", -1, err);
    return err;
}

int db_close(DB *db)
{
    FaultyDb *f = &of(db);
    int r = f->inner->close(f->inner);
    int err = errno;
    delete f;
    errno = err;
    return r;
}

int db_del(const DB *db, const DBT *key, u_int flags)
{
    FaultyDb &f = of(db);
    if (int err = stopped(f, "DEL")) {
        errno = err;
        return -1;
    }
    return f.inner->del(f.inner, key, flags);
}

int db_put(const DB *db, DBT *key, const DBT *data, u_int flags)
{
    FaultyDb &f = of(db);
    if (int err = stopped(f, "PUT")) {
        errno = err;
        return -1;
    }
    return f.inner->put(f.inner, key, data, flags);
}

int db_get(const DB *db, const DBT *key, DBT *data, u_int flags)
{
    return of(db).inner->get(of(db).inner, key, data, flags);
}

int db_seq(const DB *db, DBT *key, DBT *data, u_int flags)
{
    return of(db).inner->seq(of(db).inner, key, data, flags);
}

int db_sync(const DB *db, u_int flags)
{
    return of(db).inner->sync(of(db).inner, flags);
}

int db_fd(const DB *db)
{
    return of(db).inner->fd(of(db).inner);
}

// Whether a fault waits for a put or a delete of this store. Most trees have no faults at all.
bool faults_name(const std::string &path)
{
    struct stat st {};
    if (stat(kFaultsConf, &st) != 0)
        return false;
    StateLock lock;
    for (const Fault &f : faults_load()) {
        if (f.kind == "fail" && (f.device == path || f.device == "*") && (f.request == "PUT" || f.request == "DEL"))
            return true;
    }
    return false;
}

}  // namespace

}  // namespace korvsim

using namespace korvsim;

extern "C" DB *korv_plat_dbopen(const char *path, int flags, int mode, DBTYPE type, const void *openinfo)
{
    DB *db = dbopen(path, flags, mode, type, openinfo);
    if (!db)
        return nullptr;
    int saved = errno;
    FaultyDb *f = path && faults_name(path) ? new (std::nothrow) FaultyDb{*db, db, path} : nullptr;
    errno = saved;
    if (!f)
        return db;
    f->outer.internal = f;
    f->outer.close = db_close;
    f->outer.del = db_del;
    f->outer.get = db_get;
    f->outer.put = db_put;
    f->outer.seq = db_seq;
    f->outer.sync = db_sync;
    f->outer.fd = db_fd;
    return &f->outer;
}
