// SPDX-License-Identifier: MIT
// Ctrl-C, SIGTERM and SIGHUP during a scripted run: instead of ending the process in the middle of
// a month (its rows then only in the hidden work folder), each signal is handed to the GUI thread,
// which asks the module to stop at its next safe point. SIGKILL stays the hard stop.
//
// The handler only writes the signal number into a pipe (all it may safely do); a socket notifier
// on the pipe's other end calls back on the GUI thread whenever the event loop runs, which the
// module lets it do often during a run. One instance at a time; GUI thread only.
#pragma once

#include <QObject>

#include <functional>
#include <memory>
#include <signal.h>

class QSocketNotifier;

namespace sjql::host {

class StopSignals : public QObject
{
public:
    // Catches SIGINT, SIGTERM and SIGHUP from now on; `onSignal` gets each signal's number.
    explicit StopSignals(std::function<void(int signalNumber)> onSignal);
    ~StopSignals() override; // puts the earlier handlers back

    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // False when the pipe could not be made (the signals then keep their earlier handlers).
    bool active() const { return m_active; }

private:
    void drain();

    std::function<void(int)> m_onSignal;
    int m_read = -1, m_write = -1;
    std::unique_ptr<QSocketNotifier> m_notifier;
    struct sigaction m_previous[3] = {};
    bool m_active = false;
};

// The name of a signal for messages ("SIGINT").
QString signalName(int signalNumber);

} // namespace sjql::host
