// SPDX-License-Identifier: MIT
// Runs the reference host's scripted mode as a child process, the way a user or a support script
// does, and reads its name=value output lines.
#pragma once

#include <QDeadlineTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include <signal.h>

namespace sjql::test {

struct HostRun
{
    bool crashed = false;
    int exitCode = -1; // -1 when the host crashed or did not finish in time
    QString out;
    QString err;

    // Every value printed as "name=value", in output order.
    QStringList values(const QString& name) const
    {
        QStringList found;
        for (const QString& line : out.split(QLatin1Char('\n'))) {
            if (line.startsWith(name + QLatin1Char('=')))
                found << line.mid(name.size() + 1);
        }
        return found;
    }
    // The first such value, or an empty text.
    QString value(const QString& name) const { return values(name).value(0); }
    // The last non-empty line of stdout (the run's "result=..." line for clear and restore).
    QString lastLine() const
    {
        QStringList lines = out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        return lines.isEmpty() ? QString() : lines.last();
    }
};

// sjql-host started in the background, for tests that act while it runs (send it a signal, start
// a second run beside it). `exeDir` and `extraEnv` as for RunHost.
class HostProcess
{
public:
    HostProcess(const QStringList& args, const QString& exeDir, const QProcessEnvironment& extraEnv = {})
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("SJQL_HOST_EXE_DIR"), exeDir);
        env.insert(QStringLiteral("SJQL_SQL_LOG_DIR"), exeDir);
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        // The compaction's temporary file has a fixed name in the temporary folder: a folder of
        // the test's own, so that runs of tests side by side never meet there.
        env.insert(QStringLiteral("TMPDIR"), exeDir);
        env.insert(extraEnv);
        m_process.setProcessEnvironment(env);
        m_process.start(QStringLiteral(SJQL_BINARY_DIR "/bin/sjql-host"), args);
        m_process.waitForStarted();
    }
    ~HostProcess()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished();
        }
    }

    bool running() const { return m_process.state() == QProcess::Running; }

    // Polls `condition` every few milliseconds until it holds (true) or the process ended or the
    // time ran out (false).
    bool waitUntil(const std::function<bool()>& condition, int timeoutMs = 120000)
    {
        QDeadlineTimer deadline(timeoutMs);
        while (!deadline.hasExpired()) {
            if (condition())
                return true;
            if (m_process.state() == QProcess::NotRunning || m_process.waitForFinished(5))
                return condition();
        }
        return false;
    }

    void signal(int number) { ::kill(pid_t(m_process.processId()), number); }

    // Waits for the end and collects what the host printed.
    HostRun finish(int timeoutMs = 300000)
    {
        HostRun r;
        if (m_process.state() != QProcess::NotRunning && !m_process.waitForFinished(timeoutMs)) {
            m_process.kill();
            m_process.waitForFinished();
            return r;
        }
        r.crashed = m_process.exitStatus() == QProcess::CrashExit;
        r.exitCode = r.crashed ? -1 : m_process.exitCode();
        r.out = QString::fromUtf8(m_process.readAllStandardOutput());
        r.err = QString::fromUtf8(m_process.readAllStandardError());
        return r;
    }

private:
    QProcess m_process;
};

// Runs `sjql-host args...` headless. `exeDir` stands in for the host executable's folder
// ("SysConfig.ini") and takes the SQL error log and the temporary files, so nothing is written
// into the build folder or shared with other tests.
// `extraEnv` adds variables (test hooks).
inline HostRun RunHost(const QStringList& args, const QString& exeDir, const QProcessEnvironment& extraEnv = {},
                       int timeoutMs = 300000)
{
    HostProcess p(args, exeDir, extraEnv);
    return p.finish(timeoutMs);
}

// An installation folder and a stand-in executable folder of a test's own, with sjql-host runs on
// them; both folders go with the object.
struct HostFolders
{
    QTemporaryDir home;
    QTemporaryDir exeDir;

    bool valid() const { return home.isValid() && exeDir.isValid(); }
    // sjql-host with `args` as they are.
    HostRun run(const QStringList& args, const QProcessEnvironment& env = {}) const
    {
        return RunHost(args, exeDir.path(), env);
    }
    // A command on this installation: `args` begin with the command, "--home" and the folder follow it.
    HostRun on(const QStringList& args, const QProcessEnvironment& env = {}) const
    {
        return run(QStringList{args.first(), QStringLiteral("--home"), home.path()} + args.mid(1), env);
    }
};

} // namespace sjql::test
