#include "corvane/mutable_action_data.h"

#include <atomic>
#include <utility>

#include "corvane/handle.h"
#include "util/string_copy.h"

namespace corvane {

MutableActionData::MutableActionData(int32_t type) : ActionData(type) {
}

MutableActionData::~MutableActionData() = default;

void MutableActionData::setEmail(const char* email) {
    replaceString(&email_, email);
}
void MutableActionData::setPassword(const char* password) {
    replaceString(&password_, password);
}
void MutableActionData::setText(const char* text) {
    replaceString(&text_, text);
}
void MutableActionData::setSession(const char* session) {
    replaceString(&session_, session);
}
void MutableActionData::setName(const char* name) {
    replaceString(&name_, name);
}
void MutableActionData::setExtraText(const char* extraText) {
    replaceString(&extraText_, extraText);
}
void MutableActionData::setLink(const char* link) {
    replaceString(&link_, link);
}

void MutableActionData::setAccountHandle(uint64_t handle) {
    accountHandle_ = handle;
    accountHandleText_ = getHandleText(handle);
}

void MutableActionData::setUserHandle(uint64_t handle) {
    userHandle_ = handle;
    userHandleText_ = getHandleText(handle);
}

void MutableActionData::setNodeHandle(uint64_t handle) {
    nodeHandle_ = handle;
    nodeHandleText_ = getHandleText(handle);
}

void MutableActionData::setParentHandle(uint64_t handle) {
    parentHandle_ = handle;
    parentHandleText_ = getHandleText(handle);
}

// The handle is exactly what the text decodes to: bytes of an earlier handle that the text
// does not cover would otherwise survive and name another node.
void MutableActionData::setAccountHandleText(std::string text) {
    accountHandle_ = getHandleFromText(text);
    accountHandleText_ = std::move(text);
}

void MutableActionData::setNodeHandleText(std::string text) {
    nodeHandle_ = getHandleFromText(text);
    nodeHandleText_ = std::move(text);
}

void MutableActionData::setTransfer(std::shared_ptr<TransferData> transfer) {
    std::atomic_store(&transfer_, std::move(transfer));
}

void MutableActionData::setKey(const ByteVector* key) {
    key_ = key != nullptr ? std::make_unique<ByteVector>(*key) : nullptr;
}

}  // namespace corvane
