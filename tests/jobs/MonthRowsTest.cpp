// SPDX-License-Identifier: MIT
// Row digests of a month, on SQLite and MariaDB: a row read from the database and the same row read
// back from its data file digest alike, a changed value does not; rows the restore could not write
// back as they were are named before the month may be cleared; data files holding rows of another
// agent or month are named.
#include "jobs/MonthRows.h"

#include "helpers/DemoDatabase.h"
#include "jobs/BackupDataFiles.h"
#include "support/AdtgWriter.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlError>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace sjql;
using sjql::test::TestDatabase;

namespace {

const QString kPeriod = QStringLiteral("200803");

RowDigest digest(quint64 n)
{
    return {n * 7, n};
}

} // namespace

TEST(DigestsContainedTest, CountsEveryOccurrence)
{
    const RowDigest a = digest(1), b = digest(2), c = digest(3);
    EXPECT_TRUE(DigestsContained({}, {}));
    EXPECT_TRUE(DigestsContained({}, {a}));
    EXPECT_TRUE(DigestsContained({b, a}, {a, c, b}));
    EXPECT_TRUE(DigestsContained({a, a, b}, {b, a, c, a}));
    EXPECT_FALSE(DigestsContained({a, a}, {a, b}));
    EXPECT_FALSE(DigestsContained({a}, {}));
    EXPECT_FALSE(DigestsContained({c}, {a, b}));
}

// NULL, empty text and zero are different values; so are texts differing in one character.
TEST(ScanDataFileTest, NullEmptyAndZeroDigestApart)
{
    QTemporaryDir dir;
    using adtg::AdtgColumn;
    adtg::AdtgWriter w({AdtgColumn::fromAdoType(QStringLiteral("KJYWRBM"), adtg::adVarWChar, 30, true),
                        AdtgColumn::fromAdoType(QStringLiteral("FFYF"), adtg::adVarWChar, 6, true),
                        AdtgColumn::fromAdoType(QStringLiteral("BZ"), adtg::adVarWChar, 20, true),
                        AdtgColumn::fromAdoType(QStringLiteral("BS"), adtg::adInteger, 0, true),
                        AdtgColumn::fromAdoType(QStringLiteral("SRE"), adtg::adNumeric, 0, true, 16, 2)});
    const QString a = QStringLiteral("A1");
    const QVariantList rows[] = {
        {a, kPeriod, QVariant(), 0, QStringLiteral("0")},
        {a, kPeriod, QStringLiteral(""), 0, QStringLiteral("0")},
        {a, kPeriod, QStringLiteral("0"), 0, QStringLiteral("0")},
        {a, kPeriod, QStringLiteral(""), QVariant(), QStringLiteral("0")},
        {a, kPeriod, QStringLiteral(""), 0, QVariant()},
        {a, kPeriod, QStringLiteral("张"), 0, QStringLiteral("0")},
        {a, kPeriod, QStringLiteral("张"), 0, QStringLiteral("0.01")},
        {a, kPeriod, QStringLiteral("张"), 0, QStringLiteral("0.01")}, // a true duplicate
    };
    for (const QVariantList& r : rows)
        ASSERT_TRUE(w.addRow(r)) << w.errorString().toStdString();
    const QString path = dir.filePath(QStringLiteral("KJSDSBGB_200803.dat"));
    ASSERT_TRUE(w.save(path));
    const MonthRowsScan scan = ScanDataFile(path, 2, kPeriod, a);
    ASSERT_TRUE(scan.ok) << scan.error.toStdString();
    EXPECT_TRUE(scan.problem.isEmpty()) << scan.problem.toStdString();
    ASSERT_EQ(scan.digests.size(), std::size(rows));
    for (size_t i = 0; i + 1 < scan.digests.size(); ++i) {
        for (size_t j = i + 1; j + 1 < scan.digests.size(); ++j)
            EXPECT_NE(scan.digests[i], scan.digests[j]) << i << " " << j;
    }
    EXPECT_EQ(scan.digests[6], scan.digests[7]);

    EXPECT_FALSE(ScanDataFile(dir.filePath(QStringLiteral("missing.dat")), 2, kPeriod, a).ok);
}

