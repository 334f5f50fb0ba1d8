// SPDX-License-Identifier: MIT
// The ADTG codec against hand-computed bytes, against files written by ADO on Windows (read from
// the shared corpus at run time), and against damaged input.
#include "support/AdtgReader.h"
#include "support/AdtgWriter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QXmlStreamReader>

#include <gtest/gtest.h>

#include <functional>
#include <limits>

using namespace sjql::adtg;

namespace {

QByteArray hex(const char* text)
{
    return QByteArray::fromHex(QByteArray(text).replace(' ', "").replace('\n', ""));
}

// The worked example of the layout notes: ID adInteger, NAME adVarWChar(20), AMOUNT adCurrency,
// rows (1, "张三", 1234.5) and (2, NULL, NULL).
const char* kExample = "01 07 54 47 21 00 00 00 00 02 19 00 B6 92 F2 3F"
                       "04 B2 CF 11 8D 23 00 AA 00 5F FE 58 01 00 00 00"
                       "00 00 00 00 00 03 67 00 D2 AD 63 F6 02 EB CF 11"
                       "B0 E3 00 AA 00 3F 00 0F 00 00 00 03 00 03 00 00"
                       "00 00 00 00 00 02 00 00 00 01 00 C1 3C 8E B6 EB"
                       "6D D0 11 8D F6 00 AA 00 5F FE 58 07 00 0B 00 00"
                       "00 04 00 01 00 00 00 13 00 00 00 04 00 01 00 00"
                       "00 0D 00 00 00 00 00 0E 00 00 00 00 00 0F 00 00"
                       "00 00 00 10 00 00 00 00 00 12 00 00 00 00 00 10"
                       "7C 00 02 00 BE 22 B5 C8 F3 5C CE 11 AD E5 00 AA"
                       "00 44 77 3D 04 00 7F 00 00 00 02 00 FF FF 86 00"
                       "00 00 02 00 FF FF 22 00 00 00 04 00 00 00 00 00"
                       "49 00 00 00 04 00 00 00 00 00 C1 3C 8E B6 EB 6D"
                       "D0 11 8D F6 00 AA 00 5F FE 58 05 00 04 00 00 00"
                       "04 00 0F 00 00 00 05 00 00 00 04 00 02 00 00 00"
                       "03 00 00 00 04 00 0F 00 00 00 07 00 00 00 04 00"
                       "32 00 00 00 08 00 00 00 04 00 03 00 00 00 06 21"
                       "00 80 01 00 01 00 02 00 49 00 44 00 03 00 04 00"
                       "00 00 00 00 00 00 00 00 00 00 14 00 00 00 00 00"
                       "FF FF 06 25 00 80 01 00 02 00 04 00 4E 00 41 00"
                       "4D 00 45 00 82 00 14 00 00 00 00 00 00 00 00 00"
                       "00 00 24 00 00 00 00 00 FF FF 06 29 00 80 01 00"
                       "03 00 06 00 41 00 4D 00 4F 00 55 00 4E 00 54 00"
                       "06 00 08 00 00 00 00 00 00 00 00 00 00 00 34 00"
                       "00 00 00 00 FF FF 07 FF 01 00 00 00 04 20 5F 09"
                       "4E A8 5E BC 00 00 00 00 00 07 3F 02 00 00 00 0F";

std::vector<AdtgColumn> exampleColumns()
{
    return {AdtgColumn::fromAdoType(QStringLiteral("ID"), adInteger, 0, false),
            AdtgColumn::fromAdoType(QStringLiteral("NAME"), adVarWChar, 20, true),
            AdtgColumn::fromAdoType(QStringLiteral("AMOUNT"), adCurrency, 0, true)};
}

// A file of one nullable column holding one value; the row's value bytes start at the returned offset.
QByteArray singleValueFile(const AdtgColumn& column, const QVariant& value, qsizetype* valueOffset)
{
    AdtgWriter w({column});
    EXPECT_TRUE(w.addRow({value})) << w.errorString().toStdString();
    // The row starts where the end token of the same file without rows stands.
    *valueOffset = AdtgWriter({column}).toBytes().size() - 1;
    return w.toBytes();
}

// An SQLite database file in a folder of its own, open under a connection name of its own, with
// the table that `schema` creates; the connection goes with the object (queries and copies of the
// handle must be gone by then).
class ScratchSqlite
{
public:
    ScratchSqlite(const QString& name, const QString& schema) : m_name(name)
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(m_dir.filePath(QStringLiteral("t.db")));
        m_ok = m_dir.isValid() && db.open() && QSqlQuery(db).exec(schema);
    }
    ~ScratchSqlite()
    {
        QSqlDatabase::database(m_name, false).close();
        QSqlDatabase::removeDatabase(m_name);
    }
    ScratchSqlite(const ScratchSqlite&) = delete;
    ScratchSqlite& operator=(const ScratchSqlite&) = delete;

