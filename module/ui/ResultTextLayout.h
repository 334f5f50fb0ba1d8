// SPDX-License-Identifier: MIT
// The layout of the result dialogs' text: plain lines, wrapped to the box, where a file or folder
// path breaks only after one of its separators, never inside a name.
//
// The text itself is left exactly as it is (what the box shows, what is copied from it and what is
// saved are the same characters); only the places where a line wraps are chosen here. Outside paths
// a line wraps where text may wrap anyway (between Chinese characters, at spaces); inside a path only
// after "/". A name longer than a whole line still wraps inside, as nothing else would show it.
// The layout belongs to its document; GUI thread only.
#pragma once

#include <QAbstractTextDocumentLayout>
#include <QList>

class QTextBlock;

namespace sjql::ui {

class TResultTextLayout : public QAbstractTextDocumentLayout
{
    Q_OBJECT
public:
    explicit TResultTextLayout(QTextDocument* document);

    void draw(QPainter* painter, const PaintContext& context) override;
    int hitTest(const QPointF& point, Qt::HitTestAccuracy accuracy) const override;
    int pageCount() const override { return 1; }
    QSizeF documentSize() const override;
    QRectF frameBoundingRect(QTextFrame* frame) const override;
    QRectF blockBoundingRect(const QTextBlock& block) const override;

protected:
    void documentChanged(int from, int charsRemoved, int charsAdded) override;

private:
    void layoutBlock(const QTextBlock& block, qreal top, qreal width);

    QSizeF FSize;
};

// Positions in `text` before which a line may wrap: the text's own line-break opportunities, less
// those inside a path other than right after a "/". Exposed for tests.
QList<int> ResultBreakPositions(const QString& text);

} // namespace sjql::ui
