#pragma once

// The SDK's one shared logger. Every line carries a bracketed component tag written by the
// caller ("[db][{}]", "[req]{}", ...) and the source location added by the macros below.

#include <memory>

#include <spdlog/spdlog.h>

namespace corvane {
namespace log {

// The current logger; never null. Until one is installed it is a logger without sinks
// whose level is off, so nothing is formatted.
std::shared_ptr<spdlog::logger> get();

// Installs the logger used from now on (null restores the silent default). Safe from any thread.
void set(std::shared_ptr<spdlog::logger> logger);

}  // namespace log
}  // namespace corvane

// spdlog's own SPDLOG_LOGGER_DEBUG family is compiled out below SPDLOG_ACTIVE_LEVEL, so call
// the logger directly and let its run-time level decide.
#define CORVANE_LOG(level, ...) SPDLOG_LOGGER_CALL(::corvane::log::get(), level, __VA_ARGS__)
#define CLOG_TRACE(...) CORVANE_LOG(spdlog::level::trace, __VA_ARGS__)
#define CLOG_DEBUG(...) CORVANE_LOG(spdlog::level::debug, __VA_ARGS__)
#define CLOG_INFO(...) CORVANE_LOG(spdlog::level::info, __VA_ARGS__)
#define CLOG_WARN(...) CORVANE_LOG(spdlog::level::warn, __VA_ARGS__)
#define CLOG_ERROR(...) CORVANE_LOG(spdlog::level::err, __VA_ARGS__)
#define CLOG_CRITICAL(...) CORVANE_LOG(spdlog::level::critical, __VA_ARGS__)
