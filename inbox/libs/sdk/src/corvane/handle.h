#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace corvane {

// Text forms of 64-bit handles: Base64URL (no padding) of the handle's bytes, least
// significant first. Node, parent, account, user and permission ids use the 6 low-order
// bytes (8 characters); the session record uses all 8 bytes (11 characters).

// The 8-character text of the 6 low-order bytes; handle 0 gives "AAAAAAAA".
std::string getHandleText(uint64_t handle);

// As getHandleText, but handle 0 gives an empty text.
std::string getHandleTextOrEmpty(uint64_t handle);

// The 11-character text of all 8 bytes, handle 0 included.
std::string getSessionHandleText(uint64_t handle);

// Decodes a handle text (at most 8 bytes, least significant first); bytes the text does
// not cover are 0.
uint64_t getHandleFromText(const std::string& text);

// Base64URL text of a run of bytes; empty for null or no bytes.
std::string getBase64UrlText(const uint8_t* data, size_t size);
std::string getBase64UrlText(const std::vector<uint8_t>* data);

}  // namespace corvane
