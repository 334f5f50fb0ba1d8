// SPDX-License-Identifier: MIT
#include "ProgressReporter.h"

#include "Commands.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QMetaProperty>
#include <QVariant>
#include <QWidget>

#include <csignal>
#include <ctime>
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace sjql::host {

namespace {

// The object names of the module's progress window.
const QString kOperationLine = QStringLiteral("lable_operatoin");
const QString kItemGauge = QStringLiteral("ProgressBar_item");
const QString kTotalGauge = QStringLiteral("ProgressBar_total");

// The text without a trailing row counter such as "(20/5000)": that moves with the rows, the
// operation stays. Looked at for every change of the text, so no regular expression.
QString withoutRowCounter(const QString& text)
{
    if (!text.endsWith(QLatin1Char(')')))
        return text;
    const qsizetype open = text.lastIndexOf(QLatin1Char('('));
    if (open < 0)
        return text;
    const QStringView inner = QStringView(text).mid(open + 1, text.size() - open - 2);
    const qsizetype slash = inner.indexOf(QLatin1Char('/'));
    if (slash <= 0 || slash == inner.size() - 1)
        return text;
    for (qsizetype i = 0; i < inner.size(); ++i) {
        if (i != slash && !inner.at(i).isDigit())
            return text;
    }
    return text.left(open).trimmed();
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
    if (m_style == Style::Quiet)
        return;
    m_timer.start();
    if (QCoreApplication* app = QCoreApplication::instance())
        app->installEventFilter(this);
    // A log gets every operation: the text is looked at whenever the run lets events be processed,
    // which it does right after each change.
    if (m_style == Style::Lines && !m_awake) {
        if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance())
            m_awake = connect(dispatcher, &QAbstractEventDispatcher::awake, this, [this] { onEvents(); });
    }
}

void ProgressReporter::finish()
{
    // QCoreApplication: init runs without widgets.
    if (QCoreApplication* app = QCoreApplication::instance())
        app->removeEventFilter(this);
    m_timer.stop();
    if (m_awake)
        disconnect(m_awake);
    m_awake = {};
    m_window.clear();
    m_label.clear();
    if (m_open) {
        write(QByteArrayLiteral("\n"));
        m_open = false;
        m_drawn.clear();
    }
}

void ProgressReporter::findWindow()
{
    if (m_window && m_window->isVisible() && m_label)
        return;
    m_window.clear();
    m_label.clear();
    // The progress window is a window of its own while a run goes on, owned by the window in front
    // of it: a search from the host's frame finds its label too, so the window is the label's.
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (!w->isVisible())
            continue;
        if (auto* label = w->findChild<QLabel*>(kOperationLine)) {
            QWidget* window = label->window();
            if (!window->isVisible())
                continue;
            m_window = window;
            m_label = label;
            m_textProperty = window->metaObject()->indexOfProperty("OperationText");
            m_positionProperty = window->metaObject()->indexOfProperty("ItemProgress");
            return;
        }
    }
}

bool ProgressReporter::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Show && !m_window && watched->isWidgetType() &&
        static_cast<QWidget*>(watched)->isWindow()) {
        findWindow();
        if (m_window)
            sample();
    }
    return false;
}

void ProgressReporter::onEvents()
{
    // Looking for a window costs more than reading one: not more often than every 20 ms.
    if (!m_window && (!m_lastSearch.isValid() || m_lastSearch.hasExpired(20))) {
        m_lastSearch.start();
        findWindow();
    }
    if (!m_window || m_textProperty < 0)
        return;
    const QString text = m_window->metaObject()->property(m_textProperty).read(m_window).toString();
    if (text == m_lastRaw)
        return;
    m_lastRaw = text;
    sample();
}

void ProgressReporter::sample()
{
    findWindow();
    if (!m_window)
        return;
    const QMetaObject* meta = m_window->metaObject();
    const QString text =
        m_textProperty >= 0 ? meta->property(m_textProperty).read(m_window).toString() : m_label->text();
    // The total gauge when the window shows it (a run of several items); else the item's position.
    int percent = -1;
    auto* total = m_window->findChild<QWidget*>(kTotalGauge);
    if (total && total->isVisible()) {
        percent = total->property("PercentDone").toInt();
    } else if (m_positionProperty >= 0) {
        percent = qBound(0, meta->property(m_positionProperty).read(m_window).toInt(), 100);
    } else if (auto* item = m_window->findChild<QWidget*>(kItemGauge)) {
        const QVariant done = item->property("PercentDone");
        percent = done.isValid() ? done.toInt() : -1;
    }
    show(text, percent);
}

void ProgressReporter::show(const QString& rawText, int percent)
{
    if (m_style == Style::Quiet)
        return;
    const QString text = oneLine(rawText);
    if (percent > 100)
        percent = 100;
    if (m_style == Style::Lines) {
        const QString operation = withoutRowCounter(text);
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
    if (m_broken)
        return;
    // A reader that went away (sjql-host ... 2>&1 | head) must not end the run by SIGPIPE in the
    // middle of a month: the signal is held back for this write and a pending one taken away, and
    // progress stops there.
    sigset_t pipeSignal, previous;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, &previous);
    const bool written = std::fwrite(bytes.constData(), 1, size_t(bytes.size()), m_out) == size_t(bytes.size()) &&
                         std::fflush(m_out) == 0;
    if (!written) {
        m_broken = true;
        const timespec noWait{0, 0};
        while (sigtimedwait(&pipeSignal, nullptr, &noWait) == SIGPIPE) {
        }
        std::clearerr(m_out);
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
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
