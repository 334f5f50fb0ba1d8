// SPDX-License-Identifier: MIT
#include "jobs/ResultLines.h"

#include <QThread>

namespace sjql {

void TDispResultList::AddTimedLine(const QString& text, quint32 color, const QDateTime& time)
{
    const auto id = reinterpret_cast<quintptr>(QThread::currentThreadId());
    FLines.push_back(TDispResult{
        QStringLiteral("%1").arg(static_cast<qulonglong>(id), 6, 16, QLatin1Char('0')).toUpper(), text, time, color});
}

} // namespace sjql
