#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include <flatbuffers/flatbuffers.h>

#include "account_info_message_generated.h"
#include "account_info_response_generated.h"
#include "corvane/action_data.h"
#include "permission_message_generated.h"
#include "request/request.h"
#include "user_info_message_generated.h"
#include "user_info_response_generated.h"

namespace corvane {

class Cloud;

using PermissionMessageVector = flatbuffers::Vector<flatbuffers::Offset<PermissionMessage>>;

// One permission record per table, in order; an absent vector gives an empty list.
std::shared_ptr<PermissionInfoList> getPermissions(const PermissionMessageVector* messages);

// The account's page on the service: the web address, "/account/" and the handle's text.
std::string getAccountLink(uint64_t handle);

// An account's details. Without an account handle in the owner it concerns the signed-in
// user's own account and refreshes the cache's account record; with one, it only hands that
// account's name, public key and link to the owner. The default constructor makes the
// owner-less form that applies account information pushed inside the events response.
class AccountInfoRequest : public FlatbufferRequest<AccountInfoMessage, AccountInfoResponse> {
public:
    AccountInfoRequest();
    explicit AccountInfoRequest(std::shared_ptr<MutableActionData> owner);

    const char* getName() const override { return "AccountInfo"; }
    bool processFlatbuffer(const uint8_t* bytes, uint32_t length) override;
    void applyResults(RequestHost* manager) override;

    int32_t getError() const { return error_; }
    uint64_t getHandle() const { return handle_; }
    uint8_t getAccessLevel() const { return accessLevel_; }
    std::shared_ptr<PermissionInfoList> getUsers() const { return users_; }

private:
    // Writes the kept fields into the cache's account record, with this access level.
    void updateAccount(Cloud* cloud, uint8_t accessLevel) const;

    int32_t error_ = 0;
    // The answer was about another account: the cache's record is not this one's.
    bool otherAccount_ = false;
    uint64_t handle_ = 0;
    uint8_t type_ = 0;
    std::string name_;
    int64_t creationTime_ = 0;
    uint64_t storageTotal_ = 0;
    uint64_t storageUsed_ = 0;
    int64_t renewTime_ = 0;
    uint8_t period_ = 0;
    int32_t amount_ = 0;
    int32_t discount_ = 0;
    bool hasCredit_ = false;
    std::string plan_;
    std::string nif_;
    bool hasPaymentMethod_ = false;
    std::string referrerCode_;
    int32_t balance_ = 0;
    int32_t upgrades_ = 0;
    bool isReseller_ = false;
    std::shared_ptr<PermissionInfoList> users_;
    uint32_t features_ = 0;
    uint8_t crypto_ = 0;
    uint8_t accessLevel_ = 0;
};

// A user's details, by id (the owner's value), else by the owner's e-mail address, else the
// signed-in user's own. Everything read goes to the owner; nothing is stored.
class UserInfoRequest : public FlatbufferRequest<UserInfoMessage, UserInfoResponse> {
public:
    explicit UserInfoRequest(std::shared_ptr<MutableActionData> owner);

    const char* getName() const override { return "UserInfo"; }
    bool processFlatbuffer(const uint8_t* bytes, uint32_t length) override;
};

}  // namespace corvane
