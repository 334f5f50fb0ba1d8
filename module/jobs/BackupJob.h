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
// No row is lost, doubled or filed under another agent or month, whatever fails:
// - each agent gathers its years in a folder of its own below the work folder (WorkFolders.h);
// - a month is cleared only once its three data files are on disk and read back with exactly the
//   rows, value for value and in order, that the selections returned, and only when every value can
//   be written back unchanged by the restore;
// - data files left by a run that was cut short are judged by the identity of their rows: they are
//   replaced only when the database still holds every row of them, packed when they are a whole
//   month the database no longer holds, and otherwise kept untouched with the month not cleared;
// - only files that are in a checked archive are removed from the work folder.
// The run holds the run lock from its start to its end, stops at a month boundary when the host
// asks it to, and tells how it ended (outcome()).
#pragma once

#include "archive/CompressUnit.h"
#include "db/Compaction.h"
#include "jobs/Messages.h"
#include "jobs/RunOutcome.h"

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

namespace sjql {

class DeflateAhead;
class TDispResultList;
struct MonthRowsScan;

// Everything the run needs to know, taken from the window and the module context when it starts.
struct BackupJobSettings
{
    QString agentCode;   // GetAgentCode
    QString hostAppCode; // GetHostAppCode: "03" names the withholding client's archives
    QString backupDir;   // the backup folder text of the window (edtBFLJ)
    QString workDir;     // FWorkDir: each year's files are gathered in workDir/<agent folder>/<year>/
    QString subAppDir;   // the module's sub-application folder; fallback archives go to its TEMP/
    QStringList years;   // chosen years, four characters each, in the order of the year boxes
    // The archives' cipher and password: the default every installation reads, or AES-256.
    ArchiveProtection protection;
};

struct BackupJobCallbacks
{
    // Lets the GUI thread process pending events, so that the progress window repaints; called at
    // the run's fixed points (progress changes, blocks of rows) and every 20 ms while files are
    // synced or read on helper threads. Empty: ProcessPendingEvents (support/EventPump.h).
    std::function<void()> processEvents;
    // Shows the pre-check warnings (the run's result list holds them and the closing line) and
    // returns whether the user wants to go on. Empty: the run goes on.
    std::function<bool(TDispResultList& warnings)> confirmWarnings;
    // The compaction at the end of a completed run. Empty: CompactAccessDatabase.
    std::function<CompactResult()> compact;
    // Shows the compaction's error text. May be empty.
    std::function<void(const QString& error)> showCompactionError;
    // Called on a helper thread right after each month data file is written, before it is synced
    // and read back (the tests spoil a file there, as a failing disk would). May be empty.
    std::function<void(const QString& path)> dataFileWritten;
};

// A year whose cleared months were never packed: its month data files are still in the agent's
// work folder (packing failed in both folders, or the run was cut short). Clearing the year again
// packs them into its archive.
struct UnfinishedYear
{
    QString year;        // four digits
    QStringList periods; // months with at least one data file, ascending
    QString folder;      // the year's folder below the agent's work folder
};

// The agent's unfinished years below `workDir` (FWorkDir), newest first. Only the file names are
// looked at; any thread.
[[nodiscard]] QList<UnfinishedYear> FindUnfinishedYears(const QString& workDir, const QString& agentCode);

// Archives of `year` and the settings' agent already in the backup or fallback folder, by name.
[[nodiscard]] QStringList ExistingYearArchives(const BackupJobSettings& settings, const QString& year);

class BackupJob
{
public:
    BackupJob(BackupJobSettings settings, BackupJobCallbacks callbacks);
    ~BackupJob();

    // Runs the whole operation. `operationText` and `itemProgress` are the progress item's in/out
    // values; result lines are appended to `results`. True when the run reached its end (every
    // chosen year done; the compaction ran); false when it ended early (run lock held elsewhere,
    // warnings declined, a failing statement, an archive written nowhere, a stop request).
    bool Run(QString& operationText, qint16& itemProgress, TDispResultList& results);

    // Set when the run reached its end or changed the database or the work folder on the way, so
    // the window refreshes its year list (FCleared).
    bool cleared() const { return m_cleared; }
    // Archives written by the run, in order.
    const QStringList& archives() const { return m_archives; }
    // How the run ended, with its one-line summary; valid after Run.
    RunOutcome outcome() const { return m_outcome; }

private:
    enum class Step
    {
        Next,   // go on with the next month
        EndRun, // a statement failed; the coded line was added
    };
    enum class YearEnd
    {
        Done,    // go on with the next year
        Stopped, // a stop was requested; what was cleared is packed
        EndRun,  // the run ends here
    };

    void progress(const QString& text);
    void progress(int position);
    // A data file's rows read on a helper thread while events are processed.
    MonthRowsScan scanFile(const QString& path, int index, const QString& period) const;
    // A file or folder forced to the disk on a helper thread while events are processed.
    bool syncBesideEvents(const QString& path) const;
    void addLine(int number, const QStringList& params = {});
    // The coded line of a failed statement; the run log gets it with the month (the SQL log holds
    // the statement and the database's reason).
    void addDbErrorLine(const QString& period = {});
    // An error text of the run, whole, into the module's run log with the agent and the period
    // ("YYYYMM") or year ("YYYY") it concerns (empty: the run as a whole).
    void logError(const QString& periodOrYear, const QString& text) const;
    bool precheck();
    YearEnd runYear(const QString& year);
    Step runMonth(const QString& period, QString& records, QStringList& archiveFiles);
    void takeOwnSharedLeftovers(const QString& year);
    // Archives of the year and agent already in the backup or fallback folder.
    QStringList existingArchives(const QString& year) const;
    bool writeAndVerify(const QString& period, QStringList* paths, QString* reason, bool* endRun);
    // True when every row of the month's data files is still in the database (read again now);
    // false when it is not, or when that cannot be told (an unreadable file, a failing statement).
    bool monthStillInDatabase(const QString& period, const QStringList& paths);
    bool packYear(const QString& year, const QStringList& archiveFiles);
    // The year's cleared months were not packed: says where they are and how to finish the year.
    void reportDataInWorkFolder(const QString& year);
    void addInterruptedLine(const QStringList& yearsLeft);
    void finishOutcome(bool interrupted);

    BackupJobSettings m_settings;
    BackupJobCallbacks m_callbacks;
    QString m_agentDir; // the agent's own folder below the work folder
    QString* m_text = nullptr;
    qint16* m_position = nullptr;
    TDispResultList* m_results = nullptr;
    QStringList m_skip;
    int m_step = 0;
    bool m_cleared = false;
    QStringList m_archives;
    QString m_declarationId;
    RunOutcome m_outcome;

    // What the run did, for its summary.
    bool m_changed = false; // a month cleared or a leftover adopted
    int m_monthsCleared = 0;
    int m_monthsNotCleared = 0;
    bool m_statementFailed = false;
    bool m_compactionFailed = false;
    QString m_stoppedAt;                       // the period before which a stop request ended the run
    QStringList m_onlyInWorkFolder;            // "2019年度…<folder>" for years whose cleared data were not packed
    std::optional<QStringList> m_yearArchives; // the current year's existing archives, looked up once
    QMap<QString, QStringList> m_alreadyArchived; // existing archive -> months found in it whole
    std::unique_ptr<DeflateAhead> m_deflate;      // the cleared months' files, deflated for the archive
};

} // namespace sjql
