#pragma once

// The SDK's one shared logger. Every line carries a bracketed component tag written by the
// caller ("[db][{}]", "[req]{}", ...) and the source location added by the macros below.
// Callers see only this small front end; spdlog sits behind it in log.cpp.

#include <atomic>
#include <memory>

#include <fmt/core.h>

namespace spdlog {
class logger;
}

namespace corvane {
namespace log {

// Severities, numbered as spdlog numbers its levels.
enum class Level : int { trace = 0, debug, info, warn, err, critical, off };

// The current logger; never null. Until one is installed it is a logger without sinks
// whose level is off, so nothing is formatted.
std::shared_ptr<spdlog::logger> get();

// Installs the logger used from now on (null restores the silent default) and takes over its
// level. Safe from any thread.
void set(std::shared_ptr<spdlog::logger> logger);

// Changes the level of the installed logger. Use this rather than the logger's own set_level,
// which the cheap check below would not see.
void setLevel(Level level);

// Writes out whatever the installed logger's sinks still hold.
void flush();

namespace detail {

// The installed logger's level, read before any formatting.
extern std::atomic<int> threshold;

void write(Level level, const char* file, int line, const char* function, fmt::string_view format,
           fmt::format_args args);

}  // namespace detail

// Whether a line at this level would be written.
inline bool enabled(Level level) {
    return static_cast<int>(level) >= detail::threshold.load(std::memory_order_relaxed);
}

template <typename... Args>
void write(Level level, const char* file, int line, const char* function, fmt::format_string<Args...> format,
           Args&&... args) {
    detail::write(level, file, line, function, format, fmt::make_format_args(args...));
}

}  // namespace log
}  // namespace corvane

// Arguments are evaluated and formatted only when the level is enabled.
#define CORVANE_LOG(level, ...)                                                                                \
    do {                                                                                                       \
        const ::corvane::log::Level corvaneLogLevel = (level);                                                 \
        if (::corvane::log::enabled(corvaneLogLevel)) {                                                        \
            ::corvane::log::write(corvaneLogLevel, __FILE__, __LINE__, static_cast<const char*>(__FUNCTION__), \
                                  __VA_ARGS__);                                                                \
        }                                                                                                      \
    } while (false)
#define CLOG_TRACE(...) CORVANE_LOG(::corvane::log::Level::trace, __VA_ARGS__)
#define CLOG_DEBUG(...) CORVANE_LOG(::corvane::log::Level::debug, __VA_ARGS__)
#define CLOG_INFO(...) CORVANE_LOG(::corvane::log::Level::info, __VA_ARGS__)
#define CLOG_WARN(...) CORVANE_LOG(::corvane::log::Level::warn, __VA_ARGS__)
#define CLOG_ERROR(...) CORVANE_LOG(::corvane::log::Level::err, __VA_ARGS__)
#define CLOG_CRITICAL(...) CORVANE_LOG(::corvane::log::Level::critical, __VA_ARGS__)
