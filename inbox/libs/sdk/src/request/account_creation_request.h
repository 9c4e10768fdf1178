#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "create_account_message_generated.h"
#include "create_account_response_generated.h"
#include "request/node_tables.h"
#include "request/request.h"

namespace corvane {

// Registers a new user with a first account (the owner's text holds the registration id) or
// a further account of the signed-in user, sending the keys the CREATE_ACCOUNT action made
// and the account's root nodes; on success it opens the returned session and signs in.
// Errors 0 and 19 both sign in; 19 stays the owner's error.
class CreateAccountRequest : public FlatbufferRequest<CreateAccountMessage, CreateAccountResponse> {
public:
    CreateAccountRequest(std::shared_ptr<MutableActionData> owner, std::shared_ptr<EncryptedNodeList> roots);

    const char* getName() const override { return "CreateAccount"; }
    bool processFlatbuffer(const uint8_t* bytes, uint32_t length) override;
    void applyResults(RequestHost* manager) override;

    uint64_t getUser() const { return user_; }
    uint64_t getAccount() const { return account_; }

private:
    void install(RequestHost* manager, std::string session);
    // Stores the error in the owner and finishes.
    void fail(int32_t error);

    bool answered_ = false;
    std::vector<uint8_t> session_;
    uint64_t user_ = 0;
    uint64_t account_ = 0;
};

}  // namespace corvane
