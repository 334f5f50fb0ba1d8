// SPDX-License-Identifier: MIT
// Statements run through the client library's non-blocking calls on a MariaDB host connection:
// timers keep firing while the server works, rows and changed-row counts are those of the blocking
// call, failures carry the server's reason, and Qt's driver finds the connection usable afterwards.
#include "db/MysqlStatement.h"

#include "helpers/TestDatabase.h"
#include "hostapi/MysqlNonBlocking.h"

#include <QSqlQuery>
#include <QTimer>

#include <gtest/gtest.h>

#include <mysql.h>

using namespace sjql;
using sjql::test::TestDatabase;

namespace {

class MysqlStatementTest : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_db.ok()) << m_db.error().toStdString();
        m_db.exec(QStringLiteral("create table T (K int primary key, V varchar(20))"));
        m_db.exec(QStringLiteral("insert into T values (1, '甲'), (2, null), (3, 'c''d')"));
        ASSERT_EQ(m_db.count(QStringLiteral("select count(*) from T")), 3) << m_db.error().toStdString();
    }
    QSqlDatabase db() { return m_db.connection().database(); }

    TestDatabase m_db{QStringLiteral("MYSQL")};
};

} // namespace

TEST_F(MysqlStatementTest, TimersFireWhileTheServerWorksAndTheRowsArriveWhole)
{
    int ticks = 0;
    QTimer timer;
    timer.setInterval(0);
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start();

    MysqlResultPtr rows;
    QString reason;
    quint64 count = 0;
    ASSERT_TRUE(
        RunMysqlStatement(db(), QStringLiteral("select K, V, sleep(0.4) from T order by K"), &rows, &reason, &count))
        << reason.toStdString();
    EXPECT_GT(ticks, 2); // three sleeps of 0.4 s, events at most every 50 ms
    ASSERT_TRUE(rows);
    EXPECT_EQ(count, 3u);
    ASSERT_EQ(mysql_num_rows(rows.get()), 3u);
    MYSQL_ROW row = mysql_fetch_row(rows.get());
    EXPECT_STREQ(row[0], "1");
    EXPECT_EQ(QString::fromUtf8(row[1]), QStringLiteral("甲"));
    row = mysql_fetch_row(rows.get());
    EXPECT_EQ(row[1], nullptr); // NULL stays NULL
    row = mysql_fetch_row(rows.get());
    EXPECT_STREQ(row[1], "c'd");
    rows.reset();

    // Qt's driver finds the connection idle: a query right after works, and sees what we saw.
    QSqlQuery q(db());
    ASSERT_TRUE(q.exec(QStringLiteral("select count(*) from T where V is null")));
    ASSERT_TRUE(q.next());
    EXPECT_EQ(q.value(0).toInt(), 1);
}

TEST_F(MysqlStatementTest, EventsAreProcessedWhileAResultStreamsInInShortBursts)
{
    // Rows of 4 KB, one every millisecond: the server sends a few at a time, a few milliseconds
    // apart, for about half a second. No wait runs out its 10 ms slice, yet the caller's events
    // must be processed all along, not only after the last row.
    int calls = 0;
    MysqlResultPtr rows;
    QString reason;
    quint64 count = 0;
    ASSERT_TRUE(RunMysqlStatement(db(),
                                  QStringLiteral("with recursive n(i) as (select 1 union all select i + 1 from n "
                                                 "where i < 400) select i, repeat('x', 4000), sleep(0.001) from n"),
                                  &rows, &reason, &count, [&] { ++calls; }))
        << reason.toStdString();
    EXPECT_EQ(count, 400u);
    EXPECT_GE(calls, 30);
}

