// SPDX-License-Identifier: MIT
// sjql-faults: drives sjql-host clear and restore on demo installations while things go wrong
// (processes killed at named points and at random times, two runs at once, full and immutable
// folders, a locked or read-only database, the database server stopped, crafted archives, another
// process writing during the compaction), and after every case accounts for every history row:
// none may be lost, duplicated or put under another agent or month, and every ending must tell the
// truth. Prints one table per database and exits non-zero when any row or ending is wrong.
//
//   sjql-faults --short|--long [--db sqlite|mysql|both] [--seed N] [--only CLASS,...] [--keep DIR]
#include "Archives.h"
#include "Ledger.h"
#include "Sites.h"
#include "hostapi/HostConnection.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>

#include <csignal>
#include <cstdio>
#include <functional>
#include <map>
#include <optional>
#include <unistd.h>

using namespace sjql;
using namespace sjql::fault;

namespace {

void say(const QString& text)
{
    std::fprintf(stdout, "%s\n", text.toUtf8().constData());
    std::fflush(stdout);
}

struct Options
{
    bool longForm = false;
    QStringList kinds;
    quint32 seed = 20240601;
    QStringList only;
    QString keep;
    int employees = 0;
};

struct CaseResult
{
    QString kind, cls, name;
    qint64 lost = 0, duplicated = 0, misfiled = 0;
    int untruthful = 0;
    bool damaged = false; // integrity check failed or the harness could not look
    QStringList evidence, notes;
    double seconds = 0;
    bool bad() const { return lost || duplicated || misfiled || untruthful || damaged; }
};

// What is where after a step of a case.
struct Gathered
{
    RowBag db, archived, inputs, leftover, misfiled;
    std::map<QString, RowBag> inputRows; // per input archive
    std::map<QString, ArchiveScan> inputScans;
    QStringList workFiles; // every file left below the work folder
    QStringList notes;
    bool ok = true;
};

struct Template
{
    bool ok = false;
    QString error;
    Site site;
    std::vector<TableDesc> tables;
    RowBag universe;
    QSet<QString> locked; // months of the agent the host refuses to clear
    QStringList agents;
    QString inputAgent, inputOther; // restore template: the agents' 2019 archives
    double clearSeconds = 5, restoreSeconds = 5;
};

// What a case runs: a clear of some years, or a restore of some archives.
struct Job
{
    QStringList years;    // a clear of these years
    QStringList archives; // a restore of these archives
    static Job clear(const QStringList& years) { return {years, {}}; }
    static Job restore(const QStringList& archives) { return {{}, archives}; }
    bool restores() const { return !archives.isEmpty(); }
    QStringList args(const Site& site) const
    {
        return restores() ? restoreArgs(site, archives) : clearArgs(site, years.join(QLatin1Char(',')));
    }
};

// A case under way: what it has found so far, its own copy of a template's installation and the
// clock of its report line.
struct Case
{
    CaseResult r;
    const Template* t = nullptr;
    Site s;
    QElapsedTimer timer;
};

const char* const kClearPoints[] = {"files-written", "cleared", "summary", "packing", "archive-checked", "compaction"};
const char* const kRestorePoints[] = {"unpacked", "record-cleared", "rows-inserted", "before-commit"};

class Campaign
{
public:
    explicit Campaign(Options o) : m_opt(std::move(o)), m_rng(m_opt.seed) {}

    int run();

private:
    // A moment inside a run that takes `seconds` when left alone: past the host's start-up (about
    // a third of a short run), before its end.
    int randomDelay(double seconds) { return int(seconds * 1000.0 * (0.4 + 0.55 * m_rng.generateDouble())); }
    bool wants(const QString& cls) const { return m_opt.only.isEmpty() || m_opt.only.contains(cls); }
    int employees() const { return m_opt.employees > 0 ? m_opt.employees : (m_opt.longForm ? 2000 : 300); }
    int timeoutMs() const { return m_opt.longForm ? 900000 : 240000; }

    bool mysqlAdmin(const QStringList& statements, QString* error);
    Site newSite(const QString& kind, const QString& dir);
    bool makeFresh(const QString& kind, Template* t);
    bool makeRestoreTemplate(const QString& kind, Template* t);
    bool clone(const Template& t, const QString& name, Site* out, QString* error);

    // `inputs`: the archives a restore of the case was given (all other archives count as written
    // by the module, that is as saying their rows are out of the database).
    Gathered gather(const Site& site, const Template& t, const QStringList& inputs);
    Gathered judge(CaseResult& r, const Site& site, const Template& t, const QString& stage,
                   const QStringList& inputs = {}, const RowBag* before = nullptr);
    void judgeClearEnding(CaseResult& r, const HostRun& run, const Site& site, const Template& t,
                          const QStringList& years, const Gathered& g, const QString& stage);
    void judgeRestoreEnding(CaseResult& r, const HostRun& run, const Site& site, const QStringList& archives,
                            const Gathered& g, const QString& stage, bool expectWhole = true);
    // How a run of `job` ended, judged on what it left (`g`).
    void judgeEnding(Case& c, const HostRun& run, const Job& job, const Gathered& g, const QString& stage);
    // A run of `job` that has ended: its line goes to the notes, every row is accounted for (the
    // job's archives as its inputs) and its ending judged, all under `stage`.
    Gathered judgeRun(Case& c, const HostRun& run, const Job& job, const QString& stage);
    // Runs `job` to its end, then judges it as judgeRun does.
    Gathered runJob(Case& c, const Job& job, const QString& stage);
    void untruthful(CaseResult& r, const QString& stage, const QString& why);
    bool exitedWithZero(CaseResult& r, const HostRun& run, const QString& stage);
    void judgeExitZero(CaseResult& r, const Site& site, const Gathered& g, QStringList problems, const QString& stage);
    void finish(CaseResult& r, const QElapsedTimer& timer);
    void finish(Case& c) { finish(c.r, c.timer); }
    CaseResult begin(const QString& kind, const QString& cls, const QString& name);
    // Starts a case on a copy of `t` in a folder named after `folder`; empty, with a harness error
    // noted, when the copy cannot be made.
    std::optional<Case> open(const Template& t, const QString& cls, const QString& name, const QString& folder);
    // Runs `body` on a new case (see open) and reports the case, unless the body returns false: the
    // harness itself failed and the case says nothing.
    void runCase(const Template& t, const QString& cls, const QString& name, const QString& folder,
                 const std::function<bool(const Template& t, const Site& s, CaseResult& r)>& body);

    // Cases.
    void baseline(const QString& kind);
    void selfCheck(CaseResult& r, const Site& s, const Template& t, const QString& archive, qint64 rows);
    void clearKill(const QString& kind, const QString& point, bool random, bool sigint);
    void restoreKill(const QString& kind, const QString& point, bool random);
    void killCase(Case& c, const Job& job, const QString& point, int delay, bool sigint);
    void sideBySide(Case& c, const Job& first, const QString& firstStage, const Job& second,
                    const QString& secondStage);
    void twoClears(const QString& kind);
    void clearAndRestore(const QString& kind);
    void tmpfsCase(const QString& kind, const QString& where);
    void immutableCase(const QString& kind, const QString& what);
    void lockedDatabase(const QString& kind);
    void serverStopped(const QString& kind);
    void craftedCase(const QString& kind, const QString& defect);
    bool crafted(const Template& t, const Site& s, CaseResult& r, const QString& defect);
    void compactionWriter(const QString& kind);
    bool writerDuringClear(const Template& t, const Site& s, CaseResult& r);

    void printTables();

