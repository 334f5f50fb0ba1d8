// SPDX-License-Identifier: MIT
#include "db/Compaction.h"

#include "db/ModuleHost.h"
#include "db/RunQuery.h"
#include "host/data/HostDatabase.h"

#include <QCryptographicHash>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace sjql;

namespace {

QByteArray fileHash(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256);
}

class Compaction : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_home.isValid());
        m_savedTmp = qgetenv("TMPDIR");
        // tmpData.db goes to the temporary folder: one of this test's own.
        ASSERT_TRUE(QDir().mkpath(m_home.filePath(QStringLiteral("tmp"))));
        qputenv("TMPDIR", m_home.filePath(QStringLiteral("tmp")).toUtf8());
        host::state().homeDir = m_home.path() + QLatin1Char('/');
        m_dbFile = host::subAppPath(QString::fromLatin1(host::kHostAppCode)) + QStringLiteral("Data/Data.db");
        m_tmpFile = m_home.filePath(QStringLiteral("tmp/tmpData.db"));
        SetSqlLogFolderOverride(m_home.path());

        host::DatabaseLocation where;
        where.sqliteFile = m_dbFile;
        QString error;
        m_conn = host::openHostConnection(where, &error);
        ASSERT_TRUE(m_conn) << error.toStdString();
        host::DemoOptions o;
        o.agents = 2;
        o.employees = 12;
        o.firstYear = 2016;
        o.period = QStringLiteral("202006");
        ASSERT_TRUE(createDemoDatabase(*m_conn, QStringLiteral("SQLITE"), o, nullptr, &error)) << error.toStdString();
        // Most of the history goes, as after a backup-and-clear of several years.
        for (const QString& t : host::historyTables())
            ASSERT_TRUE(QSqlQuery(m_conn->database()).exec(QStringLiteral("delete from %1 where FFYF<'2020'").arg(t)));
        m_counts = counts();
        test::publishHost(m_conn.get(), QStringLiteral("SQLITE"));
    }

    void TearDown() override
    {
        SetCompactionFaultHook(nullptr);
        test::unpublishHost();
        SetSqlLogFolderOverride(QString());
        m_conn.reset();
        if (m_savedTmp.isNull())
            qunsetenv("TMPDIR");
        else
            qputenv("TMPDIR", m_savedTmp);
        host::state().homeDir.clear();
    }

    // Rows per table, and the integrity check, through the host connection.
    QStringList counts()
    {
        QStringList out;
        QSqlQuery q(m_conn->database());
        for (const char* t : {"SBZB", "ZCGZXJMXB", "FGZXJB", "KJSDSBGB"}) {
            if (!q.exec(QStringLiteral("select count(*) from %1").arg(QString::fromLatin1(t))) || !q.next())
                return {QStringLiteral("unreadable")};
            out << q.value(0).toString();
        }
        if (!q.exec(QStringLiteral("PRAGMA integrity_check")) || !q.next())
            return {QStringLiteral("unreadable")};
        out << q.value(0).toString();
        return out;
    }

    QTemporaryDir m_home;
    QByteArray m_savedTmp;
    QString m_dbFile, m_tmpFile;
    std::unique_ptr<HostConnection> m_conn;
    QStringList m_counts;
};

} // namespace

TEST_F(Compaction, ShrinksTheFileAndLeavesTheConnectionUsable)
{
    const qint64 before = QFileInfo(m_dbFile).size();
    const CompactResult r = CompactAccessDatabase();
    EXPECT_TRUE(r.ran);
    ASSERT_TRUE(r.ok()) << r.error.toStdString();
    EXPECT_LT(QFileInfo(m_dbFile).size(), before / 2);
    EXPECT_FALSE(QFile::exists(m_tmpFile));
    EXPECT_TRUE(m_conn->connected());
    EXPECT_EQ(counts(), m_counts);
    // The module's own statements run on it at once.
    QSqlQuery q;
    ASSERT_TRUE(RunQuery(QStringLiteral("select count(*) from KJSDSBGB"), q, true));
    ASSERT_TRUE(q.next());
    EXPECT_EQ(q.value(0).toString(), m_counts[3]);
    // Nothing stays beside the database file.
    EXPECT_EQ(QDir(QFileInfo(m_dbFile).path()).entryList(QDir::Files), QStringList{QStringLiteral("Data.db")});
}

TEST_F(Compaction, QueriesStillOpenOnTheConnectionDoNotBlockIt)
{
    // The backup run's query object still holds the rows of its last select.
    QSqlQuery q;
    ASSERT_TRUE(RunQuery(QStringLiteral("select * from KJSDSBGB"), q, true));
    ASSERT_TRUE(q.next());
    const CompactResult r = CompactAccessDatabase();
    ASSERT_TRUE(r.ok()) << r.error.toStdString();
    EXPECT_EQ(counts(), m_counts);
    ASSERT_TRUE(RunQuery(QStringLiteral("select count(*) from SBZB"), q, true));
    ASSERT_TRUE(q.next());
    EXPECT_EQ(q.value(0).toString(), m_counts[0]);
}

