// SPDX-License-Identifier: MIT
// A month of demo data saved into its three backup data files and read back, on SQLite and on
// MariaDB: every row of the agent, every column, every value (texts with Chinese characters and
// quotes, amounts to the cent, 4-decimal rates, dates, NULLs).
#include "jobs/BackupDataFiles.h"

#include "helpers/DemoDatabase.h"
#include "jobs/MonthRows.h"
#include "support/AdtgReader.h"
#include "support/AdtgWriter.h"
#include "support/MysqlTextRows.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace sjql;
using sjql::test::TestDatabase;

TEST(BackupDataFileNames, StatementsNamesAndPaths)
{
    EXPECT_EQ(BackupSelectStatement(0, QStringLiteral("200803"), QStringLiteral("A1")),
              QStringLiteral("select * from ZCGZXJMXB where FFYF='200803' and KJYWRBM='A1'  "));
    EXPECT_EQ(BackupSelectStatement(1, QStringLiteral("200803"), QStringLiteral("A1")),
              QStringLiteral("select * from FGZXJB where FFYF='200803' and KJYWRBM='A1' "));
    EXPECT_EQ(BackupSelectStatement(2, QStringLiteral("200803"), QStringLiteral("A1")),
              QStringLiteral("select * from KJSDSBGB where FFYF='200803' and KJYWRBM='A1'  "));
    EXPECT_EQ(BackupDataFileName(QStringLiteral("FGZXJB_YYYYMM.dat"), QStringLiteral("200801")),
              QStringLiteral("FGZXJB_200801.dat"));
    EXPECT_EQ(BackupDataFileName(QStringLiteral("yyyymm_YYYYMM"), QStringLiteral("200801")),
              QStringLiteral("yyyymm_200801"));
    EXPECT_EQ(BackupDataFilePath(QStringLiteral("/w/TEMP/TMPBFMU"), QStringLiteral("KJSDSBGB_YYYYMM.dat"),
                                 QStringLiteral("200812")),
              QStringLiteral("/w/TEMP/TMPBFMU/2008/KJSDSBGB_200812.dat"));
    EXPECT_EQ(BackupProgressText(1, QStringLiteral("200803")),
              QStringLiteral("正在备份清理[200803]非正常工资薪金数据"));
    EXPECT_STREQ(BackupDataFileKinds()[2].summaryAttribute, "BGBFILENAME");
}

class BackupDataFilesDb : public test::DemoDatabaseSuite
{
protected:
    void SetUp() override { ASSERT_NO_FATAL_FAILURE(openDemo({2, 6, 2008, 2008, QStringLiteral("200812")})); }
    void TearDown() override { host::state().valueObject.clear(); }

    // Every value of the agent's month in `table`, compared with the file row by row.
    void expectFileMatchesTable(const QString& path, const QString& table, const QString& period)
    {
        adtg::AdtgRecordset rs;
        ASSERT_TRUE(rs.open(path)) << rs.errorString().toStdString();
        QSqlQuery q =
            db->exec(QStringLiteral("select * from %1 where FFYF='%2' and KJYWRBM='%3'").arg(table, period, agent));
        const QSqlRecord rec = q.record();
        ASSERT_EQ(rs.fieldCount(), rec.count());
        for (int i = 0; i < rec.count(); ++i)
            EXPECT_EQ(rs.column(i).name, rec.fieldName(i));
        int rows = 0;
        for (; q.next(); rs.moveNext(), ++rows) {
            ASSERT_FALSE(rs.eof());
            for (int i = 0; i < rec.count(); ++i) {
                const QVariant v = q.value(i);
                // Fields are found by name without regard to case.
                const adtg::AdtgField f = rs.field(rec.fieldName(i).toLower());
                ASSERT_TRUE(f.isValid());
                const std::string where = table.toStdString() + " row " + std::to_string(rows) + " " +
                                          rec.fieldName(i).toStdString() + " = " + v.toString().toStdString();
                if (v.isNull()) {
                    EXPECT_TRUE(f.isNull()) << where;
                    continue;
                }
                ASSERT_FALSE(f.isNull()) << where;
                switch (f.column().adoType()) {
                case adtg::adVarWChar:
                case adtg::adLongVarWChar:
                    EXPECT_EQ(f.toText(), v.toString()) << where;
                    break;
                case adtg::adNumeric:
                    // Amounts and rates exactly, to the fourth decimal.
                    EXPECT_EQ(f.toCurrency(), qRound64(v.toDouble() * 10000)) << where;
                    EXPECT_NEAR(f.toAmount(), v.toDouble(), 1e-9) << where;
                    break;
                case adtg::adDate:
                    EXPECT_EQ(f.toDateTime().date(), v.typeId() == QMetaType::QString
                                                         ? QDate::fromString(v.toString().left(10), Qt::ISODate)
                                                         : v.toDate())
                        << where;
                    break;
                default:
                    EXPECT_EQ(f.toInteger(), v.toLongLong()) << where;
                    break;
                }
            }
        }
        EXPECT_TRUE(rs.eof());
        EXPECT_EQ(rs.recordCount(), rows);
    }

