// SPDX-License-Identifier: MIT
// sjql-host verify and archives as processes. Every archive a real clear writes verifies sound,
// with the rows per table the database held, also after a repack by Info-ZIP and 7-Zip; each
// archive of a catalogue of damaged ones (one defect each) is found with the right verdict; the
// listing shows what clear wrote, groups runs of one year and shows an unfinished year; the JSON
// document parses and holds the counts of the lines.
#include "archive/CompressUnit.h"
#include "helpers/BackupRows.h"
#include "helpers/HostProcess.h"
#include "helpers/TestDatabase.h"
#include "support/AdtgReader.h"
#include "support/AdtgWriter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>

using namespace sjql;
using namespace sjql::test;

namespace {

constexpr int kSound = 0, kNotRun = 1, kUsage = 2, kProblem = 3;

// Runs a tool (zip, 7z, unzip, python3) and says whether it succeeded.
bool tool(const QString& program, const QStringList& args, const QString& workDir = QString())
{
    QProcess p;
    p.setWorkingDirectory(workDir);
    p.start(program, args);
    if (!p.waitForFinished(120000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        ADD_FAILURE() << program.toStdString() << " failed: " << p.readAllStandardError().toStdString();
        return false;
    }
    return true;
}

// Every member of `archive` into `folder` (unzip, not the module's own unpacking).
bool extract(const QString& archive, const QString& folder, const QString& password = ArchivePassword)
{
    return tool(QStringLiteral("unzip"), {QStringLiteral("-q"), QStringLiteral("-o"), QStringLiteral("-P"), password,
                                          archive, QStringLiteral("-d"), folder});
}

// The files of `folder` packed flat with Info-ZIP and a password.
bool zipFolder(const QString& folder, const QString& archive, const QString& password = ArchivePassword)
{
    QFile::remove(archive);
    return tool(QStringLiteral("zip"),
                QStringList{QStringLiteral("-q"), QStringLiteral("-j"), QStringLiteral("-P"), password, archive} +
                    QDir(folder).entryList(QDir::Files),
                folder);
}

// Rewrites a data file with `change` applied to each row's values (row numbers from 0).
void rewriteDataFile(const QString& path,
                     const std::function<void(int, const adtg::AdtgRecordset&, QVariantList&)>& change)
{
    adtg::AdtgRecordset rs;
    ASSERT_TRUE(rs.open(path)) << rs.errorString().toStdString();
    std::vector<adtg::AdtgColumn> columns;
    for (int i = 0; i < rs.fieldCount(); ++i)
        columns.push_back(rs.column(i));
    adtg::AdtgWriter writer(columns);
    for (int row = 0; !rs.eof(); rs.moveNext(), ++row) {
        QVariantList values;
        for (int i = 0; i < rs.fieldCount(); ++i)
            values << (rs.field(i).isNull() ? QVariant() : rs.field(i).value());
        change(row, rs, values);
        ASSERT_TRUE(writer.addRow(values)) << writer.errorString().toStdString();
    }
    rs.close();
    ASSERT_TRUE(writer.save(path)) << writer.errorString().toStdString();
}

QJsonObject document(const HostRun& r)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(r.out.toUtf8(), &error);
    EXPECT_TRUE(doc.isObject()) << error.errorString().toStdString() << "\n" << r.out.toStdString();
    return doc.object();
}

// "month=201901 cleared ZCGZXJMXB=4 FGZXJB=0 KJSDSBGB=4 ok" -> {ZCGZXJMXB: 4, ...} by month.
QMap<QString, QMap<QString, qint64>> monthRowsOfLines(const QStringList& monthLines)
{
    QMap<QString, QMap<QString, qint64>> out;
    static const QRegularExpression pair(QStringLiteral("([A-Z]+)=(\\d+)"));
    for (const QString& line : monthLines) {
        const QString month = line.section(QLatin1Char(' '), 0, 0);
        auto it = pair.globalMatch(line);
        while (it.hasNext()) {
            const auto m = it.next();
            out[month][m.captured(1)] = m.captured(2).toLongLong();
        }
    }
    return out;
}

QMap<QString, QMap<QString, qint64>> monthRowsOfJson(const QJsonObject& archive)
{
    QMap<QString, QMap<QString, qint64>> out;
    for (const QJsonValue& m : archive.value(QStringLiteral("months")).toArray()) {
        const QJsonObject rows = m.toObject().value(QStringLiteral("rows")).toObject();
        for (auto it = rows.begin(); it != rows.end(); ++it)
            out[m.toObject().value(QStringLiteral("month")).toString()][it.key()] = it.value().toInteger();
    }
    return out;
}

} // namespace

