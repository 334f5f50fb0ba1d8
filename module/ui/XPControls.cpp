// SPDX-License-Identifier: MIT
#include "ui/XPControls.h"

#include "ui/UiColor.h"

#include <QEnterEvent>
#include <QPainter>

namespace sjql::ui {

TXPFamerEdit::TXPFamerEdit(QWidget* parent) : QLineEdit(parent) {}

void TXPFamerEdit::SetImeMode(int mode)
{
    FImeMode = mode;
    setAttribute(Qt::WA_InputMethodEnabled, mode != imClose && mode != imDisable);
}

void TXPFamerEdit::focusInEvent(QFocusEvent* event)
{
    QLineEdit::focusInEvent(event);
    if (OnEnter)
        OnEnter(this);
}

TXPFarmerCheckBox::TXPFarmerCheckBox(QWidget* parent) : QCheckBox(parent), FColor(buttonFaceColor())
{
    applyBackground();
}

void TXPFarmerCheckBox::SetColor(const QColor& color)
{
    FColor = color;
    applyBackground();
}

void TXPFarmerCheckBox::SetTransparent(bool transparent)
{
    FTransparent = transparent;
    applyBackground();
}

void TXPFarmerCheckBox::applyBackground()
{
    // A check box paints no background of its own unless asked to fill it.
    setAutoFillBackground(!FTransparent);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, FColor);
    setPalette(pal);
}

TModalSpeedButton::TModalSpeedButton(QWidget* parent)
    : QAbstractButton(parent), FColor(buttonFaceColor()), FColorDown(buttonFaceColor().darker(115)),
      FHotTrackColor(buttonFaceColor().lighter(105)), FShadowColor(QColor(0x80, 0x80, 0x80))
{
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_Hover);
    connect(this, &QAbstractButton::clicked, this, [this] {
        if (isEnabled() && OnClick)
            OnClick(this);
    });
}

void TModalSpeedButton::SetColor(const QColor& c)
{
    FColor = c;
    update();
}

void TModalSpeedButton::SetColorDown(const QColor& c)
{
    FColorDown = c;
    update();
}

void TModalSpeedButton::SetHotTrackColor(const QColor& c)
{
    FHotTrackColor = c;
    update();
}

void TModalSpeedButton::SetShadowColor(const QColor& c)
{
    FShadowColor = c;
    update();
}

QSize TModalSpeedButton::sizeHint() const
{
    const QSize text = fontMetrics().size(Qt::TextShowMnemonic, this->text());
    return QSize(qMax(67, text.width() + 16), qMax(22, text.height() + 8));
}

void TModalSpeedButton::SetDefault(bool isDefault)
{
    FDefault = isDefault;
    update();
}

void TModalSpeedButton::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const QRect r = rect().adjusted(0, 0, -1, -1);
    if (!isEnabled()) {
        // Grayed out in fixed colours: the host's skin gives every control the same text colour in
        // all states, and a disabled button in its normal face looked as if it could be pressed.
        p.fillRect(rect(), QColor(0xF4, 0xF4, 0xF4));
        p.setPen(QColor(0xC8, 0xC8, 0xC8));
        p.drawRect(r);
        p.setPen(QColor(0xA0, 0xA0, 0xA0));
        p.drawText(rect(), Qt::AlignCenter | Qt::TextShowMnemonic, text());
        return;
    }
    QColor face = FColor;
    if (isDown())
        face = FColorDown;
    else if (FHot)
        face = FHotTrackColor;
    p.fillRect(rect(), face);
    p.setPen(FShadowColor.darker(isDown() || FDefault ? 170 : 120));
    p.drawRect(r);
    if (FDefault)
        p.drawRect(r.adjusted(1, 1, -1, -1));
    p.setPen(palette().color(QPalette::ButtonText));
    p.drawText(rect().translated(isDown() ? 1 : 0, isDown() ? 1 : 0), Qt::AlignCenter | Qt::TextShowMnemonic, text());
    if (hasFocus()) {
        p.setPen(QPen(FShadowColor.darker(160), 1, Qt::DotLine));
        p.drawRect(r.adjusted(2, 2, -2, -2));
    }
}

void TModalSpeedButton::enterEvent(QEnterEvent* event)
{
    FHot = true;
    update();
    QAbstractButton::enterEvent(event);
}

void TModalSpeedButton::leaveEvent(QEvent* event)
{
    FHot = false;
    update();
    QAbstractButton::leaveEvent(event);
}

} // namespace sjql::ui
