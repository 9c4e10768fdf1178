#pragma once

#include <memory>
#include <vector>

#include <flatbuffers/flatbuffers.h>

#include "cloud/encrypted_node_data.h"
#include "database/filesystem_data.h"
#include "filesystem_message_generated.h"
#include "node_message_generated.h"

namespace corvane {

// The node, filesystem and contact tables that many messages and responses share, turned into
// and out of the cache's records. Stateless; run on the SDK main loop.

using EncryptedNodeList = std::vector<std::shared_ptr<EncryptedNodeData>>;
using FilesystemList = std::vector<std::shared_ptr<FilesystemData>>;

using NodeMessageVector = flatbuffers::Vector<flatbuffers::Offset<NodeMessage>>;
using FilesystemMessageVector = flatbuffers::Vector<flatbuffers::Offset<FilesystemMessage>>;

// Writes the node as a NodeMessage; a node with an upload token carries the token instead of
// its handle. The child key and the attributes are always written (empty when absent), the
// creation time, metadata, node flag and full flag never.
flatbuffers::Offset<NodeMessage> buildNodeMessage(flatbuffers::FlatBufferBuilder& builder,
                                                  const EncryptedNodeData& node);

// A new node record from a verified NodeMessage; absent scalars read as their defaults and
// absent buffers stay absent. Null for a null table.
std::shared_ptr<EncryptedNodeData> getEncryptedNode(const NodeMessage* message);

// One record per table, in order; logs how many files and folders were parsed. An absent
// vector gives an empty list.
std::shared_ptr<EncryptedNodeList> getEncryptedNodes(const NodeMessageVector* messages);

// A new filesystem record from a verified FilesystemMessage; null for a null table.
std::shared_ptr<FilesystemData> getFilesystemData(const FilesystemMessage* message);

// One record per table, in order; an absent vector gives an empty list.
std::shared_ptr<FilesystemList> getFilesystemList(const FilesystemMessageVector* messages);

}  // namespace corvane
