// SPDX-License-Identifier: MIT
// The restore run: puts the history rows of backup archives back into the database.
//
// For each chosen archive, in order: unpack it into the unpack folder, check its summary
// "BFZYXX.xml" against the current agent and host edition, then per cleared month compare the
// declaration number, let the host's withholding library clear the month and re-insert the rows of
// the month's three backup data files. All statements of one archive form one transaction on the
// host connection, committed when the archive is done and rolled back on every early end of the
// run. Every outcome becomes a line of the result list (the host's message for its code).
//
// Nothing of a month is touched before the month is known to be whole and to be the month it says:
// its three data files exist, decode, and every row carries the summary's agent and the record's
// month, which lies in the summary's year. The host library's clearing of a month runs inside the
// archive's transaction under a savepoint, so a clearing that fails half-way is undone at once.
// Only the summary and the data files its records name are unpacked, within limits.
//
// One run at a time per database and agent (RunLock); a stop request of the host is obeyed at each
// record and between archives, rolling the open archive back.
//
// The window's item procedure (TfrmsjqlMgr::RestoreArchives) delegates here; tests run it without
// a window. GUI thread only: the statements run on the host connection through RunQuery and the
// library call works on that connection too. Nothing here shows a dialog or throws.
#pragma once

#include "jobs/ResultLines.h"
#include "jobs/RunOutcome.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace sjql {

struct RestoreSettings
{
    QStringList archives; // full paths, in the order chosen
    QString unpackFolder; // emptied before each archive and removed at the end by the caller
    QString backupFolder; // the window's backup folder text; created when missing
    QString agentCode;    // GetAgentCode()
    QString hostAppCode;  // GetHostAppCode()
    // Rows go in through one prepared statement per data file where the database allows it
    // (SQLite, MariaDB), one literal INSERT per row otherwise. Both store the same values; true
    // keeps to the literal statements everywhere (tests compare the two).
    bool literalStatements = false;
    // The password of AES-256 archives (the strong mode); the default archives open without it.
    std::optional<QString> strongPassword;
};

class RestoreJob
{
public:
    explicit RestoreJob(RestoreSettings settings);

    // Runs the restore. operationText and itemProgress are the progress window's values (the
    // window repaints from them whenever pending events are processed); lines are appended to
    // `results`. Returns false when the run ended early (another run holds the lock, a check that
    // ends the run, a failed statement, a row that cannot be built, a stop request); true when
    // every archive was worked through. outcome() tells whether everything was restored.
    bool Run(QString& operationText, qint16& itemProgress, TDispResultList& results);

    // True once an archive has been finished: the database changed and the year list is stale.
    bool Cleared() const { return m_cleared; }

    // How the last run ended: Clean when every archive was restored without a failure line;
    // Failures when any line reports something not restored; Interrupted after a stop request;
    // Busy when another run held the lock. The summary counts archives restored fully, partly and
    // not at all.
    RunOutcome outcome() const { return m_outcome; }

    // How pending events are processed at the fixed points of the run (start, each archive, each
    // month record, every 20th row, end). Default: ProcessPendingEvents(). Tests use
    // it to watch the item progress.
    std::function<void()> processEvents;

    // The text of the summary line for months restored in record order ("200801-200803；200805-200805"):
    // runs of consecutive YYYYMM values, each written first-last. Exposed for tests.
    class MonthRuns
    {
    public:
        void add(const QString& month);
        QString text() const;

    private:
        QString m_text;
        QString m_last;
    };

private:
    RestoreSettings m_settings;
    bool m_cleared = false;
    RunOutcome m_outcome;
};

} // namespace sjql
