// SPDX-License-Identifier: MIT
// The module's daily run log: every error text a backup-and-clear or restore run builds, in full,
// with the agent, year, month and archive it concerns, so that a result line can stay short and
// support staff still find the detail (an unpack error of libzip, why a summary or a data file
// could not be written, the host's refusal of a month).
//
// One GBK text file per day, SjqlRun<yyyyMMdd>.log, in the folder of the SQL error log (beside the
// module library, or the user's data folder where that is read-only; the seams of SqlLog.h move
// both). GUI thread only. Writing never fails its caller: an unwritable folder loses the entry.
#pragma once

#include <QDate>
#include <QString>

namespace sjql {

// What an entry is about; empty parts are left out of the entry.
struct LogSubject
{
    QString agent;   // the withholding agent's code
    QString year;    // four digits
    QString month;   // YYYYMM (its year is written as well)
    QString archive; // the archive's file name, for the restore
};

// Appends one entry: time stamp, two blanks, "agent=<code> year=<yyyy> month=<yyyymm>
// archive=<name>" (what is known of it), two blanks, the text, CR LF.
void WriteModuleLog(const LogSubject& subject, const QString& text);

// The run log file of a day.
QString ModuleLogFilePath(const QDate& day);

} // namespace sjql
