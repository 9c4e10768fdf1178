#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <system_error>

#include "crash/crash_manager.h"

namespace corvane {

class ActionListener;
class ApiClient;
class CallbackDispatcher;
class CorvaneSettings;
class EventListener;
class LibuvLoop;
class MutableActionData;
class TaskManager;

namespace test {
class FacadeAccess;
}  // namespace test

// The object through which the application uses the SDK. Each operation creates one action,
// fills its parameters and hands it to the SDK main loop; the result comes back later through
// the listener given with it (null: none), on the application's task manager. No operation
// blocks or returns a value. Create, use and destroy a facade on the application's thread.
class Corvane {
public:
    // Process-wide set-up and tear-down; call them on the application's main thread. A second
    // globalInit keeps the first name and version.
    static void globalInit(const std::string& appName, int32_t version);
    static void globalCleanup();
    // Installs the crash handler once per process; a later callback is dropped.
    static void enableCrashHandler(CrashCallback callback);

    // Every listener call goes to the task manager, which the facade holds until it is
    // destroyed. Settings may be null; when their user agent is empty it receives the
    // default (application name, a slash, the version).
    Corvane(TaskManager* taskManager, CorvaneSettings* settings);
    // Blocks until the SDK instance has ended its session and its threads.
    virtual ~Corvane();

    Corvane(const Corvane&) = delete;
    Corvane& operator=(const Corvane&) = delete;

    void addEventListener(EventListener* listener);
    void removeEventListener(EventListener* listener);

    void login(const char* email, const char* password, ActionListener* listener);
    void loginWith2fa(const char* email, const char* password, int32_t code, ActionListener* listener);
    void loginWithSession(const char* session, ActionListener* listener);
    void loginLink(const char* link, ActionListener* listener);
    void logout(ActionListener* listener);
    void logoutLink(ActionListener* listener);
    void newSession(ActionListener* listener);
    void getAccountInfo(ActionListener* listener);
    void getUserInfo(ActionListener* listener);
    void getRecoveryKey(ActionListener* listener);
    void create2faLink(ActionListener* listener);
    void enable2fa(int32_t code, ActionListener* listener);
    void disable2fa(int32_t code, ActionListener* listener);
    void deleteAccount(const char* reason, ActionListener* listener);

    void getNodes(ActionListener* listener);
    void getRoot(int32_t rootType, ActionListener* listener);
    void getNode(uint64_t node, ActionListener* listener);
    // order: the sort order code of the children listing.
    void getChildren(uint64_t node, int32_t order, ActionListener* listener);
    void deleteNode(uint64_t node, ActionListener* listener);
    void createLink(ActionListener* listener);
    // filter: 0 uploads, 1 downloads, anything else both.
    void getTransfers(int32_t filter, ActionListener* listener);
    void uploadFileMetadata(const char* localPath, uint64_t node, int32_t kind, ActionListener* listener);
    void downloadFileMetadata(uint64_t node, int32_t kind, const char* localPath, ActionListener* listener);

    void createInbox(const char* name, const char* description, ActionListener* listener);
    void editInbox(uint64_t inbox, const char* name, const char* description, ActionListener* listener);
    void getInboxInfo(const char* inboxLink, ActionListener* listener);
    void setRecordInfo(const char* email, const char* name, const char* text, ActionListener* listener);
    void setRecordInfoFull(const char* email, const char* extraText, const char* name, const char* text,
                           ActionListener* listener);
    void uploadToRecord(const char* localPath, ActionListener* listener);
    void getRecordInfo(const char* recordLink, ActionListener* listener);
    void setRecordStatus(uint64_t record, uint8_t status, ActionListener* listener);
    void sendCrashReport(const char* reportPath, ActionListener* listener);

    void createContact(uint64_t account, const char* name, ActionListener* listener);
    void editContact(uint64_t contact, const char* name, ActionListener* listener);
    void deleteContact(uint64_t contact, ActionListener* listener);
    void createOutbox(uint64_t contact, const char* inboxLink, const char* name, ActionListener* listener);
    void editOutbox(uint64_t outbox, const char* name, ActionListener* listener);
    void deleteOutbox(uint64_t outbox, ActionListener* listener);
    void addSentRecord(uint64_t node, const char* recordLink, ActionListener* listener);

    // Two steps: the node's tree is loaded first; the listener hears only of the second
    // action (CREATE_LINK, DOWNLOAD), which carries the tree's error when loading failed.
    void shareNode(uint64_t node, ActionListener* listener);
    void downloadNode(uint64_t node, const char* localPath, ActionListener* listener);

private:
    friend class test::FacadeAccess;

    using Fill = std::function<void(MutableActionData&)>;

    // Creates the action with the listener, fills it and hands it to the client; when the SDK
    // instance did not start, finishes it at once with error 11 instead.
    void submit(int32_t type, ActionListener* listener, const Fill& fill);
    // Loads the node's tree, then submits the second action for the listener.
    void submitAfterNodeTree(uint64_t node, int32_t type, ActionListener* listener, Fill fill);

    std::unique_ptr<CallbackDispatcher> dispatcher_;
    std::unique_ptr<LibuvLoop> mainLoop_;
    std::unique_ptr<ApiClient> client_;
    // Why the main loop did not start; empty when it runs.
    std::error_code loopError_;
    // Why the SDK instance cannot take actions (its main loop or a module loop did not start).
    std::error_code startError_;
};

}  // namespace corvane
