#pragma once

#include <cstdint>
#include <map>
#include <mutex>

namespace corvane {

// Sliding-window byte-rate meter in time slots of 100 ms. Safe from several threads.
class SpeedMeter {
public:
    // The window in seconds; 0 is taken as 1.
    explicit SpeedMeter(uint32_t seconds);
    virtual ~SpeedMeter() = default;

    SpeedMeter(const SpeedMeter&) = delete;
    SpeedMeter& operator=(const SpeedMeter&) = delete;

    void addBytes(uint32_t bytes);

    // Bytes per second over the window.
    uint64_t getSpeed();

protected:
    // The system clock in units of 100 ms; tests drive time by overriding it.
    virtual uint64_t currentSlot() const;

private:
    // Drops the slots that left the window; called with the lock held.
    void prune();

    std::mutex lock_;
    std::map<uint64_t, uint64_t> slots_;
    uint64_t now_ = 0;
    uint64_t lastPrune_ = 0;
    uint64_t total_ = 0;
    uint32_t window_;
    uint32_t seconds_;
    uint64_t speed_ = 0;
};

}  // namespace corvane
