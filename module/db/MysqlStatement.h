// SPDX-License-Identifier: MIT
// Long statements on a MariaDB host connection while the GUI thread keeps processing events.
//
// Qt's driver runs a statement with the client library's blocking call: a month's selection or
// deletion on a large agent keeps the GUI thread from its events for up to a second. These run the
// statement through the library's non-blocking calls (hostapi/MysqlNonBlocking.h) on the handle
// behind the driver, and process events meanwhile (by default an EventPump of the policy
// EventPolicy::ConnectionBusy: no user input, at most every 25 ms), with the blocking call's
// outcome. The result is always consumed here, so the next QSqlQuery finds the connection idle.
//
// GUI thread only, on the thread that opened the connection. For another driver MysqlHandleOf gives
// null and RunMysqlStatement fails with a reason saying so: callers check the kind first.
#pragma once

#include "support/EventPump.h"

#include <QSqlDatabase>
#include <QString>

#include <functional>
#include <memory>

struct st_mysql;
struct st_mysql_res;

namespace sjql {

struct MysqlResultDeleter
{
    void operator()(st_mysql_res* result) const;
};
// The stored rows of a selection; mysql_fetch_row and friends read them without the server.
using MysqlResultPtr = std::unique_ptr<st_mysql_res, MysqlResultDeleter>;

// The client library's handle of an open MariaDB/MySQL connection; null for a closed connection or
// another driver.
st_mysql* MysqlHandleOf(const QSqlDatabase& db);

// Runs one statement (`sql`, sent as UTF-8) on `db`. A statement returning rows puts them into
// `*rows` (when null, they are read and dropped); `*affected` (may be null) gets the rows changed
// (or returned). `pump` is called while the server works (empty: a ConnectionBusy EventPump). False
// with `*reason` as Qt's driver words it ("<server's text> QMYSQL: Unable to execute query").
// With `streamed`, `*rows` is a result whose rows the caller reads as the server sends them
// (mysql_fetch_row blocks until the next one is there); nothing else may run on the connection
// until it is freed.
[[nodiscard]] bool RunMysqlStatement(const QSqlDatabase& db, const QString& sql, MysqlResultPtr* rows, QString* reason,
                                     quint64* affected = nullptr, const std::function<void()>& pump = {},
                                     bool streamed = false);

// RunMysqlStatement on the host connection, a failure logged in the SQL log as RunQuery logs it.
[[nodiscard]] bool RunHostMysqlStatement(const QString& sql, MysqlResultPtr* rows, quint64* affected = nullptr,
                                         const std::function<void()>& pump = {}, bool streamed = false);

} // namespace sjql
