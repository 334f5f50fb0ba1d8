// SPDX-License-Identifier: MIT
// Long file work on a helper thread while the calling (GUI) thread keeps processing events.
//
// Syncing a large file or reading one back can take longer than a progress window may go without
// repainting. The work runs on a helper thread; the caller's thread waits for it and calls `pump`
// every 20 ms meanwhile (usually an EventPump, support/EventPump.h). The work must not touch anything
// the pump may touch (widgets, the host's database connection): plain files and objects of its own
// only.
#pragma once

#include <chrono>
#include <functional>
#include <future>
#include <utility>

namespace sjql {

// Waits for `pending` and returns its result, calling `pump` every 20 ms meanwhile (without a pump
// it simply waits).
template <typename T> T WaitBesideEvents(std::future<T>& pending, const std::function<void()>& pump)
{
    if (pump) {
        while (pending.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready)
            pump();
    }
    return pending.get();
}

// Runs `work` and returns its result (an exception it throws is thrown here). Without a pump the
// work simply runs on the calling thread.
template <typename Work> auto RunBesideEvents(Work work, const std::function<void()>& pump) -> decltype(work())
{
    if (!pump)
        return work();
    auto done = std::async(std::launch::async, std::move(work));
    return WaitBesideEvents(done, pump);
}

} // namespace sjql
