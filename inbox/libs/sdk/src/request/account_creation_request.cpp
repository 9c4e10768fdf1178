#include "request/account_creation_request.h"

#include "corvane/error.h"
#include "corvane/mutable_action_data.h"
#include "crypto/crypto_manager.h"
#include "request/request_host.h"
#include "util/base64.h"
#include "util/log.h"

namespace corvane {

namespace {

constexpr int32_t kNoPin = -1;
constexpr int8_t kNoType = -1;

using ByteOffset = flatbuffers::Offset<flatbuffers::Vector<uint8_t>>;

ByteOffset bytesOf(flatbuffers::FlatBufferBuilder& builder, const ByteVector* bytes) {
    return bytes != nullptr ? builder.CreateVector(*bytes) : ByteOffset();
}

flatbuffers::Offset<flatbuffers::String> textOf(flatbuffers::FlatBufferBuilder& builder, const char* text) {
    return text != nullptr ? builder.CreateString(text) : flatbuffers::Offset<flatbuffers::String>();
}

// A new account's root carries only its type and its sealed keys and attributes.
flatbuffers::Offset<NodeMessage> buildRootMessage(flatbuffers::FlatBufferBuilder& builder,
                                                  const EncryptedNodeData& root) {
    const auto nodeKey = bytesOf(builder, root.getEncryptedNodeKey());
    const auto childKey = bytesOf(builder, root.getEncryptedChildKey());
    const auto attributes = bytesOf(builder, root.getEncryptedAttributes());
    NodeMessageBuilder message(builder);
    if (root.getType() != kNoType) {
        message.add_type(static_cast<int8_t>(root.getType()));
    }
    message.add_nodekey(nodeKey);
    message.add_childkey(childKey);
    message.add_attributes(attributes);
    return message.Finish();
}

std::string keyText(const ByteVector& key) {
    std::string text(Base64::encodedUrlSize(key.size()), '\0');
    text.resize(Base64().encodeUrl(key.data(), key.size(), text.data(), text.size()));
    return text;
}

bool signsIn(int32_t error) {
    return error == SUCCESS || error == INVOICING_INFO_ERROR;
}

}  // namespace

CreateAccountRequest::CreateAccountRequest(std::shared_ptr<MutableActionData> owner,
                                           std::shared_ptr<EncryptedNodeList> roots)
    : FlatbufferRequest(std::move(owner)) {
    const MutableActionData& data = *actionData_;
    const bool newUser = data.getText() != nullptr;
    flatbuffers::FlatBufferBuilder builder = makeBuilder();

    flatbuffers::Offset<flatbuffers::String> registrationId, firstName, lastName, email;
    ByteOffset auth, userKey, publicKey, privateKey;
    if (newUser) {
        registrationId = builder.CreateString(data.getText());
        firstName = textOf(builder, data.getName());
        lastName = textOf(builder, data.getExtraText());
        email = textOf(builder, data.getEmail());
        auth = bytesOf(builder, data.getAuthKey());
        userKey = bytesOf(builder, data.getUserKey());
        publicKey = bytesOf(builder, data.getPublicKey());
        privateKey = bytesOf(builder, data.getPrivateKey());
    }
    const auto accountKey = bytesOf(builder, data.getAccountKey());
    const auto accountPublicKey = bytesOf(builder, data.getAccountPublicKey());
    const auto accountPrivateKey = bytesOf(builder, data.getAccountPrivateKey());
    const auto fingerprintKey = bytesOf(builder, data.getFingerprintKey());
    std::vector<flatbuffers::Offset<NodeMessage>> nodes;
    if (roots) {
        nodes.reserve(roots->size());
        for (const auto& root : *roots) {
            if (root) {
                nodes.push_back(buildRootMessage(builder, *root));
            }
        }
    }
    const auto nodeVector = builder.CreateVector(nodes);
    const auto coupon = textOf(builder, data.getLink());

    CreateAccountMessageBuilder message(builder);
    if (newUser) {
        message.add_registrationId(registrationId);
        message.add_firstName(firstName);
        message.add_lastName(lastName);
        message.add_email(email);
        message.add_auth(auth);
        message.add_userKey(userKey);
        message.add_publicKey(publicKey);
        message.add_privateKey(privateKey);
        if (data.getOption() != kNoPin) {
            message.add_pin(data.getOption());
        }
    }
    message.add_accountKey(accountKey);
    message.add_accountPublicKey(accountPublicKey);
    message.add_accountPrivateKey(accountPrivateKey);
    message.add_accountFingerprintKey(fingerprintKey);
    message.add_nodes(nodeVector);
    message.add_coupon(coupon);
    message.add_plan(data.getFlags());
    finishMessage(builder, message.Finish().o);
}

bool CreateAccountRequest::processFlatbuffer(const uint8_t* bytes, uint32_t length) {
    const auto* response = flatbuffers::GetRoot<CreateAccountResponse>(bytes);
    const int32_t error = response->error();
    storeError(error);
    if (!signsIn(error)) {
        return true;
    }
    answered_ = true;
    if (response->session() != nullptr) {
        session_.assign(response->session()->begin(), response->session()->end());
    }
    user_ = response->user();
    account_ = response->account();
    return true;
}

void CreateAccountRequest::fail(int32_t error) {
    if (actionData_) {
        actionData_->setError(Error(error));
    }
    notifyFinished();
}

void CreateAccountRequest::applyResults(RequestHost* manager) {
    if (!actionData_ || !answered_ || !signsIn(actionData_->getErrorCode())) {
        notifyFinished();
        return;
    }
    CryptoManager* crypto = manager->getCryptoManager();
    const ByteVector* privateKey = actionData_->getUserPrivateKey();
    if (crypto == nullptr || privateKey == nullptr || actionData_->getKey() == nullptr) {
        fail(CRYPTOGRAPHIC_ERROR);
        return;
    }
    auto self = std::static_pointer_cast<CreateAccountRequest>(shared_from_this());
    // The session buffer and the key live in this request and its owner, both held by the
    // completion.
    crypto->decryptSession(&session_, privateKey, [self, manager](std::string session) {
        if (session.empty()) {
            CLOG_WARN("[req]{}: Unable to open the new session", self->getName());
            self->fail(CRYPTOGRAPHIC_ERROR);
            return;
        }
        if (manager->getUserHandle() == 0) {
            self->install(manager, std::move(session));
            return;
        }
        manager->resetSession(
            [self, manager, session = std::move(session)]() mutable { self->install(manager, std::move(session)); });
    });
}

void CreateAccountRequest::install(RequestHost* manager, std::string session) {
    MutableActionData& data = *actionData_;
    data.setSession((session + keyText(*data.getKey())).c_str());
    static const ByteVector kNone;
    const auto orNone = [](const ByteVector* key) -> const ByteVector& { return key != nullptr ? *key : kNone; };
    auto self = std::static_pointer_cast<CreateAccountRequest>(shared_from_this());
    manager->setSession(data.getEmail(), session.c_str(), *data.getKey(), *data.getUserPrivateKey(),
                        orNone(data.getLinkAuth()), orNone(data.getAccountFingerprintKey()), orNone(data.getExtraKey()),
                        user_, account_, 0, 0, [self]() { self->notifyFinished(); });
}

}  // namespace corvane
