// SPDX-License-Identifier: MIT
// Flushing an open SQLite transaction writes its pages to the file without ending it: a rollback
// still undoes everything, a commit keeps everything.
#include "db/TransactionFlush.h"

#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace sjql;

namespace {

class TransactionFlush : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("flush"));
        m_db.setDatabaseName(file());
        ASSERT_TRUE(m_db.open());
        QSqlQuery q(m_db);
        ASSERT_TRUE(q.exec(QStringLiteral("PRAGMA cache_size=-32768"))); // large enough to hold every page
        ASSERT_TRUE(q.exec(QStringLiteral("create table T (ID integer primary key, NAME varchar(200))")));
    }
    void TearDown() override
    {
        m_db.close();
        m_db = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("flush"));
    }
    QString file() const { return m_dir.filePath(QStringLiteral("t.db")); }
    void insertRows(int n)
    {
        QSqlQuery q(m_db);
        ASSERT_TRUE(
            q.exec(QStringLiteral("with recursive n(i) as (select 1 union all select i + 1 from n where i < %1) "
                                  "insert into T (NAME) select printf('%.180d', i) from n")
                       .arg(n)));
    }
    qint64 rows()
    {
        QSqlQuery q(m_db);
        return q.exec(QStringLiteral("select count(*) from T")) && q.next() ? q.value(0).toLongLong() : -1;
    }

    QTemporaryDir m_dir;
    QSqlDatabase m_db;
};

} // namespace

TEST_F(TransactionFlush, WritesThePagesButLeavesTheTransactionOpen)
{
    EXPECT_TRUE(FlushTransactionWrites(m_db)); // no transaction: nothing to do
    const qint64 before = QFileInfo(file()).size();

    ASSERT_TRUE(m_db.transaction());
    insertRows(20000);
    EXPECT_EQ(QFileInfo(file()).size(), before); // still all in the page cache
    ASSERT_TRUE(FlushTransactionWrites(m_db));
    EXPECT_GT(QFileInfo(file()).size(), before + 2 * 1024 * 1024); // now in the file

    // Still one open transaction: the rollback takes every row back out of the file.
    ASSERT_TRUE(m_db.rollback());
    EXPECT_EQ(rows(), 0);
    QSqlQuery q(m_db);
    ASSERT_TRUE(q.exec(QStringLiteral("PRAGMA integrity_check")) && q.next());
    EXPECT_EQ(q.value(0).toString(), QStringLiteral("ok"));
}

TEST_F(TransactionFlush, CommittedRowsAfterAFlushAreAllThere)
{
    ASSERT_TRUE(m_db.transaction());
    insertRows(5000);
    ASSERT_TRUE(FlushTransactionWrites(m_db));
    insertRows(5000);
    ASSERT_TRUE(FlushTransactionWrites(m_db));
    ASSERT_TRUE(m_db.commit());

    QSqlDatabase other = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("flush-reader"));
    other.setDatabaseName(file());
    ASSERT_TRUE(other.open());
    {
        QSqlQuery q(other);
        ASSERT_TRUE(q.exec(QStringLiteral("select count(*) from T")) && q.next());
        EXPECT_EQ(q.value(0).toLongLong(), 10000);
    }
    other.close();
    other = QSqlDatabase();
    QSqlDatabase::removeDatabase(QStringLiteral("flush-reader"));
}

TEST_F(TransactionFlush, AReaderOnTheFileDefersThePagesToTheCommit)
{
    QSqlDatabase reader = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("flush-reader"));
    reader.setDatabaseName(file());
    {
        ASSERT_TRUE(reader.open());
        QSqlQuery r(reader);
        ASSERT_TRUE(r.exec(QStringLiteral("begin")));
        ASSERT_TRUE(r.exec(QStringLiteral("select count(*) from T")) && r.next()); // holds a read lock
        m_db.close();
        m_db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=50"));
        ASSERT_TRUE(m_db.open());
        ASSERT_TRUE(m_db.transaction());
        insertRows(3000);
        EXPECT_TRUE(FlushTransactionWrites(m_db)); // not written yet, and no failure
        r.finish();
        ASSERT_TRUE(r.exec(QStringLiteral("commit")));
        ASSERT_TRUE(FlushTransactionWrites(m_db));
        ASSERT_TRUE(m_db.commit());
        EXPECT_EQ(rows(), 3000);
    }
    reader.close();
    reader = QSqlDatabase();
    QSqlDatabase::removeDatabase(QStringLiteral("flush-reader"));
}

TEST(TransactionFlushOther, ClosedOrForeignConnectionsAreLeftAlone)
{
    EXPECT_TRUE(FlushTransactionWrites(QSqlDatabase()));
    QSqlDatabase memory = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("flush-memory"));
    memory.setDatabaseName(QStringLiteral(":memory:"));
    ASSERT_TRUE(memory.open());
    ASSERT_TRUE(memory.transaction());
    QSqlQuery q(memory);
    ASSERT_TRUE(q.exec(QStringLiteral("create table M (A)")));
    EXPECT_TRUE(FlushTransactionWrites(memory)); // no file to sync is no failure
    EXPECT_TRUE(memory.commit());
    q = QSqlQuery();
    memory.close();
    memory = QSqlDatabase();
    QSqlDatabase::removeDatabase(QStringLiteral("flush-memory"));
}
