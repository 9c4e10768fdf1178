#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "corvane/event_listener.h"
#include "corvane/node_data.h"

namespace corvane {

class Cloud;
class CryptoManager;

// What requests and the request channel may ask of the SDK instance that runs them. The API
// manager implements it; requests sit below the API layer and see only this face. SDK events
// that a request raises go to its event-listener face.
class RequestHost : public EventListener {
public:
    ~RequestHost() override = default;

    // Drops the session and resets the cloud model, keeping the cache file; then the
    // completion, on the SDK main loop.
    virtual void resetSession(std::function<void()> completion) = 0;

    // Signs out: everything is reset and the cache removed; then the completion, which may be
    // empty.
    virtual void logout(std::function<void()> completion) = 0;

    // Takes over a sign-in: keeps the keys and ids, initialises the cloud model with them and
    // signs the batches and the long poll with the session; then the completion (when set), on
    // the SDK main loop.
    virtual void setSession(const char* email, const char* sessionId, const ByteVector& masterKey,
                            const ByteVector& rsaPrivateKey, const ByteVector& userKey,
                            const ByteVector& fingerprintKey, const ByteVector& accountKey, uint64_t userId,
                            uint64_t accountId, uint8_t accountCrypto, int32_t accessLevel,
                            std::function<void()> completion) {
        if (completion) {
            completion();
        }
    }

    // Takes over a sign-in to a public link; either key may be absent (null).
    virtual void setLinkSession(const char* linkToken, const ByteVector* userKey, const ByteVector* linkKey,
                                std::function<void()> completion) {
        if (completion) {
            completion();
        }
    }

    // The signed-in user's id; 0 in a link session or signed out. getUserHandle says the same.
    virtual uint64_t getUserId() const { return 0; }

    // The signed-in account's cloud model; null when the instance has none.
    virtual Cloud* getCloud() { return nullptr; }

    // The crypto manager that opens the keys of a sign-in; null when the instance has none.
    virtual CryptoManager* getCryptoManager() { return nullptr; }

    // Copies of the signed-in user's master key and RSA private key; empty without one.
    virtual std::vector<uint8_t> getMasterKey() const { return {}; }
    virtual std::vector<uint8_t> getRsaPrivateKey() const { return {}; }

    // This SDK instance's client id, echoed by the service in the changes it made; 0 for none.
    virtual uint64_t getClientId() const { return 0; }

    // The signed-in account's e-mail address; empty in a link session or signed out.
    virtual std::string getEmail() const { return std::string(); }

    // The signed-in user's handle; 0 signed out or in a link session.
    virtual uint64_t getUserHandle() const { return 0; }

    // Copies of the session's user key and account key, which open the filesystems of new
    // shared drives; empty when none is held (opening then fails).
    virtual std::vector<uint8_t> getUserKey() const { return {}; }
    virtual std::vector<uint8_t> getAccountKey() const { return {}; }

    // Opens the cache transaction that the events request's changes go into; the status
    // request commits it through updateAccountStatus.
    virtual void beginCacheTransaction() {}

    // Stores the account status in the cache and commits the open transaction, then takes the
    // status over (the first non-zero one switches on the reception of external changes) and
    // restarts the long poll with the link when it is not empty; then the completion, on the
    // SDK main loop.
    virtual void updateAccountStatus(uint64_t status, std::string link, std::function<void()> completion) {
        if (completion) {
            completion();
        }
    }

    // The backup manager as the events request drives it: forgotten before a full reload, set
    // up again after (the completion on the SDK main loop), and whether it knows the backups
    // root.
    virtual void resetBackups() {}
    virtual void initializeBackups(std::function<void()> completion) {
        if (completion) {
            completion();
        }
    }
    virtual bool areBackupsInitialized() { return true; }

    // The queue of nodes whose keys are to be re-encrypted under the current scheme.
    virtual void queueNodeRewrite(uint64_t handle) {}
    virtual void unqueueNodeRewrite(uint64_t handle) {}

    // The backups of this machine, as the backup manager keeps them; false and nothing without
    // one.
    virtual bool isActiveBackup(const NodeData& node) { return false; }
    virtual bool isBackupOfCurrentDevice(const NodeData& node) { return false; }
    virtual void deleteBackup(std::shared_ptr<NodeData> backup) {}
    virtual void modifyBackup(std::shared_ptr<NodeData> backup) {}
};

}  // namespace corvane
