// SPDX-License-Identifier: MIT
#include "cleanup/RestoreJob.h"

#include "archive/CompressUnit.h"
#include "archive/FileUtils.h"
#include "cleanup/BackupSummary.h"
#include "cleanup/RowBuilders.h"
#include "db/RunQuery.h"
#include "db/TransactionFlush.h"
#include "entry/ErrorText.h"
#include "entry/ModuleContext.h"
#include "entry/ParamText.h"
#include "hostapi/Gbk.h"
#include "hostapi/HostConnection.h"
#include "hostapi/IITIterface.h"
#include "hostapi/ModuleLib.h"
#include "support/AdtgReader.h"
#include "support/BesideEvents.h"
#include "support/XmlDocument.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSqlQuery>

#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace sjql {

namespace {

// Message codes of the restore's result lines.
enum RestoreCode : int
{
    kUnpackFailed = 14012009,
    kNoSummary = 14012010,
    kSummaryUnreadable = 14012011,
    kOtherAgent = 14012012,
    kNoYear = 14012013,
    kOtherEdition = 14012014,
    kDeclarationChanged = 14012015,
    kClearRefused = 14012005,
    kWageFileMissing = 14012017,
    kNonWageFileMissing = 14012018,
    kReportFileMissing = 14012019,
    kArchiveDone = 14012020,
    kEmptyMonth = 14012021,
};

using Builder = bool (*)(const adtg::AdtgRecordset&, TDBKind, QString&, QString*);

// The three data files of a month, in the order they are re-inserted.
struct DataFileStep
{
    const char* attribute; // summary attribute naming the file
    int missingCode;
    const char* progressLabel; // "正在还原[month]<label>。(k/N)"
    Builder build;
};

const DataFileStep kSteps[] = {
    {"GZFILENAME", kWageFileMissing, "工资表数据", &BuildWageInsert},
    {"FGZFILENAME", kNonWageFileMissing, "非工资表数据", &BuildNonWageInsert},
    {"BGBFILENAME", kReportFileMissing, "报告表数据", &BuildReportInsert},
};

// A data file must be named as a bare file in the unpack folder: the summary comes from the
// archive, and a name with a folder part would reach files outside it.
bool isBareFileName(const QString& name)
{
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") &&
           !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\'));
}

// The statements of one data file, built on a helper thread and handed over in batches, so that
// reading and building the next rows overlaps the database's work on the current ones. The helper
// owns the recordset until the feed is destroyed (which stops and joins it); the statements come
// out in row order, and a row that cannot be built ends the feed with its error after the rows
// before it.
class StatementFeed
{
public:
    StatementFeed(adtg::AdtgRecordset& rows, Builder build, TDBKind kind)
        : m_rows(rows), m_build(build), m_kind(kind), m_worker([this] { produce(); })
    {}

    ~StatementFeed()
    {
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_stop = true;
        }
        m_changed.notify_all();
        m_worker.join();
    }

    StatementFeed(const StatementFeed&) = delete;
    StatementFeed& operator=(const StatementFeed&) = delete;

    // The next statement, valid until the following call; null at the end, with *error set when a
    // row could not be built.
    const QString* next(QString* error)
    {
        while (m_position >= m_current.statements.size()) {
            if (m_current.last) {
                *error = m_current.error;
                return nullptr;
            }
            std::unique_lock<std::mutex> lock(m_mutex);
            // The used batch goes back to the helper, which builds into its strings again: their
            // memory is reused instead of being freed on this thread and allocated on the other.
            if (!m_current.statements.empty())
                m_spare.push_back(std::move(m_current));
            m_changed.wait(lock, [this] { return !m_queue.empty(); });
            m_current = std::move(m_queue.front());
            m_queue.pop_front();
            // Wake the helper only once the queue is half empty, so that it builds several batches
            // in one go instead of one batch per wake-up.
            const bool wake = m_queue.size() == kQueuedBatches / 2;
            lock.unlock();
            if (wake)
                m_changed.notify_all();
            m_position = 0;
        }
        return &m_current.statements[m_position++];
    }

private:
    struct Batch
    {
        std::vector<QString> statements;
        QString error;
        bool last = false;
    };
    // Batches keep the hand-over cheap and the memory bounded (at most a few hundred statements
    // queued, in reused strings).
    static constexpr size_t kBatchRows = 32;
    static constexpr size_t kQueuedBatches = 8;

