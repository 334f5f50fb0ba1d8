// SPDX-License-Identifier: MIT
#include "db/SqlLog.h"

#include "context/ModuleContext.h"
#include "hostapi/FileModes.h"
#include "hostapi/Gbk.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

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

// The folder the log belongs in: the module's own unless a test names another.
QString preferredFolder()
{
    if (!folderOverride().isEmpty())
        return withSeparator(folderOverride());
    const QString env = qEnvironmentVariable("SJQL_SQL_LOG_DIR");
    if (!env.isEmpty())
        return withSeparator(env);
    return GetModuleDir();
}

// Where an installed module cannot write beside itself, support staff find the log with the
// user's data.
QString fallbackFolder()
{
    return GetUserDataDir() + QStringLiteral("logs/");
}

const QLatin1String kSqlLogPrefix("Vorlem");

QString fileName(const QString& prefix, const QDate& day)
{
    return prefix + day.toString(QStringLiteral("yyyyMMdd")) + QStringLiteral(".log");
}

QString logFolder(const QString& prefix, const QDate& day)
{
    const QString preferred = preferredFolder();
    if (QFileInfo::exists(preferred + fileName(prefix, day)) || IsFolderWritable(preferred))
        return preferred;
    return fallbackFolder();
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

QString DailyLogFilePath(const QString& prefix, const QDate& day)
{
    return logFolder(prefix, day) + fileName(prefix, day);
}

QString SqlLogFilePath(const QDate& day)
{
    return DailyLogFilePath(kSqlLogPrefix, day);
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

void AppendDailyLog(const QString& prefix, const QString& message)
{
    const QDateTime stamp = now();
    const QString folder = logFolder(prefix, stamp.date());
    if (folder == fallbackFolder())
        MakeOwnerOnlyPath(folder);
    QFile file(folder + fileName(prefix, stamp.date()));
    // Opened and closed per entry, so other processes of the user may read the log between
    // entries. Failed statements carry their values: a day's new file is owner-only.
    if (!OpenOwnerOnly(file, QIODevice::WriteOnly | QIODevice::Append))
        return;
    const QByteArray entry = toGbk(SqlLogTimeStamp(stamp) + QStringLiteral("  ") + message + QStringLiteral("\r\n"));
    file.write(entry);
    file.close();
}

void WriteSqlLog(const QString& message)
{
    AppendDailyLog(kSqlLogPrefix, message);
}

} // namespace sjql
