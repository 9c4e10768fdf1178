#include "client/corvane.h"

#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include <curl/curl.h>
#include <uv.h>

#include "client/api_client.h"
#include "corvane/action_listener.h"
#include "corvane/action_types.h"
#include "corvane/corvane_settings.h"
#include "corvane/error.h"
#include "corvane/mutable_action_data.h"
#include "execution/callback_dispatcher.h"
#include "http/curl_http.h"
#include "loop/libuv_loop.h"
#include "util/log.h"

namespace corvane {

namespace {

// A login with e-mail and password carries no two-factor code.
constexpr int32_t kNoTwoFactorCode = -1;
constexpr int32_t kCreateTwoFactorLink = 1;
constexpr int32_t kEnableTwoFactor = 2;
constexpr int32_t kDisableTwoFactor = 3;
// Moves the node into its recycle bin rather than deleting it outright.
constexpr int32_t kMoveToRecycleBin = 1;
// A new link of the user's own, not of a node.
constexpr int32_t kOwnLink = 1;
// Every transfer that has not finished.
constexpr int32_t kUnfinishedTransfers = 6;
// Ends the link session with the service, sending the record made in it.
constexpr int32_t kSendRecord = 0;

// Process-wide state shared by every facade. The lock keeps facades created on other threads
// from reading it half-written.
struct GlobalState {
    std::mutex lock;
    std::string appName;
    int32_t appVersion = 0;
    bool ready = false;
    // Created once, by the first enableCrashHandler; the handlers stay for the process's life.
    std::unique_ptr<CrashManager> crashManager;
};

GlobalState& globals() {
    static GlobalState state;
    return state;
}

// Listener of the tree step of shareNode and downloadNode. It owns itself: the dispatcher lets
// it go right after its finish call (or at shutdown, when the finish never came), and it
// deletes itself then.
class NodeTreeStep : public ActionListener {
public:
    explicit NodeTreeStep(ActionFunction next) : next_(std::move(next)) {}

    void onActionFinish(std::shared_ptr<ActionData> tree) override { next_(std::move(tree)); }

