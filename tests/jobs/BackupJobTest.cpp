// SPDX-License-Identifier: MIT
// The backup-and-clear run on demo data, on SQLite and on MariaDB: archives, their members and every
// row in them, the rows left in the database, result lines, progress positions, how the run ends,
// and the failures (folders that cannot be written, a failing statement, declined warnings, files
// left by a run that was cut short or by another agent, a stop request).
#include "jobs/BackupJob.h"

#include "archive/CompressUnit.h"
#include "archive/FileUtils.h"
#include "context/ErrorText.h"
#include "db/RunLock.h"
#include "helpers/BackupRows.h"
#include "helpers/DemoDatabase.h"
#include "helpers/ModuleHost.h"
#include "helpers/TestDatabase.h"
#include "hostapi/Gbk.h"
#include "hostapi/IITIterface.h"
#include "jobs/BackupDataFiles.h"
#include "jobs/ResultLines.h"
#include "jobs/WorkFolders.h"
#include "support/AdtgReader.h"
#include "support/AdtgWriter.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSqlRecord>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <map>

using namespace sjql;
using namespace sjql::test;

class BackupJobDb : public testing::TestWithParam<const char*>
{
protected:
    void SetUp() override
    {
        db = std::make_unique<TestDatabase>(QString::fromLatin1(GetParam()));
        ASSERT_TRUE(fillDemo(*db, {3, 4, 2019, 2021, QStringLiteral("202106")}, &agents));
        useAgent(agents.at(0));
        ASSERT_TRUE(DirExists(home.path()));
        settings.hostAppCode = QStringLiteral("03");
        settings.backupDir = home.filePath(QStringLiteral("Quarvo/备份"));
        settings.subAppDir = home.filePath(QStringLiteral("Apps/16/"));
        settings.workDir = home.filePath(QStringLiteral("Apps/16/TEMP/TMPBFMU"));
        ForceDirs(settings.backupDir);
        ForceDirs(settings.workDir);
        SetArchiveClock([] { return QDateTime(QDate(2021, 6, 15), QTime(14, 30, 5, 123)); });
        callbacks.processEvents = [this] { positions.push_back(position), texts << text; };
        callbacks.confirmWarnings = [this](TDispResultList& list) {
            for (int i = 0; i < list.LineCount(); ++i)
                warnings << list.GetLine(i).Text;
            return acceptWarnings;
        };
        callbacks.compact = [this] {
            ++compactions;
            return CompactResult{};
        };
    }
    void TearDown() override
    {
        SetArchiveClock({});
        host::state().valueObject.clear();
    }

    void useAgent(const QString& agent)
    {
        test::publishHost(db->connectionPtr(), db->kind(), agent);
        settings.agentCode = agent;
    }

    bool run(const QStringList& years)
    {
        settings.years = years;
        BackupJob job(settings, callbacks);
        results.ClearLines();
        const bool ended = job.Run(text, position, results);
        cleared = job.cleared();
        archives = job.archives();
        outcome = job.outcome();
        lines.clear();
        for (int i = 0; i < results.LineCount(); ++i)
            lines << results.GetLine(i).Text;
        return ended;
    }

    // The current agent's own work folder, where its years' files are gathered.
    QString agentDir() const { return AgentWorkDir(settings.workDir, settings.agentCode); }
    QString agentYear(const QString& year) const { return AddBackslash(agentDir()) + year; }

    // A month saved into data files below `workDir` and then removed by the host, as a run that
    // was cut short right after the clear leaves it.
    void saveAndClearMonth(const QString& workDir, const QString& period)
    {
        ASSERT_GT(monthRows(period), 0);
        QSqlQuery query;
        const MonthDataFilesResult written = WriteMonthDataFiles(workDir, period, settings.agentCode, query);
        ASSERT_EQ(written.outcome, MonthDataFilesResult::Written) << written.error.toStdString();
        query.finish();
        char buffer[SJQL_IIT_RESULT_BUFFER_SIZE] = {};
        char* result = buffer;
        ASSERT_EQ(ClearDKDJData(toGbk(period).constData(), toGbk(settings.agentCode).constData(), &result), 0);
        ASSERT_EQ(monthRows(period), 0);
    }

    void requestStop()
    {
        host::VoEntry stop;
        stop.name = QStringLiteral("QVR_STOPREQUEST");
        stop.kind = host::VoEntry::Bool;
        stop.flag = true;
        host::state().valueObject.push_back(stop);
    }

    YearRows snapshotYear(int year)
    {
        return test::snapshotYear(db->connection().database(), year, settings.agentCode);
    }

    qint64 monthRows(const QString& period)
    {
        qint64 n = 0;
        for (const char* t : kHistoryTables)
            n += db->count(QStringLiteral("select count(*) from %1 where FFYF='%2' and KJYWRBM='%3'")
                               .arg(QLatin1String(t), period, settings.agentCode));
        return n;
    }

