// SPDX-License-Identifier: MIT
#include "db/SqlLog.h"

#include "entry/ModuleContext.h"
#include "hostapi/Gbk.h"

#include <QDir>
#include <QFile>

namespace sjql {
namespace {

std::function<QDateTime()>& clock()
{
    static std::function<QDateTime()> c;
    return c;
}

QString& folderOverride()
{
    static QString f;
    return f;
}

QDateTime now()
{
    return clock() ? clock()() : QDateTime::currentDateTime();
}

QString withSeparator(const QString& folder)
{
    return folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
}

QString logFolder()
{
    if (!folderOverride().isEmpty())
        return withSeparator(folderOverride());
    const QString env = qEnvironmentVariable("SJQL_SQL_LOG_DIR");
    if (!env.isEmpty())
        return withSeparator(env);
    return GetModuleDir();
}

} // namespace

void SetSqlLogClock(std::function<QDateTime()> c)
{
    clock() = std::move(c);
}

void SetSqlLogFolderOverride(const QString& folder)
{
    folderOverride() = folder;
}

QString SqlLogFilePath(const QDate& day)
{
    return logFolder() + QStringLiteral("Vorlem") + day.toString(QStringLiteral("yyyyMMdd")) + QStringLiteral(".log");
}

QString SqlLogTimeStamp(const QDateTime& when)
{
    // Fixed forms rather than the process locale, so that support staff read the same text on
    // every machine; they are the short date and long time forms of a Chinese desktop.
    const QString date = when.date().toString(QStringLiteral("yyyy/M/d"));
    if (when.time() == QTime(0, 0))
        return date;
    return date + QLatin1Char(' ') + when.time().toString(QStringLiteral("H:mm:ss"));
}

void WriteSqlLog(const QString& message)
{
    const QDateTime stamp = now();
    QFile file(SqlLogFilePath(stamp.date()));
    // Opened and closed per entry, so other processes may read the log between entries.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return;
    const QByteArray entry = toGbk(SqlLogTimeStamp(stamp) + QStringLiteral("  ") + message + QStringLiteral("\r\n"));
    file.write(entry);
    file.close();
}

} // namespace sjql
