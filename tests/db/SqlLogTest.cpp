// SPDX-License-Identifier: MIT
#include "db/ModuleHost.h"
#include "hostapi/Gbk.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

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
    }
    void TearDown() override
    {
        SetSqlLogFolderOverride(QString());
        SetSqlLogClock(nullptr);
    }
    QTemporaryDir m_dir;
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

TEST_F(SqlLog, UnwritableFolderLosesTheEntryQuietly)
{
    SetSqlLogFolderOverride(QStringLiteral("/dev/null/not-a-folder"));
    m_now = QDateTime(QDate(2024, 3, 5), QTime(12, 0));
    WriteSqlLog(QStringLiteral("lost"));
    EXPECT_FALSE(QFile::exists(SqlLogFilePath(QDate(2024, 3, 5))));
}
