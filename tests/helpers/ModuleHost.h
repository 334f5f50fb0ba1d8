// SPDX-License-Identifier: MIT
// Stands in for the host in module tests: publishes a connection, its type name and the host
// application code in the value object, and points the SQL log at a folder of the test.
#pragma once

#include "db/SqlLog.h"
#include "host/services/HostServicesAdmin.h"

#include <QDir>
#include <QFile>

namespace sjql::test {

// `agentCode`, when given, is published as the current withholding agent too.
inline void publishHost(HostConnection* connection, const QString& typeName, const QString& agentCode = {})
{
    auto& vo = host::state().valueObject;
    vo.clear();
    host::VoEntry c;
    c.name = QStringLiteral("QVR_DKDJADOConnection");
    c.kind = host::VoEntry::Object;
    c.object = connection;
    vo.push_back(c);
    host::VoEntry t;
    t.name = QStringLiteral("QVR_DKDJDBType");
    t.text = typeName;
    vo.push_back(t);
    host::VoEntry a;
    a.name = QStringLiteral("QVR_DKDJAPPCODE");
    a.text = QString::fromLatin1(host::kHostAppCode);
    vo.push_back(a);
    if (!agentCode.isEmpty()) {
        host::VoEntry g;
        g.name = QStringLiteral("QVR_KJYWRBM");
        g.text = agentCode;
        vo.push_back(g);
    }
}

inline void unpublishHost()
{
    host::state().valueObject.clear();
}

// The whole text of a day's SQL log, decoded.
inline QByteArray readLog(const QDate& day)
{
    QFile f(SqlLogFilePath(day));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace sjql::test
