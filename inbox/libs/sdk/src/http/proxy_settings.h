#pragma once

#include <string>

namespace corvane {

// The proxy every transfer goes through; held by the HTTP module.
class ProxySettings {
public:
    ProxySettings() = default;

    void setHost(const std::string& host) { host_ = host; }
    void setCredentials(const std::string& user, const std::string& password);

    const std::string& getHost() const { return host_; }
    bool hasAuthentication() const { return authentication_; }
    const std::string& getUser() const { return user_; }
    const std::string& getPassword() const { return password_; }

private:
    std::string host_;  // as the transport accepts it, e.g. "host:port"
    bool authentication_ = false;
    std::string user_;
    std::string password_;
};

}  // namespace corvane
