// SPDX-License-Identifier: MIT
// The restore run on SQLite and MariaDB: archives backed up and cleared from demo data come back
// value for value; damaged, foreign and odd archives give their lines and lose nothing; every
// early end rolls the archive back.
#include "jobs/RestoreJob.h"

#include "archive/CompressUnit.h"
#include "context/ErrorText.h"
#include "context/ModuleContext.h"
#include "db/RunLock.h"
#include "db/SqlLog.h"
#include "helpers/DemoDatabase.h"
#include "hostapi/Gbk.h"
#include "hostapi/IITIterface.h"
#include "jobs/BackupDataFiles.h"
#include "jobs/BackupSummary.h"
#include "jobs/Messages.h"
#include "support/AdtgReader.h"
#include "support/AdtgWriter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlRecord>
#include <QTemporaryDir>

#include <gtest/gtest.h>

// Readable failure messages for texts and lists of texts.
QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& text, std::ostream* os)
{
    *os << '"' << text.toStdString() << '"';
}
QT_END_NAMESPACE

using namespace sjql;
using sjql::test::TestDatabase;

TEST(RestoreMonthRuns, ConsecutiveMonthsBecomeRanges)
{
    auto text = [](const QStringList& months) {
        RestoreJob::MonthRuns runs;
        for (const QString& m : months)
            runs.add(m);
        return runs.text();
    };
    QStringList year;
    for (int m = 1; m <= 12; ++m)
        year << QStringLiteral("2008%1").arg(m, 2, 10, QLatin1Char('0'));
    EXPECT_EQ(text(year), QStringLiteral("200801-200812"));
    EXPECT_EQ(text({QStringLiteral("200805")}), QStringLiteral("200805-200805"));
    EXPECT_EQ(
        text({QStringLiteral("200801"), QStringLiteral("200802"), QStringLiteral("200803"), QStringLiteral("200805")}),
        QStringLiteral("200801-200803；200805-200805"));
    // December and January are not neighbours as numbers.
    EXPECT_EQ(text({QStringLiteral("200812"), QStringLiteral("200901")}),
              QStringLiteral("200812-200812；200901-200901"));
    EXPECT_EQ(text({}), QString());
}

namespace {

struct RestoreOutcome
{
    bool ok = false;
    bool cleared = false;
    QStringList lines;
    QList<qint16> progress; // item progress at each point where events were processed, repeats dropped
    RunOutcome outcome;
};

} // namespace

