#include "support/log_capture.h"

#include <algorithm>
#include <cstdlib>
#include <mutex>

#include <spdlog/logger.h>
#include <spdlog/sinks/ringbuffer_sink.h>
#include <spdlog/sinks/stdout_sinks.h>

#include "util/log.h"

namespace corvane {
namespace test {
namespace {

// Loop threads may still hold the logger being replaced. spdlog releases its sinks inside its
// own destructor, built without ThreadSanitizer, so a sink's last release on another thread
// looks unsynchronised; replaced loggers therefore live until the test process ends.
void install(std::shared_ptr<spdlog::logger> logger) {
    static std::mutex mutex;
    static std::vector<std::shared_ptr<spdlog::logger>> installed;
    if (logger) {
        std::lock_guard<std::mutex> guard(mutex);
        installed.push_back(logger);
    }
    log::set(std::move(logger));
}

}  // namespace

LogCapture::LogCapture(size_t capacity) : sink_(std::make_shared<spdlog::sinks::ringbuffer_sink_mt>(capacity)) {
    sink_->set_pattern("%v");
    auto logger = std::make_shared<spdlog::logger>("corvane", sink_);
    logger->set_level(spdlog::level::trace);
    install(std::move(logger));
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
    return static_cast<size_t>(std::count_if(
        all.begin(), all.end(), [&](const std::string& line) { return line.find(text) != std::string::npos; }));
}

void installDefaultTestLogger() {
    if (std::getenv("CORVANE_TEST_LOG")) {
        auto logger = std::make_shared<spdlog::logger>("corvane", std::make_shared<spdlog::sinks::stderr_sink_mt>());
        logger->set_pattern("[%L] [%H:%M:%S.%e] %v [%s:%#]");
        logger->set_level(spdlog::level::debug);
        install(std::move(logger));
    } else {
        install(nullptr);
    }
}

}  // namespace test
}  // namespace corvane
