#include "request/node_tables.h"

#include "corvane/node_data.h"
#include "corvane/node_type.h"
#include "util/log.h"

namespace corvane {

namespace {

flatbuffers::Offset<flatbuffers::Vector<uint8_t>> bytesOf(flatbuffers::FlatBufferBuilder& builder,
                                                          const ByteVector* bytes) {
    return builder.CreateVector(bytes ? *bytes : ByteVector());
}

using Bytes = flatbuffers::Vector<uint8_t>;

}  // namespace

flatbuffers::Offset<NodeMessage> buildNodeMessage(flatbuffers::FlatBufferBuilder& builder,
                                                  const EncryptedNodeData& node) {
    using Offset = flatbuffers::Offset<Bytes>;
    const ByteVector* token = node.getUploadToken();
    const Offset tokenBytes = token ? bytesOf(builder, token) : Offset();
    const Offset fingerprint =
        node.getEncryptedFingerprint() ? bytesOf(builder, node.getEncryptedFingerprint()) : Offset();
    const Offset nodeKey = node.getEncryptedNodeKey() ? bytesOf(builder, node.getEncryptedNodeKey()) : Offset();
    const Offset extraData = node.getExtraData() ? bytesOf(builder, node.getExtraData()) : Offset();
    const Offset publicHandle = node.getPublicHandle() ? bytesOf(builder, node.getPublicHandle()) : Offset();
    // The service expects both on every node; a record without them sends them empty rather
    // than leaving them out.
    const Offset childKey = bytesOf(builder, node.getEncryptedChildKey());
    const Offset attributes = bytesOf(builder, node.getEncryptedAttributes());

    NodeMessageBuilder message(builder);
    if (token) {
        message.add_token(tokenBytes);
    } else {
        message.add_handle(node.getId());
    }
    // Each scalar is left out when it equals its schema default (the type's is -1).
    message.add_parent(node.getParent());
    message.add_type(static_cast<int8_t>(node.getType()));
    message.add_size(node.getSize());
    message.add_filesystem(node.getFilesystem());
    message.add_crypto(node.getCrypto());
    message.add_extraNumber(node.getExtraNumber());
    message.add_childkey(childKey);
    message.add_attributes(attributes);
    if (!fingerprint.IsNull()) message.add_fingerprint(fingerprint);
    if (!nodeKey.IsNull()) message.add_nodekey(nodeKey);
    if (!extraData.IsNull()) message.add_extraData(extraData);
    if (!publicHandle.IsNull()) message.add_pubhandle(publicHandle);
    return message.Finish();
}

std::shared_ptr<EncryptedNodeData> getEncryptedNode(const NodeMessage* message) {
    if (message == nullptr) {
        return nullptr;
    }
    auto node = std::make_shared<EncryptedNodeData>();
    node->setId(message->handle());
    node->setType(message->type());
    node->setCrypto(message->crypto());
    node->setNodeFlag(message->shared());
    node->setSize(message->size());
    node->setParent(message->parent());
    node->setFilesystem(message->filesystem());
    node->setCreationTime(message->ctime());
    node->setModificationTime(message->ctime());
    node->setFull(message->full());
    node->setExtraNumber(message->extraNumber());
    if (const Bytes* bytes = message->nodekey()) node->setEncryptedNodeKey(bytes->data(), bytes->size());
    if (const Bytes* bytes = message->childkey()) node->setEncryptedChildKey(bytes->data(), bytes->size());
    if (const Bytes* bytes = message->attributes()) node->setEncryptedAttributes(bytes->data(), bytes->size());
    if (const Bytes* bytes = message->fingerprint()) node->setEncryptedFingerprint(bytes->data(), bytes->size());
    if (const Bytes* bytes = message->metadata()) node->setMetadata(bytes->data(), bytes->size());
    if (const Bytes* bytes = message->extraData()) node->setExtraData(bytes->data(), bytes->size());
    if (const Bytes* bytes = message->pubhandle()) node->setPublicHandle(bytes->data(), bytes->size());
    return node;
}

std::shared_ptr<EncryptedNodeList> getEncryptedNodes(const NodeMessageVector* messages) {
    auto nodes = std::make_shared<EncryptedNodeList>();
    if (messages == nullptr) {
        return nodes;
    }
    nodes->reserve(messages->size());
    size_t files = 0;
    for (const NodeMessage* message : *messages) {
        if (message->type() == FILE_NODE) {
            ++files;
        }
        nodes->push_back(getEncryptedNode(message));
    }
    CLOG_DEBUG("Parsed {} nodes ({} files and {} folders)", nodes->size(), files, nodes->size() - files);
    return nodes;
}

std::shared_ptr<FilesystemData> getFilesystemData(const FilesystemMessage* message) {
    if (message == nullptr) {
        return nullptr;
    }
    auto filesystem = std::make_shared<FilesystemData>();
    filesystem->setId(message->handle());
    filesystem->setType(message->type());
    filesystem->setCrypto(message->crypto());
    if (const Bytes* bytes = message->nodekey()) {
        filesystem->setNodeKey(std::make_unique<ByteVector>(bytes->begin(), bytes->end()));
    }
    if (const Bytes* bytes = message->filesystemKey()) {
        filesystem->setFilesystemKey(std::make_unique<ByteVector>(bytes->begin(), bytes->end()));
    }
    filesystem->setSource(static_cast<int64_t>(message->source()));
    filesystem->setTarget(static_cast<int64_t>(message->target()));
    filesystem->setPermissions(message->permissions());
    filesystem->setCreationTime(message->ctime());
    return filesystem;
}

std::shared_ptr<FilesystemList> getFilesystemList(const FilesystemMessageVector* messages) {
    auto filesystems = std::make_shared<FilesystemList>();
    if (messages == nullptr) {
        return filesystems;
    }
    filesystems->reserve(messages->size());
    for (const FilesystemMessage* message : *messages) {
        filesystems->push_back(getFilesystemData(message));
    }
    return filesystems;
}

}  // namespace corvane
