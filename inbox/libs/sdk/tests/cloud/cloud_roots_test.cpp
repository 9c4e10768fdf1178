#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cloud_test_support.h"
#include "support/log_capture.h"

namespace corvane {
namespace {

using test::Bytes;
using test::CacheFile;
using test::CloudHarness;
using test::makeFilesystem;
using test::makeNode;
using test::patternKey;

class CloudRootsTest : public ::testing::Test {
protected:
    static constexpr uint64_t kSecretFs = uint64_t{60} << 15;
    static constexpr uint64_t kDrive = 0x70;
    static constexpr uint64_t kDriveFs = kDrive << 15;

    void SetUp() override { h.initialize(); }

    void store(Cloud::NodePointer node, bool loadChildren = false) {
        auto stored = std::get<0>(h.call<Cloud::NodePointer>(
            [&, node](Cloud::MutableNodeCallback done) { h.cloud->updateNode(node, done, true); }));
        ASSERT_EQ(stored, node);
        if (loadChildren) {
            h.onLoop([&]() { node->setChildrenLoaded(true); });
        }
    }

    bool addFilesystem(std::shared_ptr<FilesystemData> filesystem) {
        return std::get<0>(h.call<bool>([&, filesystem](Cloud::BoolCallback done) {
            h.cloud->addFilesystemUsingNodeKey(filesystem, std::make_unique<Bytes>(patternKey(5)), done);
        }));
    }

    bool inRam(uint64_t id) {
        return h.onLoop([&]() { return h.cloud->isInRam(id); });
    }

    CloudHarness h;
};

// The root and its RAM subtree leave, and so does the filesystem whose root node it is.
TEST_F(CloudRootsTest, CloseSecretForgetsRootSubtreeAndFilesystem) {
    ASSERT_TRUE(addFilesystem(makeFilesystem(kSecretFs, 6, 0, nullptr, nullptr)));
    store(makeNode(60, 6, 0, "secret", kSecretFs));
    store(makeNode(61, 21, 60, "folder", kSecretFs));
    store(makeNode(62, 20, 61, "file", kSecretFs));
    ASSERT_TRUE(inRam(62));
    ASSERT_EQ(h.onLoop([&]() { return h.cloud->getSecrets()->size(); }), 1u);

    h.call<>([&](Cloud::Callback done) { h.cloud->closeSecret(60, done); });
    for (uint64_t id : {60, 61, 62}) {
        EXPECT_FALSE(inRam(id)) << id;
    }
    EXPECT_TRUE(h.onLoop([&]() { return h.cloud->getSecrets()->empty(); }));
    EXPECT_EQ(h.onLoop([&]() { return h.cloud->getFilesystemType(kSecretFs); }), -1);
    EXPECT_EQ(h.onLoop([&]() { return h.cloud->ramInconsistency(); }), std::string());
}

// A shared drive whose filesystem is not known still leaves RAM, the cache and the drive list.
TEST_F(CloudRootsTest, DeleteSharedDriveWithoutFilesystem) {
    store(makeNode(kDrive, 8, 0, "drive"), true);
    store(makeNode(0x71, 21, kDrive, "x"));
    ASSERT_TRUE(inRam(0x71));
    h.call<>([&](Cloud::Callback done) { h.cloud->deleteSharedDrive(kDrive, done); });
    EXPECT_FALSE(inRam(kDrive));
    EXPECT_FALSE(inRam(0x71));
    EXPECT_TRUE(h.onLoop([&]() { return h.cloud->getSharedDrives()->empty(); }));
    CacheFile cache(h.cacheFile());
    EXPECT_EQ(cache.node(kDrive), nullptr);
    EXPECT_EQ(cache.node(0x71), nullptr);
}

// An id that is not open completes at once instead of leaving its caller waiting.
TEST_F(CloudRootsTest, ClosingUnknownRootsCompletes) {
    store(makeNode(kDrive, 8, 0, "drive"));
    h.call<>([&](Cloud::Callback done) { h.cloud->closeSecret(kDrive, done); });
    h.call<>([&](Cloud::Callback done) { h.cloud->deleteSharedDrive(12345, done); });
    EXPECT_TRUE(inRam(kDrive));
    EXPECT_EQ(h.onLoop([&]() { return h.cloud->getSharedDrives()->size(); }), 1u);
}

TEST_F(CloudRootsTest, RemoveFilesystemDeletesItsRow) {
    ASSERT_TRUE(addFilesystem(makeFilesystem(kDriveFs | 2, 8, 0, nullptr, nullptr)));
    ASSERT_NE(CacheFile(h.cacheFile()).filesystem(kDriveFs | 2), nullptr);
    EXPECT_FALSE(std::get<0>(
        h.call<bool>([&](Cloud::BoolCallback done) { h.cloud->removeFilesystemOfNode(kDrive + 1, done); })));
    EXPECT_TRUE(
        std::get<0>(h.call<bool>([&](Cloud::BoolCallback done) { h.cloud->removeFilesystemOfNode(kDrive, done); })));
    EXPECT_EQ(h.onLoop([&]() { return h.cloud->getFilesystemType(kDriveFs | 2); }), -1);
    EXPECT_EQ(CacheFile(h.cacheFile()).filesystem(kDriveFs | 2), nullptr);
}

// The setters change the record in RAM; the row follows at the next endTransaction, which
// alone sets the status.
TEST_F(CloudRootsTest, AccountRecord) {
    h.call<>([&](Cloud::Callback done) { h.cloud->endTransaction(4, done); });
    auto record = h.onLoop([&]() { return h.cloud->getAccountInfo(); });
    h.onLoop([&]() {
        h.cloud->updateAccountInfo(CloudHarness::kAccountId, 2, "Acme", 10, 1000, 500, 20, 12, 99, 5, true, false,
                                   "pro", "B123", "REF", 7, 1, true, 3, 2, 9);
        h.cloud->updateAccessLevel(4);
    });
    EXPECT_EQ(h.onLoop([&]() { return h.cloud->getAccountInfo(); }), record);
    EXPECT_EQ(h.onLoop([&]() { return h.cloud->getCloudState(); }), 4u);
    EXPECT_EQ(h.onLoop([&]() { return h.cloud->getAccessLevel(); }), 4);
    EXPECT_EQ(h.onLoop([&]() { return h.cloud->getAccountCrypto(); }), 2);
    h.onLoop([&]() { h.cloud->updateAccountCrypto(1); });
    EXPECT_EQ(h.onLoop([&]() { return h.cloud->getAccountCrypto(); }), 1);
    EXPECT_EQ(record->getStorageUsed(), 500);
    EXPECT_EQ(record->getPlan(), "pro");
    {
        auto row = CacheFile(h.cacheFile()).account(CloudHarness::kAccountId);
        ASSERT_NE(row, nullptr);
        EXPECT_EQ(row->getAccessLevel(), 0);
    }
    h.call<>([&](Cloud::Callback done) { h.cloud->endTransaction(5, done); });
    auto row = CacheFile(h.cacheFile()).account(CloudHarness::kAccountId);
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->getAccessLevel(), 4);
    EXPECT_EQ(row->getStatus(), 5u);
    EXPECT_EQ(row->getName(), "Acme");
}

}  // namespace
}  // namespace corvane
