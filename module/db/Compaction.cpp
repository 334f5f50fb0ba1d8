// SPDX-License-Identifier: MIT
#include "db/Compaction.h"

#include "context/ModuleContext.h"
#include "db/SqlLiteral.h"
#include "db/SqliteHandle.h"
#include "hostapi/Gbk.h"
#include "hostapi/HostConnection.h"
#include "hostapi/ModuleLib.h"
#include "support/BesideEvents.h"
#include "support/EventPump.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <sqlite3.h>
#include <sys/file.h>
#include <unistd.h>

namespace sjql {
namespace {

std::function<bool(const QString&)>& faultHook()
{
    static std::function<bool(const QString&)> hook;
    return hook;
}

// False when the test seam wants this step to fail.
bool stepAllowed(const char* step)
{
    return !faultHook() || faultHook()(QString::fromLatin1(step));
}

QString injected(const char* step)
{
    return QStringLiteral("压缩数据库的步骤“%1”失败（测试注入的故障）").arg(QString::fromLatin1(step));
}

// Pending events except user input, processed while the compaction works on files.
void processOtherEvents()
{
    EventPump pump(EventPolicy::ConnectionBusy, std::chrono::milliseconds(0));
    pump();
}

QString hostAppFolder()
{
    const QString code = GetHostAppCode();
    QString folder = fromGbk(GetSubAppPath(toGbk(code).constData()));
    if (!folder.isEmpty() && !folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    return folder;
}

QString sqliteError(sqlite3* db)
{
    return QString::fromUtf8(sqlite3_errmsg(db));
}

// Row counts of every table of a database; false with *error on a failing statement. Plain SQLite
// calls, so that it can run on a helper thread (the caller makes sure nothing else uses `db`).
bool tableRowCounts(sqlite3* db, std::map<QString, qint64>* counts, QString* error)
{
    auto each = [&](const QByteArray& sql, const std::function<void(sqlite3_stmt*)>& row) {
        sqlite3_stmt* stmt = nullptr;
        int rc = sqlite3_prepare_v2(db, sql.constData(), int(sql.size()), &stmt, nullptr);
        if (rc == SQLITE_OK) {
            while ((rc = sqlite3_step(stmt)) == SQLITE_ROW)
                row(stmt);
        }
        sqlite3_finalize(stmt);
        return rc == SQLITE_DONE;
    };
    QStringList tables;
    if (!each("select name from sqlite_master where type='table' and name not like 'sqlite_%'", [&](sqlite3_stmt* st) {
            tables << QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
        })) {
        *error = sqliteError(db);
        return false;
    }
    for (const QString& t : tables) {
        qint64 n = -1;
        if (!each(QByteArray("select count(*) from ") + SqlQuotedIdentifier(t).toUtf8(),
                  [&](sqlite3_stmt* st) { n = sqlite3_column_int64(st, 0); }) ||
            n < 0) {
            *error = QStringLiteral("表 %1：%2").arg(t, sqliteError(db));
            return false;
        }
        (*counts)[t] = n;
    }
    return true;
}

// Opens the compacted copy on a connection of its own and checks it against the original's counts
// (runs on a helper thread).
QString verifyCopy(const QString& file, const std::map<QString, qint64>& expected)
{
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(QFile::encodeName(file).constData(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        const QString why = db ? sqliteError(db) : QStringLiteral("内存不足");
        sqlite3_close(db);
        return QStringLiteral("压缩数据库时无法打开压缩后的副本“%1”，数据库未压缩（%2）").arg(file, why);
    }
    QString error;
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &stmt, nullptr) != SQLITE_OK ||
        sqlite3_step(stmt) != SQLITE_ROW) {
        error = QStringLiteral("压缩数据库时无法检查压缩后的副本“%1”是否完好，数据库未压缩（%2）")
                    .arg(file, sqliteError(db));
    } else if (const QString verdict = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)));
               verdict != QLatin1String("ok")) {
        error = QStringLiteral("压缩后的副本“%1”已损坏，数据库未压缩（%2）").arg(file, verdict);
    }
    sqlite3_finalize(stmt);
    if (error.isEmpty()) {
        std::map<QString, qint64> counts;
        QString countError;
        if (!tableRowCounts(db, &counts, &countError))
            error =
                QStringLiteral("压缩数据库时无法核对压缩后的副本“%1”的行数，数据库未压缩（%2）").arg(file, countError);
        else if (counts != expected)
            error = QStringLiteral("压缩后的副本“%1”与数据库的行数不符，数据库未压缩").arg(file);
    }
    sqlite3_close(db);
    return error;
}

// How long the compaction waits for another process to finish what it is doing in the database
// file before it gives up: as long as the host connection itself waits for a lock.
constexpr qint64 kLockWaitMs = 5000;

