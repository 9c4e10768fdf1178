#include "request/node_tables.h"

#include <memory>
#include <string>
#include <vector>

#include <flatbuffers/flatbuffers.h>
#include <gtest/gtest.h>

#include "add_nodes_message_generated.h"
#include "corvane/handle.h"
#include "support/log_capture.h"

namespace corvane {
namespace {

using Bytes = std::vector<uint8_t>;

const flatbuffers::Table* asTable(const void* table) {
    return reinterpret_cast<const flatbuffers::Table*>(table);
}

Bytes copyOf(const ByteVector* bytes) {
    return bytes ? *bytes : Bytes();
}

// A finished builder whose root is the table the callback adds; verified before reading.
class Wire {
public:
    template <class Build>
    explicit Wire(Build build) : builder_(256) {
        builder_.Finish(build(builder_));
    }
    template <class Table>
    const Table* root() {
        flatbuffers::Verifier verifier(builder_.GetBufferPointer(), builder_.GetSize(), 64, 1000000);
        if (!verifier.VerifyBuffer<Table>(nullptr)) return nullptr;
        return flatbuffers::GetRoot<Table>(builder_.GetBufferPointer());
    }

private:
    flatbuffers::FlatBufferBuilder builder_;
};

std::shared_ptr<EncryptedNodeData> fullNode() {
    auto node = std::make_shared<EncryptedNodeData>();
    node->setId(0x1122334455);
    node->setParent(0x66778899);
    node->setType(21);
    node->setSize(4096);
    node->setFilesystem((uint64_t(7) << 15) | 1);
    node->setCrypto(2);
    node->setExtraNumber(99);
    const Bytes fingerprint{1, 2}, nodeKey{3, 4, 5}, childKey{6}, attributes{7, 8, 9, 10}, extra{11}, handle{12, 13};
    node->setEncryptedFingerprint(fingerprint.data(), fingerprint.size());
    node->setEncryptedNodeKey(nodeKey.data(), nodeKey.size());
    node->setEncryptedChildKey(childKey.data(), childKey.size());
    node->setEncryptedAttributes(attributes.data(), attributes.size());
    node->setExtraData(extra.data(), extra.size());
    node->setPublicHandle(handle.data(), handle.size());
    // Never sent by the node builder.
    node->setNodeFlag(true);
    node->setFull(true);
    node->setCreationTime(1234);
    const Bytes metadata(10, 0x5a);
    node->setMetadata(metadata.data(), metadata.size());
    return node;
}

TEST(NodeTablesTest, FullNodeRoundTripsAndLeavesOutWhatTheServiceSets) {
    const auto node = fullNode();
    Wire wire([&](flatbuffers::FlatBufferBuilder& b) { return buildNodeMessage(b, *node); });
    const NodeMessage* message = wire.root<NodeMessage>();
    ASSERT_TRUE(message);
    for (auto field : {NodeMessage::VT_SHARED, NodeMessage::VT_METADATA, NodeMessage::VT_CTIME, NodeMessage::VT_FULL,
                       NodeMessage::VT_TOKEN}) {
        EXPECT_FALSE(asTable(message)->CheckField(field)) << "vtable offset " << field;
    }

    const auto read = getEncryptedNode(message);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->getId(), node->getId());
    EXPECT_EQ(read->getIdText(), getHandleText(node->getId()));
    EXPECT_EQ(read->getParent(), node->getParent());
    EXPECT_EQ(read->getParentText(), getHandleText(node->getParent()));
    EXPECT_EQ(read->getType(), 21);
    EXPECT_EQ(read->getSize(), 4096u);
    EXPECT_EQ(read->getFilesystem(), node->getFilesystem());
    EXPECT_EQ(read->getCrypto(), 2);
    EXPECT_EQ(read->getExtraNumber(), 99u);
    EXPECT_EQ(copyOf(read->getEncryptedFingerprint()), copyOf(node->getEncryptedFingerprint()));
    EXPECT_EQ(copyOf(read->getEncryptedNodeKey()), copyOf(node->getEncryptedNodeKey()));
    EXPECT_EQ(copyOf(read->getEncryptedChildKey()), copyOf(node->getEncryptedChildKey()));
    EXPECT_EQ(copyOf(read->getEncryptedAttributes()), copyOf(node->getEncryptedAttributes()));
    EXPECT_EQ(copyOf(read->getExtraData()), copyOf(node->getExtraData()));
    EXPECT_EQ(copyOf(read->getPublicHandle()), copyOf(node->getPublicHandle()));
    EXPECT_FALSE(read->getNodeFlag());
    EXPECT_FALSE(read->isFull());
    EXPECT_EQ(read->getCreationTime(), 0);
    EXPECT_EQ(read->getMetadataCount(), 0);
    EXPECT_FALSE(read->getUploadToken());
}

struct TypeCase {
    const char* name;
    int32_t type;
    bool fieldPresent;
};

TEST(NodeTablesTest, TypeDefaultIsMinusOneNotZero) {
    const std::vector<TypeCase> cases = {
        {"cloud drive root", 0, true},
        {"file", 20, true},
        {"no type", -1, false},
    };
    for (const auto& c : cases) {
        EncryptedNodeData node;
        node.setType(c.type);
        Wire wire([&](flatbuffers::FlatBufferBuilder& b) { return buildNodeMessage(b, node); });
        const NodeMessage* message = wire.root<NodeMessage>();
        ASSERT_TRUE(message) << c.name;
        EXPECT_EQ(asTable(message)->CheckField(NodeMessage::VT_TYPE), c.fieldPresent) << c.name;
        EXPECT_EQ(getEncryptedNode(message)->getType(), c.type) << c.name;
    }
}

TEST(NodeTablesTest, UploadTokenReplacesTheHandle) {
    EncryptedNodeData node;
    node.setId(4242);
    const Bytes token{9, 8, 7};
    node.setUploadToken(token.data(), token.size());
    Wire wire([&](flatbuffers::FlatBufferBuilder& b) { return buildNodeMessage(b, node); });
    const NodeMessage* message = wire.root<NodeMessage>();
    ASSERT_TRUE(message);
    EXPECT_FALSE(asTable(message)->CheckField(NodeMessage::VT_HANDLE));
    ASSERT_TRUE(message->token());
    EXPECT_EQ(Bytes(message->token()->begin(), message->token()->end()), token);
    const auto read = getEncryptedNode(message);
    EXPECT_EQ(read->getId(), 0u);
    EXPECT_EQ(read->getIdText(), "");
    EXPECT_FALSE(read->getUploadToken());
}

// A record without child key or attributes still sends both fields, empty, and nothing else
// that it lacks.
TEST(NodeTablesTest, BareRecordSendsEmptyChildKeyAndAttributes) {
    EncryptedNodeData node;
    Wire wire([&](flatbuffers::FlatBufferBuilder& b) { return buildNodeMessage(b, node); });
    const NodeMessage* message = wire.root<NodeMessage>();
    ASSERT_TRUE(message);
    ASSERT_TRUE(message->childkey());
    ASSERT_TRUE(message->attributes());
    EXPECT_EQ(message->childkey()->size(), 0u);
    EXPECT_EQ(message->attributes()->size(), 0u);
    for (auto field :
         {NodeMessage::VT_FINGERPRINT, NodeMessage::VT_NODEKEY, NodeMessage::VT_EXTRADATA, NodeMessage::VT_PUBHANDLE,
          NodeMessage::VT_PARENT, NodeMessage::VT_SIZE, NodeMessage::VT_FILESYSTEM, NodeMessage::VT_CRYPTO,
          NodeMessage::VT_EXTRANUMBER, NodeMessage::VT_HANDLE}) {
        EXPECT_FALSE(asTable(message)->CheckField(field)) << "vtable offset " << field;
    }
    const auto read = getEncryptedNode(message);
    ASSERT_TRUE(read->getEncryptedChildKey());
    EXPECT_TRUE(read->getEncryptedChildKey()->empty());
    EXPECT_FALSE(read->getEncryptedNodeKey());
    EXPECT_FALSE(read->getEncryptedFingerprint());
    EXPECT_FALSE(read->getExtraData());
    EXPECT_FALSE(read->getPublicHandle());
}

// Tables written here with the generated builder, as the service would send them.
TEST(NodeTablesTest, ReadsWhatOnlyTheServiceSends) {
    const Bytes metadata(25, 0x11);
    Wire wire([&](flatbuffers::FlatBufferBuilder& b) {
        const auto meta = b.CreateVector(metadata);
        NodeMessageBuilder n(b);
        n.add_ctime(7);
        n.add_shared(true);
        n.add_full(true);
        n.add_metadata(meta);
        return n.Finish();
    });
    const NodeMessage* message = wire.root<NodeMessage>();
    ASSERT_TRUE(message);
    const auto read = getEncryptedNode(message);
    EXPECT_EQ(read->getCreationTime(), 7);
    EXPECT_EQ(read->getModificationTime(), 7);
    EXPECT_EQ(read->getMetadataCount(), 2);
    EXPECT_TRUE(read->getNodeFlag());
    EXPECT_TRUE(read->isFull());
    EXPECT_EQ(read->getType(), -1);
    EXPECT_EQ(read->getId(), 0u);
    EXPECT_FALSE(read->getEncryptedChildKey());
    EXPECT_FALSE(read->getEncryptedAttributes());
}

TEST(NodeTablesTest, NodeVectorKeepsOrderAndCountsFiles) {
    test::LogCapture log;
    const std::vector<std::pair<uint64_t, int8_t>> nodes = {{1, 20}, {2, 21}, {3, 44}};
    // Carried in the node vector of a table that has one, as a response's would be.
    Wire wire([&](flatbuffers::FlatBufferBuilder& b) {
        std::vector<flatbuffers::Offset<NodeMessage>> offsets;
        for (const auto& n : nodes)
            offsets.push_back(CreateNodeMessage(b, n.first, 0, 0, 0, n.second));
        return CreateAddNodesMessage(b, 0, 0, b.CreateVector(offsets));
    });
    const AddNodesMessage* root = wire.root<AddNodesMessage>();
    ASSERT_TRUE(root);
    const NodeMessageVector* vector = root->nodes();
    ASSERT_TRUE(vector);
    const auto list = getEncryptedNodes(vector);
    ASSERT_EQ(list->size(), 3u);
    for (size_t i = 0; i < nodes.size(); ++i) {
        EXPECT_EQ((*list)[i]->getId(), nodes[i].first);
        EXPECT_EQ((*list)[i]->getType(), nodes[i].second);
    }
    EXPECT_EQ(log.count("Parsed 3 nodes (1 files and 2 folders)"), 1u);
}

TEST(NodeTablesTest, AbsentVectorsGiveEmptyLists) {
    const auto nodes = getEncryptedNodes(nullptr);
    ASSERT_TRUE(nodes);
    EXPECT_TRUE(nodes->empty());
    const auto filesystems = getFilesystemList(nullptr);
    ASSERT_TRUE(filesystems);
    EXPECT_TRUE(filesystems->empty());
    EXPECT_FALSE(getEncryptedNode(nullptr));
    EXPECT_FALSE(getFilesystemData(nullptr));
}

TEST(NodeTablesTest, FilesystemFieldsAndIdSplit) {
    const Bytes nodeKey{1, 2, 3}, filesystemKey{4, 5};
    Wire wire([&](flatbuffers::FlatBufferBuilder& b) {
        return CreateFilesystemMessage(b, (uint64_t(3) << 15) + 2, 8, 1, b.CreateVector(nodeKey),
                                       b.CreateVector(filesystemKey), 11, 12, 5, 77);
    });
    const FilesystemMessage* message = wire.root<FilesystemMessage>();
    ASSERT_TRUE(message);
    const auto filesystem = getFilesystemData(message);
    EXPECT_EQ(filesystem->getId(), (uint64_t(3) << 15) + 2);
    EXPECT_EQ(filesystem->getRootId(), 3u);
    EXPECT_EQ(filesystem->getIndex(), 2);
    EXPECT_EQ(filesystem->getType(), 8);
    EXPECT_EQ(filesystem->getCrypto(), 1);
    EXPECT_EQ(copyOf(filesystem->getNodeKey()), nodeKey);
    EXPECT_EQ(copyOf(filesystem->getFilesystemKey()), filesystemKey);
    EXPECT_EQ(filesystem->getSource(), 11);
    EXPECT_EQ(filesystem->getTarget(), 12);
    EXPECT_EQ(filesystem->getPermissions(), 5);
    EXPECT_EQ(filesystem->getCreationTime(), 77);
}

TEST(NodeTablesTest, BareFilesystemReadsDefaults) {
    Wire wire([&](flatbuffers::FlatBufferBuilder& b) { return FilesystemMessageBuilder(b).Finish(); });
    const FilesystemMessage* message = wire.root<FilesystemMessage>();
    ASSERT_TRUE(message);
    const auto filesystem = getFilesystemData(message);
    EXPECT_EQ(filesystem->getType(), -1);
    EXPECT_EQ(filesystem->getId(), 0u);
    EXPECT_FALSE(filesystem->getNodeKey());
    EXPECT_FALSE(filesystem->getFilesystemKey());
}

}  // namespace
}  // namespace corvane
