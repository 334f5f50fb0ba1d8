// SPDX-License-Identifier: MIT
#include "Commands.h"

#include <QDir>
#include <QJsonDocument>

#include <cstdio>

namespace sjql::host {

namespace {

std::vector<Command>& table()
{
    static std::vector<Command> t;
    return t;
}

QString& currentCommand()
{
    static QString name;
    return name;
}

bool& linesToStderr()
{
    static bool toStderr = false;
    return toStderr;
}

} // namespace

bool CommandLine::intValue(const QString& name, int defaultValue, int min, int max, int* out, QString* error) const
{
    if (!has(name)) {
        *out = defaultValue;
        return true;
    }
    bool ok = false;
    const int v = value(name).toInt(&ok);
    if (!ok || v < min || v > max) {
        *error =
            QStringLiteral("--%1 应是 %2 到 %3 之间的整数，而不是“%4”").arg(name).arg(min).arg(max).arg(value(name));
        return false;
    }
    *out = v;
    return true;
}

bool registerCommand(Command command)
{
    table().push_back(std::move(command));
    return true;
}

const std::vector<Command>& commands()
{
    return table();
}

void setLinesToStderr(bool toStderr)
{
    linesToStderr() = toStderr;
}

void printLine(const QString& line)
{
    FILE* out = linesToStderr() ? stderr : stdout;
    const QByteArray bytes = line.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), out);
    std::fputc('\n', out);
    std::fflush(out);
}

void printJson(const QJsonObject& document)
{
    const QByteArray bytes = QJsonDocument(document).toJson(QJsonDocument::Indented);
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

void printValue(const QString& name, const QString& value)
{
    printLine(name + QLatin1Char('=') + value);
}

void setCurrentCommandName(const QString& name)
{
    currentCommand() = name;
}

namespace {

void printMessage(const QString& message)
{
    const QString prefix = currentCommand().isEmpty() ? QStringLiteral("sjql-host：")
                                                      : QStringLiteral("sjql-host %1：").arg(currentCommand());
    const QByteArray bytes = (prefix + message).toUtf8();
    std::fprintf(stderr, "%s\n", bytes.constData());
    std::fflush(stderr);
}

} // namespace

int fail(const QString& message)
{
    printMessage(message);
    return kExitFailed;
}

int usageError(const QString& message)
{
    const QString help = currentCommand().isEmpty() ? QStringLiteral("sjql-host --help")
                                                    : QStringLiteral("sjql-host %1 --help").arg(currentCommand());
    printMessage(QStringLiteral("%1（用法见 %2）").arg(message, help));
    return kExitUsage;
}

void note(const QString& message)
{
    printMessage(message);
}

QString quotedPath(const QString& path)
{
    return QStringLiteral("“%1”").arg(QDir::toNativeSeparators(path));
}

} // namespace sjql::host
