// SPDX-License-Identifier: MIT
// One statement on a MariaDB/MySQL connection through the client library's non-blocking calls, so
// that the calling thread can do other work (process its events) while the server executes it.
//
// A blocking mysql_real_query returns only when the server has answered: a deletion or selection of
// a month of a large agent keeps the GUI thread away from its events for a second or more. Here the
// statement is sent with mysql_real_query_start, and while the library waits for the socket the
// caller's `idle` is called at least every `sliceMs` milliseconds; the rows of a selection are then
// read with mysql_store_result_start/_cont the same way. The outcome is the blocking call's.
//
// Header-only, shared by the module (db/MysqlStatement.h wraps it with its event pump and SQL log)
// and the host's withholding library, which cannot link the module. The handle is the one behind
// Qt's driver (`db.driver()->handle()`): the driver keeps no state of its own between its queries, so
// a statement run here is invisible to it as long as its result is consumed before the next
// QSqlQuery runs (this function always consumes it: rows go to `*rows` or are freed). `idle` must
// not use the connection. Same thread as every other use of the connection.
#pragma once

#include <QByteArray>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QVariant>

#include <chrono>
#include <functional>
#include <mysql.h>
#include <poll.h>

namespace sjql::mysqlnb {

// The client library's handle behind an open MariaDB/MySQL connection of Qt's driver; null for a
// closed connection or another driver. Qt's driver registers the type under the structure's name.
inline MYSQL* HandleOf(const QSqlDatabase& db)
{
    const QSqlDriver* driver = db.driver();
    if (!db.isOpen() || !driver || driver->dbmsType() != QSqlDriver::MySqlServer)
        return nullptr;
    const QVariant handle = driver->handle();
    if (!handle.isValid() ||
        (qstrcmp(handle.typeName(), "MYSQL*") != 0 && qstrcmp(handle.typeName(), "st_mysql*") != 0))
        return nullptr;
    return *static_cast<MYSQL* const*>(handle.constData());
}

// Turns on the non-blocking calls on an open connection (once; later calls find them on). The
// blocking calls keep working as before. False when the library refuses.
inline bool EnableNonBlocking(MYSQL* mysql)
{
    my_bool on = 0;
    if (mysql_get_optionv(mysql, MYSQL_OPT_NONBLOCK, &on) == 0 && on)
        return true;
    return mysql_options(mysql, MYSQL_OPT_NONBLOCK, nullptr) == 0;
}

// Waits until the library's awaited event occurs, calling `idle` first and then every `sliceMs`
// meanwhile; returns the events to hand to the _cont call. `idle` is called at every wait, not only
// when one runs out: while a large result streams in, the socket is ready again almost at once,
// for as long as the result lasts. (`idle` keeps its own pace.)
inline int AwaitEvents(MYSQL* mysql, int status, const std::function<void()>& idle, int sliceMs)
{
    using Clock = std::chrono::steady_clock;
    const bool timed = (status & MYSQL_WAIT_TIMEOUT) != 0;
    const Clock::time_point deadline =
        timed ? Clock::now() + std::chrono::milliseconds(mysql_get_timeout_value_ms(mysql)) : Clock::time_point::max();
    pollfd fd{};
    fd.fd = mysql_get_socket(mysql);
    fd.events = short(((status & MYSQL_WAIT_READ) ? POLLIN : 0) | ((status & MYSQL_WAIT_WRITE) ? POLLOUT : 0) |
                      ((status & MYSQL_WAIT_EXCEPT) ? POLLPRI : 0));
    for (;;) {
        if (idle)
            idle();
        int wait = sliceMs;
        if (timed) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0)
                return MYSQL_WAIT_TIMEOUT;
            wait = int(left < sliceMs ? left : sliceMs);
        }
        fd.revents = 0;
        const int n = ::poll(&fd, 1, wait);
        if (n > 0) {
            int ready = 0;
            if (fd.revents & (POLLIN | POLLHUP | POLLERR))
                ready |= MYSQL_WAIT_READ;
            if (fd.revents & POLLOUT)
                ready |= MYSQL_WAIT_WRITE;
            if (fd.revents & POLLPRI)
                ready |= MYSQL_WAIT_EXCEPT;
            // A hang-up or error is handed on as readable: the library reads and reports it.
            return ready ? ready : (status & (MYSQL_WAIT_READ | MYSQL_WAIT_WRITE | MYSQL_WAIT_EXCEPT));
        }
    }
}

// How the rows of a selection come to the caller.
enum class Rows
{
    Stored,   // all read into the client first (mysql_store_result)
    Streamed, // read by the caller row by row as the server sends them (mysql_use_result): nothing
              // else may run on the connection until the result is freed
};

