#pragma once

#include <cstdint>

#include "loop/loop.h"

namespace corvane {

class ApiManager;
class CryptoManager;
class FilesystemModule;
class HttpModule;
class SQLiteDatabase;

// The scheduler of the file transfers of one API manager. Everything runs on the SDK main
// loop (the API manager's getLoop); no locks.
class TransferManager {
public:
    // The database is the API manager's second one: kept for the transfer records, not used
    // by the transfer engine.
    TransferManager(HttpModule* httpModule, CryptoManager* cryptoManager, SQLiteDatabase* database,
                    FilesystemModule* filesystemModule, ApiManager* apiManager);
    // Removes an armed recheck timer from the main loop: it points at this object.
    ~TransferManager();

    TransferManager(const TransferManager&) = delete;
    TransferManager& operator=(const TransferManager&) = delete;

    // At logout and session reset: drops queued work of both directions and the pending
    // recheck, leaving the manager as constructed.
    void reset();

    // A processor of the direction became idle: the next startable transfer may go to it.
    // Transfers are queued by the transfer actions; without a queue there is nothing to start.
    void checkPendingTransfers(int32_t direction);

private:
    friend class TransferManagerTestPeer;

    // One timer serves both directions: arms the 10000 ms recheck unless one is armed already.
    void armRecheckTimer(int32_t direction);
    void removeRecheckTimer();

    ApiManager* apiManager_;
    SQLiteDatabase* database_;
    CryptoManager* cryptoManager_;
    FilesystemModule* filesystemModule_;
    HttpModule* httpModule_;
    TimerHandle recheckTimer_;
};

}  // namespace corvane
