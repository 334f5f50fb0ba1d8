// SPDX-License-Identifier: MIT
// The plans as JSON objects for the host's reports: ASCII keys, sizes in bytes, texts as the run
// would print them.
#include "jobs/BackupDataFiles.h"
#include "jobs/DryRun.h"

#include <QDir>
#include <QJsonArray>

namespace sjql {

namespace {

QString tableName(size_t index)
{
    return QLatin1String(BackupDataFileKinds()[index].table);
}

QJsonObject spaceJson(const SpaceNeed& need)
{
    return QJsonObject{{QStringLiteral("purpose"), need.purpose},
                       {QStringLiteral("folder"), QDir::toNativeSeparators(need.folder)},
                       {QStringLiteral("neededBytes"), need.needed},
                       {QStringLiteral("fileSystemNeededBytes"), need.fileSystemNeed},
                       {QStringLiteral("availableBytes"), need.available},
                       {QStringLiteral("enough"), need.enough()}};
}

QJsonObject clearMonthJson(const ClearMonthPlan& month)
{
    QJsonArray tables;
    for (size_t i = 0; i < month.rows.size(); ++i)
        tables.append(
            QJsonObject{{QStringLiteral("table"), tableName(i)}, {QStringLiteral("selected"), month.rows[i]}});
    QJsonObject o{{QStringLiteral("period"), month.period},
                  {QStringLiteral("action"), month.action},
                  {QStringLiteral("precheck"), month.precheck},
                  {QStringLiteral("dataBytesEstimate"), month.dataBytes},
                  {QStringLiteral("tables"), tables}};
    if (!month.precheckText.isEmpty())
        o.insert(QStringLiteral("precheckText"), month.precheckText);
    if (!month.reason.isEmpty())
        o.insert(QStringLiteral("reason"), month.reason);
    return o;
}

QJsonObject restoreMonthJson(const RestoreMonthPlan& month)
{
    QJsonArray tables;
    for (size_t i = 0; i < month.rows.size(); ++i)
        tables.append(QJsonObject{{QStringLiteral("table"), tableName(i)},
                                  {QStringLiteral("inArchive"), month.rows[i]},
                                  {QStringLiteral("replaces"), month.replaces[i]}});
    QJsonObject o{{QStringLiteral("period"), month.period},
                  {QStringLiteral("action"), month.action},
                  {QStringLiteral("tables"), tables}};
    if (!month.reason.isEmpty())
        o.insert(QStringLiteral("reason"), month.reason);
    return o;
}

} // namespace

QJsonObject ClearPlanJson(const ClearPlan& plan)
{
    QJsonObject o{{QStringLiteral("agent"), plan.agentCode}, {QStringLiteral("ok"), plan.ok}};
    if (!plan.ok) {
        o.insert(QStringLiteral("busy"), plan.busy);
        o.insert(QStringLiteral("error"), plan.error);
        return o;
    }
    QJsonArray years;
    for (const ClearYearPlan& year : plan.years) {
        QJsonArray months;
        for (const ClearMonthPlan& month : year.months)
            months.append(clearMonthJson(month));
        years.append(QJsonObject{{QStringLiteral("year"), year.year},
                                 {QStringLiteral("archive"), year.archive},
                                 {QStringLiteral("dataBytesEstimate"), year.dataBytes},
                                 {QStringLiteral("archiveBytesEstimate"), year.archiveBytes},
                                 {QStringLiteral("months"), months}});
    }
    QJsonArray space;
    for (const SpaceNeed& need : plan.space)
        space.append(spaceJson(need));
    o.insert(QStringLiteral("asksConfirmation"), plan.asksConfirmation);
    o.insert(QStringLiteral("years"), years);
    o.insert(QStringLiteral("space"), space);
    o.insert(QStringLiteral("spaceEnough"), plan.spaceEnough());
    return o;
}

QJsonObject ArchivePlanJson(const RestoreArchivePlan& archive)
{
    QJsonArray months;
    for (const RestoreMonthPlan& month : archive.months)
        months.append(restoreMonthJson(month));
    QJsonObject o{{QStringLiteral("archive"), QDir::toNativeSeparators(archive.archive)},
                  {QStringLiteral("action"), archive.action},
                  {QStringLiteral("months"), months}};
    for (const auto& [key, value] :
         {std::pair{QStringLiteral("reason"), archive.reason},
          std::pair{QStringLiteral("summaryAgent"), archive.agentCode}, std::pair{QStringLiteral("year"), archive.year},
          std::pair{QStringLiteral("edition"), archive.edition}}) {
        if (!value.isEmpty())
            o.insert(key, value);
    }
    return o;
}

QJsonObject RestorePlanJson(const RestorePlan& plan)
{
    QJsonObject o{{QStringLiteral("agent"), plan.agentCode}, {QStringLiteral("ok"), plan.ok}};
    if (!plan.ok) {
        o.insert(QStringLiteral("busy"), plan.busy);
        o.insert(QStringLiteral("error"), plan.error);
        return o;
    }
    QJsonArray archives;
    for (const RestoreArchivePlan& archive : plan.archives)
        archives.append(ArchivePlanJson(archive));
    o.insert(QStringLiteral("archives"), archives);
    return o;
}

} // namespace sjql
