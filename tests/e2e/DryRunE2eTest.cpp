// SPDX-License-Identifier: MIT
// sjql-host's dry runs, reports and agents, as a process on the three-agent demo installation: a
// dry run changes nothing (the database's bytes or table checksums, the work and backup folders)
// and its counts are what the real run then does; --all-agents clears every agent's years into
// one archive per agent and year; a real clear without the space it needs refuses to start.
#include "helpers/HostProcess.h"
#include "helpers/TestDatabase.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace sjql;
using namespace sjql::test;

class DryRun : public testing::TestWithParam<const char*>
{
protected:
    void SetUp() override
    {
        QStringList init{QStringLiteral("init"),    QStringLiteral("--home"),      home.path(),
                         QStringLiteral("--years"), QStringLiteral("2019-2021"),   QStringLiteral("--period"),
                         QStringLiteral("202106"),  QStringLiteral("--employees"), QStringLiteral("4")};
        if (QString::fromLatin1(GetParam()) == QLatin1String("MYSQL")) {
            server = std::make_unique<TestDatabase>(QStringLiteral("MYSQL"));
            ASSERT_TRUE(server->ok()) << server->error().toStdString();
            init << QStringLiteral("--db") << server->location().url;
        }
        const HostRun r = host(init);
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
        agents = r.value(QStringLiteral("agents")).split(QLatin1Char(','));
        ASSERT_EQ(agents.size(), 3) << r.out.toStdString();
        backupDir = home.filePath(QStringLiteral("backup"));
    }

    HostRun host(const QStringList& args, const QProcessEnvironment& env = {})
    {
        return RunHost(args, exeDir.path(), env);
    }

    // The JSON document a --json run printed on stdout.
    static QJsonObject document(const HostRun& r)
    {
        const QJsonDocument doc = QJsonDocument::fromJson(r.out.toUtf8());
        EXPECT_TRUE(doc.isObject()) << r.out.toStdString() << r.err.toStdString();
        return doc.object();
    }

    // What a run changes: the database (the SQLite file's bytes, or the server's checksum of every
    // table), the work folder, the backup folder and, with `settings`, the host's and the user's
    // settings files. (Opening the window writes its decrypted copy of the edition's settings
    // into Apps/16/temp, as it always has: not part of a run.)
    QString snapshot(bool settings = true)
    {
        QStringList parts;
        if (server) {
            QSqlQuery q(server->connection().database());
            EXPECT_TRUE(q.exec(QStringLiteral("CHECKSUM TABLE SBZB, ZCGZXJMXB, FGZXJB, KJSDSBGB")));
            while (q.next())
                parts << q.value(0).toString() + QLatin1Char('=') + q.value(1).toString();
        }
        QStringList roots{home.filePath(QStringLiteral("Apps/03/Data")), home.filePath(QStringLiteral("Apps/16/TEMP")),
                          backupDir};
        if (settings)
            roots << home.filePath(QStringLiteral("Users")) << home.filePath(QStringLiteral("host.ini"));
        for (const QString& root : roots) {
            QStringList paths{root};
            QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDirIterator::Subdirectories);
            while (it.hasNext())
                paths << it.next();
            for (const QString& path : paths) {
                const QByteArray bytes = QFileInfo(path).isFile() ? readAll(path) : QByteArray();
                parts << path + QLatin1Char(' ') +
                             QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha1).toHex());
            }
        }
        parts.sort();
        return parts.join(QLatin1Char('\n'));
    }

    static QByteArray readAll(const QString& path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    QStringList archives() const
    {
        return QDir(backupDir).entryList({QStringLiteral("*.zip")}, QDir::Files, QDir::Name);
    }

    QStringList archivePaths() const
    {
        QStringList paths;
        for (const QString& name : archives())
            paths << QDir(backupDir).filePath(name);
        return paths;
    }

    QStringList clearArgs(const QString& years) const
    {
        return {QStringLiteral("clear"),
                QStringLiteral("--home"),
                home.path(),
                QStringLiteral("--years"),
                years,
                QStringLiteral("--backup-dir"),
                backupDir,
                QStringLiteral("--quiet")};
    }

    QTemporaryDir home, exeDir;
    std::unique_ptr<TestDatabase> server;
    QStringList agents;
    QString backupDir;
};

// Month by month of one agent's years: the month object of the report.
static QMap<QString, QJsonObject> monthsOf(const QJsonObject& agent)
{
    QMap<QString, QJsonObject> months;
    for (const QJsonValue& year : agent[QStringLiteral("years")].toArray())
        for (const QJsonValue& month : year[QStringLiteral("months")].toArray())
            months[month[QStringLiteral("period")].toString()] = month.toObject();
    return months;
}

