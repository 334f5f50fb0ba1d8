// SPDX-License-Identifier: MIT
// sjql-host open: the host's main frame with the module opened in it, as a user starts it.
#include "Commands.h"
#include "HostSession.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>

namespace sjql::host {

namespace {

int runOpen(const CommandLine& cl)
{
    HostSession session;
    QString error;
    if (!session.start(cl, &error))
        return fail(error);
    Tfrm_MainFrame& frame = *session.frame();
    frame.onNotice = [](const QString& line) { printValue(QStringLiteral("notice"), line); };
    QWidget* form = frame.openModule(cl.flag(QStringLiteral("floating")));
    printValue(QStringLiteral("module"),
               form ? QString::fromLatin1(form->metaObject()->className()) : QStringLiteral("(no window)"));
    settle(400);
    printValue(QStringLiteral("status"), frame.statusText());

    if (cl.has(QStringLiteral("screenshot"))) {
        const QString file = QFileInfo(cl.value(QStringLiteral("screenshot"))).absoluteFilePath();
        if (!session.screenshot(file, &error))
            return fail(error);
        printValue(QStringLiteral("screenshot"), QDir::toNativeSeparators(file));
        return 0;
    }
    if (QGuiApplication::platformName() == QLatin1String("offscreen")) {
        note(QStringLiteral("无界面运行：没有可显示的窗口，程序结束（用 --screenshot FILE.png 可保存截图）"));
        return 0;
    }
    return QApplication::exec();
}

} // namespace

SJQL_HOST_COMMAND({
    .name = QStringLiteral("open"),
    .usage = QStringLiteral("--home DIR [--screenshot FILE.png] [--floating]"),
    .summary = QStringLiteral("打开宿主主窗口并在其中打开历史数据清理模块"),
    .details = QStringLiteral("输出收到的模块通知（notice=1282 历史数据清理|...）、打开的窗口类名（module=）和\n"
                              "主窗口状态栏的文字（status=）。\n"
                              "--screenshot FILE.png  主窗口显示后保存截图并退出\n"
                              "--floating             模块窗口不嵌入主窗口，单独显示"),
    .valueOptions = {QStringLiteral("screenshot")},
    .flagOptions = {QStringLiteral("floating")},
    .gui = true,
    .run = runOpen,
})

} // namespace sjql::host
