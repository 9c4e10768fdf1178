#include "node_wire.h"

#include <cstring>
#include <map>
#include <set>

namespace corvane::service {

Bytes readBytes(const flatbuffers::Vector<uint8_t>* vector) {
    if (!vector) return std::nullopt;
    return std::string(reinterpret_cast<const char*>(vector->data()), vector->size());
}

flatbuffers::Offset<flatbuffers::Vector<uint8_t>> writeBytes(flatbuffers::FlatBufferBuilder& builder,
                                                             const Bytes& bytes) {
    if (!bytes) return 0;
    return builder.CreateVector(reinterpret_cast<const uint8_t*>(bytes->data()), bytes->size());
}

NodeRecord readNode(const NodeMessage& message) {
    NodeRecord node;
    node.handle = message.handle();
    node.parent = message.parent();
    node.type = message.type();
    node.crypto = message.crypto();
    node.shared = message.shared();
    node.filesystem = message.filesystem();
    node.ctime = message.ctime();
    node.size = message.size();
    node.full = message.full();
    node.extraNumber = message.extraNumber();
    node.pubhandle = readBytes(message.pubhandle());
    node.nodekey = readBytes(message.nodekey());
    node.childkey = readBytes(message.childkey());
    node.attributes = readBytes(message.attributes());
    node.metadata = readBytes(message.metadata());
    node.fingerprint = readBytes(message.fingerprint());
    node.extraData = readBytes(message.extraData());
    return node;
}

flatbuffers::Offset<NodeMessage> writeNode(flatbuffers::FlatBufferBuilder& builder, const NodeRecord& node) {
    const auto pubhandle = writeBytes(builder, node.pubhandle);
    const auto nodekey = writeBytes(builder, node.nodekey);
    const auto childkey = writeBytes(builder, node.childkey);
    const auto attributes = writeBytes(builder, node.attributes);
    const auto metadata = writeBytes(builder, node.metadata);
    const auto fingerprint = writeBytes(builder, node.fingerprint);
    const auto extraData = writeBytes(builder, node.extraData);
    NodeMessageBuilder table(builder);
    table.add_handle(node.handle);
    table.add_parent(node.parent);
    table.add_type(node.type);
    table.add_crypto(node.crypto);
    table.add_shared(node.shared);
    table.add_filesystem(node.filesystem);
    table.add_ctime(node.ctime);
    table.add_size(node.size);
    table.add_full(node.full);
    table.add_extraNumber(node.extraNumber);
    if (!pubhandle.IsNull()) table.add_pubhandle(pubhandle);
    if (!nodekey.IsNull()) table.add_nodekey(nodekey);
    if (!childkey.IsNull()) table.add_childkey(childkey);
    if (!attributes.IsNull()) table.add_attributes(attributes);
    if (!metadata.IsNull()) table.add_metadata(metadata);
    if (!fingerprint.IsNull()) table.add_fingerprint(fingerprint);
    if (!extraData.IsNull()) table.add_extraData(extraData);
    return table.Finish();
}

flatbuffers::Offset<FilesystemMessage> writeFilesystem(flatbuffers::FlatBufferBuilder& builder,
                                                       const FilesystemRecord& fs) {
    const auto nodekey = writeBytes(builder, fs.nodekey);
    const auto filesystemKey = writeBytes(builder, fs.filesystemKey);
    FilesystemMessageBuilder table(builder);
    table.add_handle(fs.handle);
    table.add_type(fs.type);
    table.add_crypto(fs.crypto);
    if (!nodekey.IsNull()) table.add_nodekey(nodekey);
    if (!filesystemKey.IsNull()) table.add_filesystemKey(filesystemKey);
    table.add_source(fs.source);
    table.add_target(fs.target);
    table.add_permissions(fs.permissions);
    table.add_ctime(fs.ctime);
    return table.Finish();
}

flatbuffers::Offset<ContactMessage> writeContact(flatbuffers::FlatBufferBuilder& builder, const UserRecord& user) {
    const auto email = builder.CreateString(user.email);
    ContactMessageBuilder table(builder);
    table.add_handle(user.handle);
    table.add_email(email);
    table.add_status(user.status);
    return table.Finish();
}

flatbuffers::FlatBufferBuilder responseBuilder(size_t initialSize) {
    flatbuffers::FlatBufferBuilder builder(initialSize);
    builder.Align(8);
    return builder;
}

std::string finishedResponse(flatbuffers::FlatBufferBuilder& builder) {
    return std::string(reinterpret_cast<const char*>(builder.GetBufferPointer()), builder.GetSize());
}

AlignedMessage::AlignedMessage(const std::string& message) : words_((message.size() + 7) / 8), size_(message.size()) {
    if (!message.empty()) std::memcpy(words_.data(), message.data(), message.size());
}

FilesystemRecord takeRootFilesystem(NodeRecord& root) {
    FilesystemRecord filesystem;
    filesystem.handle = root.filesystem;
    filesystem.type = root.type;
    filesystem.crypto = root.crypto;
    filesystem.nodekey = root.nodekey;
    filesystem.filesystemKey = std::move(root.attributes);
    filesystem.ctime = root.ctime;
    root.attributes.reset();
    return filesystem;
}

// The account's nodes with every parent before its children (the client places a node only
// under a parent it has); nodes whose parent is not in the account start the order like roots.
std::vector<NodeRecord> parentsFirst(std::vector<NodeRecord> nodes) {
    std::map<uint64_t, std::vector<size_t>> children;
    std::map<uint64_t, size_t> index;
    for (size_t i = 0; i < nodes.size(); ++i)
        index.emplace(nodes[i].handle, i);
    std::vector<size_t> order;
    for (size_t i = 0; i < nodes.size(); ++i) {
        if (nodes[i].parent != 0 && index.count(nodes[i].parent))
            children[nodes[i].parent].push_back(i);
        else
            order.push_back(i);
    }
    for (size_t at = 0; at < order.size(); ++at) {
        auto it = children.find(nodes[order[at]].handle);
        if (it != children.end()) order.insert(order.end(), it->second.begin(), it->second.end());
    }
    std::vector<NodeRecord> sorted;
    sorted.reserve(order.size());
    for (size_t i : order)
        sorted.push_back(std::move(nodes[i]));
    return sorted;
}

SnapshotNodes splitContacts(std::vector<NodeRecord> nodes) {
    constexpr int8_t kContactNode = 46;
    SnapshotNodes split;
    std::set<uint64_t> filed;
    for (auto& node : parentsFirst(std::move(nodes))) {
        if (node.type == kContactNode || filed.count(node.parent)) {
            filed.insert(node.handle);
            split.contacts.push_back(std::move(node));
        } else {
            split.nodes.push_back(std::move(node));
        }
    }
    return split;
}

}  // namespace corvane::service
