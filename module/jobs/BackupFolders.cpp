// SPDX-License-Identifier: MIT
#include "jobs/BackupFolders.h"

#include "archive/FileUtils.h"
#include "hostapi/Gbk.h"
#include "hostapi/ModuleLib.h"
#include "jobs/Drives.h"

#include <QDir>

namespace sjql {

QString ChooseBackupFolder()
{
    using namespace sjql::cleanup;
    const QString home = HomeFolder();
    // A relative stored text means a folder in the home folder, never one in whatever folder the
    // process happens to run in.
    const QString stored = AbsoluteFromHome(
        fromGbk(GetSubAppUserConfigParam(GetCurSubAppCode(), "SysConfig", "BFPATH", "")).trimmed(), home);
    if (!stored.isEmpty() && DirExists(stored))
        return stored;

    // Walk the drives from the last to the first: a fixed one is taken, a removable one only when
    // the sub-application runs from it, anything else is skipped; and only where the user has a
    // place on it (the home folder, else a writable mount point).
    const QList<TDriveInfo> drives = GetDriveList();
    const QString runningFrom = DriveRootOf(fromGbk(GetCurSubAppPath()), drives);
    QString folder = stored;
    for (auto it = drives.crbegin(); it != drives.crend(); ++it) {
        if (it->Type != dtFixed && !(it->Type == dtRemovable && !runningFrom.isEmpty() && it->Root == runningFrom))
            continue;
        const QString place = BackupPlaceOn(*it, drives, home);
        if (!place.isEmpty()) {
            folder = place;
            break;
        }
    }
    // A stale stored folder gets its own separator before the default folder name, so the backup
    // lands inside it rather than in a sibling whose name runs on. Without any place the default
    // folder is the one in the home folder.
    return AbsoluteFromHome(
        AddBackslash(folder) + QStringLiteral("Quarvo") + QDir::separator() + QStringLiteral("备份"), home);
}

QString FallbackArchiveFolder(const QString& subAppFolder)
{
    return AddBackslash(subAppFolder) + QStringLiteral("TEMP");
}

QString ModuleWorkFolder(const QString& subAppFolder)
{
    return FallbackArchiveFolder(subAppFolder) + QDir::separator() + QStringLiteral("TMPBFMU");
}

QString ModuleSubAppFolder()
{
    return fromGbk(GetSubAppPath(GetCurSubAppCode()));
}

} // namespace sjql
