#include <memory>
#include <string>
#include <vector>

#include <cryptopp/osrng.h>
#include <cryptopp/rsa.h>
#include <gtest/gtest.h>

#include <cryptopp/queue.h>

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
using test::wrapKey;

class CloudFilesystemTest : public ::testing::Test {
protected:
    bool add(std::shared_ptr<Cloud::FilesystemList> list) {
        return std::get<0>(h.call<bool>([&](Cloud::BoolCallback done) { h.cloud->addFilesystems(list, done); }));
    }

    std::shared_ptr<FilesystemData> held(uint64_t id) {
        return h.onLoop([&]() { return h.cloud->getFilesystem(id); });
    }

    CloudHarness h;
};

// Keys are decrypted with the master key and stored decrypted, in RAM and in the table; the
// list is set up from its last element to its first, and a failure only drops its own entry.
TEST_F(CloudFilesystemTest, ListSetUpBackToFrontWithDecryptedKeys) {
    h.initialize();
    const Bytes nodeKeyA = patternKey(40);
    const Bytes nodeKeyC = patternKey(60);
    const Bytes filesystemKeyC = patternKey(61);
    const Bytes wrappedA = wrapKey(h.masterKey, nodeKeyA);
    const Bytes garbage(40, 0x5a);
    const Bytes wrappedC = wrapKey(h.masterKey, nodeKeyC);
    const Bytes wrappedFilesystemKeyC = wrapKey(h.masterKey, filesystemKeyC);
    const uint64_t a = uint64_t{100} << 15;
    const uint64_t b = uint64_t{200} << 15;
    const uint64_t c = uint64_t{300} << 15;
    auto list = std::make_shared<Cloud::FilesystemList>(
        Cloud::FilesystemList{makeFilesystem(a, 1, 0, &wrappedA, nullptr), makeFilesystem(b, 2, 0, &garbage, nullptr),
                              makeFilesystem(c, 3, 0, &wrappedC, &wrappedFilesystemKeyC)});
    test::LogCapture log;
    EXPECT_TRUE(add(list));

    std::vector<std::string> order;
    for (std::string line : log.lines()) {
        if (line.rfind("Filesystem of type", 0) == 0 || line.rfind("Error setting up filesystem", 0) == 0) {
            line.erase(line.find_last_not_of('\n') + 1);
            order.push_back(line);
        }
    }
    EXPECT_EQ(order,
              (std::vector<std::string>{"Filesystem of type 3 with filesystemKey correctly added to database",
                                        "Error setting up filesystem of type 2",
                                        "Filesystem of type 1 without filesystemKey correctly added to database"}));
    EXPECT_EQ(held(b), nullptr);
    ASSERT_NE(held(a), nullptr);
    EXPECT_EQ(*held(a)->getNodeKey(), nodeKeyA);
    EXPECT_EQ(held(a)->getFilesystemKey(), nullptr);
    ASSERT_NE(held(c), nullptr);
    EXPECT_EQ(*h.onLoop([&]() { return h.cloud->getFilesystemNodeKey(c); }), nodeKeyC);
    EXPECT_EQ(*h.onLoop([&]() { return h.cloud->getFilesystemKey(c); }), filesystemKeyC);
    EXPECT_EQ(h.onLoop([&]() { return h.cloud->getFilesystemType(c); }), 3);
    EXPECT_EQ(h.onLoop([&]() { return h.cloud->getFilesystemType(b); }), -1);

    CacheFile cache(h.cacheFile());
    ASSERT_NE(cache.filesystem(c), nullptr);
    EXPECT_EQ(*cache.filesystem(c)->getNodeKey(), nodeKeyC);
    EXPECT_EQ(*cache.filesystem(c)->getFilesystemKey(), filesystemKeyC);
    EXPECT_EQ(cache.filesystem(b), nullptr);
}

TEST_F(CloudFilesystemTest, EmptyListAndUndecryptableFilesystemKey) {
    h.initialize();
    EXPECT_TRUE(add(nullptr));
    EXPECT_TRUE(add(std::make_shared<Cloud::FilesystemList>()));

    // A filesystem key that cannot be opened leaves the filesystem without one, still added.
    const Bytes wrapped = wrapKey(h.masterKey, patternKey(70));
    const Bytes badKey(40, 1);
    const uint64_t id = uint64_t{5} << 15;
    const bool added = std::get<0>(h.call<bool>(
        [&](Cloud::BoolCallback done) { h.cloud->addFilesystem(makeFilesystem(id, 0, 0, &wrapped, &badKey), done); }));
    EXPECT_TRUE(added);
    ASSERT_NE(held(id), nullptr);
    EXPECT_EQ(held(id)->getFilesystemKey(), nullptr);
    EXPECT_EQ(*held(id)->getNodeKey(), patternKey(70));
}

