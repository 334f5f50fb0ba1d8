// SPDX-License-Identifier: MIT
// Test helpers of the window framework: main-frame stand-ins that record the notices they receive,
// and a fixture that starts every test from the default host state.
#pragma once

#include "host/services/HostServicesAdmin.h"
#include "hostapi/HostMessages.h"

#include <QApplication>
#include <QImage>
#include <QTemporaryDir>
#include <QWidget>

#include <gtest/gtest.h>

#include <ostream>
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

// Colours in failure messages as #rrggbb.
inline void PrintTo(const QColor& c, std::ostream* os)
{
    *os << c.name().toStdString();
}

// How many pixels of `image` inside `area` have the colour `c`, each channel within `tolerance`
// (anti-aliased text has its pure colour only in the middle of its strokes).
inline int pixelsOf(const QImage& image, const QRect& area, const QColor& c, int tolerance = 0)
{
    int n = 0;
    const QRect r = area.intersected(image.rect());
    for (int y = r.top(); y <= r.bottom(); ++y) {
        for (int x = r.left(); x <= r.right(); ++x) {
            const QColor p = image.pixelColor(x, y);
            n += qAbs(p.red() - c.red()) <= tolerance && qAbs(p.green() - c.green()) <= tolerance &&
                         qAbs(p.blue() - c.blue()) <= tolerance
                     ? 1
                     : 0;
        }
    }
    return n;
}
