#pragma once

#include <cstdint>
#include <memory>

#include "transfer/transfer_action_queue.h"
#include "transfer/transfer_listener.h"

namespace corvane {

class ActionListener;
class MutableActionData;
class TransferManager;

// One user-level transfer action (UPLOAD, UPLOAD_TO_RECORD, DOWNLOAD, ...): turns the action
// into transfers, owns them as their listener, mirrors their progress into the action data and
// tells the manager of progress, temporary errors and the end. It deletes itself once deletion
// was requested, the action has finished and no callback of its own work can still reach it.
// SDK main loop only.
class TransferActionProcessor : public TransferListener {
public:
    static constexpr int32_t kWaiting = 0;
    static constexpr int32_t kReady = 1;
    static constexpr int32_t kRetrying = 2;
    static constexpr int32_t kActive = 3;
    static constexpr int32_t kFinished = 4;

    TransferActionProcessor(TransferManager* manager, std::shared_ptr<MutableActionData> actionData,
                            ActionListener* listener);
    ~TransferActionProcessor() override;

    TransferActionProcessor(const TransferActionProcessor&) = delete;
    TransferActionProcessor& operator=(const TransferActionProcessor&) = delete;

    void onTransferStart(std::shared_ptr<MutableTransferData> transfer) override;
    void onTransferProgress(std::shared_ptr<MutableTransferData> transfer) override;
    void onTransferError(std::shared_ptr<MutableTransferData> transfer) override;
    void onTransferFinish(std::shared_ptr<MutableTransferData> transfer) override;

    // The first startable transfer of the action (see TransferList::next).
    virtual std::shared_ptr<MutableTransferData> getNextTransfer(int64_t now, int64_t pauseSeconds, bool& pending);
    // Ends every unfinished transfer with 16 (Cancelled) and finishes the action with 16.
    virtual void cancel();
    // Callbacks of the action's own work that may still arrive.
    virtual int32_t getPendingAsyncRequests() const = 0;

    // Deletes the object now, or once it has finished and stopped.
    void requestDeletion();

    int32_t getDirection() const { return direction_; }
    int32_t getStatus() const { return status_; }
    uint64_t getTag() const { return tag_; }
    void setTag(uint64_t tag) { tag_ = tag; }
    bool isFinished() const { return status_ == kFinished; }
    const std::shared_ptr<MutableActionData>& getActionData() const { return actionData_; }
    const TransferList& getTransfers() const { return transfers_; }

protected:
    // Stores the status and mirrors it into the action data's flags.
    void setStatus(int32_t status);
    // Reports the end once. Transfers that have not started yet are cancelled: nothing of a
    // finished action may stay queued.
    void finish();
    // Marks the object stopped when no callback is pending.
    void notifyStopped();
    // Ends one transfer that no processor will finish: 16, FINISHED, detached from this owner,
    // reported to the manager.
    void endTransfer(const std::shared_ptr<MutableTransferData>& transfer);

    int32_t direction_ = 0;
    int32_t status_ = kReady;
    uint64_t tag_ = 0;
    int64_t lastErrorTime_ = 0;
    std::shared_ptr<MutableActionData> actionData_;
    ActionListener* listener_;
    TransferList transfers_;
    TransferManager* manager_;
    bool deletionRequested_ = false;
    bool finished_ = false;
    bool stopped_ = false;
    int32_t pendingFiles_ = 0;

private:
    // Deletes the object when deletion was requested, it finished and it stopped.
    bool deleteIfDone();
};

// One file, up or down.
class SingleTransferAction : public TransferActionProcessor {
public:
    SingleTransferAction(TransferManager* manager, std::shared_ptr<MutableActionData> actionData,
                         ActionListener* listener);
    ~SingleTransferAction() override;

    void onTransferStart(std::shared_ptr<MutableTransferData> transfer) override;
    void onTransferProgress(std::shared_ptr<MutableTransferData> transfer) override;
    void onTransferFinish(std::shared_ptr<MutableTransferData> transfer) override;
    void cancel() override;
    int32_t getPendingAsyncRequests() const override { return pendingFiles_; }
};

}  // namespace corvane
