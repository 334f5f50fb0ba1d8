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
    const auto tool = reinterpret_cast<SjqlRunToolProc>(library.resolve(SJQL_TOOL_ENTRY_NAME));
    if (!tool) {
        *error =
            QStringLiteral("模块库没有入口 %1（%2）").arg(QLatin1String(SJQL_TOOL_ENTRY_NAME), library.errorString());
        return false;
    }
    struct Reply
    {
        QByteArray document;
        QStringList notes;
    } reply;
    const QByteArray text = QJsonDocument(request).toJson(QJsonDocument::Compact);
    tool(
        text.constData(),
        [](void* context, int channel, const char* utf8) {
            auto* r = static_cast<Reply*>(context);
            if (channel == SJQL_TOOL_DOCUMENT)
                r->document = QByteArray(utf8);
            else
                r->notes << QString::fromUtf8(utf8);
        },
        &reply);
    const QJsonDocument doc = QJsonDocument::fromJson(reply.document);
    if (!doc.isObject()) {
        *error = QStringLiteral("模块的回答无法读取（%1）").arg(reply.notes.join(QLatin1Char(' ')));
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
