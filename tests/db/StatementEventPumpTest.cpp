// SPDX-License-Identifier: MIT
// A timer keeps firing while one long SQLite statement runs, only while the pump lives, and the
// statement's result is untouched.
#include "db/StatementEventPump.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

using namespace sjql;

namespace {

// Far more virtual-machine steps than one progress callback needs, on any machine; the count proves
// the statement ran to its end.
const QString kLongStatement = QStringLiteral(
    "with recursive n(i) as (select 1 union all select i + 1 from n where i < 300000) select count(*) from n");

} // namespace

TEST(StatementEventPump, TimersFireInsideALongStatementOnlyWhileThePumpLives)
{
    QTemporaryDir dir;
    const QString name = QStringLiteral("event-pump");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(dir.filePath(QStringLiteral("p.db")));
        ASSERT_TRUE(db.open());
        int ticks = 0;
        QTimer timer;
        timer.setInterval(0);
        QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
        timer.start();

        QSqlQuery q(db);
        {
            // No least interval: every callback passes through the event loop, however fast the
            // machine runs the statement.
            const StatementEventPump pump(db, 0);
            ASSERT_TRUE(q.exec(kLongStatement));
            ASSERT_TRUE(q.next());
            EXPECT_EQ(q.value(0).toLongLong(), 300000);
            EXPECT_GT(pump.passes(), 0);
        }
        EXPECT_GT(ticks, 0);
        q.finish();

        ticks = 0;
        ASSERT_TRUE(q.exec(kLongStatement));
        ASSERT_TRUE(q.next());
        EXPECT_EQ(ticks, 0); // the callback went with the pump
        q.finish();

        // A closed connection (no handle) is left alone.
        db.close();
        const StatementEventPump idle(db);
        EXPECT_EQ(idle.passes(), 0);
    }
    QSqlDatabase::removeDatabase(name);
}
