// SPDX-License-Identifier: MIT
// The SQLite connection under a Qt database connection.
#pragma once

#include <QSqlDatabase>

struct sqlite3;

namespace sjql {

// The sqlite3 handle of an open SQLite connection; null for a closed connection or another driver.
sqlite3* SqliteHandleOf(const QSqlDatabase& db);

} // namespace sjql
