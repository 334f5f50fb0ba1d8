// SPDX-License-Identifier: MIT
#include "db/MysqlStatement.h"

#include "context/ModuleContext.h"
#include "db/SqlLog.h"
#include "hostapi/HostConnection.h"
#include "hostapi/MysqlNonBlocking.h"
#include "support/PhaseObserver.h"

namespace sjql {

void MysqlResultDeleter::operator()(st_mysql_res* result) const
{
    mysql_free_result(result);
}

MYSQL* MysqlHandleOf(const QSqlDatabase& db)
{
    return mysqlnb::HandleOf(db);
}

bool RunMysqlStatement(const QSqlDatabase& db, const QString& sql, MysqlResultPtr* rows, QString* reason,
                       quint64* affected, const std::function<void()>& pump, bool streamed)
{
    MYSQL* mysql = MysqlHandleOf(db);
    if (!mysql) {
        *reason = QStringLiteral("not an open MariaDB connection");
        return false;
    }
    EventPump busy(EventPolicy::ConnectionBusy);
    const std::function<void()> idle = pump ? pump : std::function<void()>([&busy] { (void)busy(); });
    const QByteArray text = sql.toUtf8();
    MYSQL_RES* result = nullptr;
    unsigned long long changed = 0;
    const unsigned failure = mysqlnb::RunStatement(mysql, text.constData(), static_cast<unsigned long>(text.size()),
                                                   idle, rows ? &result : nullptr, &changed, 10,
                                                   streamed ? mysqlnb::Rows::Streamed : mysqlnb::Rows::Stored);
    if (failure != 0) {
        *reason = QString::fromUtf8(mysql_error(mysql)).trimmed() + QStringLiteral(" QMYSQL: Unable to execute query");
        return false;
    }
    if (rows)
        rows->reset(result);
    if (affected)
        *affected = changed;
    return true;
}

bool RunHostMysqlStatement(const QString& sql, MysqlResultPtr* rows, quint64* affected,
                           const std::function<void()>& pump, bool streamed)
{
    const PhaseTimer timer(rows ? Phase::Selection : Phase::Statement);
    HostConnection* conn = GetHostConnection();
    QString reason = QStringLiteral("未取得主机数据库连接");
    if (conn && (conn->connected() || conn->connect()) &&
        RunMysqlStatement(conn->database(), sql, rows, &reason, affected, pump, streamed))
        return true;
    WriteSqlLog(QStringLiteral("[eror]SQL:") + sql + QStringLiteral("\r\n原因：") + reason);
    return false;
}

} // namespace sjql
