// SPDX-License-Identifier: MIT
// The daily SQL error log: one GBK text file per day beside the module library, where every
// statement that failed in RunQuery leaves its SQL and the database's reason for support staff.
// Where the module's folder is read-only (an installed system), the files go to the "logs" folder
// of the user's data folder instead (GetUserDataDir: ~/.local/share/sjql-host/logs/).
//
// A failed statement is logged whole, values included: a day's file, and the fallback folder, are
// created owner-only (0600, 0700); a file that is there already keeps its mode.
//
// GUI thread only. Writing never fails its caller: an unwritable folder or file loses the entry.
#pragma once

#include <QDateTime>
#include <QString>

#include <functional>

namespace sjql {

// Appends one entry: time stamp, two blanks, the message, CR LF. Lines inside the message are
// written as they come.
void WriteSqlLog(const QString& message);

// The log file of a day: <folder>Vorlem<yyyyMMdd>.log, the folder being GetModuleDir() (or the
// override below) when that day's file is there or a file can be made there, else
// GetUserDataDir() + "logs/".
QString SqlLogFilePath(const QDate& day);

// The same for every daily log of the module (the SQL error log, the run log of ModuleLog.h), told
// apart by the prefix of their file names: <folder><prefix><yyyyMMdd>.log in the same folder, with
// the same fallback, clock and time stamps.
void AppendDailyLog(const QString& prefix, const QString& message);
QString DailyLogFilePath(const QString& prefix, const QDate& day);

// The time stamp of an entry: short date, a blank, long time, in the forms of a Chinese desktop
// ("2024/3/5 9:07:03"); at exactly midnight the time is left out ("2024/3/5").
QString SqlLogTimeStamp(const QDateTime& when);

// Test seams, for every daily log. The clock gives "now" for the time stamp and the file name
// (null: the system clock). The folder replaces GetModuleDir() (empty: the environment variable
// SJQL_SQL_LOG_DIR if set, which test programs give the host they start, else the module folder);
// a separator is added when it has none. The fallback to the user's data folder applies to it as
// to the module folder.
void SetSqlLogClock(std::function<QDateTime()> clock);
void SetSqlLogFolderOverride(const QString& folder);

} // namespace sjql
