// SPDX-License-Identifier: MIT
// What a month's data files, left in the agent's year folder by a run that was cut short, mean for
// the next clear of that month. The backup acts on the verdict; the dry run reports it.
#pragma once

#include "jobs/MonthRows.h"

#include <QString>

#include <array>
#include <functional>

namespace sjql {

struct LeftoverVerdict
{
    enum class Kind
    {
        None,            // no data file of the month in the year's folder
        Adopt,           // a complete set of the agent's month whose rows the database no longer holds
        Superseded,      // the database holds every row of the files: they may be replaced
        Keep,            // anything else: keep the files untouched, do not clear the month
        SelectionFailed, // the month's selection failed: nothing can be judged
    };
    Kind kind = Kind::None;
    QString reason;               // Keep: the text of the month's "not cleared" line
    QString error;                // SelectionFailed: the statement's error
    std::array<qint64, 3> rows{}; // Adopt: the rows of each file
};

// Reads a data file of table kind `index` (ScanDataFile with the month and agent, perhaps beside events).
using LeftoverFileScan = std::function<MonthRowsScan(const QString& path, int index)>;

// Judges the files of `period` under `agentDir`: each present file is read and must hold only the
// agent's rows of the month; then the month's rows in the database are compared row for row (this
// second selection happens only when files were found). `pump` is handed to the selections.
[[nodiscard]] LeftoverVerdict JudgeLeftoverFiles(const QString& agentDir, const QString& period,
                                                 const QString& agentCode, const LeftoverFileScan& scanFile,
                                                 const std::function<void()>& pump = {});

} // namespace sjql
