// SPDX-License-Identifier: MIT
// sjql-host clear on a demo installation, as a process: the module's window ticks the years, runs
// the backup and answers its dialogs headless. Includes a run killed right after the host removed a
// month, and the rerun that must bring every row of the year into the archive.
#include "HostProcess.h"
#include "archive/CompressUnit.h"
#include "cleanup/BackupRows.h"
#include "db/TestDatabase.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace sjql;
using namespace sjql::test;

namespace {} // namespace

class ClearRun : public testing::TestWithParam<const char*>
{
protected:
    void SetUp() override
    {
        const QString kind = QString::fromLatin1(GetParam());
        QStringList init{QStringLiteral("init"),    QStringLiteral("--home"),      home.path(),
                         QStringLiteral("--years"), QStringLiteral("2019-2021"),   QStringLiteral("--period"),
                         QStringLiteral("202106"),  QStringLiteral("--employees"), QStringLiteral("4")};
        if (kind == QLatin1String("MYSQL")) {
            // A database of its own on the test server, reached by the host through its URL.
            server = std::make_unique<TestDatabase>(kind);
            ASSERT_TRUE(server->ok()) << server->error().toStdString();
            init << QStringLiteral("--db") << server->location().url;
        }
        const HostRun r = host(init);
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
        agent = r.values(QStringLiteral("agents")).value(0).section(QLatin1Char(','), 0, 0);
        ASSERT_FALSE(agent.isEmpty()) << r.out.toStdString();

        if (server) {
            db = server->connection().database();
        } else {
            host::DatabaseLocation where;
            where.sqliteFile = home.filePath(QStringLiteral("Apps/03/Data/Data.db"));
            QString error;
            sqlite = host::openHostConnection(where, &error);
            ASSERT_TRUE(sqlite) << error.toStdString();
            db = sqlite->database();
        }
        backupDir = home.filePath(QStringLiteral("backup"));
        workYear = home.filePath(QStringLiteral("Apps/16/TEMP/TMPBFMU/2019"));
    }

    void TearDown() override
    {
        db = QSqlDatabase();
        sqlite.reset();
    }

    HostRun host(const QStringList& args, const QString& abortAfter = QString())
    {
        QProcessEnvironment hooks;
        if (!abortAfter.isEmpty())
            hooks.insert(QStringLiteral("SJQL_TEST_ABORT_AFTER_CLEAR"), abortAfter);
        return RunHost(args, exeDir.path(), hooks);
    }

    HostRun clear(const QString& years, const QStringList& more = {}, const QString& abortAfter = QString())
    {
        return host(QStringList{QStringLiteral("clear"), QStringLiteral("--home"), home.path(),
                                QStringLiteral("--years"), years, QStringLiteral("--backup-dir"), backupDir} +
                        more,
                    abortAfter);
    }

    qint64 rowsOf(const QString& period)
    {
        qint64 n = 0;
        for (const char* table : kHistoryTables) {
            QSqlQuery q(db);
            EXPECT_TRUE(q.exec(QStringLiteral("select count(*) from %1 where FFYF='%2' and KJYWRBM='%3'")
                                   .arg(QLatin1String(table), period, agent)));
            n += q.next() ? q.value(0).toLongLong() : 0;
        }
        return n;
    }

    // The archive holds exactly the year's twelve months (three files each) and the summary, and
    // every file exactly the rows of its month in `before`.
    void expectWholeYear(const QString& archive, int year, const YearRows& before)
    {
        QTemporaryDir out;
        QString error;
        ASSERT_TRUE(UncompressFile(archive, out.path(), false, ArchivePassword, &error)) << error.toStdString();
        EXPECT_EQ(QDir(out.path()).entryList(QDir::Files).size(), 12 * 3 + 1);
        for (int m = 1; m <= 12; ++m) {
            for (int t = 0; t < 3; ++t) {
                const QString file =
                    QLatin1String(kHistoryTables[t]) + QLatin1Char('_') + periodOf(year, m) + QStringLiteral(".dat");
                expectFileHoldsRows(out.filePath(file), before.at(periodOf(year, m))[size_t(t)]);
            }
        }
    }

    QTemporaryDir home, exeDir;
    std::unique_ptr<TestDatabase> server;
    std::unique_ptr<HostConnection> sqlite;
    QSqlDatabase db;
    QString agent, backupDir, workYear;
};

