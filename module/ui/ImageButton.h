// SPDX-License-Identifier: MIT
// TImageButton: a button drawn entirely from pictures, one per state: normal, mouse over, pressed,
// released and disabled.
//
// The button owns copies of its six pictures; setting one copies the caller's image. An image with
// no width counts as empty, and a transition to an empty image leaves the picture as it was.
// When the left button is released over the control and no release ("up") image is set, the over
// image is drawn (the pointer is still over the button, so the hover look continues), or the normal
// image when there is no over image; released elsewhere, the normal image is drawn. A click whose
// handler ran a modal dialog ends with the picture where the pointer is then (the dialog kept the
// leave from the button), and a button enabled again shows its resting face, not the pressed one.
// A double click calls OnClick once (first release) and OnDblClick once (second press). GUI thread
// only.
#pragma once

#include <QImage>
#include <QWidget>

#include <functional>

namespace sjql::ui {

class TImageButton : public QWidget
{
    Q_OBJECT
public:
    using TNotify = std::function<void(QObject* sender)>;
    using TMouseNotify =
        std::function<void(QObject* sender, Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y)>;

    explicit TImageButton(QWidget* parent = nullptr);

    // Sets the normal image (and the current one) and sizes the button to it.
    void SetBitmap(const QImage& image);
    void SetBitmapOver(const QImage& image);
    void SetBitmapDown(const QImage& image);
    void SetBitmapUp(const QImage& image);
    void SetBitmapDisabled(const QImage& image);

    const QImage& Bitmap() const { return FNormal; }
    const QImage& BitmapOver() const { return FOver; }
    const QImage& BitmapDown() const { return FDown; }
    const QImage& BitmapUp() const { return FUp; }
    const QImage& BitmapDisabled() const { return FDisabled; }
    const QImage& CurrentImage() const { return FCurrent; }
    // The picture the last paint put on the screen (the face fill with the image on it).
    const QImage& LastPainted() const { return FLastPainted; }

    TNotify OnClick;
    TNotify OnDblClick;
    TMouseNotify OnMouseDown;
    TMouseNotify OnMouseUp;
    TNotify OnMouseEnter;
    TNotify OnMouseLeave;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    static bool IsEmpty(const QImage& image) { return image.width() <= 0; }
    // Draws one picture at once: the face fill, then the image at the top left corner.
    void DrawNow(const QImage& image);
    void ShowState(const QImage& image);
    QImage PaintPicture() const;
    void Click(const TNotify& handler);
    // Whether the pointer is over the visible button now.
    bool PointerOver() const;

    QImage FOver;
    QImage FDown;
    QImage FUp;
    QImage FNormal;
    QImage FCurrent;
    QImage FDisabled;
    QImage FLastPainted;
    // Set while a release picture is drawn directly, without changing the current image.
    const QImage* FDirect = nullptr;
    // Set by the second press of a double click until its release.
    bool FDoubleClicked = false;
};

} // namespace sjql::ui
