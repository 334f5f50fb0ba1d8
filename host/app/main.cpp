// SPDX-License-Identifier: MIT
// sjql-host: the reference host of the cleanup module. "sjql-host <command> [options]"; the commands
// are in the table of Commands.h (one Cmd*.cpp file each).
#include "Commands.h"

#include <QApplication>
#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace sjql::host {
void setCurrentCommandName(const QString& name); // Commands.cpp
}

namespace {

using namespace sjql::host;

void printUsage(FILE* to)
{
    QString text = QStringLiteral("usage: sjql-host <command> [options]\n\ncommands:\n");
    for (const Command& c : commands()) {
        text += QStringLiteral("  %1 %2\n      %3\n").arg(c.name, c.usage, c.summary);
    }
    text += QStringLiteral("\nEvery command takes --home DIR (the installation folder; default: %1).\n")
                .arg(QStringLiteral("~/.local/share/sjql-host"));
    text += QStringLiteral(
        "\nExit codes: 0 done, 1 the command could not run, 2 wrong command line; clear and restore also\n"
        "3 a result line reports a failure, 4 interrupted (Ctrl-C, SIGTERM, SIGHUP stop them between months),\n"
        "5 another backup or restore holds the lock. Their last line is result=<summary of the run>.\n");
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), to);
}

const Command* findCommand(const QString& name)
{
    for (const Command& c : commands()) {
        if (c.name == name)
            return &c;
    }
    return nullptr;
}

// Parses the options of `command`; false with *error set when the command line is wrong: an
// unknown option, a value option without a value or given twice (which of the two was meant is
// not ours to guess), a flag with a value, or more arguments than the command takes.
bool parseOptions(const Command& command, int argc, char** argv, CommandLine* cl, QString* error)
{
    QStringList valueOptions = command.valueOptions;
    valueOptions << QStringLiteral("home");
    for (int i = 2; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        if (!arg.startsWith(QStringLiteral("--"))) {
            cl->positional << arg;
            continue;
        }
        QString name = arg.mid(2);
        QString value;
        bool hasValue = false;
        if (const qsizetype eq = name.indexOf(QLatin1Char('=')); eq >= 0) {
            value = name.mid(eq + 1);
            name = name.left(eq);
            hasValue = true;
        }
        if (valueOptions.contains(name)) {
            if (!hasValue) {
                // "--years --backup-dir X": the next option is not the value of this one.
                const QString next = i + 1 < argc ? QString::fromLocal8Bit(argv[i + 1]) : QString();
                if (i + 1 >= argc || next.startsWith(QStringLiteral("--"))) {
                    *error = QStringLiteral("option --%1 needs a value").arg(name);
                    return false;
                }
                value = next;
                ++i;
            }
            if (value.isEmpty()) {
                *error = QStringLiteral("option --%1 needs a value").arg(name);
                return false;
            }
            if (cl->values.contains(name)) {
                *error = QStringLiteral("option --%1 is given more than once (\"%2\" and \"%3\"); give it once")
                             .arg(name, cl->values.value(name), value);
                return false;
            }
            cl->values.insert(name, value);
        } else if (command.flagOptions.contains(name)) {
            if (hasValue) {
                *error = QStringLiteral("option --%1 takes no value").arg(name);
                return false;
            }
            if (!cl->flags.contains(name))
                cl->flags << name;
        } else {
            *error = QStringLiteral("unknown option --%1 (see sjql-host --help)").arg(name);
            return false;
        }
    }
    if (command.maxPositional >= 0 && cl->positional.size() > command.maxPositional) {
        const QStringList extra = cl->positional.mid(command.maxPositional);
        *error = command.maxPositional == 0
                     ? QStringLiteral("unexpected argument \"%1\" (options start with --; see sjql-host --help)")
                           .arg(extra.join(QStringLiteral("\", \"")))
                     : QStringLiteral("too many arguments: \"%1\"").arg(extra.join(QStringLiteral("\", \"")));
        return false;
    }
    return true;
}

bool haveDisplay()
{
    return !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        printUsage(stderr);
        return 2;
    }
    const QString name = QString::fromLocal8Bit(argv[1]);
    if (name == QLatin1String("--help") || name == QLatin1String("-h") || name == QLatin1String("help")) {
        printUsage(stdout);
        return 0;
    }
    const Command* command = findCommand(name);
    if (!command) {
        fail(QStringLiteral("unknown command \"%1\" (see sjql-host --help)").arg(name));
        return 2;
    }
    setCurrentCommandName(command->name);
    CommandLine cl;
    cl.command = command->name;
    QString error;
    if (!parseOptions(*command, argc, argv, &cl, &error)) {
        fail(error);
        return 2;
    }

    std::unique_ptr<QCoreApplication> app;
    if (command->gui) {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && !haveDisplay()) {
            qputenv("QT_QPA_PLATFORM", "offscreen");
            note(QStringLiteral("no DISPLAY: running headless on the offscreen platform"));
        }
        app = std::make_unique<QApplication>(argc, argv);
    } else {
        app = std::make_unique<QCoreApplication>(argc, argv);
    }
    QCoreApplication::setApplicationName(QStringLiteral("sjql-host"));
    try {
        return command->run(cl);
    } catch (const std::exception& e) {
        return fail(QStringLiteral("unexpected failure: %1").arg(QString::fromLocal8Bit(e.what())));
    }
}