    bool ok() const { return m_ok; }
    QSqlDatabase database() const { return QSqlDatabase::database(m_name, false); }
    QString filePath(const QString& name) const { return m_dir.filePath(name); }

private:
    QTemporaryDir m_dir;
    QString m_name;
    bool m_ok = false;
};

} // namespace

TEST(AdtgGolden, WriterReproducesTheWorkedExample)
{
    AdtgWriter w(exampleColumns());
    ASSERT_TRUE(w.isValid());
    ASSERT_TRUE(w.addRow({1, QStringLiteral("张三"), 1234.5}));
    ASSERT_TRUE(w.addRow({2, QVariant(), QVariant()}));
    const QByteArray bytes = w.toBytes();
    const QByteArray expected = hex(kExample);
    ASSERT_EQ(bytes.size(), 416);
    // Header, handler options, descriptors and rows, each compared on its own for a clear failure.
    EXPECT_EQ(bytes.left(0x25).toHex(' '), expected.left(0x25).toHex(' '));
    EXPECT_EQ(bytes.mid(0x25, 106).toHex(' '), expected.mid(0x25, 106).toHex(' '));
    EXPECT_EQ(bytes.mid(0x8F, 127).toHex(' '), expected.mid(0x8F, 127).toHex(' '));
    EXPECT_EQ(bytes.mid(0x10E, 0x186 - 0x10E).toHex(' '), expected.mid(0x10E, 0x186 - 0x10E).toHex(' '));
    EXPECT_EQ(bytes.mid(0x186).toHex(' '), expected.mid(0x186).toHex(' '));
}

TEST(AdtgGolden, SavingWithEventsWritesTheSameBytes)
{
    AdtgWriter w(exampleColumns());
    ASSERT_TRUE(w.addRow({1, QStringLiteral("张三"), 1234.5}));
    QTemporaryDir dir;
    const QString plain = dir.filePath(QStringLiteral("plain.dat"));
    const QString pumped = dir.filePath(QStringLiteral("pumped.dat"));
    ASSERT_TRUE(w.save(plain));
    ASSERT_TRUE(w.save(pumped, [] {}));
    QFile a(plain), b(pumped);
    ASSERT_TRUE(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly));
    EXPECT_EQ(a.readAll(), w.toBytes());
    EXPECT_EQ(b.readAll(), w.toBytes());
    // A folder that does not exist fails with the pump too, and leaves nothing behind.
    EXPECT_FALSE(w.save(dir.filePath(QStringLiteral("no/such/folder/x.dat")), [] {}));
    EXPECT_FALSE(w.errorString().isEmpty());
}

TEST(AdtgGolden, ReaderDecodesTheWorkedExample)
{
    AdtgRecordset rs;
    ASSERT_TRUE(rs.openData(hex(kExample))) << rs.errorString().toStdString();
    EXPECT_TRUE(rs.warnings().isEmpty());
    ASSERT_EQ(rs.recordCount(), 2);
    ASSERT_EQ(rs.fieldCount(), 3);
    EXPECT_EQ(rs.column(1).adoType(), adVarWChar);
    EXPECT_EQ(rs.column(1).maxLength, 20u);
    EXPECT_EQ(rs.fieldIndex(u"amount"), 2);
    EXPECT_EQ(rs.field(u"id").toInteger(), 1);
    EXPECT_EQ(rs.field(u"Name").toText(), QStringLiteral("张三"));
    EXPECT_EQ(rs.field(u"AMOUNT").toCurrency(), 12345000);
    EXPECT_DOUBLE_EQ(rs.field(u"AMOUNT").toAmount(), 1234.5);
    rs.moveNext();
    EXPECT_FALSE(rs.eof());
    EXPECT_TRUE(rs.field(u"NAME").isNull());
    EXPECT_EQ(rs.field(u"NAME").toText(), QString());
    EXPECT_EQ(rs.field(u"AMOUNT").toAmount(), 0.0);
    EXPECT_FALSE(rs.field(u"NOSUCH").isValid());
    QString error;
    EXPECT_FALSE(rs.requireFields({QStringLiteral("ID"), QStringLiteral("NOSUCH")}, &error));
    EXPECT_TRUE(error.contains(QLatin1String("NOSUCH")));
    rs.moveNext();
    EXPECT_TRUE(rs.eof());
}

