// SPDX-License-Identifier: MIT
// A demo installation made by sjql-host init, as a user makes one, on either database kind, and
// the history rows its database holds.
#pragma once

#include "helpers/HostProcess.h"
#include "helpers/TestDatabase.h"

#include <QSqlRecord>

#include <gtest/gtest.h>

#include <memory>

namespace sjql::test {

// Every row of the three history tables without the generated key, as "table|value|...", sorted.
// A connection of its own each time, since a clear compacts an SQLite database by replacing its
// file.
inline QStringList historySnapshot(const host::DatabaseLocation& where)
{
    QString error;
    auto connection = host::openHostConnection(where, &error);
    EXPECT_TRUE(connection) << error.toStdString();
    if (!connection)
        return {};
    QStringList rows;
    for (const QString& table : host::historyTables()) {
        QSqlQuery q(connection->database());
        q.setForwardOnly(true);
        EXPECT_TRUE(q.exec(QStringLiteral("select * from ") + table));
        // The record once per table: building it for every value costs seconds on MariaDB.
        const QSqlRecord record = q.record();
        QList<int> columns;
        for (int i = 0; i < record.count(); ++i) {
            if (record.fieldName(i).compare(QLatin1String("id"), Qt::CaseInsensitive) != 0)
                columns << i;
        }
        while (q.next()) {
            QStringList values{table};
            for (const int i : columns)
                values << (q.isNull(i) ? QStringLiteral("NULL") : q.value(i).toString());
            rows << values.join(QLatin1Char('|'));
        }
    }
    rows.sort();
    return rows;
}

class DemoInstallation : public HostFolders
{
public:
    // sjql-host init with `options` on a database of `kind`: "SQLITE", the installation's own file;
    // "MYSQL", a database of this installation's own on the test server, dropped with the object.
    testing::AssertionResult init(const char* kind, const QStringList& options)
    {
        QStringList args = QStringList{QStringLiteral("init")} + options;
        if (qstrcmp(kind, "MYSQL") == 0) {
            server = std::make_unique<TestDatabase>(QStringLiteral("MYSQL"));
            if (!server->ok())
                return testing::AssertionFailure() << server->error().toStdString();
            database = server->location();
            args << QStringLiteral("--db") << database.url;
        } else {
            database = host::DatabaseLocation();
            database.sqliteFile = home.filePath(QStringLiteral("Apps/03/Data/Data.db"));
        }
        const HostRun made = on(args);
        if (made.exitCode != 0)
            return testing::AssertionFailure() << "init ended with " << made.exitCode << ": " << made.err.toStdString();
        return testing::AssertionSuccess();
    }

    std::unique_ptr<TestDatabase> server; // MariaDB: the database of this installation, which init fills
    host::DatabaseLocation database;      // where the installation's database is
};

} // namespace sjql::test
