// SPDX-License-Identifier: MIT
// The exclusive right to back up, clear or restore history: at most one such run at a time per
// database and withholding agent, whichever installation or process starts it.
//
// SQLite: an advisory lock (flock) on a lock file beside the database file, "<Data.db>.sjql-lock";
// MariaDB/MySQL: the server's named lock GET_LOCK('sjql:<database>:<agent>', 0) on the host
// connection. Both are released by the system when the holding process dies, so a crashed run
// never blocks the next one. GUI thread only (the host connection).
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
    // the lock ("另一个备份清理或数据恢复正在进行…") or the lock cannot be taken at all.
    [[nodiscard]] bool acquire(const QString& agentCode, QString* error);
    bool held() const { return m_held; }
    void release();

private:
    bool m_held = false;
    int m_fd = -1;      // SQLite: the lock file
    QString m_lockName; // MariaDB: the named lock
};

} // namespace sjql
