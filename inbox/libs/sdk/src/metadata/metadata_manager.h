#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "transfer/transfer_listener.h"

namespace corvane {

class ActionListener;
class CryptoManager;
class FilesystemModule;
class HttpModule;
class MetadataProcessor;
class MetadataTransferQueue;
class MutableActionData;
class SQLiteDatabase;

// The transfer manager of per-node thumbnails and previews: queues the blob transfers of the
// UPLOAD_METADATA and DOWNLOAD_METADATA actions by direction and runs up to ten of each at
// once. Runs on the SDK main loop; no locks.
class MetadataManager : public TransferListener {
public:
    static constexpr int32_t kProcessorsPerDirection = 10;

    // The database is the API manager's second one: kept, not used.
    MetadataManager(HttpModule* httpModule, CryptoManager* cryptoManager, SQLiteDatabase* database,
                    FilesystemModule* filesystemModule);
    ~MetadataManager() override;

    MetadataManager(const MetadataManager&) = delete;
    MetadataManager& operator=(const MetadataManager&) = delete;

    // Makes the transfer record of the action (stored in it) and queues it; the listener hears
    // onActionFinish when the transfer ended, with a failure's code in the action data.
    void processTransfer(std::shared_ptr<MutableActionData> actionData, ActionListener* listener);
    // Hands the direction's oldest waiting transfer to a free processor.
    void checkPendingTransfers(int32_t direction);
    void onTransferFinish(std::shared_ptr<MutableTransferData> transfer) override;

    // At logout and session reset: every queued and running transfer ends with 16
    // ("Cancelled"), its request cancelled, and its action's listener is told.
    void reset();

    // Transfers of the direction being served now.
    int32_t activeTransfers(int32_t direction) const;
    // No transfer queued or served and no request out.
    bool isIdle() const;

private:
    SQLiteDatabase* database_;
    CryptoManager* cryptoManager_;
    FilesystemModule* filesystemModule_;
    HttpModule* httpModule_;
    std::unique_ptr<MetadataTransferQueue> queue_;
    std::vector<std::unique_ptr<MetadataProcessor>> processors_[2];
};

}  // namespace corvane
