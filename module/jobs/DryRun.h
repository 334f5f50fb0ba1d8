// SPDX-License-Identifier: MIT
// What a backup-and-clear or a restore would do, worked out without doing it, and what the
// database and an archive hold afterwards, for the host's dry runs, its pre-flight check of the
// free space and its machine-readable reports.
//
// The plans follow the jobs' own order of judging, with the jobs' public parts: the host library's
// pre-check (bCanClearDkdjData, which only reads), the backup's selections and row checks
// (MonthRows.h), the judging of data files left in the work folder, the archives already in the
// backup folders, the restore's checks of a summary and of each month's data files.
//
// Nothing here writes to the database, the work folder or the backup folders: an archive is read
// in a temporary folder of the system's own (QDir::tempPath()) that is removed again. A plan holds
// the run lock of its agent while it reads, so that it never sees a run half-way, and lets it go
// at its end. GUI thread only (the host connection). Nothing here throws or shows a dialog.
#pragma once

#include "jobs/BackupJob.h"

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

#include <array>

namespace sjql {

using TableCounts = std::array<qint64, 3>; // rows per table, in BackupDataFileKinds order

// One month of a planned backup-and-clear. `action` is what the run would do with it:
//   "clear"            its rows are written, checked and cleared (rows: selected now)
//   "skip"             the host's pre-check says it is not to be cleared (answer 1)
//   "adopt"            complete data files of a run cut short are packed (rows: in those files)
//   "already-archived" those files are in an archive of the year already: they are removed
//   "not-cleared"      the month stays in the database; `reason` says why (the run's line)
//   "none"             the run would not get to it (a declined warning ends it before any month)
struct ClearMonthPlan
{
    QString period;
    int precheck = 0;     // bCanClearDkdjData's answer
    QString precheckText; // the warning's text for answers other than 0 and 1
    QString action;
    QString reason;
    TableCounts rows{};
    qint64 dataBytes = 0; // estimated size of the month's three data files
};

struct ClearYearPlan
{
    QString year;
    QList<ClearMonthPlan> months;
    bool archive = false;    // the run would pack an archive of the year
    qint64 dataBytes = 0;    // estimated data files of the year together (the work folder holds them)
    qint64 archiveBytes = 0; // estimated size of the archive
};

// Free space a run needs in one folder. Folders on one file system share its free space: `enough`
// compares the file system's free space with what all the run's folders on it hold at its fullest.
struct SpaceNeed
{
    QString purpose;           // "work", "backup", "compaction-copy", "compaction-journal"
    QString folder;            // as the run uses it
    qint64 needed = 0;         // for this purpose
    qint64 fileSystemNeed = 0; // at the fullest moment, with the other purposes on the same file system
    qint64 available = -1;     // free bytes of its file system for the user; -1 when unknown
    bool enough() const { return available < 0 || available >= fileSystemNeed; }
};

struct ClearPlan
{
    bool ok = false;   // false: `error` says why no plan could be made
    bool busy = false; // another backup or restore holds the run lock (ok is false)
    QString error;
    QString agentCode;
    bool asksConfirmation = false; // a pre-check warning: the run shows them and asks to go on
    QList<ClearYearPlan> years;
    QList<SpaceNeed> space;
    bool spaceEnough() const;
};

struct ClearPlanOptions
{
    // Runs every month's selection through the backup's row checks (DigestSelectedRows), so that a
    // value the restore could not write back shows as "not-cleared"; without, rows are counted only
    // (the pre-flight check before a real run).
    bool checkRows = true;
    bool declineWarnings = false; // the run's warnings would be declined
};

// The plan of a backup-and-clear with `settings` (as BackupJob gets them from the window).
[[nodiscard]] ClearPlan PlanClear(const BackupJobSettings& settings, const ClearPlanOptions& options);

// One month record of an archive's summary, with what a restore would do with it:
//   "restore"  its rows replace the month's rows of the agent in the database
//   "skip"     the month is left as it is; `reason` is the restore's line
//   "none"     the summary says the month was not cleared: nothing to restore
struct RestoreMonthPlan
{
    QString period;
    QString action;
    QString reason;
    TableCounts rows{};     // rows in the archive's data files
    TableCounts replaces{}; // rows of the month in the database now, which a restore removes
};

// One archive of a planned restore:
//   "restore"     at least one month would be restored
//   "nothing"     the archive is read, but no month would be restored
//   "skip"        the archive cannot be unpacked; the run goes on with the next
//   "end-run"     the check ends the whole run here (another agent or edition, no year, a broken
//                 summary); later archives are not reached
//   "not-reached" an earlier archive ends the run
struct RestoreArchivePlan
{
    QString archive;
    QString action;
    QString reason;
    QString agentCode; // the summary's
    QString year;
    QString edition;
    QList<RestoreMonthPlan> months;
};

struct RestorePlan
{
    bool ok = false;
    bool busy = false;
    QString error;
    QString agentCode;
    QList<RestoreArchivePlan> archives;
};

// The plan of a restore of `archives` (full paths, in order) for the current agent and edition.
[[nodiscard]] RestorePlan PlanRestore(const QStringList& archives, const QString& agentCode,
                                      const QString& hostAppCode);

// The agent's rows of each month in the database now (false, *error set, when a statement fails).
[[nodiscard]] bool CountMonthRows(const QStringList& periods, const QString& agentCode, QList<TableCounts>* counts,
                                  QString* error);

// An archive's cleared months and the rows of their data files (months whose files are missing or
// hold rows of another agent or month carry `reason`); read in a temporary folder.
[[nodiscard]] RestoreArchivePlan ReadArchiveRows(const QString& archive, const QString& agentCode);

// The plans as JSON objects (the keys are those of the host's reports).
[[nodiscard]] QJsonObject ClearPlanJson(const ClearPlan& plan);
[[nodiscard]] QJsonObject RestorePlanJson(const RestorePlan& plan);
[[nodiscard]] QJsonObject ArchivePlanJson(const RestoreArchivePlan& archive);

// The free bytes for the user on the file system of `folder` (its nearest existing parent when it
// does not exist yet); -1 when unknown. Test seam: the environment variable SJQL_TEST_FREE_SPACE
// (a number of bytes) is reported for every folder instead.
[[nodiscard]] qint64 FreeSpaceFor(const QString& folder);

} // namespace sjql
