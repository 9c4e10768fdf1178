#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "corvane/action_listener.h"
#include "corvane/corvane_settings.h"
#include "corvane/mutable_action_data.h"
#include "corvane/task_manager.h"
#include "loop/loop.h"
#include "request/request_host.h"
#include "request/request_listener.h"

namespace corvane {

class BackupManager;
class Base64;
class CryptoManager;
class CryptoModule;
class ExecutionManager;
class FilesystemModule;
class HttpModule;
class MetadataManager;
class NetworkRequest;
class Request;
class StreamingManager;
class TransferManager;
class ZipModule;

// The core object of one SDK instance, as the action framework sees it: the session, the
// account's access level, the request queues and the SDK main loop. Its action-listener face
// receives every action notification that the execution manager lets through, and its
// event-listener face every SDK event. What requests need of it is its RequestHost face
// (session reset, logout, events), declared below the API layer.
class ApiManager : public ActionListener, public RequestHost, public RequestListener {
public:
    ~ApiManager() override = default;

    // The SDK main loop, on which every processor, request and continuation runs; its timers
    // serve the managers' rechecks and schedules.
    virtual Loop* getLoop() const = 0;

    // A copy of the session string; empty when no session is held.
    virtual std::string getSession() const = 0;

    // The account's access level in the cloud model; 0 when no account record is loaded.
    virtual int32_t getAccessLevel() const = 0;

    // Whether the backup scheduler accepts a six-field cron expression.
    virtual bool isValidCronExpression(const char* expression) const = 0;

    // Queues a request for its network phase; the listener hears of its end.
    virtual void enqueueApiRequest(std::shared_ptr<NetworkRequest> request, RequestListener* listener) = 0;

    // Queues a request for its local phase only.
    virtual void enqueueLocalRequest(std::shared_ptr<Request> request, RequestListener* listener) = 0;

    // The rest has harmless defaults, so that a partial manager (a test fake) need not offer
    // what its users never reach.

    // The thread id of the SDK main loop.
    virtual int32_t getThreadId() const { return 0; }
    virtual const CorvaneSettings& getSettings() const {
        static const CorvaneSettings none;
        return none;
    }

    // Keys of the signed-in account (copies), and the two the cloud model works with.
    virtual ByteVector getMasterKey() const { return ByteVector(); }
    virtual ByteVector getRsaPrivateKey() const { return ByteVector(); }
    virtual const ByteVector& getUserKey() const { return noKey(); }
    virtual const ByteVector& getAccountKey() const { return noKey(); }

    // The modules the manager owns; null where there is none.
    virtual CryptoManager* getCryptoManager() { return nullptr; }
    virtual FilesystemModule* getFilesystem() { return nullptr; }
    virtual ExecutionManager* getExecutionManager() { return nullptr; }
    virtual TransferManager* getTransferManager() { return nullptr; }
    virtual MetadataManager* getMetadataManager() { return nullptr; }
    virtual StreamingManager* getStreamingManager() { return nullptr; }
    virtual BackupManager* getBackupManager() { return nullptr; }
    virtual ZipModule* getZip() { return nullptr; }
    virtual HttpModule* getHttpModule() { return nullptr; }
    virtual Base64* getBase64() { return nullptr; }
    virtual CryptoModule* getCryptoModule() { return nullptr; }

    // Loads the account cache; true when it was loaded. Called on the SDK main loop.
    virtual void loadCache(std::function<void(bool)> completion) {
        if (completion) {
            completion(false);
        }
    }

    // Kilobytes per second for direction 0 (upload) or 1 (download); 0 = no limit.
    virtual void setTransferSpeedLimit(int32_t direction, int32_t kilobytesPerSecond) {}
    virtual uint64_t getTransferSpeedLimit(int32_t direction) const { return 0; }

    // The proxy of every later exchange; user and password may be null.
    virtual void setProxy(bool noProxy, const char* host, const char* user, const char* password) {}

    // One exchange of its own, outside the request channel: success (status 200), the bytes
    // received and their count, valid during the call only.
    using DownloadCompletion = std::function<void(bool, const uint8_t*, uint32_t)>;
    virtual void testProxy(bool noProxy, const char* host, const char* user, const char* password,
                           DownloadCompletion completion) {
        if (completion) {
            completion(false, nullptr, 0);
        }
    }
    virtual void downloadFile(const char* url, DownloadCompletion completion) {
        if (completion) {
            completion(false, nullptr, 0);
        }
    }

    // Public links being sent to, by link text, shared by the inbox actions. SDK main loop only.
    std::map<std::string, std::shared_ptr<MutableActionData>>& getInboxLinks() { return inboxLinks_; }

private:
    static const ByteVector& noKey() {
        static const ByteVector none;
        return none;
    }

    std::map<std::string, std::shared_ptr<MutableActionData>> inboxLinks_;
};

}  // namespace corvane
