#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "crypto/crypto_primitives.h"
#include "util/byte_array.h"

namespace corvane {

class MutableNodeData;

// A node's readable properties travel as one NodeAttributes FlatBuffers record (schema
// node_attributes.fbs, no file identifier), sealed under the node key by the crypto schemes.

// The record of the node: its name, modification time, hashes and the extended attributes of
// its type. Readers must not depend on byte-identical output.
std::unique_ptr<FlatbufferByteArray> buildNodeAttributes(const MutableNodeData& node);

// Verifies an opened record and copies its fields into the node. False, with the node left as
// it was, when there is no plaintext (the blob did not open) or the record does not verify.
bool applyNodeAttributes(CryptoBytes plaintext, MutableNodeData& node);

// The same over borrowed bytes at any address; null data means the blob did not open.
bool applyNodeAttributes(const uint8_t* data, size_t size, MutableNodeData& node);

// Whether there is a node and it holds a key; lets callers check a node without the cache
// record's header.
bool hasNodeKey(const MutableNodeData* node);

}  // namespace corvane
