// SPDX-License-Identifier: MIT
#include "ui/Gauge.h"

#include <QPainter>

#include <cmath>
#include <numbers>

namespace sjql::ui {

namespace {

// Rectangles here follow the window framework's convention: right and bottom are exclusive.
struct Box
{
    int left, top, right, bottom;
};

void fillBox(QPainter& p, int l, int t, int r, int b, const QColor& c)
{
    if (r > l && b > t)
        p.fillRect(QRect(l, t, r - l, b - t), c);
}

// Round to nearest, a tie going to the even integer.
int nearest(double v)
{
    return static_cast<int>(std::nearbyint(v));
}

// Angle in 1/16 degree of a radial point as seen from the centre of a bounding box, counter-clockwise
// from three o'clock.
int radialAngle16(const QRectF& box, double x, double y)
{
    const QPointF c = box.center();
    double deg = std::atan2(-(y - c.y()), x - c.x()) * 180.0 / std::numbers::pi;
    if (deg < 0)
        deg += 360.0;
    return static_cast<int>(std::lround(deg * 16.0));
}

// A pie in the bounding box (l, t, r, b), running counter-clockwise from the first radial point to
// the second; equal points give the whole ellipse.
void drawPieEx(QPainter& p, int l, int t, int r, int b, double x1, double y1, double x2, double y2)
{
    const QRectF box(l, t, r - l - 1, b - t - 1);
    const int a1 = radialAngle16(box, x1, y1);
    const int a2 = radialAngle16(box, x2, y2);
    int span = a2 - a1;
    if (span <= 0)
        span += 360 * 16;
    p.drawPie(box, a1, span);
}

QImage blackImage(const QSize& size)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::black);
    return image;
}

void xorInto(QImage& target, const QImage& source)
{
    QPainter p(&target);
    p.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
    p.drawImage(0, 0, source);
}

Box boxOf(const QRect& r)
{
    return Box{r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
}

} // namespace

void TBltBitmap::MakeLike(const QImage& templ)
{
    QImage image(templ.size(), QImage::Format_RGB32);
    image.fill(Qt::black); // the window-frame colour
    static_cast<QImage&>(*this) = image;
}

int PercentOf(int x, int z)
{
    if (z == 0)
        return 0;
    return static_cast<int>(std::trunc(x * 100.0 / z));
}

int ScaleByPercent(int p, int size)
{
    return static_cast<int>(std::trunc(size * (p * 0.01)));
}

TGauge::TGauge(QWidget* parent) : QWidget(parent)
{
    // The gauge paints every pixel of its area itself.
    setAttribute(Qt::WA_OpaquePaintEvent);
    resize(100, 100);
}

int TGauge::PercentDone() const
{
    return PercentOf(FCurValue - FMinValue, FMaxValue - FMinValue);
}

void TGauge::Refresh()
{
    // Immediate, as the control promises: no waiting for the next paint cycle.
    if (isVisible())
        repaint();
}

void TGauge::SetMinValue(int value)
{
    if (value == FMinValue)
        return;
    if (value > FMaxValue && !FLoading)
        throw EInvalidOperation("Value must be between -2147483647 and " + std::to_string(FMaxValue - 1));
    FMinValue = value;
    if (FCurValue < value)
        FCurValue = value;
    Refresh();
}

void TGauge::SetMaxValue(int value)
{
    if (value == FMaxValue)
        return;
    if (value < FMinValue && !FLoading)
        throw EInvalidOperation("Value must be between " + std::to_string(static_cast<qint64>(FMinValue) + 1) +
                                " and 2147483647");
    FMaxValue = value;
    if (FCurValue > value)
        FCurValue = value;
    Refresh();
}

void TGauge::SetProgress(int value)
{
    const int before = PercentDone();
    value = std::max(value, FMinValue);
    value = std::min(value, FMaxValue);
    if (value == FCurValue)
        return;
    FCurValue = value;
    if (PercentDone() != before)
        Refresh();
}

void TGauge::SetKind(TGaugeKind kind)
{
    if (kind == FKind)
        return;
    FKind = kind;
    Refresh();
}

void TGauge::SetShowText(bool show)
{
    if (show == FShowText)
        return;
    FShowText = show;
    Refresh();
}

void TGauge::SetBorderStyle(TBorderStyle style)
{
    if (style == FBorderStyle)
        return;
    FBorderStyle = style;
    Refresh();
}

void TGauge::SetForeColor(const QColor& color)
{
    if (color == FForeColor)
        return;
    FForeColor = color;
    Refresh();
}

void TGauge::SetBackColor(const QColor& color)
{
    if (color == FBackColor)
        return;
    FBackColor = color;
    Refresh();
}

void TGauge::paintEvent(QPaintEvent*)
{
    ++FPaintCount;
    const QImage image = Compose();
    QPainter p(this);
    p.drawImage(0, 0, image);
}

