// SPDX-License-Identifier: MIT
#include "jobs/BackupDataFiles.h"

#include "archive/FileUtils.h"
#include "context/ModuleContext.h"
#include "db/RunQuery.h"
#include "db/SqlLiteral.h"
#include "hostapi/HostConnection.h"
#include "support/AdtgWriter.h"

#include <QDir>
#include <QFileInfo>

namespace sjql {

const std::array<BackupDataFileKind, 3>& BackupDataFileKinds()
{
    static const std::array<BackupDataFileKind, 3> kinds = {{
        {"ZCGZXJMXB", "ZCGZXJMXB_YYYYMM.dat", "GZFILENAME"},
        {"FGZXJB", "FGZXJB_YYYYMM.dat", "FGZFILENAME"},
        {"KJSDSBGB", "KJSDSBGB_YYYYMM.dat", "BGBFILENAME"},
    }};
    return kinds;
}

QString BackupDataFileName(const QString& fileTemplate, const QString& period)
{
    QString name = fileTemplate;
    return name.replace(QLatin1String("YYYYMM"), period, Qt::CaseSensitive);
}

QString BackupDataFilePath(const QString& workDir, const QString& fileTemplate, const QString& period)
{
    return AddBackslash(workDir) + period.left(4) + QDir::separator() + BackupDataFileName(fileTemplate, period);
}

QString BackupSelectStatement(int index, const QString& period, const QString& agentCode)
{
    // The trailing blanks are part of the statements as the system has always sent them.
    static const char* const tails[3] = {"  ", " ", "  "};
    const BackupDataFileKind& kind = BackupDataFileKinds().at(static_cast<size_t>(index));
    return QStringLiteral("select * from ") + QLatin1String(kind.table) + QStringLiteral(" where FFYF=") +
           SqlTextLiteral(period) + QStringLiteral(" and KJYWRBM=") + SqlTextLiteral(agentCode) +
           QLatin1String(tails[index]);
}

QString BackupProgressText(int index, const QString& period)
{
    static const char* const what[3] = {"正常工资薪金数据", "非正常工资薪金数据", "扣缴所得税报告表数据"};
    return QStringLiteral("正在备份清理[") + period + QStringLiteral("]") + QString::fromUtf8(what[index]);
}

MonthDataFilesResult WriteMonthDataFiles(const QString& workDir, const QString& period, const QString& agentCode,
                                         QSqlQuery& query, const std::function<void(int index)>& beforeTable)
{
    MonthDataFilesResult result;
    const auto& kinds = BackupDataFileKinds();
    for (int i = 0; i < static_cast<int>(kinds.size()); ++i) {
        if (beforeTable)
            beforeTable(i);
        if (!RunQuery(BackupSelectStatement(i, period, agentCode), query, true)) {
            result.outcome = MonthDataFilesResult::QueryFailed;
            result.failedIndex = i;
            result.error =
                QStringLiteral("table %1: the selection statement failed").arg(QLatin1String(kinds[i].table));
            return result;
        }
        const QString path = BackupDataFilePath(workDir, QLatin1String(kinds[i].fileTemplate), period);
        // The year's folder is made here so that a first month of a year needs no set-up.
        ForceDirs(QFileInfo(path).absolutePath());
        HostConnection* connection = GetHostConnection();
        QString error;
        if (!connection) {
            error = QStringLiteral("data file %1: no host connection").arg(path);
        } else if (sjql::adtg::SaveRecordsetAdtg(query, connection->database(), QLatin1String(kinds[i].table), path,
                                                 &error)) {
            result.paths << path;
            continue;
        }
        result.outcome = MonthDataFilesResult::SaveFailed;
        result.failedIndex = i;
        result.error = error;
        return result;
    }
    return result;
}

} // namespace sjql
