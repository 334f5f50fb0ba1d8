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
// SQLite ("SQLITE"): the host connection takes the exclusive lock on the host database file
// <host application folder>Data/Data.db and keeps it to the end, so no other process reads or
// writes the file meanwhile; another process inside a transaction for longer than five seconds
// makes it refuse ("数据库文件正被其他程序使用，未压缩…") with nothing changed. The file is written
// with VACUUM INTO to tmpData.db in the temporary folder (refused when that file already exists);
// the copy must pass PRAGMA integrity_check and hold the same number of rows in every table as the
// locked file; then the copy is written into the database file through SQLite, in one transaction
// of the host connection, so the file stays the same file (other processes' connections keep
// working and see the new content) and SQLite's journal rolls it back if the work is cut off. At
// the end the host connection is closed (which lets go of the lock) and opened again, and the
// temporary file is removed. A failure at any step leaves the database file whole and the host
// connection open. Events are processed throughout.
[[nodiscard]] CompactResult CompactAccessDatabase();

// The Access database password in a connection text: the text from 28 characters behind the start
// of "Jet OLEDB:Database Password" up to the character before "Jet OLEDB:Engine Type". When either
// key is missing, the value of the password pair up to the next ";".
QString JetPasswordFromConnectionString(const QString& connectionText);

// Test seam: called before each step of the SQLite compaction with the step's name ("lock",
// "vacuum", "verify", "write back" before every slice of pages written back, "reconnect",
// "remove temporary"); returning false makes that step fail as if the system had refused it. The
// hook may act as another process would at that moment. Null: no fault injection.
void SetCompactionFaultHook(std::function<bool(const QString& step)> hook);

} // namespace sjql
