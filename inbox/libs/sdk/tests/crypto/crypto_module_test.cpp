#include "crypto/crypto_module.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "crypto/cryptopp_crypto.h"
#include "crypto_test_support.h"
#include "loop/libuv_loop.h"
#include "support/log_capture.h"

namespace corvane {
namespace {

using test::Bytes;
using test::fromHex;
using test::textBytes;
using test::toHex;

// Counts completions and lets the test thread wait for them.
class Completions {
public:
    void add(const std::string& entry) {
        std::lock_guard<std::mutex> lock(mutex_);
        entries_.push_back(entry);
        condition_.notify_all();
    }

    bool waitFor(size_t count) {
        std::unique_lock<std::mutex> lock(mutex_);
        return condition_.wait_for(lock, std::chrono::seconds(60), [&] { return entries_.size() >= count; });
    }

    std::vector<std::string> entries() {
        std::lock_guard<std::mutex> lock(mutex_);
        return entries_;
    }

private:
    std::mutex mutex_;
    std::condition_variable condition_;
    std::vector<std::string> entries_;
};

class CryptoModuleTest : public ::testing::Test {
protected:
    void SetUp() override {
        workLoop_.start();
        mainLoop_.start();
    }

    void TearDown() override {
        // The crypto loop goes first: its tasks hold the module.
        workLoop_.stop();
        workLoop_.join();
        mainLoop_.stop();
        mainLoop_.join();
        module_.reset();
    }

    // Runs the function on the main loop, as the SDK's callers do, and waits for it.
    void onMainLoop(const std::function<void()>& function) {
        Completions done;
        mainLoop_.post([&] {
            function();
            done.add("ran");
        });
        ASSERT_TRUE(done.waitFor(1));
    }

