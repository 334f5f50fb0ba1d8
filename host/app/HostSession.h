// SPDX-License-Identifier: MIT
// A running host for the GUI subcommands: the installation loaded, its connection open, the main
// frame shown and published to the services, the module library loaded from beside the executable.
// Later subcommands (clear, restore, ...) start one and drive the module's window through it.
#pragma once

#include "Commands.h"
#include "Installation.h"
#include "MainFrame.h"

#include <memory>

class QObject;

namespace sjql::host {

class StopSignals;

class HostSession
{
public:
    HostSession();
    ~HostSession(); // closes the module windows, then the frame, then the connection

    // Loads the installation of --home, opens its database, shows the main frame and loads the
    // module. False with *error set (the message names what failed and how to fix it). With
    // --agent CODE the module works for that agent of the installation instead of the current one
    // (host.ini is not changed).
    bool start(const CommandLine& cl, QString* error);

    // The agents of the installation, the current one first.
    QStringList agents() const;
    // The agent the module is given now (QVR_KJYWRBM).
    QString agent() const;
    // Makes `code`, an agent of the installation, the one the module works for: the module's
    // windows are closed and the value object published anew. host.ini is not changed. False with
    // *error set for a code the installation does not know.
    bool switchAgent(const QString& code, QString* error);

    Installation* installation() const { return m_installation.get(); }
    Tfrm_MainFrame* frame() const { return m_frame.get(); }

    // For the scripted subcommands: host message boxes are printed as "box=<text>" and answered
    // with OK/yes, then the module window is opened embedded and given time to show. Null with
    // *error set when the module opened no window.
    QWidget* openScriptedModule(QString* error);
    // start(), then openScriptedModule(): the scripted module window, or null with *error set.
    QWidget* startScripted(const CommandLine& cl, QString* error);

    // Saves a PNG of the main frame as it is painted now.
    bool screenshot(const QString& file, QString* error) const;

    // From now until the session ends, SIGINT, SIGTERM and SIGHUP do not end the process: the
    // first sets the value object's stop request, so a running backup or restore stops at its next
    // safe point; each signal notes on stderr that the run is stopping.
    void stopOnSignals();

private:
    std::unique_ptr<StopSignals> m_stopSignals; // first: the last to go
    std::unique_ptr<Installation> m_installation;
    std::unique_ptr<Tfrm_MainFrame> m_frame;
};

// The agents of a loaded installation, the current one first.
QStringList installationAgents(const Installation& installation);
// With --agent CODE: makes CODE, an agent of the installation, the current one in memory (host.ini
// is not changed). False with *error set for a code the installation does not know.
bool applyAgentOption(const CommandLine& cl, Installation& installation, QString* error);

// Clears what the module window tells of an earlier run, before a new one starts.
void forgetRunEnding(QObject* form);

// A clear or restore that could not run, or whose ending is unknown: the message on stderr and,
// so that a script reading the last line learns it too, as "result=not done: <message>"; exit 1.
int failRun(const QString& message);

// After a backup or restore run driven through the module window: prints the window's summary of
// the run as the last line ("result=<summary>") and returns its ending as the exit code (0 clean,
// 3 a line reports a failure, 4 interrupted, 5 another run holds the lock). When the window tells
// no ending (no run took place, or the window is gone) the command failed: failRun.
int reportRunEnding(const QObject* form);

// The archives of a command line as absolute paths, in order. Empty, with *twice set to the
// argument as given, when one file is named twice (also through another path to it).
QStringList distinctArchivePaths(const QStringList& arguments, QString* twice);

// The module library in hostLibraryDir(): <bin>/libsjql.so in the build tree, lib/<arch>/sjql/ installed.
QString moduleLibraryPath();

// Lets the event loop run for about `ms` milliseconds (layouts, paints, deferred deletes).
void settle(int ms);

// A left-button press and release over the middle of the control, as the mouse gives them.
void clickWidget(QWidget* w);

} // namespace sjql::host
