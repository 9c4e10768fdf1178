// The inbox road against the stand-in over loopback HTTPS. Send road: a facade without account
// resolves an inbox link, opens it, fills in the record, attaches two 1 MiB files and closes
// it; reported as sends per minute. Owner's listing: the children of an inbox holding 5,000
// records, from the owner's cache, after the tree with them was loaded (its load time is
// reported beside it).

#include <benchmark/benchmark.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "account_directory.h"
#include "client/corvane.h"
#include "corvane/action_data.h"
#include "corvane/action_listener.h"
#include "corvane/action_types.h"
#include "corvane/corvane_settings.h"
#include "corvane/handle.h"
#include "corvane/mutable_action_data.h"
#include "corvane/node_type.h"
#include "http/curl_http.h"
#include "stand_in_service.h"
#include "support/facade_access.h"
#include "util/deployment.h"

namespace {

constexpr const char* kEmail = "inbox-bench@example.test";
constexpr const char* kPassword = "a password of some length";
constexpr size_t kAttachment = 1 << 20;
constexpr size_t kRecords = 5000;

using Fill = std::function<void(corvane::MutableActionData&)>;

class Waiter : public corvane::ActionListener {
public:
    void onActionFinish(std::shared_ptr<corvane::ActionData> action) override {
        std::lock_guard<std::mutex> lock(mutex_);
        action_ = std::move(action);
        done_.notify_all();
    }
    // The dispatcher lets the listener go only after its finish call returned.
    void setReleased(bool released) override {
        std::lock_guard<std::mutex> lock(mutex_);
        released_ = released;
        done_.notify_all();
    }
    std::shared_ptr<corvane::ActionData> wait() {
        std::unique_lock<std::mutex> lock(mutex_);
        done_.wait_for(lock, std::chrono::minutes(5), [&] { return action_ != nullptr && released_; });
        return action_;
    }

private:
    std::mutex mutex_;
    std::condition_variable done_;
    std::shared_ptr<corvane::ActionData> action_;
    bool released_ = false;
};

std::shared_ptr<corvane::ActionData> act(corvane::Corvane& facade, int32_t type, const Fill& fill) {
    Waiter waiter;
    corvane::test::FacadeAccess::submit(facade, type, &waiter, fill);
    return waiter.wait();
}

bool ok(const std::shared_ptr<corvane::ActionData>& action) {
    return action && action->getErrorCode() == 0;
}

// An owner with a published inbox and a sender facade, on a fresh stand-in.
struct Setup {
    corvane::service::StandInService service;
    corvane::Deployment saved = corvane::getDeployment();
    std::string folder;
    std::unique_ptr<corvane::CorvaneSettings> ownerSettings, senderSettings;
    std::unique_ptr<corvane::Corvane> owner, sender;
    uint64_t account = 0;
    uint64_t inbox = 0;
    std::string link;
    std::string error;

    Setup() {
        char pattern[] = "/tmp/inbox-bench-XXXXXX";
        folder = mkdtemp(pattern) != nullptr ? pattern : "";
        if (folder.empty() || !service.start()) {
            error = "stand-in did not start";
            return;
        }
        corvane::Deployment deployment = saved;
        deployment.apiBaseUrl = service.apiUrl();
        deployment.apiPin = service.pin();
        deployment.caFile = service.certificatePath();
        corvane::setDeployment(deployment);
        corvane::Corvane::globalInit("InboxBench", 1);
        std::filesystem::create_directories(folder + "/owner");
        std::filesystem::create_directories(folder + "/sender");
        ownerSettings = std::make_unique<corvane::CorvaneSettings>();
        ownerSettings->setDataPath((folder + "/owner").c_str());
        senderSettings = std::make_unique<corvane::CorvaneSettings>();
        senderSettings->setDataPath((folder + "/sender").c_str());
        owner = std::make_unique<corvane::Corvane>(nullptr, ownerSettings.get());
        sender = std::make_unique<corvane::Corvane>(nullptr, senderSettings.get());

        auto verified = act(*owner, corvane::VERIFY_EMAIL, [](corvane::MutableActionData& a) {
            a.setEmail(kEmail);
            a.setName("Bench");
            a.setExtraText("Mark");
        });
        if (!ok(verified)) {
            error = "registration refused";
            return;
        }
        const std::string registration = verified->getTextString();
        if (!ok(act(*owner, corvane::CREATE_ACCOUNT,
                    [&](corvane::MutableActionData& a) {
                        a.setText(registration.c_str());
                        a.setName("Bench");
                        a.setExtraText("Mark");
                        a.setEmail(kEmail);
                        a.setPassword(kPassword);
                        a.setOption(1234);
                    })) ||
            !ok(act(*owner, corvane::GET_NODES, [](corvane::MutableActionData&) {})) ||
            !ok(act(*owner, corvane::CREATE_INBOX, [](corvane::MutableActionData& a) { a.setName("Orders"); }))) {
            error = "owner not set up";
            return;
        }
        account = service.accounts().userByEmail(kEmail)->mainAccount;
        for (const auto& node : service.accounts().nodes(account)) {
            if (node.type == corvane::INBOX_NODE) {
                inbox = node.handle;
            }
        }
        // Published as a link would publish it: a public handle, and the inbox key after '#'.
        auto record = service.accounts().node(account, inbox);
        const std::vector<uint8_t> handle(16, 0x5A);
        record->pubhandle = std::string(handle.begin(), handle.end());
        service.accounts().addNode(account, *record);
        auto cached = act(*owner, corvane::GET_NODE, [&](corvane::MutableActionData& a) { a.setNodeHandle(inbox); });
        if (!ok(cached) || !cached->getNode()) {
            error = "inbox not cached";
            return;
        }
        link = deployment.webAddress + "/inbox/" + corvane::getBase64UrlText(&handle) + "#" +
               cached->getNode()->getKeyText();
        std::ofstream out(attachment(), std::ios::binary | std::ios::trunc);
        std::string bytes(kAttachment, '\0');
        for (size_t i = 0; i < bytes.size(); ++i) {
            bytes[i] = static_cast<char>((i * 131 + 17) & 0xFF);
        }
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }

