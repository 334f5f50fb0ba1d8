// SPDX-License-Identifier: MIT
#include "db/SqliteRows.h"

#include "context/ModuleContext.h"
#include "db/SqlLog.h"
#include "db/SqliteHandle.h"
#include "hostapi/HostConnection.h"
#include "support/PhaseObserver.h"

#include <cctype>
#include <sqlite3.h>

namespace sjql {

SqliteRows::SqliteRows(sqlite3* handle, sqlite3_stmt* statement) : m_handle(handle), m_statement(statement)
{
    m_columns = sqlite3_column_count(statement);
}

SqliteRows::~SqliteRows()
{
    sqlite3_finalize(m_statement);
}

std::unique_ptr<SqliteRows> SqliteRows::select(sqlite3* handle, const QString& sql, QString* reason)
{
    const QByteArray text = sql.toUtf8();
    sqlite3_stmt* statement = nullptr;
    const char* tail = nullptr;
    if (sqlite3_prepare_v2(handle, text.constData(), int(text.size()), &statement, &tail) != SQLITE_OK || !statement) {
        *reason = QString::fromUtf8(sqlite3_errmsg(handle)) + QStringLiteral(" Unable to execute statement");
        sqlite3_finalize(statement);
        return nullptr;
    }
    std::unique_ptr<SqliteRows> rows(new SqliteRows(handle, statement));
    // As the driver: one statement only.
    const char* end = text.constData() + text.size();
    while (tail && tail < end && std::isspace(static_cast<unsigned char>(*tail)))
        ++tail;
    if (tail && tail < end) {
        *reason = QStringLiteral("Unable to execute multiple statements at a time");
        return nullptr;
    }
    if (!rows->step() && !rows->m_error.isEmpty()) {
        *reason = rows->m_error;
        return nullptr;
    }
    return rows;
}

bool SqliteRows::step()
{
    const int rc = sqlite3_step(m_statement);
    m_onRow = rc == SQLITE_ROW;
    if (!m_onRow && rc != SQLITE_DONE)
        m_error = QString::fromUtf8(sqlite3_errmsg(m_handle)) + QStringLiteral(" Unable to fetch row");
    return m_onRow;
}

QString SqliteRows::columnName(int column) const
{
    return QString::fromUtf8(sqlite3_column_name(m_statement, column));
}

bool SqliteRows::first()
{
    if (m_unmoved)
        return m_onRow;
    sqlite3_reset(m_statement);
    m_error.clear();
    return step();
}

bool SqliteRows::next()
{
    m_unmoved = false;
    return m_onRow && step();
}

adtg::ValueView SqliteRows::value(int column) const
{
    using Kind = adtg::ValueView::Kind;
    adtg::ValueView v;
    if (!m_onRow)
        return v;
    switch (sqlite3_column_type(m_statement, column)) {
    case SQLITE_NULL:
        break;
    case SQLITE_INTEGER:
        v.kind = Kind::Integer;
        v.integer = sqlite3_column_int64(m_statement, column);
        break;
    case SQLITE_FLOAT:
        v.kind = Kind::Real;
        v.real = sqlite3_column_double(m_statement, column);
        break;
    case SQLITE_BLOB:
        v.kind = Kind::Bytes;
        v.data = sqlite3_column_blob(m_statement, column);
        v.size = sqlite3_column_bytes(m_statement, column);
        break;
    default:
        // The text in UTF-16, converted by SQLite as it does for the driver (NULs kept).
        v.kind = Kind::Utf16;
        v.data = sqlite3_column_text16(m_statement, column);
        v.size = sqlite3_column_bytes16(m_statement, column) / 2;
        break;
    }
    return v;
}

std::unique_ptr<SqliteRows> RunHostSqliteSelection(const QString& sql, bool* ran)
{
    *ran = false;
    HostConnection* conn = GetHostConnection();
    if (!conn)
        return nullptr;
    sqlite3* handle = SqliteHandleOf(conn->database());
    if (!handle)
        return nullptr;
    *ran = true;
    const PhaseTimer timer(Phase::Selection);
    QString reason;
    std::unique_ptr<SqliteRows> rows = SqliteRows::select(handle, sql, &reason);
    if (!rows)
        WriteSqlLog(QStringLiteral("[eror]SQL:") + sql + QStringLiteral("\r\n原因：") + reason.trimmed());
    return rows;
}

} // namespace sjql