TEST_F(MysqlStatementTest, ChangesCountTheirRowsAndJoinTheDriversTransaction)
{
    ASSERT_TRUE(m_db.connection().beginTrans());
    QString reason;
    quint64 changed = 0;
    ASSERT_TRUE(RunMysqlStatement(db(), QStringLiteral("delete from T where K >= 2"), nullptr, &reason, &changed))
        << reason.toStdString();
    EXPECT_EQ(changed, 2u);
    EXPECT_TRUE(m_db.connection().inTransaction());
    ASSERT_TRUE(m_db.connection().rollbackTrans());
    EXPECT_EQ(m_db.count(QStringLiteral("select count(*) from T")), 3); // rolled back with the transaction

    // Rows asked for but not wanted are consumed all the same: the next statement runs.
    ASSERT_TRUE(RunMysqlStatement(db(), QStringLiteral("select * from T"), nullptr, &reason)) << reason.toStdString();
    ASSERT_TRUE(RunMysqlStatement(db(), QStringLiteral("delete from T where K = 1"), nullptr, &reason, &changed));
    EXPECT_EQ(changed, 1u);
    EXPECT_EQ(m_db.count(QStringLiteral("select count(*) from T")), 2);
}

TEST_F(MysqlStatementTest, AFailureGivesTheServersReasonAndLeavesTheConnectionUsable)
{
    MysqlResultPtr rows;
    QString reason;
    EXPECT_FALSE(RunMysqlStatement(db(), QStringLiteral("select * from NoSuchTable"), &rows, &reason));
    EXPECT_FALSE(rows);
    EXPECT_TRUE(reason.contains(QLatin1String("NoSuchTable"))) << reason.toStdString();
    EXPECT_TRUE(reason.endsWith(QLatin1String("QMYSQL: Unable to execute query"))) << reason.toStdString();
    EXPECT_EQ(m_db.count(QStringLiteral("select count(*) from T")), 3);

    // Not a MariaDB connection: refused without touching anything.
    QSqlDatabase sqlite = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("not-mysql"));
    sqlite.setDatabaseName(QStringLiteral(":memory:"));
    ASSERT_TRUE(sqlite.open());
    EXPECT_EQ(MysqlHandleOf(sqlite), nullptr);
    EXPECT_FALSE(RunMysqlStatement(sqlite, QStringLiteral("select 1"), &rows, &reason));
    sqlite.close();
    sqlite = QSqlDatabase();
    QSqlDatabase::removeDatabase(QStringLiteral("not-mysql"));
}

// Once the months before it are deleted, the optimizer's dives overestimate a month so much that
// it reads the whole table for it; with the index's statistics it keeps to the month index. The
// session's own setting is back afterwards.
TEST_F(MysqlStatementTest, AMonthKeepsToItsIndexAfterTheMonthsBeforeItAreCleared)
{
    m_db.exec(QStringLiteral("create table PX (id int auto_increment primary key, A varchar(20), M varchar(6), "
                             "V varchar(200), key IX_PX_MONTH (M, A))"));
    m_db.exec(QStringLiteral("insert into PX (A, M, V) select 'AG', concat('2019', lpad(1 + seq div 2000, 2, '0')), "
                             "repeat('x', 150) from seq_0_to_23999"));
    m_db.exec(QStringLiteral("analyze table PX"));
    for (int month = 1; month <= 7; ++month)
        m_db.exec(QStringLiteral("delete from PX where M='2019%1' and A='AG'").arg(month, 2, 10, QLatin1Char('0')));
    ASSERT_EQ(m_db.count(QStringLiteral("select count(*) from PX")), 10000) << m_db.error().toStdString();
    auto access = [&] {
        QSqlQuery q(db());
        EXPECT_TRUE(q.exec(QStringLiteral("explain select * from PX where M='201908' and A='AG'")));
        return q.next() ? q.value(3).toString() : QString();
    };
    auto setting = [&] { return m_db.count(QStringLiteral("select @@session.eq_range_index_dive_limit")); };
    m_db.exec(QStringLiteral("set session eq_range_index_dive_limit=150"));

    EXPECT_EQ(access(), QStringLiteral("ALL")); // what the month would cost without
    {
        const mysqlnb::EqualityRangesFromStatistics statistics(MysqlHandleOf(db()));
        EXPECT_EQ(access(), QStringLiteral("ref"));
        EXPECT_EQ(setting(), 1);
    }
    EXPECT_EQ(setting(), 150);
    EXPECT_EQ(access(), QStringLiteral("ALL"));
}
