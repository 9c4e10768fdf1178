#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <cryptopp/aes.h>
#include <cryptopp/modes.h>
#include <gtest/gtest.h>

#include "account_directory.h"
#include "cloud/cloud.h"
#include "corvane/account_info_data.h"
#include "corvane/action_types.h"
#include "corvane/mutable_action_data.h"
#include "crypto/crypto_manager.h"
#include "database/mutable_transfer_data.h"
#include "support/facade_fixture.h"
#include "support/log_capture.h"
#include "support/run_on_loop.h"
#include "transfer/download_transfer_processor.h"
#include "transfer/transfer_listener.h"
#include "transfer/upload_transfer_processor.h"

namespace corvane {
namespace {

using Bytes = std::vector<uint8_t>;
using service::ChunkFault;

constexpr auto kTransferWait = std::chrono::seconds(90);

// The owner of one transfer, and the smallest scheduler there is: a failed
// upload attempt goes straight back to its processor.
class TransferOwner : public TransferListener {
public:
    TransferOwner(Loop* loop, TransferProcessor* processor) : loop_(loop), processor_(processor) {}

    void onTransferStart(std::shared_ptr<MutableTransferData>) override {
        std::lock_guard<std::mutex> lock(mutex_);
        ++starts;
    }
    void onTransferProgress(std::shared_ptr<MutableTransferData> transfer) override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            progress.push_back(transfer->getTransferred());
        }
        if (onProgress) {
            onProgress(*transfer);
        }
    }
    void onTransferError(std::shared_ptr<MutableTransferData> transfer) override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            ++errors;
            processorAtError = transfer->getProcessor();
        }
        TransferProcessor* processor = processor_;
        loop_->post([processor, transfer]() { processor->setTransfer(transfer); });
    }
    void onTransferFinish(std::shared_ptr<MutableTransferData> transfer) override {
        std::lock_guard<std::mutex> lock(mutex_);
        ++finishes;
        error = transfer->getError().getCode();
        status = transfer->getStatus();
        done_.notify_all();
    }

    // False when the transfer did not finish in time.
    bool wait() {
        std::unique_lock<std::mutex> lock(mutex_);
        return done_.wait_for(lock, kTransferWait, [&] { return finishes > 0; });
    }

    // Runs on the main loop at every progress report.
    std::function<void(MutableTransferData&)> onProgress;
    int starts = 0;
    int errors = 0;
    int finishes = 0;
    int32_t error = -1;
    int32_t status = -1;
    TransferProcessor* processorAtError = nullptr;
    std::vector<uint64_t> progress;

private:
    Loop* loop_;
    TransferProcessor* processor_;
    std::mutex mutex_;
    std::condition_variable done_;
};

// The bytes a file holds: a pattern no two chunks share.
Bytes patternBytes(size_t size, uint32_t seed) {
    Bytes bytes(size);
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < size; ++i) {
        x = x * 1103515245u + 12345u;
        bytes[i] = static_cast<uint8_t>(x >> 16);
    }
    return bytes;
}

