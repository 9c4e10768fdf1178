#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <cryptopp/base64.h>
#include <cryptopp/eccrypto.h>
#include <cryptopp/filters.h>
#include <cryptopp/oaep.h>
#include <cryptopp/oids.h>
#include <cryptopp/osrng.h>
#include <cryptopp/pwdbased.h>
#include <cryptopp/rsa.h>
#include <cryptopp/sha.h>
#include <gtest/gtest.h>
#include <spdlog/logger.h>
#include <spdlog/sinks/ringbuffer_sink.h>

#include "crypto/crypto_manager.h"
#include "crypto/cryptopp_crypto.h"
#include "crypto_test_support.h"
#include "database/mutable_node_data.h"
#include "loop/libuv_loop.h"
#include "support/log_capture.h"
#include "util/log.h"

namespace corvane {
namespace {

using test::Bytes;
using test::derOf;
using test::referenceGcmOpen;

Bytes pattern(size_t size, uint8_t seed) {
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<uint8_t>(seed + i * 13);
    }
    return bytes;
}

// --- independent reference computations ---

Bytes referencePbkdf2(const std::string& password, const std::string& salt) {
    Bytes out(64);
    CryptoPP::PKCS5_PBKDF2_HMAC<CryptoPP::SHA512> pbkdf2;
    pbkdf2.DeriveKey(out.data(), out.size(), 0, reinterpret_cast<const CryptoPP::byte*>(password.data()),
                     password.size(), reinterpret_cast<const CryptoPP::byte*>(salt.data()), salt.size(), 150000);
    return out;
}

// Log lines with their level, "<level>|<text>".
class LevelLog {
public:
    LevelLog() : sink_(std::make_shared<spdlog::sinks::ringbuffer_sink_mt>(256)) {
        sink_->set_pattern("%l|%v");
        auto logger = std::make_shared<spdlog::logger>("corvane", sink_);
        logger->set_level(spdlog::level::trace);
        log::set(logger);
    }
    ~LevelLog() { test::installDefaultTestLogger(); }

    std::vector<std::string> lines() const { return sink_->last_formatted(); }

    bool has(const std::string& level, const std::string& text) const {
        for (const std::string& line : lines()) {
            if (line.rfind(level + "|", 0) == 0 && line.find(text) != std::string::npos) {
                return true;
            }
        }
        return false;
    }

    bool anyAtOrAbove(spdlog::level::level_enum level) const {
        for (const std::string& line : lines()) {
            for (int l = level; l <= spdlog::level::critical; ++l) {
                std::string name(spdlog::level::to_string_view(static_cast<spdlog::level::level_enum>(l)).data());
                if (line.rfind(name + "|", 0) == 0) {
                    return true;
                }
            }
        }
        return false;
    }

private:
    std::shared_ptr<spdlog::sinks::ringbuffer_sink_mt> sink_;
};

// Records what each completion received and whether it ran at all.
struct Outcome {
    int calls = 0;
    CryptoBytes bytes;
    CryptoBytes second;
    bool flag = false;
    std::string text;