// Value encodings stated in the layout notes, written and read back.
TEST(AdtgGolden, ValueExamples)
{
    struct Case
    {
        const char* what;
        AdtgColumn column;
        QVariant value;
        const char* bytes;
        const char* text;
    };
    const QDateTime when(QDate(2001, 2, 3), QTime(4, 5, 6));
    const Case cases[] = {
        {"date", AdtgColumn::fromAdoType(QStringLiteral("V"), adDate, 0, true), when, "26 BF 58 72 A5 07 E2 40",
         "2001-02-03 04:05:06"},
        {"timestamp", AdtgColumn::fromAdoType(QStringLiteral("V"), adDBTimeStamp, 0, true),
         QDateTime(QDate(2026, 6, 12), QTime(14, 30, 15)), "EA 07 06 00 0C 00 0E 00 1E 00 0F 00 00 00 00 00",
         "2026-06-12 14:30:15"},
        {"decimal", AdtgColumn::fromAdoType(QStringLiteral("V"), adDecimal, 0, true, 18, 4),
         QStringLiteral("-922337.5808"), "00 00 04 80 00 00 00 00 C0 8B C1 25 02 00 00 00", "-922337.5808"},
        {"numeric", AdtgColumn::fromAdoType(QStringLiteral("V"), adNumeric, 0, true, 18, 4),
         QStringLiteral("-922337.5808"), "12 04 00 C0 8B C1 25 02 00 00 00 00 00 00 00 00 00 00 00", "-922337.5808"},
        {"numeric zero", AdtgColumn::fromAdoType(QStringLiteral("V"), adNumeric, 0, true, 18, 4), 0,
         "12 04 01 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00", "0"},
        {"currency", AdtgColumn::fromAdoType(QStringLiteral("V"), adCurrency, 0, true), QStringLiteral("1234.56"),
         "00 61 BC 00 00 00 00 00", "1234.56"},
        {"char 300", AdtgColumn::fromAdoType(QStringLiteral("V"), adChar, 300, true), QStringLiteral("x"), nullptr,
         nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        qsizetype at = 0;
        const QByteArray file = singleValueFile(c.column, c.value, &at);
        if (c.bytes) {
            const QByteArray expected = hex(c.bytes);
            EXPECT_EQ(file.mid(at + 2, expected.size()).toHex(' '), expected.toHex(' '));
        } else {
            // Fixed text above 255 bytes carries a u32 count and is padded to its full length.
            EXPECT_EQ(file.mid(at + 2, 5).toHex(' '), QByteArray("2c 01 00 00 78"));
        }
        AdtgRecordset rs;
        ASSERT_TRUE(rs.openData(file)) << rs.errorString().toStdString();
        ASSERT_EQ(rs.recordCount(), 1);
        if (c.text)
            EXPECT_EQ(rs.field(0).toText(), QString::fromUtf8(c.text));
        else
            EXPECT_EQ(rs.field(0).toText(), QStringLiteral("x") + QString(299, QLatin1Char(' ')));
    }
    // The date scale before 1899-12-30 counts the time of day forward: -1.25 is 1899-12-29 06:00.
    AdtgRecordset rs;
    qsizetype at = 0;
    QByteArray file = singleValueFile(AdtgColumn::fromAdoType(QStringLiteral("V"), adDate, 0, true), -1.25, &at);
    ASSERT_TRUE(rs.openData(file));
    EXPECT_EQ(rs.field(0).toText(), QStringLiteral("1899-12-29 06:00:00"));
    file = singleValueFile(AdtgColumn::fromAdoType(QStringLiteral("V"), adDate, 0, true),
                           QDateTime(QDate(1899, 12, 29), QTime(6, 0)), &at);
    ASSERT_TRUE(rs.openData(file));
    EXPECT_EQ(rs.field(0).toText(), QStringLiteral("1899-12-29 06:00:00"));
}

// Values a column cannot hold are refused with a message naming row, column and value.
TEST(AdtgWriterTest, RefusesValuesThatDoNotFit)
{
    struct Case
    {
        const char* what;
        AdtgColumn column;
        QVariant value;
    };
    const Case cases[] = {
        {"text too long", AdtgColumn::fromAdoType(QStringLiteral("V"), adVarWChar, 2, true), QStringLiteral("abc")},
        {"integer overflow", AdtgColumn::fromAdoType(QStringLiteral("V"), adInteger, 0, true), qint64(1) << 40},
        {"not a number", AdtgColumn::fromAdoType(QStringLiteral("V"), adNumeric, 0, true, 16, 2),
         QStringLiteral("12a")},
        {"more decimals than the scale", AdtgColumn::fromAdoType(QStringLiteral("V"), adNumeric, 0, true, 16, 2),
         QStringLiteral("1.234")},
        {"not a date", AdtgColumn::fromAdoType(QStringLiteral("V"), adDate, 0, true), QStringLiteral("2008-13-01")},
        {"currency overflow", AdtgColumn::fromAdoType(QStringLiteral("V"), adCurrency, 0, true),
         QStringLiteral("922337203685477.5808")},
        {"NULL in a required column", AdtgColumn::fromAdoType(QStringLiteral("V"), adInteger, 0, false), QVariant()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        AdtgWriter w({c.column});
        EXPECT_FALSE(w.addRow({c.value}));
        EXPECT_TRUE(w.errorString().contains(QLatin1String("column V"))) << w.errorString().toStdString();
    }
    AdtgWriter twice({AdtgColumn::fromAdoType(QStringLiteral("A"), adInteger, 0, true),
                      AdtgColumn::fromAdoType(QStringLiteral("a"), adInteger, 0, true)});
    EXPECT_FALSE(twice.isValid());
}

// Amounts keep their decimal value: binary noise of a floating-point amount is taken for the
// decimal it stands for, while a value with more decimals or digits than the column holds is
// refused instead of being rounded or cut.
TEST(AdtgWriterTest, AmountsAreExactOrRefused)
{
    const AdtgColumn money = AdtgColumn::fromAdoType(QStringLiteral("V"), adNumeric, 0, true, 16, 2);
    const AdtgColumn rate = AdtgColumn::fromAdoType(QStringLiteral("V"), adNumeric, 0, true, 10, 4);
    const AdtgColumn currency = AdtgColumn::fromAdoType(QStringLiteral("V"), adCurrency, 0, true);
    struct Kept
    {
        AdtgColumn column;
        QVariant value;
        const char* text;
    };
    const double noisy = 2469.11 + 0.01; // 2469.1200000000003
    ASSERT_NE(noisy, 2469.12);
    const Kept kept[] = {
        {money, noisy, "2469.12"},
        {money, 0.1 + 0.2, "0.3"},
        {money, 0.1 + 0.2 - 0.3, "0"}, // noise around zero
        {money, -0.0, "0"},
        {money, 9999999999999.99, "9999999999999.99"},
        {money, QStringLiteral("-99999999999999.99"), "-99999999999999.99"},
        {rate, 0.025, "0.025"},
        {currency, 0.0001, "0.0001"},
    };
    for (const Kept& k : kept) {
        SCOPED_TRACE(k.text);
        qsizetype at = 0;
        AdtgRecordset rs;
        ASSERT_TRUE(rs.openData(singleValueFile(k.column, k.value, &at)));
        EXPECT_EQ(rs.field(0).toText(), QString::fromLatin1(k.text));
    }
    struct Refused
    {
        AdtgColumn column;
        QVariant value;
        const char* shown; // how the message shows the value
    };
    const Refused refused[] = {
        {money, 1.23456789, "1.23456789"},
        {money, 0.004, "0.004"},
        {money, 1e20, "1e+20"},
        {money, QStringLiteral("100000000000000"), "100000000000000"},
        {money, 123456789012345.67, "123456789012345.67"},
        {rate, 0.12345, "0.12345"},
        {currency, 1.23456, "1.23456"},
        {currency, 1e20, "1e+20"},
    };
    for (const Refused& r : refused) {
        SCOPED_TRACE(r.shown);
        AdtgWriter w({r.column});
        EXPECT_FALSE(w.addRow({r.value}));
        EXPECT_TRUE(w.errorString().contains(QLatin1String("column V"))) << w.errorString().toStdString();
        EXPECT_TRUE(w.errorString().contains(QLatin1String(r.shown))) << w.errorString().toStdString();
        EXPECT_EQ(w.rowCount(), 0);
    }
}

// A table whose database does not enforce the declared type (SQLite) may hold amounts the column
// cannot hold; saving it fails and names table, column and value, and no file is left.
TEST(AdtgWriterTest, SavedAmountsOutsideTheDeclaredTypeFailTheSave)
{
    ScratchSqlite dir(QStringLiteral("adtg-amounts"),
                      QStringLiteral("create table T (ID INTEGER, YFGZ DECIMAL(16,2))"));
    ASSERT_TRUE(dir.ok());
    {
        QSqlDatabase db = dir.database();
        QSqlQuery q(db);
        for (const char* amount : {"1e20", "1.23456789"}) {
            SCOPED_TRACE(amount);
            ASSERT_TRUE(q.exec(QStringLiteral("delete from T")));
            ASSERT_TRUE(q.exec(
                QStringLiteral("insert into T values (1, 2469.11 + 0.01), (2, %1)").arg(QString::fromLatin1(amount))));
            ASSERT_TRUE(q.exec(QStringLiteral("select * from T order by ID")));
            const QString path = dir.filePath(QStringLiteral("T.dat"));
            QString error;
            EXPECT_FALSE(SaveRecordsetAdtg(q, db, QStringLiteral("T"), path, &error));
            EXPECT_TRUE(error.contains(QLatin1String("table T"))) << error.toStdString();
            EXPECT_TRUE(error.contains(QLatin1String("column YFGZ"))) << error.toStdString();
            EXPECT_TRUE(error.contains(QLatin1String(amount == QByteArray("1e20") ? "1e+20" : amount)))
                << error.toStdString();
            EXPECT_FALSE(QFileInfo::exists(path));
        }
        // The noisy product alone is the decimal it stands for.
        ASSERT_TRUE(q.exec(QStringLiteral("delete from T where ID = 2")));
        ASSERT_TRUE(q.exec(QStringLiteral("select * from T order by ID")));
        QString error;
        const QString path = dir.filePath(QStringLiteral("T.dat"));
        ASSERT_TRUE(SaveRecordsetAdtg(q, db, QStringLiteral("T"), path, &error)) << error.toStdString();
        AdtgRecordset rs;
        ASSERT_TRUE(rs.open(path));
        EXPECT_EQ(rs.field(u"YFGZ").toText(), QStringLiteral("2469.12"));
    }
}

TEST(AdtgWriterTest, SaveReplacesAnExistingFile)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("X_200801.dat"));
    QFile old(path);
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("old content");
    old.close();
    AdtgWriter w(exampleColumns());
    ASSERT_TRUE(w.addRow({1, QStringLiteral("张三"), 1234.5}));
    ASSERT_TRUE(w.addRow({2, QVariant(), QVariant()}));
    ASSERT_TRUE(w.save(path)) << w.errorString().toStdString();
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), hex(kExample));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("X_200801.dat")});
    // A folder that does not exist fails and says so.
    EXPECT_FALSE(w.save(dir.filePath(QStringLiteral("missing/Y.dat"))));
    EXPECT_FALSE(w.errorString().isEmpty());
}

