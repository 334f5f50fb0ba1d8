// SPDX-License-Identifier: MIT
// INSERT statements that put one row of a backup data file back into its history table.
//
// Each builder reads the columns of its table from the current row of a loaded data file by name
// (without regard to case) and writes every value as a literal into a fixed statement text:
// texts between single quotes, integers in decimal, amounts right-aligned in a fixed width with a
// fixed number of decimals ("%16.2f", "%10.4f"), dates as the database kind's date literal. NULL
// reads as empty text, 0, or the day zero of the date scale (1899-12-30).
//
// Texts and dates are written by the module's one literal helper (db/SqlLiteral.h): a single quote
// is doubled, and on MySQL (which reads a backslash as an escape) a backslash is doubled as well,
// so names such as O'Brien come back as they were instead of breaking the statement.
//
// Access, SQL Server, MSDE, SQLite and MySQL share one template per table with the kind's date
// literal; MySQL, which compares table names case-sensitively on most systems, gets the non-wage
// table's name in the case the schema creates it (FGZXJB; the other kinds keep "fgzxjb").
// On Oracle the table's key column comes first and takes the next value of a sequence named
// SEQ_<table> (SEQ_ZCGZXJMXB.NEXTVAL, SEQ_FGZXJB.NEXTVAL, SEQ_KJSDSBGB.NEXTVAL), which an Oracle
// installation keeps for these tables.
//
// Pure functions: no database access, any thread.
#pragma once

#include "context/DbKind.h"
#include "db/BoundInsert.h"

#include <QString>

#include <vector>

namespace sjql {

namespace adtg {
class AdtgRecordset;
}

// Each builder fills `sql` with the statement for the current row of `rows`. False when the row
// cannot be built: the data file lacks one of the table's columns, or `rows` is at its end. Then
// `sql` is left empty and *error names the table and the missing column (the caller adds the
// file). Values never fail.
[[nodiscard]] bool BuildWageInsert(const adtg::AdtgRecordset& rows, TDBKind kind, QString& sql,
                                   QString* error = nullptr);
[[nodiscard]] bool BuildNonWageInsert(const adtg::AdtgRecordset& rows, TDBKind kind, QString& sql,
                                      QString* error = nullptr);
[[nodiscard]] bool BuildReportInsert(const adtg::AdtgRecordset& rows, TDBKind kind, QString& sql,
                                     QString* error = nullptr);

// The same rows for a prepared statement (db/BoundInsert.h): the values each builder above writes
// into its statement, as the database receives them from that statement: texts as UTF-8, integers,
// amounts as the digits of their literal without the padding, dates as the text between the date
// literal's quotes. A text holding a NUL character marks the row literalOnly: no literal can carry
// it, and only the literal statement can tell what becomes of such a row. Failures as above.
[[nodiscard]] bool BuildWageRow(const adtg::AdtgRecordset& rows, TDBKind kind, BoundRow& row, QString* error = nullptr);
[[nodiscard]] bool BuildNonWageRow(const adtg::AdtgRecordset& rows, TDBKind kind, BoundRow& row,
                                   QString* error = nullptr);
[[nodiscard]] bool BuildReportRow(const adtg::AdtgRecordset& rows, TDBKind kind, BoundRow& row,
                                  QString* error = nullptr);

// The prepared statement of table kind `index` (0 ZCGZXJMXB, 1 FGZXJB, 2 KJSDSBGB): the literal
// statement's text up to its values, then one placeholder per column; on SQLite an amount's
// placeholder is CAST(? AS REAL), which reads the digits exactly as the literal is read. Empty for
// kinds other than SQLite and MySQL, and for another index. The types of its placeholders follow.
[[nodiscard]] QString BoundInsertText(int index, TDBKind kind);
[[nodiscard]] std::vector<BoundType> BoundInsertTypes(int index);

// How a builder reads a column of the data file and writes it into its statement.
enum class RestoreReading
{
    Text,    // between single quotes; NULL as ''
    Integer, // decimal integer; NULL as 0
    Amount,  // fixed-point with `decimals` places; NULL as 0
    Date,    // the date only, as the kind's date literal; NULL as 1899-12-30
};

struct RestoreColumn
{
    const char* name;
    RestoreReading reading;
    int decimals; // amounts: the places the statement writes (2 or 4); 0 otherwise
};

// The columns the builder of table kind `index` (0 ZCGZXJMXB, 1 FGZXJB, 2 KJSDSBGB) writes, in
// statement order; the same for every database kind. Empty for another index.
[[nodiscard]] std::vector<RestoreColumn> RestoredColumns(int index);

} // namespace sjql
