// SPDX-License-Identifier: MIT
// Schema of the host's declaration table and the three history tables, for SQLite and MariaDB.
#include "host/data/HostDatabase.h"

#include <QSqlError>
#include <QSqlQuery>

namespace sjql::host {
namespace {

// Column kinds; the text is written per database below.
enum class Col
{
    Key,
    Text,
    Int,
    Amount,
    Rate,
    Amount4,
    Date
};

struct Column
{
    const char* name;
    Col kind;
    int length = 0; // for Text
};

struct Table
{
    const char* name;
    std::vector<Column> columns;
};

// Column order follows the row builders of the restore, behind an auto-increment key, so a
// "select *" backup carries every column the restore reads back by name.
const std::vector<Table>& tables()
{
    static const std::vector<Table> all = {
        {"SBZB",
         {{"ID", Col::Key},
          {"WYSBH", Col::Text, 40},
          {"SBYF", Col::Text, 6},
          {"KJYWRBM", Col::Text, 30},
          {"SBRQ", Col::Date},
          {"RS", Col::Int},
          {"SRZE", Col::Amount},
          {"YNSE", Col::Amount},
          {"SBZT", Col::Int},   // 0 not declared, 1 declared
          {"FKZT", Col::Int},   // 0 no feedback yet, 1 feedback received
          {"ZCZT", Col::Int},   // self-check: 0 none/finished, 1 not declared, 2 declared without feedback
          {"SDBZ", Col::Int}}}, // 1: month locked by the tax office, the clear is refused
        {"ZCGZXJMXB",
         {{"id", Col::Key},         {"KJYWRBM", Col::Text, 30}, {"GH", Col::Text, 20},    {"XM", Col::Text, 100},
          {"ZZLX", Col::Int},       {"ZZHM", Col::Text, 30},    {"SDXM", Col::Text, 60},  {"QSRQ", Col::Date},
          {"ZZRQ", Col::Date},      {"FFYF", Col::Text, 6},     {"YFGZ", Col::Amount},    {"YLBX", Col::Amount},
          {"YLOBX", Col::Amount},   {"SYBX", Col::Amount},      {"ZFGJJ", Col::Amount},   {"QTMSSD", Col::Amount},
          {"MSXMHJ", Col::Amount},  {"BZSSD", Col::Amount},     {"FYKCBZ", Col::Amount},  {"SJJZE", Col::Amount},
          {"ZYKCJZE", Col::Amount}, {"YNSSDE", Col::Amount},    {"SL", Col::Rate},        {"SSKCS", Col::Amount},
          {"YNSE", Col::Amount},    {"JMSE", Col::Amount},      {"YSBSRE", Col::Amount},  {"CBYNSE", Col::Amount},
          {"CBBZ", Col::Int},       {"SJYNSE", Col::Amount},    {"WYSBH", Col::Text, 40}, {"GXBZ", Col::Int},
          {"zcyf", Col::Text, 6}}},
        {"FGZXJB",
         {{"ID", Col::Key},        {"KJYWRBM", Col::Text, 30}, {"XM", Col::Text, 100},   {"ZZLX", Col::Int},
          {"ZZHM", Col::Text, 30}, {"GZDW", Col::Text, 200},   {"SDXM", Col::Text, 60},  {"QSRQ", Col::Date},
          {"ZZRQ", Col::Date},     {"FFYF", Col::Text, 6},     {"SRE", Col::Amount},     {"YXKCSF", Col::Amount},
          {"FYKCBZ", Col::Amount}, {"SJJZE", Col::Amount},     {"ZYKCJZE", Col::Amount}, {"YNSSDE", Col::Amount},
          {"SL", Col::Rate},       {"SSKCS", Col::Amount},     {"YNSE", Col::Amount},    {"JMSE", Col::Amount},
          {"SJYNSE", Col::Amount}, {"XDSL", Col::Int},         {"WYSBH", Col::Text, 40}, {"GXBZ", Col::Int},
          {"CBBZ", Col::Int},      {"ZCYF", Col::Text, 6},     {"YSBSRE", Col::Amount},  {"CBYNSE", Col::Amount},
          {"ZCID", Col::Int}}},
        {"KJSDSBGB",
         {{"id", Col::Key},          {"KJYWRBM", Col::Text, 30}, {"WYSBH", Col::Text, 40}, {"NSRXM", Col::Text, 100},
          {"ZZLX", Col::Int},        {"ZZHM", Col::Text, 30},    {"SDXM", Col::Text, 60},  {"FFYF", Col::Text, 6},
          {"ZZRQ", Col::Date},       {"QSRQ", Col::Date},        {"SRE", Col::Amount},     {"YLBX", Col::Amount},
          {"YLOBX", Col::Amount},    {"SYBX", Col::Amount},      {"ZFGJJ", Col::Amount},   {"QTMSSD", Col::Amount},
          {"MSXMHJ", Col::Amount},   {"BZSSD", Col::Amount4},    {"FYKCBZ", Col::Amount},  {"YXKCSY", Col::Amount},
          {"ZYKCDJZE", Col::Amount}, {"YNSSDE", Col::Amount},    {"SL", Col::Rate},        {"SSKCS", Col::Amount},
          {"YNSE", Col::Amount},     {"JMSE", Col::Amount},      {"SJYNSE", Col::Amount},  {"BZ", Col::Text, 500},
          {"BS", Col::Int},          {"SFDY", Col::Int}}},
    };
    return all;
}

QString columnType(const Column& c, bool sqlite)
{
    switch (c.kind) {
    case Col::Key:
        return sqlite ? QStringLiteral("INTEGER PRIMARY KEY AUTOINCREMENT")
                      : QStringLiteral("INT NOT NULL AUTO_INCREMENT PRIMARY KEY");
    case Col::Text:
        return QStringLiteral("VARCHAR(%1)").arg(c.length);
    case Col::Int:
        return QStringLiteral("INTEGER");
    case Col::Amount:
        return QStringLiteral("DECIMAL(16,2)");
    case Col::Rate:
        return QStringLiteral("DECIMAL(10,4)");
    case Col::Amount4:
        return QStringLiteral("DECIMAL(16,4)");
    case Col::Date:
        return QStringLiteral("DATE");
    }
    return {};
}

QStringList schemaStatements(bool sqlite)
{
    QStringList out;
    for (const Table& t : tables()) {
        const QString name = QString::fromLatin1(t.name);
        out << QStringLiteral("DROP TABLE IF EXISTS %1").arg(name);
        QStringList cols;
        for (const Column& c : t.columns)
            cols << QString::fromLatin1(c.name) + QLatin1Char(' ') + columnType(c, sqlite);
        QString create = QStringLiteral("CREATE TABLE %1 (%2)").arg(name, cols.join(QStringLiteral(", ")));
        if (!sqlite)
            create += QStringLiteral(" ENGINE=InnoDB DEFAULT CHARSET=utf8mb4");
        out << create;
    }
    // Every module statement selects one month of one agent; the declaration lookup also.
    out << QStringLiteral("CREATE UNIQUE INDEX IX_SBZB_MONTH ON SBZB (SBYF, KJYWRBM)");
    for (const char* t : {"ZCGZXJMXB", "FGZXJB", "KJSDSBGB"})
        out << QStringLiteral("CREATE INDEX IX_%1_MONTH ON %1 (FFYF, KJYWRBM)").arg(QString::fromLatin1(t));
    // The year list groups by the year of FFYF. SQLite can index that very expression; MariaDB
    // answers it from the (FFYF, KJYWRBM) index above without reading the table.
    if (sqlite)
        out << QStringLiteral("CREATE INDEX IX_KJSDSBGB_YEAR ON KJSDSBGB (substr(FFYF,1,4))");
    return out;
}

} // namespace

QStringList historyTables()
{
    return {QStringLiteral("ZCGZXJMXB"), QStringLiteral("FGZXJB"), QStringLiteral("KJSDSBGB")};
}

bool createSchema(HostConnection& connection, const QString& typeName, QString* error)
{
    const bool sqlite = typeName.compare(QLatin1String("SQLITE"), Qt::CaseInsensitive) == 0;
    if (!sqlite && typeName.compare(QLatin1String("MYSQL"), Qt::CaseInsensitive) != 0) {
        if (error)
            *error = QStringLiteral("schema: database type \"%1\" is not SQLITE or MYSQL").arg(typeName);
        return false;
    }
    if (!connection.connected() && !connection.connect()) {
        if (error)
            *error = QStringLiteral("schema: %1").arg(connection.lastError());
        return false;
    }
    QSqlQuery q(connection.database());
    for (const QString& sql : schemaStatements(sqlite)) {
        if (!q.exec(sql)) {
            if (error)
                *error = QStringLiteral("schema: %1: %2").arg(sql, q.lastError().text());
            return false;
        }
    }
    return true;
}

} // namespace sjql::host
