#include "client/sdk_api_manager.h"

#include <sys/utsname.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <utility>

#include "backup/backup_manager.h"
#include "cloud/cloud.h"
#include "corvane/action_types.h"
#include "corvane/mutable_event_data.h"
#include "crypto/crypto_manager.h"
#include "crypto/cryptopp_crypto.h"
#include "database/sqlite_database.h"
#include "event/event_receiver.h"
#include "execution/callback_dispatcher.h"
#include "execution/execution_manager.h"
#include "filesystem/libuv_filesystem.h"
#include "http/curl_http.h"
#include "http/http_request.h"
#include "http/proxy_settings.h"
#include "loop/libuv_loop.h"
#include "metadata/metadata_manager.h"
#include "request/cloud_request.h"
#include "request/event_request.h"
#include "request/request_channel.h"
#include "transfer/streaming_manager.h"
#include "transfer/transfer_manager.h"
#include "util/base64.h"
#include "util/deployment.h"
#include "util/log.h"
#include "zip/tovo_zip.h"

namespace corvane {

const char* const SdkApiManager::kSdkVersion = "2.1.0";
const char* const SdkApiManager::kBuildCommit = "7438a6d2";

namespace {

constexpr const char* kBuildType = "RelWithDebInfo";
// The end of an exchange counts as this many retries: it can report a recovery, never a loss.
constexpr int32_t kFinishedRetries = 5;
// A loss is reported at this many consecutive attempts without an HTTP answer.
constexpr int32_t kLostAfterRetries = 6;
constexpr int32_t kPrivateMaxRetries = 2;
constexpr uint32_t kPrivateTimeoutSeconds = 10;
constexpr int32_t kUploadDirection = 0;
constexpr int32_t kDownloadDirection = 1;

// One counter for every API manager of the process, so that sequence ids never repeat.
std::atomic<int32_t> nextSequenceId{1};

std::unique_ptr<ProxySettings> makeProxy(bool noProxy, const char* host, const char* user, const char* password) {
    if (noProxy) {
        return nullptr;
    }
    auto proxy = std::make_unique<ProxySettings>();
    proxy->setHost(host != nullptr ? host : "");
    if (user != nullptr && password != nullptr) {
        proxy->setCredentials(user, password);
    }
    return proxy;
}

// The kernel's release as major.minor.build; 0 for what it does not say.
std::string kernelVersion() {
    unsigned major = 0;
    unsigned minor = 0;
    unsigned build = 0;
    struct utsname name;
    if (uname(&name) == 0) {
        std::sscanf(name.release, "%u.%u.%u", &major, &minor, &build);
    }
    return std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(build);
}

// " (x64)" only for a 32-bit process on a 64-bit system; a native 64-bit build says " (x86)",
// as the service has always been told.
const char* architectureWord() {
    if (sizeof(void*) == 4) {
        struct utsname name;
        if (uname(&name) == 0 && std::strcmp(name.machine, "x86_64") == 0) {
            return " (x64)";
        }
    }
    return " (x86)";
}

}  // namespace

// Listens to one private exchange and owns its transport and record until it ends.
class ApiDownloadListener : public HttpListener {
public:
    ApiDownloadListener(SdkApiManager* manager, ApiManager::DownloadCompletion completion)
        : manager_(manager), completion_(std::move(completion)) {}

    void onHttpRequestFinished(HttpRequest* request) override {
        std::vector<uint8_t> received;
        const uint8_t* run = nullptr;
        while (uint32_t count = request->buffer.read(&run, 0)) {
            received.insert(received.end(), run, run + count);
        }
        bool success = request->status == 200;
        ApiManager::DownloadCompletion completion = std::move(completion_);
        SdkApiManager* manager = manager_;
        manager->downloads_.erase(this);
        // The transport may still hold the exchange's sockets and timers on the HTTP loop:
        // it goes away there, after what that loop still has to do for it.
        std::shared_ptr<CurlHttp> transport(transport_.release());
        std::shared_ptr<HttpRequest> record(request_.release());
        if (manager->httpLoop_) {
            manager->httpLoop_->post([transport, record] {});
        }
        if (completion) {
            completion(success, received.data(), static_cast<uint32_t>(received.size()));
        }
        delete this;
    }

