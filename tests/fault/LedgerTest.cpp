// SPDX-License-Identifier: MIT
// The fault campaign's accounting must itself be right, or its zeros mean nothing: the same row
// read from a database and from a data file gives the same text, an archive's rows under another
// month are found, and the ledger counts lost, duplicated and foreign rows as the campaign reports
// them.
#include "fault/Ledger.h"

#include "fault/Archives.h"
#include "support/AdtgWriter.h"

#include <QDate>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace sjql;
using namespace sjql::fault;

namespace {

TableDesc wageTable()
{
    TableDesc t;
    t.name = QStringLiteral("ZCGZXJMXB");
    t.columns = {describeColumn(QStringLiteral("id"), QStringLiteral("INTEGER"), 0, true),
                 describeColumn(QStringLiteral("KJYWRBM"), QStringLiteral("VARCHAR(30)"), 0, false),
                 describeColumn(QStringLiteral("GH"), QStringLiteral("VARCHAR(20)"), 0, false),
                 describeColumn(QStringLiteral("FFYF"), QStringLiteral("VARCHAR(6)"), 0, false),
                 describeColumn(QStringLiteral("ZZLX"), QStringLiteral("INTEGER"), 0, false),
                 describeColumn(QStringLiteral("QSRQ"), QStringLiteral("DATE"), 0, false),
                 describeColumn(QStringLiteral("YFGZ"), QStringLiteral("DECIMAL(16,2)"), 0, false),
                 describeColumn(QStringLiteral("SL"), QStringLiteral("decimal(10,4)"), 0, false)};
    return t;
}

// A data file of the wage table with the given rows (agent, GH, period, amount).
QByteArray wageFile(const std::vector<std::array<QString, 4>>& rows)
{
    using namespace sjql::adtg;
    adtg::AdtgWriter w({AdtgColumn::fromAdoType(QStringLiteral("id"), adInteger, 4, false),
                        AdtgColumn::fromAdoType(QStringLiteral("KJYWRBM"), adVarWChar, 30, true),
                        AdtgColumn::fromAdoType(QStringLiteral("GH"), adVarWChar, 20, true),
                        AdtgColumn::fromAdoType(QStringLiteral("FFYF"), adVarWChar, 6, true),
                        AdtgColumn::fromAdoType(QStringLiteral("ZZLX"), adInteger, 4, true),
                        AdtgColumn::fromAdoType(QStringLiteral("QSRQ"), adDBDate, 6, true),
                        AdtgColumn::fromAdoType(QStringLiteral("YFGZ"), adNumeric, 19, true, 16, 2),
                        AdtgColumn::fromAdoType(QStringLiteral("SL"), adNumeric, 19, true, 10, 4)});
    int id = 1;
    for (const auto& r : rows) {
        EXPECT_TRUE(w.addRow({id++, r[0], r[1], r[2], 1, QDate(2019, 1, 1), r[3], QStringLiteral("0.03")}))
            << w.errorString().toStdString();
    }
    return w.toBytes();
}

// The texts of a bag, sorted, for comparisons.
std::vector<std::pair<QString, int>> labels(const RowBag& bag)
{
    std::vector<std::pair<QString, int>> out;
    bag.forEach([&](const RowKey&, int n, const RowInfo& info) { out.emplace_back(info.describe(), n); });
    std::sort(out.begin(), out.end());
    return out;
}

RowKey keyOf(const QString& s)
{
    return rowKey(s);
}

} // namespace

