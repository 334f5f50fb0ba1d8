// SPDX-License-Identifier: MIT
#include "cleanup/Drives.h"

#include <QDir>

namespace sjql::cleanup {

namespace {

std::function<QList<TDriveInfo>()>& provider()
{
    static std::function<QList<TDriveInfo>()> p;
    return p;
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

} // namespace sjql::cleanup