class RestoreDb : public test::DemoRunSuite
{
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(openDemoRun({2, 4, 2008, 2009, QStringLiteral("201003")}, {"backup"}));
    }

    QString workDir() const { return path(QStringLiteral("work")); }

    // Every row of the three tables, every agent, without the generated key: one text per row.
    QStringList snapshot()
    {
        QStringList rows;
        for (const QString& table : host::historyTables()) {
            QSqlQuery q = db->exec(QStringLiteral("select * from ") + table);
            while (q.next()) {
                QStringList values{table};
                const QSqlRecord rec = q.record();
                for (int i = 0; i < rec.count(); ++i) {
                    if (rec.fieldName(i).compare(QLatin1String("id"), Qt::CaseInsensitive) != 0)
                        values << rec.fieldName(i) + QLatin1Char('=') +
                                      (q.isNull(i) ? QStringLiteral("NULL") : q.value(i).toString());
                }
                rows << values.join(QLatin1Char('|'));
            }
        }
        rows.sort();
        return rows;
    }

    qint64 rows(const QString& table, const QString& periodPrefix)
    {
        return db->count(QStringLiteral("select count(*) from %1 where KJYWRBM='%2' and FFYF like '%3%'")
                             .arg(table, agent, periodPrefix));
    }

    // Saves the month's three data files and lets the host library clear it, as a backup does.
    // The data files' paths; empty when the library would not clear the month.
    QStringList clearMonth(const QString& period)
    {
        QByteArray buffer(SJQL_IIT_RESULT_BUFFER_SIZE, '\0');
        char* result = buffer.data();
        const QByteArray p = toGbk(period), a = toGbk(agent);
        if (bCanClearDkdjData(p.constData(), a.constData(), &result) != 0)
            return {};
        QSqlQuery q;
        const MonthDataFilesResult written = WriteMonthDataFiles(workDir(), period, agent, q);
        EXPECT_EQ(written.outcome, MonthDataFilesResult::Written) << written.error.toStdString();
        buffer.fill('\0');
        if (ClearDKDJData(p.constData(), a.constData(), &result) != 0) {
            for (const QString& f : written.paths)
                QFile::remove(f);
            return {};
        }
        return written.paths;
    }

    QString declaration(const QString& period)
    {
        QSqlQuery q =
            db->exec(QStringLiteral("select WYSBH from SBZB where SBYF='%1' and KJYWRBM='%2'").arg(period, agent));
        return q.next() ? q.value(0).toString() : QString();
    }

    // The record of one cleared month as the summary lists it, with the month's declaration.
    QString recordOf(const QString& period)
    {
        return AppendBackupRecord(QString(), QStringLiteral("Y"), period, declaration(period));
    }
    // The summary of `year` for the current agent of the host application "03".
    QByteArray summaryOf(const QString& year, const QString& records) const
    {
        return BuildBackupSummary(year, records, agent, QStringLiteral("03"));
    }

    // The month's three data files of an agent, written without clearing anything.
    QStringList writeMonth(const QString& period, const QString& agentCode)
    {
        QSqlQuery q;
        const MonthDataFilesResult written =
            WriteMonthDataFiles(path(QStringLiteral("files/") + agentCode), period, agentCode, q);
        EXPECT_EQ(written.outcome, MonthDataFilesResult::Written) << written.error.toStdString();
        return written.paths;
    }

    // Copies of data files under the names a record of `period` gives them.
    QStringList renamed(const QStringList& files, const QString& period)
    {
        QStringList out;
        const QString folder = path(QStringLiteral("renamed/") + period);
        QDir().mkpath(folder);
        for (const QString& f : files) {
            const QString name = QFileInfo(f).fileName();
            const QString target = folder + QLatin1Char('/') + name.left(name.lastIndexOf(QLatin1Char('_')) + 1) +
                                   period + QStringLiteral(".dat");
            QFile::remove(target);
            EXPECT_TRUE(QFile::copy(f, target));
            out << target;
        }
        return out;
    }

    // The rows of a month of the agent in each of the three tables.
    QList<qint64> monthRows(const QString& period, const QString& agentCode)
    {
        QList<qint64> counts;
        for (const QString& table : host::historyTables())
            counts << db->count(QStringLiteral("select count(*) from %1 where KJYWRBM='%2' and FFYF='%3'")
                                    .arg(table, agentCode, period));
        return counts;
    }

    // An archive of the given summary bytes and files, packed as a backup packs them.
    QString pack(const QString& name, const QByteArray& summary, QStringList files)
    {
        const QString summaryPath = path(QStringLiteral("craft/") + name + QStringLiteral("/BFZYXX.xml"));
        QDir().mkpath(QFileInfo(summaryPath).path());
        QFile f(summaryPath);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(summary);
        f.close();
        files << summaryPath;
        const QString archive = path(QStringLiteral("backup/") + name + QStringLiteral(".zip"));
        QString error;
        EXPECT_TRUE(CompressFiles(files, archive, QString(ArchivePassword), &error)) << error.toStdString();
        return archive;
    }

    // Backs up and clears a whole year of the agent; the archive's path. The months the library
    // cleared are added to `cleared`.
    QString backupYear(const QString& year, RestoreJob::MonthRuns* cleared = nullptr)
    {
        QString records;
        QStringList files;
        for (int m = 1; m <= 12; ++m) {
            const QString period = year + QStringLiteral("%1").arg(m, 2, 10, QLatin1Char('0'));
            const QString wysbh = declaration(period);
            const QStringList month = clearMonth(period);
            files << month;
            if (cleared && !month.isEmpty())
                cleared->add(period);
            records =
                AppendBackupRecord(records, month.isEmpty() ? QStringLiteral("N") : QStringLiteral("Y"), period, wysbh);
        }
        return pack(year, BuildBackupSummary(year, records, agent, QStringLiteral("03")), files);
    }

    RestoreOutcome restore(const QStringList& archives)
    {
        RestoreSettings settings;
        settings.archives = archives;
        settings.unpackFolder = path(QStringLiteral("work/UnZipDir/"));
        settings.backupFolder = path(QStringLiteral("backup"));
        settings.agentCode = agent;
        settings.hostAppCode = QStringLiteral("03");
        RestoreJob job(settings);
        RestoreOutcome out;
        QString text;
        qint16 progress = 0;
        job.processEvents = [&] {
            if (out.progress.isEmpty() || out.progress.last() != progress)
                out.progress << progress;
            if (onPump)
                onPump(progress);
        };
        TDispResultList results;
        out.ok = job.Run(text, progress, results);
        out.cleared = job.Cleared();
        out.outcome = job.outcome();
        for (int i = 0; i < results.LineCount(); ++i)
            out.lines << results.GetLine(i).Text;
        if (qEnvironmentVariableIsSet("SJQL_TEST_SHOW_LOG"))
            qInfo().noquote() << fromGbk(QByteArrayView(test::readLog(QDate::currentDate())));
        // Nothing of the connection's transaction may stay open after a run.
        EXPECT_FALSE(db->connection().inTransaction());
        return out;
    }

    // The same rows; on a difference only a few of the differing rows are shown.
    static void expectSameRows(const QStringList& actual, const QStringList& expected)
    {
        if (actual == expected)
            return;
        QStringList missing, extra;
        for (const QString& r : expected)
            if (!actual.contains(r) && missing.size() < 3)
                missing << r;
        for (const QString& r : actual)
            if (!expected.contains(r) && extra.size() < 3)
                extra << r;
        ADD_FAILURE() << actual.size() << " rows instead of " << expected.size() << "; missing e.g. "
                      << missing.join(QLatin1Char('\n')).toStdString() << "; unexpected e.g. "
                      << extra.join(QLatin1Char('\n')).toStdString();
    }

    static QString done(const QString& months)
    {
        return months.isEmpty() ? QStringLiteral("数据恢复完成，没有需要恢复的所属期。")
                                : QStringLiteral("数据恢复完成，已恢复的所属期：%1。").arg(months);
    }

    // Called with the item progress whenever the run processes events.
    std::function<void(qint16)> onPump;
};

