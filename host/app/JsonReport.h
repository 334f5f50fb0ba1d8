// SPDX-License-Identifier: MIT
// What the scripted clear and restore report to programs: one JSON document on stdout with --json
// (the lines for people then go to stderr), built from the module's plans and, for a
// real run, from what the database and the archives hold afterwards.
//
// Document, schema 1: {"schema": 1, "command": "clear"|"restore", "dryRun": bool, "exitCode": n,
// "result": last line's text, "agents": [one object per agent, in run order]}. Keys are ASCII and
// stable; a key may be added within a schema version, one changes meaning only with a new version.
#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace sjql::host {

inline constexpr int kJsonReportSchema = 1;

class HostSession;

// How one agent's run ended: its exit code and its last line's text.
struct AgentEnding
{
    int exitCode = 0;
    QString result;
};

// An agent's run that could not run: "result=not done: <message>" (failRun); exit 1.
AgentEnding agentNotDone(const QString& message);

class JsonReport
{
public:
    JsonReport(const QString& command, bool dryRun, bool enabled);
    bool enabled() const { return m_enabled; }
    void addAgent(const QJsonObject& agent) { m_agents.append(agent); }
    // Prints the document when enabled; returns exitCode.
    int finish(int exitCode, const QString& result) const;

private:
    QString m_command;
    bool m_dryRun = false;
    bool m_enabled = false;
    QJsonArray m_agents;
};

// Asks the module library's tool entry for a plan (hostapi/SjqlEntry.h, module/entry/PlanTools.h). False with *error
// set when the entry cannot be reached or the answer is not a JSON object; a plan that failed is an answer with "ok":
// false.
bool askModule(const QJsonObject& request, QJsonObject* answer, QString* error);

// The rows each of `periods` holds in the database now, per table, as the module counts them
// ("rows": period -> counts). False with *error when they cannot be counted.
bool currentMonthRows(const QJsonArray& periods, QJsonObject* rows, QString* error);

// Asks the module for a plan into *plan (and the agent's part of the report); the ending of the
// agent's run when no plan came: the entry could not be asked (1) or the plan failed, with 5 when
// another run holds the lock (its reason as the last line).
std::optional<AgentEnding> askForPlan(const QJsonObject& request, QJsonObject* plan, QJsonObject* agentJson);

// The more telling of two exit codes of agents run in turn: a command that could not run (1),
// then another run holding the lock (5), an interruption (4), failures (3), done (0).
int worseExit(int a, int b);

// Runs `one` for the session's agent, or with `allAgents` for each agent of the installation in
// turn (the current one first; "agent=<code>" before each one's lines), and adds each agent's
// object to the report with its "agent", "exitCode" and "result". A stop request ends the
// command after that agent. With `allAgents` a last "result=" line tells how many agents' runs
// were done. Returns the report's exit code (the most telling of the agents').
int runForAgents(HostSession& session, bool allAgents, JsonReport& report,
                 const std::function<AgentEnding(QJsonObject& agentJson)>& one, const QString& doneWord);

// "ZCGZXJMXB=4 FGZXJB=1 KJSDSBGB=5": the tables of a plan's month with their value of `key`.
QString tableCountsText(const QJsonArray& tables, const QString& key);

} // namespace sjql::host