    Options m_opt;
    QRandomGenerator m_rng;
    QString m_root;
    MariaServer m_maria;
    std::map<QString, Template> m_fresh, m_restore;
    std::vector<CaseResult> m_results;
    int m_caseNo = 0;
    QStringList m_harnessErrors;
};

// ---------------------------------------------------------------- set-up

bool Campaign::mysqlAdmin(const QStringList& statements, QString* error)
{
    Site admin;
    admin.kind = QStringLiteral("MYSQL");
    admin.url = m_maria.urlFor(QStringLiteral("sjql_test"));
    std::unique_ptr<HostConnection> c = admin.connect(error);
    if (!c)
        return false;
    for (const QString& sql : statements) {
        QSqlQuery q(c->database());
        if (!q.exec(sql)) {
            *error = sql + QStringLiteral(": ") + q.lastError().text();
            return false;
        }
    }
    return true;
}

Site Campaign::newSite(const QString& kind, const QString& dir)
{
    Site s;
    s.kind = kind;
    s.dir = dir;
    s.home = dir + QStringLiteral("/home");
    s.exe = dir + QStringLiteral("/exe");
    s.backup = dir + QStringLiteral("/backup");
    s.inputs = dir + QStringLiteral("/inputs");
    s.crafted = dir + QStringLiteral("/crafted");
    for (const QString& d : {s.exe, s.backup, s.inputs, s.crafted})
        QDir().mkpath(d);
    return s;
}

bool Campaign::makeFresh(const QString& kind, Template* t)
{
    const QString dir = m_root + QLatin1Char('/') + kind.toLower() + QStringLiteral("/template");
    t->site = newSite(kind, dir);
    QStringList init{QStringLiteral("init"),        t->site.home,
                     QStringLiteral("--years"),     QStringLiteral("2019-2021"),
                     QStringLiteral("--period"),    QStringLiteral("202106"),
                     QStringLiteral("--agents"),    QStringLiteral("2"),
                     QStringLiteral("--employees"), QString::number(employees()),
                     QStringLiteral("--seed"),      QString::number(m_opt.seed % 1000)};
    init.insert(1, QStringLiteral("--home"));
    if (kind == QLatin1String("MYSQL")) {
        t->site.url = m_maria.urlFor(QStringLiteral("fc_template"));
        if (!mysqlAdmin({QStringLiteral("DROP DATABASE IF EXISTS fc_template"),
                         QStringLiteral("CREATE DATABASE fc_template CHARACTER SET utf8mb4")},
                        &t->error))
            return false;
        init << QStringLiteral("--db") << t->site.url;
    }
    HostRun r(t->site, init);
    r.wait(timeoutMs());
    if (r.crashed() || r.exitCode() != 0) {
        t->error = QStringLiteral("init: ") + r.describe() + QLatin1Char(' ') + r.err().left(400);
        return false;
    }
    for (const QString& line : r.out().split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String("agents=")))
            t->agents = line.mid(7).split(QLatin1Char(','));
    }
    t->site.agent = t->agents.value(0);
    t->site.otherAgent = t->agents.value(1);
    std::unique_ptr<HostConnection> c = t->site.connect(&t->error);
    if (!c)
        return false;
    if (!describeHistoryTables(c->database(), t->site.sqlite(), &t->tables, &t->error) ||
        !readDatabaseRows(c->database(), t->tables, &t->universe, &t->error))
        return false;
    QSqlQuery q(c->database());
    if (!q.exec(QStringLiteral("select SBYF from SBZB where SDBZ=1 and KJYWRBM='%1'").arg(t->site.agent))) {
        t->error = q.lastError().text();
        return false;
    }
    while (q.next())
        t->locked.insert(q.value(0).toString());
    t->ok = true;
    return true;
}

bool Campaign::clone(const Template& t, const QString& name, Site* out, QString* error)
{
    const int n = ++m_caseNo;
    const QString dir = m_root + QLatin1Char('/') + t.site.kind.toLower() +
                        QStringLiteral("/%1-%2").arg(n, 3, 10, QLatin1Char('0')).arg(name);
    QString safeDir = dir;
    safeDir.replace(QLatin1Char(':'), QLatin1Char('_'));
    *out = newSite(t.site.kind, safeDir);
    out->agent = t.site.agent;
    out->otherAgent = t.site.otherAgent;
    for (const char* sub : {"home", "exe", "inputs"}) {
        QDir(out->dir + QLatin1Char('/') + QLatin1String(sub)).removeRecursively();
        if (!runTool(QStringLiteral("cp"),
                     {QStringLiteral("-a"), t.site.dir + QLatin1Char('/') + QLatin1String(sub), out->dir}, error))
            return false;
    }
    if (!out->sqlite()) {
        const QString db = QStringLiteral("fc_c%1").arg(n);
        const QString from = t.site.url.section(QLatin1Char('/'), 3).section(QLatin1Char('?'), 0, 0);
        QStringList sql{QStringLiteral("DROP DATABASE IF EXISTS %1").arg(db),
                        QStringLiteral("CREATE DATABASE %1 CHARACTER SET utf8mb4").arg(db)};
        for (const char* table : {"SBZB", "ZCGZXJMXB", "FGZXJB", "KJSDSBGB"}) {
            sql << QStringLiteral("CREATE TABLE %1.%3 LIKE %2.%3").arg(db, from, QLatin1String(table))
                << QStringLiteral("INSERT INTO %1.%3 SELECT * FROM %2.%3").arg(db, from, QLatin1String(table));
        }
        if (!mysqlAdmin(sql, error))
            return false;
        out->url = m_maria.urlFor(db);
        QFile f(out->home + QStringLiteral("/host.ini"));
        if (!f.open(QIODevice::ReadOnly)) {
            *error = f.errorString();
            return false;
        }
        QString text = QString::fromUtf8(f.readAll());
        f.close();
        text.replace(QRegularExpression(QStringLiteral("(?m)^DBUrl=.*$")), QStringLiteral("DBUrl=") + out->url);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(text.toUtf8()) < 0) {
            *error = f.errorString();
            return false;
        }
    }
    return true;
}

// The restore cases start from an installation whose 2019 was cleared for both agents, with the
// two archives kept in the inputs folder (out of the backup folder, so they count as the restore's
// input and not as archives the run wrote).
bool Campaign::makeRestoreTemplate(const QString& kind, Template* t)
{
    const Template& fresh = m_fresh.at(kind);
    *t = fresh;
    t->ok = false;
    Site s;
    if (!clone(fresh, QStringLiteral("restore-template"), &s, &t->error))
        return false;
    for (int i = 0; i < 2; ++i) {
        const QString agent = fresh.agents.value(i);
        if (!s.switchAgent(agent, &t->error))
            return false;
        HostRun r(s, clearArgs(s, QStringLiteral("2019")));
        r.wait(timeoutMs());
        if (i == 0)
            t->clearSeconds = r.seconds();
        const QStringList made = filesBelow(s.backup, {QStringLiteral("*.zip")});
        if (r.crashed() || made.size() != 1) {
            t->error = QStringLiteral("clearing 2019 of %1 for the restore cases: %2").arg(agent, r.describe());
            return false;
        }
        const QString target = s.inputs + QLatin1Char('/') + QFileInfo(made[0]).fileName();
        if (!QFile::rename(made[0], target)) {
            t->error = QStringLiteral("cannot move ") + made[0];
            return false;
        }
        (i == 0 ? t->inputAgent : t->inputOther) = QFileInfo(target).fileName();
    }
    if (!s.switchAgent(fresh.agents.value(0), &t->error))
        return false;
    t->site = s;
    // The set-up itself must account for every row.
    CaseResult check = begin(kind, QStringLiteral("setup"), QStringLiteral("restore template"));
    judge(check, s, *t, QStringLiteral("set-up"));
    if (check.bad()) {
        t->error = QStringLiteral("the clean clears of the set-up already lose or duplicate rows: ") +
                   check.evidence.join(QStringLiteral("; "));
        m_results.push_back(check);
        return false;
    }
    // A timed restore for the random kills.
    Site timed;
    if (clone(*t, QStringLiteral("timing"), &timed, &t->error)) {
        HostRun r(timed, restoreArgs(timed, {timed.inputs + QLatin1Char('/') + t->inputAgent}));
        r.wait(timeoutMs());
        t->restoreSeconds = r.seconds();
    }
    t->ok = true;
    return true;
}

