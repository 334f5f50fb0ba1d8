// SPDX-License-Identifier: MIT
// Every text the backup-and-clear and restore runs show or write for people, in one place: the
// codes of the host's message catalogue with the one function that turns a code and its parameters
// into a line, and the module's own texts (reasons, result lines, summaries, progress texts) that
// the catalogue does not hold.
//
// The texts are fixed: tests, the host's scripted mode and support staff read them, so a change
// here is a change of what users see. Each function only puts its values in; nothing in a value
// is read as an argument marker. Pure functions except MessageLine (asks the host's catalogue;
// GUI thread like every host service).
#pragma once

#include "archive/CompressUnit.h"
#include "jobs/RunOutcome.h"

#include <QString>
#include <QStringList>

namespace sjql {

// Codes of the host's message catalogue: 14012001 to 14012008 belong to backup-and-clear,
// 14012009 to 14012021 to restore.
enum MessageCode : int
{
    MsgNoYearTicked = 14012001,
    MsgConfirmClear = 14012002,
    MsgWarningsEnd = 14012003,
    MsgWarning = 14012004,
    MsgClearFailed = 14012005, // also the restore's line for a month the host refused to clear
    MsgArchived = 14012006,
    MsgArchivedFallback = 14012007,
    MsgArchiveFailed = 14012008,
    MsgUnpackFailed = 14012009,
    MsgNoSummary = 14012010,
    MsgSummaryUnreadable = 14012011,
    MsgOtherAgent = 14012012,
    MsgNoYear = 14012013,
    MsgOtherEdition = 14012014,
    MsgDeclarationChanged = 14012015,
    MsgWageFileMissing = 14012017,
    MsgNonWageFileMissing = 14012018,
    MsgReportFileMissing = 14012019,
    MsgArchiveDone = 14012020,
    MsgEmptyMonth = 14012021,
};

// The host's text of a message: GetMsg(code, parameters joined by the character 0x01 and cut to
// 255 GBK bytes, 1).
[[nodiscard]] QString MessageLine(int code, const QStringList& params = {});

// --- backup-and-clear ---

// The status text shown for a pre-check result (bCanClearDkdjData) that is a warning. A result
// outside the known ones reads "未知的检查结果(<n>)", so the user sees which answer the host gave.
[[nodiscard]] QString PrecheckStatusText(int result);

// The caption of a year box for a year that is unfinished: "2019年(未完成)". The first four
// characters stay the year.
[[nodiscard]] QString UnfinishedYearCaption(const QString& year);

// Progress texts.
[[nodiscard]] QString BackupMonthProgressText(const QString& period);
[[nodiscard]] QString CompactionProgressText();

// Why a month was not cleared (the second parameter of MsgClearFailed). Folders are native paths.
[[nodiscard]] QString LeftoverUnreadableText(const QString& folder, const QString& file, const QString& error);
[[nodiscard]] QString LeftoverForeignRowsText(const QString& folder, const QString& file, const QString& problem);
[[nodiscard]] QString LeftoverExtraRowsText(const QString& folder);
[[nodiscard]] QString ValueNotRestorableText(const QString& problem);
[[nodiscard]] QString TableUnreadableText(const QString& table, const QString& error);
[[nodiscard]] QString DataFileWriteFailedText(const QString& error);
[[nodiscard]] QString DataFileNotSyncedText(const QString& file);
[[nodiscard]] QString DataFileNotReadBackText(const QString& file, const QString& error);
[[nodiscard]] QString DataFileRowsDifferText(const QString& file, qsizetype readBack, qsizetype selected);
[[nodiscard]] QString FolderNotSyncedText(const QString& folder);
// The host's refusal `message`, when the month may be gone from the database all the same.
[[nodiscard]] QString ClearUnconfirmedText(const QString& message, const QString& folder, const QString& year);

// Result lines of the module's own.
[[nodiscard]] QString YearOnlyInWorkFolderLine(const QString& year, const QString& folder);
[[nodiscard]] QString MonthsAlreadyArchivedLine(const QStringList& periods, const QString& archive);
[[nodiscard]] QString YearNothingClearedLine(const QString& year);
[[nodiscard]] QString BackupInterruptedLine(const QString& stoppedAt, int monthsCleared, const QStringList& yearsLeft);
[[nodiscard]] QString CompactionFailedLine(const QString& error);

// Details that only the run log receives (the result line says less).
[[nodiscard]] QString SummaryNotWrittenText(const QString& error);
[[nodiscard]] QString ArchiveNotWrittenText(const QString& archive, const QString& error);
[[nodiscard]] QString ArchiveCheckFailedText(const QString& archive, const QString& error);
[[nodiscard]] QString StatementFailedLogText(const QString& line);

// Parts of the run's summary that say where data wait in the work folder.
[[nodiscard]] QString YearOnlyInWorkFolderText(const QString& year, const QString& folder);
[[nodiscard]] QString MonthFilesKeptText(const QString& period, const QString& folder);

// What a backup-and-clear run did, for its one-line summary.
struct BackupTally
{
    bool interrupted = false;
    qsizetype archives = 0;
    int monthsNotCleared = 0;
    bool statementFailed = false;
    bool compactionFailed = false;
    QStringList onlyInWorkFolder; // YearOnlyInWorkFolderText / MonthFilesKeptText parts
};
[[nodiscard]] QString BackupSummaryText(const BackupTally& tally);
[[nodiscard]] QString BackupDeclinedSummaryText();

// --- restore ---

[[nodiscard]] QString RestoreArchiveProgressText(const QString& archiveName);
[[nodiscard]] QString RestoreCheckProgressText(const QString& month);
// "正在还原[<month>]<label>。(": the progress text of a data file's rows before the row number.
[[nodiscard]] QString RestoreRowsProgressHead(const QString& month, const QString& label);

// Why a month was not restored (the reason of MonthNotRestoredLine).
[[nodiscard]] QString DataFileUnreadableText(const QString& file, const QString& error);
[[nodiscard]] QString DataFileNotConvertibleText(const QString& file, const QString& error);
[[nodiscard]] QString DataFileForeignRowText(const QString& file, qint64 row, const QString& agent,
                                             const QString& month);
[[nodiscard]] QString InvalidMonthText();
[[nodiscard]] QString MonthOutsideYearText(const QString& year);
[[nodiscard]] QString NoRowsInMonthFilesText();

[[nodiscard]] QString MonthNotRestoredLine(const QString& month, const QString& reason);
[[nodiscard]] QString UnpackReasonLine(UnpackProblem problem, const QString& error);
[[nodiscard]] QString DataFileBrokenLine(const QString& file, const QString& error);
// A stop request: the archives committed before it, the archive rolled back (empty: none) and the
// number left untouched.
[[nodiscard]] QString RestoreInterruptedLine(const QStringList& committed, const QString& rolledBack,
                                             qsizetype untouched);
[[nodiscard]] QString RestoreAbortedLine(const QString& what);
[[nodiscard]] QString SummaryUnreadableText(const QString& error);
[[nodiscard]] QString RestoreSummaryText(RunEnding ending, qsizetype total, int full, int partial);

} // namespace sjql
