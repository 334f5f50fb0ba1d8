// SPDX-License-Identifier: MIT
// The host's open database connection, published to modules in the value-object entry
// "QVR_DKDJADOConnection" (an object cell pointing at a HostConnection).
//
// Host and module share one Qt instance in the process, so this is a C++ interface. The host owns
// the object; a module borrows it and never deletes it. Use it on the GUI thread only: the
// QSqlDatabase behind it was opened there. Every method reports failure through its result and
// lastError(); none throws.
#pragma once

#include <QSqlDatabase>
#include <QString>

namespace sjql {

class HostConnection
{
public:
    virtual ~HostConnection() = default;

    virtual bool connected() const = 0;
    // Opens the connection again after close(); true when it is open afterwards.
    virtual bool connect() = 0;
    virtual void close() = 0;

    // Plain transaction control on the connection; no nesting. False when the database refused.
    virtual bool beginTrans() = 0;
    virtual bool commitTrans() = 0;
    virtual bool rollbackTrans() = 0;
    // Asks the database itself, so a transaction begun by a statement counts too.
    virtual bool inTransaction() const = 0;

    // The connection text, in the Windows connection-string form ("Provider=...;Data Source=...;").
    virtual QString connectionString() const = 0;
    // The database handle that query objects bind to.
    virtual QSqlDatabase database() const = 0;
    virtual QString lastError() const = 0;
};

} // namespace sjql
