// SPDX-License-Identifier: MIT
// Generates about one million history rows and prints the rate:
//   bench_demo_generate [sqlite|mysql|all]
// MariaDB is taken from SJQL_TEST_MYSQL_URL (a database "sjql_bench" is created there).
#include "host/data/HostDatabase.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <cstdio>

namespace {

int run(const sjql::host::DatabaseLocation& where)
{
    QString error;
    auto conn = sjql::host::openHostConnection(where, &error);
    if (!conn) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    // 6 agents x 730 employees x 120 months, about 2.1 rows per employee and month.
    sjql::host::DemoOptions o;
    o.agents = 6;
    o.employees = 730;
    o.firstYear = 2015;
    o.period = QStringLiteral("202412");
    o.seed = 42;
    sjql::host::DemoResult r;
    QElapsedTimer timer;
    timer.start();
    if (!createDemoDatabase(*conn, where.typeName, o, &r, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    const double seconds = static_cast<double>(timer.elapsed()) / 1000.0;
    std::printf("demo generator %-6s %lld rows in %.1f s: %.0f rows/s\n", qPrintable(where.typeName),
                static_cast<long long>(r.rows), seconds, static_cast<double>(r.rows) / seconds);

    // The module's year list over that many rows (SQLite spells left() as substr()).
    QString sql = QStringLiteral("select left(FFYF,4) from KJSDSBGB where left(FFYF,4)<>'2024'  group by left(FFYF,4) "
                                 "order by left(FFYF,4) desc");
    if (where.typeName == QLatin1String("SQLITE"))
        sql.replace(QStringLiteral("left(FFYF,4)"), QStringLiteral("substr(FFYF,1,4)"));
    timer.restart();
    QSqlQuery q(conn->database());
    int years = 0;
    if (q.exec(sql)) {
        while (q.next())
            ++years;
    }
    std::printf("year list      %-6s %d years in %lld ms\n", qPrintable(where.typeName), years,
                static_cast<long long>(timer.elapsed()));
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QString which = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("all");
    int rc = 0;
    QTemporaryDir dir;
    if (which == QLatin1String("sqlite") || which == QLatin1String("all")) {
        sjql::host::DatabaseLocation where;
        where.sqliteFile = dir.filePath(QStringLiteral("Data.db"));
        rc |= run(where);
    }
    const QString url = qEnvironmentVariable("SJQL_TEST_MYSQL_URL");
    if ((which == QLatin1String("mysql") || which == QLatin1String("all")) && !url.isEmpty()) {
        sjql::host::DatabaseLocation admin;
        admin.typeName = QStringLiteral("MYSQL");
        admin.url = url;
        QString error;
        {
            auto conn = sjql::host::openHostConnection(admin, &error);
            if (!conn ||
                !QSqlQuery(conn->database()).exec(QStringLiteral("CREATE DATABASE IF NOT EXISTS sjql_bench"))) {
                std::fprintf(stderr, "MariaDB: %s\n", qPrintable(error));
                return 1;
            }
        }
        sjql::host::MysqlUrl u;
        if (!sjql::host::parseMysqlUrl(url, &u, &error))
            return 1;
        admin.url = url;
        admin.url.replace(QLatin1Char('/') + u.database, QStringLiteral("/sjql_bench"));
        rc |= run(admin);
    } else if (which == QLatin1String("mysql")) {
        std::fprintf(stderr, "SJQL_TEST_MYSQL_URL is not set\n");
        rc = 1;
    }
    return rc;
}
