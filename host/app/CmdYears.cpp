// SPDX-License-Identifier: MIT
// sjql-host years: opens the module's window as a user does and prints the years it offers for
// cleanup, in box order ("years=2023年,2022年,..."), or the window's "无历史数据" when there are none.
// A year whose cleared months still lie unpacked in the agent's work folder carries the window's
// mark ("2019年(未完成)"). Message boxes the module shows on the way are printed as "box=...",
// among them the window's notice of such years.
#include "Commands.h"
#include "HostSession.h"
#include "host/services/HostServicesAdmin.h"

#include <QCheckBox>
#include <QLabel>

namespace sjql::host {

namespace {

int runYears(const CommandLine& cl)
{
    HostSession session;
    QString error;
    // Headless: boxes are recorded and answered with OK instead of waiting for a user.
    QWidget* form = session.startScripted(cl, &error);
    if (!form)
        return fail(error);

    QStringList captions;
    for (int i = 0; i < 10; ++i) {
        auto* box = form->findChild<QCheckBox*>(QStringLiteral("CBX%1").arg(i));
        if (box && !box->isHidden())
            captions << box->text();
    }
    if (captions.isEmpty()) {
        auto* none = form->findChild<QLabel*>(QStringLiteral("lblwsj"));
        if (none && !none->isHidden())
            captions << none->text();
    }
    printValue(QStringLiteral("years"), captions.join(QLatin1Char(',')));
    setBoxScript(nullptr);
    return 0;
}

} // namespace

SJQL_HOST_COMMAND({
    .name = QStringLiteral("years"),
    .usage = QStringLiteral("--home DIR"),
    .summary = QStringLiteral("输出模块窗口中可供清理的年度"),
    .details = QStringLiteral("像用户一样打开历史数据清理窗口，按年度框的顺序输出其标题：years=2023年,2022年,...；\n"
                              "没有历史数据时为 years=无历史数据。工作文件夹中还有已清理、未打包的月份的年度\n"
                              "标为“2019年(未完成)”。窗口途中显示的提示框输出为 box=<提示文字>。"),
    .gui = true,
    .run = runYears,
})

} // namespace sjql::host