    LibuvLoop workLoop_;
    LibuvLoop mainLoop_;
    std::unique_ptr<CryptoModule> module_;
};

TEST_F(CryptoModuleTest, CompletionNeverRunsInsideTheCall) {
    struct Case {
        const char* name;
        bool withWorkLoop;
    };
    for (const Case& c : std::vector<Case>{{"crypto_loop", true}, {"no_work_loop_result_on_callers_loop", false}}) {
        SCOPED_TRACE(c.name);
        module_ = std::make_unique<CryptoppCrypto>(c.withWorkLoop ? &workLoop_ : nullptr, &mainLoop_);
        Completions completions;
        const Bytes data = textBytes("abc");
        std::thread::id mainThread;
        bool inCall = false;
        onMainLoop([&] {
            mainThread = std::this_thread::get_id();
            inCall = true;
            module_->hashSha512(data.data(), data.size(), [&](CryptoBytes digest) {
                EXPECT_FALSE(inCall);
                EXPECT_EQ(std::this_thread::get_id(), mainThread);
                EXPECT_TRUE(digest);
                completions.add("hash");
            });
            module_->verifyEcdsa(data.data(), data.size(), data.data(), data.size(), data.data(), data.size(),
                                 [&](bool valid) {
                                     EXPECT_FALSE(inCall);
                                     EXPECT_FALSE(valid);
                                     completions.add("verify");
                                 });
            inCall = false;
        });
        ASSERT_TRUE(completions.waitFor(2));
        module_.reset();
    }
}

TEST_F(CryptoModuleTest, CompletionsKeepTheOrderOfTheCalls) {
    module_ = std::make_unique<CryptoppCrypto>(&workLoop_, &mainLoop_);
    Completions completions;
    const Bytes password = textBytes("password");
    const Bytes salt = textBytes("salt");
    const Bytes key(32, 1);
    const Bytes counter(16, 0);
    const Bytes data(64, 2);
    onMainLoop([&] {
        // The slow derivation first; the cheap operations behind it must not overtake it.
        module_->deriveKeyPbkdf2(password.data(), password.size(), salt.data(), salt.size(), 150000,
                                 [&](CryptoBytes) { completions.add("pbkdf2"); });
        for (int i = 0; i < 20; ++i) {
            module_->encryptAes256Ctr(data.data(), data.size(), counter.data(), key.data(),
                                      [&, i](CryptoBytes) { completions.add("ctr" + std::to_string(i)); });
        }
        module_->hashSha512(data.data(), data.size(), [&](CryptoBytes) { completions.add("sha"); });
    });
    ASSERT_TRUE(completions.waitFor(22));
    std::vector<std::string> expected = {"pbkdf2"};
    for (int i = 0; i < 20; ++i) {
        expected.push_back("ctr" + std::to_string(i));
    }
    expected.push_back("sha");
    EXPECT_EQ(completions.entries(), expected);
}

// Each operation reaches the primitive of its family and key length: the results are the
// published answers of that exact algorithm.
TEST_F(CryptoModuleTest, OperationsDeliverTheirAlgorithmsResults) {
    module_ = std::make_unique<CryptoppCrypto>(&workLoop_, &mainLoop_);
    const Bytes ctrCounter = fromHex("f0f1f2f3f4f5f6f7f8f9fafbfcfdfeff");
    const Bytes ctrPlain = fromHex("6bc1bee22e409f96e93d7e117393172a");
    const Bytes ctrKey128 = fromHex("2b7e151628aed2a6abf7158809cf4f3c");
    const Bytes ctrKey256 = fromHex("603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4");
    const Bytes ctrCipher128 = fromHex("874d6191b620e3261bef6864990db6ce");
    const Bytes ctrCipher256 = fromHex("601ec313775789a5b7a7f504bbf3d228");
    const Bytes gcmIv(12, 0);
    const Bytes gcmPlain(16, 0);
    const Bytes gcmKey128(16, 0);
    const Bytes gcmKey256(32, 0);
    const Bytes gcmSealed128 = fromHex("0388dace60b6a392f328c2b971b2fe78ab6e47d42cec13bdf53a67b21257bddf");
    const Bytes gcmSealed256 = fromHex("cea7403d4d606b6e074ec5d3baf39d18d0d1c8a799996bf0265b98b5d48ab919");
    const Bytes kek = fromHex("000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F");
    const Bytes wrapKey = fromHex("00112233445566778899AABBCCDDEEFF000102030405060708090A0B0C0D0E0F");
    const Bytes wrapped = fromHex("28C9F404C4B810F4CBCCB35CFB87F8263F5786E2D80ED326CBC7F0E71A99F43BFB988B9B7A02DD21");
    const Bytes abc = textBytes("abc");
    const Bytes password = textBytes("password");
    const Bytes salt = textBytes("salt");

    struct Expectation {
        std::string name;
        Bytes expected;
    };
    std::vector<Expectation> expectations;
    std::mutex mutex;
    std::vector<std::pair<std::string, Bytes>> results;
    auto collect = [&](const std::string& name, const Bytes& expected) {
        expectations.push_back({name, expected});
        return [&, name](CryptoBytes result) {
            std::lock_guard<std::mutex> lock(mutex);
            results.emplace_back(name, result ? *result : Bytes{0xde, 0xad});
        };
    };
    Completions done;
    onMainLoop([&] {
        module_->encryptAes128Ctr(ctrPlain.data(), ctrPlain.size(), ctrCounter.data(), ctrKey128.data(),
                                  collect("encryptAes128Ctr", ctrCipher128));
        module_->decryptAes128Ctr(ctrCipher128.data(), ctrCipher128.size(), ctrCounter.data(), ctrKey128.data(),
                                  collect("decryptAes128Ctr", ctrPlain));
        module_->encryptAes256Ctr(ctrPlain.data(), ctrPlain.size(), ctrCounter.data(), ctrKey256.data(),
                                  collect("encryptAes256Ctr", ctrCipher256));
        module_->decryptAes256Ctr(ctrCipher256.data(), ctrCipher256.size(), ctrCounter.data(), ctrKey256.data(),
                                  collect("decryptAes256Ctr", ctrPlain));
        module_->encryptAes128Gcm(gcmPlain.data(), gcmPlain.size(), gcmIv.data(), gcmKey128.data(),
                                  collect("encryptAes128Gcm", gcmSealed128));
        module_->decryptAes128Gcm(gcmSealed128.data(), gcmSealed128.size(), gcmIv.data(), gcmKey128.data(),
                                  collect("decryptAes128Gcm", gcmPlain));
        module_->encryptAes256Gcm(gcmPlain.data(), gcmPlain.size(), gcmIv.data(), gcmKey256.data(),
                                  collect("encryptAes256Gcm", gcmSealed256));
        module_->decryptAes256Gcm(gcmSealed256.data(), gcmSealed256.size(), gcmIv.data(), gcmKey256.data(),
                                  collect("decryptAes256Gcm", gcmPlain));
        module_->wrapAes256Key(wrapKey.data(), kek.data(), collect("wrapAes256Key", wrapped));
        module_->unwrapAes256Key(wrapped.data(), kek.data(), collect("unwrapAes256Key", wrapKey));
        module_->hashSha512(
            abc.data(), abc.size(),
            collect("hashSha512", fromHex("ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a"
                                          "2192992a274fc1a836ba3c23a3feebbd454d4423643ce80e2a9ac94fa54ca49f")));
        module_->deriveKeyPbkdf2(
            password.data(), password.size(), salt.data(), salt.size(), 1,
            collect("deriveKeyPbkdf2", fromHex("867f70cf1ade02cff3752599a3a53dc4af34c7a669815ae5d513554e1c8cf252"
                                               "c02d470a285a0501bad999bfe943c08f050235d7d68b1da55e63f73b60a57fce")));
        module_->hashSha512(abc.data(), 0, [&](CryptoBytes) { done.add("last"); });
    });
    ASSERT_TRUE(done.waitFor(1));
    std::lock_guard<std::mutex> lock(mutex);
    ASSERT_EQ(results.size(), expectations.size());
    for (size_t i = 0; i < results.size(); ++i) {
        EXPECT_EQ(results[i].first, expectations[i].name);
        EXPECT_EQ(toHex(results[i].second), toHex(expectations[i].expected)) << expectations[i].name;
    }
}

// The buffer forms reach the CTR of their key length and report on the result loop, after
// the bytes are in the caller's buffer.
TEST_F(CryptoModuleTest, CtrIntoTheCallersBuffer) {
    module_ = std::make_unique<CryptoppCrypto>(&workLoop_, &mainLoop_);
    const Bytes counter = fromHex("f0f1f2f3f4f5f6f7f8f9fafbfcfdfeff");
    const Bytes plain = fromHex("6bc1bee22e409f96e93d7e117393172a");
    const Bytes key128 = fromHex("2b7e151628aed2a6abf7158809cf4f3c");
    const Bytes key256 = fromHex("603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4");
    const Bytes cipher128 = fromHex("874d6191b620e3261bef6864990db6ce");
    const Bytes cipher256 = fromHex("601ec313775789a5b7a7f504bbf3d228");
    struct Case {
        const char* name;
        void (CryptoModule::*operation)(const uint8_t*, uint64_t, const uint8_t*, const uint8_t*, uint8_t*,
                                        CheckCompletion);
        const Bytes& key;
        const Bytes& input;
        const Bytes& expected;
    };
    const std::vector<Case> cases = {
        {"encryptAes128Ctr", &CryptoModule::encryptAes128Ctr, key128, plain, cipher128},
        {"decryptAes128Ctr", &CryptoModule::decryptAes128Ctr, key128, cipher128, plain},
        {"encryptAes256Ctr", &CryptoModule::encryptAes256Ctr, key256, plain, cipher256},
        {"decryptAes256Ctr", &CryptoModule::decryptAes256Ctr, key256, cipher256, plain},
    };
    std::vector<Bytes> buffers(cases.size(), Bytes(16, 0));
    std::vector<std::string> mainLoopReports;
    Completions done;
    onMainLoop([&] {
        const std::thread::id mainThread = std::this_thread::get_id();
        for (size_t i = 0; i < cases.size(); ++i) {
            const Case& c = cases[i];
            (module_.get()->*c.operation)(c.input.data(), c.input.size(), counter.data(), c.key.data(),
                                          buffers[i].data(), [&, i, mainThread](bool written) {
                                              if (written && std::this_thread::get_id() == mainThread) {
                                                  mainLoopReports.push_back(cases[i].name);
                                              }
                                              done.add(cases[i].name);
                                          });
        }
    });
    ASSERT_TRUE(done.waitFor(cases.size()));
    EXPECT_EQ(done.entries(), mainLoopReports);
    for (size_t i = 0; i < cases.size(); ++i) {
        EXPECT_EQ(toHex(buffers[i]), toHex(cases[i].expected)) << cases[i].name;
    }
}

TEST_F(CryptoModuleTest, PublicKeyOperations) {
    module_ = std::make_unique<CryptoppCrypto>(&workLoop_, &mainLoop_);
    Completions completions;
    Bytes rsaPublic;
    Bytes rsaPrivate;
    onMainLoop([&] {
        module_->generateRsa3072KeyPair([&](CryptoBytes publicKey, CryptoBytes privateKey) {
            ASSERT_TRUE(publicKey && privateKey);
            rsaPublic = *publicKey;
            rsaPrivate = *privateKey;
            completions.add("keys");
        });
    });
    ASSERT_TRUE(completions.waitFor(1));

    // The signing key pair comes straight from the primitive.
    test::SyncModule sync;
    CryptoppEcdsaCrypto ecdsa;
    auto ecKeys = sync.keyPair([&](CryptoModule* m, KeyPairCompletion done) { ecdsa.generateKeyPairP384(m, done); });
    ASSERT_TRUE(ecKeys.first && ecKeys.second);

    const Bytes secret(32, 0x42);
    Bytes cipher;
    Bytes signature;
    onMainLoop([&] {
        module_->encryptRsa(secret.data(), secret.size(), rsaPublic.data(), rsaPublic.size(), [&](CryptoBytes out) {
            ASSERT_TRUE(out);
            cipher = *out;
            completions.add("encrypted");
        });
        module_->signEcdsa(secret.data(), secret.size(), ecKeys.second->data(), ecKeys.second->size(),
                           [&](CryptoBytes out) {
                               ASSERT_TRUE(out);
                               signature = *out;
                               completions.add("signed");
                           });
    });
    ASSERT_TRUE(completions.waitFor(3));
    EXPECT_EQ(cipher.size(), 384u);
    EXPECT_EQ(signature.size(), 96u);

    onMainLoop([&] {
        module_->decryptRsa(cipher.data(), cipher.size(), rsaPrivate.data(), rsaPrivate.size(), [&](CryptoBytes out) {
            ASSERT_TRUE(out);
            EXPECT_EQ(*out, secret);
            completions.add("decrypted");
        });
        module_->verifyEcdsa(secret.data(), secret.size(), ecKeys.first->data(), ecKeys.first->size(), signature.data(),
                             signature.size(), [&](bool valid) {
                                 EXPECT_TRUE(valid);
                                 completions.add("verified");
                             });
    });
    ASSERT_TRUE(completions.waitFor(5));
}

// A stopped result loop drops the completion task; the result it carried must be freed with
// it (the leak checker watches this test).
TEST(CryptoModuleResultsTest, DroppedCompletionFreesItsResult) {
    LibuvLoop stopped;
    CryptoppCrypto module(nullptr, &stopped);
    const Bytes data(100, 1);
    bool called = false;
    module.hashSha512(data.data(), data.size(), [&](CryptoBytes) { called = true; });
    module.generateRsa3072KeyPair([&](CryptoBytes, CryptoBytes) { called = true; });
    EXPECT_FALSE(called);
}

std::vector<std::string>* gDeletions = nullptr;

template <typename Base>
class Traced : public Base {
public:
    explicit Traced(std::string name) : name_(std::move(name)) {}
    ~Traced() override { gDeletions->push_back(name_); }

private:
    std::string name_;
};

TEST(CryptoModuleLifecycleTest, DeletesEveryPrimitiveInOrderAndLogs) {
    std::vector<std::string> deletions;
    gDeletions = &deletions;
    test::LogCapture log;
    {
        CryptoModule module(new Traced<CryptoppRandomNumberGenerator>("random"), new Traced<CryptoppAesCrypto>("aes"),
                            new Traced<CryptoppAesCryptoExtra>("aes extra"), new Traced<CryptoppRsaCrypto>("rsa"),
                            new Traced<CryptoppShaHash>("sha"), new Traced<CryptoppEcdsaCrypto>("ecdsa"), nullptr,
                            nullptr);
        EXPECT_EQ(log.count("Initializing Crypto++ AES crypto"), 1u);
    }
    EXPECT_EQ(deletions, (std::vector<std::string>{"random", "aes", "aes extra", "rsa", "sha", "ecdsa"}));
    EXPECT_EQ(log.count("Deleting CryptoModule"), 1u);
    gDeletions = nullptr;
}

TEST(CryptoModuleSyncTest, XorKeys) {
    struct Case {
        const char* name;
        Bytes first;
        Bytes second;
        Bytes expected;
    };
    const std::vector<Case> cases = {
        {"longer_first", Bytes(32, 0xf0), Bytes(16, 0x0f), Bytes(16, 0xff)},
        {"longer_second", fromHex("0102"), fromHex("0304ffff"), fromHex("0206")},
        {"empty", Bytes(), Bytes(8, 1), Bytes()},
        {"equal_inputs", fromHex("a1b2c3"), fromHex("a1b2c3"), Bytes(3, 0)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CryptoBytes result = CryptoModule::xorKeys(c.first, c.second);
        ASSERT_TRUE(result);
        EXPECT_EQ(*result, c.expected);
    }
}

TEST(CryptoModuleSyncTest, GenerateRandom) {
    CryptoppCrypto module(nullptr, nullptr);
    Bytes untouched(8, 0x77);
    module.generateRandom(untouched.data(), 0);
    EXPECT_EQ(untouched, Bytes(8, 0x77));

    Bytes first(32, 0);
    Bytes second(32, 0);
    module.generateRandom(first.data(), first.size());
    module.generateRandom(second.data(), second.size());
    EXPECT_NE(first, second);
    EXPECT_NE(first, Bytes(32, 0));
}

}  // namespace
}  // namespace corvane
