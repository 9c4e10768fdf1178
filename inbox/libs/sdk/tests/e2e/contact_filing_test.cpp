// Account B files what it sent to account A's inbox, through its facade against the loopback
// stand-in over TLS: A as a contact, A's inbox as an outbox, the record as a sent record; each
// a second time answers 7 with the node already filed, a renamed contact still stands for A,
// and an outbox goes with what was filed under it. The inbox and record links are texts built
// here from identifiers and keys of the test's own: filing only reads them.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "account_directory.h"
#include "corvane/action_types.h"
#include "corvane/node_data.h"
#include "corvane/node_type.h"
#include "support/facade_fixture.h"
#include "support/link_text.h"

namespace corvane {
namespace {

constexpr const char* kAdaEmail = "ada.lovelace@example.com";
constexpr const char* kGraceEmail = "grace.hopper@example.com";
constexpr const char* kPassword = "a ship in harbour is safe";
constexpr const char* kAddress = "https://web.example";

// What a filing action left: its error and the node it reports, copied on the app's thread.
struct Filed {
    int32_t error = -1;
    uint64_t node = 0;
    uint64_t parent = 0;
    int32_t type = -1;
    std::string name;
    uint64_t contactHandle = 0;
    std::vector<uint8_t> extraData;
    std::vector<uint8_t> inboxKey;
    std::vector<uint8_t> publicHandle;
};

std::vector<uint8_t> bytesOf(const ByteVector* bytes) {
    return bytes != nullptr ? *bytes : std::vector<uint8_t>();
}

class FiledListener : public ActionListener {
public:
    void onActionFinish(std::shared_ptr<ActionData> action) override {
        std::lock_guard<std::mutex> lock(mutex_);
        filed_.error = action->getErrorCode();
        if (auto node = action->getNode()) {
            filed_.node = node->getId();
            filed_.parent = node->getParent();
            filed_.type = node->getType();
            filed_.name = node->getName() != nullptr ? node->getName() : "";
            filed_.contactHandle = node->getContactHandle();
            filed_.extraData = bytesOf(node->getExtraData());
            filed_.inboxKey = bytesOf(node->getInboxKey());
            filed_.publicHandle = bytesOf(node->getPublicHandle());
        }
        finished_ = true;
        changed_.notify_all();
    }

    std::optional<Filed> wait() {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!changed_.wait_for(lock, std::chrono::seconds(120), [&] { return finished_; })) {
            return std::nullopt;
        }
        return filed_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool finished_ = false;
    Filed filed_;
};

class ContactFilingTest : public test::FacadeFixture {
protected:
    void SetUp() override {
        FacadeFixture::SetUp();
        // Account A: only its handle matters here.
        ASSERT_EQ(registerUser(kAdaEmail, kPassword).error, 0);
        auto ada = service_.accounts().userByEmail(kAdaEmail);
        ASSERT_TRUE(ada.has_value());
        adaAccount_ = ada->mainAccount;
        ASSERT_NE(adaAccount_, 0u);

        // Account B on a facade of its own.
        graceSettings_.setDataPath(graceDir_.path());
        grace_ = std::make_unique<Corvane>(&taskManager_, &graceSettings_);
        test::ActionOutcome verified = run(*grace_, VERIFY_EMAIL, [](MutableActionData& a) {
            a.setEmail(kGraceEmail);
            a.setName("Grace");
            a.setExtraText("Hopper");
        });
        ASSERT_EQ(verified.error, 0);
        ASSERT_EQ(run(*grace_, CREATE_ACCOUNT,
                      [&](MutableActionData& a) {
                          a.setText(verified.text.c_str());
                          a.setName("Grace");
                          a.setExtraText("Hopper");
                          a.setEmail(kGraceEmail);
                          a.setPassword(kPassword);
                          a.setOption(1234);
                      })
                      .error,
                  0);
        auto grace = service_.accounts().userByEmail(kGraceEmail);
        ASSERT_TRUE(grace.has_value());
        graceAccount_ = grace->mainAccount;
        ASSERT_EQ(run(*grace_, GET_NODES, [](MutableActionData&) {}).error, 0);
    }

    void TearDown() override {
        grace_.reset();
        FacadeFixture::TearDown();
    }

    // Runs one facade operation on B's facade and waits for its finish.
    Filed file(const std::function<void(Corvane&, ActionListener*)>& operation) {
        FiledListener listener;
        operation(*grace_, &listener);
        std::optional<Filed> filed = listener.wait();
        taskManager_.drain();
        EXPECT_TRUE(filed.has_value()) << "never finished";
        return filed.value_or(Filed());
    }

    Filed cached(uint64_t handle) {
        return file([handle](Corvane& facade, ActionListener* listener) {
            test::FacadeAccess::submit(facade, GET_NODE, listener,
                                       [handle](MutableActionData& a) { a.setNodeHandle(handle); });
        });
    }

    std::optional<service::NodeRecord> stored(uint64_t handle) {
        return service_.accounts().node(graceAccount_, handle);
    }

    static std::vector<uint8_t> bytesOf(const service::Bytes& bytes) {
        return bytes ? std::vector<uint8_t>(bytes->begin(), bytes->end()) : std::vector<uint8_t>();
    }

