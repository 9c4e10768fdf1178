#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace spdlog {
namespace sinks {
template <typename Mutex>
class ringbuffer_sink;
}  // namespace sinks
}  // namespace spdlog

namespace corvane {
namespace test {

// Installs a logger that keeps every SDK log line (message text only) while it lives, and
// restores the test default afterwards.
class LogCapture {
public:
    explicit LogCapture(size_t capacity = 4096);
    ~LogCapture();

    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<std::string> lines() const;

    // Whether some captured line contains the text.
    bool contains(const std::string& text) const;

    // How many captured lines contain the text.
    size_t count(const std::string& text) const;

private:
    std::shared_ptr<spdlog::sinks::ringbuffer_sink<std::mutex>> sink_;
};

// The logger tests start with: silent, or stderr at debug level when CORVANE_TEST_LOG is set.
void installDefaultTestLogger();

}  // namespace test
}  // namespace corvane