TEST(AdtgWriterTest, SavedResultKeepsNullsAndProcessesEventsOnTheWay)
{
    // A declared table: NULLs of number columns are noted without reading their values, texts are
    // measured, and the caller's pump runs while the rows are read.
    ScratchSqlite dir(QStringLiteral("adtg-save"),
                      QStringLiteral("create table T (ID INTEGER, NAME VARCHAR(4), AMOUNT DECIMAL(16,2))"));
    ASSERT_TRUE(dir.ok());
    {
        QSqlDatabase db = dir.database();
        QSqlQuery q(db);
        ASSERT_TRUE(db.transaction());
        for (int i = 1; i <= 1000; ++i) {
            const QString amount = i % 100 == 0 ? QStringLiteral("NULL") : QStringLiteral("%1.25").arg(i);
            const QString name = i == 500 ? QStringLiteral("longer than four") : QStringLiteral("n%1").arg(i % 7);
            ASSERT_TRUE(q.exec(QStringLiteral("insert into T values (%1, '%2', %3)").arg(i).arg(name, amount)));
        }
        ASSERT_TRUE(db.commit());
        ASSERT_TRUE(q.exec(QStringLiteral("select * from T order by ID")));
        int pumps = 0;
        QString error;
        const QString path = dir.filePath(QStringLiteral("T.dat"));
        ASSERT_TRUE(SaveRecordsetAdtg(q, db, QStringLiteral("T"), path, &error, [&] { ++pumps; }))
            << error.toStdString();
        EXPECT_GE(pumps, 7); // two passes of 1,000 rows
        AdtgRecordset rs;
        ASSERT_TRUE(rs.open(path)) << rs.errorString().toStdString();
        ASSERT_EQ(rs.recordCount(), 1000);
        int nulls = 0;
        for (; !rs.eof(); rs.moveNext()) {
            const int id = int(rs.field(QStringLiteral("ID")).toCurrency() / 10000);
            const AdtgField amount = rs.field(QStringLiteral("AMOUNT"));
            if (id % 100 == 0) {
                EXPECT_TRUE(amount.isNull()) << id;
                ++nulls;
            } else {
                EXPECT_EQ(amount.toCurrency(), qint64(id) * 10000 + 2500) << id;
            }
            if (id == 500) {
                EXPECT_EQ(rs.field(QStringLiteral("NAME")).toText(), QStringLiteral("longer than four"));
            }
        }
        EXPECT_EQ(nulls, 10);
    }
}

