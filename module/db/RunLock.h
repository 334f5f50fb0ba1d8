// SPDX-License-Identifier: MIT
// The exclusive right to back up, clear or restore history: at most one such run at a time per
// database and withholding agent, whichever installation or process starts it.
//
// SQLite: an advisory lock (flock) on the lock file "<database file>.sjql-lock" beside the
// database file (symbolic links resolved, so every path to the file finds the same lock file). It
// covers the whole file, whatever the agent: SQLite has one writer at a time, and a restore holding
// a year in one transaction would make the other agent's statements fail anyway. The holder
// removes the file when it lets go. Not the database file itself: closing any descriptor of that
// file drops every POSIX lock SQLite holds on it in this process.
// MariaDB/MySQL: the server's named lock GET_LOCK('sjql:<database>:<agent>', 0) on the host
// connection (a name longer than 64 bytes becomes "sjql:" and its SHA-1 in hex).
// Both are released by the system when the holding process dies (the server drops the named lock
// with the connection), so a crashed run never blocks the next one. GUI thread only (the host
// connection).
#pragma once

#include <QString>

namespace sjql {

class RunLock
{
public:
    RunLock() = default;
    ~RunLock(); // releases the lock when held
    RunLock(const RunLock&) = delete;
    RunLock& operator=(const RunLock&) = delete;

    // Tries once, without waiting. False with *error a user-facing sentence when another run holds
    // the lock ("另一个数据备份清理或数据恢复正在进行…") or the lock cannot be taken at all (the
    // sentence then names the reason). True at once when this object holds it already.
    [[nodiscard]] bool acquire(const QString& agentCode, QString* error);
    bool held() const { return m_held; }
    // After a failed acquire: true when another run holds the lock (a Busy ending), false when the
    // lock could not be taken for another reason (the error names it).
    bool busy() const { return m_busy; }
    void release();

private:
    bool m_held = false;
    bool m_busy = false;
    int m_fd = -1;            // SQLite: the lock file
    QString m_lockFile;       // SQLite: its path, removed at release
    QString m_lockName;       // MariaDB: the named lock
    QString m_connectionName; // MariaDB: the connection that holds it
};

} // namespace sjql
