// SPDX-License-Identifier: MIT
// The restore's statement feed: statements in row order to the end of the file, a row that cannot
// be built reaching the consumer after the rows before it, a consumer that stops early with the
// reader joined and its read-ahead bounded, and a full queue that never stalls the two sides.
#include "jobs/StatementFeed.h"

#include "support/AdtgReader.h"
#include "support/AdtgWriter.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <future>
#include <stdexcept>
#include <thread>

using namespace sjql;
using namespace std::chrono_literals;

namespace {

// "insert <NAME>" for the row. A row named "bad" cannot be built and says so, one named "silent"
// fails without a word, one named "throw" makes the builder throw.
bool buildRow(const adtg::AdtgRecordset& rows, TDBKind, QString& sql, QString* error)
{
    const QString name = rows.field(0).toText();
    if (name == QLatin1String("bad")) {
        *error = QStringLiteral("row %1 cannot be built").arg(rows.position() + 1);
        return false;
    }
    if (name == QLatin1String("silent"))
        return false;
    if (name == QLatin1String("throw"))
        throw std::runtime_error("builder gave up");
    sql += QStringLiteral("insert ") + name;
    return true;
}

// A recordset of `count` rows named r0, r1, ...; the row at `special` (if any) gets `specialName`.
void openRows(adtg::AdtgRecordset& rows, int count, int special = -1, const QString& specialName = {})
{
    adtg::AdtgWriter writer({adtg::AdtgColumn::fromAdoType(QStringLiteral("NAME"), adtg::adVarWChar, 20, false)});
    ASSERT_TRUE(writer.isValid()) << writer.errorString().toStdString();
    for (int i = 0; i < count; ++i)
        ASSERT_TRUE(writer.addRow({i == special ? specialName : QStringLiteral("r%1").arg(i)}));
    ASSERT_TRUE(rows.openData(writer.toBytes(), QStringLiteral("rows"))) << rows.errorString().toStdString();
}

// Everything the feed gives, then its error.
struct Drained
{
    QStringList statements;
    QString error;
};

Drained drain(StatementFeed& feed)
{
    Drained out;
    while (const QString* sql = feed.next(&out.error))
        out.statements << *sql;
    return out;
}

QStringList expectedStatements(int from, int to)
{
    QStringList list;
    for (int i = from; i < to; ++i)
        list << QStringLiteral("insert r%1").arg(i);
    return list;
}

// Runs `work` and fails the program when it does not finish in time: a deadlocked feed cannot be
// joined, so there is no way on but out.
template <typename Work> void finishesInTime(Work work)
{
    auto done = std::async(std::launch::async, std::move(work));
    if (done.wait_for(30s) != std::future_status::ready) {
        ADD_FAILURE() << "the statement feed is stuck";
        std::_Exit(1);
    }
    done.get();
}

// Far more rows than the queue holds, so the reader waits for the consumer many times over.
constexpr int kManyRows = 5000;
constexpr size_t kReadAhead = (StatementFeed::kQueuedBatches + 2) * StatementFeed::kBatchRows;

} // namespace

TEST(StatementFeed, StatementsComeInRowOrderToTheEndOfTheFile)
{
    finishesInTime([] {
        adtg::AdtgRecordset rows;
        openRows(rows, kManyRows);
        StatementFeed feed(rows, &buildRow, dbkSQLite);
        const Drained out = drain(feed);
        EXPECT_EQ(out.statements, expectedStatements(0, kManyRows));
        EXPECT_TRUE(out.error.isEmpty()) << out.error.toStdString();
        // The end stays the end.
        QString error;
        EXPECT_EQ(feed.next(&error), nullptr);
        EXPECT_TRUE(error.isEmpty());
    });

    // The feed starts at the current row; an empty file or one read to its end gives nothing.
    adtg::AdtgRecordset rows;
    openRows(rows, 10);
    for (int i = 0; i < 3; ++i)
        rows.moveNext();
    {
        StatementFeed feed(rows, &buildRow, dbkSQLite);
        EXPECT_EQ(drain(feed).statements, expectedStatements(3, 10));
    }
    {
        StatementFeed feed(rows, &buildRow, dbkSQLite);
        const Drained out = drain(feed);
        EXPECT_TRUE(out.statements.isEmpty());
        EXPECT_TRUE(out.error.isEmpty());
    }
    adtg::AdtgRecordset none;
    openRows(none, 0);
    StatementFeed feed(none, &buildRow, dbkSQLite);
    EXPECT_TRUE(drain(feed).statements.isEmpty());
}

