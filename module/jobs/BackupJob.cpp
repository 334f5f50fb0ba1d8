// SPDX-License-Identifier: MIT
#include "jobs/BackupJob.h"

#include "archive/ArchiveCheck.h"
#include "archive/CompressUnit.h"
#include "archive/DeflateAhead.h"
#include "archive/FileUtils.h"
#include "context/ErrorText.h"
#include "context/ModuleContext.h"
#include "context/ParamText.h"
#include "db/ModuleLog.h"
#include "db/RunLock.h"
#include "db/RunQuery.h"
#include "db/SqlLiteral.h"
#include "db/StatementEventPump.h"
#include "hostapi/Gbk.h"
#include "hostapi/HostConnection.h"
#include "hostapi/IITIterface.h"
#include "hostapi/ModuleLib.h"
#include "jobs/BackupDataFiles.h"
#include "jobs/BackupSummary.h"
#include "jobs/LeftoverFiles.h"
#include "jobs/MonthRows.h"
#include "jobs/ResultLines.h"
#include "jobs/WorkFolders.h"
#include "support/BesideEvents.h"
#include "support/EventPump.h"
#include "support/FaultPoint.h"
#include "support/PhaseObserver.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSqlQuery>

#include <array>
#include <optional>

namespace sjql {

namespace {

QString yearFolder(const QString& workDir, const QString& year)
{
    return AddBackslash(workDir) + year;
}

// Removes files that hold nothing that is not also in the database or in a checked archive.
void removeFiles(const QStringList& paths)
{
    for (const QString& path : paths)
        QFile::remove(path);
}

QString native(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

// The name of a month data file ("ZCGZXJMXB_201904.dat"): its period, or empty.
QString periodOfDataFile(const QString& name)
{
    static const QRegularExpression pattern(QStringLiteral("^(?:ZCGZXJMXB|FGZXJB|KJSDSBGB)_(\\d{6})\\.dat$"));
    const QRegularExpressionMatch match = pattern.match(name);
    return match.hasMatch() ? match.captured(1) : QString();
}

// Why a month's data files did not come out whole (the result line's reason; the month stays).
QString notWrittenReason(const MonthDataFilesResult& written, const QString& period, const QString& folder)
{
    const BackupDataFileKind* kind =
        written.failedIndex >= 0 ? &BackupDataFileKinds().at(size_t(written.failedIndex)) : nullptr;
    const QString name = kind ? BackupDataFileName(QLatin1String(kind->fileTemplate), period) : QString();
    switch (written.outcome) {
    case MonthDataFilesResult::Unrestorable:
        return ValueNotRestorableText(written.error);
    case MonthDataFilesResult::SelectionUnreadable:
        return TableUnreadableText(QLatin1String(kind->table), written.error);
    case MonthDataFilesResult::SaveFailed:
        return DataFileWriteFailedText(written.error);
    case MonthDataFilesResult::NotSynced:
        return DataFileNotSyncedText(name);
    case MonthDataFilesResult::ReadBackFailed:
        return DataFileNotReadBackText(name, written.error);
    case MonthDataFilesResult::ReadBackDiffers:
        return DataFileRowsDifferText(name, written.readBackRows, written.selectedRows);
    case MonthDataFilesResult::FolderNotSynced:
        return FolderNotSyncedText(folder);
    case MonthDataFilesResult::Written:
    case MonthDataFilesResult::QueryFailed:
        break;
    }
    return {};
}

} // namespace

QList<UnfinishedYear> FindUnfinishedYears(const QString& workDir, const QString& agentCode)
{
    QList<UnfinishedYear> years;
    const QDir agentDir(AgentWorkDir(workDir, agentCode));
    static const QRegularExpression yearName(QStringLiteral("^\\d{4}$"));
    const QStringList folders = agentDir.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::Reversed);
    for (const QString& folder : folders) {
        if (!yearName.match(folder).hasMatch())
            continue;
        UnfinishedYear year;
        year.year = folder;
        year.folder = agentDir.filePath(folder);
        for (const QString& name : QDir(year.folder).entryList(QDir::Files, QDir::Name)) {
            const QString period = periodOfDataFile(name);
            if (period.left(4) == folder && !year.periods.contains(period))
                year.periods << period;
        }
        if (year.periods.isEmpty())
            continue;
        year.periods.sort();
        years << year;
    }
    return years;
}

BackupJob::BackupJob(BackupJobSettings settings, BackupJobCallbacks callbacks)
    : m_settings(std::move(settings)), m_callbacks(std::move(callbacks))
{
    m_callbacks.processEvents = PumpOrDefault(m_callbacks.processEvents);
}

BackupJob::~BackupJob() = default;

void BackupJob::progress(const QString& text)
{
    *m_text = text;
    m_callbacks.processEvents();
}

void BackupJob::progress(int position)
{
    *m_position = qint16(qBound(0, position, 100));
    m_callbacks.processEvents();
}

bool BackupJob::syncBesideEvents(const QString& path) const
{
    return RunBesideEvents([&] { return SyncToDisk(path); }, m_callbacks.processEvents);
}

MonthRowsScan BackupJob::scanFile(const QString& path, int index, const QString& period) const
{
    return RunBesideEvents([&] { return ScanDataFile(path, index, period, m_settings.agentCode); },
                           m_callbacks.processEvents);
}

void BackupJob::addLine(int number, const QStringList& params)
{
    m_results->AddLine(MessageLine(number, params));
}

void BackupJob::addDbErrorLine(const QString& period)
{
    const QString line = FormatErrorText(QLatin1String(kDbErrorCode));
    m_results->AddLine(line);
    logError(period, StatementFailedLogText(line));
}

void BackupJob::logError(const QString& periodOrYear, const QString& text) const
{
    LogSubject subject;
    subject.agent = m_settings.agentCode;
    (periodOrYear.size() == 4 ? subject.year : subject.month) = periodOrYear;
    WriteModuleLog(subject, text);
}

bool BackupJob::Run(QString& operationText, qint16& itemProgress, TDispResultList& results)
{
    m_text = &operationText;
    m_position = &itemProgress;
    m_results = &results;
    m_skip.clear();
    m_archives.clear();
    m_cleared = false;
    m_outcome = RunOutcome{};
    m_changed = false;
    m_monthsCleared = m_monthsNotCleared = 0;
    m_statementFailed = m_compactionFailed = false;
    m_stoppedAt.clear();
    m_onlyInWorkFolder.clear();
    m_agentDir = AgentWorkDir(m_settings.workDir, m_settings.agentCode);

    // One backup or restore at a time per database and agent: nothing is touched before the lock is
    // held, and it is held to the end of the run, compaction included.
    RunLock lock;
    QString busy;
    if (!lock.acquire(m_settings.agentCode, &busy)) {
        // Another run holds it (Busy), or it cannot be taken at all (a failure); either way
        // nothing was touched.
        m_results->AddLine(busy);
        logError(QString(), busy);
        m_outcome = RunOutcome{lock.busy() ? RunEnding::Busy : RunEnding::Failures, busy};
        return false;
    }

    progress(5);
    if (!precheck()) {
        m_outcome.summary = BackupDeclinedSummaryText();
        return false;
    }

    progress(10);
    m_step = m_settings.years.isEmpty() ? 0 : 90 / int(m_settings.years.size());
    bool ended = true;
    bool interrupted = false;
    for (qsizetype y = 0; y < m_settings.years.size(); ++y) {
        const YearEnd end = runYear(m_settings.years[y]);
        if (end == YearEnd::Done)
            continue;
        ended = false;
        if (end == YearEnd::Stopped) {
            interrupted = true;
            addInterruptedLine(m_settings.years.mid(y + 1));
        }
        break;
    }
    // The year list is refreshed after a run that reached its end, and after any run that changed
    // the database, so that a year left unfinished shows as such.
    m_cleared = ended || m_changed;

    if (ended) {
        progress(CompactionProgressText());
        FaultPoint("compaction");
        const CompactResult compacted = Timed(
            Phase::Compaction, [&] { return m_callbacks.compact ? m_callbacks.compact() : CompactAccessDatabase(); });
        if (!compacted.ok()) {
            m_compactionFailed = true;
            if (m_callbacks.showCompactionError)
                m_callbacks.showCompactionError(compacted.error);
            m_results->AddLine(CompactionFailedLine(compacted.error));
            logError(QString(), CompactionFailedLine(compacted.error));
        }
    }
    finishOutcome(interrupted);
    if (m_outcome.ending != RunEnding::Clean)
        logError(QString(), m_outcome.summary);
    return ended;
}

void BackupJob::finishOutcome(bool interrupted)
{
    if (interrupted)
        m_outcome.ending = RunEnding::Interrupted;
    if (m_monthsNotCleared > 0 || m_statementFailed || m_compactionFailed || !m_onlyInWorkFolder.isEmpty())
        m_outcome.fail();

    BackupTally tally;
    tally.interrupted = interrupted;
    tally.archives = m_archives.size();
    tally.monthsNotCleared = m_monthsNotCleared;
    tally.statementFailed = m_statementFailed;
    tally.compactionFailed = m_compactionFailed;
    tally.onlyInWorkFolder = m_onlyInWorkFolder;
    m_outcome.summary = BackupSummaryText(tally);
}

void BackupJob::addInterruptedLine(const QStringList& yearsLeft)
{
    m_results->AddLine(BackupInterruptedLine(m_stoppedAt, m_monthsCleared, yearsLeft));
}

void BackupJob::reportDataInWorkFolder(const QString& year)
{
    const QString folder = native(yearFolder(m_agentDir, year));
    m_onlyInWorkFolder << YearOnlyInWorkFolderText(year, folder);
    m_results->AddLine(YearOnlyInWorkFolderLine(year, folder));
    logError(year, YearOnlyInWorkFolderLine(year, folder));
}

bool BackupJob::precheck()
{
    const QByteArray agent = toGbk(m_settings.agentCode);
    bool warnings = false;
    for (const QString& year : m_settings.years) {
        for (int month = 1; month <= 12; ++month) {
            const QString period = year + QStringLiteral("%1").arg(month, 2, 10, QLatin1Char('0'));
            char buffer[SJQL_IIT_RESULT_BUFFER_SIZE] = {};
            char* result = buffer;
            const int answer = bCanClearDkdjData(toGbk(period).constData(), agent.constData(), &result);
            if (answer == 0)
                continue;
            if (answer == 1) {
                m_skip << period;
                continue;
            }
            addLine(MsgWarning, {period, PrecheckStatusText(answer)});
            warnings = true;
        }
    }
    if (!warnings)
        return true;
    addLine(MsgWarningsEnd);
    const bool confirmed = !m_callbacks.confirmWarnings || m_callbacks.confirmWarnings(*m_results);
    m_results->ClearLines();
    return confirmed;
}

QStringList ExistingYearArchives(const BackupJobSettings& settings, const QString& year)
{
    // Archive names differ only in their time stamp after the last "_".
    QString prefix =
        BuildArchiveName(settings.hostAppCode, year, settings.agentCode, QDateTime(QDate(2000, 1, 1), QTime(0, 0)));
    prefix.truncate(prefix.lastIndexOf(QLatin1Char('_')) + 1);
    QStringList found;
    for (const QString& folder : {settings.backupDir, AddBackslash(settings.subAppDir) + QStringLiteral("TEMP")}) {
        if (folder.isEmpty())
            continue;
        const QDir dir(folder);
        for (const QString& name : dir.entryList({prefix + QStringLiteral("*.zip")}, QDir::Files, QDir::Name))
            found << dir.filePath(name);
    }
    return found;
}

QStringList BackupJob::existingArchives(const QString& year) const
{
    return ExistingYearArchives(m_settings, year);
}

BackupJob::YearEnd BackupJob::runYear(const QString& year)
{
    QString records;
    QStringList archiveFiles;
    const QString folder = yearFolder(m_agentDir, year);
    m_yearArchives.reset();
    m_alreadyArchived.clear();
    if (m_deflate)
        m_deflate->clear(); // what an earlier year left unpacked is not this year's
    takeOwnSharedLeftovers(year);
    if (!DirExists(folder))
        ForceDirs(folder);

    bool stopped = false;
    for (int month = 1; month <= 12; ++month) {
        const QString period = year + QStringLiteral("%1").arg(month, 2, 10, QLatin1Char('0'));
        // Month boundaries are the safe points at which the host may stop the run.
        if (IsStopRequested()) {
            m_stoppedAt = period;
            stopped = true;
            break;
        }
        if (runMonth(period, records, archiveFiles) == Step::EndRun) {
            if (!archiveFiles.isEmpty())
                reportDataInWorkFolder(year);
            return YearEnd::EndRun;
        }
    }

    for (auto it = m_alreadyArchived.cbegin(); it != m_alreadyArchived.cend(); ++it) {
        m_results->AddLine(MonthsAlreadyArchivedLine(it.value(), native(it.key())));
    }
    // Nothing cleared and nothing adopted: no archive, and no line saying the year was backed up.
    if (archiveFiles.isEmpty()) {
        if (!stopped && m_alreadyArchived.isEmpty())
            m_results->AddLine(YearNothingClearedLine(year));
        // A summary left by an earlier run names no rows of its own; files kept for a month stay.
        QFile::remove(AddBackslash(folder) + BackupSummaryFileName);
        QDir().rmdir(folder);
        return stopped ? YearEnd::Stopped : YearEnd::Done;
    }

    // A summary that cannot be written makes an archive nobody could restore: handled like an
    // archive written nowhere, so the year's files stay in the work folder.
    QString error;
    if (!WriteBackupSummary(year, records, m_settings.agentCode, m_settings.hostAppCode, m_agentDir, archiveFiles,
                            &error)) {
        logError(year, SummaryNotWrittenText(error));
        addLine(MsgArchiveFailed, {year});
        reportDataInWorkFolder(year);
        return YearEnd::EndRun;
    }
    FaultPoint("summary", year);
    if (!packYear(year, archiveFiles)) {
        reportDataInWorkFolder(year);
        return YearEnd::EndRun;
    }
    return stopped ? YearEnd::Stopped : YearEnd::Done;
}

void BackupJob::takeOwnSharedLeftovers(const QString& year)
{
    // Older versions gathered every agent's year in one shared folder, <work folder>/<year>. A month
    // found there moves into the agent's folder only when every row of its files carries this agent
    // and that month (at least one row says so), and nothing of the month is in the agent's folder
    // yet; anything else there is left exactly as it is.
    const QString shared = yearFolder(m_settings.workDir, year);
    if (!DirExists(shared))
        return;
    const QString own = yearFolder(m_agentDir, year);
    for (int month = 1; month <= 12; ++month) {
        const QString period = year + QStringLiteral("%1").arg(month, 2, 10, QLatin1Char('0'));
        const QStringList from = MonthDataFilePaths(m_settings.workDir, period);
        const QStringList to = MonthDataFilePaths(m_agentDir, period);
        bool present = false, ours = true, anyRow = false, inTheWay = false;
        for (int i = 0; i < 3 && ours; ++i) {
            inTheWay = inTheWay || QFileInfo::exists(to[i]);
            if (!QFileInfo::exists(from[i]))
                continue;
            present = true;
            const MonthRowsScan scan = scanFile(from[i], i, period);
            ours = scan.ok && scan.problem.isEmpty();
            anyRow = anyRow || !scan.digests.empty();
        }
        if (!present || !ours || !anyRow || inTheWay)
            continue;
        ForceDirs(own);
        for (int i = 0; i < 3; ++i) {
            if (QFileInfo::exists(from[i]))
                QFile::rename(from[i], to[i]);
        }
    }
}

BackupJob::Step BackupJob::runMonth(const QString& period, QString& records, QStringList& archiveFiles)
{
    progress(BackupMonthProgressText(period));
    m_declarationId.clear();
    const QString lookup = QStringLiteral("select WYSBH from SBZB where SBYF=") + SqlTextLiteral(period) +
                           QStringLiteral(" and KJYWRBM=") + SqlTextLiteral(m_settings.agentCode) + QStringLiteral(" ");
    QSqlQuery query;
    if (!RunQuery(lookup, query, true)) {
        addDbErrorLine(period);
        m_statementFailed = true;
        return Step::EndRun;
    }
    if (query.next())
        m_declarationId = query.value(0).toString();
    query.finish();

    auto record = [&](const QString& flag) { records = AppendBackupRecord(records, flag, period, m_declarationId); };
    // The month's files are final once read back: the helper thread deflates them for the archive
    // while the host library clears the month (the server's work, the second core free) and the
    // next month is written. Files of a month that ends up not cleared are dropped again.
    auto deflateAhead = [&](const QStringList& paths) {
        if (!m_deflate)
            m_deflate = std::make_unique<DeflateAhead>();
        m_deflate->add(paths);
    };
    auto notDeflated = [&](const QStringList& paths) {
        if (m_deflate)
            m_deflate->drop(paths);
    };
    auto cleared = [&](const QStringList& paths) {
        archiveFiles << paths;
        record(QStringLiteral("Y"));
        m_changed = true;
        ++m_monthsCleared;
        progress(int(*m_position) + m_step / 12);
    };
    auto notCleared = [&](const QString& reason) {
        addLine(MsgClearFailed, {period, reason});
        logError(period, reason); // whole, where the line is cut to the host's 255 bytes
        record(QStringLiteral("N"));
        ++m_monthsNotCleared;
    };
    auto endRun = [&] {
        addDbErrorLine(period);
        m_statementFailed = true;
        return Step::EndRun;
    };

    // Files of this month left in the agent's year folder by a run that was cut short.
    const LeftoverVerdict leftover = JudgeLeftoverFiles(
        m_agentDir, period, m_settings.agentCode,
        [&](const QString& path, int index) { return scanFile(path, index, period); }, m_callbacks.processEvents);
    if (leftover.kind == LeftoverVerdict::Kind::SelectionFailed)
        return endRun();
    if (leftover.kind == LeftoverVerdict::Kind::Adopt) {
        const QStringList files = MonthDataFilePaths(m_agentDir, period);
        // A run cut short after its archive was checked left the month both in that archive and
        // here: a second copy in a new archive would double its rows. The copy here goes.
        if (!m_yearArchives)
            m_yearArchives = existingArchives(period.left(4));
        for (const QString& archive : *m_yearArchives) {
            QString error;
            const QString password =
                ArchivePasswordFor(archive, m_settings.protection.strongPassword()).value_or(QString());
            if (!ArchiveHoldsFiles(archive, files, password, ArchiveMembers::AtLeast, &error))
                continue;
            removeFiles(files);
            m_alreadyArchived[archive] << period;
            record(QStringLiteral("N"));
            m_changed = true;
            return Step::Next;
        }
        deflateAhead(files);
        cleared(files);
        return Step::Next;
    }
    if (leftover.kind == LeftoverVerdict::Kind::Keep) {
        notCleared(leftover.reason);
        return Step::Next;
    }

    if (m_skip.contains(period)) {
        // Files the database has superseded hold nothing that is not still in the database.
        removeFiles(MonthDataFilePaths(m_agentDir, period));
        record(QStringLiteral("N"));
        return Step::Next;
    }

    QStringList paths;
    QString reason;
    bool failedStatement = false;
    if (!writeAndVerify(period, &paths, &reason, &failedStatement)) {
        if (failedStatement)
            return endRun();
        // Whatever was written (or superseded) holds only rows that are still in the database.
        removeFiles(MonthDataFilePaths(m_agentDir, period));
        notCleared(reason);
        return Step::Next;
    }
    FaultPoint("files-written", period);
    deflateAhead(paths);

    char buffer[SJQL_IIT_RESULT_BUFFER_SIZE] = {};
    char* result = buffer;
    int answer = 0;
    {
        // The library deletes a large month in a few long statements on the host connection.
        HostConnection* connection = GetHostConnection();
        std::optional<StatementEventPump> pump;
        if (connection)
            pump.emplace(connection->database());
        const PhaseTimer timer(Phase::Clearing);
        answer = ClearDKDJData(toGbk(period).constData(), toGbk(m_settings.agentCode).constData(), &result);
    }
    if (answer != 0) {
        notDeflated(paths);
        const QString message = GetParamValue(
            fromGbk(QByteArrayView(buffer, qsizetype(qstrnlen(buffer, sizeof buffer)))), QStringLiteral("resultMsg"));
        // A refusal leaves the month as it was. But a clear that failed on a lost connection may
        // have been committed all the same: the files go only when every row they hold is still
        // in the database; otherwise they stay, and the next run of the year judges them.
        if (monthStillInDatabase(period, paths)) {
            removeFiles(paths);
            notCleared(message);
            return Step::Next;
        }
        const QString year = period.left(4);
        const QString folder = native(yearFolder(m_agentDir, year));
        notCleared(ClearUnconfirmedText(message, folder, year));
        m_onlyInWorkFolder << MonthFilesKeptText(period, folder);
        m_changed = true;
        return Step::Next;
    }
    FaultPoint("cleared", period);
    cleared(paths);
    return Step::Next;
}

bool BackupJob::monthStillInDatabase(const QString& period, const QStringList& paths)
{
    for (int i = 0; i < 3; ++i) {
        const MonthRowsScan file = scanFile(paths.value(i), i, period);
        if (!file.ok)
            return false;
        const MonthRowsScan rows = ScanDatabaseMonth(i, period, m_settings.agentCode, m_callbacks.processEvents);
        if (!rows.ok || !DigestsContained(file.digests, rows.digests))
            return false;
    }
    return true;
}

bool BackupJob::writeAndVerify(const QString& period, QStringList* paths, QString* reason, bool* endRun)
{
    MonthDataFilesOptions options;
    options.beforeTable = [&](int index) { progress(BackupProgressText(index, period)); };
    options.pump = m_callbacks.processEvents;
    options.written = m_callbacks.dataFileWritten;
    QSqlQuery query;
    const MonthDataFilesResult written = WriteMonthDataFiles(m_agentDir, period, m_settings.agentCode, query, options);
    *paths = written.paths;
    if (written.outcome == MonthDataFilesResult::Written)
        return true;
    if (written.outcome == MonthDataFilesResult::QueryFailed)
        *endRun = true;
    else
        *reason = notWrittenReason(written, period, native(yearFolder(m_agentDir, period.left(4))));
    return false;
}

bool BackupJob::packYear(const QString& year, const QStringList& archiveFiles)
{
    const PhaseTimer timer(Phase::Packing);
    const QString folder = yearFolder(m_agentDir, year);
    auto packInto = [&](const QString& archiveFolder) -> QString {
        const QString path =
            AddBackslash(archiveFolder) + BuildArchiveName(m_settings.hostAppCode, year, m_settings.agentCode);
        QString error;
        FaultPoint("packing", year);
        // Packing and its check touch only files: they run on a helper thread while the GUI
        // thread processes events, with the members the helper deflated ahead.
        enum class Packed
        {
            Written,
            NotWritten,
            CheckFailed
        };
        const Packed packed = RunBesideEvents(
            [&] {
                if (m_deflate)
                    m_deflate->waitIdle();
                if (!CompressFiles(archiveFiles, path, m_settings.protection, m_deflate.get(), &error))
                    return Packed::NotWritten;
                return VerifyBackupArchive(path, archiveFiles, m_settings.protection.password, &error)
                           ? Packed::Written
                           : Packed::CheckFailed;
            },
            m_callbacks.processEvents);
        if (packed == Packed::NotWritten) {
            logError(year, ArchiveNotWrittenText(path, error));
            return QString();
        }
        // An archive that does not read back whole is no backup: it is removed and counts as a
        // failed packing, so the year's files stay where they are.
        if (packed == Packed::CheckFailed) {
            logError(year, ArchiveCheckFailedText(path, error));
            QFile::remove(path);
            return QString();
        }
        // The archive is checked already: a failed sync is no reason to give it up.
        (void)syncBesideEvents(path);
        (void)syncBesideEvents(QFileInfo(path).absolutePath());
        return path;
    };

    int line = MsgArchived;
    QString archive = m_settings.backupDir.isEmpty() ? QString() : packInto(m_settings.backupDir);
    if (archive.isEmpty()) {
        line = MsgArchivedFallback;
        archive = packInto(AddBackslash(m_settings.subAppDir) + QStringLiteral("TEMP"));
    }
    // The deflated members are needed no more, whichever way the packing went.
    if (m_deflate)
        m_deflate->clear();
    if (archive.isEmpty()) {
        logError(year, MessageLine(MsgArchiveFailed, {year}));
        addLine(MsgArchiveFailed, {year});
        return false;
    }
    FaultPoint("archive-checked", year);
    m_archives << archive;
    addLine(line, {year, native(archive)});
    // Only what the archive holds leaves the work folder: files kept for a month that was not
    // cleared, and files of months a stop request left unvisited, stay. A year's data files are
    // hundreds of megabytes to free.
    RunBesideEvents(
        [archiveFiles, folder] {
            removeFiles(archiveFiles);
            QDir().rmdir(folder);
            return true;
        },
        m_callbacks.processEvents);
    return true;
}

} // namespace sjql
