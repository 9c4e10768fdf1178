#include "app_logging.h"

#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/sinks/stdout_sinks.h>
#include <spdlog/spdlog.h>

#include "util/log.h"

namespace applog {

namespace {

constexpr const char* kPattern = "[%L] [%d/%m %H:%M:%S.%e] %v [%s:%#]";

}  // namespace

std::shared_ptr<spdlog::logger> installBootstrapLogger() {
    auto logger = spdlog::get("msvc_logger");
    if (!logger) {
        logger = std::make_shared<spdlog::logger>("msvc_logger", std::make_shared<spdlog::sinks::stderr_sink_mt>());
        spdlog::register_logger(logger);
    }
    installDefault(logger);
    return logger;
}

void installDefault(std::shared_ptr<spdlog::logger> logger) {
    if (!logger) {
        return;
    }
    spdlog::set_default_logger(logger);
    corvane::log::set(std::move(logger));
}

std::shared_ptr<spdlog::logger> current() {
    return corvane::log::get();
}

std::shared_ptr<spdlog::logger> makeFileLogger(const std::string& name, const std::string& path) {
    try {
        auto sink = std::make_shared<spdlog::sinks::basic_file_sink_mt>(path, false);
        auto logger = std::make_shared<spdlog::logger>(name, std::move(sink));
        spdlog::initialize_logger(logger);
        return logger;
    } catch (const spdlog::spdlog_ex&) {
        return nullptr;
    }
}

void setPattern() {
    spdlog::set_pattern(kPattern, spdlog::pattern_time_type::local);
    // Loggers made later take the registry's formatter through initialize_logger.
}

void setLevel(int level) {
    const auto spdlogLevel = static_cast<spdlog::level::level_enum>(level);
    spdlog::set_level(spdlogLevel);
    corvane::log::setLevel(static_cast<corvane::log::Level>(level));
}

void enableBacktrace(size_t messages) {
    spdlog::enable_backtrace(messages);
    // The SDK's front end filters by level before a line reaches the logger: install the
    // current logger again so that it sees the ring.
    corvane::log::set(corvane::log::get());
}

void disableBacktrace() {
    spdlog::disable_backtrace();
    corvane::log::set(corvane::log::get());
}

void flushWithBacktrace() {
    auto logger = corvane::log::get();
    logger->flush();
    logger->dump_backtrace();
    logger->flush();
}

}  // namespace applog
