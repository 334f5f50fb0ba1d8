// SPDX-License-Identifier: MIT
// Values written into statement texts: the literal forms per database kind, and values with quotes
// and backslashes that must find exactly their own rows on SQLite and MariaDB.
#include "db/SqlLiteral.h"

#include "db/RunQuery.h"
#include "helpers/ModuleHost.h"
#include "helpers/TestDatabase.h"

using namespace sjql;
using sjql::test::TestDatabase;

TEST(SqlLiteral, TextAndIdentifierForms)
{
    EXPECT_EQ(SqlTextLiteral(QStringLiteral("201903"), dbkSQLite), QStringLiteral("'201903'"));
    EXPECT_EQ(SqlTextLiteral(QStringLiteral("O'Brien"), dbkAccess), QStringLiteral("'O''Brien'"));
    // Only MySQL reads a backslash as an escape.
    EXPECT_EQ(SqlTextLiteral(QStringLiteral("a\\'b"), dbkSQLite), QStringLiteral("'a\\''b'"));
    EXPECT_EQ(SqlTextLiteral(QStringLiteral("a\\'b"), dbkMySQL), QStringLiteral("'a\\\\''b'"));
    EXPECT_EQ(SqlTextLiteral(QString(), dbkMySQL), QStringLiteral("''"));
    EXPECT_EQ(SqlQuotedIdentifier(QStringLiteral("my \"t\"")), QStringLiteral("\"my \"\"t\"\"\""));
    QString out = QStringLiteral("x=");
    AppendDateLiteral(out, QDate(2019, 3, 1), dbkOracle);
    EXPECT_EQ(out, QStringLiteral("x=TO_DATE('2019-03-01', 'YYYY-MM-DD')"));
    EXPECT_EQ(DateToSqlLiteral(QDate(), dbkSQLite), QStringLiteral("'0000-00-00'"));
}

namespace {

class QuotedValues : public testing::TestWithParam<const char*>
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_logDir.isValid());
        SetSqlLogFolderOverride(m_logDir.path());
        m_db = std::make_unique<TestDatabase>(QString::fromLatin1(GetParam()));
        ASSERT_TRUE(m_db->ok()) << m_db->error().toStdString();
        test::publishHost(m_db->connectionPtr(), QString::fromLatin1(GetParam()));
        QSqlQuery q;
        ASSERT_TRUE(RunQuery(QStringLiteral("create table T (KJYWRBM varchar(40), FFYF varchar(6))"), q, false));
        for (const QString& agent : kAgents) {
            ASSERT_TRUE(RunQuery(QStringLiteral("insert into T values (") + SqlTextLiteral(agent) +
                                     QStringLiteral(", '201903')"),
                                 q, false));
        }
    }
    void TearDown() override
    {
        test::unpublishHost();
        SetSqlLogFolderOverride(QString());
    }
    QStringList agentsLeft()
    {
        QSqlQuery q;
        EXPECT_TRUE(RunQuery(QStringLiteral("select KJYWRBM from T order by KJYWRBM"), q, true));
        QStringList left;
        while (q.next())
            left << q.value(0).toString();
        return left;
    }

    // Codes that end a literal early, escape its closing quote, or both.
    const QStringList kAgents{QStringLiteral("A"),
                              QStringLiteral("A'"),
                              QStringLiteral("A\\"),
                              QStringLiteral("A\\'"),
                              QStringLiteral("A''"),
                              QStringLiteral("x' or '1'='1"),
                              QStringLiteral("A\\' or 1=1 -- ")};
    QTemporaryDir m_logDir;
    std::unique_ptr<TestDatabase> m_db;
};

} // namespace

TEST_P(QuotedValues, EachCodeSelectsAndDeletesOnlyItsOwnRow)
{
    QStringList expected = agentsLeft();
    ASSERT_EQ(expected.size(), kAgents.size());
    for (const QString& agent : kAgents) {
        QSqlQuery q;
        ASSERT_TRUE(RunQuery(QStringLiteral("select KJYWRBM from T where FFYF=") +
                                 SqlTextLiteral(QStringLiteral("201903")) + QStringLiteral(" and KJYWRBM=") +
                                 SqlTextLiteral(agent),
                             q, true))
            << agent.toStdString();
        ASSERT_TRUE(q.next()) << agent.toStdString();
        EXPECT_EQ(q.value(0).toString(), agent);
        EXPECT_FALSE(q.next()) << agent.toStdString();
        q.finish();
        ASSERT_TRUE(RunQuery(QStringLiteral("delete from T where KJYWRBM=") + SqlTextLiteral(agent), q, false));
        expected.removeOne(agent);
        EXPECT_EQ(agentsLeft(), expected) << agent.toStdString();
    }
    EXPECT_TRUE(test::readLog(QDate::currentDate()).isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Db, QuotedValues, SJQL_DATABASE_KINDS);
