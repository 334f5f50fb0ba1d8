// SPDX-License-Identifier: MIT
#include "db/RunQuery.h"

#include "db/SqlLiteral.h"
#include "helpers/ModuleHost.h"
#include "helpers/TestDatabase.h"
#include "hostapi/Gbk.h"

using namespace sjql;
using sjql::test::TestDatabase;

namespace {

class HostQuery : public testing::TestWithParam<const char*>
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_logDir.isValid());
        SetSqlLogFolderOverride(m_logDir.path());
        SetSqlLogClock([] { return QDateTime(QDate(2024, 3, 5), QTime(9, 7, 3)); });
        m_db = std::make_unique<TestDatabase>(QString::fromLatin1(GetParam()));
        ASSERT_TRUE(m_db->ok()) << m_db->error().toStdString();
        test::publishHost(m_db->connectionPtr(), QString::fromLatin1(GetParam()));
        QSqlQuery q;
        ASSERT_TRUE(RunQuery(QStringLiteral("create table T (ID integer, NAME varchar(40))"), q, false));
    }
    void TearDown() override
    {
        test::unpublishHost();
        SetSqlLogFolderOverride(QString());
        SetSqlLogClock(nullptr);
    }
    qint64 rows() { return m_db->count(QStringLiteral("select count(*) from T")); }
    QByteArray log() { return test::readLog(QDate(2024, 3, 5)); }

    QTemporaryDir m_logDir;
    std::unique_ptr<TestDatabase> m_db;
};

} // namespace

TEST_P(HostQuery, StatementsAndSelectsShareOneQueryObject)
{
    QSqlQuery q;
    ASSERT_TRUE(RunQuery(QStringLiteral("insert into T values (1, '王伟')"), q, false));
    ASSERT_TRUE(RunQuery(QStringLiteral("insert into T values (2, 'O''Brien')"), q, false));
    EXPECT_FALSE(q.isActive()); // a statement leaves the query closed

    ASSERT_TRUE(RunQuery(QStringLiteral("select NAME from T order by ID"), q, true));
    ASSERT_TRUE(q.next());
    EXPECT_EQ(q.value(0).toString(), QStringLiteral("王伟"));
    ASSERT_TRUE(q.next());
    EXPECT_EQ(q.value(QStringLiteral("name")).toString(), QStringLiteral("O'Brien"));
    EXPECT_FALSE(q.next());

    // No rows: still a success, and the query is at its end at once.
    ASSERT_TRUE(RunQuery(QStringLiteral("select NAME from T where ID=99"), q, true));
    EXPECT_TRUE(q.isActive());
    EXPECT_FALSE(q.next());
    EXPECT_TRUE(log().isEmpty());
}

TEST_P(HostQuery, FailingStatementLogsOnceAndTheQueryStaysUsable)
{
    QSqlQuery q;
    const QString bad = QStringLiteral("selec NAME\r\nfrom T");
    EXPECT_FALSE(RunQuery(bad, q, true));
    const QString text = fromGbk(QByteArrayView(log()));
    EXPECT_TRUE(text.startsWith(QStringLiteral("2024/3/5 9:07:03  [eror]SQL:selec NAME\r\nfrom T\r\n原因：")))
        << text.toStdString();
    EXPECT_TRUE(text.endsWith(QStringLiteral("\r\n")));
    EXPECT_EQ(text.count(QStringLiteral("[eror]SQL:")), 1);
    EXPECT_EQ(text.count(QStringLiteral("原因：")), 1);

    // An insert into a missing table fails as a statement; the same query object then works.
    EXPECT_FALSE(RunQuery(QStringLiteral("insert into NOPE values (1)"), q, false));
    ASSERT_TRUE(RunQuery(QStringLiteral("insert into T values (3, 'x')"), q, false));
    ASSERT_TRUE(RunQuery(QStringLiteral("select count(*) from T"), q, true));
    ASSERT_TRUE(q.next());
    EXPECT_EQ(q.value(0).toInt(), 1);
    EXPECT_EQ(fromGbk(QByteArrayView(log())).count(QStringLiteral("[eror]SQL:")), 2);
}

