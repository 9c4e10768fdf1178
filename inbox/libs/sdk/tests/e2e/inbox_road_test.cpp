// The inbox road through two facades against the loopback stand-in over TLS: an account
// publishes an inbox, a facade without any account sends a record with two attachments through
// the inbox link, and the owner receives it, reads it, marks it and downloads its files.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "account_directory.h"
#include "corvane/action_types.h"
#include "corvane/handle.h"
#include "corvane/node_data.h"
#include "corvane/node_type.h"
#include "support/event_journal.h"
#include "support/facade_fixture.h"
#include "util/deployment.h"

namespace corvane {
namespace {

constexpr const char* kEmail = "ada@example.com";
constexpr const char* kPassword = "correct horse battery";
constexpr size_t kLargeFile = 3u << 20;

// Keeps the whole record of one finished action.
class KeepingListener : public ActionListener {
public:
    void onActionFinish(std::shared_ptr<ActionData> action) override {
        std::lock_guard<std::mutex> lock(mutex_);
        action_ = std::move(action);
        finished_.notify_all();
    }
    std::shared_ptr<ActionData> wait() {
        std::unique_lock<std::mutex> lock(mutex_);
        finished_.wait_for(lock, std::chrono::seconds(120), [&] { return action_ != nullptr; });
        return action_;
    }

private:
    std::mutex mutex_;
    std::condition_variable finished_;
    std::shared_ptr<ActionData> action_;
};

std::string bytesOfFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// The identifiers of the messages in the batch bodies the stand-in recorded.
size_t countMessages(const std::vector<service::RecordedRequest>& requests, const std::string& identifier) {
    size_t count = 0;
    for (const auto& request : requests) {
        if (request.path != "/api") {
            continue;
        }
        const std::string& body = request.body;
        size_t at = 0;
        while (at + 12 <= body.size()) {
            const uint32_t length = uint32_t(uint8_t(body[at])) | uint32_t(uint8_t(body[at + 1])) << 8 |
                                    uint32_t(uint8_t(body[at + 2])) << 16 | uint32_t(uint8_t(body[at + 3])) << 24;
            count += body.compare(at + 8, 4, identifier) == 0 ? 1 : 0;
            at += 4 + size_t(length);
        }
    }
    return count;
}

class InboxRoadTest : public test::FacadeFixture {
protected:
    void SetUp() override {
        FacadeFixture::SetUp();
        // Chunk links and the long poll are not pinned: the stand-in's certificate is trusted
        // as a CA, and the facade is made again so that it reads that.
        facade_.reset();
        deployment_.reset();
        deployment_ = std::make_unique<test::StandInDeployment>(service_, test::StandInDeployment::Trust::CaFile);
        facade_ = std::make_unique<Corvane>(&taskManager_, &settings_);
        facade_->addEventListener(&ownerEvents_);
        ASSERT_EQ(registerUser(kEmail, kPassword).error, 0);
        ASSERT_EQ(run(GET_NODES, [](MutableActionData&) {}).error, 0);
        account_ = service_.accounts().userByEmail(kEmail)->mainAccount;

        senderSettings_.setDataPath(senderDir_.path());
        sender_ = std::make_unique<Corvane>(&taskManager_, &senderSettings_);
    }

    void TearDown() override {
        sender_.reset();
        facade_->removeEventListener(&ownerEvents_);
        FacadeFixture::TearDown();
    }

    std::shared_ptr<ActionData> act(Corvane& facade, int32_t type, const Fill& fill) {
        KeepingListener listener;
        test::FacadeAccess::submit(facade, type, &listener, fill);
        auto action = listener.wait();
        taskManager_.drain();
        EXPECT_TRUE(action) << getActionTypeName(type) << " never finished";
        return action;
    }
    int32_t errorOf(Corvane& facade, int32_t type, const Fill& fill) {
        auto action = act(facade, type, fill);
        return action ? action->getErrorCode() : -1;
    }

    std::optional<service::NodeRecord> stored(uint64_t handle) { return service_.accounts().node(account_, handle); }

    std::string path(const std::string& name) const { return dataDir_.path() + "/" + name; }

