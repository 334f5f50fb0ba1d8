// SPDX-License-Identifier: MIT
// The subcommands of sjql-host's scripted mode.
//
// Each subcommand lives in its own Cmd<Name>.cpp and registers itself in the table with
// SJQL_HOST_COMMAND; main() parses the options a command declares and runs it. Output: UTF-8 lines
// on stdout (mostly name=value, with ASCII keys that scripts rely on); messages for people (failures,
// remarks, progress) go to stderr in Chinese, like the rest of the host. A failure exits non-zero.
#pragma once

#include <QJsonObject>
#include <QMap>
#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

namespace sjql::host {

// The parsed command line of one subcommand.
struct CommandLine
{
    QString command;
    QMap<QString, QString> values; // "--name value" or "--name=value", by name without dashes
    QStringList flags;             // "--name", by name without dashes
    QStringList positional;

    bool has(const QString& name) const { return values.contains(name); }
    QString value(const QString& name, const QString& defaultValue = QString()) const
    {
        return values.value(name, defaultValue);
    }
    bool flag(const QString& name) const { return flags.contains(name); }
    // The option as a whole number; false (and *error set) when it is not one or not in [min, max].
    bool intValue(const QString& name, int defaultValue, int min, int max, int* out, QString* error) const;
};

struct Command
{
    QString name;
    QString usage;                 // the options, as shown in the help text
    QString summary;               // one line, in Chinese
    QString details = {};          // further lines for "sjql-host <command> --help" (Chinese; may be empty)
    QStringList valueOptions = {}; // options taking a value ("home" is accepted by every command)
    QStringList flagOptions = {};
    int maxPositional = 0; // arguments that are not options: how many at most (-1: any number)
    bool gui = false;      // needs a QApplication (windows); else a QCoreApplication is enough
    std::function<int(const CommandLine&)> run;
};

// Adds a command to the table; returns true so it can initialise a static.
bool registerCommand(Command command);
const std::vector<Command>& commands();

// Exit codes: 0 done, 1 the command could not do its work, 2 a wrong command line. clear and
// restore add the endings of their run (3 a line reports a failure, 4 interrupted, 5 another run
// holds the lock).
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

// Output helpers. stdout: one UTF-8 line, or a "name=value" line (keep names ASCII and stable).
// stderr: "sjql-host <command>：<message>", the message written in Chinese for the user; fail
// returns 1 (the command could not do its work), usageError 2 (a wrong command line, with a pointer
// to the command's --help). note is a remark that is not a failure (headless mode, a stop request,
// the progress of a long run).
void printLine(const QString& line);
void printValue(const QString& name, const QString& value);
// With --json stdout carries the one JSON document alone: from then on printLine and printValue
// write their lines to stderr.
void setLinesToStderr(bool toStderr);
// One JSON document on stdout (indented, UTF-8), whatever setLinesToStderr says.
void printJson(const QJsonObject& document);
int fail(const QString& message);
int usageError(const QString& message);
void note(const QString& message);

// A path as the user writes it, in Chinese quotation marks: “/home/me/备份”. For messages only.
QString quotedPath(const QString& path);

} // namespace sjql::host

#define SJQL_HOST_CONCAT2(a, b) a##b
#define SJQL_HOST_CONCAT(a, b) SJQL_HOST_CONCAT2(a, b)
// SJQL_HOST_COMMAND({ .name = ..., ... }); at namespace scope of a Cmd*.cpp file.
#define SJQL_HOST_COMMAND(...)                                                                                         \
    namespace {                                                                                                        \
    const bool SJQL_HOST_CONCAT(sjqlHostCommandRegistered_, __LINE__) = ::sjql::host::registerCommand(__VA_ARGS__);    \
    }
