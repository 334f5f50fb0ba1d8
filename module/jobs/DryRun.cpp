// SPDX-License-Identifier: MIT
// The plan of a backup-and-clear; the free space it needs. The restore's plan is in
// DryRunRestore.cpp, the JSON form in DryRunJson.cpp.
#include "jobs/DryRun.h"

#include "archive/ArchiveCheck.h"
#include "archive/CompressUnit.h"
#include "archive/FileUtils.h"
#include "context/ModuleContext.h"
#include "db/RunLock.h"
#include "db/RunQuery.h"
#include "db/SqlLiteral.h"
#include "hostapi/Gbk.h"
#include "hostapi/HostConnection.h"
#include "hostapi/IITIterface.h"
#include "jobs/BackupDataFiles.h"
#include "jobs/Drives.h"
#include "jobs/LeftoverFiles.h"
#include "jobs/Messages.h"
#include "jobs/MonthRows.h"
#include "jobs/WorkFolders.h"
#include "support/AdtgWriter.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QMap>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStorageInfo>

#include <optional>

namespace sjql {

namespace {

QString periodOf(const QString& year, int month)
{
    return year + QStringLiteral("%1").arg(month, 2, 10, QLatin1Char('0'));
}

// How a data file of the backup grows with its rows: the writer stores every text as UTF-16 with
// a length, every other value in its fixed size, and a presence map per row. Read from the
// table's declared columns, as the writer takes them.
struct TableShape
{
    QStringList textColumns;
    qint64 rowBytes = 1; // row token, presence map and the fixed-size values
    qint64 headerBytes = 64;
};

std::optional<TableShape> shapeOf(const QString& table, QString* error)
{
    HostConnection* connection = GetHostConnection();
    if (!connection) {
        *error = QStringLiteral("没有宿主的数据库连接");
        return std::nullopt;
    }
    std::vector<adtg::TableColumnInfo> columns;
    if (!adtg::lookupTableColumns(connection->database(), table, &columns, error))
        return std::nullopt;
    TableShape shape;
    int nullable = 0;
    for (const adtg::TableColumnInfo& info : columns) {
        const adtg::AdtgColumn column = adtg::columnForDeclaredType(info.name, info.declaredType, info.nullable);
        const int fixed = adtg::fixedWireSize(column.wireType);
        if (fixed > 0)
            shape.rowBytes += fixed;
        else
            shape.textColumns << info.name;
        nullable += info.nullable ? 1 : 0;
        shape.headerBytes += 48 + 2 * info.name.size();
    }
    shape.rowBytes += (nullable + 7) / 8;
    return shape;
}

// Rows of the agent's month in one table and the estimated bytes of their data file, by one
// aggregate statement on the backup's own selection.
struct MonthTableSize
{
    qint64 rows = 0;
    qint64 bytes = 0;
};

std::optional<MonthTableSize> sizeMonthTable(const TableShape& shape, int index, const QString& period,
                                             const QString& agentCode)
{
    const bool sqlite = GetDBKind() == dbkSQLite;
    QString sql = QStringLiteral("select count(*)");
    for (const QString& column : shape.textColumns)
        sql += (sqlite ? QStringLiteral(", sum(length(%1)), count(%1)")
                       : QStringLiteral(", sum(char_length(%1)), count(%1)"))
                   .arg(column);
    const QString selection = BackupSelectStatement(index, period, agentCode);
    sql += selection.mid(selection.indexOf(QStringLiteral(" from ")));
    QSqlQuery query;
    if (!RunQuery(sql, query, true) || !query.next())
        return std::nullopt;
    MonthTableSize size;
    size.rows = query.value(0).toLongLong();
    size.bytes = size.rows > 0 ? shape.headerBytes + size.rows * shape.rowBytes : 0;
    for (int i = 0; i < shape.textColumns.size(); ++i)
        size.bytes += 2 * query.value(1 + 2 * i).toLongLong() + 4 * query.value(2 + 2 * i).toLongLong();
    return size;
}

// How well a year's data files compress: up to a few hundred rows of a month of each table, their
// values laid out as the data file stores them, deflated at the archive's level. 1.0 when there is
// nothing to measure.
double compressionRatio(const QString& period, const QString& agentCode)
{
    QByteArray raw;
    for (int index = 0; index < 3; ++index) {
        QSqlQuery query;
        if (!RunQuery(BackupSelectStatement(index, period, agentCode), query, true))
            continue;
        for (int row = 0; row < 400 && query.next(); ++row) {
            for (int i = 0; i < query.record().count(); ++i) {
                const QVariant value = query.value(i);
                if (value.typeId() == QMetaType::QString) {
                    const QString text = value.toString();
                    raw.append(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
                } else {
                    const qint64 number = qint64(value.toDouble() * 100);
                    raw.append(reinterpret_cast<const char*>(&number), sizeof number);
                }
            }
        }
    }
    if (raw.size() < 1024)
        return 1.0;
    return qMin(1.0, double(qCompress(raw, 6).size()) / double(raw.size()));
}

// Per member of an archive: local and central headers with the name, the encryption header, and
// deflate's block overhead.
qint64 archiveOverhead(int members)
{
    return 22 + qint64(members) * (2 * 30 + 2 * 24 + 12 + 16);
}

class ClearPlanner
{
public:
    ClearPlanner(const BackupJobSettings& settings, const ClearPlanOptions& options)
        : m_settings(settings), m_options(options), m_agentDir(AgentWorkDir(settings.workDir, settings.agentCode))
    {}

    ClearPlan run();

private:
    bool precheck(ClearPlan& plan);
    bool planYear(ClearYearPlan& year);
    // The judging of a month's files left in the agent's year folder, as the backup judges them.
    // Empty action: no files, or files the database supersedes (they are replaced).
    bool judgeLeftovers(ClearMonthPlan& month, bool* judged);
    void planSpace(ClearPlan& plan) const;

    const BackupJobSettings& m_settings;
    ClearPlanOptions m_options;
    QString m_agentDir;
    QMap<QString, int> m_precheck;
    std::array<std::optional<TableShape>, 3> m_shapes;
    QString m_error;
};

ClearPlan ClearPlanner::run()
{
    ClearPlan plan;
    plan.agentCode = m_settings.agentCode;
    RunLock lock;
    if (!lock.acquire(m_settings.agentCode, &plan.error)) {
        plan.busy = lock.busy();
        return plan;
    }
    for (int i = 0; i < 3; ++i) {
        m_shapes[size_t(i)] = shapeOf(QLatin1String(BackupDataFileKinds()[size_t(i)].table), &m_error);
        if (!m_shapes[size_t(i)]) {
            plan.error = m_error;
            return plan;
        }
    }
    const bool goesOn = precheck(plan);
    for (const QString& year : m_settings.years) {
        ClearYearPlan yearPlan;
        yearPlan.year = year;
        if (!planYear(yearPlan)) {
            plan.error = m_error;
            return plan;
        }
        if (!goesOn) {
            for (ClearMonthPlan& month : yearPlan.months) {
                month.action = QStringLiteral("none");
                month.reason = BackupDeclinedSummaryText();
            }
            yearPlan.archive = false;
            yearPlan.dataBytes = yearPlan.archiveBytes = 0;
        }
        plan.years << yearPlan;
    }
    planSpace(plan);
    plan.ok = true;
    return plan;
}

bool ClearPlanner::precheck(ClearPlan& plan)
{
    const QByteArray agent = toGbk(m_settings.agentCode);
    for (const QString& year : m_settings.years) {
        for (int month = 1; month <= 12; ++month) {
            const QString period = periodOf(year, month);
            char buffer[SJQL_IIT_RESULT_BUFFER_SIZE] = {};
            char* result = buffer;
            const int answer = bCanClearDkdjData(toGbk(period).constData(), agent.constData(), &result);
            m_precheck[period] = answer;
            if (answer != 0 && answer != 1)
                plan.asksConfirmation = true;
        }
    }
    return !(plan.asksConfirmation && m_options.declineWarnings);
}

bool ClearPlanner::judgeLeftovers(ClearMonthPlan& month, bool* judged)
{
    *judged = false;
    const LeftoverVerdict leftover =
        JudgeLeftoverFiles(m_agentDir, month.period, m_settings.agentCode, [&](const QString& path, int index) {
            return ScanDataFile(path, index, month.period, m_settings.agentCode);
        });
    switch (leftover.kind) {
    case LeftoverVerdict::Kind::None:
    case LeftoverVerdict::Kind::Superseded: // replaced by the month's new files
        return true;
    case LeftoverVerdict::Kind::SelectionFailed:
        m_error = leftover.error;
        return false;
    case LeftoverVerdict::Kind::Keep:
        *judged = true;
        month.action = QStringLiteral("not-cleared");
        month.reason = leftover.reason;
        return true;
    case LeftoverVerdict::Kind::Adopt:
        break;
    }
    *judged = true;
    const QStringList paths = MonthDataFilePaths(m_agentDir, month.period);
    month.rows = leftover.rows;
    for (const QString& path : paths)
        month.dataBytes += QFileInfo(path).size();
    month.action = QStringLiteral("adopt");
    for (const QString& archive : ExistingYearArchives(m_settings, month.period.left(4))) {
        QString error;
        const QString password =
            ArchivePasswordFor(archive, m_settings.protection.strongPassword()).value_or(QString());
        if (ArchiveHoldsFiles(archive, paths, password, ArchiveMembers::AtLeast, &error)) {
            month.action = QStringLiteral("already-archived");
            month.reason = QDir::toNativeSeparators(archive);
            month.dataBytes = 0;
            break;
        }
    }
    return true;
}

bool ClearPlanner::planYear(ClearYearPlan& year)
{
    QString sample;
    int members = 0;
    for (int m = 1; m <= 12; ++m) {
        ClearMonthPlan month;
        month.period = periodOf(year.year, m);
        month.precheck = m_precheck.value(month.period);
        if (month.precheck != 0 && month.precheck != 1)
            month.precheckText = PrecheckStatusText(month.precheck);
        bool judged = false;
        if (!judgeLeftovers(month, &judged))
            return false;
        if (!judged && month.precheck == 1) {
            month.action = QStringLiteral("skip");
            month.reason = QStringLiteral("宿主检查：此月不需清理");
        } else if (!judged) {
            month.action = QStringLiteral("clear");
            for (int i = 0; i < 3; ++i) {
                const std::optional<MonthTableSize> size =
                    sizeMonthTable(*m_shapes[size_t(i)], i, month.period, m_settings.agentCode);
                if (!size) {
                    m_error = QStringLiteral("无法统计%1的%2数据")
                                  .arg(month.period, QLatin1String(BackupDataFileKinds()[size_t(i)].table));
                    return false;
                }
                month.rows[size_t(i)] = size->rows;
                month.dataBytes += size->bytes;
                if (m_options.checkRows && month.action == QLatin1String("clear")) {
                    const MonthRowsScan scan = ScanDatabaseMonth(i, month.period, m_settings.agentCode);
                    if (!scan.ok) {
                        m_error = scan.error;
                        return false;
                    }
                    month.rows[size_t(i)] = qint64(scan.digests.size());
                    if (!scan.problem.isEmpty()) {
                        month.action = QStringLiteral("not-cleared");
                        month.reason = ValueNotRestorableText(scan.problem);
                    }
                }
            }
            if (sample.isEmpty() && month.rows[0] + month.rows[1] + month.rows[2] > 0)
                sample = month.period;
        }
        if (month.action == QLatin1String("clear") || month.action == QLatin1String("adopt")) {
            year.archive = true;
            year.dataBytes += month.dataBytes;
            members += 3;
        }
        year.months << month;
    }
    if (year.archive) {
        const double ratio = sample.isEmpty() ? 1.0 : compressionRatio(sample, m_settings.agentCode);
        year.archiveBytes = qint64(double(year.dataBytes) * ratio) + archiveOverhead(members + 1) + 4096;
    }
    return true;
}

void ClearPlanner::planSpace(ClearPlan& plan) const
{
    qint64 biggestYear = 0, archives = 0;
    for (const ClearYearPlan& year : plan.years) {
        biggestYear = qMax(biggestYear, year.dataBytes + 4096);
        archives += year.archiveBytes;
    }
    if (biggestYear <= 4096 && archives == 0)
        return; // nothing would be written
    plan.space << SpaceNeed{QStringLiteral("work"), m_settings.workDir, biggestYear, 0, -1};
    if (!m_settings.backupDir.isEmpty())
        plan.space << SpaceNeed{QStringLiteral("backup"), m_settings.backupDir, archives, 0, -1};
    // The compaction copies what the database holds into the temporary folder and writes it back
    // through SQLite's journal beside the database file: at most the pages in use now, each.
    HostConnection* connection = GetHostConnection();
    if (GetDBTypeName() == QLatin1String("SQLITE") && connection) {
        const QString file = connection->database().databaseName();
        qint64 used = QFileInfo(file).size();
        QSqlQuery query;
        if (RunQuery(QStringLiteral("PRAGMA freelist_count"), query, true) && query.next()) {
            const qint64 freePages = query.value(0).toLongLong();
            query.finish();
            if (RunQuery(QStringLiteral("PRAGMA page_size"), query, true) && query.next())
                used = qMax<qint64>(0, used - freePages * query.value(0).toLongLong());
        }
        plan.space << SpaceNeed{QStringLiteral("compaction-copy"), QDir::tempPath(), used, 0, -1};
        plan.space << SpaceNeed{QStringLiteral("compaction-journal"), QFileInfo(file).absolutePath(), used, 0, -1};
    }

    // Folders on one file system add up, at the fullest moment of the run: while a year is packed
    // its data files and the archives so far are there; during the compaction, the archives and
    // the compaction's files.
    QMap<QString, qint64> freeOf;
    QStringList keys;
    for (SpaceNeed& need : plan.space) {
        const QStorageInfo storage(cleanup::NearestExistingFolder(need.folder, cleanup::HomeFolder()));
        const QString key = storage.isValid() ? QString::fromUtf8(storage.device()) + storage.rootPath() : need.folder;
        keys << key;
        need.available = FreeSpaceFor(need.folder);
    }
    for (qsizetype i = 0; i < plan.space.size(); ++i) {
        auto onSame = [&](const QString& purpose) {
            qint64 sum = 0;
            for (qsizetype j = 0; j < plan.space.size(); ++j)
                if (keys[j] == keys[i] && plan.space[j].purpose.startsWith(purpose))
                    sum += plan.space[j].needed;
            return sum;
        };
        const qint64 packing = onSame(QStringLiteral("work")) + onSame(QStringLiteral("backup"));
        const qint64 compacting = onSame(QStringLiteral("backup")) + onSame(QStringLiteral("compaction"));
        plan.space[i].fileSystemNeed = qMax(packing, compacting);
    }
}

} // namespace

bool ClearPlan::spaceEnough() const
{
    for (const SpaceNeed& need : space)
        if (!need.enough())
            return false;
    return true;
}

ClearPlan PlanClear(const BackupJobSettings& settings, const ClearPlanOptions& options)
{
    return ClearPlanner(settings, options).run();
}

bool CountMonthRows(const QStringList& periods, const QString& agentCode, QList<TableCounts>* counts, QString* error)
{
    counts->clear();
    for (const QString& period : periods) {
        TableCounts rows{};
        for (int i = 0; i < 3; ++i) {
            const QString selection = BackupSelectStatement(i, period, agentCode);
            QSqlQuery query;
            if (!RunQuery(QStringLiteral("select count(*)") +
                              selection.mid(selection.indexOf(QStringLiteral(" from "))),
                          query, true) ||
                !query.next()) {
                *error = QStringLiteral("无法统计%1的%2数据")
                             .arg(period, QLatin1String(BackupDataFileKinds()[size_t(i)].table));
                return false;
            }
            rows[size_t(i)] = query.value(0).toLongLong();
        }
        *counts << rows;
    }
    return true;
}

qint64 FreeSpaceFor(const QString& folder)
{
    bool ok = false;
    const qint64 forced = qEnvironmentVariable("SJQL_TEST_FREE_SPACE").toLongLong(&ok);
    if (ok)
        return forced;
    const QStorageInfo storage(cleanup::NearestExistingFolder(folder, cleanup::HomeFolder()));
    return storage.isValid() ? storage.bytesAvailable() : -1;
}

} // namespace sjql
