#include <gtest/gtest.h>

#include "util/speed_meter.h"

namespace corvane {
namespace {

// A meter on a clock the test moves by hand, in slots of 100 ms.
class ManualSpeedMeter : public SpeedMeter {
public:
    explicit ManualSpeedMeter(uint32_t seconds) : SpeedMeter(seconds) {}

    void setSlot(uint64_t slot) { slot_ = slot; }
    int readsOfClock() const { return reads_; }

protected:
    uint64_t currentSlot() const override {
        ++reads_;
        return slot_;
    }

private:
    uint64_t slot_ = 1000;
    mutable int reads_ = 0;
};

TEST(SpeedMeterTest, BytesLeaveTheWindowAfterOneSecond) {
    ManualSpeedMeter meter(1);
    meter.addBytes(1000);
    EXPECT_EQ(meter.getSpeed(), 1000u);
    meter.setSlot(1009);
    EXPECT_EQ(meter.getSpeed(), 1000u);
    meter.setSlot(1010);
    EXPECT_EQ(meter.getSpeed(), 0u);
}

TEST(SpeedMeterTest, SlidingWindowKeepsOnlyRecentSlots) {
    ManualSpeedMeter meter(2);
    meter.addBytes(400);
    meter.setSlot(1005);
    meter.addBytes(600);
    EXPECT_EQ(meter.getSpeed(), 500u);  // 1000 bytes over 2 seconds
    meter.setSlot(1020);
    EXPECT_EQ(meter.getSpeed(), 300u);  // the first slot left the 20-slot window
    meter.setSlot(1025);
    EXPECT_EQ(meter.getSpeed(), 0u);
}

TEST(SpeedMeterTest, ZeroBytesChangeNothing) {
    ManualSpeedMeter meter(1);
    meter.addBytes(0);
    EXPECT_EQ(meter.readsOfClock(), 0);
    EXPECT_EQ(meter.getSpeed(), 0u);
}

TEST(SpeedMeterTest, ZeroSecondWindowDoesNotDivideByZero) {
    ManualSpeedMeter meter(0);
    meter.addBytes(250);
    EXPECT_EQ(meter.getSpeed(), 250u);
}

}  // namespace
}  // namespace corvane
