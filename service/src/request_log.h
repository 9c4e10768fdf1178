// The stand-in's record of the requests it received: the latest ones only, each with at most
// the first bytes of its body, so that a long run or a flood costs bounded memory.
#pragma once

#include <cstddef>
#include <deque>
#include <mutex>
#include <vector>

#include "stand_in_service.h"

namespace corvane::service {

class RequestLog {
public:
    RequestLog(size_t capacity, size_t bodyBytes) : capacity_(capacity), bodyBytes_(bodyBytes) {}

    // Keeps the entry, its body cut to the body limit (bodySize keeps the whole length), and
    // forgets the oldest one when full.
    void add(RecordedRequest entry);
    std::vector<RecordedRequest> entries() const;  // oldest first
    void clear();

private:
    const size_t capacity_;
    const size_t bodyBytes_;
    mutable std::mutex mutex_;
    std::deque<RecordedRequest> entries_;
};

}  // namespace corvane::service