// ---- damaged input

TEST(AdtgDamaged, CatalogueOfDefectsIsRefused)
{
    const QByteArray good = hex(kExample);
    struct Defect
    {
        const char* name;
        std::function<QByteArray(QByteArray)> make;
    };
    const Defect defects[] = {
        {"empty", [](QByteArray) { return QByteArray(); }},
        {"truncated-header", [](QByteArray b) { return b.left(5); }},
        {"bad-signature", [](QByteArray b) { return b.replace(2, 3, "XY!"); }},
        {"big-endian", [](QByteArray b) { return b.replace(7, 1, "\x01"); }},
        {"unicode-flag", [](QByteArray b) { return b.replace(8, 1, "\x01"); }},
        {"no-handler-options", [](QByteArray b) { return b.remove(9, 28); }},
        {"truncated-result-descriptor", [](QByteArray b) { return b.left(0x40); }},
        {"element-size-beyond-data", [](QByteArray b) { return b.replace(0x26, 2, "\xFF\x7F"); }},
        {"truncated-column", [](QByteArray b) { return b.left(0x120); }},
        {"column-ordinal-skipped", [](QByteArray b) { return b.replace(0x138, 1, "\x05"); }},
        {"unknown-data-type", [](QByteArray b) { return b.replace(0x11C, 1, "\x0C"); }},
        {"absurd-name-length", [](QByteArray b) { return b.replace(0x116, 2, "\xF0\xFF"); }},
        {"no-columns", [](QByteArray b) { return b.remove(0x10E, 0x186 - 0x10E); }},
        {"second-result-descriptor", [](QByteArray b) { return b.insert(0x186, b.mid(0x25, 106)); }},
        {"truncated-row", [](QByteArray b) { return b.left(0x190); }},
        {"absurd-text-length", [](QByteArray b) { return b.replace(0x18C, 1, "\xFD"); }},
        {"unknown-row-token", [](QByteArray b) { return b.replace(0x199, 1, "\x42"); }},
        {"child-row-token", [](QByteArray b) { return b.replace(0x199, 1, "\x87"); }},
        {"missing-end-token", [](QByteArray b) { return b.left(b.size() - 1); }},
        {"odd-wide-text", [](QByteArray b) { return b.replace(0x18C, 1, "\x03"); }},
        {"rds-no-recordset", [](QByteArray b) { return b.prepend(QByteArray("\x09\x00\x01", 3)); }},
    };
    for (const Defect& d : defects) {
        SCOPED_TRACE(d.name);
        AdtgRecordset rs;
        EXPECT_FALSE(rs.openData(d.make(good), QString::fromLatin1(d.name)));
        EXPECT_TRUE(rs.errorString().startsWith(QStringLiteral("data file %1: ").arg(QLatin1String(d.name))))
            << rs.errorString().toStdString();
        EXPECT_FALSE(rs.isOpen());
        EXPECT_TRUE(rs.eof());
        EXPECT_EQ(rs.recordCount(), 0);
    }
    // Every prefix of a good file is refused, never read past its end.
    for (qsizetype n = 0; n < good.size(); ++n) {
        AdtgRecordset rs;
        EXPECT_FALSE(rs.openData(good.left(n))) << n;
    }
}

