// SPDX-License-Identifier: MIT
#include "ui/HostNotices.h"

#include "hostapi/Gbk.h"
#include "hostapi/HostMessages.h"

#include <QApplication>
#include <QWidget>

#include <cstring>

namespace sjql {

namespace {

SjqlWindowHandle& appWindowSlot()
{
    static SjqlWindowHandle handle = 0;
    return handle;
}

QWidget* frameFromHandle()
{
    const SjqlWindowHandle handle = GetMainFrameHandle();
    return handle ? QWidget::find(WId(handle)) : nullptr;
}

} // namespace

QWidget* FindMainFrame()
{
    if (QWidget* frame = frameFromHandle())
        return frame;
    const QWidgetList tops = QApplication::topLevelWidgets();
    for (QWidget* w : tops) {
        if (std::strcmp(w->metaObject()->className(), "Tfrm_MainFrame") == 0)
            return w;
    }
    return nullptr;
}

void SetModuleAppWindow(SjqlWindowHandle handle)
{
    appWindowSlot() = handle;
}

SjqlWindowHandle ModuleAppWindow()
{
    return appWindowSlot() ? appWindowSlot() : GetAppHandle();
}

bool NotifyMainFrame(int number, const QByteArray& gbkText)
{
    QWidget* frame = FindMainFrame();
    if (!frame)
        return false;
    // The data are the text bytes and their terminating zero: length plus one bytes.
    QByteArray data(gbkText.constData(), gbkText.size());
    data.append('\0');
    HostMessageEvent notice(number, std::move(data), uintptr_t(ModuleAppWindow()));
    QCoreApplication::sendEvent(frame, &notice);
    return true;
}

bool NotifyMainFrame(int number, const QString& text)
{
    return NotifyMainFrame(number, toGbk(text));
}

bool SendMainFrameMessage(int number)
{
    QWidget* frame = FindMainFrame();
    if (!frame)
        return false;
    HostMessageEvent message(number, 0, 0);
    QCoreApplication::sendEvent(frame, &message);
    return true;
}

bool SendMainFrameNcActivate()
{
    QWidget* frame = frameFromHandle();
    if (!frame)
        return false;
    HostMessageEvent message(MSG_NC_ACTIVATE, 1, 0);
    QCoreApplication::sendEvent(frame, &message);
    return true;
}

} // namespace sjql
