// SPDX-License-Identifier: MIT
// Spreading the writes of one long SQLite transaction over its course.
//
// A restore inserts a whole year in one transaction. SQLite keeps the changed pages in its cache
// and the operating system keeps what SQLite wrote in its own, so without help the commit at the
// end would write and sync hundreds of megabytes in one call, during which no event can be
// processed. Flushing after each data file writes the pages changed so far (their original
// content is in the journal first, as for any cache spill) and syncs the database file, so the
// commit only has the last part left. Atomicity is unchanged: until the commit the journal holds
// the originals, and a crash rolls the file back as before.
//
// GUI thread only, on the connection it was opened on. For any other database, or outside a
// transaction, it does nothing.
#pragma once

#include <QSqlDatabase>

namespace sjql {

// Writes the changed pages of the open transaction to the database file and syncs the file. When
// another connection holds a read lock the pages cannot be written yet and stay for the commit.
// False when SQLite reported an error (the transaction is then still open and whole: the commit
// or rollback that follows reports or undoes it); true otherwise, also when there was nothing to do.
bool FlushTransactionWrites(const QSqlDatabase& db);

} // namespace sjql