// ---------------------------------------------------------------- accounting

Gathered Campaign::gather(const Site& site, const Template& t, const QStringList& inputs)
{
    Gathered g;
    QString error;
    {
        std::unique_ptr<HostConnection> c = site.connect(&error);
        if (!c || !readDatabaseRows(c->database(), t.tables, &g.db, &error)) {
            g.ok = false;
            g.notes << QStringLiteral("cannot read the database: ") + error;
        } else if (site.sqlite()) {
            QSqlQuery q(c->database());
            if (!q.exec(QStringLiteral("PRAGMA integrity_check")) || !q.next() ||
                q.value(0).toString() != QLatin1String("ok")) {
                g.ok = false;
                g.notes << QStringLiteral("integrity_check: ") + q.value(0).toString() + q.lastError().text();
            }
        }
    }
    QStringList archives = filesBelow(site.backup, {QStringLiteral("*.zip")});
    for (const QFileInfo& fi : QDir(site.tempDir()).entryInfoList({QStringLiteral("*.zip")}, QDir::Files))
        archives << fi.absoluteFilePath();
    for (const QString& a : filesBelow(site.inputs, {QStringLiteral("*.zip")})) {
        if (!inputs.contains(a))
            archives << a;
    }
    for (const QString& a : archives) {
        const ArchiveScan scan = scanArchive(a, t.tables, &g.archived, &g.misfiled);
        if (!scan.complete)
            g.notes
                << QStringLiteral("incomplete archive %1 (%2), not counted").arg(QFileInfo(a).fileName(), scan.error);
        else if (scan.summary.agent != site.agent && scan.summary.agent != site.otherAgent)
            g.notes << QStringLiteral("archive %1 names agent %2").arg(QFileInfo(a).fileName(), scan.summary.agent);
        else if (!scan.whole)
            g.notes << QStringLiteral("archive %1 is not whole: %2").arg(QFileInfo(a).fileName(), scan.error);
    }
    for (const QString& a : inputs) {
        RowBag rows;
        g.inputScans[a] = scanArchive(a, t.tables, &rows, nullptr);
        rows.forEach([&](const RowKey& k, int n, const RowInfo& info) { g.inputs.add(k, info, n); });
        g.inputRows[a] = std::move(rows);
    }
    g.workFiles = filesBelow(site.workDir());
    for (const QString& f : g.workFiles) {
        const QString name = QFileInfo(f).fileName();
        for (const TableDesc& td : t.tables) {
            if (!name.startsWith(td.name + QLatin1Char('_'), Qt::CaseInsensitive) ||
                !name.endsWith(QLatin1String(".dat")))
                continue;
            QFile file(f);
            QString why;
            if (!file.open(QIODevice::ReadOnly) || !readDataFileRows(file.readAll(), f, td, &g.leftover, &why))
                g.notes << QStringLiteral("leftover %1 unreadable (%2)").arg(f.mid(site.home.size()), why.left(120));
        }
    }
    return g;
}

Gathered Campaign::judge(CaseResult& r, const Site& site, const Template& t, const QString& stage,
                         const QStringList& inputs, const RowBag* before)
{
    Gathered g = gather(site, t, inputs);
    RowSources s;
    s.before = before ? before : &t.universe;
    s.database = &g.db;
    s.archived = &g.archived;
    s.inputs = &g.inputs;
    s.leftover = &g.leftover;
    s.misfiled = &g.misfiled;
    const Tally tally = account(s);
    r.lost += tally.lost;
    r.duplicated += tally.duplicated;
    r.misfiled += tally.misfiled;
    for (const QString& e : tally.evidence)
        r.evidence << stage + QStringLiteral(": ") + e;
    for (const QString& n : g.notes)
        r.notes << stage + QStringLiteral(": ") + n;
    if (!g.ok)
        r.damaged = true;
    if (tally.lost || tally.duplicated || tally.misfiled)
        r.notes << QStringLiteral("%1: db %2 rows, archives %3, inputs %4, leftovers %5 (before %6)")
                       .arg(stage)
                       .arg(g.db.total())
                       .arg(g.archived.total())
                       .arg(g.inputs.total())
                       .arg(g.leftover.total())
                       .arg(s.before->total());
    return g;
}

void Campaign::untruthful(CaseResult& r, const QString& stage, const QString& why)
{
    ++r.untruthful;
    r.evidence << stage + QStringLiteral(": untruthful ending: ") + why;
}

// Judges what every ending must show: a run that hung or crashed is untruthful, and a non-zero exit
// must end with its result= line. True for an exit 0, whose promises the caller then checks.
bool Campaign::exitedWithZero(CaseResult& r, const HostRun& run, const QString& stage)
{
    if (run.hung()) {
        untruthful(r, stage, QStringLiteral("the run did not end"));
        return false;
    }
    if (run.crashed()) {
        untruthful(r, stage, run.describe());
        return false;
    }
    if (run.exitCode() != 0) {
        if (!run.lastLine().startsWith(QLatin1String("result=")))
            untruthful(r, stage, run.describe() + QStringLiteral(" (non-zero exit without a result= line)"));
        return false;
    }
    return true;
}

// An exit 0 broke its promise when the caller found `problems` or a file is left in the work folder.
void Campaign::judgeExitZero(CaseResult& r, const Site& site, const Gathered& g, QStringList problems,
                             const QString& stage)
{
    if (!g.workFiles.isEmpty())
        problems << QStringLiteral("%1 files left in the work folder (%2)")
                        .arg(g.workFiles.size())
                        .arg(g.workFiles.value(0).mid(site.home.size()));
    if (!problems.isEmpty())
        untruthful(r, stage, QStringLiteral("exit 0 but ") + problems.join(QStringLiteral(", ")));
}

// A finished clear tells the truth when a non-zero exit ends with a result= line, and exit 0 means
// every chosen month that could be cleared is out of the database, in an archive, and nothing is
// left in the work folder.
void Campaign::judgeClearEnding(CaseResult& r, const HostRun& run, const Site& site, const Template& t,
                                const QStringList& years, const Gathered& g, const QString& stage)
{
    if (!exitedWithZero(r, run, stage))
        return;
    QStringList problems;
    QSet<QString> months;
    for (const QString& y : years) {
        for (int m = 1; m <= 12; ++m) {
            const QString p = QStringLiteral("%1%2").arg(y).arg(m, 2, 10, QLatin1Char('0'));
            if (!t.locked.contains(p))
                months.insert(p);
        }
    }
    qint64 inDb = 0, unarchived = 0;
    t.universe.forEach([&](const RowKey& k, int n, const RowInfo& info) {
        if (info.agent != site.agent || !months.contains(info.period))
            return;
        if (g.db.count(k) > 0)
            inDb += n;
        if (g.archived.count(k) < n)
            unarchived += n - g.archived.count(k);
    });
    if (inDb)
        problems << QStringLiteral("%1 rows of the chosen months still in the database").arg(inDb);
    if (unarchived)
        problems << QStringLiteral("%1 rows of the chosen months in no archive").arg(unarchived);
    judgeExitZero(r, site, g, problems, stage);
}