TEST_F(Compaction, LeftoverTemporaryFileIsRefusedAndKept)
{
    QFile leftover(m_tmpFile);
    ASSERT_TRUE(leftover.open(QIODevice::WriteOnly));
    leftover.write("what an earlier run left behind");
    leftover.close();
    const QByteArray hash = fileHash(m_dbFile);

    const CompactResult r = CompactAccessDatabase();
    EXPECT_TRUE(r.ran);
    EXPECT_TRUE(r.error.contains(m_tmpFile)) << r.error.toStdString();
    EXPECT_TRUE(r.error.contains(QStringLiteral("already exists")));
    EXPECT_EQ(fileHash(m_dbFile), hash);
    EXPECT_EQ(fileHash(m_tmpFile),
              QCryptographicHash::hash("what an earlier run left behind", QCryptographicHash::Sha256));
    EXPECT_TRUE(m_conn->connected());
    EXPECT_EQ(counts(), m_counts);
}

TEST_F(Compaction, AFailureAtAnyStepLosesNothing)
{
    for (const char* step : {"vacuum", "verify", "close", "replace", "remove temporary", "reconnect"}) {
        SCOPED_TRACE(step);
        const QByteArray hash = fileHash(m_dbFile);
        SetCompactionFaultHook([step](const QString& s) { return s != QString::fromLatin1(step); });
        const CompactResult r = CompactAccessDatabase();
        SetCompactionFaultHook(nullptr);
        EXPECT_FALSE(r.ok());
        EXPECT_FALSE(r.error.isEmpty());
        const bool replaced = qstrcmp(step, "remove temporary") == 0 || qstrcmp(step, "reconnect") == 0;
        if (!replaced) {
            EXPECT_EQ(fileHash(m_dbFile), hash);
        }
        if (qstrcmp(step, "reconnect") == 0) {
            EXPECT_FALSE(m_conn->connected());
            ASSERT_TRUE(m_conn->connect());
        }
        EXPECT_TRUE(m_conn->connected());
        EXPECT_EQ(counts(), m_counts);
        if (qstrcmp(step, "remove temporary") == 0) {
            // Reported, and left where the next run will find and refuse it.
            EXPECT_TRUE(QFile::exists(m_tmpFile));
            ASSERT_TRUE(QFile::remove(m_tmpFile));
        }
        EXPECT_FALSE(QFile::exists(m_tmpFile));
        EXPECT_EQ(QDir(QFileInfo(m_dbFile).path()).entryList(QDir::Files), QStringList{QStringLiteral("Data.db")});
    }
}

TEST_F(Compaction, OnlyTheExactTypeNamesCompact)
{
    const QByteArray hash = fileHash(m_dbFile);
    for (const char* type : {"MYSQL", "MSDE", "MSSQLSERVER", "ORACLE", "sqlite", "Sqlite", "msaccess", ""}) {
        test::publishHost(m_conn.get(), QString::fromLatin1(type));
        const CompactResult r = CompactAccessDatabase();
        EXPECT_FALSE(r.ran) << type;
        EXPECT_TRUE(r.ok()) << type;
    }
    EXPECT_EQ(fileHash(m_dbFile), hash);

    // Access: no Jet engine here; said so, and the connection is left as it was.
    test::publishHost(m_conn.get(), QStringLiteral("MSACCESS"));
    const CompactResult r = CompactAccessDatabase();
    EXPECT_TRUE(r.ran);
    EXPECT_TRUE(r.error.contains(QStringLiteral("Jet"))) << r.error.toStdString();
    EXPECT_TRUE(m_conn->connected());
    EXPECT_EQ(fileHash(m_dbFile), hash);
}

TEST_F(Compaction, ConnectionOnAnotherFileIsNotCompactedOverTheDatabase)
{
    host::DatabaseLocation other;
    other.sqliteFile = m_home.filePath(QStringLiteral("other.db"));
    QString error;
    auto otherConn = host::openHostConnection(other, &error);
    ASSERT_TRUE(otherConn) << error.toStdString();
    ASSERT_TRUE(QSqlQuery(otherConn->database()).exec(QStringLiteral("create table X (A integer)")));
    test::publishHost(otherConn.get(), QStringLiteral("SQLITE"));
    const QByteArray hash = fileHash(m_dbFile);
    const CompactResult r = CompactAccessDatabase();
    EXPECT_FALSE(r.ok());
    EXPECT_TRUE(r.error.contains(QStringLiteral("other.db"))) << r.error.toStdString();
    EXPECT_EQ(fileHash(m_dbFile), hash);
    test::publishHost(m_conn.get(), QStringLiteral("SQLITE"));
}

TEST(JetPassword, ReadByPositionBetweenTheTwoKeys)
{
    EXPECT_EQ(JetPasswordFromConnectionString(
                  QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=C:\\a\\Data.mdb;Jet OLEDB:Database "
                                 "Password=s3cr=t;Jet OLEDB:Engine Type=5;")),
              QStringLiteral("s3cr=t"));
    // Another pair in between ends up in the password, as the position rule reads it.
    EXPECT_EQ(JetPasswordFromConnectionString(
                  QStringLiteral("Jet OLEDB:Database Password=pw;Mode=Share Deny None;Jet OLEDB:Engine Type=5;")),
              QStringLiteral("pw;Mode=Share Deny None"));
    EXPECT_EQ(JetPasswordFromConnectionString(QStringLiteral("Jet OLEDB:Database Password=;Jet OLEDB:Engine Type=5;")),
              QString());
    // Without the engine type pair: the password pair's own value.
    EXPECT_EQ(JetPasswordFromConnectionString(QStringLiteral("Data Source=x;Jet OLEDB:Database Password=pw;Mode=1")),
              QStringLiteral("pw"));
    EXPECT_EQ(JetPasswordFromConnectionString(QStringLiteral("Data Source=x;")), QString());
}
