#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cloud_test_support.h"
#include "corvane/handle.h"
#include "sealed_node_fixture.h"
#include "support/log_capture.h"

namespace corvane {
namespace {

using test::Bytes;
using test::CloudHarness;
using test::gcmSeal;
using test::patternKey;
using test::wrapKey;
using test::xorBytes;

// Filesystems of every kind the key choice looks at, each with its own keys.
class CloudDecryptionTest : public ::testing::Test {
public:
    static constexpr uint64_t kPlainFs = uint64_t{100} << 15;
    static constexpr uint64_t kKeyedFs = uint64_t{101} << 15;
    static constexpr uint64_t kSecretFs = uint64_t{102} << 15;
    static constexpr uint64_t kDriveFs = uint64_t{103} << 15;
    static constexpr int64_t kDriveSource = 0x0000a1b2c3d4e5f6LL;

    static const test::RsaPair& rsa() {
        static const test::RsaPair pair = test::rsaPair();
        return pair;
    }

    void SetUp() override { start(h.fingerprintKey); }

    void start(const Bytes& fingerprintKey) {
        h.call<>([&](Cloud::Callback done) {
            h.cloud->initialize(h.masterKey, fingerprintKey, linkKey, rsa().privateKey, CloudHarness::kHandle,
                                CloudHarness::kAccountId, 0, done);
        });
        addFilesystem(kPlainFs, 0, plainNodeKey, nullptr);
        addFilesystem(kKeyedFs, 0, keyedNodeKey, &keyedFsKey);
        addFilesystem(kSecretFs, 6, secretNodeKey, &secretFsKey);
        addFilesystem(kDriveFs, 8, driveNodeKey, &driveFsKey, kDriveSource, 5);
    }

    void addFilesystem(uint64_t id, int32_t type, const Bytes& nodeKey, const Bytes* filesystemKey, int64_t source = 0,
                       int64_t target = 0) {
        std::unique_ptr<Bytes> wrapped;
        auto filesystem = test::makeFilesystem(id, type, 0, nullptr, nullptr);
        if (filesystemKey) {
            filesystem->setFilesystemKey(std::make_unique<Bytes>(wrapKey(nodeKey, *filesystemKey)));
        }
        filesystem->setSource(source);
        filesystem->setTarget(target);
        auto result = h.call<bool>([&, filesystem](Cloud::BoolCallback done) {
            h.cloud->addFilesystemUsingNodeKey(filesystem, std::make_unique<Bytes>(nodeKey), done);
        });
        ASSERT_TRUE(std::get<0>(result));
    }

    // A node as received: attributes sealed under key (half of it for scheme 2).
    std::shared_ptr<EncryptedNodeData> sealed(uint64_t id, int32_t type, uint64_t parent, uint8_t crypto,
                                              uint64_t filesystem, const Bytes& key, const char* name) {
        auto node = std::make_shared<EncryptedNodeData>();
        node->setId(id);
        node->setType(type);
        node->setParent(parent);
        node->setCrypto(crypto);
        node->setFilesystem(filesystem);
        if (name) {
            const Bytes blob = gcmSeal(key, crypto == 2 ? 16 : 32, test::attributesRecord(name));
            node->setEncryptedAttributes(blob.data(), blob.size());
        }
        return node;
    }

    static void setChildKey(EncryptedNodeData& node, const Bytes& bytes) {
        node.setEncryptedChildKey(bytes.data(), bytes.size());
    }
    static void setNodeKey(EncryptedNodeData& node, const Bytes& bytes) {
        node.setEncryptedNodeKey(bytes.data(), bytes.size());
    }

    Cloud::NodePointer parentWithKey(uint64_t id, int32_t type, uint64_t filesystem, const Bytes& key) {
        auto parent = test::makeNode(id, type, 0, "parent", filesystem);
        parent->setKey(&key);
        return parent;
    }

    Cloud::NodePointer decrypt(Cloud::NodePointer node, Cloud::NodePointer parent) {
        return std::get<0>(h.call<Cloud::NodePointer>(
            [&, node, parent](Cloud::MutableNodeCallback done) { h.cloud->decryptNode(node, parent, done); }));
    }