// Pages the compacted copy is written back in at a time (each slice may be cut off by the fault tests).
constexpr int kPagesPerSlice = 64;

// Takes the exclusive lock on the database file and keeps it: in exclusive locking mode SQLite
// keeps the lock of a transaction after its end, until the connection is closed. No other process
// can read or write the file from here on. Retries while another process is inside a transaction,
// processing events meanwhile; empty on success.
// The temporary copy's file, claimed for the whole compaction: created empty (VACUUM INTO accepts
// an empty file) and locked with flock. A file left by a compaction that was killed holds nothing
// the database lacks, since the copy only reaches the database file through SQLite's journal: it
// is emptied and used again, with any journal beside it. A file that another compaction holds
// right now (another installation on this machine) makes this one refuse. Returns the locked
// descriptor, or -1 with *error set.
int claimTemporaryFile(const QString& tmpFile, QString* error)
{
    const QByteArray name = QFile::encodeName(tmpFile);
    // O_NOFOLLOW: the temporary folder is shared, a link planted there must not lead elsewhere.
    const int fd = ::open(name.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        *error = QStringLiteral("压缩数据库用的临时文件“%1”无法打开，数据库未压缩（%2）")
                     .arg(tmpFile, QString::fromLocal8Bit(std::strerror(errno)));
        return -1;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        *error = QStringLiteral("压缩数据库用的临时文件“%1”正被另一次压缩使用，数据库未压缩；请等那次压缩结束后再试")
                     .arg(tmpFile);
        return -1;
    }
    if (::ftruncate(fd, 0) != 0) {
        *error = QStringLiteral("压缩数据库用的临时文件“%1”无法清空，数据库未压缩（%2）")
                     .arg(tmpFile, QString::fromLocal8Bit(std::strerror(errno)));
        ::close(fd);
        return -1;
    }
    QFile::remove(tmpFile + QStringLiteral("-journal"));
    return fd;
}

QString lockExclusively(sqlite3* db, const QString& dbFile)
{
    // The connection's own busy wait would hold the event loop for the whole time.
    sqlite3_busy_timeout(db, 0);
    if (sqlite3_exec(db, "PRAGMA locking_mode=EXCLUSIVE", nullptr, nullptr, nullptr) != SQLITE_OK)
        return QStringLiteral("压缩数据库时无法独占数据库文件“%1”，未压缩（%2）").arg(dbFile, sqliteError(db));
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        const int rc = sqlite3_exec(db, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr);
        if (rc == SQLITE_OK) {
            if (sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK)
                return {};
            return QStringLiteral("压缩数据库时无法独占数据库文件“%1”，未压缩（%2）").arg(dbFile, sqliteError(db));
        }
        if ((rc & 0xff) != SQLITE_BUSY && (rc & 0xff) != SQLITE_LOCKED)
            return QStringLiteral("压缩数据库时无法独占数据库文件“%1”，未压缩（%2）").arg(dbFile, sqliteError(db));
        if (waited.elapsed() >= kLockWaitMs)
            return QStringLiteral("数据库文件正被其他程序使用，未压缩：%1（%2）").arg(dbFile, sqliteError(db));
        processOtherEvents();
        QThread::msleep(20);
    }
}