    QTemporaryDir work;
};

TEST_P(BackupDataFilesDb, MonthRoundTripKeepsEveryValue)
{
    const QString period = QStringLiteral("200806");
    // Awkward values: Chinese text with quotes, NULLs, a 4-decimal amount.
    // The wage rate is written back with two decimals, so a month may only hold two: the writer's
    // read-back check refuses more (the report table's 4-decimal amount below is kept whole).
    db->exec(QStringLiteral("update ZCGZXJMXB set XM='王''小\"二', GH=NULL, SL=0.03 where FFYF='%1' and KJYWRBM='%2'")
                 .arg(period, agent));
    db->exec(
        QStringLiteral("update FGZXJB set GZDW='北京''某\"单位', QSRQ=NULL, YNSE=NULL where FFYF='%1' and KJYWRBM='%2'")
            .arg(period, agent));
    db->exec(QStringLiteral("update KJSDSBGB set BZ=NULL, BZSSD=1234.5678 where FFYF='%1' and KJYWRBM='%2'")
                 .arg(period, agent));
    ASSERT_GT(
        db->count(QStringLiteral("select count(*) from ZCGZXJMXB where FFYF='%1' and KJYWRBM='%2'").arg(period, agent)),
        0);
    // A row of another agent in the same month must stay out of the file.
    db->exec(QStringLiteral("insert into ZCGZXJMXB (KJYWRBM, FFYF, XM) values ('%1', '%2', 'x')").arg(other, period));
    ASSERT_EQ(
        db->count(QStringLiteral("select count(*) from ZCGZXJMXB where FFYF='%1' and KJYWRBM='%2'").arg(period, other)),
        1)
        << db->error().toStdString();

    // A stale file of the same name is replaced.
    const QString wagePath = BackupDataFilePath(work.path(), QStringLiteral("ZCGZXJMXB_YYYYMM.dat"), period);
    QDir().mkpath(QFileInfo(wagePath).absolutePath());
    QFile stale(wagePath);
    ASSERT_TRUE(stale.open(QIODevice::WriteOnly));
    stale.write("stale");
    stale.close();

    QSqlQuery query;
    std::vector<int> announced;
    MonthDataFilesOptions options;
    options.beforeTable = [&](int index) { announced.push_back(index); };
    const MonthDataFilesResult r = WriteMonthDataFiles(work.path(), period, agent, query, options);
    ASSERT_EQ(r.outcome, MonthDataFilesResult::Written) << r.error.toStdString();
    EXPECT_EQ(announced, (std::vector<int>{0, 1, 2}));
    ASSERT_EQ(r.paths.size(), 3);
    EXPECT_EQ(r.paths.at(0), wagePath);
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(BackupDataFileKinds()[i].table);
        expectFileMatchesTable(r.paths.at(i), QLatin1String(BackupDataFileKinds()[i].table), period);
    }
    // The quoted text arrives as it was written.
    adtg::AdtgRecordset rs;
    ASSERT_TRUE(rs.open(r.paths.at(0)));
    EXPECT_EQ(rs.field(u"xm").toText(), QStringLiteral("王'小\"二"));
    EXPECT_TRUE(rs.field(u"GH").isNull());
    EXPECT_EQ(rs.field(u"SL").toCurrency(), 300);
}

