// SPDX-License-Identifier: MIT
// Values written into statement texts, per database kind: the one place where a text or a date
// becomes an SQL literal. Every statement the module builds from a value (agent codes, periods,
// years, the restored rows) goes through these, so a value with a quote or a backslash stays a
// value and never becomes part of the statement.
//
// Texts: a single quote is doubled; on MySQL, which reads a backslash as an escape inside a
// literal, a backslash is doubled as well. Dates: Access #YYYY-MM-DD#, Oracle
// TO_DATE('YYYY-MM-DD', 'YYYY-MM-DD'), every other kind 'YYYY-MM-DD'; the time of day is ignored.
//
// Pure functions (except the overloads that ask the host connection's kind): any thread.
#pragma once

#include "context/DbKind.h"

#include <QDate>
#include <QString>

namespace sjql {

// The text as it stands between the single quotes of a literal for the database kind.
[[nodiscard]] QString SqlTextLiteralBody(const QString& text, TDBKind kind);
// The same, appended to `out`; a text that needs no escaping is appended as it is.
void AppendSqlTextLiteralBody(QString& out, const QString& text, TDBKind kind);

// The whole literal, quotes included: 'O''Brien'.
[[nodiscard]] QString SqlTextLiteral(const QString& text, TDBKind kind);
// The same for the kind of the host connection (GetDBKind).
[[nodiscard]] QString SqlTextLiteral(const QString& text);

// The date as an SQL literal for a database kind, time of day ignored.
[[nodiscard]] QString DateToSqlLiteral(const QDate& date, TDBKind kind);
// The same for the kind of the host connection (GetDBKind).
[[nodiscard]] QString DateToSqlLiteral(const QDate& date);
// The same, appended to `out` without building a string of its own (the restore writes a million
// of them).
void AppendDateLiteral(QString& out, const QDate& date, TDBKind kind);

// A name between double quotes, a double quote inside doubled ("my ""table"""), as SQLite and the
// standard write a quoted identifier.
[[nodiscard]] QString SqlQuotedIdentifier(const QString& name);

} // namespace sjql