// A demo installation of the kind, with 2019 and 2020 cleared into the backup folder.
class InspectRun : public testing::TestWithParam<const char*>
{
protected:
    void SetUp() override
    {
        const QString kind = QString::fromLatin1(GetParam());
        QStringList init{QStringLiteral("init"),    QStringLiteral("--home"),      home.path(),
                         QStringLiteral("--years"), QStringLiteral("2019-2021"),   QStringLiteral("--period"),
                         QStringLiteral("202106"),  QStringLiteral("--employees"), QStringLiteral("4")};
        if (kind == QLatin1String("MYSQL")) {
            server = std::make_unique<TestDatabase>(kind);
            ASSERT_TRUE(server->ok()) << server->error().toStdString();
            init << QStringLiteral("--db") << server->location().url;
        }
        HostRun r = run(init);
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
        agent = r.values(QStringLiteral("agents")).value(0).section(QLatin1Char(','), 0, 0);
        ASSERT_TRUE(openInstalledDatabase(server.get(), QDir(home.path()), &sqlite, &db));
        // The rows per month and table the clear is to take away.
        for (int month = 1; month <= 12; ++month) {
            for (const char* table : kHistoryTables) {
                QSqlQuery q(db);
                ASSERT_TRUE(q.exec(QStringLiteral("select count(*) from %1 where FFYF='%2' and KJYWRBM='%3'")
                                       .arg(QLatin1String(table), periodOf(2019, month), agent)));
                before[periodOf(2019, month)][QLatin1String(table)] = q.next() ? q.value(0).toLongLong() : -1;
            }
        }
        r = run({QStringLiteral("clear"), QStringLiteral("--home"), home.path(), QStringLiteral("--years"),
                 QStringLiteral("2020,2019"), QStringLiteral("--backup-dir"), backupDir, QStringLiteral("--quiet")});
        // 202008 is locked by the tax office in the demo data and stays: a line reports it (exit 3).
        ASSERT_TRUE(r.exitCode == 0 || r.exitCode == 3) << r.out.toStdString() << r.err.toStdString();
        archives = r.values(QStringLiteral("archive"));
        ASSERT_EQ(archives.size(), 2) << r.out.toStdString();
    }

    void TearDown() override
    {
        db = QSqlDatabase();
        sqlite.reset();
    }

    HostRun run(const QStringList& args) { return RunHost(args, exeDir.path()); }

    QString archiveOf(const QString& year) const
    {
        for (const QString& a : archives) {
            if (QFileInfo(a).fileName().contains(year + QStringLiteral("年_")))
                return a;
        }
        return {};
    }

    QTemporaryDir home, exeDir, work;
    const QString backupDir = home.filePath(QStringLiteral("backup"));
    std::unique_ptr<TestDatabase> server;
    std::unique_ptr<HostConnection> sqlite;
    QSqlDatabase db;
    QString agent;
    QStringList archives;
    QMap<QString, QMap<QString, qint64>> before;
};

