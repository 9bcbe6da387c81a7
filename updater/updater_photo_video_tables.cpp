// The photo database's video tables. The double quotes around "comment" close and reopen the
// shell's quoting of su's command, so psql gets the column's name bare.
#include <syslog.h>

#include "updater_photo.h"

int CreatePhotoVideoTables(void)
{
    syslog(LOG_ERR, "Update photo db to add video tables");
    UPDTRunCommand("su -l admin -c \"/usr/korv/pgsql/bin/psql photo -c 'CREATE TABLE video_comment(id serial NOT "
                   "NULL,path text NOT NULL,name varchar(100),email varchar(128),\"comment\" text,date "
                   "timestamp,updated char(1),CONSTRAINT video_comment_pkey PRIMARY KEY (id)) WITH OIDS;ALTER TABLE "
                   "video_comment OWNER TO admin;'\"");
    UPDTRunCommand("su -l admin -c \"/usr/korv/pgsql/bin/psql photo -c 'CREATE TABLE video_desc(id serial NOT "
                   "NULL,path text NOT NULL, title text, description text,updated char(1),CONSTRAINT video_pkey "
                   "PRIMARY KEY (id),CONSTRAINT video_path_key UNIQUE (path)) WITH OIDS;ALTER TABLE video_desc OWNER "
                   "TO admin;'\"");
    return 0;
}
