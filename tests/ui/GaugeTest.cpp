// SPDX-License-Identifier: MIT
// Gauge: painted pixels of the bar and the inverted percentage text, the repaint rules, the range
// and its out-of-range error.
#include "ui/Gauge.h"

#include "helpers/UiTestSupport.h"

#include <QPainter>
#include <QTest>

using namespace sjql::ui;

namespace {

const QColor kFore(200, 0, 0);
const QColor kBack(255, 255, 255);

QColor inverted(const QColor& c)
{
    return QColor(255 - c.red(), 255 - c.green(), 255 - c.blue());
}

// A shown gauge of the given size and kind, colours set.
std::unique_ptr<TGauge> makeGauge(int w, int h, TGaugeKind kind)
{
    auto g = std::make_unique<TGauge>();
    g->resize(w, h);
    g->SetKind(kind);
    g->SetForeColor(kFore);
    g->SetBackColor(kBack);
    g->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(g.get()));
    return g;
}

int countInRow(const QImage& img, int y, const QColor& c)
{
    int n = 0;
    for (int x = 0; x < img.width(); ++x)
        n += img.pixelColor(x, y) == c ? 1 : 0;
    return n;
}

} // namespace

using GaugeTest = UiTest;

TEST_F(GaugeTest, HorizontalBarAt46PercentFillsAndShowsInvertedText)
{
    auto g = makeGauge(353, 17, gkHorizontalBar);
    g->SetMaxValue(300);
    g->SetProgress(140);
    EXPECT_EQ(g->PercentDone(), 46);

    // The bar without its text: the single border leaves the frame black; the fill runs from the
    // first inner column to trunc(W x 0.46) with W = inner width + 1.
    g->SetShowText(false);
    const QImage bar = g->grab().toImage();
    const int w = 353 - 2 + 1;
    const int f = static_cast<int>(w * 0.46);
    EXPECT_EQ(bar.pixelColor(0, 8), QColor(Qt::black));
    EXPECT_EQ(bar.pixelColor(1, 8), kFore);
    EXPECT_EQ(bar.pixelColor(f - 1, 8), kFore);
    EXPECT_EQ(bar.pixelColor(f, 8), kBack);
    EXPECT_EQ(countInRow(bar, 8, kFore), f - 1);
    EXPECT_EQ(bar.pixelColor(351, 15), kBack);

    // With the text: exactly the glyph pixels of "46%" are inverted against the bar beneath.
    g->SetShowText(true);
    const QImage withText = g->grab().toImage();
    QImage glyphs(bar.size(), QImage::Format_RGB32);
    glyphs.fill(Qt::black);
    {
        QPainter p(&glyphs);
        QFont font = g->font();
        font.setStyleStrategy(QFont::NoAntialias);
        p.setFont(font);
        p.setPen(Qt::white);
        const QFontMetrics fm(font);
        const QString s = QStringLiteral("46%");
        p.setClipRect(QRect(1, 1, 351, 15));
        p.drawText((352 - fm.horizontalAdvance(s)) / 2, (16 - fm.height()) / 2 + fm.ascent(), s);
    }
    int overBack = 0;
    for (int y = 0; y < bar.height(); ++y) {
        for (int x = 0; x < bar.width(); ++x) {
            const bool glyph = glyphs.pixelColor(x, y) == QColor(Qt::white);
            const QColor base = bar.pixelColor(x, y);
            ASSERT_EQ(withText.pixelColor(x, y), glyph ? inverted(base) : base) << x << "," << y;
            if (glyph && base == kBack)
                ++overBack;
        }
    }
    EXPECT_GT(overBack, 0);

    // At half way the text straddles the end of the fill: the part over the bar is inverted to the
    // inverse of the fore colour, the part over the rest to black.
    g->SetProgress(150);
    const QImage half = g->grab().toImage();
    int invertedFore = 0, black = 0;
    for (int y = 1; y < 16; ++y) {
        invertedFore += countInRow(half, y, inverted(kFore));
        black += countInRow(half.copy(2, 0, 349, 17), y, QColor(Qt::black));
    }
    EXPECT_GT(invertedFore, 0);
    EXPECT_GT(black, 0);
}