TEST_P(BackupDataFilesDb, ResultReadDirectlyGivesTheSameBytesAsThroughTheDriver)
{
    // A scrollable result is read from the client library's own rows on MariaDB, a forward-only one
    // value by value through Qt's driver: the files must not differ by a byte. Awkward values:
    // NULLs, negative and large amounts, a 4-decimal rate, long and non-ASCII texts, dates.
    const QString period = QStringLiteral("200807");
    db->exec(QStringLiteral("update ZCGZXJMXB set XM='王''小\"二 ü', GH=NULL, SL=0.0345, YNSE=-12345678.91 "
                            "where FFYF='%1' and KJYWRBM='%2'")
                 .arg(period, agent));
    db->exec(QStringLiteral("update FGZXJB set GZDW='%3', QSRQ=NULL where FFYF='%1' and KJYWRBM='%2'")
                 .arg(period, agent, QString(120, QChar(0x4E2D))));
    db->exec(QStringLiteral("update KJSDSBGB set BZ=NULL, BZSSD=9999999999.9999 where FFYF='%1' and KJYWRBM='%2'")
                 .arg(period, agent));
    for (int i = 0; i < 3; ++i) {
        const char* table = BackupDataFileKinds()[i].table;
        SCOPED_TRACE(table);
        const QString select = QStringLiteral("select * from %1 where FFYF='%2' and KJYWRBM='%3'")
                                   .arg(QLatin1String(table), period, agent);
        QByteArray bytes[2];
        for (int forwardOnly = 0; forwardOnly < 2; ++forwardOnly) {
            QSqlQuery q(db->connection().database());
            q.setForwardOnly(forwardOnly == 1);
            ASSERT_TRUE(q.exec(select)) << q.lastError().text().toStdString();
            // The direct reading is really taken where it applies.
            EXPECT_EQ(adtg::MysqlTextRows::attach(q) != nullptr, forwardOnly == 0 && !db->sqlite());
            const QString path = work.filePath(QStringLiteral("%1-%2.dat").arg(QLatin1String(table)).arg(forwardOnly));
            QString error;
            ASSERT_TRUE(adtg::SaveRecordsetAdtg(q, db->connection().database(), QLatin1String(table), path, &error))
                << error.toStdString();
            QFile f(path);
            ASSERT_TRUE(f.open(QIODevice::ReadOnly));
            bytes[forwardOnly] = f.readAll();
        }
        EXPECT_GT(bytes[0].size(), 1000);
        EXPECT_TRUE(bytes[0] == bytes[1]);
    }
}

// The bytes of the file SaveRecordsetAdtg writes from a forward-only query, value by value through
// Qt's driver, and the digests of the same rows.
struct DriverReading
{
    QByteArray bytes;
    MonthRowsScan scan;
};

DriverReading readThroughDriver(const QSqlDatabase& db, int index, const QString& period, const QString& agent,
                                const QString& path)
{
    DriverReading out;
    const QString table = QLatin1String(BackupDataFileKinds()[size_t(index)].table);
    for (int pass = 0; pass < 2; ++pass) {
        QSqlQuery q(db);
        q.setForwardOnly(true);
        EXPECT_TRUE(q.exec(BackupSelectStatement(index, period, agent))) << q.lastError().text().toStdString();
        EXPECT_EQ(adtg::MysqlTextRows::attach(q), nullptr);
        if (pass == 0) {
            out.scan = DigestSelectedRows(q, index);
            continue;
        }
        QString error;
        EXPECT_TRUE(adtg::SaveRecordsetAdtg(q, db, table, path, &error)) << error.toStdString();
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::ReadOnly));
        out.bytes = f.readAll();
    }
    return out;
}

QByteArray fileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

