// The stand-in's SQLite store, where request handlers keep what they receive.
#pragma once

#include <string>

struct sqlite3;

namespace corvane::service {

class ServiceStore {
public:
    static constexpr const char* kFileName = "corvane-service.db";

    ServiceStore() = default;
    ~ServiceStore();
    ServiceStore(const ServiceStore&) = delete;
    ServiceStore& operator=(const ServiceStore&) = delete;

    // Opens, creating it when absent, the database file in the directory (which must exist).
    bool open(const std::string& directory);
    void close();
    bool isOpen() const { return db_ != nullptr; }
    const std::string& path() const { return path_; }

private:
    sqlite3* db_ = nullptr;
    std::string path_;
};

}  // namespace corvane::service
