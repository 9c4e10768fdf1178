#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "corvane/action_types.h"
#include "corvane/event_data.h"
#include "corvane/event_listener.h"

namespace corvane {
namespace test {

// Writes down every SDK event as its type name, with ":<state>" for CONNECTIVITY, and lets a
// test wait for one. Safe from any thread.
class EventJournal : public EventListener {
public:
    void onEvent(std::shared_ptr<EventData> event) override {
        std::string entry = event->getTypeName();
        if (event->getType() == EVENT_CONNECTIVITY) {
            entry += ":" + std::to_string(event->getState());
        }
        std::lock_guard<std::mutex> lock(mutex_);
        entries_.push_back(entry);
        all_.push_back(std::move(event));
        changed_.notify_all();
    }

    // True once an entry equal to the text has been written at position `from` or later.
    bool waitFor(const std::string& entry, size_t from = 0,
                 std::chrono::milliseconds timeout = std::chrono::seconds(60)) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] {
            for (size_t i = from; i < entries_.size(); ++i) {
                if (entries_[i] == entry) {
                    return true;
                }
            }
            return false;
        });
    }

    std::vector<std::string> entries() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return entries_;
    }
    std::vector<std::shared_ptr<EventData>> events() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return all_;
    }
    // The events raised since the last take.
    std::vector<std::shared_ptr<EventData>> take() {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<std::shared_ptr<EventData>> taken(all_.begin() + static_cast<std::ptrdiff_t>(taken_), all_.end());
        taken_ = all_.size();
        return taken;
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> entries_;
    std::vector<std::shared_ptr<EventData>> all_;
    size_t taken_ = 0;
};

}  // namespace test
}  // namespace corvane
