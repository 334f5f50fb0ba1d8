// SPDX-License-Identifier: MIT
#include "jobs/Drives.h"

#include <QDir>
#include <QFileInfo>

namespace sjql::cleanup {

namespace {

std::function<QList<TDriveInfo>()>& provider()
{
    static std::function<QList<TDriveInfo>()> p;
    return p;
}

QString& homeOverride()
{
    static QString home;
    return home;
}

QString withSeparator(const QString& path)
{
    return path.endsWith(QLatin1Char('/')) ? path : path + QLatin1Char('/');
}

} // namespace

QList<TDriveInfo> GetDriveList()
{
    if (provider())
        return provider()();
    return PlatformDriveList();
}

void SetDriveListProvider(std::function<QList<TDriveInfo>()> p)
{
    provider() = std::move(p);
}

QString HomeFolder()
{
    const QString home = homeOverride().isEmpty() ? QDir::homePath() : homeOverride();
    return QDir::cleanPath(home);
}

void SetHomeFolderOverride(const QString& folder)
{
    homeOverride() = folder;
}

QString DriveRootOf(const QString& path, const QList<TDriveInfo>& drives)
{
    // Compare whole path components: "/media/usb2/x" does not lie on "/media/usb/".
    const QString probe = withSeparator(QDir::cleanPath(QDir::fromNativeSeparators(path)));
    QString best;
    for (const TDriveInfo& d : drives) {
        const QString root = withSeparator(QDir::fromNativeSeparators(d.Root));
        if (probe.startsWith(root) && root.size() > best.size())
            best = d.Root;
    }
    return best;
}

QString BackupPlaceOn(const TDriveInfo& drive, const QList<TDriveInfo>& drives, const QString& home)
{
    // The home folder first: it belongs to the user, file managers show it, and nobody has to look
    // for the backups at the top of a system volume.
    if (!home.isEmpty() && QDir::isAbsolutePath(home) && DriveRootOf(home, drives) == drive.Root)
        return withSeparator(QDir::cleanPath(home));
    return drive.Writable ? drive.Root : QString();
}

QString AbsoluteFromHome(const QString& folder, const QString& home)
{
    if (folder.isEmpty())
        return folder;
    const QString text = QDir::fromNativeSeparators(folder);
    if (QDir::isAbsolutePath(text))
        return folder;
    QString relative = text;
    if (relative == QLatin1String("~"))
        relative.clear();
    else if (relative.startsWith(QLatin1String("~/")))
        relative = relative.mid(2);
    const QString absolute = QDir::cleanPath(QDir(home).absoluteFilePath(relative));
    // A trailing separator of the text stays: callers append names to it.
    return QDir::toNativeSeparators(text.endsWith(QLatin1Char('/')) ? withSeparator(absolute) : absolute);
}

QString NearestExistingFolder(const QString& folder, const QString& home)
{
    QString probe = QDir::cleanPath(AbsoluteFromHome(folder, home));
    while (!probe.isEmpty() && QDir::isAbsolutePath(probe)) {
        if (QFileInfo(probe).isDir())
            return probe;
        const QString parent = QFileInfo(probe).path();
        if (parent == probe)
            break;
        probe = parent;
    }
    return home;
}

} // namespace sjql::cleanup