TEST_P(HostQuery, StatementTextIsOneStatementRunAsGiven)
{
    QSqlQuery q;
    // On SQLite a second statement behind the first is refused as a whole: nothing of it runs.
    // (The MariaDB client library as the host opens it runs both; the module's statements never
    // hold a second one, as every value in them is quoted.)
    const int refused = m_db->sqlite() ? 1 : 0;
    if (m_db->sqlite()) {
        EXPECT_FALSE(
            RunQuery(QStringLiteral("insert into T values (1, 'a'); insert into T values (2, 'b')"), q, false));
        EXPECT_EQ(rows(), 0);
        EXPECT_EQ(fromGbk(QByteArrayView(log())).count(QStringLiteral("[eror]SQL:insert into T values (1, 'a'); ")), 1);
    }

    // Blanks and line ends around one statement are no second statement; non-ASCII text and
    // quotes arrive unchanged.
    ASSERT_TRUE(RunQuery(QStringLiteral("\r\n insert into T values (3, '张''三 ü')\r\n  "), q, false));
    ASSERT_TRUE(RunQuery(QStringLiteral("select NAME from T where ID=3"), q, true));
    ASSERT_TRUE(q.next());
    EXPECT_EQ(q.value(0).toString(), QStringLiteral("张'三 ü"));

    // A constraint failure while the statement runs (not while it is read) fails and is logged.
    ASSERT_TRUE(RunQuery(QStringLiteral("create unique index T_ID on T(ID)"), q, false));
    EXPECT_FALSE(RunQuery(QStringLiteral("insert into T values (3, 'again')"), q, false));
    EXPECT_EQ(m_db->count(QStringLiteral("select count(*) from T where ID=3")), 1);
    EXPECT_EQ(fromGbk(QByteArrayView(log())).count(QStringLiteral("原因：")), refused + 1);

    // A statement that returns rows, run without the select flag, still counts as run.
    EXPECT_TRUE(RunQuery(QStringLiteral("select ID from T"), q, false));
    EXPECT_FALSE(q.isActive());
}

TEST_P(HostQuery, TransactionHelpersNeverNestAndNeverPretend)
{
    QSqlQuery q;
    HostConnection& conn = m_db->connection();
    ASSERT_TRUE(RunQuery(QStringLiteral("insert into T values (1, 'a')"), q, false));
    EXPECT_FALSE(CommitHostTrans());
    EXPECT_FALSE(RollbackHostTrans());
    EXPECT_EQ(rows(), 1);

    EXPECT_TRUE(BeginHostTrans());
    EXPECT_TRUE(BeginHostTrans()); // stays one transaction
    EXPECT_TRUE(conn.inTransaction());
    ASSERT_TRUE(RunQuery(QStringLiteral("insert into T values (2, 'b')"), q, false));
    EXPECT_TRUE(RollbackHostTrans());
    EXPECT_FALSE(conn.inTransaction()); // one rollback ends it all
    EXPECT_EQ(rows(), 1);
    EXPECT_FALSE(RollbackHostTrans());

    EXPECT_TRUE(BeginHostTrans());
    ASSERT_TRUE(RunQuery(QStringLiteral("insert into T values (3, 'c')"), q, false));
    EXPECT_TRUE(CommitHostTrans());
    EXPECT_FALSE(CommitHostTrans());
    EXPECT_EQ(rows(), 2);

    // A transaction begun by a plain statement counts as active too.
    ASSERT_TRUE(RunQuery(m_db->sqlite() ? QStringLiteral("begin") : QStringLiteral("start transaction"), q, false));
    ASSERT_TRUE(RunQuery(QStringLiteral("delete from T"), q, false));
    EXPECT_TRUE(RollbackHostTrans());
    EXPECT_EQ(rows(), 2);

    // A closed connection is opened again by the helpers.
    conn.close();
    EXPECT_TRUE(BeginHostTrans());
    EXPECT_TRUE(conn.connected());
    EXPECT_TRUE(conn.inTransaction());
    EXPECT_TRUE(RollbackHostTrans());
}

