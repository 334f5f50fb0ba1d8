// SPDX-License-Identifier: MIT
#include "db/StatementEventPump.h"

#include "db/SqliteHandle.h"

#include <QCoreApplication>

#include <sqlite3.h>

namespace sjql {
namespace {

// Virtual machine steps between two callbacks: a few hundred microseconds of work, so that the
// clock is read often enough without costing the statement anything noticeable.
constexpr int kStepsPerCallback = 4000;

} // namespace

StatementEventPump::StatementEventPump(const QSqlDatabase& db, int intervalMs)
    : m_pump(EventPolicy::ConnectionBusy, std::chrono::milliseconds(intervalMs))
{
    if (!QCoreApplication::instance())
        return;
    m_db = SqliteHandleOf(db);
    if (!m_db)
        return;
    sqlite3_progress_handler(m_db, kStepsPerCallback, &StatementEventPump::onProgress, this);
}

StatementEventPump::~StatementEventPump()
{
    if (m_db)
        sqlite3_progress_handler(m_db, 0, nullptr, nullptr);
}

int StatementEventPump::onProgress(void* self)
{
    (void)static_cast<StatementEventPump*>(self)->m_pump();
    return 0; // never interrupts the statement
}

} // namespace sjql