TEST(AdtgDamaged, TolerableOdditiesAreReadWithWarnings)
{
    AdtgRecordset rs;
    // Data after the end token, and a row count that does not match.
    QByteArray b = hex(kExample);
    b.append("junk");
    b[0x45] = 7;
    ASSERT_TRUE(rs.openData(b)) << rs.errorString().toStdString();
    EXPECT_EQ(rs.recordCount(), 2);
    EXPECT_EQ(rs.warnings().size(), 2);
    // The RDS wrapper in front of the TableGram.
    b = hex("09 00 00 35 05 00 00 00 00 10 00 80 00 00 AA 00 6D 2E A4"
            "B6 92 F2 3F 04 B2 CF 11 8D 23 00 AA 00 5F FE 58") +
        hex(kExample);
    ASSERT_TRUE(rs.openData(b)) << rs.errorString().toStdString();
    EXPECT_EQ(rs.field(u"NAME").toText(), QStringLiteral("张三"));
}

// Typed reads of values far outside the 64-bit range saturate instead of overflowing.
TEST(AdtgReaderTest, TypedReadsOfHugeValuesSaturate)
{
    qsizetype at = 0;
    const QByteArray file =
        singleValueFile(AdtgColumn::fromAdoType(QStringLiteral("V"), adDouble, 0, true), -9.2e22, &at);
    AdtgRecordset rs;
    ASSERT_TRUE(rs.openData(file));
    EXPECT_EQ(rs.field(0).toInteger(), std::numeric_limits<qint64>::min());
    EXPECT_EQ(rs.field(0).toCurrency(), std::numeric_limits<qint64>::min());
    EXPECT_EQ(rs.field(0).toText(), QStringLiteral("-92000000000000000000000"));
}