QImage TGauge::Compose() const
{
    if (width() <= 0 || height() <= 0)
        return QImage();
    QImage image = blackImage(size());
    QRect r = rect();
    if (FBorderStyle == bsSingle)
        r.adjust(1, 1, -1, -1);

    // The kind is drawn on a black sheet and combined by exclusive-or, so the sheet's black leaves
    // the picture unchanged and the frame stays black.
    TBltBitmap overlay;
    overlay.MakeLike(image);
    overlay.fill(Qt::black);
    switch (FKind) {
    case gkText:
        PaintBackground(overlay, r);
        break;
    case gkHorizontalBar:
    case gkVerticalBar:
        PaintAsBar(overlay, r);
        break;
    case gkPie:
        PaintAsPie(overlay, r);
        break;
    case gkNeedle:
        PaintAsNeedle(overlay, r);
        break;
    }
    xorInto(image, overlay);
    if (FShowText)
        PaintAsText(image, r);
    return image;
}

void TGauge::PaintBackground(QImage& image, const QRect& r) const
{
    QPainter p(&image);
    const Box b = boxOf(r);
    fillBox(p, b.left, b.top, b.right, b.bottom, FBackColor);
}

void TGauge::PaintAsBar(QImage& image, const QRect& r) const
{
    const Box b = boxOf(r);
    const int w = b.right - b.left + 1;
    const int h = b.bottom - b.top + 1;
    QPainter p(&image);
    fillBox(p, b.left, b.top, b.right, b.bottom, FBackColor);
    if (FKind == gkHorizontalBar) {
        int f = ScaleByPercent(PercentDone(), w);
        if (f > w)
            f = w;
        // The far corner is an absolute coordinate, as the bar has always been drawn.
        if (f > 0)
            fillBox(p, b.left, b.top, f, h, FForeColor);
    } else {
        int f = ScaleByPercent(PercentDone(), h);
        if (f >= h)
            f = h - 1;
        fillBox(p, b.left, h - f, w, h, FForeColor);
    }
}

void TGauge::PaintAsPie(QImage& image, const QRect& r) const
{
    const Box b = boxOf(r);
    const int extra = FBorderStyle == bsSingle ? 1 : 0;
    const int w = b.right - b.left + extra;
    const int h = b.bottom - b.top + extra;
    QPainter p(&image);
    fillBox(p, b.left, b.top, b.right, b.bottom, palette().color(QPalette::Window));
    p.setPen(QPen(FForeColor, 1));
    p.setBrush(FBackColor);
    p.drawEllipse(QRectF(b.left, b.top, w - b.left - 1, h - b.top - 1));
    if (PercentDone() > 0) {
        p.setBrush(FForeColor);
        const int mx = w / 2;
        const int my = h / 2;
        const double a = (PercentDone() / 50.0 + 0.5) * std::numbers::pi;
        drawPieEx(p, b.left, b.top, w, h, nearest(mx * (1 - std::cos(a))), nearest(my * (1 - std::sin(a))), mx, 0);
    }
}

void TGauge::PaintAsNeedle(QImage& image, const QRect& r) const
{
    const Box b = boxOf(r);
    const int extra = FBorderStyle == bsSingle ? 1 : 0;
    const int w = b.right - b.left + extra;
    const int h = b.bottom - b.top + extra;
    const int x = b.left;
    const int y = b.top;
    QPainter p(&image);
    fillBox(p, b.left, b.top, b.right, b.bottom, palette().color(QPalette::Window));
    p.setPen(QPen(FForeColor, 1));
    p.setBrush(FBackColor);
    // The upper half of an ellipse standing on the bottom line.
    drawPieEx(p, x, y, w, 2 * h - 1, x + w, b.bottom - 1, x, b.bottom - 1);
    p.drawLine(x, b.bottom, x + w - 1, b.bottom);
    if (PercentDone() > 0) {
        const int cx = width() / 2;
        const double a = PercentDone() / 100.0 * std::numbers::pi;
        p.drawLine(cx, b.bottom - 1, nearest(cx * (1 - std::cos(a))), nearest((b.bottom - 1) * (1 - std::sin(a))));
    }
}

void TGauge::PaintAsText(QImage& image, const QRect& r) const
{
    TBltBitmap sheet;
    sheet.MakeLike(image);
    sheet.fill(Qt::black);
    const QString s = QString::asprintf("%d%%", PercentDone());
    {
        QPainter p(&sheet);
        // Hard-edged white glyphs, so the exclusive-or inverts exactly the glyph pixels.
        QFont f = font();
        f.setStyleStrategy(QFont::NoAntialias);
        p.setFont(f);
        p.setPen(Qt::white);
        const QFontMetrics fm(f);
        const Box b = boxOf(r);
        const int x = (b.right - b.left + 1 - fm.horizontalAdvance(s)) / 2;
        const int y = (b.bottom - b.top + 1 - fm.height()) / 2;
        p.setClipRect(r);
        p.drawText(x, y + fm.ascent(), s);
    }
    xorInto(image, sheet);
}

} // namespace sjql::ui
