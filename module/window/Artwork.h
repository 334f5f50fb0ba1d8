// SPDX-License-Identifier: MIT
// The cleanup window's pictures, drawn by the program itself: the background, the separator line
// and the five button faces in their normal, mouse-over, pressed and disabled forms.
//
// Every picture is opaque and painted on the window colour (236, 243, 249), so it sits on the
// background without seams. GUI thread only (QPainter on QImage is thread-safe, fonts are not).
#pragma once

#include <QColor>
#include <QImage>
#include <QSize>

namespace sjql::cleanup {

// The window colour below the gradient: red 236, green 243, blue 249 (COLORREF 0xF9F3EC).
inline QColor WindowBackColor()
{
    return QColor(236, 243, 249);
}

// Vertical gradient from (201, 226, 248) at the top to the window colour at a tenth of the height,
// then flat.
QImage BackgroundPicture(const QSize& size);
// The same picture over another window colour (the host's skin): the gradient starts from a
// deeper shade of that colour, as the light blue is of the default one.
QImage BackgroundPicture(const QSize& size, const QColor& back);

// The separator line of the lower half, 609 by 2. It is kept as JPEG bytes made on first use and
// decoded through Qt's JPEG reader; when no JPEG reader is present the drawn line is used as it is.
QImage SeparatorPicture();
// The JPEG bytes the separator is read from (for tests: they must start with the JPEG marker).
QByteArray SeparatorJpegBytes();

enum class TButtonArt
{
    Browse,  // 浏览...
    Clear,   // 清理数据, with a broom
    Restore, // 数据恢复
    HideNsr, // 隐藏非正常纳税人
    ShowNsr, // 显示非正常纳税人
};

struct TButtonPictures
{
    QImage Normal;
    QImage Over;
    QImage Down;
    QImage Disabled;
};

// The host's default tool-bar colour (COLORREF 0xF7E6D1), the light blue the button faces are made in.
inline QColor DefaultButtonTint()
{
    return QColor(209, 230, 247);
}

// The four faces of a button of the given size, their rounded corners on the window colour. The
// faces take the hue of `tint` (the host skin's tool-bar colour): in the default tint they are the
// light blue ones, under a warm skin warm ones; the hover frame keeps its contrast by turning with
// them. Grays (a tint without hue) leave the faces as they are; the icons keep their colours.
TButtonPictures ButtonPictures(TButtonArt art, const QSize& size, const QColor& back = WindowBackColor(),
                               const QColor& tint = DefaultButtonTint());

} // namespace sjql::cleanup