TEST_F(GaugeTest, VerticalBarAtFullStopsOnePixelShort)
{
    auto g = makeGauge(20, 40, gkVerticalBar);
    g->SetBorderStyle(bsNone);
    g->SetShowText(false);
    g->SetProgress(100);
    const QImage img = g->grab().toImage();
    EXPECT_EQ(img.pixelColor(10, 0), kBack);
    for (int y = 1; y < 40; ++y)
        ASSERT_EQ(img.pixelColor(10, y), kFore) << y;

    // At zero percent nothing is filled.
    g->SetProgress(0);
    const QImage empty = g->grab().toImage();
    for (int y = 0; y < 40; ++y)
        ASSERT_EQ(empty.pixelColor(10, y), kBack) << y;
}

TEST_F(GaugeTest, ZeroPercentDrawsNoFillNeedleOrSector)
{
    for (TGaugeKind kind : {gkHorizontalBar, gkPie, gkNeedle}) {
        auto g = makeGauge(80, 80, kind);
        g->SetShowText(false);
        const QImage img = g->grab().toImage();
        int fore = 0;
        for (int y = 1; y < 79; ++y)
            fore += countInRow(img, y, kFore);
        // Only outlines: far fewer fore-coloured pixels than a filled sector would give.
        EXPECT_LT(fore, 400) << int(kind);
        g->SetProgress(50);
        const QImage half = g->grab().toImage();
        int foreHalf = 0;
        for (int y = 1; y < 79; ++y)
            foreHalf += countInRow(half, y, kFore);
        EXPECT_GT(foreHalf, fore) << int(kind);
    }
}

TEST_F(GaugeTest, RepaintsOnlyWhenTheWholePercentageChanges)
{
    auto g = makeGauge(100, 20, gkHorizontalBar);
    g->SetMaxValue(1000);
    g->SetProgress(1);
    const int before = g->PaintCount();
    g->SetProgress(2);
    EXPECT_EQ(g->Progress(), 2);
    EXPECT_EQ(g->PaintCount(), before);
    g->SetProgress(10); // 1 %
    EXPECT_EQ(g->PaintCount(), before + 1);
    g->SetKind(gkHorizontalBar); // unchanged
    g->SetForeColor(kFore);
    EXPECT_EQ(g->PaintCount(), before + 1);
    g->SetBackColor(Qt::yellow);
    EXPECT_EQ(g->PaintCount(), before + 2);

    // Steps of 1 over 0..10000 repaint once per percent.
    g->SetMaxValue(10000);
    g->SetProgress(0);
    const int start = g->PaintCount();
    for (int i = 1; i <= 10000; ++i)
        g->SetProgress(i);
    EXPECT_EQ(g->PaintCount() - start, 100);
}

TEST_F(GaugeTest, RangeClampsProgressAndRejectsCrossedBounds)
{
    TGauge g;
    g.SetProgress(-5);
    EXPECT_EQ(g.Progress(), 0);
    g.SetProgress(500);
    EXPECT_EQ(g.Progress(), 100);
    g.SetMaxValue(60);
    EXPECT_EQ(g.Progress(), 60);
    g.SetMinValue(10);
    g.SetProgress(0);
    EXPECT_EQ(g.Progress(), 10);

    try {
        g.SetMinValue(61);
        FAIL() << "no error";
    } catch (const EInvalidOperation& e) {
        EXPECT_STREQ(e.what(), "Value must be between -2147483647 and 59");
    }
    try {
        g.SetMaxValue(9);
        FAIL() << "no error";
    } catch (const EInvalidOperation& e) {
        EXPECT_STREQ(e.what(), "Value must be between 11 and 2147483647");
    }
    EXPECT_EQ(g.MinValue(), 10);
    EXPECT_EQ(g.MaxValue(), 60);

    // Loading from a window description may pass the bounds for a moment; an empty range gives 0 %.
    g.SetLoading(true);
    g.SetMinValue(100);
    g.SetMaxValue(100);
    g.SetLoading(false);
    EXPECT_EQ(g.PercentDone(), 0);
}

