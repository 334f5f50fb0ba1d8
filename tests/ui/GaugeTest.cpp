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
    saveShot(g.get(), QStringLiteral("gauge-horizontal-46"));

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
    saveShot(g.get(), QStringLiteral("gauge-horizontal-50"));
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

TEST_F(GaugeTest, ScreenshotsOfEveryKind)
{
    const TGaugeKind kinds[] = {gkText, gkHorizontalBar, gkVerticalBar, gkPie, gkNeedle};
    const char* names[] = {"text", "horizontal", "vertical", "pie", "needle"};
    for (int i = 0; i < 5; ++i) {
        auto g = makeGauge(100, 100, kinds[i]);
        g->SetProgress(40);
        saveShot(g.get(), QStringLiteral("gauge-%1-40").arg(QLatin1String(names[i])));
    }
}
