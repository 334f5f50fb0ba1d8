// SPDX-License-Identifier: MIT
// The restore's two ways of putting rows back, literal INSERT statements and one prepared statement
// per data file, store the same thing: every table restored from data files full of edge values
// (quotes, backslashes, long and Chinese texts, extreme and odd amounts, NULLs, dates with times),
// once each way, compared cell by cell with its stored type; and a row no statement can carry ends
// the run with the same lines, the same SQL log and nothing left behind.
#include "archive/CompressUnit.h"
#include "context/ModuleContext.h"
#include "db/SqlLog.h"
#include "helpers/DemoDatabase.h"
#include "hostapi/Gbk.h"
#include "jobs/BackupSummary.h"
#include "jobs/RestoreJob.h"
#include "jobs/RowBuilders.h"
#include "support/AdtgWriter.h"

#include <QDir>
#include <QFile>
#include <QSqlRecord>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace sjql;

namespace {

const QString kPeriod = QStringLiteral("200803");
const char* const kTables[] = {"ZCGZXJMXB", "FGZXJB", "KJSDSBGB"};
const char* const kFilePrefixes[] = {"ZCGZXJMXB_", "FGZXJB_", "KJSDSBGB_"};

struct Outcome
{
    QStringList lines;
    QStringList cells; // every row of the three tables for the month, typed
    QString log;       // the SQL error log's entries without their time stamps
};

} // namespace

class RestorePaths : public test::DemoRunSuite
{
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(openDemoRun({2, 3, 2008, 2008, QStringLiteral("201003")}, {"files"}));
    }

    // A data file of table `index` whose rows take the values `value(row, column, column number)`
    // gives; the columns are typed as a backup types the host's columns, amounts with six places so
    // that rounding to the statement's places is exercised too.
    QString writeFile(int index, int rows, const std::function<QVariant(int, const RestoreColumn&, int)>& value)
    {
        std::vector<adtg::AdtgColumn> columns;
        const std::vector<RestoreColumn> restored = RestoredColumns(index);
        for (const RestoreColumn& c : restored) {
            const QString name = QString::fromLatin1(c.name);
            switch (c.reading) {
            case RestoreReading::Text:
                columns.push_back(adtg::AdtgColumn::fromAdoType(name, adtg::adLongVarWChar, 0, true));
                break;
            case RestoreReading::Integer:
                columns.push_back(adtg::AdtgColumn::fromAdoType(name, adtg::adBigInt, 0, true));
                break;
            case RestoreReading::Amount:
                columns.push_back(adtg::AdtgColumn::fromAdoType(name, adtg::adNumeric, 0, true, 20, 6));
                break;
            case RestoreReading::Date:
                columns.push_back(adtg::AdtgColumn::fromAdoType(name, adtg::adDate, 0, true));
                break;
            }
        }
        adtg::AdtgWriter writer(columns);
        EXPECT_TRUE(writer.isValid()) << writer.errorString().toStdString();
        for (int r = 0; r < rows; ++r) {
            QVariantList values;
            for (int column = 0; column < int(restored.size()); ++column) {
                const RestoreColumn& c = restored[size_t(column)];
                const QString name = QString::fromLatin1(c.name);
                if (name.compare(QLatin1String("KJYWRBM"), Qt::CaseInsensitive) == 0)
                    values << agent;
                else if (name.compare(QLatin1String("FFYF"), Qt::CaseInsensitive) == 0)
                    values << kPeriod;
                else
                    values << value(r, c, column);
            }
            EXPECT_TRUE(writer.addRow(values)) << writer.errorString().toStdString();
        }
        const QString file =
            path(QStringLiteral("files/") + QLatin1String(kFilePrefixes[index]) + kPeriod + QStringLiteral(".dat"));
        QFile f(file);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(writer.toBytes());
        return file;
    }

    QString archiveOf(const QStringList& files, const QString& name)
    {
        QSqlQuery q =
            db->exec(QStringLiteral("select WYSBH from SBZB where SBYF='%1' and KJYWRBM='%2'").arg(kPeriod, agent));
        const QString declaration = q.next() ? q.value(0).toString() : QString();
        const QString records = AppendBackupRecord(QString(), QStringLiteral("Y"), kPeriod, declaration);
        const QString summary = path(name + QStringLiteral("/BFZYXX.xml"));
        QDir().mkpath(path(name));
        QFile f(summary);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(BuildBackupSummary(QStringLiteral("2008"), records, agent, QStringLiteral("03")));
        f.close();
        const QString archive = path(name + QStringLiteral(".zip"));
        QString error;
        EXPECT_TRUE(CompressFiles(QStringList(files) << summary, archive, QString(ArchivePassword), &error))
            << error.toStdString();
        return archive;
    }

    // Every cell of the agent's rows of the month with its stored type (SQLite) or the hex of its stored bytes
    // (MariaDB), the generated key left out; sorted rows.
    QStringList cells()
    {
        QStringList out;
        for (const char* table : kTables) {
            const QSqlRecord rec = db->connection().database().record(QLatin1String(table));
            QStringList columns;
            for (int i = 0; i < rec.count(); ++i) {
                const QString name = rec.fieldName(i);
                if (name.compare(QLatin1String("id"), Qt::CaseInsensitive) == 0)
                    continue;
                columns << (db->sqlite() ? QStringLiteral("typeof(%1)||':'||quote(%1)")
                                         : QStringLiteral("concat('%1:',coalesce(hex(%1),'NULL'))"))
                               .arg(name);
            }
            QSqlQuery q = db->exec(QStringLiteral("select %1 from %2 where FFYF='%3' and KJYWRBM='%4'")
                                       .arg(columns.join(QLatin1Char(',')), QLatin1String(table), kPeriod, agent));
            EXPECT_TRUE(q.isActive()) << db->error().toStdString();
            while (q.next()) {
                QStringList row{QLatin1String(table)};
                for (int i = 0; i < columns.size(); ++i)
                    row << q.value(i).toString();
                out << row.join(QLatin1Char('|'));
            }
        }
        out.sort();
        return out;
    }

    Outcome restore(const QString& archive, bool literal)
    {
        const QString logFolder = path(QStringLiteral("log"));
        for (const QString& f : QDir(logFolder).entryList(QDir::Files))
            QFile::remove(logFolder + QLatin1Char('/') + f);
        RestoreSettings settings;
        settings.archives = {archive};
        settings.unpackFolder = path(QStringLiteral("work/UnZipDir/"));
        settings.backupFolder = path(QStringLiteral("backup"));
        settings.agentCode = agent;
        settings.hostAppCode = QStringLiteral("03");
        settings.literalStatements = literal;
        RestoreJob job(settings);
        job.processEvents = [] {};
        QString text;
        qint16 progress = 0;
        TDispResultList results;
        (void)job.Run(text, progress, results);
        Outcome out;
        for (int i = 0; i < results.LineCount(); ++i)
            out.lines << results.GetLine(i).Text;
        out.cells = cells();
        QFile log(SqlLogFilePath(QDate::currentDate()));
        if (log.open(QIODevice::ReadOnly)) {
            // "yyyy/M/d h:mm:ss  message": the time stamp differs from run to run.
            for (const QByteArray& line : log.readAll().split('\n'))
                out.log += fromGbk(QByteArrayView(line.mid(line.indexOf("  ") + 2))) + QLatin1Char('\n');
        }
        EXPECT_FALSE(db->connection().inTransaction());
        return out;
    }
};

