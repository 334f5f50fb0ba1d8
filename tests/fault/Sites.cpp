// SPDX-License-Identifier: MIT
#include "Sites.h"

#include "host/data/HostDatabase.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QThread>

#include <csignal>

namespace sjql::fault {

// ---- MariaDB ----

MariaServer::~MariaServer()
{
    stop();
}

bool MariaServer::start(const QString& dir, QString* error)
{
    m_dir = dir;
    QProcess p;
    p.start(QStringLiteral("bash"),
            {QStringLiteral(SJQL_SOURCE_DIR "/scripts/mariadb-test-server.sh"), QStringLiteral("start"), dir});
    if (!p.waitForFinished(120000) || p.exitCode() != 0) {
        *error = QStringLiteral("MariaDB did not start: ") + QString::fromUtf8(p.readAllStandardError());
        return false;
    }
    const QString url = QString::fromUtf8(p.readAllStandardOutput()).trimmed();
    static const QRegularExpression port(QStringLiteral(":(\\d+)/"));
    m_port = port.match(url).captured(1).toInt();
    m_running = m_port > 0;
    if (!m_running)
        *error = QStringLiteral("MariaDB script printed no URL: ") + url;
    return m_running;
}

void MariaServer::stop()
{
    if (m_dir.isEmpty())
        return;
    QProcess p;
    p.start(QStringLiteral("bash"),
            {QStringLiteral(SJQL_SOURCE_DIR "/scripts/mariadb-test-server.sh"), QStringLiteral("stop"), m_dir});
    p.waitForFinished(60000);
    m_running = false;
    m_dir.clear();
}

bool MariaServer::stopNow()
{
    QFile f(m_dir + QStringLiteral("/pid"));
    if (!f.open(QIODevice::ReadOnly))
        return false;
    const pid_t pid = pid_t(f.readAll().trimmed().toLongLong());
    if (pid <= 0 || ::kill(pid, SIGTERM) != 0)
        return false;
    for (int i = 0; i < 300 && ::kill(pid, 0) == 0; ++i)
        QThread::msleep(100);
    m_running = false;
    return ::kill(pid, 0) != 0;
}

bool MariaServer::startAgain(QString* error)
{
    // The script's own server command line, on the data it left.
    const QString cmd =
        QStringLiteral("setsid mariadbd --no-defaults --user=\"$(id -un)\" --datadir='%1/data' --socket='%1/sock' "
                       "--port=%2 --bind-address=127.0.0.1 --character-set-server=utf8mb4 "
                       "--collation-server=utf8mb4_general_ci --pid-file='%1/pid' --skip-log-bin "
                       "--innodb-flush-log-at-trx-commit=2 >>'%1/server.log' 2>&1 </dev/null &")
            .arg(m_dir)
            .arg(m_port);
    QProcess::execute(QStringLiteral("bash"), {QStringLiteral("-c"), cmd});
    for (int i = 0; i < 200; ++i) {
        if (runTool(QStringLiteral("mariadb"),
                    {QStringLiteral("--no-defaults"), QStringLiteral("-uroot"),
                     QStringLiteral("--socket=") + m_dir + QStringLiteral("/sock"), QStringLiteral("-e"),
                     QStringLiteral("select 1")},
                    nullptr, 10000)) {
            m_running = true;
            return true;
        }
        QThread::msleep(100);
    }
    *error = QStringLiteral("MariaDB did not start again; see %1/server.log").arg(m_dir);
    return false;
}

QString MariaServer::urlFor(const QString& database) const
{
    return QStringLiteral("mysql://root@127.0.0.1:%1/%2?socket=%3/sock").arg(m_port).arg(database, m_dir);
}

// ---- installations ----

QString agentFolderName(const QString& agentCode)
{
    if (agentCode.isEmpty())
        return QStringLiteral("_");
    QString out;
    for (char c : agentCode.toUtf8()) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-')
            out += QLatin1Char(c);
        else
            out += QStringLiteral("_%1").arg(uint(uchar(c)), 2, 16, QLatin1Char('0')).toUpper();
    }
    return out;
}

QString Site::agentWorkDir() const
{
    return workDir() + QLatin1Char('/') + agentFolderName(agent);
}

std::unique_ptr<HostConnection> Site::connect(QString* error) const
{
    host::DatabaseLocation where;
    where.typeName = kind;
    where.sqliteFile = sqliteFile();
    where.url = url;
    where.mustExist = true;
    return host::openHostConnection(where, error);
}

bool Site::switchAgent(const QString& code, QString* error) const
{
    QFile f(home + QStringLiteral("/host.ini"));
    if (!f.open(QIODevice::ReadOnly)) {
        *error = f.errorString();
        return false;
    }
    QString text = QString::fromUtf8(f.readAll());
    f.close();
    static const QRegularExpression line(QStringLiteral("(?m)^AgentCode=.*$"));
    text.replace(line, QStringLiteral("AgentCode=") + code);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(text.toUtf8()) < 0) {
        *error = f.errorString();
        return false;
    }
    return true;
}