    // Unpacks an archive and checks: exactly the files of the "Y" months and the summary; every row
    // of each "Y" month, no more and no fewer; the summary's flag for every month.
    void expectArchiveHolds(const QString& archive, int year, const YearRows& before, const QStringList& clearedMonths)
    {
        QTemporaryDir out;
        QString error;
        ASSERT_TRUE(UncompressFile(archive, out.path(), false, ArchivePassword, &error)) << error.toStdString();
        QStringList expected{QStringLiteral("BFZYXX.xml")};
        for (const QString& p : clearedMonths) {
            for (const auto& kind : BackupDataFileKinds())
                expected << BackupDataFileName(QLatin1String(kind.fileTemplate), p);
        }
        QStringList members = QDir(out.path()).entryList(QDir::Files);
        members.sort();
        expected.sort();
        EXPECT_EQ(members, expected);

        for (const QString& p : clearedMonths) {
            for (int t = 0; t < 3; ++t) {
                const auto& kind = BackupDataFileKinds()[size_t(t)];
                expectFileHoldsRows(out.filePath(BackupDataFileName(QLatin1String(kind.fileTemplate), p)),
                                    before.at(p)[size_t(t)]);
            }
        }
        QFile f(out.filePath(QStringLiteral("BFZYXX.xml")));
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        const QString summary = fromGbk(QByteArrayView(f.readAll()));
        EXPECT_TRUE(summary.contains(QStringLiteral("YEAR=\"%1\"").arg(year)));
        EXPECT_EQ(summary.count(QStringLiteral("<RECORD ")), 12);
        for (int m = 1; m <= 12; ++m) {
            const QString p = periodOf(year, m);
            const QString flag = clearedMonths.contains(p) ? QStringLiteral("Y") : QStringLiteral("N");
            EXPECT_TRUE(summary.contains(QStringLiteral("SDYF=\"%1\"").arg(p)));
            EXPECT_TRUE(summary.contains(
                QRegularExpression(QStringLiteral("SDYF=\"%1\" WYSBH=\"[^\"]*\" SFQL=\"%2\"").arg(p, flag))))
                << p.toStdString() << " " << flag.toStdString();
        }
    }

    QStringList yearList()
    {
        const QString col = db->sqlite() ? QStringLiteral("substr(FFYF,1,4)") : QStringLiteral("left(FFYF,4)");
        QSqlQuery q =
            db->exec(QStringLiteral("select %1 from KJSDSBGB where %1<>'2021'  group by %1 order by %1 desc").arg(col));
        QStringList years;
        while (q.next())
            years << q.value(0).toString();
        return years;
    }

    QString msg(int number, const QStringList& params = {}) { return MessageLine(number, params); }

    // Runs 2019 with files of `period` left in the agent's year folder that must not be replaced:
    // the month keeps its `rows`, the files stay byte for byte, and the one line of the month names
    // the folder.
    void expectLeftoversKeepTheMonth(const QString& period, qint64 rows, const std::map<QString, QByteArray>& kept);

    std::unique_ptr<TestDatabase> db;
    QStringList agents;
    QTemporaryDir home;
    BackupJobSettings settings;
    BackupJobCallbacks callbacks;
    TDispResultList results;
    QString text;
    qint16 position = 0;
    std::vector<int> positions;
    QStringList texts, warnings, lines, archives;
    bool acceptWarnings = true;
    bool cleared = false;
    RunOutcome outcome;
    int compactions = 0;
};

TEST_P(BackupJobDb, TwoYearsAreSavedClearedAndPacked)
{
    const auto before2020 = snapshotYear(2020);
    const auto before2019 = snapshotYear(2019);

    ASSERT_TRUE(run({QStringLiteral("2020"), QStringLiteral("2019")}));

    // The demo's first agent answers every kind of warning in 2020; 202008 is locked and refused.
    const QStringList expectedWarnings{
        msg(MsgWarning, {QStringLiteral("202003"), QStringLiteral("当月自查未申报")}),
        msg(MsgWarning, {QStringLiteral("202004"), QStringLiteral("当月自查已申报未反馈")}),
        msg(MsgWarning, {QStringLiteral("202005"), QStringLiteral("处理失败")}),
        msg(MsgWarning, {QStringLiteral("202006"), QStringLiteral("当月未申报")}),
        msg(MsgWarning, {QStringLiteral("202007"), QStringLiteral("当月未反馈")}),
        msg(MsgWarningsEnd)};
    EXPECT_EQ(warnings, expectedWarnings);

    const QString name2020 = QStringLiteral("个税代扣代缴备份文件2020年_%1_20210615143005123.zip").arg(agents[0]);
    const QString name2019 = QStringLiteral("个税代扣代缴备份文件2019年_%1_20210615143005123.zip").arg(agents[0]);
    const QString path2020 = AddBackslash(settings.backupDir) + name2020;
    const QString path2019 = AddBackslash(settings.backupDir) + name2019;
    ASSERT_EQ(archives, (QStringList{path2020, path2019}));
    ASSERT_EQ(lines.size(), 3);
    EXPECT_TRUE(lines[0].startsWith(QStringLiteral("所属期[202008]的数据清理失败：")));
    EXPECT_TRUE(lines[0].contains(QStringLiteral("锁定"))) << lines[0].toStdString();
    EXPECT_EQ(lines[1], msg(MsgArchived, {QStringLiteral("2020"), path2020}));
    EXPECT_EQ(lines[2], msg(MsgArchived, {QStringLiteral("2019"), path2019}));

    QStringList cleared2020, cleared2019;
    for (int m = 1; m <= 12; ++m) {
        if (m != 8)
            cleared2020 << periodOf(2020, m);
        cleared2019 << periodOf(2019, m);
    }
    expectArchiveHolds(path2020, 2020, before2020, cleared2020);
    expectArchiveHolds(path2019, 2019, before2019, cleared2019);

    for (const QString& p : cleared2020 + cleared2019)
        EXPECT_EQ(monthRows(p), 0) << p.toStdString();
    qint64 kept = 0;
    for (const TableRows& t : before2020.at(QStringLiteral("202008")))
        kept += qint64(t.rows.size());
    EXPECT_GT(kept, 0);
    EXPECT_EQ(monthRows(QStringLiteral("202008")), kept);

    // Work folders of packed years are gone; 5, 10, then 3 per cleared month; compaction once.
    EXPECT_FALSE(DirExists(agentYear(QStringLiteral("2020"))));
    EXPECT_FALSE(DirExists(agentYear(QStringLiteral("2019"))));
    EXPECT_FALSE(DirExists(AddBackslash(settings.workDir) + QStringLiteral("2019")));
    ASSERT_GE(positions.size(), 2u);
    EXPECT_EQ(positions[0], 5);
    EXPECT_EQ(positions[1], 10);
    EXPECT_EQ(position, 10 + 23 * 3);
    EXPECT_EQ(texts.last(), QStringLiteral("正在压缩数据库"));
    EXPECT_TRUE(texts.contains(QStringLiteral("正在备份清理[201907]扣缴所得税报告表数据")));
    EXPECT_EQ(compactions, 1);
    EXPECT_TRUE(cleared);
    // Other agents keep their history; the first agent's 202008 keeps 2020 in the list.
    EXPECT_EQ(yearList(), (QStringList{QStringLiteral("2020"), QStringLiteral("2019")}));
    useAgent(agents[1]);
    EXPECT_GT(monthRows(QStringLiteral("201905")), 0);
    // The refused month is a failure the run's ending tells.
    EXPECT_EQ(outcome.ending, RunEnding::Failures);
    EXPECT_TRUE(outcome.summary.contains(QStringLiteral("2个年度"))) << outcome.summary.toStdString();
    EXPECT_TRUE(outcome.summary.contains(QStringLiteral("1个月份未清理"))) << outcome.summary.toStdString();
}

