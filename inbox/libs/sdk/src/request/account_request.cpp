#include "request/account_request.h"

#include "cloud/cloud.h"
#include "corvane/action_types.h"
#include "corvane/error.h"
#include "corvane/handle.h"
#include "corvane/mutable_action_data.h"
#include "corvane/mutable_event_data.h"
#include "database/mutable_permission_info_data.h"
#include "database/mutable_user_info_data.h"
#include "request/change_support.h"
#include "request/request_host.h"
#include "util/deployment.h"
#include "util/log.h"

namespace corvane {

namespace {

std::string textOf(const flatbuffers::String* text) {
    return text != nullptr ? text->str() : std::string();
}

bool hasLink(const MutableActionData& owner) {
    return owner.getLink() != nullptr && owner.getLink()[0] != '\0';
}

ByteVector* bytesOf(const flatbuffers::Vector<uint8_t>* bytes) {
    return bytes != nullptr ? new ByteVector(bytes->begin(), bytes->end()) : new ByteVector();
}

// An answer that names no account or user is no answer: taking it would file a handle of 0
// (or an empty key) as if the service had given one.
bool failIncomplete(MutableActionData* owner, bool complete) {
    if (!complete && owner != nullptr) {
        owner->setError(Error(UNKNOWN_ERROR));
    }
    return !complete;
}

}  // namespace

std::shared_ptr<PermissionInfoList> getPermissions(const PermissionMessageVector* messages) {
    auto list = std::make_shared<PermissionInfoList>();
    if (messages == nullptr) {
        return list;
    }
    list->reserve(messages->size());
    for (const PermissionMessage* message : *messages) {
        auto entry = std::make_shared<MutablePermissionInfoData>();
        entry->setId(message->handle());
        entry->setName(message->name() != nullptr ? message->name()->c_str() : nullptr);
        entry->setCreationTime(message->creationTime());
        entry->setAccessLevel(message->accessLevel());
        list->push_back(std::move(entry));
    }
    return list;
}

std::string getAccountLink(uint64_t handle) {
    return getDeployment().webAddress + "/account/" + getHandleText(handle);
}

AccountInfoRequest::AccountInfoRequest() : FlatbufferRequest(nullptr) {
}

AccountInfoRequest::AccountInfoRequest(std::shared_ptr<MutableActionData> owner) : FlatbufferRequest(std::move(owner)) {
    flatbuffers::FlatBufferBuilder builder = makeBuilder();
    AccountInfoMessageBuilder message(builder);
    message.add_account(actionData_ ? actionData_->getAccountHandle() : 0);
    finishMessage(builder, message.Finish().o);
}

bool AccountInfoRequest::processFlatbuffer(const uint8_t* bytes, uint32_t length) {
    const auto* response = flatbuffers::GetRoot<AccountInfoResponse>(bytes);
    error_ = readError(response);
    if (error_ != 0) {
        return true;
    }
    if (actionData_ && actionData_->getAccountHandle() != 0) {
        otherAccount_ = true;
        if (failIncomplete(actionData_.get(), response->handle() != 0 && response->publicKey() != nullptr)) {
            error_ = UNKNOWN_ERROR;
            return true;
        }
        actionData_->setAccountHandle(response->handle());
        actionData_->setPublicKey(bytesOf(response->publicKey()));
        actionData_->setName(textOf(response->name()).c_str());
        if (!hasLink(*actionData_)) {
            actionData_->setLink(getAccountLink(actionData_->getAccountHandle()).c_str());
        }
        return true;
    }
    if (failIncomplete(actionData_.get(), response->handle() != 0)) {
        error_ = UNKNOWN_ERROR;
        return true;
    }
    handle_ = response->handle();
    type_ = response->type();
    creationTime_ = response->creationTime();
    storageTotal_ = response->storageTotal();
    storageUsed_ = response->storageUsed();
    renewTime_ = response->renewTime();
    period_ = response->period();
    amount_ = response->amount();
    discount_ = response->discount();
    hasCredit_ = response->hasCredit();
    hasPaymentMethod_ = response->hasPaymentMethod();
    balance_ = response->balance();
    upgrades_ = response->upgrades();
    isReseller_ = response->isReseller();
    features_ = response->features();
    crypto_ = response->crypto();
    accessLevel_ = response->accessLevel();
    users_ = getPermissions(response->users());
    referrerCode_ = textOf(response->referrerCode());
    name_ = textOf(response->name());
    plan_ = textOf(response->plan());
    nif_ = textOf(response->nif());
    if (actionData_) {
        actionData_->setUsers(users_);
        if (response->accountEmail() != nullptr) {
            actionData_->setEmail(response->accountEmail()->c_str());
        }
        actionData_->setNodeHandle(handle_);
        actionData_->setOption(type_);
        actionData_->setName(name_.c_str());
        actionData_->setValue(static_cast<int32_t>(static_cast<uint32_t>(creationTime_)));
        actionData_->setTotalSize(storageTotal_);
        actionData_->setCurrentSize(storageUsed_);
    }
    return true;
}

void AccountInfoRequest::updateAccount(Cloud* cloud, uint8_t accessLevel) const {
    cloud->updateAccountInfo(handle_, type_, name_.c_str(), creationTime_, static_cast<int64_t>(storageTotal_),
                             static_cast<int64_t>(storageUsed_), renewTime_, period_, amount_, discount_, hasCredit_,
                             hasPaymentMethod_, plan_.c_str(), nif_.c_str(), referrerCode_.c_str(), balance_, upgrades_,
                             isReseller_, static_cast<int32_t>(features_), crypto_, accessLevel);
}

void AccountInfoRequest::applyResults(RequestHost* manager) {
    if (error_ != 0 || otherAccount_) {
        notifyFinished();
        return;
    }
    Cloud* cloud = change::cloudOf(manager, this);
    if (cloud == nullptr) {
        return;
    }
    if (actionData_) {
        updateAccount(cloud, accessLevel_);
        std::shared_ptr<MutableAccountInfoData> account = cloud->getAccountInfo();
        actionData_->setAccountHandle(account->getId());
        actionData_->setAccountInfo(account);
        if (!hasLink(*actionData_)) {
            actionData_->setLink(getAccountLink(handle_).c_str());
        }
        notifyFinished();
        return;
    }
    // Pushed by the service: this user's access level is the first user entry's, when that
    // entry is this user; an answer that starts with another user is not about this account.
    uint8_t accessLevel = cloud->getAccessLevel();
    if (users_ && !users_->empty()) {
        const auto& first = users_->front();
        if (first->getId() != manager->getUserHandle()) {
            notifyFinished();
            return;
        }
        accessLevel = static_cast<uint8_t>(first->getAccessLevel());
    }
    updateAccount(cloud, accessLevel);
    auto event = std::make_shared<MutableEventData>(EVENT_ACCOUNT_INFO);
    event->setExternal(true);
    event->setAccountInfo(cloud->getAccountInfo());
    notifyFinished();
    manager->onEvent(event);
}

UserInfoRequest::UserInfoRequest(std::shared_ptr<MutableActionData> owner) : FlatbufferRequest(std::move(owner)) {
    flatbuffers::FlatBufferBuilder builder = makeBuilder();
    const int32_t user = actionData_->getValue();
    flatbuffers::Offset<flatbuffers::String> email;
    if (user == 0 && actionData_->getEmail() != nullptr) {
        email = builder.CreateString(actionData_->getEmail());
    }
    UserInfoMessageBuilder message(builder);
    // The id travels sign-extended, as the service reads the 32-bit value it was given.
    message.add_user(static_cast<uint64_t>(static_cast<int64_t>(user)));
    if (!email.IsNull()) {
        message.add_email(email);
    }
    finishMessage(builder, message.Finish().o);
}

bool UserInfoRequest::processFlatbuffer(const uint8_t* bytes, uint32_t length) {
    const auto* response = flatbuffers::GetRoot<UserInfoResponse>(bytes);
    if (readError(response) != 0 || !actionData_) {
        return true;
    }
    if (failIncomplete(actionData_.get(),
                       response->handle() != 0 && response->publicKey() != nullptr && response->mainAccount() != 0)) {
        return true;
    }
    auto user = std::make_shared<MutableUserInfoData>();
    user->setId(response->handle());
    user->setCreationTime(response->creationTime());
    if (response->email() != nullptr) {
        user->setEmail(response->email()->c_str());
    }
    if (response->firstName() != nullptr) {
        user->setFirstName(response->firstName()->c_str());
    }
    if (response->lastName() != nullptr) {
        user->setLastName(response->lastName()->c_str());
    }
    user->setMultiFactorAuth(response->multiFactorAuth() != 0 ? 1 : 0);
    actionData_->setUserInfo(user);
    actionData_->setUserHandle(response->handle());
    actionData_->setPublicKey(bytesOf(response->publicKey()));
    actionData_->setUserPrivateKey(bytesOf(response->privateKey()));
    actionData_->setAccountHandle(response->mainAccount());
    actionData_->setPermissions(getPermissions(response->permissions()));
    return true;
}

}  // namespace corvane