    void setReleased(bool released) override {
        if (released) {
            delete this;
        }
    }

private:
    ActionFunction next_;
};

}  // namespace

void Corvane::globalInit(const std::string& appName, int32_t version) {
    GlobalState& state = globals();
    std::lock_guard<std::mutex> guard(state.lock);
    if (state.ready) {
        return;
    }
    CLOG_DEBUG("Initializing global resources");
    state.appName = appName;
    state.appVersion = version;
    state.ready = true;
    CurlHttp::initialize();
    CLOG_INFO("cURL version: {}", curl_version());
    CLOG_INFO("Libuv version: {}", uv_version_string());
}

void Corvane::globalCleanup() {
    GlobalState& state = globals();
    std::lock_guard<std::mutex> guard(state.lock);
    if (!state.ready) {
        return;
    }
    CLOG_DEBUG("Releasing global resources");
    state.appName.clear();
    state.appVersion = 0;
    state.ready = false;
    CurlHttp::cleanup();
}

void Corvane::enableCrashHandler(CrashCallback callback) {
    CLOG_DEBUG("Initializing crash manager");
    GlobalState& state = globals();
    std::lock_guard<std::mutex> guard(state.lock);
    if (state.crashManager) {
        return;
    }
    state.crashManager = std::make_unique<CrashManager>();
    state.crashManager->enable(state.appName, std::to_string(state.appVersion), std::move(callback));
}

Corvane::Corvane(TaskManager* taskManager, CorvaneSettings* settings) {
    CLOG_DEBUG("Creating corvane instance");
    std::string defaultUserAgent;
    {
        GlobalState& state = globals();
        std::unique_lock<std::mutex> guard(state.lock);
        if (!state.ready) {
            guard.unlock();
            CLOG_WARN("Global resources not ready");
            globalInit("Unknown", 0);
            guard.lock();
        }
        defaultUserAgent = state.appName + "/" + std::to_string(state.appVersion);
    }

    dispatcher_ = std::make_unique<CallbackDispatcher>(taskManager);
    mainLoop_ = std::make_unique<LibuvLoop>();
    loopError_ = mainLoop_->start();

    CorvaneSettings defaults;
    defaults.setUserAgent(defaultUserAgent);
    if (settings != nullptr && settings->getUserAgent().empty()) {
        settings->setUserAgent(defaultUserAgent);
    }

    // Without its main loop the SDK instance could never run anything it is given, nor end:
    // it is not built, and every operation fails at once.
    if (loopError_) {
        startError_ = loopError_;
        CLOG_ERROR("SDK main loop could not start: {}", loopError_.message());
        return;
    }
    client_ = std::make_unique<DirectApiClient>(mainLoop_.get(), dispatcher_.get(),
                                                settings != nullptr ? settings : &defaults);
    startError_ = client_->start();
    if (startError_) {
        CLOG_ERROR("SDK instance could not start: {}", startError_.message());
    }
}

Corvane::~Corvane() {
    CLOG_DEBUG("Deleting corvane instance");
    dispatcher_->shutdown();

    // Released only after everything else is gone: the listener's destructor waits until the
    // dispatcher has let it go.
    std::shared_ptr<BlockingActionListener> destroyListener;
    std::shared_ptr<MutableActionData> destroyAction;
    // A DESTROY handed to an instance that did not start would never finish.
    if (!startError_) {
        destroyListener = std::make_shared<BlockingActionListener>();
        destroyAction = dispatcher_->createAction(DESTROY, destroyListener.get());
        client_->execute(destroyAction);
        destroyListener->waitForResult();
    }

    if (!loopError_) {
        mainLoop_->stop();
        mainLoop_->join();
    }
    client_.reset();
    dispatcher_.reset();
    mainLoop_.reset();
}

void Corvane::submit(int32_t type, ActionListener* listener, const Fill& fill) {
    std::shared_ptr<MutableActionData> action = dispatcher_->createAction(type, listener);
    fill(*action);
    if (!startError_) {
        client_->execute(std::move(action));
        return;
    }
    // Through the dispatcher like any finish, so the listener hears it on the application's
    // task manager and is let go afterwards.
    action->setError(Error(TEMPORARILY_UNAVAILABLE));
    action->setFinished();
    dispatcher_->onActionFinish(std::move(action));
}

void Corvane::submitAfterNodeTree(uint64_t node, int32_t type, ActionListener* listener, Fill fill) {
    auto* step = new NodeTreeStep([this, type, listener, fill](std::shared_ptr<ActionData> tree) {
        if (tree->getErrorCode() == SUCCESS) {
            submit(type, listener, fill);
            return;
        }
        // The second action never runs: the listener hears its finish here, on this thread,
        // and is held only for that call, so nothing of it stays registered.
        std::shared_ptr<MutableActionData> action = dispatcher_->createAction(type, nullptr);
        fill(*action);
        action->setError(tree->getError());
        action->setFinished();
        if (listener != nullptr) {
            listener->setReleased(false);
            listener->onActionFinish(action);
            listener->setReleased(true);
        }
    });
    submit(GET_NODE_TREE, step, [node](MutableActionData& action) { action.setParentHandle(node); });
}

void Corvane::addEventListener(EventListener* listener) {
    dispatcher_->addEventListener(listener);
}

void Corvane::removeEventListener(EventListener* listener) {
    dispatcher_->removeEventListener(listener);
}

// Each operation names its action type and the fields it fills.
using Action = MutableActionData;

void Corvane::login(const char* email, const char* password, ActionListener* listener) {
    submit(LOGIN, listener, [&](Action& a) {
        a.setEmail(email);
        a.setPassword(password);
        a.setValue(kNoTwoFactorCode);
    });
}

void Corvane::loginWith2fa(const char* email, const char* password, int32_t code, ActionListener* listener) {
    submit(LOGIN, listener, [&](Action& a) {
        a.setEmail(email);
        a.setPassword(password);
        a.setValue(code);
    });
}

void Corvane::loginWithSession(const char* session, ActionListener* listener) {
    submit(LOGIN, listener, [&](Action& a) { a.setSession(session); });
}

void Corvane::loginLink(const char* link, ActionListener* listener) {
    submit(LOGIN_LINK, listener, [&](Action& a) { a.setLink(link); });
}

void Corvane::logout(ActionListener* listener) {
    submit(LOGOUT, listener, [](Action&) {});
}

void Corvane::logoutLink(ActionListener* listener) {
    submit(LOGOUT_LINK, listener, [](Action& a) { a.setOption(kSendRecord); });
}

void Corvane::newSession(ActionListener* listener) {
    submit(NEW_SESSION, listener, [](Action&) {});
}

void Corvane::getAccountInfo(ActionListener* listener) {
    submit(ACCOUNT_INFO, listener, [](Action&) {});
}

void Corvane::getUserInfo(ActionListener* listener) {
    submit(USER_INFO, listener, [](Action&) {});
}

void Corvane::getRecoveryKey(ActionListener* listener) {
    submit(RECOVERY_KEY, listener, [](Action&) {});
}

void Corvane::create2faLink(ActionListener* listener) {
    submit(MANAGE_2FA, listener, [](Action& a) { a.setOption(kCreateTwoFactorLink); });
}

void Corvane::enable2fa(int32_t code, ActionListener* listener) {
    submit(MANAGE_2FA, listener, [&](Action& a) {
        a.setValue(code);
        a.setOption(kEnableTwoFactor);
    });
}

void Corvane::disable2fa(int32_t code, ActionListener* listener) {
    submit(MANAGE_2FA, listener, [&](Action& a) {
        a.setValue(code);
        a.setOption(kDisableTwoFactor);
    });
}

void Corvane::deleteAccount(const char* reason, ActionListener* listener) {
    submit(DELETE_ACCOUNT, listener, [&](Action& a) { a.setText(reason); });
}

void Corvane::getNodes(ActionListener* listener) {
    submit(GET_NODES, listener, [](Action&) {});
}

void Corvane::getRoot(int32_t rootType, ActionListener* listener) {
    submit(GET_ROOT, listener, [&](Action& a) { a.setOption(rootType); });
}

void Corvane::getNode(uint64_t node, ActionListener* listener) {
    submit(GET_NODE, listener, [&](Action& a) { a.setNodeHandle(node); });
}

void Corvane::getChildren(uint64_t node, int32_t order, ActionListener* listener) {
    submit(GET_CHILDREN, listener, [&](Action& a) {
        a.setNodeHandle(node);
        a.setParentHandle(node);
        a.setValue(order);
    });
}

void Corvane::deleteNode(uint64_t node, ActionListener* listener) {
    submit(DELETE_NODE, listener, [&](Action& a) {
        a.setNodeHandle(node);
        a.setValue(kMoveToRecycleBin);
    });
}

void Corvane::createLink(ActionListener* listener) {
    submit(CREATE_LINK, listener, [](Action& a) { a.setNumber(kOwnLink); });
}

void Corvane::getTransfers(int32_t filter, ActionListener* listener) {
    submit(GET_TRANSFERS, listener, [&](Action& a) {
        a.setValue(filter);
        a.setOption(kUnfinishedTransfers);
    });
}

void Corvane::uploadFileMetadata(const char* localPath, uint64_t node, int32_t kind, ActionListener* listener) {
    submit(UPLOAD_METADATA, listener, [&](Action& a) {
        a.setName(localPath);
        a.setNodeHandle(node);
        a.setOption(kind);
    });
}

void Corvane::downloadFileMetadata(uint64_t node, int32_t kind, const char* localPath, ActionListener* listener) {
    submit(DOWNLOAD_METADATA, listener, [&](Action& a) {
        a.setNodeHandle(node);
        a.setOption(kind);
        a.setName(localPath);
    });
}

void Corvane::createInbox(const char* name, const char* description, ActionListener* listener) {
    submit(CREATE_INBOX, listener, [&](Action& a) {
        a.setName(name);
        a.setText(description);
    });
}

void Corvane::editInbox(uint64_t inbox, const char* name, const char* description, ActionListener* listener) {
    submit(SET_INBOX_INFO, listener, [&](Action& a) {
        a.setNodeHandle(inbox);
        a.setName(name);
        a.setText(description);
    });
}

void Corvane::getInboxInfo(const char* inboxLink, ActionListener* listener) {
    submit(GET_INBOX_INFO, listener, [&](Action& a) { a.setLink(inboxLink); });
}

void Corvane::setRecordInfo(const char* email, const char* name, const char* text, ActionListener* listener) {
    submit(SET_RECORD_INFO, listener, [&](Action& a) {
        a.setEmail(email);
        a.setName(name);
        a.setText(text);
    });
}

void Corvane::setRecordInfoFull(const char* email, const char* extraText, const char* name, const char* text,
                                ActionListener* listener) {
    submit(SET_RECORD_INFO, listener, [&](Action& a) {
        a.setEmail(email);
        a.setExtraText(extraText);
        a.setName(name);
        a.setText(text);
    });
}

void Corvane::uploadToRecord(const char* localPath, ActionListener* listener) {
    submit(UPLOAD_TO_RECORD, listener, [&](Action& a) { a.setName(localPath); });
}

void Corvane::getRecordInfo(const char* recordLink, ActionListener* listener) {
    submit(GET_RECORD_INFO, listener, [&](Action& a) { a.setLink(recordLink); });
}

void Corvane::setRecordStatus(uint64_t record, uint8_t status, ActionListener* listener) {
    submit(SET_RECORD_STATUS, listener, [&](Action& a) {
        a.setNodeHandle(record);
        a.setOption(status);
    });
}

void Corvane::sendCrashReport(const char* reportPath, ActionListener* listener) {
    submit(CRASH_REPORT, listener, [&](Action& a) { a.setName(reportPath); });
}

void Corvane::createContact(uint64_t account, const char* name, ActionListener* listener) {
    submit(MANAGE_CONTACTS, listener, [&](Action& a) {
        a.setAccountHandle(account);
        a.setName(name);
    });
}

void Corvane::editContact(uint64_t contact, const char* name, ActionListener* listener) {
    submit(MANAGE_CONTACTS, listener, [&](Action& a) {
        a.setNodeHandle(contact);
        a.setName(name);
    });
}

void Corvane::deleteContact(uint64_t contact, ActionListener* listener) {
    submit(MANAGE_CONTACTS, listener, [&](Action& a) { a.setNodeHandle(contact); });
}

void Corvane::createOutbox(uint64_t contact, const char* inboxLink, const char* name, ActionListener* listener) {
    submit(MANAGE_OUTBOXES, listener, [&](Action& a) {
        a.setNodeHandle(contact);
        a.setLink(inboxLink);
        a.setName(name);
    });
}

void Corvane::editOutbox(uint64_t outbox, const char* name, ActionListener* listener) {
    submit(MANAGE_OUTBOXES, listener, [&](Action& a) {
        a.setNodeHandle(outbox);
        a.setName(name);
    });
}

void Corvane::deleteOutbox(uint64_t outbox, ActionListener* listener) {
    submit(MANAGE_OUTBOXES, listener, [&](Action& a) { a.setNodeHandle(outbox); });
}

void Corvane::addSentRecord(uint64_t node, const char* recordLink, ActionListener* listener) {
    submit(MANAGE_SENT_RECORDS, listener, [&](Action& a) {
        a.setNodeHandle(node);
        a.setLink(recordLink);
    });
}

void Corvane::shareNode(uint64_t node, ActionListener* listener) {
    submitAfterNodeTree(node, CREATE_LINK, listener, [node](Action& a) { a.setNodeHandle(node); });
}

void Corvane::downloadNode(uint64_t node, const char* localPath, ActionListener* listener) {
    // The path is copied now: the caller's text may be gone when the tree has loaded.
    std::optional<std::string> path;
    if (localPath != nullptr) {
        path = localPath;
    }
    submitAfterNodeTree(node, DOWNLOAD, listener, [node, path](Action& a) {
        a.setNodeHandle(node);
        a.setName(path ? path->c_str() : nullptr);
    });
}

}  // namespace corvane
