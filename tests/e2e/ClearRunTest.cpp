// SPDX-License-Identifier: MIT
// sjql-host clear on a demo installation, as a process: the module's window ticks the years, runs
// the backup and answers its dialogs headless. Includes a run killed right after the host removed a
// month and the rerun that must bring every row of the year into the archive, a run stopped by
// Ctrl-C, a second run beside a running one, and a database that refuses every change. The exit
// code and the closing "result=" line must tell how each run ended.
#include "archive/CompressUnit.h"
#include "helpers/BackupRows.h"
#include "helpers/HostProcess.h"
#include "helpers/TestDatabase.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSqlError>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <signal.h>

using namespace sjql;
using namespace sjql::test;

namespace {

// The exit codes of clear and restore.
constexpr int kClean = 0, kFailures = 3, kInterrupted = 4, kBusy = 5;

} // namespace

class ClearRun : public testing::TestWithParam<const char*>
{
protected:
    // The demo installation of the test: small, unless a test needs months that take a while.
    virtual QStringList demoOptions() const
    {
        return {QStringLiteral("--years"), QStringLiteral("2019-2021"),   QStringLiteral("--period"),
                QStringLiteral("202106"),  QStringLiteral("--employees"), QStringLiteral("4")};
    }

    void SetUp() override
    {
        const QString kind = QString::fromLatin1(GetParam());
        QStringList init = QStringList{QStringLiteral("init"), QStringLiteral("--home"), home.path()} + demoOptions();
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

        ASSERT_TRUE(openInstalledDatabase(server.get(), QDir(home.path()), &sqlite, &db));
        backupDir = home.filePath(QStringLiteral("backup"));
        // The agent's own work folder (its code is letters and digits, so the folder bears it as it is).
        workYear = home.filePath(QStringLiteral("Apps/16/TEMP/TMPBFMU/%1/2019").arg(agent));
    }

    void TearDown() override
    {
        db = QSqlDatabase();
        sqlite.reset();
    }

    // `killAfter`: the process kills itself right after the host removed that month.
    HostRun host(const QStringList& args, const QString& killAfter = QString())
    {
        QProcessEnvironment hooks;
        if (!killAfter.isEmpty())
            hooks.insert(QStringLiteral("SJQL_TEST_KILL_AT"), QStringLiteral("cleared:") + killAfter);
        return RunHost(args, exeDir.path(), hooks);
    }

    QStringList clearArgs(const QString& years, const QStringList& more = {}) const
    {
        QStringList args{QStringLiteral("clear"),
                         QStringLiteral("--home"),
                         home.path(),
                         QStringLiteral("--years"),
                         years,
                         QStringLiteral("--backup-dir"),
                         backupDir};
        return args + more;
    }

    HostRun clear(const QString& years, const QStringList& more = {}, const QString& killAfter = QString())
    {
        return host(clearArgs(years, more), killAfter);
    }

    // A data file of the period has been written somewhere in the module's work folders.
    bool dataFileWritten(const QString& period) const
    {
        const QString suffix = QLatin1Char('_') + period + QStringLiteral(".dat");
        QDirIterator it(home.filePath(QStringLiteral("Apps/16/TEMP")), QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            if (it.next().endsWith(suffix))
                return true;
        }
        return false;
    }

