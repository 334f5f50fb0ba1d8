// SPDX-License-Identifier: MIT
// The reference host's scripted mode, run as a user runs it: sjql-host init, info, open.
#include "HostProcess.h"
#include "db/TestDatabase.h"

#include <QCryptographicHash>
#include <QDirIterator>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using sjql::test::HostRun;
using sjql::test::RunHost;

namespace {

class HostAppTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(home.isValid());
        ASSERT_TRUE(exeDir.isValid());
    }

    HostRun run(const QStringList& args) { return RunHost(args, exeDir.path()); }

    QTemporaryDir home;
    QTemporaryDir exeDir;
};

TEST_F(HostAppTest, InitCreatesTheInstallationAndInfoReportsIt)
{
    const HostRun init =
        run({QStringLiteral("init"), QStringLiteral("--home"), home.path(), QStringLiteral("--agents"),
             QStringLiteral("2"), QStringLiteral("--employees"), QStringLiteral("5"), QStringLiteral("--years"),
             QStringLiteral("2021-2023"), QStringLiteral("--period"), QStringLiteral("202403")});
    ASSERT_EQ(init.exitCode, 0) << init.err.toStdString();
    EXPECT_EQ(init.value(QStringLiteral("period")), QStringLiteral("202403"));
    EXPECT_EQ(init.value(QStringLiteral("agents")).split(QLatin1Char(',')).size(), 2);
    EXPECT_GT(init.value(QStringLiteral("rows")).toLongLong(), 0);
    EXPECT_TRUE(QFile::exists(home.path() + QStringLiteral("/host.ini")));
    EXPECT_TRUE(QFile::exists(home.path() + QStringLiteral("/Apps/03/Data/Data.db")));
    EXPECT_TRUE(QFile::exists(home.path() + QStringLiteral("/Apps/16")));
    EXPECT_TRUE(QFile::exists(home.path() + QStringLiteral("/Users/admin/03.ini")));
    // SysConfig.ini beside the executable, written once with the misspelt section.
    QFile sysConfig(exeDir.path() + QStringLiteral("/SysConfig.ini"));
    ASSERT_TRUE(sysConfig.open(QIODevice::ReadOnly));
    EXPECT_TRUE(sysConfig.readAll().startsWith("[SysCofig]\r\nSupportPhone="));
    EXPECT_TRUE(init.value(QStringLiteral("sysConfigIni")).endsWith(QStringLiteral("(created)")));

    const HostRun info = run({QStringLiteral("info"), QStringLiteral("--home"), home.path()});
    ASSERT_EQ(info.exitCode, 0) << info.err.toStdString();
    EXPECT_EQ(info.value(QStringLiteral("QVR_KJYWRBM")), init.value(QStringLiteral("agentCode")));
    EXPECT_EQ(info.value(QStringLiteral("QVR_SDFY")), QStringLiteral("202403"));
    EXPECT_EQ(info.value(QStringLiteral("QVR_DKDJDBType")), QStringLiteral("SQLITE"));
    EXPECT_EQ(info.value(QStringLiteral("QVR_DKDJAPPCODE")), QStringLiteral("03"));
    EXPECT_EQ(info.value(QStringLiteral("QVR_DKDJENABLE")), QStringLiteral("true"));
    EXPECT_FALSE(info.value(QStringLiteral("QVR_DKDJINITERROR")).isEmpty());
    EXPECT_TRUE(
        info.value(QStringLiteral("QVR_DKDJADOConnection")).startsWith(QStringLiteral("<HostConnection SQLITE, open")));
    EXPECT_EQ(info.value(QStringLiteral("GetCurSubAppPath")), home.path() + QStringLiteral("/Apps/16/"));

    // A second init keeps the SysConfig.ini that is there.
    const HostRun again = run({QStringLiteral("init"), QStringLiteral("--home"), home.path(),
                               QStringLiteral("--employees"), QStringLiteral("3"), QStringLiteral("--no-hide-switch")});
    ASSERT_EQ(again.exitCode, 0) << again.err.toStdString();
    EXPECT_TRUE(again.value(QStringLiteral("sysConfigIni")).endsWith(QStringLiteral("(kept)")));
    EXPECT_EQ(again.value(QStringLiteral("hideSwitch")), QStringLiteral("0"));
}

