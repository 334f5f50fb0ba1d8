// SPDX-License-Identifier: MIT
#include "support/FaultPoint.h"

#include <QByteArray>

#include <csignal>
#include <cstdlib>

namespace sjql {

namespace {

// Read once: the variable is set by the test that starts the process.
const QByteArray& armedPoint()
{
    static const QByteArray armed = qgetenv(kKillAtEnv);
    return armed;
}

} // namespace

void FaultPoint(const char* point, const QString& period)
{
    const QByteArray& armed = armedPoint();
    if (armed.isEmpty())
        return;
    QByteArray here(point);
    if (armed.contains(':'))
        here += ':' + period.toLatin1();
    if (armed != here)
        return;
    std::raise(SIGKILL);
    std::abort(); // not reached
}

} // namespace sjql