// Writes the compacted copy into the database file through the host connection, page by page
// within one transaction of the connection: the file keeps its identity, so other processes'
// connections stay valid and read the new content with their next transaction, and SQLite's
// journal restores the old content if the work is cut off (failure, crash, power loss). Runs on a
// helper thread, with the connection's last commit and its syncs. Empty on success; on failure the
// file holds what it held.
QString writeBack(sqlite3* db, const QString& source, const QString& dbFile)
{
    sqlite3* copy = nullptr;
    if (sqlite3_open_v2(QFile::encodeName(source).constData(), &copy, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        const QString why = copy ? sqliteError(copy) : QStringLiteral("内存不足");
        sqlite3_close(copy);
        return QStringLiteral("压缩数据库时无法读取压缩后的副本“%1”，数据库保持原样（%2）").arg(source, why);
    }
    QString error;
    sqlite3_backup* backup = sqlite3_backup_init(db, "main", copy, "main");
    if (!backup) {
        error = QStringLiteral("压缩数据库时无法写入数据库文件“%1”，数据库保持原样（%2）").arg(dbFile, sqliteError(db));
    } else {
        for (;;) {
            if (!stepAllowed("write back")) {
                error = injected("write back");
                break;
            }
            const int rc = sqlite3_backup_step(backup, kPagesPerSlice);
            if (rc == SQLITE_DONE)
                break;
            if (rc != SQLITE_OK) {
                error = QStringLiteral("压缩数据库时无法写入数据库文件“%1”，数据库保持原样（%2）")
                            .arg(dbFile, sqliteError(db));
                break;
            }
        }
        // Unfinished, this rolls the database file back to what it was.
        if (sqlite3_backup_finish(backup) != SQLITE_OK && error.isEmpty())
            error =
                QStringLiteral("压缩数据库时无法写入数据库文件“%1”，数据库保持原样（%2）").arg(dbFile, sqliteError(db));
    }
    sqlite3_close(copy);
    return error;
}

CompactResult compactSqlite(HostConnection* conn)
{
    CompactResult result;
    result.ran = true;
    if (!conn) {
        result.error = QStringLiteral("压缩数据库时没有宿主的数据库连接，数据库未压缩");
        return result;
    }
    const QString folder = hostAppFolder();
    if (folder.isEmpty()) {
        result.error = QStringLiteral("压缩数据库时找不到宿主程序的文件夹，数据库未压缩");
        return result;
    }
    const QString dbFile = folder + QStringLiteral("Data/Data.db");
    const QString tmpFile = QDir(QDir::tempPath()).filePath(QStringLiteral("tmpData.db"));
    if (!conn->connected() && !conn->connect()) {
        result.error = QStringLiteral("压缩数据库时无法连接数据库（%1）").arg(conn->lastError());
        return result;
    }
    // The copy is written into Data/Data.db: it must be the file the connection works on, or
    // another database would take its place.
    const QString connected = QFileInfo(conn->database().databaseName()).canonicalFilePath();
    if (connected.isEmpty() || connected != QFileInfo(dbFile).canonicalFilePath()) {
        result.error = QStringLiteral("宿主的数据库连接用的不是数据库文件“%1”，而是“%2”，数据库未压缩")
                           .arg(dbFile, conn->database().databaseName());
        return result;
    }
    if (conn->inTransaction()) {
        result.error = QStringLiteral("宿主的数据库连接上还有未结束的事务，数据库未压缩");
        return result;
    }
    const int tmpLock = claimTemporaryFile(tmpFile, &result.error);
    if (tmpLock < 0)
        return result;

    // Statements still open on the connection (a select whose rows were read only in part) keep
    // SQLite from vacuuming and from writing the copy back: closing ends them.
    // Ending before anything was copied: the claimed file is still empty; it goes with its lock, so
    // that a later compaction of this process does not find it held.
    const auto giveUpTemporaryFile = [&] {
        QFile::remove(tmpFile);
        ::close(tmpLock);
    };
    conn->close();
    if (!conn->connect()) {
        result.error = QStringLiteral("压缩数据库时无法重新打开数据库文件“%1”（%2）").arg(dbFile, conn->lastError());
        giveUpTemporaryFile();
        return result;
    }
    sqlite3* raw = SqliteHandleOf(conn->database());
    if (!raw) {
        result.error = QStringLiteral("数据库文件“%1”不是 SQLite 数据库，未压缩").arg(dbFile);
        giveUpTemporaryFile();
        return result;
    }

    // From here to the end the file is this connection's alone: no other process writes a row
    // that the copy would miss, and nobody reads a half-written file.
    result.error = stepAllowed("lock") ? lockExclusively(raw, dbFile) : injected("lock");

    // From here the connection is used by one thread at a time: the long steps (counting, the
    // copy, its check, the write-back with its commit) run on a helper thread while this thread
    // processes events that do not touch the connection, as for every long statement of a run.
    auto besideEvents = [](auto work) { return RunBesideEvents(std::move(work), processOtherEvents); };
    std::map<QString, qint64> counts;
    if (result.ok()) {
        QString error;
        if (!besideEvents([&] { return tableRowCounts(raw, &counts, &error); }))
            result.error = QStringLiteral("压缩数据库时无法统计数据库“%1”的行数，未压缩（%2）").arg(dbFile, error);
    }
    if (result.ok()) {
        QSqlQuery q(conn->database());
        // The copy is synced when it is written into the database file; syncing the temporary
        // file as well would only stall the run for a moment.
        QString synchronous;
        if (q.exec(QStringLiteral("PRAGMA synchronous")) && q.next())
            synchronous = q.value(0).toString();
        q.finish();
        if (!synchronous.isEmpty())
            (void)q.exec(QStringLiteral("PRAGMA synchronous=OFF"));
        q.finish();
        if (!stepAllowed("vacuum")) {
            result.error = injected("vacuum");
        } else {
            const QByteArray vacuum = (QStringLiteral("VACUUM INTO ") + SqlTextLiteral(tmpFile, dbkSQLite)).toUtf8();
            if (besideEvents([&] { return sqlite3_exec(raw, vacuum.constData(), nullptr, nullptr, nullptr); }) !=
                SQLITE_OK)
                result.error = QStringLiteral("数据库“%1”无法压缩到临时文件“%2”，数据库保持原样（%3）")
                                   .arg(dbFile, tmpFile, sqliteError(raw));
        }
        // Back to the host's setting before anything is written into the database file.
        if (!synchronous.isEmpty() && !q.exec(QStringLiteral("PRAGMA synchronous=") + synchronous) && result.ok())
            result.error =
                QStringLiteral("压缩数据库时无法恢复数据库“%1”的同步设置（%2）").arg(dbFile, q.lastError().text());
        q.finish();
    }
    if (result.ok())
        result.error =
            stepAllowed("verify") ? besideEvents([&] { return verifyCopy(tmpFile, counts); }) : injected("verify");
    if (result.ok())
        result.error = besideEvents([&] { return writeBack(raw, tmpFile, dbFile); });

    processOtherEvents();
    // Closing the connection lets go of the exclusive lock; opened again, it has the host's
    // settings back (locking mode, busy timeout). In exclusive locking mode the journal of the
    // write-back (as large as the database) is kept until then and removed by the close; held open
    // here, its space is only freed when this descriptor is closed, beside the event processing.
    // (No lock is ever taken on a journal file, so closing a descriptor of it costs SQLite nothing.)
    raw = nullptr;
    const int journal =
        ::open(QFile::encodeName(dbFile + QStringLiteral("-journal")).constData(), O_RDONLY | O_CLOEXEC);
    conn->close();
    if (journal >= 0)
        RunBesideEvents([journal] { ::close(journal); }, processOtherEvents);
    const bool reconnected = stepAllowed("reconnect") && conn->connect();

    // The temporary file is ours (claimed above); the database is whole either way, so it goes,
    // before its lock is let go.
    if (QFileInfo::exists(tmpFile)) {
        if (!stepAllowed("remove temporary") ||
            !RunBesideEvents([&tmpFile] { return QFile::remove(tmpFile); }, processOtherEvents)) {
            if (result.ok())
                result.error = QStringLiteral("数据库已压缩，但临时文件“%1”无法删除").arg(tmpFile);
        }
    }
    // The descriptor is the last one of the removed copy: closing it frees the copy's space, which
    // for a database of a gigabyte takes a third of a second.
    RunBesideEvents([tmpLock] { ::close(tmpLock); }, processOtherEvents);
    if (!reconnected) {
        const QString why = QStringLiteral("压缩数据库后无法重新打开宿主的数据库连接（%1）").arg(conn->lastError());
        result.error = result.ok() ? why : result.error + QStringLiteral("；") + why;
    }
    return result;
}

CompactResult compactAccess(HostConnection* conn)
{
    CompactResult result;
    result.ran = true;
    if (!conn) {
        result.error = QStringLiteral("压缩数据库时没有宿主的数据库连接，数据库未压缩");
        return result;
    }
    const QString password = JetPasswordFromConnectionString(conn->connectionString());
    const QString pattern =
        QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=%1;Jet OLEDB:Database Password=%2;");
    const QString source = pattern.arg(hostAppFolder() + QStringLiteral("Data/Data.mdb"), password);
    const QString destination = pattern.arg(QDir(QDir::tempPath()).filePath(QStringLiteral("tmpData.mdb")), password);
    Q_UNUSED(source);
    Q_UNUSED(destination);
    // No Jet engine here: report it before touching the host connection, so it stays usable.
    result.error = QStringLiteral("本系统没有 Access 数据库引擎（Jet，JRO.JetEngine），Access 数据库未压缩");
    return result;
}

} // namespace

