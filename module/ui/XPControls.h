// SPDX-License-Identifier: MIT
// The XP-style controls the module's windows are built from: an edit with input-method settings,
// a check box with its own colour, and a flat button with its own colours.
//
// All of them live on the GUI thread and are owned by their parent widget.
#pragma once

#include <QAbstractButton>
#include <QCheckBox>
#include <QColor>
#include <QLineEdit>

#include <functional>

namespace sjql::ui {

// Input-method modes of an edit, numbered as the platform numbers them.
enum TImeMode : int
{
    imDisable = 0,
    imClose = 1,
    imOpen = 2,
    imDontCare = 3,
    imSAlpha = 4,
    imAlpha = 5,
    imHira = 6,
    imSKata = 7,
    imKata = 8,
    imChinese = 9,
    imSHanguel = 10,
    imHanguel = 11,
};

// An enter handler: called with the control that received the focus.
using TNotifyEvent = std::function<void(QObject* sender)>;

class TXPFamerEdit : public QLineEdit
{
    Q_OBJECT
public:
    explicit TXPFamerEdit(QWidget* parent = nullptr);

    int ImeMode() const { return FImeMode; }
    // Input methods that are closed or disabled take no composed input here.
    void SetImeMode(int mode);
    QString ImeName() const { return FImeName; }
    void SetImeName(const QString& name) { FImeName = name; }

    // Runs whenever the edit receives the focus; may be empty.
    TNotifyEvent OnEnter;

protected:
    void focusInEvent(QFocusEvent* event) override;

private:
    int FImeMode = imDontCare;
    QString FImeName;
};

class TXPFarmerCheckBox : public QCheckBox
{
    Q_OBJECT
public:
    explicit TXPFarmerCheckBox(QWidget* parent = nullptr);

    QColor Color() const { return FColor; }
    void SetColor(const QColor& color);
    // A transparent box lets its parent's background show through instead of its colour.
    bool Transparent() const { return FTransparent; }
    void SetTransparent(bool transparent);

private:
    void applyBackground();

    QColor FColor;
    bool FTransparent = false;
};

// A flat button drawn in its own colours: face, face while held down, face under the mouse, and
// the shadow colour of its frame. A disabled button is drawn grayed out (pale face, gray caption)
// whatever its colours and palette say, so that it never looks usable. Space presses the focused
// button; Enter and Esc press it only when its dialog names it as its default or escape button
// (Tfrm_CustomDlg::SetKeyButtons), and the default button carries a darker frame.
class TModalSpeedButton : public QAbstractButton
{
    Q_OBJECT
public:
    explicit TModalSpeedButton(QWidget* parent = nullptr);

    QColor Color() const { return FColor; }
    void SetColor(const QColor& c);
    QColor ColorDown() const { return FColorDown; }
    void SetColorDown(const QColor& c);
    QColor HotTrackColor() const { return FHotTrackColor; }
    void SetHotTrackColor(const QColor& c);
    QColor ShadowColor() const { return FShadowColor; }
    void SetShadowColor(const QColor& c);

    // The click handler; runs after the clicked() signal, only when the button is enabled.
    TNotifyEvent OnClick;

    // Drawn as the button that Enter presses.
    bool IsDefault() const { return FDefault; }
    void SetDefault(bool isDefault);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    QColor FColor;
    QColor FColorDown;
    QColor FHotTrackColor;
    QColor FShadowColor;
    bool FHot = false;
    bool FDefault = false;
};

} // namespace sjql::ui