    test::CloudTempDir graceDir_;
    CorvaneSettings graceSettings_;
    std::unique_ptr<Corvane> grace_;
    uint64_t adaAccount_ = 0;
    uint64_t graceAccount_ = 0;
};

TEST_F(ContactFilingTest, ContactOutboxAndSentRecordAreFiledOnceAndSurviveRenames) {
    const std::vector<uint8_t> inboxId = test::patternBytes(11, 16);
    const std::vector<uint8_t> inboxKey = test::patternBytes(12, 32);
    const std::vector<uint8_t> recordHandle = test::patternBytes(13, 16);
    const std::vector<uint8_t> recordKey = test::patternBytes(14, 32);
    const std::string inboxLink = test::inboxLink(kAddress, inboxId, inboxKey);
    const std::string recordLink = test::recordLink(kAddress, recordHandle, recordKey);

    // A as a contact.
    auto createContact = [&](Corvane& f, ActionListener* l) { f.createContact(adaAccount_, "Ada", l); };
    const Filed contact = file(createContact);
    ASSERT_EQ(contact.error, 0);
    EXPECT_EQ(contact.type, CONTACT_NODE);
    EXPECT_EQ(contact.name, "Ada");
    EXPECT_EQ(contact.contactHandle, adaAccount_);
    auto storedContact = stored(contact.node);
    ASSERT_TRUE(storedContact.has_value());
    EXPECT_EQ(storedContact->type, CONTACT_NODE);
    EXPECT_EQ(storedContact->extraNumber, adaAccount_);
    const Filed contactAgain = file(createContact);
    EXPECT_EQ(contactAgain.error, ALREADY_EXISTS);
    EXPECT_EQ(contactAgain.node, contact.node);

    // A's inbox as an outbox of that contact.
    auto createOutbox = [&](Corvane& f, ActionListener* l) {
        f.createOutbox(contact.node, inboxLink.c_str(), "Ada's desk", l);
    };
    const Filed outbox = file(createOutbox);
    ASSERT_EQ(outbox.error, 0);
    EXPECT_EQ(outbox.type, OUTBOX_NODE);
    EXPECT_EQ(outbox.parent, contact.node);
    EXPECT_EQ(outbox.extraData, inboxId);
    EXPECT_EQ(outbox.inboxKey, inboxKey);
    auto storedOutbox = stored(outbox.node);
    ASSERT_TRUE(storedOutbox.has_value());
    EXPECT_EQ(storedOutbox->parent, contact.node);
    EXPECT_EQ(bytesOf(storedOutbox->extraData), inboxId);
    const Filed outboxAgain = file(createOutbox);
    EXPECT_EQ(outboxAgain.error, ALREADY_EXISTS);
    EXPECT_EQ(outboxAgain.node, outbox.node);

    // The record as a sent record in that outbox.
    auto addSent = [&](Corvane& f, ActionListener* l) { f.addSentRecord(outbox.node, recordLink.c_str(), l); };
    const Filed sent = file(addSent);
    ASSERT_EQ(sent.error, 0);
    EXPECT_EQ(sent.type, RECORD_NODE);
    EXPECT_EQ(sent.parent, outbox.node);
    EXPECT_EQ(sent.publicHandle, recordHandle);
    auto storedSent = stored(sent.node);
    ASSERT_TRUE(storedSent.has_value());
    EXPECT_EQ(bytesOf(storedSent->pubhandle), recordHandle);
    const Filed sentAgain = file(addSent);
    EXPECT_EQ(sentAgain.error, ALREADY_EXISTS);
    EXPECT_EQ(sentAgain.node, sent.node);

    // Renamed, the contact still stands for A: in the answer, the cache and the stand-in.
    const Filed renamed = file([&](Corvane& f, ActionListener* l) { f.editContact(contact.node, "Ada L.", l); });
    ASSERT_EQ(renamed.error, 0);
    EXPECT_EQ(renamed.name, "Ada L.");
    EXPECT_EQ(renamed.contactHandle, adaAccount_);
    const Filed renamedCached = cached(contact.node);
    EXPECT_EQ(renamedCached.name, "Ada L.");
    EXPECT_EQ(renamedCached.contactHandle, adaAccount_);
    EXPECT_EQ(stored(contact.node)->extraNumber, adaAccount_);
    // So filing A again still finds it.
    EXPECT_EQ(file(createContact).error, ALREADY_EXISTS);

    const Filed renamedOutbox =
        file([&](Corvane& f, ActionListener* l) { f.editOutbox(outbox.node, "Front desk", l); });
    ASSERT_EQ(renamedOutbox.error, 0);
    const Filed outboxCached = cached(outbox.node);
    EXPECT_EQ(outboxCached.name, "Front desk");
    EXPECT_EQ(outboxCached.extraData, inboxId);
    EXPECT_EQ(outboxCached.inboxKey, inboxKey);
    EXPECT_EQ(cached(contact.node).contactHandle, adaAccount_);

    // The outbox goes, and its sent record with it; the contact stays.
    EXPECT_EQ(file([&](Corvane& f, ActionListener* l) { f.deleteOutbox(outbox.node, l); }).error, 0);
    EXPECT_FALSE(stored(outbox.node).has_value());
    EXPECT_FALSE(stored(sent.node).has_value());
    EXPECT_EQ(cached(outbox.node).error, NOT_FOUND);
    EXPECT_EQ(cached(sent.node).error, NOT_FOUND);
    EXPECT_EQ(cached(contact.node).error, 0);

    EXPECT_EQ(file([&](Corvane& f, ActionListener* l) { f.deleteContact(contact.node, l); }).error, 0);
    EXPECT_FALSE(stored(contact.node).has_value());
    EXPECT_EQ(cached(contact.node).error, NOT_FOUND);
}

TEST_F(ContactFilingTest, AddContactAsksTheServiceByAddressFoldedToLowerCase) {
    const test::ActionOutcome added =
        run(*grace_, ADD_CONTACT, [](MutableActionData& a) { a.setEmail("Ada.Lovelace@EXAMPLE.com"); });
    EXPECT_EQ(added.error, 0);
    EXPECT_EQ(added.email, kAdaEmail);
}

}  // namespace
}  // namespace corvane
