// The photo and media database steps at the start of stage C (RedBoot road, not in a group
// update): the thumbnail folders' rights, the database service, the photo database's tables, the
// old media database, the dumps for the new firmware and the re-index. Each step runs its
// commands through the shell; no result of theirs stops the update.
#pragma once

#include "updater.h"

// The database service's start-up script, started before the database steps.
#define UPDT_PGSQL_RC "/usr/korv/etc/rc.d/S20pgsql.sh"
// The dumps' folder in the data volume.
#define UPDT_PGSQL_DUMP_DIR ".@pgsql_upgrade"

// Every "@eaDir" folder under the photo share, and what it holds, opened to everyone. 0.
int UpdatePhotoEaDir(void);
// The photo database: "timetaken" of photo_image as text, and photo_user's "admin" column. 0.
int UpdatePhotoImageTables(void);
// The photo database's two video tables, owned by "admin". 0.
int CreatePhotoVideoTables(void);
// The old database "mediaserver" dropped. 0.
int DropMediaServerDb(void);
// "photo", "download", "surveillance" and "roundcubemail" dumped into the volume's
// ".@pgsql_upgrade", one file each, for the new firmware. 0.
int DumpPgsqlDbs(void);
// The database steps whose flags are set, in table order, then the media re-indexed. Always 0.
int UpdatePhotoDatabase(void);
// A database step is wanted: one of the database rows has its flag set.
bool UPDTPhotoDatabaseWanted(void);
// The start of stage C: the "@eaDir" rights when their flag is set, then, when a database step
// is wanted, the database service started and UpdatePhotoDatabase.
void UPDTUpdatePhoto(void);
