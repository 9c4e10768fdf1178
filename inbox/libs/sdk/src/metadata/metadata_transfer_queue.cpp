#include "metadata/metadata_transfer_queue.h"

#include <algorithm>

#include "database/mutable_transfer_data.h"

namespace corvane {

void MetadataTransferQueue::addTransfer(std::shared_ptr<MutableTransferData> transfer) {
    if (!transfer || !isDirection(transfer->getType())) {
        return;
    }
    ++counter_;
    transfer->setPriority(static_cast<int64_t>(counter_));
    transfers_[transfer->getType()].push_back(std::move(transfer));
}

std::shared_ptr<MutableTransferData> MetadataTransferQueue::getNextTransfer(int32_t direction) const {
    if (!isDirection(direction)) {
        return nullptr;
    }
    for (const auto& transfer : transfers_[direction]) {
        if (transfer->getStatus() == TransferData::kStatusReady) {
            return transfer;
        }
    }
    return nullptr;
}

void MetadataTransferQueue::removeTransfer(const std::shared_ptr<MutableTransferData>& transfer) {
    if (!transfer || !isDirection(transfer->getType())) {
        return;
    }
    auto& deque = transfers_[transfer->getType()];
    deque.erase(std::remove(deque.begin(), deque.end(), transfer), deque.end());
}

std::deque<std::shared_ptr<MutableTransferData>> MetadataTransferQueue::takeAll(int32_t direction) {
    std::deque<std::shared_ptr<MutableTransferData>> taken;
    if (isDirection(direction)) {
        taken.swap(transfers_[direction]);
    }
    return taken;
}

size_t MetadataTransferQueue::size(int32_t direction) const {
    return isDirection(direction) ? transfers_[direction].size() : 0;
}

}  // namespace corvane
