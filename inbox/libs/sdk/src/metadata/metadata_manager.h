#pragma once

namespace corvane {

class CryptoManager;
class FilesystemModule;
class HttpModule;
class SQLiteDatabase;

// The transfer manager of per-node thumbnails and previews; runs on the SDK main loop.
class MetadataManager {
public:
    // The database is the API manager's second one: kept, not used.
    MetadataManager(HttpModule* httpModule, CryptoManager* cryptoManager, SQLiteDatabase* database,
                    FilesystemModule* filesystemModule);
    ~MetadataManager();

    MetadataManager(const MetadataManager&) = delete;
    MetadataManager& operator=(const MetadataManager&) = delete;

private:
    SQLiteDatabase* database_;
    CryptoManager* cryptoManager_;
    FilesystemModule* filesystemModule_;
    HttpModule* httpModule_;
};

}  // namespace corvane
