// SPDX-License-Identifier: MIT
// Statements on the host's connection and its transactions. Values go into statement texts through
// db/SqlLiteral.h.
//
// The connection is the one the host publishes (GetHostConnection); the module borrows it and never
// opens one of its own. GUI thread only: the connection was opened there. Nothing here throws.
#pragma once

#include "context/ModuleContext.h"

#include <QSqlQuery>
#include <QString>

namespace sjql {

// Runs one statement on the host connection with the caller's query object, which is bound to the
// connection again on every call, so one object serves many statements in turn.
// isSelect: the query is left positioned before its first row (next() reads the rows; a select
// without rows gives true and next() false). Otherwise the statement is executed and the query
// finished. On failure: false, the query finished and still usable, and one SQL log entry
// "[eror]SQL:<sql>" CR LF "原因：<reason>". A missing host connection fails (and is logged) too.
[[nodiscard]] bool RunQuery(const QString& sql, QSqlQuery& query, bool isSelect);

// Begins a transaction on the host connection unless one is active (no nesting); connects first
// when the connection was closed. True only when a transaction is active afterwards: a caller that
// goes on without one could not roll its statements back.
[[nodiscard]] bool BeginHostTrans();
// True when an active transaction was committed (rolled back); false, changing nothing, when no
// transaction was active, there is no connection, or the database refused.
bool CommitHostTrans();
bool RollbackHostTrans();

} // namespace sjql
