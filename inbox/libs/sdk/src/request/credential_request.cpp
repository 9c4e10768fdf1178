#include "request/credential_request.h"

#include "corvane/error.h"
#include "corvane/mutable_action_data.h"

namespace corvane {

namespace {

constexpr int32_t kNoCode = -1;

flatbuffers::Offset<flatbuffers::Vector<uint8_t>> bytesOf(flatbuffers::FlatBufferBuilder& builder,
                                                          const ByteVector* bytes) {
    return bytes != nullptr ? builder.CreateVector(*bytes) : builder.CreateVector(std::vector<uint8_t>());
}

flatbuffers::Offset<flatbuffers::String> textOf(flatbuffers::FlatBufferBuilder& builder, const char* text) {
    return builder.CreateString(text != nullptr ? text : "");
}

// The shared reading of an error, else one text. An answer without its text is no answer:
// an owner left without an id would go on as if it had none to send.
template <class Response>
void readErrorElseText(MutableActionData* owner, const Response* response, const flatbuffers::String* text) {
    if (owner == nullptr) {
        return;
    }
    if (response->error() != 0) {
        owner->setError(Error(response->error()));
        return;
    }
    if (text == nullptr) {
        owner->setError(Error(UNKNOWN_ERROR));
        return;
    }
    owner->setText(text->c_str());
}

}  // namespace

ChangePasswordRequest::ChangePasswordRequest(std::shared_ptr<MutableActionData> owner)
    : FlatbufferRequest(std::move(owner)) {
    flatbuffers::FlatBufferBuilder builder = makeBuilder();
    // Both always travel, empty when the owner has none: the service refuses them then.
    const auto key = bytesOf(builder, actionData_->getUserKey());
    const auto auth = bytesOf(builder, actionData_->getAuthKey());
    ChangePasswordMessageBuilder message(builder);
    message.add_key(key);
    message.add_auth(auth);
    finishMessage(builder, message.Finish().o);
}

bool ChangePasswordRequest::processFlatbuffer(const uint8_t* bytes, uint32_t length) {
    readError(flatbuffers::GetRoot<ChangePasswordResponse>(bytes));
    return true;
}

ForgotPasswordRequest::ForgotPasswordRequest(std::shared_ptr<MutableActionData> owner)
    : FlatbufferRequest(std::move(owner)) {
    flatbuffers::FlatBufferBuilder builder = makeBuilder();
    const auto email = textOf(builder, actionData_->getEmail());
    ForgotPasswordMessageBuilder message(builder);
    message.add_email(email);
    finishMessage(builder, message.Finish().o);
}

bool ForgotPasswordRequest::processFlatbuffer(const uint8_t* bytes, uint32_t length) {
    const auto* response = flatbuffers::GetRoot<ForgotPasswordResponse>(bytes);
    readErrorElseText(actionData_.get(), response, response->recoveryId());
    return true;
}

VerifyEmailRequest::VerifyEmailRequest(std::shared_ptr<MutableActionData> owner) : FlatbufferRequest(std::move(owner)) {
    flatbuffers::FlatBufferBuilder builder = makeBuilder();
    const auto email = textOf(builder, actionData_->getEmail());
    const auto firstName = textOf(builder, actionData_->getName());
    const auto lastName = textOf(builder, actionData_->getExtraText());
    VerifyEmailMessageBuilder message(builder);
    message.add_email(email);
    message.add_firstName(firstName);
    message.add_lastName(lastName);
    finishMessage(builder, message.Finish().o);
}

bool VerifyEmailRequest::processFlatbuffer(const uint8_t* bytes, uint32_t length) {
    const auto* response = flatbuffers::GetRoot<VerifyEmailResponse>(bytes);
    readErrorElseText(actionData_.get(), response, response->registrationId());
    return true;
}

Manage2faRequest::Manage2faRequest(std::shared_ptr<MutableActionData> owner) : FlatbufferRequest(std::move(owner)) {
    flatbuffers::FlatBufferBuilder builder = makeBuilder();
    const auto operation = static_cast<uint8_t>(actionData_->getOption() & 0xff);
    Manage2faMessageBuilder message(builder);
    message.add_operation(operation);
    if ((operation == kEnable || operation == kDisable) && actionData_->getValue() != kNoCode) {
        message.add_code(actionData_->getValue());
    }
    finishMessage(builder, message.Finish().o);
}

bool Manage2faRequest::processFlatbuffer(const uint8_t* bytes, uint32_t length) {
    const auto* response = flatbuffers::GetRoot<Manage2faResponse>(bytes);
    if (readError(response) != 0 || !actionData_ || actionData_->getOption() != kCreateLink) {
        return true;
    }
    if (response->url() == nullptr) {
        actionData_->setError(Error(UNKNOWN_ERROR));
        return true;
    }
    actionData_->setText(response->url()->c_str());
    return true;
}

}  // namespace corvane
