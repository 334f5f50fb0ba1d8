// SPDX-License-Identifier: MIT
#include "helpers/TestDatabase.h"
#include "host/services/HostServicesAdmin.h"
#include "hostapi/Gbk.h"
#include "hostapi/IITIterface.h"

#include <QSqlError>
#include <QSqlQuery>

#include <cstring>
#include <map>
#include <set>

using sjql::test::TestDatabase;

namespace {

// A result buffer as the module hands it over, with a guard area behind the 256 bytes.
struct ResultBuffer
{
    char bytes[SJQL_IIT_RESULT_BUFFER_SIZE + 64];
    char* ptr = bytes;
    ResultBuffer()
    {
        std::memset(bytes, 0, SJQL_IIT_RESULT_BUFFER_SIZE);
        std::memset(bytes + SJQL_IIT_RESULT_BUFFER_SIZE, 0x5A, 64);
    }
    bool guardIntact() const
    {
        for (int i = 0; i < 64; ++i) {
            if (bytes[SJQL_IIT_RESULT_BUFFER_SIZE + i] != 0x5A)
                return false;
        }
        return true;
    }
    QString text() const { return sjql::fromGbk(bytes); }
};

int canClear(const QString& period, const QString& agent, ResultBuffer* buffer = nullptr)
{
    ResultBuffer local;
    ResultBuffer& b = buffer ? *buffer : local;
    return bCanClearDkdjData(sjql::toGbk(period).constData(), sjql::toGbk(agent).constData(), &b.ptr);
}

int clear(const QString& period, const QString& agent, ResultBuffer* buffer = nullptr)
{
    ResultBuffer local;
    ResultBuffer& b = buffer ? *buffer : local;
    return ClearDKDJData(sjql::toGbk(period).constData(), sjql::toGbk(agent).constData(), &b.ptr);
}

void publish(sjql::HostConnection* connection)
{
    auto& vo = sjql::host::state().valueObject;
    vo.clear();
    sjql::host::VoEntry e;
    e.name = QStringLiteral("qvr_dkdjadoconnection"); // looked up without regard to case
    e.kind = sjql::host::VoEntry::Object;
    e.object = connection;
    vo.push_back(e);
}

class Withholding : public testing::TestWithParam<const char*>
{
protected:
    void SetUp() override
    {
        m_db = std::make_unique<TestDatabase>(QString::fromLatin1(GetParam()));
        ASSERT_TRUE(m_db->ok()) << m_db->error().toStdString();
        sjql::host::DemoOptions o;
        o.agents = 3;
        o.employees = 5;
        o.firstYear = 2018;
        o.period = QStringLiteral("202002");
        QString error;
        ASSERT_TRUE(createDemoDatabase(m_db->connection(), QString::fromLatin1(GetParam()), o, &m_demo, &error))
            << error.toStdString();
        publish(m_db->connectionPtr());
    }
    void TearDown() override { sjql::host::state().valueObject.clear(); }

    // Rows per table of one month and agent.
    std::vector<qint64> rows(const QString& period, const QString& agent)
    {
        std::vector<qint64> out;
        for (const QString& t : sjql::host::historyTables())
            out.push_back(m_db->count(
                QStringLiteral("select count(*) from %1 where FFYF='%2' and KJYWRBM='%3'").arg(t, period, agent)));
        return out;
    }
    qint64 allRows()
    {
        qint64 n = 0;
        for (const QString& t : sjql::host::historyTables())
            n += m_db->count(QStringLiteral("select count(*) from %1").arg(t));
        return n;
    }

    std::unique_ptr<TestDatabase> m_db;
    sjql::host::DemoResult m_demo;
};

} // namespace

