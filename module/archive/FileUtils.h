// SPDX-License-Identifier: MIT
// Folder and file routines shared by the cleanup window, the backup-and-clear run, the summary
// writer and the restore.
//
// Every routine works on full paths and never changes the process's current folder, so it is safe
// to call from any thread as long as two threads do not work on the same tree. Paths use the
// native separator '/'; a trailing separator is accepted wherever a folder is named.
#pragma once

#include <QByteArray>
#include <QString>

#include <utility>

namespace sjql {

// True when `path` names an existing folder (a symbolic link to a folder counts as one).
[[nodiscard]] bool DirExists(const QString& path);

// Removes a file when the scope ends, however it is left: for plain copies of secrets that must not
// outlive their reading. With `folderIfEmpty` its folder goes too when nothing else is left in it.
class ScopedFileRemoval
{
public:
    explicit ScopedFileRemoval(QString path, bool folderIfEmpty = false)
        : m_path(std::move(path)), m_folderIfEmpty(folderIfEmpty)
    {}
    ~ScopedFileRemoval();
    ScopedFileRemoval(const ScopedFileRemoval&) = delete;
    ScopedFileRemoval& operator=(const ScopedFileRemoval&) = delete;

private:
    QString m_path;
    bool m_folderIfEmpty = false;
};

// Creates `path` and every missing parent, parents first, each new folder owner-only (0700);
// existing folders keep their mode. An empty path does nothing. Returns whether the folder exists
// afterwards; callers that only need a best effort may ignore it.
bool ForceDirs(const QString& path);

// Removes everything inside `folder`; when the folder held nothing to begin with, removes the
// folder itself as well. Symbolic links inside the tree are removed as links, never followed.
// Delete failures inside the tree are silent (the tree may stay partly in place). Returns false,
// with *error naming the folder, when `folder` does not exist or cannot be listed.
[[nodiscard]] bool ClearFolder(const QString& folder, QString* error = nullptr);

// Removes `folder` with everything in it. True when the folder is gone afterwards; false for an
// empty path, a folder that does not exist, or a tree that could not be removed completely. When
// `folder` itself is a symbolic link, only the link is removed.
bool DeleteTree(const QString& folder, QString* error = nullptr);

// Writes `bytes` to `filePath` exactly (no byte-order mark, no added line end), creating missing
// folders first. The file is written under a temporary name beside it and renamed over the old
// file only when complete, so a longer old file never leaves its tail behind and a failed write
// leaves the old file as it was. A new file is owner-only (0600); a replaced one keeps its mode.
// False with *error naming the file on failure.
[[nodiscard]] bool SaveTextToFile(const QString& filePath, const QByteArray& bytes, QString* error = nullptr);

// Forces a file, or a folder's entries, to the disk (fsync). False when it cannot be opened or
// synced. Blocks for as long as the device takes: a caller on the GUI thread runs it beside the
// event processing (support/BesideEvents.h).
[[nodiscard]] bool SyncToDisk(const QString& path);

// `path` with the native separator appended unless it already ends with one. An empty path stays
// empty: an unset folder must not silently turn into the file-system root, and a later step that
// joins a name to it then sees a relative path and refuses it.
[[nodiscard]] QString AddBackslash(const QString& path);

} // namespace sjql
