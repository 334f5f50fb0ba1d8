// SPDX-License-Identifier: MIT
// Writing persisted recordsets in the ADTG format, in the layout ADO itself writes for a
// recordset of appended fields whose rows are all unchanged, so that ADO on Windows opens the file
// as if it had saved it (header, handler options, result descriptor, recordset context, one
// column descriptor per column, one unchanged row per record, end token).
//
// AdtgWriter encodes rows as they are added and keeps them in memory until the file is saved: the
// row count precedes the rows in the file. One file's rows at a time; not thread-safe.
// A value the column cannot hold (text longer than the maximum length, a number out of range, a
// date that does not parse) fails addRow() with a message naming the column, row and value;
// nothing is written then.
#pragma once

#include "support/AdtgTypes.h"
#include "support/SelectedRows.h"

#include <QByteArray>
#include <QString>
#include <QVariant>
#include <QVariantList>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class QSqlDatabase;
class QSqlQuery;

namespace sjql::adtg {

class AdtgWriter
{
public:
    // Columns as AdtgColumn::fromAdoType() builds them. Names must be unique without regard to
    // case, as ADO finds fields that way; otherwise isValid() is false and errorString() says why.
    explicit AdtgWriter(std::vector<AdtgColumn> columns);

    bool isValid() const { return m_error.isEmpty(); }
    QString errorString() const { return m_error; }
    // Code page for ANSI text columns (wire type 0x81). Default "GBK".
    void setAnsiCodePage(const QByteArray& name) { m_ansiCodePage = name; }

    // Appends one unchanged row; values in column order, an invalid (null) QVariant is NULL.
    // Numbers may come as numbers or as plain decimal text, dates as QDateTime, QDate or
    // ISO-style text, binary as QByteArray.
    [[nodiscard]] bool addRow(const QVariantList& values);
    // The same for the current row of `rows`, read in place; the same bytes as addRow() with the
    // driver's values of that row.
    [[nodiscard]] bool addRow(const SelectedRows& rows);
    int rowCount() const { return m_rowCount; }

    // The complete file.
    QByteArray toBytes() const;
    // Writes the file under a temporary name in the target folder and renames it over `path`,
    // replacing an existing file. False with errorString() set; the old file is then untouched.
    // With a pump, the file is synced to the disk on a helper thread while `pump` processes
    // events every 20 ms (a month's file is tens of megabytes).
    [[nodiscard]] bool save(const QString& path, const std::function<void()>& pump = {});

private:
    // Everything before the rows: header, result descriptor, column descriptors.
    QByteArray headerBytes() const;
    template <typename ValueAt> bool addRowOf(qsizetype count, ValueAt valueAt);
    bool encodeValue(const AdtgColumn& column, const QVariant& value, QByteArray* out);
    bool encodeValue(const AdtgColumn& column, const ValueView& value, QByteArray* out);
    bool valueError(const AdtgColumn& column, const QVariant& value, const QString& why);

    std::vector<AdtgColumn> m_columns;
    QByteArray m_ansiCodePage = QByteArrayLiteral("GBK");
    QByteArray m_rows;
    int m_rowCount = 0;
    QString m_error;
    std::u16string m_wide; // UTF-8 texts decoded for writing
};

// A column of a database table as its schema declares it.
struct TableColumnInfo
{
    QString name;
    QString declaredType; // "VARCHAR(40)", "decimal(16,2)", "int(11) unsigned", "DATETIME", ...
    bool nullable = true;
};

// Reads the declared columns of `table`: PRAGMA table_info on SQLite, information_schema.COLUMNS
// on MariaDB/MySQL. False with *error set when the schema cannot be read or the table is unknown.
[[nodiscard]] bool lookupTableColumns(const QSqlDatabase& db, const QString& table,
                                      std::vector<TableColumnInfo>* columns, QString* error);

// While one lives on a thread, lookupTableColumns on that thread asks the database once per
// connection and table and answers again from what it read: a selection whose rows stream in
// leaves the connection to nobody else, so its table's schema must be read before it runs. Scoped
// to one piece of work (a month's files), so a schema changed between runs is read anew.
class TableColumnsCache
{
public:
    TableColumnsCache();
    ~TableColumnsCache();
    TableColumnsCache(const TableColumnsCache&) = delete;
    TableColumnsCache& operator=(const TableColumnsCache&) = delete;