TEST_P(Withholding, DemoMonthsGiveEveryAnswer)
{
    const QString a0 = m_demo.agentCodes[0], late = m_demo.agentCodes[2];
    // The documented places of the demo data (second year, first agent).
    EXPECT_EQ(canClear(QStringLiteral("201802"), a0), 0);
    EXPECT_EQ(canClear(QStringLiteral("201903"), a0), 4);
    EXPECT_EQ(canClear(QStringLiteral("201904"), a0), 5);
    EXPECT_EQ(canClear(QStringLiteral("201906"), a0), 2);
    EXPECT_EQ(canClear(QStringLiteral("201907"), a0), 3);
    EXPECT_EQ(canClear(QStringLiteral("201908"), a0), 0); // locked: only the clear refuses
    EXPECT_EQ(canClear(QStringLiteral("201801"), late), 1);
    EXPECT_EQ(canClear(QStringLiteral("201807"), late), 0);
    EXPECT_EQ(canClear(QStringLiteral("202002"), a0), 2); // the period is not declared yet
    EXPECT_EQ(canClear(QStringLiteral("202001"), a0), 3);
    EXPECT_EQ(canClear(QStringLiteral("209901"), a0), 1); // nothing there

    ResultBuffer b;
    EXPECT_EQ(canClear(QStringLiteral("201905"), a0, &b), -1);
    EXPECT_TRUE(b.text().startsWith(QStringLiteral("resultMsg="))) << b.text().toStdString();
    // "=" inside the value is escaped.
    EXPECT_TRUE(b.text().contains(QStringLiteral("SBZT&eq%9"))) << b.text().toStdString();
}

TEST_P(Withholding, DataWithoutDeclarationIsNotDeclared)
{
    const QString a0 = m_demo.agentCodes[0];
    m_db->exec(QStringLiteral("delete from SBZB where SBYF='201810' and KJYWRBM='%1'").arg(a0));
    EXPECT_EQ(canClear(QStringLiteral("201810"), a0), 2);
}

TEST_P(Withholding, ClearRemovesExactlyTheMonthOfTheAgent)
{
    const QString a0 = m_demo.agentCodes[0], a1 = m_demo.agentCodes[1];
    const auto month = rows(QStringLiteral("201811"), a0);
    ASSERT_GT(month[0], 0);
    ASSERT_GT(month[2], 0);
    const qint64 monthTotal = month[0] + month[1] + month[2];
    const auto otherAgent = rows(QStringLiteral("201811"), a1);
    const auto otherMonth = rows(QStringLiteral("201812"), a0);
    const qint64 before = allRows();
    const qint64 declarations = m_db->count(QStringLiteral("select count(*) from SBZB"));

    ResultBuffer b;
    ASSERT_EQ(clear(QStringLiteral("201811"), a0, &b), 0) << b.text().toStdString();
    EXPECT_EQ(rows(QStringLiteral("201811"), a0), (std::vector<qint64>{0, 0, 0}));
    EXPECT_EQ(rows(QStringLiteral("201811"), a1), otherAgent);
    EXPECT_EQ(rows(QStringLiteral("201812"), a0), otherMonth);
    EXPECT_EQ(allRows(), before - monthTotal);
    EXPECT_EQ(m_db->count(QStringLiteral("select count(*) from SBZB")), declarations);
    EXPECT_FALSE(m_db->connection().inTransaction());
    // Nothing left to clear now; clearing again is harmless.
    EXPECT_EQ(canClear(QStringLiteral("201811"), a0), 1);
    EXPECT_EQ(clear(QStringLiteral("201811"), a0), 0);
}

TEST_P(Withholding, LargeMonthGoesAllAtOnce)
{
    // A month of thousands of rows.
    const QString a0 = m_demo.agentCodes[0], a1 = m_demo.agentCodes[1];
    ASSERT_TRUE(m_db->connection().beginTrans());
    QSqlQuery q(m_db->connection().database());
    for (int i = 0; i < 9001; ++i) {
        ASSERT_TRUE(q.exec(
            QStringLiteral("insert into ZCGZXJMXB (KJYWRBM, FFYF, XM) values ('%1', '201811', 'n%2')").arg(a0).arg(i)))
            << q.lastError().text().toStdString();
    }
    ASSERT_TRUE(m_db->connection().commitTrans());
    const auto before = rows(QStringLiteral("201811"), a0);
    const auto otherAgent = rows(QStringLiteral("201811"), a1);
    ASSERT_GT(before[0], 9001);

    // Within a caller's transaction its rollback brings every row back.
    ASSERT_TRUE(m_db->connection().beginTrans());
    ASSERT_EQ(clear(QStringLiteral("201811"), a0), 0);
    EXPECT_EQ(rows(QStringLiteral("201811"), a0), (std::vector<qint64>{0, 0, 0}));
    ASSERT_TRUE(m_db->connection().rollbackTrans());
    EXPECT_EQ(rows(QStringLiteral("201811"), a0), before);

    // On its own it clears the whole month and nothing else.
    ResultBuffer b;
    ASSERT_EQ(clear(QStringLiteral("201811"), a0, &b), 0) << b.text().toStdString();
    EXPECT_EQ(rows(QStringLiteral("201811"), a0), (std::vector<qint64>{0, 0, 0}));
    EXPECT_EQ(rows(QStringLiteral("201811"), a1), otherAgent);
    EXPECT_FALSE(m_db->connection().inTransaction());
}