TEST_F(HostAppTest, OpenShowsTheModuleInTheMainFrameAndTakesAScreenshot)
{
    ASSERT_EQ(run({QStringLiteral("init"), QStringLiteral("--home"), home.path(), QStringLiteral("--employees"),
                   QStringLiteral("3")})
                  .exitCode,
              0);
    const QString shot = home.path() + QStringLiteral("/shot.png");
    const HostRun open =
        run({QStringLiteral("open"), QStringLiteral("--home"), home.path(), QStringLiteral("--screenshot"), shot});
    ASSERT_EQ(open.exitCode, 0) << open.err.toStdString();
    EXPECT_EQ(open.value(QStringLiteral("module")), QStringLiteral("TfrmsjqlMgr"));
    EXPECT_TRUE(open.value(QStringLiteral("notice")).startsWith(QStringLiteral("1282 历史数据清理|")));
    EXPECT_TRUE(open.out.contains(QStringLiteral("notice=1302 160101"))); // the window closed at exit
    QImage image(shot);
    ASSERT_FALSE(image.isNull());
    EXPECT_GE(image.width(), 650);
    EXPECT_GE(image.height(), 522);
    // The module's window paints its light background below the host's bars.
    const QColor inside = image.pixelColor(image.width() / 2, image.height() / 2);
    EXPECT_EQ(inside, QColor(236, 243, 249));
}

TEST_F(HostAppTest, InitAndInfoOnMariaDB)
{
    // A database of its own on the test server (SJQL_TEST_MYSQL_URL); without one this fails.
    sjql::test::TestDatabase db(QStringLiteral("MYSQL"));
    ASSERT_TRUE(db.ok()) << db.error().toStdString();
    const QString url = db.location().url;
    const HostRun init = run({QStringLiteral("init"), QStringLiteral("--home"), home.path(), QStringLiteral("--db"),
                              url, QStringLiteral("--agents"), QStringLiteral("1"), QStringLiteral("--employees"),
                              QStringLiteral("3"), QStringLiteral("--years"), QStringLiteral("2022-2023")});
    ASSERT_EQ(init.exitCode, 0) << init.err.toStdString();
    EXPECT_EQ(init.value(QStringLiteral("dbType")), QStringLiteral("MYSQL"));
    EXPECT_FALSE(QFile::exists(home.path() + QStringLiteral("/Apps/03/Data/Data.db")));
    EXPECT_GT(db.count(QStringLiteral("select count(*) from KJSDSBGB")), 0);
    const HostRun info = run({QStringLiteral("info"), QStringLiteral("--home"), home.path()});
    ASSERT_EQ(info.exitCode, 0) << info.err.toStdString();
    EXPECT_EQ(info.value(QStringLiteral("QVR_DKDJDBType")), QStringLiteral("MYSQL"));
    EXPECT_TRUE(
        info.value(QStringLiteral("QVR_DKDJADOConnection")).startsWith(QStringLiteral("<HostConnection MYSQL, open")))
        << info.out.toStdString();
}

TEST_F(HostAppTest, FailuresSayWhatIsWrong)
{
    const HostRun noHome =
        run({QStringLiteral("info"), QStringLiteral("--home"), home.path() + QStringLiteral("/none")});
    EXPECT_NE(noHome.exitCode, 0);
    EXPECT_TRUE(noHome.err.contains(QStringLiteral("sjql-host init"))) << noHome.err.toStdString();
    const HostRun badOption =
        run({QStringLiteral("init"), QStringLiteral("--home"), home.path(), QStringLiteral("--bogus")});
    EXPECT_EQ(badOption.exitCode, 2);
    EXPECT_TRUE(badOption.err.contains(QStringLiteral("--bogus")));
    const HostRun badYears = run({QStringLiteral("init"), QStringLiteral("--home"), home.path(),
                                  QStringLiteral("--years"), QStringLiteral("2024-2020")});
    EXPECT_NE(badYears.exitCode, 0);
    // clear and restore close with a result line even when they could not run at all.
    const HostRun noInstallation =
        run({QStringLiteral("clear"), QStringLiteral("--home"), home.path() + QStringLiteral("/none"),
             QStringLiteral("--years"), QStringLiteral("2019")});
    EXPECT_EQ(noInstallation.exitCode, 1);
    EXPECT_TRUE(noInstallation.lastLine().startsWith(QStringLiteral("result=not done: ")))
        << noInstallation.out.toStdString();
    const HostRun unknown = run({QStringLiteral("frobnicate")});
    EXPECT_EQ(unknown.exitCode, 2);
    const HostRun help = run({QStringLiteral("--help")});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.out.contains(QStringLiteral("init")) && help.out.contains(QStringLiteral("open")));
}

// Every file under the folder with a digest of its bytes: what a command changed shows up.
QStringList treeOf(const QString& folder)
{
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << path.toStdString();
        files << path + QLatin1Char(' ') +
                     QString::fromLatin1(QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha1).toHex());
    }
    files.sort();
    return files;
}

