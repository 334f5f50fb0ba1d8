// SPDX-License-Identifier: MIT
// The run log and the values in statements, on demo data, SQLite and MariaDB: a data file that does
// not read back, a summary that cannot be written and an archive that cannot be unpacked leave
// their whole error text in the day's run log with the agent, year and month; an agent code with a
// quote or a backslash selects and clears exactly its own rows, and comes back whole.
#include "archive/FileUtils.h"
#include "context/ModuleContext.h"
#include "db/ModuleLog.h"
#include "db/SqlLog.h"
#include "helpers/ModuleHost.h"
#include "helpers/TestDatabase.h"
#include "hostapi/Gbk.h"
#include "jobs/BackupDataFiles.h"
#include "jobs/BackupJob.h"
#include "jobs/RestoreJob.h"
#include "jobs/ResultLines.h"
#include "jobs/WorkFolders.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>

using namespace sjql;
using namespace sjql::test;

namespace {

const QDate kToday(2021, 6, 15);

class RunLog : public testing::TestWithParam<const char*>
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(home.isValid());
        db = std::make_unique<TestDatabase>(QString::fromLatin1(GetParam()));
        ASSERT_TRUE(db->ok()) << db->error().toStdString();
        host::DemoOptions options;
        options.agents = 2;
        options.employees = 3;
        options.firstYear = 2019;
        options.lastYear = 2019;
        options.period = QStringLiteral("202003");
        host::DemoResult demo;
        QString error;
        ASSERT_TRUE(host::createDemoDatabase(db->connection(), db->kind(), options, &demo, &error))
            << error.toStdString();
        agents = demo.agentCodes;
        useAgent(agents.at(0));
        QDir().mkpath(home.filePath(QStringLiteral("log")));
        SetSqlLogFolderOverride(home.filePath(QStringLiteral("log")));
        SetSqlLogClock([] { return QDateTime(kToday, QTime(10, 20, 30)); });
        SetHostExeDirOverride(home.path());
        settings.hostAppCode = QStringLiteral("03");
        settings.backupDir = home.filePath(QStringLiteral("backup"));
        settings.subAppDir = home.filePath(QStringLiteral("Apps/16/"));
        settings.workDir = home.filePath(QStringLiteral("Apps/16/TEMP/TMPBFMU"));
        ForceDirs(settings.backupDir);
        ForceDirs(settings.workDir);
        callbacks.processEvents = [this] {
            if (onEvents)
                onEvents();
        };
        callbacks.compact = [] { return CompactResult{}; };
    }
    void TearDown() override
    {
        host::state().valueObject.clear();
        SetSqlLogFolderOverride(QString());
        SetSqlLogClock(nullptr);
        SetHostExeDirOverride(QString());
    }

    void useAgent(const QString& agent)
    {
        publishHost(db->connectionPtr(), db->kind(), agent);
        settings.agentCode = agent;
    }

    // Runs a backup-and-clear of 2019 and returns its result lines.
    QStringList backup2019()
    {
        settings.years = {QStringLiteral("2019")};
        BackupJob job(settings, callbacks);
        TDispResultList results;
        qint16 position = 0;
        (void)job.Run(progressText, position, results);
        archives = job.archives();
        outcome = job.outcome();
        QStringList lines;
        for (int i = 0; i < results.LineCount(); ++i)
            lines << results.GetLine(i).Text;
        return lines;
    }

    QStringList restore(const QStringList& files)
    {
        RestoreSettings restoreSettings;
        restoreSettings.archives = files;
        restoreSettings.unpackFolder = home.filePath(QStringLiteral("unpack"));
        restoreSettings.backupFolder = settings.backupDir;
        restoreSettings.agentCode = settings.agentCode;
        restoreSettings.hostAppCode = settings.hostAppCode;
        RestoreJob job(restoreSettings);
        job.processEvents = [] {};
        TDispResultList results;
        QString text;
        qint16 position = 0;
        (void)job.Run(text, position, results);
        outcome = job.outcome();
        QStringList lines;
        for (int i = 0; i < results.LineCount(); ++i)
            lines << results.GetLine(i).Text;
        return lines;
    }

    // The day's run log, decoded; each entry starts with the fixed clock's time stamp.
    QString runLog() const
    {
        QFile f(ModuleLogFilePath(kToday));
        return f.open(QIODevice::ReadOnly) ? fromGbk(QByteArrayView(f.readAll())) : QString();
    }
    QString entryHead(const QString& about) const
    {
        return QStringLiteral("2021/6/15 10:20:30  ") + about + QStringLiteral("  ");
    }

    qint64 rowsOf(const QString& agent)
    {
        qint64 n = 0;
        for (const QString& table : host::historyTables()) {
            QSqlQuery q(db->connection().database());
            EXPECT_TRUE(
                q.prepare(QStringLiteral("select count(*) from ") + table + QStringLiteral(" where KJYWRBM=?")));
            q.addBindValue(agent);
            EXPECT_TRUE(q.exec() && q.next());
            n += q.value(0).toLongLong();
        }
        return n;
    }

    QTemporaryDir home;
    std::unique_ptr<TestDatabase> db;
    QStringList agents;
    BackupJobSettings settings;
    BackupJobCallbacks callbacks;
    std::function<void()> onEvents;
    QString progressText;
    QStringList archives;
    RunOutcome outcome;
};

} // namespace