void writeFile(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Bytes readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// AES-CTR over the whole content from a zero counter: what every chunk's
// encryption at its offset must add up to.
Bytes decryptWhole(const Bytes& cipher, const Bytes& key, uint8_t scheme) {
    const size_t keySize = scheme == 2 ? 16 : 32;
    const uint8_t iv[16] = {};
    CryptoPP::CTR_Mode<CryptoPP::AES>::Decryption aes;
    aes.SetKeyWithIV(key.data(), keySize, iv, sizeof(iv));
    Bytes plain(cipher.size());
    if (!cipher.empty()) {
        aes.ProcessData(plain.data(), cipher.data(), cipher.size());
    }
    return plain;
}

struct UploadResult {
    bool finished = false;
    int32_t error = -1;
    int errors = 0;
    uint64_t node = 0;
    Bytes key;
    uint8_t scheme = 0;
    std::vector<std::string> ranges;
    int addNodes = 0;
};

class ChunkedTransferTest : public test::FacadeFixture {
protected:
    void SetUp() override {
        FacadeFixture::SetUp();
        // Chunk links are not pinned: the stand-in's certificate must be trusted as
        // a CA.
        deployment_.reset();
        deployment_ = std::make_unique<test::StandInDeployment>(service_, test::StandInDeployment::Trust::CaFile);
        ASSERT_EQ(registerUser("ada@example.com", "correct horse battery").error, 0);
        // The account's tree, so that new nodes have their parent in the cache.
        ASSERT_EQ(run(GET_NODES, [](MutableActionData&) {}).error, 0);
        api_ = &test::FacadeAccess::manager(*facade_);
        loop_ = api_->getLoop();
        test::runOnLoop(*loop_, [this]() {
            upload_ = std::make_unique<UploadTransferProcessor>(api_->getHttpModule(), api_->getCryptoManager(),
                                                                api_->getFilesystem(), nullptr, api_);
            download_ = std::make_unique<DownloadTransferProcessor>(api_->getHttpModule(), api_->getCryptoManager(),
                                                                    api_->getFilesystem(), nullptr, api_);
            upload_->setRetryPolicy(TransferRetryPolicy{3, 0});
            Cloud* cloud = api_->getCloud();
            root_ = cloud->getMainRoot() ? cloud->getMainRoot()->getId() : 0;
            scheme_ = cloud->getAccountInfo() ? cloud->getAccountInfo()->getCrypto() : 0;
        });
        ASSERT_NE(root_, 0u);
    }

    void TearDown() override {
        if (loop_ != nullptr) {
            // Cancelled chunk requests report back before their slots may go.
            waitIdle();
            test::runOnLoop(*loop_, [this]() {
                upload_.reset();
                download_.reset();
            });
        }
        FacadeFixture::TearDown();
    }

    // Lets the download processor go, as the scheduler does after a finish, and waits until
    // both processors have nothing in flight (a bounded number of loop turns).
    void waitIdle() {
        test::runOnLoop(*loop_, [&]() {
            if (download_ && download_->getTransfer()) {
                download_->setTransfer(nullptr);
            }
        });
        for (int turn = 0; turn < 100000; ++turn) {
            if (test::runOnLoop(
                    *loop_, [&]() { return (!upload_ || upload_->isIdle()) && (!download_ || download_->isIdle()); })) {
                return;
            }
        }
        ADD_FAILURE() << "the processors did not become idle";
    }

    std::string path(const std::string& name) const { return dataDir_.path() + "/" + name; }

    UploadResult uploadFile(const std::string& file, TransferOwner* watch = nullptr) {
        service_.clearRequests();
        UploadResult result;
        TransferOwner owner(loop_, upload_.get());
        auto transfer = std::make_shared<MutableTransferData>();
        auto action = std::make_shared<MutableActionData>(UPLOAD);
        const uint64_t size = std::filesystem::file_size(file);
        test::runOnLoop(*loop_, [&]() {
            CryptoBytes key = api_->getCryptoManager()->generateNodeKey(scheme_, 20);
            transfer->setType(0);
            transfer->setFile(file.c_str());
            transfer->setNodeId(root_);
            transfer->setSize(size);
            transfer->setEndOffset(size);
            transfer->setNodeKey(key->data(), key->size());
            transfer->setOwner(watch != nullptr ? watch : &owner);
            transfer->setAction(action);
            upload_->setTransfer(transfer);
        });
        TransferOwner& used = watch != nullptr ? *watch : owner;
        result.finished = used.wait();
        test::runOnLoop(*loop_, [&]() {
            result.error = transfer->getError().getCode();
            result.errors = used.errors;
            if (action->getNode()) {
                result.node = action->getNode()->getId();
            }
            result.key = *transfer->getNodeKey();
            result.scheme = transfer->getCryptoScheme();
            // Nothing of the transfer may run once it has finished.
            transfer->setOwner(nullptr);
        });
        for (const auto& request : service_.requests()) {
            if (request.path.rfind("/ul/", 0) == 0) {
                result.ranges.push_back(request.path.substr(request.path.rfind('/') + 1));
            }
        }
        return result;
    }

    // Finishes with the transfer's error; -1 when it did not finish in time.
    int32_t downloadFile(const UploadResult& uploaded, const std::string& file, uint64_t size) {
        TransferOwner owner(loop_, download_.get());
        auto transfer = std::make_shared<MutableTransferData>();
        test::runOnLoop(*loop_, [&]() {
            transfer->setType(1);
            transfer->setFile(file.c_str());
            transfer->setNodeId(uploaded.node);
            transfer->setNodeKey(uploaded.key.data(), uploaded.key.size());
            transfer->setOwner(&owner);
            transfer->setAction(std::make_shared<MutableActionData>(DOWNLOAD));
            download_->setTransfer(transfer);
        });
        const bool finished = owner.wait();
        int32_t error = -1;
        test::runOnLoop(*loop_, [&]() {
            error = finished ? transfer->getError().getCode() : -1;
            transfer->setOwner(nullptr);
            EXPECT_EQ(download_->parkedCount(), 0u);
        });
        EXPECT_EQ(owner.finishes, finished ? 1 : 0);
        static_cast<void>(size);
        return error;
    }

    SdkApiManager* api_ = nullptr;
    Loop* loop_ = nullptr;
    std::unique_ptr<UploadTransferProcessor> upload_;
    std::unique_ptr<DownloadTransferProcessor> download_;
    uint64_t root_ = 0;
    uint8_t scheme_ = 0;
};

TEST_F(ChunkedTransferTest, ThreeMillionBytesGoUpInThreeRangesAsCiphertextAndComeBackVerified) {
    const Bytes content = patternBytes(3000000, 1);
    writeFile(path("three.bin"), content);
    const UploadResult uploaded = uploadFile(path("three.bin"));
    ASSERT_TRUE(uploaded.finished);
    ASSERT_EQ(uploaded.error, 0);
    ASSERT_NE(uploaded.node, 0u);
    std::vector<std::string> ranges = uploaded.ranges;
    std::sort(ranges.begin(), ranges.end());
    EXPECT_EQ(ranges, (std::vector<std::string>{"0-1048575", "1048576-2097151", "2097152-2999999"}));

    // What the service holds is the file encrypted with the node key, nothing
    // else.
    const std::string stored = service_.contentFile(uploaded.node);
    ASSERT_FALSE(stored.empty());
    const Bytes cipher = readFile(stored);
    ASSERT_EQ(cipher.size(), content.size());
    EXPECT_NE(cipher, content);
    EXPECT_EQ(decryptWhole(cipher, uploaded.key, uploaded.scheme), content);

    test::LogCapture log;
    const std::string target = path("three.back");
    EXPECT_EQ(downloadFile(uploaded, target, content.size()), 0);
    EXPECT_EQ(readFile(target), content);
    EXPECT_EQ(log.count("Transfer data correctly verified"), 1u);
    EXPECT_EQ(log.count("[trproc] Chunk "), 3u);
}

TEST_F(ChunkedTransferTest, KnownContentIsReusedWithoutSendingAChunk) {
    const Bytes content = patternBytes(1500000, 2);
    writeFile(path("first.bin"), content);
    writeFile(path("second.bin"), content);
    const UploadResult first = uploadFile(path("first.bin"));
    ASSERT_EQ(first.error, 0);
    ASSERT_FALSE(first.ranges.empty());

    const UploadResult second = uploadFile(path("second.bin"));
    ASSERT_TRUE(second.finished);
    EXPECT_EQ(second.error, 0);
    EXPECT_TRUE(second.ranges.empty()) << "the content is on the service already";
    EXPECT_NE(second.node, 0u);
    EXPECT_NE(second.node, first.node);
}

TEST_F(ChunkedTransferTest, EmptyAndLargeSparseFilesRoundTrip) {
    struct Case {
        const char* name;
        uint64_t size;
    };
    for (const Case& c : {Case{"zero bytes", 0}, Case{"100 MiB sparse", uint64_t(100) << 20}}) {
        SCOPED_TRACE(c.name);
        const std::string source = path(std::string(c.name) + ".src");
        { std::ofstream out(source, std::ios::binary | std::ios::trunc); }
        std::filesystem::resize_file(source, c.size);
        // A few bytes in the middle, so that the content is not all zeros.
        if (c.size > 0) {
            std::fstream out(source, std::ios::binary | std::ios::in | std::ios::out);
            out.seekp(static_cast<std::streamoff>(c.size / 2));
            out.write("sparse", 6);
        }
        const UploadResult uploaded = uploadFile(source);
        ASSERT_TRUE(uploaded.finished);
        ASSERT_EQ(uploaded.error, 0);
        ASSERT_NE(uploaded.node, 0u);
        EXPECT_EQ(uploaded.ranges.size(), (c.size + 1048575) / 1048576);

        test::LogCapture log;
        const std::string target = path(std::string(c.name) + ".back");
        EXPECT_EQ(downloadFile(uploaded, target, c.size), 0);
        EXPECT_EQ(std::filesystem::file_size(target), c.size);
        EXPECT_EQ(readFile(target), readFile(source));
        if (c.size == 0) {
            EXPECT_TRUE(log.contains("Skipping data verification of zero-byte transfer"));
        } else {
            EXPECT_TRUE(log.contains("Transfer data correctly verified"));
        }
    }
}

}  // namespace
}  // namespace corvane

