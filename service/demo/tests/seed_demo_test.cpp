// The demo seed against a stand-in started here: once corvane-seed-demo has run, the demo
// account signed in through a facade holds what the seed promises, read back with GET_NODES
// and the tree actions.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <future>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "account_directory.h"
#include "corvane/action_types.h"
#include "corvane/node_data.h"
#include "corvane/node_type.h"
#include "support/facade_fixture.h"

extern char** environ;

namespace corvane {
namespace {

constexpr const char* kEmail = "demo@tembra.test";
constexpr const char* kPartnerEmail = "demo.partner@tembra.test";
constexpr const char* kPassword = "correct horse battery staple";
constexpr int32_t kNoCode = -1;

// One node as an action reported it, copied on the application's thread.
struct Seen {
    uint64_t id = 0;
    int32_t type = -1;
    std::string name;
    uint64_t contactHandle = 0;
    std::string inboxLink;
};

Seen seen(const NodeData& node) {
    Seen s;
    s.id = node.getId();
    s.type = node.getType();
    s.name = node.getName() != nullptr ? node.getName() : "";
    s.contactHandle = node.getContactHandle();
    s.inboxLink = node.getInboxLinkString();
    return s;
}

// The error of one action, its node and its node list.
struct Listing {
    int32_t error = -1;
    Seen node;
    std::vector<Seen> nodes;
};

class ListingListener : public ActionListener {
public:
    void onActionFinish(std::shared_ptr<ActionData> action) override {
        std::lock_guard<std::mutex> lock(mutex_);
        listing_.error = action->getErrorCode();
        if (auto node = action->getNode()) {
            listing_.node = seen(*node);
        }
        if (auto nodes = action->getNodes()) {
            for (const auto& node : *nodes) {
                listing_.nodes.push_back(seen(*node));
            }
        }
        finished_ = true;
        changed_.notify_all();
    }

    Listing wait() {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait_for(lock, std::chrono::seconds(120), [&] { return finished_; });
        return listing_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool finished_ = false;
    Listing listing_;
};

class SeedDemoTest : public test::FacadeFixture {
protected:
    // Runs the seed against the stand-in and answers its exit status; -1 when it did not end
    // in time (it is then stopped).
    int runSeed() {
        std::vector<std::string> variables{"CORVANE_API_URL=" + service_.apiUrl(), "CORVANE_API_PIN=" + service_.pin(),
                                           "CORVANE_WEB_URL=" + service_.baseUrl()};
        std::vector<char*> environment;
        for (auto& variable : variables) {
            environment.push_back(&variable[0]);
        }
        for (char** at = environ; *at != nullptr; ++at) {
            const std::string entry = *at;
            if (entry.rfind("CORVANE_", 0) != 0) {
                environment.push_back(*at);
            }
        }
        environment.push_back(nullptr);
        std::string program = CORVANE_SEED_DEMO;
        std::string email = kEmail;
        std::string password = kPassword;
        char* arguments[] = {&program[0], &email[0], &password[0], nullptr};
        pid_t child = 0;
        if (posix_spawn(&child, program.c_str(), nullptr, nullptr, arguments, environment.data()) != 0) {
            return -1;
        }
        auto ended = std::async(std::launch::async, [child] {
            int status = 0;
            return waitpid(child, &status, 0) == child && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        });
        if (ended.wait_for(std::chrono::seconds(300)) != std::future_status::ready) {
            kill(child, SIGKILL);
            ended.wait();
            return -1;
        }
        return ended.get();
    }

    Listing list(int32_t type, const Fill& fill) {
        ListingListener listener;
        test::FacadeAccess::submit(*facade_, type, &listener, fill);
        Listing listing = listener.wait();
        taskManager_.drain();
        return listing;
    }

    Listing children(uint64_t parent) {
        return list(GET_CHILDREN, [parent](MutableActionData& a) { a.setParentHandle(parent); });
    }

    static std::set<std::string> names(const std::vector<Seen>& nodes) {
        std::set<std::string> result;
        for (const auto& node : nodes) {
            result.insert(node.name);
        }
        return result;
    }
};

TEST_F(SeedDemoTest, TheDemoAccountHoldsFoldersAndWhatItSentItsPartner) {
    ASSERT_EQ(runSeed(), 0);
    auto partner = service_.accounts().userByEmail(kPartnerEmail);
    ASSERT_TRUE(partner.has_value());

    ASSERT_EQ(run(LOGIN,
                  [](MutableActionData& a) {
                      a.setEmail(kEmail);
                      a.setPassword(kPassword);
                      a.setValue(kNoCode);
                  })
                  .error,
              0);
    ASSERT_EQ(list(GET_NODES, [](MutableActionData&) {}).error, 0);

    const Listing drive = list(GET_ROOT, [](MutableActionData& a) { a.setOption(CLOUD_DRIVE_ROOT); });
    ASSERT_EQ(drive.error, 0);
    const Listing folders = children(drive.node.id);
    ASSERT_EQ(folders.error, 0);
    EXPECT_EQ(names(folders.nodes), (std::set<std::string>{"Invoices", "Contracts", "Correspondence"}));

    // The partner as a contact, its inbox as an outbox, one record sent to it.
    const Listing contactsRoot = list(GET_ROOT, [](MutableActionData& a) { a.setOption(CONTACTS_ROOT); });
    ASSERT_EQ(contactsRoot.error, 0);
    const Listing contacts = children(contactsRoot.node.id);
    ASSERT_EQ(contacts.error, 0);
    ASSERT_EQ(contacts.nodes.size(), 1u);
    const Seen& contact = contacts.nodes.front();
    EXPECT_EQ(contact.type, CONTACT_NODE);
    EXPECT_EQ(contact.name, "Pat Partner");
    EXPECT_EQ(contact.contactHandle, partner->mainAccount);

    const Listing outboxes = children(contact.id);
    ASSERT_EQ(outboxes.error, 0);
    ASSERT_EQ(outboxes.nodes.size(), 1u);
    const Seen& outbox = outboxes.nodes.front();
    EXPECT_EQ(outbox.type, OUTBOX_NODE);
    EXPECT_NE(outbox.inboxLink.find("/inbox/"), std::string::npos);

    const Listing sent = children(outbox.id);
    ASSERT_EQ(sent.error, 0);
    ASSERT_EQ(sent.nodes.size(), 1u);
    EXPECT_EQ(sent.nodes.front().type, RECORD_NODE);
    // The cache keeps no public handle; the stand-in holds the record's.
    auto stored = service_.accounts().node(service_.accounts().userByEmail(kEmail)->mainAccount, sent.nodes.front().id);
    ASSERT_TRUE(stored.has_value());
    ASSERT_TRUE(stored->pubhandle.has_value());
    EXPECT_EQ(stored->pubhandle->size(), 16u);
}

}  // namespace
}  // namespace corvane
