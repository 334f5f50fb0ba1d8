// SPDX-License-Identifier: MIT
// Notices from module windows to the host's main frame: data-copy notices and bare
// messages, sent synchronously as sjql::HostMessageEvent (hostapi/HostMessages.h).
//
// The target is the widget of GetMainFrameHandle(), else the first top-level widget whose class is
// "Tfrm_MainFrame"; with neither, nothing is sent. GUI thread only; nothing here throws.
#pragma once

#include "hostapi/ModuleLib.h"

#include <QByteArray>
#include <QString>

class QWidget;

namespace sjql {

// The main frame as described above, or null.
QWidget* FindMainFrame();

// The application window handle the host gave ShowSJQL; sent as the sender of every data-copy
// notice. 0 (the default) means GetAppHandle().
void SetModuleAppWindow(SjqlWindowHandle handle);
SjqlWindowHandle ModuleAppWindow();

// Sends a data-copy notice: the bytes plus a terminating zero, the sender in the first parameter.
// True when a main frame was found and the event was sent.
bool NotifyMainFrame(int number, const QByteArray& gbkText);
// The same for a text, converted to GBK.
bool NotifyMainFrame(int number, const QString& text);
// Sends a bare message (both parameters 0) to the main frame.
bool SendMainFrameMessage(int number);
// The non-client activation notice (first parameter 1), only to the GetMainFrameHandle widget.
bool SendMainFrameNcActivate();

} // namespace sjql
