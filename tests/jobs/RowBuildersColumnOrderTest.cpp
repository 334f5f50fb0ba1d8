// SPDX-License-Identifier: MIT
// The row builders remember where a table's columns stood in the previous data file: files whose
// columns stand in another order, or that lack a column, must still give the right statement.
#include "jobs/RowBuilders.h"
#include "support/AdtgReader.h"
#include "support/AdtgWriter.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace sjql;

namespace {

const char* const kNonWageColumns[] = {"KJYWRBM", "XM",   "ZZLX",  "ZZHM",   "GZDW",   "SDXM",   "QSRQ",
                                       "ZZRQ",    "FFYF", "SRE",   "YXKCSF", "FYKCBZ", "SJJZE",  "ZYKCJZE",
                                       "YNSSDE",  "SL",   "SSKCS", "YNSE",   "JMSE",   "SJYNSE", "XDSL",
                                       "WYSBH",   "GXBZ", "CBBZ",  "ZCYF",   "YSBSRE", "CBYNSE", "ZCID"};

// A one-row non-wage data file with its columns in the given order; the values depend on the
// column only, so every order describes the same row.
void load(adtg::AdtgRecordset& rs, std::vector<const char*> order, const QString& amount)
{
    std::vector<adtg::AdtgColumn> columns;
    QVariantList row;
    for (const char* name : order) {
        const QString n = QString::fromLatin1(name);
        if (n == QLatin1String("ZZLX") || n == QLatin1String("XDSL") || n == QLatin1String("GXBZ") ||
            n == QLatin1String("CBBZ") || n == QLatin1String("ZCID")) {
            columns.push_back(adtg::AdtgColumn::fromAdoType(n, adtg::adInteger, 0, true));
            row << int(n.size());
        } else if (n == QLatin1String("QSRQ") || n == QLatin1String("ZZRQ")) {
            columns.push_back(adtg::AdtgColumn::fromAdoType(n, adtg::adDate, 0, true));
            row << QDate(2019, 1, n == QLatin1String("QSRQ") ? 1 : 31);
        } else if (n == QLatin1String("SRE") || n == QLatin1String("SL") || n.endsWith(QLatin1String("SE"))) {
            columns.push_back(adtg::AdtgColumn::fromAdoType(n, adtg::adNumeric, 0, true, 18, 4));
            row << amount;
        } else {
            columns.push_back(adtg::AdtgColumn::fromAdoType(n.toLower(), adtg::adVarWChar, 40, true));
            row << n + QStringLiteral("值");
        }
    }
    adtg::AdtgWriter writer(columns);
    ASSERT_TRUE(writer.addRow(row)) << writer.errorString().toStdString();
    ASSERT_TRUE(rs.openData(writer.toBytes(), QStringLiteral("order.dat"))) << rs.errorString().toStdString();
}

} // namespace

TEST(RowBuildersColumnOrder, SameRowWhateverTheColumnOrder)
{
    std::vector<const char*> order(std::begin(kNonWageColumns), std::end(kNonWageColumns));
    adtg::AdtgRecordset rs;
    QString first, other;
    load(rs, order, QStringLiteral("-1234.005"));
    ASSERT_TRUE(BuildNonWageInsert(rs, dbkSQLite, first));
    // Half a cent rounds away from zero; four decimals stay as they are.
    EXPECT_TRUE(first.contains(QStringLiteral("'FFYF值',         -1234.01,"))) << first.toStdString();
    EXPECT_TRUE(first.contains(QStringLiteral(", -1234.0050,"))) << first.toStdString();
    EXPECT_TRUE(first.contains(QStringLiteral("'2019-01-01', '2019-01-31'"))) << first.toStdString();

    // The same file again with the columns reversed, then rotated: the same statement each time.
    std::reverse(order.begin(), order.end());
    load(rs, order, QStringLiteral("-1234.005"));
    ASSERT_TRUE(BuildNonWageInsert(rs, dbkSQLite, other));
    EXPECT_EQ(other, first);
    std::rotate(order.begin(), order.begin() + 5, order.end());
    load(rs, order, QStringLiteral("-1234.005"));
    ASSERT_TRUE(BuildNonWageInsert(rs, dbkSQLite, other));
    EXPECT_EQ(other, first);

    // A file without one of the columns fails even right after files that had it.
    order.erase(std::find_if(order.begin(), order.end(), [](const char* n) { return qstrcmp(n, "ZCYF") == 0; }));
    load(rs, order, QStringLiteral("0"));
    QString error;
    EXPECT_FALSE(BuildNonWageInsert(rs, dbkSQLite, other, &error));
    EXPECT_TRUE(other.isEmpty());
    EXPECT_TRUE(error.contains(QStringLiteral("ZCYF"))) << error.toStdString();
}
