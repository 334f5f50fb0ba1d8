// SPDX-License-Identifier: MIT
// The result lines of the long operations: what a backup or restore reports, line by line, for the
// result dialogs and the scripted host to show.
//
// TDispResultList owns copies of its lines and has no lock: lines are added on one thread (the GUI
// thread in the window, the main thread in scripted runs).
#pragma once

#include <QDateTime>
#include <QString>

#include <vector>

namespace sjql {

struct TDispResult
{
    QString ThreadTag; // adding thread's identifier, upper-case hexadecimal, at least 6 digits
    QString Text;
    QDateTime Time;
    quint32 Color = 0; // COLORREF; 0 (black) for AddLine
};

class TDispResultList
{
public:
    void AddLine(const QString& text) { AddColoredLine(text, 0); }
    void AddColoredLine(const QString& text, quint32 color) { AddTimedLine(text, color, QDateTime::currentDateTime()); }
    void AddTimedLine(const QString& text, quint32 color, const QDateTime& time);
    void ClearLines() { FLines.clear(); }
    int LineCount() const { return static_cast<int>(FLines.size()); }
    // A copy of the line at a 0-based index; the index must be in range.
    TDispResult GetLine(int index) const { return FLines.at(static_cast<size_t>(index)); }

private:
    std::vector<TDispResult> FLines;
};

} // namespace sjql
