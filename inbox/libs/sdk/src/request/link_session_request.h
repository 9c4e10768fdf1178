#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "login_link_message_generated.h"
#include "login_link_response_generated.h"
#include "logout_link_message_generated.h"
#include "logout_link_response_generated.h"
#include "record_info_message_generated.h"
#include "record_info_response_generated.h"
#include "request/node_tables.h"
#include "request/request.h"

namespace corvane {

// Logs in to a link with the authentication bytes the action derived from it, opens the link's
// root and turns the API manager into a link session. The owner then holds the session (for
// an inbox link its "/new-record/" web link), the name to show and the session's keys.
class LoginLinkRequest : public FlatbufferRequest<LoginLinkMessage, LoginLinkResponse> {
public:
    explicit LoginLinkRequest(std::shared_ptr<MutableActionData> owner);

    const char* getName() const override { return "LoginLink"; }
    bool processFlatbuffer(const uint8_t* bytes, uint32_t length) override;
    void applyResults(RequestHost* manager) override;

private:
    void openRoot(RequestHost* manager, std::shared_ptr<ByteVector> rootKey);
    void startSession(RequestHost* manager);

    int32_t error_ = 0;
    ByteVector session_;
    uint8_t crypto_ = 0;
    ByteVector shareKey_;
    ByteVector attributes_;
    std::string target_;
    ByteVector filesystemKey_;
};

// Ends the link session, discarding the record when the owner's option asks for it, or
// building the web link of the record that was sent. The session ends locally whatever the
// service answered.
class LogoutLinkRequest : public FlatbufferRequest<LogoutLinkMessage, LogoutLinkResponse> {
public:
    LogoutLinkRequest(std::shared_ptr<MutableActionData> owner, uint64_t clientId);

    const char* getName() const override { return "LogoutLink"; }
    bool processFlatbuffer(const uint8_t* bytes, uint32_t length) override;
    void applyResults(RequestHost* manager) override;

private:
    int32_t error_ = 0;
    bool read_ = false;
};

// A public record and its files, by the record's public handle, opened with the owner's key.
class RecordInfoRequest : public FlatbufferRequest<RecordInfoMessage, RecordInfoResponse> {
public:
    explicit RecordInfoRequest(std::shared_ptr<MutableActionData> owner);

    const char* getName() const override { return "RecordInfo"; }
    bool processFlatbuffer(const uint8_t* bytes, uint32_t length) override;
    void applyResults(RequestHost* manager) override;

private:
    int32_t error_ = 0;
    std::shared_ptr<EncryptedNodeList> nodes_ = std::make_shared<EncryptedNodeList>();
    std::string target_;
};

}  // namespace corvane
