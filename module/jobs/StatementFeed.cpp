// SPDX-License-Identifier: MIT
#include "jobs/StatementFeed.h"

#include "support/AdtgReader.h"
#include "support/PhaseObserver.h"

#include <exception>

namespace sjql {

namespace {

// Empties a reused item; its memory stays for the next row.
void reset(QString& sql)
{
    sql.truncate(0);
}
void reset(BoundRow& row)
{
    row.clear();
}

} // namespace

template <typename Item>
RowFeed<Item>::RowFeed(adtg::AdtgRecordset& rows, RowItemBuilder<Item> build, TDBKind kind)
    : m_rows(rows), m_build(build), m_kind(kind), m_worker([this] { produce(); })
{}

template <typename Item> RowFeed<Item>::~RowFeed()
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_changed.notify_all();
    m_worker.join();
}

template <typename Item> const Item* RowFeed<Item>::next(QString* error)
{
    while (m_position >= m_current.items.size()) {
        if (m_current.last) {
            if (!m_current.error.isEmpty())
                *error = m_current.error;
            return nullptr;
        }
        std::unique_lock<std::mutex> lock(m_mutex);
        // The used batch goes back to the helper, which builds into its strings again: their
        // memory is reused instead of being freed on this thread and allocated on the other.
        if (!m_current.items.empty())
            m_spare.push_back(std::move(m_current));
        m_changed.wait(lock, [this] { return !m_queue.empty(); });
        m_current = std::move(m_queue.front());
        m_queue.pop_front();
        // Wake the helper only once the queue is half empty, so that it builds several batches
        // in one go instead of one batch per wake-up.
        const bool wake = m_queue.size() == kQueuedBatches / 2;
        lock.unlock();
        if (wake)
            m_changed.notify_all();
        m_position = 0;
    }
    return &m_current.items[m_position++];
}

template <typename Item> void RowFeed<Item>::produce()
{
    Batch batch;
    size_t used = 0; // items of batch filled so far; the rest are spare strings
    for (;;) {
        bool end = m_rows.eof();
        if (!end) {
            if (used == batch.items.size())
                batch.items.emplace_back();
            Item& item = batch.items[used];
            reset(item);
            QString error;
            try {
                bool built = false;
                {
                    const PhaseTimer timer(Phase::Building);
                    built = m_build(m_rows, m_kind, item, &error);
                }
                if (built) {
                    ++used;
                    const PhaseTimer timer(Phase::Reading);
                    m_rows.moveNext();
                } else {
                    end = true;
                }
            } catch (const std::exception& e) {
                error = QString::fromLocal8Bit(e.what());
                end = true;
            }
            if (end)
                batch.error = error.isEmpty() ? QStringLiteral("第%1行无法转换").arg(m_rows.position() + 1) : error;
        }
        if (!end && used < kBatchRows)
            continue;
        batch.items.resize(used);
        batch.last = end;
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [this] { return m_stop || m_queue.size() < kQueuedBatches; });
        if (m_stop)
            return;
        m_queue.push_back(std::move(batch));
        const bool wake = m_queue.size() == 1; // the consumer may be waiting for it
        batch = Batch();
        if (!end && !m_spare.empty()) {
            batch = std::move(m_spare.back());
            m_spare.pop_back();
            batch.error.clear();
            batch.last = false;
        }
        lock.unlock();
        if (wake || end)
            m_changed.notify_all();
        if (end)
            return;
        used = 0;
    }
}

template class RowFeed<QString>;
template class RowFeed<BoundRow>;

} // namespace sjql
