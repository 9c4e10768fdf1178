#include "metadata/metadata_manager.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <cryptopp/aes.h>
#include <cryptopp/filters.h>
#include <cryptopp/gcm.h>
#include <cryptopp/osrng.h>
#include <gtest/gtest.h>

#include "cloud/cloud_test_support.h"
#include "corvane/action_listener.h"
#include "corvane/action_types.h"
#include "corvane/error.h"
#include "corvane/mutable_action_data.h"
#include "database/mutable_transfer_data.h"
#include "http/http_module.h"
#include "support/manager_modules.h"
#include "support/run_on_loop.h"

namespace corvane {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr auto kWait = std::chrono::seconds(60);
constexpr uint32_t kScheme = 0;

// Sealed as the service stores a blob: 12-byte nonce, ciphertext, 16-byte tag (AES-256-GCM).
Bytes seal(const Bytes& key, const Bytes& plain) {
    CryptoPP::AutoSeededRandomPool random;
    Bytes nonce(12);
    random.GenerateBlock(nonce.data(), nonce.size());
    CryptoPP::GCM<CryptoPP::AES>::Encryption gcm;
    gcm.SetKeyWithIV(key.data(), key.size(), nonce.data(), nonce.size());
    std::string sealed;
    CryptoPP::StringSource source(plain.data(), plain.size(), true,
                                  new CryptoPP::AuthenticatedEncryptionFilter(gcm, new CryptoPP::StringSink(sealed)));
    Bytes out = nonce;
    out.insert(out.end(), sealed.begin(), sealed.end());
    return out;
}

// The plaintext of a sealed blob; false when it does not open.
bool open(const Bytes& key, const Bytes& blob, Bytes& plain) {
    if (blob.size() < 28) {
        return false;
    }
    try {
        CryptoPP::GCM<CryptoPP::AES>::Decryption gcm;
        gcm.SetKeyWithIV(key.data(), key.size(), blob.data(), 12);
        std::string out;
        CryptoPP::StringSource source(blob.data() + 12, blob.size() - 12, true,
                                      new CryptoPP::AuthenticatedDecryptionFilter(gcm, new CryptoPP::StringSink(out)));
        plain.assign(out.begin(), out.end());
        return true;
    } catch (const CryptoPP::Exception&) {
        return false;
    }
}

Bytes pattern(size_t size, uint8_t seed) {
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<uint8_t>(i * 31 + seed);
    }
    return bytes;
}

Bytes randomKey() {
    CryptoPP::AutoSeededRandomPool random;
    Bytes key(32);
    random.GenerateBlock(key.data(), key.size());
    return key;
}

void writeFile(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Bytes readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// An HTTP transport that holds every request until the test answers it; cancelled requests
// report back at once, as the real one's do.
class HeldHttp : public HttpModule {
public:
    HeldHttp(Loop* httpLoop, TaskManager* mainLoop) : HttpModule(httpLoop, nullptr, mainLoop) {}

    // Requests sent so far and the most held at one time.
    size_t sent() {
        std::lock_guard<std::mutex> lock(mutex_);
        return sent_;
    }
    size_t mostHeld() {
        std::lock_guard<std::mutex> lock(mutex_);
        return mostHeld_;
    }
    std::vector<HttpRequest*> held() {
        std::lock_guard<std::mutex> lock(mutex_);
        return held_;
    }
    bool waitForSent(size_t count) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, kWait, [&] { return sent_ >= count; });
    }
    // The bodies the held requests carried, by URL.
    std::map<std::string, Bytes> bodies() {
        std::lock_guard<std::mutex> lock(mutex_);
        return bodies_;
    }

    // Ends a held request with the status and answer body, on the HTTP loop.
    void answer(HttpRequest* request, int32_t status, Bytes body) {
        httpLoop()->post([this, request, status, body = std::move(body)]() {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                auto at = std::find(held_.begin(), held_.end(), request);
                if (at == held_.end()) {
                    return;
                }
                held_.erase(at);
            }
            if (!body.empty()) {
                request->buffer.write(body.data(), static_cast<uint32_t>(body.size()));
            }
            request->status = status;
            request->state = HttpRequest::kClosed;
            onHttpRequestFinished(request);
        });
    }