namespace {

// Texts that need care in a literal, or are long or Chinese.
QString edgeText(int r)
{
    static const QStringList texts = {
        QStringLiteral("O'Brien"),
        QStringLiteral("back\\slash\\"),
        QStringLiteral("''\\'\\\\"),
        QStringLiteral("张三丰·（北京）有限公司"),
        QString(),
        QStringLiteral("  blanks  "),
        QStringLiteral("%d %s ? :name $1"),
        QStringLiteral("emoji \U0001F600 and € ¥"),
        QStringLiteral("line\r\nbreak\ttab"),
        QStringLiteral("0123"),
        QStringLiteral("1e5"),
    };
    return texts.at(r % texts.size());
}

// Amounts as decimal texts with six places: zero, signs, rounding at the statement's places,
// halves, the largest the columns hold, and values of every size between.
QVariant edgeAmount(int r, int column)
{
    static const char* const amounts[] = {
        "0",     "-0.005", "0.005", "0.004999",        "1234.5678",        "-1234.565",
        "0.1",   "0.2",    "0.3",   "999999999999.99", "-999999999999.99", "12345678.901234",
        "7.125", "-7.135", "1e0",   "0.000049",        "33.334999",        "100",
    };
    const int n = int(sizeof amounts / sizeof amounts[0]);
    const QString text = QString::fromLatin1(amounts[(r + column) % n]);
    if (text == QLatin1String("1e0"))
        return QVariant(); // NULL
    // Many different cent values, to meet SQLite's reading of decimals at every kind of fraction.
    if ((r + column) % 3 == 0)
        return QStringLiteral("%1.%2").arg(r * 7919 % 100000).arg((r * 37 + column) % 100, 2, 10, QLatin1Char('0'));
    return text.length() > 22 ? text.left(22) : text;
}

QVariant edgeValue(int r, const RestoreColumn& c, int column)
{
    if ((r + column) % 11 == 5)
        return QVariant(); // NULL reads as '', 0 and 1899-12-30
    switch (c.reading) {
    case RestoreReading::Text:
        if (r == 3 && column % 4 == 1)
            return QString(300, QChar(0x4E2D)); // longer than a column holds
        // The month of the declaration's check holds six characters.
        if (qstricmp(c.name, "ZCYF") == 0)
            return edgeText(r + column).left(6);
        return edgeText(r + column);
    case RestoreReading::Integer: {
        static const qint64 integers[] = {0, 1, -1, 2147483647, -2147483647 - 1, 42, 7};
        return QVariant::fromValue<qlonglong>(integers[(r + column) % 7]);
    }
    case RestoreReading::Amount:
        if (qstricmp(c.name, "SL") == 0) {
            // A rate: four places in its statement, at most 999999.9999 in its column.
            static const char* const rates[] = {"0.03", "0.45", "-0.0001", "0.00005", "0.123456", "99999.9999"};
            return QString::fromLatin1(rates[(r + column) % 6]);
        }
        return edgeAmount(r, column);
    case RestoreReading::Date: {
        static const QDateTime dates[] = {
            QDateTime(QDate(2008, 3, 1), QTime(0, 0), Qt::UTC),
            QDateTime(QDate(2008, 3, 31), QTime(23, 59, 59), Qt::UTC),
            QDateTime(QDate(1899, 12, 30), QTime(0, 0), Qt::UTC),
            QDateTime(QDate(1900, 2, 28), QTime(12, 0), Qt::UTC),
            QDateTime(QDate(2038, 1, 19), QTime(3, 14, 8), Qt::UTC),
            QDateTime(QDate(9999, 12, 31), QTime(0, 0), Qt::UTC),
        };
        return dates[(r + column) % 6];
    }
    }
    return QVariant();
}

} // namespace