// The in-place reads the backup's read-back digests rely on give exactly what the decoded value
// holds, for every kind they take, at the edges; other kinds are left to field().
TEST(AdtgReaderTest, InPlaceReadsAgreeWithTheDecodedValues)
{
    using Kind = AdtgRecordset::InPlace::Kind;
    const std::vector<AdtgColumn> columns = {
        AdtgColumn::fromAdoType(QStringLiteral("I8"), adTinyInt, 0, true),
        AdtgColumn::fromAdoType(QStringLiteral("U8"), adUnsignedTinyInt, 0, true),
        AdtgColumn::fromAdoType(QStringLiteral("I16"), adSmallInt, 0, true),
        AdtgColumn::fromAdoType(QStringLiteral("U16"), adUnsignedSmallInt, 0, true),
        AdtgColumn::fromAdoType(QStringLiteral("I32"), adInteger, 0, true),
        AdtgColumn::fromAdoType(QStringLiteral("U32"), adUnsignedInt, 0, true),
        AdtgColumn::fromAdoType(QStringLiteral("I64"), adBigInt, 0, true),
        AdtgColumn::fromAdoType(QStringLiteral("N"), adNumeric, 0, true, 38, 4),
        AdtgColumn::fromAdoType(QStringLiteral("D"), adDecimal, 0, true, 28, 2),
        AdtgColumn::fromAdoType(QStringLiteral("T"), adVarWChar, 40, true),
        AdtgColumn::fromAdoType(QStringLiteral("F"), adWChar, 6, true),
        AdtgColumn::fromAdoType(QStringLiteral("R"), adDouble, 0, true),
        AdtgColumn::fromAdoType(QStringLiteral("W"), adDate, 0, true),
    };
    const QString nul = QStringLiteral("a") + QChar(0) + QStringLiteral("b");
    const QString lone = QString(QChar(0xD800)) + QStringLiteral("x");
    const QVariantList rows[] = {
        {-128, 255, -32768, 65535, std::numeric_limits<qint32>::min(), 4294967295u, std::numeric_limits<qint64>::min(),
         QStringLiteral("-1234567890123456789012345678901234.5678"), QStringLiteral("-79228162514264337593543950.33"),
         QStringLiteral("王'小\"二\\三"), QStringLiteral("ab"), 1.5, QDateTime(QDate(2019, 3, 31), QTime(0, 0))},
        {127, 0, 32767, 0, std::numeric_limits<qint32>::max(), 0u, std::numeric_limits<qint64>::max(),
         QStringLiteral("-0.0000"), QStringLiteral("0.10"), QString(), nul, -0.0,
         QDateTime(QDate(1899, 12, 30), QTime(0, 0))},
        {0, 1, -1, 1, -1, 1, -1, QStringLiteral("0.0001"), QStringLiteral("-0.01"), lone, QStringLiteral("abcdef"),
         QVariant(), QVariant()},
        {QVariant(), QVariant(), QVariant(), QVariant(), QVariant(), QVariant(), QVariant(), QVariant(), QVariant(),
         QVariant(), QVariant(), QVariant(), QVariant()},
    };
    AdtgWriter w(columns);
    for (const QVariantList& row : rows)
        ASSERT_TRUE(w.addRow(row)) << w.errorString().toStdString();
    AdtgRecordset rs;
    ASSERT_TRUE(rs.openData(w.toBytes())) << rs.errorString().toStdString();
    QString text = QStringLiteral("left over from an earlier value");
    for (int row = 0; !rs.eof(); rs.moveNext(), ++row) {
        for (int i = 0; i < rs.fieldCount(); ++i) {
            SCOPED_TRACE(testing::Message() << "row " << row << " column " << rs.column(i).name.toStdString());
            const AdtgRecordset::InPlace v = rs.inPlace(i, text);
            const QVariant decoded = rs.field(i).value();
            if (!decoded.isValid()) {
                EXPECT_EQ(v.kind, Kind::Null);
                continue;
            }
            if (i >= 11) { // floating point and dates: decoded only
                EXPECT_EQ(v.kind, Kind::Other);
                continue;
            }
            const Kind expected = i <= 6 ? Kind::Integer : i <= 8 ? Kind::Scaled : Kind::Text;
            ASSERT_EQ(v.kind, expected);
            if (v.kind == Kind::Integer)
                EXPECT_EQ(v.integer, decoded.toLongLong());
            else if (v.kind == Kind::Scaled)
                EXPECT_EQ(detail::formatScaled(v.magnitude, v.scale, v.negative), decoded.toString());
            else
                EXPECT_EQ(text, decoded.toString());
        }
    }
}

