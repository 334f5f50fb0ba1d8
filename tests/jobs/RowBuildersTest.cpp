// SPDX-License-Identifier: MIT
// The INSERT statements made from rows of backup data files: exact texts, NULL defaults, number
// formats per table, date literals per database kind, quoting, and a data file lacking a column.
#include "jobs/RowBuilders.h"

#include "db/SqlLiteral.h"
#include "support/AdtgReader.h"
#include "support/AdtgWriter.h"

#include <QMap>

#include <gtest/gtest.h>

using namespace sjql;

namespace {

struct Col
{
    const char* name;
    const char* type;
};

const std::vector<Col> kNonWage = {
    {"ID", "INTEGER"},           {"KJYWRBM", "VARCHAR(30)"}, {"XM", "VARCHAR(100)"},
    {"ZZLX", "INTEGER"},         {"ZZHM", "VARCHAR(30)"},    {"GZDW", "VARCHAR(200)"},
    {"SDXM", "VARCHAR(60)"},     {"QSRQ", "DATE"},           {"ZZRQ", "DATE"},
    {"FFYF", "VARCHAR(6)"},      {"SRE", "DECIMAL(16,2)"},   {"YXKCSF", "DECIMAL(16,2)"},
    {"FYKCBZ", "DECIMAL(16,2)"}, {"SJJZE", "DECIMAL(16,2)"}, {"ZYKCJZE", "DECIMAL(16,2)"},
    {"YNSSDE", "DECIMAL(16,2)"}, {"SL", "DECIMAL(10,4)"},    {"SSKCS", "DECIMAL(16,2)"},
    {"YNSE", "DECIMAL(16,2)"},   {"JMSE", "DECIMAL(16,2)"},  {"SJYNSE", "DECIMAL(16,2)"},
    {"XDSL", "INTEGER"},         {"WYSBH", "VARCHAR(40)"},   {"GXBZ", "INTEGER"},
    {"CBBZ", "INTEGER"},         {"ZCYF", "VARCHAR(6)"},     {"YSBSRE", "DECIMAL(16,2)"},
    {"CBYNSE", "DECIMAL(16,2)"}, {"ZCID", "INTEGER"},
};

std::vector<Col> wageColumns()
{
    std::vector<Col> cols = {{"id", "INTEGER"},       {"KJYWRBM", "VARCHAR(30)"}, {"GH", "VARCHAR(20)"},
                             {"XM", "VARCHAR(100)"},  {"ZZLX", "INTEGER"},        {"ZZHM", "VARCHAR(30)"},
                             {"SDXM", "VARCHAR(60)"}, {"QSRQ", "DATE"},           {"ZZRQ", "DATE"},
                             {"FFYF", "VARCHAR(6)"}};
    for (const char* a : {"YFGZ", "YLBX", "YLOBX", "SYBX", "ZFGJJ", "QTMSSD", "MSXMHJ", "BZSSD", "FYKCBZ", "SJJZE",
                          "ZYKCJZE", "YNSSDE"})
        cols.push_back({a, "DECIMAL(16,2)"});
    cols.push_back({"SL", "DECIMAL(10,4)"});
    for (const char* a : {"SSKCS", "YNSE", "JMSE", "YSBSRE", "CBYNSE"})
        cols.push_back({a, "DECIMAL(16,2)"});
    cols.insert(cols.end(), {{"CBBZ", "INTEGER"},
                             {"SJYNSE", "DECIMAL(16,2)"},
                             {"WYSBH", "VARCHAR(40)"},
                             {"GXBZ", "INTEGER"},
                             {"zcyf", "VARCHAR(6)"}});
    return cols;
}

std::vector<Col> reportColumns()
{
    std::vector<Col> cols = {{"id", "INTEGER"},         {"KJYWRBM", "VARCHAR(30)"}, {"WYSBH", "VARCHAR(40)"},
                             {"NSRXM", "VARCHAR(100)"}, {"ZZLX", "INTEGER"},        {"ZZHM", "VARCHAR(30)"},
                             {"SDXM", "VARCHAR(60)"},   {"FFYF", "VARCHAR(6)"},     {"ZZRQ", "DATE"},
                             {"QSRQ", "DATE"}};
    for (const char* a : {"SRE", "YLBX", "YLOBX", "SYBX", "ZFGJJ", "QTMSSD", "MSXMHJ"})
        cols.push_back({a, "DECIMAL(16,2)"});
    cols.push_back({"BZSSD", "DECIMAL(16,4)"});
    for (const char* a : {"FYKCBZ", "YXKCSY", "ZYKCDJZE", "YNSSDE"})
        cols.push_back({a, "DECIMAL(16,2)"});
    cols.push_back({"SL", "DECIMAL(10,4)"});
    for (const char* a : {"SSKCS", "YNSE", "JMSE", "SJYNSE"})
        cols.push_back({a, "DECIMAL(16,2)"});
    cols.insert(cols.end(), {{"BZ", "VARCHAR(500)"}, {"BS", "INTEGER"}, {"SFDY", "INTEGER"}});
    return cols;
}

// A loaded data file of one row: the named values, NULL in every other column; `drop` leaves a
// column out of the file altogether.
class OneRow
{
public:
    OneRow(const std::vector<Col>& cols, const QMap<QString, QVariant>& values, const char* drop = nullptr)
    {
        std::vector<adtg::AdtgColumn> columns;
        QVariantList row;
        for (const Col& c : cols) {
            if (drop && qstrcmp(c.name, drop) == 0)
                continue;
            columns.push_back(column(QString::fromLatin1(c.name), QString::fromLatin1(c.type)));
            row << values.value(QString::fromLatin1(c.name));
        }
        adtg::AdtgWriter writer(columns);
        EXPECT_TRUE(writer.isValid()) << writer.errorString().toStdString();
        EXPECT_TRUE(writer.addRow(row)) << writer.errorString().toStdString();
        EXPECT_TRUE(rs.openData(writer.toBytes(), QStringLiteral("row.dat"))) << rs.errorString().toStdString();
    }
    adtg::AdtgRecordset rs;

private:
    // The column ADO describes for the declared type: VARCHAR(n), INTEGER, DECIMAL(p,s) or DATE.
    static adtg::AdtgColumn column(const QString& name, const QString& type)
    {
        const QStringList size =
            type.section(QLatin1Char('('), 1).chopped(type.contains(QLatin1Char('(')) ? 1 : 0).split(QLatin1Char(','));
        if (type.startsWith(QLatin1String("VARCHAR")))
            return adtg::AdtgColumn::fromAdoType(name, adtg::adVarWChar, size.at(0).toUInt(), true);
        if (type.startsWith(QLatin1String("DECIMAL")))
            return adtg::AdtgColumn::fromAdoType(name, adtg::adNumeric, 0, true, size.at(0).toUInt(),
                                                 size.at(1).toInt());
        if (type == QLatin1String("DATE"))
            return adtg::AdtgColumn::fromAdoType(name, adtg::adDate, 0, true);
        return adtg::AdtgColumn::fromAdoType(name, adtg::adInteger, 0, true);
    }
};

} // namespace