TEST_P(RestorePaths, EveryTableStoresTheSameCellsBothWays)
{
    QStringList files;
    for (int index = 0; index < 3; ++index) {
        files << writeFile(index, 60,
                           [](int r, const RestoreColumn& c, int column) { return edgeValue(r, c, column); });
    }
    // Row 3 holds texts longer than their columns: a strict server refuses that row, SQLite keeps
    // it. Either way both paths must end alike.
    const QString archive = archiveOf(files, QStringLiteral("edges"));
    const Outcome literal = restore(archive, true);
    const Outcome bound = restore(archive, false);
    EXPECT_EQ(bound.lines, literal.lines);
    EXPECT_EQ(bound.log, literal.log);
    ASSERT_EQ(bound.cells.size(), literal.cells.size());
    for (qsizetype i = 0; i < bound.cells.size(); ++i)
        EXPECT_EQ(bound.cells.at(i), literal.cells.at(i)) << i;
}

TEST_P(RestorePaths, FittingEdgeValuesAreRestoredTheSameWays)
{
    QStringList files;
    for (int index = 0; index < 3; ++index) {
        files << writeFile(index, 500, [](int r, const RestoreColumn& c, int column) {
            return edgeValue(r == 3 ? 4 : r, c, column); // no over-long texts
        });
    }
    const QString archive = archiveOf(files, QStringLiteral("fitting"));
    const Outcome literal = restore(archive, true);
    ASSERT_EQ(literal.lines.size(), 1) << literal.lines.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(literal.lines.at(0).contains(kPeriod)) << literal.lines.at(0).toStdString();
    EXPECT_EQ(literal.cells.size(), 1500);
    const Outcome bound = restore(archive, false);
    EXPECT_EQ(bound.lines, literal.lines);
    EXPECT_TRUE(bound.log.trimmed().isEmpty()) << bound.log.toStdString();
    ASSERT_EQ(bound.cells.size(), literal.cells.size());
    for (qsizetype i = 0; i < bound.cells.size(); ++i)
        EXPECT_EQ(bound.cells.at(i), literal.cells.at(i)) << i;
}

TEST_P(RestorePaths, RowThatNoStatementCarriesEndsTheRunTheSameWays)
{
    // A NUL inside a text, in the middle of the second file, after a few hundred good rows.
    QStringList files;
    for (int index = 0; index < 3; ++index) {
        files << writeFile(index, 700, [&](int r, const RestoreColumn& c, int) -> QVariant {
            if (index == 1 && r == 450 && c.reading == RestoreReading::Text)
                return QStringLiteral("nul") + QChar(0) + QStringLiteral("inside");
            return edgeValue(r == 3 ? 4 : r, c, 1);
        });
    }
    const QString archive = archiveOf(files, QStringLiteral("nul"));
    const QStringList before = cells();
    const Outcome literal = restore(archive, true);
    const Outcome bound = restore(archive, false);
    EXPECT_EQ(bound.lines, literal.lines);
    EXPECT_EQ(bound.log, literal.log);
    EXPECT_EQ(bound.cells, literal.cells);
    if (db->sqlite()) {
        // SQLite cannot read such a literal: the archive is rolled back, the month as it was.
        EXPECT_EQ(bound.cells, before);
        EXPECT_FALSE(bound.log.trimmed().isEmpty());
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, RestorePaths, SJQL_DATABASE_KINDS);