// A wage file cut in half after it was written: the month stays, its line is cut to the host's
// 255 bytes, and the log holds the reader's own words with the agent and month.
TEST_P(RunLog, DataFileThatDoesNotReadBackIsLoggedWhole)
{
    const QString wageFile =
        BackupDataFilePath(AgentWorkDir(settings.workDir, settings.agentCode),
                           QLatin1String(BackupDataFileKinds()[0].fileTemplate), QStringLiteral("201903"));
    std::atomic<bool> cut = false;
    // The wage file is complete, and is spoiled before it is read back.
    callbacks.dataFileWritten = [&](const QString& path) {
        if (path == wageFile) {
            QFile f(path);
            cut = f.resize(f.size() / 2);
        }
    };
    const QStringList lines = backup2019();
    ASSERT_TRUE(cut);
    ASSERT_FALSE(lines.isEmpty());
    EXPECT_TRUE(lines[0].contains(QStringLiteral("ZCGZXJMXB_201903.dat无法读回"))) << lines[0].toStdString();

    const QString log = runLog();
    const QString head = entryHead(QStringLiteral("agent=%1 year=2019 month=201903").arg(settings.agentCode)) +
                         QStringLiteral("备份数据文件ZCGZXJMXB_201903.dat无法读回，未清理：");
    const qsizetype at = log.indexOf(head);
    ASSERT_GE(at, 0) << log.toStdString();
    // The reader's reason follows, not an empty remainder.
    const QString reason = log.mid(at + head.size()).section(QStringLiteral("\r\n"), 0, 0);
    EXPECT_FALSE(reason.trimmed().isEmpty());
    // The run's summary is logged as its last entry.
    EXPECT_TRUE(log.endsWith(entryHead(QStringLiteral("agent=") + settings.agentCode) + outcome.summary +
                             QStringLiteral("\r\n")))
        << log.toStdString();
}

// A folder where the year's summary should be written: the result line only says the archive could
// not be made; the log says why, naming the file.
TEST_P(RunLog, SummaryThatCannotBeWrittenIsLoggedWithItsReason)
{
    const QString summary =
        AddBackslash(AgentWorkDir(settings.workDir, settings.agentCode)) + QStringLiteral("2019/BFZYXX.xml");
    ASSERT_TRUE(QDir().mkpath(summary + QStringLiteral("/in-the-way")));
    const QStringList lines = backup2019();
    ASSERT_GE(lines.size(), 2);
    EXPECT_EQ(lines[lines.size() - 2], MessageLine(MsgArchiveFailed, {QStringLiteral("2019")}))
        << lines.join(u'\n').toStdString();
    EXPECT_EQ(outcome.ending, RunEnding::Failures);

    const QString log = runLog();
    const QString head = entryHead(QStringLiteral("agent=%1 year=2019").arg(settings.agentCode)) +
                         QStringLiteral("备份摘要文件无法写入：");
    const qsizetype at = log.indexOf(head);
    ASSERT_GE(at, 0) << log.toStdString();
    EXPECT_TRUE(log.mid(at).section(QStringLiteral("\r\n"), 0, 0).contains(summary)) << log.toStdString();
    // The line that tells where the cleared months wait is logged as well.
    EXPECT_TRUE(log.contains(entryHead(QStringLiteral("agent=%1 year=2019").arg(settings.agentCode)) + lines.back()));
}

