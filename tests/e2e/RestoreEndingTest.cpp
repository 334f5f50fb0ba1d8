// SPDX-License-Identifier: MIT
// How sjql-host restore ends when it cannot restore everything: archives damaged after the backup
// are refused one by one, a run asked to stop rolls back the archive at work; the database keeps
// exactly the rows it should, and the exit code and the closing "result=" line tell how it ended.
#include "helpers/HostProcess.h"
#include "helpers/TestDatabase.h"

#include <QDirIterator>
#include <QFile>
#include <QSqlRecord>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <signal.h>

using sjql::test::HostRun;
using sjql::test::RunHost;
using sjql::test::TestDatabase;

namespace {

constexpr int kFailures = 3;

class RestoreEnding : public testing::TestWithParam<const char*>
{
protected:
    HostRun run(const QStringList& args)
    {
        return RunHost(QStringList{args.first(), QStringLiteral("--home"), home.path()} + args.mid(1), exeDir.path());
    }

    // Every row of the three history tables without the generated key, sorted; a connection of its
    // own each time, since the clear compacts an SQLite database by replacing its file.
    static QStringList snapshot(const sjql::host::DatabaseLocation& where)
    {
        QString error;
        auto connection = sjql::host::openHostConnection(where, &error);
        EXPECT_TRUE(connection) << error.toStdString();
        if (!connection)
            return {};
        QStringList rows;
        for (const QString& table : sjql::host::historyTables()) {
            QSqlQuery q(connection->database());
            q.setForwardOnly(true);
            EXPECT_TRUE(q.exec(QStringLiteral("select * from ") + table));
            // The record once per table: building it for every value costs seconds on MariaDB.
            const QSqlRecord record = q.record();
            QList<int> columns;
            for (int i = 0; i < record.count(); ++i) {
                if (record.fieldName(i).compare(QLatin1String("id"), Qt::CaseInsensitive) != 0)
                    columns << i;
            }
            while (q.next()) {
                QStringList values{table};
                for (const int i : columns)
                    values << (q.isNull(i) ? QStringLiteral("NULL") : q.value(i).toString());
                rows << values.join(QLatin1Char('|'));
            }
        }
        rows.sort();
        return rows;
    }

    static bool writeFile(const QString& path, const QByteArray& bytes)
    {
        QFile f(path);
        return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
    }

    QTemporaryDir home, exeDir;
};

TEST_P(RestoreEnding, OnlyDamagedArchivesEndWithFailures)
{
    QStringList init{QStringLiteral("init"),    QStringLiteral("--agents"),    QStringLiteral("1"),
                     QStringLiteral("--years"), QStringLiteral("2019-2020"),   QStringLiteral("--period"),
                     QStringLiteral("202106"),  QStringLiteral("--employees"), QStringLiteral("6")};
    std::unique_ptr<TestDatabase> server;
    sjql::host::DatabaseLocation where;
    if (qstrcmp(GetParam(), "MYSQL") == 0) {
        server = std::make_unique<TestDatabase>(QStringLiteral("MYSQL"));
        ASSERT_TRUE(server->ok()) << server->error().toStdString();
        where = server->location();
        init << QStringLiteral("--db") << where.url;
    } else {
        where.sqliteFile = home.filePath(QStringLiteral("Apps/03/Data/Data.db"));
    }
    ASSERT_EQ(run(init).exitCode, 0);
    const HostRun cleared = run({QStringLiteral("clear"), QStringLiteral("--years"), QStringLiteral("2019"),
                                 QStringLiteral("--backup-dir"), home.filePath(QStringLiteral("bak"))});
    ASSERT_EQ(cleared.exitCode, 0) << cleared.err.toStdString() << cleared.out.toStdString();
    const QString archive = cleared.value(QStringLiteral("archive"));
    ASSERT_FALSE(archive.isEmpty()) << cleared.out.toStdString();
    const QStringList before = snapshot(where);
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
    EXPECT_EQ(snapshot(where), before);
}

// SIGTERM while an archive is being restored: the run stops at the next month and rolls back the
// archive's transaction, so the year is exactly as the clear left it; the host says the run was
// interrupted.
TEST_P(RestoreEnding, SigtermStopsTheRestoreAndRollsBackTheArchiveAtWork)
{
    QStringList init{QStringLiteral("init"),    QStringLiteral("--agents"),    QStringLiteral("1"),
                     QStringLiteral("--years"), QStringLiteral("2017-2018"),   QStringLiteral("--period"),
                     QStringLiteral("202106"),  QStringLiteral("--employees"), QStringLiteral("800")};
    std::unique_ptr<TestDatabase> server;
    sjql::host::DatabaseLocation where;
    if (qstrcmp(GetParam(), "MYSQL") == 0) {
        server = std::make_unique<TestDatabase>(QStringLiteral("MYSQL"));
        ASSERT_TRUE(server->ok()) << server->error().toStdString();
        where = server->location();
        init << QStringLiteral("--db") << where.url;
    } else {
        where.sqliteFile = home.filePath(QStringLiteral("Apps/03/Data/Data.db"));
    }
    ASSERT_EQ(run(init).exitCode, 0);
    const HostRun cleared = run({QStringLiteral("clear"), QStringLiteral("--years"), QStringLiteral("2018"),
                                 QStringLiteral("--backup-dir"), home.filePath(QStringLiteral("bak"))});
    const QStringList archives = cleared.values(QStringLiteral("archive"));
    ASSERT_EQ(archives.size(), 1) << cleared.out.toStdString();
    const QStringList afterClear = snapshot(where);

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
    EXPECT_EQ(snapshot(where), afterClear) << "the archive at work was not rolled back";
}

INSTANTIATE_TEST_SUITE_P(Kinds, RestoreEnding, SJQL_DATABASE_KINDS);

} // namespace
