// SPDX-License-Identifier: MIT
#include "jobs/RestoreJob.h"

#include "archive/CompressUnit.h"
#include "archive/FileUtils.h"
#include "context/ErrorText.h"
#include "context/ModuleContext.h"
#include "context/ParamText.h"
#include "db/BoundInsert.h"
#include "db/ModuleLog.h"
#include "db/RunLock.h"
#include "db/RunQuery.h"
#include "db/SqlLiteral.h"
#include "db/TransactionFlush.h"
#include "hostapi/Gbk.h"
#include "hostapi/HostConnection.h"
#include "hostapi/IITIterface.h"
#include "hostapi/ModuleLib.h"
#include "jobs/BackupSummary.h"
#include "jobs/Messages.h"
#include "jobs/RowBuilders.h"
#include "jobs/StatementFeed.h"
#include "jobs/SummaryRecords.h"
#include "support/AdtgReader.h"
#include "support/BesideEvents.h"
#include "support/EventPump.h"
#include "support/FaultPoint.h"
#include "support/PhaseObserver.h"
#include "support/XmlDocument.h"

#include <QFileInfo>
#include <QSqlQuery>

#include <algorithm>
#include <exception>
#include <future>
#include <optional>
#include <vector>

namespace sjql {

namespace {

using Builder = RowStatementBuilder;

// The three data files of a month, in the order they are re-inserted.
struct DataFileStep
{
    const char* attribute; // summary attribute naming the file
    int missingCode;
    const char* progressLabel; // "正在还原[month]<label>。(k/N)"
    Builder build;
    BoundRowBuilder bound; // the same row's values for the prepared statement
    int table;             // the builders' table index
};

const DataFileStep kSteps[] = {
    {"GZFILENAME", MsgWageFileMissing, "工资表数据", &BuildWageInsert, &BuildWageRow, 0},
    {"FGZFILENAME", MsgNonWageFileMissing, "非工资表数据", &BuildNonWageInsert, &BuildNonWageRow, 1},
    {"BGBFILENAME", MsgReportFileMissing, "报告表数据", &BuildReportInsert, &BuildReportRow, 2},
};

// Limits of an archive's unpacking. A year holds at most twelve months of three files and the
// summary; the sizes only keep a crafted archive from filling the disk (the free space is checked
// as well).
constexpr qint64 kMaxArchiveEntries = 1000;
constexpr qint64 kMaxUnpackedBytes = qint64(16) * 1024 * 1024 * 1024;

// The savepoint around the host library's clearing of a month inside the archive's transaction.
const QLatin1String kSavepoint("sjql_month");

// Opens a month's data file and checks it before anything of the month is touched: it decodes, the
// table's statement can be built from it, and every row carries `agent` and `month`. Leaves the
// recordset open on its first row; otherwise closes it and says what is wrong. Any thread: files
// and the recordset only.
QString openAndCheckDataFile(adtg::AdtgRecordset& rows, const QString& path, const QString& fileName, Builder build,
                             TDBKind kind, const QString& month, const QString& agent)
{
    rows.close();
    if (!Timed(Phase::Reading, [&] { return rows.open(path); }))
        return DataFileUnreadableText(fileName, rows.errorString());
    if (rows.eof())
        return {};
    QString sql, error;
    if (!Timed(Phase::Building, [&] { return build(rows, kind, sql, &error); })) {
        rows.close();
        return DataFileNotConvertibleText(fileName, error);
    }
    // The builder has just read both columns, so they exist.
    const int agentColumn = rows.fieldIndex(u"KJYWRBM");
    const int monthColumn = rows.fieldIndex(u"FFYF");
    QString rowAgent, rowMonth; // reused from row to row; only these two columns are decoded
    for (; !rows.eof(); Timed(Phase::Reading, [&] { rows.moveNext(); })) {
        rows.textAt(agentColumn, rowAgent);
        rows.textAt(monthColumn, rowMonth);
        if (rowAgent != agent || rowMonth != month) {
            const QString problem = DataFileForeignRowText(fileName, rows.position() + 1, rowAgent, rowMonth);
            rows.close();
            return problem;
        }
    }
    rows.moveFirst();
    return {};
}

// How the archives of a run fared, for the run's summary line.
struct ArchiveTally
{
    int full = 0;    // committed, no line reports a failure
    int partial = 0; // committed with some months restored, but a line reports a failure
};

// One run over the chosen archives. Owns the query objects, the library's result buffer and the
// transaction of the archive being restored, which it rolls back whenever it ends before the
// archive is finished, however it ends.
class RestoreRun
{
public:
    RestoreRun(const RestoreSettings& settings, const std::function<void()>& pump, bool& cleared,
               QString& operationText, qint16& itemProgress, TDispResultList& results, RunOutcome& outcome,
               ArchiveTally& tally)
        : m_settings(settings), m_pump(pump), m_cleared(cleared), m_text(operationText), m_progress(itemProgress),
          m_results(results), m_outcome(outcome), m_tally(tally)
    {}