// An archive that is no archive: the result lines say it could not be unpacked; the log keeps the
// unpacker's own words with the archive's name.
TEST_P(RunLog, ArchiveThatCannotBeUnpackedIsLoggedWithTheUnpackersReason)
{
    const QString archive = home.filePath(QStringLiteral("backup/broken.zip"));
    {
        QFile f(archive);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(300, 'x'));
    }
    const QStringList lines = restore({archive});
    ASSERT_EQ(lines.size(), 2) << lines.join(u'\n').toStdString();
    EXPECT_EQ(lines[0], MessageLine(MsgUnpackFailed, {archive}));
    EXPECT_TRUE(lines[1].startsWith(QStringLiteral("无法解压的原因："))) << lines[1].toStdString();

    const QString log = runLog();
    const QString about = QStringLiteral("agent=%1 archive=broken.zip").arg(settings.agentCode);
    EXPECT_TRUE(log.contains(entryHead(about) + lines[0] + QStringLiteral("\r\n"))) << log.toStdString();
    EXPECT_TRUE(log.contains(entryHead(about) + lines[1] + QStringLiteral("\r\n"))) << log.toStdString();
    // The unpacker's reason is inside the parentheses, not empty.
    EXPECT_FALSE(lines[1].contains(QStringLiteral("（）")));
}

// An agent code that would end the literal or, on MariaDB, escape its closing quote: the run's
// selections and clears reach its own rows and nobody else's, and the restore brings them back.
TEST_P(RunLog, AgentCodeWithQuoteAndBackslashTouchesOnlyItsOwnRows)
{
    const QString odd = QStringLiteral("Q'1\\");
    for (const char* table : {"ZCGZXJMXB", "FGZXJB", "KJSDSBGB", "SBZB"}) {
        QSqlQuery q(db->connection().database());
        ASSERT_TRUE(q.prepare(QStringLiteral("update %1 set KJYWRBM=? where KJYWRBM=?").arg(QLatin1String(table))));
        q.addBindValue(odd);
        q.addBindValue(agents[1]);
        ASSERT_TRUE(q.exec()) << q.lastError().text().toStdString();
    }
    const qint64 own = rowsOf(odd), other = rowsOf(agents[0]);
    ASSERT_GT(own, 0);
    ASSERT_GT(other, 0);

    // A code that would widen the selection to every agent finds nothing and clears nothing.
    useAgent(QStringLiteral("X' or '1'='1"));
    backup2019();
    EXPECT_TRUE(archives.isEmpty());
    EXPECT_FALSE(outcome.summary.contains(QStringLiteral("数据库语句执行失败"))) << outcome.summary.toStdString();
    EXPECT_EQ(rowsOf(odd), own);
    EXPECT_EQ(rowsOf(agents[0]), other);

    // From here on nothing may fail: the run log stays empty.
    QFile::remove(ModuleLogFilePath(kToday));
    useAgent(odd);
    const QStringList lines = backup2019();
    ASSERT_EQ(archives.size(), 1) << lines.join(u'\n').toStdString();
    EXPECT_EQ(outcome.ending, RunEnding::Clean) << outcome.summary.toStdString();
    EXPECT_EQ(rowsOf(odd), 0);
    EXPECT_EQ(rowsOf(agents[0]), other);

    const QStringList restored = restore(archives);
    EXPECT_EQ(outcome.ending, RunEnding::Clean) << restored.join(u'\n').toStdString();
    EXPECT_EQ(rowsOf(odd), own);
    EXPECT_EQ(rowsOf(agents[0]), other);
    EXPECT_TRUE(runLog().isEmpty()) << runLog().toStdString();
}

INSTANTIATE_TEST_SUITE_P(Db, RunLog, SJQL_DATABASE_KINDS);
