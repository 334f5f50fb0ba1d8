// SPDX-License-Identifier: MIT
#include "support/EventPump.h"

#include <QCoreApplication>
#include <QThread>

namespace sjql {
namespace {

bool onApplicationThread()
{
    const QCoreApplication* app = QCoreApplication::instance();
    return app && app->thread() == QThread::currentThread();
}

} // namespace

EventPump::EventPump(EventPolicy policy, std::chrono::milliseconds interval)
    : m_policy(policy), m_intervalMs(interval.count())
{
    m_sincePass.start();
}

bool EventPump::operator()()
{
    if (m_policy == EventPolicy::EveryCall) {
        if (!onApplicationThread())
            return false;
        QCoreApplication::processEvents();
    } else {
        // The clock first: this is called thousands of times a second and mostly has nothing to do.
        if (m_sincePass.elapsed() < m_intervalMs || !onApplicationThread())
            return false;
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        m_sincePass.restart();
    }
    ++m_passes;
    return true;
}

void ProcessPendingEvents()
{
    EventPump pump(EventPolicy::EveryCall);
    pump();
}

std::function<void()> PumpOrDefault(const std::function<void()>& pump)
{
    if (pump)
        return pump;
    return &ProcessPendingEvents;
}

} // namespace sjql
