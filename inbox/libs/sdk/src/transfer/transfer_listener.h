#pragma once

#include <memory>

namespace corvane {

class MutableTransferData;

// The owner of a transfer hears of it through these, on the SDK main loop, in this order:
// start once, progress any number of times, an error per failed upload attempt, finish once.
class TransferListener {
public:
    virtual ~TransferListener() = default;

    virtual void onTransferStart(std::shared_ptr<MutableTransferData> transfer) {}
    virtual void onTransferProgress(std::shared_ptr<MutableTransferData> transfer) {}
    virtual void onTransferError(std::shared_ptr<MutableTransferData> transfer) {}
    virtual void onTransferFinish(std::shared_ptr<MutableTransferData> transfer) {}
};

}  // namespace corvane
