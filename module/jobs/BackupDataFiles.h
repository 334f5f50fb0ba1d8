// SPDX-License-Identifier: MIT
// Backup data files: one month of one history table of the current withholding agent, saved as a
// persisted recordset (ADTG) named after the table and the period, e.g. "FGZXJB_200801.dat".
//
// The backup-and-clear run writes a month's three files with WriteMonthDataFiles; the restore
// opens them with sjql::adtg::AdtgRecordset. GUI thread only: the statements run on the host
// connection through RunQuery. Nothing here throws or shows a dialog.
#pragma once

#include <QSqlQuery>
#include <QString>
#include <QStringList>

#include <array>
#include <functional>

namespace sjql {

// One kind of backup data file, in the order the tables are handled.
struct BackupDataFileKind
{
    const char* table;            // "ZCGZXJMXB"
    const char* fileTemplate;     // "ZCGZXJMXB_YYYYMM.dat"
    const char* summaryAttribute; // "GZFILENAME": the summary attribute naming the file
};
const std::array<BackupDataFileKind, 3>& BackupDataFileKinds();

// The file name: the template with every "YYYYMM" (case-sensitive) replaced by the period.
QString BackupDataFileName(const QString& fileTemplate, const QString& period);

// The full path: work folder + separator + the period's year + separator + file name.
QString BackupDataFilePath(const QString& workDir, const QString& fileTemplate, const QString& period);

// The selection statement of kind `index` (0..2), exactly as sent: tables 1 and 3 end in a quote
// and two blanks, table 2 in a quote and one blank.
QString BackupSelectStatement(int index, const QString& period, const QString& agentCode);

// The progress text shown while kind `index` of a month is written.
QString BackupProgressText(int index, const QString& period);

struct MonthDataFilesResult
{
    enum Outcome
    {
        Written,     // all three files exist
        QueryFailed, // a selection statement failed (RunQuery logged it); later files not written
        SaveFailed,  // a file could not be written; `error` says which and why
    };
    Outcome outcome = Written;
    int failedIndex = -1; // the kind that failed
    QString error;
    QStringList paths; // full paths of the files written, in kind order
};

// Writes the month's three data files into the year's folder under `workDir` (created when
// missing), replacing files of the same names. Before each table `beforeTable(index)` is called
// (may be empty), so the caller can show that table's progress text. `query` is the operation's
// query object; it is left with the last table's result.
[[nodiscard]] MonthDataFilesResult WriteMonthDataFiles(const QString& workDir, const QString& period,
                                                       const QString& agentCode, QSqlQuery& query,
                                                       const std::function<void(int index)>& beforeTable = {});

} // namespace sjql