TEST_P(RestoreDb, TwoYearsComeBackValueForValue)
{
    const QStringList before = snapshot();
    ASSERT_GT(rows(QStringLiteral("FGZXJB"), QStringLiteral("2008")), 0);
    const QString y2008 = backupYear(QStringLiteral("2008"));
    RestoreJob::MonthRuns months2009;
    const QString y2009 = backupYear(QStringLiteral("2009"), &months2009);
    // 2009 of the first agent holds months the host library refuses to clear.
    ASSERT_TRUE(months2009.text().startsWith(QStringLiteral("200901-200902；"))) << months2009.text().toStdString();
    ASSERT_EQ(rows(QStringLiteral("ZCGZXJMXB"), QStringLiteral("2008")), 0);
    ASSERT_TRUE(snapshot() != before);

    const RestoreOutcome out = restore({y2008, y2009});
    EXPECT_TRUE(out.ok);
    EXPECT_TRUE(out.cleared);
    EXPECT_EQ(out.lines, QStringList({done(QStringLiteral("200801-200812")), done(months2009.text())}));
    EXPECT_EQ(out.outcome.ending, RunEnding::Clean);
    EXPECT_EQ(out.outcome.summary,
              QStringLiteral("数据恢复完成：共2个备份文件，完全恢复2个，部分恢复0个，未恢复0个。"));
    expectSameRows(snapshot(), before);
}

TEST_P(RestoreDb, DamagedArchiveIsSkippedOthersRestored)
{
    const QStringList before = snapshot();
    const QString y2008 = backupYear(QStringLiteral("2008"));
    RestoreJob::MonthRuns months2009;
    const QString y2009 = backupYear(QStringLiteral("2009"), &months2009);
    const QString damaged = path(QStringLiteral("backup/damaged.zip"));
    QFile f(damaged);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArrayLiteral("PK\x03\x04 this is no archive"));
    f.close();

    const RestoreOutcome out = restore({y2008, damaged, y2009});
    EXPECT_TRUE(out.ok);
    ASSERT_EQ(out.lines.size(), 4);
    EXPECT_EQ(out.lines.at(1), MessageLine(14012009, {damaged}));
    EXPECT_TRUE(out.lines.at(1).contains(damaged)) << out.lines.at(1).toStdString();
    // The reason follows, so that damage, a wrong password and a full disk can be told apart.
    EXPECT_TRUE(out.lines.at(2).startsWith(QStringLiteral("无法解压的原因：文件已损坏或无法读取（archive damaged.zip")))
        << out.lines.at(2).toStdString();
    EXPECT_EQ(out.lines.at(3), done(months2009.text()));
    EXPECT_EQ(out.outcome.ending, RunEnding::Failures);
    EXPECT_EQ(out.outcome.summary,
              QStringLiteral("数据恢复未全部完成：共3个备份文件，完全恢复2个，部分恢复0个，未恢复1个。"));
    expectSameRows(snapshot(), before);

    // Every archive failing is no success either.
    const RestoreOutcome none = restore({damaged, damaged});
    EXPECT_EQ(none.outcome.ending, RunEnding::Failures);
    EXPECT_EQ(none.outcome.summary,
              QStringLiteral("数据恢复未全部完成：共2个备份文件，完全恢复0个，部分恢复0个，未恢复2个。"));
}

TEST_P(RestoreDb, UnpackFailuresSayWhy)
{
    const QString y2008 = backupYear(QStringLiteral("2008"));
    const QStringList cleared = snapshot();
    // A full disk is no damaged archive.
    SetUnpackDeviceHooks([](const QString&) { return qint64(100); }, {});
    RestoreOutcome out = restore({y2008});
    SetUnpackDeviceHooks({}, {});
    ASSERT_EQ(out.lines.size(), 2);
    EXPECT_EQ(out.lines.at(0), MessageLine(14012009, {y2008}));
    EXPECT_TRUE(out.lines.at(1).startsWith(QStringLiteral("无法解压的原因：解压目录所在的磁盘空间不足（")))
        << out.lines.at(1).toStdString();
    EXPECT_EQ(out.outcome.ending, RunEnding::Failures);
    // An archive of another password.
    const QString foreign = path(QStringLiteral("backup/foreign.zip"));
    ASSERT_TRUE(
        CompressFiles(QStringList{path(QStringLiteral("craft/2008/BFZYXX.xml"))}, foreign, QStringLiteral("another")));
    out = restore({foreign});
    ASSERT_EQ(out.lines.size(), 2);
    EXPECT_TRUE(out.lines.at(1).startsWith(QStringLiteral("无法解压的原因：密码不对")))
        << out.lines.at(1).toStdString();
    expectSameRows(snapshot(), cleared);
}

