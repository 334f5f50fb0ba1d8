// SPDX-License-Identifier: MIT
// The plan of a restore and the reading of an archive's rows: the restore's checks, in its order,
// on a copy of the summary and the data files unpacked into a temporary folder of the system.
#include "archive/CompressUnit.h"
#include "archive/FileUtils.h"
#include "context/ErrorText.h"
#include "context/ModuleContext.h"
#include "db/RunLock.h"
#include "db/RunQuery.h"
#include "db/SqlLiteral.h"
#include "jobs/BackupDataFiles.h"
#include "jobs/BackupSummary.h"
#include "jobs/DryRun.h"
#include "jobs/Messages.h"
#include "jobs/MonthRows.h"
#include "jobs/RowBuilders.h"
#include "jobs/SummaryRecords.h"
#include "support/AdtgReader.h"
#include "support/XmlDocument.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlQuery>
#include <QTemporaryDir>

namespace sjql {

namespace {

using Builder = bool (*)(const adtg::AdtgRecordset&, TDBKind, QString&, QString*);

// The month's data files in the restore's order: summary attribute, the line when it is missing,
// the statement builder.
struct MonthFile
{
    const char* attribute;
    int missingCode;
    Builder build;
};

const MonthFile kMonthFiles[3] = {
    {"GZFILENAME", MsgWageFileMissing, &BuildWageInsert},
    {"FGZFILENAME", MsgNonWageFileMissing, &BuildNonWageInsert},
    {"BGBFILENAME", MsgReportFileMissing, &BuildReportInsert},
};

// What the restore checks before it touches a month, for planning (`hostAppCode` set, the
// database consulted) or for reading what an archive holds (null: no edition check, no database).
class ArchiveReader
{
public:
    ArchiveReader(const QString& agentCode, const QString* hostAppCode) : m_agent(agentCode), m_appCode(hostAppCode) {}

    RestoreArchivePlan read(const QString& archive);

private:
    bool unpack(const QString& archive, const QStringList& names, RestoreArchivePlan& plan);
    void judgeMonth(const XmlNode& record, RestoreArchivePlan& plan, RestoreMonthPlan& month);

