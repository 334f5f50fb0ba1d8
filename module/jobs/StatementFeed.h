// SPDX-License-Identifier: MIT
// The INSERT statements of one backup data file (or their bound rows, db/BoundInsert.h), built on a
// helper thread while the GUI thread runs the statements before them, so that reading and building
// the next rows overlaps the database's work on the current ones.
//
// The helper thread owns the recordset from the feed's construction until its destruction, which
// stops and joins it (also when the consumer stops early). Statements come out in row order, in
// batches of reused strings with a bounded number queued; a row that cannot be built (or a builder
// that throws) ends the feed with its error after the statements of the rows before it. The
// consumer side (next) belongs to one thread.
#pragma once

#include "context/DbKind.h"
#include "db/BoundInsert.h"

#include <QString>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace sjql {

namespace adtg {
class AdtgRecordset;
}

// Fills `item` (a statement, or a bound row) for the current row of `rows`; false with *error when
// the row cannot be built (RowBuilders.h). A statement comes to the builder emptied.
template <typename Item>
using RowItemBuilder = bool (*)(const adtg::AdtgRecordset& rows, TDBKind kind, Item& item, QString* error);
using RowStatementBuilder = RowItemBuilder<QString>;
using BoundRowBuilder = RowItemBuilder<BoundRow>;

template <typename Item> class RowFeed
{
public:
    // Starts building from the current row of `rows`, which must stay alive and untouched by the
    // caller until the feed is destroyed.
    RowFeed(adtg::AdtgRecordset& rows, RowItemBuilder<Item> build, TDBKind kind);
    ~RowFeed();
    RowFeed(const RowFeed&) = delete;
    RowFeed& operator=(const RowFeed&) = delete;

    // The next item, valid until the following call; null at the end, with *error set when a
    // row could not be built (left alone otherwise).
    const Item* next(QString* error);

    // At most this many statements are queued ahead of the consumer.
    static constexpr size_t kBatchRows = 32;
    static constexpr size_t kQueuedBatches = 8;

private:
    struct Batch
    {
        std::vector<Item> items;
        QString error;
        bool last = false;
    };

    void produce();

    adtg::AdtgRecordset& m_rows;
    const RowItemBuilder<Item> m_build;
    const TDBKind m_kind;

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Batch> m_queue;
    std::vector<Batch> m_spare; // used batches, back from the consumer
    bool m_stop = false;

    Batch m_current; // consumer side only
    size_t m_position = 0;

    std::thread m_worker; // last: starts once everything above exists
};

extern template class RowFeed<QString>;
extern template class RowFeed<BoundRow>;
using StatementFeed = RowFeed<QString>;
using BoundRowFeed = RowFeed<BoundRow>;

} // namespace sjql
