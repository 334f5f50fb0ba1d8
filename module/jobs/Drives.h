// SPDX-License-Identifier: MIT
// The drives of the machine as the cleanup window sees them when it proposes a backup folder.
//
// Here a "drive" is a mounted volume that may hold backups: one backed by a block device, or the
// root file system; system volumes (/boot, /usr, /var, ...) are left out. Its root text is the
// mount point with a trailing separator ("/", "/media/usb/"). A volume counts for the user only
// where the user has a place on it: the home folder when the volume holds it, else the mount point
// when the user may write there. The list comes from the platform part (Drives_posix.cpp) unless a
// test put its own list in place; the home folder likewise. GUI thread only; nothing here throws.
#pragma once

#include <QList>
#include <QString>

#include <functional>

namespace sjql::cleanup {

// Drive types, numbered as the platform's drive-type call numbers them.
enum TDriveType : int
{
    dtUnknown = 0,
    dtRemovable = 2,
    dtFixed = 3,
    dtRemote = 4,
    dtCdRom = 5,
    dtRamDisk = 6,
};

struct TDriveInfo
{
    QString Root; // mount point, ends with the separator
    TDriveType Type = dtUnknown;
    bool Writable = true; // the user may create folders at the mount point itself
};

// The volumes in the platform's order (mount order), writable or not. Empty when the platform call
// fails.
QList<TDriveInfo> GetDriveList();

// Test seam: a fixed list used instead of the machine's volumes; null puts the machine's back.
void SetDriveListProvider(std::function<QList<TDriveInfo>()> provider);

// The user's home folder, without a trailing separator.
QString HomeFolder();
// Test seam: the home folder to use instead of the user's; empty puts the user's back.
void SetHomeFolderOverride(const QString& folder);

// The root of the drive a path lies on: the longest root of `drives` that contains the path, or
// empty when none does.
QString DriveRootOf(const QString& path, const QList<TDriveInfo>& drives);

// The user's place on `drive`, the folder the default backup folder goes into: the home folder when
// the drive holds it (even where the mount point is writable too, as for the administrator on the
// root file system), else the mount point when writable, else empty (no place there).
QString BackupPlaceOn(const TDriveInfo& drive, const QList<TDriveInfo>& drives, const QString& home);

// A folder text as an absolute path: an absolute text is kept as it is; a relative one, or one that
// starts with "~", is taken from the home folder, never from the process's current folder. Empty
// stays empty.
QString AbsoluteFromHome(const QString& folder, const QString& home);

// The folder itself when it exists, else its nearest existing parent; the home folder when nothing
// of it exists. Where the folder dialogs open.
QString NearestExistingFolder(const QString& folder, const QString& home);

// The platform part: the machine's mounted volumes that may hold backups.
QList<TDriveInfo> PlatformDriveList();

} // namespace sjql::cleanup