// A month is only cleared once its files read back whole with the database's row counts. Two
// months' wage files are spoiled right after they were written: one cut in half, one replaced by
// another valid file with a different number of rows. Both months stay in the database and out of
// the archive, with a line saying why; the other months go on as usual.
TEST_P(BackupJobDb, DataFileThatDoesNotReadBackKeepsItsMonth)
{
    const auto before = snapshotYear(2019);
    auto wageFile = [this](const QString& p) {
        return BackupDataFilePath(agentDir(), QLatin1String(BackupDataFileKinds()[0].fileTemplate), p);
    };
    // The month's non-wage rows as a data file: valid, but not the wage rows.
    QTemporaryDir scratch;
    const QString other = scratch.filePath(QStringLiteral("other.dat"));
    {
        QSqlQuery q(db->connection().database());
        ASSERT_TRUE(q.exec(
            QStringLiteral("select * from FGZXJB where FFYF='201905' and KJYWRBM='%1'").arg(settings.agentCode)));
        QString error;
        ASSERT_TRUE(adtg::SaveRecordsetAdtg(q, db->connection().database(), QStringLiteral("FGZXJB"), other, &error))
            << error.toStdString();
    }
    std::atomic<bool> cut = false, replaced = false;
    callbacks.dataFileWritten = [&](const QString& path) {
        if (path == wageFile(QStringLiteral("201903"))) {
            QFile f(path);
            cut = f.resize(f.size() / 2);
        }
        if (path == wageFile(QStringLiteral("201905")))
            replaced = QFile::remove(path) && QFile::copy(other, path);
    };
    ASSERT_TRUE(run({QStringLiteral("2019")}));
    ASSERT_TRUE(cut && replaced);

    ASSERT_EQ(lines.size(), 3);
    EXPECT_TRUE(lines[0].startsWith(
        msg(MsgClearFailed,
            {QStringLiteral("201903"), QStringLiteral("备份数据文件ZCGZXJMXB_201903.dat无法读回，未清理：")})))
        << lines[0].toStdString();
    EXPECT_TRUE(lines[1].startsWith(
        msg(MsgClearFailed, {QStringLiteral("201905"), QStringLiteral("备份数据文件ZCGZXJMXB_201905.dat读回的")})))
        << lines[1].toStdString();
    EXPECT_TRUE(lines[1].contains(QStringLiteral("未清理")));
    EXPECT_EQ(outcome.ending, RunEnding::Failures);
    ASSERT_EQ(archives.size(), 1);
    EXPECT_EQ(lines[2], msg(MsgArchived, {QStringLiteral("2019"), archives[0]}));

    QStringList clearedMonths;
    for (int m = 1; m <= 12; ++m) {
        const QString p = periodOf(2019, m);
        if (m == 3 || m == 5) {
            qint64 rows = 0;
            for (const TableRows& t : before.at(p))
                rows += qint64(t.rows.size());
            EXPECT_EQ(monthRows(p), rows) << p.toStdString();
        } else {
            clearedMonths << p;
            EXPECT_EQ(monthRows(p), 0) << p.toStdString();
        }
    }
    expectArchiveHolds(archives[0], 2019, before, clearedMonths);
}