TEST_P(RestoreDb, ForeignOrBrokenSummaryEndsTheRun)
{
    const QString y2008 = backupYear(QStringLiteral("2008"));
    const QStringList cleared = snapshot();

    // Another agent's archive stops the run before the matching one that follows it.
    const QString foreign =
        pack(QStringLiteral("foreign"),
             BuildBackupSummary(QStringLiteral("2008"), QString(), other, QStringLiteral("03")), {});
    RestoreOutcome out = restore({foreign, y2008});
    EXPECT_FALSE(out.ok);
    EXPECT_FALSE(out.cleared);
    EXPECT_EQ(out.lines, QStringList{MessageLine(14012012)});
    expectSameRows(snapshot(), cleared);

    // The other edition, an empty year, no summary, a summary that does not parse.
    const QString edition =
        pack(QStringLiteral("edition"),
             BuildBackupSummary(QStringLiteral("2008"), QString(), agent, QStringLiteral("01")), {});
    EXPECT_EQ(restore({edition}).lines, QStringList{MessageLine(14012014)});
    const QString noYear =
        pack(QStringLiteral("noyear"), BuildBackupSummary(QString(), QString(), agent, QStringLiteral("03")), {});
    EXPECT_EQ(restore({noYear}).lines, QStringList{MessageLine(14012013)});
    const QString broken = pack(QStringLiteral("broken"), QByteArray("<QVRBFXX KJYWRBM="), {});
    EXPECT_EQ(restore({broken}).lines, QStringList{MessageLine(14012011)});
    QFile plain(path(QStringLiteral("craft/plain.txt")));
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.close();
    const QString noSummary = path(QStringLiteral("backup/nosummary.zip"));
    ASSERT_TRUE(CompressFiles(QStringList{plain.fileName()}, noSummary, QString(ArchivePassword)));
    out = restore({noSummary, y2008});
    EXPECT_EQ(out.lines, QStringList({MessageLine(14012010, {noSummary}), done(QStringLiteral("200801-200812"))}));
}

TEST_P(RestoreDb, SkippedRecordsAndProgressOfOneArchive)
{
    const QString y2008 = backupYear(QStringLiteral("2008"));
    // 200803 was declared again after the backup; 200805 lost its declaration altogether.
    db->exec(QStringLiteral("update SBZB set WYSBH='NEW-0803' where SBYF='200803' and KJYWRBM='%1'").arg(agent));
    db->exec(QStringLiteral("delete from SBZB where SBYF='200805' and KJYWRBM='%1'").arg(agent));

    const RestoreOutcome out = restore({y2008});
    EXPECT_TRUE(out.ok);
    EXPECT_EQ(out.lines, QStringList({MessageLine(14012015, {QStringLiteral("200803")}),
                                      done(QStringLiteral("200801-200802；200804-200812"))}));
    EXPECT_EQ(rows(QStringLiteral("ZCGZXJMXB"), QStringLiteral("200803")), 0);
    EXPECT_GT(rows(QStringLiteral("ZCGZXJMXB"), QStringLiteral("200805")), 0);
    // 5 at the archive, 90 / 12 = 7 more per record, 100 at the end.
    QList<qint16> expected{0, 5};
    for (int j = 1; j <= 12; ++j)
        expected << static_cast<qint16>(5 + 7 * j);
    expected << 100;
    EXPECT_EQ(out.progress, expected);
}

TEST_P(RestoreDb, RecordsThatAreNotClearedOrHalfPresent)
{
    // A month flagged "N" is left alone although it has rows.
    QString records = AppendBackupRecord(QString(), QStringLiteral("N"), QStringLiteral("200801"),
                                         declaration(QStringLiteral("200801")));
    // A month whose non-wage file is missing from the archive: the month keeps the rows it has,
    // in all three tables, instead of being cleared and refilled in part.
    QSqlQuery month =
        db->exec(QStringLiteral("select min(FFYF) from FGZXJB where KJYWRBM='%1' and FFYF>'200801' and FFYF<'200813'")
                     .arg(agent));
    ASSERT_TRUE(month.next());
    const QString period = month.value(0).toString();
    ASSERT_GT(rows(QStringLiteral("FGZXJB"), period), 0);
    records = AppendBackupRecord(records, QStringLiteral("Y"), period, declaration(period));
    const QStringList files = writeMonth(period, agent);
    ASSERT_EQ(files.size(), 3);
    const QString archive =
        pack(QStringLiteral("partial"), summaryOf(QStringLiteral("2008"), records), {files.at(0), files.at(2)});
    const QStringList before = snapshot();

    const RestoreOutcome out = restore({archive});
    EXPECT_EQ(out.lines, QStringList({MessageLine(14012018, {period}), done(QString())}));
    expectSameRows(snapshot(), before);
}

