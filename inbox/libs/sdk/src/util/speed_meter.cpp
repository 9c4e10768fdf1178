#include "util/speed_meter.h"

#include <chrono>

namespace corvane {

namespace {
constexpr uint32_t kSlotsPerSecond = 10;
}

SpeedMeter::SpeedMeter(uint32_t seconds)
    // A zero window would divide by zero on the first count.
    : window_((seconds == 0 ? 1 : seconds) * kSlotsPerSecond), seconds_(seconds == 0 ? 1 : seconds) {
}

uint64_t SpeedMeter::currentSlot() const {
    auto sinceEpoch = std::chrono::system_clock::now().time_since_epoch();
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(sinceEpoch).count()) / 100;
}

void SpeedMeter::addBytes(uint32_t bytes) {
    if (bytes == 0) {
        return;
    }
    uint64_t slot = currentSlot();
    std::lock_guard<std::mutex> guard(lock_);
    now_ = slot;
    slots_[now_] += bytes;
    total_ += bytes;
    speed_ = total_ / seconds_;
    prune();
}

uint64_t SpeedMeter::getSpeed() {
    uint64_t slot = currentSlot();
    std::lock_guard<std::mutex> guard(lock_);
    now_ = slot;
    prune();
    return speed_;
}

void SpeedMeter::prune() {
    if (now_ == lastPrune_) {
        return;
    }
    while (!slots_.empty() && now_ - slots_.begin()->first >= window_) {
        total_ -= slots_.begin()->second;
        slots_.erase(slots_.begin());
    }
    lastPrune_ = now_;
    speed_ = total_ / seconds_;
}

}  // namespace corvane
