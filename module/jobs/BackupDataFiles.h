// SPDX-License-Identifier: MIT
// Backup data files: one month of one history table of the current withholding agent, saved as a
// persisted recordset (ADTG) named after the table and the period, e.g. "FGZXJB_200801.dat".
//
// The backup-and-clear run writes and checks a month's three files with WriteMonthDataFiles (the
// one writer, used by tests as well); the restore opens them with sjql::adtg::AdtgRecordset. GUI
// thread only: the statements run on the host connection through RunQuery. Nothing here throws or
// shows a dialog.
#pragma once

#include "support/SelectedRows.h"

#include <QSqlQuery>
#include <QString>
#include <QStringList>

#include <array>
#include <functional>
#include <memory>

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

// The paths of a month's three data files under `workDir`, in the order of BackupDataFileKinds.
QStringList MonthDataFilePaths(const QString& workDir, const QString& period);

// The selection statement of kind `index` (0..2), exactly as sent: tables 1 and 3 end in a quote
// and two blanks, table 2 in a quote and one blank.
QString BackupSelectStatement(int index, const QString& period, const QString& agentCode);

// Runs the selection of kind `index` on the host connection's own client library and hands its rows
// out in place: on SQLite through its handle, on MariaDB through the non-blocking calls (events are
// processed while the server works) with the rows held by the client. Null with `*ran` false when
// the connection is neither kind, or its result has columns of other types (the caller goes through
// RunQuery and the driver); null with `*ran` true when the statement failed (logged in the SQL log
// as RunQuery logs it). With `streamed`, MariaDB's rows come row by row as the server sends them
// (read once; the connection is the rows' alone until they are freed: the caller reads the table's
// schema before, under a TableColumnsCache).
[[nodiscard]] std::unique_ptr<adtg::SelectedRows>
SelectMonthRows(int index, const QString& period, const QString& agentCode, bool* ran, bool streamed = false);

// The progress text shown while kind `index` of a month is written.
QString BackupProgressText(int index, const QString& period);

struct MonthDataFilesOptions
{
    // Called before each table's selection (may be empty), so that the caller can show that
    // table's progress text.
    std::function<void(int index)> beforeTable;
    // Processes pending events (may be empty): every few hundred rows while a selection is digested
    // and saved, after each file, and every 20 ms while the files are synced and read back on
    // helper threads.
    std::function<void()> pump;
    // Called on the helper thread right after a file is written, before it is synced and read back
    // (may be empty).
    std::function<void(const QString& path)> written;
};

struct MonthDataFilesResult
{
    enum Outcome
    {
        Written,             // the three files are on the disk and read back with exactly the rows selected
        QueryFailed,         // a selection statement failed (RunQuery logged it); later files not written
        Unrestorable,        // a selected value the restore could not write back as it was; `error` names
                             // table, row, column and why (MonthRowsScan::problem)
        SelectionUnreadable, // the selected rows could not be read; `error` says why
        SaveFailed,          // a file could not be written; `error` says which and why
        NotSynced,           // a file could not be forced to the disk
        ReadBackFailed,      // a file could not be read back; `error` says why
        ReadBackDiffers,     // a file reads back other rows than were selected (or rows of another agent
                             // or month); see selectedRows and readBackRows
        FolderNotSynced,     // the year's folder could not be forced to the disk
    };
    Outcome outcome = Written;
    int failedIndex = -1; // the kind that failed (-1 for the folder)
    QString error;
    qsizetype selectedRows = 0; // ReadBackDiffers: rows the selection returned
    qsizetype readBackRows = 0; // ReadBackDiffers: rows the file gave back
    QStringList paths;          // full paths of the files written, in kind order
};

// Writes the month's three data files into the year's folder under `workDir` (created when
// missing), replacing files of the same names, and checks them before anything may clear the month:
// - the rows each selection returns are digested apart from the writer (MonthRows.h), so that the
//   file read back is compared with the database and not with the writer's own idea of it; a value
//   the restore could not write back unchanged stops here;
// - every file is synced and read back in full on a helper thread of its own (the three side by
//   side) and must hold the selected rows value for value and in order; then the folder is synced.
// Stored bytes are those of SaveRecordsetAdtg. `query` is the operation's query object; it is
// finished after each table. On failure the files written so far stay (the caller removes them).
[[nodiscard]] MonthDataFilesResult WriteMonthDataFiles(const QString& workDir, const QString& period,
                                                       const QString& agentCode, QSqlQuery& query,
                                                       const MonthDataFilesOptions& options = {});

} // namespace sjql
