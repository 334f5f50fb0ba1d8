// SPDX-License-Identifier: MIT
#include "archive/FileUtils.h"

#include "hostapi/FileModes.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <fcntl.h>
#include <unistd.h>

namespace sjql {

namespace {

void setError(QString* error, const QString& text)
{
    if (error)
        *error = text;
}

// Lists every entry of a folder, hidden ones and dangling links included, as the Windows "*.*"
// listing does. False when the folder cannot be read.
bool listFolder(const QString& folder, QFileInfoList* entries)
{
    const QDir dir(folder);
    if (!dir.isReadable())
        return false;
    *entries = dir.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    return true;
}

} // namespace

bool DirExists(const QString& path)
{
    if (path.isEmpty())
        return false;
    return QFileInfo(path).isDir();
}

ScopedFileRemoval::~ScopedFileRemoval()
{
    QFile::remove(m_path);
    if (m_folderIfEmpty)
        QDir().rmdir(QFileInfo(m_path).absolutePath()); // fails, as it should, while anything is in it
}

bool ForceDirs(const QString& path)
{
    if (path.isEmpty())
        return false;
    // The missing parents are created first; every folder made here is owner-only, since work,
    // unpack and backup folders hold personal data.
    MakeOwnerOnlyPath(path);
    return DirExists(path);
}

bool ClearFolder(const QString& folder, QString* error)
{
    const QFileInfo info(folder);
    if (folder.isEmpty() || !info.exists()) {
        setError(error, QStringLiteral("folder %1: does not exist").arg(folder));
        return false;
    }
    if (!info.isDir()) {
        setError(error, QStringLiteral("folder %1: is not a folder").arg(folder));
        return false;
    }
    QFileInfoList entries;
    if (!listFolder(folder, &entries)) {
        setError(error, QStringLiteral("folder %1: cannot be listed").arg(folder));
        return false;
    }
    for (const QFileInfo& entry : entries) {
        const QString path = entry.absoluteFilePath();
        // A link is removed as a link: following one to a folder would empty a tree that lies
        // outside the folder being cleared.
        if (entry.isSymLink() || !entry.isDir()) {
            QFile::remove(path);
            continue;
        }
        // Failures inside the tree are deliberately silent; whatever could not go stays.
        if (ClearFolder(path))
            QDir().rmdir(path);
    }
    // A folder that held nothing to begin with goes as well; DeleteTree relies on neither case.
    if (entries.isEmpty())
        QDir().rmdir(info.absoluteFilePath());
    return true;
}

bool DeleteTree(const QString& folder, QString* error)
{
    if (folder.isEmpty()) {
        setError(error, QStringLiteral("folder path is empty"));
        return false;
    }
    // A link standing for the folder goes as a link; the tree it points to is not ours to remove.
    const QFileInfo info(folder.endsWith(QLatin1Char('/')) && folder.size() > 1 ? folder.chopped(1) : folder);
    if (info.isSymLink()) {
        if (QFile::remove(info.absoluteFilePath()))
            return true;
        setError(error, QStringLiteral("folder %1: the link could not be removed").arg(folder));
        return false;
    }
    if (!ClearFolder(folder, error))
        return false;
    const QString absolute = QFileInfo(folder).absoluteFilePath();
    if (DirExists(absolute))
        QDir().rmdir(absolute);
    // The result says whether the folder is gone, including when ClearFolder already removed an
    // empty one.
    if (QFileInfo::exists(absolute)) {
        setError(error, QStringLiteral("folder %1: could not be removed completely").arg(folder));
        return false;
    }
    return true;
}

bool SaveTextToFile(const QString& filePath, const QByteArray& bytes, QString* error)
{
    const QFileInfo info(filePath);
    ForceDirs(info.absolutePath());
    QSaveFile file(filePath);
    if (!OpenOwnerOnly(file)) {
        setError(error, QStringLiteral("file %1: cannot be created: %2").arg(filePath, file.errorString()));
        return false;
    }
    if (file.write(bytes) != bytes.size()) {
        setError(error, QStringLiteral("file %1: write failed: %2").arg(filePath, file.errorString()));
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        setError(error, QStringLiteral("file %1: cannot be completed: %2").arg(filePath, file.errorString()));
        return false;
    }
    return true;
}

QString AddBackslash(const QString& path)
{
    if (path.isEmpty() || path.endsWith(QLatin1Char('/')))
        return path;
    return path + QLatin1Char('/');
}

bool SyncToDisk(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

} // namespace sjql
