// SPDX-License-Identifier: MIT
#include "db/ModuleLog.h"

#include "db/SqlLog.h"

#include <QStringList>

namespace sjql {

namespace {

const QLatin1String kModuleLogPrefix("SjqlRun");

} // namespace

void WriteModuleLog(const LogSubject& subject, const QString& text)
{
    QStringList about;
    if (!subject.agent.isEmpty())
        about << QStringLiteral("agent=") + subject.agent;
    const QString year = subject.year.isEmpty() ? subject.month.left(4) : subject.year;
    if (!year.isEmpty())
        about << QStringLiteral("year=") + year;
    if (!subject.month.isEmpty())
        about << QStringLiteral("month=") + subject.month;
    if (!subject.archive.isEmpty())
        about << QStringLiteral("archive=") + subject.archive;
    AppendDailyLog(kModuleLogPrefix,
                   about.isEmpty() ? text : about.join(QLatin1Char(' ')) + QStringLiteral("  ") + text);
}

QString ModuleLogFilePath(const QDate& day)
{
    return DailyLogFilePath(kModuleLogPrefix, day);
}

} // namespace sjql
