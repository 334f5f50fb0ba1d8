// SPDX-License-Identifier: MIT
// Image button driven by real mouse events: hover, press, release over and off the button,
// right button, disabled buttons, empty images.
#include "ui/ImageButton.h"

#include "helpers/UiTestSupport.h"
#include "ui/UiColor.h"

#include <QCursor>
#include <QDialog>
#include <QMouseEvent>
#include <QTest>
#include <QTimer>

using namespace sjql::ui;

namespace {

QImage solid(const QColor& c, int w = 40, int h = 30)
{
    QImage img(w, h, QImage::Format_ARGB32_Premultiplied);
    img.fill(c);
    return img;
}

QColor shown(const TImageButton& b)
{
    return b.LastPainted().pixelColor(5, 5);
}

struct Counts
{
    int click = 0, down = 0, up = 0, enter = 0, leave = 0;
};

// A shown button with all four images of the window descriptions, inside a host widget.
struct Fixture
{
    QWidget host;
    TImageButton* b = new TImageButton(&host);
    Counts n;

    Fixture()
    {
        host.resize(200, 200);
        b->move(50, 50);
        b->SetBitmap(solid(Qt::red));
        b->SetBitmapOver(solid(Qt::green));
        b->SetBitmapDown(solid(Qt::blue));
        b->SetBitmapDisabled(solid(Qt::gray));
        b->OnClick = [this](QObject*) { ++n.click; };
        b->OnMouseDown = [this](QObject*, Qt::MouseButton, Qt::KeyboardModifiers, int, int) { ++n.down; };
        b->OnMouseUp = [this](QObject*, Qt::MouseButton, Qt::KeyboardModifiers, int, int) { ++n.up; };
        b->OnMouseEnter = [this](QObject*) { ++n.enter; };
        b->OnMouseLeave = [this](QObject*) { ++n.leave; };
        host.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&host));
    }
};

} // namespace

using ImageButtonTest = UiTest;

TEST_F(ImageButtonTest, HoverPressAndReleaseOverTheButton)
{
    Fixture f;
    EXPECT_EQ(f.b->size(), QSize(40, 30));
    EXPECT_EQ(shown(*f.b), QColor(Qt::red));
    QTest::mouseMove(&f.host, QPoint(10, 10));
    QTest::mouseMove(f.b, QPoint(10, 10));
    EXPECT_EQ(f.n.enter, 1);
    EXPECT_EQ(shown(*f.b), QColor(Qt::green));

    QTest::mousePress(f.b, Qt::LeftButton, {}, QPoint(10, 10));
    EXPECT_EQ(f.n.down, 1);
    EXPECT_EQ(shown(*f.b), QColor(Qt::blue));
    // Release over the button without an up image: the click, then the over image is drawn, while
    // the current image stays the pressed one.
    QTest::mouseRelease(f.b, Qt::LeftButton, {}, QPoint(10, 10));
    EXPECT_EQ(f.n.click, 1);
    EXPECT_EQ(f.n.up, 1);
    EXPECT_EQ(shown(*f.b), QColor(Qt::green));
    EXPECT_EQ(f.b->CurrentImage().pixelColor(0, 0), QColor(Qt::blue));

    // With an up image, that one is drawn.
    f.b->SetBitmapUp(solid(Qt::yellow));
    QTest::mousePress(f.b, Qt::LeftButton, {}, QPoint(10, 10));
    QTest::mouseRelease(f.b, Qt::LeftButton, {}, QPoint(10, 10));
    EXPECT_EQ(shown(*f.b), QColor(Qt::yellow));
    EXPECT_EQ(f.n.click, 2);

    QTest::mouseMove(&f.host, QPoint(150, 150));
    EXPECT_EQ(f.n.leave, 1);
    EXPECT_EQ(shown(*f.b), QColor(Qt::red));
}

TEST_F(ImageButtonTest, ReleaseAfterDraggingOffShowsTheNormalImageWithoutClick)
{
    Fixture f;
    f.b->SetBitmapUp(solid(Qt::yellow));
    QTest::mousePress(f.b, Qt::LeftButton, {}, QPoint(10, 10));
    QTest::mouseRelease(f.b, Qt::LeftButton, {}, QPoint(100, 100));
    EXPECT_EQ(f.n.click, 0);
    EXPECT_EQ(f.n.up, 1);
    EXPECT_EQ(shown(*f.b), QColor(Qt::red));
}

TEST_F(ImageButtonTest, RightButtonChangesNothing)
{
    Fixture f;
    QTest::mousePress(f.b, Qt::RightButton, {}, QPoint(10, 10));
    QTest::mouseRelease(f.b, Qt::RightButton, {}, QPoint(10, 10));
    EXPECT_EQ(f.n.down, 0);
    EXPECT_EQ(f.n.up, 0);
    EXPECT_EQ(f.n.click, 0);
    EXPECT_EQ(shown(*f.b), QColor(Qt::red));
}

