// SPDX-License-Identifier: MIT
#include "db/RunQuery.h"

#include "db/SqlLog.h"
#include "hostapi/HostConnection.h"

#include <QSqlDriver>
#include <QSqlError>

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

} // namespace

bool RunQuery(const QString& sql, QSqlQuery& query, bool isSelect)
{
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

void BeginHostTrans()
{
    HostConnection* conn = connectedHost();
    if (conn && !conn->inTransaction())
        (void)conn->beginTrans();
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

QString DateToSqlLiteral(const QDate& date, TDBKind kind)
{
    const QString text = QStringLiteral("%1-%2-%3")
                             .arg(date.year(), 4, 10, QLatin1Char('0'))
                             .arg(date.month(), 2, 10, QLatin1Char('0'))
                             .arg(date.day(), 2, 10, QLatin1Char('0'));
    switch (kind) {
    case dbkAccess:
        return QLatin1Char('#') + text + QLatin1Char('#');
    case dbkOracle:
        return QStringLiteral("TO_DATE('") + text + QStringLiteral("', 'YYYY-MM-DD')");
    case dbkMSDE:
    case dbkSQLServer:
    case dbkMySQL:
    case dbkSQLite:
        break;
    }
    return QLatin1Char('\'') + text + QLatin1Char('\'');
}

QString DateToSqlLiteral(const QDate& date)
{
    return DateToSqlLiteral(date, GetDBKind());
}

} // namespace sjql
