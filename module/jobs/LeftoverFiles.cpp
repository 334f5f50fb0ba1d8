// SPDX-License-Identifier: MIT
#include "jobs/LeftoverFiles.h"

#include "archive/FileUtils.h"
#include "jobs/BackupDataFiles.h"
#include "jobs/Messages.h"

#include <QDir>
#include <QFileInfo>

#include <optional>

namespace sjql {

LeftoverVerdict JudgeLeftoverFiles(const QString& agentDir, const QString& period, const QString& agentCode,
                                   const LeftoverFileScan& scanFile, const std::function<void()>& pump)
{
    LeftoverVerdict verdict;
    const QStringList paths = MonthDataFilePaths(agentDir, period);
    const QString folder = QDir::toNativeSeparators(AddBackslash(agentDir) + period.left(4));
    std::array<std::optional<MonthRowsScan>, 3> files;
    bool any = false, all = true;
    for (int i = 0; i < 3; ++i) {
        if (!QFileInfo::exists(paths[i])) {
            all = false;
            continue;
        }
        any = true;
        MonthRowsScan scan = scanFile(paths[i], i);
        if (!scan.ok || !scan.problem.isEmpty()) {
            const QString name = QFileInfo(paths[i]).fileName();
            verdict.kind = LeftoverVerdict::Kind::Keep;
            verdict.reason = !scan.ok ? LeftoverUnreadableText(folder, name, scan.error)
                                      : LeftoverForeignRowsText(folder, name, scan.problem);
            return verdict;
        }
        files[size_t(i)] = std::move(scan);
    }
    if (!any)
        return verdict;

    bool databaseEmpty = true, contained = true;
    for (int i = 0; i < 3; ++i) {
        const MonthRowsScan database = ScanDatabaseMonth(i, period, agentCode, pump);
        if (!database.ok) {
            verdict.kind = LeftoverVerdict::Kind::SelectionFailed;
            verdict.error = database.error;
            return verdict;
        }
        databaseEmpty = databaseEmpty && database.digests.empty();
        if (files[size_t(i)])
            contained = contained && DigestsContained(files[size_t(i)]->digests, database.digests);
    }
    if (contained) {
        verdict.kind = LeftoverVerdict::Kind::Superseded;
    } else if (all && databaseEmpty) {
        verdict.kind = LeftoverVerdict::Kind::Adopt;
        for (int i = 0; i < 3; ++i)
            verdict.rows[size_t(i)] = qint64(files[size_t(i)]->digests.size());
    } else {
        verdict.kind = LeftoverVerdict::Kind::Keep;
        verdict.reason = LeftoverExtraRowsText(folder);
    }
    return verdict;
}

} // namespace sjql