    // The inbox gets a public handle as a published link has one; its link carries the inbox's
    // key, read from the owner's cache.
    std::string publish(uint64_t inbox) {
        auto record = stored(inbox);
        EXPECT_TRUE(record);
        const std::vector<uint8_t> handle(16, 0x5A);
        record->pubhandle = std::string(handle.begin(), handle.end());
        EXPECT_EQ(service_.accounts().addNode(account_, *record), inbox);
        auto cached = act(*facade_, GET_NODE, [&](MutableActionData& a) { a.setNodeHandle(inbox); });
        EXPECT_TRUE(cached && cached->getNode());
        return getDeployment().webAddress + "/inbox/" + getBase64UrlText(&handle) + "#" +
               (cached && cached->getNode() ? cached->getNode()->getKeyText() : std::string());
    }

    uint64_t account_ = 0;
    test::EventJournal ownerEvents_;
    test::CloudTempDir senderDir_;
    CorvaneSettings senderSettings_;
    std::unique_ptr<Corvane> sender_;
};

TEST_F(InboxRoadTest, ARecordTravelsFromTheLinkToTheOwner) {
    // The owner's inbox.
    auto created = act(*facade_, CREATE_INBOX, [](MutableActionData& a) { a.setName("Orders"); });
    ASSERT_TRUE(created);
    ASSERT_EQ(created->getErrorCode(), 0);
    uint64_t inbox = 0;
    for (const auto& node : service_.accounts().nodes(account_)) {
        if (node.type == INBOX_NODE) {
            inbox = node.handle;
        }
    }
    ASSERT_NE(inbox, 0u);
    ASSERT_EQ(errorOf(*facade_, SET_INBOX_INFO,
                      [&](MutableActionData& a) {
                          a.setNodeHandle(inbox);
                          a.setName("Orders 2026");
                          a.setText("Drop your orders here");
                      }),
              0);
    const std::string link = publish(inbox);

    // The sender, without any account.
    auto info = act(*sender_, GET_INBOX_INFO, [&](MutableActionData& a) { a.setLink(link.c_str()); });
    ASSERT_TRUE(info);
    ASSERT_EQ(info->getErrorCode(), 0);
    ASSERT_TRUE(info->getNode());
    EXPECT_STREQ(info->getNode()->getName(), "Orders 2026");

    const size_t eventsBefore = ownerEvents_.entries().size();
    auto login = act(*sender_, LOGIN_LINK, [&](MutableActionData& a) { a.setLink(link.c_str()); });
    ASSERT_TRUE(login);
    ASSERT_EQ(login->getErrorCode(), 0);
    const std::string session = login->getSession() != nullptr ? login->getSession() : "";
    EXPECT_EQ(session.rfind(getDeployment().webAddress + "/new-record/", 0), 0u) << session;
    EXPECT_EQ(login->getNameString(), "Ada Lovelace");

    // The owner hears of the new record and rewrites its key to its own scheme while the
    // sender still writes to it.
    ASSERT_TRUE(ownerEvents_.waitFor("NEW_NODES", eventsBefore));
    uint64_t record = 0;
    for (const auto& node : service_.accounts().nodes(account_)) {
        if (node.type == RECORD_NODE) {
            record = node.handle;
        }
    }
    ASSERT_NE(record, 0u);
    for (int attempt = 0; attempt < 200 && stored(record)->crypto != 0; ++attempt) {
        service_.clearArrivals();
        service_.waitForRequests("/api", 1, std::chrono::milliseconds(100));
    }
    ASSERT_EQ(stored(record)->crypto, 0);

    ASSERT_EQ(errorOf(*sender_, GET_NODES, [](MutableActionData&) {}), 0);
    ASSERT_EQ(errorOf(*sender_, SET_RECORD_INFO,
                      [](MutableActionData& a) {
                          a.setEmail("grace@example.com");
                          a.setName("Invoice %s %n 42/../../etc");
                          a.setText("Please find the scan attached.");
                      }),
              0);
    std::string large(kLargeFile, '\0');
    for (size_t i = 0; i < large.size(); ++i) {
        large[i] = static_cast<char>((i * 31 + 7) & 0xFF);
    }
    const std::string small = "two lines\nof notes\n";
    writeBytes(path("scan.bin"), large);
    writeBytes(path("notes.txt"), small);
    for (const char* name : {"scan.bin", "notes.txt"}) {
        auto uploaded = act(*sender_, UPLOAD_TO_RECORD, [&](MutableActionData& a) { a.setName(path(name).c_str()); });
        ASSERT_TRUE(uploaded);
        ASSERT_EQ(uploaded->getErrorCode(), 0) << name;
    }
    auto logout = act(*sender_, LOGOUT_LINK, [](MutableActionData&) {});
    ASSERT_TRUE(logout);
    ASSERT_EQ(logout->getErrorCode(), 0);
    const std::string recordLink = logout->getLinkString();
    EXPECT_EQ(recordLink.rfind(getDeployment().webAddress + "/record/", 0), 0u) << recordLink;

    // The record link reads the record and its files without a session.
    auto read = act(*sender_, GET_RECORD_INFO, [&](MutableActionData& a) { a.setLink(recordLink.c_str()); });
    ASSERT_TRUE(read);
    ASSERT_EQ(read->getErrorCode(), 0);
    ASSERT_TRUE(read->getNode());
    EXPECT_STREQ(read->getNode()->getName(), "Invoice %s %n 42/../../etc");
    std::vector<std::string> files;
    for (const auto& node : *read->getNodes()) {
        files.push_back(node->getName());
    }
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, (std::vector<std::string>{"notes.txt", "scan.bin"}));

