// SPDX-License-Identifier: MIT
// The rows of a MariaDB/MySQL result read as the server sent them.
//
// A select run without prepare comes back in the text protocol, and Qt's driver, asked for a
// value, converts the text of every DECIMAL to a double, every DATETIME to a local QDateTime and so
// on; writing a month of tens of thousands of rows spent most of its time there, only for the
// data-file writer to turn the double back into decimal digits. This reader walks the same result
// the driver holds (all rows on the client) and hands out the server's text: NULL as an invalid
// QVariant, everything else as a QString, which the writer parses exactly for its column's type.
//
// Only results of plain column types are taken (numbers, dates and times, character texts); for
// binary or unusual columns, prepared or forward-only queries and every other database, attach()
// gives null and the caller reads through the driver as before. The query must stay open and
// unchanged while the reader is used; the reader moves the result's own row cursor, which the
// driver sets again before each of its reads.
//
// adopt() takes a result of the client library that no query holds (a statement run through the
// non-blocking calls, db/MysqlStatement.h), stored or streamed, and frees it with the reader. The
// rows of a streamed one are read once, as the server sends them, through the non-blocking calls
// with events other than user input processed while they are awaited.
#pragma once

#include "support/SelectedRows.h"

#include <QByteArrayView>
#include <QSqlQuery>
#include <QVariant>

#include <memory>

struct st_mysql_res;
struct st_mysql;

namespace sjql::adtg {

class MysqlTextRows final : public SelectedRows
{
public:
    static std::unique_ptr<MysqlTextRows> attach(const QSqlQuery& query);
    // Takes ownership of `result` in every case; null (the result freed) when it is not a result
    // of plain columns. A streamed result (mysql_use_result on `streamedFrom`) is read once, row
    // by row as the server sends them: first() after the walk began fails, and a read that fails
    // half-way (the connection lost) is told by errorString().
    static std::unique_ptr<MysqlTextRows> adopt(st_mysql_res* result, st_mysql* streamedFrom = nullptr);
    ~MysqlTextRows() override;
    MysqlTextRows(const MysqlTextRows&) = delete;
    MysqlTextRows& operator=(const MysqlTextRows&) = delete;

    int columnCount() const override { return m_columns; }
    QString columnName(int column) const override;
    // Moves to the first (next) row; false after the last one.
    bool first() override;
    bool next() override;
    // The server's text as a view (Kind::Utf8), or Kind::Null.
    ValueView value(int column) const override;
    bool isNull(int column) const;
    // The value of the current row: invalid for NULL, else the text as a QString.
    QVariant variant(int column) const;
    // The same text as the server's UTF-8 bytes, without a copy; valid until the row moves.
    QByteArrayView bytes(int column) const;
    QString errorString() const override;

private:
    struct Result;
    explicit MysqlTextRows(std::unique_ptr<Result> result);

    std::unique_ptr<Result> m_result;
    int m_columns = 0;
};

} // namespace sjql::adtg
