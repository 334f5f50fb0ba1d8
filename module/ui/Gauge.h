// SPDX-License-Identifier: MIT
// TGauge: shows an integer value between a minimum and a maximum as a percentage text, a
// horizontal or vertical bar, a pie or a needle, optionally with the percentage drawn on top in
// colours inverted against what lies beneath.
//
// Every paint is composed off-screen and copied to the screen in one step. Property setters repaint
// at once, and a change of Progress repaints only when the whole percentage changes. GUI thread
// only; owned by its parent widget.
#pragma once

#include <QColor>
#include <QImage>
#include <QWidget>

#include <stdexcept>

namespace sjql::ui {

enum TGaugeKind : quint8
{
    gkText = 0,
    gkHorizontalBar = 1,
    gkVerticalBar = 2,
    gkPie = 3,
    gkNeedle = 4,
};

enum TBorderStyle : quint8
{
    bsNone = 0,
    bsSingle = 1,
};

// An invalid operation on a control: a bound set outside the range the other bound allows.
class EInvalidOperation : public std::runtime_error
{
public:
    explicit EInvalidOperation(const std::string& message) : std::runtime_error(message) {}
};

// Off-screen bitmap used to compose the gauge's picture.
class TBltBitmap : public QImage
{
public:
    TBltBitmap() = default;
    // Takes the template's size and fills the whole bitmap with the window-frame colour.
    void MakeLike(const QImage& templ);
};

// Whole percentage of x in a range of z (0 for an empty range), cut toward zero.
int PercentOf(int x, int z);
// p percent of size, cut toward zero.
int ScaleByPercent(int p, int size);

class TGauge : public QWidget
{
    Q_OBJECT
    // Readable by name, so a host can follow a progress window without this class's headers.
    Q_PROPERTY(int PercentDone READ PercentDone)
public:
    explicit TGauge(QWidget* parent = nullptr);

    int MinValue() const { return FMinValue; }
    int MaxValue() const { return FMaxValue; }
    int Progress() const { return FCurValue; }
    TGaugeKind Kind() const { return FKind; }
    bool ShowText() const { return FShowText; }
    TBorderStyle BorderStyle() const { return FBorderStyle; }
    QColor ForeColor() const { return FForeColor; }
    QColor BackColor() const { return FBackColor; }
    int PercentDone() const;

    // Throws EInvalidOperation for a minimum above the maximum, unless the control is loading.
    void SetMinValue(int value);
    // Throws EInvalidOperation for a maximum below the minimum, unless the control is loading.
    void SetMaxValue(int value);
    // Clamps to the range; repaints only when the whole percentage changes.
    void SetProgress(int value);
    void AddProgress(int value) { SetProgress(FCurValue + value); }
    void SetKind(TGaugeKind kind);
    void SetShowText(bool show);
    void SetBorderStyle(TBorderStyle style);
    void SetForeColor(const QColor& color);
    void SetBackColor(const QColor& color);

    // While loading from a window description the bounds may pass each other for a moment.
    void SetLoading(bool loading) { FLoading = loading; }

    // Number of paints so far (the repaint rules are part of the control's contract).
    int PaintCount() const { return FPaintCount; }

    // The picture the gauge paints at its current size: what a paint copies to the screen.
    QImage Compose() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void Refresh();
    void PaintBackground(QImage& image, const QRect& r) const;
    void PaintAsBar(QImage& image, const QRect& r) const;
    void PaintAsPie(QImage& image, const QRect& r) const;
    void PaintAsNeedle(QImage& image, const QRect& r) const;
    void PaintAsText(QImage& image, const QRect& r) const;

    int FMinValue = 0;
    int FMaxValue = 100;
    int FCurValue = 0;
    TGaugeKind FKind = gkHorizontalBar;
    bool FShowText = true;
    TBorderStyle FBorderStyle = bsSingle;
    QColor FForeColor = Qt::black;
    QColor FBackColor = Qt::white;
    bool FLoading = false;
    int FPaintCount = 0;
};

} // namespace sjql::ui
