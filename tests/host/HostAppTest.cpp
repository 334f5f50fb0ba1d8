// SPDX-License-Identifier: MIT
// The reference host's scripted mode, run as a user runs it: sjql-host init, info, open.
#include "helpers/HostProcess.h"
#include "helpers/TestDatabase.h"

#include <QCryptographicHash>
#include <QDirIterator>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using sjql::test::HostRun;

namespace {

class HostAppTest : public ::testing::Test, protected sjql::test::HostFolders
{
protected:
    void SetUp() override { ASSERT_TRUE(valid()); }
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
    // The host speaks Chinese in Qt's own dialogs too: Qt's translations are loaded.
    EXPECT_TRUE(info.value(QStringLiteral("qtTranslations")).endsWith(QStringLiteral("/qtbase_zh_CN.qm")))
        << info.out.toStdString();

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
    // The status bar names the module, not the number of its window.
    EXPECT_EQ(open.value(QStringLiteral("status")), QStringLiteral("已打开“历史数据清理”"));
    EXPECT_TRUE(open.err.isEmpty()) << open.err.toStdString();
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

// The commands sjql-host lists in its help, by name.
QStringList listedCommands(const HostRun& help)
{
    QStringList names;
    static const QRegularExpression commandLine(QStringLiteral("^  ([a-z-]+) "));
    for (const QString& line : help.out.split(QLatin1Char('\n'))) {
        const auto m = commandLine.match(line);
        if (m.hasMatch())
            names << m.captured(1);
    }
    return names;
}

// Every command explains itself with --help, in Chinese, and does nothing else: an init asked for
// its help creates no installation, a clear clears nothing, whatever else the line holds.
TEST_F(HostAppTest, EachCommandHasItsOwnHelpAndTheHostItsVersion)
{
    const HostRun help = run({QStringLiteral("--help")});
    ASSERT_EQ(help.exitCode, 0);
    const QStringList names = listedCommands(help);
    for (const char* expected : {"init", "info", "open", "years", "clear", "restore", "hide", "show", "encrypt-config"})
        EXPECT_TRUE(names.contains(QLatin1String(expected))) << expected << '\n' << help.out.toStdString();

    static const QRegularExpression chinese(QStringLiteral("[\\x{4e00}-\\x{9fff}]"));
    const QString none = home.path() + QStringLiteral("/none");
    for (const QString& name : names) {
        for (const QStringList& args : {QStringList{name, QStringLiteral("--help")},
                                        QStringList{name, QStringLiteral("--home"), none, QStringLiteral("-h")},
                                        QStringList{name, QStringLiteral("--bogus"), QStringLiteral("--help")}}) {
            const HostRun r = run(args);
            const std::string what = args.join(QLatin1Char(' ')).toStdString();
            EXPECT_EQ(r.exitCode, 0) << what << '\n' << r.err.toStdString();
            EXPECT_TRUE(r.out.startsWith(QStringLiteral("用法：sjql-host ") + name + QLatin1Char(' '))) << what;
            // The summary line of the command (the one after the usage) is Chinese.
            EXPECT_TRUE(r.out.section(QLatin1Char('\n'), 2, 2).contains(chinese)) << what << '\n'
                                                                                  << r.out.toStdString();
            EXPECT_TRUE(r.err.isEmpty()) << what << '\n' << r.err.toStdString();
        }
        EXPECT_EQ(run({QStringLiteral("help"), name}).out, run({name, QStringLiteral("--help")}).out)
            << name.toStdString();
    }
    EXPECT_FALSE(QFile::exists(none)); // init --home none -h made nothing

    const HostRun version = run({QStringLiteral("--version")});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^sjql-host \\d+\\.\\d+(\\.\\d+)*\n$")).match(version.out).hasMatch())
        << version.out.toStdString();
}

// The scripted window commands print their state in the user's terms and nothing else: no widget
// names on stdout, no platform chatter on stderr.
TEST_F(HostAppTest, YearsAndTheTaxpayerSwitchSpeakTheUsersLanguage)
{
    ASSERT_EQ(run({QStringLiteral("init"), QStringLiteral("--home"), home.path(), QStringLiteral("--agents"),
                   QStringLiteral("1"), QStringLiteral("--employees"), QStringLiteral("3"), QStringLiteral("--years"),
                   QStringLiteral("2022-2023"), QStringLiteral("--period"), QStringLiteral("202402"),
                   QStringLiteral("--quiet")})
                  .exitCode,
              0);
    const auto command = [this](const char* name) {
        return run({QString::fromLatin1(name), QStringLiteral("--home"), home.path()});
    };
    const HostRun years = command("years");
    ASSERT_EQ(years.exitCode, 0) << years.err.toStdString();
    EXPECT_EQ(years.value(QStringLiteral("years")), QStringLiteral("2023年,2022年"));
    EXPECT_TRUE(years.err.isEmpty()) << years.err.toStdString();

    const auto expectState = [](const HostRun& r, const char* stored, const char* taxpayers, const char* words) {
        EXPECT_EQ(r.value(QStringLiteral("HideNsr")), QLatin1String(stored)) << r.out.toStdString();
        EXPECT_EQ(r.value(QStringLiteral("hide_switch")), QStringLiteral("available"));
        EXPECT_EQ(r.value(QStringLiteral("abnormal_taxpayers")), QLatin1String(taxpayers));
        EXPECT_EQ(r.value(QStringLiteral("隐藏非正常纳税人")), QString::fromUtf8(words));
        for (const char* widget : {"btnHINT", "btnShow", "lblts"})
            EXPECT_FALSE(r.out.contains(QLatin1String(widget))) << r.out.toStdString();
    };
    const HostRun hide = command("hide");
    ASSERT_EQ(hide.exitCode, 0) << hide.err.toStdString();
    expectState(hide, "1", "hidden", "已启用");
    EXPECT_TRUE(hide.err.isEmpty()) << hide.err.toStdString();

    // Hiding twice changes nothing and says so, in Chinese.
    const HostRun again = command("hide");
    EXPECT_EQ(again.exitCode, 1);
    expectState(again, "1", "hidden", "已启用");
    EXPECT_TRUE(again.err.contains(QStringLiteral("已经是隐藏的"))) << again.err.toStdString();

    const HostRun show = command("show");
    ASSERT_EQ(show.exitCode, 0) << show.err.toStdString();
    expectState(show, "0", "shown", "未启用");
    EXPECT_TRUE(show.err.isEmpty()) << show.err.toStdString();
}

// What a message says once the names it quotes are taken out: paths, options, commands, and the
// system's own technical detail, which goes in parentheses.
QString wordsOf(QString message)
{
    message.remove(
        QRegularExpression(QStringLiteral("（[^）]*）|“[^”]*”|\"[^\"]*\"|--[a-z-]+|sjql-host( [a-z-]+)?|\\S*/\\S*")));
    return message;
}

// The common mistakes of a command line and a missing file are told in Chinese, with the names
// the user typed; no English sentence reaches the user.
TEST_F(HostAppTest, CommonFailuresAreToldInChinese)
{
    const QString h = home.path();
    const QString none = h + QStringLiteral("/none");
    const struct
    {
        QStringList args;
        int exitCode;
        QString named;
    } cases[] = {
        {{QStringLiteral("frobnicate")}, 2, QStringLiteral("frobnicate")},
        {{QStringLiteral("info"), QStringLiteral("--home"), h, QStringLiteral("--bogus")},
         2,
         QStringLiteral("--bogus")},
        {{QStringLiteral("info"), QStringLiteral("--home")}, 2, QStringLiteral("--home")},
        {{QStringLiteral("info"), QStringLiteral("--home"), h, QStringLiteral("--home"), none}, 2, none},
        {{QStringLiteral("years"), QStringLiteral("--home"), h, QStringLiteral("2019")}, 2, QStringLiteral("2019")},
        {{QStringLiteral("open"), QStringLiteral("--home"), h, QStringLiteral("--floating=1")},
         2,
         QStringLiteral("--floating")},
        {{QStringLiteral("init"), QStringLiteral("--home"), h, QStringLiteral("--agents"), QStringLiteral("many")},
         2,
         QStringLiteral("many")},
        {{QStringLiteral("encrypt-config"), h + QStringLiteral("/missing.ini"), h + QStringLiteral("/out.dat")},
         1,
         QStringLiteral("missing.ini")},
        {{QStringLiteral("encrypt-config"), h + QStringLiteral("/missing.ini")}, 2, QStringLiteral("IN")},
        {{QStringLiteral("info"), QStringLiteral("--home"), none}, 1, QStringLiteral("sjql-host init --home")},
        {{QStringLiteral("clear"), QStringLiteral("--home"), none, QStringLiteral("--years"), QStringLiteral("2019")},
         1,
         QStringLiteral("sjql-host init --home")},
    };
    static const QRegularExpression englishWord(QStringLiteral("[A-Za-z]{4,}"));
    static const QRegularExpression chinese(QStringLiteral("[\\x{4e00}-\\x{9fff}]"));
    for (const auto& c : cases) {
        const HostRun r = run(c.args);
        const std::string what = c.args.join(QLatin1Char(' ')).toStdString() + '\n' + r.err.toStdString();
        EXPECT_EQ(r.exitCode, c.exitCode) << what;
        EXPECT_TRUE(r.err.contains(c.named)) << what;
        EXPECT_TRUE(r.err.contains(chinese)) << what;
        const QString words = wordsOf(r.err);
        EXPECT_FALSE(words.contains(englishWord)) << what << "\nleft: " << words.toStdString();
    }
}

} // namespace