    ~Setup() {
        sender.reset();
        owner.reset();
        if (ownerSettings) {
            corvane::Corvane::globalCleanup();
        }
        corvane::setDeployment(saved);
        service.stop();
        if (!folder.empty()) {
            std::filesystem::remove_all(folder);
        }
    }

    std::string attachment() const { return folder + "/attachment.bin"; }

    // One whole send; false when a step failed.
    bool send() {
        const std::string file = attachment();
        return ok(act(*sender, corvane::GET_INBOX_INFO,
                      [&](corvane::MutableActionData& a) { a.setLink(link.c_str()); })) &&
               ok(act(*sender, corvane::LOGIN_LINK, [&](corvane::MutableActionData& a) { a.setLink(link.c_str()); })) &&
               ok(act(*sender, corvane::GET_NODES, [](corvane::MutableActionData&) {})) &&
               ok(act(*sender, corvane::SET_RECORD_INFO,
                      [](corvane::MutableActionData& a) {
                          a.setEmail("sender@example.test");
                          a.setName("Order");
                          a.setText("Two attachments");
                      })) &&
               ok(act(*sender, corvane::UPLOAD_TO_RECORD,
                      [&](corvane::MutableActionData& a) { a.setName(file.c_str()); })) &&
               ok(act(*sender, corvane::UPLOAD_TO_RECORD,
                      [&](corvane::MutableActionData& a) { a.setName(file.c_str()); })) &&
               ok(act(*sender, corvane::LOGOUT_LINK, [](corvane::MutableActionData&) {}));
    }
};

void BM_SendRoad(benchmark::State& state) {
    corvane::CurlHttp::initialize();
    Setup setup;
    if (!setup.error.empty()) {
        state.SkipWithError(setup.error.c_str());
        return;
    }
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        if (!setup.send()) {
            state.SkipWithError("a send failed");
            break;
        }
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    state.counters["sends_per_minute"] = seconds > 0 ? static_cast<double>(state.iterations()) * 60.0 / seconds : 0;
}
BENCHMARK(BM_SendRoad)->UseRealTime()->Unit(benchmark::kMillisecond)->MinTime(10.0);

void BM_OwnerListsInbox(benchmark::State& state) {
    corvane::CurlHttp::initialize();
    Setup setup;
    if (!setup.error.empty() || !setup.send()) {
        state.SkipWithError(setup.error.empty() ? "the first send failed" : setup.error.c_str());
        return;
    }
    // The one record sent, once its owner rewrote its key, copied until the inbox holds 5,000;
    // copies share its sealed key and attributes, as records sent alike would.
    std::optional<corvane::service::NodeRecord> sent;
    for (int attempt = 0; attempt < 600; ++attempt) {
        for (const auto& node : setup.service.accounts().nodes(setup.account)) {
            if (node.type == corvane::RECORD_NODE && node.crypto == 0) {
                sent = node;
            }
        }
        if (sent) {
            break;
        }
        setup.service.clearArrivals();
        setup.service.waitForRequests("/api", 1, std::chrono::milliseconds(100));
    }
    if (!sent) {
        state.SkipWithError("the record's key was not rewritten");
        return;
    }
    for (size_t i = 1; i < kRecords; ++i) {
        corvane::service::NodeRecord copy = *sent;
        copy.handle = 0;
        copy.pubhandle.reset();
        setup.service.accounts().addNode(setup.account, copy);
    }
    // The owner signs in afresh on another device and loads the tree with the 5,000 records.
    std::filesystem::create_directories(setup.folder + "/device");
    corvane::CorvaneSettings deviceSettings;
    deviceSettings.setDataPath((setup.folder + "/device").c_str());
    auto device = std::make_unique<corvane::Corvane>(nullptr, &deviceSettings);
    if (!ok(act(*device, corvane::LOGIN, [](corvane::MutableActionData& a) {
            a.setEmail(kEmail);
            a.setPassword(kPassword);
            a.setValue(-1);
        }))) {
        state.SkipWithError("sign-in failed");
        return;
    }
    const auto loadStart = std::chrono::steady_clock::now();
    if (!ok(act(*device, corvane::GET_NODES, [](corvane::MutableActionData&) {}))) {
        state.SkipWithError("tree not loaded");
        return;
    }
    const double loadSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - loadStart).count();
    size_t listed = 0;
    for (auto _ : state) {
        auto children = act(*device, corvane::GET_CHILDREN, [&](corvane::MutableActionData& a) {
            a.setParentHandle(setup.inbox);
            a.setValue(1);
        });
        if (!ok(children)) {
            state.SkipWithError("listing failed");
            break;
        }
        listed = children->getNodes()->size();
    }
    state.counters["records"] = static_cast<double>(listed);
    state.counters["tree_load_s"] = loadSeconds;
}
BENCHMARK(BM_OwnerListsInbox)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(20);

}  // namespace

BENCHMARK_MAIN();