TEST_P(BackupDataFilesDb, MonthReadInPlaceGivesTheDriversBytesAndDigests)
{
    // The backup reads a month from the database client's own rows (SQLite's row buffer, the
    // MariaDB client's stored result); the files and the row digests must be exactly those of the
    // values Qt's driver hands out. Awkward values: quotes and backslashes, Chinese and long texts
    // (longer than declared where SQLite lets them be), the extreme amounts of DECIMAL(16,2),
    // negative ten-thousandths, zero, NULLs, the first and last dates.
    const QString period = QStringLiteral("200808");
    const int longText = db->sqlite() ? 260 : 200; // GZDW is VARCHAR(200); MariaDB enforces it
    // SQLite keeps amounts as doubles, which both ways read alike; Qt's driver hands MariaDB's
    // decimals out as doubles too, which carry 15 digits, not the 16 of the largest DECIMAL(16,2).
    const QString largest = db->sqlite() ? QStringLiteral("99999999999999.99") : QStringLiteral("9999999999999.99");
    db->exec(QStringLiteral("update ZCGZXJMXB set XM='王''小\"二\\ü', GH=NULL, SL=0.03, YFGZ=%3, "
                            "YNSE=-%3, JMSE=0, QSRQ='1899-12-30', ZZRQ='9999-12-31' "
                            "where FFYF='%1' and KJYWRBM='%2'")
                 .arg(period, agent, largest));
    for (const char* zzhm : {"110101199001011234", "11010119900101123X"})
        db->exec(QStringLiteral("insert into FGZXJB (KJYWRBM, FFYF, XM, ZZHM, GZDW, SRE, SJYNSE, ZZRQ) "
                                "values ('%2', '%1', '李四', '%4', '%3', 0.01, NULL, '2008-08-31')")
                     .arg(period, agent, QString(longText, QChar(0x4E2D)), QLatin1String(zzhm)));
    db->exec(QStringLiteral("update KJSDSBGB set BZ=NULL, BZSSD=-0.0001, SDXM='a\\b''c' where FFYF='%1' and "
                            "KJYWRBM='%2'")
                 .arg(period, agent));
    ASSERT_EQ(db->error(), QString());

    QSqlQuery query;
    const MonthDataFilesResult r = WriteMonthDataFiles(work.path(), period, agent, query);
    ASSERT_EQ(r.outcome, MonthDataFilesResult::Written) << r.error.toStdString();
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(BackupDataFileKinds()[size_t(i)].table);
        bool ran = false;
        std::unique_ptr<adtg::SelectedRows> rows = SelectMonthRows(i, period, agent, &ran);
        ASSERT_TRUE(rows) << "the month is read in place on either database";
        const MonthRowsScan inPlace = DigestSelectedRows(*rows, db->connection().database(), i);
        rows.reset();
        const DriverReading driver =
            readThroughDriver(db->connection().database(), i, period, agent, work.filePath(QStringLiteral("d.dat")));
        ASSERT_TRUE(inPlace.ok) << inPlace.error.toStdString();
        EXPECT_GE(inPlace.digests.size(), 2u);
        EXPECT_EQ(inPlace.digests, driver.scan.digests);
        EXPECT_EQ(inPlace.problem, QString());
        EXPECT_GT(driver.bytes.size(), 1000);
        EXPECT_TRUE(fileBytes(r.paths.at(i)) == driver.bytes);
    }
    adtg::AdtgRecordset rs;
    ASSERT_TRUE(rs.open(r.paths.at(1)));
    EXPECT_EQ(rs.field(u"GZDW").toText(), QString(longText, QChar(0x4E2D)));
}

TEST_P(BackupDataFilesDb, TextWithNulReadInPlaceIsRefusedAsThroughTheDriver)
{
    // A NUL inside a text cannot be restored: the month is not written, and the file and the
    // problem named are those of the driver's values.
    const QString period = QStringLiteral("200809");
    QSqlQuery update(db->connection().database());
    ASSERT_TRUE(update.prepare(QStringLiteral("update KJSDSBGB set BZ=? where FFYF=? and KJYWRBM=?")));
    update.addBindValue(QStringLiteral("前\0后"));
    update.addBindValue(period);
    update.addBindValue(agent);
    ASSERT_TRUE(update.exec()) << update.lastError().text().toStdString();

    bool ran = false;
    std::unique_ptr<adtg::SelectedRows> rows = SelectMonthRows(2, period, agent, &ran);
    ASSERT_TRUE(rows);
    const QString path = work.filePath(QStringLiteral("in-place.dat"));
    QString error;
    ASSERT_TRUE(adtg::SaveRecordsetAdtg(*rows, db->connection().database(), QStringLiteral("KJSDSBGB"), path, &error))
        << error.toStdString();
    const MonthRowsScan inPlace = DigestSelectedRows(*rows, db->connection().database(), 2);
    rows.reset();
    const DriverReading driver =
        readThroughDriver(db->connection().database(), 2, period, agent, work.filePath(QStringLiteral("d.dat")));
    EXPECT_TRUE(fileBytes(path) == driver.bytes);
    EXPECT_TRUE(fileBytes(path).contains(QByteArray("\x4D\x52\x00\x00\x0E\x54", 6))); // 前 NUL 后, UTF-16LE
    EXPECT_TRUE(inPlace.problem.contains(QStringLiteral("NUL"))) << inPlace.problem.toStdString();
    EXPECT_EQ(inPlace.problem, driver.scan.problem);
    EXPECT_EQ(inPlace.digests, driver.scan.digests);

    QSqlQuery query;
    const MonthDataFilesResult r = WriteMonthDataFiles(work.path(), period, agent, query);
    EXPECT_EQ(r.outcome, MonthDataFilesResult::Unrestorable);
    EXPECT_EQ(r.error, driver.scan.problem);
    EXPECT_FALSE(QFile::exists(BackupDataFilePath(work.path(), QStringLiteral("KJSDSBGB_YYYYMM.dat"), period)));
}