    void produce()
    {
        Batch batch;
        size_t used = 0; // statements of batch filled so far; the rest are spare strings
        for (;;) {
            bool end = m_rows.eof();
            if (!end) {
                if (used == batch.statements.size())
                    batch.statements.emplace_back();
                QString& sql = batch.statements[used];
                sql.truncate(0); // keeps the capacity of a reused string
                QString error;
                try {
                    if (m_build(m_rows, m_kind, sql, &error)) {
                        ++used;
                        m_rows.moveNext();
                    } else {
                        end = true;
                    }
                } catch (const std::exception& e) {
                    error = QString::fromLocal8Bit(e.what());
                    end = true;
                }
                if (end)
                    batch.error = error.isEmpty() ? QStringLiteral("第%1行无法转换").arg(m_rows.position() + 1) : error;
            }
            if (!end && used < kBatchRows)
                continue;
            batch.statements.resize(used);
            batch.last = end;
            std::unique_lock<std::mutex> lock(m_mutex);
            m_changed.wait(lock, [this] { return m_stop || m_queue.size() < kQueuedBatches; });
            if (m_stop)
                return;
            m_queue.push_back(std::move(batch));
            const bool wake = m_queue.size() == 1; // the reader may be waiting for it
            batch = Batch();
            if (!end && !m_spare.empty()) {
                batch = std::move(m_spare.back());
                m_spare.pop_back();
                batch.error.clear();
                batch.last = false;
            }
            lock.unlock();
            if (wake || end)
                m_changed.notify_all();
            if (end)
                return;
            used = 0;
        }
    }

    adtg::AdtgRecordset& m_rows;
    const Builder m_build;
    const TDBKind m_kind;

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Batch> m_queue;
    std::vector<Batch> m_spare; // used batches, back from the reader
    bool m_stop = false;

    Batch m_current; // consumer side only
    size_t m_position = 0;

    std::thread m_worker; // last: starts once everything above exists
};

// One run over the chosen archives. Owns the query objects, the library's result buffer and the
// transaction of the archive being restored, which it rolls back whenever it ends before the
// archive is finished, however it ends.
class RestoreRun
{
public:
    RestoreRun(const RestoreSettings& settings, const std::function<void()>& pump, bool& cleared,
               QString& operationText, qint16& itemProgress, ui::TDispResultList& results)
        : m_settings(settings), m_pump(pump), m_cleared(cleared), m_text(operationText), m_progress(itemProgress),
          m_results(results)
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
        Skip,   // next record
        EndRun, // the line is added; end of run
    };

    void pump()
    {
        if (m_pump)
            m_pump();
        else
            QCoreApplication::processEvents();
    }
    void line(int code, const QStringList& params = {}) { m_results.AddLine(RestoreMessageLine(code, params)); }
    void dbErrorLine() { m_results.AddLine(FormatErrorText(QLatin1String(kDbErrorCode))); }

    Outcome restoreArchive(const QString& archive, qint16 step);
    Outcome restoreRecord(const XmlNode& record);
    Outcome insertFile(const DataFileStep& step, const QString& month, const QString& fileName);
    bool finishArchive(const QString& monthsText);

    const RestoreSettings& m_settings;
    const std::function<void()>& m_pump;
    bool& m_cleared;
    QString& m_text;
    qint16& m_progress;
    ui::TDispResultList& m_results;

    TDBKind m_kind = dbkAccess;
    std::optional<QSqlQuery> m_query;
    adtg::AdtgRecordset m_file;
    QByteArray m_buffer = QByteArray(SJQL_IIT_RESULT_BUFFER_SIZE, '\0');
    bool m_transactionOpen = false;
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
            if (restoreArchive(m_settings.archives.at(i), step) == Outcome::EndRun)
                return false;
        }
    }
    m_progress = 100;
    pump();
    return true;
}

