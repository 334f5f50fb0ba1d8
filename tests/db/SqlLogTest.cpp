// SPDX-License-Identifier: MIT
#include "context/ModuleContext.h"
#include "db/ModuleLog.h"
#include "helpers/ModuleHost.h"
#include "helpers/ReadOnlyFolder.h"
#include "hostapi/Gbk.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace sjql;

namespace {

class SqlLog : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        SetSqlLogFolderOverride(m_dir.path());
        SetSqlLogClock([this] { return m_now; });
        // The user's data folder of an installed module: a folder of the test's own.
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_xdg.path()));
    }
    void TearDown() override
    {
        SetSqlLogFolderOverride(QString());
        SetSqlLogClock(nullptr);
        qunsetenv("XDG_DATA_HOME");
    }
    QString userLog(const QDate& day) const
    {
        return GetUserDataDir() + QStringLiteral("logs/Vorlem") + day.toString(QStringLiteral("yyyyMMdd")) +
               QStringLiteral(".log");
    }
    QTemporaryDir m_dir;
    QTemporaryDir m_xdg;
    QDateTime m_now;
};

} // namespace

TEST_F(SqlLog, OneFilePerDayAppendedInGbkWithCrLf)
{
    m_now = QDateTime(QDate(2024, 3, 5), QTime(23, 59, 58));
    WriteSqlLog(QStringLiteral("第一条"));
    EXPECT_EQ(SqlLogFilePath(QDate(2024, 3, 5)), m_dir.path() + QStringLiteral("/Vorlem20240305.log"));
    m_now = m_now.addSecs(1);
    WriteSqlLog(QStringLiteral("line one\r\nline two"));
    EXPECT_EQ(test::readLog(QDate(2024, 3, 5)),
              toGbk(QStringLiteral("2024/3/5 23:59:58  第一条\r\n2024/3/5 23:59:59  line one\r\nline two\r\n")));

    // After midnight the next day's file; at exactly midnight the time is left out.
    m_now = QDateTime(QDate(2024, 3, 6), QTime(0, 0));
    WriteSqlLog(QStringLiteral("x"));
    m_now = QDateTime(QDate(2024, 3, 6), QTime(0, 0, 0, 1));
    WriteSqlLog(QStringLiteral("y"));
    EXPECT_EQ(test::readLog(QDate(2024, 3, 6)), QByteArray("2024/3/6  x\r\n2024/3/6 0:00:00  y\r\n"));
}

// An installed module's folder is read-only: the log goes to the user's data folder instead, and
// comes back beside the module once that folder can take it.
TEST_F(SqlLog, AReadOnlyModuleFolderSendsTheLogToTheUsersDataFolder)
{
    const QDate day(2024, 3, 5);
    m_now = QDateTime(day, QTime(12, 0));
    {
        test::ReadOnlyFolder readOnly(m_dir.path());
        ASSERT_TRUE(readOnly.holds());
        EXPECT_EQ(SqlLogFilePath(day), userLog(day));
        EXPECT_TRUE(userLog(day).startsWith(m_xdg.path() + QLatin1Char('/')));
        WriteSqlLog(QStringLiteral("[eror]SQL:select 1\r\n原因：无"));
        WriteSqlLog(QStringLiteral("second"));
    }
    QFile user(userLog(day));
    ASSERT_TRUE(user.open(QIODevice::ReadOnly));
    EXPECT_EQ(user.readAll(), toGbk(QStringLiteral("2024/3/5 12:00:00  [eror]SQL:select 1\r\n原因：无\r\n"
                                                   "2024/3/5 12:00:00  second\r\n")));
    EXPECT_TRUE(QDir(m_dir.path()).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));

    WriteSqlLog(QStringLiteral("beside the module"));
    EXPECT_EQ(SqlLogFilePath(day), m_dir.path() + QStringLiteral("/Vorlem20240305.log"));
    EXPECT_EQ(test::readLog(day), QByteArray("2024/3/5 12:00:00  beside the module\r\n"));
}

