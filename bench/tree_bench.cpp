// Loading an account of 100,000 nodes (a cloud drive root with ten folders of 10,000 folders
// each) through GetNodes: once from the in-process stand-in over loopback TLS (the whole tree
// read, every node unwrapped, decrypted and stored in a fresh cache) and once from that cache
// by a new API manager (as GET_NODES does after a restart: the filesystems and the roots; the
// rest is read when asked for). Then the children of one folder of 10,000, sorted by name as
// GET_CHILDREN lists them, twice. The stand-in's time to build the whole tree's answer is shown
// apart.
// Prints seconds, milliseconds per node and the peak resident growth (VmHWM; the stand-in's
// share included in the service load) of each round (a fresh stand-in and data folder each).
//
// Usage: bench_tree [rounds]   (2 by default)

#include <cryptopp/osrng.h>
#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "account_directory.h"
#include "client/sdk_api_manager.h"
#include "cloud/cloud.h"
#include "cloud/cloud_test_support.h"
#include "cloud/sealed_node_fixture.h"
#include "corvane/action_types.h"
#include "corvane/corvane_settings.h"
#include "corvane/mutable_action_data.h"
#include "execution/callback_dispatcher.h"
#include "http/curl_http.h"
#include "loop/libuv_loop.h"
#include "request/request_listener.h"
#include "request/tree_request.h"
#include "stand_in_service.h"
#include "support/stand_in_account.h"
#include "util/deployment.h"

namespace {

using namespace corvane;
using Clock = std::chrono::steady_clock;

constexpr size_t kFolders = 10;
constexpr size_t kPerFolder = 10000;
constexpr size_t kNodes = 1 + kFolders + kFolders * kPerFolder;
constexpr int32_t kByName = 1;

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

// VmHWM starts again from the current resident set.
void resetPeakResident() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

class Finished : public RequestListener {
public:
    void finished(std::shared_ptr<Request>) override { done_.set_value(); }
    std::future<void> future() { return done_.get_future(); }

private:
    std::promise<void> done_;
};

struct Load {
    double seconds = 0;
    long peakGrowthKb = 0;
};

struct Round {
    bool ok = false;
    std::string failure;
    Load service;
    Load cache;
    double standInAnswer = 0;
    double childrenFirst = 0;
    double childrenAgain = 0;
};

class TreeRound {
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
        deployment.caFile = service_.certificatePath();
        setDeployment(deployment);
        if (seed(round)) {
            measure(round);
        }
        setDeployment(saved);
        service_.stop();
        return round;
    }

private:
    // Placed through the stand-in's fixture operations: no change is logged for them.
    bool seed(Round& round) {
        service::AccountDirectory& accounts = service_.accounts();
        const test::StandInAccount standIn = test::makeStandInAccount(accounts);
        account_ = standIn.account;
        session_ = standIn.ours;
        if (standIn.root == 0 || session_.empty()) {
            round.failure = "the stand-in account could not be made";
            return false;
        }
        CryptoPP::AutoSeededRandomPool random;
        auto add = [&](uint64_t parent, const std::string& name) {
            test::Bytes key(32);
            random.GenerateBlock(key.data(), key.size());
            auto sealed = test::sealedFolder(parent, key, userKey_, name);
            service::NodeRecord node;
            node.parent = parent;
            node.type = 21;
            node.nodekey = std::string(sealed->getEncryptedNodeKey()->begin(), sealed->getEncryptedNodeKey()->end());
            node.attributes =
                std::string(sealed->getEncryptedAttributes()->begin(), sealed->getEncryptedAttributes()->end());
            return accounts.addNode(account_, node);
        };
        for (size_t f = 0; f < kFolders; ++f) {
            const uint64_t folder = add(standIn.root, "folder " + std::to_string(f));
            if (folder == 0) {
                round.failure = "a folder could not be placed";
                return false;
            }
            if (f == 0) {
                big_ = folder;
            }
            // Shuffled numbers, so that the sort has work to do.
            std::vector<size_t> numbers(kPerFolder);
            for (size_t i = 0; i < kPerFolder; ++i) {
                numbers[i] = (i * 7919) % kPerFolder;
            }
            for (size_t i : numbers) {
                if (add(folder, "item " + std::to_string(i)) == 0) {
                    round.failure = "a node could not be placed";
                    return false;
                }
            }
        }
        if (accounts.nodes(account_).size() != kNodes) {
            round.failure = "the stand-in does not hold every node";
            return false;
        }
        // The stand-in's own share of the service load: building the whole tree's answer.
        auto data = std::make_shared<MutableActionData>(GET_NODES);
        data->setFlags(1);
        GetNodesRequest request(data);
        std::unique_ptr<ByteArray> message = request.takeMessage();
        const Clock::time_point start = Clock::now();
        const std::string answer =
            service_.answerAs(session_, std::string(reinterpret_cast<const char*>(message->data()), message->size()));
        round.standInAnswer = std::chrono::duration<double>(Clock::now() - start).count();
        return !answer.empty();
    }

    // A manager signed in to the session, as after a sign-in.
    std::unique_ptr<SdkApiManager> signIn(LibuvLoop& loop, CallbackDispatcher& dispatcher, CorvaneSettings& settings) {
        auto manager = std::make_unique<SdkApiManager>(&dispatcher, &loop, &settings);
        std::promise<void> ready;
        SdkApiManager* raw = manager.get();
        loop.post([&, raw] {
            raw->setSession("ada@example.test", session_.c_str(), test::patternKey(4), test::patternKey(5), userKey_,
                            fingerprintKey_, accountKey_, 77, account_, 0, 0, [&] { ready.set_value(); });
        });
        ready.get_future().wait();
        return manager;
    }

