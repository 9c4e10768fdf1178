#pragma once

#include <cstdint>
#include <ctime>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <vector>

namespace corvane {

class ActionData;
class MutableTransferData;
class TransferActionProcessor;

// Seconds since the epoch; replaceable so that the retry pause can be tested without waiting.
using TransferClock = std::function<int64_t()>;

// A failed upload waits at least this long before it is startable again (more than 9 s).
constexpr int64_t kTransferRetryPauseSeconds = 9;

// The transfers of one transfer action, in the order they were added. Adding numbers a
// transfer's priority from 1. SDK main loop only.
class TransferList {
public:
    TransferList() = default;
    ~TransferList() { clear(); }

    TransferList(const TransferList&) = delete;
    TransferList& operator=(const TransferList&) = delete;

    void add(std::shared_ptr<MutableTransferData> transfer);
    // The first startable transfer: READY, or RETRYING once more than pauseSeconds have passed
    // since its last failure. pending says whether anything of the list may still start.
    std::shared_ptr<MutableTransferData> next(int64_t now, int64_t pauseSeconds, bool& pending) const;
    // Removes and returns the last transfer; empty when there is none.
    std::shared_ptr<MutableTransferData> takeLast();
    // Releases every transfer, last first.
    void clear();
    bool empty() const { return transfers_.empty(); }
    size_t size() const { return transfers_.size(); }
    const std::deque<std::shared_ptr<MutableTransferData>>& items() const { return transfers_; }

private:
    std::deque<std::shared_ptr<MutableTransferData>> transfers_;
    uint64_t counter_ = 0;
};

// The transfer actions of one transfer manager by direction, oldest first, and by the sequence
// id of their action data. The queue never deletes an action: a removed one is asked to delete
// itself once nothing can still call it. SDK main loop only.
class TransferActionQueue {
public:
    TransferActionQueue();
    ~TransferActionQueue();

    TransferActionQueue(const TransferActionQueue&) = delete;
    TransferActionQueue& operator=(const TransferActionQueue&) = delete;

    void addAction(TransferActionProcessor* action);
    // The next transfer to start in the direction; pending says whether anything of the
    // direction may still start later.
    std::shared_ptr<MutableTransferData> getNextTransfer(int32_t direction, bool& pending);

    // By the sequence id of the action's data.
    void cancelAction(int32_t tag);
    void cancelAll(int32_t direction);
    void clearFinishedAction(int32_t tag);
    void clearFinished(int32_t direction);

    // 5: every action; 6: every unfinished one; otherwise those whose status equals filter.
    std::shared_ptr<std::vector<std::shared_ptr<ActionData>>> getActions(int32_t direction, int32_t filter) const;

    size_t size(int32_t direction) const;

    void setClock(TransferClock clock) { clock_ = std::move(clock); }
    void setRetryPause(int64_t seconds) { retryPause_ = seconds; }

private:
    std::deque<TransferActionProcessor*> actions_[2];
    std::map<int32_t, TransferActionProcessor*> byTag_;
    uint64_t counter_ = 0;
    TransferClock clock_;
    int64_t retryPause_ = kTransferRetryPauseSeconds;
};

}  // namespace corvane