TEST_P(DryRun, ClearAndRestoreDryRunsChangeNothingAndCountWhatTheRunsThenDo)
{
    const QString before = snapshot();
    const HostRun dry =
        host(clearArgs(QStringLiteral("2019,2020")) << QStringLiteral("--dry-run") << QStringLiteral("--json"));
    ASSERT_EQ(dry.exitCode, 0) << dry.err.toStdString();
    EXPECT_EQ(snapshot(), before) << "the dry run changed something";
    const QJsonObject planDoc = document(dry);
    EXPECT_EQ(planDoc[QStringLiteral("schema")].toInt(), 1);
    EXPECT_TRUE(planDoc[QStringLiteral("dryRun")].toBool());
    EXPECT_EQ(planDoc[QStringLiteral("exitCode")].toInt(), 0);
    // The lines for people went to stderr, the last of them the result.
    EXPECT_TRUE(dry.err.contains(QStringLiteral("result=试运行，未做任何更改"))) << dry.err.toStdString();
    const QJsonObject planned = planDoc[QStringLiteral("agents")][0].toObject();
    EXPECT_EQ(planned[QStringLiteral("agent")].toString(), agents[0]);
    EXPECT_TRUE(planned[QStringLiteral("spaceEnough")].toBool());

    const HostRun real = host(clearArgs(QStringLiteral("2019,2020")) << QStringLiteral("--json"));
    ASSERT_TRUE(real.exitCode == 0 || real.exitCode == 3) << real.err.toStdString();
    const QJsonObject done = document(real)[QStringLiteral("agents")][0].toObject();
    const QMap<QString, QJsonObject> plan = monthsOf(planned), run = monthsOf(done);
    ASSERT_EQ(plan.keys(), run.keys());
    const int refused = int(real.err.count(QStringLiteral("的数据清理失败")));
    int differ = 0;
    for (const QString& period : plan.keys()) {
        const QJsonArray p = plan[period][QStringLiteral("tables")].toArray();
        const QJsonArray r = run[period][QStringLiteral("tables")].toArray();
        bool clearedAsPlanned = plan[period][QStringLiteral("action")].toString() == QLatin1String("clear");
        for (qsizetype i = 0; i < 3; ++i) {
            EXPECT_EQ(r[i][QStringLiteral("selected")].toInteger(), p[i][QStringLiteral("selected")].toInteger())
                << period.toStdString();
            if (r[i][QStringLiteral("cleared")].toInteger() != p[i][QStringLiteral("selected")].toInteger() ||
                r[i][QStringLiteral("verified")].toInteger() != p[i][QStringLiteral("selected")].toInteger())
                clearedAsPlanned = false;
        }
        // Only the host library's own refusal at the moment of clearing is beyond the plan.
        if (plan[period][QStringLiteral("action")].toString() == QLatin1String("clear") && !clearedAsPlanned)
            ++differ;
    }
    EXPECT_EQ(differ, refused) << real.err.toStdString();
    int plannedArchives = 0;
    for (const QJsonValue& year : planned[QStringLiteral("years")].toArray())
        plannedArchives += year[QStringLiteral("archive")].toBool() ? 1 : 0;
    EXPECT_EQ(archives().size(), plannedArchives);
    EXPECT_EQ(done[QStringLiteral("archives")].toArray().size(), plannedArchives);

    // The restore: dry run, then the run, on the archives just written.
    const QString cleared = snapshot();
    const QStringList restoreArgs = QStringList{QStringLiteral("restore"), QStringLiteral("--home"), home.path(),
                                                QStringLiteral("--quiet"), QStringLiteral("--json")} +
                                    archivePaths();
    const HostRun dryRestore = host(QStringList(restoreArgs) << QStringLiteral("--dry-run"));
    ASSERT_EQ(dryRestore.exitCode, 0) << dryRestore.err.toStdString();
    EXPECT_EQ(snapshot(), cleared) << "the restore's dry run changed something";
    const HostRun restored = host(restoreArgs);
    ASSERT_EQ(restored.exitCode, 0) << restored.err.toStdString();
    const QJsonArray plannedArchivesJson =
        document(dryRestore)[QStringLiteral("agents")][0][QStringLiteral("archives")].toArray();
    const QJsonArray restoredArchives =
        document(restored)[QStringLiteral("agents")][0][QStringLiteral("archives")].toArray();
    ASSERT_EQ(plannedArchivesJson.size(), restoredArchives.size());
    int months = 0;
    for (qsizetype a = 0; a < restoredArchives.size(); ++a) {
        const QJsonArray p = plannedArchivesJson[a][QStringLiteral("months")].toArray();
        const QJsonArray r = restoredArchives[a][QStringLiteral("months")].toArray();
        ASSERT_EQ(p.size(), r.size());
        for (qsizetype m = 0; m < p.size(); ++m) {
            const bool planRestore = p[m][QStringLiteral("action")].toString() == QLatin1String("restore");
            EXPECT_EQ(r[m][QStringLiteral("restored")].toBool(), planRestore)
                << p[m][QStringLiteral("period")].toString().toStdString();
            for (qsizetype i = 0; i < 3 && planRestore; ++i)
                EXPECT_EQ(r[m][QStringLiteral("tables")][i][QStringLiteral("restored")].toInteger(),
                          p[m][QStringLiteral("tables")][i][QStringLiteral("inArchive")].toInteger());
            months += planRestore ? 1 : 0;
        }
    }
    EXPECT_EQ(months, 24 - refused);
}