    ~RestoreRun()
    {
        if (m_transactionOpen)
            (void)RollbackHostTrans();
    }

    RestoreRun(const RestoreRun&) = delete;
    RestoreRun& operator=(const RestoreRun&) = delete;

    bool execute();

private:
    enum class Outcome
    {
        Done,
        Skip,   // next record (or archive)
        EndRun, // the line is added; end of run
        Stop,   // a stop was requested; the caller rolls back and says so
    };

    void pump() { m_pump(); }
    void line(int code, const QStringList& params = {}) { m_results.AddLine(MessageLine(code, params)); }
    // A line that reports something not restored; the run log gets it too.
    void failLine(int code, const QStringList& params = {}) { failText(MessageLine(code, params)); }
    void failText(const QString& text)
    {
        m_results.AddLine(text);
        log(text);
        markFailure();
    }
    // An error text, whole, into the run log with the archive, year and month being restored.
    void log(const QString& text) const
    {
        LogSubject subject;
        subject.agent = m_settings.agentCode;
        subject.archive = m_archiveName;
        subject.year = m_logYear;
        subject.month = m_logMonth;
        WriteModuleLog(subject, text);
    }
    void dbErrorLine() { failText(FormatErrorText(QLatin1String(kDbErrorCode))); }
    void markFailure()
    {
        m_archiveFailed = true;
        m_outcome.fail();
    }
    void skipMonth(const QString& month, const QString& reason) { failText(MonthNotRestoredLine(month, reason)); }

    bool unpack(const QString& archive, const QStringList& names);
    Outcome restoreArchive(const QString& archive, qint16 step);
    Outcome restoreRecord(const XmlNode& record, const QString& year);
    Outcome openMonthFiles(const XmlNode& record, const QString& month);
    Outcome clearMonth(const QString& month);
    Outcome insertFile(const DataFileStep& step, const QString& month, const QString& fileName,
                       adtg::AdtgRecordset& rows);
    // The rows of a file through literal statements, or through the prepared statement. `shown`
    // composes the progress text for the row count given.
    Outcome insertLiteral(const DataFileStep& step, const QString& fileName, adtg::AdtgRecordset& rows,
                          const std::function<void(int)>& shown);
    Outcome insertBound(const DataFileStep& step, const QString& fileName, adtg::AdtgRecordset& rows,
                        BoundInsert& insert, const std::function<void(int)>& shown);
    // After a file's last row: the progress text, and the line of a row that could not be built.
    Outcome fileEnd(const QString& fileName, int rowsDone, const QString& error, const std::function<void(int)>& shown);
    bool finishArchive(const QString& monthsText);
    void stopLine(qsizetype untouched, bool rolledBack);

    const RestoreSettings& m_settings;
    const std::function<void()>& m_pump;
    bool& m_cleared;
    QString& m_text;
    qint16& m_progress;
    TDispResultList& m_results;
    RunOutcome& m_outcome;
    ArchiveTally& m_tally;

