// SPDX-License-Identifier: MIT
// Runs the reference host's scripted mode as a child process, the way a user or a support script
// does, and reads its name=value output lines.
#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

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
};

// Runs `sjql-host args...` headless. `exeDir` stands in for the host executable's folder
// ("SysConfig.ini") and takes the SQL error log, so nothing is written into the build folder.
// `extraEnv` adds variables (test hooks).
inline HostRun RunHost(const QStringList& args, const QString& exeDir, const QProcessEnvironment& extraEnv = {},
                       int timeoutMs = 300000)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("SJQL_HOST_EXE_DIR"), exeDir);
    env.insert(QStringLiteral("SJQL_SQL_LOG_DIR"), exeDir);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(extraEnv);
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(SJQL_BINARY_DIR "/bin/sjql-host"), args);
    HostRun r;
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.crashed = p.exitStatus() == QProcess::CrashExit;
    r.exitCode = r.crashed ? -1 : p.exitCode();
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

} // namespace sjql::test
