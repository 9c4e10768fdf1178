#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "login_message_generated.h"
#include "login_response_generated.h"
#include "logout_message_generated.h"
#include "logout_response_generated.h"
#include "new_session_message_generated.h"
#include "new_session_response_generated.h"
#include "request/request.h"
#include "session_info_message_generated.h"
#include "session_info_response_generated.h"

namespace corvane {

class RequestHost;

// A saved session string is the session text followed by the master key's Base64URL text of
// this many characters.
constexpr size_t kSessionKeyTextLength = 43;
constexpr size_t kSessionKeySize = 32;

// True when the text can be a saved session string: a session text and the master key's text.
bool isSavedSession(const char* session);

// Signs in, with the password-derived proof, a saved session string or the recovery key, and
// once answered opens the user's keys and installs the session in the API manager.
class LoginRequest : public FlatbufferRequest<LoginMessage, LoginResponse> {
public:
    explicit LoginRequest(std::shared_ptr<MutableActionData> owner);
    ~LoginRequest() override;

    const char* getName() const override { return "Login"; }
    bool processFlatbuffer(const uint8_t* bytes, uint32_t length) override;
    void applyResults(RequestHost* manager) override;

private:
    struct Chain;
    // Opens the keys of the account from the master key, then installs the session.
    void openAccountKeys(RequestHost* manager, std::shared_ptr<Chain> chain);
    void openUserKey(RequestHost* manager, std::shared_ptr<Chain> chain);
    void openSession(RequestHost* manager, std::shared_ptr<Chain> chain);
    void install(RequestHost* manager, std::shared_ptr<Chain> chain);
    // Ends the chain with error 4.
    void failCrypto();

    bool sessionWay_ = false;
    std::vector<uint8_t> session_;
    std::vector<uint8_t> key_;
    std::vector<uint8_t> privateKey_;
    std::vector<uint8_t> accountKey_;
    std::vector<uint8_t> accountPrivateKey_;
    std::vector<uint8_t> accountFingerprintKey_;
    uint64_t user_ = 0;
    uint64_t account_ = 0;
    int32_t crypto_ = 0;
    uint8_t accessLevel_ = 0;
};

// Ends the session on the service; the local session ends whatever the answer.
class LogoutRequest : public FlatbufferRequest<LogoutMessage, LogoutResponse> {
public:
    explicit LogoutRequest(std::shared_ptr<MutableActionData> owner);

    const char* getName() const override { return "Logout"; }
    bool processFlatbuffer(const uint8_t* bytes, uint32_t length) override;
    void applyResults(RequestHost* manager) override;
};

// A further session of the signed-in user, handed back as a saved session string; the API
// manager's own session stays as it is.
class NewSessionRequest : public FlatbufferRequest<NewSessionMessage, NewSessionResponse> {
public:
    explicit NewSessionRequest(std::shared_ptr<MutableActionData> owner);

    const char* getName() const override { return "NewSession"; }
    bool processFlatbuffer(const uint8_t* bytes, uint32_t length) override;
    void applyResults(RequestHost* manager) override;

    uint64_t getId() const { return id_; }

private:
    uint64_t id_ = 0;
    std::vector<uint8_t> session_;
};

// The user's sessions, split into active and inactive ones, and the current session's id.
class SessionInfoRequest : public FlatbufferRequest<SessionInfoMessage, SessionInfoResponse> {
public:
    explicit SessionInfoRequest(std::shared_ptr<MutableActionData> owner);

    const char* getName() const override { return "SessionInfo"; }
    bool processFlatbuffer(const uint8_t* bytes, uint32_t length) override;
};

}  // namespace corvane