TEST(StatementFeed, ARowThatCannotBeBuiltEndsTheFeedAfterTheRowsBeforeIt)
{
    // In the first batch, in a later one, and far beyond what the queue holds at once.
    for (const int bad : {0, 40, 3000}) {
        SCOPED_TRACE(bad);
        finishesInTime([bad] {
            adtg::AdtgRecordset rows;
            openRows(rows, kManyRows, bad, QStringLiteral("bad"));
            StatementFeed feed(rows, &buildRow, dbkSQLite);
            const Drained out = drain(feed);
            EXPECT_EQ(out.statements, expectedStatements(0, bad));
            EXPECT_EQ(out.error, QStringLiteral("row %1 cannot be built").arg(bad + 1));
        });
    }
    // A builder that gives no reason gets the row named; one that throws hands its text over.
    adtg::AdtgRecordset rows;
    openRows(rows, 200, 100, QStringLiteral("silent"));
    {
        StatementFeed feed(rows, &buildRow, dbkSQLite);
        const Drained out = drain(feed);
        EXPECT_EQ(out.statements.size(), 100);
        EXPECT_EQ(out.error, QStringLiteral("第101行无法转换"));
    }
    openRows(rows, 200, 150, QStringLiteral("throw"));
    StatementFeed feed(rows, &buildRow, dbkSQLite);
    const Drained out = drain(feed);
    EXPECT_EQ(out.statements, expectedStatements(0, 150));
    EXPECT_EQ(out.error, QStringLiteral("builder gave up"));
}

TEST(StatementFeed, AConsumerThatStopsEarlyGetsTheReaderJoinedWithItsReadAheadBounded)
{
    adtg::AdtgRecordset rows;
    openRows(rows, kManyRows);
    finishesInTime([&rows] {
        StatementFeed feed(rows, &buildRow, dbkSQLite);
        QString error;
        const QString* first = feed.next(&error);
        ASSERT_NE(first, nullptr);
        EXPECT_EQ(*first, QStringLiteral("insert r0"));
        // Time for the reader to run into the full queue.
        std::this_thread::sleep_for(100ms);
    });
    // The reader is gone: the recordset is the caller's again, and it stopped where the queue was
    // full, not at the end of the file.
    EXPECT_GT(rows.position(), 0);
    EXPECT_LE(size_t(rows.position()), kReadAhead);
    rows.moveFirst();
    EXPECT_EQ(rows.field(0).toText(), QStringLiteral("r0"));

    // Never asked at all: the same.
    finishesInTime([&rows] {
        StatementFeed feed(rows, &buildRow, dbkSQLite);
        std::this_thread::sleep_for(50ms);
    });
    EXPECT_LE(size_t(rows.position()), kReadAhead);
}

TEST(StatementFeed, AFullQueueStallsNeitherSide)
{
    finishesInTime([] {
        adtg::AdtgRecordset rows;
        openRows(rows, kManyRows);
        StatementFeed feed(rows, &buildRow, dbkSQLite);
        // The reader fills the queue and waits; the consumer then takes every statement, pausing
        // now and then so that the reader waits for room again and again.
        std::this_thread::sleep_for(100ms);
        QStringList got;
        QString error;
        while (const QString* sql = feed.next(&error)) {
            got << *sql;
            if (got.size() % 700 == 0)
                std::this_thread::sleep_for(20ms);
        }
        EXPECT_EQ(got, expectedStatements(0, kManyRows));
        EXPECT_TRUE(error.isEmpty());
    });
}
