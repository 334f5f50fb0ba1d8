// SPDX-License-Identifier: MIT
#include "jobs/SummaryRecords.h"

#include "jobs/BackupDataFiles.h"
#include "support/XmlDocument.h"

namespace sjql {

bool IsValidRecordMonth(const QString& month)
{
    if (month.size() != 6)
        return false;
    for (const QChar c : month) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    const int m = QStringView(month).mid(4).toInt();
    return m >= 1 && m <= 12;
}

bool IsBareFileName(const QString& name)
{
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") &&
           !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\'));
}

QStringList ClearedMonthDataFiles(const XmlNode& records)
{
    QStringList wanted;
    for (int j = 0; j < records.childCount(); ++j) {
        const XmlNode record = records.child(j);
        if (record.name() != QLatin1String("RECORD") || record.attribute(QStringLiteral("SFQL")) != QLatin1String("Y"))
            continue;
        for (const BackupDataFileKind& kind : BackupDataFileKinds()) {
            const QString name = record.attribute(QLatin1String(kind.summaryAttribute)).value_or(QString());
            if (IsBareFileName(name) && !wanted.contains(name, Qt::CaseInsensitive))
                wanted << name;
        }
    }
    return wanted;
}

} // namespace sjql