TEST_F(ImageButtonTest, DisabledButtonIgnoresTheMouse)
{
    Fixture f;
    f.b->setEnabled(false);
    EXPECT_EQ(shown(*f.b), QColor(Qt::gray));
    QTest::mouseMove(f.b, QPoint(10, 10));
    QTest::mousePress(f.b, Qt::LeftButton, {}, QPoint(10, 10));
    QTest::mouseRelease(f.b, Qt::LeftButton, {}, QPoint(10, 10));
    QTest::mouseClick(f.b, Qt::LeftButton, {}, QPoint(10, 10));
    QTest::mouseMove(&f.host, QPoint(150, 150));
    EXPECT_EQ(f.n.enter + f.n.leave + f.n.down + f.n.up + f.n.click, 0);
    EXPECT_EQ(shown(*f.b), QColor(Qt::gray));

    // Without a disabled image the current image is drawn even when disabled.
    f.b->SetBitmapDisabled(QImage());
    EXPECT_EQ(shown(*f.b), QColor(Qt::red));
}

TEST_F(ImageButtonTest, ImagesAreCopiedAndOnlyTheNormalOneSizesTheButton)
{
    QWidget host;
    auto* b = new TImageButton(&host);
    host.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&host));
    EXPECT_EQ(b->size(), QSize(50, 50));
    // All images empty: only the button-face fill.
    b->repaint();
    EXPECT_EQ(b->LastPainted().pixelColor(25, 25), buttonFaceColor());

    QImage over = solid(Qt::green, 70, 10);
    b->SetBitmapOver(over);
    EXPECT_EQ(b->size(), QSize(50, 50));
    over.fill(Qt::black); // the button keeps its own copy
    EXPECT_EQ(b->BitmapOver().pixelColor(0, 0), QColor(Qt::green));
    b->SetBitmap(solid(Qt::red, 20, 12));
    EXPECT_EQ(b->size(), QSize(20, 12));
}

// A double click as the window system delivers it (press, release, double click, release) is one
// click and one double click: the hide and show buttons must not switch twice.
TEST_F(ImageButtonTest, DoubleClickIsOneClickAndOneDoubleClick)
{
    Fixture f;
    int doubleClicks = 0;
    f.b->OnDblClick = [&](QObject*) { ++doubleClicks; };
    const QPoint at(10, 10);
    QTest::mousePress(f.b, Qt::LeftButton, {}, at);
    QTest::mouseRelease(f.b, Qt::LeftButton, {}, at);
    QMouseEvent dbl(QEvent::MouseButtonDblClick, QPointF(at), QPointF(f.b->mapToGlobal(at)), Qt::LeftButton,
                    Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(f.b, &dbl);
    QTest::mouseRelease(f.b, Qt::LeftButton, {}, at);
    EXPECT_EQ(f.n.click, 1);
    EXPECT_EQ(doubleClicks, 1);
    // The next single click counts again.
    QTest::mouseClick(f.b, Qt::LeftButton, {}, at);
    EXPECT_EQ(f.n.click, 2);
}

// A click whose handler runs a modal dialog, during which the pointer leaves: the button hears no
// leave, but after the dialog it rests in its normal picture, not in the hover one. A button that
// its own click disabled comes back enabled in its resting picture, not the pressed one.
TEST_F(ImageButtonTest, AfterAModalClickOrBeingEnabledAgainTheButtonRests)
{
    Fixture f;
    const QPoint at(10, 10);
    QTest::mouseMove(f.b, at);
    ASSERT_EQ(shown(*f.b), QColor(Qt::green));
    f.b->OnClick = [&](QObject*) {
        QDialog dialog(&f.host);
        QTimer::singleShot(0, &dialog, [&] {
            QCursor::setPos(f.host.mapToGlobal(QPoint(190, 190)));
            dialog.accept();
        });
        dialog.exec();
    };
    QTest::mousePress(f.b, Qt::LeftButton, {}, at);
    QTest::mouseRelease(f.b, Qt::LeftButton, {}, at);
    EXPECT_EQ(shown(*f.b), QColor(Qt::red));
    EXPECT_EQ(f.b->CurrentImage().pixelColor(0, 0), QColor(Qt::red));

    // The switch buttons disable themselves on their click; the pointer then goes elsewhere.
    f.b->OnClick = [&](QObject*) { f.b->setEnabled(false); };
    QTest::mouseMove(f.b, at);
    QTest::mousePress(f.b, Qt::LeftButton, {}, at);
    QTest::mouseRelease(f.b, Qt::LeftButton, {}, at);
    EXPECT_EQ(shown(*f.b), QColor(Qt::gray));
    QCursor::setPos(f.host.mapToGlobal(QPoint(190, 190)));
    f.b->setEnabled(true);
    EXPECT_EQ(shown(*f.b), QColor(Qt::red)) << "drawn pressed after being enabled again";
}
