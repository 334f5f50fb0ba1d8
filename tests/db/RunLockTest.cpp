// SPDX-License-Identifier: MIT
// One backup or restore run at a time per database (and agent on a server): a second run from this
// process, from another connection or from another process is refused at once, and a holder that
// ends, lets go or is killed frees the lock.
#include "db/RunLock.h"

#include "helpers/ModuleHost.h"
#include "helpers/TestDatabase.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QThread>

#include <gtest/gtest.h>

#include <cstdio>
#include <signal.h>

using namespace sjql;

namespace {

const QString kAgent = QStringLiteral("91110000600000001X");

// Where the helper process finds the database: the SQLite file or the MariaDB location.
QString target(test::TestDatabase& db)
{
    return db.sqlite() ? db.location().sqliteFile : db.location().url;
}

// This test program run again as a second process that takes the run lock and holds it until its
// standard input closes (or it is killed).
class LockHolder
{
public:
    LockHolder(const QString& kind, const QString& where, const QString& agent)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("SJQL_RUNLOCK_HELPER_KIND"), kind);
        env.insert(QStringLiteral("SJQL_RUNLOCK_HELPER_TARGET"), where);
        env.insert(QStringLiteral("SJQL_RUNLOCK_HELPER_AGENT"), agent);
        m_process.setProcessEnvironment(env);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QCoreApplication::applicationFilePath(),
                        {QStringLiteral("--gtest_also_run_disabled_tests"),
                         QStringLiteral("--gtest_filter=RunLockHelper.DISABLED_HoldsTheLockUntilStdinCloses")});
    }
    ~LockHolder()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(10000);
        }
    }

    // The helper's next "lock=" line ("held", "busy", "released" or "error ..."), empty on timeout.
    QString next()
    {
        QDeadlineTimer deadline(30000);
        while (!deadline.hasExpired()) {
            while (m_process.canReadLine()) {
                const QString line = QString::fromUtf8(m_process.readLine()).trimmed();
                if (line.startsWith(QLatin1String("lock=")))
                    return line.mid(5);
            }
            if (m_process.state() == QProcess::NotRunning && !m_process.bytesAvailable())
                return {};
            m_process.waitForReadyRead(100);
        }
        return {};
    }
    void letGo() { m_process.closeWriteChannel(); }
    void killHard()
    {
        ::kill(static_cast<pid_t>(m_process.processId()), SIGKILL);
        m_process.waitForFinished(10000);
    }

private:
    QProcess m_process;
};

// The server notices a dead client at once, but drops its locks a moment later.
bool acquireWithin(RunLock& lock, const QString& agent, QString* error, int ms)
{
    QDeadlineTimer deadline(ms);
    while (!lock.acquire(agent, error)) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(50);
    }
    return true;
}

class RunLockTest : public testing::TestWithParam<const char*>
{
protected:
    void SetUp() override
    {
        m_db = std::make_unique<test::TestDatabase>(QString::fromLatin1(GetParam()));
        ASSERT_TRUE(m_db->ok()) << m_db->error().toStdString();
        test::publishHost(m_db->connectionPtr(), m_db->kind(), kAgent);
    }
    void TearDown() override { test::unpublishHost(); }

    std::unique_ptr<test::TestDatabase> m_db;
};

} // namespace

// Not a test of its own: the second process of the tests below (see LockHolder).
TEST(RunLockHelper, DISABLED_HoldsTheLockUntilStdinCloses)
{
    const QString kind = qEnvironmentVariable("SJQL_RUNLOCK_HELPER_KIND");
    ASSERT_FALSE(kind.isEmpty()) << "started by the run-lock tests only";
    host::DatabaseLocation where;
    where.typeName = kind;
    where.sqliteFile = where.url = qEnvironmentVariable("SJQL_RUNLOCK_HELPER_TARGET");
    QString error;
    auto conn = host::openHostConnection(where, &error);
    ASSERT_TRUE(conn) << error.toStdString();
    test::publishHost(conn.get(), kind);
    RunLock lock;
    const bool held = lock.acquire(qEnvironmentVariable("SJQL_RUNLOCK_HELPER_AGENT"), &error);
    std::printf("lock=%s\n", held ? "held" : lock.busy() ? "busy" : qPrintable(QStringLiteral("error ") + error));
    std::fflush(stdout);
    while (std::getchar() != EOF) {
    }
    lock.release();
    std::printf("lock=released\n");
    std::fflush(stdout);
    test::unpublishHost();
}

