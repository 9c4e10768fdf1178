#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <vector>

#include "corvane/action_listener.h"
#include "loop/loop.h"
#include "transfer/transfer_action_queue.h"
#include "transfer/transfer_listener.h"

namespace corvane {

class ActionData;
class ApiManager;
class CryptoManager;
class FilesystemModule;
class HttpModule;
class MutableActionData;
class SQLiteDatabase;
class TransferProcessor;
struct TransferRetryPolicy;

// The scheduler of the file transfers of one API manager: turns transfer actions into
// transfer-action objects, queues them by direction and feeds their transfers to one processor
// per direction. Everything runs on the SDK main loop (the API manager's getLoop); no locks.
class TransferManager : public TransferListener, public ActionListener {
public:
    static constexpr uint64_t kRecheckMilliseconds = 10000;

    // The database is the API manager's second one: kept for the transfer records, not used
    // by the transfer engine.
    TransferManager(HttpModule* httpModule, CryptoManager* cryptoManager, SQLiteDatabase* database,
                    FilesystemModule* filesystemModule, ApiManager* apiManager);
    // Cancels and clears every action and removes an armed recheck timer: it points at this.
    ~TransferManager() override;

    TransferManager(const TransferManager&) = delete;
    TransferManager& operator=(const TransferManager&) = delete;

    // The entry of the transfer action processors; the listener hears of progress, errors and
    // the end.
    void processTransferAction(std::shared_ptr<MutableActionData> actionData, ActionListener* listener);

    // At logout and session reset: cancels and clears the work of both directions and the
    // pending recheck, leaving the manager as constructed.
    void reset();

    // Starts the next transfer of the direction when its processor is idle.
    void checkPendingTransfers(int32_t direction);

    // By the sequence id of the action's data.
    void cancelAction(int32_t tag);
    void cancelAll(int32_t direction);
    void clearFinishedAction(int32_t tag);
    void clearFinished(int32_t direction);
    std::shared_ptr<std::vector<std::shared_ptr<ActionData>>> getActions(int32_t direction, int32_t filter) const;

    void onTransferFinish(std::shared_ptr<MutableTransferData> transfer) override;

    void onActionProgress(std::shared_ptr<ActionData> action) override;
    void onActionError(std::shared_ptr<ActionData> action) override;
    void onActionFinish(std::shared_ptr<ActionData> action) override;

    // How often and after what pause failed uploads are tried again, for every processor and
    // the queue alike.
    void setRetryPolicy(const TransferRetryPolicy& policy);
    void setClock(TransferClock clock) { queue_.setClock(std::move(clock)); }
    void setRecheckDelay(uint64_t milliseconds) { recheckDelay_ = milliseconds; }

    CryptoManager* getCryptoManager() const { return cryptoManager_; }
    const std::set<TransferProcessor*>& getProcessors(int32_t direction) const { return processors_[direction]; }
    bool hasRecheckTimer() const;

private:
    friend class TransferManagerTestPeer;

    TransferProcessor* createProcessor(int32_t direction);
    TransferProcessor* getIdleProcessor(int32_t direction) const;
    // One timer serves both directions: arms the recheck unless one is armed already.
    void armRecheckTimer(int32_t direction);
    void removeRecheckTimer();
    // Whether the direction holds a transfer that may start now or later.
    bool hasPendingWork(int32_t direction);
    // Ends an action that no transfer-action class serves here.
    void refuse(const std::shared_ptr<MutableActionData>& actionData, ActionListener* listener, const char* line);

    ApiManager* apiManager_;
    SQLiteDatabase* database_;
    CryptoManager* cryptoManager_;
    FilesystemModule* filesystemModule_;
    HttpModule* httpModule_;
    TimerHandle recheckTimer_;
    TransferActionQueue queue_;
    std::set<TransferProcessor*> processors_[2];
    uint64_t recheckDelay_ = kRecheckMilliseconds;
};

}  // namespace corvane