TEST(RowBuilders, NonWageStatementIsExact)
{
    OneRow row(kNonWage, {{QStringLiteral("ID"), 99},
                          {QStringLiteral("KJYWRBM"), QStringLiteral("3101")},
                          {QStringLiteral("XM"), QStringLiteral("O'Brien")},
                          {QStringLiteral("ZZLX"), 1},
                          {QStringLiteral("GZDW"), QStringLiteral("上海公司")},
                          {QStringLiteral("ZZRQ"), QDate(2008, 3, 31)},
                          {QStringLiteral("FFYF"), QStringLiteral("200803")},
                          {QStringLiteral("SRE"), QStringLiteral("1234.5")},
                          {QStringLiteral("SL"), QStringLiteral("0.2")},
                          {QStringLiteral("JMSE"), QStringLiteral("-0.5")},
                          {QStringLiteral("ZCID"), 7}});
    QString sql;
    ASSERT_TRUE(BuildNonWageInsert(row.rs, dbkAccess, sql));
    // NULL text '' , NULL integer 0, NULL date day zero, NULL amount 0.00 in its width.
    EXPECT_EQ(sql,
              QStringLiteral(
                  "insert into fgzxjb (KJYWRBM, XM, ZZLX, ZZHM, GZDW, SDXM, QSRQ, ZZRQ, FFYF, SRE, YXKCSF, FYKCBZ, "
                  "SJJZE, ZYKCJZE, YNSSDE, SL, SSKCS, YNSE, JMSE, SJYNSE, XDSL, WYSBH, GXBZ, CBBZ, ZCYF, YSBSRE, "
                  "CBYNSE, ZCID) values('3101', 'O''Brien', 1, '', '上海公司', '', #1899-12-30#, #2008-03-31#, "
                  "'200803',          1234.50,             0.00,             0.00,             0.00,"
                  "             0.00,             0.00,     0.2000,             0.00,             0.00,"
                  "            -0.50,             0.00, 0, '', 0, 0, '',             0.00,             0.00, 7)"));
}

