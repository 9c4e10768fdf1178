// UPLOAD_METADATA and DOWNLOAD_METADATA through the facade against the loopback stand-in over
// TLS, with a second facade signed in to the same account that hears of the new metadata.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "account_directory.h"
#include "corvane/action_types.h"
#include "corvane/error.h"
#include "corvane/event_data.h"
#include "corvane/node_data.h"
#include "support/event_journal.h"
#include "support/facade_fixture.h"

namespace corvane {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr const char* kEmail = "margaret.hamilton@example.com";
constexpr const char* kPassword = "the lunar module lands";
constexpr int32_t kNoCode = -1;
constexpr int32_t kThumbnail = 1;
constexpr uint64_t kSealOverhead = 28;

Bytes imageBytes(size_t size, uint8_t seed) {
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<uint8_t>(i * 13 + seed);
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

// The error and node of a finished action.
class NodeListener : public ActionListener {
public:
    void onActionFinish(std::shared_ptr<ActionData> action) override {
        std::lock_guard<std::mutex> lock(mutex_);
        error_ = action->getErrorCode();
        node_ = action->getNode() ? action->getNode()->getId() : 0;
        finished_ = true;
        changed_.notify_all();
    }
    // False when the action did not finish in time.
    bool wait() {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(120), [&] { return finished_; });
    }
    int32_t error() {
        std::lock_guard<std::mutex> lock(mutex_);
        return error_;
    }
    uint64_t node() {
        std::lock_guard<std::mutex> lock(mutex_);
        return node_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool finished_ = false;
    int32_t error_ = -1;
    uint64_t node_ = 0;
};

class MetadataActionsTest : public test::FacadeFixture {
protected:
    void SetUp() override {
        FacadeFixture::SetUp();
        // Blob links and the long poll are not pinned: the stand-in's certificate is trusted
        // as a CA, and the facade is made again so that it reads that.
        facade_.reset();
        deployment_.reset();
        deployment_ = std::make_unique<test::StandInDeployment>(service_, test::StandInDeployment::Trust::CaFile);
        facade_ = std::make_unique<Corvane>(&taskManager_, &settings_);
        ASSERT_EQ(registerUser(kEmail, kPassword).error, 0);
        auto user = service_.accounts().userByEmail(kEmail);
        ASSERT_TRUE(user.has_value());
        account_ = user->mainAccount;
        facade_->addEventListener(&actorEvents_);
        ASSERT_EQ(run(GET_NODES, [](MutableActionData&) {}).error, 0);
        const uint64_t root = act(*facade_, GET_ROOT, [](MutableActionData& a) { a.setOption(0); }).second;
        ASSERT_NE(root, 0u);

        // A file node to carry the metadata.
        writeFile(path("report.pdf"), imageBytes(3000, 1));
        const auto uploaded = act(*facade_, UPLOAD, [&](MutableActionData& a) {
            a.setName(path("report.pdf").c_str());
            a.setParentHandle(root);
        });
        ASSERT_EQ(uploaded.first, 0);
        file_ = uploaded.second;
        ASSERT_NE(file_, 0u);

        peerSettings_.setDataPath(peerDir_.path());
        peer_ = std::make_unique<Corvane>(&taskManager_, &peerSettings_);
        peer_->addEventListener(&peerEvents_);
        ASSERT_EQ(run(*peer_, LOGIN,
                      [](MutableActionData& a) {
                          a.setEmail(kEmail);
                          a.setPassword(kPassword);
                          a.setValue(kNoCode);
                      })
                      .error,
                  0);
        ASSERT_EQ(run(*peer_, GET_NODES, [](MutableActionData&) {}).error, 0);
    }

    void TearDown() override {
        if (peer_) {
            peer_->removeEventListener(&peerEvents_);
            peer_.reset();
        }
        facade_->removeEventListener(&actorEvents_);
        FacadeFixture::TearDown();
    }

    std::string path(const std::string& name) const { return dataDir_.path() + "/" + name; }

    // The error and the node of one action.
    std::pair<int32_t, uint64_t> act(Corvane& facade, int32_t type, const Fill& fill) {
        NodeListener listener;
        test::FacadeAccess::submit(facade, type, &listener, fill);
        EXPECT_TRUE(listener.wait()) << getActionTypeName(type) << " never finished";
        taskManager_.drain();
        return {listener.error(), listener.node()};
    }

    int32_t uploadThumbnail(const std::string& file) {
        return act(*facade_, UPLOAD_METADATA,
                   [&](MutableActionData& a) {
                       a.setName(file.c_str());
                       a.setNodeHandle(file_);
                       a.setOption(kThumbnail);
                   })
            .first;
    }
    int32_t downloadThumbnail(Corvane& facade, const std::string& target) {
        return act(facade, DOWNLOAD_METADATA,
                   [&](MutableActionData& a) {
                       a.setName(target.c_str());
                       a.setNodeHandle(file_);
                       a.setOption(kThumbnail);
                   })
            .first;
    }

    std::string storedMetadata() {
        auto node = service_.accounts().node(account_, file_);
        return node ? node->metadata.value_or(std::string()) : std::string("no node");
    }

    // The UPDATED_META event of the file among the journal's, or none.
    static std::shared_ptr<EventData> updatedMeta(test::EventJournal& journal, uint64_t handle) {
        for (const auto& event : journal.events()) {
            if (event->getType() == EVENT_UPDATED_META && event->getHandle() == handle) {
                return event;
            }
        }
        return nullptr;
    }

    uint64_t account_ = 0;
    uint64_t file_ = 0;
    test::EventJournal actorEvents_;
    test::EventJournal peerEvents_;
    test::CloudTempDir peerDir_;
    CorvaneSettings peerSettings_;
    std::unique_ptr<Corvane> peer_;
};

TEST_F(MetadataActionsTest, AThumbnailGoesUpSealedAndComesBackWholeOnBothSessions) {
    const Bytes image = imageBytes(10 * 1024, 7);
    writeFile(path("thumb.jpg"), image);
    service_.clearRequests();
    ASSERT_EQ(uploadThumbnail(path("thumb.jpg")), 0);

    // One POST of the sealed blob: the image, its nonce and its tag.
    size_t posts = 0;
    for (const auto& request : service_.requests()) {
        if (request.path.rfind("/mul/", 0) == 0) {
            ++posts;
            EXPECT_EQ(request.bodySize, image.size() + kSealOverhead);
        }
    }
    EXPECT_EQ(posts, 1u);
    EXPECT_EQ(storedMetadata().size(), 10u) << "one entry of the thumbnail's kind";

    // The other session hears of it as a change made elsewhere; this one as its own.
    ASSERT_TRUE(peerEvents_.waitFor("UPDATED_META"));
    auto heard = updatedMeta(peerEvents_, file_);
    ASSERT_NE(heard, nullptr);
    EXPECT_TRUE(heard->isExternal());
    auto own = updatedMeta(actorEvents_, file_);
    ASSERT_NE(own, nullptr);
    EXPECT_FALSE(own->isExternal());

    ASSERT_EQ(downloadThumbnail(*facade_, path("back.jpg")), 0);
    EXPECT_EQ(readFile(path("back.jpg")), image);
    ASSERT_EQ(downloadThumbnail(*peer_, path("peer.jpg")), 0);
    EXPECT_EQ(readFile(path("peer.jpg")), image);

    // A new thumbnail replaces the entry of its kind.
    const Bytes second = imageBytes(2000, 9);
    writeFile(path("thumb2.jpg"), second);
    ASSERT_EQ(uploadThumbnail(path("thumb2.jpg")), 0);
    EXPECT_EQ(storedMetadata().size(), 10u);
    ASSERT_EQ(downloadThumbnail(*facade_, path("back2.jpg")), 0);
    EXPECT_EQ(readFile(path("back2.jpg")), second);
}

// A blob that did not arrive is not attached: the node would point at nothing.
TEST_F(MetadataActionsTest, AFailedBlobUploadAttachesNothing) {
    struct Case {
        const char* name;
        int status;
    };
    const std::vector<Case> cases{
        {"upload refused", 404},
        {"no token answered", 200},
    };
    writeFile(path("thumb.jpg"), imageBytes(10 * 1024, 3));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        service_.clearFaults();
        service::Fault fault;
        fault.pathPrefix = "/mul/";
        fault.status = c.status;
        service_.addFault(fault);
        EXPECT_EQ(uploadThumbnail(path("thumb.jpg")), IO_ERROR);
        EXPECT_EQ(storedMetadata(), "");
        // Nor does the local cache know of a thumbnail.
        EXPECT_EQ(downloadThumbnail(*facade_, path("none.jpg")), NOT_FOUND);
    }
    service_.clearFaults();
    EXPECT_EQ(updatedMeta(actorEvents_, file_), nullptr);
}

}  // namespace
}  // namespace corvane
