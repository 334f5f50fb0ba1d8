// SPDX-License-Identifier: MIT
#include "window/Artwork.h"

#include <QBuffer>
#include <QFont>
#include <QImageReader>
#include <QImageWriter>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace sjql::cleanup {

namespace {

constexpr int kSeparatorWidth = 609;
constexpr int kSeparatorHeight = 2;

// The separator as drawn: a blue line over a white one, fading into the window colour at both ends.
QImage drawSeparator()
{
    QImage img(kSeparatorWidth, kSeparatorHeight, QImage::Format_RGB32);
    const QColor back = WindowBackColor();
    for (int x = 0; x < kSeparatorWidth; ++x) {
        // Full strength over the middle, fading out over the outer 60 pixels.
        const int edge = qMin(x, kSeparatorWidth - 1 - x);
        const double k = qMin(1.0, edge / 60.0);
        auto mix = [&](const QColor& c) {
            return qRgb(int(back.red() + (c.red() - back.red()) * k),
                        int(back.green() + (c.green() - back.green()) * k),
                        int(back.blue() + (c.blue() - back.blue()) * k));
        };
        img.setPixel(x, 0, mix(QColor(150, 186, 222)));
        img.setPixel(x, 1, mix(QColor(255, 255, 255)));
    }
    return img;
}

enum class Face
{
    Normal,
    Over,
    Down,
    Disabled
};

QString captionOf(TButtonArt art)
{
    switch (art) {
    case TButtonArt::Browse:
        return QStringLiteral("浏览...");
    case TButtonArt::Clear:
        return QStringLiteral("清理数据");
    case TButtonArt::Restore:
        return QStringLiteral("数据恢复");
    case TButtonArt::HideNsr:
        return QStringLiteral("隐藏非正常纳税人");
    case TButtonArt::ShowNsr:
        return QStringLiteral("显示非正常纳税人");
    }
    return {};
}

// A broom lying from the top right to the bottom left: wooden handle, tied bristles.
void drawBroom(QPainter& p, const QRectF& box, bool gray)
{
    const QColor wood = gray ? QColor(160, 160, 160) : QColor(150, 96, 40);
    const QColor straw = gray ? QColor(200, 200, 200) : QColor(236, 190, 70);
    const QColor band = gray ? QColor(140, 140, 140) : QColor(190, 50, 40);
    const double s = box.height();
    p.save();
    p.translate(box.center());
    p.rotate(35);
    p.setPen(QPen(wood, s * 0.09, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(0, -s * 0.5), QPointF(0, s * 0.05));
    QPainterPath bristles;
    bristles.moveTo(-s * 0.10, s * 0.05);
    bristles.lineTo(s * 0.10, s * 0.05);
    bristles.lineTo(s * 0.24, s * 0.5);
    bristles.lineTo(-s * 0.24, s * 0.5);
    bristles.closeSubpath();
    p.setPen(QPen(straw.darker(130), 1));
    p.setBrush(straw);
    p.drawPath(bristles);
    for (int i = -2; i <= 2; ++i)
        p.drawLine(QPointF(i * s * 0.04, s * 0.12), QPointF(i * s * 0.09, s * 0.48));
    p.setPen(Qt::NoPen);
    p.setBrush(band);
    p.drawRect(QRectF(-s * 0.12, s * 0.04, s * 0.24, s * 0.07));
    p.restore();
}

// A circular arrow: data coming back.
void drawRestore(QPainter& p, const QRectF& box, bool gray)
{
    const QColor c = gray ? QColor(160, 160, 160) : QColor(40, 140, 70);
    const QRectF r = box.adjusted(box.width() * 0.15, box.height() * 0.15, -box.width() * 0.15, -box.height() * 0.15);
    p.save();
    p.setPen(QPen(c, r.height() * 0.16, Qt::SolidLine, Qt::FlatCap));
    p.setBrush(Qt::NoBrush);
    p.drawArc(r, 100 * 16, 280 * 16);
    // Arrow head at the open end of the arc (top).
    const QPointF tip(r.center().x() - r.width() * 0.05, r.top());
    QPolygonF head;
    head << tip + QPointF(-r.width() * 0.28, 0) << tip + QPointF(r.width() * 0.05, -r.height() * 0.26)
         << tip + QPointF(r.width() * 0.05, r.height() * 0.26);
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.drawPolygon(head);
    p.restore();
}

// A person; struck through for the hiding button.
void drawPerson(QPainter& p, const QRectF& box, bool gray, bool struck)
{
    const QColor c = gray ? QColor(160, 160, 160) : QColor(52, 104, 170);
    const double s = box.height();
    p.save();
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.drawEllipse(QPointF(box.center().x(), box.top() + s * 0.28), s * 0.2, s * 0.2);
    QPainterPath body;
    body.moveTo(box.center().x() - s * 0.36, box.bottom());
    body.cubicTo(box.center().x() - s * 0.36, box.top() + s * 0.5, box.center().x() + s * 0.36, box.top() + s * 0.5,
                 box.center().x() + s * 0.36, box.bottom());
    body.closeSubpath();
    p.drawPath(body);
    if (struck) {
        p.setPen(QPen(gray ? QColor(130, 130, 130) : QColor(210, 40, 40), s * 0.1, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(box.center().x() - s * 0.42, box.top() + s * 0.1),
                   QPointF(box.center().x() + s * 0.42, box.bottom() - s * 0.05));
    }
    p.restore();
}

// `c` turned by `degrees` around the colour wheel, saturation and brightness kept.
QColor turned(const QColor& c, int degrees)
{
    int h = 0, sat = 0, v = 0;
    c.getHsv(&h, &sat, &v);
    if (h < 0 || degrees == 0)
        return c;
    return QColor::fromHsv(((h + degrees) % 360 + 360) % 360, sat, v);
}

QImage drawButton(TButtonArt art, const QSize& size, Face face, const QColor& back, int hueTurn)
{
    QImage img(size, QImage::Format_ARGB32_Premultiplied);
    img.fill(back);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);

    QColor top, bottom, border, text;
    switch (face) {
    case Face::Normal:
        top = QColor(253, 254, 255), bottom = QColor(206, 226, 247), border = QColor(118, 158, 204);
        text = QColor(22, 64, 110);
        break;
    case Face::Over:
        top = QColor(255, 255, 255), bottom = QColor(226, 240, 253), border = QColor(236, 156, 52);
        text = QColor(22, 64, 110);
        break;
    case Face::Down:
        top = QColor(188, 212, 240), bottom = QColor(228, 238, 250), border = QColor(72, 116, 172);
        text = QColor(12, 44, 84);
        break;
    case Face::Disabled:
        top = QColor(246, 246, 246), bottom = QColor(222, 222, 222), border = QColor(178, 178, 178);
        text = QColor(150, 150, 150);
        break;
    }
    top = turned(top, hueTurn);
    bottom = turned(bottom, hueTurn);
    border = turned(border, hueTurn);
    text = turned(text, hueTurn);
    const QRectF frame = QRectF(img.rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QLinearGradient g(0, 0, 0, size.height());
    g.setColorAt(0.0, top);
    g.setColorAt(1.0, bottom);
    p.setPen(QPen(border, 1));
    p.setBrush(g);
    const double radius = qMin(5.0, size.height() / 4.0);
    p.drawRoundedRect(frame, radius, radius);
    if (face != Face::Down && face != Face::Disabled) {
        // A light inner edge gives the face some relief.
        p.setPen(QPen(QColor(255, 255, 255, 170), 1));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(frame.adjusted(1, 1, -1, -1), radius - 1, radius - 1);
    }

    // Pressed faces move their content one pixel down and right.
    const double shift = face == Face::Down ? 1.0 : 0.0;
    const bool gray = face == Face::Disabled;
    const bool small = art == TButtonArt::Browse;
    const double iconSize = small ? 0 : size.height() * 0.62;
    QFont font;
    font.setFamilies({QStringLiteral("SimSun"), QStringLiteral("宋体"), QStringLiteral("WenQuanYi Micro Hei"),
                      QStringLiteral("Noto Sans CJK SC")});
    font.setPixelSize(small ? 12 : 14);
    font.setBold(!small);
    p.setFont(font);
    const QString caption = captionOf(art);
    const double textWidth = p.fontMetrics().horizontalAdvance(caption);
    const double gap = small ? 0 : 6;
    const double total = iconSize + gap + textWidth;
    double x = (size.width() - total) / 2.0 + shift;
    const double y = shift;
    if (!small) {
        const QRectF iconBox(x, (size.height() - iconSize) / 2.0 + y, iconSize, iconSize);
        switch (art) {
        case TButtonArt::Clear:
            drawBroom(p, iconBox, gray);
            break;
        case TButtonArt::Restore:
            drawRestore(p, iconBox, gray);
            break;
        case TButtonArt::HideNsr:
            drawPerson(p, iconBox, gray, true);
            break;
        case TButtonArt::ShowNsr:
            drawPerson(p, iconBox, gray, false);
            break;
        case TButtonArt::Browse:
            break;
        }
        x += iconSize + gap;
    }
    p.setPen(text);
    p.drawText(QRectF(x, y, textWidth + 2, size.height()), Qt::AlignVCenter | Qt::AlignLeft, caption);
    p.end();
    return img.convertToFormat(QImage::Format_RGB32);
}

} // namespace

QImage BackgroundPicture(const QSize& size)
{
    return BackgroundPicture(size, WindowBackColor());
}

QImage BackgroundPicture(const QSize& size, const QColor& back)
{
    QImage img(size.expandedTo(QSize(1, 1)), QImage::Format_RGB32);
    img.fill(back);
    QPainter p(&img);
    const int fade = qMax(1, img.height() / 10);
    // The default colour has its own light blue; any other takes the step in saturation between the
    // two (grays get a plain darker shade).
    QColor top(201, 226, 248);
    if (back != WindowBackColor()) {
        int h = 0, s = 0, v = 0;
        back.getHsv(&h, &s, &v);
        top = h < 0 ? back.darker(108) : QColor::fromHsv(h, qMin(255, s + 35), qMax(0, v - 1));
    }
    QLinearGradient g(0, 0, 0, fade);
    g.setColorAt(0.0, top);
    g.setColorAt(1.0, back);
    p.fillRect(QRect(0, 0, img.width(), fade), g);
    return img;
}

QByteArray SeparatorJpegBytes()
{
    static const QByteArray bytes = [] {
        QByteArray out;
        QBuffer buffer(&out);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter writer(&buffer, "jpeg");
        writer.setQuality(95);
        if (!writer.write(drawSeparator()))
            out.clear();
        return out;
    }();
    return bytes;
}

QImage SeparatorPicture()
{
    static const QImage picture = [] {
        QByteArray bytes = SeparatorJpegBytes();
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::ReadOnly);
        QImageReader reader(&buffer, "jpeg");
        QImage img = reader.read();
        // Without Qt's JPEG plugin the line is still drawn, only not through the JPEG round trip.
        return img.isNull() ? drawSeparator() : img;
    }();
    return picture;
}

TButtonPictures ButtonPictures(TButtonArt art, const QSize& size, const QColor& back, const QColor& tint)
{
    // How far the skin's hue lies from the default light blue; no turn for grays or the default.
    const int tintHue = tint.hsvHue();
    const int hueTurn = tintHue < 0 || tint == DefaultButtonTint() ? 0 : tintHue - DefaultButtonTint().hsvHue();
    TButtonPictures out;
    out.Normal = drawButton(art, size, Face::Normal, back, hueTurn);
    out.Over = drawButton(art, size, Face::Over, back, hueTurn);
    out.Down = drawButton(art, size, Face::Down, back, hueTurn);
    out.Disabled = drawButton(art, size, Face::Disabled, back, hueTurn);
    return out;
}

} // namespace sjql::cleanup
