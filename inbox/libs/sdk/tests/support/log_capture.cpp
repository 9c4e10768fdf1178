#include "support/log_capture.h"

#include <algorithm>
#include <cstdlib>

#include <spdlog/sinks/stdout_sinks.h>

#include "util/log.h"

namespace corvane {
namespace test {

LogCapture::LogCapture(size_t capacity)
    : sink_(std::make_shared<spdlog::sinks::ringbuffer_sink_mt>(capacity)) {
    sink_->set_pattern("%v");
    auto logger = std::make_shared<spdlog::logger>("corvane", sink_);
    logger->set_level(spdlog::level::trace);
    log::set(logger);
}

LogCapture::~LogCapture() {
    installDefaultTestLogger();
}

std::vector<std::string> LogCapture::lines() const {
    return sink_->last_formatted();
}

bool LogCapture::contains(const std::string& text) const {
    return count(text) > 0;
}

size_t LogCapture::count(const std::string& text) const {
    auto all = lines();
    return static_cast<size_t>(std::count_if(all.begin(), all.end(), [&](const std::string& line) {
        return line.find(text) != std::string::npos;
    }));
}

void installDefaultTestLogger() {
    if (std::getenv("CORVANE_TEST_LOG")) {
        auto logger = std::make_shared<spdlog::logger>(
            "corvane", std::make_shared<spdlog::sinks::stderr_sink_mt>());
        logger->set_pattern("[%L] [%H:%M:%S.%e] %v [%s:%#]");
        logger->set_level(spdlog::level::debug);
        log::set(logger);
    } else {
        log::set(nullptr);
    }
}

}  // namespace test
}  // namespace corvane
