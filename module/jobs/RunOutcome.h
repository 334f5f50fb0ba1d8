// SPDX-License-Identifier: MIT
// How a backup-and-clear or restore run ended, told truthfully to whoever started it: the window
// keeps the last outcome on itself (as the Qt properties named below) so that the host's scripted
// mode can turn it into its exit code and last line.
#pragma once

#include <QString>

namespace sjql {

// Also the exit codes of `sjql-host clear` and `sjql-host restore` (2 is a wrong command line).
enum class RunEnding : int
{
    Clean = 0,       // every chosen year or archive done, no line reports a failure
    Failures = 3,    // the run went through, but at least one line reports a failure
    Interrupted = 4, // a stop was requested; the run stopped at a safe point
    Busy = 5,        // another backup or restore holds the run lock; nothing was touched
};

struct RunOutcome
{
    RunEnding ending = RunEnding::Clean;
    // One line for the end of the run: what happened as a whole, and where data stand when some are
    // only in the work folder ("2019年度已清理的数据只保存在工作目录…").
    QString summary;

    // Marks a failure (an Interrupted or Busy ending is kept).
    void fail()
    {
        if (ending == RunEnding::Clean)
            ending = RunEnding::Failures;
    }
};

// Dynamic properties of the cleanup window after a run: the ending as int and the summary line.
inline constexpr const char* kRunEndingProperty = "sjqlRunEnding";
inline constexpr const char* kRunSummaryProperty = "sjqlRunSummary";

} // namespace sjql