TEST(RowBuilders, AmountFormatsDifferPerTable)
{
    const QMap<QString, QVariant> values{{QStringLiteral("SL"), QStringLiteral("0.2")},
                                         {QStringLiteral("BZSSD"), QStringLiteral("2000.5")},
                                         {QStringLiteral("YFGZ"), QStringLiteral("99999999999999.99")}};
    QString sql;
    // Wage table: SL and BZSSD with two decimals in 16 places; wide amounts are not cut.
    OneRow wage(wageColumns(), values);
    ASSERT_TRUE(BuildWageInsert(wage.rs, dbkSQLite, sql));
    EXPECT_TRUE(sql.contains(QStringLiteral("'', 99999999999999.99,             0.00,"))) << sql.toStdString();
    EXPECT_TRUE(sql.contains(QStringLiteral("0.00,          2000.50,             0.00,"))) << sql.toStdString();
    EXPECT_TRUE(sql.contains(QStringLiteral("0.00,             0.20,             0.00,"))) << sql.toStdString();
    EXPECT_TRUE(sql.endsWith(QStringLiteral("0, '')")));

    // Report table: BZSSD takes four decimals in 10 places, SL two in 16.
    OneRow report(reportColumns(), values);
    ASSERT_TRUE(BuildReportInsert(report.rs, dbkSQLite, sql));
    EXPECT_TRUE(sql.contains(QStringLiteral("             0.00,  2000.5000,             0.00,"))) << sql.toStdString();
    EXPECT_TRUE(sql.contains(QStringLiteral("0.00,             0.20,             0.00,"))) << sql.toStdString();
    EXPECT_TRUE(
        sql.startsWith(QStringLiteral("insert into KJSDSBGB (KJYWRBM,WYSBH,NSRXM,ZZLX,ZZHM,SDXM,FFYF,ZZRQ,QSRQ, "
                                      "SRE,YLBX,")));
    EXPECT_TRUE(sql.contains(QStringLiteral("'', '1899-12-30' , '1899-12-30',              0.00,")))
        << sql.toStdString();
    EXPECT_TRUE(sql.endsWith(QStringLiteral("0.00,'', 0, 0)")));
}

TEST(RowBuilders, DateLiteralsAndKeysPerKind)
{
    OneRow row(wageColumns(), {{QStringLiteral("QSRQ"), QDate(2008, 3, 1)},
                               {QStringLiteral("ZZRQ"), QDateTime(QDate(2008, 3, 31), QTime(13, 5))}});
    QString sql;
    ASSERT_TRUE(BuildWageInsert(row.rs, dbkAccess, sql));
    EXPECT_TRUE(sql.contains(QStringLiteral("'', #2008-03-01#, #2008-03-31#, ''")));
    for (TDBKind kind : {dbkSQLServer, dbkMSDE, dbkMySQL, dbkSQLite}) {
        ASSERT_TRUE(BuildWageInsert(row.rs, kind, sql));
        EXPECT_TRUE(sql.contains(QStringLiteral("'', '2008-03-01', '2008-03-31', ''"))) << kind;
        EXPECT_TRUE(sql.startsWith(QStringLiteral("insert into ZCGZXJMXB (KJYWRBM, GH,"))) << kind;
    }
    // Oracle: the key column first, fed by the table's sequence.
    ASSERT_TRUE(BuildWageInsert(row.rs, dbkOracle, sql));
    EXPECT_TRUE(sql.startsWith(QStringLiteral("insert into ZCGZXJMXB (id,KJYWRBM, GH,"))) << sql.toStdString();
    EXPECT_TRUE(
        sql.contains(QStringLiteral("values(SEQ_ZCGZXJMXB.NEXTVAL, '', '', '', 0, '', '', "
                                    "TO_DATE('2008-03-01', 'YYYY-MM-DD'), TO_DATE('2008-03-31', 'YYYY-MM-DD'), ")))
        << sql.toStdString();
    OneRow nonWage(kNonWage, {});
    ASSERT_TRUE(BuildNonWageInsert(nonWage.rs, dbkOracle, sql));
    EXPECT_TRUE(sql.startsWith(QStringLiteral("insert into fgzxjb (ID,KJYWRBM, XM,")));
    EXPECT_TRUE(sql.contains(QStringLiteral("values(SEQ_FGZXJB.NEXTVAL, '', '', 0,")));
    ASSERT_TRUE(BuildNonWageInsert(nonWage.rs, dbkMySQL, sql));
    EXPECT_TRUE(sql.startsWith(QStringLiteral("insert into FGZXJB (KJYWRBM, XM,")));
    ASSERT_TRUE(BuildNonWageInsert(nonWage.rs, dbkSQLite, sql));
    EXPECT_TRUE(sql.startsWith(QStringLiteral("insert into fgzxjb (KJYWRBM, XM,")));
}

TEST(RowBuilders, TextsAreQuotedSafely)
{
    EXPECT_EQ(SqlTextLiteralBody(QStringLiteral("O'Brien"), dbkAccess), QStringLiteral("O''Brien"));
    EXPECT_EQ(SqlTextLiteralBody(QStringLiteral("a\\'b"), dbkSQLite), QStringLiteral("a\\''b"));
    // MySQL reads a backslash as an escape: doubled so that it survives.
    EXPECT_EQ(SqlTextLiteralBody(QStringLiteral("a\\'b"), dbkMySQL), QStringLiteral("a\\\\''b"));
}

TEST(RowBuilders, MissingColumnOrNoRowFails)
{
    OneRow row(reportColumns(), {}, "NSRXM");
    QString sql = QStringLiteral("old");
    QString error;
    EXPECT_FALSE(BuildReportInsert(row.rs, dbkSQLite, sql, &error));
    EXPECT_TRUE(sql.isEmpty());
    EXPECT_TRUE(error.contains(QStringLiteral("NSRXM"))) << error.toStdString();

    // A recordset at its end has no row to build from.
    OneRow lower(kNonWage, {});
    lower.rs.moveNext();
    EXPECT_FALSE(BuildNonWageInsert(lower.rs, dbkSQLite, sql, &error));
}
