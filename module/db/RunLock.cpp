// SPDX-License-Identifier: MIT
#include "db/RunLock.h"

namespace sjql {

// Placeholder until the real lock lands: always granted.
RunLock::~RunLock()
{
    release();
}

bool RunLock::acquire(const QString& agentCode, QString* error)
{
    Q_UNUSED(agentCode);
    Q_UNUSED(error);
    m_held = true;
    return true;
}

void RunLock::release()
{
    m_held = false;
}

} // namespace sjql
