// SPDX-License-Identifier: MIT
// Backup-and-clear and restore of one large year, timed phase by phase, against the tools a user
// would reach for instead: the sqlite3 shell (.mode insert), zip and unzip on SQLite; mariadb-dump,
// zip, unzip and the mariadb client on MariaDB.
//
//   sjql-bench [--employees N] [--db sqlite|mysql] [--mysql-url URL] [--work DIR] [--keep] [--ten-years]
//
// The year is made by the demo generator in a child process (so its memory does not count): one
// agent with N employees, the benchmarked year 2019 and the second half of 2018, current period
// 202003. Our run goes first (backup and clear of 2019, then the restore of its archive); the
// tools then work on the restored rows. Every step is checked by counting the year's rows.
//
// Phases of our run are taken from the run itself: a phase observer is installed while a run is
// timed, and the jobs, the archive code and the statement runner report their work to it.
// Output: one "ratio PHASE OURS_S THEIRS_S RATIO" line per compared phase (on SQLite also
// vs_csv_import: our restore against unzip and the shell's .import of the same rows kept as CSV),
// then peak_rss_mb and max_event_gap_ms (the longest stretch without event processing during our
// two runs). --ten-years runs ours on a database holding the year and the half year before, then on
// one holding ten years (20,000 employees unless --employees is given), and prints the ratios
// ten_years_backup_clear (also without the compaction, and that per row), ten_years_restore (also
// per row) and ten_years_peak_rss_mb.
#include "archive/CompressUnit.h"
#include "archive/FileUtils.h"
#include "context/ModuleContext.h"
#include "db/SqlLog.h"
#include "host/data/HostDatabase.h"
#include "host/services/HostServicesAdmin.h"
#include "hostapi/HostConnection.h"
#include "jobs/BackupJob.h"
#include "jobs/RestoreJob.h"
#include "jobs/ResultLines.h"
#include "support/PhaseObserver.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <sys/resource.h>

using namespace sjql;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kYear = 2019;
const char* const kTables[3] = {"ZCGZXJMXB", "FGZXJB", "KJSDSBGB"};

// Time spent per phase while the observer is installed. The restore reads and builds rows on a
// helper thread while statements run on the main thread, so the counters are atomics: a shared
// lock here would make the two threads wait for each other on every row and slow down the very
// thing being measured.
class PhaseTotals : public PhaseObserver
{
public:
    void phaseDone(Phase phase, std::chrono::steady_clock::duration took) override
    {
        m_ns[size_t(phase)].ns.fetch_add(std::chrono::duration_cast<std::chrono::nanoseconds>(took).count(),
                                         std::memory_order_relaxed);
    }
    void clear()
    {
        for (Counter& c : m_ns)
            c.ns.store(0, std::memory_order_relaxed);
    }
    double operator()(Phase phase) const
    {
        return double(m_ns[size_t(phase)].ns.load(std::memory_order_relaxed)) / 1e9;
    }

private:
    struct alignas(64) Counter
    {
        std::atomic<std::int64_t> ns{0};
    };
    Counter m_ns[kPhaseCount];
};

// Installs the observer for the lifetime of one timed run.
struct Observing
{
    explicit Observing(PhaseTotals& totals)
    {
        totals.clear();
        SetPhaseObserver(&totals);
    }
    ~Observing() { SetPhaseObserver(nullptr); }
    Observing(const Observing&) = delete;
    Observing& operator=(const Observing&) = delete;
};

double seconds(Clock::time_point from)
{
    return std::chrono::duration<double>(Clock::now() - from).count();
}

// The longest time between two points where pending events were processed: a zero-interval timer
// fires on every pass of event processing, wherever it is called from (the jobs, the ZIP engine).
class EventGapMeter : public QObject
{
public:
    EventGapMeter()
    {
        m_timer.setInterval(0);
        QObject::connect(&m_timer, &QTimer::timeout, this, [this] { tick(); });
    }
    // Starts measuring anew: the longest gap is that of the run between begin() and end().
    void begin()
    {
        m_max = 0;
        m_where.clear();
        m_last = Clock::now();
        m_timer.start();
    }
    void end()
    {
        tick();
        m_timer.stop();
    }
    double maxGapMs() const { return m_max * 1000.0; }
    // The operation text shown when the longest gap ended.
    QString maxGapText() const { return m_where; }
    const QString* where = nullptr;
    qint64 ticks() const { return m_ticks; }

private:
    void tick()
    {
        const auto now = Clock::now();
        const double gap = std::chrono::duration<double>(now - m_last).count();
        if (gap > m_max && where)
            m_where = *where;
        // SJQL_BENCH_GAPS=MS lists every gap of at least MS milliseconds with the texts around it.
        if (m_listFrom > 0 && gap * 1000.0 >= m_listFrom && where)
            std::printf("gap %.0f ms: from \"%s\" to \"%s\"\n", gap * 1000.0, qPrintable(m_lastText),
                        qPrintable(*where));
        if (where)
            m_lastText = *where;
        m_max = std::max(m_max, gap);
        m_last = now;
        ++m_ticks;
    }
    QTimer m_timer;
    QString m_lastText;
    const double m_listFrom = qEnvironmentVariableIntValue("SJQL_BENCH_GAPS");
    Clock::time_point m_last;
    double m_max = 0;
    qint64 m_ticks = 0;
    QString m_where;
};