TEST_P(BackupJobDb, ProgressOfFullyClearedYears)
{
    useAgent(agents[1]);
    // Only this agent's reports are left, so the window's year list shows what the run cleared.
    db->exec(QStringLiteral("delete from KJSDSBGB where KJYWRBM<>'%1'").arg(agents[1]));
    ASSERT_EQ(yearList(), (QStringList{QStringLiteral("2020"), QStringLiteral("2019")}));
    ASSERT_TRUE(run({QStringLiteral("2020"), QStringLiteral("2019")}));
    EXPECT_TRUE(warnings.isEmpty());
    EXPECT_EQ(position, 82);
    EXPECT_TRUE(yearList().isEmpty());
    ASSERT_TRUE(run({QStringLiteral("2021")})) << lines.join(QLatin1Char('\n')).toStdString();
    // 2021 up to the period: 202105 has no feedback and 202106 is not declared (accepted
    // warnings, cleared like the others); the months after it hold nothing and are skipped.
    EXPECT_EQ(position, 10 + 6 * 7);
}

TEST_P(BackupJobDb, OneFullYearEndsAt94)
{
    useAgent(agents[1]);
    ASSERT_TRUE(run({QStringLiteral("2019")}));
    EXPECT_EQ(position, 94);
    EXPECT_EQ(lines, QStringList{msg(MsgArchived, {QStringLiteral("2019"), archives.value(0)})});
    EXPECT_EQ(outcome.ending, RunEnding::Clean);
    EXPECT_EQ(outcome.summary, QStringLiteral("备份清理完成：1个年度已备份"));
}

