// SPDX-License-Identifier: MIT
// Backup-and-clear and restore through sjql-host, as a user runs them: two years of demo data are
// cleared into archives by the window's clear button and brought back through its restore button
// and open dialog; every row of the three history tables is back as it was.
#include "helpers/DemoInstallation.h"

#include <QDir>
#include <QDirIterator>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>

#include <gtest/gtest.h>

using sjql::test::HostRun;

class RestoreE2e : public testing::TestWithParam<const char*>, protected sjql::test::DemoInstallation
{
protected:
    HostRun run(const QStringList& args, const QProcessEnvironment& env = {}) { return on(args, env); }
    static QStringList snapshot(const sjql::host::DatabaseLocation& where)
    {
        return sjql::test::historySnapshot(where);
    }

    // Every unpack folder below the module's work folders.
    QStringList unpackFolders() const
    {
        QStringList found;
        QDirIterator it(home.filePath(QStringLiteral("Apps/16/TEMP")), QDir::Dirs | QDir::NoDotAndDotDot,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString dir = it.next();
            if (QFileInfo(dir).fileName() == QLatin1String("UnZipDir"))
                found << dir;
        }
        return found;
    }

    // A demo installation of two agents and the years 2008 and 2009, on the suite's database kind.
    sjql::host::DatabaseLocation makeInstallation()
    {
        EXPECT_TRUE(init(GetParam(), {QStringLiteral("--agents"), QStringLiteral("2"), QStringLiteral("--employees"),
                                      QStringLiteral("4"), QStringLiteral("--years"), QStringLiteral("2008-2009"),
                                      QStringLiteral("--period"), QStringLiteral("201003")}));
        return database;
    }
};

TEST_P(RestoreE2e, ClearedYearsComeBackThroughTheWindow)
{
    ASSERT_TRUE(home.isValid() && exeDir.isValid());
    const sjql::host::DatabaseLocation where = makeInstallation();
    if (HasFailure())
        return;
    const QStringList before = snapshot(where);
    ASSERT_FALSE(before.isEmpty());

    const HostRun cleared = run({QStringLiteral("clear"), QStringLiteral("--years"), QStringLiteral("2008,2009"),
                                 QStringLiteral("--backup-dir"), home.filePath(QStringLiteral("bak"))});
    // The host refuses 200908 (locked by the tax office): a line reports it, so the run ends with 3.
    ASSERT_EQ(cleared.exitCode, 3) << cleared.err.toStdString();
    QStringList archives = cleared.values(QStringLiteral("archive"));
    ASSERT_EQ(archives.size(), 2) << cleared.out.toStdString();
    EXPECT_NE(snapshot(where), before);

    // The archives in the order the user picks them: 2008 first.
    archives.sort();
    const HostRun restored = run(QStringList{QStringLiteral("restore")} + archives);
    ASSERT_EQ(restored.exitCode, 0) << restored.err.toStdString();
    const QStringList lines = restored.values(QStringLiteral("line"));
    ASSERT_EQ(lines.size(), 2) << restored.out.toStdString();
    EXPECT_EQ(lines.at(0), QStringLiteral("数据恢复完成，已恢复的所属期：200801-200812。"));
    EXPECT_TRUE(lines.at(1).startsWith(QStringLiteral("数据恢复完成，已恢复的所属期：200901-")))
        << lines.at(1).toStdString();
    const QStringList after = snapshot(where);
    EXPECT_EQ(after.size(), before.size());
    EXPECT_TRUE(after == before);
    // Nothing of the unpacked archives is left behind, in the agent's work folder or elsewhere.
    EXPECT_TRUE(unpackFolders().isEmpty()) << unpackFolders().join(QLatin1Char(' ')).toStdString();
}

TEST_P(RestoreE2e, KilledRestoreLosesAndDuplicatesNothing)
{
    ASSERT_TRUE(home.isValid() && exeDir.isValid());
    const sjql::host::DatabaseLocation where = makeInstallation();
    if (HasFailure())
        return;
    const QStringList before = snapshot(where);
    const HostRun cleared = run({QStringLiteral("clear"), QStringLiteral("--years"), QStringLiteral("2008"),
                                 QStringLiteral("--backup-dir"), home.filePath(QStringLiteral("bak"))});
    ASSERT_EQ(cleared.exitCode, 0) << cleared.err.toStdString();
    const QStringList archives = cleared.values(QStringLiteral("archive"));
    ASSERT_EQ(archives.size(), 1) << cleared.out.toStdString();
    const QStringList afterClear = snapshot(where);

    // Killed right after the host cleared a month inside the restore's transaction, after a month's
    // rows went in, and just before the commit: each time the database is as the clear left it.
    for (const char* point : {"record-cleared:200803", "rows-inserted:200805", "before-commit"}) {
        QProcessEnvironment env;
        env.insert(QStringLiteral("SJQL_TEST_KILL_AT"), QString::fromLatin1(point));
        const HostRun killed = run(QStringList{QStringLiteral("restore")} + archives, env);
        EXPECT_TRUE(killed.crashed) << point << " " << killed.out.toStdString();
        EXPECT_EQ(snapshot(where), afterClear) << point;
    }
    // The next run restores everything once.
    const HostRun restored = run(QStringList{QStringLiteral("restore")} + archives);
    EXPECT_EQ(restored.exitCode, 0) << restored.out.toStdString() << restored.err.toStdString();
    EXPECT_EQ(restored.values(QStringLiteral("line")),
              QStringList{QStringLiteral("数据恢复完成，已恢复的所属期：200801-200812。")});
    EXPECT_TRUE(snapshot(where) == before);
}

INSTANTIATE_TEST_SUITE_P(Kinds, RestoreE2e, SJQL_DATABASE_KINDS);
