// SPDX-License-Identifier: MIT
// Where the time of a backup or restore goes: the jobs, the archive code and the statement runner
// report each piece of work of a phase to an observer when one is installed (the benchmark does).
//
// Without an observer a PhaseTimer costs one atomic load and a branch: no clock is read.
// With one, the observer is called on whichever thread did the work (the restore reads and builds
// rows on a helper thread, the backup reads its files back on helper threads), so it must be
// thread-safe. Pieces of one phase on different threads overlap in time: their sum is CPU-side
// work, not wall time.
#pragma once

#include <atomic>
#include <chrono>

namespace sjql {

enum class Phase
{
    Selection,   // a selection statement on the host connection (the backup's month, the restore's checks)
    Statement,   // any other statement on the host connection (the restore's inserts)
    Saving,      // writing a month's data file from its selection
    ReadingBack, // decoding a data file just written, to compare it with the selection
    Clearing,    // the host library's clearing of a month
    Packing,     // a year's summary, archive, archive check and the removal of its files
    Compressing, // the archive writer alone (part of Packing)
    Compaction,  // the host database's compaction at the end of a backup
    Unpacking,   // unpacking (part of) an archive
    Reading,     // decoding a data file and stepping through its rows for the restore
    Building,    // building a row's INSERT statement
};
inline constexpr int kPhaseCount = int(Phase::Building) + 1;

class PhaseObserver
{
public:
    virtual ~PhaseObserver() = default;
    // A piece of work of `phase` that took `took`; any thread.
    virtual void phaseDone(Phase phase, std::chrono::steady_clock::duration took) = 0;
};

// The installed observer; null (the default) for none.
inline std::atomic<PhaseObserver*> g_phaseObserver{nullptr};

// Installs `observer` (not owned; null removes it). Install it before a run starts and remove it
// after the run ended: pieces still running on helper threads report to the observer they began with.
inline void SetPhaseObserver(PhaseObserver* observer)
{
    g_phaseObserver.store(observer, std::memory_order_release);
}

// Times its own lifetime as one piece of `phase`.
class PhaseTimer
{
public:
    explicit PhaseTimer(Phase phase) noexcept
        : m_observer(g_phaseObserver.load(std::memory_order_acquire)), m_phase(phase)
    {
        if (m_observer)
            m_start = std::chrono::steady_clock::now();
    }
    ~PhaseTimer()
    {
        if (m_observer)
            m_observer->phaseDone(m_phase, std::chrono::steady_clock::now() - m_start);
    }
    PhaseTimer(const PhaseTimer&) = delete;
    PhaseTimer& operator=(const PhaseTimer&) = delete;

private:
    PhaseObserver* m_observer;
    Phase m_phase;
    std::chrono::steady_clock::time_point m_start;
};

// Runs `work` timed as one piece of `phase` and returns its result.
template <typename Work> auto Timed(Phase phase, Work&& work) -> decltype(work())
{
    const PhaseTimer timer(phase);
    return work();
}

} // namespace sjql