TEST_P(BackupJobDb, BackupFolderThatCannotBeCreatedGoesToTheFallback)
{
    QFile blocker(home.filePath(QStringLiteral("plain-file")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    settings.backupDir = blocker.fileName() + QStringLiteral("/备份");
    useAgent(agents[1]);
    ASSERT_TRUE(run({QStringLiteral("2020"), QStringLiteral("2019")}));
    ASSERT_EQ(archives.size(), 2);
    for (const QString& a : archives) {
        EXPECT_TRUE(a.startsWith(settings.subAppDir + QStringLiteral("TEMP/"))) << a.toStdString();
        EXPECT_TRUE(QFileInfo::exists(a));
    }
    EXPECT_EQ(lines, (QStringList{msg(MsgArchivedFallback, {QStringLiteral("2020"), archives[0]}),
                                  msg(MsgArchivedFallback, {QStringLiteral("2019"), archives[1]})}));
    EXPECT_EQ(compactions, 1);
}

TEST_P(BackupJobDb, NoWritableFolderKeepsTheYearsFilesAndEndsTheRun)
{
    QFile blocker(home.filePath(QStringLiteral("plain-file")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    settings.backupDir = blocker.fileName() + QStringLiteral("/备份");
    settings.subAppDir = blocker.fileName() + QStringLiteral("/");
    useAgent(agents[1]);
    const auto before = snapshotYear(2020);
    EXPECT_FALSE(run({QStringLiteral("2020"), QStringLiteral("2019")}));
    const QString folder = agentYear(QStringLiteral("2020"));
    // The last line says where the cleared months are and how to finish the year.
    EXPECT_EQ(lines, (QStringList{msg(MsgArchiveFailed, {QStringLiteral("2020")}),
                                  QStringLiteral("2020年度已清理的数据只保存在%1中，再次清理2020年度即可将其打包备份")
                                      .arg(QDir::toNativeSeparators(folder))}));
    EXPECT_TRUE(archives.isEmpty());
    EXPECT_EQ(compactions, 0);
    EXPECT_EQ(outcome.ending, RunEnding::Failures);
    EXPECT_TRUE(outcome.summary.contains(QDir::toNativeSeparators(folder))) << outcome.summary.toStdString();
    // The database changed, so the window refreshes its year list (where the year shows unfinished).
    EXPECT_TRUE(cleared);

    // The year's folder holds every cleared month's files and the summary; 2019 was not touched.
    EXPECT_TRUE(QFileInfo::exists(folder + QStringLiteral("/BFZYXX.xml")));
    for (int m = 1; m <= 12; ++m) {
        const QString p = periodOf(2020, m);
        EXPECT_EQ(monthRows(p), 0);
        for (int t = 0; t < 3; ++t) {
            expectFileHoldsRows(
                BackupDataFilePath(agentDir(), QLatin1String(BackupDataFileKinds()[size_t(t)].fileTemplate), p),
                before.at(p)[size_t(t)]);
        }
    }
    EXPECT_GT(monthRows(QStringLiteral("201903")), 0);
}

TEST_P(BackupJobDb, FailingStatementInTheSecondYearEndsTheRun)
{
    useAgent(agents[1]);
    callbacks.processEvents = [this] {
        if (text == QStringLiteral("正在备份清理[201901]数据"))
            db->exec(QStringLiteral("drop table SBZB"));
    };
    EXPECT_FALSE(run({QStringLiteral("2020"), QStringLiteral("2019")}));
    ASSERT_EQ(archives.size(), 1);
    EXPECT_TRUE(QFileInfo::exists(archives[0]));
    EXPECT_EQ(lines, (QStringList{msg(MsgArchived, {QStringLiteral("2020"), archives[0]}),
                                  FormatErrorText(QLatin1String(kDbErrorCode))}));
    EXPECT_EQ(compactions, 0);
    EXPECT_TRUE(cleared);
    EXPECT_EQ(outcome.ending, RunEnding::Failures);
    EXPECT_GT(monthRows(QStringLiteral("201901")), 0);
}

TEST_P(BackupJobDb, DeclinedWarningsChangeNothing)
{
    qint64 rows = 0;
    for (int m = 1; m <= 12; ++m)
        rows += monthRows(periodOf(2020, m));
    acceptWarnings = false;
    EXPECT_FALSE(run({QStringLiteral("2020")}));
    EXPECT_EQ(warnings.size(), 6);
    EXPECT_TRUE(lines.isEmpty());
    qint64 after = 0;
    for (int m = 1; m <= 12; ++m)
        after += monthRows(periodOf(2020, m));
    EXPECT_EQ(after, rows);
    EXPECT_TRUE(QDir(settings.backupDir).isEmpty());
    EXPECT_FALSE(DirExists(agentYear(QStringLiteral("2020"))));
    EXPECT_EQ(compactions, 0);
    EXPECT_FALSE(cleared);
    EXPECT_EQ(outcome.ending, RunEnding::Clean);
}

// A run cut short after the host removed a month leaves that month only in the work folder; the
// rerun must pack those files instead of writing empty ones over them.
TEST_P(BackupJobDb, FilesLeftByACutShortRunArePacked)
{
    useAgent(agents[1]);
    const auto before = snapshotYear(2019);
    saveAndClearMonth(agentDir(), QStringLiteral("201904"));

    ASSERT_TRUE(run({QStringLiteral("2019")}));
    QStringList all;
    for (int m = 1; m <= 12; ++m)
        all << periodOf(2019, m);
    ASSERT_EQ(archives.size(), 1);
    expectArchiveHolds(archives[0], 2019, before, all);
    EXPECT_EQ(position, 94);
    EXPECT_EQ(outcome.ending, RunEnding::Clean);
    EXPECT_FALSE(DirExists(agentYear(QStringLiteral("2019"))));
}

// Files holding rows the database no longer has, while it still has others of the month: the
// month is not cleared and the files stay in the work folder.
TEST_P(BackupJobDb, LeftoverFilesWithMoreRowsAreNeverReplaced)
{
    useAgent(agents[1]);
    const QString period = QStringLiteral("201904");
    QSqlQuery query;
    ASSERT_EQ(WriteMonthDataFiles(agentDir(), period, settings.agentCode, query).outcome,
              MonthDataFilesResult::Written);
    query.finish();
    const QString file = BackupDataFilePath(agentDir(), QStringLiteral("ZCGZXJMXB_YYYYMM.dat"), period);
    const QByteArray bytes = [&] {
        QFile f(file);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }();
    ASSERT_FALSE(bytes.isEmpty());
    db->exec(QStringLiteral("delete from ZCGZXJMXB where FFYF='%1' and KJYWRBM='%2' and GH=(select min(GH) from "
                            "(select GH from ZCGZXJMXB where FFYF='%1' and KJYWRBM='%2') t)")
                 .arg(period, settings.agentCode));
    const qint64 rows = monthRows(period);

    ASSERT_TRUE(run({QStringLiteral("2019")}));
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(lines[0].contains(period));
    EXPECT_TRUE(lines[0].contains(QStringLiteral("未清理"))) << lines[0].toStdString();
    EXPECT_EQ(monthRows(period), rows);
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), bytes);
    EXPECT_EQ(monthRows(QStringLiteral("201905")), 0);
}

// --- Files in the work folder are judged by the rows they hold ---

namespace {

QByteArray bytesOf(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The bytes of every file below a folder, by path relative to it.
std::map<QString, QByteArray> filesBelow(const QString& folder)
{
    std::map<QString, QByteArray> out;
    QDirIterator it(folder, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        out[QDir(folder).relativeFilePath(path)] = bytesOf(path);
    }
    return out;
}

} // namespace

void BackupJobDb::expectLeftoversKeepTheMonth(const QString& period, qint64 rows,
                                              const std::map<QString, QByteArray>& kept)
{
    ASSERT_TRUE(run({QStringLiteral("2019")}));
    ASSERT_EQ(lines.size(), 2) << lines.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(lines[0].startsWith(msg(MsgClearFailed, {period, QString()}))) << lines[0].toStdString();
    EXPECT_TRUE(lines[0].contains(QDir::toNativeSeparators(agentYear(QStringLiteral("2019")))))
        << lines[0].toStdString();
    EXPECT_EQ(monthRows(period), rows);
    for (const auto& [name, bytes] : kept)
        EXPECT_EQ(bytesOf(AddBackslash(agentDir()) + name), bytes) << name.toStdString();
    EXPECT_EQ(outcome.ending, RunEnding::Failures);
}

// Another agent's month, cleared and left in the shared folder older versions used: a run for this
// agent neither replaces nor deletes nor packs it, and backs up its own year whole.
TEST_P(BackupJobDb, AnotherAgentsLeftoversAreNeverTouched)
{
    useAgent(agents[0]);
    saveAndClearMonth(settings.workDir, QStringLiteral("201904"));
    const auto theirs = filesBelow(settings.workDir);
    ASSERT_EQ(theirs.size(), 3u);

    useAgent(agents[1]);
    const auto before = snapshotYear(2019);
    ASSERT_TRUE(run({QStringLiteral("2019")}));
    ASSERT_EQ(archives.size(), 1);
    EXPECT_EQ(lines, QStringList{msg(MsgArchived, {QStringLiteral("2019"), archives[0]})});
    QStringList all;
    for (int m = 1; m <= 12; ++m)
        all << periodOf(2019, m);
    expectArchiveHolds(archives[0], 2019, before, all);
    EXPECT_EQ(outcome.ending, RunEnding::Clean);
    EXPECT_EQ(filesBelow(settings.workDir), theirs);
}

// The other agent's files copied into this agent's own folder: they are kept byte for byte and the
// month is not cleared, with a line naming the folder.
TEST_P(BackupJobDb, AnotherAgentsFilesInTheAgentsFolderKeepTheMonth)
{
    useAgent(agents[0]);
    const QString otherDir = agentDir();
    saveAndClearMonth(otherDir, QStringLiteral("201904"));
    useAgent(agents[1]);
    ASSERT_TRUE(QDir().rename(otherDir, agentDir()));
    const auto theirs = filesBelow(agentDir());
    const qint64 rows = monthRows(QStringLiteral("201904"));
    ASSERT_GT(rows, 0);

    expectLeftoversKeepTheMonth(QStringLiteral("201904"), rows, theirs);
    EXPECT_EQ(monthRows(QStringLiteral("201905")), 0);
}

// The month was cleared after its files were written; later the user entered other rows for it, as
// many as the files hold and more. The files hold rows the database does not: they are kept as they
// are and the month (with the new rows) is not cleared.
TEST_P(BackupJobDb, LeftoverBesideReenteredRowsKeepsTheMonth)
{
    useAgent(agents[1]);
    const QString period = QStringLiteral("201904");
    saveAndClearMonth(agentDir(), period);
    const auto kept = filesBelow(agentDir());
    // Each table gets one row more than its file holds, so counting rows would find the files
    // covered by the database.
    static const char* const entries[3] = {"ZCGZXJMXB (KJYWRBM, GH, XM, FFYF, YFGZ)",
                                           "FGZXJB (KJYWRBM, ZZHM, XM, FFYF, SRE)",
                                           "KJSDSBGB (KJYWRBM, ZZHM, NSRXM, FFYF, SRE)"};
    qint64 entered = 0;
    for (int t = 0; t < 3; ++t) {
        adtg::AdtgRecordset file;
        ASSERT_TRUE(file.open(
            BackupDataFilePath(agentDir(), QLatin1String(BackupDataFileKinds()[size_t(t)].fileTemplate), period)));
        for (qint64 i = 0; i <= file.recordCount(); ++i, ++entered)
            db->exec(QStringLiteral("insert into %1 values ('%2', 'N%3', '新录入%3', '%4', %5)")
                         .arg(QLatin1String(entries[t]), settings.agentCode)
                         .arg(i)
                         .arg(period)
                         .arg(1000 + i));
    }
    ASSERT_EQ(monthRows(period), entered);

    expectLeftoversKeepTheMonth(period, entered, kept);
}

// A value the restore could not write back unchanged (a text holding a NUL character) keeps its
// month in the database, with a line naming the table, the column and the reason.
TEST_P(BackupJobDb, ValueThatCannotBeRestoredKeepsTheMonth)
{
    useAgent(agents[1]);
    const QString period = QStringLiteral("201906");
    QSqlQuery q(db->connection().database());
    ASSERT_TRUE(q.prepare(QStringLiteral("update KJSDSBGB set BZ=? where FFYF=? and KJYWRBM=?")));
    q.addBindValue(QStringLiteral("备注") + QChar(0) + QStringLiteral("尾"));
    q.addBindValue(period);
    q.addBindValue(settings.agentCode);
    ASSERT_TRUE(q.exec());
    q.finish();
    const qint64 rows = monthRows(period);

    ASSERT_TRUE(run({QStringLiteral("2019")}));
    ASSERT_EQ(lines.size(), 2) << lines.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(lines[0].startsWith(msg(MsgClearFailed, {period, QStringLiteral("KJSDSBGB")})))
        << lines[0].toStdString();
    EXPECT_TRUE(lines[0].contains(QStringLiteral("BZ"))) << lines[0].toStdString();
    EXPECT_EQ(monthRows(period), rows);
    EXPECT_EQ(monthRows(QStringLiteral("201905")), 0);
    EXPECT_EQ(outcome.ending, RunEnding::Failures);
}

// A wage file that reads back with as many rows as selected, one of them with another amount: the
// month is not cleared.
TEST_P(BackupJobDb, DataFileWithAChangedValueKeepsItsMonth)
{
    useAgent(agents[1]);
    const QString period = QStringLiteral("201907");
    const QString wageFile = BackupDataFilePath(agentDir(), QStringLiteral("ZCGZXJMXB_YYYYMM.dat"), period);
    // The same selection with one amount raised, written over the wage file once it is written.
    QTemporaryDir scratch;
    const QString changed = scratch.filePath(QStringLiteral("w.dat"));
    {
        QSqlQuery other(db->connection().database());
        ASSERT_TRUE(other.exec(QStringLiteral("select * from ZCGZXJMXB where FFYF='%1' and KJYWRBM='%2' order by id")
                                   .arg(period, settings.agentCode)));
        db->exec(QStringLiteral("update ZCGZXJMXB set YFGZ=YFGZ+1 where FFYF='%1' and KJYWRBM='%2'")
                     .arg(period, settings.agentCode));
        ASSERT_TRUE(other.exec());
        QString error;
        ASSERT_TRUE(
            adtg::SaveRecordsetAdtg(other, db->connection().database(), QStringLiteral("ZCGZXJMXB"), changed, &error))
            << error.toStdString();
        other.finish();
        db->exec(QStringLiteral("update ZCGZXJMXB set YFGZ=YFGZ-1 where FFYF='%1' and KJYWRBM='%2'")
                     .arg(period, settings.agentCode));
    }
    std::atomic<bool> spoiled = false;
    callbacks.dataFileWritten = [&](const QString& path) {
        if (path == wageFile)
            spoiled = QFile::remove(path) && QFile::copy(changed, path);
    };
    const qint64 rows = monthRows(period);
    ASSERT_TRUE(run({QStringLiteral("2019")}));
    ASSERT_TRUE(spoiled);
    ASSERT_EQ(lines.size(), 2) << lines.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(lines[0].startsWith(msg(MsgClearFailed, {period, QString()}))) << lines[0].toStdString();
    EXPECT_EQ(monthRows(period), rows);
    EXPECT_EQ(outcome.ending, RunEnding::Failures);
}

// The agent's own month left in the shared folder of older versions is taken into the agent's
// folder and packed with its year.
TEST_P(BackupJobDb, OwnLeftoversInTheOldSharedFolderArePacked)
{
    useAgent(agents[1]);
    const auto before = snapshotYear(2019);
    saveAndClearMonth(settings.workDir, QStringLiteral("201904"));
    ASSERT_TRUE(run({QStringLiteral("2019")}));
    QStringList all;
    for (int m = 1; m <= 12; ++m)
        all << periodOf(2019, m);
    ASSERT_EQ(archives.size(), 1);
    expectArchiveHolds(archives[0], 2019, before, all);
    EXPECT_TRUE(filesBelow(settings.workDir).empty());
    EXPECT_EQ(outcome.ending, RunEnding::Clean);
}

// A run killed after its archive was checked but before the work folder was emptied: the rerun
// finds the year's months whole in that archive, removes the copies and writes no second archive
// that would hold the same rows again.
TEST_P(BackupJobDb, MonthsAlreadyInTheYearsArchiveAreNotPackedTwice)
{
    useAgent(agents[1]);
    const auto before = snapshotYear(2019);
    ASSERT_TRUE(run({QStringLiteral("2019")}));
    ASSERT_EQ(archives.size(), 1);
    const QString first = archives[0];
    ASSERT_TRUE(UncompressFile(first, agentYear(QStringLiteral("2019")), false, ArchivePassword));

    ASSERT_TRUE(run({QStringLiteral("2019")}));
    EXPECT_TRUE(archives.isEmpty());
    EXPECT_EQ(QDir(settings.backupDir).entryList(QDir::Files), QStringList{QFileInfo(first).fileName()});
    ASSERT_EQ(lines.size(), 1) << lines.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(lines[0].startsWith(QStringLiteral("所属期201901、201902"))) << lines[0].toStdString();
    EXPECT_TRUE(lines[0].contains(QDir::toNativeSeparators(first)));
    EXPECT_FALSE(DirExists(agentYear(QStringLiteral("2019"))));
    EXPECT_EQ(outcome.ending, RunEnding::Clean);
    QStringList all;
    for (int m = 1; m <= 12; ++m)
        all << periodOf(2019, m);
    expectArchiveHolds(first, 2019, before, all);
}

// --- Years with nothing cleared, endings, stop requests ---

// A year without history packs nothing and says so; it is no failure. A year whose every month the
// host refuses is not packed either, and the refusals make the ending a failure.
TEST_P(BackupJobDb, YearWithNothingClearedIsNotPacked)
{
    useAgent(agents[1]);
    ASSERT_TRUE(run({QStringLiteral("2018")}));
    EXPECT_EQ(lines, QStringList{QStringLiteral("2018年度没有月份被清理，未生成备份文件")});
    EXPECT_TRUE(archives.isEmpty());
    EXPECT_TRUE(QDir(settings.backupDir).isEmpty());
    EXPECT_FALSE(DirExists(agentYear(QStringLiteral("2018"))));
    EXPECT_EQ(outcome.ending, RunEnding::Clean);

    db->exec(QStringLiteral("update SBZB set SDBZ=1 where SBYF like '2019%' and KJYWRBM='%1'").arg(settings.agentCode));
    const qint64 rows = monthRows(QStringLiteral("201903"));
    ASSERT_TRUE(run({QStringLiteral("2019")}));
    ASSERT_EQ(lines.size(), 13);
    for (int m = 1; m <= 12; ++m)
        EXPECT_TRUE(lines[m - 1].startsWith(msg(MsgClearFailed, {periodOf(2019, m), QString()})));
    EXPECT_EQ(lines[12], QStringLiteral("2019年度没有月份被清理，未生成备份文件"));
    for (const QString& line : lines)
        EXPECT_FALSE(line.contains(QStringLiteral("已备份并清理"))) << line.toStdString();
    EXPECT_TRUE(archives.isEmpty());
    EXPECT_EQ(monthRows(QStringLiteral("201903")), rows);
    EXPECT_EQ(outcome.ending, RunEnding::Failures);
}

// The host's clear commits and then loses its answer, as when the connection drops right after the
// commit: the month is gone from the database although the clear reports a failure, so its files
// must stay in the work folder, and the next run of the year packs them.
TEST_P(BackupJobDb, ClearWhoseAnswerWasLostKeepsTheMonthsFilesForTheNextRun)
{
    useAgent(agents[1]);
    const auto before = snapshotYear(2019);
    const QString lost = QStringLiteral("201905");
    qputenv("SJQL_TEST_CLEAR_LOSES_ANSWER", lost.toLatin1());
    const bool ran = run({QStringLiteral("2019")});
    qunsetenv("SJQL_TEST_CLEAR_LOSES_ANSWER");
    ASSERT_TRUE(ran);
    EXPECT_EQ(monthRows(lost), 0);
    for (const auto& kind : BackupDataFileKinds())
        EXPECT_TRUE(QFileInfo::exists(BackupDataFilePath(agentDir(), QLatin1String(kind.fileTemplate), lost)));
    EXPECT_TRUE(lines.join(QLatin1Char('\n')).contains(QStringLiteral("其备份数据文件保留在")))
        << lines.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(outcome.ending, RunEnding::Failures);
    EXPECT_TRUE(outcome.summary.contains(lost)) << outcome.summary.toStdString();
    QStringList others;
    for (int m = 1; m <= 12; ++m) {
        if (periodOf(2019, m) != lost)
            others << periodOf(2019, m);
    }
    ASSERT_EQ(archives.size(), 1);
    expectArchiveHolds(archives[0], 2019, before, others);

    ASSERT_TRUE(run({QStringLiteral("2019")}));
    ASSERT_EQ(archives.size(), 1);
    expectArchiveHolds(archives[0], 2019, before, {lost});
    EXPECT_EQ(outcome.ending, RunEnding::Clean);
    EXPECT_FALSE(DirExists(agentYear(QStringLiteral("2019"))));
}

// Another backup or restore of this agent holds the run lock: nothing is touched and the run says
// it is busy.
TEST_P(BackupJobDb, RunLockHeldElsewhereTouchesNothing)
{
    useAgent(agents[1]);
    RunLock other;
    QString error;
    ASSERT_TRUE(other.acquire(settings.agentCode, &error)) << error.toStdString();
    const qint64 rows = monthRows(QStringLiteral("201903"));
    EXPECT_FALSE(run({QStringLiteral("2019")}));
    EXPECT_EQ(outcome.ending, RunEnding::Busy);
    ASSERT_EQ(lines.size(), 1);
    EXPECT_EQ(lines[0], outcome.summary);
    EXPECT_TRUE(warnings.isEmpty());
    EXPECT_EQ(monthRows(QStringLiteral("201903")), rows);
    EXPECT_FALSE(DirExists(agentDir()));
    EXPECT_EQ(compactions, 0);
    other.release();
    EXPECT_TRUE(run({QStringLiteral("2019")}));
    EXPECT_EQ(monthRows(QStringLiteral("201903")), 0);
}

// A stop requested while March is worked on: March is finished, the months done are packed, April
// on and the next year stay in the database, no compaction, and the last line says so.
TEST_P(BackupJobDb, StopRequestStopsAtAMonthBoundary)
{
    useAgent(agents[1]);
    const auto before = snapshotYear(2020);
    const qint64 rows2019 = monthRows(QStringLiteral("201901"));
    callbacks.processEvents = [&] {
        if (text == QStringLiteral("正在备份清理[202003]数据"))
            requestStop();
    };
    EXPECT_FALSE(run({QStringLiteral("2020"), QStringLiteral("2019")}));
    ASSERT_EQ(archives.size(), 1);
    ASSERT_EQ(lines.size(), 2) << lines.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(lines[0], msg(MsgArchived, {QStringLiteral("2020"), archives[0]}));
    EXPECT_TRUE(lines[1].startsWith(QStringLiteral("运行被中断："))) << lines[1].toStdString();
    EXPECT_TRUE(lines[1].contains(QStringLiteral("202004"))) << lines[1].toStdString();
    EXPECT_EQ(outcome.ending, RunEnding::Interrupted);
    EXPECT_EQ(compactions, 0);

    QTemporaryDir out;
    ASSERT_TRUE(UncompressFile(archives[0], out.path(), false, ArchivePassword));
    EXPECT_EQ(QDir(out.path()).entryList(QDir::Files).size(), 3 * 3 + 1);
    for (int m = 1; m <= 3; ++m) {
        EXPECT_EQ(monthRows(periodOf(2020, m)), 0);
        for (int t = 0; t < 3; ++t)
            expectFileHoldsRows(out.filePath(BackupDataFileName(
                                    QLatin1String(BackupDataFileKinds()[size_t(t)].fileTemplate), periodOf(2020, m))),
                                before.at(periodOf(2020, m))[size_t(t)]);
    }
    EXPECT_GT(monthRows(QStringLiteral("202004")), 0);
    EXPECT_EQ(monthRows(QStringLiteral("201901")), rows2019);
}

INSTANTIATE_TEST_SUITE_P(Kinds, BackupJobDb, SJQL_DATABASE_KINDS);

TEST(BackupMessages, ParametersAreJoinedAndCut)
{
    host::resetState();
    // Unknown pre-check results carry their number.
    EXPECT_EQ(PrecheckStatusText(7), QStringLiteral("未知的检查结果(7)"));
    EXPECT_EQ(PrecheckStatusText(-1), QStringLiteral("处理失败"));
    const QString longText(300, QChar(0x4E2D));
    const QString line = MessageLine(MsgClearFailed, {QStringLiteral("201901"), longText});
    EXPECT_EQ(line, host::catalogueText(MsgClearFailed,
                                        truncateGbk(toGbk(QStringLiteral("201901") + QChar(1) + longText), 255)));
    EXPECT_TRUE(line.contains(QStringLiteral("201901")));
}