    // The owner lists the record with its subject, and rewrote its key once.
    std::shared_ptr<ActionData> listed;
    for (int attempt = 0; attempt < 200; ++attempt) {
        listed = act(*facade_, GET_CHILDREN, [&](MutableActionData& a) { a.setParentHandle(inbox); });
        if (listed && listed->getNodes()->size() == 1 && listed->getNodes()->front()->getName() != nullptr &&
            std::string(listed->getNodes()->front()->getName()) == "Invoice %s %n 42/../../etc") {
            break;
        }
        service_.waitForRequests("/api", 1, std::chrono::milliseconds(100));
    }
    ASSERT_TRUE(listed);
    ASSERT_EQ(listed->getNodes()->size(), 1u);
    EXPECT_STREQ(listed->getNodes()->front()->getName(), "Invoice %s %n 42/../../etc");
    EXPECT_EQ(stored(record)->crypto, 0);
    EXPECT_EQ(countMessages(service_.requests(), "REKM"), 1u);

    for (int32_t status : {1, 0}) {
        ASSERT_EQ(errorOf(*facade_, SET_RECORD_STATUS,
                          [&](MutableActionData& a) {
                              a.setNodeHandle(record);
                              a.setOption(status);
                          }),
                  0);
        EXPECT_EQ(stored(record)->extraNumber, uint64_t(status));
    }

    // Each file comes down byte for byte.
    auto children = act(*facade_, GET_CHILDREN, [&](MutableActionData& a) { a.setParentHandle(record); });
    ASSERT_TRUE(children);
    ASSERT_EQ(children->getNodes()->size(), 2u);
    uint64_t notes = 0;
    for (const auto& file : *children->getNodes()) {
        const std::string name = file->getName();
        const std::string target = path("received-" + name);
        ASSERT_EQ(errorOf(*facade_, DOWNLOAD,
                          [&](MutableActionData& a) {
                              a.setNodeHandle(file->getId());
                              a.setName(target.c_str());
                          }),
                  0)
            << name;
        EXPECT_EQ(bytesOfFile(target), name == "scan.bin" ? large : small) << name;
        if (name == "notes.txt") {
            notes = file->getId();
        }
    }