double peakRssMb()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_maxrss) / 1024.0; // kilobytes on Linux
}

[[noreturn]] void die(const QString& message)
{
    std::fprintf(stderr, "sjql-bench: %s\n", qPrintable(message));
    std::exit(1);
}

QString period(int month)
{
    return QStringLiteral("%1%2").arg(kYear).arg(month, 2, 10, QLatin1Char('0'));
}

QString selection(int table, const QString& p, const QString& agent)
{
    return QStringLiteral("select * from %1 where FFYF='%2' and KJYWRBM='%3'")
        .arg(QLatin1String(kTables[table]), p, agent);
}

// Runs a tool to its end; its time in seconds. Standard input and output may be files.
double runTool(const QString& program, const QStringList& args, const QString& stdinFile = {},
               const QString& stdoutFile = {})
{
    QProcess p;
    p.setProgram(program);
    p.setArguments(args);
    if (!stdinFile.isEmpty())
        p.setStandardInputFile(stdinFile);
    if (!stdoutFile.isEmpty())
        p.setStandardOutputFile(stdoutFile);
    const auto start = Clock::now();
    p.start();
    if (!p.waitForStarted(-1))
        die(QStringLiteral("%1 does not start: %2").arg(program, p.errorString()));
    p.waitForFinished(-1);
    const double took = seconds(start);
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        die(QStringLiteral("%1 %2 failed (exit %3): %4")
                .arg(program, args.join(QLatin1Char(' ')).left(200))
                .arg(p.exitCode())
                .arg(QString::fromLocal8Bit(p.readAllStandardError()).left(500)));
    return took;
}

void writeText(const QString& path, const QString& text)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(text.toUtf8()) < 0)
        die(QStringLiteral("%1 cannot be written").arg(path));
}

qint64 folderBytes(const QString& folder, const QString& filter)
{
    qint64 total = 0;
    for (const QFileInfo& fi : QDir(folder).entryInfoList({filter}, QDir::Files))
        total += fi.size();
    return total;
}

struct Options
{
    int employees = 50000;
    QString kind = QStringLiteral("SQLITE");
    QString mysqlUrl;
    QString work;
    bool keep = false;
    int years = 1;         // years before the benchmarked one in the database: 1 = the second half of 2018
    bool onlyOurs = false; // our two runs only, ending with an "ours_summary" line (for --ten-years)
    bool tenYears = false; // our runs on a one-year and on a ten-year database, in two child processes
    bool employeesGiven = false;
    QString generateInto; // child mode: SQLite file or MariaDB URL to fill
};

Options parseOptions(const QStringList& args)
{
    Options o;
    o.mysqlUrl = qEnvironmentVariable("SJQL_TEST_MYSQL_URL");
    for (qsizetype i = 1; i < args.size(); ++i) {
        const QString& a = args.at(i);
        auto value = [&]() -> QString {
            if (i + 1 >= args.size())
                die(QStringLiteral("%1 needs a value").arg(a));
            return args.at(++i);
        };
        if (a == QLatin1String("--employees")) {
            bool ok = false;
            o.employees = value().toInt(&ok);
            if (!ok || o.employees < 3)
                die(QStringLiteral("--employees needs a number of at least 3"));
            o.employeesGiven = true;
        } else if (a == QLatin1String("--years")) {
            bool ok = false;
            o.years = value().toInt(&ok);
            if (!ok || o.years < 1 || o.years > 30)
                die(QStringLiteral("--years needs a number from 1 to 30"));
        } else if (a == QLatin1String("--only-ours")) {
            o.onlyOurs = true;
        } else if (a == QLatin1String("--ten-years")) {
            o.tenYears = true;
        } else if (a == QLatin1String("--db")) {
            const QString db = value().toLower();
            if (db == QLatin1String("sqlite"))
                o.kind = QStringLiteral("SQLITE");
            else if (db == QLatin1String("mysql") || db == QLatin1String("mariadb"))
                o.kind = QStringLiteral("MYSQL");
            else
                die(QStringLiteral("--db is sqlite or mysql, not %1").arg(db));
        } else if (a == QLatin1String("--mysql-url")) {
            o.mysqlUrl = value();
        } else if (a == QLatin1String("--work")) {
            o.work = value();
        } else if (a == QLatin1String("--keep")) {
            o.keep = true;
        } else if (a == QLatin1String("--generate-into")) {
            o.generateInto = value();
        } else {
            die(QStringLiteral("unknown argument %1; usage: sjql-bench [--employees N] [--db sqlite|mysql] "
                               "[--mysql-url URL] [--work DIR] [--keep] [--ten-years]")
                    .arg(a));
        }
    }
    return o;
}

