// SPDX-License-Identifier: MIT
#include "jobs/WorkFolders.h"

#include "archive/FileUtils.h"

#include <QDir>
#include <QFileInfo>

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

void RemoveEmptyWorkFolders(const QString& workDir, const QString& agentCode)
{
    if (workDir.isEmpty())
        return;
    // rmdir refuses a folder with anything in it, so nothing that holds a file can go, even if
    // another run puts one there meanwhile.
    const QString agentDir = AgentWorkDir(workDir, agentCode);
    const QDir agent(agentDir);
    for (const QString& name : agent.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden))
        agent.rmdir(name);
    QDir().rmdir(agentDir);
    QDir().rmdir(workDir);
    QDir().rmdir(QFileInfo(QDir::cleanPath(workDir)).absolutePath());
}

} // namespace sjql
