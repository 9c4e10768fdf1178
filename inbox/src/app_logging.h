#pragma once

#include <memory>
#include <string>

namespace spdlog {
class logger;
}

// The application's side of logging. The SDK logs through one shared logger (util/log.h); the
// application decides which logger that is, its pattern and its level, and keeps it in step
// with spdlog's default logger.
namespace applog {

// Size of the in-memory ring that normal mode keeps for the crash handler.
constexpr size_t kBacktraceMessages = 8192;

// The first logger of the process: "msvc_logger", one thread-safe sink on standard error.
std::shared_ptr<spdlog::logger> installBootstrapLogger();

// Makes the logger the default one, for the SDK and for spdlog alike.
void installDefault(std::shared_ptr<spdlog::logger> logger);
std::shared_ptr<spdlog::logger> current();

// A logger with one appending file sink; null when the file cannot be opened.
std::shared_ptr<spdlog::logger> makeFileLogger(const std::string& name, const std::string& path);

// "[%L] [%d/%m %H:%M:%S.%e] %v [%s:%#]" in local time, for every logger, existing and future.
void setPattern();

// The level of every logger, existing and future (spdlog's numbering: 1 debug, 2 info, 6 off).
void setLevel(int level);

// Keeps the last messages of every level in a ring (every logger, existing and future), or
// stops keeping them.
void enableBacktrace(size_t messages);
void disableBacktrace();

// Flushes the default logger and writes its ring out through its sinks.
void flushWithBacktrace();

}  // namespace applog
