// AddMetadata: attaches an uploaded metadata blob (named by its upload token) to a node under
// a kind, answers the node's complete metadata entries and logs the change. TransferMetadata:
// a blob slot whose link takes one POST of the sealed blob and answers its token, or the link
// of a stored blob, which answers it whole.
#pragma once

#include <functional>
#include <string>

namespace corvane::service {

class BatchDispatcher;
class ContentStore;

// Blob links: "/mul/<upload id>" takes the sealed blob, "/mdl/<content id>" answers it.
constexpr const char* kMetadataUploadPath = "/mul/";
constexpr const char* kMetadataDownloadPath = "/mdl/";

void registerMetadataHandlers(BatchDispatcher& dispatcher);

// Registers TRMM; linkBase gives the address in front of every link ("https://127.0.0.1:<port>").
void registerMetadataTransferHandlers(BatchDispatcher& dispatcher, ContentStore& contents,
                                      std::function<std::string()> linkBase);

}  // namespace corvane::service