    SdkApiManager* manager_;
    ApiManager::DownloadCompletion completion_;
    // Declared first so that it outlives the transport, which reads it when it drops an
    // exchange still under way.
    std::unique_ptr<HttpRequest> request_;
    std::unique_ptr<CurlHttp> transport_;
};

SdkApiManager::SdkApiManager(CallbackDispatcher* dispatcher, LibuvLoop* mainLoop, const CorvaneSettings* settings)
    : dispatcher_(dispatcher), mainLoop_(mainLoop) {
    CLOG_INFO("Initializing CORVANE SDK version {} ({} - {})", kSdkVersion, kBuildCommit, kBuildType);
    if (settings != nullptr) {
        settings_ = *settings;
    }
    online_ = true;
    base64_ = std::make_unique<Base64>();

    httpLoop_ = std::make_unique<LibuvLoop>();
    cryptoLoop_ = std::make_unique<LibuvLoop>();
    filesystemLoop_ = std::make_unique<LibuvLoop>();
    databaseLoop_ = std::make_unique<LibuvLoop>();
    startLoop(*databaseLoop_, databaseLoopStarted_);
    zipLoop_ = std::make_unique<LibuvLoop>();
    startLoop(*zipLoop_, zipLoopStarted_);

    http_ = std::make_unique<CurlHttp>(httpLoop_.get(), this, mainLoop_);
    cacheDatabase_ = std::make_unique<SQLiteDatabase>(databaseLoop_.get(), mainLoop_);
    database_ = std::make_unique<SQLiteDatabase>(databaseLoop_.get(), mainLoop_);

    startLoop(*filesystemLoop_, filesystemLoopStarted_);
    startLoop(*cryptoLoop_, cryptoLoopStarted_);
    filesystem_ = std::make_unique<LibuvFilesystem>(filesystemLoop_.get(), mainLoop_);
    crypto_ = std::make_unique<CryptoppCrypto>(cryptoLoop_.get(), mainLoop_);
    cryptoManager_ = std::make_unique<CryptoManager>(crypto_.get());
    cloud_ = std::make_unique<Cloud>(cryptoManager_.get(), cacheDatabase_.get(), mainLoop_, settings_.getDataPath());
    channel_ = std::make_unique<RequestChannel>(this, http_.get());
    eventReceiver_ = std::make_unique<EventReceiver>(http_.get(), this);
    executionManager_ = std::make_unique<ExecutionManager>(this);
    transferManager_ =
        std::make_unique<TransferManager>(http_.get(), cryptoManager_.get(), database_.get(), filesystem_.get(), this);
    metadataManager_ =
        std::make_unique<MetadataManager>(http_.get(), cryptoManager_.get(), database_.get(), filesystem_.get());
    streamingManager_ =
        std::make_unique<StreamingManager>(http_.get(), cryptoManager_.get(), database_.get(), filesystem_.get(), this);
    backupManager_ = std::make_unique<BackupManager>(cloud_.get(), mainLoop_, this);
    zip_ = std::make_unique<TovoZip>(zipLoop_.get(), mainLoop_);
    startLoop(*httpLoop_, httpLoopStarted_);

    userAgent_ = buildUserAgent(settings_.getUserAgent());
    http_->setUserAgent(userAgent_);

    // Bytes 1 to 6 random, the lowest and highest byte 0.
    uint8_t bytes[sizeof(uint64_t)] = {};
    crypto_->generateRandom(bytes + 1, 6);
    clientId_ = 0;
    for (size_t i = 0; i < sizeof(bytes); ++i) {
        clientId_ |= uint64_t(bytes[i]) << (8 * i);
    }

    eventsRequest_ = std::make_shared<GetEventsRequest>(this);
    statusRequest_ = std::make_shared<GetStatusRequest>(this);
}

SdkApiManager::~SdkApiManager() {
    destroying_ = true;
    // No module work may run once any module is gone.
    std::pair<LibuvLoop*, bool> loops[] = {{httpLoop_.get(), httpLoopStarted_},
                                           {cryptoLoop_.get(), cryptoLoopStarted_},
                                           {databaseLoop_.get(), databaseLoopStarted_},
                                           {zipLoop_.get(), zipLoopStarted_},
                                           {filesystemLoop_.get(), filesystemLoopStarted_}};
    for (auto& [loop, started] : loops) {
        loop->stop();
        if (started) {
            loop->join();
        }
    }

    // Private exchanges whose end never reached the stopped main loop.
    for (ApiDownloadListener* download : downloads_) {
        delete download;
    }
    downloads_.clear();

    transferManager_.reset();
    metadataManager_.reset();
    streamingManager_.reset();
    backupManager_.reset();
    executionManager_.reset();
    // The transport drops the exchanges still under way (the long poll, a batch) and reads
    // their records as it does: it goes before the receiver and the channel that own them.
    http_.reset();
    eventReceiver_.reset();

    channel_.reset();
    cloud_.reset();
    cryptoManager_.reset();
    crypto_.reset();
    cacheDatabase_.reset();
    database_.reset();
    zip_.reset();
    filesystem_.reset();
    base64_.reset();

    httpLoop_.reset();
    cryptoLoop_.reset();
    databaseLoop_.reset();
    filesystemLoop_.reset();
    zipLoop_.reset();
}

void SdkApiManager::startLoop(LibuvLoop& loop, bool& started) {
    std::error_code error = loop.start();
    started = !error;
    if (error && !startError_) {
        startError_ = error;
    }
}

std::string SdkApiManager::buildUserAgent(const std::string& application) {
    std::string text;
    if (!application.empty()) {
        text = application + " ";
    }
    text += std::string("CorvaneSDK/") + kSdkVersion + " (" + kBuildCommit + ")";
    text += " Linux/" + kernelVersion();
    text += architectureWord();
    return text;
}

void SdkApiManager::enqueueAction(std::shared_ptr<MutableActionData> action) {
    action->setSequenceId(nextSequenceId++);
    executionManager_->enqueueAction(std::move(action));
}

Loop* SdkApiManager::getLoop() const {
    return mainLoop_;
}

int32_t SdkApiManager::getThreadId() const {
    return mainLoop_->getThreadId();
}

int32_t SdkApiManager::getAccessLevel() const {
    return cloud_->getAccessLevel();
}

bool SdkApiManager::isValidCronExpression(const char* expression) const {
    // The backup manager has no schedule parser to ask: no schedule is accepted.
    return false;
}

FilesystemModule* SdkApiManager::getFilesystem() {
    return filesystem_.get();
}

ZipModule* SdkApiManager::getZip() {
    return zip_.get();
}

HttpModule* SdkApiManager::getHttpModule() {
    return http_.get();
}

CryptoModule* SdkApiManager::getCryptoModule() {
    return crypto_.get();
}

void SdkApiManager::enqueueApiRequest(std::shared_ptr<NetworkRequest> request, RequestListener* listener) {
    executionManager_->enqueueApiRequest(request, listener);
    if (startError_) {
        // A loop that did not start drops every task: nothing may be posted into it.
        request->onError(Error(TEMPORARILY_UNAVAILABLE));
        return;
    }
    channel_->queue(std::move(request));
}

void SdkApiManager::enqueueLocalRequest(std::shared_ptr<Request> request, RequestListener* listener) {
    executionManager_->enqueueLocalRequest(std::move(request), listener);
}

void SdkApiManager::setTransferSpeedLimit(int32_t direction, int32_t kilobytesPerSecond) {
    uint64_t bytesPerSecond = kilobytesPerSecond > 0 ? uint64_t(kilobytesPerSecond) * 1000 : 0;
    if (direction == kUploadDirection) {
        http_->setUploadSpeedLimit(bytesPerSecond);
    } else if (direction == kDownloadDirection) {
        http_->setDownloadSpeedLimit(bytesPerSecond);
    }
}

uint64_t SdkApiManager::getTransferSpeedLimit(int32_t direction) const {
    if (direction == kUploadDirection) {
        return http_->getUploadSpeedLimit() / 1000;
    }
    if (direction == kDownloadDirection) {
        return http_->getDownloadSpeedLimit() / 1000;
    }
    return 0;
}

void SdkApiManager::clearSessionState() {
    rewriteSet_.clear();
    masterKey_.clear();
    accountKey_.clear();
    rsaPrivateKey_.clear();
    linkKey_.clear();
    userKey_.clear();
    userId_ = 0;
    accountStatus_ = 0;
    email_.clear();
    session_.clear();
    transferManager_->reset();
    metadataManager_->reset();
    channel_->reset();
    eventReceiver_->reset();
    executionManager_->cancelLocalRequests();
    backupManager_->reset();
}

void SdkApiManager::setSession(const char* email, const char* sessionId, const ByteVector& masterKey,
                               const ByteVector& rsaPrivateKey, const ByteVector& userKey,
                               const ByteVector& fingerprintKey, const ByteVector& accountKey, uint64_t userId,
                               uint64_t accountId, uint8_t accountCrypto, int32_t accessLevel,
                               std::function<void()> completion) {
    rewriteSet_.clear();
    linkKey_.clear();
    masterKey_ = masterKey;
    rsaPrivateKey_ = rsaPrivateKey;
    accountKey_ = accountKey;
    userKey_ = userKey;
    fingerprintKey_ = fingerprintKey;
    userId_ = userId;
    accountId_ = accountId;
    email_ = email != nullptr ? email : "";
    session_ = sessionId != nullptr ? sessionId : "";
    cloud_->initialize(userKey_, fingerprintKey_, linkKey_, accountKey_, session_.c_str(), accountId_, accountCrypto,
                       [this, accessLevel, completion = std::move(completion)] {
                           cloud_->updateAccessLevel(static_cast<uint8_t>(accessLevel));
                           channel_->setSession(session_.c_str());
                           eventReceiver_->setSession(session_.c_str());
                           if (completion) {
                               completion();
                           }
                       });
}

void SdkApiManager::setLinkSession(const char* linkToken, const ByteVector* userKey, const ByteVector* linkKey,
                                   std::function<void()> completion) {
    rewriteSet_.clear();
    masterKey_.clear();
    rsaPrivateKey_.clear();
    accountKey_.clear();
    userKey_ = userKey != nullptr ? *userKey : ByteVector();
    linkKey_ = linkKey != nullptr ? *linkKey : ByteVector();
    fingerprintKey_.clear();
    userId_ = 0;
    accountId_ = 0;
    email_.clear();
    session_ = linkToken != nullptr ? linkToken : "";
    cloud_->initialize(userKey_, fingerprintKey_, linkKey_, accountKey_, session_.c_str(), 0, 0,
                       [this, completion = std::move(completion)] {
                           channel_->setLinkSession(session_.c_str());
                           if (completion) {
                               completion();
                           }
                       });
}

void SdkApiManager::resetSession(std::function<void()> completion) {
    clearSessionState();
    cloud_->reset([completion = std::move(completion)] {
        if (completion) {
            completion();
        }
    });
}

void SdkApiManager::logout(std::function<void()> completion) {
    CLOG_DEBUG("[mngr] Logging out");
    clearSessionState();
    cloud_->remove([completion = std::move(completion)] {
        if (completion) {
            completion();
        }
    });
}

void SdkApiManager::setAccountState(uint64_t status, const std::string& link) {
    if (accountStatus_ == 0 && status != 0) {
        CLOG_DEBUG("Enabling the reception of external changes");
        executionManager_->addPersistentNetworkRequest(eventsRequest_, this);
        executionManager_->addPersistentNetworkRequest(statusRequest_, this);
        channel_->setLeadingRequest(eventsRequest_);
        channel_->setTrailingRequest(statusRequest_);
    }
    accountStatus_ = status;
    if (!link.empty()) {
        eventReceiver_->setUrl(link.c_str());
    }
}

void SdkApiManager::updateAccountStatus(uint64_t status, std::string link, std::function<void()> completion) {
    cloud_->endTransaction(status, [this, status, link = std::move(link), completion = std::move(completion)] {
        setAccountState(status, link);
        if (completion) {
            completion();
        }
    });
}

void SdkApiManager::loadCache(std::function<void(bool)> completion) {
    CLOG_DEBUG("[mngr] Loading account cache");
    if (!cloud_->isCacheAvailable()) {
        CLOG_DEBUG("[mngr] No account cache available");
        if (completion) {
            completion(false);
        }
        return;
    }
    cloud_->loadCache([this, completion = std::move(completion)](bool loaded) {
        if (!loaded) {
            CLOG_ERROR("[mngr] Error loading account cache");
            cloud_->remove([this, completion] {
                cloud_->initialize(userKey_, fingerprintKey_, linkKey_, accountKey_, session_.c_str(), accountId_,
                                   cloud_->getAccountCrypto(), [completion] {
                                       if (completion) {
                                           completion(false);
                                       }
                                   });
            });
            return;
        }
        setAccountState(cloud_->getCloudState(), std::string());
        CLOG_DEBUG("[mngr] Account cache loaded OK");
        if (accountStatus_ != 0) {
            pollEvents();
            if (completion) {
                completion(true);
            }
            return;
        }
        backupManager_->initialize([this, completion] {
            onEvent(std::make_shared<MutableEventData>(EVENT_ACCOUNT_READY));
            if (completion) {
                completion(true);
            }
        });
    });
}

void SdkApiManager::pollEvents() {
    channel_->sendHttpRequest(true);
}

void SdkApiManager::beginCacheTransaction() {
    cloud_->beginTransaction();
}

void SdkApiManager::resetBackups() {
    backupManager_->reset();
}

void SdkApiManager::initializeBackups(std::function<void()> completion) {
    backupManager_->initialize(std::move(completion));
}

bool SdkApiManager::areBackupsInitialized() {
    return backupManager_->isInitialized();
}

void SdkApiManager::queueNodeRewrite(uint64_t handle) {
    rewriteSet_.insert(handle);
}

void SdkApiManager::unqueueNodeRewrite(uint64_t handle) {
    rewriteSet_.erase(handle);
}

struct SdkApiManager::RewriteWork {
    std::set<uint64_t> handles;
    std::shared_ptr<Cloud::EncryptedNodeList> nodes = std::make_shared<Cloud::EncryptedNodeList>();
    bool lastFailed = false;
};

void SdkApiManager::rewriteNodes() {
    if (rewriteSet_.empty()) {
        return;
    }
    auto work = std::make_shared<RewriteWork>();
    work->handles.swap(rewriteSet_);
    CLOG_DEBUG("{} nodes queued for rewrite", work->handles.size());
    rewriteNext(std::move(work));
}

void SdkApiManager::rewriteNext(std::shared_ptr<RewriteWork> work) {
    if (work->handles.empty()) {
        if (work->nodes->empty()) {
            if (work->lastFailed) {
                CLOG_ERROR("Unable to rewrite any node");
            } else {
                CLOG_DEBUG("There isn't any node to rewrite");
            }
            return;
        }
        CLOG_DEBUG("Rewritting keys for {} nodes", work->nodes->size());
        enqueueApiRequest(std::make_shared<RewriteKeysRequest>(nullptr, work->nodes, clientId_), this);
        return;
    }
    uint64_t handle = *work->handles.begin();
    cloud_->getNodeById(handle, [this, work, handle](Cloud::NodePointer node) {
        if (!node) {
            work->lastFailed = false;
            work->handles.erase(handle);
            rewriteNext(work);
            return;
        }
        node->setCrypto(0);
        cloud_->encryptNode(node, [this, work, handle](Cloud::EncryptedNodePointer encrypted) {
            if (encrypted) {
                work->nodes->push_back(std::move(encrypted));
                work->lastFailed = false;
            } else {
                CLOG_ERROR("Encryption of node {} has failed", handle);
                work->lastFailed = true;
            }
            work->handles.erase(handle);
            rewriteNext(work);
        });
    });
}

void SdkApiManager::raiseConnectivity(int32_t state) {
    auto event = std::make_shared<MutableEventData>(EVENT_CONNECTIVITY);
    event->setState(state);
    onEvent(std::move(event));
}

void SdkApiManager::updateHttpConnectivity(int32_t retries, int32_t status) {
    if (status > 0) {
        if (!online_) {
            online_ = true;
            CLOG_INFO("Connectivity recovered");
            raiseConnectivity(1);
        }
    } else if (status == 0) {
        if (retries >= kLostAfterRetries && online_) {
            online_ = false;
            CLOG_INFO("Connectivity lost");
            raiseConnectivity(0);
        }
    }
}

void SdkApiManager::onHttpRequestRetry(HttpRequest* request, int32_t retries, int32_t status) {
    updateHttpConnectivity(retries, status);
}

void SdkApiManager::onHttpRequestFinished(HttpRequest* request) {
    updateHttpConnectivity(kFinishedRetries, request->status);
}

void SdkApiManager::onHttpRequestEnded(HttpRequest* request, int32_t status) {
    // The record may already be on its way again: only the status handed over is the end's.
    updateHttpConnectivity(kFinishedRetries, status);
}

void SdkApiManager::setProxy(bool noProxy, const char* host, const char* user, const char* password) {
    http_->setProxy(makeProxy(noProxy, host, user, password));
}

void SdkApiManager::testProxy(bool noProxy, const char* host, const char* user, const char* password,
                              DownloadCompletion completion) {
    auto* listener = new ApiDownloadListener(this, std::move(completion));
    listener->transport_ = std::make_unique<CurlHttp>(httpLoop_.get(), listener, mainLoop_);
    if (!noProxy) {
        listener->transport_->setProxy(makeProxy(noProxy, host, user, password));
    }
    sendPrivateRequest(listener, getDeployment().apiBaseUrl + "?" + RequestChannel::kApplicationKeyQuery);
}

void SdkApiManager::downloadFile(const char* url, DownloadCompletion completion) {
    auto* listener = new ApiDownloadListener(this, std::move(completion));
    listener->transport_ = std::make_unique<CurlHttp>(httpLoop_.get(), listener, mainLoop_);
    sendPrivateRequest(listener, url != nullptr ? url : "");
}

void SdkApiManager::sendPrivateRequest(ApiDownloadListener* listener, std::string url) {
    listener->request_ = std::make_unique<HttpRequest>();
    HttpRequest& request = *listener->request_;
    request.name = "download";
    request.url = std::move(url);
    request.maxRetries = kPrivateMaxRetries;
    request.timeout = kPrivateTimeoutSeconds;
    request.freshConnection = true;
    downloads_.insert(listener);
    if (startError_) {
        // Nothing runs on a loop that did not start; end the exchange here as one without an
        // answer.
        request.status = 0;
        mainLoop_->post([listener] { listener->onHttpRequestFinished(listener->request_.get()); });
        return;
    }
    listener->transport_->send(&request);
}

void SdkApiManager::onActionStart(std::shared_ptr<ActionData> action) {
    dispatcher_->onActionStart(std::move(action));
}

void SdkApiManager::onActionProcessed(std::shared_ptr<ActionData> action) {
    dispatcher_->onActionProcessed(std::move(action));
}

void SdkApiManager::onActionProgress(std::shared_ptr<ActionData> action) {
    dispatcher_->onActionProgress(std::move(action));
}

void SdkApiManager::onActionError(std::shared_ptr<ActionData> action) {
    dispatcher_->onActionError(std::move(action));
}

void SdkApiManager::onActionFinish(std::shared_ptr<ActionData> action) {
    dispatcher_->onActionFinish(std::move(action));
}

void SdkApiManager::onEvent(std::shared_ptr<EventData> event) {
    dispatcher_->onEvent(std::move(event));
}

void SdkApiManager::finished(std::shared_ptr<Request> request) {
    // Requests failed while the modules go away must not start new work.
    if (destroying_ || request != statusRequest_) {
        return;
    }
    rewriteNodes();
    channel_->sendHttpRequest(false);
}

}  // namespace corvane
