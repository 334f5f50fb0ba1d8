// SPDX-License-Identifier: MIT
#include "db/BoundInsert.h"

#include "db/MysqlStatement.h"
#include "db/SqliteHandle.h"

#include <mysql.h>
#include <sqlite3.h>

namespace sjql {
namespace {

class SqliteInsert final : public BoundInsert
{
public:
    SqliteInsert(sqlite3* db, sqlite3_stmt* stmt, std::span<const BoundType> types)
        : m_db(db), m_stmt(stmt), m_types(types.begin(), types.end())
    {}
    ~SqliteInsert() override { sqlite3_finalize(m_stmt); }

    bool add(const BoundRow& row) override
    {
        for (size_t i = 0; i < m_types.size(); ++i) {
            const int slot = int(i) + 1;
            if (m_types[i] == BoundType::Integer) {
                sqlite3_bind_int64(m_stmt, slot, row.values[i].integer);
            } else {
                // Bound without a copy: the row outlives the step below.
                const QByteArrayView text = row.bytesOf(i);
                sqlite3_bind_text(m_stmt, slot, text.data(), int(text.size()), SQLITE_STATIC);
            }
        }
        const int rc = sqlite3_step(m_stmt);
        const bool ok = rc == SQLITE_DONE;
        if (!ok) {
            m_failedPosition = row.position;
            m_lastError = QString::fromUtf8(sqlite3_errmsg(m_db));
        }
        sqlite3_reset(m_stmt);
        return ok;
    }
    bool flush() override { return true; }
    int batchRows() const override { return 1; }

private:
    sqlite3* m_db;
    sqlite3_stmt* m_stmt;
    std::vector<BoundType> m_types;
};

// Rows per execution with array binding: a few hundred kilobytes per packet, and a few tens of
// milliseconds of the server's work, so the caller processes events between batches often enough.
constexpr int kMariaBatchRows = 400;

const char kRowsSavepoint[] = "SAVEPOINT sjql_rows";
const char kRowsRollback[] = "ROLLBACK TO SAVEPOINT sjql_rows";
const char kRowsRelease[] = "RELEASE SAVEPOINT sjql_rows";

class MariaInsert final : public BoundInsert
{
public:
    MariaInsert(MYSQL* mysql, MYSQL_STMT* stmt, std::span<const BoundType> types, bool bulk)
        : m_mysql(mysql), m_stmt(stmt), m_types(types.begin(), types.end()), m_batch(bulk ? kMariaBatchRows : 1),
          m_bulk(bulk), m_rows(size_t(m_batch)), m_pointers(m_types.size() * size_t(m_batch)),
          m_lengths(m_types.size() * size_t(m_batch)), m_integers(m_types.size() * size_t(m_batch)),
          m_binds(m_types.size())
    {}
    ~MariaInsert() override
    {
        if (m_savepoint)
            (void)query(kRowsRelease);
        mysql_stmt_close(m_stmt);
    }

    bool add(const BoundRow& row) override
    {
        BoundRow& copy = m_rows[size_t(m_count++)];
        // Copied into the queue's own buffers: the caller reuses its row at once.
        copy.bytes.truncate(0);
        copy.bytes.append(row.bytes.constData(), row.bytes.size());
        copy.values = row.values;
        copy.position = row.position;
        return m_count < m_batch || flush();
    }

