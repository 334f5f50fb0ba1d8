// SPDX-License-Identifier: MIT
// Window messages between module windows and the host's main frame.
//
// A message is a QEvent whose type() is the message number, sent synchronously with
// QCoreApplication::sendEvent. A bare message carries no payload; a data-copy notice carries the
// number, the text bytes with their terminating zero byte, and the sender's window handle.
#pragma once

#include <QByteArray>
#include <QEvent>

#include <stdint.h>

namespace sjql {

enum HostMessage : int
{
    MSG_CLOSE_MODULE = 1280,  // host -> module window: close
    MSG_MODULE_SHOWN = 1282,  // module -> main frame, data copy: "ModalFormMsg|handle|0|1"
    MSG_HELP_REQUEST = 1296,  // module -> main frame, bare: F1 pressed
    MSG_MODULE_CLOSED = 1302, // module -> main frame, data copy: saved function code
    MSG_SKIN_CHANGED = 1303,  // host -> module window: re-apply colours and fonts
    MSG_PAGE_STATE = 1329,    // module -> main frame, data copy: "max" or "reset"
};

// The non-client activation notice (first parameter 1), sent only to the GetMainFrameHandle window.
constexpr int MSG_NC_ACTIVATE = QEvent::User + 134;

class __attribute__((visibility("default"))) HostMessageEvent : public QEvent
{
public:
    // A bare message.
    explicit HostMessageEvent(int number, intptr_t wParam = 0, intptr_t lParam = 0)
        : QEvent(static_cast<QEvent::Type>(number)), m_number(number), m_wParam(wParam), m_lParam(lParam)
    {}
    // A data-copy notice: `data` holds the text bytes including the terminating zero.
    HostMessageEvent(int number, QByteArray data, uintptr_t sender)
        : QEvent(static_cast<QEvent::Type>(number)), m_number(number), m_copyData(true), m_data(std::move(data)),
          m_wParam(static_cast<intptr_t>(sender))
    {}

    int number() const { return m_number; }
    bool isCopyData() const { return m_copyData; }
    // The bytes as sent, terminating zero included (length plus one).
    const QByteArray& data() const { return m_data; }
    // The text without its terminating zero.
    QByteArray text() const { return m_data.isEmpty() ? QByteArray() : m_data.left(m_data.size() - 1); }
    intptr_t wParam() const { return m_wParam; }
    intptr_t lParam() const { return m_lParam; }

    // True for an event that is one of ours (any of the numbers above).
    static bool isHostMessage(const QEvent* e)
    {
        switch (static_cast<int>(e->type())) {
        case MSG_CLOSE_MODULE:
        case MSG_MODULE_SHOWN:
        case MSG_HELP_REQUEST:
        case MSG_MODULE_CLOSED:
        case MSG_SKIN_CHANGED:
        case MSG_PAGE_STATE:
        case MSG_NC_ACTIVATE:
            return true;
        default:
            return false;
        }
    }

private:
    int m_number;
    bool m_copyData = false;
    QByteArray m_data;
    intptr_t m_wParam = 0;
    intptr_t m_lParam = 0;
};

} // namespace sjql
