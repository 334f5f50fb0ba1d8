// SPDX-License-Identifier: MIT
// sjql-host hide / show: opens the module's window and presses its button that hides (or shows
// again) abnormal taxpayers, as a user does, then prints the switch's state: the stored flag
// ("HideNsr=1"), each button enabled or disabled, and whether the upgrade notice is visible.
// A disabled button takes no click: the state is printed and the command fails.
#include "Commands.h"
#include "HostSession.h"
#include "host/services/HostServicesAdmin.h"
#include "hostapi/Gbk.h"
#include "hostapi/ModuleLib.h"

#include <QCoreApplication>
#include <QLabel>
#include <QMouseEvent>

namespace sjql::host {

namespace {

void printState(QWidget* form, const QString& appCode)
{
    const QByteArray code = toGbk(appCode);
    printValue(QStringLiteral("HideNsr"),
               fromGbk(GetSubAppUserConfigParam(code.constData(), "SysConfig", "HideNsr", "0")));
    for (const char* name : {"btnHINT", "btnShow"}) {
        auto* b = form->findChild<QWidget*>(QLatin1String(name));
        printValue(QLatin1String(name), b && b->isEnabled() ? QStringLiteral("enabled") : QStringLiteral("disabled"));
    }
    auto* notice = form->findChild<QLabel*>(QStringLiteral("lblts"));
    printValue(QStringLiteral("lblts"),
               notice && !notice->isHidden() ? QStringLiteral("visible") : QStringLiteral("hidden"));
}

int press(const CommandLine& cl, const char* buttonName)
{
    HostSession session;
    QString error;
    if (!session.start(cl, &error))
        return fail(error);
    QWidget* form = session.openScriptedModule(&error);
    if (!form)
        return fail(error);
    auto* button = form->findChild<QWidget*>(QLatin1String(buttonName));
    if (!button)
        return fail(QStringLiteral("the window has no %1").arg(QLatin1String(buttonName)));
    const bool enabled = button->isEnabled();
    if (enabled) {
        clickWidget(button);
        settle(50);
    }
    printState(form, session.installation()->config.appCode);
    setBoxScript(nullptr);
    if (!enabled)
        return fail(QStringLiteral("%1 is disabled: nothing was changed").arg(QLatin1String(buttonName)));
    return 0;
}

} // namespace

SJQL_HOST_COMMAND({
    .name = QStringLiteral("hide"),
    .usage = QStringLiteral("--home DIR"),
    .summary = QStringLiteral("press the window's button that hides abnormal taxpayers; print the switch's state"),
    .valueOptions = {},
    .flagOptions = {},
    .gui = true,
    .run = [](const CommandLine& cl) { return press(cl, "btnHINT"); },
})

SJQL_HOST_COMMAND({
    .name = QStringLiteral("show"),
    .usage = QStringLiteral("--home DIR"),
    .summary =
        QStringLiteral("press the window's button that shows abnormal taxpayers again; print the switch's state"),
    .valueOptions = {},
    .flagOptions = {},
    .gui = true,
    .run = [](const CommandLine& cl) { return press(cl, "btnShow"); },
})

} // namespace sjql::host
