// corvane-seed-demo: registers a demo user on a running stand-in the way the application's SDK
// does (VERIFY_EMAIL, then CREATE_ACCOUNT with keys made on this side), adds a few folders to
// the new account's drive, registers a second demo account (the partner) and files on the demo
// account's side what it sent the partner: the partner as a contact, the partner's inbox as an
// outbox, the record as a sent record. Everything goes through the SDK's own actions. The
// stand-in is named by CORVANE_API_URL, CORVANE_API_PIN and CORVANE_WEB_URL. Exits 0 once all
// of it exists.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include <spdlog/sinks/stdout_sinks.h>
#include <spdlog/spdlog.h>

#include "client/api_client.h"
#include "client/corvane.h"
#include "cloud/cloud.h"
#include "corvane/action_listener.h"
#include "corvane/action_types.h"
#include "corvane/corvane_settings.h"
#include "corvane/mutable_action_data.h"
#include "corvane/node_type.h"
#include "corvane/task_manager.h"
#include "request/cloud_request.h"
#include "request/event_request.h"
#include "util/base64.h"
#include "util/deployment.h"
#include "util/log.h"

namespace corvane {
namespace test {

// The facade offers no registration of its own: the seeding reaches the action types the way
// the SDK's tests do.
class FacadeAccess {
public:
    static void submit(Corvane& facade, int32_t type, ActionListener* listener,
                       const std::function<void(MutableActionData&)>& fill) {
        facade.submit(type, listener, fill);
    }
    static SdkApiManager& manager(Corvane& facade) {
        return static_cast<DirectApiClient&>(*facade.client_).getApiManager();
    }
};

}  // namespace test
}  // namespace corvane