class MonthRowsDb : public test::DemoDatabaseSuite
{
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(openDemo({2, 6, 2008, 2008, QStringLiteral("200812")}));
        // A month of the second half year (the second agent starts in July) with the most
        // non-wage rows, so that every table has rows.
        period = valueOf(QStringLiteral("select FFYF from FGZXJB where KJYWRBM='%1' and FFYF >= '200807' "
                                        "group by FFYF order by count(*) desc, FFYF limit 1")
                             .arg(agent))
                     .toString();
        ASSERT_FALSE(period.isEmpty());
    }
    void TearDown() override { test::unpublishHost(); }

    QString table(int index) const { return QLatin1String(BackupDataFileKinds()[size_t(index)].table); }
    QString keyOf(int index) const { return index == 1 ? QStringLiteral("ID") : QStringLiteral("id"); }

    // The key of the month's first row of the agent in table `index`.
    qint64 firstRow(int index)
    {
        return db->count(QStringLiteral("select min(%1) from %2 where FFYF='%3' and KJYWRBM='%4'")
                             .arg(keyOf(index), table(index), period, agent));
    }

    // Sets one column of one row through a bound value, so that any text (NUL included) gets in.
    void setValue(int index, qint64 row, const QString& column, const QVariant& value)
    {
        QSqlQuery q(db->connection().database());
        ASSERT_TRUE(
            q.prepare(QStringLiteral("update %1 set %2 = ? where %3 = ?").arg(table(index), column, keyOf(index))));
        q.addBindValue(value);
        q.addBindValue(row);
        ASSERT_TRUE(q.exec()) << q.lastError().text().toStdString();
    }
    QVariant valueOf(const QString& sql)
    {
        QSqlQuery q = db->exec(sql);
        return q.next() ? q.value(0) : QVariant();
    }
    void run(const QString& sql)
    {
        ASSERT_TRUE(db->exec(sql).lastError().type() == QSqlError::NoError) << db->error().toStdString();
    }

    // What the backup does with a month's table: digest the selection, save it from the same query,
    // read the file back.
    struct Backup
    {
        MonthRowsScan selected;
        bool saved = false;
        QString saveError;
        MonthRowsScan file;
    };
    Backup backUp(int index, const QString& owner = {})
    {
        Backup b;
        const QString who = owner.isEmpty() ? agent : owner;
        QSqlQuery q(db->connection().database());
        EXPECT_TRUE(q.exec(BackupSelectStatement(index, period, who))) << q.lastError().text().toStdString();
        b.selected = DigestSelectedRows(q, index);
        const QString path =
            BackupDataFilePath(work.path(), QLatin1String(BackupDataFileKinds()[size_t(index)].fileTemplate), period);
        QDir().mkpath(QFileInfo(path).absolutePath());
        b.saved = adtg::SaveRecordsetAdtg(q, db->connection().database(), table(index), path, &b.saveError);
        if (b.saved)
            b.file = ScanDataFile(path, index, period, agent);
        return b;
    }

    QString period;
    QTemporaryDir work;
};

// Demo rows with NULLs, Chinese texts with quotes, amounts, rates and dates digest alike on both
// sides, in the same order; the database month scanned again gives the same digests.
TEST_P(MonthRowsDb, DatabaseAndFileDigestsAgree)
{
    const qint64 wage = firstRow(0), nonWage = firstRow(1), report = firstRow(2);
    ASSERT_GT(wage, 0);
    ASSERT_GT(report, 0);
    setValue(0, wage, QStringLiteral("XM"), QStringLiteral("王'小\"二\\三"));
    setValue(0, wage, QStringLiteral("SL"), 0.03);
    setValue(0, wage, QStringLiteral("QSRQ"), QVariant(QMetaType::fromType<QString>()));
    setValue(0, wage, QStringLiteral("YFGZ"), QVariant(QMetaType::fromType<double>()));
    setValue(0, wage, QStringLiteral("GH"), QStringLiteral(""));
    setValue(2, report, QStringLiteral("BZ"), QVariant(QMetaType::fromType<QString>()));
    setValue(2, report, QStringLiteral("BZSSD"), QStringLiteral("1234.5678"));
    // Binary noise of arithmetic on SQLite's floating-point amounts: 2469.1200000000003.
    run(QStringLiteral("update KJSDSBGB set SRE = 2469.11 + 0.01 where id = %1").arg(report));
    if (nonWage > 0)
        setValue(1, nonWage, QStringLiteral("GZDW"), QStringLiteral("北京某某科技有限公司（海淀）"));

    for (int index = 0; index < 3; ++index) {
        SCOPED_TRACE(table(index).toStdString());
        const Backup b = backUp(index);
        ASSERT_TRUE(b.selected.ok) << b.selected.error.toStdString();
        EXPECT_TRUE(b.selected.problem.isEmpty()) << b.selected.problem.toStdString();
        ASSERT_TRUE(b.saved) << b.saveError.toStdString();
        ASSERT_TRUE(b.file.ok) << b.file.error.toStdString();
        EXPECT_TRUE(b.file.problem.isEmpty()) << b.file.problem.toStdString();
        EXPECT_FALSE(b.selected.digests.empty());
        EXPECT_EQ(b.file.digests, b.selected.digests);
        const MonthRowsScan again = ScanDatabaseMonth(index, period, agent);
        ASSERT_TRUE(again.ok) << again.error.toStdString();
        EXPECT_EQ(again.digests, b.selected.digests);
        // Through the driver's converted values (a forward-only result) rather than the server's
        // text on MariaDB: the same digests.
        QSqlQuery forward(db->connection().database());
        forward.setForwardOnly(true);
        ASSERT_TRUE(forward.exec(BackupSelectStatement(index, period, agent)));
        EXPECT_EQ(DigestSelectedRows(forward, index).digests, b.selected.digests);
    }
}