    BytesCompletion forBytes() {
        return [this](CryptoBytes result) {
            ++calls;
            bytes = std::move(result);
        };
    }
    CryptoManager::DerivedKeysCompletion forPair() {
        return [this](CryptoBytes first, CryptoBytes other) {
            ++calls;
            bytes = std::move(first);
            second = std::move(other);
        };
    }
    CheckCompletion forCheck() {
        return [this](bool valid) {
            ++calls;
            flag = valid;
        };
    }
    CryptoManager::SessionCompletion forText() {
        return [this](std::string session) {
            ++calls;
            text = std::move(session);
        };
    }
};

// Manager over a module without loops: every completion runs before the call returns.
class CryptoManagerTest : public ::testing::Test {
protected:
    CryptoppCrypto module_{nullptr, nullptr};
    CryptoManager manager_{&module_};
    Bytes key_ = pattern(32, 3);
};

TEST_F(CryptoManagerTest, UserKeysComeFromPbkdf2OverTheFoldedAddress) {
    struct Case {
        std::string label;
        std::string email;
        std::string password;
        std::string salt;
    };
    const std::vector<Case> cases = {
        {"mixed case", "Ana.Perez@Example.COM", "Secret pass 1", "ana.perez@example.com ___TORQUIN___ "},
        {"lower case", "ana.perez@example.com", "Secret pass 1", "ana.perez@example.com ___TORQUIN___ "},
        // Only ASCII letters fold: the UTF-8 bytes of "Á" stay as they are.
        {"non-ascii", "\xC3\x81NA@x.es", "Secret pass 1", "\xC3\x81na@x.es ___TORQUIN___ "},
        {"password taken as given", "ana.perez@example.com", "SECRET PASS 1", "ana.perez@example.com ___TORQUIN___ "},
    };
    std::vector<Bytes> firstKeys;
    for (const Case& c : cases) {
        Outcome outcome;
        manager_.deriveUserKeys(c.email.c_str(), c.password.c_str(), outcome.forPair());
        ASSERT_EQ(outcome.calls, 1) << c.label;
        ASSERT_TRUE(outcome.bytes && outcome.second) << c.label;
        Bytes expected = referencePbkdf2(c.password, c.salt);
        EXPECT_EQ(*outcome.bytes, Bytes(expected.begin(), expected.begin() + 32)) << c.label;
        EXPECT_EQ(*outcome.second, Bytes(expected.begin() + 32, expected.end())) << c.label;
        firstKeys.push_back(*outcome.bytes);
    }
    EXPECT_EQ(firstKeys[0], firstKeys[1]);
    EXPECT_NE(firstKeys[1], firstKeys[3]);
}

TEST_F(CryptoManagerTest, SecretKeysUseTheirOwnSuffix) {
    const std::string name = "Ana.Perez@Example.com";
    Outcome secret;
    manager_.deriveSecretKeys(name.c_str(), "pw", secret.forPair());
    ASSERT_TRUE(secret.bytes && secret.second);
    Bytes expected = referencePbkdf2("pw", "ana.perez@example.com ___TORQUIN_HIDDEN___ ");
    EXPECT_EQ(*secret.bytes, Bytes(expected.begin(), expected.begin() + 32));
    EXPECT_EQ(*secret.second, Bytes(expected.begin() + 32, expected.end()));

    Outcome user;
    manager_.deriveUserKeys(name.c_str(), "pw", user.forPair());
    ASSERT_TRUE(user.bytes);
    EXPECT_NE(*user.bytes, *secret.bytes);
}

TEST_F(CryptoManagerTest, DerivationWithoutAddressOrPasswordFails) {
    struct Case {
        const char* text;
        const char* password;
        bool secret;
        std::string logLine;
    };
    const std::vector<Case> cases = {
        {nullptr, "pw", false, "Invalid email"},
        {"a@b.c", nullptr, false, "Invalid password"},
        {nullptr, "pw", true, "Invalid name"},
        {"name", nullptr, true, "Invalid password"},
    };
    for (const Case& c : cases) {
        test::LogCapture log;
        Outcome outcome;
        if (c.secret) {
            manager_.deriveSecretKeys(c.text, c.password, outcome.forPair());
        } else {
            manager_.deriveUserKeys(c.text, c.password, outcome.forPair());
        }
        EXPECT_EQ(outcome.calls, 1);
        EXPECT_FALSE(outcome.bytes);
        EXPECT_FALSE(outcome.second);
        EXPECT_TRUE(log.contains(c.logLine)) << c.logLine;
    }
}

TEST_F(CryptoManagerTest, UnknownSchemesAreRefusedByEveryOperation) {
    auto node = std::make_shared<MutableNodeData>();
    node->setKey(&key_);
    Bytes data = pattern(64, 1);
    for (uint32_t number : {3u, 200u, 0xFFFFFFFFu}) {
        test::LogCapture log;
        std::vector<std::function<void(Outcome&)>> operations = {
            [&](Outcome& o) { manager_.deriveNodeKey(number, nullptr, &key_, o.forBytes()); },
            [&](Outcome& o) { manager_.encryptNodeKey(number, &key_, &key_, o.forBytes()); },
            [&](Outcome& o) { manager_.decryptNodeKey(number, &data, &key_, o.forBytes()); },
            [&](Outcome& o) { manager_.encryptData(number, data.data(), data.size(), 0, &key_, o.forBytes()); },
            [&](Outcome& o) { manager_.decryptData(number, data.data(), data.size(), 0, &key_, o.forBytes()); },
            [&](Outcome& o) { manager_.encryptMetadata(number, data.data(), data.size(), &key_, o.forBytes()); },
            [&](Outcome& o) { manager_.decryptMetadata(number, data.data(), data.size(), &key_, o.forBytes()); },
            [&](Outcome& o) { manager_.encryptAttributes(number, node, &key_, o.forBytes()); },
            [&](Outcome& o) {
                o.flag = true;
                manager_.decryptAttributes(number, data.data(), data.size(), node, o.forCheck());
            },
            [&](Outcome& o) { manager_.hashFingerprint(number, &data, &key_, o.forBytes()); },
        };
        for (size_t i = 0; i < operations.size(); ++i) {
            Outcome outcome;
            operations[i](outcome);
            EXPECT_EQ(outcome.calls, 1) << i;
            EXPECT_FALSE(outcome.bytes) << i;
            EXPECT_FALSE(outcome.flag) << i;
        }
        EXPECT_EQ(log.count("Invalid scheme: " + std::to_string(number)), operations.size());
        EXPECT_FALSE(manager_.generateNodeKey(number, 20));
    }
    CryptoBytes key = manager_.generateNodeKey(2, 20);
    ASSERT_TRUE(key);
    EXPECT_EQ(key->size(), 32u);
}

TEST_F(CryptoManagerTest, ArgumentChecksRunInTheirOrder) {
    Bytes empty;
    Bytes data = pattern(16, 0);
    auto keyless = std::make_shared<MutableNodeData>();
    struct Case {
        std::string label;
        std::function<void(Outcome&)> call;
        std::string level;
        std::string logLine;
    };
    const std::vector<Case> cases = {
        {"attributes: node before blob",
         [&](Outcome& o) {
             o.flag = true;
             manager_.decryptAttributes(0, nullptr, 0, nullptr, o.forCheck());
         },
         "warning", "Invalid node"},
        {"attributes: key before blob",
         [&](Outcome& o) {
             o.flag = true;
             manager_.decryptAttributes(0, nullptr, 0, keyless, o.forCheck());
         },
         "warning", "Invalid key"},
        {"fingerprint: null", [&](Outcome& o) { manager_.hashFingerprint(0, nullptr, nullptr, o.forBytes()); }, "debug",
         "No fingerprint"},
        {"fingerprint: empty", [&](Outcome& o) { manager_.hashFingerprint(0, &empty, nullptr, o.forBytes()); }, "error",
         "Invalid fingerprint"},
        {"fingerprint: no key", [&](Outcome& o) { manager_.hashFingerprint(0, &data, nullptr, o.forBytes()); },
         "warning", "Invalid key"},
        {"fingerprint: empty key", [&](Outcome& o) { manager_.hashFingerprint(0, &data, &empty, o.forBytes()); },
         "debug", "No fingerprint key"},
        {"node key: cipher key", [&](Outcome& o) { manager_.encryptNodeKey(&key_, nullptr, o.forBytes()); }, "warning",
         "Invalid cipherkey"},
        {"data: key before data", [&](Outcome& o) { manager_.encryptData(0, nullptr, 0, 0, nullptr, o.forBytes()); },
         "warning", "Invalid key"},
        {"metadata: data", [&](Outcome& o) { manager_.decryptMetadata(2, nullptr, 0, &key_, o.forBytes()); }, "warning",
         "Invalid data"},
        {"derive: key", [&](Outcome& o) { manager_.deriveNodeKey(1, &key_, nullptr, o.forBytes()); }, "warning",
         "Invalid key"},
        {"rsa blob: 12 bytes",
         [&](Outcome& o) {
             Bytes twelve(12, 1);
             manager_.decryptRsaKey(&twelve, &key_, o.forBytes());
         },
         "error", "Invalid key"},
        {"session: empty",
         [&](Outcome& o) {
             o.text = "untouched";
             manager_.decryptSession(&empty, nullptr, o.forText());
         },
         "error", "Invalid encrypted session"},
        {"update file: no data", [&](Outcome& o) { manager_.hashUpdateFile(nullptr, o.forBytes()); }, "error",
         "Invalid data"},
    };
    for (const Case& c : cases) {
        LevelLog log;
        Outcome outcome;
        c.call(outcome);
        EXPECT_EQ(outcome.calls, 1) << c.label;
        EXPECT_FALSE(outcome.bytes) << c.label;
        EXPECT_FALSE(outcome.flag) << c.label;
        EXPECT_TRUE(outcome.text.empty()) << c.label;
        EXPECT_TRUE(log.has(c.level, c.logLine)) << c.label;
        // Only the first failing check speaks.
        EXPECT_EQ(log.lines().size(), 1u) << c.label;
    }
}

TEST_F(CryptoManagerTest, NullFingerprintIsNotAnError) {
    LevelLog log;
    Outcome outcome;
    manager_.hashFingerprint(0, nullptr, &key_, outcome.forBytes());
    EXPECT_EQ(outcome.calls, 1);
    EXPECT_FALSE(log.anyAtOrAbove(spdlog::level::info));
}

TEST_F(CryptoManagerTest, RsaPrivateKeyBlobIsAlwaysAes256Gcm) {
    Bytes privateKey = pattern(1200, 9);
    Outcome sealed;
    manager_.encryptRsaKey(&privateKey, &key_, sealed.forBytes());
    ASSERT_TRUE(sealed.bytes);
    EXPECT_EQ(sealed.bytes->size(), privateKey.size() + 28);
    Bytes opened;
    ASSERT_TRUE(referenceGcmOpen(key_, key_.size(), *sealed.bytes, &opened));
    EXPECT_EQ(opened, privateKey);

    Outcome back;
    manager_.decryptRsaKey(sealed.bytes.get(), &key_, back.forBytes());
    ASSERT_TRUE(back.bytes);
    EXPECT_EQ(*back.bytes, privateKey);

    Bytes flipped = *sealed.bytes;
    flipped.back() ^= 1;
    Bytes thirteen(13, 1);
    Bytes shortKey(16, 1);
    Bytes emptyKey;
    struct Case {
        std::string label;
        std::function<void(Outcome&)> call;
    };
    const std::vector<Case> refused = {
        {"flipped tag", [&](Outcome& o) { manager_.decryptRsaKey(&flipped, &key_, o.forBytes()); }},
        {"13 bytes reach the cipher", [&](Outcome& o) { manager_.decryptRsaKey(&thirteen, &key_, o.forBytes()); }},
        {"short key", [&](Outcome& o) { manager_.decryptRsaKey(sealed.bytes.get(), &shortKey, o.forBytes()); }},
        {"seal under short key", [&](Outcome& o) { manager_.encryptRsaKey(&privateKey, &shortKey, o.forBytes()); }},
        {"seal empty key", [&](Outcome& o) { manager_.encryptRsaKey(&emptyKey, &key_, o.forBytes()); }},
    };
    for (const Case& c : refused) {
        Outcome outcome;
        c.call(outcome);
        EXPECT_EQ(outcome.calls, 1) << c.label;
        EXPECT_FALSE(outcome.bytes) << c.label;
    }
}

TEST_F(CryptoManagerTest, SessionIsOpenedWithTheAccountKeyAndGivenAsUrlText) {
    CryptoPP::AutoSeededRandomPool random;
    CryptoPP::RSA::PrivateKey rsa;
    rsa.GenerateRandomWithKeySize(random, 2048);
    Bytes privateKey = derOf(rsa);

    Bytes session = pattern(40, 0xF0);
    CryptoPP::RSAES<CryptoPP::OAEP<CryptoPP::SHA1>>::Encryptor encryptor{CryptoPP::RSA::PublicKey(rsa)};
    Bytes encrypted(encryptor.CiphertextLength(session.size()));
    encryptor.Encrypt(random, session.data(), session.size(), encrypted.data());

    std::string expected;
    CryptoPP::StringSource(session.data(), session.size(), true,
                           new CryptoPP::Base64URLEncoder(new CryptoPP::StringSink(expected), false));
    while (!expected.empty() && expected.back() == '=') {
        expected.pop_back();
    }

    Outcome opened;
    manager_.decryptSession(&encrypted, &privateKey, opened.forText());
    EXPECT_EQ(opened.calls, 1);
    EXPECT_EQ(opened.text, expected);

    // A ciphertext whose padding check fails decrypts to no bytes: no session either.
    Bytes damaged = encrypted;
    damaged[100] ^= 1;
    Bytes emptyKey;
    for (auto* key : {&privateKey, &emptyKey}) {
        test::LogCapture log;
        Outcome refused;
        refused.text = "untouched";
        manager_.decryptSession(&damaged, key, refused.forText());
        EXPECT_EQ(refused.calls, 1);
        EXPECT_EQ(refused.text, "");
        EXPECT_TRUE(log.contains(key == &emptyKey ? "Invalid RSA private key" : "Unable to decrypt session"));
    }
}

TEST_F(CryptoManagerTest, NodeKeysThroughTheScheme1KeyPairAreCheckedForSize) {
    CryptoPP::AutoSeededRandomPool random;
    CryptoPP::RSA::PrivateKey rsa;
    rsa.GenerateRandomWithKeySize(random, 2048);
    Bytes publicKey = derOf(CryptoPP::RSA::PublicKey(rsa));
    Bytes privateKey = derOf(rsa);

    Outcome encrypted;
    manager_.encryptNodeKey(1, &key_, &publicKey, encrypted.forBytes());
    ASSERT_TRUE(encrypted.bytes);
    Outcome decrypted;
    manager_.decryptNodeKey(1, encrypted.bytes.get(), &privateKey, decrypted.forBytes());
    ASSERT_TRUE(decrypted.bytes);
    EXPECT_EQ(*decrypted.bytes, key_);

    // Damage makes the RSA padding check fail, which yields no bytes rather than null.
    Bytes damaged = *encrypted.bytes;
    damaged[10] ^= 0x20;
    Outcome refused;
    manager_.decryptNodeKey(1, &damaged, &privateKey, refused.forBytes());
    EXPECT_EQ(refused.calls, 1);
    EXPECT_FALSE(refused.bytes);
}

TEST_F(CryptoManagerTest, UpdateFileHashIsSha512) {
    Bytes file = pattern(100000, 5);
    Outcome digest;
    manager_.hashUpdateFile(&file, digest.forBytes());
    ASSERT_TRUE(digest.bytes);
    Bytes expected(64);
    CryptoPP::SHA512().CalculateDigest(expected.data(), file.data(), file.size());
    EXPECT_EQ(*digest.bytes, expected);
}

struct UpdateKeyPair {
    Bytes publicKey;
    Bytes privateKey;
};

UpdateKeyPair makeUpdateKeyPair() {
    CryptoPP::AutoSeededRandomPool random;
    CryptoPP::ECDSA<CryptoPP::ECP, CryptoPP::SHA512>::PrivateKey privateKey;
    privateKey.Initialize(random, CryptoPP::ASN1::secp384r1());
    CryptoPP::ECDSA<CryptoPP::ECP, CryptoPP::SHA512>::PublicKey publicKey;
    privateKey.MakePublicKey(publicKey);
    return {derOf(publicKey), derOf(privateKey)};
}

TEST(CryptoManagerUpdateTest, UpdateInformationVerifiesOnlyAgainstTheInstalledKey) {
    CryptoppCrypto module(nullptr, nullptr);
    UpdateKeyPair pair = makeUpdateKeyPair();
    CryptoManager ours(&module, pair.publicKey);
    CryptoManager builtIn(&module);

    Bytes info = pattern(300, 1);
    Outcome signature;
    ours.signUpdateInfo(&info, &pair.privateKey, signature.forBytes());
    ASSERT_TRUE(signature.bytes);
    EXPECT_EQ(signature.bytes->size(), 96u);

    Bytes otherInfo = info;
    otherInfo[0] ^= 1;
    Bytes flippedSignature = *signature.bytes;
    flippedSignature[50] ^= 1;
    struct Case {
        std::string label;
        CryptoManager* manager;
        const Bytes* info;
        const Bytes* signature;
        bool valid;
    };
    const std::vector<Case> cases = {
        {"signed", &ours, &info, signature.bytes.get(), true},
        {"other information", &ours, &otherInfo, signature.bytes.get(), false},
        {"flipped signature", &ours, &info, &flippedSignature, false},
        {"no signature", &ours, &info, nullptr, false},
        {"built-in key", &builtIn, &info, signature.bytes.get(), false},
    };
    for (const Case& c : cases) {
        Outcome outcome;
        outcome.flag = !c.valid;
        c.manager->verifyUpdateInfo(c.info, c.signature, outcome.forCheck());
        EXPECT_EQ(outcome.calls, 1) << c.label;
        EXPECT_EQ(outcome.flag, c.valid) << c.label;
    }
}

TEST(CryptoManagerUpdateTest, BuiltInKeyIsAP384PublicKey) {
    const Bytes& der = CryptoManager::defaultUpdatePublicKey();
    ASSERT_EQ(der.size(), 120u);
    CryptoPP::ECDSA<CryptoPP::ECP, CryptoPP::SHA512>::PublicKey key;
    CryptoPP::ArraySource source(der.data(), der.size(), true);
    ASSERT_NO_THROW(key.BERDecode(source));
    CryptoPP::AutoSeededRandomPool random;
    EXPECT_TRUE(key.Validate(random, 3));
    EXPECT_EQ(key.GetGroupParameters().GetCurve().GetField().GetModulus().BitCount(), 384u);
    EXPECT_EQ(der[23], 0x04);  // uncompressed point
}

TEST(CryptoManagerRsaTest, GeneratedPairIsPublicThenPrivate) {
    CryptoppCrypto module(nullptr, nullptr);
    CryptoManager manager(&module);
    Outcome pair;
    manager.generateRsaKey([&](CryptoBytes publicKey, CryptoBytes privateKey) {
        ++pair.calls;
        pair.bytes = std::move(publicKey);
        pair.second = std::move(privateKey);
    });
    ASSERT_EQ(pair.calls, 1);
    ASSERT_TRUE(pair.bytes && pair.second);
    CryptoPP::RSA::PublicKey publicKey;
    CryptoPP::ArraySource publicSource(pair.bytes->data(), pair.bytes->size(), true);
    ASSERT_NO_THROW(publicKey.BERDecode(publicSource));
    EXPECT_EQ(publicKey.GetModulus().BitCount(), 3072u);
    CryptoPP::RSA::PrivateKey privateKey;
    CryptoPP::ArraySource privateSource(pair.second->data(), pair.second->size(), true);
    ASSERT_NO_THROW(privateKey.BERDecode(privateSource));
    EXPECT_EQ(privateKey.GetModulus(), publicKey.GetModulus());
}

// --- the asynchronous contract, with a real crypto thread ---

// A result loop that runs its tasks only when the test pumps it.
class PumpedLoop : public TaskManager {
public:
    PumpedLoop()
        : TaskManager([this] {
              std::lock_guard<std::mutex> lock(mutex_);
              ++wakeUps_;
              condition_.notify_all();
          }) {}

