// Applying a change list pushed through the events request: another session of the account
// adds 10,000 folders under the cloud drive root (100 AddNodes changes of 100 folders), and a
// fresh API manager whose cache still holds the account's earlier status takes the session
// over and loads that cache. Timed from building the manager to the NEW_NODES event that
// completes the 10,000 nodes: the forced batch, the events answer over loopback TLS from the
// in-process stand-in, reading the changes, unwrapping and decrypting every node, storing it
// and raising its event. Prints seconds, nodes per second, the peak resident growth (the
// in-process stand-in's share included) and when the first NEW_NODES event came, for each
// round (a fresh stand-in and data folder each).
//
// Usage: bench_events [rounds]   (3 by default)

#include <cryptopp/osrng.h>
#include <flatbuffers/flatbuffers.h>
#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "account_directory.h"
#include "add_nodes_response_generated.h"
#include "client/sdk_api_manager.h"
#include "cloud/cloud.h"
#include "cloud/cloud_test_support.h"
#include "cloud/sealed_node_fixture.h"
#include "corvane/action_types.h"
#include "corvane/corvane_settings.h"
#include "corvane/event_listener.h"
#include "corvane/mutable_action_data.h"
#include "execution/callback_dispatcher.h"
#include "http/curl_http.h"
#include "loop/libuv_loop.h"
#include "request/cloud_request.h"
#include "stand_in_service.h"
#include "support/run_on_loop.h"
#include "support/stand_in_account.h"
#include "util/deployment.h"

namespace {

using namespace corvane;
using Clock = std::chrono::steady_clock;

constexpr size_t kChanges = 100;
constexpr size_t kPerChange = 100;
constexpr size_t kNodes = kChanges * kPerChange;
constexpr uint64_t kTheirClientId = 0x0000112233445500ULL;

// The peak resident set since the last reset, in kB (VmHWM), and the current one (VmRSS).
long statusKb(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string prefix = std::string(field) + ":";
    while (std::getline(status, line)) {
        if (line.rfind(prefix, 0) == 0) {
            return std::strtol(line.c_str() + prefix.size(), nullptr, 10);
        }
    }
    return -1;
}

// Makes VmHWM start again from the current resident set.
void resetPeakResident() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

// Counts the nodes of the NEW_NODES events and notes when the first and the last arrived; full
// reloads are counted too, so that a snapshot cannot pass for the change list.
class NodeCounter : public EventListener {
public:
    void onEvent(std::shared_ptr<EventData> event) override {
        std::lock_guard<std::mutex> lock(mutex_);
        switch (event->getType()) {
            case EVENT_NEW_NODES:
                if (newNodesEvents_++ == 0) {
                    first_ = Clock::now();
                }
                nodes_ += event->getNodes()->size();
                external_ = external_ && event->isExternal() && event->getClientId() == kTheirClientId;
                if (nodes_ >= kNodes && !reached_) {
                    reached_ = true;
                    done_.set_value(Clock::now());
                }
                break;
            case EVENT_FULL_RELOAD:
                ++fullReloads_;
                break;
            default:
                break;
        }
    }

    std::future<Clock::time_point> reached() { return done_.get_future(); }

    Clock::time_point first() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return first_;
    }

    size_t nodes() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return nodes_;
    }
    size_t newNodesEvents() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return newNodesEvents_;
    }
    size_t fullReloads() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return fullReloads_;
    }
    bool allExternal() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return external_;
    }

private:
    mutable std::mutex mutex_;
    std::promise<Clock::time_point> done_;
    Clock::time_point first_;
    size_t nodes_ = 0;
    size_t newNodesEvents_ = 0;
    size_t fullReloads_ = 0;
    bool external_ = true;
    bool reached_ = false;
};

std::string messageOf(NetworkRequest& request) {
    std::unique_ptr<ByteArray> message = request.takeMessage();
    return std::string(reinterpret_cast<const char*>(message->data()), message->size());
}

struct Round {
    bool ok = false;
    std::string failure;
    double seconds = 0;
    double firstEventSeconds = 0;
    long peakGrowthKb = 0;
    size_t nodes = 0;
    size_t events = 0;
    size_t children = 0;
};

// The stand-in with an account, its root and two sessions of its user; our session's cache
// seeded at the account's status; then their session adds the folders; then the timed load.
class EventsRound {
public:
    Round run() {
        Round round;
        if (!service_.start()) {
            round.failure = "the stand-in did not start";
            return round;
        }
        Deployment saved = getDeployment();
        Deployment deployment = saved;
        deployment.apiBaseUrl = service_.apiUrl();
        deployment.apiPin = service_.pin();
        // The long poll is not pinned: the stand-in's certificate is trusted as a CA.
        deployment.caFile = service_.certificatePath();
        setDeployment(deployment);
        if (prepare(round)) {
            measure(round);
        }
        setDeployment(saved);
        service_.stop();
        return round;
    }

private:
    bool prepare(Round& round) {
        service::AccountDirectory& accounts = service_.accounts();
        const test::StandInAccount standIn = test::makeStandInAccount(accounts);
        account_ = standIn.account;
        root_ = standIn.root;
        ours_ = standIn.ours;
        theirs_ = standIn.theirs;
        if (root_ == 0 || ours_.empty() || theirs_.empty()) {
            round.failure = "the stand-in account could not be made";
            return false;
        }
        // Every change must stay in the account's log, or the answer would be a snapshot.
        if (service::AccountDirectory::kDefaultKeptChanges < 2 * kChanges) {
            accounts.setKeptChanges(2 * kChanges);
        }
        const uint64_t cachedStatus = accounts.accountStatus(account_);
        {
            // The account as the last run left it: the root and its filesystem.
            test::CacheFile cache(Cloud::cachePath(dataDir_.path(), ours_));
            test::putCachedRoot(cache, account_, cachedStatus, root_);
        }

        CryptoPP::AutoSeededRandomPool random;
        for (size_t change = 0; change < kChanges; ++change) {
            auto folders = std::make_shared<EncryptedNodeList>();
            for (size_t i = 0; i < kPerChange; ++i) {
                test::Bytes folderKey(32);
                random.GenerateBlock(folderKey.data(), folderKey.size());
                const std::string name = "folder " + std::to_string(change * kPerChange + i);
                folders->push_back(test::sealedFolder(root_, folderKey, userKey_, name));
            }
            AddNodesRequest adding(std::make_shared<MutableActionData>(TEST), folders, kTheirClientId);
            const std::string message = messageOf(adding);
            if (message.size() > (1u << 20)) {
                round.failure = "an AddNodes message is over 1 MiB";
                return false;
            }
            const std::string added = service_.answerAs(theirs_, message);
            const auto* response = added.empty() ? nullptr : flatbuffers::GetRoot<AddNodesResponse>(added.data());
            if (!response || response->error() != 0 || !response->nodes() || response->nodes()->size() != kPerChange) {
                round.failure = "the stand-in refused an AddNodes change";
                return false;
            }
        }
        if (accounts.accountStatus(account_) != cachedStatus + kChanges) {
            round.failure = "the account status did not move on by one per change";
            return false;
        }
        return true;
    }