protected:
    void sendHttpRequest(HttpRequest* request) override {
        std::lock_guard<std::mutex> lock(mutex_);
        request->state = HttpRequest::kInTransfer;
        held_.push_back(request);
        bodies_[request->url] = request->body;
        ++sent_;
        mostHeld_ = std::max(mostHeld_, held_.size());
        changed_.notify_all();
    }
    void abortHttpRequest(HttpRequest* request) override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            held_.erase(std::remove(held_.begin(), held_.end(), request), held_.end());
        }
        onHttpRequestFinished(request);
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<HttpRequest*> held_;
    std::map<std::string, Bytes> bodies_;
    size_t sent_ = 0;
    size_t mostHeld_ = 0;
};

// Keeps the outcome of every action it hears finish.
class FinishRecorder : public ActionListener {
public:
    void onActionFinish(std::shared_ptr<ActionData> action) override {
        std::lock_guard<std::mutex> lock(mutex_);
        errors_[action->getSequenceId()] = action->getErrorCode();
        changed_.notify_all();
    }
    bool waitFor(size_t count) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, kWait, [&] { return errors_.size() >= count; });
    }
    std::map<int32_t, int32_t> errors() {
        std::lock_guard<std::mutex> lock(mutex_);
        return errors_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::map<int32_t, int32_t> errors_;
};

class MetadataManagerTest : public ::testing::Test {
protected:
    void SetUp() override {
        http_ = std::make_unique<HeldHttp>(&modules_.httpLoop, &modules_.mainLoop);
        modules_.onLoop([&] {
            manager_ = std::make_unique<MetadataManager>(http_.get(), modules_.cryptoManager.get(),
                                                         modules_.database.get(), modules_.filesystem.get());
        });
    }

    void TearDown() override {
        waitIdle();
        modules_.onLoop([&] { manager_.reset(); });
        http_.reset();
    }

    // Cancelled requests and writes report back before the manager may go (loop turns, no
    // clock).
    void waitIdle() {
        for (int turn = 0; turn < 100000; ++turn) {
            test::runOnLoop(modules_.httpLoop, [] {});
            if (modules_.onLoop([&] { return manager_->isIdle(); })) {
                return;
            }
        }
        ADD_FAILURE() << "the metadata manager did not become idle";
    }

    std::string path(const std::string& name) const { return dir_.path() + "/" + name; }

    std::shared_ptr<MutableActionData> action(int32_t type, int32_t sequence, const std::string& file, uint64_t size,
                                              const Bytes& key) {
        auto data = std::make_shared<MutableActionData>(type);
        data->setSequenceId(sequence);
        data->setName(file.c_str());
        data->setSize(size);
        data->setCrypto(kScheme);
        data->setKey(&key);
        data->setText(("https://blob.test/" + std::to_string(sequence)).c_str());
        return data;
    }

    // Queues the transfers on the SDK main loop, then lets the HTTP loop take what went out.
    void start(const std::vector<std::shared_ptr<MutableActionData>>& actions) {
        modules_.onLoop([&] {
            for (const auto& data : actions) {
                manager_->processTransfer(data, &finishes_);
            }
        });
        test::runOnLoop(modules_.httpLoop, [] {});
    }

    test::CloudTempDir dir_;
    test::ManagerModules modules_;
    std::unique_ptr<HeldHttp> http_;
    std::unique_ptr<MetadataManager> manager_;
    FinishRecorder finishes_;
};

TEST(MetadataManagerLifecycleTest, BuiltAndDeletedOverRealModulesRepeatedly) {
    for (int round = 0; round < 3; ++round) {
        test::ManagerModules modules;
        auto manager = std::make_unique<MetadataManager>(modules.http.get(), modules.cryptoManager.get(),
                                                         modules.database.get(), modules.filesystem.get());
        manager.reset();
    }
}