    QString m_agent;
    const QString* m_appCode;
    QString m_folder;
};

bool ArchiveReader::unpack(const QString& archive, const QStringList& names, RestoreArchivePlan& plan)
{
    UnpackOptions options;
    options.onlyNames = names;
    options.maxEntries = 1000;
    options.maxTotalSize = qint64(16) * 1024 * 1024 * 1024;
    QString error;
    UnpackProblem problem = UnpackProblem::None;
    if (UncompressFile(archive, m_folder, false, QString(ArchivePassword), options, &error, &problem))
        return true;
    plan.action = QStringLiteral("skip");
    plan.reason = MessageLine(MsgUnpackFailed, {archive}) + QLatin1Char(' ') + UnpackReasonLine(problem, error);
    return false;
}

RestoreArchivePlan ArchiveReader::read(const QString& archive)
{
    RestoreArchivePlan plan;
    plan.archive = archive;
    const QTemporaryDir scratch(QDir(QDir::tempPath()).filePath(QStringLiteral("sjql-plan-XXXXXX")));
    if (!scratch.isValid()) {
        plan.action = QStringLiteral("skip");
        plan.reason =
            QStringLiteral("无法在临时文件夹“%1”中建立文件夹").arg(QDir::toNativeSeparators(QDir::tempPath()));
        return plan;
    }
    m_folder = scratch.path();
    auto endRun = [&](int code, const QStringList& params = {}) {
        plan.action = QStringLiteral("end-run");
        plan.reason = MessageLine(code, params);
        return plan;
    };
    if (!unpack(archive, {BackupSummaryFileName}, plan))
        return plan;
    const QString summaryPath = AddBackslash(m_folder) + BackupSummaryFileName;
    if (!QFileInfo(summaryPath).isFile()) {
        plan.action = QStringLiteral("skip");
        plan.reason = MessageLine(MsgNoSummary, {archive});
        return plan;
    }
    std::unique_ptr<XmlDocument> doc = XmlDocument::fromFile(summaryPath);
    XmlNode root = doc ? doc->root() : XmlNode();
    if (root.isNull())
        return endRun(MsgSummaryUnreadable);
    plan.agentCode = root.attribute(QStringLiteral("KJYWRBM")).value_or(QString());
    plan.year = root.attribute(QStringLiteral("YEAR")).value_or(QString());
    plan.edition = root.attribute(QStringLiteral("CODE")).value_or(QString());
    if (root.attribute(QStringLiteral("KJYWRBM")) != m_agent)
        return endRun(MsgOtherAgent);
    if (plan.year.isEmpty())
        return endRun(MsgNoYear);
    if (m_appCode && root.attribute(QStringLiteral("CODE")) != *m_appCode)
        return endRun(MsgOtherEdition);

    XmlNode records = root.childElement(QStringLiteral("RECORDS"));
    const QStringList wanted = ClearedMonthDataFiles(records);
    if (!wanted.isEmpty() && !unpack(archive, wanted, plan))
        return plan;

    plan.action = QStringLiteral("nothing");
    for (int j = 0; j < records.childCount(); ++j) {
        const XmlNode record = records.child(j);
        if (record.name() != QLatin1String("RECORD"))
            continue;
        RestoreMonthPlan month;
        month.period = record.attribute(QStringLiteral("SDYF")).value_or(QString());
        if (month.period.isEmpty()) {
            // The restore ends at such a record and rolls the archive back.
            plan.months.clear();
            return endRun(MsgEmptyMonth);
        }
        judgeMonth(record, plan, month);
        if (month.action == QLatin1String("restore"))
            plan.action = QStringLiteral("restore");
        plan.months << month;
    }
    return plan;
}

void ArchiveReader::judgeMonth(const XmlNode& record, RestoreArchivePlan& plan, RestoreMonthPlan& month)
{
    auto skip = [&](const QString& line) {
        month.action = QStringLiteral("skip");
        month.reason = line;
    };
    if (record.attribute(QStringLiteral("SFQL")) != QLatin1String("Y")) {
        month.action = QStringLiteral("none");
        month.reason = QStringLiteral("备份时此月未清理，没有要恢复的数据");
        return;
    }
    if (!IsValidRecordMonth(month.period))
        return skip(MonthNotRestoredLine(month.period, InvalidMonthText()));
    if (month.period.left(4) != plan.year.left(4))
        return skip(MonthNotRestoredLine(month.period, MonthOutsideYearText(plan.year)));
    if (m_appCode) {
        const QString declaration = record.attribute(QStringLiteral("WYSBH")).value_or(QString());
        QSqlQuery query;
        const QString check = QStringLiteral("select WYSBH from SBZB where SBYF=") + SqlTextLiteral(month.period) +
                              QStringLiteral(" and KJYWRBM=") + SqlTextLiteral(m_agent) + QStringLiteral(" ");
        if (!RunQuery(check, query, true))
            return skip(FormatErrorText(QLatin1String(kDbErrorCode)));
        if (query.next() && query.value(0).toString() != declaration)
            return skip(MessageLine(MsgDeclarationChanged, {month.period}));
    }
    for (int k = 0; k < 3; ++k) {
        const QString name = record.attribute(QLatin1String(kMonthFiles[k].attribute)).value_or(QString());
        const QString path = AddBackslash(m_folder) + name;
        if (!IsBareFileName(name) || !QFileInfo(path).isFile())
            return skip(MessageLine(kMonthFiles[k].missingCode, {month.period}));
        const MonthRowsScan scan = ScanDataFile(path, k, month.period, m_agent);
        if (!scan.ok)
            return skip(MonthNotRestoredLine(month.period, DataFileUnreadableText(name, scan.error)));
        if (!scan.problem.isEmpty())
            return skip(MonthNotRestoredLine(month.period, scan.problem));
        month.rows[size_t(k)] = qint64(scan.digests.size());
        // The restore builds its statements from the file's columns: a file lacking one is refused.
        adtg::AdtgRecordset rows;
        QString sql, error;
        if (!scan.digests.empty() && rows.open(path) && !kMonthFiles[k].build(rows, GetDBKind(), sql, &error))
            return skip(MonthNotRestoredLine(month.period, DataFileNotConvertibleText(name, error)));
    }
    if (month.rows[0] + month.rows[1] + month.rows[2] == 0)
        return skip(MonthNotRestoredLine(month.period, NoRowsInMonthFilesText()));
    month.action = QStringLiteral("restore");
    if (m_appCode) {
        QList<TableCounts> now;
        QString error;
        if (CountMonthRows({month.period}, m_agent, &now, &error))
            month.replaces = now.value(0);
    }
}

} // namespace

RestorePlan PlanRestore(const QStringList& archives, const QString& agentCode, const QString& hostAppCode)
{
    RestorePlan plan;
    plan.agentCode = agentCode;
    RunLock lock;
    if (!lock.acquire(agentCode, &plan.error)) {
        plan.busy = lock.busy();
        return plan;
    }
    QString endedAt;
    for (const QString& archive : archives) {
        if (!endedAt.isEmpty()) {
            RestoreArchivePlan notReached;
            notReached.archive = archive;
            notReached.action = QStringLiteral("not-reached");
            notReached.reason = QStringLiteral("恢复在“%1”处结束").arg(QFileInfo(endedAt).fileName());
            plan.archives << notReached;
            continue;
        }
        RestoreArchivePlan one = ArchiveReader(agentCode, &hostAppCode).read(archive);
        if (one.action == QLatin1String("end-run"))
            endedAt = archive;
        plan.archives << one;
    }
    plan.ok = true;
    return plan;
}

RestoreArchivePlan ReadArchiveRows(const QString& archive, const QString& agentCode)
{
    return ArchiveReader(agentCode, nullptr).read(archive);
}

} // namespace sjql
