#include "connection_watch.h"

#include <sys/socket.h>

namespace corvane::service {

namespace {

constexpr uint64_t kSlowestBodyBytesPerSecond = 64 * 1024;
constexpr std::chrono::milliseconds kLongestNap{200};

}  // namespace

ConnectionWatch::~ConnectionWatch() {
    stop();
}

void ConnectionWatch::start() {
    std::lock_guard<std::mutex> lock(mutex_);
    closing_ = false;
    if (running_) return;
    running_ = true;
    thread_ = std::thread([this] { run(); });
}

void ConnectionWatch::stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        running_ = false;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
}

void ConnectionWatch::setReadDeadline(std::chrono::milliseconds deadline) {
    std::lock_guard<std::mutex> lock(mutex_);
    readDeadline_ = deadline;
}

void ConnectionWatch::opened(int fd) {
    std::lock_guard<std::mutex> lock(mutex_);
    Connection& connection = connections_[fd];
    if (closing_) {
        ::shutdown(fd, SHUT_RDWR);
        return;
    }
    arm(connection, readDeadline_);
}

void ConnectionWatch::reading(int fd) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = connections_.find(fd);
    if (it != connections_.end() && it->second.phase == Phase::Idle) arm(it->second, readDeadline_);
}

void ConnectionWatch::receivingBody(int fd, uint64_t length) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = connections_.find(fd);
    if (it == connections_.end()) return;
    const auto transfer = std::chrono::milliseconds(length * 1000 / kSlowestBodyBytesPerSecond);
    arm(it->second, readDeadline_ + transfer);
}

void ConnectionWatch::answering(int fd) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = connections_.find(fd);
    if (it != connections_.end()) it->second.phase = Phase::Answering;
}

void ConnectionWatch::idle(int fd) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = connections_.find(fd);
    if (it != connections_.end()) it->second.phase = Phase::Idle;
}

void ConnectionWatch::closed(int fd) {
    std::lock_guard<std::mutex> lock(mutex_);
    connections_.erase(fd);
}

void ConnectionWatch::shutdownAll() {
    std::lock_guard<std::mutex> lock(mutex_);
    closing_ = true;
    for (const auto& entry : connections_)
        ::shutdown(entry.first, SHUT_RDWR);
}

void ConnectionWatch::arm(Connection& connection, Clock::duration allowed) {
    // The watching thread looks again within kLongestNap; no need to wake it.
    connection.phase = Phase::Reading;
    connection.deadline = Clock::now() + allowed;
}

void ConnectionWatch::run() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (running_) {
        const Clock::time_point now = Clock::now();
        Clock::time_point next = now + kLongestNap;
        for (auto& [fd, connection] : connections_) {
            if (connection.phase != Phase::Reading) continue;
            if (connection.deadline <= now) {
                // The descriptor stays open until its worker closes it; its reads now fail.
                ::shutdown(fd, SHUT_RDWR);
                connection.phase = Phase::Answering;
            } else if (connection.deadline < next) {
                next = connection.deadline;
            }
        }
        wake_.wait_until(lock, next);
    }
}

}  // namespace corvane::service
