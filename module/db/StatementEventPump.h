// SPDX-License-Identifier: MIT
// Pending events processed from inside long SQLite statements.
//
// One statement on a large database (VACUUM INTO, an integrity check, the deletion of a month of
// a large agent) runs for a second or more without returning. While a StatementEventPump lives,
// SQLite calls back every few thousand steps of any statement on the connection, and an EventPump
// of the policy EventPolicy::ConnectionBusy processes pending events from there (user input left
// waiting, at most every 25 ms), so a progress window keeps painting. The callback never touches
// the connection and never interrupts a statement.
//
// GUI thread only, on a connection opened there. For a connection that is not SQLite (or while no
// application object exists) it does nothing. Not nestable on one connection: the inner one would
// remove the outer one's callback when it ends.
#pragma once

#include "support/EventPump.h"

#include <QSqlDatabase>

struct sqlite3;

namespace sjql {

class StatementEventPump
{
public:
    // `intervalMs`: the least time between two passes of the event loop (0: at every callback).
    explicit StatementEventPump(const QSqlDatabase& db, int intervalMs = int(kBusyEventInterval.count()));
    ~StatementEventPump();
    StatementEventPump(const StatementEventPump&) = delete;
    StatementEventPump& operator=(const StatementEventPump&) = delete;

    // Times the callback processed events so far.
    int passes() const { return m_pump.passes(); }

private:
    static int onProgress(void* self);

    sqlite3* m_db = nullptr;
    EventPump m_pump;
};

} // namespace sjql
