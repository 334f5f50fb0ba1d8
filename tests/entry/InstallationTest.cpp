// SPDX-License-Identifier: MIT
// sjql-host on an installed system, as a process: the folder of the executable is read-only there,
// so its settings go to the user's configuration folder; init either makes a whole installation or
// none; --employees reaches the benchmark's size; a clear and a restore leave no empty work folder
// in the module's sub-application folder.
#include "helpers/HostProcess.h"
#include "helpers/ReadOnlyFolder.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace sjql::test;

namespace {

class Installed : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(exeDir.isValid() && xdg.isValid() && root.isValid());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), xdg.path() + QStringLiteral("/config"));
        env.insert(QStringLiteral("XDG_DATA_HOME"), xdg.path() + QStringLiteral("/data"));
    }
    HostRun host(const QStringList& args) const { return RunHost(args, exeDir.path(), env); }
    HostRun init(const QString& home, const QStringList& more = {}) const
    {
        return host(QStringList{QStringLiteral("init"), QStringLiteral("--home"), home, QStringLiteral("--quiet")} +
                    more);
    }
    QString userIni() const { return xdg.path() + QStringLiteral("/config/sjql-host/SysConfig.ini"); }

    QTemporaryDir exeDir; // stands in for the host executable's folder
    QTemporaryDir xdg;    // the user's configuration and data folders
    QTemporaryDir root;   // installations
    QProcessEnvironment env;
};

// Every folder below `folder` that holds nothing.
QStringList emptyFolders(const QString& folder)
{
    QStringList found;
    QDirIterator it(folder, QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (QDir(path).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot))
            found << path;
    }
    return found;
}

} // namespace

TEST_F(Installed, AReadOnlyExecutableFolderSendsSysConfigToTheUsersFolder)
{
    const QString home = root.path() + QStringLiteral("/demo");
    {
        ReadOnlyFolder readOnly(exeDir.path());
        ASSERT_TRUE(readOnly.holds());
        const HostRun r = init(home, {QStringLiteral("--employees"), QStringLiteral("4")});
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
        EXPECT_EQ(r.value(QStringLiteral("sysConfigIni")), userIni() + QStringLiteral(" (created)"));
        const HostRun info = host({QStringLiteral("info"), QStringLiteral("--home"), home});
        ASSERT_EQ(info.exitCode, 0) << info.err.toStdString();
        EXPECT_EQ(info.value(QStringLiteral("sysConfigIni")), userIni());
        // A second init keeps the user's file.
        const HostRun again =
            init(root.path() + QStringLiteral("/second"), {QStringLiteral("--employees"), QStringLiteral("3")});
        ASSERT_EQ(again.exitCode, 0) << again.err.toStdString();
        EXPECT_EQ(again.value(QStringLiteral("sysConfigIni")), userIni() + QStringLiteral(" (kept)"));
    }
    QFile ini(userIni());
    ASSERT_TRUE(ini.open(QIODevice::ReadOnly));
    EXPECT_TRUE(ini.readAll().startsWith("[SysCofig]\r\nSupportPhone="));
    EXPECT_TRUE(QDir(exeDir.path()).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));

    // A writable executable folder takes a new file itself, and its file is the one read from then on.
    QFile::remove(userIni());
    const HostRun beside =
        init(root.path() + QStringLiteral("/third"), {QStringLiteral("--employees"), QStringLiteral("3")});
    ASSERT_EQ(beside.exitCode, 0) << beside.err.toStdString();
    EXPECT_EQ(beside.value(QStringLiteral("sysConfigIni")), exeDir.path() + QStringLiteral("/SysConfig.ini (created)"));
    EXPECT_FALSE(QFile::exists(userIni()));
}