// Every kind at 40 % on a 100 x 100 gauge with its single border, the percentage in the middle
// (rows 35 to 65 are left to it): the inner box is (1, 1) to (98, 98), the bars' full length 99.
TEST_F(GaugeTest, EveryKindShowsFortyPercentWhereItsLookPutsIt)
{
    const QRect inner(1, 1, 98, 98);
    const auto paint = [](TGaugeKind kind) {
        auto g = makeGauge(100, 100, kind);
        g->SetProgress(40);
        return g->grab().toImage();
    };

    // Text alone: the back colour with the glyphs inverted to black, nothing in the fore colour.
    const QImage text = paint(gkText);
    EXPECT_EQ(text.pixelColor(0, 0), QColor(Qt::black));
    EXPECT_EQ(text.pixelColor(10, 10), kBack);
    EXPECT_EQ(text.pixelColor(90, 90), kBack);
    EXPECT_GT(pixelsOf(text, inner, Qt::black), 20);
    EXPECT_EQ(pixelsOf(text, QRect(1, 1, 98, 34), Qt::black), 0);
    EXPECT_EQ(pixelsOf(text, inner, kFore), 0);

    // Horizontal: trunc(99 x 0.4) = 39, so columns 1 to 38 are filled.
    const QImage across = paint(gkHorizontalBar);
    for (const int y : {10, 80}) {
        EXPECT_EQ(across.pixelColor(1, y), kFore) << y;
        EXPECT_EQ(across.pixelColor(38, y), kFore) << y;
        EXPECT_EQ(across.pixelColor(39, y), kBack) << y;
        EXPECT_EQ(across.pixelColor(98, y), kBack) << y;
        EXPECT_EQ(countInRow(across, y, kFore), 38) << y;
    }

    // Vertical: 39 rows from the bottom, 60 to 98.
    const QImage upright = paint(gkVerticalBar);
    for (const int x : {10, 90}) {
        EXPECT_EQ(upright.pixelColor(x, 59), kBack) << x;
        EXPECT_EQ(upright.pixelColor(x, 60), kFore) << x;
        EXPECT_EQ(upright.pixelColor(x, 98), kFore) << x;
        EXPECT_EQ(pixelsOf(upright, QRect(x, 1, 1, 98), kFore), 39) << x;
    }

    // Pie: the sector runs counter-clockwise from about -54 degrees (four tenths of the circle
    // before twelve o'clock) to twelve o'clock; the rest of the disc is the back colour and the
    // corners outside it the window's own colour.
    auto pieGauge = makeGauge(100, 100, gkPie);
    const QColor window = pieGauge->palette().color(QPalette::Window);
    const QImage pie = paint(gkPie);
    for (const QPoint at : {QPoint(80, 50), QPoint(65, 20), QPoint(80, 70)})
        EXPECT_EQ(pie.pixelColor(at), kFore) << at.x() << "," << at.y();
    for (const QPoint at : {QPoint(20, 50), QPoint(50, 85), QPoint(30, 20), QPoint(20, 75)})
        EXPECT_EQ(pie.pixelColor(at), kBack) << at.x() << "," << at.y();
    for (const QPoint at : {QPoint(3, 3), QPoint(96, 3), QPoint(3, 96), QPoint(96, 96)})
        EXPECT_EQ(pie.pixelColor(at), window) << at.x() << "," << at.y();

    // Needle: from the middle of the bottom line up to the left, 72 degrees from the left end of
    // the arc, reaching row 20 near column 37; the right half of the arch is empty.
    const QImage needle = paint(gkNeedle);
    EXPECT_GT(pixelsOf(needle, QRect(33, 20, 8, 1), kFore), 0);
    EXPECT_EQ(pixelsOf(needle, QRect(41, 20, 35, 1), kFore), 0);
    EXPECT_GT(pixelsOf(needle, QRect(44, 75, 6, 1), kFore), 0);
    EXPECT_EQ(pixelsOf(needle, QRect(51, 66, 25, 30), kFore), 0);
    EXPECT_EQ(needle.pixelColor(65, 30), kBack);
    EXPECT_EQ(needle.pixelColor(3, 3), window);
}
