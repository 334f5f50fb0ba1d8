// SPDX-License-Identifier: MIT
// Demo installations for the fault campaign, the private MariaDB it may stop and start again, and
// sjql-host runs as child processes that can be killed, interrupted or left to finish.
#pragma once

#include "Ledger.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSet>
#include <QString>
#include <QStringList>

#include <memory>

namespace sjql {
class HostConnection;
}

namespace sjql::fault {

// A throw-away MariaDB server started with the project's script; it can be stopped and started
// again on its data (the script's own start would wipe them).
class MariaServer
{
public:
    ~MariaServer();
    bool start(const QString& dir, QString* error);
    void stop();
    bool stopNow();                  // SIGTERM to the server, waits until it is gone
    bool startAgain(QString* error); // the same data folder, port and socket
    QString urlFor(const QString& database) const;
    bool running() const { return m_running; }

private:
    QString m_dir;
    int m_port = 0;
    bool m_running = false;
};

// One installation: its folders, database and agents.
struct Site
{
    QString kind; // "SQLITE" or "MYSQL"
    QString dir;  // the case's own folder
    QString home, exe, backup, inputs, crafted;
    QString url; // MariaDB: the installation's database
    QString agent, otherAgent;

    QString sqliteFile() const { return home + QStringLiteral("/Apps/03/Data/Data.db"); }
    QString tempDir() const { return home + QStringLiteral("/Apps/16/TEMP"); }
    QString workDir() const { return tempDir() + QStringLiteral("/TMPBFMU"); }
    QString agentWorkDir() const;
    QString unpackDir() const { return agentWorkDir() + QStringLiteral("/UnZipDir"); }
    bool sqlite() const { return kind == QLatin1String("SQLITE"); }

    std::unique_ptr<HostConnection> connect(QString* error) const;
    // Makes the installation work for another agent of its demo data (host.ini AgentCode).
    bool switchAgent(const QString& code, QString* error) const;
};

// The agent's folder below the work folder, as the module names it.
QString agentFolderName(const QString& agentCode);

// A run of sjql-host.
class HostRun
{
public:
    HostRun(const Site& site, const QStringList& args, const QProcessEnvironment& extra = {});
    ~HostRun();
    // Waits for the end; false when it did not end in time (the process is then killed as hung).
    bool wait(int ms);
    // Waits up to `ms` for the end without killing; true when it has ended.
    bool poll(int ms);
    bool finished() const { return m_done; }
    void kill();      // SIGKILL, as a power cut
    void interrupt(); // SIGINT, as Ctrl+C
    int exitCode() const { return m_exitCode; }
    bool crashed() const { return m_crashed; }
    int signal() const { return m_crashed ? m_exitCode : 0; }
    bool hung() const { return m_hung; }
    QString out() const { return m_out; }
    QString err() const { return m_err; }
    QString lastLine() const;
    double seconds() const { return m_seconds; }
    QString describe() const; // "exit 3, last line: ..." for reports
    QStringList args;

private:
    void collect();
    std::unique_ptr<QProcess> m_p;
    QElapsedTimer m_timer;
    bool m_done = false, m_crashed = false, m_hung = false;
    int m_exitCode = -1;
    QString m_out, m_err;
    double m_seconds = 0;
};

QStringList clearArgs(const Site& site, const QString& years);
QStringList restoreArgs(const Site& site, const QStringList& archives);
QProcessEnvironment killAt(const QString& point);

// Runs a shell-free helper command; false with *error holding its output when it fails.
bool runTool(const QString& program, const QStringList& args, QString* error, int timeoutMs = 120000);

// Every file below a folder (recursively), full paths.
QStringList filesBelow(const QString& folder, const QStringList& patterns = {});

} // namespace sjql::fault
