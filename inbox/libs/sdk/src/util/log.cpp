#include "util/log.h"

#include <exception>
#include <mutex>
#include <string>

#include <fmt/format.h>
#include <spdlog/logger.h>

namespace corvane {
namespace log {
namespace detail {

std::atomic<int> threshold{static_cast<int>(Level::off)};

}  // namespace detail

namespace {

std::shared_ptr<spdlog::logger> makeSilentLogger() {
    auto logger = std::make_shared<spdlog::logger>("corvane");
    logger->set_level(spdlog::level::off);
    return logger;
}

std::shared_ptr<spdlog::logger>& current() {
    static std::shared_ptr<spdlog::logger> logger = makeSilentLogger();
    return logger;
}

// Keeps the cached level in step with the installed logger when two threads install at once.
std::mutex& installMutex() {
    static std::mutex mutex;
    return mutex;
}

// A logger that keeps a ring of recent messages sees every line, whatever its level.
int thresholdOf(const spdlog::logger& logger, spdlog::level::level_enum level) {
    return logger.should_backtrace() ? static_cast<int>(Level::trace) : static_cast<int>(level);
}

}  // namespace

std::shared_ptr<spdlog::logger> get() {
    return std::atomic_load(&current());
}

void set(std::shared_ptr<spdlog::logger> logger) {
    std::shared_ptr<spdlog::logger> installed = logger ? std::move(logger) : makeSilentLogger();
    std::lock_guard<std::mutex> guard(installMutex());
    detail::threshold.store(thresholdOf(*installed, installed->level()), std::memory_order_relaxed);
    std::atomic_store(&current(), std::move(installed));
}

void setLevel(Level level) {
    std::lock_guard<std::mutex> guard(installMutex());
    std::shared_ptr<spdlog::logger> logger = get();
    logger->set_level(static_cast<spdlog::level::level_enum>(level));
    detail::threshold.store(thresholdOf(*logger, logger->level()), std::memory_order_relaxed);
}

void flush() {
    get()->flush();
}

namespace detail {

void write(Level level, const char* file, int line, const char* function, fmt::string_view format,
           fmt::format_args args) {
    std::shared_ptr<spdlog::logger> logger = get();
    const auto spdlogLevel = static_cast<spdlog::level::level_enum>(level);
    if (!logger->should_log(spdlogLevel) && !logger->should_backtrace()) {
        return;
    }
    const spdlog::source_loc location{file, line, function};
    fmt::memory_buffer text;
    try {
        fmt::vformat_to(fmt::appender(text), format, args);
    } catch (const std::exception& error) {
        // A faulty format string is the caller's bug; say so instead of throwing out of a log call.
        text.clear();
        fmt::format_to(fmt::appender(text), "[*** LOG ERROR ***] {}: {}", error.what(), format);
    }
    logger->log(location, spdlogLevel, spdlog::string_view_t(text.data(), text.size()));
}

}  // namespace detail
}  // namespace log
}  // namespace corvane