TEST_P(RunLockTest, SecondRunIsRefusedAtOnceUntilTheFirstLetsGo)
{
    // Another installation on the same database: its own connection.
    QString error;
    auto other = host::openHostConnection(m_db->location(), &error);
    ASSERT_TRUE(other) << error.toStdString();

    RunLock first;
    ASSERT_TRUE(first.acquire(kAgent, &error)) << error.toStdString();
    EXPECT_TRUE(first.held());

    // The same host connection, then the other one.
    RunLock sameConnection;
    EXPECT_FALSE(sameConnection.acquire(kAgent, &error));
    EXPECT_TRUE(sameConnection.busy());
    EXPECT_TRUE(error.startsWith(QStringLiteral("另一个数据备份清理或数据恢复正在"))) << error.toStdString();
    EXPECT_TRUE(error.contains(QStringLiteral("本次未做任何处理"))) << error.toStdString();

    test::publishHost(other.get(), m_db->kind(), kAgent);
    RunLock second;
    error.clear();
    EXPECT_FALSE(second.acquire(kAgent, &error));
    EXPECT_TRUE(second.busy());
    EXPECT_FALSE(second.held());
    EXPECT_FALSE(error.isEmpty());

    // Acquiring again what one holds is no second run.
    EXPECT_TRUE(first.acquire(kAgent, &error));

    first.release();
    EXPECT_FALSE(first.held());
    ASSERT_TRUE(second.acquire(kAgent, &error)) << error.toStdString();
    test::publishHost(m_db->connectionPtr(), m_db->kind(), kAgent);
    EXPECT_FALSE(first.acquire(kAgent, &error));

    // Going out of scope lets go too.
    {
        RunLock scoped;
        second.release();
        ASSERT_TRUE(scoped.acquire(kAgent, &error)) << error.toStdString();
    }
    EXPECT_TRUE(first.acquire(kAgent, &error)) << error.toStdString();

    if (m_db->sqlite()) {
        // Nothing stays beside the database once the lock is let go.
        first.release();
        EXPECT_EQ(QDir(QFileInfo(m_db->location().sqliteFile).path()).entryList(QDir::Files),
                  QStringList{QStringLiteral("Data.db")});
    }
}

TEST_P(RunLockTest, AgentsOnAServerAreLockedApartAndOnAFileTogether)
{
    QString error;
    RunLock first;
    ASSERT_TRUE(first.acquire(kAgent, &error)) << error.toStdString();
    RunLock otherAgent;
    const bool granted = otherAgent.acquire(QStringLiteral("91110000600000002Y"), &error);
    if (m_db->sqlite()) {
        // One writer at a time in a database file: the whole file is one run's.
        EXPECT_FALSE(granted);
        EXPECT_TRUE(otherAgent.busy());
    } else {
        EXPECT_TRUE(granted) << error.toStdString();
        // A long agent code still gets a lock of its own (the server's names are at most 64 long).
        const QString longAgent(80, QLatin1Char('7'));
        RunLock longFirst, longSecond;
        ASSERT_TRUE(longFirst.acquire(longAgent, &error)) << error.toStdString();
        EXPECT_FALSE(longSecond.acquire(longAgent, &error));
        EXPECT_TRUE(longSecond.busy());
        RunLock longOther;
        EXPECT_TRUE(longOther.acquire(longAgent + QLatin1Char('8'), &error)) << error.toStdString();
    }
}

TEST_P(RunLockTest, AnotherProcessBlocksUntilItEndsOrIsKilled)
{
    QString error;
    {
        LockHolder holder(m_db->kind(), target(*m_db), kAgent);
        ASSERT_EQ(holder.next(), QStringLiteral("held"));
        RunLock mine;
        EXPECT_FALSE(mine.acquire(kAgent, &error));
        EXPECT_TRUE(mine.busy()) << error.toStdString();
        holder.letGo();
        ASSERT_EQ(holder.next(), QStringLiteral("released"));
        ASSERT_TRUE(mine.acquire(kAgent, &error)) << error.toStdString();

        // Now the other way round: the other process is refused.
        LockHolder refused(m_db->kind(), target(*m_db), kAgent);
        EXPECT_EQ(refused.next(), QStringLiteral("busy"));
    }
    {
        // A run that dies holding the lock does not block the next one.
        LockHolder holder(m_db->kind(), target(*m_db), kAgent);
        ASSERT_EQ(holder.next(), QStringLiteral("held"));
        RunLock mine;
        EXPECT_FALSE(mine.acquire(kAgent, &error));
        holder.killHard();
        EXPECT_TRUE(acquireWithin(mine, kAgent, &error, 10000)) << error.toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, RunLockTest, SJQL_DATABASE_KINDS);

TEST(RunLockSqlite, EveryPathToTheFileFindsTheSameLock)
{
    test::TestDatabase db(QStringLiteral("SQLITE"));
    ASSERT_TRUE(db.ok()) << db.error().toStdString();
    const QString linkFolder = db.folder() + QStringLiteral("/elsewhere");
    ASSERT_TRUE(QDir().mkpath(linkFolder));
    ASSERT_TRUE(QFile::link(db.location().sqliteFile, linkFolder + QStringLiteral("/Data.db")));
    host::DatabaseLocation viaLink;
    viaLink.sqliteFile = linkFolder + QStringLiteral("/Data.db");
    QString error;
    auto linked = host::openHostConnection(viaLink, &error);
    ASSERT_TRUE(linked) << error.toStdString();

    test::publishHost(db.connectionPtr(), db.kind(), kAgent);
    RunLock first;
    ASSERT_TRUE(first.acquire(kAgent, &error)) << error.toStdString();
    test::publishHost(linked.get(), db.kind(), kAgent);
    RunLock second;
    EXPECT_FALSE(second.acquire(kAgent, &error));
    EXPECT_TRUE(second.busy());
    first.release();
    EXPECT_TRUE(second.acquire(kAgent, &error)) << error.toStdString();
    test::unpublishHost();
}

TEST(RunLockSqlite, NoConnectionIsAReasonNotBusy)
{
    test::unpublishHost();
    RunLock lock;
    QString error;
    EXPECT_FALSE(lock.acquire(kAgent, &error));
    EXPECT_FALSE(lock.busy());
    EXPECT_TRUE(error.contains(QStringLiteral("数据库连接"))) << error.toStdString();
    EXPECT_TRUE(error.contains(QStringLiteral("本次未做任何处理")));
}
