// The photo and media database steps, each alone and as the start of stage C: the commands
// they run, in order, with the volume as one word, and the "@eaDir" rights they open up.
#include <signal.h>
#include <sys/stat.h>
#include <syslog.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device_tree.h"
#include "korvtest.h"
#include "run_state.h"
#include "updater_photo.h"
#include "updater_run.h"

using korvtest::program_runs;

namespace {

const char kSuPsql[] = "su -l admin -c /usr/korv/pgsql/bin/psql photo -c ";
const char kAlterImage[] = "ALTER TABLE photo_image ALTER timetaken TYPE varchar(64)";
const char kAlterUser[] = "ALTER TABLE photo_user ADD COLUMN admin bool DEFAULT false";
// As psql gets them: the shell has taken the double quotes around "comment".
const char kVideoComment[] =
    "CREATE TABLE video_comment(id serial NOT NULL,path text NOT NULL,name varchar(100),email varchar(128),comment "
    "text,date timestamp,updated char(1),CONSTRAINT video_comment_pkey PRIMARY KEY (id)) WITH OIDS;ALTER TABLE "
    "video_comment OWNER TO admin;";
const char kVideoDesc[] =
    "CREATE TABLE video_desc(id serial NOT NULL,path text NOT NULL, title text, description text,updated "
    "char(1),CONSTRAINT video_pkey PRIMARY KEY (id),CONSTRAINT video_path_key UNIQUE (path)) WITH OIDS;ALTER TABLE "
    "video_desc OWNER TO admin;";
const char kFind[] = "find /var/services/photo/ -type d -name @eaDir -exec /bin/chmod -R 777 {} ;";
const char kIndex[] = "korvindex -R all";

// The su line and psql's line of one SQL command.
std::vector<std::string> Sql(const std::string &sql)
{
    return {kSuPsql + ("'" + sql + "'"), "psql photo -c " + sql};
}

// pg_dump's lines (the redirection is the shell's).
std::vector<std::string> Dumps()
{
    std::vector<std::string> lines;
    for (const char *db : {"photo", "download", "surveillance", "roundcubemail"})
        lines.push_back(std::string("pg_dump -C -o -U admin ") + db);
    return lines;
}

class PhotoSteps : public testing::Test {
protected:
    void SetUp() override
    {
        updatertest::reset_run_state();
        korvtest::install_accounts();
        korvtest::install_photo_programs();
    }
};

struct StepCase {
    const char *name;
    int (*step)(void);
    std::vector<std::string> runs;  // the programs log afterwards
};

void PrintTo(const StepCase &c, std::ostream *os)
{
    *os << c.name;
}

class PhotoStep : public PhotoSteps, public testing::WithParamInterface<StepCase> {};

TEST_P(PhotoStep, RunsItsCommandsAlone)
{
    EXPECT_EQ(GetParam().step(), 0);
    EXPECT_EQ(program_runs(), GetParam().runs);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, PhotoStep,
    testing::Values(StepCase{"EaDir", UpdatePhotoEaDir, {kFind}},
                    StepCase{"ImageTables", UpdatePhotoImageTables, updatertest::join({Sql(kAlterImage), Sql(kAlterUser)})},
                    StepCase{"VideoTables", CreatePhotoVideoTables, updatertest::join({Sql(kVideoComment), Sql(kVideoDesc)})},
                    StepCase{"DropMediaServer",
                             DropMediaServerDb,
                             {"su -l admin -c /usr/korv/pgsql/bin/dropdb mediaserver", "dropdb mediaserver"}},
                    StepCase{"Dumps", DumpPgsqlDbs, Dumps()},
                    // With no flag set the database steps add nothing to the re-index.
                    StepCase{"DatabaseWithoutFlags", UpdatePhotoDatabase, {kIndex}}),
    [](const testing::TestParamInfo<StepCase> &i) { return std::string(i.param.name); });

TEST_F(PhotoSteps, VideoTablesAreLogged)
{
    CreatePhotoVideoTables();
    EXPECT_TRUE(korvtest::syslog_has("Update photo db to add video tables", LOG_ERR)) << korvtest::syslog_dump();
}

// The dumps land in the volume's folder, also when its path holds blanks or quotes.
TEST_F(PhotoSteps, DumpsGoToTheVolumeAsOneWord)
{
    for (const char *volume : {"/volume1", "/volume 2", "/vol'3;touch /tmp/owned"}) {
        SCOPED_TRACE(volume);
        korvtest::make_dirs(volume);
        strcpy(gszVolume, volume);
        DumpPgsqlDbs();
        std::string dir = std::string(volume) + "/.@pgsql_upgrade";
        struct stat st = {};
        ASSERT_EQ(stat(dir.c_str(), &st), 0) << dir;
        EXPECT_TRUE(S_ISDIR(st.st_mode));
        for (const char *db : {"photo", "download", "surveillance", "roundcubemail"})
            EXPECT_TRUE(korvtest::file_exists(dir + "/" + db + ".sql")) << db;
        EXPECT_FALSE(korvtest::file_exists("/tmp/owned"));
    }
}

// find hands each "@eaDir" to chmod as its bare path: every such folder and what it holds is
// opened up, wherever it lies and whatever its name holds; other folders keep their rights.
TEST_F(PhotoSteps, EaDirFoldersOpenedUp)
{
    const std::vector<std::string> eaDirs = {"/var/services/photo/@eaDir", "/var/services/photo/2009/@eaDir",
                                             "/var/services/photo/my trip/day \"one\"/@eaDir"};
    for (const auto &dir : eaDirs) {
        korvtest::make_dirs(dir + "/thumbs");
        korvtest::write_file(dir + "/thumbs/a.jpg", "x");
        ASSERT_EQ(chmod((dir + "/thumbs/a.jpg").c_str(), 0600), 0);
        ASSERT_EQ(chmod((dir + "/thumbs").c_str(), 0700), 0);
        ASSERT_EQ(chmod(dir.c_str(), 0700), 0);
    }
    korvtest::make_dirs("/var/services/photo/2009/album");
    ASSERT_EQ(chmod("/var/services/photo/2009/album", 0750), 0);

    UpdatePhotoEaDir();
    auto mode = [](const std::string &p) {
        struct stat st = {};
        EXPECT_EQ(stat(p.c_str(), &st), 0) << p;
        return st.st_mode & 07777;
    };
    for (const auto &dir : eaDirs) {
        EXPECT_EQ(mode(dir), 0777u) << dir;
        EXPECT_EQ(mode(dir + "/thumbs"), 0777u) << dir;
        EXPECT_EQ(mode(dir + "/thumbs/a.jpg"), 0777u) << dir;
    }
    EXPECT_EQ(mode("/var/services/photo/2009/album"), 0750u);
}

struct StageCase {
    const char *name;
    int photoDb, dropMediaServer, dumps, eaDir;
    std::vector<std::string> runs;
};

void PrintTo(const StageCase &c, std::ostream *os)
{
    *os << c.name;
}

class PhotoStage : public PhotoSteps, public testing::WithParamInterface<StageCase> {};

TEST_P(PhotoStage, FlagsChooseTheSteps)
{
    const StageCase &c = GetParam();
    gUPDTFlags.gfPhotoDbUpgrade = c.photoDb;
    gUPDTFlags.gfDropMediaServerDb = c.dropMediaServer;
    gUPDTFlags.gfDumpPgsqlDbs = c.dumps;
    gUPDTFlags.gfPhotoEaDir = c.eaDir;
    UPDTUpdatePhoto();
    EXPECT_EQ(program_runs(), c.runs);
}

const std::vector<std::string> kStart = {"S20pgsql.sh start"};
const std::vector<std::string> kDrop = {"su -l admin -c /usr/korv/pgsql/bin/dropdb mediaserver", "dropdb mediaserver"};

INSTANTIATE_TEST_SUITE_P(
    Flags, PhotoStage,
    testing::Values(
        StageCase{"Everything", 3, 1, 1, 1,
                  updatertest::join({{kFind}, kStart, Sql(kAlterImage), Sql(kAlterUser), Sql(kVideoComment), Sql(kVideoDesc),
                        kDrop, Dumps(), {kIndex}})},
        StageCase{"VideoOnly", 2, 0, 0, 0, updatertest::join({kStart, Sql(kVideoComment), Sql(kVideoDesc), {kIndex}})},
        StageCase{"TablesOnly", 1, 0, 0, 0, updatertest::join({kStart, Sql(kAlterImage), Sql(kAlterUser), {kIndex}})},
        StageCase{"DropOnly", 0, 1, 0, 0, updatertest::join({kStart, kDrop, {kIndex}})},
        StageCase{"DumpsOnly", 0, 0, 1, 0, updatertest::join({kStart, Dumps(), {kIndex}})},
        // The rights alone start no database service and no re-index.
        StageCase{"EaDirOnly", 0, 0, 0, 1, {kFind}}, StageCase{"Nothing", 0, 0, 0, 0, {}}),
    [](const testing::TestParamInfo<StageCase> &i) { return std::string(i.param.name); });

// A service that does not start is logged; the database steps still run.
TEST_F(PhotoSteps, ServiceThatDiesIsLoggedAndTheStepsGoOn)
{
    korvtest::install_program(UPDT_PGSQL_RC, "#!/bin/sh\nkill -9 $$\n");
    gUPDTFlags.gfDumpPgsqlDbs = 1;
    UPDTUpdatePhoto();
    EXPECT_TRUE(korvtest::syslog_has_pattern("updater: <L>: failed to start postgre database.", LOG_ERR))
        << korvtest::syslog_dump();
    EXPECT_EQ(program_runs(), updatertest::join({Dumps(), {kIndex}}));
}

// A service script that only fails (exit status) is not a failed start: nothing is logged.
TEST_F(PhotoSteps, ServiceExitStatusIsNotLooked)
{
    korvtest::install_program(UPDT_PGSQL_RC, "#!/bin/sh\nexit 3\n");
    gUPDTFlags.gfDropMediaServerDb = 1;
    UPDTUpdatePhoto();
    EXPECT_FALSE(korvtest::syslog_contains("failed to start postgre database")) << korvtest::syslog_dump();
    EXPECT_EQ(program_runs(), updatertest::join({kDrop, {kIndex}}));
}

}  // namespace

namespace {

// The tree's su runs the command as the user of "/etc/passwd", with a login's environment only.
TEST(SuFixture, RunsTheCommandAsTheUser)
{
    korvtest::install_accounts();
    korvtest::install_su();
    std::string out;
    ASSERT_EQ(korvtest::run_shell("FOO=bar /bin/su -l admin -c '/.korvsim/tools/id -u; /.korvsim/tools/id -g; "
                                  "/.korvsim/tools/id -G; echo \"$HOME:$USER:${FOO-unset}\"; pwd'",
                                  &out),
              0)
        << out;
    EXPECT_EQ(out, "1024\n100\n100\n/var/services/homes/admin:admin:unset\n/\n");
    EXPECT_NE(korvtest::run_shell("/bin/su -l nobody-here -c true 2>/dev/null"), 0);
}

}  // namespace
