#include "transfer/streaming_manager.h"

#include "util/log.h"

namespace corvane {

StreamingManager::StreamingManager(HttpModule* httpModule, CryptoManager* cryptoManager, SQLiteDatabase* database,
                                   FilesystemModule* filesystemModule, ApiManager* apiManager)
    : apiManager_(apiManager),
      httpModule_(httpModule),
      database_(database),
      cryptoManager_(cryptoManager),
      filesystemModule_(filesystemModule) {
    CLOG_DEBUG("[stman] Initializing streaming manager");
    CLOG_DEBUG("[strman] Streaming manager ready");
}

StreamingManager::~StreamingManager() {
    CLOG_DEBUG("[stman] Deleting streaming manager");
}

}  // namespace corvane
