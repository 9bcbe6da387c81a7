// The photo and media database steps of a whole run against a real PostgreSQL server: the
// photo database's columns changed and its video tables made, "mediaserver" dropped, and each
// service database dumped into a file that restores it.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>

#include "device_tree.h"
#include "korvtest.h"
#include "pg_server.h"
#include "updater_run.h"

using korvtest::PgServer;

namespace {

// The service databases as an installed unit of build 410 has them, and a query whose answer
// tells one database's rows apart from another's.
struct Database {
    const char *name;
    const char *schema;
    const char *rows;  // its rows, one query
};

const Database kDatabases[] = {
    {"photo",
     "CREATE TABLE photo_image(id serial PRIMARY KEY, path text NOT NULL, timetaken timestamp);"
     "CREATE TABLE photo_user(id serial PRIMARY KEY, username varchar(64) NOT NULL);"
     "INSERT INTO photo_image(path, timetaken) VALUES ('/photo/a.jpg', '2008-05-01 10:00:00'),"
     " ('/photo/b.jpg', NULL);"
     "INSERT INTO photo_user(username) VALUES ('guest');",
     "SELECT string_agg(path || '=' || coalesce(timetaken::text, '-'), ',' ORDER BY id) FROM photo_image"},
    {"mediaserver", "CREATE TABLE media(id int); INSERT INTO media VALUES (1);", "SELECT count(*) FROM media"},
    {"download", "CREATE TABLE task(id serial, url text); INSERT INTO task(url) VALUES ('http://a/1'), ('ftp://b/2');",
     "SELECT string_agg(url, ',' ORDER BY id) FROM task"},
    {"surveillance", "CREATE TABLE camera(id serial, name text); INSERT INTO camera(name) VALUES ('door');",
     "SELECT string_agg(name, ',' ORDER BY id) FROM camera"},
    {"roundcubemail",
     "CREATE TABLE users(user_id serial, username text); INSERT INTO users(username) VALUES ('admin');",
     "SELECT string_agg(username, ',' ORDER BY user_id) FROM users"},
};

class PhotoPgsql : public testing::Test {
protected:
    void SetUp() override
    {
        korvtest::UpdateTree tree;
        tree.identity.buildnumber = "410";
        tree.package.buildnumber = "950";
        korvtest::build_update_tree(tree);
        try {
            pg_ = std::make_unique<PgServer>();
        } catch (const std::exception &e) {
            FAIL() << e.what();
        }
        pg_->install_device_tools();
        for (const Database &db : kDatabases) {
            std::string out;
            ASSERT_EQ(pg_->psql("postgres", std::string("CREATE DATABASE ") + db.name, &out), 0) << out;
            ASSERT_EQ(pg_->psql(db.name, db.schema, &out), 0) << out;
        }
    }

    std::string Column(const char *table, const char *column)
    {
        return pg_->query("photo", std::string("SELECT data_type || ':' || coalesce(character_maximum_length::text, "
                                               "'-') || ':' || coalesce(column_default, '-') FROM "
                                               "information_schema.columns WHERE table_name = '") +
                                       table + "' AND column_name = '" + column + "'");
    }

    std::unique_ptr<PgServer> pg_;
};

TEST_F(PhotoPgsql, RunFrom410MigratesAndDumps)
{
    std::map<std::string, std::string> before;
    for (const Database &db : kDatabases)
        before[db.name] = pg_->query(db.name, db.rows);
    ASSERT_EQ(Column("photo_image", "timetaken"), "timestamp without time zone:-:-");

    auto r = updatertest::run_updater();
    ASSERT_EQ(r.status, 0) << korvtest::syslog_dump();

    EXPECT_EQ(Column("photo_image", "timetaken"), "character varying:64:-") << pg_->log();
    EXPECT_EQ(Column("photo_user", "admin"), "boolean:-:false");
    EXPECT_EQ(pg_->query("photo", "SELECT string_agg(username || '=' || admin, ',') FROM photo_user"), "guest=false");
    // The image rows kept their times, as text now.
    EXPECT_EQ(pg_->query("photo", kDatabases[0].rows), "/photo/a.jpg=2008-05-01 10:00:00,/photo/b.jpg=-");
    for (const char *table : {"video_comment", "video_desc"})
        EXPECT_EQ(pg_->query("photo", std::string("SELECT tableowner FROM pg_tables WHERE tablename = '") + table +
                                          "'"),
                  "admin")
            << table;
    // The column that the shell's quoting leaves bare.
    EXPECT_EQ(Column("video_comment", "comment"), "text:-:-");
    EXPECT_EQ(pg_->query("photo", "SELECT string_agg(conname, ',' ORDER BY conname) FROM pg_constraint WHERE conrelid "
                                  "= 'video_desc'::regclass"),
              "video_path_key,video_pkey");
    EXPECT_EQ(pg_->query("postgres", "SELECT count(*) FROM pg_database WHERE datname = 'mediaserver'"), "0");

    // Each dump restores its database whole: dropped, then made again from the file alone.
    for (const Database &db : kDatabases) {
        if (std::string(db.name) == "mediaserver")
            continue;
        SCOPED_TRACE(db.name);
        std::string file = std::string("/volume1/.@pgsql_upgrade/") + db.name + ".sql";
        ASSERT_TRUE(korvtest::file_exists(file));
        std::string expected = pg_->query(db.name, db.rows);
        if (std::string(db.name) != "photo") {
            EXPECT_EQ(expected, before[db.name]);
        }
        std::string out;
        ASSERT_EQ(pg_->psql("postgres", std::string("DROP DATABASE ") + db.name, &out), 0) << out;
        ASSERT_EQ(pg_->psql_file("postgres", file, &out), 0) << out;
        EXPECT_EQ(pg_->query(db.name, db.rows), expected);
    }
    EXPECT_EQ(Column("photo_image", "timetaken"), "character varying:64:-");
    EXPECT_EQ(Column("video_desc", "path"), "text:-:-");
}

}  // namespace
