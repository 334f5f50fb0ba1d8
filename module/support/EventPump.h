// SPDX-License-Identifier: MIT
// The one way the module lets the GUI thread process pending events while a long job runs on it,
// so that the progress window keeps painting and the host's timers keep firing.
//
// Two policies, named for where they are used:
// - EventPolicy::EveryCall: every pending event, user input included, at every call. For the fixed
//   points of a job between statements (a month, a table, a block of rows or archive bytes): they
//   come a few hundred times a second at most, and the connection is idle there.
// - EventPolicy::ConnectionBusy: user input is left waiting, and events are processed at most once
//   per interval (25 ms unless told otherwise). For callbacks from inside work that calls back
//   thousands of times a second while the host connection is in the middle of something (a SQLite
//   statement's progress handler, the page copy of the compaction): a click handled there must not
//   start other work on that connection.
// Both do nothing without an application object, and nothing on any thread but the application's:
// only the GUI thread has the window's events to process.
#pragma once

#include <QElapsedTimer>

#include <chrono>
#include <functional>

namespace sjql {

enum class EventPolicy
{
    EveryCall,
    ConnectionBusy,
};

// The least time between two passes of ConnectionBusy.
inline constexpr std::chrono::milliseconds kBusyEventInterval{25};

class EventPump
{
public:
    // `interval` applies to ConnectionBusy only (0: every call, still without user input).
    explicit EventPump(EventPolicy policy, std::chrono::milliseconds interval = kBusyEventInterval);

    // Processes pending events as the policy says; true when it did.
    bool operator()();

    // Passes made so far.
    int passes() const { return m_passes; }

private:
    EventPolicy m_policy;
    qint64 m_intervalMs;
    QElapsedTimer m_sincePass;
    int m_passes = 0;
};

// One pass of EveryCall, for call sites without a pump of their own.
void ProcessPendingEvents();

// The job's own pump when its caller gave one (tests watch the progress through it), else
// ProcessPendingEvents.
[[nodiscard]] std::function<void()> PumpOrDefault(const std::function<void()>& pump);

} // namespace sjql