TEST_F(MetadataManagerTest, ElevenDownloadsRunTenAtOnceAndTheEleventhWhenOneEnds) {
    const Bytes key = randomKey();
    std::vector<std::shared_ptr<MutableActionData>> actions;
    std::map<std::string, Bytes> plains;
    for (int32_t i = 1; i <= 11; ++i) {
        const Bytes plain = pattern(1000 + i, static_cast<uint8_t>(i));
        auto data = action(DOWNLOAD_METADATA, i, path("thumb" + std::to_string(i)), plain.size() + 28, key);
        plains[data->getText()] = plain;
        actions.push_back(data);
    }
    start(actions);
    EXPECT_EQ(http_->sent(), 10u);
    EXPECT_EQ(modules_.onLoop([&] { return manager_->activeTransfers(1); }), 10);

    HttpRequest* first = http_->held().front();
    http_->answer(first, 200, seal(key, plains[first->url]));
    ASSERT_TRUE(http_->waitForSent(11)) << "the eleventh never went out";
    ASSERT_TRUE(finishes_.waitFor(1));
    for (HttpRequest* request : http_->held()) {
        http_->answer(request, 200, seal(key, plains[request->url]));
    }
    ASSERT_TRUE(finishes_.waitFor(11));
    EXPECT_EQ(http_->mostHeld(), 10u);
    for (const auto& [sequence, error] : finishes_.errors()) {
        EXPECT_EQ(error, 0) << sequence;
    }
    for (const auto& data : actions) {
        EXPECT_EQ(readFile(data->getName()), plains[data->getText()]) << data->getName();
    }
}

// How a blob download ends, by what the link answers.
TEST_F(MetadataManagerTest, DownloadEndings) {
    struct Case {
        const char* name;
        uint64_t announced;  // the size the link request gave
        int32_t status;
        enum { kSealed, kDamaged, kEmpty } body;
        int32_t error;
    };
    const std::vector<Case> cases{
        {"stored blob", 1028, 200, Case::kSealed, SUCCESS},
        // A blob announced with size 0 must still end after its one request.
        {"blob announced with size 0", 0, 200, Case::kSealed, SUCCESS},
        {"damaged blob", 1028, 200, Case::kDamaged, CRYPTOGRAPHIC_ERROR},
        {"empty answer", 1028, 200, Case::kEmpty, CRYPTOGRAPHIC_ERROR},
        {"error page", 1028, 404, Case::kSealed, IO_ERROR},
    };
    int32_t sequence = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ++sequence;
        const Bytes key = randomKey();
        const Bytes plain = pattern(1000, static_cast<uint8_t>(sequence));
        const std::string file = path("preview" + std::to_string(sequence));
        const size_t sentBefore = http_->sent();
        start({action(DOWNLOAD_METADATA, sequence, file, c.announced, key)});
        ASSERT_EQ(http_->sent(), sentBefore + 1);
        Bytes body = c.body == Case::kEmpty ? Bytes() : seal(key, plain);
        if (c.body == Case::kDamaged) {
            body[body.size() / 2] ^= 0xFF;
        }
        http_->answer(http_->held().front(), c.status, body);
        ASSERT_TRUE(finishes_.waitFor(static_cast<size_t>(sequence)));
        EXPECT_EQ(finishes_.errors()[sequence], c.error);
        if (c.error == SUCCESS) {
            EXPECT_EQ(readFile(file), plain);
        } else {
            EXPECT_FALSE(std::filesystem::exists(file)) << "a failed download left a file";
        }
        waitIdle();
        EXPECT_EQ(http_->sent(), sentBefore + 1) << "the blob was asked for again";
    }
}