TEST_P(Withholding, LockedMonthIsRefusedAndKept)
{
    const QString a0 = m_demo.agentCodes[0];
    const auto before = rows(QStringLiteral("201908"), a0);
    ResultBuffer b;
    EXPECT_NE(clear(QStringLiteral("201908"), a0, &b), 0);
    EXPECT_TRUE(b.text().startsWith(QStringLiteral("resultMsg="))) << b.text().toStdString();
    EXPECT_TRUE(b.text().contains(QStringLiteral("201908")));
    EXPECT_EQ(rows(QStringLiteral("201908"), a0), before);
}

TEST_P(Withholding, ClearJoinsTheCallersTransaction)
{
    const QString a0 = m_demo.agentCodes[0];
    const auto before = rows(QStringLiteral("201810"), a0);
    ASSERT_TRUE(m_db->connection().beginTrans());
    ASSERT_EQ(clear(QStringLiteral("201810"), a0), 0);
    EXPECT_TRUE(m_db->connection().inTransaction());
    EXPECT_EQ(rows(QStringLiteral("201810"), a0), (std::vector<qint64>{0, 0, 0}));
    ASSERT_TRUE(m_db->connection().rollbackTrans());
    EXPECT_EQ(rows(QStringLiteral("201810"), a0), before);
}

TEST_P(Withholding, FailuresAnswerWithEscapedBoundedText)
{
    const QString a0 = m_demo.agentCodes[0];
    ResultBuffer b;
    EXPECT_EQ(clear(QStringLiteral("201813"), a0, &b), -1);
    EXPECT_TRUE(b.text().contains(QStringLiteral("201813"))) << b.text().toStdString();

    // A long period text full of "=" and ";" and Chinese: the text stops inside the buffer,
    // escapes and characters whole.
    ResultBuffer longText;
    const QString period = QStringLiteral("年=;").repeated(200);
    EXPECT_EQ(clear(period, a0, &longText), -1);
    EXPECT_TRUE(longText.guardIntact());
    const QByteArray raw(longText.bytes);
    EXPECT_LE(raw.size(), 255);
    EXPECT_FALSE(raw.contains('=') && raw.indexOf('=') != raw.indexOf("resultMsg=") + 9);
    EXPECT_FALSE(raw.contains(';'));
    EXPECT_EQ(sjql::toGbk(sjql::fromGbk(QByteArrayView(raw))), raw); // no half character at the end
    const QString text = sjql::fromGbk(QByteArrayView(raw));
    EXPECT_TRUE(text.endsWith(QStringLiteral("年")) || text.endsWith(QStringLiteral("&eq%")) ||
                text.endsWith(QStringLiteral("&lim%")))
        << text.toStdString();

    // No connection published: processing failed, with a reason.
    sjql::host::state().valueObject.clear();
    ResultBuffer none;
    EXPECT_EQ(canClear(QStringLiteral("201810"), a0, &none), -1);
    EXPECT_TRUE(none.text().startsWith(QStringLiteral("resultMsg=")));
    EXPECT_EQ(clear(QStringLiteral("201810"), a0), -1);
    publish(m_db->connectionPtr());
    EXPECT_GT(rows(QStringLiteral("201810"), a0)[0], 0);
}

INSTANTIATE_TEST_SUITE_P(Db, Withholding, SJQL_DATABASE_KINDS);