namespace {

using namespace corvane;
using namespace std::chrono_literals;

constexpr int32_t kPin = 1234;
const char* const kFolders[] = {"Invoices", "Contracts", "Correspondence"};

const char* const kPartnerFirstName = "Pat";
const char* const kPartnerLastName = "Partner";
constexpr size_t kIdentifierSize = 16;
constexpr size_t kKeySize = 32;

struct Outcome {
    int32_t error = -1;
    std::string text;
    uint64_t node = 0;
    uint64_t account = 0;
};

class OutcomeListener : public ActionListener {
public:
    void onActionFinish(std::shared_ptr<ActionData> action) override {
        auto node = action->getNode();
        promise_.set_value(Outcome{action->getErrorCode(), action->getTextString(), node ? node->getId() : 0,
                                   action->getAccountHandle()});
    }
    Outcome wait() {
        auto future = promise_.get_future();
        if (future.wait_for(120s) != std::future_status::ready) {
            return Outcome{};
        }
        return future.get();
    }

private:
    std::promise<Outcome> promise_;
};

class RequestWaiter : public RequestListener {
public:
    void finished(std::shared_ptr<Request>) override { promise_.set_value(); }
    bool wait() { return promise_.get_future().wait_for(60s) == std::future_status::ready; }

private:
    std::promise<void> promise_;
};

// The dispatcher lets a listener go only after its finish call: each one lives as long as
// the facade.
using Listeners = std::vector<std::unique_ptr<OutcomeListener>>;

Outcome run(Corvane& facade, Listeners& listeners, int32_t type, const std::function<void(MutableActionData&)>& fill) {
    listeners.push_back(std::make_unique<OutcomeListener>());
    test::FacadeAccess::submit(facade, type, listeners.back().get(), fill);
    return listeners.back()->wait();
}

// Runs the task on the SDK main loop and hands back its result.
template <typename Result>
Result onMainLoop(SdkApiManager& manager, std::function<Result()> task) {
    std::promise<Result> result;
    manager.getLoop()->post([&] { result.set_value(task()); });
    return result.get_future().get();
}

// The drive root arrives with the account's first full load: the first events answer is a
// snapshot of the new account, and the status answer after it commits it to the cache.
uint64_t waitForDriveRoot(SdkApiManager& manager) {
    RequestWaiter events;
    RequestWaiter status;
    // One batch: the events answer's changes go into the cache transaction the status answer
    // commits.
    manager.getLoop()->post([&] {
        manager.enqueueApiRequest(std::make_shared<GetEventsRequest>(&manager), &events);
        manager.enqueueApiRequest(std::make_shared<GetStatusRequest>(&manager), &status);
    });
    if (!events.wait() || !status.wait()) {
        return 0;
    }
    for (int attempt = 0; attempt < 150; ++attempt) {
        const uint64_t root = onMainLoop<uint64_t>(manager, [&manager]() -> uint64_t {
            Cloud* cloud = manager.getCloud();
            auto node = cloud != nullptr ? cloud->getMainRoot() : nullptr;
            return node ? node->getId() : 0;
        });
        if (root != 0) {
            return root;
        }
        std::this_thread::sleep_for(200ms);
    }
    return 0;
}

bool addFolder(SdkApiManager& manager, uint64_t root, const char* name) {
    std::promise<std::shared_ptr<EncryptedNodeData>> sealed;
    manager.getLoop()->post([&] {
        auto folder = std::make_shared<MutableNodeData>();
        folder->setType(FOLDER_NODE);
        folder->setParent(root);
        folder->setName(name);
        const int64_t now =
            std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
                .count();
        folder->setCreationTime(now);
        folder->setModificationTime(now);
        manager.getCloud()->encryptNodeForParent(
            folder, nullptr, true, [&sealed](Cloud::EncryptedNodePointer node) { sealed.set_value(std::move(node)); });
    });
    std::shared_ptr<EncryptedNodeData> node = sealed.get_future().get();
    if (!node) {
        return false;
    }
    auto owner = std::make_shared<MutableActionData>(TEST);
    owner->setParentHandle(root);
    RequestWaiter waiter;
    manager.getLoop()->post([&] {
        manager.enqueueApiRequest(
            std::make_shared<AddNodesRequest>(owner, std::make_shared<EncryptedNodeList>(EncryptedNodeList{node}),
                                              manager.getClientId()),
            &waiter);
    });
    return waiter.wait() && owner->getErrorCode() == SUCCESS;
}

// A new user through VERIFY_EMAIL and CREATE_ACCOUNT; the facade is signed in to it after.
Outcome registerUser(Corvane& facade, Listeners& listeners, const std::string& email, const std::string& password,
                     const char* firstName, const char* lastName) {
    const Outcome verified = run(facade, listeners, VERIFY_EMAIL, [&](MutableActionData& a) {
        a.setEmail(email.c_str());
        a.setName(firstName);
        a.setExtraText(lastName);
    });
    if (verified.error != 0) {
        std::fprintf(stderr, "corvane-seed-demo: e-mail verification of %s failed with error %d\n", email.c_str(),
                     verified.error);
        return verified;
    }
    const Outcome created = run(facade, listeners, CREATE_ACCOUNT, [&](MutableActionData& a) {
        a.setText(verified.text.c_str());
        a.setName(firstName);
        a.setExtraText(lastName);
        a.setEmail(email.c_str());
        a.setPassword(password.c_str());
        a.setOption(kPin);
    });
    if (created.error != 0) {
        std::fprintf(stderr, "corvane-seed-demo: account creation for %s failed with error %d\n", email.c_str(),
                     created.error);
    }
    return created;
}

std::vector<uint8_t> randomBytes(size_t size) {
    std::random_device device;
    std::vector<uint8_t> bytes(size);
    for (auto& byte : bytes) {
        byte = static_cast<uint8_t>(device());
    }
    return bytes;
}

std::string base64Url(const std::vector<uint8_t>& bytes) {
    std::string text(Base64::encodedUrlSize(bytes.size()), '\0');
    Base64 codec;
    text.resize(codec.encodeUrl(bytes.data(), bytes.size(), &text[0], text.size()));
    return text;
}

// The partner's address beside the demo user's: "demo@x" gives "demo.partner@x".
std::string partnerEmail(const std::string& email) {
    const size_t at = email.find('@');
    return at == std::string::npos ? email + ".partner" : email.substr(0, at) + ".partner" + email.substr(at);
}

// The partner's inbox and the record sent to it, as the links the sender holds.
struct SentLinks {
    std::string inbox;
    std::string record;
};

SentLinks sentLinks() {
    const std::string address = getDeployment().webAddress;
    return SentLinks{
        address + "/inbox/" + base64Url(randomBytes(kIdentifierSize)) + "#" + base64Url(randomBytes(kKeySize)),
        address + "/record/" + base64Url(randomBytes(kIdentifierSize)) + "#" + base64Url(randomBytes(kKeySize))};
}

// Files on the sender's side what it sent: the recipient's account as a contact, the inbox
// as an outbox of it, the record as a sent record in that outbox.
bool fileSent(Corvane& facade, Listeners& listeners, uint64_t recipient, const char* name, const SentLinks& links) {
    const Outcome contact = run(facade, listeners, MANAGE_CONTACTS, [&](MutableActionData& a) {
        a.setAccountHandle(recipient);
        a.setName(name);
    });
    if (contact.error != 0 && contact.error != ALREADY_EXISTS) {
        std::fprintf(stderr, "corvane-seed-demo: contact \"%s\" could not be added: error %d\n", name, contact.error);
        return false;
    }
    const Outcome outbox = run(facade, listeners, MANAGE_OUTBOXES, [&](MutableActionData& a) {
        a.setNodeHandle(contact.node);
        a.setLink(links.inbox.c_str());
        a.setName(name);
    });
    if (outbox.error != 0 && outbox.error != ALREADY_EXISTS) {
        std::fprintf(stderr, "corvane-seed-demo: outbox \"%s\" could not be added: error %d\n", name, outbox.error);
        return false;
    }
    const Outcome sent = run(facade, listeners, MANAGE_SENT_RECORDS, [&](MutableActionData& a) {
        a.setNodeHandle(outbox.node);
        a.setLink(links.record.c_str());
    });
    if (sent.error != 0 && sent.error != ALREADY_EXISTS) {
        std::fprintf(stderr, "corvane-seed-demo: sent record could not be filed: error %d\n", sent.error);
        return false;
    }
    return true;
}

// Everything of the demo: the demo account with its folders, the partner account, and what the
// demo account sent the partner. True when all of it exists.
bool seed(const std::filesystem::path& cache, const std::string& email, const std::string& password) {
    SynchronousTaskManager taskManager;
    Listeners listeners;
    CorvaneSettings demoSettings;
    CorvaneSettings partnerSettings;
    std::error_code error;
    std::filesystem::create_directory(cache / "demo", error);
    std::filesystem::create_directory(cache / "partner", error);
    demoSettings.setDataPath((cache / "demo").string());
    partnerSettings.setDataPath((cache / "partner").string());
    Corvane demo(&taskManager, &demoSettings);
    Corvane partner(&taskManager, &partnerSettings);

    if (registerUser(demo, listeners, email, password, "Demo", "User").error != 0) {
        return false;
    }
    SdkApiManager& manager = test::FacadeAccess::manager(demo);
    const uint64_t root = waitForDriveRoot(manager);
    if (root == 0) {
        std::fprintf(stderr, "corvane-seed-demo: the new account's drive did not load\n");
        return false;
    }
    bool complete = true;
    for (const char* name : kFolders) {
        if (!addFolder(manager, root, name)) {
            std::fprintf(stderr, "corvane-seed-demo: folder \"%s\" could not be added\n", name);
            complete = false;
        }
    }

    // The partner's password is never needed again: nobody signs in to it.
    if (registerUser(partner, listeners, partnerEmail(email), base64Url(randomBytes(18)), kPartnerFirstName,
                     kPartnerLastName)
            .error != 0) {
        return false;
    }
    const Outcome partnerAccount = run(partner, listeners, ACCOUNT_INFO, [](MutableActionData&) {});
    if (partnerAccount.error != 0 || partnerAccount.account == 0) {
        std::fprintf(stderr, "corvane-seed-demo: the partner account's information failed with error %d\n",
                     partnerAccount.error);
        return false;
    }
    if (run(demo, listeners, GET_NODES, [](MutableActionData&) {}).error != 0) {
        std::fprintf(stderr, "corvane-seed-demo: the demo account's tree did not load\n");
        return false;
    }
    return fileSent(demo, listeners, partnerAccount.account, "Pat Partner", sentLinks()) && complete;
}

int usage(const char* program) {
    std::fprintf(stderr, "usage: %s EMAIL PASSWORD\n", program);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        return usage(argv[0]);
    }
    const std::string email = argv[1];
    const std::string password = argv[2];

    // CORVANE_SEED_LOG=1 shows the SDK's lines on standard error.
    if (const char* verbose = std::getenv("CORVANE_SEED_LOG"); verbose != nullptr && *verbose != '\0') {
        auto logger = std::make_shared<spdlog::logger>("seed", std::make_shared<spdlog::sinks::stderr_sink_mt>());
        logger->set_level(spdlog::level::debug);
        log::set(logger);
    }
    // The SDK's caches of the new accounts are of no further use: they go into a folder of
    // their own, removed at the end.
    std::error_code error;
    const std::filesystem::path cache =
        std::filesystem::temp_directory_path(error) / ("tembra-seed-" + std::to_string(::getpid()));
    if (error || !std::filesystem::create_directory(cache, error)) {
        std::fprintf(stderr, "corvane-seed-demo: no temporary folder for the cache\n");
        return 1;
    }
    Corvane::globalInit("TembraDemo", 1);
    const bool seeded = seed(cache, email, password);
    Corvane::globalCleanup();
    std::filesystem::remove_all(cache, error);
    return seeded ? 0 : 1;
}