namespace corvane {
namespace {

TEST_F(ChunkedTransferTest, UploadFaultsEndInACompleteUploadOrInTheError) {
    struct Case {
        const char* name;
        ChunkFault::Kind kind;
        int times;
        int32_t error;
        // Attempts the processor itself had to start again.
        int minRetries;
        int maxRetries;
    };
    // The HTTP module retries 500s and dropped connections on its own; a 404 is
    // final for it, so the processor starts the upload again; a missing token
    // sends it round again as well.
    const std::vector<Case> cases{
        {"500 then success", ChunkFault::Kind::ServerError, 1, 0, 0, 0},
        {"dropped mid-body", ChunkFault::Kind::Drop, 1, 0, 0, 0},
        {"404 once", ChunkFault::Kind::NotFound, 1, 0, 1, 1},
        {"missing token", ChunkFault::Kind::NoToken, 1, 0, 1, 1},
        {"slow body", ChunkFault::Kind::SlowBody, 1, 0, 0, 0},
        {"404 for ever", ChunkFault::Kind::NotFound, -1, 18, 3, 3},
    };
    uint32_t seed = 10;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        service_.clearChunkFaults();
        ChunkFault fault;
        fault.link = ChunkFault::Link::Upload;
        fault.kind = c.kind;
        // Whichever chunk completes the upload answers the token: the missing one may be any.
        fault.first = c.kind == ChunkFault::Kind::NoToken ? -1 : 1048576;
        fault.times = c.times;
        fault.slowFor = std::chrono::milliseconds(1500);
        service_.addChunkFault(fault);
        // New content each time, or the second case would reuse the first one's
        // node.
        const Bytes content = patternBytes(2500000, ++seed);
        const std::string file = path(std::string("fault-") + std::to_string(seed));
        writeFile(file, content);
        test::LogCapture log;
        TransferOwner owner(loop_, upload_.get());
        const UploadResult uploaded = uploadFile(file, &owner);
        ASSERT_TRUE(uploaded.finished);
        EXPECT_EQ(uploaded.error, c.error);
        EXPECT_GE(uploaded.errors, c.minRetries);
        EXPECT_LE(uploaded.errors, c.maxRetries);
        // A transfer waiting for its next attempt is nobody's: cancelling it
        // reaches no processor.
        if (uploaded.errors > 0) {
            EXPECT_EQ(owner.processorAtError, nullptr);
        }
        if (c.error != 0) {
            EXPECT_TRUE(log.contains("[trproc] Transfer finished with error. Retries limit was exceded."));
            EXPECT_EQ(uploaded.node, 0u);
            continue;
        }
        ASSERT_NE(uploaded.node, 0u);
        const Bytes cipher = readFile(service_.contentFile(uploaded.node));
        EXPECT_EQ(decryptWhole(cipher, uploaded.key, uploaded.scheme), content);
    }
    service_.clearChunkFaults();
}

TEST_F(ChunkedTransferTest, DownloadFaultsNeverLeaveWrongBytesReportedAsGood) {
    const Bytes content = patternBytes(3500000, 40);
    writeFile(path("source.bin"), content);
    const UploadResult uploaded = uploadFile(path("source.bin"));
    ASSERT_EQ(uploaded.error, 0);

    struct Case {
        const char* name;
        ChunkFault::Kind kind;
        int32_t error;
        const char* line;
    };
    const std::vector<Case> cases{
        {"500 then success", ChunkFault::Kind::ServerError, 0, "Transfer data correctly verified"},
        {"dropped mid-body", ChunkFault::Kind::Drop, 0, "Transfer data correctly verified"},
        {"slow body", ChunkFault::Kind::SlowBody, 0, "Transfer data correctly verified"},
        {"404", ChunkFault::Kind::NotFound, 18, "failed (status 404"},
        {"short body", ChunkFault::Kind::ShortBody, 18, "failed (status 200, 524288 bytes)"},
        {"flipped ciphertext byte", ChunkFault::Kind::FlipByte, 18, "Corrupt transfer data"},
    };
    int round = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        service_.clearChunkFaults();
        ChunkFault fault;
        fault.link = ChunkFault::Link::Download;
        fault.kind = c.kind;
        fault.first = 1048576;
        fault.times = 1;
        fault.slowFor = std::chrono::milliseconds(1500);
        service_.addChunkFault(fault);
        test::LogCapture log;
        const std::string target = path("target-" + std::to_string(++round));
        const int32_t error = downloadFile(uploaded, target, content.size());
        EXPECT_EQ(error, c.error);
        EXPECT_TRUE(log.contains(c.line));
        // A failed download's file is gone by the time its end is reported.
        if (c.error == 0) {
            EXPECT_EQ(readFile(target), content);
        } else {
            EXPECT_FALSE(std::filesystem::exists(target)) << "a wrong file must not stay";
        }
        waitIdle();
    }
    service_.clearChunkFaults();
}

