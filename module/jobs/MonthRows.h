// SPDX-License-Identifier: MIT
// The rows of one month of one history table reduced to digests, one per row, that are equal exactly
// when the rows hold the same values, whether the row was read from the database or decoded from a
// backup data file; and the check that the restore can write a row back to the same values.
//
// The backup compares the digests of the rows it selected with those of the data file read back
// before it lets the host clear a month, and judges files left in the work folder by the identity
// of their rows. GUI thread for the database side (the host connection); the file side may run on
// any thread. Nothing here throws or shows a dialog.
#pragma once

#include "support/SelectedRows.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>

#include <compare>
#include <functional>
#include <memory>
#include <vector>

namespace sjql {

struct RowDigest
{
    quint64 high = 0;
    quint64 low = 0;
    friend auto operator<=>(const RowDigest&, const RowDigest&) = default;
};

struct MonthRowsScan
{
    bool ok = false; // false: `error` says why the rows could not be read (statement, file)
    QString error;
    std::vector<RowDigest> digests; // one per row, in row order
    // Empty when every row is fine. Otherwise the first row that the restore could not write back
    // to the same values, or (for a data file) that carries another agent or month, named by table,
    // row key, column and reason, e.g.
    // "ZCGZXJMXB GH=0012 ZZHM=…：列XM的文本含有NUL字符，恢复时无法原样写回". NULL is no problem:
    // the restore writes the documented defaults for it ('', 0, 1899-12-30).
    QString problem;
};

// Digests the rows of an executed selection of table kind `index` (0..2, BackupDataFileKinds)
// from its first row to its end, and checks that each row can be written back by the restore's row
// builders to the same values: no NUL in a text, integers within 32 bits, amounts with no more
// decimals than the statement writes and within what it can carry, dates without a time of day,
// and every value one the data file's column can hold. Columns the builders do not write (the key)
// are only checked for the last. Column types come from the table's declared schema, as the
// data-file writer takes them. The query is left after its last row and can be saved from as it
// is. `pump` (may be empty) is called every few hundred rows. About 1 to 1.5 µs a row.
[[nodiscard]] MonthRowsScan DigestSelectedRows(QSqlQuery& query, int index, const std::function<void()>& pump = {});

// The same for a selection read in place (on the connection `db`), from its first row to its end.
[[nodiscard]] MonthRowsScan DigestSelectedRows(adtg::SelectedRows& rows, const QSqlDatabase& db, int index,
                                               const std::function<void()>& pump = {});

// DigestSelectedRows row by row, for a caller that walks the selection once for the digests and the
// data file together.
class SelectionDigest
{
public:
    SelectionDigest();
    ~SelectionDigest();
    SelectionDigest(const SelectionDigest&) = delete;
    SelectionDigest& operator=(const SelectionDigest&) = delete;

    // Plans the columns of `rows` from the table's declared schema in `db`; false when it cannot
    // be read (finish() then gives the scan with its error).
    [[nodiscard]] bool start(const adtg::SelectedRows& rows, const QSqlDatabase& db, int index);
    // Digests and checks the current row of `rows`.
    void add(const adtg::SelectedRows& rows);
    // After the last row (or a failed start); not ok when `rows` reports a failed read.
    [[nodiscard]] MonthRowsScan finish(const adtg::SelectedRows& rows);

    struct Rows; // the digests and checks, kept by the implementation

private:
    std::unique_ptr<Rows> m_rows;
};

// Runs the month's selection of table kind `index` (BackupSelectStatement) through RunQuery and
// digests it as above.
[[nodiscard]] MonthRowsScan ScanDatabaseMonth(int index, const QString& period, const QString& agentCode,
                                              const std::function<void()>& pump = {});

// What ScanDataFile checks besides reading the rows.
enum class DataFileCheck
{
    Identity,   // every row's KJYWRBM and FFYF
    Restorable, // that, and every value the restore's builder writes can be written back as it is
};

// Reads a backup data file of table kind `index` and digests its rows; `problem` names the first
// row whose KJYWRBM is not `agentCode` or whose FFYF is not `period` (and, with
// DataFileCheck::Restorable, the first value the restore could not write back unchanged, or a
// column its builder needs that the file lacks).
[[nodiscard]] MonthRowsScan ScanDataFile(const QString& path, int index, const QString& period,
                                         const QString& agentCode, DataFileCheck check = DataFileCheck::Identity);

// True when every digest of `part` is in `whole`, as often as it occurs in `part` (multisets).
[[nodiscard]] bool DigestsContained(std::vector<RowDigest> part, std::vector<RowDigest> whole);

} // namespace sjql
