// SPDX-License-Identifier: MIT
// The drives of the machine as the cleanup window sees them when it proposes a backup folder.
//
// Here a "drive" is a mounted volume that the user may write to; its root text is the mount point
// with a trailing separator ("/", "/media/usb/"). The list comes from the platform part
// (Drives_posix.cpp) unless a test put its own list in place. GUI thread only; nothing here throws.
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
};

// The writable drives in the platform's order (mount order). Empty when the platform call fails.
QList<TDriveInfo> GetDriveList();

// Test seam: a fixed list used instead of the machine's volumes; null puts the machine's back.
void SetDriveListProvider(std::function<QList<TDriveInfo>()> provider);

// The root of the drive a path lies on: the longest root of `drives` that contains the path, or
// empty when none does.
QString DriveRootOf(const QString& path, const QList<TDriveInfo>& drives);

// The platform part: the machine's mounted, writable volumes.
QList<TDriveInfo> PlatformDriveList();

} // namespace sjql::cleanup
