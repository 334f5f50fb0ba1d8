// SPDX-License-Identifier: MIT
#include "db/RunQuery.h"

#include "db/SqlLog.h"
#include "db/SqliteHandle.h"
#include "hostapi/HostConnection.h"
#include "support/PhaseObserver.h"

#include <QSqlDriver>
#include <QSqlError>
#include <QStringEncoder>

#include <cctype>
#include <sqlite3.h>

namespace sjql {
namespace {

void logFailure(const QString& sql, const QString& reason)
{
    WriteSqlLog(QStringLiteral("[eror]SQL:") + sql + QStringLiteral("\r\n原因：") + reason);
}

// A connected host connection, or null.
HostConnection* connectedHost()
{
    HostConnection* conn = GetHostConnection();
    if (!conn)
        return nullptr;
    if (!conn->connected() && !conn->connect())
        return nullptr;
    return conn;
}

enum class Direct
{
    Ran,
    Failed,
    NotHandled
};

// A statement that returns no rows, run on SQLite's own handle. The driver's generic path converts
// the text to UTF-16, has SQLite convert it back and builds a result object for rows that never
// come; a restore runs a million such statements. Same outcome: one statement only (text after it
// is refused, as the driver does), busy timeout and progress handler of the connection apply.
Direct execDirect(sqlite3* raw, const QString& sql, QString* reason)
{
    // The UTF-8 text goes into a buffer kept by the thread: no allocation per statement.
    thread_local QByteArray utf8;
    QStringEncoder encoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    const qsizetype room = encoder.requiredSpace(sql.size());
    if (utf8.size() < room)
        utf8.resize(room);
    const char* end = encoder.appendToBuffer(utf8.data(), sql);
    const int length = static_cast<int>(end - utf8.constData());
    sqlite3_stmt* stmt = nullptr;
    const char* tail = nullptr;
    if (sqlite3_prepare_v2(raw, utf8.constData(), length, &stmt, &tail) != SQLITE_OK) {
        *reason = QString::fromUtf8(sqlite3_errmsg(raw)) + QStringLiteral(" Unable to execute statement");
        return Direct::Failed;
    }
    if (!stmt)
        return Direct::NotHandled; // blank or comment only: the driver reports it its own way
    while (tail && tail < end && std::isspace(static_cast<unsigned char>(*tail)))
        ++tail;
    if (tail && tail < end) {
        sqlite3_finalize(stmt);
        *reason = QStringLiteral("Unable to execute multiple statements at a time");
        return Direct::Failed;
    }
    int rc = sqlite3_step(stmt);
    while (rc == SQLITE_ROW)
        rc = sqlite3_step(stmt);
    if (rc != SQLITE_DONE) {
        *reason = QString::fromUtf8(sqlite3_errmsg(raw)) + QStringLiteral(" Unable to fetch row");
        sqlite3_finalize(stmt);
        return Direct::Failed;
    }
    sqlite3_finalize(stmt);
    return Direct::Ran;
}

} // namespace

bool RunQuery(const QString& sql, QSqlQuery& query, bool isSelect)
{
    const PhaseTimer timer(isSelect ? Phase::Selection : Phase::Statement);
    query.finish();
    HostConnection* conn = GetHostConnection();
    if (!conn) {
        logFailure(sql, QStringLiteral("未取得主机数据库连接"));
        return false;
    }
    // Bind to the host connection; a query object of another (or an earlier) connection is
    // replaced, one of this connection keeps its settings.
    const QSqlDatabase db = conn->database();
    if (query.driver() != db.driver())
        query = QSqlQuery(db);
    if (!isSelect && db.isOpen()) {
        if (sqlite3* raw = SqliteHandleOf(db)) {
            QString reason;
            switch (execDirect(raw, sql, &reason)) {
            case Direct::Ran:
                return true;
            case Direct::Failed:
                logFailure(sql, reason.trimmed());
                return false;
            case Direct::NotHandled:
                break;
            }
        }
    }
    if (!query.exec(sql)) {
        const QSqlError error = query.lastError();
        QString reason = error.text().trimmed();
        if (reason.isEmpty())
            reason = db.isOpen() ? QStringLiteral("未知数据库错误") : QStringLiteral("主机数据库连接已关闭");
        query.finish();
        logFailure(sql, reason);
        return false;
    }
    if (!isSelect)
        query.finish();
    return true;
}

bool BeginHostTrans()
{
    HostConnection* conn = connectedHost();
    if (!conn)
        return false;
    if (!conn->inTransaction())
        (void)conn->beginTrans(); // judged by the state below, whatever the call reports
    return conn->inTransaction();
}

bool CommitHostTrans()
{
    HostConnection* conn = connectedHost();
    if (!conn || !conn->inTransaction())
        return false;
    return conn->commitTrans();
}

bool RollbackHostTrans()
{
    HostConnection* conn = connectedHost();
    if (!conn || !conn->inTransaction())
        return false;
    return conn->rollbackTrans();
}

} // namespace sjql
