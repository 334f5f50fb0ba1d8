// SPDX-License-Identifier: MIT
#include "JsonReport.h"

#include "Commands.h"
#include "HostSession.h"
#include "hostapi/SjqlEntry.h"

#include <QJsonDocument>
#include <QLibrary>

namespace sjql::host {

JsonReport::JsonReport(const QString& command, bool dryRun, bool enabled)
    : m_command(command), m_dryRun(dryRun), m_enabled(enabled)
{
    setLinesToStderr(enabled);
}

int JsonReport::finish(int exitCode, const QString& result) const
{
    if (m_enabled) {
        printJson(QJsonObject{{QStringLiteral("schema"), kJsonReportSchema},
                              {QStringLiteral("command"), m_command},
                              {QStringLiteral("dryRun"), m_dryRun},
                              {QStringLiteral("exitCode"), exitCode},
                              {QStringLiteral("result"), result},
                              {QStringLiteral("agents"), m_agents}});
    }
    return exitCode;
}

bool askModule(const QJsonObject& request, QJsonObject* answer, QString* error)
{
    // The library the main frame loaded: loading it again by path only counts a reference.
    static QLibrary library(moduleLibraryPath());
    const auto plan = reinterpret_cast<SjqlPlanProc>(library.resolve(SJQL_PLAN_ENTRY_NAME));
    if (!plan) {
        *error =
            QStringLiteral("模块库没有入口 %1（%2）").arg(QLatin1String(SJQL_PLAN_ENTRY_NAME), library.errorString());
        return false;
    }
    QByteArray reply;
    const QByteArray text = QJsonDocument(request).toJson(QJsonDocument::Compact);
    plan(
        text.constData(),
        [](const char* json, void* context) { *static_cast<QByteArray*>(context) = QByteArray(json); }, &reply);
    const QJsonDocument doc = QJsonDocument::fromJson(reply);
    if (!doc.isObject()) {
        *error = QStringLiteral("模块的回答无法读取");
        return false;
    }
    *answer = doc.object();
    return true;
}

int worseExit(int a, int b)
{
    // Most telling first.
    for (const int code : {kExitFailed, 5, 4, 3}) {
        if (a == code || b == code)
            return code;
    }
    return qMax(a, b);
}

QStringList tableNames()
{
    return {QStringLiteral("ZCGZXJMXB"), QStringLiteral("FGZXJB"), QStringLiteral("KJSDSBGB")};
}

} // namespace sjql::host
