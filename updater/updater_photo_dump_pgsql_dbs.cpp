// The service databases dumped for the new firmware, which restores them. pg_dump runs as the
// caller and connects as the database user "admin".
#include "updater.h"
#include "updater_photo.h"

int DumpPgsqlDbs(void)
{
    static const char *const kDatabases[] = {"photo", "download", "surveillance", "roundcubemail"};
    UPDTRunCommand("mkdir %s/" UPDT_PGSQL_DUMP_DIR, {gszVolume});
    for (const char *db : kDatabases)
        UPDTRunCommand("/usr/korv/pgsql/bin/pg_dump -C -o -U admin %s > %s/" UPDT_PGSQL_DUMP_DIR "/%s.sql",
                       {db, gszVolume, db});
    return 0;
}
