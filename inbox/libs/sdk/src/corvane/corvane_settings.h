#pragma once

#include <string>

namespace corvane {

// Settings the application hands to the SDK; the SDK copies what it needs at construction.
class CorvaneSettings {
public:
    CorvaneSettings() = default;
    virtual ~CorvaneSettings();

    // The local folder of the per-account cache.
    void setDataPath(const std::string& dataPath) { dataPath_ = dataPath; }
    std::string getDataPath() const { return dataPath_; }

    // The application part of the HTTP User-Agent.
    void setUserAgent(const std::string& userAgent) { userAgent_ = userAgent; }
    std::string getUserAgent() const { return userAgent_; }

private:
    std::string dataPath_;
    std::string userAgent_;
};

}  // namespace corvane
