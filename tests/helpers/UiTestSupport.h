// SPDX-License-Identifier: MIT
// Test helpers of the window framework: main-frame stand-ins that record the notices they receive,
// and a fixture that starts every test from the default host state.
#pragma once

#include "host/services/HostServicesAdmin.h"
#include "hostapi/HostMessages.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QWidget>

#include <gtest/gtest.h>

#include <vector>

struct ReceivedNotice
{
    int number = 0;
    QByteArray text;
    bool copyData = false;
    intptr_t wParam = 0;
    intptr_t lParam = 0;
};

// Records every host message it receives, in order.
class NoticeRecorder : public QWidget
{
    Q_OBJECT
public:
    std::vector<ReceivedNotice> notices;

    std::vector<ReceivedNotice> of(int number) const
    {
        std::vector<ReceivedNotice> out;
        for (const auto& n : notices)
            if (n.number == number)
                out.push_back(n);
        return out;
    }

protected:
    bool event(QEvent* e) override
    {
        if (sjql::HostMessageEvent::isHostMessage(e)) {
            const auto* m = static_cast<const sjql::HostMessageEvent*>(e);
            notices.push_back({m->number(), m->text(), m->isCopyData(), m->wParam(), m->lParam()});
            return true;
        }
        return QWidget::event(e);
    }
};

// The host's main frame as found by its class name.
class Tfrm_MainFrame : public NoticeRecorder
{
    Q_OBJECT
};

class UiTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        sjql::host::resetState();
        ASSERT_TRUE(home.isValid());
        sjql::host::state().homeDir = home.path() + QLatin1Char('/');
        // Host message boxes are recorded and answered, never shown.
        sjql::host::clearShownBoxes();
        sjql::host::setBoxScript([](const sjql::host::ShownBox&) { return true; });
    }
    void TearDown() override
    {
        // Release whatever closed windows queued for deletion.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        sjql::host::setBoxScript({});
        sjql::host::resetState();
    }

    QTemporaryDir home;
};

// Saves a picture of a widget into the build folder for a person to look at.
inline void saveShot(QWidget* w, const QString& name)
{
    const QString dir = QStringLiteral(SJQL_BINARY_DIR "/ui-shots");
    QDir().mkpath(dir);
    w->grab().save(dir + QLatin1Char('/') + name + QStringLiteral(".png"));
}
