// corvane-seed-demo: seeds a demo account on a running stand-in the way the application's SDK
// does, through its own actions: the demo user is registered (VERIFY_EMAIL, then CREATE_ACCOUNT
// with keys made on this side) and gets a few folders and two inboxes with shared links; a
// second demo account (the partner) sends records with a subject, a message and attachments
// (one a PNG picture made here) into them through the inbox road, as a sender without an account
// does, and the demo account sends one to the partner's inbox. Each sender files what it sent:
// the recipient as a contact, the inbox as an outbox, the record as a sent record. The stand-in
// is named by CORVANE_API_URL, CORVANE_API_PIN, CORVANE_WEB_URL and CORVANE_CA_FILE (file chunks
// travel on unpinned links). Exits 0 once all of it exists.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
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
#include "demo_image.h"
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

struct Outcome {
    int32_t error = -1;
    std::string text;
    uint64_t node = 0;
    uint64_t account = 0;
    std::string link;
    std::string name;  // the reported node's
};

class OutcomeListener : public ActionListener {
public:
    void onActionFinish(std::shared_ptr<ActionData> action) override {
        auto node = action->getNode();
        promise_.set_value(Outcome{action->getErrorCode(), action->getTextString(), node ? node->getId() : 0,
                                   action->getAccountHandle(), action->getLinkString(),
                                   node && node->getName() != nullptr ? node->getName() : ""});
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

// An attachment of a demo record: its file name and bytes.
struct Attachment {
    const char* name;
    std::string bytes;
};

// One record sent through an inbox link.
struct Letter {
    const char* subject;
    const char* message;
    std::vector<Attachment> attachments;
};

// A signed-in account of the demo, on a facade of its own.
struct Party {
    Corvane* facade;
    std::string email;
    const char* name;  // as the other party files it
};

// What a sender keeps of a record it sent: the recipient's account, the inbox's name and the
// two links.
struct Sent {
    uint64_t recipient = 0;
    std::string inboxName;
    std::string inboxLink;
    std::string recordLink;
};

// An inbox with its shared link; empty link when either step failed.
Outcome createInbox(Corvane& facade, Listeners& listeners, const char* name, const char* description) {
    const Outcome inbox = run(facade, listeners, CREATE_INBOX, [&](MutableActionData& a) {
        a.setName(name);
        a.setText(description);
    });
    if (inbox.error != 0 || inbox.node == 0) {
        std::fprintf(stderr, "corvane-seed-demo: inbox \"%s\" could not be created: error %d\n", name, inbox.error);
        return inbox;
    }
    Outcome link = run(facade, listeners, CREATE_LINK, [&](MutableActionData& a) { a.setNodeHandle(inbox.node); });
    if (link.error != 0 || link.link.empty()) {
        std::fprintf(stderr, "corvane-seed-demo: inbox \"%s\" could not be shared: error %d\n", name, link.error);
        link.link.clear();
    }
    link.node = inbox.node;
    return link;
}

// Sends one record through the inbox link the way the application's second facade does: no
// account, a link session on a new record of the inbox, its fields, its files, and the record
// link at the end.
Sent sendThroughInbox(const std::filesystem::path& folder, TaskManager& taskManager, Listeners& listeners,
                      const std::string& inboxLink, const std::string& senderEmail, const Letter& letter) {
    Sent sent;
    std::error_code error;
    std::filesystem::create_directories(folder / "files", error);
    CorvaneSettings settings;
    settings.setDataPath(folder.string());
    Corvane sender(&taskManager, &settings);
    const Outcome inbox =
        run(sender, listeners, GET_INBOX_INFO, [&](MutableActionData& a) { a.setLink(inboxLink.c_str()); });
    if (inbox.error != 0) {
        std::fprintf(stderr, "corvane-seed-demo: inbox link could not be resolved: error %d\n", inbox.error);
        return sent;
    }
    std::vector<std::pair<int32_t, std::function<void(MutableActionData&)>>> steps{
        {LOGIN_LINK, [&](MutableActionData& a) { a.setLink(inboxLink.c_str()); }},
        {GET_NODES, [](MutableActionData&) {}},
        {SET_RECORD_INFO,
         [&](MutableActionData& a) {
             a.setEmail(senderEmail.c_str());
             a.setName(letter.subject);
             a.setText(letter.message);
         }},
    };
    for (const auto& attachment : letter.attachments) {
        const std::string path = (folder / "files" / attachment.name).string();
        std::ofstream(path, std::ios::binary) << attachment.bytes;
        steps.emplace_back(UPLOAD_TO_RECORD, [path](MutableActionData& a) { a.setName(path.c_str()); });
    }
    for (const auto& [type, fill] : steps) {
        const Outcome step = run(sender, listeners, type, fill);
        if (step.error != 0) {
            std::fprintf(stderr, "corvane-seed-demo: %s for \"%s\" failed with error %d\n", getActionTypeName(type),
                         letter.subject, step.error);
            return sent;
        }
    }
    const Outcome closed = run(sender, listeners, LOGOUT_LINK, [](MutableActionData&) {});
    if (closed.error != 0 || closed.link.empty()) {
        std::fprintf(stderr, "corvane-seed-demo: record \"%s\" could not be closed: error %d\n", letter.subject,
                     closed.error);
        return sent;
    }
    sent.recipient = inbox.account;
    sent.inboxName = inbox.name;
    sent.inboxLink = inboxLink;
    sent.recordLink = closed.link;
    return sent;
}

// Files on the sender's side what it sent: the recipient's account as a contact, the inbox
// as an outbox of it, the record as a sent record in that outbox. A contact or outbox filed
// before is used again.
bool fileSent(Corvane& facade, Listeners& listeners, const char* recipientName, const Sent& sent) {
    const Outcome contact = run(facade, listeners, MANAGE_CONTACTS, [&](MutableActionData& a) {
        a.setAccountHandle(sent.recipient);
        a.setName(recipientName);
    });
    if (contact.error != 0 && contact.error != ALREADY_EXISTS) {
        std::fprintf(stderr, "corvane-seed-demo: contact \"%s\" could not be added: error %d\n", recipientName,
                     contact.error);
        return false;
    }
    const std::string outboxName = sent.inboxName.empty() ? std::string(recipientName) : sent.inboxName;
    const Outcome outbox = run(facade, listeners, MANAGE_OUTBOXES, [&](MutableActionData& a) {
        a.setNodeHandle(contact.node);
        a.setLink(sent.inboxLink.c_str());
        a.setName(outboxName.c_str());
    });
    if (outbox.error != 0 && outbox.error != ALREADY_EXISTS) {
        std::fprintf(stderr, "corvane-seed-demo: outbox \"%s\" could not be added: error %d\n", outboxName.c_str(),
                     outbox.error);
        return false;
    }
    const Outcome record = run(facade, listeners, MANAGE_SENT_RECORDS, [&](MutableActionData& a) {
        a.setNodeHandle(outbox.node);
        a.setLink(sent.recordLink.c_str());
    });
    if (record.error != 0 && record.error != ALREADY_EXISTS) {
        std::fprintf(stderr, "corvane-seed-demo: sent record could not be filed: error %d\n", record.error);
        return false;
    }
    return true;
}

// Sends the letter from one party to the other's inbox and files it on the sender's side.
bool sendAndFile(const std::filesystem::path& folder, TaskManager& taskManager, Listeners& listeners, const Party& from,
                 const Party& to, const std::string& inboxLink, const Letter& letter) {
    const Sent sent = sendThroughInbox(folder, taskManager, listeners, inboxLink, from.email, letter);
    return !sent.recordLink.empty() && sent.recipient != 0 && fileSent(*from.facade, listeners, to.name, sent);
}

// Everything of the demo: the demo account with its folders and two shared inboxes, records
// the partner sent to them, and a record the demo account sent to the partner's inbox, each
// filed by its sender. True when all of it exists.
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
    const std::string partnerAddress = partnerEmail(email);
    if (registerUser(partner, listeners, partnerAddress, base64Url(randomBytes(18)), kPartnerFirstName,
                     kPartnerLastName)
            .error != 0) {
        return false;
    }
    for (Corvane* facade : {&demo, &partner}) {
        if (run(*facade, listeners, GET_NODES, [](MutableActionData&) {}).error != 0) {
            std::fprintf(stderr, "corvane-seed-demo: an account's tree did not load\n");
            return false;
        }
    }

    const Outcome service =
        createInbox(demo, listeners, "Customer service", "Questions, complaints and returns. We answer within a day.");
    const Outcome orders = createInbox(demo, listeners, "Orders", "Purchase orders and delivery notes.");
    const Outcome desk = createInbox(partner, listeners, "Partner desk", "Everything for Pat Partner.");
    if (service.link.empty() || orders.link.empty() || desk.link.empty()) {
        return false;
    }

    const Party demoParty{&demo, email, "Demo User"};
    const Party partnerParty{&partner, partnerAddress, "Pat Partner"};
    const std::string photo = demo::makeDemoPng(160, 120);
    const std::vector<std::pair<std::string, Letter>> toDemo{
        {service.link,
         {"Damaged delivery, photo attached",
          "Hello,\n\nthe parcel of order 2026-0412 arrived with a dented corner. A photo is attached; the "
          "goods inside look fine.\n\nKind regards,\nPat Partner",
          {{"parcel.png", photo},
           {"delivery-note-2026-0412.txt", std::string("Delivery note 2026-0412\n3 x A4 binder\n")}}}},
        {orders.link,
         {"Purchase order 2026-0415",
          "Please find our purchase order attached. Delivery by the end of the month would suit us.",
          {{"purchase-order-2026-0415.txt",
            std::string("Purchase order 2026-0415\n12 x archive box\n4 x label printer roll\nTotal: 187.40 EUR\n")}}}},
    };
    for (size_t i = 0; i < toDemo.size(); ++i) {
        if (!sendAndFile(cache / ("sent-" + std::to_string(i)), taskManager, listeners, partnerParty, demoParty,
                         toDemo[i].first, toDemo[i].second)) {
            return false;
        }
    }
    const Letter toPartner{
        "Welcome to our service",
        "Dear Pat,\n\nthank you for your order. Our terms of delivery are attached.\n\nDemo User",
        {{"terms-of-delivery.txt", std::string("Terms of delivery\n1. Goods travel at our risk.\n")}}};
    return sendAndFile(cache / "sent-demo", taskManager, listeners, demoParty, partnerParty, desk.link, toPartner) &&
           complete;
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
