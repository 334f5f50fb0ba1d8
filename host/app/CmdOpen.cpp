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

    if (cl.has(QStringLiteral("screenshot"))) {
        const QString file = QFileInfo(cl.value(QStringLiteral("screenshot"))).absoluteFilePath();
        if (!session.screenshot(file, &error))
            return fail(error);
        printValue(QStringLiteral("screenshot"), QDir::toNativeSeparators(file));
        return 0;
    }
    if (QGuiApplication::platformName() == QLatin1String("offscreen")) {
        note(QStringLiteral("headless: nothing to show, closing (use --screenshot FILE.png for a picture)"));
        return 0;
    }
    return QApplication::exec();
}

} // namespace

SJQL_HOST_COMMAND({
    .name = QStringLiteral("open"),
    .usage = QStringLiteral("--home DIR [--screenshot FILE.png] [--floating]"),
    .summary = QStringLiteral("open the host with the module's window (with --screenshot: save a PNG of the "
                              "main frame once it is shown, then exit)"),
    .valueOptions = {QStringLiteral("screenshot")},
    .flagOptions = {QStringLiteral("floating")},
    .gui = true,
    .run = runOpen,
})

} // namespace sjql::host
