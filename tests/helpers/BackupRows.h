// SPDX-License-Identifier: MIT
// Rows of the history tables compared with the rows of backup data files: both sides are turned
// into canonical texts by the column kinds the file gives, and compared as sorted lists, so a row
// lost, duplicated or changed on the way shows up.
#pragma once

#include "support/AdtgReader.h"

#include <QDate>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStringList>
#include <QVariant>

#include <gtest/gtest.h>

#include <map>
#include <ostream>
#include <vector>

// Readable failure output for texts.
inline void PrintTo(const QString& text, std::ostream* os)
{
    *os << '"' << text.toStdString() << '"';
}

namespace sjql::test {

inline const char* const kHistoryTables[] = {"ZCGZXJMXB", "FGZXJB", "KJSDSBGB"};

inline QString periodOf(int year, int month)
{
    return QStringLiteral("%1%2").arg(year).arg(month, 2, 10, QLatin1Char('0'));
}

// One value as a comparable text, by the column kind the data file gives it.
inline QString canonical(const QVariant& v, int type)
{
    if (v.isNull())
        return QStringLiteral("<null>");
    switch (type) {
    case adtg::adVarWChar:
    case adtg::adLongVarWChar:
        return v.toString();
    case adtg::adNumeric:
        return QString::number(qRound64(v.toDouble() * 10000));
    case adtg::adDate:
        return (v.typeId() == QMetaType::QString ? QDate::fromString(v.toString().left(10), Qt::ISODate) : v.toDate())
            .toString(Qt::ISODate);
    default:
        return QString::number(v.toLongLong());
    }
}

inline QString canonical(const adtg::AdtgField& f)
{
    if (f.isNull())
        return QStringLiteral("<null>");
    switch (f.column().adoType()) {
    case adtg::adVarWChar:
    case adtg::adLongVarWChar:
        return f.toText();
    case adtg::adNumeric:
        return QString::number(f.toCurrency());
    case adtg::adDate:
        return f.toDateTime().date().toString(Qt::ISODate);
    default:
        return QString::number(f.toInteger());
    }
}

// A month's rows of one table as the database held them: raw values by column name.
struct TableRows
{
    QStringList columns;
    std::vector<QVariantList> rows;
};

inline TableRows snapshotRows(const QSqlDatabase& db, const QString& table, const QString& period, const QString& agent)
{
    TableRows t;
    QSqlQuery q(db);
    EXPECT_TRUE(q.exec(QStringLiteral("select * from %1 where FFYF='%2' and KJYWRBM='%3' ").arg(table, period, agent)));
    const QSqlRecord rec = q.record();
    for (int i = 0; i < rec.count(); ++i)
        t.columns << rec.fieldName(i);
    while (q.next()) {
        QVariantList row;
        for (int i = 0; i < rec.count(); ++i)
            row << q.value(i);
        t.rows.push_back(row);
    }
    return t;
}

// Every month of a year: the rows of the three tables.
using YearRows = std::map<QString, std::array<TableRows, 3>>;
inline YearRows snapshotYear(const QSqlDatabase& db, int year, const QString& agent)
{
    YearRows out;
    for (int m = 1; m <= 12; ++m) {
        for (int t = 0; t < 3; ++t)
            out[periodOf(year, m)][size_t(t)] =
                snapshotRows(db, QLatin1String(kHistoryTables[t]), periodOf(year, m), agent);
    }
    return out;
}

// Rows of a data file in the canonical form, sorted; the column kinds are taken from the file.
inline QStringList fileRows(const QString& path, const QStringList& columns, std::map<QString, int>* types)
{
    adtg::AdtgRecordset rs;
    EXPECT_TRUE(rs.open(path)) << rs.errorString().toStdString();
    QStringList out;
    for (; !rs.eof(); rs.moveNext()) {
        QStringList row;
        for (const QString& c : columns) {
            const adtg::AdtgField f = rs.field(c);
            EXPECT_TRUE(f.isValid()) << c.toStdString();
            if (!f.isValid())
                return out;
            (*types)[c] = f.column().adoType();
            row << canonical(f);
        }
        out << row.join(QChar(0x1F));
    }
    out.sort();
    return out;
}

inline QStringList databaseRows(const TableRows& t, const std::map<QString, int>& types)
{
    QStringList out;
    for (const QVariantList& values : t.rows) {
        QStringList row;
        for (int i = 0; i < t.columns.size(); ++i) {
            const auto it = types.find(t.columns[i]);
            row << canonical(values[i], it == types.end() ? int(adtg::adVarWChar) : it->second);
        }
        out << row.join(QChar(0x1F));
    }
    out.sort();
    return out;
}

// The data file holds exactly the rows of the snapshot.
inline void expectFileHoldsRows(const QString& path, const TableRows& rows)
{
    std::map<QString, int> types;
    const QStringList inFile = fileRows(path, rows.columns, &types);
    EXPECT_EQ(inFile, databaseRows(rows, types)) << path.toStdString();
}

} // namespace sjql::test
