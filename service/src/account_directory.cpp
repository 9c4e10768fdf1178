#include "account_directory.h"

#include <openssl/rand.h>

#include <ctime>

#include "service_crypto.h"

namespace corvane::service {

namespace {

std::string randomText(size_t bytes) {
    static const char kDigits[] = "0123456789abcdef";
    std::string raw(bytes, '\0');
    RAND_bytes(reinterpret_cast<unsigned char*>(raw.data()), static_cast<int>(bytes));
    std::string text;
    for (unsigned char c : raw) {
        text += kDigits[c >> 4];
        text += kDigits[c & 15];
    }
    return text;
}

// A transaction around one fixture operation: committed when done() was called, else undone.
class Transaction {
public:
    explicit Transaction(ServiceStore& store) : store_(store), open_(store.begin()) {}
    ~Transaction() {
        if (open_) store_.rollback();
    }
    bool ok() const { return open_; }
    bool done() {
        if (!open_) return false;
        open_ = false;
        return store_.commit();
    }

private:
    ServiceStore& store_;
    bool open_;
};

}  // namespace

SessionScope::SessionScope(AccountDirectory& directory, std::unique_lock<std::mutex> lock, SessionRecord session)
    : directory_(directory), store_(directory.store_), lock_(std::move(lock)), session_(std::move(session)) {
    store_.begin();
    if (signedIn()) {
        session_.lastUsed = std::time(nullptr);
        store_.touchSession(session_.id, session_.lastUsed);
    }
}

SessionScope::~SessionScope() {
    store_.commit();
    lock_.unlock();
    if (changed_) directory_.changed();
}

uint64_t SessionScope::status() {
    return store_.accountStatus(session_.account);
}

void SessionScope::logChange(const std::string& response) {
    directory_.logChangeLocked(session_.account, session_.id, response);
    changed_ = true;
}

void SessionScope::logChangeIn(uint64_t account, const std::string& response) {
    directory_.logChangeLocked(account, session_.id, response);
    changed_ = true;
}

void SessionScope::setTold(uint64_t status) {
    session_.told = status;
    store_.setSessionTold(session_.id, status);
}

Snapshot SessionScope::takeSnapshot() {
    const Snapshot snapshot = session_.snapshot;
    if (snapshot != Snapshot::None) {
        session_.snapshot = Snapshot::None;
        store_.setSessionSnapshot(session_.id, Snapshot::None);
    }
    return snapshot;
}

std::optional<SessionRecord> SessionScope::openSession(uint64_t user, uint64_t account, const std::string& secret,
                                                       const std::string& address, const std::string& userAgent) {
    return directory_.makeSessionLocked(user, account, base64Url(secret), address, userAgent);
}

void SessionScope::endSession(const std::string& id) {
    store_.endSession(id);
    if (id == session_.id) session_.active = false;
}

AccountDirectory::AccountDirectory() {
    store_.openInMemory();
}

AccountDirectory::~AccountDirectory() = default;

bool AccountDirectory::openDirectory(const std::string& directory) {
    std::lock_guard<std::mutex> lock(mutex_);
    // A restarted stand-in goes on with the file it has open.
    if (!store_.path().empty() && store_.path() == ServiceStore::pathIn(directory)) return true;
    if (!store_.open(directory)) {
        store_.openInMemory();
        sessionsExist_ = false;
        return false;
    }
    sessionsExist_ = store_.hasSessions();
    return true;
}

uint64_t AccountDirectory::createUser(const std::string& email, int8_t status) {
    std::lock_guard<std::mutex> lock(mutex_);
    Transaction transaction(store_);
    const uint64_t handle = store_.newHandle();
    UserRecord user;
    user.handle = handle;
    user.email = email;
    user.status = status;
    if (handle == 0 || !store_.putUser(user)) return 0;
    return transaction.done() ? handle : 0;
}

uint64_t AccountDirectory::createAccount(uint64_t user) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!store_.user(user)) return 0;
    Transaction transaction(store_);
    const uint64_t handle = store_.newHandle();
    if (handle == 0 || !store_.putAccount(handle, 1) || !store_.addAccountUser(handle, user)) return 0;
    return transaction.done() ? handle : 0;
}