    // Names of the archive's members; empty when it cannot be read.
    static QStringList membersOf(const QString& archive, QTemporaryDir& out)
    {
        QString error;
        EXPECT_TRUE(UncompressFile(archive, out.path(), false, ArchivePassword, &error)) << error.toStdString();
        return QDir(out.path()).entryList(QDir::Files);
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
    // The host refuses 202008 (locked by the tax office): the run goes on, but does not end clean.
    ASSERT_EQ(r.exitCode, kFailures) << r.err.toStdString() << r.out.toStdString();
    EXPECT_TRUE(r.lastLine().startsWith(QStringLiteral("result="))) << r.out.toStdString();

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
    ASSERT_EQ(declined.exitCode, kClean) << declined.err.toStdString();
    EXPECT_TRUE(declined.lastLine().startsWith(QStringLiteral("result="))) << declined.out.toStdString();
    EXPECT_EQ(declined.values(QStringLiteral("warning")).size(), 6);
    EXPECT_TRUE(declined.values(QStringLiteral("line")).isEmpty()) << declined.out.toStdString();
    EXPECT_TRUE(declined.values(QStringLiteral("archive")).isEmpty());
    EXPECT_EQ(rowsOf(QStringLiteral("202003")) + rowsOf(QStringLiteral("202011")), rows);

    // The current period's year is never offered, and 1999 holds nothing.
    const HostRun missing = clear(QStringLiteral("2019,1999"));
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_TRUE(missing.lastLine().startsWith(QStringLiteral("result=not done: "))) << missing.out.toStdString();
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
    ASSERT_EQ(rerun.exitCode, kClean) << rerun.err.toStdString();
    EXPECT_TRUE(rerun.lastLine().startsWith(QStringLiteral("result="))) << rerun.out.toStdString();
    const QStringList archives = rerun.values(QStringLiteral("archive"));
    ASSERT_EQ(archives.size(), 1) << rerun.out.toStdString();
    EXPECT_EQ(rerun.values(QStringLiteral("line")).size(), 1) << rerun.out.toStdString();
    expectWholeYear(archives[0], 2019, before);
    for (int m = 1; m <= 12; ++m)
        EXPECT_EQ(rowsOf(periodOf(2019, m)), 0);
    EXPECT_FALSE(QFileInfo::exists(workYear));
}

// Every change is refused, as on a read-only database: no month can be cleared, every row stays,
// and the run says it failed.
TEST_P(ClearRun, DatabaseRefusingEveryChangeEndsWithFailures)
{
    const YearRows before = snapshotYear(db, 2019, agent);
    const bool mysql = server != nullptr;
    for (const char* table : {"ZCGZXJMXB", "FGZXJB", "KJSDSBGB", "SBZB"}) {
        for (const char* event : {"INSERT", "UPDATE", "DELETE"}) {
            const QString name = QStringLiteral("refuse_%1_%2").arg(QLatin1String(event), QLatin1String(table));
            const QString sql = mysql
                                    ? QStringLiteral("CREATE TRIGGER %1 BEFORE %2 ON %3 FOR EACH ROW "
                                                     "SIGNAL SQLSTATE 'HY000' SET MESSAGE_TEXT = 'read-only database'")
                                    : QStringLiteral("CREATE TRIGGER %1 BEFORE %2 ON %3 "
                                                     "BEGIN SELECT RAISE(ABORT, 'read-only database'); END");
            QSqlQuery q(db);
            ASSERT_TRUE(q.exec(sql.arg(name, QLatin1String(event), QLatin1String(table))))
                << q.lastError().text().toStdString();
        }
    }

    const HostRun r = clear(QStringLiteral("2019"));
    EXPECT_EQ(r.exitCode, kFailures) << r.err.toStdString() << r.out.toStdString();
    EXPECT_TRUE(r.lastLine().startsWith(QStringLiteral("result="))) << r.out.toStdString();
    EXPECT_FALSE(r.values(QStringLiteral("line")).isEmpty()) << r.out.toStdString();
    const YearRows after = snapshotYear(db, 2019, agent);
    for (int m = 1; m <= 12; ++m) {
        for (size_t t = 0; t < 3; ++t)
            EXPECT_EQ(after.at(periodOf(2019, m))[t].rows, before.at(periodOf(2019, m))[t].rows)
                << periodOf(2019, m).toStdString() << ' ' << kHistoryTables[t];
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, ClearRun, SJQL_DATABASE_KINDS);

// Months large enough that a run takes a few seconds, for tests that act while it runs.
class BigClearRun : public ClearRun
{
protected:
    QStringList demoOptions() const override
    {
        return {QStringLiteral("--agents"),    QStringLiteral("1"),        QStringLiteral("--years"),
                QStringLiteral("2018-2020"),   QStringLiteral("--period"), QStringLiteral("202106"),
                QStringLiteral("--employees"), QStringLiteral("3000")};
    }
};

// Ctrl-C (twice) while the first month is being saved: the run stops at the next month boundary,
// the months it cleared are in the archive, the others untouched in the database, no row lost or
// packed twice, and the host says it was interrupted.
TEST_P(BigClearRun, CtrlCStopsTheRunBetweenMonths)
{
    const YearRows before = snapshotYear(db, 2019, agent);
    HostProcess run(clearArgs(QStringLiteral("2019")), exeDir.path());
    // Held still while January is being saved, so the stop request surely comes in its middle.
    ASSERT_TRUE(run.waitUntil([this] { return dataFileWritten(QStringLiteral("201901")); }));
    run.signal(SIGSTOP);
    run.signal(SIGINT);
    run.signal(SIGCONT);
    QThread::msleep(50);
    run.signal(SIGINT); // a second Ctrl-C does not kill the run either
    const HostRun r = run.finish();
    ASSERT_FALSE(r.crashed) << r.err.toStdString();
    EXPECT_EQ(r.exitCode, kInterrupted) << r.err.toStdString() << r.out.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("当前月份处理完后停止"))) << r.err.toStdString();
    EXPECT_TRUE(r.lastLine().startsWith(QStringLiteral("result="))) << r.out.toStdString();

