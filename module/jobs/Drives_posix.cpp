// SPDX-License-Identifier: MIT
// The drives of a POSIX machine: mounted volumes backed by a block device (or the root file system),
// other than the system's own (/boot, /usr, /var, ...), each with whether the user may write at its
// mount point. A volume counts as removable when its block device says so in
// /sys/block/<device>/removable; optical file systems count as CD drives.
#include "jobs/Drives.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>

#include <unistd.h>

namespace sjql::cleanup {

namespace {

// The whole disk of a block device node ("/dev/sdb1" -> "sdb"), read from sysfs; empty if unknown.
QString diskOf(const QByteArray& device)
{
    const QString name = QFileInfo(QString::fromLocal8Bit(device)).fileName();
    if (name.isEmpty())
        return {};
    QString sys = QFileInfo(QStringLiteral("/sys/class/block/") + name).canonicalFilePath();
    if (sys.isEmpty())
        return {};
    // A partition's folder sits inside the folder of its disk.
    if (QFileInfo::exists(sys + QStringLiteral("/partition")))
        sys = QFileInfo(sys).path();
    return QFileInfo(sys).fileName();
}

// Volumes of the operating system itself: writable for the administrator, and no place for backups.
bool isSystemVolume(const QString& root)
{
    static const char* const kSystem[] = {"/boot", "/efi", "/usr",  "/var", "/tmp", "/opt", "/srv",
                                          "/snap", "/run", "/proc", "/sys", "/dev", "/etc"};
    for (const char* s : kSystem) {
        const QLatin1String folder(s);
        if (root == folder || root.startsWith(folder + QLatin1Char('/')))
            return true;
    }
    return false;
}

bool isRemovable(const QByteArray& device)
{
    const QString disk = diskOf(device);
    if (disk.isEmpty())
        return false;
    QFile f(QStringLiteral("/sys/block/") + disk + QStringLiteral("/removable"));
    if (!f.open(QIODevice::ReadOnly))
        return false;
    return f.readAll().trimmed() == "1";
}

} // namespace

QList<TDriveInfo> PlatformDriveList()
{
    QList<TDriveInfo> out;
    const QList<QStorageInfo> volumes = QStorageInfo::mountedVolumes();
    for (const QStorageInfo& v : volumes) {
        if (!v.isValid() || !v.isReady() || v.isReadOnly())
            continue;
        const QString root = v.rootPath();
        if (isSystemVolume(root))
            continue;
        const bool blockDevice = v.device().startsWith("/dev/");
        // Pseudo file systems (proc, tmpfs, ...) are no place for backups; the root file system of a
        // container is kept even when it has no block device of its own.
        if (!blockDevice && root != QLatin1String("/"))
            continue;
        // A volume the user cannot write at the top of may still hold the user's home folder.
        const QByteArray rootBytes = QFile::encodeName(root);
        TDriveInfo d;
        d.Root = root.endsWith(QLatin1Char('/')) ? root : root + QLatin1Char('/');
        d.Writable = ::access(rootBytes.constData(), W_OK) == 0;
        const QByteArray fs = v.fileSystemType().toLower();
        if (fs == "iso9660" || fs == "udf")
            d.Type = dtCdRom;
        else if (blockDevice && isRemovable(v.device()))
            d.Type = dtRemovable;
        else
            d.Type = dtFixed;
        out.append(d);
    }
    return out;
}

} // namespace sjql::cleanup
