#include "util/log.h"

#include <atomic>

namespace corvane {
namespace log {
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

}  // namespace

std::shared_ptr<spdlog::logger> get() {
    return std::atomic_load(&current());
}

void set(std::shared_ptr<spdlog::logger> logger) {
    std::atomic_store(&current(), logger ? std::move(logger) : makeSilentLogger());
}

}  // namespace log
}  // namespace corvane
