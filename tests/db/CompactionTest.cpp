// SPDX-License-Identifier: MIT
#include "db/Compaction.h"

#include "db/RunQuery.h"
#include "db/SqliteHandle.h"
#include "helpers/ModuleHost.h"
#include "host/data/HostDatabase.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QProcess>
#include <QSet>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <sqlite3.h>
#include <sys/file.h>

using namespace sjql;

namespace {

QByteArray fileHash(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256);
}

// The sqlite3 shell on the database file: another program with a connection of its own, which
// waits up to 20 s for a lock as a careful program does. Statements are sent on its input; a
// select of a marker text tells when it got that far.
class OtherProcess
{
public:
    explicit OtherProcess(const QString& file)
    {
        m_process.start(QStringLiteral("sqlite3"), {QStringLiteral("-batch"), file});
        m_process.waitForStarted();
        send(QStringLiteral(".timeout 20000"));
    }
    ~OtherProcess()
    {
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(10000))
            m_process.kill();
        m_process.waitForFinished();
    }

    void send(const QString& statements) { m_process.write((statements + QLatin1Char('\n')).toUtf8()); }

    // True once the shell printed this line (now or earlier), false when not within `ms`.
    bool reached(const QString& line, int ms = 30000)
    {
        QDeadlineTimer deadline(ms);
        for (;;) {
            while (m_process.canReadLine())
                m_lines.insert(QString::fromUtf8(m_process.readLine()).trimmed());
            m_errors += QString::fromUtf8(m_process.readAllStandardError());
            if (m_lines.contains(line))
                return true;
            if (deadline.hasExpired() || m_process.state() == QProcess::NotRunning)
                return false;
            m_process.waitForReadyRead(20);
        }
    }
    // What the shell reported as failing so far.
    QString errors()
    {
        m_errors += QString::fromUtf8(m_process.readAllStandardError());
        return m_errors;
    }