TEST_P(BackupDataFilesDb, MonthWithoutRowsGivesFilesWithColumnsOnly)
{
    QSqlQuery query;
    const MonthDataFilesResult r = WriteMonthDataFiles(work.path(), QStringLiteral("200101"), agent, query);
    ASSERT_EQ(r.outcome, MonthDataFilesResult::Written) << r.error.toStdString();
    ASSERT_EQ(r.paths.size(), 3);
    EXPECT_TRUE(r.paths.at(1).endsWith(QLatin1String("/2001/FGZXJB_200101.dat")));
    const int columns[3] = {33, 29, 30};
    for (int i = 0; i < 3; ++i) {
        adtg::AdtgRecordset rs;
        ASSERT_TRUE(rs.open(r.paths.at(i))) << rs.errorString().toStdString();
        EXPECT_EQ(rs.recordCount(), 0);
        EXPECT_TRUE(rs.eof());
        EXPECT_EQ(rs.fieldCount(), columns[i]);
        EXPECT_GE(rs.fieldIndex(u"KJYWRBM"), 0);
    }
}

TEST_P(BackupDataFilesDb, FailingStatementStopsBeforeLaterTables)
{
    db->exec(QStringLiteral("drop table FGZXJB"));
    QSqlQuery query;
    const MonthDataFilesResult r = WriteMonthDataFiles(work.path(), QStringLiteral("200806"), agent, query);
    EXPECT_EQ(r.outcome, MonthDataFilesResult::QueryFailed);
    EXPECT_EQ(r.failedIndex, 1);
    ASSERT_EQ(r.paths.size(), 1);
    EXPECT_TRUE(QFile::exists(r.paths.at(0)));
    EXPECT_FALSE(QFile::exists(
        BackupDataFilePath(work.path(), QStringLiteral("KJSDSBGB_YYYYMM.dat"), QStringLiteral("200806"))));
}

// On MariaDB a month's rows stream into the files as the server sends them.
class BackupDataFilesStreamed : public BackupDataFilesDb
{};

TEST_P(BackupDataFilesStreamed, ConnectionLostWhileTheRowsStreamInWritesNoMonth)
{
    // A month of over 20,000 wage rows: more than the socket holds, so that most of them are still to
    // come from the server when the connection goes.
    QStringList columns;
    QSqlQuery names =
        db->exec(QStringLiteral("select COLUMN_NAME from information_schema.COLUMNS where "
                                "TABLE_SCHEMA=database() and TABLE_NAME='ZCGZXJMXB' and COLUMN_KEY<>'PRI' "
                                "order by ORDINAL_POSITION"));
    while (names.next())
        columns << names.value(0).toString();
    ASSERT_FALSE(columns.isEmpty());
    const QString list = columns.join(QLatin1Char(','));
    db->exec(QStringLiteral("insert into ZCGZXJMXB (%1) select %1 from ZCGZXJMXB, seq_1_to_5000 where FFYF='200806' "
                            "and KJYWRBM='%2'")
                 .arg(list, agent));
    const int selected =
        db->count(QStringLiteral("select count(*) from ZCGZXJMXB where FFYF='200806' and KJYWRBM='%1'").arg(agent));
    ASSERT_GE(selected, 20000) << db->error().toStdString();

    // Another session ends the host connection's session at the first pass of events.
    std::unique_ptr<HostConnection> admin = host::openHostConnection(db->location(), nullptr);
    ASSERT_TRUE(admin);
    QSqlQuery id(db->connectionPtr()->database());
    ASSERT_TRUE(id.exec(QStringLiteral("select connection_id()")) && id.next());
    const QString session = id.value(0).toString();
    id.finish();
    bool killed = false;
    MonthDataFilesOptions options;
    options.pump = [&] {
        if (!killed) {
            killed = true;
            QSqlQuery(admin->database()).exec(QStringLiteral("kill connection ") + session);
        }
    };
    QSqlQuery query;
    const MonthDataFilesResult r = WriteMonthDataFiles(work.path(), QStringLiteral("200806"), agent, query, options);
    ASSERT_TRUE(killed);
    // The half that arrived is neither saved nor passed off as the month.
    EXPECT_EQ(r.outcome, MonthDataFilesResult::SelectionUnreadable) << r.error.toStdString();
    EXPECT_EQ(r.failedIndex, 0);
    EXPECT_TRUE(r.paths.isEmpty());
    EXPECT_FALSE(QFile::exists(
        BackupDataFilePath(work.path(), QStringLiteral("ZCGZXJMXB_YYYYMM.dat"), QStringLiteral("200806"))));
}

INSTANTIATE_TEST_SUITE_P(Kinds, BackupDataFilesDb, SJQL_DATABASE_KINDS);
INSTANTIATE_TEST_SUITE_P(Kinds, BackupDataFilesStreamed, testing::Values("MYSQL"), sjql::test::kindName);