// A finished restore tells the truth when a non-zero exit ends with a result= line, and exit 0
// means every chosen archive was whole and every row of it is in the database.
void Campaign::judgeRestoreEnding(CaseResult& r, const HostRun& run, const Site& site, const QStringList& archives,
                                  const Gathered& g, const QString& stage, bool expectWhole)
{
    if (!exitedWithZero(r, run, stage))
        return;
    QStringList problems;
    if (!expectWhole)
        problems << QStringLiteral("the archive is damaged and cannot have been restored whole");
    for (const QString& a : archives) {
        const auto scan = g.inputScans.find(a);
        if (scan == g.inputScans.end())
            continue; // crafted archives are judged by expectWhole
        if (!scan->second.whole)
            problems << QStringLiteral("%1 is not whole (%2)").arg(QFileInfo(a).fileName(), scan->second.error);
        qint64 missing = 0;
        g.inputRows.at(a).forEach([&](const RowKey& k, int n, const RowInfo&) {
            if (g.db.count(k) < n)
                missing += n - g.db.count(k);
        });
        if (missing)
            problems << QStringLiteral("%1 rows of %2 not in the database").arg(missing).arg(QFileInfo(a).fileName());
    }
    judgeExitZero(r, site, g, problems, stage);
}

CaseResult Campaign::begin(const QString& kind, const QString& cls, const QString& name)
{
    CaseResult r;
    r.kind = kind;
    r.cls = cls;
    r.name = name;
    return r;
}

std::optional<Case> Campaign::open(const Template& t, const QString& cls, const QString& name, const QString& folder)
{
    Case c;
    c.timer.start();
    c.r = begin(t.site.kind, cls, name);
    c.t = &t;
    QString error;
    if (!clone(t, folder, &c.s, &error)) {
        m_harnessErrors << error;
        return std::nullopt;
    }
    return c;
}

void Campaign::runCase(const Template& t, const QString& cls, const QString& name, const QString& folder,
                       const std::function<bool(const Template& t, const Site& s, CaseResult& r)>& body)
{
    std::optional<Case> c = open(t, cls, name, folder);
    if (c && body(*c->t, c->s, c->r))
        finish(*c);
}

void Campaign::judgeEnding(Case& c, const HostRun& run, const Job& job, const Gathered& g, const QString& stage)
{
    if (job.restores())
        judgeRestoreEnding(c.r, run, c.s, job.archives, g, stage);
    else
        judgeClearEnding(c.r, run, c.s, *c.t, job.years, g, stage);
}

Gathered Campaign::judgeRun(Case& c, const HostRun& run, const Job& job, const QString& stage)
{
    c.r.notes << stage + QStringLiteral(": ") + run.describe();
    Gathered g = judge(c.r, c.s, *c.t, stage, job.archives);
    judgeEnding(c, run, job, g, stage);
    return g;
}

Gathered Campaign::runJob(Case& c, const Job& job, const QString& stage)
{
    HostRun run(c.s, job.args(c.s));
    run.wait(timeoutMs());
    return judgeRun(c, run, job, stage);
}

void Campaign::finish(CaseResult& r, const QElapsedTimer& timer)
{
    r.seconds = double(timer.elapsed()) / 1000.0;
    const QString db = r.kind == QLatin1String("SQLITE") ? QStringLiteral("SQLite") : QStringLiteral("MariaDB");
    say(QStringLiteral("%1 [%2] %3 / %4: lost %5, duplicated %6, misfiled %7, untruthful %8%9 (%10 s)")
            .arg(r.bad() ? QStringLiteral("FAIL") : QStringLiteral("ok  "), db, r.cls, r.name)
            .arg(r.lost)
            .arg(r.duplicated)
            .arg(r.misfiled)
            .arg(r.untruthful)
            .arg(r.damaged ? QStringLiteral(", DATABASE DAMAGED OR UNREADABLE") : QString())
            .arg(r.seconds, 0, 'f', 1));
    for (const QString& e : r.evidence)
        say(QStringLiteral("       ! ") + e);
    for (const QString& n : r.notes)
        say(QStringLiteral("       - ") + n);
    m_results.push_back(r);
}

// ---------------------------------------------------------------- cases

// A clean clear and its restore: the accounting itself must find every row, on both sides.
void Campaign::baseline(const QString& kind)
{
    std::optional<Case> c = open(m_fresh.at(kind), QStringLiteral("baseline"), QStringLiteral("clear 2019, restore it"),
                                 QStringLiteral("baseline"));
    if (!c)
        return;
    const Gathered g = runJob(*c, Job::clear({QStringLiteral("2019")}), QStringLiteral("clear"));
    if (g.archived.total() == 0)
        c->r.notes << QStringLiteral("the clear wrote no archive");
    const QStringList made = filesBelow(c->s.backup, {QStringLiteral("*.zip")});
    if (made.size() == 1 && !c->r.bad())
        selfCheck(c->r, c->s, *c->t, made[0], g.archived.total());
    if (made.size() == 1) {
        const QString input = c->s.inputs + QLatin1Char('/') + QFileInfo(made[0]).fileName();
        QFile::rename(made[0], input);
        const Gathered back = runJob(*c, Job::restore({input}), QStringLiteral("restore"));
        if (back.db.total() != c->t->universe.total())
            c->r.evidence << QStringLiteral("after restore the database holds %1 rows, before the clear %2")
                                 .arg(back.db.total())
                                 .arg(c->t->universe.total());
    }
    finish(*c);
}

// Faults put in by hand must be found, or the campaign's zeros mean nothing: a second copy of the
// archive in the fallback folder duplicates its rows, no archive at all loses them, a row moved to
// another month in the database is one row lost and one row that was never there.
void Campaign::selfCheck(CaseResult& r, const Site& s, const Template& t, const QString& archive, qint64 rows)
{
    const QString copy = s.tempDir() + QStringLiteral("/copy.zip");
    const QString away = s.dir + QStringLiteral("/away.zip");
    CaseResult twice = begin(r.kind, r.cls, r.name), none = twice, moved = twice;
    // The module removes its TEMP folder after a run when nothing is left in it.
    QDir().mkpath(s.tempDir());
    if (!QFile::copy(archive, copy))
        m_harnessErrors << QStringLiteral("self-check: the archive cannot be copied to %1").arg(copy);
    judge(twice, s, t, QStringLiteral("self-check"));
    QFile::remove(copy);
    QFile::rename(archive, away);
    judge(none, s, t, QStringLiteral("self-check"));
    QFile::rename(away, archive);
    QString error;
    if (std::unique_ptr<HostConnection> c = s.connect(&error)) {
        QSqlQuery q(c->database());
        q.exec(QStringLiteral("update KJSDSBGB set FFYF='202099' where FFYF='202002' and KJYWRBM='%1' and "
                              "NSRXM=(select min(NSRXM) from KJSDSBGB where FFYF='202002' and KJYWRBM='%1')")
                   .arg(s.agent));
        const int changed = q.numRowsAffected();
        judge(moved, s, t, QStringLiteral("self-check"));
        q.exec(QStringLiteral("update KJSDSBGB set FFYF='202002' where FFYF='202099'"));
        if (changed != 1)
            m_harnessErrors << QStringLiteral("self-check: %1 rows moved instead of one").arg(changed);
    }
    const bool found = twice.duplicated == rows && twice.lost == 0 && none.lost == rows && none.duplicated == 0 &&
                       moved.lost == 1 && moved.misfiled == 1;
    r.notes << QStringLiteral("self-check of the accounting: archive twice -> %1 duplicated, no archive -> %2 lost, "
                              "one row moved to another month -> %3 lost and %4 misfiled (the archive holds %5)")
                   .arg(twice.duplicated)
                   .arg(none.lost)
                   .arg(moved.lost)
                   .arg(moved.misfiled)
                   .arg(rows);
    if (!found)
        m_harnessErrors << QStringLiteral("the accounting missed a fault put in by hand on %1").arg(r.kind);
}