bool AccountDirectory::addAccountUser(uint64_t account, uint64_t user) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!store_.hasAccount(account) || !store_.user(user)) return false;
    return store_.addAccountUser(account, user);
}

bool AccountDirectory::addMember(uint64_t account, uint64_t user, uint8_t accessLevel, Bytes accountKey) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!store_.hasAccount(account) || !store_.user(user)) return false;
    Membership membership;
    membership.account = account;
    membership.user = user;
    membership.accountKey = std::move(accountKey);
    membership.accessLevel = accessLevel;
    membership.created = static_cast<int64_t>(std::time(nullptr));
    return store_.putMembership(membership);
}

uint64_t AccountDirectory::addRoot(uint64_t account, NodeRecord root, FilesystemRecord filesystem) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!store_.hasAccount(account)) return 0;
    Transaction transaction(store_);
    if (root.handle == 0) root.handle = store_.newHandle();
    if (root.handle == 0 || root.handle >= kHandleLimit) return 0;
    if (filesystem.handle == 0) filesystem.handle = root.handle << 15;
    root.parent = 0;
    if (root.filesystem == 0) root.filesystem = filesystem.handle;
    if (!store_.putFilesystem(account, filesystem) || !store_.putNode(account, root)) return 0;
    return transaction.done() ? root.handle : 0;
}

uint64_t AccountDirectory::addNode(uint64_t account, NodeRecord node) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto parent = node.parent == 0 ? std::nullopt : store_.node(account, node.parent);
    if (!parent) return 0;
    Transaction transaction(store_);
    if (node.handle == 0) node.handle = store_.newHandle();
    if (node.handle == 0 || node.handle >= kHandleLimit) return 0;
    if (node.filesystem == 0) node.filesystem = parent->filesystem;
    if (!store_.putNode(account, node)) return 0;
    return transaction.done() ? node.handle : 0;
}

std::string AccountDirectory::createSession(uint64_t user, uint64_t account) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!store_.hasAccount(account) || !store_.user(user)) return {};
    const auto session = makeSessionLocked(user, account, randomText(24), std::string(), std::string());
    return session ? session->id : std::string();
}

std::optional<SessionRecord> AccountDirectory::makeSessionLocked(uint64_t user, uint64_t account, const std::string& id,
                                                                 const std::string& address,
                                                                 const std::string& userAgent) {
    SessionRecord session;
    session.id = id;
    session.pollToken = randomText(16);
    session.user = user;
    session.account = account;
    session.handle = store_.newHandle();
    session.created = session.lastUsed = std::time(nullptr);
    session.address = address;
    session.userAgent = userAgent;
    if (session.id.empty() || session.handle == 0 || !store_.putSession(session)) return std::nullopt;
    sessionsExist_ = true;
    return session;
}

std::string AccountDirectory::pollToken(const std::string& sessionId) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto session = store_.session(sessionId);
    return session ? session->pollToken : std::string();
}

uint64_t AccountDirectory::accountOf(const std::string& sessionId) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto session = store_.session(sessionId);
    return session ? session->account : 0;
}

std::optional<SessionRecord> AccountDirectory::session(const std::string& sessionId) {
    std::lock_guard<std::mutex> lock(mutex_);
    return store_.session(sessionId);
}

std::optional<UserRecord> AccountDirectory::user(uint64_t handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    return store_.user(handle);
}

std::optional<Membership> AccountDirectory::membership(uint64_t account, uint64_t user) {
    std::lock_guard<std::mutex> lock(mutex_);
    return store_.membership(account, user);
}

std::optional<UserRecord> AccountDirectory::userByEmail(const std::string& email) {
    std::lock_guard<std::mutex> lock(mutex_);
    return store_.userByEmail(email);
}

bool AccountDirectory::setBlocked(uint64_t account, bool blocked) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto record = store_.account(account);
    if (!record) return false;
    record->blocked = blocked;
    return store_.putAccountRecord(*record);
}

