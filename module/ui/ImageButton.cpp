// SPDX-License-Identifier: MIT
#include "ui/ImageButton.h"

#include "ui/UiColor.h"

#include <QCursor>
#include <QEnterEvent>
#include <QMouseEvent>
#include <QPainter>

#include <utility>

namespace sjql::ui {

TImageButton::TImageButton(QWidget* parent) : QWidget(parent)
{
    resize(50, 50);
    setAttribute(Qt::WA_OpaquePaintEvent);
    // Hints are shown for the button.
    setToolTipDuration(-1);
}

void TImageButton::SetBitmap(const QImage& image)
{
    FNormal = image.copy();
    FCurrent = FNormal;
    if (!IsEmpty(FNormal))
        resize(FNormal.size());
    DrawNow(FCurrent);
}

void TImageButton::SetBitmapOver(const QImage& image)
{
    FOver = image.copy();
    DrawNow(FCurrent);
}

void TImageButton::SetBitmapDown(const QImage& image)
{
    FDown = image.copy();
    DrawNow(FCurrent);
}

void TImageButton::SetBitmapUp(const QImage& image)
{
    FUp = image.copy();
    DrawNow(FCurrent);
}

void TImageButton::SetBitmapDisabled(const QImage& image)
{
    FDisabled = image.copy();
    if (!isEnabled() && !IsEmpty(FDisabled))
        resize(FDisabled.size());
    DrawNow(FCurrent);
}

QImage TImageButton::PaintPicture() const
{
    QImage picture(size(), QImage::Format_ARGB32_Premultiplied);
    QPainter p(&picture);
    p.fillRect(rect(), buttonFaceColor());
    if (!isEnabled() && !IsEmpty(FDisabled))
        p.drawImage(0, 0, FDisabled);
    else if (FDirect)
        p.drawImage(0, 0, *FDirect);
    else
        p.drawImage(0, 0, FCurrent.width() > 0 ? FCurrent : FNormal);
    return picture;
}

void TImageButton::paintEvent(QPaintEvent*)
{
    if (IsEmpty(FCurrent))
        FCurrent = FNormal;
    FLastPainted = PaintPicture();
    QPainter p(this);
    p.drawImage(0, 0, FLastPainted);
}

void TImageButton::DrawNow(const QImage& image)
{
    // `image` is one of the members; a release draws its picture without making it current.
    FDirect = (&image == &FCurrent) ? nullptr : &image;
    if (isVisible())
        repaint();
    else
        FLastPainted = PaintPicture();
    FDirect = nullptr;
}

void TImageButton::ShowState(const QImage& image)
{
    if (IsEmpty(image))
        return;
    FCurrent = image;
    resize(image.size());
    DrawNow(FCurrent);
}

void TImageButton::enterEvent(QEnterEvent* event)
{
    QWidget::enterEvent(event);
    if (!isEnabled())
        return;
    if (OnMouseEnter)
        OnMouseEnter(this);
    ShowState(FOver);
}

void TImageButton::leaveEvent(QEvent* event)
{
    QWidget::leaveEvent(event);
    if (!isEnabled())
        return;
    if (OnMouseLeave)
        OnMouseLeave(this);
    ShowState(FNormal);
}

void TImageButton::mousePressEvent(QMouseEvent* event)
{
    QWidget::mousePressEvent(event);
    if (event->button() != Qt::LeftButton || !isEnabled())
        return;
    if (OnMouseDown)
        OnMouseDown(this, event->button(), event->modifiers(), event->position().toPoint().x(),
                    event->position().toPoint().y());
    ShowState(FDown);
}

void TImageButton::mouseReleaseEvent(QMouseEvent* event)
{
    QWidget::mouseReleaseEvent(event);
    // The release that ends a double click is no click of its own: the double click was.
    const bool endsDoubleClick = std::exchange(FDoubleClicked, false);
    if (event->button() != Qt::LeftButton || !isEnabled())
        return;
    const QPoint pos = event->position().toPoint();
    bool over = rect().contains(pos);
    // The click comes first, on release over the control: it paints the current (pressed) picture.
    if (over && !endsDoubleClick) {
        Click(OnClick);
        // The handler may have run a modal dialog, during which the pointer left without the button
        // hearing of it: the picture follows where the pointer is now.
        over = PointerOver();
        if (!over)
            FCurrent = FNormal;
    }
    if (!isEnabled())
        return;
    if (OnMouseUp)
        OnMouseUp(this, event->button(), event->modifiers(), pos.x(), pos.y());
    const QImage* release = &FNormal;
    if (over)
        release = !IsEmpty(FUp) ? &FUp : (!IsEmpty(FOver) ? &FOver : &FNormal);
    if (IsEmpty(*release))
        return;
    resize(release->size());
    DrawNow(*release);
}

void TImageButton::mouseDoubleClickEvent(QMouseEvent* event)
{
    // The second press of a double click is a press as well, followed by the double-click handler;
    // its release then clicks nothing more. A double click is one click and one double click.
    mousePressEvent(event);
    if (event->button() == Qt::LeftButton) {
        FDoubleClicked = true;
        Click(OnDblClick);
    }
}

bool TImageButton::PointerOver() const
{
    return isVisible() && rect().contains(mapFromGlobal(QCursor::pos()));
}

void TImageButton::Click(const TNotify& handler)
{
    DrawNow(FCurrent);
    if (isEnabled() && handler)
        handler(this);
}

void TImageButton::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::EnabledChange) {
        if (!isEnabled() && !IsEmpty(FDisabled))
            resize(FDisabled.size());
        // A button enabled again rests (or shows its hover face when the pointer is on it): the
        // pressed face of the click that disabled it belongs to the past.
        if (isEnabled()) {
            const QImage& face = PointerOver() && !IsEmpty(FOver) ? FOver : FNormal;
            if (!IsEmpty(face)) {
                FCurrent = face;
                resize(face.size());
            }
        }
        DrawNow(FCurrent);
    }
}

} // namespace sjql::ui