TEST_F(ChunkedTransferTest, AFileChangedDuringItsUploadIsUploadedAgainAsItIsNow) {
    Bytes content = patternBytes(2200000, 50);
    const std::string file = path("changing.bin");
    writeFile(file, content);
    TransferOwner owner(loop_, upload_.get());
    bool changed = false;
    owner.onProgress = [&](MutableTransferData& transfer) {
        if (changed || transfer.getTransferred() == 0) {
            return;
        }
        changed = true;
        // Same size, another byte and a later modification time.
        content[10] ^= 0x55;
        writeFile(file, content);
        std::filesystem::last_write_time(file, std::filesystem::last_write_time(file) + std::chrono::seconds(5));
    };
    test::LogCapture log;
    const UploadResult uploaded = uploadFile(file, &owner);
    ASSERT_TRUE(uploaded.finished);
    ASSERT_EQ(uploaded.error, 0);
    EXPECT_TRUE(changed);
    EXPECT_EQ(uploaded.errors, 1);
    EXPECT_TRUE(log.contains("File modified during upload"));
    ASSERT_NE(uploaded.node, 0u);
    EXPECT_EQ(decryptWhole(readFile(service_.contentFile(uploaded.node)), uploaded.key, uploaded.scheme), content);
}

// The bytes of a chunk move in pieces of a few KiB; the owner hears of them at most every
// progress interval, and always of the last byte.
TEST_F(ChunkedTransferTest, ProgressReportsAreCoalescedAndEndAtTheSize) {
    const Bytes content = patternBytes(8 << 20, 90);
    writeFile(path("progress.bin"), content);
    TransferOwner owner(loop_, upload_.get());
    const auto start = std::chrono::steady_clock::now();
    const UploadResult uploaded = uploadFile(path("progress.bin"), &owner);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    ASSERT_TRUE(uploaded.finished);
    ASSERT_EQ(uploaded.error, 0);
    ASSERT_FALSE(owner.progress.empty());
    EXPECT_EQ(owner.progress.back(), content.size());
    // The first and the last report, one per interval between them, and one of slack.
    const auto intervals = static_cast<size_t>(elapsed / TransferProcessor::kProgressInterval);
    EXPECT_LE(owner.progress.size(), intervals + 3);
}

