#pragma once

#include <cstdint>
#include <deque>
#include <memory>

namespace corvane {

class MutableTransferData;

// The metadata transfers by direction (0 upload, 1 download), oldest first. SDK main loop only.
class MetadataTransferQueue {
public:
    // Numbers the transfer (its priority, from 1, shared by both directions) and appends it to
    // the deque of its type.
    void addTransfer(std::shared_ptr<MutableTransferData> transfer);
    // The oldest READY transfer of the direction; empty when there is none.
    std::shared_ptr<MutableTransferData> getNextTransfer(int32_t direction) const;
    // Drops an ended transfer, which is never offered again.
    void removeTransfer(const std::shared_ptr<MutableTransferData>& transfer);
    // Hands over every queued transfer of the direction, emptying its deque.
    std::deque<std::shared_ptr<MutableTransferData>> takeAll(int32_t direction);
    size_t size(int32_t direction) const;

private:
    static bool isDirection(int32_t direction) { return direction == 0 || direction == 1; }

    std::deque<std::shared_ptr<MutableTransferData>> transfers_[2];
    uint64_t counter_ = 0;
};

}  // namespace corvane