private:
    QProcess m_process;
    QSet<QString> m_lines;
    QString m_errors;
};

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

    qint64 countOf(const QString& table)
    {
        QSqlQuery q(m_conn->database());
        return q.exec(QStringLiteral("select count(*) from ") + table) && q.next() ? q.value(0).toLongLong() : -1;
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

// A compaction killed before it removed its copy leaves tmpData.db (and maybe a journal) behind;
// the next one must not be blocked by it for ever.
TEST_F(Compaction, TemporaryFileOfAKilledCompactionIsUsedAgain)
{
    for (const QString& name : {m_tmpFile, m_tmpFile + QStringLiteral("-journal")}) {
        QFile leftover(name);
        ASSERT_TRUE(leftover.open(QIODevice::WriteOnly));
        leftover.write("what a killed compaction left behind");
    }
    const CompactResult r = CompactAccessDatabase();
    EXPECT_TRUE(r.ran);
    EXPECT_TRUE(r.ok()) << r.error.toStdString();
    EXPECT_FALSE(QFileInfo::exists(m_tmpFile));
    EXPECT_FALSE(QFileInfo::exists(m_tmpFile + QStringLiteral("-journal")));
    EXPECT_TRUE(m_conn->connected());
    EXPECT_EQ(counts(), m_counts);
}

// Another compaction on this machine (another installation) holds the temporary file: this one
// refuses and changes nothing, and the other's file is left alone.
TEST_F(Compaction, TemporaryFileHeldByAnotherCompactionIsRefused)
{
    QFile held(m_tmpFile);
    ASSERT_TRUE(held.open(QIODevice::ReadWrite));
    held.write("another compaction's copy");
    held.flush();
    // flock locks belong to the open file description, so this one conflicts with the compaction's.
    ASSERT_EQ(::flock(held.handle(), LOCK_EX | LOCK_NB), 0);
    const QByteArray hash = fileHash(m_dbFile);

    const CompactResult r = CompactAccessDatabase();
    EXPECT_TRUE(r.ran);
    EXPECT_TRUE(r.error.contains(m_tmpFile)) << r.error.toStdString();
    EXPECT_TRUE(r.error.contains(QStringLiteral("正被另一次压缩使用"))) << r.error.toStdString();
    EXPECT_EQ(fileHash(m_dbFile), hash);
    EXPECT_EQ(fileHash(m_tmpFile), QCryptographicHash::hash("another compaction's copy", QCryptographicHash::Sha256));
    EXPECT_TRUE(m_conn->connected());
    EXPECT_EQ(counts(), m_counts);
}

TEST_F(Compaction, AnotherProcessKeepsItsConnectionAndEveryRowItWrote)
{
    OtherProcess other(m_dbFile);
    other.send(QStringLiteral("create table X (N integer); insert into X values (1); select 'first';"));
    ASSERT_TRUE(other.reached(QStringLiteral("first"))) << other.errors().toStdString();
    const qint64 before = QFileInfo(m_dbFile).size();

    // The other program writes a row after the copy was made, before it is written back.
    bool sent = false;
    SetCompactionFaultHook([&](const QString& step) {
        if (step == QLatin1String("verify") && !sent) {
            sent = true;
            other.send(QStringLiteral("insert into X values (2); select 'second';"));
            (void)other.reached(QStringLiteral("second"), 1000);
        }
        return true;
    });
    const CompactResult r = CompactAccessDatabase();
    SetCompactionFaultHook(nullptr);
    ASSERT_TRUE(r.ok()) << r.error.toStdString();
    EXPECT_TRUE(sent);
    EXPECT_LT(QFileInfo(m_dbFile).size(), before / 2);

    // Its row is there, and its connection goes on working.
    EXPECT_TRUE(other.reached(QStringLiteral("second")));
    other.send(QStringLiteral("insert into X values (3); select 'third', count(*) from X; pragma integrity_check;"));
    EXPECT_TRUE(other.reached(QStringLiteral("third|3"))) << other.errors().toStdString();
    EXPECT_TRUE(other.reached(QStringLiteral("ok")));
    EXPECT_EQ(other.errors(), QString());
    EXPECT_EQ(countOf(QStringLiteral("X")), 3);
    EXPECT_EQ(counts(), m_counts);
    EXPECT_FALSE(QFile::exists(m_tmpFile));
}

TEST_F(Compaction, AnotherProcessInsideATransactionMakesItRefuseAndChangeNothing)
{
    OtherProcess other(m_dbFile);
    other.send(QStringLiteral("create table X (N integer); select 'created';"));
    ASSERT_TRUE(other.reached(QStringLiteral("created")));
    int round = 0;
    // A transaction that has written, and one that has only read.
    for (const char* inside : {"begin immediate; insert into X values (1);", "begin; select count(*) from X;"}) {
        SCOPED_TRACE(inside);
        ++round;
        other.send(QString::fromLatin1(inside) + QStringLiteral(" select 'inside %1';").arg(round));
        ASSERT_TRUE(other.reached(QStringLiteral("inside %1").arg(round)));
        const QByteArray hash = fileHash(m_dbFile);

        QElapsedTimer took;
        took.start();
        const CompactResult r = CompactAccessDatabase();
        EXPECT_LT(took.elapsed(), 15000);
        EXPECT_TRUE(r.ran);
        EXPECT_TRUE(r.error.startsWith(QStringLiteral("数据库文件正被其他程序使用，未压缩"))) << r.error.toStdString();
        EXPECT_EQ(fileHash(m_dbFile), hash);
        EXPECT_FALSE(QFile::exists(m_tmpFile));
        EXPECT_TRUE(m_conn->connected());

        // The other program ends its transaction as it meant to.
        other.send(QStringLiteral("commit; select 'ended %1', count(*) from X;").arg(round));
        EXPECT_TRUE(other.reached(QStringLiteral("ended %1|1").arg(round))) << other.errors().toStdString();
        EXPECT_EQ(counts(), m_counts);
        EXPECT_EQ(countOf(QStringLiteral("X")), 1);
    }
    EXPECT_EQ(other.errors(), QString());
    // Once it is done, the compaction goes through.
    const CompactResult r = CompactAccessDatabase();
    EXPECT_TRUE(r.ok()) << r.error.toStdString();
    EXPECT_EQ(countOf(QStringLiteral("X")), 1);
}

TEST_F(Compaction, AFailureAtAnyStepLosesNothing)
{
    // "write back" a second time: cut off after part of the copy was written into the file.
    const QList<QPair<const char*, int>> faults = {
        {"lock", 1},       {"vacuum", 1},    {"verify", 1},          {"write back", 1},
        {"write back", 2}, {"reconnect", 1}, {"remove temporary", 1}};
    // Enough pages that the copy is written back in several slices.
    ASSERT_TRUE(
        QSqlQuery(m_conn->database())
            .exec(QStringLiteral("create table Filler as with recursive n(i) as (select 1 union all select i + 1 "
                                 "from n where i < 1000) select i, randomblob(1000) as B from n")));
    for (const auto& [step, call] : faults) {
        SCOPED_TRACE(std::string(step) + " #" + std::to_string(call));
        const QByteArray hash = fileHash(m_dbFile);
        int calls = 0;
        SetCompactionFaultHook([step = step, call = call, &calls](const QString& s) {
            return s != QString::fromLatin1(step) || ++calls != call;
        });
        const CompactResult r = CompactAccessDatabase();
        SetCompactionFaultHook(nullptr);
        EXPECT_EQ(calls, call);
        EXPECT_FALSE(r.ok());
        EXPECT_FALSE(r.error.isEmpty());
        const bool compacted = qstrcmp(step, "remove temporary") == 0 || qstrcmp(step, "reconnect") == 0;
        if (!compacted) {
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
        // Nobody is locked out afterwards.
        OtherProcess other(m_dbFile);
        other.send(QStringLiteral("create table if not exists X (N integer); insert into X values (1); "
                                  "select 'written';"));
        EXPECT_TRUE(other.reached(QStringLiteral("written"))) << other.errors().toStdString();
    }
}

// Not a test of its own: the process that KilledWhileWritingBackTheJournalPutsTheFileBack kills.
TEST_F(Compaction, DISABLED_KilledWhileWritingBack)
{
    ASSERT_FALSE(qEnvironmentVariableIsEmpty("SJQL_COMPACTION_KILL_HELPER")) << "started by another test only";
    m_home.setAutoRemove(false); // the parent looks at what is left
    ASSERT_TRUE(
        QSqlQuery(m_conn->database())
            .exec(QStringLiteral("create table Filler as with recursive n(i) as (select 1 union all select i + 1 "
                                 "from n where i < 1000) select i, randomblob(1000) as B from n")));
    std::printf("home=%s\ndb=%s\nhash=%s\n", qPrintable(m_home.path()), qPrintable(m_dbFile),
                fileHash(m_dbFile).toHex().constData());
    std::fflush(stdout);
    int calls = 0;
    SetCompactionFaultHook([&](const QString& step) {
        if (step == QLatin1String("write back") && ++calls == 3) {
            // Part of the copy is in the database file itself, the old pages in the journal.
            sqlite3_db_cacheflush(SqliteHandleOf(m_conn->database()));
            std::raise(SIGKILL);
        }
        return true;
    });
    (void)CompactAccessDatabase();
    ADD_FAILURE() << "not killed";
}

TEST_F(Compaction, KilledWhileWritingBackTheJournalPutsTheFileBack)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("SJQL_COMPACTION_KILL_HELPER"), QStringLiteral("1"));
    QProcess helper;
    helper.setProcessEnvironment(env);
    helper.start(QCoreApplication::applicationFilePath(),
                 {QStringLiteral("--gtest_also_run_disabled_tests"),
                  QStringLiteral("--gtest_filter=Compaction.DISABLED_KilledWhileWritingBack")});
    ASSERT_TRUE(helper.waitForFinished(60000));
    EXPECT_EQ(helper.exitStatus(), QProcess::CrashExit);
    QString home, file, hash;
    for (const QByteArray& line : helper.readAllStandardOutput().split('\n')) {
        if (line.startsWith("home="))
            home = QString::fromLocal8Bit(line.mid(5));
        if (line.startsWith("db="))
            file = QString::fromLocal8Bit(line.mid(3));
        if (line.startsWith("hash="))
            hash = QString::fromLatin1(line.mid(5));
    }
    ASSERT_FALSE(home.isEmpty());
    ASSERT_FALSE(file.isEmpty());
    EXPECT_TRUE(QFile::exists(file + QStringLiteral("-journal")));
    // Cut off half-way: the file holds part of the copy.
    EXPECT_NE(fileHash(file).toHex(), hash.toLatin1());
    {
        // The next connection finds the journal and puts the old pages back.
        OtherProcess other(file);
        other.send(QStringLiteral("select 'rows', count(*) from Filler; pragma integrity_check; select 'done';"));
        EXPECT_TRUE(other.reached(QStringLiteral("rows|1000"))) << other.errors().toStdString();
        EXPECT_TRUE(other.reached(QStringLiteral("ok")));
        EXPECT_TRUE(other.reached(QStringLiteral("done")));
    }
    EXPECT_EQ(fileHash(file).toHex(), hash.toLatin1());
    EXPECT_FALSE(QFile::exists(file + QStringLiteral("-journal")));
    QDir(home).removeRecursively();
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
