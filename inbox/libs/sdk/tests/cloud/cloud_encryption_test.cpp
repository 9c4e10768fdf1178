#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cloud_test_support.h"
#include "sealed_node_fixture.h"
#include "support/log_capture.h"

namespace corvane {
namespace {

using test::Bytes;
using test::CloudHarness;
using test::makeNode;
using test::patternKey;
using test::unwrapKey;
using test::wrapKey;
using test::xorBytes;

// Results are checked twice: opened with OpenSSL's key unwrap and Crypto++'s GCM directly,
// and round-tripped through the model's own decryption.
class CloudEncryptionTest : public ::testing::Test {
protected:
    static constexpr uint64_t kPlainFs = uint64_t{10} << 15;
    static constexpr uint64_t kKeyedFs = uint64_t{101} << 15;
    static constexpr uint64_t kSecretFs = uint64_t{102} << 15;
    static constexpr uint64_t kDriveFs = uint64_t{103} << 15;

    void SetUp() override { start(h.fingerprintKey); }

    void start(const Bytes& fingerprintKey) {
        h.call<>([&](Cloud::Callback done) {
            h.cloud->initialize(h.masterKey, fingerprintKey, Bytes(), h.accountKey, CloudHarness::kHandle,
                                CloudHarness::kAccountId, 0, done);
        });
        addFilesystem(kPlainFs, 0, patternKey(20), nullptr);
        addFilesystem(kKeyedFs, 0, patternKey(21), &keyedFsKey);
        addFilesystem(kSecretFs, 6, secretNodeKey, nullptr);
        addFilesystem(kDriveFs, 8, driveNodeKey, nullptr);
        // The cloud drive root, held in RAM with its key.
        auto root = makeNode(10, 0, 0, nullptr, kPlainFs);
        root->setKey(&rootKey);
        update(root);
    }

    void addFilesystem(uint64_t id, int32_t type, const Bytes& nodeKey, const Bytes* filesystemKey) {
        auto filesystem = test::makeFilesystem(id, type, 0, nullptr, nullptr);
        if (filesystemKey) {
            filesystem->setFilesystemKey(std::make_unique<Bytes>(wrapKey(nodeKey, *filesystemKey)));
        }
        ASSERT_TRUE(std::get<0>(h.call<bool>([&, filesystem](Cloud::BoolCallback done) {
            h.cloud->addFilesystemUsingNodeKey(filesystem, std::make_unique<Bytes>(nodeKey), done);
        })));
    }

    Cloud::NodePointer update(Cloud::NodePointer node) {
        return std::get<0>(h.call<Cloud::NodePointer>(
            [&, node](Cloud::MutableNodeCallback done) { h.cloud->updateNode(node, done, true); }));
    }

    Cloud::EncryptedNodePointer encrypt(Cloud::NodePointer node, Cloud::NodePointer parent, bool renew) {
        return std::get<0>(
            h.call<Cloud::EncryptedNodePointer>([&, node, parent, renew](Cloud::EncryptedNodeCallback done) {
                h.cloud->encryptNodeForParent(node, parent, renew, done);
            }));
    }

    static Cloud::NodePointer withKey(Cloud::NodePointer node, const Bytes& key) {
        node->setKey(&key);
        return node;
    }

    // The name sealed in the result's attributes, opened with the given key.
    static std::string sealedName(const EncryptedNodeData& node, const Bytes& key) {
        Bytes record;
        if (!node.getEncryptedAttributes() ||
            !test::gcmOpen(key, node.getCrypto() == 2 ? 16 : 32, *node.getEncryptedAttributes(), &record)) {
            return std::string();
        }
        return test::recordName(record);
    }

    // The result as the service would send it back: sealed buffers without the clear key.
    Cloud::NodePointer decryptReceived(const Cloud::EncryptedNodePointer& sent, Cloud::NodePointer parent) {
        auto received = std::make_shared<EncryptedNodeData>();
        received->setId(sent->getId());
        received->setType(sent->getType());
        received->setParent(sent->getParent());
        received->setCrypto(sent->getCrypto());
        received->setFilesystem(sent->getFilesystem());
        auto copy = [](const Bytes* from, auto set) {
            if (from) {
                set(from->data(), from->size());
            }
        };
        copy(sent->getEncryptedAttributes(),
             [&](const uint8_t* d, size_t s) { received->setEncryptedAttributes(d, s); });
        copy(sent->getEncryptedChildKey(), [&](const uint8_t* d, size_t s) { received->setEncryptedChildKey(d, s); });
        copy(sent->getEncryptedNodeKey(), [&](const uint8_t* d, size_t s) { received->setEncryptedNodeKey(d, s); });
        return std::get<0>(h.call<Cloud::NodePointer>(
            [&, received, parent](Cloud::MutableNodeCallback done) { h.cloud->decryptNode(received, parent, done); }));
    }

