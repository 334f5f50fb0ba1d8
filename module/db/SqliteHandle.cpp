// SPDX-License-Identifier: MIT
#include "db/SqliteHandle.h"

#include <QSqlDriver>
#include <QVariant>

namespace sjql {

sqlite3* SqliteHandleOf(const QSqlDatabase& db)
{
    const QSqlDriver* driver = db.driver();
    if (!db.isOpen() || !driver || driver->dbmsType() != QSqlDriver::SQLite)
        return nullptr;
    const QVariant handle = driver->handle();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0)
        return nullptr;
    return *static_cast<sqlite3* const*>(handle.constData());
}

} // namespace sjql
