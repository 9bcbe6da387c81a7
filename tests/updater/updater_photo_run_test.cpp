// The photo and media database steps in whole runs: which commands the installed build's flags
// bring, in order, at the start of stage C; none on the MSys road or in a group update; the
// dumps in the volume that -v names.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "device_tree.h"
#include "korvtest.h"
#include "updater_run.h"

using korvtest::UpdateTree;

namespace {

// The programs of the photo steps, as their fixtures record them, in the order they ran.
std::vector<std::string> PhotoRuns()
{
    static const std::set<std::string> kNames = {"find", "S20pgsql.sh", "su", "psql", "dropdb", "pg_dump", "korvindex"};
    std::vector<std::string> out;
    for (const auto &line : korvtest::program_runs()) {
        std::string name = line.substr(0, line.find(' '));
        if (kNames.count(name) || (name == "mkdir" && line.find(".@pgsql_upgrade") != std::string::npos))
            out.push_back(line);
    }
    return out;
}

const char kFind[] = "find /var/services/photo/ -type d -name @eaDir -exec /bin/chmod -R 777 {} ;";
const char kStart[] = "S20pgsql.sh start";
const char kIndex[] = "korvindex -R all";

std::vector<std::string> Sql(const std::string &sql)
{
    return {"su -l admin -c /usr/korv/pgsql/bin/psql photo -c '" + sql + "'", "psql photo -c " + sql};
}

std::vector<std::string> Tables()
{
    std::vector<std::string> a = Sql("ALTER TABLE photo_image ALTER timetaken TYPE varchar(64)");
    std::vector<std::string> b = Sql("ALTER TABLE photo_user ADD COLUMN admin bool DEFAULT false");
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::vector<std::string> Video()
{
    std::vector<std::string> a = Sql(
        "CREATE TABLE video_comment(id serial NOT NULL,path text NOT NULL,name varchar(100),email "
        "varchar(128),comment text,date timestamp,updated char(1),CONSTRAINT video_comment_pkey PRIMARY KEY (id)) "
        "WITH OIDS;ALTER TABLE video_comment OWNER TO admin;");
    std::vector<std::string> b = Sql(
        "CREATE TABLE video_desc(id serial NOT NULL,path text NOT NULL, title text, description text,updated "
        "char(1),CONSTRAINT video_pkey PRIMARY KEY (id),CONSTRAINT video_path_key UNIQUE (path)) WITH OIDS;ALTER "
        "TABLE video_desc OWNER TO admin;");
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::vector<std::string> Drop()
{
    return {"su -l admin -c /usr/korv/pgsql/bin/dropdb mediaserver", "dropdb mediaserver"};
}

std::vector<std::string> Dumps(const std::string &volume)
{
    std::vector<std::string> lines = {"mkdir " + volume + "/.@pgsql_upgrade"};
    for (const char *db : {"photo", "download", "surveillance", "roundcubemail"})
        lines.push_back(std::string("pg_dump -C -o -U admin ") + db);
    return lines;
}

struct RunCase {
    const char *name;
    const char *build;  // the installed build
    std::vector<std::string> args;
    UpdateTree::Flash flash;
    std::vector<std::string> runs;
    const char *volume;  // where the dumps are; null: none are made
};

void PrintTo(const RunCase &c, std::ostream *os)
{
    *os << c.name;
}

class PhotoRun : public testing::TestWithParam<RunCase> {};

TEST_P(PhotoRun, CommandsInOrder)
{
    const RunCase &c = GetParam();
    UpdateTree tree;
    tree.identity.buildnumber = c.build;
    tree.package.buildnumber = "950";
    tree.flash = c.flash;
    korvtest::build_update_tree(tree);
    korvtest::make_dirs("/volume2");
    // mkdir records its runs too, then makes the folder.
    korvtest::install_program("/bin/mkdir", std::string("#!/bin/sh\necho \"mkdir $*\" >> ") + korvtest::kProgramsLog +
                                                "\nexec /.korvsim/tools/mkdir \"$@\"\n");

    updatertest::RunSpec spec;
    spec.args = c.args;
    auto r = updatertest::run_updater(spec);
    EXPECT_EQ(r.status, 0) << korvtest::syslog_dump();
    EXPECT_EQ(PhotoRuns(), c.runs);
    for (const char *volume : {"/volume1", "/volume2"}) {
        bool dumps = c.volume && std::string(c.volume) == volume;
        for (const char *db : {"photo", "download", "surveillance", "roundcubemail"})
            EXPECT_EQ(korvtest::file_exists(std::string(volume) + "/.@pgsql_upgrade/" + db + ".sql"), dumps)
                << volume << " " << db;
    }
}

using Flash = UpdateTree::Flash;

INSTANTIATE_TEST_SUITE_P(
    Builds, PhotoRun,
    testing::Values(
        RunCase{"From410", "410", {}, Flash::RedBoot,
                updatertest::join({{kFind, kStart}, Tables(), Video(), Drop(), Dumps("/volume1"), {kIndex}}), "/volume1"},
        RunCase{"From500", "500", {}, Flash::RedBoot, updatertest::join({{kFind, kStart}, Drop(), Dumps("/volume1"), {kIndex}}),
                "/volume1"},
        RunCase{"From702", "702", {}, Flash::RedBoot, updatertest::join({{kFind, kStart}, Drop(), Dumps("/volume1"), {kIndex}}),
                "/volume1"},
        RunCase{"From867", "867", {}, Flash::RedBoot, updatertest::join({{kStart}, Drop(), Dumps("/volume1"), {kIndex}}),
                "/volume1"},
        RunCase{"From870", "870", {}, Flash::RedBoot, updatertest::join({{kStart}, Dumps("/volume1"), {kIndex}}), "/volume1"},
        RunCase{"From882", "882", {}, Flash::RedBoot, updatertest::join({{kStart}, Dumps("/volume1"), {kIndex}}), "/volume1"},
        RunCase{"From883", "883", {}, Flash::RedBoot, {}, nullptr},
        RunCase{"From870OtherVolume", "870", {"-v", "/volume2"}, Flash::RedBoot,
                updatertest::join({{kStart}, Dumps("/volume2"), {kIndex}}), "/volume2"},
        RunCase{"GroupUpdate", "410", {"-g"}, Flash::RedBoot, {}, nullptr},
        RunCase{"MSysRoad", "410", {}, Flash::MSys, {}, nullptr}),
    [](const testing::TestParamInfo<RunCase> &i) { return std::string(i.param.name); });

}  // namespace