TEST_P(RestoreDb, RowsOfAnotherMonthOrAgentNeverReplaceAMonth)
{
    const QStringList before = snapshot();
    const QString decl02 = declaration(QStringLiteral("200802"));
    // Files of 200801 under a record of 200802: 200802 must keep its rows, and no 200801 row
    // may be inserted a second time.
    const QStringList jan = writeMonth(QStringLiteral("200801"), agent);
    // Files of 200802 under a record of 200803.
    const QStringList feb = writeMonth(QStringLiteral("200802"), agent);
    // The other agent's rows of 200808 under the agent's own record of 200808.
    const QStringList foreign = writeMonth(QStringLiteral("200808"), other);
    // Three empty files (the other agent has no rows before July) under the record of 200804.
    const QStringList empty = writeMonth(QStringLiteral("200804"), other);
    ASSERT_EQ(jan.size() + feb.size() + foreign.size() + empty.size(), 12);
    QString records = recordOf(QStringLiteral("200802"));
    for (const char* month : {"200803", "200808", "200804"})
        records = AppendBackupRecord(records, QStringLiteral("Y"), QString::fromLatin1(month),
                                     declaration(QString::fromLatin1(month)));
    const QString archive =
        pack(QStringLiteral("misfiled"), summaryOf(QStringLiteral("2008"), records),
             renamed(jan, QStringLiteral("200802")) + renamed(feb, QStringLiteral("200803")) +
                 renamed(foreign, QStringLiteral("200808")) + renamed(empty, QStringLiteral("200804")));
    ASSERT_FALSE(decl02.isEmpty());

    const RestoreOutcome out = restore({archive});
    ASSERT_EQ(out.lines.size(), 5) << out.lines.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(out.lines.at(0),
              QStringLiteral("所属期200802未恢复：备份数据文件ZCGZXJMXB_200802.dat第1行属于扣缴义务人%1的"
                             "所属期200801，与备份摘要不符。")
                  .arg(agent));
    EXPECT_TRUE(out.lines.at(1).startsWith(QStringLiteral("所属期200803未恢复："))) << out.lines.at(1).toStdString();
    EXPECT_TRUE(out.lines.at(2).startsWith(QStringLiteral("所属期200808未恢复：")) && out.lines.at(2).contains(other))
        << out.lines.at(2).toStdString();
    EXPECT_EQ(out.lines.at(3), QStringLiteral("所属期200804未恢复：三个备份数据文件中都没有数据。"));
    EXPECT_EQ(out.lines.at(4), done(QString()));
    EXPECT_EQ(out.outcome.ending, RunEnding::Failures);
    expectSameRows(snapshot(), before);
}

TEST_P(RestoreDb, MonthsOutsideTheArchivesYearOrInvalidAreSkipped)
{
    const QStringList jan = clearMonth(QStringLiteral("200801"));
    ASSERT_EQ(jan.size(), 3);
    const QStringList cleared = snapshot();
    // The files really hold 200801, but the summary says the year is 2009.
    const QString records = recordOf(QStringLiteral("200801"));
    const QString wrongYear = pack(QStringLiteral("wrongyear"), summaryOf(QStringLiteral("2009"), records), jan);
    // A month 13 and a month with letters.
    QString odd = AppendBackupRecord(QString(), QStringLiteral("Y"), QStringLiteral("200813"), QString());
    odd = AppendBackupRecord(odd, QStringLiteral("Y"), QStringLiteral("2008x1"), QString());
    const QString invalid = pack(QStringLiteral("invalid"), summaryOf(QStringLiteral("2008"), odd),
                                 renamed(jan, QStringLiteral("200813")) + renamed(jan, QStringLiteral("2008x1")));

    const RestoreOutcome out = restore({wrongYear, invalid});
    ASSERT_EQ(out.lines.size(), 5) << out.lines.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(out.lines.at(0).contains(QStringLiteral("200801")) && out.lines.at(0).contains(QStringLiteral("2009")))
        << out.lines.at(0).toStdString();
    EXPECT_EQ(out.lines.at(1), done(QString()));
    EXPECT_TRUE(out.lines.at(2).contains(QStringLiteral("200813"))) << out.lines.at(2).toStdString();
    EXPECT_TRUE(out.lines.at(3).contains(QStringLiteral("2008x1"))) << out.lines.at(3).toStdString();
    EXPECT_EQ(out.lines.at(4), done(QString()));
    expectSameRows(snapshot(), cleared);
}

