// SPDX-License-Identifier: MIT
// Named points of the long runs where the fault tests kill the process, as a power cut or
// `kill -9` would. A point is armed by the environment variable SJQL_TEST_KILL_AT, which holds a
// point's name ("cleared") or a name and a period ("cleared:201905"); the process then kills itself
// with SIGKILL when it reaches that point (for that period). Unarmed, a point costs one lookup of a
// cached text. Any thread.
//
// Points used by the runs (the period is the month being worked on, or empty):
//   backup:  "files-written" (a month's three data files read back), "cleared" (the host removed
//            the month), "summary" (the year's summary written), "packing" (inside the archive
//            writer), "archive-checked" (the archive reopened and checked, work folder not yet
//            removed), "compaction" (before the database file is compacted)
//   restore: "unpacked" (archive unpacked), "record-cleared" (the host cleared the month inside the
//            transaction), "rows-inserted" (a month's rows inserted), "before-commit"
#pragma once

#include <QString>

namespace sjql {

inline constexpr const char* kKillAtEnv = "SJQL_TEST_KILL_AT";

// Kills the process when the point (and period) is the armed one.
void FaultPoint(const char* point, const QString& period = QString());

} // namespace sjql