void Campaign::clearKill(const QString& kind, const QString& point, bool random, bool sigint)
{
    const double total = m_restore.count(kind) ? m_restore.at(kind).clearSeconds : 4.0;
    const int delay = random ? randomDelay(total) : -1;
    const QString name = random ? QStringLiteral("clear %1 after %2 ms")
                                      .arg(sigint ? QStringLiteral("SIGINT") : QStringLiteral("SIGKILL"))
                                      .arg(delay)
                                : QStringLiteral("clear killed at ") + point;
    std::optional<Case> c = open(m_fresh.at(kind), QStringLiteral("kills"), name,
                                 random ? QStringLiteral("clear-random") : QStringLiteral("clear-") + point);
    if (c)
        killCase(*c, Job::clear({QStringLiteral("2019")}), point, delay, sigint);
}

void Campaign::restoreKill(const QString& kind, const QString& point, bool random)
{
    const Template& t = m_restore.at(kind);
    const int delay = random ? randomDelay(t.restoreSeconds) : -1;
    std::optional<Case> c = open(t, QStringLiteral("kills"),
                                 random ? QStringLiteral("restore SIGKILL after %1 ms").arg(delay)
                                        : QStringLiteral("restore killed at ") + point,
                                 random ? QStringLiteral("restore-random") : QStringLiteral("restore-") + point);
    if (c)
        killCase(*c, Job::restore({c->s.inputs + QLatin1Char('/') + t.inputAgent}), point, delay, false);
}

// The first run of `job` kills itself at the kill point `point`, or, for a `delay` of 0 or more, is
// killed (interrupted with `sigint`) that many milliseconds in; a rerun must then finish the work.
void Campaign::killCase(Case& c, const Job& job, const QString& point, int delay, bool sigint)
{
    const bool random = delay >= 0;
    HostRun first(c.s, job.args(c.s), random ? QProcessEnvironment() : killAt(point));
    if (random && !first.poll(delay))
        sigint ? first.interrupt() : first.kill();
    first.wait(timeoutMs());
    if (first.crashed() && first.signal() == SIGKILL) {
        c.r.notes << QStringLiteral("first run: ") + first.describe();
        judge(c.r, c.s, *c.t, QStringLiteral("right after the kill"), job.archives);
    } else {
        if (!random)
            c.r.notes << QStringLiteral("the kill point was not reached");
        judgeRun(c, first, job, QStringLiteral("first run"));
        if (sigint && first.exitCode() == 0 && first.seconds() * 1000 > delay + 2000)
            c.r.notes << QStringLiteral("the interrupted run went on to its end");
    }
    runJob(c, job, QStringLiteral("rerun"));
    const QStringList stale = filesBelow(c.s.dir + QStringLiteral("/tmp"));
    if (!job.restores() && c.s.sqlite() && !stale.isEmpty())
        c.r.notes << QStringLiteral("files left in the temporary folder after the rerun: ") +
                         stale.join(QLatin1Char(' '));
    finish(c);
}

// `first` starts, `second` follows 1.5 s later beside it; both endings are judged on what the two
// runs left together.
void Campaign::sideBySide(Case& c, const Job& first, const QString& firstStage, const Job& second,
                          const QString& secondStage)
{
    HostRun a(c.s, first.args(c.s));
    QThread::msleep(1500);
    HostRun b(c.s, second.args(c.s));
    a.wait(timeoutMs());
    b.wait(timeoutMs());
    c.r.notes << firstStage + QStringLiteral(": ") + a.describe() << secondStage + QStringLiteral(": ") + b.describe();
    const Gathered g = judge(c.r, c.s, *c.t, QStringLiteral("after both"), first.archives + second.archives);
    judgeEnding(c, a, first, g, firstStage);
    judgeEnding(c, b, second, g, secondStage);
    finish(c);
}

void Campaign::twoClears(const QString& kind)
{
    std::optional<Case> c = open(m_fresh.at(kind), QStringLiteral("concurrency"),
                                 QStringLiteral("two clears of 2019,2020 at once"), QStringLiteral("two-clears"));
    if (!c)
        return;
    const Job both = Job::clear({QStringLiteral("2019"), QStringLiteral("2020")});
    sideBySide(*c, both, QStringLiteral("first clear"), both, QStringLiteral("second clear"));
}

void Campaign::clearAndRestore(const QString& kind)
{
    const Template& t = m_restore.at(kind);
    std::optional<Case> c =
        open(t, QStringLiteral("concurrency"), QStringLiteral("clear 2020 and restore 2019 at once"),
             QStringLiteral("clear-and-restore"));
    if (!c)
        return;
    sideBySide(*c, Job::clear({QStringLiteral("2020")}), QStringLiteral("clear"),
               Job::restore({c->s.inputs + QLatin1Char('/') + t.inputAgent}), QStringLiteral("restore"));
}

// A small tmpfs over the backup folder, the module's work folder or the restore's unpack folder.
void Campaign::tmpfsCase(const QString& kind, const QString& where)
{
    const bool restore = where == QLatin1String("unpack");
    const Template& t = restore ? m_restore.at(kind) : m_fresh.at(kind);
    std::optional<Case> c =
        open(t, QStringLiteral("disk"), QStringLiteral("small tmpfs under the %1 folder").arg(where),
             QStringLiteral("tmpfs-") + where);
    if (!c)
        return;
    const Site& s = c->s;
    const QString mount = where == QLatin1String("backup") ? s.backup
                          : where == QLatin1String("work") ? s.tempDir()
                                                           : s.unpackDir();
    const QString size = where == QLatin1String("backup") ? QStringLiteral("48k") : QStringLiteral("160k");
    QDir().mkpath(mount);
    QString error;
    if (!runTool(QStringLiteral("mount"),
                 {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"), QStringLiteral("size=") + size,
                  QStringLiteral("tmpfs"), mount},
                 &error)) {
        m_harnessErrors << error;
        return;
    }
    if (where == QLatin1String("work"))
        QDir().mkpath(s.workDir());
    const Job job =
        restore ? Job::restore({s.inputs + QLatin1Char('/') + t.inputAgent}) : Job::clear({QStringLiteral("2019")});
    runJob(*c, job, QStringLiteral("disk full"));
    // More room, the same files: the user frees space and runs again.
    runTool(QStringLiteral("mount"), {QStringLiteral("-o"), QStringLiteral("remount,size=512m"), mount}, &error);
    runJob(*c, job, QStringLiteral("rerun with room"));
    if (!runTool(QStringLiteral("umount"), {mount}, &error))
        runTool(QStringLiteral("umount"), {QStringLiteral("-l"), mount}, nullptr);
    finish(*c);
}