    // The record link opens a session on the record again, in which an attachment is removed.
    ASSERT_EQ(errorOf(*sender_, LOGIN_LINK, [&](MutableActionData& a) { a.setLink(recordLink.c_str()); }), 0);
    ASSERT_EQ(errorOf(*sender_, GET_NODES, [](MutableActionData&) {}), 0);
    EXPECT_EQ(
        errorOf(*sender_, UPLOAD_TO_RECORD, [&](MutableActionData& a) { a.setName(path("missing.bin").c_str()); }),
        IO_ERROR);
    EXPECT_EQ(errorOf(*sender_, UPLOAD_TO_RECORD, [&](MutableActionData& a) { a.setName(dataDir_.path().c_str()); }),
              WRONG_PARAMETERS);
    ASSERT_EQ(errorOf(*sender_, REMOVE_FROM_RECORD, [&](MutableActionData& a) { a.setNodeHandle(notes); }), 0);
    EXPECT_FALSE(stored(notes));
    EXPECT_TRUE(stored(record));
    ASSERT_EQ(errorOf(*sender_, LOGOUT_LINK, [](MutableActionData& a) { a.setOption(2); }), 0);
}

// Malformed links end before any request; the record actions need a link session on a record.
TEST_F(InboxRoadTest, ActionsRefuseWhatTheyCannotServe) {
    const std::string web = getDeployment().webAddress;
    const std::string id = "AAAAAAAAAAAAAAAAAAAAAA";
    const std::string key = "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8";
    const std::vector<std::pair<const char*, std::string>> malformed = {
        {"truncated", id.substr(0, 12)},
        {"extra hash", id + "#" + key + "#"},
        {"21 characters", id.substr(1) + "#" + key},
        {"23 characters", id + "A#" + key},
        {"non-Base64URL", id.substr(1) + "+#" + key},
        {"empty key", id + "#"},
    };
    service_.clearRequests();
    for (const auto& [name, rest] : malformed) {
        SCOPED_TRACE(name);
        const std::string inboxLink = web + "/inbox/" + rest;
        const std::string recordLink = web + "/record/" + rest;
        EXPECT_EQ(errorOf(*sender_, GET_INBOX_INFO, [&](MutableActionData& a) { a.setLink(inboxLink.c_str()); }),
                  WRONG_PARAMETERS);
        EXPECT_EQ(errorOf(*sender_, GET_RECORD_INFO, [&](MutableActionData& a) { a.setLink(recordLink.c_str()); }),
                  WRONG_PARAMETERS);
        for (const std::string& link : {inboxLink, recordLink, web + "/folder/" + rest}) {
            EXPECT_EQ(errorOf(*sender_, LOGIN_LINK, [&](MutableActionData& a) { a.setLink(link.c_str()); }),
                      WRONG_PARAMETERS)
                << link;
        }
    }
    EXPECT_EQ(countMessages(service_.requests(), "DOWM") + countMessages(service_.requests(), "LILM") +
                  countMessages(service_.requests(), "REIM"),
              0u);
    // Well formed, but never resolved here, or unknown to the service.
    const std::string inboxLink = web + "/inbox/" + id + "#" + key;
    EXPECT_EQ(errorOf(*sender_, LOGIN_LINK, [&](MutableActionData& a) { a.setLink(inboxLink.c_str()); }), NOT_FOUND);
    EXPECT_EQ(errorOf(*sender_, GET_INBOX_INFO, [&](MutableActionData& a) { a.setLink(inboxLink.c_str()); }),
              NOT_FOUND);
    const std::string recordLink = web + "/record/" + id + "#" + key;
    EXPECT_EQ(errorOf(*sender_, GET_RECORD_INFO, [&](MutableActionData& a) { a.setLink(recordLink.c_str()); }),
              NOT_FOUND);

    // In the account's own session.
    uint64_t root = 0;
    for (const auto& node : service_.accounts().nodes(account_)) {
        if (node.parent == 0 && node.type == 0) {
            root = node.handle;
        }
    }
    ASSERT_NE(root, 0u);
    struct Case {
        const char* name;
        int32_t type;
        Fill fill;
        int32_t error;
    };
    const std::vector<Case> cases = {
        {"record info", SET_RECORD_INFO, [](MutableActionData& a) { a.setName("x"); }, FORBIDDEN},
        {"upload", UPLOAD_TO_RECORD, [&](MutableActionData& a) { a.setName(path("x").c_str()); }, FORBIDDEN},
        {"remove", REMOVE_FROM_RECORD, [&](MutableActionData& a) { a.setNodeHandle(root); }, FORBIDDEN},
        {"logout link", LOGOUT_LINK, [](MutableActionData&) {}, FORBIDDEN},
        {"inbox info of a folder", SET_INBOX_INFO,
         [&](MutableActionData& a) {
             a.setNodeHandle(root);
             a.setName("x");
         },
         WRONG_PARAMETERS},
        {"inbox info of nothing", SET_INBOX_INFO,
         [](MutableActionData& a) {
             a.setNodeHandle(12345);
             a.setName("x");
         },
         NOT_FOUND},
        {"status of a folder", SET_RECORD_STATUS,
         [&](MutableActionData& a) {
             a.setNodeHandle(root);
             a.setOption(1);
         },
         WRONG_PARAMETERS},
        {"status 2", SET_RECORD_STATUS,
         [&](MutableActionData& a) {
             a.setNodeHandle(root);
             a.setOption(2);
         },
         WRONG_PARAMETERS},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(errorOf(*facade_, c.type, c.fill), c.error) << c.name;
    }
}

}  // namespace
}  // namespace corvane