TEST_P(InspectRun, EveryArchiveTheBackupWritesVerifiesWithTheRowsTheDatabaseHeld)
{
    HostRun r = run(QStringList{QStringLiteral("verify"), QStringLiteral("--json")} + archives);
    ASSERT_EQ(r.exitCode, kSound) << r.err.toStdString();
    const QJsonObject doc = document(r);
    EXPECT_EQ(doc.value(QStringLiteral("schema")).toInt(), 1);
    EXPECT_EQ(doc.value(QStringLiteral("exitCode")).toInt(), kSound);
    const QJsonArray list = doc.value(QStringLiteral("archives")).toArray();
    ASSERT_EQ(list.size(), 2);
    for (const QJsonValue& a : list) {
        EXPECT_EQ(a.toObject().value(QStringLiteral("verdict")).toString(), QStringLiteral("sound"));
        EXPECT_EQ(a.toObject().value(QStringLiteral("agent")).toString(), agent);
    }
    // 2019: every month cleared, each table with exactly the rows the database had.
    QJsonObject y2019;
    for (const QJsonValue& a : list) {
        if (a.toObject().value(QStringLiteral("year")).toString() == QLatin1String("2019"))
            y2019 = a.toObject();
    }
    ASSERT_FALSE(y2019.isEmpty());
    EXPECT_EQ(y2019.value(QStringLiteral("clearedMonths")).toArray().size(), 12);
    EXPECT_EQ(monthRowsOfJson(y2019), before);

    // The human lines (stderr beside the document) tell the same counts; without --json they are
    // stdout, ending in the result line.
    r = run({QStringLiteral("verify"), archiveOf(QStringLiteral("2019"))});
    ASSERT_EQ(r.exitCode, kSound) << r.err.toStdString();
    EXPECT_EQ(monthRowsOfLines(r.values(QStringLiteral("month"))), before);
    EXPECT_EQ(r.values(QStringLiteral("verdict")),
              QStringList{QStringLiteral("sound ") + QFileInfo(archiveOf(QStringLiteral("2019"))).absoluteFilePath()});
    EXPECT_TRUE(r.lastLine().startsWith(QStringLiteral("result="))) << r.out.toStdString();

    // The listing finds both archives in the folder the window uses, verified.
    r = run({QStringLiteral("archives"), QStringLiteral("--home"), home.path(), QStringLiteral("--verify")});
    EXPECT_EQ(r.exitCode, kSound) << r.out.toStdString() << r.err.toStdString();
    EXPECT_EQ(r.values(QStringLiteral("archive")).size(), 2) << r.out.toStdString();
    EXPECT_EQ(r.values(QStringLiteral("verdict")).filter(QRegularExpression(QStringLiteral("^sound "))).size(), 2);
    EXPECT_TRUE(r.values(QStringLiteral("archive")).filter(QStringLiteral(" 2019 201901-201912 ")).size() == 1)
        << r.out.toStdString();
}

TEST_P(InspectRun, ArchivesRepackedByInfoZipAnd7ZipVerify)
{
    const QString original = archiveOf(QStringLiteral("2019"));
    const QString files = work.filePath(QStringLiteral("files"));
    ASSERT_TRUE(extract(original, files));
    // Same names as the backup gives, so the name still tells agent and year.
    const QString viaZip = work.filePath(QStringLiteral("zip/") + QFileInfo(original).fileName());
    const QString via7z = work.filePath(QStringLiteral("7z/") + QFileInfo(original).fileName());
    QDir().mkpath(QFileInfo(viaZip).path());
    QDir().mkpath(QFileInfo(via7z).path());
    ASSERT_TRUE(zipFolder(files, viaZip));
    ASSERT_TRUE(tool(QStringLiteral("7z"),
                     {QStringLiteral("a"), QStringLiteral("-tzip"), QStringLiteral("-bd"),
                      QStringLiteral("-p") + QString(ArchivePassword), via7z, files + QStringLiteral("/*")}));
    const HostRun r = run({QStringLiteral("verify"), QStringLiteral("--json"), viaZip, via7z});
    ASSERT_EQ(r.exitCode, kSound) << r.err.toStdString();
    for (const QJsonValue& a : document(r).value(QStringLiteral("archives")).toArray()) {
        EXPECT_EQ(a.toObject().value(QStringLiteral("verdict")).toString(), QStringLiteral("sound"));
        EXPECT_EQ(monthRowsOfJson(a.toObject()), before);
    }
}

INSTANTIATE_TEST_SUITE_P(Db, InspectRun, SJQL_DATABASE_KINDS);

