#include "corvane/handle.h"

#include "util/base64.h"

namespace corvane {

namespace {

constexpr size_t kNodeHandleBytes = 6;
constexpr size_t kSessionHandleBytes = 8;

std::string encodeLowBytes(uint64_t handle, size_t count) {
    uint8_t bytes[kSessionHandleBytes];
    for (size_t i = 0; i < count; ++i) {
        bytes[i] = static_cast<uint8_t>(handle >> (8 * i));
    }
    return getBase64UrlText(bytes, count);
}

}  // namespace

std::string getHandleText(uint64_t handle) {
    return encodeLowBytes(handle, kNodeHandleBytes);
}

std::string getHandleTextOrEmpty(uint64_t handle) {
    return handle == 0 ? std::string() : encodeLowBytes(handle, kNodeHandleBytes);
}

std::string getSessionHandleText(uint64_t handle) {
    return encodeLowBytes(handle, kSessionHandleBytes);
}

uint64_t getHandleFromText(const std::string& text) {
    uint8_t bytes[kSessionHandleBytes] = {};
    size_t count = Base64().decodeUrl(text.c_str(), bytes, sizeof(bytes));
    uint64_t handle = 0;
    for (size_t i = 0; i < count; ++i) {
        handle |= static_cast<uint64_t>(bytes[i]) << (8 * i);
    }
    return handle;
}

std::string getBase64UrlText(const uint8_t* data, size_t size) {
    if (data == nullptr || size == 0) {
        return std::string();
    }
    std::string text(Base64::encodedUrlSize(size), '\0');
    size_t written = Base64().encodeUrl(data, size, &text[0], text.size());
    text.resize(written);
    return text;
}

std::string getBase64UrlText(const std::vector<uint8_t>* data) {
    return data == nullptr ? std::string() : getBase64UrlText(data->data(), data->size());
}

}  // namespace corvane
