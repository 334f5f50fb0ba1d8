// SPDX-License-Identifier: MIT
#include "StopSignals.h"

#include <QSocketNotifier>
#include <QString>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace sjql::host {

namespace {

constexpr int kSignals[3] = {SIGINT, SIGTERM, SIGHUP};

// The write end of the pipe, read by the handler.
volatile sig_atomic_t gWriteEnd = -1;

extern "C" void onStopSignal(int signalNumber)
{
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    // Non-blocking: when the pipe is full, enough requests are waiting already.
    [[maybe_unused]] const ssize_t written = ::write(gWriteEnd, &byte, 1);
    errno = savedErrno;
}

} // namespace

QString signalName(int signalNumber)
{
    switch (signalNumber) {
    case SIGINT:
        return QStringLiteral("SIGINT");
    case SIGTERM:
        return QStringLiteral("SIGTERM");
    case SIGHUP:
        return QStringLiteral("SIGHUP");
    default:
        return QStringLiteral("signal %1").arg(signalNumber);
    }
}

StopSignals::StopSignals(std::function<void(int)> onSignal) : m_onSignal(std::move(onSignal))
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    m_read = fds[0];
    m_write = fds[1];
    gWriteEnd = m_write;
    m_notifier = std::make_unique<QSocketNotifier>(m_read, QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, [this] { drain(); });

    struct sigaction action = {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART; // system calls of the run go on instead of failing with EINTR
    for (int i = 0; i < 3; ++i)
        ::sigaction(kSignals[i], &action, &m_previous[i]);
    m_active = true;
}

StopSignals::~StopSignals()
{
    if (m_active) {
        for (int i = 0; i < 3; ++i)
            ::sigaction(kSignals[i], &m_previous[i], nullptr);
    }
    gWriteEnd = -1;
    m_notifier.reset();
    if (m_read >= 0)
        ::close(m_read);
    if (m_write >= 0)
        ::close(m_write);
}

void StopSignals::drain()
{
    unsigned char bytes[64];
    for (;;) {
        const ssize_t n = ::read(m_read, bytes, sizeof bytes);
        if (n <= 0)
            break;
        for (ssize_t i = 0; i < n; ++i) {
            if (m_onSignal)
                m_onSignal(bytes[i]);
        }
    }
}

} // namespace sjql::host