    struct Entries;

private:
    std::unique_ptr<Entries> m_entries;
};

// The ADTG column for a declared SQL type: integers, floating point, DECIMAL/NUMERIC(p,s) as
// adNumeric, text as adVarWChar (adLongVarWChar without a length), dates as adDate, binary,
// booleans. An empty or unknown declared type gives wireType 0 (decided later from the values).
AdtgColumn columnForDeclaredType(const QString& name, const QString& declaredType, bool nullable);

// Saves every row of the open result of `query` (every column in result order, NULLs kept) as an
// ADTG file at `path`, replacing an existing file only when the new one is complete. Column types
// come from the declared schema of `baseTable` in `db`; text columns are widened to their longest
// value and columns holding a NULL are made nullable, so no value is ever cut or lost. The query
// is read from its first row to its end. False with *error naming the table, column and value.
// `pump`, when set, is called every few hundred rows of each pass over the result, so that a
// caller on the GUI thread can process pending events while a large month is written.
[[nodiscard]] bool SaveRecordsetAdtg(QSqlQuery& query, const QSqlDatabase& db, const QString& baseTable,
                                     const QString& path, QString* error, const std::function<void()>& pump = {});

// The same for a selection read in place, from its first row to its end; the same bytes.
[[nodiscard]] bool SaveRecordsetAdtg(SelectedRows& rows, const QSqlDatabase& db, const QString& baseTable,
                                     const QString& path, QString* error, const std::function<void()>& pump = {});

struct ColumnFacts;

// SaveRecordsetAdtg over a selection that the caller walks, so that one pass over the rows serves
// the file and other readers (the backup's row digests). Each row is encoded as it comes, for the
// columns the schema declares; only when the values ask for other columns (a NULL where the schema
// has none, a text longer than declared) does save() read the rows once more. Holds the encoded
// rows until save(). Errors name the file and table as SaveRecordsetAdtg's do.
class RecordsetFromRows
{
public:
    RecordsetFromRows();
    ~RecordsetFromRows();
    RecordsetFromRows(const RecordsetFromRows&) = delete;
    RecordsetFromRows& operator=(const RecordsetFromRows&) = delete;

    // Types the columns of `rows` from the declared schema of `baseTable`. False with *error.
    [[nodiscard]] bool start(const SelectedRows& rows, const QSqlDatabase& db, const QString& baseTable,
                             const QString& path, QString* error);
    // Takes the current row of `rows`.
    void add(const SelectedRows& rows);
    // After the last row: writes the file (as AdtgWriter::save, with `pump`). False with *error,
    // also when `rows` reports a failed read.
    [[nodiscard]] bool save(SelectedRows& rows, QString* error, const std::function<void()>& pump = {});
    // After the last row: the file's complete writer, to be saved at the path given to start()
    // (from any thread; `rows` is needed no more). Null with *error as save() fails.
    [[nodiscard]] std::unique_ptr<AdtgWriter> finish(SelectedRows& rows, QString* error,
                                                     const std::function<void()>& pump = {});

private:
    bool fail(const QString& message, QString* error) const;

    QString m_path;
    QString m_table;
    std::vector<AdtgColumn> m_declared;
    std::vector<AdtgColumn> m_provisional;
    std::unique_ptr<ColumnFacts> m_facts;
    std::unique_ptr<AdtgWriter> m_writer;
    QString m_encodeError;
    std::u16string m_scratch;
};

// How a data file's failure is told: "data file <path>: table <table>: <message>".
QString DataFileError(const QString& path, const QString& table, const QString& message);

} // namespace sjql::adtg