TEST_P(ClearRun, TwoYearsHeadless)
{
    const YearRows before2019 = snapshotYear(db, 2019, agent);
    const HostRun r = clear(QStringLiteral("2020,2019"));
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();

    EXPECT_EQ(r.values(QStringLiteral("warning")).size(), 6) << r.out.toStdString();
    const QStringList lines = r.values(QStringLiteral("line"));
    ASSERT_EQ(lines.size(), 3) << r.out.toStdString();
    EXPECT_TRUE(lines[0].startsWith(QStringLiteral("所属期[202008]的数据清理失败：")));
    const QStringList archives = r.values(QStringLiteral("archive"));
    ASSERT_EQ(archives.size(), 2);
    for (const QString& a : archives) {
        EXPECT_TRUE(a.startsWith(backupDir + QLatin1Char('/'))) << a.toStdString();
        EXPECT_TRUE(lines.join(QLatin1Char('\n')).contains(a));
    }
    const QString archive2019 = archives.filter(QStringLiteral("2019年_") + agent + QLatin1Char('_')).value(0);
    ASSERT_FALSE(archive2019.isEmpty());
    expectWholeYear(archive2019, 2019, before2019);
    for (int m = 1; m <= 12; ++m)
        EXPECT_EQ(rowsOf(periodOf(2019, m)), 0);
    EXPECT_GT(rowsOf(QStringLiteral("202008")), 0);
}

TEST_P(ClearRun, DeclinedWarningsAndMissingYears)
{
    const qint64 rows = rowsOf(QStringLiteral("202003")) + rowsOf(QStringLiteral("202011"));
    const HostRun declined = clear(QStringLiteral("2020"), {QStringLiteral("--decline-warnings")});
    ASSERT_EQ(declined.exitCode, 0) << declined.err.toStdString();
    EXPECT_EQ(declined.values(QStringLiteral("warning")).size(), 6);
    EXPECT_TRUE(declined.values(QStringLiteral("line")).isEmpty()) << declined.out.toStdString();
    EXPECT_TRUE(declined.values(QStringLiteral("archive")).isEmpty());
    EXPECT_EQ(rowsOf(QStringLiteral("202003")) + rowsOf(QStringLiteral("202011")), rows);

    // The current period's year is never offered, and 1999 holds nothing.
    const HostRun missing = clear(QStringLiteral("2019,1999"));
    EXPECT_NE(missing.exitCode, 0);
    EXPECT_TRUE(missing.err.contains(QStringLiteral("1999"))) << missing.err.toStdString();
    EXPECT_GT(rowsOf(QStringLiteral("201901")), 0);
}

// The process dies right after the host removed May; the rerun completes the year and the archive
// holds every row the year had before the first run, none lost and none twice.
TEST_P(ClearRun, RunKilledInTheMiddleOfAYearIsCompletedByTheRerun)
{
    const YearRows before = snapshotYear(db, 2019, agent);
    const HostRun killed = clear(QStringLiteral("2019"), {}, QStringLiteral("201905"));
    ASSERT_TRUE(killed.crashed) << killed.out.toStdString() << killed.err.toStdString();
    EXPECT_EQ(rowsOf(QStringLiteral("201905")), 0);
    EXPECT_GT(rowsOf(QStringLiteral("201906")), 0);
    EXPECT_TRUE(QFileInfo::exists(workYear + QStringLiteral("/KJSDSBGB_201905.dat")));
    EXPECT_TRUE(QDir(backupDir).entryList(QDir::Files).isEmpty());

    const HostRun rerun = clear(QStringLiteral("2019"));
    ASSERT_EQ(rerun.exitCode, 0) << rerun.err.toStdString();
    const QStringList archives = rerun.values(QStringLiteral("archive"));
    ASSERT_EQ(archives.size(), 1) << rerun.out.toStdString();
    EXPECT_EQ(rerun.values(QStringLiteral("line")).size(), 1) << rerun.out.toStdString();
    expectWholeYear(archives[0], 2019, before);
    for (int m = 1; m <= 12; ++m)
        EXPECT_EQ(rowsOf(periodOf(2019, m)), 0);
    EXPECT_FALSE(QFileInfo::exists(workYear));
}

INSTANTIATE_TEST_SUITE_P(Kinds, ClearRun, SJQL_DATABASE_KINDS);
