#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <system_error>
#include <vector>

#include "api/api_manager.h"
#include "corvane/corvane_settings.h"
#include "corvane/mutable_action_data.h"
#include "event/event_poll_target.h"
#include "http/http_listener.h"

namespace corvane {

class ApiDownloadListener;
class Base64;
class BackupManager;
class CallbackDispatcher;
class Cloud;
class CryptoManager;
class CryptoppCrypto;
class CurlHttp;
class EventReceiver;
class ExecutionManager;
class GetEventsRequest;
class GetStatusRequest;
class HttpModule;
class LibuvFilesystem;
class LibuvLoop;
class MetadataManager;
class RequestChannel;
class SQLiteDatabase;
class StreamingManager;
class TovoZip;
class TransferManager;

// The API manager proper: builds, owns and destroys every module of one SDK instance and holds
// its session. Named apart from ApiManager, which is the abstract face that the lower layers
// (actions, requests, the transfer and backup managers) see of it.
//
// Constructed and destroyed on the facade's thread; everything else runs on the SDK main loop,
// except the speed limits (atomic in the HTTP module) and startError.
class SdkApiManager final : public ApiManager, public EventPollTarget, public HttpListener {
public:
    // Completion of a private exchange: success (status 200), the received bytes and their
    // count; the bytes are valid only during the call.
    using DownloadCompletion = std::function<void(bool, const uint8_t*, uint32_t)>;

    static const char* const kSdkVersion;
    static const char* const kBuildCommit;

    SdkApiManager(CallbackDispatcher* dispatcher, LibuvLoop* mainLoop, const CorvaneSettings* settings);
    // Stops and joins every module loop before any module is deleted. The facade stops the
    // SDK main loop first.
    ~SdkApiManager() override;

    SdkApiManager(const SdkApiManager&) = delete;
    SdkApiManager& operator=(const SdkApiManager&) = delete;

    // Gives the action the next process-wide sequence id and queues it.
    void enqueueAction(std::shared_ptr<MutableActionData> action);

    // Empty when every module loop started, else the first failure. Without its loops the
    // manager ends every request with error 11.
    std::error_code startError() const { return startError_; }

    // ApiManager
    Loop* getLoop() const override;
    std::string getSession() const override { return session_; }
    int32_t getAccessLevel() const override;
    bool isValidCronExpression(const char* expression) const override;
    void enqueueApiRequest(std::shared_ptr<NetworkRequest> request, RequestListener* listener) override;
    void enqueueLocalRequest(std::shared_ptr<Request> request, RequestListener* listener) override;
    int32_t getThreadId() const override;
    const CorvaneSettings& getSettings() const override { return settings_; }
    ByteVector getMasterKey() const override { return masterKey_; }
    ByteVector getRsaPrivateKey() const override { return rsaPrivateKey_; }
    CryptoManager* getCryptoManager() override { return cryptoManager_.get(); }
    FilesystemModule* getFilesystem() override;
    ExecutionManager* getExecutionManager() override { return executionManager_.get(); }
    TransferManager* getTransferManager() override { return transferManager_.get(); }
    MetadataManager* getMetadataManager() override { return metadataManager_.get(); }
    StreamingManager* getStreamingManager() override { return streamingManager_.get(); }
    BackupManager* getBackupManager() override { return backupManager_.get(); }
    ZipModule* getZip() override;
    HttpModule* getHttpModule() override;
    Base64* getBase64() override { return base64_.get(); }
    CryptoModule* getCryptoModule() override;
    void loadCache(std::function<void(bool)> completion) override;
    void setTransferSpeedLimit(int32_t direction, int32_t kilobytesPerSecond) override;
    uint64_t getTransferSpeedLimit(int32_t direction) const override;
    void setProxy(bool noProxy, const char* host, const char* user, const char* password) override;
    void testProxy(bool noProxy, const char* host, const char* user, const char* password,
                   DownloadCompletion completion) override;
    void downloadFile(const char* url, DownloadCompletion completion) override;

    // RequestHost
    void resetSession(std::function<void()> completion) override;
    void logout(std::function<void()> completion) override;
    Cloud* getCloud() override { return cloud_.get(); }
    uint64_t getClientId() const override { return clientId_; }
    std::string getEmail() const override { return email_; }
    uint64_t getUserId() const override { return userId_; }
    uint64_t getUserHandle() const override { return userId_; }
    ByteVector getUserKey() const override { return userKey_; }
    ByteVector getAccountKey() const override { return accountKey_; }
    void beginCacheTransaction() override;
    void updateAccountStatus(uint64_t status, std::string link, std::function<void()> completion) override;
    void resetBackups() override;
    void initializeBackups(std::function<void()> completion) override;
    bool areBackupsInitialized() override;
    void queueNodeRewrite(uint64_t handle) override;
    void unqueueNodeRewrite(uint64_t handle) override;
    void setSession(const char* email, const char* sessionId, const ByteVector& masterKey,
                    const ByteVector& rsaPrivateKey, const ByteVector& userKey, const ByteVector& fingerprintKey,
                    const ByteVector& accountKey, uint64_t userId, uint64_t accountId, uint8_t accountCrypto,
                    int32_t accessLevel, std::function<void()> completion) override;
    void setLinkSession(const char* linkToken, const ByteVector* userKey, const ByteVector* linkKey,
                        std::function<void()> completion) override;