TEST_F(SqlLog, WithNowhereToWriteTheEntryIsLostQuietly)
{
    SetSqlLogFolderOverride(QStringLiteral("/dev/null/not-a-folder"));
    qputenv("XDG_DATA_HOME", "/dev/null/not-a-folder-either");
    m_now = QDateTime(QDate(2024, 3, 5), QTime(12, 0));
    WriteSqlLog(QStringLiteral("lost"));
    EXPECT_FALSE(QFile::exists(SqlLogFilePath(QDate(2024, 3, 5))));
    EXPECT_FALSE(QFile::exists(userLog(QDate(2024, 3, 5))));
}

// The run log shares the SQL log's folder and clock under a name of its own; an entry names what
// it concerns, leaving out what is not known, and the year of a month.
TEST_F(SqlLog, TheRunLogSitsBesideItUnderItsOwnName)
{
    const QDate day(2024, 3, 5);
    m_now = QDateTime(day, QTime(9, 7, 3));
    WriteModuleLog({QStringLiteral("A001"), {}, QStringLiteral("201903"), {}}, QStringLiteral("第一行\r\n第二行"));
    WriteModuleLog({QStringLiteral("A001"), QStringLiteral("2019"), {}, QStringLiteral("x.zip")}, QStringLiteral("b"));
    WriteModuleLog({}, QStringLiteral("c"));
    EXPECT_EQ(ModuleLogFilePath(day), m_dir.path() + QStringLiteral("/SjqlRun20240305.log"));
    QFile f(ModuleLogFilePath(day));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(),
              toGbk(QStringLiteral("2024/3/5 9:07:03  agent=A001 year=2019 month=201903  第一行\r\n第二行\r\n"
                                   "2024/3/5 9:07:03  agent=A001 year=2019 archive=x.zip  b\r\n"
                                   "2024/3/5 9:07:03  c\r\n")));
    // The SQL log of the day is a file of its own and stays untouched.
    EXPECT_FALSE(QFile::exists(SqlLogFilePath(day)));

    // Read-only beside the module: the run log follows the SQL log to the user's data folder.
    test::ReadOnlyFolder readOnly(m_dir.path());
    ASSERT_TRUE(readOnly.holds());
    const QDate next(2024, 3, 6);
    m_now = QDateTime(next, QTime(8, 0));
    WriteModuleLog({}, QStringLiteral("d"));
    EXPECT_EQ(ModuleLogFilePath(next), GetUserDataDir() + QStringLiteral("logs/SjqlRun20240306.log"));
    EXPECT_TRUE(QFile::exists(ModuleLogFilePath(next)));
}

// Failed statements are logged with their values: whatever the process's mask, a day's new file of
// either log, and the fallback folder made for them, are the user's alone; a file that was there
// already keeps its mode.
TEST_F(SqlLog, NewLogFilesAndTheirFallbackFolderAreOwnerOnly)
{
    const mode_t previous = ::umask(0);
    const auto modeOf = [](const QString& path) {
        struct stat st
        {};
        return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
    };
    const QDate day(2024, 3, 5);
    m_now = QDateTime(day, QTime(9, 7, 3));
    WriteSqlLog(QStringLiteral("[eror]SQL:insert into ZCGZXJMXB values ('张三','110101199001011234')\r\n原因：x"));
    WriteModuleLog({QStringLiteral("A001"), {}, QStringLiteral("201903"), {}}, QStringLiteral("第一行"));
    EXPECT_EQ(modeOf(SqlLogFilePath(day)), 0600);
    EXPECT_EQ(modeOf(ModuleLogFilePath(day)), 0600);

    ::chmod(QFile::encodeName(SqlLogFilePath(day)).constData(), 0640);
    WriteSqlLog(QStringLiteral("second"));
    EXPECT_EQ(modeOf(SqlLogFilePath(day)), 0640);

    {
        test::ReadOnlyFolder readOnly(m_dir.path());
        ASSERT_TRUE(readOnly.holds());
        const QDate next(2024, 3, 6);
        m_now = QDateTime(next, QTime(8, 0));
        WriteSqlLog(QStringLiteral("third"));
        EXPECT_EQ(modeOf(GetUserDataDir() + QStringLiteral("logs")), 0700);
        EXPECT_EQ(modeOf(SqlLogFilePath(next)), 0600);
    }
    ::umask(previous);
}