TEST_P(DryRun, AllAgentsClearsEachAgentsYearsIntoOneArchivePerAgentAndYear)
{
    const HostRun dry =
        host(clearArgs(QStringLiteral("2019,2020")) << QStringLiteral("--all-agents") << QStringLiteral("--dry-run"));
    ASSERT_EQ(dry.exitCode, 0) << dry.err.toStdString();
    EXPECT_EQ(dry.values(QStringLiteral("agent")), agents);
    EXPECT_TRUE(archives().isEmpty());

    const HostRun r =
        host(clearArgs(QStringLiteral("2019,2020")) << QStringLiteral("--all-agents") << QStringLiteral("--json"));
    ASSERT_TRUE(r.exitCode == 0 || r.exitCode == 3) << r.err.toStdString();
    const QJsonObject doc = document(r);
    ASSERT_EQ(doc[QStringLiteral("agents")].toArray().size(), 3);
    EXPECT_EQ(archives().size(), 6) << archives().join(QLatin1Char(' ')).toStdString();
    for (const QString& agent : agents) {
        for (const QString& year : {QStringLiteral("2019"), QStringLiteral("2020")}) {
            int found = 0;
            for (const QString& name : archives())
                found += name.contains(year + QStringLiteral("年_") + agent + QLatin1Char('_')) ? 1 : 0;
            EXPECT_EQ(found, 1) << agent.toStdString() << " " << year.toStdString();
        }
    }
    // Every agent's months are gone from the database, but those its host refused to clear.
    for (const QJsonValue& agent : doc[QStringLiteral("agents")].toArray()) {
        EXPECT_EQ(agent[QStringLiteral("archives")].toArray().size(), 2);
        for (const QJsonObject& month : monthsOf(agent.toObject())) {
            const bool inArchive = month[QStringLiteral("inArchive")].toBool();
            for (const QJsonValue& t : month[QStringLiteral("tables")].toArray())
                EXPECT_EQ(t[QStringLiteral("left")].toInteger(),
                          inArchive ? 0 : t[QStringLiteral("selected")].toInteger());
        }
    }
}

TEST_P(DryRun, ARealClearWithoutTheSpaceItNeedsRefusesToStart)
{
    const QString before = snapshot(false);
    QProcessEnvironment env;
    env.insert(QStringLiteral("SJQL_TEST_FREE_SPACE"), QStringLiteral("1000"));
    const HostRun r = host(clearArgs(QStringLiteral("2019")), env);
    EXPECT_EQ(r.exitCode, 1) << r.err.toStdString();
    EXPECT_TRUE(r.lastLine().startsWith(QStringLiteral("result=not done: 空间不足"))) << r.out.toStdString();
    EXPECT_TRUE(r.lastLine().contains(QDir::toNativeSeparators(backupDir))) << r.out.toStdString();
    EXPECT_TRUE(archives().isEmpty());
    // The backup folder asked for is stored and created, as before; nothing else changed.
    QDir(backupDir).removeRecursively();
    EXPECT_EQ(snapshot(false), before);

    // The dry run tells the same before anything runs.
    const HostRun dry = host(clearArgs(QStringLiteral("2019")) << QStringLiteral("--dry-run"), env);
    EXPECT_EQ(dry.exitCode, 0);
    EXPECT_TRUE(dry.lastLine().contains(QStringLiteral("空间不足，实际运行将拒绝开始"))) << dry.out.toStdString();
}

TEST_P(DryRun, AnotherAgentIsPlannedWithoutTouchingTheHostSettings)
{
    const QByteArray ini = [&] {
        QFile f(home.filePath(QStringLiteral("host.ini")));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }();
    const HostRun r = host(clearArgs(QStringLiteral("2019")) << QStringLiteral("--dry-run") << QStringLiteral("--json")
                                                             << QStringLiteral("--agent") << agents[2]);
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(document(r)[QStringLiteral("agents")][0][QStringLiteral("agent")].toString(), agents[2]);
    QFile f(home.filePath(QStringLiteral("host.ini")));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), ini);

    const HostRun unknown =
        host(clearArgs(QStringLiteral("2019"))
             << QStringLiteral("--dry-run") << QStringLiteral("--agent") << QStringLiteral("NOSUCHAGENT"));
    EXPECT_EQ(unknown.exitCode, 1);
    EXPECT_TRUE(unknown.lastLine().startsWith(QStringLiteral("result=not done:")));
}

INSTANTIATE_TEST_SUITE_P(Kinds, DryRun, SJQL_DATABASE_KINDS);