    CloudHarness h;
    const Bytes linkKey = patternKey(4);
    const Bytes plainNodeKey = patternKey(20);
    const Bytes keyedNodeKey = patternKey(21);
    const Bytes keyedFsKey = patternKey(22);
    const Bytes secretNodeKey = patternKey(23);
    const Bytes secretFsKey = patternKey(24);
    const Bytes driveNodeKey = patternKey(25);
    const Bytes driveFsKey = patternKey(26);
    const Bytes nodeKey = patternKey(50);
    const Bytes parentKey = patternKey(60);
};

struct KeyCase {
    std::string name;
    // Builds the received node and the parent handed to decryption (null for none).
    std::function<std::pair<std::shared_ptr<EncryptedNodeData>, Cloud::NodePointer>(CloudDecryptionTest&)> build;
    // The key the node must end with (empty: none) and its name (empty: none applied).
    std::function<Bytes(CloudDecryptionTest&)> expectedKey;
    std::string expectedName;
    std::vector<std::string> logLines;
};

using Built = std::pair<std::shared_ptr<EncryptedNodeData>, Cloud::NodePointer>;

std::vector<KeyCase> keyCases() {
    using T = CloudDecryptionTest;
    auto same = [](CloudDecryptionTest& t) { return t.nodeKey; };
    auto none = [](CloudDecryptionTest&) { return Bytes(); };
    return {
        {"Crypto0WithoutParentUsesMasterKey",
         [](CloudDecryptionTest& b) {
             auto& t = b;
             auto node = t.sealed(200, 21, 5, 0, T::kPlainFs, t.nodeKey, "folder");
             t.setChildKey(*node, wrapKey(t.h.masterKey, t.nodeKey));
             return Built(node, nullptr);
         },
         same,
         "folder",
         {"Decrypting node of type 21 inside node of type -1 inside filesystem of type 0 with crypto 0"}},
        {"Crypto0ParentKeyAsItIsWithoutFilesystemKey",
         [](CloudDecryptionTest& b) {
             auto& t = b;
             auto node = t.sealed(201, 21, 300, 0, T::kPlainFs, t.nodeKey, "child");
             t.setChildKey(*node, wrapKey(t.parentKey, t.nodeKey));
             return Built(node, t.parentWithKey(300, 21, T::kPlainFs, t.parentKey));
         },
         same,
         "child",
         {"inside node of type 21"}},
        {"Crypto0ParentKeyMixedWithFilesystemKey",
         [](CloudDecryptionTest& b) {
             auto& t = b;
             auto node = t.sealed(202, 20, 300, 0, T::kKeyedFs, t.nodeKey, "file");
             t.setChildKey(*node, wrapKey(xorBytes(t.parentKey, t.keyedFsKey), t.nodeKey));
             return Built(node, t.parentWithKey(300, 21, T::kKeyedFs, t.parentKey));
         },
         same,
         "file",
         {}},
        {"Crypto2HalfKeyAttributes",
         [](CloudDecryptionTest& b) {
             auto& t = b;
             auto node = t.sealed(203, 21, 300, 2, T::kKeyedFs, t.nodeKey, "fast");
             t.setChildKey(*node, wrapKey(xorBytes(t.parentKey, t.keyedFsKey), t.nodeKey));
             return Built(node, t.parentWithKey(300, 21, T::kKeyedFs, t.parentKey));
         },
         same,
         "fast",
         {"with crypto 2"}},
        {"Crypto1AccountKeyWhateverTheParent",
         [](CloudDecryptionTest& b) {
             auto& t = b;
             auto node = t.sealed(204, 21, 300, 1, T::kKeyedFs, t.nodeKey, "asymmetric");
             t.setChildKey(*node, test::rsaSeal(t.rsa().publicKey, t.nodeKey));
             return Built(node, t.parentWithKey(300, 21, T::kKeyedFs, t.parentKey));
         },
         same,
         "asymmetric",
         {}},
        {"SecretRootUsesFilesystemNodeKey",
         [](CloudDecryptionTest& b) {
             auto& t = b;
             auto node = t.sealed(102, 6, 0, 0, T::kSecretFs, t.nodeKey, "secret");
             t.setChildKey(*node, wrapKey(xorBytes(t.secretNodeKey, t.secretFsKey), t.nodeKey));
             return Built(node, nullptr);
         },
         same,
         "secret",
         {"Decrypting root node", "inside filesystem of type 6"}},
        {"SharedDriveRootUsesFilesystemNodeKey",
         [](CloudDecryptionTest& b) {
             auto& t = b;
             auto node = t.sealed(103, 8, 0, 0, T::kDriveFs, t.nodeKey, "drive");
             t.setChildKey(*node, wrapKey(xorBytes(t.driveNodeKey, t.driveFsKey), t.nodeKey));
             return Built(node, nullptr);
         },
         same,
         "drive",
         {}},
        {"LinkRootOpenedWithLinkKey",
         [](CloudDecryptionTest& b) {
             auto& t = b;
             auto node = t.sealed(205, 21, 0, 0, T::kPlainFs, t.linkKey, "shared");
             t.setChildKey(*node, Bytes(40, 7));  // never used
             return Built(node, nullptr);
         },
         [](CloudDecryptionTest& b) { return b.linkKey; },
         "shared",
         {"Using received link root key"}},
        {"RescueOfMissingChildKey",
         [](CloudDecryptionTest& b) {
             auto& t = b;
             auto node = t.sealed(206, 21, 300, 0, T::kPlainFs, t.nodeKey, "rescued");
             t.setNodeKey(*node, wrapKey(t.h.masterKey, t.nodeKey));
             return Built(node, t.parentWithKey(300, 21, T::kPlainFs, t.parentKey));
         },
         same,
         "rescued",
         {"[cloud] Missing node key", "[cloud] Using the master key to rescue the node"}},
        {"RescueOfChildKeyThatDoesNotOpen",
         [](CloudDecryptionTest& b) {
             auto& t = b;
             auto node = t.sealed(207, 21, 300, 0, T::kPlainFs, t.nodeKey, "rescued");
             t.setChildKey(*node, wrapKey(patternKey(99), t.nodeKey));
             t.setNodeKey(*node, wrapKey(t.h.masterKey, t.nodeKey));
             return Built(node, t.parentWithKey(300, 21, T::kPlainFs, t.parentKey));
         },
         same,
         "rescued",
         {"[cloud] Invalid node key from childKey", "[cloud] Using the master key to rescue"}},
        {"RescueInsideSecretUsesItsNodeKey",
         [](CloudDecryptionTest& b) {
             auto& t = b;
             auto node = t.sealed(208, 21, 300, 0, T::kSecretFs, t.nodeKey, "hidden");
             t.setNodeKey(*node, wrapKey(t.secretNodeKey, t.nodeKey));
             return Built(node, nullptr);
         },
         same,
         "hidden",
         {"[cloud] Using the master key to rescue the node"}},
        {"NoRescueUnderCrypto2",
         [](CloudDecryptionTest& b) {
             auto& t = b;
             auto node = t.sealed(209, 21, 300, 2, T::kPlainFs, t.nodeKey, "lost");
             t.setNodeKey(*node, wrapKey(t.h.masterKey, t.nodeKey));
             return Built(node, nullptr);
         },
         none,
         "",
         {"[cloud] Missing node key"}},
        {"FailedRescueClearsKey",
         [](CloudDecryptionTest& b) {
             auto& t = b;
             auto node = t.sealed(210, 21, 300, 0, T::kPlainFs, t.nodeKey, "lost");
             t.setChildKey(*node, wrapKey(patternKey(99), t.nodeKey));
             t.setNodeKey(*node, wrapKey(patternKey(98), t.nodeKey));
             node->setKey(&t.parentKey);
             return Built(node, t.parentWithKey(300, 21, T::kPlainFs, t.parentKey));
         },
         none,
         "",
         {"[cloud] Invalid node attributes"}},
        {"RootWithoutAttributes",
         [](CloudDecryptionTest& b) {
             auto& t = b;
             auto node = t.sealed(100, 3, 0, 0, T::kPlainFs, t.nodeKey, nullptr);
             t.setChildKey(*node, wrapKey(t.h.masterKey, t.nodeKey));
             return Built(node, nullptr);
         },
         same,
         "",
         {"No attributes to decrypt for root node"}},
        {"NonRootWithoutAttributes",
         [](CloudDecryptionTest& b) {
             auto& t = b;
             auto node = t.sealed(211, 21, 300, 0, T::kPlainFs, t.nodeKey, nullptr);
             t.setChildKey(*node, wrapKey(t.parentKey, t.nodeKey));
             return Built(node, t.parentWithKey(300, 21, T::kPlainFs, t.parentKey));
         },
         same,
         "",
         {"Node should have attributes", "[cloud] Invalid node attributes"}},
        {"AttributesUnderAnotherKey",
         [](CloudDecryptionTest& b) {
             auto& t = b;
             auto node = t.sealed(212, 21, 300, 0, T::kPlainFs, patternKey(77), "other");
             t.setChildKey(*node, wrapKey(t.parentKey, t.nodeKey));
             return Built(node, t.parentWithKey(300, 21, T::kPlainFs, t.parentKey));
         },
         same,
         "",
         {"[cloud] Invalid node attributes"}},
    };
}

TEST_F(CloudDecryptionTest, KeyChoice) {
    for (const KeyCase& c : keyCases()) {
        SCOPED_TRACE(c.name);
        test::LogCapture log;
        Built built = c.build(*this);
        auto result = decrypt(built.first, built.second);
        ASSERT_EQ(result, built.first) << "the completion hands back the node it was given";
        const Bytes expected = c.expectedKey(*this);
        if (expected.empty()) {
            EXPECT_EQ(result->getKey(), nullptr);
        } else {
            ASSERT_NE(result->getKey(), nullptr);
            EXPECT_EQ(*result->getKey(), expected);
        }
        EXPECT_EQ(result->getOwnName() ? std::string(result->getOwnName()) : std::string(), c.expectedName);
        for (const std::string& line : c.logLines) {
            EXPECT_TRUE(log.contains(line)) << line;
        }
    }
}

TEST_F(CloudDecryptionTest, SharedDriveRootTakesSourceAndTargetOfItsFilesystem) {
    auto node = sealed(103, 8, 0, 0, kDriveFs, nodeKey, "drive");
    setChildKey(*node, wrapKey(xorBytes(driveNodeKey, driveFsKey), nodeKey));
    auto result = decrypt(node, nullptr);
    EXPECT_TRUE(result->isExternal());
    ASSERT_NE(result->getExtraData(), nullptr);
    const std::string source = getHandleText(static_cast<uint64_t>(kDriveSource));
    EXPECT_EQ(std::string(result->getExtraData()->begin(), result->getExtraData()->end()), source);
    EXPECT_EQ(source.size(), 8u);
}

// An unknown filesystem record is skipped with an error line, not read.
TEST_F(CloudDecryptionTest, SharedDriveRootOfUnknownFilesystemIsSkipped) {
    test::LogCapture log;
    const uint64_t unknown = uint64_t{104} << 15;
    auto node = sealed(104, 8, 0, 0, unknown, nodeKey, "drive");
    setNodeKey(*node, wrapKey(h.masterKey, nodeKey));
    auto result = decrypt(node, nullptr);
    ASSERT_NE(result->getKey(), nullptr);
    EXPECT_STREQ(result->getOwnName(), "drive");
    EXPECT_TRUE(log.contains("[cloud] Unknown filesystem of shared drive 104"));
    EXPECT_EQ(result->getExtraData(), nullptr);
    EXPECT_FALSE(result->isExternal());
}

TEST_F(CloudDecryptionTest, BackupAndSnapshotTakeTheirParentsDevice) {
    auto device = parentWithKey(300, 46, kPlainFs, parentKey);
    device->setName("laptop");
    auto backup = sealed(301, 41, 300, 0, kPlainFs, nodeKey, "backup");
    setChildKey(*backup, wrapKey(parentKey, nodeKey));
    auto opened = decrypt(backup, device);
    EXPECT_STREQ(opened->getDevice(), "laptop");

    opened->setLocalPath("/home/me");
    const Bytes snapshotKey = patternKey(70);
    auto snapshot = sealed(302, 42, 301, 0, kPlainFs, snapshotKey, "snapshot");
    setChildKey(*snapshot, wrapKey(nodeKey, snapshotKey));
    auto openedSnapshot = decrypt(snapshot, opened);
    EXPECT_STREQ(openedSnapshot->getDevice(), "laptop");
    EXPECT_STREQ(openedSnapshot->getLocalPath(), "/home/me");
}

// A later record moves its inbox's creation time forward, in RAM and in the cache; an older
// one leaves it.
TEST_F(CloudDecryptionTest, RecordMovesInboxCreationTimeForward) {
    auto inbox = parentWithKey(310, 43, kPlainFs, parentKey);
    inbox->setParent(10);
    inbox->setCreationTime(100);
    auto later = sealed(311, 44, 310, 0, kPlainFs, nodeKey, "later");
    later->setCreationTime(200);
    setChildKey(*later, wrapKey(parentKey, nodeKey));
    decrypt(later, inbox);
    EXPECT_EQ(inbox->getCreationTime(), 200);
    auto row = h.nodeById(310);
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->getCreationTime(), 200);