void SetCompactionFaultHook(std::function<bool(const QString&)> hook)
{
    faultHook() = std::move(hook);
}

QString JetPasswordFromConnectionString(const QString& text)
{
    const QString passwordKey = QStringLiteral("Jet OLEDB:Database Password");
    const qsizetype p = text.indexOf(passwordKey);
    const qsizetype q = text.indexOf(QStringLiteral("Jet OLEDB:Engine Type"));
    if (p >= 0 && q >= 0) {
        // By position, as the host writes the text: the value starts behind the key and its "=",
        // and ends with the ";" just before the engine type pair.
        const qsizetype start = p + passwordKey.size() + 1;
        const qsizetype length = q - start - 1;
        return length > 0 ? text.mid(start, length) : QString();
    }
    if (p < 0)
        return {};
    qsizetype start = p + passwordKey.size();
    while (start < text.size() && text.at(start) == QLatin1Char(' '))
        ++start;
    if (start < text.size() && text.at(start) == QLatin1Char('='))
        ++start;
    const qsizetype end = text.indexOf(QLatin1Char(';'), start);
    return text.mid(start, end < 0 ? -1 : end - start);
}

CompactResult CompactAccessDatabase()
{
    const QString type = GetDBTypeName();
    if (type == QLatin1String("MSACCESS"))
        return compactAccess(GetHostConnection());
    if (type == QLatin1String("SQLITE"))
        return compactSqlite(GetHostConnection());
    return {};
}

} // namespace sjql
