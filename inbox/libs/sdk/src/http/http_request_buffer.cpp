#include "http/http_request_buffer.h"

#include <algorithm>
#include <cstring>

namespace corvane {

bool HttpRequestBuffer::write(const uint8_t* bytes, uint32_t length) {
    std::lock_guard<std::mutex> guard(lock_);
    if (capacity_ == 0) {
        storage_.insert(storage_.end(), bytes, bytes + length);
        writePosition_ = static_cast<uint32_t>(storage_.size());
        available_ += length;
        totalWritten_ += length;
        return true;
    }
    if (free_ < length) {
        wantedSpace_ = length;
        return false;
    }
    uint32_t first = std::min(length, capacity_ - writePosition_);
    if (first > 0) {
        std::memcpy(storage_.data() + writePosition_, bytes, first);
    }
    if (length > first) {
        std::memcpy(storage_.data(), bytes + first, length - first);
    }
    writePosition_ = static_cast<uint32_t>((uint64_t(writePosition_) + length) % capacity_);
    free_ -= length;
    available_ += length;
    totalWritten_ += length;
    return true;
}

uint32_t HttpRequestBuffer::read(const uint8_t** out, uint32_t maximum) {
    std::lock_guard<std::mutex> guard(lock_);
    if (available_ == 0) {
        *out = nullptr;
        return 0;
    }
    *out = storage_.data() + readPosition_;
    uint32_t count = (maximum == 0 || maximum >= available_) ? available_ : maximum;
    count = std::min(count, static_cast<uint32_t>(storage_.size()) - readPosition_);
    // Only a ring wraps: an unbounded buffer read to its end and then written again continues
    // after what was taken instead of handing the first bytes out a second time.
    readPosition_ += count;
    if (capacity_ != 0 && readPosition_ == capacity_) {
        readPosition_ = 0;
    }
    available_ -= count;
    return count;
}

uint32_t HttpRequestBuffer::size() {
    std::lock_guard<std::mutex> guard(lock_);
    return available_;
}

uint32_t HttpRequestBuffer::getTotalWritten() {
    std::lock_guard<std::mutex> guard(lock_);
    return totalWritten_;
}

uint32_t HttpRequestBuffer::getCapacity() {
    std::lock_guard<std::mutex> guard(lock_);
    return capacity_;
}

void HttpRequestBuffer::consume(uint32_t n) {
    SpaceCallback callback;
    void* context = nullptr;
    {
        std::lock_guard<std::mutex> guard(lock_);
        free_ += n;
        if (wantedSpace_ != 0 && free_ >= wantedSpace_ && spaceCallback_) {
            wantedSpace_ = 0;
            callback = spaceCallback_;
            context = spaceContext_;
        }
    }
    if (callback) {
        callback(context);
    }
}

void HttpRequestBuffer::unread(uint32_t n) {
    if (n == 0) {
        return;
    }
    std::lock_guard<std::mutex> guard(lock_);
    uint32_t position = capacity_ != 0 && readPosition_ == 0 ? capacity_ : readPosition_;
    n = std::min(n, position);
    readPosition_ = position - n;
    available_ += n;
}

void HttpRequestBuffer::reset() {
    std::lock_guard<std::mutex> guard(lock_);
    resetLocked();
}

void HttpRequestBuffer::setCapacity(uint32_t bytes) {
    std::lock_guard<std::mutex> guard(lock_);
    capacity_ = bytes;
    resetLocked();
}

void HttpRequestBuffer::reserve(uint32_t bytes) {
    std::lock_guard<std::mutex> guard(lock_);
    if (capacity_ == 0) {
        storage_.reserve(bytes);
    }
}

void HttpRequestBuffer::setSpaceCallback(SpaceCallback callback, void* context) {
    std::lock_guard<std::mutex> guard(lock_);
    spaceCallback_ = std::move(callback);
    spaceContext_ = context;
}

void HttpRequestBuffer::resetLocked() {
    free_ = capacity_;
    // A record is sent again and again (transfer slots, the request channel): keeping its
    // storage spares freeing and faulting in the pages of every answer. Only a one-off large
    // answer's storage is given back.
    if (storage_.capacity() > std::max<size_t>(kKeptStorage, capacity_)) {
        std::vector<uint8_t>().swap(storage_);
    }
    storage_.clear();
    storage_.resize(capacity_);
    available_ = 0;
    readPosition_ = 0;
    writePosition_ = 0;
    totalWritten_ = 0;
    wantedSpace_ = 0;
}

}  // namespace corvane
