// SPDX-License-Identifier: MIT
// The fault campaign's accounting of history rows. Every row of the three history tables is turned
// into one canonical text, the same whether it is read from the database (SQLite or MariaDB) or
// decoded from a backup data file: text and integer columns as they are, decimals to the scale the
// schema declares, dates as yyyy-MM-dd, NULL as \N. The auto-increment key is left out, because the
// restore writes rows back without it. Rows are kept as multisets of digests of these texts; the
// ledger compares what was there before a case with what is anywhere afterwards.
#pragma once

#include <QHash>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <vector>

namespace sjql::adtg {
class AdtgRecordset;
}

namespace sjql::fault {

enum class ColumnKind
{
    Key,
    Text,
    Integer,
    Decimal,
    Date
};

struct ColumnDesc
{
    QString name;
    ColumnKind kind = ColumnKind::Text;
    int scale = 0; // decimals, for Decimal
};

struct TableDesc
{
    QString name;
    std::vector<ColumnDesc> columns;
};

// The kind of a column from its declared SQL type ("DECIMAL(16,2)", "varchar", "INT", "date").
ColumnDesc describeColumn(const QString& name, const QString& declaredType, int scale, bool primaryKey);

// The history tables' columns as the database declares them. False with *error on failure.
bool describeHistoryTables(const QSqlDatabase& db, bool sqlite, std::vector<TableDesc>* out, QString* error);

// Canonical texts of single values. A decimal is written with exactly `scale` decimals.
QString canonicalDecimal(const QVariant& v, int scale);
QString canonicalValue(const QVariant& v, const ColumnDesc& c);

// One row's identity: two independent 64-bit hashes of its canonical text.
struct RowKey
{
    quint64 a = 0, b = 0;
    friend bool operator==(const RowKey&, const RowKey&) = default;
};
inline size_t qHash(const RowKey& k, size_t seed = 0) noexcept
{
    return size_t(k.a ^ (k.b * 0x9E3779B97F4A7C15ULL)) ^ seed;
}
RowKey rowKey(const QString& text);

// Where a row belongs and a short text to name it in a report.
struct RowInfo
{
    QString table, agent, period, label;
    QString describe() const
    {
        return table + QLatin1Char(' ') + agent + QLatin1Char(' ') + period + QLatin1Char(' ') + label;
    }
};

// A multiset of rows with the description of each distinct row.
class RowBag
{
public:
    void add(const RowKey& k, const RowInfo& info, int n = 1);
    int count(const RowKey& k) const { return m_counts.value(k).n; }
    qint64 total() const { return m_total; }
    const RowInfo* info(const RowKey& k) const;
    // Distinct rows.
    template <class F> void forEach(F f) const
    {
        for (auto it = m_counts.cbegin(); it != m_counts.cend(); ++it)
            f(it.key(), it.value().n, it.value().info);
    }
    // Rows of one agent and period.
    qint64 countOf(const QString& agent, const QString& period) const;

private:
    struct Entry
    {
        int n = 0;
        RowInfo info;
    };
    QHash<RowKey, Entry> m_counts;
    qint64 m_total = 0;
};

// Text of the current row of an open data file; false with *error when a column is missing.
bool fileRowText(const adtg::AdtgRecordset& rs, const TableDesc& t, QString* text, RowInfo* info, QString* error);

// Every row of the three tables in the database (all agents).
bool readDatabaseRows(const QSqlDatabase& db, const std::vector<TableDesc>& tables, RowBag* out, QString* error);

// Every row of a data file's bytes. False with *error when it cannot be decoded whole.
bool readDataFileRows(const QByteArray& bytes, const QString& name, const TableDesc& t, RowBag* out, QString* error,
                      const QString& expectAgent = {}, const QString& expectPeriod = {}, RowBag* misfiled = nullptr);

// Where the rows are after a case.
struct RowSources
{
    const RowBag* before = nullptr;   // every row before the case (plus rows a writer added meanwhile)
    const RowBag* database = nullptr; // rows in the database now
    const RowBag* archived = nullptr; // rows in complete archives the module wrote (agreeing with their summary)
    const RowBag* inputs = nullptr;   // rows in the archives a restore was given (agreeing rows only)
    const RowBag* leftover = nullptr; // rows in work-folder data files
    const RowBag* misfiled = nullptr; // rows of module archives under another agent or month than their record
};

struct Tally
{
    qint64 lost = 0, duplicated = 0, misfiled = 0;
    QStringList evidence; // a few rows of each kind, named
    void addEvidence(const QString& what, const RowInfo* info, int n);
};

// Every row that was there before must be found: in the database, in an archive the module wrote,
// in a restore's input archive, or (only to fill a gap) in the work folder's leftovers; otherwise it
// is lost. A row in the database and in an archive the module wrote counts twice (the archive says
// it is out of the database), as does a row the database holds more often than before. A row that
// was not there before, in the database or in an archive, counts with the misfiled ones.
Tally account(const RowSources& s);

} // namespace sjql::fault