// The damage catalogue and the listing, on one SQLite installation with 2019 cleared.
class InspectDamage : public testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s = new Shared;
        HostRun r = RunHost({QStringLiteral("init"), QStringLiteral("--home"), s->home.path(),
                             QStringLiteral("--years"), QStringLiteral("2019-2021"), QStringLiteral("--period"),
                             QStringLiteral("202106"), QStringLiteral("--employees"), QStringLiteral("3"),
                             QStringLiteral("--agents"), QStringLiteral("2")},
                            s->exeDir.path());
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
        s->agent = r.values(QStringLiteral("agents")).value(0).section(QLatin1Char(','), 0, 0);
        r = RunHost({QStringLiteral("clear"), QStringLiteral("--home"), s->home.path(), QStringLiteral("--years"),
                     QStringLiteral("2019"), QStringLiteral("--backup-dir"), s->home.filePath(QStringLiteral("backup")),
                     QStringLiteral("--quiet")},
                    s->exeDir.path());
        ASSERT_EQ(r.exitCode, 0) << r.out.toStdString() << r.err.toStdString();
        s->archive = r.value(QStringLiteral("archive"));
        ASSERT_FALSE(s->archive.isEmpty());
    }
    static void TearDownTestSuite()
    {
        delete s;
        s = nullptr;
    }

    void SetUp() override { ASSERT_TRUE(s && !s->archive.isEmpty()); }

    HostRun run(const QStringList& args) { return RunHost(args, s->exeDir.path()); }

    // The archive's members in a folder of the test's own.
    QString members()
    {
        const QString folder = work.filePath(QStringLiteral("members"));
        EXPECT_TRUE(extract(s->archive, folder));
        return folder;
    }

    // A copy of the archive under its own name in the test's folder.
    QString copyNamed() const
    {
        const QString path = work.filePath(QFileInfo(s->archive).fileName());
        QFile::remove(path);
        EXPECT_TRUE(QFile::copy(s->archive, path));
        return path;
    }

    struct Shared
    {
        QTemporaryDir home, exeDir;
        QString agent, archive;
    };
    static inline Shared* s = nullptr;
    QTemporaryDir work;
};

// One defect each; the verdict and a word of the problem the user must read.
TEST_F(InspectDamage, EachDamageOfTheCatalogueIsFound)
{
    struct Case
    {
        const char* name;
        std::function<QString()> make; // the damaged archive
        const char* verdict;
        QString problem;
    };
    const QString name = QFileInfo(s->archive).fileName();
    auto repacked = [&](const std::function<void(const QString& folder)>& change,
                        const QString& password = ArchivePassword) {
        const QString folder = members();
        change(folder);
        const QString path = work.filePath(QStringLiteral("out/") + name);
        QDir().mkpath(QFileInfo(path).path());
        EXPECT_TRUE(zipFolder(folder, path, password));
        QDir(folder).removeRecursively();
        return path;
    };
    auto setRowValue = [](const QString& file, const char* column, const QVariant& value) {
        rewriteDataFile(file, [&](int row, const adtg::AdtgRecordset& rs, QVariantList& values) {
            if (row == 0)
                values[rs.fieldIndex(QString::fromLatin1(column))] = value;
        });
    };
    const std::vector<Case> cases = {
        {"truncated",
         [&] {
             const QString path = copyNamed();
             QFile f(path);
             EXPECT_TRUE(f.resize(f.size() * 6 / 10));
             return path;
         },
         "unreadable", QString()},
        {"flipped byte in a member",
         [&] {
             // The compressed bytes of a member in the middle of the archive (not the first one
             // decrypted, which would read as a wrong password).
             const QString path = copyNamed();
             QFile f(path);
             EXPECT_TRUE(f.open(QIODevice::ReadWrite));
             QByteArray bytes = f.readAll();
             const QByteArray member("ZCGZXJMXB_201906.dat");
             qsizetype at = bytes.indexOf(member);
             EXPECT_GT(at, 0);
             const qsizetype extra = uchar(bytes[at - 2]) | (uchar(bytes[at - 1]) << 8);
             at += member.size() + extra + 12 + 10; // past the name, extra field and cipher header
             bytes[at] = char(bytes[at] ^ 0x5A);
             f.seek(0);
             f.write(bytes);
             return path;
         },
         "unreadable", QStringLiteral("ZCGZXJMXB_201906.dat")},
        {"missing member",
         [&] { return repacked([](const QString& f) { QFile::remove(f + QStringLiteral("/FGZXJB_201903.dat")); }); },
         "damaged", QStringLiteral("FGZXJB_201903.dat")},
        {"summary naming another agent",
         [&] {
             return repacked([&](const QString& folder) {
                 QFile summary(folder + QStringLiteral("/BFZYXX.xml"));
                 ASSERT_TRUE(summary.open(QIODevice::ReadOnly));
                 QByteArray bytes = summary.readAll();
                 summary.close();
                 const QByteArray from = "KJYWRBM=\"" + s->agent.toLatin1() + '"';
                 ASSERT_TRUE(bytes.contains(from));
                 bytes.replace(from, "KJYWRBM=\"OTHERAGENT\"");
                 ASSERT_TRUE(summary.open(QIODevice::WriteOnly | QIODevice::Truncate));
                 summary.write(bytes);
             });
         },
         "damaged", QStringLiteral("OTHERAGENT")},
        {"a row of another month",
         [&] {
             return repacked([&](const QString& folder) {
                 setRowValue(folder + QStringLiteral("/ZCGZXJMXB_201903.dat"), "FFYF", QStringLiteral("201902"));
             });
         },
         "damaged", QStringLiteral("201902")},
        {"a row of another agent",
         [&] {
             return repacked([&](const QString& folder) {
                 setRowValue(folder + QStringLiteral("/KJSDSBGB_201905.dat"), "KJYWRBM", QStringLiteral("ELSEWHERE"));
             });
         },
         "damaged", QStringLiteral("ELSEWHERE")},
        {"a date the restore cannot write back",
         [&] {
             return repacked([&](const QString& folder) {
                 setRowValue(folder + QStringLiteral("/ZCGZXJMXB_201907.dat"), "QSRQ",
                             QDateTime(QDate(2019, 7, 1), QTime(10, 30)));
             });
         },
         "damaged", QStringLiteral("QSRQ")},
        {"wrong password", [&] { return repacked([](const QString&) {}, QStringLiteral("not-the-password")); },
         "wrong-password", QString()},
        {"crafted member name",
         [&] {
             const QString path = copyNamed();
             tool(QStringLiteral("python3"),
                  {QStringLiteral("-c"),
                   QStringLiteral(
                       "import sys,zipfile; zipfile.ZipFile(sys.argv[1],'a').writestr('../../evil.dat',b'x')"),
                   path});
             return path;
         },
         "refused", QStringLiteral("../../evil.dat")},
        {"a member the summary does not name",
         [&] {
             return repacked([](const QString& folder) {
                 QFile extra(folder + QStringLiteral("/notes.txt"));
                 ASSERT_TRUE(extra.open(QIODevice::WriteOnly));
                 extra.write("hello");
             });
         },
         "damaged", QStringLiteral("notes.txt")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = c.make();
        const HostRun r = run({QStringLiteral("verify"), QStringLiteral("--json"), path});
        EXPECT_EQ(r.exitCode, kProblem) << r.err.toStdString();
        const QJsonObject archive = document(r).value(QStringLiteral("archives")).toArray().at(0).toObject();
        EXPECT_EQ(archive.value(QStringLiteral("verdict")).toString(), QLatin1String(c.verdict)) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(QStringLiteral("verdict=%1 ").arg(QLatin1String(c.verdict)))) << r.err.toStdString();
        if (!c.problem.isEmpty()) {
            EXPECT_TRUE(r.err.contains(c.problem)) << r.err.toStdString();
        }
        EXPECT_TRUE(r.err.contains(QStringLiteral("result=检查了1个备份文件：1个有问题"))) << r.err.toStdString();
        QFile::remove(path);
    }
    // The sound archive beside a damaged one: both judged, the run exits 3.
    const QString truncated = cases[0].make();
    const HostRun r = run({QStringLiteral("verify"), s->archive, truncated});
    EXPECT_EQ(r.exitCode, kProblem);
    EXPECT_EQ(r.values(QStringLiteral("verdict")).size(), 2);
    EXPECT_TRUE(r.values(QStringLiteral("verdict")).first().startsWith(QStringLiteral("sound ")));
    EXPECT_EQ(r.lastLine(), QStringLiteral("result=检查了2个备份文件：1个有问题"));
}

