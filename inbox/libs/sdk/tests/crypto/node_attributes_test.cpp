#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <flatbuffers/flatbuffers.h>
#include <gtest/gtest.h>

#include "crypto/node_attributes.h"
#include "database/mutable_node_data.h"
#include "node_attributes_generated.h"
#include "support/log_capture.h"

namespace corvane {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes copyOf(const ByteArray& array) {
    return Bytes(array.data(), array.data() + array.size());
}

std::string text(const char* value) {
    return value ? value : "<null>";
}

std::string hex(const ByteVector* bytes) {
    if (!bytes) {
        return "<null>";
    }
    std::ostringstream out;
    out << "[";
    for (uint8_t b : *bytes) {
        out << static_cast<int>(b) << ",";
    }
    out << "]";
    return out.str();
}

// Everything an attributes record can carry, in one comparable text.
std::string describe(const NodeData& node) {
    std::ostringstream out;
    out << "name=" << text(node.getOwnName()) << " mtime=" << node.getModificationTime()
        << " shash=" << hex(node.getSparseHash()) << " fhash=" << hex(node.getFullHash()) << " size=" << node.getSize()
        << " stime=" << node.getStartTime() << " ftime=" << node.getFinishTime() << " cron=" << text(node.getCron())
        << " lpath=" << text(node.getLocalPath()) << " status=" << node.getStatus() << " max=" << node.getStatusFlags()
        << " folders=" << node.getFolderCount() << " files=" << node.getFileCount()
        << " errors=" << node.getTransferErrorCount() << " inboxMessage=" << text(node.getInboxDescription())
        << " inboxKey=" << hex(node.getInboxKey()) << " contact=" << text(node.getContact())
        << " target=" << text(node.getInbox()) << " recordMessage=" << text(node.getRecordMessage());
    return out.str();
}

std::shared_ptr<MutableNodeData> nodeOfType(int32_t type) {
    auto node = std::make_shared<MutableNodeData>();
    node->setType(type);
    return node;
}

template <typename T>
bool stored(const T* table, flatbuffers::voffset_t field) {
    return reinterpret_cast<const flatbuffers::Table*>(table)->CheckField(field);
}

const NodeAttributes* readRecord(const Bytes& record) {
    flatbuffers::Verifier verifier(record.data(), record.size());
    EXPECT_TRUE(verifier.VerifyBuffer<NodeAttributes>(nullptr));
    return flatbuffers::GetRoot<NodeAttributes>(record.data());
}

struct RoundTripCase {
    std::string label;
    int32_t type;
    std::function<void(MutableNodeData&)> fill;
    ExtendedAttributes member;
};

class NodeAttributesRoundTrip : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(NodeAttributesRoundTrip, BuildsTheTypesMemberAndAppliesBack) {
    const RoundTripCase& c = GetParam();
    auto source = nodeOfType(c.type);
    c.fill(*source);

    Bytes record = copyOf(*buildNodeAttributes(*source));
    const NodeAttributes* attributes = readRecord(record);
    ASSERT_NE(attributes, nullptr);
    EXPECT_EQ(attributes->extended_type(), c.member);
    EXPECT_EQ(attributes->extended() != nullptr, c.member != ExtendedAttributes::NONE);
    ASSERT_NE(attributes->name(), nullptr);
    EXPECT_STREQ(attributes->name()->c_str(), source->getName());