    const QStringList archives = r.values(QStringLiteral("archive"));
    ASSERT_EQ(archives.size(), 1) << r.out.toStdString();
    QTemporaryDir out;
    const QStringList members = membersOf(archives[0], out);
    int cleared = 0, kept = 0;
    for (int m = 1; m <= 12; ++m) {
        const QString period = periodOf(2019, m);
        const bool packed = members.contains(QStringLiteral("KJSDSBGB_") + period + QStringLiteral(".dat"));
        if (packed) {
            ++cleared;
            EXPECT_EQ(rowsOf(period), 0) << period.toStdString();
            for (size_t t = 0; t < 3; ++t)
                expectFileHoldsRows(
                    out.filePath(QLatin1String(kHistoryTables[t]) + QLatin1Char('_') + period + QStringLiteral(".dat")),
                    before.at(period)[t]);
        } else {
            for (size_t t = 0; t < 3; ++t) {
                EXPECT_FALSE(members.contains(QLatin1String(kHistoryTables[t]) + QLatin1Char('_') + period +
                                              QStringLiteral(".dat")));
                EXPECT_EQ(snapshotRows(db, QLatin1String(kHistoryTables[t]), period, agent).rows,
                          before.at(period)[t].rows)
                    << period.toStdString();
            }
            kept += rowsOf(period) > 0 ? 1 : 0;
        }
    }
    EXPECT_GE(cleared, 1);
    EXPECT_GE(kept, 1) << "the run was not stopped";
}

// A second clear on the same installation while one runs: refused at once, nothing of its year
// touched; the first goes on undisturbed.
TEST_P(BigClearRun, SecondRunBesideARunningOneIsRefused)
{
    const YearRows before2020 = snapshotYear(db, 2020, agent);
    HostProcess first(clearArgs(QStringLiteral("2019")), exeDir.path());
    // The first run is held still in the middle of its year while the second tries.
    ASSERT_TRUE(first.waitUntil([this] { return dataFileWritten(QStringLiteral("201901")); }));
    first.signal(SIGSTOP);
    const HostRun second = clear(QStringLiteral("2020"));
    first.signal(SIGCONT);
    EXPECT_EQ(second.exitCode, kBusy) << second.err.toStdString() << second.out.toStdString();
    EXPECT_TRUE(second.lastLine().startsWith(QStringLiteral("result="))) << second.out.toStdString();
    EXPECT_TRUE(second.values(QStringLiteral("archive")).isEmpty());

    const HostRun r = first.finish();
    EXPECT_FALSE(r.crashed);
    EXPECT_NE(r.exitCode, kBusy) << r.out.toStdString();
    EXPECT_EQ(r.values(QStringLiteral("archive")).size(), 1) << r.out.toStdString();
    const YearRows after2020 = snapshotYear(db, 2020, agent);
    for (int m = 1; m <= 12; ++m) {
        for (size_t t = 0; t < 3; ++t)
            EXPECT_EQ(after2020.at(periodOf(2020, m))[t].rows, before2020.at(periodOf(2020, m))[t].rows)
                << periodOf(2020, m).toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, BigClearRun, SJQL_DATABASE_KINDS);