RestoreRun::Outcome RestoreRun::restoreArchive(const QString& archive, qint16 step)
{
    m_text = QStringLiteral("开始解析") + QFileInfo(archive).fileName() + QStringLiteral("文件");
    const QString& unpack = m_settings.unpackFolder;
    if (DirExists(unpack))
        (void)DeleteTree(unpack);
    (void)ForceDirs(m_settings.backupFolder);

    QString error;
    if (!UncompressFile(archive, unpack, false, QString(ArchivePassword), &error)) {
        line(kUnpackFailed, {archive});
        return Outcome::Skip;
    }
    const QString summaryPath = AddBackslash(unpack) + BackupSummaryFileName;
    if (!QFileInfo(summaryPath).isFile()) {
        line(kNoSummary, {archive});
        return Outcome::Skip;
    }
    std::unique_ptr<XmlDocument> doc = XmlDocument::fromFile(summaryPath, &error);
    XmlNode root = doc ? doc->root() : XmlNode();
    if (root.isNull()) {
        line(kSummaryUnreadable);
        return Outcome::EndRun;
    }
    // A missing agent or edition attribute counts as a different one; a missing year as empty.
    if (root.attribute(QStringLiteral("KJYWRBM")) != m_settings.agentCode) {
        line(kOtherAgent);
        return Outcome::EndRun;
    }
    if (root.attribute(QStringLiteral("YEAR")).value_or(QString()).isEmpty()) {
        line(kNoYear);
        return Outcome::EndRun;
    }
    if (root.attribute(QStringLiteral("CODE")) != m_settings.hostAppCode) {
        line(kOtherEdition);
        return Outcome::EndRun;
    }

    XmlNode records = root.childElement(QStringLiteral("RECORDS"));
    const int m = records.childCount();
    if (!m_query) {
        m_query.emplace();
        m_kind = GetDBKind();
    }
    BeginHostTrans();
    m_transactionOpen = true;

    RestoreJob::MonthRuns months;
    for (int j = 0; j < m; ++j) {
        // A summary without month records simply has nothing to add to the progress.
        m_progress = static_cast<qint16>(m_progress + step / m);
        pump();
        const XmlNode record = records.child(j);
        if (record.name() != QLatin1String("RECORD"))
            continue;
        const Outcome outcome = restoreRecord(record);
        if (outcome == Outcome::EndRun)
            return outcome;
        if (outcome == Outcome::Done)
            months.add(record.attribute(QStringLiteral("SDYF")).value_or(QString()));
    }
    return finishArchive(months.text()) ? Outcome::Done : Outcome::EndRun;
}

RestoreRun::Outcome RestoreRun::restoreRecord(const XmlNode& record)
{
    const QString month = record.attribute(QStringLiteral("SDYF")).value_or(QString());
    if (month.isEmpty()) {
        line(kEmptyMonth);
        return Outcome::EndRun;
    }
    if (record.attribute(QStringLiteral("SFQL")) != QLatin1String("Y"))
        return Outcome::Skip;
    const QString declaration = record.attribute(QStringLiteral("WYSBH")).value_or(QString());

    // The month's declaration must still be the one the backup was made from. Values from the
    // archive are quoted like every other text literal.
    const QString check = QStringLiteral("select WYSBH from SBZB where SBYF='") + SqlTextLiteralBody(month, m_kind) +
                          QStringLiteral("' and KJYWRBM='") + SqlTextLiteralBody(m_settings.agentCode, m_kind) +
                          QStringLiteral("' ");
    if (!RunQuery(check, *m_query, true)) {
        dbErrorLine();
        return Outcome::EndRun;
    }
    const bool changed = m_query->next() && m_query->value(0).toString() != declaration;
    m_query->finish();
    if (changed) {
        line(kDeclarationChanged, {month});
        return Outcome::Skip;
    }

    // The library removes the month's current rows so that the restored ones replace them.
    m_buffer.fill('\0');
    char* result = m_buffer.data();
    const QByteArray gbkMonth = toGbk(month), gbkAgent = toGbk(m_settings.agentCode);
    if (ClearDKDJData(gbkMonth.constData(), gbkAgent.constData(), &result) != 0) {
        const QString message = GetParamValue(fromGbk(m_buffer.constData()), QStringLiteral("resultMsg"));
        line(kClearRefused, {month, message});
        return Outcome::Skip;
    }

    for (const DataFileStep& step : kSteps) {
        const Outcome outcome =
            insertFile(step, month, record.attribute(QLatin1String(step.attribute)).value_or(QString()));
        if (outcome != Outcome::Done)
            return outcome;
    }
    return Outcome::Done;
}