// A value changed by one cent after the file was written no longer matches: the file's rows are
// not all in the database any more.
TEST_P(MonthRowsDb, ChangedValueNoLongerMatches)
{
    const Backup b = backUp(0);
    ASSERT_TRUE(b.saved) << b.saveError.toStdString();
    const qint64 row = firstRow(0);
    run(QStringLiteral("update ZCGZXJMXB set YNSE = YNSE + 0.01 where id = %1").arg(row));
    const MonthRowsScan now = ScanDatabaseMonth(0, period, agent);
    ASSERT_TRUE(now.ok);
    ASSERT_EQ(now.digests.size(), b.file.digests.size());
    size_t differing = 0;
    for (size_t i = 0; i < now.digests.size(); ++i)
        differing += now.digests[i] != b.file.digests[i] ? 1 : 0;
    EXPECT_EQ(differing, 1u);
    EXPECT_FALSE(DigestsContained(b.file.digests, now.digests));
    // A row added to the month leaves the file's rows contained, not the other way round.
    run(QStringLiteral("update ZCGZXJMXB set YNSE = YNSE - 0.01 where id = %1").arg(row));
    run(QStringLiteral("insert into ZCGZXJMXB (KJYWRBM, FFYF, XM) values ('%1', '%2', 'x')").arg(agent, period));
    const MonthRowsScan more = ScanDatabaseMonth(0, period, agent);
    EXPECT_TRUE(DigestsContained(b.file.digests, more.digests));
    EXPECT_FALSE(DigestsContained(more.digests, b.file.digests));
}