TEST_P(RestoreDb, HalfFinishedClearOfTheHostLibraryIsUndone)
{
    // The host library deletes the month table by table; the non-wage table refuses. The wage
    // rows it deleted first must come back with the refusal.
    const QString period = QStringLiteral("200801");
    const QList<qint64> live = monthRows(period, agent);
    ASSERT_GT(live.at(0), 0);
    ASSERT_GT(live.at(1), 0);
    const QString records = recordOf(period);
    const QString archive =
        pack(QStringLiteral("refused"), summaryOf(QStringLiteral("2008"), records), writeMonth(period, agent));
    if (db->sqlite())
        db->exec(QStringLiteral("create trigger keep before delete on FGZXJB begin select raise(abort, 'kept'); end"));
    else
        db->exec(QStringLiteral("create trigger keep before delete on FGZXJB for each row signal sqlstate '45000' set "
                                "message_text='kept'"));
    const QStringList before = snapshot();

    const RestoreOutcome out = restore({archive});
    ASSERT_EQ(out.lines.size(), 2) << out.lines.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(out.lines.at(0).contains(period) && out.lines.at(0).contains(QStringLiteral("kept")))
        << out.lines.at(0).toStdString();
    EXPECT_EQ(out.lines.at(1), done(QString()));
    expectSameRows(snapshot(), before);
}

TEST_P(RestoreDb, EarlyEndsRollTheArchiveBack)
{
    // An empty month in the second record: the first month's rows are rolled back too.
    QString records = recordOf(QStringLiteral("200801"));
    records = AppendBackupRecord(records, QStringLiteral("Y"), QString(), QString());
    const QStringList files = clearMonth(QStringLiteral("200801"));
    ASSERT_EQ(files.size(), 3);
    const QString emptyMonth = pack(QStringLiteral("empty"), summaryOf(QStringLiteral("2008"), records), files);
    RestoreOutcome out = restore({emptyMonth});
    EXPECT_FALSE(out.ok);
    EXPECT_EQ(out.lines, QStringList{MessageLine(14012021)});
    EXPECT_EQ(rows(QStringLiteral("ZCGZXJMXB"), QStringLiteral("200801")), 0);

    // An INSERT refused in the middle of March: the coded line is the last one, nothing of the
    // archive stays, and the archive after it is not touched.
    const QString y2008 = backupYear(QStringLiteral("2008"));
    const QString y2009 = backupYear(QStringLiteral("2009"));
    const QStringList cleared = snapshot();
    adtg::AdtgRecordset march;
    ASSERT_TRUE(march.open(path(QStringLiteral("work/2008/ZCGZXJMXB_200803.dat"))));
    march.moveNext();
    march.moveNext();
    const QString victim = march.field(QStringLiteral("GH")).toText();
    ASSERT_FALSE(victim.isEmpty());
    if (db->sqlite())
        db->exec(QStringLiteral("create trigger refuse before insert on ZCGZXJMXB when new.GH='%1' and "
                                "new.FFYF='200803' begin select raise(abort, 'refused'); end")
                     .arg(victim));
    else
        db->exec(QStringLiteral("create trigger refuse before insert on ZCGZXJMXB for each row begin if new.GH='%1' "
                                "and new.FFYF='200803' then signal sqlstate '45000' set message_text='refused'; "
                                "end if; end")
                     .arg(victim));
    out = restore({y2008, y2009});
    EXPECT_FALSE(out.ok);
    ASSERT_FALSE(out.lines.isEmpty());
    EXPECT_EQ(out.lines.last(), FormatErrorText(QStringLiteral("80323110")));
    EXPECT_EQ(out.lines.size(), 1);
    expectSameRows(snapshot(), cleared);
    EXPECT_TRUE(QString::fromUtf8(test::readLog(QDate::currentDate())).contains(QStringLiteral("refused")));
}

