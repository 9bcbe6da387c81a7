/*
 * The record-store files, opened through Berkeley DB's 1.85 interface. The device build is
 * dbopen itself; the host build hands back a handle whose puts and deletes a test can make fail
 * (faults.conf of the simulated device), one store at a time.
 */
#ifndef KORV_PLATFORM_STORE_H
#define KORV_PLATFORM_STORE_H

#include <db_185.h>

#ifdef __cplusplus
extern "C" {
#endif

/* dbopen's arguments and result: the handle, or null with errno. */
DB *korv_plat_dbopen(const char *path, int flags, int mode, DBTYPE type, const void *openinfo);

#ifdef __cplusplus
}
#endif

#endif
