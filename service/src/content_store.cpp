#include "content_store.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <iterator>

#include "service_crypto.h"

namespace corvane::service {

namespace {

constexpr const char* kUploadsFolder = "/uploads";
constexpr size_t kIdBytes = 16;

std::string hexText(const std::string& bytes) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (unsigned char c : bytes) {
        text += kDigits[c >> 4];
        text += kDigits[c & 15];
    }
    return text;
}

std::string newId() {
    const std::string bytes = randomSecret(kIdBytes);
    return bytes.size() == kIdBytes ? hexText(bytes) : std::string();
}

bool isId(const std::string& name) {
    if (name.size() != kIdBytes * 2) return false;
    for (char c : name) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    }
    return true;
}

bool makeFolder(const std::string& path) {
    return ::mkdir(path.c_str(), 0700) == 0 || errno == EEXIST;
}

void removeFilesIn(const std::string& folder) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return;
    while (dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        ::unlink((folder + "/" + name).c_str());
    }
    ::closedir(dir);
}

}  // namespace

ContentFile::~ContentFile() {
    if (fd_ >= 0) ::close(fd_);
}

bool ContentFile::read(uint64_t offset, char* out, size_t length) const {
    while (length > 0) {
        const ssize_t n = ::pread(fd_, out, length, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        out += n;
        offset += static_cast<uint64_t>(n);
        length -= static_cast<size_t>(n);
    }
    return true;
}

bool ContentFile::write(uint64_t offset, const char* data, size_t length) const {
    while (length > 0) {
        const ssize_t n = ::pwrite(fd_, data, length, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        offset += static_cast<uint64_t>(n);
        length -= static_cast<size_t>(n);
    }
    return true;
}

ContentStore::~ContentStore() {
    std::lock_guard<std::mutex> lock(mutex_);
    uploads_.clear();
    if (!ownFolder_) return;
    removeFilesIn(folder_ + kUploadsFolder);
    ::rmdir((folder_ + kUploadsFolder).c_str());
    removeFilesIn(folder_);
    ::rmdir(folder_.c_str());
}

bool ContentStore::open(const std::string& folder) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!folder_.empty()) return false;
    std::string path = folder;
    bool own = false;
    if (path.empty()) {
        const char* base = std::getenv("TMPDIR");
        path = std::string(base && *base ? base : "/tmp") + "/corvane-contents-XXXXXX";
        if (!::mkdtemp(path.data())) return false;
        own = true;
    } else if (!makeFolder(path)) {
        return false;
    }
    if (!makeFolder(path + kUploadsFolder)) return false;
    // Contents kept by an earlier run stay downloadable; its unfinished uploads cannot go on.
    removeFilesIn(path + kUploadsFolder);
    if (DIR* dir = ::opendir(path.c_str())) {
        while (dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            struct stat info;
            if (isId(name) && ::stat((path + "/" + name).c_str(), &info) == 0 && S_ISREG(info.st_mode))
                contents_[name] = static_cast<uint64_t>(info.st_size);
        }
        ::closedir(dir);
    }
    folder_ = std::move(path);
    ownFolder_ = own;
    return true;
}

bool ContentStore::isOpen() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return !folder_.empty();
}

std::string ContentStore::uploadPath(const std::string& id) const {
    return folder_ + kUploadsFolder + "/" + id;
}

std::string ContentStore::beginUpload(uint64_t account, uint64_t size) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (folder_.empty()) return {};
    const std::string id = newId();
    if (id.empty()) return {};
    const int fd = ::open(uploadPath(id).c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return {};
    while (uploads_.size() >= kMaxOpenUploads)
        forgetOldestUploadLocked();
    Upload& upload = uploads_[id];
    upload.account = account;
    upload.size = size;
    upload.file = std::make_shared<ContentFile>(fd);
    uploadOrder_.push_back(id);
    return id;
}

