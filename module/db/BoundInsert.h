// SPDX-License-Identifier: MIT
// A prepared INSERT that takes its rows as bound values, for the restore's re-insertion of history
// rows: the statement is parsed once per data file instead of once per row.
//
// SQLite: one sqlite3_stmt on the connection's own handle, bound, stepped and reset per row.
// MariaDB: a server-side prepared statement on the connection's MYSQL handle; rows are queued and
// sent in batches through array binding where the server offers it (the server still executes the
// INSERT once per row), one by one otherwise. Each batch runs under a savepoint, so a batch that
// fails leaves none of its rows behind.
//
// The values go to the database as they are: a text is a text, an integer an integer, and a
// decimal is the digits of the literal the caller would have written (SQLite reads them into a
// REAL the way it reads such a literal, through CAST(? AS REAL) in the caller's statement; MariaDB
// takes them as an exact decimal). So a row stores exactly what its literal INSERT would store.
//
// Failures are not logged here: the caller runs the literal statement of the rows concerned,
// which fails (or not) and is logged the way every statement is. GUI thread only, on the thread
// that opened the connection; the connection must outlive the object. Nothing throws.
#pragma once

#include <QByteArray>
#include <QSqlDatabase>
#include <QString>

#include <memory>
#include <span>
#include <vector>

namespace sjql {

// How a placeholder's value is sent.
enum class BoundType
{
    Text,    // UTF-8 text
    Integer, // 64-bit integer
    Decimal, // plain decimal digits ("-1234.50"), read exactly as a literal of those digits
};

// One row of values, in placeholder order. Texts and decimals are byte ranges of `bytes`.
struct BoundRow
{
    struct Value
    {
        qint64 integer = 0; // Integer
        qint32 offset = 0;  // Text, Decimal: the range in bytes
        qint32 length = 0;
    };
    QByteArray bytes;
    std::vector<Value> values;
    int position = -1;        // the caller's number for the row (its place in the data file)
    bool literalOnly = false; // the caller must not bind this row (see the restore's builders)

    // Empties the row, keeping the memory for the next one.
    void clear()
    {
        bytes.truncate(0);
        values.clear();
        position = -1;
        literalOnly = false;
    }
    void addInteger(qint64 value) { values.push_back({value, 0, 0}); }
    void addBytes(const char* data, qsizetype size)
    {
        values.push_back({0, qint32(bytes.size()), qint32(size)});
        bytes.append(data, size);
    }
    QByteArrayView bytesOf(size_t index) const
    {
        const Value& v = values[index];
        return QByteArrayView(bytes.constData() + v.offset, v.length);
    }
};

class BoundInsert
{
public:
    virtual ~BoundInsert() = default;

    // Prepares `sql` (placeholders "?", one per entry of `types`) on `db`. Null when the connection
    // is neither SQLite nor MariaDB, when its handle cannot be reached, or when the database refuses
    // the statement: the caller then stays with literal statements.
    static std::unique_ptr<BoundInsert> create(const QSqlDatabase& db, const QString& sql,
                                               std::span<const BoundType> types);

    // Queues a row (copied); runs the queue when it is full. False when a run failed: then none of
    // the rows queued since the last successful run is in the database, and the first of them is
    // failedPosition(). The queue is empty afterwards either way.
    [[nodiscard]] virtual bool add(const BoundRow& row) = 0;
    // Runs what is queued; the same outcome as add().
    [[nodiscard]] virtual bool flush() = 0;
    // The position of the first row of the failed run.
    int failedPosition() const { return m_failedPosition; }
    // The database's reason for the last failure, for tests and diagnostics.
    QString lastError() const { return m_lastError; }

    // Rows sent per run (1 where rows go one by one).
    virtual int batchRows() const = 0;

protected:
    int m_failedPosition = -1;
    QString m_lastError;
};

} // namespace sjql