// ---- host runs ----

HostRun::HostRun(const Site& site, const QStringList& a, const QProcessEnvironment& extra) : args(a)
{
    m_p = std::make_unique<QProcess>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("SJQL_TEST_KILL_AT"));
    env.insert(QStringLiteral("SJQL_HOST_EXE_DIR"), site.exe);
    env.insert(QStringLiteral("SJQL_SQL_LOG_DIR"), site.exe);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    // Each installation has a temporary folder of its own (the compaction's copy lives there), as
    // separate machines would: a file left by one case never meets another case or another program.
    QDir().mkpath(site.dir + QStringLiteral("/tmp"));
    env.insert(QStringLiteral("TMPDIR"), site.dir + QStringLiteral("/tmp"));
    env.insert(extra);
    m_p->setProcessEnvironment(env);
    m_timer.start();
    m_p->start(QCoreApplication::applicationDirPath() + QStringLiteral("/sjql-host"), args);
}

HostRun::~HostRun()
{
    if (m_p && m_p->state() != QProcess::NotRunning) {
        m_p->kill();
        m_p->waitForFinished(10000);
    }
}

bool HostRun::poll(int ms)
{
    if (m_done)
        return true;
    if (m_p->state() != QProcess::NotRunning && !m_p->waitForFinished(ms) && m_p->state() != QProcess::NotRunning)
        return false;
    collect();
    return true;
}

bool HostRun::wait(int ms)
{
    if (m_done)
        return !m_hung;
    if (!m_p->waitForFinished(ms)) {
        if (m_p->state() != QProcess::NotRunning) {
            m_hung = true;
            m_p->kill();
            m_p->waitForFinished(10000);
        }
    }
    collect();
    return !m_hung;
}

void HostRun::collect()
{
    m_done = true;
    m_seconds = double(m_timer.elapsed()) / 1000.0;
    m_crashed = m_p->exitStatus() == QProcess::CrashExit || m_p->error() == QProcess::FailedToStart;
    m_exitCode = m_p->exitCode();
    m_out = QString::fromUtf8(m_p->readAllStandardOutput());
    m_err = QString::fromUtf8(m_p->readAllStandardError());
}

void HostRun::kill()
{
    if (m_p->state() != QProcess::NotRunning)
        ::kill(pid_t(m_p->processId()), SIGKILL);
}

void HostRun::interrupt()
{
    if (m_p->state() != QProcess::NotRunning)
        ::kill(pid_t(m_p->processId()), SIGINT);
}

QString HostRun::lastLine() const
{
    QStringList lines = m_out.split(QLatin1Char('\n'));
    while (!lines.isEmpty() && lines.last().trimmed().isEmpty())
        lines.removeLast();
    return lines.value(lines.size() - 1);
}

QString HostRun::describe() const
{
    QString what = m_hung      ? QStringLiteral("did not end in time")
                   : m_crashed ? QStringLiteral("died of signal %1").arg(m_exitCode)
                               : QStringLiteral("exit %1").arg(m_exitCode);
    QString err = m_err.trimmed()
                      .split(QLatin1Char('\n'))
                      .filter(QRegularExpression(QStringLiteral("^sjql-host")))
                      .join(QStringLiteral(" | "));
    return QStringLiteral("%1 after %2 s, last line \"%3\"%4")
        .arg(what)
        .arg(m_seconds, 0, 'f', 1)
        .arg(lastLine().left(200), err.isEmpty() ? QString() : QStringLiteral(", stderr \"%1\"").arg(err.left(200)));
}

QStringList clearArgs(const Site& site, const QString& years)
{
    return {QStringLiteral("clear"),
            QStringLiteral("--home"),
            site.home,
            QStringLiteral("--years"),
            years,
            QStringLiteral("--backup-dir"),
            site.backup};
}

QStringList restoreArgs(const Site& site, const QStringList& archives)
{
    return QStringList{QStringLiteral("restore"), QStringLiteral("--home"), site.home} + archives;
}

QProcessEnvironment killAt(const QString& point)
{
    QProcessEnvironment env;
    env.insert(QStringLiteral("SJQL_TEST_KILL_AT"), point);
    return env;
}

bool runTool(const QString& program, const QStringList& args, QString* error, int timeoutMs)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    if (!p.waitForFinished(timeoutMs) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        if (error)
            *error = QStringLiteral("%1 %2: %3")
                         .arg(program, args.join(QLatin1Char(' ')).left(300),
                              QString::fromUtf8(p.readAll()).trimmed().left(500));
        return false;
    }
    return true;
}

QStringList filesBelow(const QString& folder, const QStringList& patterns)
{
    QStringList out;
    QDirIterator it(folder, patterns, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext())
        out << it.next();
    out.sort();
    return out;
}

} // namespace sjql::fault
