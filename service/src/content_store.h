// The stand-in's file contents: ciphertext as clients upload it, one file per content under the
// store's folder, never held in memory whole. An upload receives byte ranges at their offsets, in
// any order and any number of times, and becomes a content once every byte of its announced size
// has arrived; its token then names that content until a node takes it over. Safe to use from
// any thread.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace corvane::service {

// An open content file, closed with the last reference: a range being sent keeps it readable
// even while the store moves on.
class ContentFile {
public:
    explicit ContentFile(int fd) : fd_(fd) {}
    ~ContentFile();
    ContentFile(const ContentFile&) = delete;
    ContentFile& operator=(const ContentFile&) = delete;

    // Reads exactly `length` bytes at `offset`; false on a short read or an error.
    bool read(uint64_t offset, char* out, size_t length) const;
    bool write(uint64_t offset, const char* data, size_t length) const;

private:
    int fd_;
};

class ContentStore {
public:
    // Uploads that never complete are forgotten, oldest first, beyond this many.
    static constexpr size_t kMaxOpenUploads = 256;

    ContentStore() = default;
    ~ContentStore();  // removes the folder when the store made it itself
    ContentStore(const ContentStore&) = delete;
    ContentStore& operator=(const ContentStore&) = delete;

    // Keeps the contents in the folder (made when missing; contents already there are taken
    // up again), or, with "", in a private temporary folder removed with the store. Once only.
    bool open(const std::string& folder);
    bool isOpen() const;

    // A new upload of `size` bytes for the account; returns its id, "" when the store is closed.
    std::string beginUpload(uint64_t account, uint64_t size);

    enum class ChunkResult { Stored, Complete, UnknownUpload, BadRange, Failed };
    struct ChunkOutcome {
        ChunkResult result = ChunkResult::Failed;
        std::string token;          // with Complete: the upload's token
        bool completedNow = false;  // with Complete: this chunk was the one that completed it
    };
    // Writes the bytes of the inclusive range first..last (whose length they must have) into
    // the upload. A chunk that arrives after completion stores nothing and gets the token again.
    ChunkOutcome writeChunk(const std::string& uploadId, uint64_t first, uint64_t last, const char* data,
                            size_t length);

    // What a token of a complete upload stands for.
    struct Completed {
        std::string content;
        uint64_t account = 0;
        uint64_t size = 0;
    };
    std::optional<Completed> completed(const std::string& token) const;

    // The content of zero bytes, which a file made from an empty token gets.
    std::string emptyContent();

    // The size of a content, nothing when unknown.
    std::optional<uint64_t> contentSize(const std::string& content) const;
    // The content's file opened for reading, null when unknown.
    std::shared_ptr<ContentFile> openContent(const std::string& content) const;
    std::string contentPath(const std::string& content) const;  // "" when unknown

private:
    struct Upload {
        uint64_t account = 0;
        uint64_t size = 0;
        std::map<uint64_t, uint64_t> ranges;  // first -> end (exclusive), disjoint, merged
        uint64_t received = 0;                // bytes the ranges cover
        std::shared_ptr<ContentFile> file;
        std::string token;  // once complete
    };

    std::string uploadPath(const std::string& id) const;
    static void addRange(Upload& upload, uint64_t first, uint64_t end);
    void forgetOldestUploadLocked();

    mutable std::mutex mutex_;
    std::string folder_;
    bool ownFolder_ = false;
    std::map<std::string, Upload> uploads_;
    std::deque<std::string> uploadOrder_;  // ids in the order begun
    std::map<std::string, Completed> tokens_;
    std::map<std::string, uint64_t> contents_;  // id -> size
    std::string empty_;
};

}  // namespace corvane::service