// A wrong command line is refused with exit code 2 and a message that names what is wrong, before
// anything is opened or written: no database dropped by a repeated init option, no year cleared
// by a half-understood --years.
TEST_F(HostAppTest, WrongCommandLinesExitTwoAndChangeNothing)
{
    const QString h = home.path();
    ASSERT_EQ(run({QStringLiteral("init"), QStringLiteral("--home"), h, QStringLiteral("--agents"), QStringLiteral("1"),
                   QStringLiteral("--employees"), QStringLiteral("3"), QStringLiteral("--years"),
                   QStringLiteral("2019-2020"), QStringLiteral("--period"), QStringLiteral("202106")})
                  .exitCode,
              0);
    const QString archive = h + QStringLiteral("/a.zip");
    ASSERT_TRUE(QFile(archive).open(QIODevice::WriteOnly));
    const QStringList before = treeOf(h);

    const auto clear = [&h](const QStringList& more) {
        return QStringList{QStringLiteral("clear"), QStringLiteral("--home"), h} + more;
    };
    const struct
    {
        QStringList args;
        QString named; // what the message must name
    } cases[] = {
        {clear({QStringLiteral("--years"), QStringLiteral("2019"), QStringLiteral("--years"), QStringLiteral("2020")}),
         QStringLiteral("--years")},
        {clear({QStringLiteral("--years=2019"), QStringLiteral("--years=2019")}), QStringLiteral("--years")},
        {clear({QStringLiteral("--years"), QStringLiteral("2019,2019")}), QStringLiteral("2019")},
        {clear({QStringLiteral("--years"), QStringLiteral("2019,2020,2019")}), QStringLiteral("2019")},
        {clear({QStringLiteral("--years"), QStringLiteral("19")}), QStringLiteral("19")},
        {clear({QStringLiteral("--years"), QStringLiteral("2019,20x0")}), QStringLiteral("20x0")},
        {clear({QStringLiteral("--years"), QStringLiteral("2019-2020")}), QStringLiteral("2019-2020")},
        {clear({QStringLiteral("--years"), QStringLiteral("2019,,2020")}), QStringLiteral("--years")},
        {clear({QStringLiteral("--years=")}), QStringLiteral("--years")},
        {clear({QStringLiteral("--years")}), QStringLiteral("--years")},
        {clear({QStringLiteral("--years"), QStringLiteral("--backup-dir"), h + QStringLiteral("/bak")}),
         QStringLiteral("--years")},
        {clear({QStringLiteral("--years"), QStringLiteral("2019"), QStringLiteral("2020")}), QStringLiteral("2020")},
        {clear({QStringLiteral("--years"), QStringLiteral("2019"), QStringLiteral("--home"), h}),
         QStringLiteral("--home")},
        {clear({QStringLiteral("--years"), QStringLiteral("2019"), QStringLiteral("--backup-dir"),
                h + QStringLiteral("/b1"), QStringLiteral("--backup-dir"), h + QStringLiteral("/b2")}),
         QStringLiteral("--backup-dir")},
        {{QStringLiteral("restore"), QStringLiteral("--home"), h}, QStringLiteral("archive")},
        {{QStringLiteral("restore"), QStringLiteral("--home"), h, archive, archive}, QStringLiteral("a.zip")},
        {{QStringLiteral("init"), QStringLiteral("--home"), h, QStringLiteral("--employees"), QStringLiteral("3"),
          QStringLiteral("--employees"), QStringLiteral("4")},
         QStringLiteral("--employees")},
        {{QStringLiteral("init"), QStringLiteral("--home"), h, QStringLiteral("--years"), QStringLiteral("2024-2020")},
         QStringLiteral("--years")},
        {{QStringLiteral("init"), QStringLiteral("--home"), h, QStringLiteral("--employees"), QStringLiteral("many")},
         QStringLiteral("--employees")},
        {{QStringLiteral("years"), QStringLiteral("--home"), h, QStringLiteral("2019")}, QStringLiteral("2019")},
        {{QStringLiteral("hide"), QStringLiteral("--home"), h, QStringLiteral("--home"), h}, QStringLiteral("--home")},
        {{QStringLiteral("encrypt-config"), archive}, QStringLiteral("IN")},
    };
    for (const auto& c : cases) {
        const HostRun r = run(c.args);
        EXPECT_EQ(r.exitCode, 2) << c.args.join(QLatin1Char(' ')).toStdString() << '\n' << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(c.named)) << c.args.join(QLatin1Char(' ')).toStdString() << '\n'
                                             << r.err.toStdString();
        EXPECT_TRUE(r.out.isEmpty()) << r.out.toStdString();
    }
    EXPECT_EQ(treeOf(h), before);
}

} // namespace