    // Runs tasks until the predicate holds; false after the time-out.
    bool pumpUntil(const std::function<bool()>& done) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (!done()) {
            {
                std::unique_lock<std::mutex> lock(mutex_);
                if (!condition_.wait_until(lock, deadline, [this] { return wakeUps_ > 0; })) {
                    return false;
                }
                wakeUps_ = 0;
            }
            runTasks();
        }
        return true;
    }

private:
    std::mutex mutex_;
    std::condition_variable condition_;
    int wakeUps_ = 0;
};

class CryptoManagerAsyncTest : public ::testing::Test {
protected:
    void SetUp() override { cryptoLoop_.start(); }
    void TearDown() override {
        cryptoLoop_.stop();
        cryptoLoop_.join();
    }

    LibuvLoop cryptoLoop_;
    PumpedLoop resultLoop_;
    CryptoppCrypto module_{&cryptoLoop_, &resultLoop_};
    CryptoManager manager_{&module_};
    Bytes key_ = pattern(32, 21);
};

TEST_F(CryptoManagerAsyncTest, CompletionsNeverRunInsideTheCallAndKeepTheirOrder) {
    std::vector<std::string> order;
    Bytes data = pattern(1 << 16, 4);
    auto node = std::make_shared<MutableNodeData>();
    node->setType(43);
    node->setName("Inbox");
    node->setKey(&key_);
    Bytes blob;
    Bytes wrapped;

    // The derivation is by far the slowest; everything after it must still wait its turn.
    manager_.deriveUserKeys("ana@example.com", "pw", [&](CryptoBytes first, CryptoBytes second) {
        EXPECT_TRUE(first && second);
        order.push_back("derive");
    });
    manager_.encryptData(0, data.data(), data.size(), 64, &key_, [&](CryptoBytes result) {
        EXPECT_TRUE(result);
        order.push_back("data");
    });
    manager_.encryptAttributes(2, node, &key_, [&](CryptoBytes result) {
        ASSERT_TRUE(result);
        blob = *result;
        order.push_back("attributes");
    });
    manager_.encryptNodeKey(0, &key_, &key_, [&](CryptoBytes result) {
        ASSERT_TRUE(result);
        wrapped = *result;
        order.push_back("key");
    });
    manager_.hashUpdateFile(&data, [&](CryptoBytes result) {
        EXPECT_TRUE(result);
        order.push_back("hash");
    });
    EXPECT_TRUE(order.empty());

    ASSERT_TRUE(resultLoop_.pumpUntil([&] { return order.size() == 5; }));
    EXPECT_EQ(order, (std::vector<std::string>{"derive", "data", "attributes", "key", "hash"}));

    // Second round: results of the first feed operations whose completions must also wait.
    auto target = std::make_shared<MutableNodeData>();
    target->setType(43);
    target->setKey(&key_);
    bool applied = false;
    int calls = 0;
    manager_.decryptAttributes(2, blob.data(), blob.size(), target, [&](bool valid) {
        applied = valid;
        ++calls;
    });
    CryptoBytes unwrapped;
    manager_.decryptNodeKey(wrapped.empty() ? nullptr : &wrapped, &key_, [&](CryptoBytes result) {
        unwrapped = std::move(result);
        ++calls;
    });
    EXPECT_EQ(calls, 0);
    ASSERT_TRUE(resultLoop_.pumpUntil([&] { return calls == 2; }));
    EXPECT_TRUE(applied);
    EXPECT_STREQ(target->getOwnName(), "Inbox");
    ASSERT_TRUE(unwrapped);
    EXPECT_EQ(*unwrapped, key_);
}

TEST_F(CryptoManagerAsyncTest, RejectedCallsCompleteAtOnce) {
    int calls = 0;
    manager_.encryptMetadata(7, key_.data(), key_.size(), &key_, [&](CryptoBytes result) {
        EXPECT_FALSE(result);
        ++calls;
    });
    manager_.decryptSession(nullptr, nullptr, [&](std::string session) {
        EXPECT_TRUE(session.empty());
        ++calls;
    });
    EXPECT_EQ(calls, 2);
}

}  // namespace
}  // namespace corvane
