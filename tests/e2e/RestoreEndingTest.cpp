// SPDX-License-Identifier: MIT
// How sjql-host restore ends when it cannot restore everything: archives damaged after the backup
// are refused one by one, a run asked to stop rolls back the archive at work; the database keeps
// exactly the rows it should, and the exit code and the closing "result=" line tell how it ended.
#include "helpers/DemoInstallation.h"

#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <signal.h>

using sjql::test::HostRun;

namespace {

constexpr int kFailures = 3;

class RestoreEnding : public testing::TestWithParam<const char*>, protected sjql::test::DemoInstallation
{
protected:
    void SetUp() override { ASSERT_TRUE(valid()); }

    HostRun run(const QStringList& args) { return on(args); }
    QStringList snapshot() const { return sjql::test::historySnapshot(database); }

    // A demo installation of one agent with `employees` employees over `years`, and a clear of
    // `year` into the folder "bak" of the installation.
    HostRun initAndClear(const QString& years, const QString& employees, const QString& year)
    {
        EXPECT_TRUE(init(GetParam(), {QStringLiteral("--agents"), QStringLiteral("1"), QStringLiteral("--years"), years,
                                      QStringLiteral("--period"), QStringLiteral("202106"),
                                      QStringLiteral("--employees"), employees}));
        return run({QStringLiteral("clear"), QStringLiteral("--years"), year, QStringLiteral("--backup-dir"),
                    home.filePath(QStringLiteral("bak"))});
    }

    static bool writeFile(const QString& path, const QByteArray& bytes)
    {
        QFile f(path);
        return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
    }
};

TEST_P(RestoreEnding, OnlyDamagedArchivesEndWithFailures)
{
    const HostRun cleared = initAndClear(QStringLiteral("2019-2020"), QStringLiteral("6"), QStringLiteral("2019"));
    ASSERT_FALSE(HasFailure());
    ASSERT_EQ(cleared.exitCode, 0) << cleared.err.toStdString() << cleared.out.toStdString();
    const QString archive = cleared.value(QStringLiteral("archive"));
    ASSERT_FALSE(archive.isEmpty()) << cleared.out.toStdString();
    const QStringList before = snapshot();
    ASSERT_FALSE(before.isEmpty());

    // Two copies of the archive, damaged the way transfers damage files: cut short, and with a
    // stretch of bytes in the middle overwritten.
    QFile f(archive);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();
    ASSERT_GT(bytes.size(), 1000);
    QByteArray overwritten = bytes;
    for (qsizetype i = bytes.size() / 3; i < bytes.size() / 3 + 64; ++i)
        overwritten[i] = char(~overwritten[i]);
    const QString cut = home.filePath(QStringLiteral("cut.zip"));
    const QString scrambled = home.filePath(QStringLiteral("scrambled.zip"));
    ASSERT_TRUE(writeFile(cut, bytes.left(bytes.size() / 2)));
    ASSERT_TRUE(writeFile(scrambled, overwritten));

    const HostRun restored = run({QStringLiteral("restore"), cut, scrambled});
    EXPECT_EQ(restored.exitCode, kFailures) << restored.err.toStdString() << restored.out.toStdString();
    // Each archive is named in the lines that tell why it was refused.
    const QString lines = restored.values(QStringLiteral("line")).join(QLatin1Char('\n'));
    EXPECT_TRUE(lines.contains(cut) && lines.contains(scrambled)) << restored.out.toStdString();
    EXPECT_TRUE(restored.lastLine().startsWith(QStringLiteral("result="))) << restored.out.toStdString();
    EXPECT_GT(restored.lastLine().size(), 7) << "the closing line says nothing";
    EXPECT_EQ(snapshot(), before);
}

// SIGTERM while an archive is being restored: the run stops at the next month and rolls back the
// archive's transaction, so the year is exactly as the clear left it; the host says the run was
// interrupted.
TEST_P(RestoreEnding, SigtermStopsTheRestoreAndRollsBackTheArchiveAtWork)
{
    const HostRun cleared = initAndClear(QStringLiteral("2017-2018"), QStringLiteral("800"), QStringLiteral("2018"));
    ASSERT_FALSE(HasFailure());
    const QStringList archives = cleared.values(QStringLiteral("archive"));
    ASSERT_EQ(archives.size(), 1) << cleared.out.toStdString();
    const QStringList afterClear = snapshot();

    sjql::test::HostProcess restore(
        {QStringLiteral("restore"), QStringLiteral("--home"), home.path(), archives.first()}, exeDir.path());
    // Held still once January is unpacked, so the request surely comes while the archive is at work.
    const QString work = home.filePath(QStringLiteral("Apps/16/TEMP"));
    ASSERT_TRUE(restore.waitUntil([&work] {
        QDirIterator it(work, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            if (it.next().endsWith(QStringLiteral("_201801.dat")))
                return true;
        }
        return false;
    }));
    restore.signal(SIGSTOP);
    restore.signal(SIGTERM);
    restore.signal(SIGCONT);
    const HostRun r = restore.finish();
    ASSERT_FALSE(r.crashed) << r.err.toStdString();
    EXPECT_EQ(r.exitCode, 4) << r.err.toStdString() << r.out.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("收到 SIGTERM：当前月份处理完后停止"))) << r.err.toStdString();
    EXPECT_TRUE(r.lastLine().startsWith(QStringLiteral("result="))) << r.out.toStdString();
    EXPECT_EQ(snapshot(), afterClear) << "the archive at work was not rolled back";
}

INSTANTIATE_TEST_SUITE_P(Kinds, RestoreEnding, SJQL_DATABASE_KINDS);

} // namespace