TEST_P(HostQuery, WithoutHostConnectionEverythingFailsQuietly)
{
    test::publishHost(nullptr, QString::fromLatin1(GetParam()));
    QSqlQuery q;
    EXPECT_FALSE(RunQuery(QStringLiteral("select 1"), q, true));
    EXPECT_EQ(fromGbk(QByteArrayView(log())).count(QStringLiteral("[eror]SQL:select 1\r\n原因：")), 1);
    EXPECT_FALSE(BeginHostTrans());
    EXPECT_FALSE(CommitHostTrans());
    EXPECT_FALSE(RollbackHostTrans());
}

// Values that end a literal early, escape its closing quote, or both: each finds and deletes its
// own row and no other, and no statement breaks.
TEST_P(HostQuery, QuotedValuesSelectAndDeleteOnlyTheirOwnRow)
{
    const QStringList names{QStringLiteral("A"),
                            QStringLiteral("A'"),
                            QStringLiteral("A\\"),
                            QStringLiteral("A\\'"),
                            QStringLiteral("A''"),
                            QStringLiteral("x' or '1'='1"),
                            QStringLiteral("A\\' or 1=1 -- ")};
    QSqlQuery q;
    for (qsizetype i = 0; i < names.size(); ++i) {
        ASSERT_TRUE(RunQuery(QStringLiteral("insert into T values (%1, ").arg(i) + SqlTextLiteral(names[i]) +
                                 QStringLiteral(")"),
                             q, false));
    }
    auto namesLeft = [&] {
        QStringList left;
        EXPECT_TRUE(RunQuery(QStringLiteral("select NAME from T order by ID"), q, true));
        while (q.next())
            left << q.value(0).toString();
        return left;
    };
    QStringList expected = names;
    ASSERT_EQ(namesLeft(), expected);
    for (const QString& name : names) {
        ASSERT_TRUE(RunQuery(QStringLiteral("select NAME from T where NAME=") + SqlTextLiteral(name), q, true))
            << name.toStdString();
        ASSERT_TRUE(q.next()) << name.toStdString();
        EXPECT_EQ(q.value(0).toString(), name);
        EXPECT_FALSE(q.next()) << name.toStdString();
        ASSERT_TRUE(RunQuery(QStringLiteral("delete from T where NAME=") + SqlTextLiteral(name), q, false));
        expected.removeOne(name);
        EXPECT_EQ(namesLeft(), expected) << name.toStdString();
    }
    EXPECT_TRUE(log().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Db, HostQuery, SJQL_DATABASE_KINDS);

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

TEST(DateToSqlLiteral, FormsByKindAndTypeName)
{
    const QDate d(2024, 3, 5);
    EXPECT_EQ(DateToSqlLiteral(d, dbkAccess), QStringLiteral("#2024-03-05#"));
    EXPECT_EQ(DateToSqlLiteral(d, dbkOracle), QStringLiteral("TO_DATE('2024-03-05', 'YYYY-MM-DD')"));
    for (TDBKind k : {dbkMSDE, dbkSQLServer, dbkMySQL, dbkSQLite})
        EXPECT_EQ(DateToSqlLiteral(d, k), QStringLiteral("'2024-03-05'"));
    // The zero day of the date-time scale keeps four digits.
    EXPECT_EQ(DateToSqlLiteral(QDate(1899, 12, 30), dbkAccess), QStringLiteral("#1899-12-30#"));

    // Through the host's type name: unknown names format like Access, SQLite in any case is quoted.
    const std::pair<const char*, const char*> cases[] = {
        {"MSACCESS", "#2024-03-05#"}, {"Whatever", "#2024-03-05#"}, {"", "#2024-03-05#"},
        {"msde", "#2024-03-05#"},     {"MSDE", "'2024-03-05'"},     {"Oracle", "TO_DATE('2024-03-05', 'YYYY-MM-DD')"},
        {"mysql", "'2024-03-05'"},    {"sqlite", "'2024-03-05'"},   {"SQLITE", "'2024-03-05'"}};
    for (const auto& [type, literal] : cases) {
        test::publishHost(nullptr, QString::fromLatin1(type));
        EXPECT_EQ(DateToSqlLiteral(d), QString::fromLatin1(literal)) << type;
    }
    test::unpublishHost();
}
