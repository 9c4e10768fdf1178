#include "transfer/transfer_action_queue.h"

#include <algorithm>

#include "corvane/mutable_action_data.h"
#include "database/mutable_transfer_data.h"
#include "transfer/transfer_action_processor.h"
#include "util/log.h"

namespace corvane {

namespace {

constexpr int32_t kFilterAll = 5;
constexpr int32_t kFilterUnfinished = 6;

bool isDirection(int32_t direction) {
    return direction == 0 || direction == 1;
}

}  // namespace

void TransferList::add(std::shared_ptr<MutableTransferData> transfer) {
    transfer->setPriority(static_cast<int64_t>(++counter_));
    transfers_.push_back(std::move(transfer));
}

std::shared_ptr<MutableTransferData> TransferList::next(int64_t now, int64_t pauseSeconds, bool& pending) const {
    pending = false;
    for (const auto& transfer : transfers_) {
        switch (transfer->getStatus()) {
            case TransferActionProcessor::kReady:
                pending = true;
                return transfer;
            case TransferActionProcessor::kWaiting:
                pending = true;
                break;
            case TransferActionProcessor::kRetrying:
                pending = true;
                if (now - transfer->getLastFailureTime() > pauseSeconds) {
                    return transfer;
                }
                break;
            default:
                break;
        }
    }
    return nullptr;
}

std::shared_ptr<MutableTransferData> TransferList::takeLast() {
    if (transfers_.empty()) {
        return nullptr;
    }
    auto last = std::move(transfers_.back());
    transfers_.pop_back();
    return last;
}

void TransferList::clear() {
    while (!transfers_.empty()) {
        transfers_.pop_back();
    }
    transfers_.shrink_to_fit();
}

TransferActionQueue::TransferActionQueue() : clock_([] { return static_cast<int64_t>(std::time(nullptr)); }) {
}

TransferActionQueue::~TransferActionQueue() = default;

void TransferActionQueue::addAction(TransferActionProcessor* action) {
    action->setTag(++counter_);
    actions_[action->getDirection() == 0 ? 0 : 1].push_back(action);
    byTag_[action->getActionData()->getSequenceId()] = action;
}

std::shared_ptr<MutableTransferData> TransferActionQueue::getNextTransfer(int32_t direction, bool& pending) {
    pending = false;
    if (!isDirection(direction)) {
        return nullptr;
    }
    const int64_t now = clock_();
    for (TransferActionProcessor* action : actions_[direction]) {
        if (action->getStatus() == TransferActionProcessor::kFinished) {
            continue;
        }
        if (action->getStatus() == TransferActionProcessor::kWaiting) {
            pending = true;
            continue;
        }
        bool actionPending = false;
        auto transfer = action->getNextTransfer(now, retryPause_, actionPending);
        if (actionPending) {
            pending = true;
        }
        if (transfer) {
            return transfer;
        }
    }
    return nullptr;
}

void TransferActionQueue::cancelAction(int32_t tag) {
    auto it = byTag_.find(tag);
    if (it == byTag_.end()) {
        CLOG_WARN("Transfer action to cancel not found (tag {})", tag);
        return;
    }
    if (it->second->isFinished()) {
        CLOG_DEBUG("Transfer action to cancel already finished (tag {})", tag);
        return;
    }
    CLOG_DEBUG("Transfer action to cancel found (tag {})", tag);
    it->second->cancel();
}

void TransferActionQueue::cancelAll(int32_t direction) {
    if (!isDirection(direction)) {
        return;
    }
    // Newest first. A cancel may reach back into the queue (a finish starts the next
    // transfer), never adding or removing actions, so a copy is walked all the same.
    const std::deque<TransferActionProcessor*> actions = actions_[direction];
    for (auto it = actions.rbegin(); it != actions.rend(); ++it) {
        if (!(*it)->isFinished()) {
            (*it)->cancel();
        }
    }
}

void TransferActionQueue::clearFinishedAction(int32_t tag) {
    auto it = byTag_.find(tag);
    if (it == byTag_.end()) {
        CLOG_WARN("Finished transfer action to clear not found (tag {})", tag);
        return;
    }
    TransferActionProcessor* action = it->second;
    if (!action->isFinished()) {
        CLOG_DEBUG("Finished transfer action to clear not finished (tag {})", tag);
        return;
    }
    CLOG_DEBUG("Finished transfer action to clear found (tag {})", tag);
    byTag_.erase(it);
    auto& actions = actions_[action->getDirection() == 0 ? 0 : 1];
    auto found = std::find(actions.begin(), actions.end(), action);
    if (found != actions.end()) {
        actions.erase(found);
    }
    action->requestDeletion();
}

void TransferActionQueue::clearFinished(int32_t direction) {
    if (!isDirection(direction)) {
        return;
    }
    auto& actions = actions_[direction];
    std::vector<TransferActionProcessor*> cleared;
    for (auto it = actions.begin(); it != actions.end();) {
        TransferActionProcessor* action = *it;
        if (!action->isFinished()) {
            ++it;
            continue;
        }
        auto tagged = byTag_.find(action->getActionData()->getSequenceId());
        // A later action under the same sequence id keeps its entry.
        if (tagged != byTag_.end() && tagged->second == action) {
            byTag_.erase(tagged);
        }
        it = actions.erase(it);
        cleared.push_back(action);
    }
    // Deleted once out of the deque: a deletion must not find itself still listed.
    for (TransferActionProcessor* action : cleared) {
        action->requestDeletion();
    }
}

std::shared_ptr<std::vector<std::shared_ptr<ActionData>>> TransferActionQueue::getActions(int32_t direction,
                                                                                          int32_t filter) const {
    auto list = std::make_shared<std::vector<std::shared_ptr<ActionData>>>();
    if (!isDirection(direction)) {
        return list;
    }
    for (TransferActionProcessor* action : actions_[direction]) {
        const int32_t status = action->getStatus();
        if (filter == kFilterAll || (filter == kFilterUnfinished && status != TransferActionProcessor::kFinished) ||
            status == filter) {
            list->push_back(action->getActionData());
        }
    }
    return list;
}

size_t TransferActionQueue::size(int32_t direction) const {
    return isDirection(direction) ? actions_[direction].size() : 0;
}

}  // namespace corvane