TEST_F(InspectDamage, WrongCommandLinesAndMissingArchivesTouchNothing)
{
    EXPECT_EQ(run({QStringLiteral("verify")}).exitCode, kUsage);
    EXPECT_EQ(run({QStringLiteral("verify"), s->archive, s->archive}).exitCode, kUsage);
    HostRun r = run({QStringLiteral("verify"), work.filePath(QStringLiteral("nothing.zip"))});
    EXPECT_EQ(r.exitCode, kNotRun);
    EXPECT_TRUE(r.lastLine().startsWith(QStringLiteral("result=not done: "))) << r.out.toStdString();
    r = run({QStringLiteral("verify"), QStringLiteral("--json"), work.filePath(QStringLiteral("nothing.zip"))});
    EXPECT_EQ(r.exitCode, kNotRun);
    EXPECT_TRUE(r.out.isEmpty()) << r.out.toStdString(); // no document, and nothing else either
    r = run({QStringLiteral("archives"), QStringLiteral("--home"), s->home.path(), QStringLiteral("--dir"),
             work.filePath(QStringLiteral("nowhere"))});
    EXPECT_EQ(r.exitCode, kNotRun);
    r = run({QStringLiteral("archives"), QStringLiteral("--home"), work.filePath(QStringLiteral("no-installation"))});
    EXPECT_EQ(r.exitCode, kNotRun);
}