TEST_P(RestoreDb, LongDataFileRefusedLateThenRestoredWhole)
{
    // Rows are read and built ahead of the statements in batches; a file of several hundred rows
    // refused near its end must still leave nothing behind, and come back whole once allowed.
    const QString month = QStringLiteral("200803");
    const QString cols = QStringLiteral("KJYWRBM, GH, XM, ZZLX, ZZHM, SDXM, QSRQ, ZZRQ, FFYF, YFGZ, YLBX, YLOBX, SYBX, "
                                        "ZFGJJ, QTMSSD, MSXMHJ, BZSSD, FYKCBZ, SJJZE, ZYKCJZE, YNSSDE, SL, SSKCS, "
                                        "YNSE, JMSE, YSBSRE, CBYNSE, CBBZ, SJYNSE, WYSBH, GXBZ, zcyf");
    for (int i = 0; i < 7; ++i)
        db->exec(QStringLiteral("insert into ZCGZXJMXB (%1) select %1 from ZCGZXJMXB where KJYWRBM='%2' and FFYF='%3'")
                     .arg(cols, agent, month));
    const qint64 total = rows(QStringLiteral("ZCGZXJMXB"), month);
    ASSERT_GE(total, 256);
    const QStringList before = snapshot();
    const QString records = recordOf(month);
    const QStringList files = clearMonth(month);
    ASSERT_EQ(files.size(), 3);
    const QString archive = pack(QStringLiteral("long"), summaryOf(QStringLiteral("2008"), records), files);
    const QStringList cleared = snapshot();

    const QString limit = QString::number(total - 10);
    if (db->sqlite())
        db->exec(QStringLiteral("create trigger refuse before insert on ZCGZXJMXB when (select count(*) from "
                                "ZCGZXJMXB where FFYF='%1') >= %2 begin select raise(abort, 'refused'); end")
                     .arg(month, limit));
    else
        db->exec(QStringLiteral("create trigger refuse before insert on ZCGZXJMXB for each row begin if (select "
                                "count(*) from ZCGZXJMXB where FFYF='%1') >= %2 then signal sqlstate '45000' set "
                                "message_text='refused'; end if; end")
                     .arg(month, limit));
    RestoreOutcome out = restore({archive});
    EXPECT_FALSE(out.ok);
    EXPECT_EQ(out.lines, QStringList{FormatErrorText(QStringLiteral("80323110"))});
    expectSameRows(snapshot(), cleared);

    db->exec(QStringLiteral("drop trigger refuse"));
    out = restore({archive});
    EXPECT_TRUE(out.ok);
    EXPECT_EQ(out.lines, QStringList{done(QStringLiteral("200803-200803"))});
    expectSameRows(snapshot(), before);
}

TEST_P(RestoreDb, UnusableDataFileLeavesTheMonthUntouched)
{
    const QStringList files = clearMonth(QStringLiteral("200802"));
    ASSERT_EQ(files.size(), 3);
    const QStringList cleared = snapshot();
    const QString records = recordOf(QStringLiteral("200802"));
    const QString wage = path(QStringLiteral("craft/ZCGZXJMXB_200802.dat"));
    QDir().mkpath(QFileInfo(wage).path());
    auto archiveWith = [&](const QString& name) {
        return pack(name, summaryOf(QStringLiteral("2008"), records), {wage, files.at(1), files.at(2)});
    };

    // A wage file cut in half.
    QFile in(files.at(0));
    ASSERT_TRUE(in.open(QIODevice::ReadOnly));
    const QByteArray bytes = in.readAll();
    QFile out(wage);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(bytes.left(bytes.size() / 2));
    out.close();
    RestoreOutcome result = restore({archiveWith(QStringLiteral("truncated"))});
    EXPECT_TRUE(result.ok);
    ASSERT_EQ(result.lines.size(), 2);
    EXPECT_TRUE(
        result.lines.at(0).startsWith(QStringLiteral("所属期200802未恢复：备份数据文件ZCGZXJMXB_200802.dat无法读取")))
        << result.lines.at(0).toStdString();
    EXPECT_EQ(result.lines.at(1), done(QString()));
    EXPECT_EQ(result.outcome.ending, RunEnding::Failures);
    expectSameRows(snapshot(), cleared);

    // A wage file without the name column is found out before anything is touched as well.
    QSqlQuery q(db->connection().database());
    ASSERT_TRUE(q.exec(QStringLiteral("select id, KJYWRBM, GH from ZCGZXJMXB where KJYWRBM='%1'").arg(other)));
    QString error;
    ASSERT_TRUE(adtg::SaveRecordsetAdtg(q, db->connection().database(), QStringLiteral("ZCGZXJMXB"), wage, &error))
        << error.toStdString();
    result = restore({archiveWith(QStringLiteral("nocolumn"))});
    ASSERT_EQ(result.lines.size(), 2);
    EXPECT_TRUE(result.lines.at(0).startsWith(QStringLiteral("所属期200802未恢复：")) &&
                result.lines.at(0).contains(QStringLiteral("XM")))
        << result.lines.at(0).toStdString();
    expectSameRows(snapshot(), cleared);
}

namespace {

// The host's connection, except that beginning a transaction fails the first `refusals` times.
class RefusingConnection : public HostConnection
{
public:
    RefusingConnection(HostConnection& real, int refusals) : m_real(real), m_refusals(refusals) {}
    bool connected() const override { return m_real.connected(); }
    bool connect() override { return m_real.connect(); }
    void close() override { m_real.close(); }
    bool beginTrans() override { return m_refusals-- > 0 ? false : m_real.beginTrans(); }
    bool commitTrans() override { return m_real.commitTrans(); }
    bool rollbackTrans() override { return m_real.rollbackTrans(); }
    bool inTransaction() const override { return m_real.inTransaction(); }
    QString connectionString() const override { return m_real.connectionString(); }
    QSqlDatabase database() const override { return m_real.database(); }
    QString lastError() const override { return QStringLiteral("refused"); }

private:
    HostConnection& m_real;
    int m_refusals;
};

} // namespace