    void measure(Round& round) {
        LibuvLoop mainLoop;
        if (mainLoop.start()) {
            round.failure = "the main loop did not start";
            return;
        }
        CallbackDispatcher dispatcher;
        NodeCounter counter;
        dispatcher.addEventListener(&counter);
        std::future<Clock::time_point> reached = counter.reached();
        CorvaneSettings settings;
        settings.setDataPath(dataDir_.path());
        std::promise<bool> loaded;
        std::future<bool> loadedFuture = loaded.get_future();

        // Heap kept from earlier rounds would hide this round's growth.
        malloc_trim(0);
        resetPeakResident();
        const long before = statusKb("VmRSS");
        const Clock::time_point start = Clock::now();
        auto manager = std::make_unique<SdkApiManager>(&dispatcher, &mainLoop, &settings);
        SdkApiManager* raw = manager.get();
        mainLoop.post([&, raw] {
            raw->setSession("ada@example.test", ours_.c_str(), test::patternKey(4), test::patternKey(5), userKey_,
                            fingerprintKey_, accountKey_, 77, account_, 0, 0,
                            [&, raw] { raw->loadCache([&](bool result) { loaded.set_value(result); }); });
        });
        const bool arrived = reached.wait_for(std::chrono::minutes(5)) == std::future_status::ready;
        if (arrived) {
            round.seconds = std::chrono::duration<double>(reached.get() - start).count();
            round.firstEventSeconds = std::chrono::duration<double>(counter.first() - start).count();
            round.peakGrowthKb = statusKb("VmHWM") - before;
        }

        round.nodes = counter.nodes();
        round.events = counter.newNodesEvents();
        if (loadedFuture.wait_for(std::chrono::seconds(60)) != std::future_status::ready || !loadedFuture.get()) {
            round.failure = "the cache did not load";
        } else if (!arrived) {
            round.failure = "the NEW_NODES events stopped at " + std::to_string(round.nodes) + " nodes";
        } else if (counter.fullReloads() != 0) {
            round.failure = "the events answer was a snapshot, not a change list";
        } else if (!counter.allExternal()) {
            round.failure = "a NEW_NODES event was not marked as the other session's";
        } else {
            // The folders are in the model under the root, not just announced.
            std::promise<size_t> children;
            mainLoop.post([&, raw] {
                raw->getCloud()->getChildren(
                    root_, [&](Cloud::NodeListPointer list) { children.set_value(list ? list->size() : 0); }, 0);
            });
            round.children = children.get_future().get();
            round.ok = round.nodes == kNodes && round.events == kChanges && round.children == kNodes;
            if (!round.ok) {
                round.failure = "the cache does not hold what the events announced";
            }
        }
        // As the facade does: the main loop stops before its manager goes.
        mainLoop.stop();
        mainLoop.join();
        manager.reset();
    }

    const std::vector<uint8_t> userKey_ = test::patternKey(1);
    const std::vector<uint8_t> accountKey_ = test::patternKey(2);
    const std::vector<uint8_t> fingerprintKey_ = test::patternKey(3);
    test::CloudTempDir dataDir_;
    service::StandInService service_;
    uint64_t account_ = 0;
    uint64_t root_ = 0;
    std::string ours_;
    std::string theirs_;
};

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    // Loopback exchanges must not go to a proxy of the machine.
    for (const char* name : {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}) {
        unsetenv(name);
    }
    CurlHttp::initialize();
    std::printf("%zu folders added by another session in %zu AddNodes changes, applied through GetEvents\n", kNodes,
                kChanges);
    std::printf("%-8s %12s %16s %20s %22s\n", "round", "seconds", "nodes/s", "peak RSS growth MB",
                "first event after s");
    int failures = 0;
    for (int i = 1; i <= rounds; ++i) {
        Round round = EventsRound().run();
        if (!round.ok) {
            std::printf("%-8d failed: %s\n", i, round.failure.c_str());
            ++failures;
            continue;
        }
        std::printf("%-8d %12.3f %16.0f %20.1f %22.3f\n", i, round.seconds, static_cast<double>(kNodes) / round.seconds,
                    static_cast<double>(round.peakGrowthKb) / 1024.0, round.firstEventSeconds);
    }
    CurlHttp::cleanup();
    return failures == 0 ? 0 : 1;
}
