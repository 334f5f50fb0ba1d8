// SPDX-License-Identifier: MIT
// adtg_bench [ROWS]: writes and reads wage-like rows (the 33 columns of ZCGZXJMXB: texts with
// Chinese names, integers, 4-decimal amounts, dates) as a backup data file and prints rows per
// second for: the codec alone, and a whole SQLite table saved through SaveRecordsetAdtg.
#include "support/AdtgReader.h"
#include "support/AdtgWriter.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <cstdio>

using namespace sjql::adtg;

namespace {

const char* const kAmounts[] = {"YFGZ",  "YLBX",   "YLOBX",  "SYBX",    "ZFGJJ",  "QTMSSD", "MSXMHJ",
                                "BZSSD", "FYKCBZ", "SJJZE",  "ZYKCJZE", "YNSSDE", "SL",     "SSKCS",
                                "YNSE",  "JMSE",   "YSBSRE", "CBYNSE",  "SJYNSE"};

std::vector<AdtgColumn> wageColumns()
{
    std::vector<AdtgColumn> c;
    c.push_back(AdtgColumn::fromAdoType(QStringLiteral("id"), adInteger, 0, false));
    for (const char* n : {"KJYWRBM", "GH", "XM"})
        c.push_back(AdtgColumn::fromAdoType(QLatin1String(n), adVarWChar, 100, true));
    c.push_back(AdtgColumn::fromAdoType(QStringLiteral("ZZLX"), adInteger, 0, true));
    c.push_back(AdtgColumn::fromAdoType(QStringLiteral("ZZHM"), adVarWChar, 30, true));
    c.push_back(AdtgColumn::fromAdoType(QStringLiteral("SDXM"), adVarWChar, 60, true));
    c.push_back(AdtgColumn::fromAdoType(QStringLiteral("QSRQ"), adDate, 0, true));
    c.push_back(AdtgColumn::fromAdoType(QStringLiteral("ZZRQ"), adDate, 0, true));
    c.push_back(AdtgColumn::fromAdoType(QStringLiteral("FFYF"), adVarWChar, 6, true));
    for (const char* n : kAmounts)
        c.push_back(AdtgColumn::fromAdoType(QLatin1String(n), adNumeric, 0, true, 16, 4));
    c.push_back(AdtgColumn::fromAdoType(QStringLiteral("CBBZ"), adInteger, 0, true));
    c.push_back(AdtgColumn::fromAdoType(QStringLiteral("WYSBH"), adVarWChar, 40, true));
    c.push_back(AdtgColumn::fromAdoType(QStringLiteral("GXBZ"), adInteger, 0, true));
    return c;
}

QVariantList wageRow(int i)
{
    QVariantList r;
    r << i << QStringLiteral("110101199001011234") << QStringLiteral("G%1").arg(i)
      << QStringLiteral("张三%1").arg(i % 1000) << 1
      << QStringLiteral("11010119900101%1").arg(i % 10000, 4, 10, QLatin1Char('0')) << QStringLiteral("正常工资薪金")
      << QDate(2008, 6, 1) << QDate(2008, 6, 30) << QStringLiteral("200806");
    for (int k = 0; k < 19; ++k)
        r << (k == 12 ? QVariant(0.1) : QVariant(1000.0 + i % 997 + k * 0.25));
    r << 0 << QStringLiteral("W%1").arg(i, 12, 10, QLatin1Char('0')) << 0;
    return r;
}

void report(const char* what, int rows, qint64 ms)
{
    std::printf("%-44s %8d rows %7lld ms %10.0f rows/s\n", what, rows, static_cast<long long>(ms),
                ms > 0 ? rows * 1000.0 / ms : 0.0);
}

qint64 readAll(const QString& path, int* rows)
{
    QElapsedTimer t;
    t.start();
    AdtgRecordset rs;
    if (!rs.open(path)) {
        std::fprintf(stderr, "%s\n", rs.errorString().toUtf8().constData());
        std::exit(1);
    }
    double sum = 0;
    const int xm = rs.fieldIndex(u"XM");
    for (; !rs.eof(); rs.moveNext()) {
        for (int i = 0; i < rs.fieldCount(); ++i)
            sum += rs.field(i).toAmount();
        sum += rs.field(xm).toText().size();
    }
    *rows = rs.recordCount();
    return sum < 0 ? -1 : t.elapsed();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int rows = argc > 1 ? std::atoi(argv[1]) : 100000;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("ZCGZXJMXB_200806.dat"));

    QElapsedTimer t;
    t.start();
    AdtgWriter writer(wageColumns());
    for (int i = 0; i < rows; ++i) {
        if (!writer.addRow(wageRow(i))) {
            std::fprintf(stderr, "%s\n", writer.errorString().toUtf8().constData());
            return 1;
        }
    }
    if (!writer.save(path)) {
        std::fprintf(stderr, "%s\n", writer.errorString().toUtf8().constData());
        return 1;
    }
    report("codec: write", rows, t.elapsed());
    std::printf("file size: %lld bytes\n", static_cast<long long>(QFileInfo(path).size()));
    int read = 0;
    report("codec: open and read every field", rows, readAll(path, &read));

    // The same rows in an SQLite table, saved the way a backup does it.
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("bench"));
    db.setDatabaseName(dir.filePath(QStringLiteral("bench.db")));
    if (!db.open())
        return 1;
    QSqlQuery q(db);
    QStringList defs, marks;
    for (const AdtgColumn& c : wageColumns()) {
        const char* type = c.wireType == 0x82   ? "VARCHAR(100)"
                           : c.wireType == 0x83 ? "DECIMAL(16,4)"
                           : c.wireType == 0x07 ? "DATE"
                                                : "INTEGER";
        defs << c.name + QLatin1Char(' ') + QLatin1String(type);
        marks << QStringLiteral("?");
    }
    (void)q.exec(QStringLiteral("CREATE TABLE ZCGZXJMXB (%1)").arg(defs.join(QLatin1Char(','))));
    db.transaction();
    (void)q.prepare(QStringLiteral("INSERT INTO ZCGZXJMXB VALUES (%1)").arg(marks.join(QLatin1Char(','))));
    for (int i = 0; i < rows; ++i) {
        const QVariantList r = wageRow(i);
        for (int k = 0; k < r.size(); ++k)
            q.bindValue(k, r[k].typeId() == QMetaType::QDate ? QVariant(r[k].toDate().toString(Qt::ISODate)) : r[k]);
        if (!q.exec()) {
            std::fprintf(stderr, "%s\n", q.lastError().text().toUtf8().constData());
            return 1;
        }
    }
    db.commit();
    t.restart();
    QSqlQuery select(db);
    select.setForwardOnly(true);
    if (!select.exec(QStringLiteral("select * from ZCGZXJMXB where FFYF='200806'  "))) {
        std::fprintf(stderr, "%s\n", select.lastError().text().toUtf8().constData());
        return 1;
    }
    QString error;
    if (!SaveRecordsetAdtg(select, db, QStringLiteral("ZCGZXJMXB"), path, &error)) {
        std::fprintf(stderr, "%s\n", error.toUtf8().constData());
        return 1;
    }
    report("SQLite: select and SaveRecordsetAdtg", rows, t.elapsed());
    report("SQLite file: open and read every field", rows, readAll(path, &read));
    return read == rows ? 0 : 1;
}