TEST_F(ChunkedTransferTest, AKeyThatCannotEncryptFailsTheUploadWithoutSendingAChunk) {
    writeFile(path("badkey.bin"), patternBytes(1200000, 60));
    service_.clearRequests();
    TransferOwner owner(loop_, upload_.get());
    auto transfer = std::make_shared<MutableTransferData>();
    const std::string file = path("badkey.bin");
    test::runOnLoop(*loop_, [&]() {
        const uint8_t shortKey[5] = {1, 2, 3, 4, 5};
        transfer->setType(0);
        transfer->setFile(file.c_str());
        transfer->setNodeId(root_);
        transfer->setSize(1200000);
        transfer->setEndOffset(1200000);
        transfer->setNodeKey(shortKey, sizeof(shortKey));
        transfer->setOwner(&owner);
        transfer->setAction(std::make_shared<MutableActionData>(UPLOAD));
        upload_->setTransfer(transfer);
    });
    ASSERT_TRUE(owner.wait());
    EXPECT_EQ(owner.error, CRYPTOGRAPHIC_ERROR);
    EXPECT_EQ(owner.status, 4);
    EXPECT_EQ(owner.errors, 0);
    for (const auto& request : service_.requests()) {
        EXPECT_NE(request.path.rfind("/ul/", 0), 0u) << request.path;
    }
    test::runOnLoop(*loop_, [&]() { transfer->setOwner(nullptr); });
}

}  // namespace
}  // namespace corvane

