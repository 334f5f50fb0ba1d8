// SPDX-License-Identifier: MIT
// Progress of a long scripted command on stderr, so that a run of many seconds is not silent.
//
// For clear and restore it follows the module's progress window: its operation text and the
// position of its gauge ("ProgressBar_item", or "ProgressBar_total" when the window shows that
// one), read by name: the window's properties "OperationText" and "ItemProgress" where it has them,
// else its operation line "lable_operatoin" and the gauge's "PercentDone". A timer looks every
// 100 ms; for the line-per-operation style the text is also looked at whenever the run lets events
// be processed, so that no operation is missed, however short (a comparison of two strings each
// time). The run is never called into, so it pays nothing measurable for being watched.
// Commands without a window (init) report their phases through show().
//
// Three styles: on a terminal one line redrawn in place ("\r[ 45%] text", cleared to the end of
// the line and cut to the terminal's width); elsewhere (a log, a pipe) one line per change of the
// operation text, "progress=45 text", where a trailing row counter "(k/N)" is left out and is no
// change; --quiet prints nothing. stdout is left alone: it carries the results. GUI thread only.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <cstdio>

class QLabel;

namespace sjql::host {

struct CommandLine;

class ProgressReporter : public QObject
{
public:
    enum class Style
    {
        Quiet,    // nothing at all
        Terminal, // one line, redrawn
        Lines,    // one line per operation text
    };

    // --quiet: Quiet; stderr a terminal that understands cursor control: Terminal; else Lines.
    static Style styleFor(const CommandLine& cl);

    // Writes to `out` (not owned). `columns`: the terminal's width; 0 asks the terminal each time.
    explicit ProgressReporter(Style style, FILE* out = stderr, int columns = 0);
    ~ProgressReporter() override; // finish()

    // From now until finish(), follows the module's progress window whenever one is shown.
    void followProgressWindow();

    // One state: the operation text and the position in percent (-1: no position).
    void show(const QString& text, int percent);

    // Stops following; on a terminal ends the redrawn line with a newline, so that whatever is
    // printed next starts on a line of its own. Idempotent.
    void finish();

    // Columns a text takes on a terminal: East Asian wide and full-width characters take two.
    static int displayWidth(const QString& text);

protected:
    // Catches the progress window the moment it is shown: a small run can be half done before the
    // first timer tick or the next search.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void findWindow();
    void sample();
    void onEvents();
    void write(const QByteArray& bytes);
    int columns() const;

    Style m_style;
    FILE* m_out;
    int m_columns;
    QTimer m_timer;
    QMetaObject::Connection m_awake; // Lines: the event dispatcher's "awake"
    QElapsedTimer m_lastSearch;      // Lines: when the window was last looked for
    QPointer<QWidget> m_window;      // the progress window being followed
    QPointer<QLabel> m_label;
    int m_textProperty = -1; // index of "OperationText" in the window's meta-object, -1: none
    int m_positionProperty = -1;
    QString m_lastRaw;     // Lines: the operation text as last seen
    QString m_drawn;       // Terminal: the line on the screen now
    bool m_open = false;   // Terminal: a drawn line not yet ended by a newline
    bool m_broken = false; // the output failed (its reader is gone): nothing more is written
    QString m_lastText;    // Lines: the operation text printed last, without its row counter
};

} // namespace sjql::host