    size_t childCount(LibuvLoop& loop, SdkApiManager* manager, uint64_t folder, double* seconds) {
        std::promise<size_t> listed;
        const Clock::time_point start = Clock::now();
        loop.post([&] {
            manager->getCloud()->getChildren(
                folder, [&](Cloud::NodeListPointer list) { listed.set_value(list ? list->size() : 0); }, kByName);
        });
        const size_t count = listed.get_future().get();
        *seconds = std::chrono::duration<double>(Clock::now() - start).count();
        return count;
    }

    size_t heldNodes(LibuvLoop& loop, SdkApiManager* manager) {
        std::promise<size_t> count;
        loop.post([&] { count.set_value(static_cast<size_t>(manager->getCloud()->getRamNodeCount())); });
        return count.get_future().get();
    }

    void measure(Round& round) {
        CorvaneSettings settings;
        settings.setDataPath(dataDir_.path());
        {
            LibuvLoop loop;
            loop.start();
            CallbackDispatcher dispatcher;
            auto manager = signIn(loop, dispatcher, settings);
            auto data = std::make_shared<MutableActionData>(GET_NODES);
            data->setFlags(1);
            Finished finished;
            auto done = finished.future();
            malloc_trim(0);
            resetPeakResident();
            const long before = statusKb("VmRSS");
            const Clock::time_point start = Clock::now();
            SdkApiManager* raw = manager.get();
            loop.post([&, raw] { raw->enqueueApiRequest(std::make_shared<GetNodesRequest>(data), &finished); });
            if (done.wait_for(std::chrono::minutes(10)) != std::future_status::ready) {
                round.failure = "the tree did not load from the service";
            } else {
                round.service.seconds = std::chrono::duration<double>(Clock::now() - start).count();
                round.service.peakGrowthKb = statusKb("VmHWM") - before;
                if (data->getErrorCode() != 0 || !data->getNode()) {
                    round.failure = "the service load ended with " + std::to_string(data->getErrorCode());
                }
            }
            loop.stop();
            loop.join();
            manager.reset();
        }
        if (!round.failure.empty()) {
            return;
        }
        LibuvLoop loop;
        loop.start();
        CallbackDispatcher dispatcher;
        auto manager = signIn(loop, dispatcher, settings);
        std::promise<bool> loaded;
        malloc_trim(0);
        resetPeakResident();
        const long before = statusKb("VmRSS");
        const Clock::time_point start = Clock::now();
        SdkApiManager* raw = manager.get();
        loop.post([&, raw] { raw->loadCache([&](bool result) { loaded.set_value(result); }); });
        const bool fromCache = loaded.get_future().get();
        round.cache.seconds = std::chrono::duration<double>(Clock::now() - start).count();
        round.cache.peakGrowthKb = statusKb("VmHWM") - before;
        if (!fromCache) {
            round.failure = "the cache did not load";
        } else if (childCount(loop, raw, big_, &round.childrenFirst) != kPerFolder ||
                   childCount(loop, raw, big_, &round.childrenAgain) != kPerFolder) {
            round.failure = "the folder does not list its 10,000 children";
        } else if (heldNodes(loop, raw) == 0) {
            round.failure = "nothing is held after the load";
        } else {
            round.ok = true;
        }
        loop.stop();
        loop.join();
        manager.reset();
    }

    const std::vector<uint8_t> userKey_ = test::patternKey(1);
    const std::vector<uint8_t> accountKey_ = test::patternKey(2);
    const std::vector<uint8_t> fingerprintKey_ = test::patternKey(3);
    test::CloudTempDir dataDir_;
    service::StandInService service_;
    uint64_t account_ = 0;
    uint64_t big_ = 0;
    std::string session_;
};

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 2;
    for (const char* name : {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}) {
        unsetenv(name);
    }
    CurlHttp::initialize();
    std::printf("GetNodes of an account of %zu nodes; children of a folder of %zu sorted by name\n", kNodes,
                kPerFolder);
    std::printf("%-6s %10s %10s %10s %10s %10s %10s %10s %8s %12s %12s\n", "round", "service s", "stand-in s",
                "ms/node", "peak MB", "cache s", "ms/node", "peak MB", "ratio", "list 1st ms", "list 2nd ms");
    int failures = 0;
    for (int i = 1; i <= rounds; ++i) {
        Round round = TreeRound().run();
        if (!round.ok) {
            std::printf("%-6d failed: %s\n", i, round.failure.c_str());
            ++failures;
            continue;
        }
        std::printf("%-6d %10.3f %10.3f %10.4f %10.1f %10.3f %10.4f %10.1f %8.4f %12.1f %12.1f\n", i,
                    round.service.seconds, round.standInAnswer, round.service.seconds * 1000.0 / kNodes,
                    round.service.peakGrowthKb / 1024.0, round.cache.seconds, round.cache.seconds * 1000.0 / kNodes,
                    round.cache.peakGrowthKb / 1024.0, round.cache.seconds / round.service.seconds,
                    round.childrenFirst * 1000.0, round.childrenAgain * 1000.0);
    }
    CurlHttp::cleanup();
    return failures == 0 ? 0 : 1;
}