// How a blob upload ends: the answer of its one POST is the token.
TEST_F(MetadataManagerTest, UploadEndings) {
    struct Case {
        const char* name;
        bool readable;
        size_t keySize;
        int32_t status;
        std::string answer;
        int32_t error;
        bool sends;
    };
    const std::vector<Case> cases{
        {"token answered", true, 32, 200, "token-1", SUCCESS, true},
        {"no token answered", true, 32, 200, "", IO_ERROR, true},
        {"upload refused", true, 32, 404, "token-2", IO_ERROR, true},
        {"local file missing", false, 32, 0, "", IO_ERROR, false},
        // A key the scheme refuses seals nothing, so nothing may go out.
        {"seal yields nothing", true, 5, 0, "", CRYPTOGRAPHIC_ERROR, false},
    };
    int32_t sequence = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ++sequence;
        Bytes key = randomKey();
        key.resize(c.keySize);
        const Bytes plain = pattern(10 * 1024, static_cast<uint8_t>(sequence));
        const std::string file = path("image" + std::to_string(sequence));
        if (c.readable) {
            writeFile(file, plain);
        }
        auto data = action(UPLOAD_METADATA, sequence, file, plain.size() + 28, key);
        const size_t sentBefore = http_->sent();
        start({data});
        if (c.sends) {
            ASSERT_TRUE(http_->waitForSent(sentBefore + 1));
            HttpRequest* request = http_->held().front();
            EXPECT_EQ(request->url, data->getText()) << "the blob goes to its link unchanged";
            Bytes opened;
            ASSERT_TRUE(open(key, http_->bodies()[request->url], opened));
            EXPECT_EQ(opened, plain);
            EXPECT_EQ(http_->bodies()[request->url].size(), plain.size() + 28);
            http_->answer(request, c.status, Bytes(c.answer.begin(), c.answer.end()));
        }
        ASSERT_TRUE(finishes_.waitFor(static_cast<size_t>(sequence)));
        EXPECT_EQ(finishes_.errors()[sequence], c.error);
        EXPECT_EQ(http_->sent(), sentBefore + (c.sends ? 1 : 0));
        modules_.onLoop([&] {
            auto transfer = std::static_pointer_cast<MutableTransferData>(data->getTransfer());
            ASSERT_NE(transfer, nullptr);
            const ByteVector* token = transfer->getUploadToken();
            if (c.error == SUCCESS) {
                ASSERT_NE(token, nullptr);
                EXPECT_EQ(std::string(token->begin(), token->end()), c.answer);
            } else {
                EXPECT_TRUE(token == nullptr || token->empty());
            }
            // The record names no action any more: nothing keeps the pair alive.
            EXPECT_EQ(transfer->getAction(), nullptr);
        });
        waitIdle();
    }
}

TEST_F(MetadataManagerTest, ResetEndsRunningAndQueuedTransfersWithCancelled) {
    const Bytes key = randomKey();
    std::vector<std::shared_ptr<MutableActionData>> actions;
    for (int32_t i = 1; i <= 12; ++i) {
        actions.push_back(action(DOWNLOAD_METADATA, i, path("cancelled" + std::to_string(i)), 1028, key));
    }
    start(actions);
    ASSERT_EQ(http_->held().size(), 10u);
    modules_.onLoop([&] { manager_->reset(); });
    ASSERT_TRUE(finishes_.waitFor(12));
    for (const auto& [sequence, error] : finishes_.errors()) {
        EXPECT_EQ(error, CANCELLED) << sequence;
    }
    waitIdle();
    EXPECT_TRUE(http_->held().empty()) << "a cancelled request was left running";
    EXPECT_EQ(http_->sent(), 10u) << "a queued transfer went out after the reset";
    for (const auto& data : actions) {
        EXPECT_FALSE(std::filesystem::exists(data->getName()));
    }
    // The manager serves new transfers afterwards.
    const Bytes plain = pattern(300, 9);
    start({action(DOWNLOAD_METADATA, 13, path("after"), plain.size() + 28, key)});
    ASSERT_EQ(http_->held().size(), 1u);
    http_->answer(http_->held().front(), 200, seal(key, plain));
    ASSERT_TRUE(finishes_.waitFor(13));
    EXPECT_EQ(finishes_.errors()[13], SUCCESS);
    EXPECT_EQ(readFile(path("after")), plain);
}

}  // namespace
}  // namespace corvane