// Runs `sql` (`length` bytes in the connection's character set). Returns 0 on success, else the
// error number (mysql_errno; mysql_error has the text). For a statement that returns rows, `*rows`
// receives the result as `how` says (the caller frees it with mysql_free_result); when `rows` is
// null they are read and dropped. `*affected` (may be null) receives the rows a statement changed
// (or, stored, returned).
inline unsigned RunStatement(MYSQL* mysql, const char* sql, unsigned long length, const std::function<void()>& idle,
                             MYSQL_RES** rows = nullptr, unsigned long long* affected = nullptr, int sliceMs = 10,
                             Rows how = Rows::Stored)
{
    if (rows)
        *rows = nullptr;
    const bool nonBlocking = EnableNonBlocking(mysql);
    if (!nonBlocking) {
        // The blocking call, with the same outcome, only without the events.
        if (mysql_real_query(mysql, sql, length) != 0)
            return mysql_errno(mysql) ? mysql_errno(mysql) : 1u;
    } else {
        int answer = 0;
        int status = mysql_real_query_start(&answer, mysql, sql, length);
        while (status)
            status = mysql_real_query_cont(&answer, mysql, AwaitEvents(mysql, status, idle, sliceMs));
        if (answer != 0)
            return mysql_errno(mysql) ? mysql_errno(mysql) : 1u;
    }
    if (mysql_field_count(mysql) == 0) {
        if (affected)
            *affected = mysql_affected_rows(mysql);
        return 0;
    }
    MYSQL_RES* result = nullptr;
    if (rows && how == Rows::Streamed) {
        // The columns are known already; no row is read here.
        result = mysql_use_result(mysql);
        if (!result)
            return mysql_errno(mysql) ? mysql_errno(mysql) : 1u;
        *rows = result;
        if (affected)
            *affected = 0;
        return 0;
    }
    if (nonBlocking) {
        int status = mysql_store_result_start(&result, mysql);
        while (status)
            status = mysql_store_result_cont(&result, mysql, AwaitEvents(mysql, status, idle, sliceMs));
    } else {
        result = mysql_store_result(mysql);
    }
    if (!result)
        return mysql_errno(mysql) ? mysql_errno(mysql) : 1u;
    if (affected)
        *affected = mysql_num_rows(result);
    if (rows)
        *rows = result;
    else
        mysql_free_result(result);
    return 0;
}

// The next row of a streamed result (Rows::Streamed) of `mysql`, waited for through the
// non-blocking calls as RunStatement waits; null at the end or on a failure (mysql_errno tells).
// The non-blocking calls must be on (EnableNonBlocking).
inline MYSQL_ROW FetchRow(MYSQL* mysql, MYSQL_RES* result, const std::function<void()>& idle, int sliceMs = 10)
{
    MYSQL_ROW row = nullptr;
    int status = mysql_fetch_row_start(&row, result);
    while (status)
        status = mysql_fetch_row_cont(&row, result, AwaitEvents(mysql, status, idle, sliceMs));
    return row;
}

// While one lives, the optimizer of the connection estimates the rows of an equality range on an
// index from the index's statistics instead of dives into the index (eq_range_index_dive_limit 1);
// the session's own setting is back when it ends. A month's selection or deletion by period and
// agent then keeps to the month index: once the months before it are cleared, the dives overestimate
// a month so far that the optimizer reads the whole table instead (a quarter of a second and more
// per table and month of a large year). A server that does not know the setting, or a failure,
// leaves everything as it was; nothing is logged. Nothing may stream on the connection when one is
// made or ends.
class EqualityRangesFromStatistics
{
public:
    explicit EqualityRangesFromStatistics(MYSQL* mysql) : m_mysql(mysql)
    {
        QByteArray previous;
        if (!m_mysql || !run("select @@session.eq_range_index_dive_limit", &previous))
            return;
        bool number = false;
        previous.toULongLong(&number);
        if (number && run("set session eq_range_index_dive_limit=1"))
            m_previous = previous;
    }
    ~EqualityRangesFromStatistics()
    {
        if (!m_previous.isEmpty())
            (void)run(QByteArrayLiteral("set session eq_range_index_dive_limit=") + m_previous);
    }
    EqualityRangesFromStatistics(const EqualityRangesFromStatistics&) = delete;
    EqualityRangesFromStatistics& operator=(const EqualityRangesFromStatistics&) = delete;

private:
    bool run(const QByteArray& sql, QByteArray* value = nullptr) const
    {
        MYSQL_RES* result = nullptr;
        if (RunStatement(m_mysql, sql.constData(), static_cast<unsigned long>(sql.size()), {},
                         value ? &result : nullptr) != 0)
            return false;
        if (!value)
            return true;
        MYSQL_ROW row = result ? mysql_fetch_row(result) : nullptr;
        const bool found = row && row[0];
        if (found)
            *value = QByteArray(row[0]);
        if (result)
            mysql_free_result(result);
        return found;
    }

    MYSQL* m_mysql;
    QByteArray m_previous; // the session's value, empty when it was not changed
};

} // namespace sjql::mysqlnb
