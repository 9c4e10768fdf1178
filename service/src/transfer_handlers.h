// The transfer requests: Upload hands out a fresh upload link, Download the content link and
// the facts of a node, GetNodeByFingerprint finds stored content by its keyed fingerprint, and
// AddNodes gets its token and copy rules for file contents. The chunk links themselves are
// served by the stand-in's HTTP side with the content store.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <string>

namespace corvane::service {

class AccountDirectory;
class BatchDispatcher;
class ContentStore;

// The path of a chunk request: "/ul/<id>/<first>-<last>" or "/dl/<id>/<first>-<last>", ends
// inclusive, decimal without sign.
struct ChunkPath {
    bool upload = true;
    std::string id;
    uint64_t first = 0;
    uint64_t last = 0;
};
std::optional<ChunkPath> parseChunkPath(const std::string& path);

constexpr const char* kUploadLinkPath = "/ul/";
constexpr const char* kDownloadLinkPath = "/dl/";

class TransferHandlers {
public:
    // linkBase gives the address in front of every link ("https://127.0.0.1:<port>").
    TransferHandlers(ContentStore& contents, AccountDirectory& accounts, std::function<std::string()> linkBase);

    // Registers UPLM, DOWM and GNFM, and wraps the AddNodes handler registered before.
    void registerWith(BatchDispatcher& dispatcher);

    void setQuotaExceeded(uint64_t account, bool exceeded);
    bool quotaExceeded(uint64_t account) const;

private:
    ContentStore& contents_;
    AccountDirectory& accounts_;
    std::function<std::string()> linkBase_;
    mutable std::mutex mutex_;
    std::set<uint64_t> overQuota_;
};

}  // namespace corvane::service