// Values the restore's statements cannot write back as they were are named with table, row key,
// column and reason, before anything is cleared. NULLs are written back as the documented defaults
// and are no problem.
TEST_P(MonthRowsDb, UnrestorableValuesAreNamed)
{
    const qint64 wage = firstRow(0);
    const QString gh = valueOf(QStringLiteral("select GH from ZCGZXJMXB where id = %1").arg(wage)).toString();
    auto problemOf = [&](int index) {
        QSqlQuery q(db->connection().database());
        EXPECT_TRUE(q.exec(BackupSelectStatement(index, period, agent)));
        const MonthRowsScan scan = DigestSelectedRows(q, index);
        EXPECT_TRUE(scan.ok) << scan.error.toStdString();
        return scan.problem;
    };
    // NULLs everywhere the builder reads: fine.
    for (const char* column : {"XM", "ZZLX", "QSRQ", "YFGZ", "SL", "zcyf"})
        setValue(0, wage, QLatin1String(column), QVariant());
    EXPECT_EQ(problemOf(0), QString());

    // A NUL character in a text.
    setValue(0, wage, QStringLiteral("XM"), QStringLiteral("张") + QChar(0) + QStringLiteral("三"));
    QString problem = problemOf(0);
    EXPECT_TRUE(problem.startsWith(QStringLiteral("ZCGZXJMXB GH=%1 ZZHM=").arg(gh))) << problem.toStdString();
    EXPECT_TRUE(problem.contains(QStringLiteral("列XM的文本含有NUL字符"))) << problem.toStdString();
    // The file itself keeps the text; only the restore could not write it.
    {
        const Backup b = backUp(0);
        ASSERT_TRUE(b.saved) << b.saveError.toStdString();
        EXPECT_EQ(b.file.digests, b.selected.digests);
        EXPECT_FALSE(b.selected.problem.isEmpty());
    }
    setValue(0, wage, QStringLiteral("XM"), QStringLiteral("张三"));

    // A rate with 4 decimals in a column the wage statement writes with 2.
    setValue(0, wage, QStringLiteral("SL"), QStringLiteral("0.025"));
    problem = problemOf(0);
    EXPECT_TRUE(problem.contains(QStringLiteral("列SL的金额0.025的小数多于2位"))) << problem.toStdString();
    setValue(0, wage, QStringLiteral("SL"), QStringLiteral("0.03"));
    EXPECT_EQ(problemOf(0), QString());

    if (!db->sqlite())
        return; // MariaDB's columns cannot hold the values below
    // SQLite keeps what it is given, whatever the declared type.
    struct Case
    {
        const char* column;
        QVariant value;
        const char* reason;
        bool fileRefuses; // the data file's type cannot hold the value either
    };
    const Case cases[] = {
        {"ZZLX", qint64(3000000000), "列ZZLX的值3000000000超出整数范围", true},
        {"ZZLX", 1.5, "列ZZLX的值“1.5”不是整数", true},
        {"YFGZ", 1.23456789, "列YFGZ的金额1.23456789的小数多于2位", true},
        {"YFGZ", 1e20, "列YFGZ的金额100000000000000000000超出该列的位数", true},
        {"YFGZ", QStringLiteral("abc"), "列YFGZ的值“abc”不是数值", true},
        {"QSRQ", QStringLiteral("2008-03-01 12:30:00"), "列QSRQ的日期2008-03-01 12:30:00含有时刻", false},
        {"QSRQ", QStringLiteral("2008-02-30"), "列QSRQ的日期“2008-02-30”无法识别", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reason);
        const QVariant before =
            valueOf(QStringLiteral("select %1 from ZCGZXJMXB where id = %2").arg(QLatin1String(c.column)).arg(wage));
        setValue(0, wage, QLatin1String(c.column), c.value);
        problem = problemOf(0);
        EXPECT_TRUE(problem.startsWith(QStringLiteral("ZCGZXJMXB GH=%1 ").arg(gh))) << problem.toStdString();
        EXPECT_TRUE(problem.contains(QString::fromUtf8(c.reason))) << problem.toStdString();
        // The data file refuses what it cannot hold, naming table, column and value.
        const Backup b = backUp(0);
        EXPECT_EQ(b.saved, !c.fileRefuses) << b.saveError.toStdString();
        if (!b.saved) {
            EXPECT_TRUE(b.saveError.contains(QLatin1String("ZCGZXJMXB"))) << b.saveError.toStdString();
            EXPECT_TRUE(b.saveError.contains(QLatin1String(c.column))) << b.saveError.toStdString();
        }
        setValue(0, wage, QLatin1String(c.column), before);
    }
    EXPECT_EQ(problemOf(0), QString());
}

// A data file is checked row by row against the agent and month it is meant to hold.
TEST_P(MonthRowsDb, FileRowsOfAnotherAgentOrMonthAreNamed)
{
    const Backup mine = backUp(2);
    ASSERT_TRUE(mine.saved) << mine.saveError.toStdString();
    EXPECT_TRUE(mine.file.problem.isEmpty()) << mine.file.problem.toStdString();
    const QString path = BackupDataFilePath(work.path(), QStringLiteral("KJSDSBGB_YYYYMM.dat"), period);
    const QString next = QString::number(period.toInt() + 1);
    const MonthRowsScan otherMonth = ScanDataFile(path, 2, next, agent);
    ASSERT_TRUE(otherMonth.ok);
    EXPECT_TRUE(otherMonth.problem.startsWith(QStringLiteral("KJSDSBGB_%1.dat第1行（ZZHM=").arg(period)))
        << otherMonth.problem.toStdString();
    EXPECT_TRUE(otherMonth.problem.contains(
        QStringLiteral("的扣缴义务人/所属期（%1/%2）与本月（%1/%3）不符").arg(agent, period, next)))
        << otherMonth.problem.toStdString();
    EXPECT_EQ(otherMonth.digests, mine.file.digests);

    const Backup theirs = backUp(2, other); // scanned as if it were the current agent's file
    ASSERT_TRUE(theirs.saved) << theirs.saveError.toStdString();
    ASSERT_FALSE(theirs.file.digests.empty());
    EXPECT_TRUE(theirs.file.problem.contains(QStringLiteral("（%1/%3）与本月（%2/%3）不符").arg(other, agent, period)))
        << theirs.file.problem.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Databases, MonthRowsDb, SJQL_DATABASE_KINDS);
