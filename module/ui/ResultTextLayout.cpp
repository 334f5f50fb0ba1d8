// SPDX-License-Identifier: MIT
#include "ui/ResultTextLayout.h"

#include <QPainter>
#include <QTextBlock>
#include <QTextBoundaryFinder>
#include <QTextDocument>
#include <QTextLayout>

#include <algorithm>
#include <limits>

namespace sjql::ui {

namespace {

// Characters that end a path written inside a sentence: white space and the full-width punctuation
// the messages put after it.
bool endsPath(QChar c)
{
    static const QString kStops = QStringLiteral("，。；：、）】》”’！？");
    return c.isSpace() || kStops.contains(c);
}

// A path starts with "/" at the start of the text or after white space or punctuation (the "：" of
// "备份文件：/home/...").
bool startsPath(const QString& text, qsizetype i)
{
    if (text[i] != QLatin1Char('/'))
        return false;
    if (i == 0)
        return true;
    const QChar before = text[i - 1];
    return before.isSpace() || before.isPunct() || endsPath(before);
}

} // namespace

QList<int> ResultBreakPositions(const QString& text)
{
    // Where the paths run: [start, end) of each.
    QList<std::pair<qsizetype, qsizetype>> paths;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (!startsPath(text, i))
            continue;
        qsizetype end = i;
        while (end < text.size() && !endsPath(text[end]))
            ++end;
        paths.append({i, end});
        i = end;
    }
    QList<int> out;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Line, text);
    for (qsizetype at = finder.toNextBoundary(); at > 0 && at < text.size(); at = finder.toNextBoundary()) {
        const bool inside =
            std::any_of(paths.cbegin(), paths.cend(), [at](const auto& p) { return at > p.first && at < p.second; });
        if (!inside || text[at - 1] == QLatin1Char('/'))
            out.append(static_cast<int>(at));
    }
    // Before a path too, even where the text's own rules keep "：/" together.
    for (const auto& p : std::as_const(paths)) {
        if (p.first > 0)
            out.append(static_cast<int>(p.first));
    }
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
}

TResultTextLayout::TResultTextLayout(QTextDocument* document) : QAbstractTextDocumentLayout(document) {}

void TResultTextLayout::layoutBlock(const QTextBlock& block, qreal top, qreal width)
{
    QTextLayout* layout = block.layout();
    const QString text = block.text();
    const QList<int> breaks = ResultBreakPositions(text);
    QTextOption option = document()->defaultTextOption();
    option.setWrapMode(width > 0 ? QTextOption::WrapAtWordBoundaryOrAnywhere : QTextOption::NoWrap);
    layout->setTextOption(option);
    layout->beginLayout();
    qreal height = 0;
    for (;;) {
        QTextLine line = layout->createLine();
        if (!line.isValid())
            break;
        if (width <= 0) {
            line.setLineWidth(std::numeric_limits<qreal>::max() / 4);
        } else {
            line.setLineWidth(width);
            // The toolkit wraps at the last place that fits; inside a path that may be in the middle
            // of a name. Then the line ends at the last place allowed here instead, when there is one.
            const int start = line.textStart();
            const int end = start + line.textLength();
            if (end < text.size() && !breaks.contains(end)) {
                const auto allowed = std::lower_bound(breaks.cbegin(), breaks.cend(), end);
                if (allowed != breaks.cbegin() && *(allowed - 1) > start)
                    line.setNumColumns(*(allowed - 1) - start, width);
            }
        }
        line.setPosition(QPointF(0, height));
        height += line.height();
    }
    layout->endLayout();
    const qreal margin = document()->documentMargin();
    layout->setPosition(QPointF(margin, top));
}

void TResultTextLayout::documentChanged(int, int, int)
{
    QTextDocument* doc = document();
    const qreal margin = doc->documentMargin();
    const qreal width = doc->textWidth() > 0 ? doc->textWidth() - 2 * margin : 0;
    qreal top = margin;
    qreal widest = 0;
    for (QTextBlock block = doc->begin(); block.isValid(); block = block.next()) {
        layoutBlock(block, top, width);
        const QRectF r = block.layout()->boundingRect();
        top += r.height();
        widest = qMax(widest, r.width());
    }
    FSize = QSizeF(width > 0 ? doc->textWidth() : widest + 2 * margin, top + margin);
    Q_EMIT documentSizeChanged(FSize);
    Q_EMIT update(QRectF(0, 0, 1e9, 1e9));
}

void TResultTextLayout::draw(QPainter* painter, const PaintContext& context)
{
    painter->save();
    painter->setPen(context.palette.color(QPalette::Text));
    for (QTextBlock block = document()->begin(); block.isValid(); block = block.next()) {
        QTextLayout* layout = block.layout();
        const QRectF box = blockBoundingRect(block);
        if (context.clip.isValid() && !box.intersects(context.clip))
            continue;
        // The selection, clipped to this block.
        QList<QTextLayout::FormatRange> selections;
        for (const Selection& s : context.selections) {
            const int from = qMax(0, s.cursor.selectionStart() - block.position());
            const int to = qMin(block.length(), s.cursor.selectionEnd() - block.position());
            if (to > from) {
                QTextLayout::FormatRange range;
                range.start = from;
                range.length = to - from;
                range.format = s.format;
                selections.append(range);
            }
        }
        // The layout adds its own position to the one given.
        layout->draw(painter, QPointF(), selections, context.clip);
        const int cursor = context.cursorPosition - block.position();
        if (cursor >= 0 && cursor < block.length())
            layout->drawCursor(painter, QPointF(), cursor);
    }
    painter->restore();
}

int TResultTextLayout::hitTest(const QPointF& point, Qt::HitTestAccuracy accuracy) const
{
    QTextBlock last;
    for (QTextBlock block = document()->begin(); block.isValid(); block = block.next()) {
        last = block;
        const QRectF box = blockBoundingRect(block);
        if (point.y() >= box.bottom())
            continue;
        if (point.y() < box.top() && accuracy == Qt::ExactHit)
            return -1;
        const QTextLayout* layout = block.layout();
        const QPointF local = point - layout->position();
        for (int i = 0; i < layout->lineCount(); ++i) {
            const QTextLine line = layout->lineAt(i);
            if (local.y() >= line.y() + line.height() && i + 1 < layout->lineCount())
                continue;
            if (accuracy == Qt::ExactHit && (local.x() < line.x() || local.x() > line.x() + line.naturalTextWidth()))
                return -1;
            return block.position() + line.xToCursor(local.x());
        }
        return block.position();
    }
    if (accuracy == Qt::ExactHit || !last.isValid())
        return -1;
    return last.position() + last.length() - 1;
}

QSizeF TResultTextLayout::documentSize() const
{
    return FSize;
}

QRectF TResultTextLayout::frameBoundingRect(QTextFrame*) const
{
    return QRectF(QPointF(0, 0), FSize);
}

QRectF TResultTextLayout::blockBoundingRect(const QTextBlock& block) const
{
    if (!block.isValid() || !block.layout())
        return {};
    const QTextLayout* layout = block.layout();
    const QRectF r = layout->boundingRect();
    return QRectF(layout->position(), QSizeF(qMax(r.width(), FSize.width()), r.height()));
}

} // namespace sjql::ui
