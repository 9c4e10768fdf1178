#include <gtest/gtest.h>

#include <sstream>

#include <spdlog/sinks/ostream_sink.h>
#include <spdlog/spdlog.h>

#include "util/log.h"

namespace {

struct RingCase {
    const char* name;
    bool ring;
    corvane::log::Level level;
    bool expectDebugLine;
};

class LogRingTest : public testing::TestWithParam<RingCase> {
protected:
    void TearDown() override { corvane::log::set(nullptr); }
};

// With the level off, a logger that keeps a ring still receives every line (so a crash can
// write the last messages out); without a ring nothing is formatted at all.
TEST_P(LogRingTest, RingSeesLinesBelowTheLevel) {
    const RingCase& c = GetParam();
    std::ostringstream out;
    auto logger = std::make_shared<spdlog::logger>("ring-test", std::make_shared<spdlog::sinks::ostream_sink_st>(out));
    logger->set_pattern("%v");
    if (c.ring) {
        logger->enable_backtrace(16);
    }
    corvane::log::set(logger);
    corvane::log::setLevel(c.level);

    CLOG_DEBUG("[test] line {}", 1);
    EXPECT_TRUE(out.str().empty()) << "the level still decides what is written at once";
    logger->dump_backtrace();
    EXPECT_EQ(out.str().find("[test] line 1") != std::string::npos, c.expectDebugLine) << out.str();
}

INSTANTIATE_TEST_SUITE_P(Levels, LogRingTest,
                         testing::Values(RingCase{"ring_level_off", true, corvane::log::Level::off, true},
                                         RingCase{"ring_level_err", true, corvane::log::Level::err, true},
                                         RingCase{"no_ring_level_off", false, corvane::log::Level::off, false}),
                         [](const testing::TestParamInfo<RingCase>& info) { return std::string(info.param.name); });

}  // namespace