TEST_F(Installed, InitThatCannotWriteSysConfigAnywhereMakesNothing)
{
    // The user's configuration folder is a file: nothing can be made below it.
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), QStringLiteral("/dev/null"));
    const QString home = root.path() + QStringLiteral("/demo");
    ReadOnlyFolder readOnly(exeDir.path());
    ASSERT_TRUE(readOnly.holds());
    const HostRun r = init(home, {QStringLiteral("--employees"), QStringLiteral("3")});
    EXPECT_EQ(r.exitCode, 1) << r.out.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("SysConfig.ini"))) << r.err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(home)) << "a half-made installation was left";
}

TEST_F(Installed, EmployeesReachTheBenchmarksFiftyThousand)
{
    const QString home = root.path() + QStringLiteral("/demo");
    const HostRun tooMany = init(home, {QStringLiteral("--employees"), QStringLiteral("50001")});
    EXPECT_EQ(tooMany.exitCode, 2);
    EXPECT_TRUE(tooMany.err.contains(QStringLiteral("employees"))) << tooMany.err.toStdString();
    // 50,000 passes the check: the run stops at the next option, before anything is made.
    const HostRun most = init(home, {QStringLiteral("--employees"), QStringLiteral("50000"), QStringLiteral("--db"),
                                     QStringLiteral("nonsense")});
    EXPECT_EQ(most.exitCode, 2);
    EXPECT_FALSE(most.err.contains(QStringLiteral("employees"))) << most.err.toStdString();
    EXPECT_TRUE(most.err.contains(QStringLiteral("--db"))) << most.err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(home));
}

TEST_F(Installed, ClearAndRestoreLeaveNoEmptyWorkFolder)
{
    const QString home = root.path() + QStringLiteral("/demo");
    const QString backups = root.path() + QStringLiteral("/backups");
    const HostRun made =
        init(home, {QStringLiteral("--employees"), QStringLiteral("3"), QStringLiteral("--years"),
                    QStringLiteral("2019-2020"), QStringLiteral("--period"), QStringLiteral("202006")});
    ASSERT_EQ(made.exitCode, 0) << made.err.toStdString();
    const QString subApp = home + QStringLiteral("/Apps/16");
    // Another agent's file waiting in the work folder is not the run's to remove.
    const QString kept = subApp + QStringLiteral("/TEMP/TMPBFMU/other-agent/2018/KJSDSBGB_201801.dat");
    ASSERT_TRUE(QDir().mkpath(QFileInfo(kept).absolutePath()));
    {
        QFile f(kept);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("rows");
    }

    const HostRun cleared = host({QStringLiteral("clear"), QStringLiteral("--home"), home, QStringLiteral("--years"),
                                  QStringLiteral("2019"), QStringLiteral("--backup-dir"), backups});
    ASSERT_EQ(cleared.exitCode, 0) << cleared.out.toStdString() << cleared.err.toStdString();
    const QString archive = cleared.value(QStringLiteral("archive"));
    ASSERT_TRUE(QFileInfo::exists(archive)) << cleared.out.toStdString();
    EXPECT_EQ(emptyFolders(subApp), QStringList());
    EXPECT_TRUE(QFileInfo::exists(kept));

    const HostRun restored = host({QStringLiteral("restore"), QStringLiteral("--home"), home, archive});
    ASSERT_EQ(restored.exitCode, 0) << restored.out.toStdString() << restored.err.toStdString();
    EXPECT_EQ(emptyFolders(subApp), QStringList());
    EXPECT_TRUE(QFileInfo::exists(kept));

    // Without anything else there, the work folders go altogether.
    ASSERT_TRUE(QDir(subApp + QStringLiteral("/TEMP/TMPBFMU/other-agent")).removeRecursively());
    const HostRun again = host({QStringLiteral("clear"), QStringLiteral("--home"), home, QStringLiteral("--years"),
                                QStringLiteral("2019"), QStringLiteral("--backup-dir"), backups});
    ASSERT_EQ(again.exitCode, 0) << again.out.toStdString() << again.err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(subApp + QStringLiteral("/TEMP")));
    EXPECT_EQ(emptyFolders(subApp), QStringList());
}