TEST(AdtgReaderTest, MissingFileNamesThePath)
{
    AdtgRecordset rs;
    EXPECT_FALSE(rs.open(QStringLiteral("/nonexistent/KJSDSBGB_200801.dat")));
    EXPECT_TRUE(rs.errorString().contains(QLatin1String("KJSDSBGB_200801.dat")));
}

// Declared column types as SQLite and MariaDB report them, with and without a size.
TEST(AdtgDeclaredTypes, TypeNamesAreReadWhole)
{
    struct Case
    {
        const char* declared;
        int ado;
    };
    const Case cases[] = {
        {"INTEGER", adInteger},
        {"int(11)", adInteger},
        {"int(10) unsigned", adUnsignedInt},
        {"INT UNSIGNED", adUnsignedInt},
        {"DATE", adDate},
        {"datetime", adDate},
        {"DECIMAL(16,2)", adNumeric},
        {"VARCHAR(20)", adVarWChar},
        {"DOUBLE PRECISION", 5 /* adDouble */},
    };
    for (const Case& c : cases) {
        const AdtgColumn col = columnForDeclaredType(QStringLiteral("C"), QString::fromLatin1(c.declared), true);
        EXPECT_EQ(col.adoType(), c.ado) << c.declared;
    }
    const AdtgColumn amount = columnForDeclaredType(QStringLiteral("A"), QStringLiteral("decimal(16,2)"), false);
    EXPECT_EQ(amount.precision, 16u);
    EXPECT_EQ(amount.scale, 2);
    EXPECT_EQ(columnForDeclaredType(QStringLiteral("T"), QStringLiteral("varchar(40)"), true).maxLength, 40u);
}