TEST(FaultLedger, DatabaseValuesAndDataFileGiveTheSameRowText)
{
    const TableDesc t = wageTable();
    RowBag fromFile;
    QString error;
    ASSERT_TRUE(readDataFileRows(
        wageFile({{QStringLiteral("A1"), QStringLiteral("007"), QStringLiteral("201903"), QStringLiteral("1234.5")}}),
        QStringLiteral("w.dat"), t, &fromFile, &error))
        << error.toStdString();
    ASSERT_EQ(fromFile.total(), 1);

    // SQLite hands out REAL and text dates, MariaDB decimal text and QDate; the key never counts.
    const auto text = [&](const QVariantList& v) {
        QStringList parts;
        for (int i = 1; i < int(t.columns.size()); ++i)
            parts << canonicalValue(v[i - 1], t.columns[size_t(i)]);
        return t.name + QChar(0x1E) + parts.join(QChar(0x1F));
    };
    const QString sqlite = text({QStringLiteral("A1"), QStringLiteral("007"), QStringLiteral("201903"), 1LL,
                                 QStringLiteral("2019-01-01"), 1234.5, 0.03});
    const QString mariadb = text({QStringLiteral("A1"), QStringLiteral("007"), QStringLiteral("201903"), 1,
                                  QDate(2019, 1, 1), QStringLiteral("1234.50"), QStringLiteral("0.0300")});
    EXPECT_EQ(sqlite, mariadb);
    EXPECT_EQ(fromFile.count(keyOf(sqlite)), 1);
    EXPECT_EQ(fromFile.count(keyOf(text({QStringLiteral("A1"), QStringLiteral("007"), QStringLiteral("201903"), 1,
                                         QStringLiteral("2019-01-01"), 1234.51, 0.03}))),
              0);
}

TEST(FaultLedger, DecimalsToTheDeclaredScale)
{
    EXPECT_EQ(canonicalDecimal(QStringLiteral("1234.5"), 2), QStringLiteral("1234.50"));
    EXPECT_EQ(canonicalDecimal(0.1 + 0.2, 2), QStringLiteral("0.30"));
    EXPECT_EQ(canonicalDecimal(QStringLiteral("-0.005"), 2), QStringLiteral("-0.01"));
    EXPECT_EQ(canonicalDecimal(QStringLiteral("0.0345"), 4), QStringLiteral("0.0345"));
    EXPECT_EQ(canonicalDecimal(QStringLiteral("0.0345"), 2), QStringLiteral("0.03"));
    EXPECT_EQ(canonicalDecimal(7, 2), QStringLiteral("7.00"));
    EXPECT_EQ(canonicalDecimal(QVariant(), 2), QStringLiteral("\\N"));
    EXPECT_EQ(describeColumn(QStringLiteral("SL"), QStringLiteral("DECIMAL(10,4)"), 0, false).scale, 4);
    EXPECT_EQ(describeColumn(QStringLiteral("SL"), QStringLiteral("decimal"), 4, false).scale, 4);
}

TEST(FaultLedger, ArchiveRowsUnderAnotherMonthOrMissingFilesAreFound)
{
    QTemporaryDir dir;
    const QByteArray summary = QByteArrayLiteral(
        "<?xml version=\"1.0\" encoding=\"GBK\" ?><QVRBFXX KJYWRBM=\"A1\"  YEAR=\"2019\"  CODE=\"03\"><RECORDS>"
        "<RECORD SDYF=\"201903\" WYSBH=\"W3\" SFQL=\"Y\" GZFILENAME=\"ZCGZXJMXB_201903.dat\" "
        "FGZFILENAME=\"FGZXJB_201903.dat\"  BGBFILENAME=\"KJSDSBGB_201903.dat\" />"
        "<RECORD SDYF=\"201904\" WYSBH=\"\" SFQL=\"N\" GZFILENAME=\"\" FGZFILENAME=\"\"  BGBFILENAME=\"\" />"
        "</RECORDS></QVRBFXX>");
    // March's wage file holds one March row and one April row; the two other files are missing.
    const QByteArray march =
        wageFile({{QStringLiteral("A1"), QStringLiteral("1"), QStringLiteral("201903"), QStringLiteral("10")},
                  {QStringLiteral("A1"), QStringLiteral("2"), QStringLiteral("201904"), QStringLiteral("20")}});
    const QString path = dir.filePath(QStringLiteral("a.zip"));
    QString error;
    ASSERT_TRUE(writeArchive(path,
                             {Member{QStringLiteral("BFZYXX.xml"), summary, 0},
                              Member{QStringLiteral("ZCGZXJMXB_201903.dat"), march, 0},
                              Member{QStringLiteral("extra.dat"), {}, 4 << 20}},
                             &error))
        << error.toStdString();

    std::vector<TableDesc> tables{wageTable(), wageTable(), wageTable()};
    RowBag rows, misfiled;
    const ArchiveScan scan = scanArchive(path, tables, &rows, &misfiled);
    EXPECT_TRUE(scan.complete) << scan.error.toStdString();
    EXPECT_FALSE(scan.whole);
    EXPECT_EQ(scan.clearedMonths, QStringList{QStringLiteral("201903")});
    EXPECT_EQ(labels(rows), (std::vector<std::pair<QString, int>>{{QStringLiteral("ZCGZXJMXB A1 201903 1"), 1}}));
    EXPECT_EQ(labels(misfiled), (std::vector<std::pair<QString, int>>{{QStringLiteral("ZCGZXJMXB A1 201904 2"), 1}}));

    std::vector<Member> members;
    ASSERT_TRUE(readMembers(path, &members, &error)) << error.toStdString();
    ASSERT_EQ(members.size(), 3u);
    EXPECT_EQ(members[2].data.size(), 4 << 20);
    EXPECT_EQ(members[1].data, march);

    // Without the password-protected summary nothing of it counts.
    ASSERT_TRUE(writeArchive(path, {Member{QStringLiteral("ZCGZXJMXB_201903.dat"), march, 0}}, &error));
    EXPECT_FALSE(scanArchive(path, tables, &rows, &misfiled).complete);
}

