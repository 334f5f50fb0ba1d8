// SPDX-License-Identifier: MIT
#include "jobs/BackupSummary.h"

#include "archive/FileUtils.h"
#include "hostapi/Gbk.h"

namespace sjql {

namespace {

// Escapes a value for a double-quoted attribute. Tabs and line breaks become character
// references, so they survive attribute normalisation and the file stays on one line; other
// control characters cannot appear in XML 1.0 at all and are written as "?", as characters
// without a GBK form are.
QString escapeAttribute(const QString& value)
{
    QString out;
    out.reserve(value.size());
    for (const QChar ch : value) {
        switch (ch.unicode()) {
        case '&':
            out += QLatin1String("&amp;");
            break;
        case '<':
            out += QLatin1String("&lt;");
            break;
        case '>':
            out += QLatin1String("&gt;");
            break;
        case '"':
            out += QLatin1String("&quot;");
            break;
        case '\'':
            out += QLatin1String("&apos;");
            break;
        case '\t':
            out += QLatin1String("&#9;");
            break;
        case '\n':
            out += QLatin1String("&#10;");
            break;
        case '\r':
            out += QLatin1String("&#13;");
            break;
        default:
            out += (ch.unicode() < 0x20) ? QChar(QLatin1Char('?')) : ch;
        }
    }
    return out;
}

} // namespace

QString AppendBackupRecord(const QString& records, const QString& flag, const QString& period,
                           const QString& declarationId)
{
    const QString month = escapeAttribute(period);
    const bool cleared = flag == QLatin1String("Y");
    const auto dataFile = [&](const char* table) {
        return cleared ? QString::fromLatin1(table) + month + QStringLiteral(".dat") : QString();
    };
    // Two blanks before BGBFILENAME and one before "/>" are part of the established layout.
    return records + QStringLiteral("<RECORD SDYF=\"") + month + QStringLiteral("\" WYSBH=\"") +
           escapeAttribute(declarationId) + QStringLiteral("\" SFQL=\"") + escapeAttribute(flag) +
           QStringLiteral("\" GZFILENAME=\"") + dataFile("ZCGZXJMXB_") + QStringLiteral("\" FGZFILENAME=\"") +
           dataFile("FGZXJB_") + QStringLiteral("\"  BGBFILENAME=\"") + dataFile("KJSDSBGB_") + QStringLiteral("\" />");
}

QByteArray BuildBackupSummary(const QString& year, const QString& records, const QString& agentCode,
                              const QString& appCode)
{
    const QString text = QStringLiteral("<?xml version=\"1.0\" encoding=\"GBK\" ?><QVRBFXX KJYWRBM=\"") +
                         escapeAttribute(agentCode) + QStringLiteral("\"  YEAR=\"") + escapeAttribute(year) +
                         QStringLiteral("\"  CODE=\"") + escapeAttribute(appCode) + QStringLiteral("\"><RECORDS>") +
                         records + QStringLiteral("</RECORDS></QVRBFXX>");
    return toGbk(text);
}

bool WriteBackupSummary(const QString& year, const QString& records, const QString& agentCode, const QString& appCode,
                        const QString& workDir, QStringList& archiveFiles, QString* error)
{
    const QString path = AddBackslash(workDir) + year.left(4) + QLatin1Char('/') + BackupSummaryFileName;
    if (!SaveTextToFile(path, BuildBackupSummary(year, records, agentCode, appCode), error))
        return false;
    archiveFiles.append(path);
    return true;
}

} // namespace sjql
