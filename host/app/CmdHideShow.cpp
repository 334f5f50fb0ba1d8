// SPDX-License-Identifier: MIT
// sjql-host hide / show: opens the module's window and presses its button that hides (or shows
// again) abnormal taxpayers, as a user does, then prints the switch's state in the user's terms:
//   HideNsr=1                  the flag stored in the user's settings of the host application
//   hide_switch=available      whether this host edition offers the switch (else: unavailable)
//   abnormal_taxpayers=hidden  what the window shows as the current state (else: shown)
//   隐藏非正常纳税人=已启用      the same for people (未启用; 不可用 without the switch)
// A button that takes no click (the switch is not offered, or already in that state) changes
// nothing: the state is printed and the command fails; so does a click the stored flag ignores.
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

struct SwitchState
{
    QString stored;         // HideNsr as stored ("0" when absent)
    bool available = false; // the window offers the switch
    bool hidden = false;    // abnormal taxpayers are hidden
};

// The window's buttons and notice, read as a user reads them: a switch is offered when the notice
// that the edition lacks it is hidden and one of the two buttons takes clicks; the enabled button
// is the way back from the current state.
SwitchState readState(QWidget* form, const QString& appCode)
{
    SwitchState s;
    const QByteArray code = toGbk(appCode);
    s.stored = fromGbk(GetSubAppUserConfigParam(code.constData(), "SysConfig", "HideNsr", "0"));
    auto* hideButton = form->findChild<QWidget*>(QStringLiteral("btnHINT"));
    auto* showButton = form->findChild<QWidget*>(QStringLiteral("btnShow"));
    auto* missingNotice = form->findChild<QLabel*>(QStringLiteral("lblts"));
    const bool canHide = hideButton && hideButton->isEnabled();
    const bool canShow = showButton && showButton->isEnabled();
    s.available = (canHide || canShow) && (!missingNotice || missingNotice->isHidden());
    s.hidden = s.available ? canShow : s.stored != QLatin1String("0");
    return s;
}

void printState(const SwitchState& s)
{
    printValue(QStringLiteral("HideNsr"), s.stored);
    printValue(QStringLiteral("hide_switch"),
               s.available ? QStringLiteral("available") : QStringLiteral("unavailable"));
    printValue(QStringLiteral("abnormal_taxpayers"), s.hidden ? QStringLiteral("hidden") : QStringLiteral("shown"));
    printValue(QStringLiteral("隐藏非正常纳税人"), !s.available ? QStringLiteral("不可用")
                                                   : s.hidden   ? QStringLiteral("已启用")
                                                                : QStringLiteral("未启用"));
}

QString buttonCaption(bool hide)
{
    return hide ? QStringLiteral("隐藏非正常纳税人") : QStringLiteral("显示非正常纳税人");
}

int press(const CommandLine& cl, bool hide)
{
    HostSession session;
    QString error;
    QWidget* form = session.startScripted(cl, &error);
    if (!form)
        return fail(error);
    const QString caption = buttonCaption(hide);
    auto* button = form->findChild<QWidget*>(hide ? QStringLiteral("btnHINT") : QStringLiteral("btnShow"));
    if (!button)
        return fail(QStringLiteral("模块窗口中没有“%1”按钮").arg(caption));
    const SwitchState before = readState(form, session.installation()->config.appCode);
    const bool enabled = button->isEnabled();
    if (enabled) {
        clickWidget(button);
        settle(50);
    }
    const SwitchState after = readState(form, session.installation()->config.appCode);
    printState(after);
    setBoxScript(nullptr);
    if (!before.available)
        return fail(QStringLiteral("当前版本不提供隐藏非正常纳税人的功能，未做任何改动"));
    if (!enabled)
        return fail(hide ? QStringLiteral("非正常纳税人已经是隐藏的，未做任何改动")
                         : QStringLiteral("非正常纳税人已经是显示的，未做任何改动"));
    const QString wanted = hide ? QStringLiteral("1") : QStringLiteral("0");
    if (after.stored != wanted || after.hidden != hide)
        return fail(QStringLiteral("按下“%1”后设置没有改变（HideNsr=%2）").arg(caption, after.stored));
    return 0;
}

// The command that presses one of the two buttons.
Command pressCommand(bool hide)
{
    const QString caption = buttonCaption(hide);
    return {
        .name = hide ? QStringLiteral("hide") : QStringLiteral("show"),
        .usage = QStringLiteral("--home DIR"),
        .summary = QStringLiteral("按下窗口的“%1”，输出开关的状态").arg(caption),
        .details = QStringLiteral("像用户一样打开历史数据清理窗口并按下按钮，然后输出开关的状态：\n"
                                  "  HideNsr=1|0                        用户设置中保存的标志\n"
                                  "  hide_switch=available|unavailable  当前版本是否提供此开关\n"
                                  "  abnormal_taxpayers=hidden|shown    窗口显示的当前状态\n"
                                  "  隐藏非正常纳税人=已启用|未启用|不可用\n"
                                  "开关不可用、或已处于所要的状态时，不做任何改动，退出码为 1。"),
        .gui = true,
        .run = [hide](const CommandLine& cl) { return press(cl, hide); },
    };
}

} // namespace

SJQL_HOST_COMMAND(pressCommand(true))
SJQL_HOST_COMMAND(pressCommand(false))

} // namespace sjql::host
