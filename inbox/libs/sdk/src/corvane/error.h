#pragma once

#include <cstdint>

namespace corvane {

enum ErrorCode : int32_t {
    SUCCESS = 0,
    NOT_FOUND = 1,
    FORBIDDEN = 2,
    SESSION_NOT_VALID = 3,
    CRYPTOGRAPHIC_ERROR = 4,
    WRONG_PARAMETERS = 5,
    EXPIRED = 6,
    ALREADY_EXISTS = 7,
    SERVER_BUSY = 8,
    UNKNOWN_ERROR = 9,
    TOO_FAST_REQUESTS = 10,
    TEMPORARILY_UNAVAILABLE = 11,
    TOO_MANY_ATTEMPTS = 12,
    QUOTA_EXCEEDED = 13,
    TAKEN_DOWN = 14,
    RANGE_NOT_SATISFIABLE = 15,
    CANCELLED = 16,
    LOOP_DETECTED = 17,
    IO_ERROR = 18,
    INVOICING_INFO_ERROR = 19,
    INVALID_COUPON = 20,
    INCOMPLETE = 21,
};

// A status code with a fixed message table; copied by value everywhere.
class Error {
public:
    Error(int32_t code = SUCCESS) : code_(code) {}
    virtual ~Error() = default;
    Error(const Error&) = default;
    Error& operator=(const Error&) = default;

    int32_t getCode() const { return code_; }
    void setCode(int32_t code) { code_ = code; }

    // The message of the code; "INVALID" outside the table.
    const char* getMessage() const { return getMessage(code_); }
    static const char* getMessage(int32_t code);

    bool operator==(const Error& other) const { return code_ == other.code_; }
    bool operator!=(const Error& other) const { return code_ != other.code_; }

private:
    int32_t code_;
};

}  // namespace corvane