    auto older = sealed(312, 44, 310, 0, kPlainFs, nodeKey, "older");
    older->setCreationTime(150);
    setChildKey(*older, wrapKey(parentKey, nodeKey));
    decrypt(older, inbox);
    EXPECT_EQ(inbox->getCreationTime(), 200);
}

struct FingerprintCase {
    std::string name;
    // The received fingerprint from the right one; null: none received.
    std::function<std::unique_ptr<Bytes>(const Bytes&)> received;
    const char* line;
};

// The check only logs; the node is decrypted whatever it finds. A short fingerprint is never
// read past its end.
TEST_F(CloudDecryptionTest, FingerprintCheck) {
    const Bytes hash{1, 2, 3, 4, 5, 6, 7, 8};
    const std::vector<FingerprintCase> cases = {
        {"Matches", [](const Bytes& right) { return std::make_unique<Bytes>(right); }, "Node fingerprint OK"},
        {"Differs",
         [](const Bytes& right) {
             auto wrong = std::make_unique<Bytes>(right);
             (*wrong)[19] ^= 1;
             return wrong;
         },
         "Invalid node fingerprint"},
        {"Shorter", [](const Bytes& right) { return std::make_unique<Bytes>(right.begin(), right.begin() + 10); },
         "Invalid node fingerprint"},
        {"Missing", [](const Bytes&) { return std::unique_ptr<Bytes>(); }, "File node without fingerprint"},
    };
    for (const FingerprintCase& c : cases) {
        SCOPED_TRACE(c.name);
        test::LogCapture log;
        auto node = std::make_shared<EncryptedNodeData>();
        node->setId(400);
        node->setType(20);
        node->setParent(300);
        node->setFilesystem(kPlainFs);
        node->setSize(8);
        const Bytes blob = gcmSeal(nodeKey, 32, test::attributesRecord("file", &hash));
        node->setEncryptedAttributes(blob.data(), blob.size());
        setChildKey(*node, wrapKey(parentKey, nodeKey));
        auto received = c.received(test::fingerprintOf(h.fingerprintKey, hash));
        if (received) {
            node->setEncryptedFingerprint(received->data(), received->size());
        }
        auto result = decrypt(node, parentWithKey(300, 21, kPlainFs, parentKey));
        EXPECT_STREQ(result->getOwnName(), "file");
        EXPECT_TRUE(log.contains(c.line));
        EXPECT_EQ(log.count("ode fingerprint"), c.line[0] == 'F' ? 0u : 1u);
    }
}

// A fingerprint key the scheme rejects delivers no digest: that is a mismatch, not a read of
// a missing buffer.
TEST_F(CloudDecryptionTest, FingerprintWithoutDigestIsInvalid) {
    start(patternKey(3, 16));
    test::LogCapture log;
    const Bytes hash{1, 2, 3};
    auto node = sealed(401, 20, 300, 0, kPlainFs, nodeKey, nullptr);
    node->setSize(3);
    const Bytes blob = gcmSeal(nodeKey, 32, test::attributesRecord("file", &hash));
    node->setEncryptedAttributes(blob.data(), blob.size());
    setChildKey(*node, wrapKey(parentKey, nodeKey));
    const Bytes received(20, 9);
    node->setEncryptedFingerprint(received.data(), received.size());
    auto result = decrypt(node, parentWithKey(300, 21, kPlainFs, parentKey));
    EXPECT_STREQ(result->getOwnName(), "file");
    EXPECT_TRUE(log.contains("Invalid node fingerprint"));
}

TEST_F(CloudDecryptionTest, PublicNodeOpensWithTheGivenKeyWithoutDerivation) {
    const Bytes linkShareKey = patternKey(80);
    auto node = sealed(500, 21, 501, 0, kKeyedFs, nodeKey, "public");
    setChildKey(*node, wrapKey(linkShareKey, nodeKey));
    auto opened = std::get<0>(h.call<Cloud::NodePointer>(
        [&](Cloud::MutableNodeCallback done) { h.cloud->decryptPublicNode(node, linkShareKey, done); }));
    ASSERT_NE(opened->getKey(), nullptr);
    EXPECT_EQ(*opened->getKey(), nodeKey);
    EXPECT_STREQ(opened->getOwnName(), "public");

    test::LogCapture log;
    auto wrong = sealed(502, 21, 501, 0, kKeyedFs, nodeKey, "public");
    setChildKey(*wrong, wrapKey(patternKey(81), nodeKey));
    auto closed = std::get<0>(h.call<Cloud::NodePointer>(
        [&](Cloud::MutableNodeCallback done) { h.cloud->decryptPublicNode(wrong, linkShareKey, done); }));
    EXPECT_EQ(closed->getKey(), nullptr);
    EXPECT_TRUE(log.contains("[cloud] Invalid node key"));
}

}  // namespace
}  // namespace corvane