    auto target = nodeOfType(c.type);
    EXPECT_TRUE(applyNodeAttributes(CryptoBytes(new Bytes(record)), *target));
    // A node without an own name is written under its type's default name and reads back with it.
    MutableNodeData expected(*source);
    expected.setName(source->getName());
    EXPECT_EQ(describe(*target), describe(expected));
}

const Bytes kSparse = {1, 2, 3, 4, 5};
const Bytes kFull = {9, 8, 7};

INSTANTIATE_TEST_SUITE_P(
    EachNodeType, NodeAttributesRoundTrip,
    ::testing::Values(RoundTripCase{"folder", 21, [](MutableNodeData& n) { n.setName("Folder"); },
                                    ExtendedAttributes::NONE},
                      RoundTripCase{"unnamedRoot", 0, [](MutableNodeData&) {}, ExtendedAttributes::NONE},
                      RoundTripCase{"file", 20,
                                    [](MutableNodeData& n) {
                                        n.setName("report.pdf");
                                        n.setModificationTime(1700000000123);
                                        n.setSparseHash(&kSparse);
                                        n.setFullHash(&kFull);
                                    },
                                    ExtendedAttributes::NONE},
                      RoundTripCase{"fileWithEmptyHash", 20,
                                    [](MutableNodeData& n) {
                                        n.setName("empty");
                                        n.setSparseHash(kSparse.data(), 0);
                                    },
                                    ExtendedAttributes::NONE},
                      RoundTripCase{"backup", 41,
                                    [](MutableNodeData& n) {
                                        n.setName("Nightly");
                                        n.setStartTime(-5);
                                        n.setCronExpression("0 3 * * *");
                                        n.setLocalPath("C:\\Users\\ana");
                                        n.setMaxSnapshots(65535);
                                        n.setStatus(3);
                                    },
                                    ExtendedAttributes::BackupAttributes},
                      RoundTripCase{"snapshot", 42,
                                    [](MutableNodeData& n) {
                                        n.setName("2024-01-01");
                                        n.setStartTime(100);
                                        n.setFinishTime(200);
                                        n.setCronExpression("*/5 * * * *");
                                        n.setLocalPath("/home/ana");
                                        n.setStatus(2);
                                        n.setFolderCount(300);
                                        n.setFileCount(uint64_t(1) << 40);
                                        n.setTransferErrorCount(7);
                                        n.setSize(123456789012345);
                                    },
                                    ExtendedAttributes::SnapshotAttributes},
                      RoundTripCase{"inbox", 43,
                                    [](MutableNodeData& n) {
                                        n.setName("Invoices");
                                        n.setInboxMessage("Send your invoices here");
                                    },
                                    ExtendedAttributes::InboxAttributes},
                      RoundTripCase{"record", 44,
                                    [](MutableNodeData& n) {
                                        n.setName("Subject line");
                                        n.setContactInfo("ana@example.com");
                                        n.setTarget("inbox-link");
                                        n.setRecordMessage("Hello\nworld");
                                    },
                                    ExtendedAttributes::RecordAttributes},
                      RoundTripCase{"recordWithoutDetails", 44, [](MutableNodeData& n) { n.setName("Bare"); },
                                    ExtendedAttributes::RecordAttributes},
                      RoundTripCase{"contact", 46, [](MutableNodeData& n) { n.setName("Ana"); },
                                    ExtendedAttributes::ContactAttributes},
                      RoundTripCase{"outbox", 47,
                                    [](MutableNodeData& n) {
                                        n.setName("To Ana");
                                        n.setInboxKey(Bytes(32, 0xAB));
                                    },
                                    ExtendedAttributes::OutboxAttributes}),
    [](const ::testing::TestParamInfo<RoundTripCase>& info) { return info.param.label; });

TEST(NodeAttributesTest, FolderRecordHoldsOnlyItsName) {
    auto folder = nodeOfType(21);
    folder->setName("Docs");
    Bytes record = copyOf(*buildNodeAttributes(*folder));
    const NodeAttributes* attributes = readRecord(record);
    EXPECT_STREQ(attributes->name()->c_str(), "Docs");
    EXPECT_FALSE(stored(attributes, NodeAttributes::VT_MODIFICATIONTIME));
    EXPECT_EQ(attributes->sparseHash(), nullptr);
    EXPECT_EQ(attributes->fullHash(), nullptr);
    EXPECT_EQ(attributes->extended_type(), ExtendedAttributes::NONE);
}

TEST(NodeAttributesTest, ZeroBackupScalarsAreOmittedAndStillResetTheNode) {
    auto backup = nodeOfType(41);
    backup->setName("Backup");
    backup->setMaxSnapshots(0);
    backup->setStatus(0);
    Bytes record = copyOf(*buildNodeAttributes(*backup));
    const BackupAttributes* written = readRecord(record)->extended_as_BackupAttributes();
    ASSERT_NE(written, nullptr);
    EXPECT_FALSE(stored(written, BackupAttributes::VT_MAXSNAPSHOTS));
    EXPECT_FALSE(stored(written, BackupAttributes::VT_STATUS));

    auto target = nodeOfType(41);
    target->setMaxSnapshots(7);
    target->setStatus(1);
    test::LogCapture log;
    EXPECT_TRUE(applyNodeAttributes(CryptoBytes(new Bytes(record)), *target));
    EXPECT_EQ(target->getStatusFlags(), 0);
    EXPECT_EQ(target->getStatus(), 0);
    EXPECT_TRUE(log.contains("Backup max snapshots: 0"));
    EXPECT_TRUE(log.contains("Backup status: 0"));
}

// Records written by another client, built here with a plain FlatBuffers builder.
Bytes foreignRecord(uint8_t unionType, bool withMember, bool withName = true) {
    flatbuffers::FlatBufferBuilder builder;
    auto name = builder.CreateString("Foreign");
    Bytes hash = {4, 4, 4};
    auto fullHash = builder.CreateVector(hash);
    flatbuffers::Offset<void> member;
    if (withMember) {
        flatbuffers::uoffset_t start = builder.StartTable();
        member = flatbuffers::Offset<void>(builder.EndTable(start));
    }
    flatbuffers::uoffset_t start = builder.StartTable();
    if (withName) {
        builder.AddOffset(NodeAttributes::VT_NAME, name);
    }
    builder.AddOffset(NodeAttributes::VT_FULLHASH, fullHash);
    builder.AddElement<int64_t>(NodeAttributes::VT_MODIFICATIONTIME, 77, 0);
    builder.AddElement<uint8_t>(NodeAttributes::VT_EXTENDED_TYPE, unionType, 0);
    if (withMember) {
        builder.AddOffset(NodeAttributes::VT_EXTENDED, member);
    }
    builder.Finish(flatbuffers::Offset<NodeAttributes>(builder.EndTable(start)));
    return Bytes(builder.GetBufferPointer(), builder.GetBufferPointer() + builder.GetSize());
}

TEST(NodeAttributesTest, MembersNeverWrittenOrUnknownChangeOnlyTheCommonFields) {
    // File (1) and contact (8) are empty tables; 200 is a member this client does not know.
    for (uint8_t code : {uint8_t(1), uint8_t(2), uint8_t(3), uint8_t(8), uint8_t(200)}) {
        SCOPED_TRACE(static_cast<int>(code));
        auto node = nodeOfType(44);
        node->setName("Old");
        node->setRecordMessage("kept");
        EXPECT_TRUE(applyNodeAttributes(CryptoBytes(new Bytes(foreignRecord(code, true))), *node));
        EXPECT_STREQ(node->getOwnName(), "Foreign");
        EXPECT_EQ(node->getModificationTime(), 77);
        EXPECT_EQ(hex(node->getFullHash()), "[4,4,4,]");
        EXPECT_STREQ(node->getRecordMessage(), "kept");
    }
}

TEST(NodeAttributesTest, MemberCodeWithoutItsTableIsIgnored) {
    auto node = nodeOfType(41);
    node->setMaxSnapshots(9);
    EXPECT_TRUE(applyNodeAttributes(CryptoBytes(new Bytes(foreignRecord(4, false))), *node));
    EXPECT_EQ(node->getStatusFlags(), 9);
}

TEST(NodeAttributesTest, RecordWithoutNameKeepsTheNodesName) {
    auto node = nodeOfType(21);
    node->setName("Mine");
    test::LogCapture log;
    EXPECT_TRUE(applyNodeAttributes(CryptoBytes(new Bytes(foreignRecord(0, false, false))), *node));
    EXPECT_STREQ(node->getOwnName(), "Mine");
    EXPECT_EQ(node->getModificationTime(), 77);
    EXPECT_TRUE(log.contains("Missing node name"));
}

TEST(NodeAttributesTest, UnalignedPlaintextIsCopiedAndApplied) {
    auto source = nodeOfType(43);
    source->setName("Inbox");
    source->setModificationTime(5);
    source->setInboxMessage("hello");
    Bytes record = copyOf(*buildNodeAttributes(*source));

    // Eight-byte aligned storage, record placed at an address ending in 4.
    std::vector<uint64_t> storage(record.size() / 8 + 2);
    uint8_t* shifted = reinterpret_cast<uint8_t*>(storage.data()) + 4;
    std::memcpy(shifted, record.data(), record.size());

    auto target = nodeOfType(43);
    test::LogCapture log;
    EXPECT_TRUE(applyNodeAttributes(shifted, record.size(), *target));
    EXPECT_TRUE(log.contains("Unaligned attribute data"));
    EXPECT_STREQ(target->getOwnName(), "Inbox");
    EXPECT_STREQ(target->getInboxDescription(), "hello");
    EXPECT_EQ(target->getModificationTime(), 5);
}

std::shared_ptr<MutableNodeData> populatedNode() {
    auto node = nodeOfType(42);
    node->setName("Before");
    node->setModificationTime(11);
    node->setFullHash(&kFull);
    node->setFolderCount(3);
    node->setCronExpression("* * * * *");
    return node;
}

TEST(NodeAttributesTest, MissingPlaintextLeavesTheNodeAlone) {
    auto node = populatedNode();
    std::string before = describe(*node);
    test::LogCapture log;
    EXPECT_FALSE(applyNodeAttributes(CryptoBytes(), *node));
    EXPECT_TRUE(log.contains("Unable to decrypt node attributes"));
    EXPECT_EQ(describe(*node), before);
}

TEST(NodeAttributesTest, BytesThatAreNoRecordAreRefusedAndLeaveTheNodeAlone) {
    auto source = nodeOfType(42);
    source->setName("Snapshot name");
    source->setCronExpression("0 0 * * *");
    source->setFolderCount(4);
    Bytes valid = copyOf(*buildNodeAttributes(*source));

    std::mt19937 random(1234);
    std::vector<Bytes> refused = {Bytes(), Bytes(3, 0), Bytes(4, 0xFF), Bytes(64, 0xFF)};
    for (size_t size : {8, 16, 100, 1000}) {
        Bytes noise(size);
        for (uint8_t& b : noise) {
            b = static_cast<uint8_t>(random());
        }
        refused.push_back(noise);
    }
    // The name is written first, so it ends the buffer behind at most 3 bytes of padding: every
    // cut of 4 bytes or more loses data that an offset points to.
    for (size_t size = 0; size + 4 <= valid.size(); ++size) {
        refused.emplace_back(valid.begin(), valid.begin() + size);
    }
    // A root offset that points past the end.
    Bytes farRoot = valid;
    farRoot[0] = 0xF0;
    farRoot[1] = 0xFF;
    refused.push_back(farRoot);

    for (size_t i = 0; i < refused.size(); ++i) {
        SCOPED_TRACE(i);
        auto node = populatedNode();
        std::string before = describe(*node);
        test::LogCapture log;
        EXPECT_FALSE(applyNodeAttributes(CryptoBytes(new Bytes(refused[i])), *node));
        EXPECT_TRUE(log.contains("Invalid flatbuffer node attributes"));
        EXPECT_EQ(describe(*node), before);
    }
}

TEST(NodeAttributesTest, DamagedRecordsNeverReadOutsideTheBuffer) {
    auto source = nodeOfType(44);
    source->setName("Damaged");
    source->setSparseHash(&kSparse);
    source->setContactInfo("c");
    source->setTarget("t");
    source->setRecordMessage("m");
    Bytes valid = copyOf(*buildNodeAttributes(*source));

    // Some flips still give a valid record; the others must be refused without touching the
    // node. Under the address sanitizer any read outside the buffer fails the test.
    for (size_t i = 0; i < valid.size(); ++i) {
        for (uint8_t flip : {uint8_t(0x01), uint8_t(0x80), uint8_t(0xFF)}) {
            Bytes damaged = valid;
            damaged[i] ^= flip;
            auto node = populatedNode();
            std::string before = describe(*node);
            if (!applyNodeAttributes(CryptoBytes(new Bytes(damaged)), *node)) {
                EXPECT_EQ(describe(*node), before) << "byte " << i;
            }
        }
    }
}

}  // namespace
}  // namespace corvane