TEST_F(InspectDamage, ListingGroupsRunsOfOneYearAndShowsUnfinishedYears)
{
    // A second run of 2019 in another folder, and a year whose months wait in the work folder.
    const QString folder = work.filePath(QStringLiteral("list"));
    QDir().mkpath(folder);
    const QString first = folder + QLatin1Char('/') + QFileInfo(s->archive).fileName();
    QString second = first;
    second.replace(QRegularExpression(QStringLiteral("_\\d{17}\\.zip$")), QStringLiteral("_20300101120000000.zip"));
    ASSERT_TRUE(QFile::copy(s->archive, first));
    ASSERT_TRUE(QFile::copy(s->archive, second));
    const QString waiting = s->home.filePath(QStringLiteral("Apps/16/TEMP/TMPBFMU/%1/2020").arg(s->agent));
    ASSERT_TRUE(QDir().mkpath(waiting));
    ASSERT_TRUE(extract(s->archive, work.filePath(QStringLiteral("m"))));
    for (const char* table : kHistoryTables) {
        ASSERT_TRUE(QFile::copy(work.filePath(QStringLiteral("m/%1_201901.dat").arg(QLatin1String(table))),
                                waiting + QStringLiteral("/%1_202001.dat").arg(QLatin1String(table))));
    }

    const HostRun r = run({QStringLiteral("archives"), QStringLiteral("--home"), s->home.path(),
                           QStringLiteral("--dir"), folder, QStringLiteral("--json")});
    QDir(waiting).removeRecursively();
    ASSERT_EQ(r.exitCode, kSound) << r.err.toStdString();
    const QJsonObject doc = document(r);
    const QJsonArray list = doc.value(QStringLiteral("archives")).toArray();
    ASSERT_EQ(list.size(), 2);
    EXPECT_EQ(list.at(0).toObject().value(QStringLiteral("sameYear")).toArray(),
              QJsonArray{QFileInfo(second).absoluteFilePath()});
    EXPECT_FALSE(list.at(0).toObject().contains(QStringLiteral("verdict"))); // listed, not verified
    EXPECT_EQ(list.at(0).toObject().value(QStringLiteral("folder")).toString(), QStringLiteral("backup"));
    EXPECT_TRUE(r.err.contains(QStringLiteral("same_year=%1 2019 2").arg(s->agent))) << r.err.toStdString();
    const QJsonArray unfinished = doc.value(QStringLiteral("unfinished")).toArray();
    ASSERT_EQ(unfinished.size(), 1);
    EXPECT_EQ(unfinished.at(0).toObject().value(QStringLiteral("year")).toString(), QStringLiteral("2020"));
    EXPECT_EQ(unfinished.at(0).toObject().value(QStringLiteral("months")).toArray(),
              QJsonArray{QStringLiteral("202001")});
    EXPECT_TRUE(r.err.contains(QStringLiteral("unfinished=%1 2020 202001 ").arg(s->agent))) << r.err.toStdString();
    // The listing's rows are the summed rows of the months, the same in the line and the document.
    const QJsonObject rows = list.at(0).toObject().value(QStringLiteral("rows")).toObject();
    EXPECT_TRUE(r.err.contains(QStringLiteral(" ZCGZXJMXB=%1 FGZXJB=%2 KJSDSBGB=%3 ")
                                   .arg(rows.value(QStringLiteral("ZCGZXJMXB")).toInteger())
                                   .arg(rows.value(QStringLiteral("FGZXJB")).toInteger())
                                   .arg(rows.value(QStringLiteral("KJSDSBGB")).toInteger())))
        << r.err.toStdString();

    // An archive that cannot be read in the folder: listed with its problem, exit 3.
    QFile f(second);
    ASSERT_TRUE(f.resize(100));
    const HostRun damaged =
        run({QStringLiteral("archives"), QStringLiteral("--home"), s->home.path(), QStringLiteral("--dir"), folder});
    EXPECT_EQ(damaged.exitCode, kProblem);
    EXPECT_EQ(damaged.values(QStringLiteral("problem")).size(), 1) << damaged.out.toStdString();
    EXPECT_EQ(damaged.lastLine(), QStringLiteral("result=列出了2个备份文件：1个有问题"));
}