TEST(FaultLedger, VerdictsOfTheAccounting)
{
    const RowInfo a{QStringLiteral("T"), QStringLiteral("A1"), QStringLiteral("201901"), QStringLiteral("a")};
    const RowInfo b{QStringLiteral("T"), QStringLiteral("A1"), QStringLiteral("201902"), QStringLiteral("b")};
    const RowInfo c{QStringLiteral("T"), QStringLiteral("A1"), QStringLiteral("201903"), QStringLiteral("c")};
    const RowInfo x{QStringLiteral("T"), QStringLiteral("A2"), QStringLiteral("201903"), QStringLiteral("x")};
    RowBag before;
    before.add(keyOf(QStringLiteral("a")), a, 2); // two equal rows
    before.add(keyOf(QStringLiteral("b")), b);
    before.add(keyOf(QStringLiteral("c")), c);

    // One copy of a in the database, the other in an archive; b only in a leftover file; c nowhere.
    RowBag db, archived, leftover;
    db.add(keyOf(QStringLiteral("a")), a);
    archived.add(keyOf(QStringLiteral("a")), a);
    leftover.add(keyOf(QStringLiteral("b")), b);
    leftover.add(keyOf(QStringLiteral("a")), a, 5); // leftovers only fill gaps, never duplicate
    Tally t = account({&before, &db, &archived, nullptr, &leftover, nullptr});
    EXPECT_EQ(t.lost, 1);
    EXPECT_EQ(t.duplicated, 0);
    EXPECT_EQ(t.misfiled, 0);
    EXPECT_TRUE(t.evidence.join(QLatin1Char('\n')).contains(QStringLiteral("lost x1: T A1 201903 c")));

    // c in the database and in an archive the run wrote: twice. In a restore's input it is not.
    db.add(keyOf(QStringLiteral("c")), c);
    RowBag written = archived;
    written.add(keyOf(QStringLiteral("c")), c);
    t = account({&before, &db, &written, nullptr, &leftover, nullptr});
    EXPECT_EQ(t.lost, 0);
    EXPECT_EQ(t.duplicated, 1);
    RowBag inputs;
    inputs.add(keyOf(QStringLiteral("c")), c);
    t = account({&before, &db, &archived, &inputs, &leftover, nullptr});
    EXPECT_EQ(t.duplicated, 0);

    // A row that was never there, and an archive row under another month, count as misfiled.
    RowBag foreign, wrongMonth;
    db.add(keyOf(QStringLiteral("x")), x);
    wrongMonth.add(keyOf(QStringLiteral("b")), b);
    t = account({&before, &db, &archived, &inputs, &leftover, &wrongMonth});
    EXPECT_EQ(t.misfiled, 2);
    EXPECT_EQ(t.lost, 0);
}
