// SPDX-License-Identifier: MIT
// Backup-and-clear and restore through sjql-host, as a user runs them: two years of demo data are
// cleared into archives by the window's clear button and brought back through its restore button
// and open dialog; every row of the three history tables is back as it was.
#include "HostProcess.h"
#include "db/TestDatabase.h"

#include <QDir>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QSqlRecord>

#include <gtest/gtest.h>

using sjql::test::TestDatabase;

using sjql::test::HostRun;
using sjql::test::RunHost;

namespace {} // namespace

class RestoreE2e : public testing::TestWithParam<const char*>
{
protected:
    HostRun run(const QStringList& args)
    {
        return RunHost(QStringList{args.first(), QStringLiteral("--home"), home.path()} + args.mid(1), exeDir.path());
    }

    // Every row of the three tables without the generated key, sorted. A connection of its own each
    // time: the clear run compacts an SQLite database by replacing its file.
    static QStringList snapshot(const sjql::host::DatabaseLocation& where)
    {
        QString error;
        auto connection = sjql::host::openHostConnection(where, &error);
        EXPECT_TRUE(connection) << error.toStdString();
        if (!connection)
            return {};
        sjql::HostConnection& c = *connection;
        QStringList rows;
        for (const QString& table : sjql::host::historyTables()) {
            QSqlQuery q(c.database());
            EXPECT_TRUE(q.exec(QStringLiteral("select * from ") + table));
            while (q.next()) {
                QStringList values{table};
                for (int i = 0; i < q.record().count(); ++i)
                    if (q.record().fieldName(i).compare(QLatin1String("id"), Qt::CaseInsensitive) != 0)
                        values << (q.isNull(i) ? QStringLiteral("NULL") : q.value(i).toString());
                rows << values.join(QLatin1Char('|'));
            }
        }
        rows.sort();
        return rows;
    }

    QTemporaryDir home, exeDir;
};

TEST_P(RestoreE2e, ClearedYearsComeBackThroughTheWindow)
{
    ASSERT_TRUE(home.isValid() && exeDir.isValid());
    QStringList init{QStringLiteral("init"),        QStringLiteral("--agents"), QStringLiteral("2"),
                     QStringLiteral("--employees"), QStringLiteral("4"),        QStringLiteral("--years"),
                     QStringLiteral("2008-2009"),   QStringLiteral("--period"), QStringLiteral("201003")};
    // MariaDB: a database of this test's own, which init fills.
    std::unique_ptr<TestDatabase> server;
    sjql::host::DatabaseLocation where;
    if (qstrcmp(GetParam(), "MYSQL") == 0) {
        server = std::make_unique<TestDatabase>(QStringLiteral("MYSQL"));
        ASSERT_TRUE(server->ok()) << server->error().toStdString();
        where = server->location();
        init << QStringLiteral("--db") << where.url;
    } else {
        where.sqliteFile = home.filePath(QStringLiteral("Apps/03/Data/Data.db"));
    }
    const HostRun made = run(init);
    ASSERT_EQ(made.exitCode, 0) << made.err.toStdString();
    const QStringList before = snapshot(where);
    ASSERT_FALSE(before.isEmpty());

    const HostRun cleared = run({QStringLiteral("clear"), QStringLiteral("--years"), QStringLiteral("2008,2009"),
                                 QStringLiteral("--backup-dir"), home.filePath(QStringLiteral("bak"))});
    ASSERT_EQ(cleared.exitCode, 0) << cleared.err.toStdString();
    QStringList archives = cleared.values(QStringLiteral("archive"));
    ASSERT_EQ(archives.size(), 2) << cleared.out.toStdString();
    EXPECT_NE(snapshot(where), before);

    // The archives in the order the user picks them: 2008 first.
    archives.sort();
    const HostRun restored = run(QStringList{QStringLiteral("restore")} + archives);
    ASSERT_EQ(restored.exitCode, 0) << restored.err.toStdString();
    const QStringList lines = restored.values(QStringLiteral("line"));
    ASSERT_EQ(lines.size(), 2) << restored.out.toStdString();
    EXPECT_EQ(lines.at(0), QStringLiteral("数据恢复完成，已恢复的所属期：200801-200812。"));
    EXPECT_TRUE(lines.at(1).startsWith(QStringLiteral("数据恢复完成，已恢复的所属期：200901-")))
        << lines.at(1).toStdString();
    const QStringList after = snapshot(where);
    EXPECT_EQ(after.size(), before.size());
    EXPECT_TRUE(after == before);
    // Nothing of the unpacked archives is left behind.
    EXPECT_FALSE(QDir(home.filePath(QStringLiteral("Apps/16/TEMP/TMPBFMU/UnZipDir"))).exists());
}

INSTANTIATE_TEST_SUITE_P(Kinds, RestoreE2e, SJQL_DATABASE_KINDS);
