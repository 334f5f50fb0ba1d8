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

namespace sjql::host {

inline constexpr int kJsonReportSchema = 1;

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

// The more telling of two exit codes of agents run in turn: a command that could not run (1),
// then another run holding the lock (5), an interruption (4), failures (3), done (0).
int worseExit(int a, int b);

// The table counts of the module's answers ([ZCGZXJMXB, FGZXJB, KJSDSBGB]).
QStringList tableNames();

} // namespace sjql::host
