// Reading deadlines of the server's connections. A connection that has begun a TLS handshake or
// a request must deliver it whole within a deadline, however slowly its bytes trickle in (a
// read time-out alone restarts with every byte); one that misses it is shut down, which ends
// its worker's reads. Connections being answered, or idle between requests, have no deadline:
// the keep-alive time-out ends those.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <thread>

namespace corvane::service {

class ConnectionWatch {
public:
    ConnectionWatch() = default;
    ~ConnectionWatch();
    ConnectionWatch(const ConnectionWatch&) = delete;
    ConnectionWatch& operator=(const ConnectionWatch&) = delete;

    void start();  // the watching thread; connections are accepted again
    void stop();   // ends the watching thread (call shutdownAll first to end the connections)
    // For the handshake and the request line with its headers; a body gets this much and the
    // time to move its length at 64 KiB/s.
    void setReadDeadline(std::chrono::milliseconds deadline);

    void opened(int fd);                          // handshake begins
    void reading(int fd);                         // bytes arrived: a new request begins when idle
    void receivingBody(int fd, uint64_t length);  // headers read, the body follows
    void answering(int fd);                       // read whole: no deadline while answered
    void idle(int fd);                            // answered, or handshake done
    void closed(int fd);                          // the descriptor is about to be closed

    // Shuts down every connection, and every one opened until the next start.
    void shutdownAll();

private:
    using Clock = std::chrono::steady_clock;
    enum class Phase { Reading, Answering, Idle };
    struct Connection {
        Phase phase = Phase::Idle;
        Clock::time_point deadline;
    };

    void arm(Connection& connection, Clock::duration allowed);  // mutex_ held
    void run();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::map<int, Connection> connections_;  // descriptors still open
    std::chrono::milliseconds readDeadline_{10000};
    std::thread thread_;
    bool running_ = false;
    bool closing_ = false;
};

}  // namespace corvane::service
