#include "metadata/metadata_manager.h"

#include "util/log.h"

namespace corvane {

MetadataManager::MetadataManager(HttpModule* httpModule, CryptoManager* cryptoManager, SQLiteDatabase* database,
                                 FilesystemModule* filesystemModule)
    : database_(database), cryptoManager_(cryptoManager), filesystemModule_(filesystemModule), httpModule_(httpModule) {
    // The metadata manager shares the transfer manager's log texts.
    CLOG_DEBUG("[trman] Initializing transfer manager");
    CLOG_DEBUG("[trman] Transfer manager ready");
}

MetadataManager::~MetadataManager() {
    CLOG_DEBUG("[trman] Deleting transfer manager");
}

}  // namespace corvane
