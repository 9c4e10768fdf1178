#include "request_log.h"

#include <utility>

namespace corvane::service {

void RequestLog::add(RecordedRequest entry) {
    if (capacity_ == 0) return;
    if (entry.body.size() > bodyBytes_) {
        entry.body.resize(bodyBytes_);
        entry.body.shrink_to_fit();
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (entries_.size() == capacity_) entries_.pop_front();
    entries_.push_back(std::move(entry));
}

std::vector<RecordedRequest> RequestLog::entries() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return {entries_.begin(), entries_.end()};
}

void RequestLog::clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.clear();
}

}  // namespace corvane::service
