// SPDX-License-Identifier: MIT
// A selection run on SQLite's own handle under the host connection and read in place
// (support/SelectedRows.h): each value comes from SQLite's row buffer, as the driver would have
// converted it (integer, double, UTF-16 text, bytes), without a QVariant or a cached copy of the
// month's rows. first() reads the selection again from its start.
//
// GUI thread only, on the thread that opened the connection. The statement is finalized with the
// object; keep it no longer than the work it serves (a statement still open holds a read on the
// database).
#pragma once

#include "support/SelectedRows.h"

#include <QString>

#include <memory>

struct sqlite3;
struct sqlite3_stmt;

namespace sjql {

class SqliteRows final : public adtg::SelectedRows
{
public:
    // Prepares `sql` (one statement) on `handle` and reads its first row. Null with `*reason`
    // worded as Qt's driver words it when the statement cannot be prepared or its first row read.
    static std::unique_ptr<SqliteRows> select(sqlite3* handle, const QString& sql, QString* reason);
    ~SqliteRows() override;
    SqliteRows(const SqliteRows&) = delete;
    SqliteRows& operator=(const SqliteRows&) = delete;

    int columnCount() const override { return m_columns; }
    QString columnName(int column) const override;
    bool first() override;
    bool next() override;
    adtg::ValueView value(int column) const override;
    QString errorString() const override { return m_error; }

private:
    SqliteRows(sqlite3* handle, sqlite3_stmt* statement);
    // One step; false at the end or on failure (m_error set).
    bool step();

    sqlite3* m_handle = nullptr;
    sqlite3_stmt* m_statement = nullptr;
    int m_columns = 0;
    bool m_onRow = false;
    bool m_unmoved = true; // still on the row the selection started with
    QString m_error;
};

// Runs a selection on the host connection when it is SQLite, timed as a selection. Null with
// `*ran` false when the host connection is not an open SQLite one (the caller goes through the
// driver); null with `*ran` true when the statement failed, logged in the SQL log as RunQuery logs it.
[[nodiscard]] std::unique_ptr<SqliteRows> RunHostSqliteSelection(const QString& sql, bool* ran);

} // namespace sjql
