#include "request/account_settings_request.h"

#include "cloud/cloud.h"
#include "corvane/error.h"
#include "corvane/mutable_action_data.h"
#include "request/change_support.h"
#include "request/request_host.h"

namespace corvane {

SetAccountValueRequest::SetAccountValueRequest(std::shared_ptr<MutableActionData> owner)
    : FlatbufferRequest(std::move(owner)) {
    type_ = static_cast<int32_t>(static_cast<uint32_t>(actionData_->getNumber()));
    flatbuffers::FlatBufferBuilder builder = makeBuilder();
    flatbuffers::Offset<flatbuffers::String> text;
    if (type_ == kDeleteAccount) {
        // The reason travels even when empty: the service tells a deletion by it.
        text = builder.CreateString(actionData_->getText() != nullptr ? actionData_->getText() : "");
    }
    SetAccountValueMessageBuilder message(builder);
    message.add_type(type_);
    if (type_ == kCrypto) {
        message.add_intValue(static_cast<int64_t>(actionData_->getOption()));
    } else if (type_ == kDeleteAccount) {
        message.add_textValue(text);
    }
    finishMessage(builder, message.Finish().o);
}

bool SetAccountValueRequest::processFlatbuffer(const uint8_t* bytes, uint32_t length) {
    readError(flatbuffers::GetRoot<SetAccountValueResponse>(bytes));
    return true;
}

void SetAccountValueRequest::applyResults(RequestHost* manager) {
    if (actionData_->getErrorCode() != 0) {
        notifyFinished();
        return;
    }
    if (type_ == kCrypto) {
        Cloud* cloud = change::cloudOf(manager, this);
        if (cloud == nullptr) {
            return;
        }
        cloud->updateAccountCrypto(static_cast<uint8_t>(actionData_->getOption() & 0xff));
        notifyFinished();
        return;
    }
    if (type_ == kDeleteAccount) {
        // The account is gone: the action ends only once the session and the cache are too.
        auto self = change::self(this);
        manager->logout([self]() { self->notifyFinished(); });
        return;
    }
    notifyFinished();
}

SetDefaultAccountRequest::SetDefaultAccountRequest(std::shared_ptr<MutableActionData> owner)
    : FlatbufferRequest(std::move(owner)) {
    flatbuffers::FlatBufferBuilder builder = makeBuilder();
    SetDefaultAccountMessageBuilder message(builder);
    message.add_account(actionData_->getAccountHandle());
    finishMessage(builder, message.Finish().o);
}

bool SetDefaultAccountRequest::processFlatbuffer(const uint8_t* bytes, uint32_t length) {
    readError(flatbuffers::GetRoot<SetDefaultAccountResponse>(bytes));
    return true;
}

SetAccessLevelRequest::SetAccessLevelRequest(std::shared_ptr<MutableActionData> owner)
    : FlatbufferRequest(std::move(owner)) {
    flatbuffers::FlatBufferBuilder builder = makeBuilder();
    SetAccessLevelMessageBuilder message(builder);
    message.add_userHandle(actionData_->getUserHandle());
    message.add_accessLevel(actionData_->getOption());
    finishMessage(builder, message.Finish().o);
}

bool SetAccessLevelRequest::processFlatbuffer(const uint8_t* bytes, uint32_t length) {
    readError(flatbuffers::GetRoot<SetAccessLevelResponse>(bytes));
    return true;
}

RevokeAccountAccessRequest::RevokeAccountAccessRequest(std::shared_ptr<MutableActionData> owner)
    : FlatbufferRequest(std::move(owner)) {
    flatbuffers::FlatBufferBuilder builder = makeBuilder();
    RevokeAccountAccessMessageBuilder message(builder);
    message.add_user(actionData_->getUserHandle());
    finishMessage(builder, message.Finish().o);
}

bool RevokeAccountAccessRequest::processFlatbuffer(const uint8_t* bytes, uint32_t length) {
    const auto* response = flatbuffers::GetRoot<RevokeAccountAccessResponse>(bytes);
    if (readError(response) != 0) {
        return true;
    }
    // Every user has a main account: an answer without one would leave 0 in its place.
    if (response->mainAccount() == 0) {
        actionData_->setError(Error(UNKNOWN_ERROR));
        return true;
    }
    actionData_->setAccountHandle(response->mainAccount());
    return true;
}

void RevokeAccountAccessRequest::applyResults(RequestHost* manager) {
    const uint64_t user = actionData_->getUserHandle();
    if (user != 0 && user != manager->getUserHandle()) {
        notifyFinished();
        return;
    }
    // The own access is given up whatever the service answered; the answer's error stays.
    auto self = change::self(this);
    manager->logout([self]() { self->notifyFinished(); });
}

AddContactRequest::AddContactRequest(std::shared_ptr<MutableActionData> owner) : FlatbufferRequest(std::move(owner)) {
    flatbuffers::FlatBufferBuilder builder = makeBuilder();
    const auto email = builder.CreateString(actionData_->getEmail() != nullptr ? actionData_->getEmail() : "");
    AddContactMessageBuilder message(builder);
    message.add_email(email);
    finishMessage(builder, message.Finish().o);
}

bool AddContactRequest::processFlatbuffer(const uint8_t* bytes, uint32_t length) {
    readError(flatbuffers::GetRoot<AddContactResponse>(bytes));
    return true;
}

}  // namespace corvane