    CloudHarness h;
    const Bytes rootKey = patternKey(30);
    const Bytes keyedFsKey = patternKey(22);
    const Bytes secretNodeKey = patternKey(23);
    const Bytes driveNodeKey = patternKey(25);
    const Bytes nodeKey = patternKey(50);
    const Bytes parentKey = patternKey(60);
};

TEST_F(CloudEncryptionTest, FolderForParentRoundTrips) {
    auto parent = withKey(makeNode(300, 21, 10, "parent", kKeyedFs), parentKey);
    auto node = withKey(makeNode(301, 21, 300, "folder"), nodeKey);
    auto sealed = encrypt(node, parent, false);
    ASSERT_NE(sealed, nullptr);
    ASSERT_NE(sealed->getKey(), nullptr);
    EXPECT_EQ(*sealed->getKey(), nodeKey);
    EXPECT_EQ(sealed->getFilesystem(), kKeyedFs);
    EXPECT_EQ(unwrapKey(h.masterKey, *sealed->getEncryptedNodeKey()), nodeKey);
    EXPECT_EQ(unwrapKey(xorBytes(parentKey, keyedFsKey), *sealed->getEncryptedChildKey()), nodeKey);
    EXPECT_EQ(sealedName(*sealed, nodeKey), "folder");
    EXPECT_EQ(sealed->getEncryptedFingerprint(), nullptr);

    auto opened = decryptReceived(sealed, parent);
    ASSERT_NE(opened->getKey(), nullptr);
    EXPECT_EQ(*opened->getKey(), nodeKey);
    EXPECT_STREQ(opened->getOwnName(), "folder");
}

// With a fingerprint key a renewed folder gets a new key and a file keeps its own; a node
// without key always gets one.
TEST_F(CloudEncryptionTest, RenewReplacesFolderKeysOnly) {
    auto parent = withKey(makeNode(300, 21, 10, "parent", kPlainFs), parentKey);
    auto folder = encrypt(withKey(makeNode(301, 21, 300, "folder"), nodeKey), parent, true);
    ASSERT_NE(folder, nullptr);
    EXPECT_NE(*folder->getKey(), nodeKey);
    EXPECT_EQ(unwrapKey(parentKey, *folder->getEncryptedChildKey()), *folder->getKey());

    const Bytes hash{9, 8, 7};
    auto file = withKey(makeNode(302, 20, 300, "file"), nodeKey);
    file->setSize(3);
    file->setSparseHash(&hash);
    auto sealedFile = encrypt(file, parent, true);
    ASSERT_NE(sealedFile, nullptr);
    EXPECT_EQ(*sealedFile->getKey(), nodeKey);
    ASSERT_NE(sealedFile->getEncryptedFingerprint(), nullptr);
    EXPECT_EQ(*sealedFile->getEncryptedFingerprint(), test::fingerprintOf(h.fingerprintKey, hash));

    auto keyless = encrypt(makeNode(303, 21, 300, "new"), parent, false);
    ASSERT_NE(keyless, nullptr);
    ASSERT_NE(keyless->getKey(), nullptr);
    EXPECT_EQ(keyless->getKey()->size(), 32u);
}

TEST_F(CloudEncryptionTest, FailuresReportNull) {
    test::LogCapture log;
    auto parent = withKey(makeNode(300, 21, 10, "parent", kPlainFs), parentKey);
    auto file = withKey(makeNode(302, 20, 300, "file"), nodeKey);
    file->setSize(3);
    EXPECT_EQ(encrypt(file, parent, false), nullptr);
    EXPECT_TRUE(log.contains("File node without fingerprint"));

    EXPECT_EQ(encrypt(withKey(makeNode(304, 21, 999, "orphan"), nodeKey), nullptr, false), nullptr);
    EXPECT_TRUE(log.contains("Unable to find parent node"));
}

// A shared drive's files carry no fingerprint; their node key is sealed under the drive's.
TEST_F(CloudEncryptionTest, SharedDriveNodeHasNoFingerprint) {
    auto drive = withKey(makeNode(103, 8, 0, "drive", kDriveFs), parentKey);
    const Bytes hash{1, 2, 3};
    auto file = withKey(makeNode(310, 20, 103, "file"), nodeKey);
    file->setSize(3);
    file->setSparseHash(&hash);
    auto sealed = encrypt(file, drive, false);
    ASSERT_NE(sealed, nullptr);
    EXPECT_EQ(sealed->getEncryptedFingerprint(), nullptr);
    EXPECT_EQ(sealed->getFilesystem(), kDriveFs);
    EXPECT_EQ(unwrapKey(driveNodeKey, *sealed->getEncryptedNodeKey()), nodeKey);
    EXPECT_EQ(unwrapKey(parentKey, *sealed->getEncryptedChildKey()), nodeKey);
}

// A root stops after its node key: sealed under its filesystem's node key, no child key.
TEST_F(CloudEncryptionTest, SecretRootStopsAfterNodeKey) {
    auto sealed = encrypt(withKey(makeNode(102, 6, 0, "secret", kSecretFs), nodeKey), nullptr, false);
    ASSERT_NE(sealed, nullptr);
    EXPECT_EQ(sealed->getEncryptedChildKey(), nullptr);
    EXPECT_EQ(sealed->getFilesystem(), 0u);
    EXPECT_EQ(unwrapKey(secretNodeKey, *sealed->getEncryptedNodeKey()), nodeKey);
    EXPECT_EQ(sealedName(*sealed, nodeKey), "secret");
}

// Without a fingerprint key (a link session): no node key, no fingerprint, a child key under
// the parent's key and the filesystem id; renew is ignored.
TEST_F(CloudEncryptionTest, WithoutFingerprintKeySealsAsForALink) {
    start(Bytes());
    auto parent = withKey(makeNode(300, 21, 10, "parent", kPlainFs), parentKey);
    auto folder = withKey(makeNode(320, 21, 300, "folder"), nodeKey);
    auto sealed = encrypt(folder, parent, true);
    ASSERT_NE(sealed, nullptr);
    EXPECT_EQ(*sealed->getKey(), nodeKey);
    EXPECT_EQ(sealed->getEncryptedNodeKey(), nullptr);
    EXPECT_EQ(sealed->getEncryptedFingerprint(), nullptr);
    EXPECT_EQ(sealed->getFilesystem(), kPlainFs);
    EXPECT_EQ(unwrapKey(parentKey, *sealed->getEncryptedChildKey()), nodeKey);
    EXPECT_EQ(sealedName(*sealed, nodeKey), "folder");
}

TEST_F(CloudEncryptionTest, PublicNodeAndChildKey) {
    const Bytes cipherKey = patternKey(70);
    const Bytes filesystemKey = patternKey(71);
    auto node = withKey(makeNode(330, 21, 300, "public"), nodeKey);
    auto sealed = std::get<0>(h.call<Cloud::EncryptedNodePointer>(
        [&](Cloud::EncryptedNodeCallback done) { h.cloud->encryptPublicNode(node, cipherKey, &filesystemKey, done); }));
    ASSERT_NE(sealed, nullptr);
    EXPECT_EQ(unwrapKey(xorBytes(cipherKey, filesystemKey), *sealed->getEncryptedChildKey()), nodeKey);
    EXPECT_EQ(sealed->getEncryptedNodeKey(), nullptr);
    EXPECT_EQ(sealedName(*sealed, nodeKey), "public");
    auto opened = std::get<0>(h.call<Cloud::NodePointer>([&](Cloud::MutableNodeCallback done) {
        auto received = std::make_shared<EncryptedNodeData>();
        received->setId(330);
        received->setType(21);
        received->setEncryptedChildKey(sealed->getEncryptedChildKey()->data(), 40);
        received->setEncryptedAttributes(sealed->getEncryptedAttributes()->data(),
                                         sealed->getEncryptedAttributes()->size());
        h.cloud->decryptPublicNode(received, xorBytes(cipherKey, filesystemKey), done);
    }));
    EXPECT_STREQ(opened->getOwnName(), "public");

    auto parent = withKey(makeNode(300, 21, 10, "parent", kKeyedFs), parentKey);
    auto result = h.call<uint64_t, std::shared_ptr<Bytes>>(
        [&](Cloud::ChildKeyCallback done) { h.cloud->encryptChildKey(node, parent, done); });
    EXPECT_EQ(std::get<0>(result), kKeyedFs);
    ASSERT_NE(std::get<1>(result), nullptr);
    EXPECT_EQ(unwrapKey(xorBytes(parentKey, keyedFsKey), *std::get<1>(result)), nodeKey);
}

// A copied folder loses its key and gets a new one; its files keep theirs; every child is
// sealed under its parent's result, in list order.
TEST_F(CloudEncryptionTest, CopiedTreeEncryptsAsAList) {
    auto folder = withKey(makeNode(11, 21, 10, "a", kPlainFs), nodeKey);
    ASSERT_NE(h.children(10), nullptr);
    update(folder);
    const Bytes fileKey = patternKey(51);
    const Bytes hash{4, 4};
    auto file = withKey(makeNode(12, 20, 11, "b", kPlainFs), fileKey);
    file->setSize(2);
    file->setSparseHash(&hash);
    update(file);
    update(withKey(makeNode(13, 21, 11, "c", kPlainFs), patternKey(52)));
    h.children(11);

    auto copied = std::get<0>(
        h.call<Cloud::NodeListPointer>([&](Cloud::NodeListCallback done) { h.cloud->copyNode(11, 10, done); }));
    ASSERT_NE(copied, nullptr);
    ASSERT_EQ(test::idsOf(copied), (std::vector<uint64_t>{11, 12, 13}));
    EXPECT_EQ(copied->front()->getKey(), nullptr);
    EXPECT_NE(copied->front(), folder);

    auto sealed = std::get<0>(h.call<std::shared_ptr<Cloud::EncryptedNodeList>>(
        [&](Cloud::EncryptedNodeListCallback done) { h.cloud->encryptNodeList(copied, done); }));
    ASSERT_NE(sealed, nullptr);
    ASSERT_EQ(sealed->size(), 3u);
    const Bytes& top = *(*sealed)[0]->getKey();
    EXPECT_EQ(unwrapKey(rootKey, *(*sealed)[0]->getEncryptedChildKey()), top);
    EXPECT_EQ(*(*sealed)[1]->getKey(), fileKey);
    EXPECT_EQ(unwrapKey(top, *(*sealed)[1]->getEncryptedChildKey()), fileKey);
    EXPECT_NE(*(*sealed)[2]->getKey(), patternKey(52));
    EXPECT_EQ(unwrapKey(top, *(*sealed)[2]->getEncryptedChildKey()), *(*sealed)[2]->getKey());
    EXPECT_EQ(sealedName(*(*sealed)[2], *(*sealed)[2]->getKey()), "c");
}

TEST_F(CloudEncryptionTest, ShareLosesTheKeyOfEvenAFile) {
    h.children(10);
    const Bytes fileKey = patternKey(51);
    update(withKey(makeNode(16, 20, 10, "f", kPlainFs), fileKey));
    auto shared = std::get<0>(
        h.call<Cloud::NodeListPointer>([&](Cloud::NodeListCallback done) { h.cloud->shareNodeTree(16, 500, done); }));
    ASSERT_NE(shared, nullptr);
    ASSERT_EQ(shared->size(), 1u);
    EXPECT_EQ(shared->front()->getType(), 45);
    EXPECT_EQ(shared->front()->getParent(), 500u);
    EXPECT_EQ(shared->front()->getKey(), nullptr);
    auto copied = std::get<0>(
        h.call<Cloud::NodeListPointer>([&](Cloud::NodeListCallback done) { h.cloud->copyNode(16, 500, done); }));
    ASSERT_NE(copied, nullptr);
    EXPECT_EQ(copied->front()->getType(), 20);
    ASSERT_NE(copied->front()->getKey(), nullptr);
    EXPECT_EQ(*copied->front()->getKey(), fileKey);
    auto missing = std::get<0>(
        h.call<Cloud::NodeListPointer>([&](Cloud::NodeListCallback done) { h.cloud->copyNode(12345, 500, done); }));
    EXPECT_EQ(missing, nullptr);
}

TEST_F(CloudEncryptionTest, RootNodesOfANewAccount) {
    const Bytes accountParentKey = patternKey(90);
    auto list = std::get<0>(h.call<std::shared_ptr<Cloud::EncryptedNodeList>>(
        [&](Cloud::EncryptedNodeListCallback done) { h.cloud->createRootNodeList(accountParentKey, done); }));
    ASSERT_NE(list, nullptr);
    std::vector<int32_t> types;
    for (const auto& root : *list) {
        types.push_back(root->getType());
        EXPECT_EQ(root->getKey(), nullptr);
        ASSERT_NE(root->getEncryptedAttributes(), nullptr);
        ASSERT_EQ(root->getEncryptedAttributes()->size(), 40u);
        const Bytes nodeKey = unwrapKey(accountParentKey, *root->getEncryptedNodeKey());
        const Bytes filesystemKey = unwrapKey(accountParentKey, *root->getEncryptedAttributes());
        ASSERT_EQ(nodeKey.size(), 32u);
        ASSERT_EQ(filesystemKey.size(), 32u);
        EXPECT_NE(nodeKey, filesystemKey);
        EXPECT_EQ(unwrapKey(xorBytes(filesystemKey, accountParentKey), *root->getEncryptedChildKey()), nodeKey);
    }
    EXPECT_EQ(types, (std::vector<int32_t>{0, 1, 2, 3, 4, 7}));

    test::LogCapture log;
    auto failed = std::get<0>(h.call<std::shared_ptr<Cloud::EncryptedNodeList>>(
        [&](Cloud::EncryptedNodeListCallback done) { h.cloud->createRootNodeList(Bytes(5, 1), done); }));
    EXPECT_EQ(failed, nullptr);
    EXPECT_EQ(log.count("Unable to create root node"), 1u);
}

}  // namespace
}  // namespace corvane