    bool flush() override
    {
        const int count = m_count;
        m_count = 0;
        if (count == 0)
            return true;
        const size_t columns = m_types.size();
        for (size_t c = 0; c < columns; ++c) {
            MYSQL_BIND& b = m_binds[c];
            b = MYSQL_BIND();
            const size_t base = c * size_t(m_batch);
            for (int r = 0; r < count; ++r) {
                const BoundRow& row = m_rows[size_t(r)];
                const BoundRow::Value& v = row.values[c];
                m_integers[base + size_t(r)] = v.integer;
                m_pointers[base + size_t(r)] = row.bytes.constData() + v.offset;
                m_lengths[base + size_t(r)] = static_cast<unsigned long>(v.length);
            }
            switch (m_types[c]) {
            case BoundType::Integer:
                b.buffer_type = MYSQL_TYPE_LONGLONG;
                b.buffer = &m_integers[base];
                break;
            case BoundType::Text:
            case BoundType::Decimal:
                b.buffer_type = m_types[c] == BoundType::Text ? MYSQL_TYPE_STRING : MYSQL_TYPE_NEWDECIMAL;
                // With array binding a text column is an array of pointers; without, the text itself.
                b.buffer = m_bulk ? static_cast<void*>(&m_pointers[base]) : const_cast<char*>(m_pointers[base]);
                b.buffer_length = m_lengths[base];
                b.length = &m_lengths[base];
                break;
            }
        }
        // Several rows in one execution: a failure must take all of them back.
        const bool guarded = count > 1;
        bool ok = !guarded || query(kRowsSavepoint);
        m_savepoint = m_savepoint || (guarded && ok);
        if (ok && m_bulk) {
            unsigned int size = static_cast<unsigned int>(count);
            ok = mysql_stmt_attr_set(m_stmt, STMT_ATTR_ARRAY_SIZE, &size) == 0;
        }
        ok = ok && mysql_stmt_bind_param(m_stmt, m_binds.data()) == 0 && mysql_stmt_execute(m_stmt) == 0;
        if (ok)
            return true;
        m_failedPosition = m_rows[0].position;
        if (m_lastError.isEmpty() || mysql_stmt_errno(m_stmt) != 0)
            m_lastError = QString::fromUtf8(mysql_stmt_errno(m_stmt) ? mysql_stmt_error(m_stmt) : mysql_error(m_mysql));
        if (guarded)
            (void)query(kRowsRollback);
        return false;
    }

    int batchRows() const override { return m_batch; }

private:
    bool query(const char* sql)
    {
        if (mysql_real_query(m_mysql, sql, static_cast<unsigned long>(qstrlen(sql))) != 0) {
            m_lastError = QString::fromUtf8(mysql_error(m_mysql));
            return false;
        }
        return true;
    }

    MYSQL* m_mysql;
    MYSQL_STMT* m_stmt;
    std::vector<BoundType> m_types;
    const int m_batch;
    const bool m_bulk;
    std::vector<BoundRow> m_rows; // the queue
    int m_count = 0;
    // Column-wise arrays of the queue: column c's entries start at c * m_batch.
    std::vector<const char*> m_pointers;
    std::vector<unsigned long> m_lengths;
    std::vector<long long> m_integers;
    std::vector<MYSQL_BIND> m_binds;
    bool m_savepoint = false;
};

// Array binding needs a MariaDB server that announces bulk operations.
bool bulkSupported(MYSQL* mysql)
{
    unsigned long capabilities = 0, extended = 0;
    if (mariadb_get_infov(mysql, MARIADB_CONNECTION_SERVER_CAPABILITIES, &capabilities) != 0 ||
        mariadb_get_infov(mysql, MARIADB_CONNECTION_EXTENDED_SERVER_CAPABILITIES, &extended) != 0)
        return false;
    return (capabilities & CLIENT_MYSQL) == 0 && (extended & (MARIADB_CLIENT_STMT_BULK_OPERATIONS >> 32)) != 0;
}

} // namespace

std::unique_ptr<BoundInsert> BoundInsert::create(const QSqlDatabase& db, const QString& sql,
                                                 std::span<const BoundType> types)
{
    const QByteArray utf8 = sql.toUtf8();
    if (sqlite3* raw = SqliteHandleOf(db)) {
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v3(raw, utf8.constData(), int(utf8.size()), SQLITE_PREPARE_PERSISTENT, &stmt, nullptr) !=
                SQLITE_OK ||
            !stmt)
            return nullptr;
        if (sqlite3_bind_parameter_count(stmt) != int(types.size())) {
            sqlite3_finalize(stmt);
            return nullptr;
        }
        return std::make_unique<SqliteInsert>(raw, stmt, types);
    }
    MYSQL* mysql = MysqlHandleOf(db);
    if (!mysql)
        return nullptr;
    MYSQL_STMT* stmt = mysql_stmt_init(mysql);
    if (!stmt)
        return nullptr;
    if (mysql_stmt_prepare(stmt, utf8.constData(), static_cast<unsigned long>(utf8.size())) != 0 ||
        mysql_stmt_param_count(stmt) != types.size()) {
        mysql_stmt_close(stmt);
        return nullptr;
    }
    return std::make_unique<MariaInsert>(mysql, stmt, types, bulkSupported(mysql));
}

} // namespace sjql
