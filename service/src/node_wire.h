// The node, filesystem and contact tables on the wire: reading received tables into the
// store's records and writing records back, byte vectors untouched.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <flatbuffers/flatbuffers.h>

#include "account_records.h"
#include "contact_message_generated.h"
#include "filesystem_message_generated.h"
#include "node_message_generated.h"

namespace corvane::service {

NodeRecord readNode(const NodeMessage& message);

// The filesystem record of a new root (id root << 15, the root's type, scheme and node key):
// the client sends a root's filesystem key where other nodes carry attributes, so the root
// gives it up and keeps no attributes.
FilesystemRecord takeRootFilesystem(NodeRecord& root);

// The nodes with every parent before its children (the client places a node only under a
// parent it has); nodes whose parent is not among them start the order like roots.
std::vector<NodeRecord> parentsFirst(std::vector<NodeRecord> nodes);

// A whole tree as a snapshot carries it: contacts with everything filed under them (outboxes,
// sent records) in `contacts`, which the client appends after `nodes`; both parents first, so
// that no filed node arrives before its contact.
struct SnapshotNodes {
    std::vector<NodeRecord> nodes;
    std::vector<NodeRecord> contacts;
};
SnapshotNodes splitContacts(std::vector<NodeRecord> nodes);

flatbuffers::Offset<NodeMessage> writeNode(flatbuffers::FlatBufferBuilder& builder, const NodeRecord& node);
flatbuffers::Offset<FilesystemMessage> writeFilesystem(flatbuffers::FlatBufferBuilder& builder,
                                                       const FilesystemRecord& filesystem);
flatbuffers::Offset<ContactMessage> writeContact(flatbuffers::FlatBufferBuilder& builder, const UserRecord& user);

// An optional byte vector: absent when the bytes are.
flatbuffers::Offset<flatbuffers::Vector<uint8_t>> writeBytes(flatbuffers::FlatBufferBuilder& builder,
                                                             const Bytes& bytes);
Bytes readBytes(const flatbuffers::Vector<uint8_t>* vector);

// A builder as every answer uses: minimum alignment 8, defaults left out.
flatbuffers::FlatBufferBuilder responseBuilder(size_t initialSize = 256);
// The finished plain buffer (no length prefix), as batch handlers return it.
std::string finishedResponse(flatbuffers::FlatBufferBuilder& builder);

// A size-prefixed message copied to 8-byte aligned storage, so that its tables can be read in
// place wherever the batch body kept it.
class AlignedMessage {
public:
    explicit AlignedMessage(const std::string& message);
    const uint8_t* data() const { return reinterpret_cast<const uint8_t*>(words_.data()); }
    size_t size() const { return size_; }

private:
    std::vector<uint64_t> words_;
    size_t size_;
};

}  // namespace corvane::service