namespace corvane {
namespace {

TEST_F(ChunkedTransferTest, AnExceededQuotaEndsTheUploadWithThirteenAndSendsNoChunk) {
    auto user = service_.accounts().userByEmail("ada@example.com");
    ASSERT_TRUE(user.has_value());
    ASSERT_TRUE(service_.setQuotaExceeded(user->mainAccount, true));
    const std::string file = path("over.bin");
    writeFile(file, patternBytes(1300000, 70));
    TransferOwner owner(loop_, upload_.get());
    const UploadResult uploaded = uploadFile(file, &owner);
    ASSERT_TRUE(uploaded.finished);
    EXPECT_EQ(uploaded.error, QUOTA_EXCEEDED);
    EXPECT_EQ(uploaded.errors, 0);
    EXPECT_TRUE(uploaded.ranges.empty());
    EXPECT_EQ(uploaded.node, 0u);
    EXPECT_EQ(owner.status, 4);
}

TEST_F(ChunkedTransferTest, OneLateChunkParksOnlyAFewMebibytesOfTheOnesAfterIt) {
    const uint64_t size = uint64_t(20) << 20;
    const Bytes content = patternBytes(size, 80);
    writeFile(path("wide.bin"), content);
    const UploadResult uploaded = uploadFile(path("wide.bin"));
    ASSERT_EQ(uploaded.error, 0);

    ChunkFault fault;
    fault.link = ChunkFault::Link::Download;
    fault.kind = ChunkFault::Kind::SlowBody;
    fault.first = 0;
    fault.times = 1;
    fault.slowFor = std::chrono::milliseconds(3000);
    service_.addChunkFault(fault);
    size_t mostParked = 0;
    TransferOwner owner(loop_, download_.get());
    owner.onProgress = [&](MutableTransferData&) { mostParked = std::max(mostParked, download_->parkedCount()); };
    auto transfer = std::make_shared<MutableTransferData>();
    const std::string target = path("wide.back");
    test::runOnLoop(*loop_, [&]() {
        transfer->setType(1);
        transfer->setFile(target.c_str());
        transfer->setNodeId(uploaded.node);
        transfer->setNodeKey(uploaded.key.data(), uploaded.key.size());
        transfer->setOwner(&owner);
        transfer->setAction(std::make_shared<MutableActionData>(DOWNLOAD));
        download_->setTransfer(transfer);
    });
    ASSERT_TRUE(owner.wait());
    EXPECT_EQ(owner.error, 0);
    EXPECT_EQ(readFile(target), content);
    // While the first chunk crawls, the others wait parked; never more than the look-ahead.
    EXPECT_GT(mostParked, 0u);
    EXPECT_LE(mostParked, DownloadTransferProcessor::kMaxLookAhead / TransferProcessor::kChunkSize);
    test::runOnLoop(*loop_, [&]() { transfer->setOwner(nullptr); });
    service_.clearChunkFaults();
}

}  // namespace
}  // namespace corvane