// Immutable folders (root ignores permission bits, not the immutable flag) or database file.
void Campaign::immutableCase(const QString& kind, const QString& what)
{
    std::optional<Case> c = open(m_fresh.at(kind), QStringLiteral("disk"), QStringLiteral("immutable ") + what,
                                 QStringLiteral("immutable-") + what.section(QLatin1Char(' '), 0, 0));
    if (!c)
        return;
    const Site& s = c->s;
    QStringList targets;
    if (what == QLatin1String("backup folder"))
        targets << s.backup;
    else if (what == QLatin1String("backup and fallback folders"))
        targets << s.backup << s.tempDir();
    else if (what == QLatin1String("work folder"))
        targets << s.workDir();
    else
        targets << s.sqliteFile();
    QStringList applied;
    for (const QString& target : targets) {
        if (!QFileInfo::exists(target))
            QDir().mkpath(target);
        QString error;
        if (!runTool(QStringLiteral("chattr"), {QStringLiteral("+i"), target}, &error)) {
            m_harnessErrors << error;
            for (const QString& done : applied)
                runTool(QStringLiteral("chattr"), {QStringLiteral("-i"), done}, nullptr);
            return;
        }
        applied << target;
    }
    const Job job = Job::clear({QStringLiteral("2019")});
    runJob(*c, job, QStringLiteral("immutable"));
    for (const QString& target : targets)
        runTool(QStringLiteral("chattr"), {QStringLiteral("-i"), target}, nullptr);
    runJob(*c, job, QStringLiteral("rerun"));
    finish(*c);
}

// Another process holds the SQLite database in an exclusive transaction for the whole run.
void Campaign::lockedDatabase(const QString& kind)
{
    std::optional<Case> c = open(m_fresh.at(kind), QStringLiteral("disk"),
                                 QStringLiteral("database locked by another process"), QStringLiteral("locked"));
    if (!c)
        return;
    QProcess holder;
    holder.start(QStringLiteral("sqlite3"), {c->s.sqliteFile()});
    holder.write("BEGIN EXCLUSIVE;\nSELECT 'locked';\n");
    holder.waitForReadyRead(10000);
    c->r.notes << QStringLiteral("holder: ") + QString::fromUtf8(holder.readAllStandardOutput()).trimmed();
    const Job job = Job::clear({QStringLiteral("2019")});
    {
        HostRun run(c->s, job.args(c->s));
        run.wait(timeoutMs());
        holder.write("ROLLBACK;\n.quit\n");
        holder.closeWriteChannel();
        holder.waitForFinished(10000);
        judgeRun(*c, run, job, QStringLiteral("locked"));
    }
    runJob(*c, job, QStringLiteral("rerun"));
    finish(*c);
}

// The MariaDB server goes down in the middle of a clear; it comes back and the user runs again.
void Campaign::serverStopped(const QString& kind)
{
    const double total = m_restore.count(kind) ? m_restore.at(kind).clearSeconds : 4.0;
    const int delay = randomDelay(total);
    std::optional<Case> c =
        open(m_fresh.at(kind), QStringLiteral("disk"), QStringLiteral("server stopped %1 ms into the clear").arg(delay),
             QStringLiteral("server-stopped"));
    if (!c)
        return;
    const Job job = Job::clear({QStringLiteral("2019")});
    {
        HostRun run(c->s, job.args(c->s));
        const bool early = run.poll(delay);
        if (!early && !m_maria.stopNow())
            m_harnessErrors << QStringLiteral("cannot stop the private MariaDB");
        run.wait(timeoutMs());
        if (early)
            c->r.notes << QStringLiteral("the run ended before the stop");
        QString error;
        if (!m_maria.running() && !m_maria.startAgain(&error)) {
            m_harnessErrors << error;
            return;
        }
        judgeRun(*c, run, job, QStringLiteral("server stopped"));
    }
    runJob(*c, job, QStringLiteral("rerun"));
    finish(*c);
}

// Archives made from a real archive's members with one defect each, restored by the first agent.
void Campaign::craftedCase(const QString& kind, const QString& defect)
{
    runCase(m_restore.at(kind), QStringLiteral("crafted archives"), defect,
            QStringLiteral("crafted-") + defect.section(QLatin1Char(' '), 0, 0),
            [&](const Template& t, const Site& s, CaseResult& r) { return crafted(t, s, r, defect); });
}

bool Campaign::crafted(const Template& t, const Site& s, CaseResult& r, const QString& defect)
{
    QString error;
    std::vector<Member> members, other;
    if (!readMembers(s.inputs + QLatin1Char('/') + t.inputAgent, &members, &error) ||
        !readMembers(s.inputs + QLatin1Char('/') + t.inputOther, &other, &error)) {
        m_harnessErrors << error;
        return false;
    }
    const auto find = [](std::vector<Member>& list, const QString& name) -> Member* {
        for (Member& m : list) {
            if (m.name == name)
                return &m;
        }
        return nullptr;
    };
    Member* summary = find(members, QStringLiteral("BFZYXX.xml"));
    bool whole = true;
    if (defect == QLatin1String("record month differs from its files")) {
        // The record of March names March's files but says January of the next year, a month
        // still in the database with its own declaration.
        QString declaration;
        if (std::unique_ptr<HostConnection> c = s.connect(&error)) {
            QSqlQuery q(c->database());
            q.exec(QStringLiteral("select WYSBH from SBZB where SBYF='202001' and KJYWRBM='%1'").arg(s.agent));
            if (q.next())
                declaration = q.value(0).toString();
        }
        QString text = QString::fromLatin1(summary->data);
        text.replace(QRegularExpression(QStringLiteral("SDYF=\"201903\" WYSBH=\"[^\"]*\"")),
                     QStringLiteral("SDYF=\"202001\" WYSBH=\"%1\"").arg(declaration));
        summary->data = text.toLatin1();
        whole = false;
    } else if (defect == QLatin1String("rows of another agent")) {
        // September: the other agent starts paying in July of the first year.
        Member* mine = find(members, QStringLiteral("ZCGZXJMXB_201909.dat"));
        Member* theirs = find(other, QStringLiteral("ZCGZXJMXB_201909.dat"));
        if (mine && theirs)
            mine->data = theirs->data;
        whole = false;
    } else if (defect == QLatin1String("files missing")) {
        std::erase_if(members, [](const Member& m) { return m.name == QLatin1String("KJSDSBGB_201905.dat"); });
        whole = false;
    } else if (defect == QLatin1String("unnamed extra members")) {
        Member* june = find(members, QStringLiteral("ZCGZXJMXB_201906.dat"));
        members.push_back(Member{QStringLiteral("ZCGZXJMXB_202006.dat"), june ? june->data : QByteArray(), 0});
        members.push_back(Member{QStringLiteral("readme.txt"), QByteArrayLiteral("not a data file"), 0});
    } else if (defect == QLatin1String("zip bomb")) {
        members.push_back(
            Member{QStringLiteral("FGZXJB_209901.dat"), {}, m_opt.longForm ? qint64(3) << 30 : qint64(1) << 30});
    } else if (defect == QLatin1String("too many members")) {
        const int n = m_opt.longForm ? 100000 : 30000;
        for (int i = 0; i < n; ++i)
            members.push_back(
                Member{QStringLiteral("x%1.dat").arg(i, 6, 10, QLatin1Char('0')), QByteArrayLiteral("x"), 0});
    }
    const QString archive = s.crafted + QStringLiteral("/crafted.zip");
    if (!summary || !writeArchive(archive, members, &error)) {
        m_harnessErrors << QStringLiteral("crafting %1: %2").arg(defect, error);
        return false;
    }
    HostRun run(s, restoreArgs(s, {archive}));
    run.wait(timeoutMs());
    r.notes << QStringLiteral("restore: ") + run.describe();
    // Restoring a crafted copy stands for restoring its source; the other agent's archive still
    // says its rows are out of the database.
    const QString source = s.inputs + QLatin1Char('/') + t.inputAgent;
    Gathered g = judge(r, s, t, QStringLiteral("after the restore"), {archive, source});
    judgeRestoreEnding(r, run, s, {archive}, g, QStringLiteral("restore"), whole);
    if (run.exitCode() == 0 && whole) {
        // A whole archive restored with exit 0: its genuine rows must be back.
        qint64 missing = 0;
        g.inputRows.at(source).forEach(
            [&](const RowKey& k, int n, const RowInfo&) { missing += qMax(0, n - g.db.count(k)); });
        if (missing)
            untruthful(r, QStringLiteral("restore"),
                       QStringLiteral("exit 0 but %1 rows of the archive are not in the database").arg(missing));
    }
    return true;
}