host::DatabaseLocation locationOf(const QString& kind, const QString& target)
{
    host::DatabaseLocation where;
    where.typeName = kind;
    if (kind == QLatin1String("SQLITE"))
        where.sqliteFile = target;
    else
        where.url = target;
    return where;
}

// Child mode: fills the database with the year and makes every month of it clearable (the demo
// gives the first agent's months odd declaration states, which would make months refuse).
int generate(const Options& o)
{
    QString error;
    auto conn = host::openHostConnection(locationOf(o.kind, o.generateInto), &error);
    if (!conn)
        die(error);
    host::DemoOptions demo;
    demo.agents = 1;
    demo.employees = o.employees;
    demo.firstYear = o.years > 1 ? kYear - o.years + 1 : kYear - 1;
    demo.lastYear = kYear;
    demo.period = QString::number(kYear + 1) + QStringLiteral("03");
    demo.seed = 7;
    host::DemoResult result;
    const auto start = Clock::now();
    if (!host::createDemoDatabase(*conn, o.kind, demo, &result, &error))
        die(error);
    QSqlQuery q(conn->database());
    if (!q.exec(QStringLiteral("update SBZB set SBZT=1, FKZT=1, ZCZT=0, SDBZ=0 where SBYF like '%1%'").arg(kYear)))
        die(q.lastError().text());
    std::printf("generated %lld history rows in %.1f s\n", static_cast<long long>(result.rows), seconds(start));
    return 0;
}

// The year's rows of the agent per table.
std::array<qint64, 3> yearRows(HostConnection& conn, const QString& agent)
{
    std::array<qint64, 3> rows{};
    QSqlQuery q(conn.database());
    for (int t = 0; t < 3; ++t) {
        if (!q.exec(QStringLiteral("select count(*) from %1 where FFYF like '%2%' and KJYWRBM='%3'")
                        .arg(QLatin1String(kTables[t]))
                        .arg(kYear)
                        .arg(agent)) ||
            !q.next())
            die(q.lastError().text());
        rows[size_t(t)] = q.value(0).toLongLong();
    }
    return rows;
}

qint64 total(const std::array<qint64, 3>& rows)
{
    return rows[0] + rows[1] + rows[2];
}

// Ends the benchmark when the year does not hold `expected` rows, naming the months that hold rows
// and printing the run's result lines, if any: a count alone does not tell a month that failed
// (and said so) from one that was reported done and was not.
void expectRows(HostConnection& conn, const QString& agent, qint64 expected, const char* after,
                const TDispResultList* results = nullptr)
{
    const qint64 got = total(yearRows(conn, agent));
    if (got == expected)
        return;
    QStringList months;
    QSqlQuery q(conn.database());
    for (int t = 0; t < 3; ++t) {
        if (q.exec(QStringLiteral("select FFYF, count(*) from %1 where FFYF like '%2%' and KJYWRBM='%3' group by FFYF")
                       .arg(QLatin1String(kTables[t]))
                       .arg(kYear)
                       .arg(agent))) {
            while (q.next())
                months << QStringLiteral("%1 %2=%3")
                              .arg(q.value(0).toString(), QLatin1String(kTables[t]), q.value(1).toString());
        }
    }
    std::printf("rows left: %s\n", qPrintable(months.join(QStringLiteral(", "))));
    for (int i = 0; results && i < results->LineCount(); ++i)
        std::printf("result line: %s\n", qPrintable(results->GetLine(i).Text));
    std::fflush(stdout);
    die(QStringLiteral("after %1 the year holds %2 rows, %3 expected")
            .arg(QLatin1String(after))
            .arg(got)
            .arg(expected));
}

// Command-line arguments of the MariaDB tools for a location.
QStringList mysqlArgs(const host::MysqlUrl& u)
{
    QStringList args{QStringLiteral("--user=") + u.user, QStringLiteral("--default-character-set=utf8mb4")};
    if (!u.password.isEmpty())
        args << QStringLiteral("--password=") + u.password;
    if (!u.socket.isEmpty())
        args << QStringLiteral("--socket=") + u.socket;
    else
        args << QStringLiteral("--protocol=TCP") << QStringLiteral("--host=") + u.host
             << QStringLiteral("--port=%1").arg(u.port);
    return args;
}

void printRatio(const char* name, double ours, double theirs)
{
    std::printf("ratio %s %.2f %.2f %.2f\n", name, ours, theirs, theirs > 0 ? ours / theirs : 0.0);
}

