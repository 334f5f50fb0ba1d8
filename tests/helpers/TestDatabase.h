// SPDX-License-Identifier: MIT
// A fresh host database for one test, on SQLite (a file in a temporary folder) or on the private
// MariaDB of the test run (a database of its own, dropped again at the end).
//
// MariaDB comes from SJQL_TEST_MYSQL_URL (scripts/test-all.sh starts one); without it the MariaDB
// cases fail with a message saying so, they are never skipped.
#pragma once

#include "host/data/HostDatabase.h"

#include <QAtomicInt>
#include <QCoreApplication>
#include <QDir>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

namespace sjql::test {

class TestDatabase
{
public:
    // kind: "SQLITE" or "MYSQL".
    explicit TestDatabase(const QString& kind) : m_kind(kind)
    {
        if (kind == QLatin1String("SQLITE")) {
            m_location.typeName = kind;
            m_location.sqliteFile = m_dir.filePath(QStringLiteral("Data/Data.db"));
            m_connection = host::openHostConnection(m_location, &m_error);
            return;
        }
        const QByteArray url = qgetenv("SJQL_TEST_MYSQL_URL");
        if (url.isEmpty()) {
            m_error = QStringLiteral("SJQL_TEST_MYSQL_URL is not set: start a MariaDB with "
                                     "scripts/mariadb-test-server.sh (scripts/test-all.sh does) and export its URL");
            return;
        }
        host::MysqlUrl u;
        if (!host::parseMysqlUrl(QString::fromUtf8(url), &u, &m_error))
            return;
        static QAtomicInt counter;
        m_database =
            QStringLiteral("sjql_t%1_%2").arg(QCoreApplication::applicationPid()).arg(counter.fetchAndAddRelaxed(1));
        host::DatabaseLocation admin;
        admin.typeName = kind;
        admin.url = QString::fromUtf8(url);
        m_admin = host::openHostConnection(admin, &m_error);
        if (!m_admin)
            return;
        QSqlQuery q(m_admin->database());
        if (!q.exec(QStringLiteral("CREATE DATABASE %1 CHARACTER SET utf8mb4").arg(m_database))) {
            m_error = q.lastError().text();
            return;
        }
        m_location.typeName = kind;
        m_location.url = QString::fromUtf8(url);
        const qsizetype slash = m_location.url.indexOf(QLatin1Char('/'), 8);
        const qsizetype query = m_location.url.indexOf(QLatin1Char('?'));
        m_location.url =
            m_location.url.left(slash + 1) + m_database + (query >= 0 ? m_location.url.mid(query) : QString());
        m_connection = host::openHostConnection(m_location, &m_error);
    }

    ~TestDatabase()
    {
        m_connection.reset();
        if (m_admin && !m_database.isEmpty()) {
            QSqlQuery q(m_admin->database());
            (void)q.exec(QStringLiteral("DROP DATABASE IF EXISTS %1").arg(m_database));
        }
    }

    TestDatabase(const TestDatabase&) = delete;
    TestDatabase& operator=(const TestDatabase&) = delete;

    bool ok() const { return m_connection != nullptr; }
    QString error() const { return m_error; }
    const QString& kind() const { return m_kind; }
    bool sqlite() const { return m_kind == QLatin1String("SQLITE"); }
    HostConnection& connection() { return *m_connection; }
    HostConnection* connectionPtr() { return m_connection.get(); }
    const host::DatabaseLocation& location() const { return m_location; }
    QString folder() const { return m_dir.path(); }

    // Runs a statement for test set-up or checks; rows of a select are in the returned query.
    QSqlQuery exec(const QString& sql)
    {
        QSqlQuery q(m_connection->database());
        if (!q.exec(sql))
            m_error = q.lastError().text() + QStringLiteral(" in ") + sql;
        return q;
    }
    qint64 count(const QString& sql)
    {
        QSqlQuery q = exec(sql);
        return q.next() ? q.value(0).toLongLong() : -1;
    }

private:
    QString m_kind;
    QTemporaryDir m_dir;
    host::DatabaseLocation m_location;
    std::unique_ptr<HostConnection> m_admin;
    std::unique_ptr<HostConnection> m_connection;
    QString m_database;
    QString m_error;
};

// The parameter of the database suites: the type name "SQLITE" or "MYSQL".
inline std::string kindName(const testing::TestParamInfo<const char*>& info)
{
    return qstrcmp(info.param, "SQLITE") == 0 ? "SQLite" : "MariaDB";
}
#define SJQL_DATABASE_KINDS testing::Values("SQLITE", "MYSQL"), sjql::test::kindName

// The database of an installation that sjql-host init made in `home`: the test server's database
// when `server` is set (MariaDB), else the installation's own SQLite file, opened into *sqlite.
inline testing::AssertionResult openInstalledDatabase(TestDatabase* server, const QDir& home,
                                                      std::unique_ptr<HostConnection>* sqlite, QSqlDatabase* db)
{
    if (server) {
        *db = server->connection().database();
        return testing::AssertionSuccess();
    }
    host::DatabaseLocation where;
    where.sqliteFile = home.filePath(QStringLiteral("Apps/03/Data/Data.db"));
    QString error;
    *sqlite = host::openHostConnection(where, &error);
    if (!*sqlite)
        return testing::AssertionFailure() << error.toStdString();
    *db = (*sqlite)->database();
    return testing::AssertionSuccess();
}

} // namespace sjql::test
