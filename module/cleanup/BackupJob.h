// SPDX-License-Identifier: MIT
// The backup-and-clear run without a window: for every chosen year and each of its months, the
// month's rows of the current agent are saved into three backup data files, the host's withholding
// library removes the month, the year is described in its summary and packed into one archive in
// the backup folder (or the fallback folder), and the host database is compacted at the end.
//
// The cleanup window runs it as the single item of its progress job and passes callbacks for what
// needs a screen (the warnings dialog, the compaction error); tests pass their own. Everything runs
// on the GUI thread, the thread of the host connection. Nothing here shows a dialog itself.
//
// A month is cleared only once its three data files are on disk, read back and found to hold
// exactly the rows the selections returned; data files left by a run that was cut short are never
// replaced by a selection holding fewer rows (a rerun packs them instead); and a year's work folder
// is removed only after its archive has been reopened and every member checked.
#pragma once

#include "db/Compaction.h"

#include <QString>
#include <QStringList>

#include <functional>

namespace sjql {

namespace ui {
class TDispResultList;
}

// Everything the run needs to know, taken from the window and the module context when it starts.
struct BackupJobSettings
{
    QString agentCode;   // GetAgentCode
    QString hostAppCode; // GetHostAppCode: "03" names the withholding client's archives
    QString backupDir;   // the backup folder text of the window (edtBFLJ)
    QString workDir;     // FWorkDir: each year's files are gathered in workDir/<year>/
    QString subAppDir;   // the module's sub-application folder; fallback archives go to its TEMP/
    QStringList years;   // chosen years, four characters each, in the order of the year boxes
};

struct BackupJobCallbacks
{
    // Lets the GUI thread process pending events, so that the progress window repaints. May be empty.
    std::function<void()> processEvents;
    // Shows the pre-check warnings (the run's result list holds them and the closing line) and
    // returns whether the user wants to go on. Empty: the run goes on.
    std::function<bool(ui::TDispResultList& warnings)> confirmWarnings;
    // The compaction at the end of a completed run. Empty: CompactAccessDatabase.
    std::function<CompactResult()> compact;
    // Shows the compaction's error text. May be empty.
    std::function<void(const QString& error)> showCompactionError;
};

// Result lines of the run: the host catalogue's message number and the parameters given to it.
enum BackupMessage
{
    MsgNoYearTicked = 14012001,
    MsgConfirmClear = 14012002,
    MsgWarningsEnd = 14012003,
    MsgWarning = 14012004,
    MsgClearFailed = 14012005,
    MsgArchived = 14012006,
    MsgArchivedFallback = 14012007,
    MsgArchiveFailed = 14012008,
};

// The host's text of a message: GetMsg(number, parameters joined by the character 0x01 and cut to
// 255 GBK bytes, 1).
[[nodiscard]] QString BackupMessageText(int number, const QStringList& params = {});

// The status text shown for a pre-check result (bCanClearDkdjData) that is a warning. A result
// outside the known ones reads "未知的检查结果(<n>)", so the user sees which answer the host gave.
[[nodiscard]] QString PrecheckStatusText(int result);

// Environment variable read by the run, for crash tests only: when it holds a period, the process
// aborts right after the host library has cleared that month.
inline constexpr const char* kAbortAfterClearEnv = "SJQL_TEST_ABORT_AFTER_CLEAR";

class BackupJob
{
public:
    BackupJob(BackupJobSettings settings, BackupJobCallbacks callbacks);

    // Runs the whole operation. `operationText` and `itemProgress` are the progress item's in/out
    // values; result lines are appended to `results`. True when the run reached its end (every
    // chosen year packed; the compaction ran); false when it ended early (warnings declined, a
    // failing statement, an archive written nowhere).
    bool Run(QString& operationText, qint16& itemProgress, ui::TDispResultList& results);

    // Set when the run reached its end, so the window refreshes its year list (FCleared).
    bool cleared() const { return m_cleared; }
    // Archives written by the run, in order.
    const QStringList& archives() const { return m_archives; }

private:
    enum class Leftover
    {
        None,       // no data file of the month in the year's folder
        Adopt,      // a complete set whose rows the database no longer holds: keep and pack it
        Superseded, // the database holds at least every row of the files: they may be replaced
        Conflict,   // files holding rows the database does not: keep them, do not clear the month
    };
    enum class Step
    {
        Next,   // go on with the next month
        EndRun, // a statement failed; the coded line was added
    };

    void progress(const QString& text);
    void progress(int position);
    // Processes pending events through the caller's callback, changing no progress.
    void pumpEvents();
    void addLine(int number, const QStringList& params = {});
    void addDbErrorLine();
    bool precheck();
    bool runYear(const QString& year);
    Step runMonth(const QString& period, QString& records, QStringList& archiveFiles, bool& keepYearFolder);
    bool countMonthRows(const QString& period, qint64 rows[3]);
    Leftover inspectLeftovers(const QString& period, QString* reason, bool* endRun);
    bool writeAndVerify(const QString& period, QStringList* paths, QString* reason, bool* endRun);
    bool packYear(const QString& year, const QStringList& archiveFiles, bool keepYearFolder);

    BackupJobSettings m_settings;
    BackupJobCallbacks m_callbacks;
    QString* m_text = nullptr;
    qint16* m_position = nullptr;
    ui::TDispResultList* m_results = nullptr;
    QStringList m_skip;
    int m_step = 0;
    bool m_cleared = false;
    QStringList m_archives;
    QString m_declarationId;
};

// Reopens an archive with the password and checks that it holds exactly the members named by the
// bare names of `files`, each readable, CRC right and byte for byte equal to its file. False with
// *error naming the archive and member otherwise.
[[nodiscard]] bool VerifyBackupArchive(const QString& archivePath, const QStringList& files, const QString& password,
                                       QString* error);

} // namespace sjql
