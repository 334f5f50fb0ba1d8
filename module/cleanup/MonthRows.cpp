// SPDX-License-Identifier: MIT
// Placeholder: digests by row position only, until the value digests land.
#include "cleanup/MonthRows.h"

#include "cleanup/BackupDataFiles.h"
#include "db/RunQuery.h"
#include "support/AdtgReader.h"

#include <algorithm>

namespace sjql {

MonthRowsScan DigestSelectedRows(QSqlQuery& query, int index, const std::function<void()>& pump)
{
    Q_UNUSED(index);
    MonthRowsScan scan;
    scan.ok = true;
    quint64 n = 0;
    while (query.next()) {
        scan.digests.push_back({0, n++});
        if (pump && n % 512 == 0)
            pump();
    }
    return scan;
}

MonthRowsScan ScanDatabaseMonth(int index, const QString& period, const QString& agentCode,
                                const std::function<void()>& pump)
{
    QSqlQuery query;
    if (!RunQuery(BackupSelectStatement(index, period, agentCode), query, true)) {
        MonthRowsScan scan;
        scan.error = QStringLiteral("selection failed");
        return scan;
    }
    return DigestSelectedRows(query, index, pump);
}

MonthRowsScan ScanDataFile(const QString& path, int index, const QString& period, const QString& agentCode)
{
    Q_UNUSED(index);
    Q_UNUSED(period);
    Q_UNUSED(agentCode);
    MonthRowsScan scan;
    adtg::AdtgRecordset rs;
    if (!rs.open(path)) {
        scan.error = rs.errorString();
        return scan;
    }
    scan.ok = true;
    for (quint64 n = 0; n < quint64(rs.recordCount()); ++n)
        scan.digests.push_back({0, n});
    return scan;
}

bool DigestsContained(std::vector<RowDigest> part, std::vector<RowDigest> whole)
{
    std::sort(part.begin(), part.end());
    std::sort(whole.begin(), whole.end());
    return std::includes(whole.begin(), whole.end(), part.begin(), part.end());
}

} // namespace sjql
