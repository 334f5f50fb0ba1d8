// SPDX-License-Identifier: MIT
#include "db/TransactionFlush.h"

#include "db/SqliteHandle.h"

#include <sqlite3.h>

namespace sjql {

bool FlushTransactionWrites(const QSqlDatabase& db)
{
    sqlite3* raw = SqliteHandleOf(db);
    if (!raw || sqlite3_get_autocommit(raw) != 0)
        return true; // no transaction: every statement was committed and synced on its own
    const int rc = sqlite3_db_cacheflush(raw);
    if (rc == SQLITE_BUSY)
        return true; // another connection still reads the file: the pages wait for the commit
    if (rc != SQLITE_OK)
        return false;
    sqlite3_file* file = nullptr;
    if (sqlite3_file_control(raw, "main", SQLITE_FCNTL_FILE_POINTER, &file) != SQLITE_OK || !file || !file->pMethods)
        return true; // an in-memory database has no file to sync
    return file->pMethods->xSync(file, SQLITE_SYNC_NORMAL) == SQLITE_OK;
}

} // namespace sjql
