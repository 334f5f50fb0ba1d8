// SPDX-License-Identifier: MIT
#include "cleanup/WorkFolders.h"

#include "archive/FileUtils.h"

namespace sjql {

QString AgentFolderName(const QString& agentCode)
{
    if (agentCode.isEmpty())
        return QStringLiteral("_");
    QString name;
    const QByteArray bytes = agentCode.toUtf8();
    for (const char byte : bytes) {
        const auto c = static_cast<unsigned char>(byte);
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
        if (plain)
            name += QLatin1Char(char(c));
        else
            name += QStringLiteral("_%1").arg(uint(c), 2, 16, QLatin1Char('0')).toUpper();
    }
    return name;
}

QString AgentWorkDir(const QString& workDir, const QString& agentCode)
{
    return AddBackslash(workDir) + AgentFolderName(agentCode);
}

} // namespace sjql
