// SPDX-License-Identifier: MIT
// Compaction of the host's database file after history has been removed, without a window: the
// cleanup window runs it as the last step of a backup-and-clear run and shows a failure text.
//
// Runs only for the database type names "MSACCESS" and "SQLITE", written exactly so; every other
// kind is left alone. GUI thread only: the host connection is closed and opened again here.
#pragma once

#include <QString>

#include <functional>

namespace sjql {

struct CompactResult
{
    bool ran = false; // a compaction was attempted (the kind asks for one)
    QString error;    // empty on success or when nothing was to be done

    bool ok() const { return error.isEmpty(); }
};

// Access ("MSACCESS"): the password is read from the connection text by position, as the host
// writes it; the Jet engine needed for the compaction does not exist on this platform, so this
// reports an error and leaves the database as it was.
//
// SQLite ("SQLITE"): the host database file <host application folder>Data/Data.db is written with
// VACUUM INTO to tmpData.db in the temporary folder (refused when that file already exists); the
// copy must pass PRAGMA integrity_check and hold the same number of rows in every table; then the
// host connection is closed, the copy is written beside the database file, synced and renamed over
// it, the temporary file is removed and the host connection opened again. A failure at any step
// leaves the original database file whole and the host connection open.
[[nodiscard]] CompactResult CompactAccessDatabase();

// The Access database password in a connection text: the text from 28 characters behind the start
// of "Jet OLEDB:Database Password" up to the character before "Jet OLEDB:Engine Type". When either
// key is missing, the value of the password pair up to the next ";".
QString JetPasswordFromConnectionString(const QString& connectionText);

// Test seam: called before each step of the SQLite compaction with the step's name ("vacuum",
// "verify", "close", "replace", "remove temporary", "reconnect"); returning false makes that step
// fail as if the system had refused it. Null: no fault injection.
void SetCompactionFaultHook(std::function<bool(const QString& step)> hook);

} // namespace sjql
