#pragma once

namespace corvane {

class ApiManager;
class CryptoManager;
class FilesystemModule;
class HttpModule;
class SQLiteDatabase;

// The owner of the streaming channels of one API manager; runs on the SDK main loop.
class StreamingManager {
public:
    // The database is the API manager's second one: kept, not used.
    StreamingManager(HttpModule* httpModule, CryptoManager* cryptoManager, SQLiteDatabase* database,
                     FilesystemModule* filesystemModule, ApiManager* apiManager);
    ~StreamingManager();

    StreamingManager(const StreamingManager&) = delete;
    StreamingManager& operator=(const StreamingManager&) = delete;

private:
    ApiManager* apiManager_;
    HttpModule* httpModule_;
    SQLiteDatabase* database_;
    CryptoManager* cryptoManager_;
    FilesystemModule* filesystemModule_;
};

}  // namespace corvane