// Another process keeps the SQLite database open and writes to it (a table of its own and the
// history of the other agent) during the whole clear, compaction included.
void Campaign::compactionWriter(const QString& kind)
{
    runCase(m_fresh.at(kind), QStringLiteral("compaction"), QStringLiteral("another process writes during the clear"),
            QStringLiteral("compaction-writer"),
            [&](const Template& t, const Site& s, CaseResult& r) { return writerDuringClear(t, s, r); });
}

bool Campaign::writerDuringClear(const Template& t, const Site& s, CaseResult& r)
{
    QString error;
    QProcess writer;
    writer.start(QStringLiteral("sqlite3"), {s.sqliteFile()});
    writer.write(".timeout 20000\nCREATE TABLE IF NOT EXISTS fault_writer(n INTEGER PRIMARY KEY, t TEXT);\n");
    const TableDesc& wage = t.tables[0];
    RowBag before = t.universe;
    QSet<int> acked;
    QString ackBuffer;
    const auto send = [&](int n) {
        const QString sql =
            QStringLiteral("BEGIN IMMEDIATE; INSERT INTO ZCGZXJMXB(KJYWRBM,GH,XM,FFYF,YFGZ) VALUES('%1','W%2',"
                           "'writer %2','201905',%2.25); INSERT INTO fault_writer(n,t) VALUES(%2,'row %2'); COMMIT; "
                           "SELECT 'ack|' || n FROM fault_writer WHERE n=%2;\n")
                .arg(s.otherAgent)
                .arg(n);
        writer.write(sql.toUtf8());
    };
    const auto readAcks = [&] {
        ackBuffer += QString::fromUtf8(writer.readAllStandardOutput());
        for (const QString& line : ackBuffer.split(QLatin1Char('\n'))) {
            if (line.startsWith(QLatin1String("ack|")))
                acked.insert(line.mid(4).toInt());
        }
    };
    int n = 0;
    {
        HostRun run(s, clearArgs(s, QStringLiteral("2019")));
        while (!run.poll(0) && n < 20000) {
            send(++n);
            writer.waitForReadyRead(100);
            readAcks();
        }
        run.wait(timeoutMs());
        r.notes << QStringLiteral("clear: ") + run.describe();
        // The writer's connection must keep working after the clear.
        send(++n);
        const int last = n;
        for (int i = 0; i < 100 && !acked.contains(last); ++i) {
            writer.waitForReadyRead(100);
            readAcks();
        }
        if (!acked.contains(last))
            r.evidence << QStringLiteral("the writer's connection failed after the clear: ") +
                              QString::fromUtf8(writer.readAllStandardError()).trimmed().left(300);
        writer.write(".quit\n");
        writer.closeWriteChannel();
        writer.waitForFinished(20000);
        readAcks();
        r.notes << QStringLiteral("writer: %1 transactions sent, %2 acknowledged").arg(n).arg(acked.size());
        for (int k : std::as_const(acked)) {
            QStringList values;
            QStringList names;
            for (const ColumnDesc& c : wage.columns) {
                if (c.kind == ColumnKind::Key)
                    continue;
                QVariant v;
                if (c.name == QLatin1String("KJYWRBM"))
                    v = s.otherAgent;
                else if (c.name == QLatin1String("GH"))
                    v = QStringLiteral("W%1").arg(k);
                else if (c.name == QLatin1String("XM"))
                    v = QStringLiteral("writer %1").arg(k);
                else if (c.name == QLatin1String("FFYF"))
                    v = QStringLiteral("201905");
                else if (c.name == QLatin1String("YFGZ"))
                    v = QStringLiteral("%1.25").arg(k);
                names << c.name;
                values << canonicalValue(v, c);
            }
            RowInfo info{wage.name, s.otherAgent, QStringLiteral("201905"), QStringLiteral("writer row %1").arg(k)};
            before.add(rowKey(wage.name + QChar(0x1E) + values.join(QChar(0x1F))), info);
        }
        const Gathered g = judge(r, s, t, QStringLiteral("after the clear"), {}, &before);
        judgeClearEnding(r, run, s, t, {QStringLiteral("2019")}, g, QStringLiteral("clear"));
    }
    // Every acknowledged row of the writer's own table is there.
    if (std::unique_ptr<HostConnection> c = s.connect(&error)) {
        QSqlQuery q(c->database());
        QSet<int> present;
        if (q.exec(QStringLiteral("select n from fault_writer"))) {
            while (q.next())
                present.insert(q.value(0).toInt());
        }
        for (int k : std::as_const(acked)) {
            if (!present.contains(k)) {
                ++r.lost;
                if (r.evidence.size() < 12)
                    r.evidence << QStringLiteral("the writer's own row %1 is gone").arg(k);
            }
        }
    }
    return true;
}

// ---------------------------------------------------------------- report

void Campaign::printTables()
{
    const QStringList classes{QStringLiteral("baseline"),         QStringLiteral("kills"),
                              QStringLiteral("concurrency"),      QStringLiteral("disk"),
                              QStringLiteral("crafted archives"), QStringLiteral("compaction")};
    for (const QString& kind : m_opt.kinds) {
        say(QString());
        say(kind == QLatin1String("SQLITE") ? QStringLiteral("SQLite") : QStringLiteral("MariaDB"));
        say(QStringLiteral(
            "| fault class | cases run | rows lost | rows duplicated | rows misfiled | untruthful endings |"));
        say(QStringLiteral("|---|---|---|---|---|---|"));
        for (const QString& cls : classes) {
            int cases = 0, untrue = 0;
            qint64 lost = 0, dup = 0, mis = 0;
            for (const CaseResult& r : m_results) {
                if (r.kind != kind || r.cls != cls)
                    continue;
                ++cases;
                lost += r.lost;
                dup += r.duplicated;
                mis += r.misfiled;
                untrue += r.untruthful;
            }
            if (cases)
                say(QStringLiteral("| %1 | %2 | %3 | %4 | %5 | %6 |")
                        .arg(cls)
                        .arg(cases)
                        .arg(lost)
                        .arg(dup)
                        .arg(mis)
                        .arg(untrue));
        }
    }
}

