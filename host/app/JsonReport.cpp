// SPDX-License-Identifier: MIT
#include "JsonReport.h"

#include "Commands.h"
#include "HostSession.h"
#include "hostapi/SjqlEntry.h"
#include "module/jobs/RunOutcome.h"

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

bool currentMonthRows(const QJsonArray& periods, QJsonObject* rows, QString* error)
{
    QJsonObject now;
    if (!askModule(QJsonObject{{QStringLiteral("command"), QStringLiteral("month-rows")},
                               {QStringLiteral("periods"), periods}},
                   &now, error))
        return false;
    if (!now[QStringLiteral("ok")].toBool()) {
        *error = now[QStringLiteral("error")].toString();
        return false;
    }
    *rows = now[QStringLiteral("rows")].toObject();
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

AgentEnding agentNotDone(const QString& message)
{
    failRun(message);
    return {kExitFailed, QStringLiteral("not done: ") + message};
}

std::optional<AgentEnding> askForPlan(const QJsonObject& request, QJsonObject* plan, QJsonObject* agentJson)
{
    QString error;
    if (!askModule(request, plan, &error))
        return agentNotDone(error);
    *agentJson = *plan;
    if ((*plan)[QStringLiteral("ok")].toBool())
        return std::nullopt;
    const QString why = (*plan)[QStringLiteral("error")].toString();
    if (!(*plan)[QStringLiteral("busy")].toBool())
        return agentNotDone(why);
    printValue(QStringLiteral("result"), why);
    return AgentEnding{5, why};
}

int runForAgents(HostSession& session, bool allAgents, JsonReport& report,
                 const std::function<AgentEnding(QJsonObject& agentJson)>& one, const QString& doneWord)
{
    const QStringList agents = allAgents ? session.agents() : QStringList{session.agent()};
    int exitCode = 0, done = 0;
    QString result, error;
    for (const QString& agent : agents) {
        if (!session.switchAgent(agent, &error))
            return report.finish(kExitFailed, agentNotDone(error).result);
        if (allAgents)
            printValue(QStringLiteral("agent"), agent);
        QJsonObject agentJson;
        const AgentEnding ending = one(agentJson);
        agentJson.insert(QStringLiteral("agent"), agent);
        agentJson.insert(QStringLiteral("exitCode"), ending.exitCode);
        agentJson.insert(QStringLiteral("result"), ending.result);
        report.addAgent(agentJson);
        exitCode = worseExit(exitCode, ending.exitCode);
        result = ending.result;
        done += ending.exitCode == 0 ? 1 : 0;
        // A stop request ends the whole command: the next agents are not started.
        if (ending.exitCode == int(RunEnding::Interrupted))
            break;
    }
    if (allAgents) {
        result = QStringLiteral("%1个扣缴义务人中%2个%3完成，%4个没有完成或有失败（见各自的 result 行）")
                     .arg(agents.size())
                     .arg(done)
                     .arg(doneWord)
                     .arg(agents.size() - done);
        printValue(QStringLiteral("result"), result);
    }
    return report.finish(exitCode, result);
}

QString tableCountsText(const QJsonArray& tables, const QString& key)
{
    QStringList parts;
    for (const QJsonValue& t : tables)
        parts << t[QStringLiteral("table")].toString() + QLatin1Char('=') + QString::number(t[key].toInteger());
    return parts.join(QLatin1Char(' '));
}

} // namespace sjql::host