    TDBKind m_kind = dbkAccess;
    std::optional<QSqlQuery> m_query;
    adtg::AdtgRecordset m_files[std::size(kSteps)]; // the month's data files, open and checked
    QByteArray m_buffer = QByteArray(SJQL_IIT_RESULT_BUFFER_SIZE, '\0');
    bool m_transactionOpen = false;

    QString m_archiveName; // the archive being restored, without folder
    QString m_logYear;     // its summary's year, once read
    QString m_logMonth;    // the month record being restored
    bool m_archiveFailed = false;
    int m_archiveMonths = 0; // months of the archive restored so far
    QStringList m_committed; // archives committed in this run, without folder
};

bool RestoreRun::execute()
{
    m_cleared = false;
    pump();
    const qsizetype n = m_settings.archives.size();
    if (n > 0) {
        const auto step = static_cast<qint16>(90 / n);
        for (qsizetype i = 0; i < n; ++i) {
            m_progress = static_cast<qint16>(static_cast<qint16>(i) * step + 5);
            pump();
            if (IsStopRequested()) {
                stopLine(n - i, false);
                return false;
            }
            m_archiveName = QFileInfo(m_settings.archives.at(i)).fileName();
            m_logYear.clear();
            m_logMonth.clear();
            m_archiveFailed = false;
            m_archiveMonths = 0;
            const Outcome outcome = restoreArchive(m_settings.archives.at(i), step);
            if (outcome == Outcome::Stop) {
                (void)RollbackHostTrans();
                m_transactionOpen = false;
                stopLine(n - i - 1, true);
                return false;
            }
            if (outcome == Outcome::EndRun)
                return false;
        }
    }
    m_progress = 100;
    pump();
    return true;
}

void RestoreRun::stopLine(qsizetype untouched, bool rolledBack)
{
    m_outcome.ending = RunEnding::Interrupted;
    m_results.AddLine(RestoreInterruptedLine(m_committed, rolledBack ? m_archiveName : QString(), untouched));
}

bool RestoreRun::unpack(const QString& archive, const QStringList& names)
{
    UnpackOptions options;
    options.onlyNames = names;
    options.maxEntries = kMaxArchiveEntries;
    options.maxTotalSize = kMaxUnpackedBytes;
    QString error;
    UnpackProblem problem = UnpackProblem::None;
    const std::optional<QString> password = ArchivePasswordFor(archive, m_settings.strongPassword);
    if (UncompressFile(archive, m_settings.unpackFolder, false, password, options, &error, &problem))
        return true;
    failLine(MsgUnpackFailed, {archive});
    m_results.AddLine(UnpackReasonLine(problem, error));
    log(UnpackReasonLine(problem, error));
    return false;
}

RestoreRun::Outcome RestoreRun::restoreArchive(const QString& archive, qint16 step)
{
    m_text = RestoreArchiveProgressText(QFileInfo(archive).fileName());
    const QString& unpackFolder = m_settings.unpackFolder;
    if (DirExists(unpackFolder))
        (void)DeleteTree(unpackFolder);
    (void)ForceDirs(m_settings.backupFolder);

    // The summary first, alone: what else is unpacked depends on it.
    if (!unpack(archive, {BackupSummaryFileName}))
        return Outcome::Skip;
    const QString summaryPath = AddBackslash(unpackFolder) + BackupSummaryFileName;
    if (!QFileInfo(summaryPath).isFile()) {
        failLine(MsgNoSummary, {archive});
        return Outcome::Skip;
    }
    QString error;
    std::unique_ptr<XmlDocument> doc = XmlDocument::fromFile(summaryPath, &error);
    XmlNode root = doc ? doc->root() : XmlNode();
    if (root.isNull()) {
        log(SummaryUnreadableText(error));
        failLine(MsgSummaryUnreadable);
        return Outcome::EndRun;
    }
    // A missing agent or edition attribute counts as a different one; a missing year as empty.
    if (root.attribute(QStringLiteral("KJYWRBM")) != m_settings.agentCode) {
        failLine(MsgOtherAgent);
        return Outcome::EndRun;
    }
    const QString year = root.attribute(QStringLiteral("YEAR")).value_or(QString());
    m_logYear = year.left(4);
    if (year.isEmpty()) {
        failLine(MsgNoYear);
        return Outcome::EndRun;
    }
    if (root.attribute(QStringLiteral("CODE")) != m_settings.hostAppCode) {
        failLine(MsgOtherEdition);
        return Outcome::EndRun;
    }

    XmlNode records = root.childElement(QStringLiteral("RECORDS"));
    const int m = records.childCount();
    // Then the data files the cleared months name, and nothing else of the archive.
    const QStringList wanted = ClearedMonthDataFiles(records);
    if (!wanted.isEmpty() && !unpack(archive, wanted))
        return Outcome::Skip;
    FaultPoint("unpacked");

    if (!m_query) {
        m_query.emplace();
        m_kind = GetDBKind();
    }
    // Without a transaction nothing could be rolled back: nothing is touched then.
    if (!BeginHostTrans()) {
        dbErrorLine();
        return Outcome::EndRun;
    }
    m_transactionOpen = true;

    RestoreJob::MonthRuns months;
    for (int j = 0; j < m; ++j) {
        // A summary without month records simply has nothing to add to the progress.
        m_progress = static_cast<qint16>(m_progress + step / m);
        pump();
        if (IsStopRequested())
            return Outcome::Stop;
        const XmlNode record = records.child(j);
        if (record.name() != QLatin1String("RECORD"))
            continue;
        const Outcome outcome = restoreRecord(record, year);
        if (outcome == Outcome::EndRun)
            return outcome;
        if (outcome == Outcome::Done) {
            months.add(record.attribute(QStringLiteral("SDYF")).value_or(QString()));
            ++m_archiveMonths;
        }
    }
    return finishArchive(months.text()) ? Outcome::Done : Outcome::EndRun;
}

RestoreRun::Outcome RestoreRun::restoreRecord(const XmlNode& record, const QString& year)
{
    const QString month = record.attribute(QStringLiteral("SDYF")).value_or(QString());
    m_logMonth = month;
    if (month.isEmpty()) {
        failLine(MsgEmptyMonth);
        return Outcome::EndRun;
    }
    if (record.attribute(QStringLiteral("SFQL")) != QLatin1String("Y"))
        return Outcome::Skip;
    if (!IsValidRecordMonth(month)) {
        skipMonth(month, InvalidMonthText());
        return Outcome::Skip;
    }
    if (month.left(4) != year.left(4)) {
        skipMonth(month, MonthOutsideYearText(year));
        return Outcome::Skip;
    }
    const QString declaration = record.attribute(QStringLiteral("WYSBH")).value_or(QString());

    // The month's declaration must still be the one the backup was made from. Values from the
    // archive are quoted like every other text literal.
    const QString check = QStringLiteral("select WYSBH from SBZB where SBYF=") + SqlTextLiteral(month, m_kind) +
                          QStringLiteral(" and KJYWRBM=") + SqlTextLiteral(m_settings.agentCode, m_kind) +
                          QStringLiteral(" ");
    if (!RunQuery(check, *m_query, true)) {
        dbErrorLine();
        return Outcome::EndRun;
    }
    const bool changed = m_query->next() && m_query->value(0).toString() != declaration;
    m_query->finish();
    if (changed) {
        failLine(MsgDeclarationChanged, {month});
        return Outcome::Skip;
    }

    // All three files must be there and sound before the month's current rows are removed.
    Outcome outcome = openMonthFiles(record, month);
    if (outcome != Outcome::Done)
        return outcome;
    outcome = clearMonth(month);
    if (outcome != Outcome::Done)
        return outcome;
    FaultPoint("record-cleared", month);
    for (size_t k = 0; k < std::size(kSteps); ++k) {
        outcome = insertFile(kSteps[k], month, record.attribute(QLatin1String(kSteps[k].attribute)).value_or(QString()),
                             m_files[k]);
        if (outcome != Outcome::Done)
            return outcome;
    }
    FaultPoint("rows-inserted", month);
    return Outcome::Done;
}

RestoreRun::Outcome RestoreRun::openMonthFiles(const XmlNode& record, const QString& month)
{
    QString names[std::size(kSteps)];
    QString paths[std::size(kSteps)];
    for (size_t k = 0; k < std::size(kSteps); ++k) {
        names[k] = record.attribute(QLatin1String(kSteps[k].attribute)).value_or(QString());
        paths[k] = AddBackslash(m_settings.unpackFolder) + names[k];
        if (!IsBareFileName(names[k]) || !QFileInfo(paths[k]).isFile()) {
            failLine(kSteps[k].missingCode, {month});
            return Outcome::Skip;
        }
    }
    m_text = RestoreCheckProgressText(month);
    // Reading and checking files of tens of megabytes happens beside the event processing, the
    // three files side by side.
    QString problems[std::size(kSteps)];
    RunBesideEvents(
        [&] {
            auto check = [&](size_t k) {
                problems[k] = openAndCheckDataFile(m_files[k], paths[k], names[k], kSteps[k].build, m_kind, month,
                                                   m_settings.agentCode);
            };
            auto second = std::async(std::launch::async, check, 1);
            auto third = std::async(std::launch::async, check, 2);
            check(0);
            second.get();
            third.get();
            return true;
        },
        [this] { pump(); });
    for (const QString& problem : problems) {
        if (!problem.isEmpty()) {
            for (adtg::AdtgRecordset& file : m_files)
                file.close();
            skipMonth(month, problem);
            return Outcome::Skip;
        }
    }
    // A backup only clears a month that has rows, so three empty files prove nothing about the
    // month; restoring them would only delete what the month holds now.
    if (std::all_of(std::begin(m_files), std::end(m_files), [](const adtg::AdtgRecordset& f) { return f.eof(); })) {
        for (adtg::AdtgRecordset& file : m_files)
            file.close();
        skipMonth(month, NoRowsInMonthFilesText());
        return Outcome::Skip;
    }
    return Outcome::Done;
}

RestoreRun::Outcome RestoreRun::clearMonth(const QString& month)
{
    // The library deletes the month table by table, inside this transaction. The savepoint makes
    // its deletes all or nothing: a failure half-way leaves the tables it had deleted as they were.
    if (!RunQuery(QStringLiteral("SAVEPOINT ") + kSavepoint, *m_query, false)) {
        dbErrorLine();
        return Outcome::EndRun;
    }
    m_buffer.fill('\0');
    char* result = m_buffer.data();
    const QByteArray gbkMonth = toGbk(month), gbkAgent = toGbk(m_settings.agentCode);
    if (Timed(Phase::Clearing, [&] { return ClearDKDJData(gbkMonth.constData(), gbkAgent.constData(), &result); }) !=
        0) {
        const QString message = GetParamValue(fromGbk(m_buffer.constData()), QStringLiteral("resultMsg"));
        for (adtg::AdtgRecordset& file : m_files)
            file.close();
        failLine(MsgClearFailed, {month, message});
        if (!RunQuery(QStringLiteral("ROLLBACK TO SAVEPOINT ") + kSavepoint, *m_query, false) ||
            !RunQuery(QStringLiteral("RELEASE SAVEPOINT ") + kSavepoint, *m_query, false)) {
            dbErrorLine();
            return Outcome::EndRun;
        }
        return Outcome::Skip;
    }
    if (!RunQuery(QStringLiteral("RELEASE SAVEPOINT ") + kSavepoint, *m_query, false)) {
        dbErrorLine();
        return Outcome::EndRun;
    }
    return Outcome::Done;
}

RestoreRun::Outcome RestoreRun::insertFile(const DataFileStep& step, const QString& month, const QString& fileName,
                                           adtg::AdtgRecordset& rows)
{
    const int total = rows.recordCount();
    // "正在还原[month]label。(k/N)": the parts around k are made once per file, not per row. The
    // progress text is only seen while events are processed, so it is composed for those moments
    // and for the last row, not for every row.
    const QString head = RestoreRowsProgressHead(month, QString::fromUtf8(step.progressLabel));
    const QString tail = QLatin1Char('/') + QString::number(total) + QLatin1Char(')');
    const std::function<void(int)> shown = [&](int k) { m_text = head + QString::number(k) + tail; };

    HostConnection* conn = GetHostConnection();
    std::unique_ptr<BoundInsert> insert;
    if (!m_settings.literalStatements && conn && !rows.eof()) {
        const QString text = BoundInsertText(step.table, m_kind);
        if (!text.isEmpty())
            insert = BoundInsert::create(conn->database(), text, BoundInsertTypes(step.table));
    }
    const Outcome outcome =
        insert ? insertBound(step, fileName, rows, *insert, shown) : insertLiteral(step, fileName, rows, shown);
    insert.reset();
    if (outcome != Outcome::Done)
        return outcome;
    rows.close();
    // The pages this file's rows changed go to the disk now, not all at once in the commit.
    if (conn && !FlushTransactionWrites(conn->database())) {
        dbErrorLine();
        return Outcome::EndRun;
    }
    pump();
    return Outcome::Done;
}

RestoreRun::Outcome RestoreRun::insertLiteral(const DataFileStep& step, const QString& fileName,
                                              adtg::AdtgRecordset& rows, const std::function<void(int)>& shown)
{
    StatementFeed feed(rows, step.build, m_kind);
    QString error;
    int k = 0;
    while (const QString* sql = feed.next(&error)) {
        if (++k % 20 == 0) {
            shown(k);
            pump();
        }
        if (!RunQuery(*sql, *m_query, false)) {
            shown(k);
            dbErrorLine();
            return Outcome::EndRun;
        }
    }
    return fileEnd(fileName, k, error, shown);
}

RestoreRun::Outcome RestoreRun::fileEnd(const QString& fileName, int rowsDone, const QString& error,
                                        const std::function<void(int)>& shown)
{
    if (rowsDone > 0)
        shown(rowsDone);
    if (!error.isEmpty()) {
        failText(DataFileBrokenLine(fileName, error));
        return Outcome::EndRun;
    }
    return Outcome::Done;
}

RestoreRun::Outcome RestoreRun::insertBound(const DataFileStep& step, const QString& fileName,
                                            adtg::AdtgRecordset& rows, BoundInsert& insert,
                                            const std::function<void(int)>& shown)
{
    // Rows the prepared statement could not take (a failed batch, a row marked literal-only) are
    // run again one by one as literal statements, from `redoFrom` to `redoTo`: a row that fails
    // there fails, and is logged, exactly as it would have on the literal path; rows that go in
    // let the prepared statement carry on after them.
    int k = 0;
    for (;;) {
        int redoFrom = -1, redoTo = -1;
        QString error;
        {
            BoundRowFeed feed(rows, step.bound, m_kind);
            int lastQueued = -1;
            while (const BoundRow* row = feed.next(&error)) {
                if (++k % 20 == 0) {
                    shown(k);
                    pump();
                }
                if (row->literalOnly) {
                    const bool flushed = Timed(Phase::Statement, [&] { return insert.flush(); });
                    redoFrom = flushed ? row->position : insert.failedPosition();
                    redoTo = row->position;
                    break;
                }
                if (!Timed(Phase::Statement, [&] { return insert.add(*row); })) {
                    redoFrom = insert.failedPosition();
                    redoTo = row->position;
                    break;
                }
                lastQueued = row->position;
            }
            if (redoFrom < 0 && !Timed(Phase::Statement, [&] { return insert.flush(); })) {
                redoFrom = insert.failedPosition();
                redoTo = lastQueued;
            }
        } // the feed's helper is joined: the recordset is this thread's again
        if (redoFrom < 0)
            return fileEnd(fileName, k, error, shown);
        QString sql, buildError;
        for (int position = redoFrom; position <= redoTo; ++position) {
            rows.moveTo(position);
            k = position + 1;
            if (!step.build(rows, m_kind, sql, &buildError)) {
                shown(k);
                failText(DataFileBrokenLine(fileName, buildError));
                return Outcome::EndRun;
            }
            if (!RunQuery(sql, *m_query, false)) {
                shown(k);
                dbErrorLine();
                return Outcome::EndRun;
            }
        }
        rows.moveTo(redoTo + 1);
        pump();
    }
}

bool RestoreRun::finishArchive(const QString& monthsText)
{
    FaultPoint("before-commit");
    // The archive's line is only added once its rows are really in the database: a commit that
    // fails rolls everything back and is reported like any failed statement.
    HostConnection* conn = GetHostConnection();
    const bool active = conn && conn->inTransaction();
    m_transactionOpen = false;
    m_cleared = true;
    if (active && !CommitHostTrans()) {
        (void)RollbackHostTrans();
        dbErrorLine();
        return false;
    }
    line(MsgArchiveDone, {monthsText});
    m_committed << m_archiveName;
    if (!m_archiveFailed)
        ++m_tally.full;
    else if (m_archiveMonths > 0)
        ++m_tally.partial;
    return true;
}

} // namespace

void RestoreJob::MonthRuns::add(const QString& month)
{
    bool numeric = false;
    const qint64 value = month.toLongLong(&numeric);
    if (numeric) {
        if (m_text.isEmpty())
            m_text = month;
        else if (QString::number(value - 1) != m_last)
            m_text += QLatin1Char('-') + m_last + QStringLiteral("；") + month;
    }
    m_last = month;
}

QString RestoreJob::MonthRuns::text() const
{
    return m_text.isEmpty() ? QString() : m_text + QLatin1Char('-') + m_last;
}

RestoreJob::RestoreJob(RestoreSettings settings) : m_settings(std::move(settings)) {}

bool RestoreJob::Run(QString& operationText, qint16& itemProgress, TDispResultList& results)
{
    m_cleared = false;
    m_outcome = RunOutcome();
    // One backup or restore at a time per database and agent; a refused run touches nothing.
    RunLock lock;
    QString why;
    if (!lock.acquire(m_settings.agentCode, &why)) {
        results.AddLine(why);
        WriteModuleLog({m_settings.agentCode, {}, {}, {}}, why);
        m_outcome.ending = RunEnding::Busy;
        m_outcome.summary = why;
        return false;
    }
    ArchiveTally tally;
    bool ok = false;
    try {
        const std::function<void()> pump = PumpOrDefault(processEvents);
        RestoreRun run(m_settings, pump, m_cleared, operationText, itemProgress, results, m_outcome, tally);
        ok = run.execute();
    } catch (const std::exception& e) {
        // Anything unforeseen ends the run; the run's destructor has rolled the archive back.
        results.AddLine(RestoreAbortedLine(QString::fromLocal8Bit(e.what())));
        WriteModuleLog({m_settings.agentCode, {}, {}, {}}, RestoreAbortedLine(QString::fromLocal8Bit(e.what())));
        m_outcome.fail();
    }
    if (!ok)
        m_outcome.fail(); // an early end leaves archives unrestored (an interruption stays one)
    const qsizetype total = m_settings.archives.size();
    m_outcome.summary = RestoreSummaryText(m_outcome.ending, total, tally.full, tally.partial);
    if (m_outcome.ending != RunEnding::Clean)
        WriteModuleLog({m_settings.agentCode, {}, {}, {}}, m_outcome.summary);
    return ok;
}

} // namespace sjql