int Campaign::run()
{
    if (::geteuid() != 0 && (m_opt.only.isEmpty() || m_opt.only.contains(QStringLiteral("disk")))) {
        say(QStringLiteral("sjql-faults: the disk and permission cases need root (tmpfs mounts, chattr); run as root "
                           "or choose other classes with --only"));
        return 2;
    }
    QTemporaryDir tmp(QDir::tempPath() + QStringLiteral("/sjql-faults-XXXXXX"));
    m_root = m_opt.keep.isEmpty() ? tmp.path() : m_opt.keep;
    QDir().mkpath(m_root);
    QElapsedTimer all;
    all.start();
    say(QStringLiteral("sjql-faults: %1 form, %2 employees per agent, seed %3, work folder %4")
            .arg(m_opt.longForm ? QStringLiteral("long") : QStringLiteral("short"))
            .arg(employees())
            .arg(m_opt.seed)
            .arg(m_root));
    if (m_opt.kinds.contains(QStringLiteral("MYSQL"))) {
        QString error;
        if (!m_maria.start(m_root + QStringLiteral("/mariadb"), &error)) {
            say(QStringLiteral("sjql-faults: ") + error);
            return 2;
        }
    }
    for (const QString& kind : m_opt.kinds) {
        Template fresh;
        if (!makeFresh(kind, &fresh)) {
            m_harnessErrors << QStringLiteral("%1 installation: %2").arg(kind, fresh.error);
            continue;
        }
        m_fresh[kind] = fresh;
        Template restore;
        const bool restoreOk = makeRestoreTemplate(kind, &restore);
        if (restoreOk)
            m_restore[kind] = restore;
        else
            m_harnessErrors << QStringLiteral("%1 restore set-up: %2").arg(kind, restore.error);
        say(QStringLiteral("[%1] %2 rows before; a clean clear of 2019 takes %3 s, its restore %4 s")
                .arg(kind)
                .arg(fresh.universe.total())
                .arg(restore.clearSeconds, 0, 'f', 1)
                .arg(restore.restoreSeconds, 0, 'f', 1));

        const bool sqlite = kind == QLatin1String("SQLITE");
        if (wants(QStringLiteral("baseline")))
            baseline(kind);
        if (wants(QStringLiteral("kills"))) {
            if (m_opt.longForm) {
                for (const char* p : kClearPoints) {
                    clearKill(kind, QLatin1String(p), false, false);
                    if (QLatin1String(p) == QLatin1String("files-written") ||
                        QLatin1String(p) == QLatin1String("cleared")) {
                        for (const char* month : {"201901", "201906", "201912"})
                            clearKill(kind, QLatin1String(p) + QLatin1Char(':') + QLatin1String(month), false, false);
                    }
                }
                for (int i = 0; i < 4; ++i)
                    clearKill(kind, {}, true, false);
                for (int i = 0; i < 2; ++i)
                    clearKill(kind, {}, true, true);
            } else {
                clearKill(kind, QStringLiteral("cleared:201905"), false, false);
                clearKill(kind, {}, true, false);
            }
            if (restoreOk) {
                if (m_opt.longForm) {
                    for (const char* p : kRestorePoints) {
                        restoreKill(kind, QLatin1String(p), false);
                        if (QLatin1String(p) == QLatin1String("record-cleared") ||
                            QLatin1String(p) == QLatin1String("rows-inserted")) {
                            for (const char* month : {"201901", "201906", "201912"})
                                restoreKill(kind, QLatin1String(p) + QLatin1Char(':') + QLatin1String(month), false);
                        }
                    }
                    for (int i = 0; i < 4; ++i)
                        restoreKill(kind, {}, true);
                } else {
                    restoreKill(kind, QStringLiteral("rows-inserted:201906"), false);
                }
            }
        }
        if (wants(QStringLiteral("concurrency"))) {
            twoClears(kind);
            if (restoreOk)
                clearAndRestore(kind);
        }
        if (wants(QStringLiteral("disk"))) {
            tmpfsCase(kind, QStringLiteral("work"));
            immutableCase(kind, QStringLiteral("backup and fallback folders"));
            if (m_opt.longForm) {
                tmpfsCase(kind, QStringLiteral("backup"));
                immutableCase(kind, QStringLiteral("backup folder"));
                immutableCase(kind, QStringLiteral("work folder"));
                if (restoreOk)
                    tmpfsCase(kind, QStringLiteral("unpack"));
            }
            if (sqlite) {
                immutableCase(kind, QStringLiteral("database file"));
                lockedDatabase(kind);
            } else {
                serverStopped(kind);
                if (m_opt.longForm) {
                    serverStopped(kind);
                    serverStopped(kind);
                }
            }
        }
        if (wants(QStringLiteral("crafted")) && restoreOk) {
            QStringList defects{QStringLiteral("record month differs from its files"),
                                QStringLiteral("rows of another agent")};
            if (m_opt.longForm)
                defects << QStringLiteral("files missing") << QStringLiteral("unnamed extra members")
                        << QStringLiteral("zip bomb") << QStringLiteral("too many members");
            else
                defects << QStringLiteral("zip bomb");
            for (const QString& d : defects)
                craftedCase(kind, d);
        }
        if (wants(QStringLiteral("compaction")) && sqlite)
            compactionWriter(kind);
    }

    // Equal rows must give equal texts on both databases: the same demo data read from SQLite and
    // from MariaDB make the same multiset.
    if (m_fresh.count(QStringLiteral("SQLITE")) && m_fresh.count(QStringLiteral("MYSQL"))) {
        const RowBag& a = m_fresh.at(QStringLiteral("SQLITE")).universe;
        const RowBag& b = m_fresh.at(QStringLiteral("MYSQL")).universe;
        qint64 differ = 0;
        QString example;
        a.forEach([&](const RowKey& k, int n, const RowInfo& info) {
            if (b.count(k) != n) {
                differ += n;
                if (example.isEmpty())
                    example = info.describe();
            }
        });
        if (differ || a.total() != b.total())
            m_harnessErrors << QStringLiteral("the same demo data give different row texts on SQLite and MariaDB: "
                                              "%1 rows differ (e.g. %2)")
                                   .arg(differ)
                                   .arg(example);
        else
            say(QStringLiteral("row texts: the same %1 rows on SQLite and MariaDB").arg(a.total()));
    }

    printTables();
    int damaged = 0;
    bool bad = false;
    for (const CaseResult& r : m_results) {
        damaged += r.damaged ? 1 : 0;
        bad = bad || r.bad();
    }
    if (damaged)
        say(QStringLiteral("%1 cases left a database that is damaged or could not be read").arg(damaged));
    for (const QString& e : m_harnessErrors)
        say(QStringLiteral("harness: ") + e);
    say(QStringLiteral("sjql-faults: %1 cases in %2 s")
            .arg(m_results.size())
            .arg(double(all.elapsed()) / 1000.0, 0, 'f', 0));
    m_maria.stop();
    return bad || !m_harnessErrors.isEmpty() ? 1 : 0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    Options o;
    o.kinds = {QStringLiteral("SQLITE"), QStringLiteral("MYSQL")};
    bool formGiven = false;
    const QStringList args = app.arguments().mid(1);
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        const QString next = args.value(i + 1);
        if (a == QLatin1String("--short") || a == QLatin1String("--long")) {
            o.longForm = a == QLatin1String("--long");
            formGiven = true;
        } else if (a == QLatin1String("--db") && !next.isEmpty()) {
            ++i;
            o.kinds = next == QLatin1String("sqlite")  ? QStringList{QStringLiteral("SQLITE")}
                      : next == QLatin1String("mysql") ? QStringList{QStringLiteral("MYSQL")}
                                                       : QStringList{QStringLiteral("SQLITE"), QStringLiteral("MYSQL")};
        } else if (a == QLatin1String("--seed") && !next.isEmpty()) {
            o.seed = next.toUInt();
            ++i;
        } else if (a == QLatin1String("--only") && !next.isEmpty()) {
            o.only = next.split(QLatin1Char(','));
            ++i;
        } else if (a == QLatin1String("--keep") && !next.isEmpty()) {
            o.keep = next;
            ++i;
        } else if (a == QLatin1String("--employees") && !next.isEmpty()) {
            o.employees = next.toInt();
            ++i;
        } else {
            std::fprintf(stderr, "usage: sjql-faults --short|--long [--db sqlite|mysql|both] [--seed N] "
                                 "[--only baseline,kills,concurrency,disk,crafted,compaction] [--employees N] "
                                 "[--keep DIR]\n");
            return 2;
        }
    }
    if (!formGiven) {
        std::fprintf(stderr, "sjql-faults: say --short or --long\n");
        return 2;
    }
    Campaign c(o);
    return c.run();
}
