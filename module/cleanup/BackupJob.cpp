// SPDX-License-Identifier: MIT
#include "cleanup/BackupJob.h"

#include "archive/CompressUnit.h"
#include "archive/FileUtils.h"
#include "cleanup/BackupDataFiles.h"
#include "cleanup/BackupSummary.h"
#include "db/RunQuery.h"
#include "db/StatementEventPump.h"
#include "entry/ErrorText.h"
#include "entry/ModuleContext.h"
#include "entry/ParamText.h"
#include "hostapi/Gbk.h"
#include "hostapi/HostConnection.h"
#include "hostapi/IITIterface.h"
#include "hostapi/ModuleLib.h"
#include "support/AdtgReader.h"
#include "support/AdtgWriter.h"
#include "support/BesideEvents.h"
#include "ui/DispResult.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlQuery>

#include <array>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <unistd.h>
#include <zip.h>

namespace sjql {

namespace {

// Forces a file (or a folder's entries) to the disk; false when it cannot be opened or synced.
// Pending events, processed while a helper thread syncs or reads back a file.
void processEvents()
{
    if (QCoreApplication::instance())
        QCoreApplication::processEvents();
}

bool syncFile(const QByteArray& name)
{
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

bool syncPath(const QString& path)
{
    return RunBesideEvents([name = QFile::encodeName(path)] { return syncFile(name); }, processEvents);
}

// A month's data file on the disk and read back in full: whether it was synced, and its row count
// or why it could not be read.
struct ReadBack
{
    bool synced = false;
    bool opened = false;
    qint64 rows = 0;
    QString error;
};

ReadBack syncAndReadBack(const QString& path)
{
    return RunBesideEvents(
        [path] {
            ReadBack back;
            back.synced = syncFile(QFile::encodeName(path));
            if (!back.synced)
                return back;
            adtg::AdtgRecordset rs;
            back.opened = rs.open(path);
            if (back.opened)
                back.rows = rs.recordCount();
            else
                back.error = rs.errorString();
            return back;
        },
        processEvents);
}

QString yearFolder(const QString& workDir, const QString& year)
{
    return AddBackslash(workDir) + year;
}

QStringList monthDataPaths(const QString& workDir, const QString& period)
{
    QStringList paths;
    for (const BackupDataFileKind& kind : BackupDataFileKinds())
        paths << BackupDataFilePath(workDir, QLatin1String(kind.fileTemplate), period);
    return paths;
}

void removeFiles(const QStringList& paths)
{
    for (const QString& path : paths)
        QFile::remove(path);
}

struct ZipCloser
{
    void operator()(zip_t* archive) const { zip_discard(archive); }
};
struct ZipFileCloser
{
    void operator()(zip_file_t* file) const { zip_fclose(file); }
};

} // namespace

QString BackupMessageText(int number, const QStringList& params)
{
    const QByteArray joined = truncateGbk(toGbk(params.join(QChar(1))), 255);
    return fromGbk(GetMsg(number, joined.constData(), 1));
}

QString PrecheckStatusText(int result)
{
    switch (result) {
    case 2:
        return QStringLiteral("当月未申报");
    case 3:
        return QStringLiteral("当月未反馈");
    case 4:
        return QStringLiteral("当月自查未申报");
    case 5:
        return QStringLiteral("当月自查已申报未反馈");
    case -1:
        return QStringLiteral("处理失败");
    default:
        return QStringLiteral("未知的检查结果(%1)").arg(result);
    }
}

bool VerifyBackupArchive(const QString& archivePath, const QStringList& files, const QString& password, QString* error)
{
    const QString archiveName = QFileInfo(archivePath).fileName();
    auto failWith = [&](const QString& message) {
        if (error)
            *error = QStringLiteral("archive %1: %2").arg(archiveName, message);
        return false;
    };
    int openError = 0;
    std::unique_ptr<zip_t, ZipCloser> archive(
        zip_open(QFile::encodeName(archivePath).constData(), ZIP_RDONLY | ZIP_CHECKCONS, &openError));
    if (!archive)
        return failWith(QStringLiteral("cannot be opened (libzip error %1)").arg(openError));
    const QByteArray secret = password.toLatin1();
    zip_set_default_password(archive.get(), secret.constData());

    QStringList expected;
    for (const QString& file : files) {
        if (!file.isEmpty())
            expected << file;
    }
    if (zip_get_num_entries(archive.get(), 0) != expected.size())
        return failWith(QStringLiteral("holds %1 members, %2 expected")
                            .arg(zip_get_num_entries(archive.get(), 0))
                            .arg(expected.size()));

    std::array<char, 64 * 1024> packed{};
    std::array<char, 64 * 1024> original{};
    for (const QString& file : expected) {
        const QString name = QFileInfo(file).fileName();
        const zip_int64_t index = zip_name_locate(archive.get(), name.toUtf8().constData(), 0);
        if (index < 0)
            return failWith(QStringLiteral("member %1: missing").arg(name));
        std::unique_ptr<zip_file_t, ZipFileCloser> member(zip_fopen_index(archive.get(), zip_uint64_t(index), 0));
        if (!member)
            return failWith(QStringLiteral("member %1: cannot be opened: %2")
                                .arg(name, QString::fromUtf8(zip_strerror(archive.get()))));
        QFile source(file);
        if (!source.open(QIODevice::ReadOnly))
            return failWith(QStringLiteral("member %1: its file %2 cannot be read").arg(name, file));
        // Reading a member to its end makes libzip check its CRC; the bytes are compared as well.
        // A year's archive is tens of megabytes: pending events are processed every 16 blocks so
        // that the progress window keeps painting.
        for (int block = 1;; ++block) {
            if (block % 16 == 0 && QCoreApplication::instance())
                QCoreApplication::processEvents();
            const zip_int64_t got = zip_fread(member.get(), packed.data(), packed.size());
            if (got < 0)
                return failWith(
                    QStringLiteral("member %1: %2").arg(name, QString::fromUtf8(zip_file_strerror(member.get()))));
            const qint64 want = source.read(original.data(), got == 0 ? 1 : got);
            if (got == 0) {
                if (want != 0)
                    return failWith(QStringLiteral("member %1: shorter than its file").arg(name));
                break;
            }
            if (want != got || std::memcmp(packed.data(), original.data(), size_t(got)) != 0)
                return failWith(QStringLiteral("member %1: differs from its file").arg(name));
        }
    }
    return true;
}

BackupJob::BackupJob(BackupJobSettings settings, BackupJobCallbacks callbacks)
    : m_settings(std::move(settings)), m_callbacks(std::move(callbacks))
{}

void BackupJob::progress(const QString& text)
{
    *m_text = text;
    if (m_callbacks.processEvents)
        m_callbacks.processEvents();
}

void BackupJob::progress(int position)
{
    *m_position = qint16(qBound(0, position, 100));
    if (m_callbacks.processEvents)
        m_callbacks.processEvents();
}

void BackupJob::pumpEvents()
{
    if (m_callbacks.processEvents)
        m_callbacks.processEvents();
}

void BackupJob::addLine(int number, const QStringList& params)
{
    m_results->AddLine(BackupMessageText(number, params));
}

void BackupJob::addDbErrorLine()
{
    m_results->AddLine(FormatErrorText(QLatin1String(kDbErrorCode)));
}

bool BackupJob::Run(QString& operationText, qint16& itemProgress, ui::TDispResultList& results)
{
    m_text = &operationText;
    m_position = &itemProgress;
    m_results = &results;
    m_skip.clear();
    m_archives.clear();
    m_cleared = false;

    progress(5);
    if (!precheck())
        return false;

    progress(10);
    m_step = m_settings.years.isEmpty() ? 0 : 90 / int(m_settings.years.size());
    for (const QString& year : m_settings.years) {
        if (!runYear(year))
            return false;
    }

    m_cleared = true;
    progress(QStringLiteral("正在压缩数据库"));
    const CompactResult compacted = m_callbacks.compact ? m_callbacks.compact() : CompactAccessDatabase();
    if (!compacted.ok() && m_callbacks.showCompactionError)
        m_callbacks.showCompactionError(compacted.error);
    return true;
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

bool BackupJob::runYear(const QString& year)
{
    QString records;
    QStringList archiveFiles;
    bool keepYearFolder = false;
    const QString folder = yearFolder(m_settings.workDir, year);
    if (!DirExists(folder))
        ForceDirs(folder);

    for (int month = 1; month <= 12; ++month) {
        const QString period = year + QStringLiteral("%1").arg(month, 2, 10, QLatin1Char('0'));
        if (runMonth(period, records, archiveFiles, keepYearFolder) == Step::EndRun)
            return false;
    }

    // A summary that cannot be written makes an archive nobody could restore: handled like an
    // archive written nowhere, so the year's files stay in the work folder.
    QString error;
    if (!WriteBackupSummary(year, records, m_settings.agentCode, m_settings.hostAppCode, m_settings.workDir,
                            archiveFiles, &error)) {
        addLine(MsgArchiveFailed, {year});
        return false;
    }
    return packYear(year, archiveFiles, keepYearFolder);
}

BackupJob::Step BackupJob::runMonth(const QString& period, QString& records, QStringList& archiveFiles,
                                    bool& keepYearFolder)
{
    progress(QStringLiteral("正在备份清理[") + period + QStringLiteral("]数据"));
    m_declarationId.clear();
    const QString lookup = QStringLiteral("select WYSBH from SBZB where SBYF='") + period +
                           QStringLiteral("' and KJYWRBM='") + m_settings.agentCode + QStringLiteral("' ");
    QSqlQuery query;
    if (!RunQuery(lookup, query, true)) {
        addDbErrorLine();
        return Step::EndRun;
    }
    if (query.next())
        m_declarationId = query.value(0).toString();
    query.finish();

    auto record = [&](const QString& flag) { records = AppendBackupRecord(records, flag, period, m_declarationId); };
    auto cleared = [&](const QStringList& paths) {
        archiveFiles << paths;
        record(QStringLiteral("Y"));
        progress(int(*m_position) + m_step / 12);
    };
    auto notCleared = [&](const QString& reason) {
        addLine(MsgClearFailed, {period, reason});
        record(QStringLiteral("N"));
    };

    // Files of this month left in the year's folder by a run that was cut short.
    QString reason;
    bool endRun = false;
    const Leftover leftover = inspectLeftovers(period, &reason, &endRun);
    if (endRun) {
        addDbErrorLine();
        return Step::EndRun;
    }
    if (leftover == Leftover::Adopt) {
        cleared(monthDataPaths(m_settings.workDir, period));
        return Step::Next;
    }
    if (leftover == Leftover::Conflict) {
        keepYearFolder = true;
        notCleared(reason);
        return Step::Next;
    }

    if (m_skip.contains(period)) {
        // Files the database has superseded hold nothing that is not still in the database.
        removeFiles(monthDataPaths(m_settings.workDir, period));
        record(QStringLiteral("N"));
        return Step::Next;
    }

    QStringList paths;
    if (!writeAndVerify(period, &paths, &reason, &endRun)) {
        if (endRun) {
            addDbErrorLine();
            return Step::EndRun;
        }
        removeFiles(monthDataPaths(m_settings.workDir, period));
        notCleared(reason);
        return Step::Next;
    }

    char buffer[SJQL_IIT_RESULT_BUFFER_SIZE] = {};
    char* result = buffer;
    int answer = 0;
    {
        // The library deletes a large month in a few long statements on the host connection.
        HostConnection* connection = GetHostConnection();
        std::optional<StatementEventPump> pump;
        if (connection && m_callbacks.processEvents)
            pump.emplace(connection->database());
        answer = ClearDKDJData(toGbk(period).constData(), toGbk(m_settings.agentCode).constData(), &result);
    }
    if (answer != 0) {
        removeFiles(paths);
        notCleared(GetParamValue(fromGbk(QByteArrayView(buffer, qsizetype(qstrnlen(buffer, sizeof buffer)))),
                                 QStringLiteral("resultMsg")));
        return Step::Next;
    }
    if (qEnvironmentVariable(kAbortAfterClearEnv) == period)
        std::abort(); // crash tests: a run cut short right after the host removed the month
    cleared(paths);
    return Step::Next;
}

bool BackupJob::countMonthRows(const QString& period, qint64 rows[3])
{
    QSqlQuery query;
    for (int i = 0; i < 3; ++i) {
        if (!RunQuery(BackupSelectStatement(i, period, m_settings.agentCode), query, true))
            return false;
        rows[i] = query.last() ? query.at() + 1 : 0;
        query.finish();
    }
    return true;
}

BackupJob::Leftover BackupJob::inspectLeftovers(const QString& period, QString* reason, bool* endRun)
{
    const QStringList paths = monthDataPaths(m_settings.workDir, period);
    qint64 fileRows[3] = {-1, -1, -1};
    bool any = false, all = true, readable = true;
    for (int i = 0; i < 3; ++i) {
        if (!QFileInfo::exists(paths[i])) {
            all = false;
            continue;
        }
        any = true;
        adtg::AdtgRecordset rs;
        if (rs.open(paths[i]))
            fileRows[i] = rs.recordCount();
        else
            readable = false;
    }
    if (!any)
        return Leftover::None;

    // Counting means a second fetch of the month; it happens only when files were left behind.
    qint64 dbRows[3] = {0, 0, 0};
    if (!countMonthRows(period, dbRows)) {
        *endRun = true;
        return Leftover::None;
    }
    const bool databaseEmpty = dbRows[0] == 0 && dbRows[1] == 0 && dbRows[2] == 0;
    if (all && readable && databaseEmpty)
        return Leftover::Adopt;
    bool covered = readable;
    for (int i = 0; i < 3 && covered; ++i)
        covered = fileRows[i] <= dbRows[i];
    if (covered)
        return Leftover::Superseded;
    *reason = readable ? QStringLiteral("工作目录中留有该月的备份数据文件，其行数多于数据库中的数据，未清理，"
                                        "文件保留在%1")
                             .arg(QDir::toNativeSeparators(yearFolder(m_settings.workDir, period.left(4))))
                       : QStringLiteral("工作目录中留有该月无法读取的备份数据文件，未清理，文件保留在%1")
                             .arg(QDir::toNativeSeparators(yearFolder(m_settings.workDir, period.left(4))));
    return Leftover::Conflict;
}

bool BackupJob::writeAndVerify(const QString& period, QStringList* paths, QString* reason, bool* endRun)
{
    HostConnection* connection = GetHostConnection();
    const auto& kinds = BackupDataFileKinds();
    QSqlQuery query;
    qint64 selected[3] = {0, 0, 0};
    for (int i = 0; i < 3; ++i) {
        progress(BackupProgressText(i, period));
        if (!RunQuery(BackupSelectStatement(i, period, m_settings.agentCode), query, true)) {
            *endRun = true;
            return false;
        }
        // The rows the selection returned, counted apart from the writer so that the file read back
        // is checked against the database and not against the writer's own idea of it.
        // Counted row by row rather than with last(): fetching a large month takes a while, and
        // pending events are processed every thousand rows meanwhile.
        qint64 count = 0;
        while (query.next()) {
            if (++count % 1024 == 0)
                pumpEvents();
        }
        selected[i] = count;
        const QString path = BackupDataFilePath(m_settings.workDir, QLatin1String(kinds[i].fileTemplate), period);
        ForceDirs(QFileInfo(path).absolutePath());
        QString error;
        if (!connection || !adtg::SaveRecordsetAdtg(query, connection->database(), QLatin1String(kinds[i].table), path,
                                                    &error, [this] { pumpEvents(); })) {
            query.finish();
            *reason = QStringLiteral("备份数据文件写入失败，未清理：%1").arg(error);
            return false;
        }
        query.finish();
        *paths << path;
        pumpEvents();
    }

    // The month is cleared only once its files are on the disk and hold every row selected.
    const QString folder = QFileInfo(paths->first()).absolutePath();
    for (int i = 0; i < 3; ++i) {
        const QString& path = paths->at(i);
        const QString name = QFileInfo(path).fileName();
        // Each file takes a sync and a full read, both beside the event processing.
        const ReadBack back = syncAndReadBack(path);
        if (!back.synced) {
            *reason = QStringLiteral("备份数据文件%1无法写入磁盘，未清理").arg(name);
            return false;
        }
        if (!back.opened) {
            *reason = QStringLiteral("备份数据文件%1无法读回，未清理：%2").arg(name, back.error);
            return false;
        }
        if (back.rows != selected[i]) {
            *reason =
                QStringLiteral("备份数据文件%1读回%2行，应为%3行，未清理").arg(name).arg(back.rows).arg(selected[i]);
            return false;
        }
    }
    if (!syncPath(folder)) {
        *reason = QStringLiteral("备份目录%1无法写入磁盘，未清理").arg(QDir::toNativeSeparators(folder));
        return false;
    }
    return true;
}

bool BackupJob::packYear(const QString& year, const QStringList& archiveFiles, bool keepYearFolder)
{
    const QString folder = yearFolder(m_settings.workDir, year);
    auto packInto = [&](const QString& archiveFolder) -> QString {
        const QString path =
            AddBackslash(archiveFolder) + BuildArchiveName(m_settings.hostAppCode, year, m_settings.agentCode);
        QString error;
        if (!CompressFiles(archiveFiles, path, ArchivePassword, &error))
            return QString();
        // An archive that does not read back whole is no backup: it is removed and counts as a
        // failed packing, so the year's files stay where they are.
        if (!VerifyBackupArchive(path, archiveFiles, ArchivePassword, &error)) {
            QFile::remove(path);
            return QString();
        }
        syncPath(path);
        syncPath(QFileInfo(path).absolutePath());
        return path;
    };

    int line = MsgArchived;
    QString archive = m_settings.backupDir.isEmpty() ? QString() : packInto(m_settings.backupDir);
    if (archive.isEmpty()) {
        line = MsgArchivedFallback;
        archive = packInto(AddBackslash(m_settings.subAppDir) + QStringLiteral("TEMP"));
    }
    if (archive.isEmpty()) {
        addLine(MsgArchiveFailed, {year});
        return false;
    }
    m_archives << archive;
    addLine(line, {year, QDir::toNativeSeparators(archive)});
    if (!keepYearFolder) // a year's data files are hundreds of megabytes to free
        RunBesideEvents([&folder] { return DeleteTree(folder); }, processEvents);
    return true;
}

} // namespace sjql
