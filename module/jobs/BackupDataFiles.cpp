// SPDX-License-Identifier: MIT
#include "jobs/BackupDataFiles.h"

#include "archive/FileUtils.h"
#include "context/ModuleContext.h"
#include "db/MysqlStatement.h"
#include "db/RunQuery.h"
#include "db/SqlLiteral.h"
#include "db/SqliteRows.h"
#include "hostapi/HostConnection.h"
#include "hostapi/MysqlNonBlocking.h"
#include "jobs/MonthRows.h"
#include "support/AdtgWriter.h"
#include "support/BesideEvents.h"
#include "support/MysqlTextRows.h"
#include "support/PhaseObserver.h"

#include <QDir>
#include <QFileInfo>
#include <QScopeGuard>

#include <future>
#include <optional>
#include <vector>

namespace sjql {

const std::array<BackupDataFileKind, 3>& BackupDataFileKinds()
{
    static const std::array<BackupDataFileKind, 3> kinds = {{
        {"ZCGZXJMXB", "ZCGZXJMXB_YYYYMM.dat", "GZFILENAME"},
        {"FGZXJB", "FGZXJB_YYYYMM.dat", "FGZFILENAME"},
        {"KJSDSBGB", "KJSDSBGB_YYYYMM.dat", "BGBFILENAME"},
    }};
    return kinds;
}

QString BackupDataFileName(const QString& fileTemplate, const QString& period)
{
    QString name = fileTemplate;
    return name.replace(QLatin1String("YYYYMM"), period, Qt::CaseSensitive);
}

QString BackupDataFilePath(const QString& workDir, const QString& fileTemplate, const QString& period)
{
    return AddBackslash(workDir) + period.left(4) + QDir::separator() + BackupDataFileName(fileTemplate, period);
}

QStringList MonthDataFilePaths(const QString& workDir, const QString& period)
{
    QStringList paths;
    for (const BackupDataFileKind& kind : BackupDataFileKinds())
        paths << BackupDataFilePath(workDir, QLatin1String(kind.fileTemplate), period);
    return paths;
}

QString BackupSelectStatement(int index, const QString& period, const QString& agentCode)
{
    // The trailing blanks are part of the statements as the system has always sent them.
    static const char* const tails[3] = {"  ", " ", "  "};
    const BackupDataFileKind& kind = BackupDataFileKinds().at(static_cast<size_t>(index));
    return QStringLiteral("select * from ") + QLatin1String(kind.table) + QStringLiteral(" where FFYF=") +
           SqlTextLiteral(period) + QStringLiteral(" and KJYWRBM=") + SqlTextLiteral(agentCode) +
           QLatin1String(tails[index]);
}

std::unique_ptr<adtg::SelectedRows> SelectMonthRows(int index, const QString& period, const QString& agentCode,
                                                    bool* ran, bool streamed)
{
    *ran = false;
    const QString sql = BackupSelectStatement(index, period, agentCode);
    HostConnection* connection = GetHostConnection();
    if (!connection || !connection->database().isOpen())
        return nullptr;
    std::unique_ptr<adtg::SelectedRows> rows = RunHostSqliteSelection(sql, ran);
    if (*ran || !MysqlHandleOf(connection->database()))
        return rows;
    MysqlResultPtr result;
    if (!RunHostMysqlStatement(sql, &result, nullptr, {}, streamed)) {
        *ran = true;
        return nullptr;
    }
    // Columns the text reader does not take are read through the driver, by a selection of its own.
    return adtg::MysqlTextRows::adopt(result.release(), streamed ? MysqlHandleOf(connection->database()) : nullptr);
}

QString BackupProgressText(int index, const QString& period)
{
    static const char* const what[3] = {"正常工资薪金数据", "非正常工资薪金数据", "扣缴所得税报告表数据"};
    return QStringLiteral("正在备份清理[") + period + QStringLiteral("]") + QString::fromUtf8(what[index]);
}

namespace {

// Rows between two calls of the caller's event processing while a selection is read.
constexpr int kPumpRows = 256;

// A data file on the disk and read back in full: whether it was written and synced, and the
// digests of its rows or why it could not be read.
struct ReadBack
{
    QString saveError; // empty when the file was written (or had been before)
    bool synced = false;
    MonthRowsScan scan;
};

// The writing (when `writer` holds the file), sync and read-back of a data file, on a helper thread
// of its own.
std::future<ReadBack> startReadBack(std::unique_ptr<adtg::AdtgWriter> writer, const QString& table, const QString& path,
                                    int index, const QString& period, const QString& agentCode,
                                    const std::function<void(const QString&)>& written)
{
    return std::async(std::launch::async, [writer = std::move(writer), table, path, index, period, agentCode, written] {
        ReadBack back;
        if (writer && !writer->save(path)) {
            back.saveError = adtg::DataFileError(path, table, writer->errorString());
            return back;
        }
        if (written)
            written(path);
        back.synced = SyncToDisk(path);
        if (back.synced)
            back.scan = ScanDataFile(path, index, period, agentCode);
        return back;
    });
}

MonthDataFilesResult failed(MonthDataFilesResult result, MonthDataFilesResult::Outcome outcome, int index,
                            const QString& error = {})
{
    result.outcome = outcome;
    result.failedIndex = index;
    result.error = error;
    return result;
}

} // namespace

MonthDataFilesResult WriteMonthDataFiles(const QString& workDir, const QString& period, const QString& agentCode,
                                         QSqlQuery& query, const MonthDataFilesOptions& options)
{
    MonthDataFilesResult result;
    const auto& kinds = BackupDataFileKinds();
    std::array<std::vector<RowDigest>, 3> selected;
    // On MariaDB the month's rows stream into the digests and the file as the server sends them
    // (storing them all on the client first takes as long again); the tables' schema is read
    // before each selection, since nothing else may run on the connection while rows stream.
    const adtg::TableColumnsCache schemas;
    HostConnection* host = GetHostConnection();
    const bool mariadb = host && MysqlHandleOf(host->database()) != nullptr;
    std::optional<mysqlnb::EqualityRangesFromStatistics> monthIndex;
    if (mariadb)
        monthIndex.emplace(MysqlHandleOf(host->database()));
    // Each file is written, synced and read back in full on a helper thread of its own as soon as
    // its rows are encoded, beside the next table's selection. One still running when this returns
    // early is waited for beside the events, so that its file is complete (or not there) by then.
    std::array<std::future<ReadBack>, 3> pending;
    const auto waitForAll = qScopeGuard([&] {
        for (std::future<ReadBack>& back : pending) {
            if (back.valid())
                (void)WaitBesideEvents(back, options.pump);
        }
    });
    for (int i = 0; i < static_cast<int>(kinds.size()); ++i) {
        const QLatin1String table(kinds[size_t(i)].table);
        if (options.beforeTable)
            options.beforeTable(i);
        const QString path = BackupDataFilePath(workDir, QLatin1String(kinds[size_t(i)].fileTemplate), period);
        std::vector<adtg::TableColumnInfo> columns;
        const bool streamed = mariadb && adtg::lookupTableColumns(host->database(), QString(table), &columns, nullptr);
        bool ran = false;
        std::unique_ptr<adtg::SelectedRows> rows = SelectMonthRows(i, period, agentCode, &ran, streamed);
        if (!rows && ran)
            return failed(result, MonthDataFilesResult::QueryFailed, i,
                          QStringLiteral("table %1: the selection statement failed").arg(table));
        MonthRowsScan scan;
        QString error;
        bool saved = false;
        std::unique_ptr<adtg::AdtgWriter> writer; // the file, written beside the next selection
        if (rows) {
            // One pass over the rows read in place serves the digests and the file.
            const QSqlDatabase db = GetHostConnection()->database();
            SelectionDigest digest;
            adtg::RecordsetFromRows file;
            if (digest.start(*rows, db, i)) {
                const bool fileStarted = file.start(*rows, db, table, path, &error);
                Timed(Phase::Saving, [&] {
                    int sincePump = 0;
                    for (bool there = rows->first(); there; there = rows->next()) {
                        digest.add(*rows);
                        if (fileStarted)
                            file.add(*rows);
                        if (options.pump && ++sincePump == kPumpRows) {
                            sincePump = 0;
                            options.pump();
                        }
                    }
                    return true;
                });
                scan = digest.finish(*rows);
                if (scan.ok && scan.problem.isEmpty() && fileStarted) {
                    ForceDirs(QFileInfo(path).absolutePath());
                    writer = Timed(Phase::Saving, [&] { return file.finish(*rows, &error, options.pump); });
                    saved = writer != nullptr;
                }
            } else {
                scan = digest.finish(*rows);
            }
        } else {
            if (!RunQuery(BackupSelectStatement(i, period, agentCode), query, true))
                return failed(result, MonthDataFilesResult::QueryFailed, i,
                              QStringLiteral("table %1: the selection statement failed").arg(table));
            scan = DigestSelectedRows(query, i, options.pump);
        }
        if (!scan.ok || !scan.problem.isEmpty()) {
            query.finish();
            return scan.ok ? failed(result, MonthDataFilesResult::Unrestorable, i, scan.problem)
                           : failed(result, MonthDataFilesResult::SelectionUnreadable, i, scan.error);
        }
        selected[size_t(i)] = std::move(scan.digests);
        if (!rows) {
            // The year's folder is made here so that a first month of a year needs no set-up.
            ForceDirs(QFileInfo(path).absolutePath());
            HostConnection* connection = GetHostConnection();
            error = QStringLiteral("data file %1: no host connection").arg(path);
            saved =
                connection && Timed(Phase::Saving, [&] {
                    return adtg::SaveRecordsetAdtg(query, connection->database(), table, path, &error, options.pump);
                });
            query.finish();
        }
        rows.reset(); // the statement is done before anything else runs on the connection
        if (!saved)
            return failed(result, MonthDataFilesResult::SaveFailed, i, error);
        result.paths << path;
        pending[size_t(i)] =
            startReadBack(std::move(writer), QString(table), path, i, period, agentCode, options.written);
        if (options.pump)
            options.pump();
    }

    for (int i = 0; i < 3; ++i) {
        const ReadBack back = WaitBesideEvents(pending[size_t(i)], options.pump);
        if (!back.saveError.isEmpty()) {
            result.paths.removeAt(i); // the files listed are the files written
            return failed(result, MonthDataFilesResult::SaveFailed, i, back.saveError);
        }
        if (!back.synced)
            return failed(result, MonthDataFilesResult::NotSynced, i);
        if (!back.scan.ok)
            return failed(result, MonthDataFilesResult::ReadBackFailed, i, back.scan.error);
        if (!back.scan.problem.isEmpty() || back.scan.digests != selected[size_t(i)]) {
            result.selectedRows = qsizetype(selected[size_t(i)].size());
            result.readBackRows = qsizetype(back.scan.digests.size());
            return failed(result, MonthDataFilesResult::ReadBackDiffers, i, back.scan.problem);
        }
    }
    const QString folder = QFileInfo(result.paths.first()).absolutePath();
    if (!RunBesideEvents([folder] { return SyncToDisk(folder); }, options.pump))
        return failed(result, MonthDataFilesResult::FolderNotSynced, -1);
    return result;
}

} // namespace sjql
