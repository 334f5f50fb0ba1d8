// SPDX-License-Identifier: MIT
#include "entry/PlanTools.h"

#include "context/ModuleContext.h"
#include "hostapi/Gbk.h"
#include "hostapi/ModuleLib.h"
#include "jobs/Drives.h"
#include "jobs/DryRun.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace sjql {

namespace {

QStringList texts(const QJsonValue& value)
{
    QStringList list;
    for (const QJsonValue& v : value.toArray())
        list << v.toString();
    return list;
}

QJsonArray countsJson(const TableCounts& counts)
{
    return QJsonArray{counts[0], counts[1], counts[2]};
}

// The settings a backup-and-clear would run with, as the cleanup window gives them.
BackupJobSettings clearSettings(const QJsonObject& request)
{
    BackupJobSettings settings;
    settings.agentCode = GetAgentCode();
    settings.hostAppCode = GetHostAppCode();
    settings.backupDir = cleanup::AbsoluteFromHome(request.value(QStringLiteral("backupDir")).toString().trimmed(),
                                                   cleanup::HomeFolder());
    const QByteArray subAppCode(GetCurSubAppCode());
    settings.subAppDir = fromGbk(GetSubAppPath(subAppCode.constData()));
    settings.workDir = settings.subAppDir + QStringLiteral("TEMP") + QDir::separator() + QStringLiteral("TMPBFMU");
    settings.years = texts(request.value(QStringLiteral("years")));
    return settings;
}

} // namespace

QJsonObject AnswerPlanRequest(const QJsonObject& request)
{
    const QString kind = request.value(QStringLiteral("command")).toString();
    if (kind == QLatin1String("clear-plan")) {
        ClearPlanOptions options;
        options.checkRows = request.value(QStringLiteral("checkRows")).toBool(true);
        options.declineWarnings = request.value(QStringLiteral("declineWarnings")).toBool(false);
        return ClearPlanJson(PlanClear(clearSettings(request), options));
    }
    if (kind == QLatin1String("restore-plan"))
        return RestorePlanJson(
            PlanRestore(texts(request.value(QStringLiteral("archives"))), GetAgentCode(), GetHostAppCode()));
    if (kind == QLatin1String("archive-rows")) {
        const RestoreArchivePlan archive =
            ReadArchiveRows(request.value(QStringLiteral("archive")).toString(), GetAgentCode());
        QJsonObject o = ArchivePlanJson(archive);
        o.insert(QStringLiteral("ok"), true);
        return o;
    }
    if (kind == QLatin1String("month-rows")) {
        const QStringList periods = texts(request.value(QStringLiteral("periods")));
        QList<TableCounts> counts;
        QString error;
        if (!CountMonthRows(periods, GetAgentCode(), &counts, &error))
            return QJsonObject{{QStringLiteral("ok"), false}, {QStringLiteral("error"), error}};
        QJsonObject rows;
        for (qsizetype i = 0; i < periods.size(); ++i)
            rows.insert(periods[i], countsJson(counts[i]));
        return QJsonObject{{QStringLiteral("ok"), true}, {QStringLiteral("rows"), rows}};
    }
    return {};
}

} // namespace sjql
