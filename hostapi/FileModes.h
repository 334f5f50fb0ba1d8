// SPDX-License-Identifier: MIT
// Owner-only files and folders. The history tables hold names, identity numbers and incomes, and so
// does every file made from them: the database, archives and their temporary files, work and unpack
// folders, data files, summaries, logs, saved result texts. Whatever the process's file-mode mask,
// host and module create them readable by their owner alone: files 0600, folders 0700. Existing
// files and folders keep the mode they have (an archive another installation wrote, a folder the
// user made); only what is created here is owner-only.
//
// Header-only like ProfileFile.h, so that host and module each compile their own hidden copy.
//
// Where the creating call takes a mode (QFile::open, QDir::mkdir, open(2)) the mode is given
// there. Where a library creates the file itself and takes no mode (QSaveFile's temporary file for
// a new target, libzip's temporary archive, SQLite's database file), OwnerOnlyMask narrows the
// process's mask for the length of that one call: the mask is process-wide, so the scope is kept
// to the creating call, a mutex keeps two such scopes from restoring each other's masks, and a
// narrower mask only ever takes permissions away from a file another thread creates meanwhile.
#pragma once

#include <QDir>
#include <QFile>
#include <QFileDevice>
#include <QFileInfo>
#include <QSaveFile>
#include <QString>

#include <mutex>
#include <sys/stat.h>

namespace sjql {

inline constexpr QFileDevice::Permissions OwnerOnlyFileMode = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
inline constexpr QFileDevice::Permissions OwnerOnlyFolderMode =
    QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;

// While alive, files and folders created by this process get no group or other permissions.
// Nestable on one thread; the previous mask is back when the outermost scope ends.
class OwnerOnlyMask
{
public:
    OwnerOnlyMask() : m_lock(mutex()) { m_previous = ::umask(077); }
    ~OwnerOnlyMask() { ::umask(m_previous); }
    OwnerOnlyMask(const OwnerOnlyMask&) = delete;
    OwnerOnlyMask& operator=(const OwnerOnlyMask&) = delete;

private:
    static std::recursive_mutex& mutex()
    {
        static std::recursive_mutex m;
        return m;
    }
    std::lock_guard<std::recursive_mutex> m_lock;
    mode_t m_previous = 0;
};

// Creates `path` and its missing parents, each new folder 0700; folders that exist stay as they
// are. True when `path` is a folder afterwards (also when another process made it meanwhile).
inline bool MakeOwnerOnlyPath(const QString& path)
{
    if (path.isEmpty())
        return false;
    const QString absolute = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    if (QFileInfo(absolute).isDir())
        return true;
    const QString parent = QFileInfo(absolute).absolutePath();
    if (parent != absolute && !MakeOwnerOnlyPath(parent))
        return false;
    // mkdir(2) with 0700 cannot become wider through the mask; no scope needed.
    QDir().mkdir(absolute, OwnerOnlyFolderMode);
    return QFileInfo(absolute).isDir();
}

// Opens `file` in `mode`; a file this creates is 0600 from its first byte on.
[[nodiscard]] inline bool OpenOwnerOnly(QFile& file, QIODevice::OpenMode mode)
{
    return file.open(mode, OwnerOnlyFileMode);
}

// Opens a QSaveFile for writing. A new target is written through a temporary file created 0600 and
// keeps that mode when it is renamed into place; an existing target's mode is kept, as QSaveFile
// does.
[[nodiscard]] inline bool OpenOwnerOnly(QSaveFile& file, QIODevice::OpenMode mode = QIODevice::WriteOnly)
{
    const OwnerOnlyMask mask;
    return file.open(mode);
}

} // namespace sjql
