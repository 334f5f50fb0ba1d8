// SPDX-License-Identifier: MIT
// Stands in for the host in module tests: publishes a connection, its type name and the host
// application code in the value object, and points the SQL log at a folder of the test.
#pragma once

#include "db/SqlLog.h"
#include "helpers/ValueObject.h"
#include "host/services/HostServicesAdmin.h"

#include <QDir>
#include <QFile>

namespace sjql::test {

// `agentCode`, when given, is published as the current withholding agent too.
inline void publishHost(HostConnection* connection, const QString& typeName, const QString& agentCode = {})
{
    auto& vo = host::state().valueObject;
    vo = {voObject(QStringLiteral("QVR_DKDJADOConnection"), connection),
          voText(QStringLiteral("QVR_DKDJDBType"), typeName),
          voText(QStringLiteral("QVR_DKDJAPPCODE"), QString::fromLatin1(host::kHostAppCode))};
    if (!agentCode.isEmpty())
        vo.push_back(voText(QStringLiteral("QVR_KJYWRBM"), agentCode));
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