RestoreRun::Outcome RestoreRun::insertFile(const DataFileStep& step, const QString& month, const QString& fileName)
{
    const QString path = AddBackslash(m_settings.unpackFolder) + fileName;
    if (!isBareFileName(fileName) || !QFileInfo(path).isFile()) {
        line(step.missingCode, {month});
        return Outcome::Skip;
    }
    m_file.close();
    // Reading and checking a file of tens of megabytes happens beside the event processing.
    if (!RunBesideEvents([this, &path] { return m_file.open(path); }, [this] { pump(); })) {
        // A damaged data file ends the run like a failed statement: the archive is rolled back.
        m_results.AddLine(QStringLiteral("备份数据文件%1无法读取，恢复已中止：%2").arg(fileName, m_file.errorString()));
        return Outcome::EndRun;
    }
    const int total = m_file.recordCount();
    // "正在还原[month]label。(k/N)": the parts around k are made once per file, not per row.
    const QString head = QStringLiteral("正在还原[") + month + QLatin1Char(']') +
                         QString::fromUtf8(step.progressLabel) + QStringLiteral("。(");
    const QString tail = QLatin1Char('/') + QString::number(total) + QLatin1Char(')');
    {
        StatementFeed feed(m_file, step.build, m_kind);
        QString error;
        int k = 0;
        // The progress text is only seen while events are processed, so it is composed for those
        // moments and for the last row, not for every row.
        const auto showRow = [&] { m_text = head + QString::number(k) + tail; };
        while (const QString* sql = feed.next(&error)) {
            if (++k % 20 == 0) {
                showRow();
                pump();
            }
            if (!RunQuery(*sql, *m_query, false)) {
                showRow();
                dbErrorLine();
                return Outcome::EndRun;
            }
        }
        if (k > 0)
            showRow();
        if (!error.isEmpty()) {
            m_results.AddLine(QStringLiteral("备份数据文件%1无法读取，恢复已中止：%2").arg(fileName, error));
            return Outcome::EndRun;
        }
    }
    m_file.close();
    // The pages this file's rows changed go to the disk now, not all at once in the commit.
    if (HostConnection* conn = GetHostConnection(); conn && !FlushTransactionWrites(conn->database())) {
        dbErrorLine();
        return Outcome::EndRun;
    }
    pump();
    return Outcome::Done;
}

bool RestoreRun::finishArchive(const QString& monthsText)
{
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
    line(kArchiveDone, {monthsText});
    return true;
}

} // namespace

QString RestoreMessageLine(int code, const QStringList& params)
{
    const QByteArray gbk = truncateGbk(toGbk(params.join(QChar(1))), 255);
    return fromGbk(GetMsg(code, gbk.constData(), 1));
}

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

bool RestoreJob::Run(QString& operationText, qint16& itemProgress, ui::TDispResultList& results)
{
    m_cleared = false;
    try {
        RestoreRun run(m_settings, processEvents, m_cleared, operationText, itemProgress, results);
        return run.execute();
    } catch (const std::exception& e) {
        // Anything unforeseen ends the run; the run's destructor has rolled the archive back.
        results.AddLine(QStringLiteral("数据恢复异常中止：") + QString::fromLocal8Bit(e.what()));
        return false;
    }
}

} // namespace sjql