void ContentStore::forgetOldestUploadLocked() {
    while (!uploadOrder_.empty()) {
        const std::string id = uploadOrder_.front();
        uploadOrder_.pop_front();
        auto it = uploads_.find(id);
        if (it == uploads_.end()) continue;
        if (it->second.token.empty()) ::unlink(uploadPath(id).c_str());
        uploads_.erase(it);
        return;
    }
}

void ContentStore::addRange(Upload& upload, uint64_t first, uint64_t end) {
    // Merge with every range the new one touches or overlaps.
    auto it = upload.ranges.upper_bound(first);
    if (it != upload.ranges.begin()) {
        auto before = std::prev(it);
        if (before->second >= first) it = before;
    }
    while (it != upload.ranges.end() && it->first <= end) {
        first = std::min(first, it->first);
        end = std::max(end, it->second);
        upload.received -= it->second - it->first;
        it = upload.ranges.erase(it);
    }
    upload.ranges.emplace(first, end);
    upload.received += end - first;
}

ContentStore::ChunkOutcome ContentStore::writeChunk(const std::string& uploadId, uint64_t first, uint64_t last,
                                                    const char* data, size_t length) {
    ChunkOutcome outcome;
    std::shared_ptr<ContentFile> file;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = uploads_.find(uploadId);
        if (it == uploads_.end()) {
            outcome.result = ChunkResult::UnknownUpload;
            return outcome;
        }
        const Upload& upload = it->second;
        if (first > last || last >= upload.size || length != last - first + 1) {
            outcome.result = ChunkResult::BadRange;
            return outcome;
        }
        if (!upload.token.empty()) {
            outcome.result = ChunkResult::Complete;
            outcome.token = upload.token;
            return outcome;
        }
        file = upload.file;
    }
    // Chunks of one upload are written side by side, each at its own offset, without the lock.
    if (!file->write(first, data, length)) {
        outcome.result = ChunkResult::Failed;
        return outcome;
    }

    std::lock_guard<std::mutex> lock(mutex_);
    auto it = uploads_.find(uploadId);
    if (it == uploads_.end()) {
        outcome.result = ChunkResult::UnknownUpload;
        return outcome;
    }
    Upload& upload = it->second;
    if (!upload.token.empty()) {
        outcome.result = ChunkResult::Complete;
        outcome.token = upload.token;
        return outcome;
    }
    addRange(upload, first, last + 1);
    if (upload.received < upload.size) {
        outcome.result = ChunkResult::Stored;
        return outcome;
    }
    const std::string content = newId();
    const std::string token = newId();
    if (content.empty() || token.empty() ||
        ::rename(uploadPath(uploadId).c_str(), (folder_ + "/" + content).c_str()) != 0) {
        outcome.result = ChunkResult::Failed;
        return outcome;
    }
    upload.token = token;
    upload.file.reset();
    contents_[content] = upload.size;
    tokens_[token] = Completed{content, upload.account, upload.size};
    outcome.result = ChunkResult::Complete;
    outcome.token = token;
    outcome.completedNow = true;
    return outcome;
}

std::optional<ContentStore::Completed> ContentStore::completed(const std::string& token) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = tokens_.find(token);
    if (it == tokens_.end()) return std::nullopt;
    return it->second;
}

std::string ContentStore::emptyContent() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (folder_.empty()) return {};
    if (!empty_.empty()) return empty_;
    const std::string id = newId();
    if (id.empty()) return {};
    const int fd = ::open((folder_ + "/" + id).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return {};
    ::close(fd);
    contents_[id] = 0;
    empty_ = id;
    return id;
}

std::optional<uint64_t> ContentStore::contentSize(const std::string& content) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = contents_.find(content);
    if (it == contents_.end()) return std::nullopt;
    return it->second;
}

std::shared_ptr<ContentFile> ContentStore::openContent(const std::string& content) const {
    const std::string path = contentPath(content);
    if (path.empty()) return nullptr;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    return std::make_shared<ContentFile>(fd);
}

std::string ContentStore::contentPath(const std::string& content) const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (contents_.count(content) == 0) return {};
    return folder_ + "/" + content;
}

}  // namespace corvane::service
