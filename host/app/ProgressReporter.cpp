// SPDX-License-Identifier: MIT
#include "ProgressReporter.h"

#include "Commands.h"

#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QRegularExpression>
#include <QVariant>
#include <QWidget>

#include <sys/ioctl.h>
#include <unistd.h>

namespace sjql::host {

namespace {

// The object names of the module's progress window.
const QString kOperationLine = QStringLiteral("lable_operatoin");
const QString kItemGauge = QStringLiteral("ProgressBar_item");
const QString kTotalGauge = QStringLiteral("ProgressBar_total");

// A trailing row counter such as "(20/5000)": it moves with the rows, the operation stays.
const QRegularExpression& rowCounter()
{
    static const QRegularExpression re(QStringLiteral("\\s*\\(\\d+/\\d+\\)$"));
    return re;
}

bool isWide(char32_t c)
{
    return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0x303E) || (c >= 0x3041 && c <= 0x33FF) ||
           (c >= 0x3400 && c <= 0x4DBF) || (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0xA000 && c <= 0xA4CF) ||
           (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFE30 && c <= 0xFE4F) ||
           (c >= 0xFF00 && c <= 0xFF60) || (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x1F300 && c <= 0x1F64F) ||
           (c >= 0x1F900 && c <= 0x1F9FF) || (c >= 0x20000 && c <= 0x3FFFD);
}

int charWidth(char32_t c)
{
    if (c < 0x20 || (c >= 0x7F && c < 0xA0))
        return 0;
    const QChar::Category cat = QChar::category(c);
    if (cat == QChar::Mark_NonSpacing || cat == QChar::Mark_Enclosing || cat == QChar::Other_Format)
        return 0;
    return isWide(c) ? 2 : 1;
}

// The longest start of `text` that fits into `width` columns.
QString cutToWidth(const QString& text, int width)
{
    int used = 0;
    QString kept;
    for (const char32_t c : text.toUcs4()) {
        used += charWidth(c);
        if (used > width)
            break;
        kept += QString::fromUcs4(&c, 1);
    }
    return kept;
}

// The window's line as one line of output: breaks become blanks, control characters go.
QString oneLine(QString text)
{
    text.replace(QLatin1String("\r\n"), QLatin1String(" "));
    for (QChar& c : text) {
        if (c == QLatin1Char('\n') || c == QLatin1Char('\t'))
            c = QLatin1Char(' ');
    }
    text.removeIf([](QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7F; });
    return text.trimmed();
}

} // namespace

ProgressReporter::Style ProgressReporter::styleFor(const CommandLine& cl)
{
    if (cl.flag(QStringLiteral("quiet")))
        return Style::Quiet;
    // A terminal that cannot move the cursor gets the lines a log gets.
    if (isatty(STDERR_FILENO) && qEnvironmentVariable("TERM") != QLatin1String("dumb"))
        return Style::Terminal;
    return Style::Lines;
}

ProgressReporter::ProgressReporter(Style style, FILE* out, int columns) : m_style(style), m_out(out), m_columns(columns)
{
    m_timer.setInterval(100);
    connect(&m_timer, &QTimer::timeout, this, [this] { sample(); });
}

ProgressReporter::~ProgressReporter()
{
    finish();
}

void ProgressReporter::followProgressWindow()
{
    if (m_style != Style::Quiet)
        m_timer.start();
}

void ProgressReporter::finish()
{
    m_timer.stop();
    if (m_label)
        m_label->removeEventFilter(this);
    m_window.clear();
    m_label.clear();
    m_gauge.clear();
    if (m_open) {
        write(QByteArrayLiteral("\n"));
        m_open = false;
        m_drawn.clear();
    }
}

bool ProgressReporter::eventFilter(QObject* watched, QEvent* event)
{
    // What the window paints is what the user sees: each painted line is reported.
    if (watched == m_label && event->type() == QEvent::Paint)
        sample();
    return QObject::eventFilter(watched, event);
}

void ProgressReporter::sample()
{
    if (m_window && !m_window->isVisible()) {
        if (m_label)
            m_label->removeEventFilter(this);
        m_window.clear();
        m_label.clear();
        m_gauge.clear();
    }
    if (!m_window) {
        // The progress window is a top-level window of its own while a run goes on.
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (!w->isVisible())
                continue;
            if (auto* label = w->findChild<QLabel*>(kOperationLine)) {
                m_window = w;
                m_label = label;
                m_label->installEventFilter(this);
                break;
            }
        }
        if (!m_window)
            return;
    }
    // The total gauge only when the window shows it (a run of several items); else the item gauge.
    auto* total = m_window->findChild<QWidget*>(kTotalGauge);
    m_gauge = total && total->isVisible() ? total : m_window->findChild<QWidget*>(kItemGauge);
    const QVariant percent = m_gauge ? m_gauge->property("PercentDone") : QVariant();
    show(m_label->text(), percent.isValid() ? percent.toInt() : -1);
}

void ProgressReporter::show(const QString& rawText, int percent)
{
    if (m_style == Style::Quiet)
        return;
    const QString text = oneLine(rawText);
    if (percent > 100)
        percent = 100;
    if (m_style == Style::Lines) {
        QString operation = text;
        operation.remove(rowCounter());
        if (operation.isEmpty() || operation == m_lastText)
            return;
        m_lastText = operation;
        const QString number = percent >= 0 ? QString::number(percent) : QStringLiteral("-");
        write((QStringLiteral("progress=%1 %2\n").arg(number, operation)).toUtf8());
        return;
    }
    QString line = percent >= 0 ? QStringLiteral("[%1%]").arg(percent, 3) : QString();
    if (!text.isEmpty())
        line += (line.isEmpty() ? QString() : QStringLiteral(" ")) + text;
    // One column stays free: a line that fills the terminal exactly would wrap on some of them.
    line = cutToWidth(line, columns() - 1);
    if (line.isEmpty() || (m_open && line == m_drawn))
        return;
    m_drawn = line;
    m_open = true;
    write("\r" + line.toUtf8() + "\x1b[K");
}

int ProgressReporter::displayWidth(const QString& text)
{
    int width = 0;
    for (const char32_t c : text.toUcs4())
        width += charWidth(c);
    return width;
}

void ProgressReporter::write(const QByteArray& bytes)
{
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), m_out);
    std::fflush(m_out);
}

int ProgressReporter::columns() const
{
    if (m_columns > 0)
        return m_columns;
    winsize size{};
    if (ioctl(fileno(m_out), TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return 80;
}

} // namespace sjql::host