// Shared drives: an account without an id uses the master key itself as node key; otherwise
// crypto 1 opens the node key with the account key (RSA), crypto 0 and 2 with the master key.
TEST_F(CloudFilesystemTest, SharedDriveKeys) {
    CryptoPP::AutoSeededRandomPool random;
    CryptoPP::InvertibleRSAFunction rsa;
    rsa.GenerateRandomWithKeySize(random, 2048);
    const CryptoPP::RSA::PrivateKey privateKey(rsa);
    CryptoPP::ByteQueue der;
    privateKey.DEREncode(der);
    h.accountKey.resize(der.MaxRetrievable());
    der.Get(h.accountKey.data(), h.accountKey.size());
    const Bytes driveKey = patternKey(80);
    CryptoPP::RSAES_OAEP_SHA_Encryptor encryptor{CryptoPP::RSA::PublicKey(privateKey)};
    Bytes sealed(encryptor.FixedCiphertextLength());
    encryptor.Encrypt(random, driveKey.data(), driveKey.size(), sealed.data());
    const Bytes wrapped = wrapKey(h.masterKey, driveKey);

    h.initialize();
    const uint64_t rsaDrive = uint64_t{1} << 15;
    const uint64_t wrapDrive = uint64_t{2} << 15;
    const uint64_t fastDrive = uint64_t{3} << 15;
    EXPECT_TRUE(add(std::make_shared<Cloud::FilesystemList>(Cloud::FilesystemList{
        makeFilesystem(rsaDrive, 8, 1, &sealed, nullptr), makeFilesystem(wrapDrive, 8, 0, &wrapped, nullptr),
        makeFilesystem(fastDrive, 8, 2, &wrapped, nullptr)})));
    for (uint64_t id : {rsaDrive, wrapDrive, fastDrive}) {
        ASSERT_NE(held(id), nullptr) << id;
        EXPECT_EQ(*held(id)->getNodeKey(), driveKey) << id;
    }
    // Added through the node key, shared drives are cached.
    CacheFile cache(h.cacheFile());
    EXPECT_NE(cache.filesystem(rsaDrive), nullptr);

    CloudHarness noId(false);
    noId.initialize(0);
    const uint64_t drive = uint64_t{4} << 15;
    const bool added = std::get<0>(noId.call<bool>([&](Cloud::BoolCallback done) {
        noId.cloud->addFilesystems(std::make_shared<Cloud::FilesystemList>(
                                       Cloud::FilesystemList{makeFilesystem(drive, 8, 0, &wrapped, nullptr)}),
                                   done);
    }));
    EXPECT_TRUE(added);
    EXPECT_EQ(*noId.onLoop([&]() { return noId.cloud->getFilesystemNodeKey(drive); }), noId.masterKey);
}

TEST_F(CloudFilesystemTest, SecretFilesystemStaysInMemory) {
    h.initialize();
    test::LogCapture log;
    const Bytes secretKey = patternKey(90);
    const Bytes filesystemKey = patternKey(91);
    const uint64_t id = uint64_t{9} << 15;
    const bool added = std::get<0>(h.call<bool>([&](Cloud::BoolCallback done) {
        const Bytes wrappedFilesystemKey = wrapKey(secretKey, filesystemKey);
        h.cloud->addFilesystemUsingNodeKey(makeFilesystem(id, 6, 0, nullptr, &wrappedFilesystemKey),
                                           std::make_unique<Bytes>(secretKey), done);
    }));
    EXPECT_TRUE(added);
    EXPECT_TRUE(log.contains("Filesystem of type 6 with filesystemKey correctly added"));
    EXPECT_FALSE(log.contains("correctly added to database"));
    EXPECT_EQ(*h.onLoop([&]() { return h.cloud->getFilesystemKey(id); }), filesystemKey);
    CacheFile cache(h.cacheFile());
    EXPECT_EQ(cache.filesystem(id), nullptr);

    const bool refused = std::get<0>(h.call<bool>([&](Cloud::BoolCallback done) {
        h.cloud->addFilesystemUsingNodeKey(makeFilesystem(id + (1 << 15), 6, 0, nullptr, nullptr), nullptr, done);
    }));
    EXPECT_FALSE(refused);
}

struct OwnerCase {
    const char* name;
    int32_t nodeType;
    int32_t parentType;  // -2: no parent
    uint64_t expected;
};

constexpr uint64_t kNodeId = 7;
constexpr uint64_t kParentId = 5;
constexpr uint64_t kParentFilesystem = 0xabc000;

class FilesystemOwnerTest : public ::testing::TestWithParam<OwnerCase> {};

TEST_P(FilesystemOwnerTest, FromTheParent) {
    const OwnerCase& c = GetParam();
    Cloud cloud(nullptr, nullptr, nullptr, "");
    auto node = makeNode(kNodeId, c.nodeType, kParentId, "n");
    auto parent = makeNode(kParentId, c.parentType, 1, "p", kParentFilesystem);
    test::LogCapture log;
    EXPECT_EQ(cloud.getFilesystem(*node, c.parentType == -2 ? nullptr : parent.get()), c.expected);
    EXPECT_EQ(log.contains("Unexpected filesystem organization : 43 -> 20"), c.parentType == 43 && c.nodeType == 20);
}

INSTANTIATE_TEST_SUITE_P(Organization, FilesystemOwnerTest,
                         ::testing::Values(OwnerCase{"RootOwnsItsFilesystem", 8, 0, kNodeId << 15},
                                           OwnerCase{"DefaultTypeOwnsItsFilesystem", -1, 21, kNodeId << 15},
                                           OwnerCase{"NoParent", 21, -2, kNodeId << 15},
                                           OwnerCase{"FolderUnderDrive", 21, 0, kParentFilesystem},
                                           OwnerCase{"BackupKindsFollowParent", 41, 43, kParentFilesystem},
                                           OwnerCase{"FileUnderFolder", 20, 21, kParentFilesystem},
                                           OwnerCase{"FileUnderRecord", 20, 44, kParentId << 15},
                                           OwnerCase{"FileUnderSnapshot", 20, 42, kParentId << 15},
                                           OwnerCase{"FileUnderInbox", 20, 43, 0}),
                         [](const ::testing::TestParamInfo<OwnerCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace corvane