    // Takes the status over; the first non-zero one switches on the reception of external
    // changes. A non-empty link (re)starts the long poll.
    void setAccountState(uint64_t status, const std::string& link);
    uint64_t getAccountStatus() const { return accountStatus_; }
    // Re-encrypts the nodes queued for rewrite under the current scheme and sends them in one
    // request.
    void rewriteNodes();
    const std::set<uint64_t>& getRewriteSet() const { return rewriteSet_; }
    // Raises CONNECTIVITY when an exchange lost or regained the service.
    void updateHttpConnectivity(int32_t retries, int32_t status);
    bool isOnline() const { return online_; }
    const std::string& getUserAgent() const { return userAgent_; }

    // EventPollTarget
    void pollEvents() override;

    // ActionListener and EventListener: everything goes to the dispatcher.
    void onActionStart(std::shared_ptr<ActionData> action) override;
    void onActionProcessed(std::shared_ptr<ActionData> action) override;
    void onActionProgress(std::shared_ptr<ActionData> action) override;
    void onActionError(std::shared_ptr<ActionData> action) override;
    void onActionFinish(std::shared_ptr<ActionData> action) override;
    void onEvent(std::shared_ptr<EventData> event) override;

    // RequestListener
    void finished(std::shared_ptr<Request> request) override;

    // HttpListener, for every exchange of the main transport.
    void onHttpRequestRetry(HttpRequest* request, int32_t retries, int32_t status) override;
    void onHttpRequestFinished(HttpRequest* request) override;
    void onHttpRequestEnded(HttpRequest* request, int32_t status) override;

    // "CorvaneSDK/<version> (<commit>) <os>/<major>.<minor>.<build> (<arch>)", after the
    // application text and a space when there is one.
    static std::string buildUserAgent(const std::string& application);

private:
    // Starts one module loop; the first failure is kept.
    void startLoop(LibuvLoop& loop, bool& started);
    friend class ApiDownloadListener;
    // Sends one private exchange on its own transport, whose listener has the completion.
    void sendPrivateRequest(ApiDownloadListener* listener, std::string url);
    // Steps of the node-key rewrite, one handle at a time.
    struct RewriteWork;
    void rewriteNext(std::shared_ptr<RewriteWork> work);
    void clearSessionState();
    void raiseConnectivity(int32_t state);

    CallbackDispatcher* dispatcher_;
    LibuvLoop* mainLoop_;
    CorvaneSettings settings_;

    // Destroyed by hand in the destructor, in the order that the modules need.
    std::unique_ptr<Base64> base64_;
    std::unique_ptr<LibuvLoop> httpLoop_;
    std::unique_ptr<LibuvLoop> cryptoLoop_;
    std::unique_ptr<LibuvLoop> filesystemLoop_;
    std::unique_ptr<LibuvLoop> databaseLoop_;
    std::unique_ptr<LibuvLoop> zipLoop_;
    bool httpLoopStarted_ = false;
    bool cryptoLoopStarted_ = false;
    bool filesystemLoopStarted_ = false;
    bool databaseLoopStarted_ = false;
    bool zipLoopStarted_ = false;
    std::error_code startError_;
    std::unique_ptr<CurlHttp> http_;
    std::unique_ptr<SQLiteDatabase> cacheDatabase_;
    std::unique_ptr<SQLiteDatabase> database_;
    std::unique_ptr<LibuvFilesystem> filesystem_;
    std::unique_ptr<CryptoppCrypto> crypto_;
    std::unique_ptr<CryptoManager> cryptoManager_;
    std::unique_ptr<Cloud> cloud_;
    std::unique_ptr<RequestChannel> channel_;
    std::unique_ptr<EventReceiver> eventReceiver_;
    std::unique_ptr<ExecutionManager> executionManager_;
    std::unique_ptr<TransferManager> transferManager_;
    std::unique_ptr<MetadataManager> metadataManager_;
    std::unique_ptr<StreamingManager> streamingManager_;
    std::unique_ptr<BackupManager> backupManager_;
    std::unique_ptr<TovoZip> zip_;

    uint64_t clientId_ = 0;
    ByteVector masterKey_;
    ByteVector rsaPrivateKey_;
    ByteVector accountKey_;
    ByteVector linkKey_;
    ByteVector userKey_;
    ByteVector fingerprintKey_;
    std::string email_;
    uint64_t userId_ = 0;
    uint64_t accountId_ = 0;
    std::string session_;
    uint64_t accountStatus_ = 0;
    std::shared_ptr<GetEventsRequest> eventsRequest_;
    std::shared_ptr<GetStatusRequest> statusRequest_;
    std::set<uint64_t> rewriteSet_;
    bool online_ = true;
    std::string userAgent_;
    // Private exchanges still running, deleted with the manager when their end never came.
    std::set<ApiDownloadListener*> downloads_;
    bool destroying_ = false;
};

}  // namespace corvane
