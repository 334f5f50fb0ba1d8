// SPDX-License-Identifier: MIT
// sjql-host: the reference host of the cleanup module. "sjql-host <command> [options]"; the commands
// are in the table of Commands.h (one Cmd*.cpp file each).
#include "Commands.h"
#include "host/services/HostServicesAdmin.h"

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

void writeOut(const QString& text, FILE* to)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), to);
}

const QString kExitCodes = QStringLiteral(
    "退出码：0 完成；1 命令无法执行；2 命令行有误。clear 和 restore 另有：3 运行完成，但有结果行报告失败；\n"
    "4 被中断（Ctrl-C、SIGTERM、SIGHUP 让运行在两个月份之间停下）；5 另一个备份或恢复正占用锁。\n"
    "它们的最后一行是 result=<本次运行的摘要>。\n");

void printUsage(FILE* to)
{
    QString text = QStringLiteral("用法：sjql-host <命令> [选项]\n"
                                  "      sjql-host <命令> --help    显示该命令的用法\n"
                                  "      sjql-host --version       显示版本\n\n命令：\n");
    for (const Command& c : commands())
        text += QStringLiteral("  %1 %2\n      %3\n").arg(c.name, c.usage, c.summary);
    text += QStringLiteral("\n每个命令都接受 --home DIR：安装目录，默认为环境变量 SJQL_HOST_HOME，未设置时为 %1。\n"
                           "标准输出是 UTF-8 的“名称=值”行，名称固定不变，供脚本读取；出错和提示信息写到标准错误。\n\n")
                .arg(QStringLiteral("~/.local/share/sjql-host"));
    text += kExitCodes;
    writeOut(text, to);
}

void printCommandHelp(const Command& c)
{
    QString text = QStringLiteral("用法：sjql-host %1 %2\n\n%3\n").arg(c.name, c.usage, c.summary);
    if (!c.details.isEmpty())
        text += QLatin1Char('\n') + c.details.trimmed() + QLatin1Char('\n');
    if (c.name != QLatin1String("encrypt-config"))
        text += QStringLiteral("\n--home DIR：安装目录，默认为环境变量 SJQL_HOST_HOME，未设置时为 "
                               "~/.local/share/sjql-host。\n");
    if (c.name == QLatin1String("clear") || c.name == QLatin1String("restore"))
        text += QLatin1Char('\n') + kExitCodes;
    writeOut(text, stdout);
}

const Command* findCommand(const QString& name)
{
    for (const Command& c : commands()) {
        if (c.name == name)
            return &c;
    }
    return nullptr;
}

bool isHelpOption(const QString& arg)
{
    return arg == QLatin1String("--help") || arg == QLatin1String("-h");
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
                    *error = QStringLiteral("选项 --%1 缺少值").arg(name);
                    return false;
                }
                value = next;
                ++i;
            }
            if (value.isEmpty()) {
                *error = QStringLiteral("选项 --%1 缺少值").arg(name);
                return false;
            }
            if (cl->values.contains(name)) {
                *error = QStringLiteral("选项 --%1 给了不止一次（“%2”和“%3”），只能给一次")
                             .arg(name, cl->values.value(name), value);
                return false;
            }
            cl->values.insert(name, value);
        } else if (command.flagOptions.contains(name)) {
            if (hasValue) {
                *error = QStringLiteral("选项 --%1 不带值").arg(name);
                return false;
            }
            if (!cl->flags.contains(name))
                cl->flags << name;
        } else {
            *error = QStringLiteral("未知选项 --%1").arg(name);
            return false;
        }
    }
    if (command.maxPositional >= 0 && cl->positional.size() > command.maxPositional) {
        const QStringList extra = cl->positional.mid(command.maxPositional);
        *error = command.maxPositional == 0
                     ? QStringLiteral("多余的参数“%1”（选项以 -- 开头）").arg(extra.join(QStringLiteral("”“")))
                     : QStringLiteral("参数过多：“%1”").arg(extra.join(QStringLiteral("”“")));
        return false;
    }
    return true;
}

bool haveDisplay()
{
    return !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

// What Qt itself prints about the platform that helps nobody running the host: the offscreen
// platform warns of every window operation it leaves out ("This plugin does not support raise()"),
// and QStandardPaths notes the missing XDG_RUNTIME_DIR of a session without login (it makes a
// folder of its own). Only these exact messages of Qt's are dropped; everything else, our own
// warnings included, goes to the handler that was there before.
bool isPlatformChatter(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type != QtWarningMsg && type != QtDebugMsg && type != QtInfoMsg)
        return false;
    if (context.category && qstrcmp(context.category, "default") != 0)
        return false;
    return message.startsWith(QLatin1String("This plugin does not support ")) ||
           message.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR not set"));
}

QtMessageHandler gPreviousHandler = nullptr;

void filterPlatformChatter(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (isPlatformChatter(type, context, message))
        return;
    if (gPreviousHandler) {
        gPreviousHandler(type, context, message);
        return;
    }
    writeOut(qFormatLogMessage(type, context, message) + QLatin1Char('\n'), stderr);
}

} // namespace

int main(int argc, char** argv)
{
    gPreviousHandler = qInstallMessageHandler(filterPlatformChatter);
    if (argc < 2) {
        printUsage(stderr);
        return kExitUsage;
    }
    const QString name = QString::fromLocal8Bit(argv[1]);
    if (isHelpOption(name) || name == QLatin1String("help")) {
        // "sjql-host help clear" is "sjql-host clear --help".
        const Command* about = argc > 2 ? findCommand(QString::fromLocal8Bit(argv[2])) : nullptr;
        if (about)
            printCommandHelp(*about);
        else
            printUsage(stdout);
        return 0;
    }
    if (name == QLatin1String("--version")) {
        writeOut(QStringLiteral("sjql-host %1\n").arg(QLatin1String(SJQL_HOST_VERSION)), stdout);
        return 0;
    }
    const Command* command = findCommand(name);
    if (!command)
        return usageError(QStringLiteral("未知命令“%1”").arg(name));
    setCurrentCommandName(command->name);
    // "--help" anywhere after the command shows its help and does nothing else, whatever the rest
    // of the line says.
    for (int i = 2; i < argc; ++i) {
        if (isHelpOption(QString::fromLocal8Bit(argv[i]))) {
            printCommandHelp(*command);
            return 0;
        }
    }
    CommandLine cl;
    cl.command = command->name;
    QString error;
    if (!parseOptions(*command, argc, argv, &cl, &error))
        return usageError(error);

    std::unique_ptr<QCoreApplication> app;
    if (command->gui) {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && !haveDisplay()) {
            qputenv("QT_QPA_PLATFORM", "offscreen");
            note(QStringLiteral("没有图形显示（DISPLAY 未设置），在 offscreen 平台上无界面运行"));
        }
        app = std::make_unique<QApplication>(argc, argv);
    } else {
        app = std::make_unique<QCoreApplication>(argc, argv);
    }
    QCoreApplication::setApplicationName(QStringLiteral("sjql-host"));
    QCoreApplication::setApplicationVersion(QLatin1String(SJQL_HOST_VERSION));
    // Qt's own texts (standard buttons, file dialogs) in Chinese, like the rest of the host.
    if (!installChineseTranslations(&error) && command->gui)
        note(error);
    try {
        return command->run(cl);
    } catch (const std::exception& e) {
        return fail(QStringLiteral("意外的错误：%1").arg(QString::fromLocal8Bit(e.what())));
    }
}
