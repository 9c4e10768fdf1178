// corvane-seed-demo: registers a demo user on a running stand-in the way the application's SDK
// does (VERIFY_EMAIL, then CREATE_ACCOUNT with keys made on this side) and adds a few folders
// to the new account's drive. The stand-in is named by CORVANE_API_URL and CORVANE_API_PIN.
// Exits 0 once the account and its folders exist.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
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

struct Outcome {
    int32_t error = -1;
    std::string text;
};

class OutcomeListener : public ActionListener {
public:
    void onActionFinish(std::shared_ptr<ActionData> action) override {
        promise_.set_value(Outcome{action->getErrorCode(), action->getTextString()});
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
    // The SDK's cache of the new account is of no further use: it goes into a folder of its
    // own, removed at the end.
    std::error_code error;
    const std::filesystem::path cache =
        std::filesystem::temp_directory_path(error) / ("tembra-seed-" + std::to_string(::getpid()));
    if (error || !std::filesystem::create_directory(cache, error)) {
        std::fprintf(stderr, "corvane-seed-demo: no temporary folder for the cache\n");
        return 1;
    }
    CorvaneSettings settings;
    settings.setDataPath(cache.string());

    Corvane::globalInit("TembraDemo", 1);
    int status = 1;
    {
        SynchronousTaskManager taskManager;
        Listeners listeners;
        Corvane facade(&taskManager, &settings);
        const Outcome verified = run(facade, listeners, VERIFY_EMAIL, [&](MutableActionData& a) {
            a.setEmail(email.c_str());
            a.setName("Demo");
            a.setExtraText("User");
        });
        if (verified.error != 0) {
            std::fprintf(stderr, "corvane-seed-demo: e-mail verification failed with error %d\n", verified.error);
        } else {
            const Outcome created = run(facade, listeners, CREATE_ACCOUNT, [&](MutableActionData& a) {
                a.setText(verified.text.c_str());
                a.setName("Demo");
                a.setExtraText("User");
                a.setEmail(email.c_str());
                a.setPassword(password.c_str());
                a.setOption(kPin);
            });
            SdkApiManager& manager = test::FacadeAccess::manager(facade);
            const uint64_t root = created.error == 0 ? waitForDriveRoot(manager) : 0;
            if (created.error != 0) {
                std::fprintf(stderr, "corvane-seed-demo: account creation failed with error %d\n", created.error);
            } else if (root == 0) {
                std::fprintf(stderr, "corvane-seed-demo: the new account's drive did not load\n");
            } else {
                status = 0;
                for (const char* name : kFolders) {
                    if (!addFolder(manager, root, name)) {
                        std::fprintf(stderr, "corvane-seed-demo: folder \"%s\" could not be added\n", name);
                        status = 1;
                    }
                }
            }
        }
    }
    Corvane::globalCleanup();
    std::filesystem::remove_all(cache, error);
    return status;
}