TEST_P(RestoreDb, TransactionThatDoesNotBeginTouchesNothing)
{
    const QString y2008 = backupYear(QStringLiteral("2008"));
    const QStringList cleared = snapshot();
    RefusingConnection refusing(db->connection(), 1);
    test::publishHost(&refusing, db->kind(), agent);
    const RestoreOutcome out = restore({y2008});
    EXPECT_FALSE(out.ok);
    EXPECT_EQ(out.lines, QStringList{FormatErrorText(QStringLiteral("80323110"))});
    expectSameRows(snapshot(), cleared);
}

TEST_P(RestoreDb, OnlyTheMembersTheSummaryNamesAreUnpacked)
{
    const QStringList jan = clearMonth(QStringLiteral("200801"));
    ASSERT_EQ(jan.size(), 3);
    const QString junk = path(QStringLiteral("craft/junk.dat"));
    QDir().mkpath(QFileInfo(junk).path());
    QFile f(junk);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(200000, 'j'));
    f.close();
    const QString records = recordOf(QStringLiteral("200801"));
    const QString archive =
        pack(QStringLiteral("extra"), summaryOf(QStringLiteral("2008"), records), jan + QStringList{junk});
    const RestoreOutcome out = restore({archive});
    EXPECT_EQ(out.lines, QStringList{done(QStringLiteral("200801-200801"))});
    EXPECT_FALSE(QFile::exists(path(QStringLiteral("work/UnZipDir/junk.dat"))));
    EXPECT_TRUE(QFile::exists(path(QStringLiteral("work/UnZipDir/ZCGZXJMXB_200801.dat"))));
}

TEST_P(RestoreDb, StopRequestRollsTheOpenArchiveBack)
{
    const QStringList before = snapshot();
    const QString y2008 = backupYear(QStringLiteral("2008"));
    const QString y2009 = backupYear(QStringLiteral("2009"));
    const QStringList cleared = snapshot();
    // Expected: 2008 back, 2009 still cleared.
    QStringList removed = before;
    for (const QString& r : cleared)
        removed.removeOne(r);
    QStringList only2008 = cleared + removed.filter(QStringLiteral("|FFYF=2008"));
    only2008.sort();
    ASSERT_NE(only2008, before);
    ASSERT_NE(only2008, cleared);

    // The stop is asked for in the fourth record of the second archive (progress 50 + 3 * 3).
    onPump = [](qint16 progress) {
        if (progress >= 59) {
            host::VoEntry stop;
            stop.name = QStringLiteral("QVR_STOPREQUEST");
            stop.kind = host::VoEntry::Bool;
            stop.flag = true;
            host::state().valueObject.push_back(stop);
        }
    };
    const RestoreOutcome out = restore({y2008, y2009});
    EXPECT_FALSE(out.ok);
    ASSERT_EQ(out.lines.size(), 2) << out.lines.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(out.lines.at(0), done(QStringLiteral("200801-200812")));
    EXPECT_EQ(out.lines.at(1),
              QStringLiteral("运行被中断：已恢复并提交的备份文件：2008.zip；正在恢复的备份文件2009.zip已全部"
                             "回滚，其中各所属期的数据保持恢复前的状态。"));
    EXPECT_EQ(out.outcome.ending, RunEnding::Interrupted);
    EXPECT_EQ(out.outcome.summary,
              QStringLiteral("数据恢复被中断：共2个备份文件，完全恢复1个，部分恢复0个，未恢复1个。"));
    expectSameRows(snapshot(), only2008);

    // Asked before the first archive: nothing is touched.
    const RestoreOutcome early = restore({y2009});
    EXPECT_EQ(early.lines,
              QStringList{QStringLiteral("运行被中断：没有已恢复并提交的备份文件；其余1个备份文件未处理。")});
    expectSameRows(snapshot(), only2008);
}

TEST_P(RestoreDb, AnotherRunHoldingTheLockTouchesNothing)
{
    const QString y2008 = backupYear(QStringLiteral("2008"));
    const QStringList cleared = snapshot();
    RunLock holder;
    QString why;
    ASSERT_TRUE(holder.acquire(agent, &why)) << why.toStdString();
    const RestoreOutcome out = restore({y2008});
    EXPECT_FALSE(out.ok);
    ASSERT_EQ(out.lines.size(), 1);
    EXPECT_TRUE(out.lines.at(0).startsWith(QStringLiteral("另一个"))) << out.lines.at(0).toStdString();
    EXPECT_EQ(out.outcome.ending, RunEnding::Busy);
    expectSameRows(snapshot(), cleared);
    EXPECT_FALSE(QDir(path(QStringLiteral("work/UnZipDir"))).exists());
    holder.release();
    EXPECT_EQ(restore({y2008}).outcome.ending, RunEnding::Clean);
}

INSTANTIATE_TEST_SUITE_P(Kinds, RestoreDb, SJQL_DATABASE_KINDS);