bool AccountDirectory::setInvoicingProblem(uint64_t account, bool problem) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto record = store_.account(account);
    if (!record) return false;
    record->invoicingProblem = problem;
    return store_.putAccountRecord(*record);
}

uint64_t AccountDirectory::accountStatus(uint64_t account) {
    std::lock_guard<std::mutex> lock(mutex_);
    return store_.accountStatus(account);
}

std::optional<NodeRecord> AccountDirectory::node(uint64_t account, uint64_t handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    return store_.node(account, handle);
}

std::vector<NodeRecord> AccountDirectory::nodes(uint64_t account) {
    std::lock_guard<std::mutex> lock(mutex_);
    return store_.nodes(account);
}

std::vector<FilesystemRecord> AccountDirectory::filesystems(uint64_t account) {
    std::lock_guard<std::mutex> lock(mutex_);
    return store_.filesystems(account);
}

uint64_t AccountDirectory::nextStatus(uint64_t account) {
    std::lock_guard<std::mutex> lock(mutex_);
    return store_.hasAccount(account) ? store_.accountStatus(account) + 1 : 0;
}

uint64_t AccountDirectory::logChange(uint64_t account, const std::string& response) {
    uint64_t status = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!store_.hasAccount(account)) return 0;
        Transaction transaction(store_);
        status = logChangeLocked(account, std::string(), response);
        if (!transaction.done()) return 0;
    }
    changed();
    return status;
}

uint64_t AccountDirectory::logChangeLocked(uint64_t account, const std::string& origin, const std::string& response) {
    const uint64_t status = store_.accountStatus(account) + 1;
    store_.appendChange(account, status, origin, response);
    uint64_t floor = store_.accountFloor(account);
    const uint64_t forgotten = store_.trimChanges(account, keptChanges_);
    if (forgotten > floor) floor = forgotten;
    store_.setAccountStatus(account, status, floor);
    return status;
}

bool AccountDirectory::forceSnapshot(const std::string& sessionId, Snapshot snapshot) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!store_.session(sessionId) || !store_.setSessionSnapshot(sessionId, snapshot)) return false;
    }
    changed();
    return true;
}

void AccountDirectory::setKeptChanges(size_t count) {
    std::lock_guard<std::mutex> lock(mutex_);
    keptChanges_ = count;
}

bool AccountDirectory::checksSessions() {
    std::lock_guard<std::mutex> lock(mutex_);
    return sessionsExist_;
}

std::unique_ptr<SessionScope> AccountDirectory::open(const std::string& sessionId) {
    std::unique_lock<std::mutex> lock(mutex_);
    auto session = store_.session(sessionId);
    if (!session) return nullptr;
    return std::unique_ptr<SessionScope>(new SessionScope(*this, std::move(lock), std::move(*session)));
}

std::unique_ptr<SessionScope> AccountDirectory::openWithoutSession() {
    std::unique_lock<std::mutex> lock(mutex_);
    return std::unique_ptr<SessionScope>(new SessionScope(*this, std::move(lock), SessionRecord{}));
}

std::unique_ptr<SessionScope> AccountDirectory::openLink(uint64_t account, const std::string& token) {
    std::unique_lock<std::mutex> lock(mutex_);
    SessionRecord session;
    session.id = token;
    session.account = account;
    return std::unique_ptr<SessionScope>(new SessionScope(*this, std::move(lock), std::move(session)));
}

bool AccountDirectory::hasNews(const std::string& pollToken) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto session = store_.sessionByPollToken(pollToken);
    if (!session) return false;
    if (session->snapshot != Snapshot::None) return true;
    // Changes forgotten past what the session was told wait for it as a snapshot.
    if (session->told < store_.accountFloor(session->account)) return true;
    return store_.hasChangesAfter(session->account, session->told, session->id);
}

void AccountDirectory::setChangeListener(std::function<void()> listener) {
    std::lock_guard<std::mutex> lock(mutex_);
    listener_ = std::move(listener);
}

void AccountDirectory::changed() {
    std::function<void()> listener;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        listener = listener_;
    }
    if (listener) listener();
}

}  // namespace corvane::service