// Runs a job with the phase observer installed and the event gaps measured; its time in seconds.
// A run that ends early ends the benchmark with the run's lines.
template <typename Job>
double timedRun(Job& job, PhaseTotals& phases, EventGapMeter& gaps, QString& operationText, qint16& progress,
                TDispResultList& results, const char* what)
{
    const Observing observing(phases);
    gaps.begin();
    const auto start = Clock::now();
    const bool ended = job.Run(operationText, progress, results);
    const double took = seconds(start);
    gaps.end();
    if (!ended) {
        QStringList lines;
        for (int i = 0; i < results.LineCount(); ++i)
            lines << results.GetLine(i).Text;
        die(QStringLiteral("%1 ended early: ").arg(QLatin1String(what)) + lines.join(QStringLiteral(" | ")));
    }
    return took;
}

// Our backup and restore of the year on a database holding it and the half year before, then on one
// holding ten years, each in a child process of its own (so that each has its own peak memory):
// the time per year should not grow with the years around it.
int compareYears(const Options& o)
{
    struct Summary
    {
        double backup = 0, restore = 0, rss = 0, gap = 0, compaction = 0, rows = 0;
    };
    auto run = [&](int years) {
        QStringList args{QStringLiteral("--only-ours"),
                         QStringLiteral("--years"),
                         QString::number(years),
                         QStringLiteral("--employees"),
                         QString::number(o.employeesGiven ? o.employees : 20000),
                         QStringLiteral("--db"),
                         o.kind == QLatin1String("SQLITE") ? QStringLiteral("sqlite") : QStringLiteral("mysql")};
        if (!o.mysqlUrl.isEmpty())
            args << QStringLiteral("--mysql-url") << o.mysqlUrl;
        QProcess p;
        p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p.start(QCoreApplication::applicationFilePath(), args);
        if (!p.waitForStarted(-1) || !p.waitForFinished(-1) || p.exitStatus() != QProcess::NormalExit ||
            p.exitCode() != 0)
            die(QStringLiteral("the run on %1 years failed").arg(years));
        Summary sum;
        const QStringList lines = QString::fromUtf8(p.readAllStandardOutput()).split(QLatin1Char('\n'));
        for (const QString& line : lines) {
            std::printf("  %d years | %s\n", years, qPrintable(line));
            const QStringList w = line.split(QLatin1Char(' '));
            if (w.size() == 13 && w[0] == QLatin1String("ours_summary")) {
                sum.backup = w[2].toDouble();
                sum.restore = w[4].toDouble();
                sum.rss = w[6].toDouble();
                sum.gap = w[8].toDouble();
                sum.compaction = w[10].toDouble();
                sum.rows = w[12].toDouble();
            }
        }
        if (sum.backup <= 0)
            die(QStringLiteral("the run on %1 years printed no summary").arg(years));
        return sum;
    };
    const Summary one = run(1), ten = run(10);
    printRatio("ten_years_backup_clear", ten.backup, one.backup);
    // The compaction copies the whole database file, so it grows with the years kept by design;
    // the rest is the year's own work. The generated year of the ten-year database holds a few
    // per cent more rows: the per-row figures compare like with like.
    printRatio("ten_years_backup_clear_without_compaction", ten.backup - ten.compaction, one.backup - one.compaction);
    printRatio("ten_years_backup_clear_without_compaction_per_row", (ten.backup - ten.compaction) / ten.rows * 1e6,
               (one.backup - one.compaction) / one.rows * 1e6);
    printRatio("ten_years_restore", ten.restore, one.restore);
    printRatio("ten_years_restore_per_row", ten.restore / ten.rows * 1e6, one.restore / one.rows * 1e6);
    printRatio("ten_years_peak_rss_mb", ten.rss, one.rss);
    std::printf("max_event_gap_ms one year %.0f, ten years %.0f\n", one.gap, ten.gap);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    // The jobs' result lists live in the widget library; nothing is shown.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QCoreApplication app(argc, argv);
    Options o = parseOptions(app.arguments());
    if (!o.generateInto.isEmpty())
        return generate(o);
    if (o.tenYears)
        return compareYears(o);

    std::optional<QTemporaryDir> tmp;
    if (o.work.isEmpty()) {
        tmp.emplace(QDir::temp().filePath(QStringLiteral("sjql-bench-XXXXXX")));
        if (!tmp->isValid())
            die(QStringLiteral("no temporary folder"));
        tmp->setAutoRemove(!o.keep);
        o.work = tmp->path();
    }
    QDir work(o.work);
    const QString home = work.filePath(QStringLiteral("home"));
    for (const char* sub :
         {"home/Apps/03/Data", "home/Apps/16/TEMP/TMPBFMU", "backup", "tmp", "log", "theirs/out", "theirs/in"})
        work.mkpath(QLatin1String(sub));
    // The compaction's temporary file goes to the temporary folder: keep it apart from other runs.
    qputenv("TMPDIR", QFile::encodeName(work.filePath(QStringLiteral("tmp"))));

    // The database: SQLite in the installation's place, or a database of its own on the server.
    host::DatabaseLocation where;
    where.typeName = o.kind;
    std::unique_ptr<HostConnection> admin;
    QString dbName;
    host::MysqlUrl mysql;
    QString error;
    if (o.kind == QLatin1String("SQLITE")) {
        where.sqliteFile = home + QStringLiteral("/Apps/03/Data/Data.db");
    } else {
        if (o.mysqlUrl.isEmpty())
            die(QStringLiteral("--db mysql needs --mysql-url or SJQL_TEST_MYSQL_URL"));
        if (!host::parseMysqlUrl(o.mysqlUrl, &mysql, &error))
            die(error);
        admin = host::openHostConnection(locationOf(o.kind, o.mysqlUrl), &error);
        if (!admin)
            die(error);
        dbName = QStringLiteral("sjql_bench_%1").arg(QCoreApplication::applicationPid());
        QSqlQuery q(admin->database());
        if (!q.exec(QStringLiteral("CREATE DATABASE %1 CHARACTER SET utf8mb4").arg(dbName)))
            die(q.lastError().text());
        const qsizetype slash = o.mysqlUrl.indexOf(QLatin1Char('/'), 8);
        const qsizetype query = o.mysqlUrl.indexOf(QLatin1Char('?'));
        where.url = o.mysqlUrl.left(slash + 1) + dbName + (query >= 0 ? o.mysqlUrl.mid(query) : QString());
        mysql.database = dbName;
    }
    struct DropDatabase
    {
        HostConnection* admin;
        QString name;
        ~DropDatabase()
        {
            if (admin && !name.isEmpty())
                (void)QSqlQuery(admin->database()).exec(QStringLiteral("DROP DATABASE IF EXISTS ") + name);
        }
    } dropLater{o.keep ? nullptr : admin.get(), dbName};

    std::printf("sjql-bench: %s, %d employees, year %d, work folder %s\n", qPrintable(o.kind), o.employees, kYear,
                qPrintable(o.work));
    std::fflush(stdout);
    runTool(QCoreApplication::applicationFilePath(),
            {QStringLiteral("--generate-into"), o.kind == QLatin1String("SQLITE") ? where.sqliteFile : where.url,
             QStringLiteral("--db"),
             o.kind == QLatin1String("SQLITE") ? QStringLiteral("sqlite") : QStringLiteral("mysql"),
             QStringLiteral("--employees"), QString::number(o.employees), QStringLiteral("--years"),
             QString::number(o.years)});

    auto conn = host::openHostConnection(where, &error);
    if (!conn)
        die(error);
    QString agent;
    {
        QSqlQuery q(conn->database());
        if (!q.exec(QStringLiteral("select KJYWRBM from SBZB")) || !q.next())
            die(QStringLiteral("no agent in the demo data"));
        agent = q.value(0).toString();
    }
    const std::array<qint64, 3> rows = yearRows(*conn, agent);
    const qint64 yearTotal = total(rows);
    std::printf("year %d: %lld wage rows, %lld non-wage rows, %lld report rows\n", kYear,
                static_cast<long long>(rows[0]), static_cast<long long>(rows[1]), static_cast<long long>(rows[2]));

    // The host as the module sees it, without a window.
    host::state().homeDir = home;
    auto& vo = host::state().valueObject;
    vo.clear();
    auto text = [&](const char* name, const QString& value) {
        host::VoEntry e;
        e.name = QLatin1String(name);
        e.text = value;
        vo.push_back(e);
    };
    host::VoEntry c;
    c.name = QStringLiteral("QVR_DKDJADOConnection");
    c.kind = host::VoEntry::Object;
    c.object = conn.get();
    vo.push_back(c);
    text("QVR_DKDJDBType", o.kind);
    text("QVR_DKDJAPPCODE", QStringLiteral("03"));
    text("QVR_KJYWRBM", agent);
    SetSqlLogFolderOverride(work.filePath(QStringLiteral("log")));
    SetHostExeDirOverride(o.work);

    EventGapMeter gaps;
    QString operationText;
    gaps.where = &operationText;

    // Our backup and clear.
    BackupJobSettings settings;
    settings.agentCode = agent;
    settings.hostAppCode = QStringLiteral("03");
    settings.backupDir = work.filePath(QStringLiteral("backup"));
    settings.workDir = home + QStringLiteral("/Apps/16/TEMP/TMPBFMU");
    settings.subAppDir = home + QStringLiteral("/Apps/16/");
    settings.years = {QString::number(kYear)};
    qint16 progress = 0;
    // Events are processed the jobs' own way (ProcessPendingEvents), as in the window.
    BackupJobCallbacks callbacks;
    callbacks.confirmWarnings = [](TDispResultList&) { return true; };
    callbacks.showCompactionError = [](const QString& e) { die(QStringLiteral("compaction: ") + e); };

    TDispResultList results;
    PhaseTotals phase;
    BackupJob backup(settings, callbacks);
    const double backupTotal = timedRun(backup, phase, gaps, operationText, progress, results, "backup and clear");
    if (backup.archives().size() != 1)
        die(QStringLiteral("backup and clear wrote %1 archives").arg(backup.archives().size()));
    const double backupGap = gaps.maxGapMs();
    const QString backupGapText = gaps.maxGapText();
    const double backupRss = peakRssMb();
    expectRows(*conn, agent, 0, "our clear", &results);
    const QString archive = backup.archives().first();
    const qint64 archiveBytes = QFileInfo(archive).size();
    const double packing = phase(Phase::Packing), compaction = phase(Phase::Compaction);
    const double selectS = phase(Phase::Selection), clearS = phase(Phase::Clearing);
    const double writingS = phase(Phase::Saving) + phase(Phase::ReadingBack);
    std::printf("ours backup_clear %.2f s, %.0f rows/s: selection %.2f, writing %.2f (saving %.2f, reading back "
                "%.2f), clearing %.2f, packing %.2f (zip %.2f), compaction %.2f, rest %.2f; archive %lld bytes\n",
                backupTotal, double(yearTotal) / backupTotal, selectS, writingS, phase(Phase::Saving),
                phase(Phase::ReadingBack), clearS, packing, phase(Phase::Compressing), compaction,
                backupTotal - selectS - writingS - clearS - packing - compaction, static_cast<long long>(archiveBytes));
    std::fflush(stdout);

    // Our restore of that archive.
    RestoreSettings rs;
    rs.archives = {archive};
    rs.unpackFolder = settings.workDir + QStringLiteral("/UnZipDir/");
    rs.backupFolder = settings.backupDir;
    rs.agentCode = agent;
    rs.hostAppCode = QStringLiteral("03");
    RestoreJob restore(rs);
    results.ClearLines();
    const double restoreTotal = timedRun(restore, phase, gaps, operationText, progress, results, "restore");
    DeleteTree(rs.unpackFolder);
    expectRows(*conn, agent, yearTotal, "our restore", &results);
    const double unpackS = phase(Phase::Unpacking), readS = phase(Phase::Reading), buildS = phase(Phase::Building),
                 insertS = phase(Phase::Statement), checkS = phase(Phase::Selection),
                 clearingS = phase(Phase::Clearing);
    std::printf("ours restore %.2f s, %.0f rows/s: unpacking %.2f, reading %.2f, building %.2f, inserting %.2f, "
                "checks %.2f, clearing %.2f, rest %.2f\n",
                restoreTotal, double(yearTotal) / restoreTotal, unpackS, readS, buildS, insertS, checkS, clearingS,
                restoreTotal - unpackS - readS - buildS - insertS - checkS - clearingS);
    const double restoreGap = gaps.maxGapMs();
    const double maxGap = std::max(backupGap, restoreGap);
    const QString maxGapText = backupGap >= restoreGap ? backupGapText : gaps.maxGapText();
    std::printf("event processing: %lld passes, longest gap %.0f ms in the backup, %.0f ms in the restore\n",
                static_cast<long long>(gaps.ticks()), backupGap, restoreGap);
    std::fflush(stdout);
    if (o.onlyOurs) {
        std::printf(
            "ours_summary backup_clear %.2f restore %.2f peak_rss_mb %.0f max_event_gap_ms %.0f compaction %.2f "
            "rows %lld\n",
            backupTotal, restoreTotal, peakRssMb(), maxGap, compaction, static_cast<long long>(yearTotal));
        vo.clear();
        conn.reset();
        return 0;
    }

    // The same work with the tools a user would reach for, on the same rows.
    const QString out = work.filePath(QStringLiteral("theirs/out"));
    const QString in = work.filePath(QStringLiteral("theirs/in"));
    const QString zipFile = work.filePath(QStringLiteral("theirs/year.zip"));
    const QString password = QString(ArchivePassword);
    double exportS = 0, deleteS = 0, importS = 0;
    QStringList files;
    const bool sqlite = o.kind == QLatin1String("SQLITE");
    // No statement of ours may hold the database while the tools work on it.
    conn->close();
    if (sqlite) {
        QString script;
        for (int m = 1; m <= 12; ++m) {
            for (int t = 0; t < 3; ++t) {
                const QString file = QStringLiteral("%1/%2_%3.sql").arg(out, QLatin1String(kTables[t]), period(m));
                files << file;
                script += QStringLiteral(".mode insert %1\n.output %2\n%3;\n")
                              .arg(QLatin1String(kTables[t]), file, selection(t, period(m), agent));
            }
        }
        writeText(work.filePath(QStringLiteral("theirs/export.txt")), script);
        exportS = runTool(QStringLiteral("sqlite3"), {QStringLiteral("-bail"), where.sqliteFile},
                          work.filePath(QStringLiteral("theirs/export.txt")));
    } else {
        const auto begin = Clock::now();
        for (int m = 1; m <= 12; ++m) {
            for (int t = 0; t < 3; ++t) {
                const QString file = QStringLiteral("%1/%2_%3.sql").arg(out, QLatin1String(kTables[t]), period(m));
                files << file;
                runTool(QStringLiteral("mariadb-dump"),
                        mysqlArgs(mysql) << QStringLiteral("--no-create-info") << QStringLiteral("--skip-triggers")
                                         << QStringLiteral("--where=FFYF='%1' and KJYWRBM='%2'").arg(period(m), agent)
                                         << dbName << QLatin1String(kTables[t]),
                        {}, file);
            }
        }
        exportS = seconds(begin);
    }
    const double zipS =
        runTool(QStringLiteral("zip"), QStringList{QStringLiteral("-q"), QStringLiteral("-6"), QStringLiteral("-j"),
                                                   QStringLiteral("-P"), password, zipFile}
                                           << files);
    {
        QString script;
        for (int m = 1; m <= 12; ++m) {
            for (int t = 0; t < 3; ++t)
                script += QStringLiteral("delete from %1 where FFYF='%2' and KJYWRBM='%3';\n")
                              .arg(QLatin1String(kTables[t]), period(m), agent);
        }
        writeText(work.filePath(QStringLiteral("theirs/delete.txt")), script);
        deleteS = sqlite ? runTool(QStringLiteral("sqlite3"), {QStringLiteral("-bail"), where.sqliteFile},
                                   work.filePath(QStringLiteral("theirs/delete.txt")))
                         : runTool(QStringLiteral("mariadb"), mysqlArgs(mysql) << dbName,
                                   work.filePath(QStringLiteral("theirs/delete.txt")));
    }
    if (!conn->connect())
        die(conn->lastError());
    expectRows(*conn, agent, 0, "the tools' delete");
    conn->close();
    const double unzipS =
        runTool(QStringLiteral("unzip"), {QStringLiteral("-q"), QStringLiteral("-o"), QStringLiteral("-P"), password,
                                          zipFile, QStringLiteral("-d"), in});
    {
        // One transaction around all files, as our restore keeps one per archive.
        QString script = sqlite ? QStringLiteral("BEGIN;\n") : QStringLiteral("SET autocommit=0;\n");
        for (const QString& f : files)
            script += (sqlite ? QStringLiteral(".read %1\n") : QStringLiteral("source %1\n"))
                          .arg(in + QLatin1Char('/') + QFileInfo(f).fileName());
        script += QStringLiteral("COMMIT;\n");
        writeText(work.filePath(QStringLiteral("theirs/import.txt")), script);
        importS = sqlite ? runTool(QStringLiteral("sqlite3"), {QStringLiteral("-bail"), where.sqliteFile},
                                   work.filePath(QStringLiteral("theirs/import.txt")))
                         : runTool(QStringLiteral("mariadb"), mysqlArgs(mysql) << dbName,
                                   work.filePath(QStringLiteral("theirs/import.txt")));
    }
    if (!conn->connect())
        die(conn->lastError());
    expectRows(*conn, agent, yearTotal, "the tools' import");

    // The fastest restore a skilled user of the sqlite3 shell would make: the same rows kept as CSV
    // (zipped the same way), unzipped and loaded with .import in one transaction.
    double csvUnzipS = 0, csvImportS = 0;
    if (sqlite) {
        conn->close();
        const QString csvOut = work.filePath(QStringLiteral("theirs/csv"));
        const QString csvIn = work.filePath(QStringLiteral("theirs/csv-in"));
        const QString csvZip = work.filePath(QStringLiteral("theirs/year-csv.zip"));
        QDir().mkpath(csvOut);
        QString exportScript = QStringLiteral(".mode csv\n.headers off\n");
        QString importScript = QStringLiteral("BEGIN;\n");
        QStringList csvFiles;
        for (int m = 1; m <= 12; ++m) {
            for (int t = 0; t < 3; ++t) {
                const QString name = QStringLiteral("%1_%2.csv").arg(QLatin1String(kTables[t]), period(m));
                csvFiles << csvOut + QLatin1Char('/') + name;
                exportScript +=
                    QStringLiteral(".output %1\n%2;\n").arg(csvFiles.last(), selection(t, period(m), agent));
                importScript += QStringLiteral(".import --csv %1/%2 %3\n").arg(csvIn, name, QLatin1String(kTables[t]));
            }
        }
        importScript += QStringLiteral("COMMIT;\n");
        writeText(work.filePath(QStringLiteral("theirs/export-csv.txt")), exportScript);
        writeText(work.filePath(QStringLiteral("theirs/import-csv.txt")), importScript);
        runTool(QStringLiteral("sqlite3"), {QStringLiteral("-bail"), where.sqliteFile},
                work.filePath(QStringLiteral("theirs/export-csv.txt")));
        runTool(QStringLiteral("zip"), QStringList{QStringLiteral("-q"), QStringLiteral("-6"), QStringLiteral("-j"),
                                                   QStringLiteral("-P"), password, csvZip}
                                           << csvFiles);
        runTool(QStringLiteral("sqlite3"), {QStringLiteral("-bail"), where.sqliteFile},
                work.filePath(QStringLiteral("theirs/delete.txt")));
        csvUnzipS = runTool(QStringLiteral("unzip"), {QStringLiteral("-q"), QStringLiteral("-o"), QStringLiteral("-P"),
                                                      password, csvZip, QStringLiteral("-d"), csvIn});
        csvImportS = runTool(QStringLiteral("sqlite3"), {QStringLiteral("-bail"), where.sqliteFile},
                             work.filePath(QStringLiteral("theirs/import-csv.txt")));
        if (!conn->connect())
            die(conn->lastError());
        expectRows(*conn, agent, yearTotal, "the tools' CSV import");
    }
    std::printf("theirs backup_clear %.2f s: export %.2f (%lld bytes of statements), zip %.2f (%lld bytes), delete "
                "%.2f\n",
                exportS + zipS + deleteS, exportS, static_cast<long long>(folderBytes(out, QStringLiteral("*.sql"))),
                zipS, static_cast<long long>(QFileInfo(zipFile).size()), deleteS);
    std::printf("theirs restore %.2f s: unzip %.2f, import %.2f\n", unzipS + importS, unzipS, importS);
    if (sqlite)
        std::printf("theirs restore from CSV %.2f s: unzip %.2f, .import %.2f\n", csvUnzipS + csvImportS, csvUnzipS,
                    csvImportS);

    // mariadb-dump writes many rows per INSERT; ours are one statement per row, each a round trip
    // to the server. The same import from a dump of one INSERT per row shows what that costs.
    double rowImportS = 0;
    if (!sqlite) {
        const QString rowsDir = work.filePath(QStringLiteral("theirs/rows"));
        QDir().mkpath(rowsDir);
        QString script = QStringLiteral("SET autocommit=0;\n");
        for (int m = 1; m <= 12; ++m) {
            for (int t = 0; t < 3; ++t) {
                const QString file = QStringLiteral("%1/%2_%3.sql").arg(rowsDir, QLatin1String(kTables[t]), period(m));
                runTool(QStringLiteral("mariadb-dump"),
                        mysqlArgs(mysql) << QStringLiteral("--no-create-info") << QStringLiteral("--skip-triggers")
                                         << QStringLiteral("--skip-extended-insert")
                                         << QStringLiteral("--where=FFYF='%1' and KJYWRBM='%2'").arg(period(m), agent)
                                         << dbName << QLatin1String(kTables[t]),
                        {}, file);
                script += QStringLiteral("source %1\n").arg(file);
            }
        }
        script += QStringLiteral("COMMIT;\n");
        conn->close();
        runTool(QStringLiteral("mariadb"), mysqlArgs(mysql) << dbName,
                work.filePath(QStringLiteral("theirs/delete.txt")));
        writeText(work.filePath(QStringLiteral("theirs/import-rows.txt")), script);
        rowImportS = runTool(QStringLiteral("mariadb"), mysqlArgs(mysql) << dbName,
                             work.filePath(QStringLiteral("theirs/import-rows.txt")));
        if (!conn->connect())
            die(conn->lastError());
        expectRows(*conn, agent, yearTotal, "the tools' row-by-row import");
        std::printf("theirs import of one INSERT per row %.2f s\n", rowImportS);
    }

    printRatio("backup_clear", backupTotal, exportS + zipS + deleteS);
    printRatio("backup_clear_without_compaction", backupTotal - compaction, exportS + zipS + deleteS);
    printRatio("export", selectS + writingS, exportS);
    printRatio("packing", packing, zipS);
    printRatio("clearing", clearS, deleteS);
    printRatio("restore", restoreTotal, unzipS + importS);
    if (sqlite)
        printRatio("vs_csv_import", restoreTotal, csvUnzipS + csvImportS);
    printRatio("unpacking", unpackS, unzipS);
    printRatio("inserting", restoreTotal - unpackS, importS);
    if (rowImportS > 0)
        printRatio("inserting_row_by_row", restoreTotal - unpackS, rowImportS);
    std::printf("archive_bytes %lld %lld\n", static_cast<long long>(archiveBytes),
                static_cast<long long>(QFileInfo(zipFile).size()));
    std::printf("rows_per_s backup_clear %.0f restore %.0f\n", double(yearTotal) / backupTotal,
                double(yearTotal) / restoreTotal);
    std::printf("peak_rss_mb %.0f (after backup_clear %.0f)\n", peakRssMb(), backupRss);
    std::printf("max_event_gap_ms %.0f (backup %.0f, restore %.0f; the longest ending at \"%s\")\n", maxGap, backupGap,
                restoreGap, qPrintable(maxGapText));
    vo.clear();
    conn.reset();
    return 0;
}
