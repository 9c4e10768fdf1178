#include <gtest/gtest.h>

#include <QQuickItem>
#include <QQuickWidget>
#include <QSet>
#include <QtTest/QTest>

#include <chrono>
#include <future>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "account_directory.h"
#include "client/corvane.h"
#include "corvane/action_types.h"
#include "corvane/corvane_settings.h"
#include "corvane/handle.h"
#include "corvane/node_data.h"
#include "corvane/node_type.h"
#include "database/mutable_node_data.h"
#include "shell/controller_fixture.h"
#include "stand_in_service.h"
#include "support/facade_access.h"
#include "support/facade_fixture.h"
#include "support/stand_in_client.h"
#include "support/test_task_manager.h"
#include "ui/quick_view.h"

using namespace quick_view;

namespace {

namespace service = corvane::service;
using corvane::MutableNodeData;
using corvane::test::ActionOutcome;
using corvane::test::OutcomeListener;

const char* const kEmail = "ada@example.test";
const char* const kPassword = "correct horse battery staple";
constexpr int32_t kNoCode = -1;

// Keeps the key text of a GET_NODE result.
class KeyListener : public corvane::ActionListener {
public:
    void onActionFinish(std::shared_ptr<corvane::ActionData> action) override {
        auto node = action->getNode();
        promise_.set_value(node ? node->getKeyText() : std::string());
    }
    std::string wait() {
        auto future = promise_.get_future();
        return future.wait_for(std::chrono::seconds(60)) == std::future_status::ready ? future.get() : std::string();
    }

private:
    std::promise<std::string> promise_;
};

// The stand-in on loopback with one registered user, whose account a second SDK facade (the
// user's other device) fills; then the application signs in through its real windows.
class SignInTest : public ControllerTest {
protected:
    using Fill = std::function<void(corvane::MutableActionData&)>;

    void SetUp() override {
        ControllerTest::SetUp();
        ASSERT_TRUE(service_.start());
        corvane::Deployment deployment = corvane::getDeployment();
        deployment.apiBaseUrl = service_.apiUrl();
        deployment.apiPin = service_.pin();
        deployment.webAddress = service_.baseUrl();
        // Chunk links and the long poll are not pinned: the stand-in's certificate is trusted.
        deployment.caFile = service_.certificatePath();
        corvane::setDeployment(deployment);
        corvane::Corvane::globalInit("TembraSessionTest", 1);
        seedSettings_.setDataPath(root_.filePath("seed").toStdString());
        QDir().mkpath(root_.filePath("seed"));
        seed_ = std::make_unique<corvane::Corvane>(&seedTasks_, &seedSettings_);
    }

    void TearDown() override {
        ControllerTest::TearDown();
        seed_.reset();
        seedTasks_.drain();
        corvane::Corvane::globalCleanup();
        service_.stop();
    }

    ActionOutcome run(int32_t type, const Fill& fill) { return run(*seed_, type, fill); }
    ActionOutcome run(corvane::Corvane& facade, int32_t type, const Fill& fill) {
        OutcomeListener listener;
        corvane::test::FacadeAccess::submit(facade, type, &listener, fill);
        ActionOutcome outcome = listener.wait();
        seedTasks_.drain();
        return outcome;
    }

    // Registers the user (the verification code is the one VERIFY_EMAIL handed out).
    void registerUser(const std::string& verification) {
        ASSERT_EQ(run(corvane::CREATE_ACCOUNT,
                      [&](corvane::MutableActionData& a) {
                          a.setText(verification.c_str());
                          a.setName("Ada");
                          a.setExtraText("Lovelace");
                          a.setEmail(kEmail);
                          a.setPassword(kPassword);
                          a.setOption(1234);
                      })
                      .error,
                  0);
        ASSERT_EQ(run(corvane::LOGOUT, [](corvane::MutableActionData&) {}).error, 0);
    }

    void registerUser() {
        const ActionOutcome verified = run(corvane::VERIFY_EMAIL, [](corvane::MutableActionData& a) {
            a.setEmail(kEmail);
            a.setName("Ada");
            a.setExtraText("Lovelace");
        });
        ASSERT_EQ(verified.error, 0);
        registerUser(verified.text);
    }

    uint64_t account() { return service_.accounts().userByEmail(kEmail)->mainAccount; }

    // Signs the seeding facade in and waits until it has read the tree.
    void seedSignIn() {
        ASSERT_EQ(run(corvane::LOGIN,
                      [](corvane::MutableActionData& a) {
                          a.setEmail(kEmail);
                          a.setPassword(kPassword);
                          a.setValue(kNoCode);
                      })
                      .error,
                  0);
        // As the application does after signing in: the tree is read before anything is added.
        ASSERT_EQ(run(corvane::GET_NODES, [](corvane::MutableActionData&) {}).error, 0);
    }

    uint64_t rootOf(int32_t type) {
        for (const auto& node : service_.accounts().nodes(account())) {
            if (node.type == type && node.parent == 0) return node.handle;
        }
        return 0;
    }

    // Adds one node through the SDK (sealed with the account's keys) and returns the handle
    // the stand-in gave it.
    uint64_t add(uint64_t parent, std::shared_ptr<MutableNodeData> node) {
        std::set<uint64_t> before;
        for (const auto& existing : service_.accounts().nodes(account()))
            before.insert(existing.handle);
        auto list = std::make_shared<corvane::NodeList>();
        list->push_back(node);
        const ActionOutcome added = run(corvane::ADD_NODES, [&](corvane::MutableActionData& a) {
            a.setParentHandle(parent);
            a.setNodes(list);
        });
        EXPECT_EQ(added.error, 0) << node->getName();
        for (const auto& existing : service_.accounts().nodes(account())) {
            if (!before.count(existing.handle)) return existing.handle;
        }
        return 0;
    }

    static std::shared_ptr<MutableNodeData> made(int32_t type, const char* name) {
        auto node = std::make_shared<MutableNodeData>();
        node->setType(type);
        node->setName(name);
        node->setCreationTime(1700000000);
        node->setModificationTime(1700000100);
        return node;
    }

    // The inbox gets a public handle as a published link has one; its link carries the inbox's
    // key, read from the owner's cache.
    std::string publish(uint64_t inbox) {
        auto record = service_.accounts().node(account(), inbox);
        EXPECT_TRUE(record);
        const std::vector<uint8_t> handle(16, 0x5A);
        record->pubhandle = std::string(handle.begin(), handle.end());
        EXPECT_EQ(service_.accounts().addNode(account(), *record), inbox);
        KeyListener key;
        seed_->getNode(inbox, &key);
        const std::string keyText = key.wait();
        seedTasks_.drain();
        return corvane::getDeployment().webAddress + "/inbox/" + corvane::getBase64UrlText(&handle) + "#" + keyText;
    }

    // A record with a file, sent to the inbox's link from a facade without account while the
    // owner's facade is signed in (it takes the new record over into its own key scheme).
    void receiveThroughLink(uint64_t inbox) {
        const std::string link = publish(inbox);
        std::set<uint64_t> known;
        for (const auto& node : service_.accounts().nodes(account()))
            known.insert(node.handle);
        QDir().mkpath(root_.filePath("sender"));
        corvane::CorvaneSettings senderSettings;
        senderSettings.setDataPath(root_.filePath("sender").toStdString());
        const QString local = root_.filePath("delivery-note.txt");
        {
            QFile file(local);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(QByteArray(3000, 'n'));
        }
        {
            corvane::Corvane sender(&seedTasks_, &senderSettings);
            // As a sender's client does: the inbox's details first, then the link session.
            ASSERT_EQ(
                run(sender, corvane::GET_INBOX_INFO, [&](corvane::MutableActionData& a) { a.setLink(link.c_str()); })
                    .error,
                0);
            ASSERT_EQ(
                run(sender, corvane::LOGIN_LINK, [&](corvane::MutableActionData& a) { a.setLink(link.c_str()); }).error,
                0);
            uint64_t record = 0;
            for (const auto& node : service_.accounts().nodes(account())) {
                if (node.type == corvane::RECORD_NODE && !known.count(node.handle)) record = node.handle;
            }
            ASSERT_NE(record, 0u);
            for (int attempt = 0; attempt < 200 && service_.accounts().node(account(), record)->crypto != 0;
                 ++attempt) {
                service_.clearArrivals();
                service_.waitForRequests("/api", 1, std::chrono::milliseconds(100));
            }
            ASSERT_EQ(service_.accounts().node(account(), record)->crypto, 0);
            ASSERT_EQ(run(sender, corvane::GET_NODES, [](corvane::MutableActionData&) {}).error, 0);
            ASSERT_EQ(run(sender, corvane::SET_RECORD_INFO,
                          [](corvane::MutableActionData& a) {
                              a.setEmail("carrier@example.test");
                              a.setName("Delivery note");
                              a.setText("Signed on arrival.");
                          })
                          .error,
                      0);
            const std::string path = local.toStdString();
            ASSERT_EQ(
                run(sender, corvane::UPLOAD_TO_RECORD, [&](corvane::MutableActionData& a) { a.setName(path.c_str()); })
                    .error,
                0);
            ASSERT_EQ(run(sender, corvane::LOGOUT_LINK, [](corvane::MutableActionData&) {}).error, 0);
        }
        seedTasks_.drain();
    }

    // An inbox with three records (one read, one with a file, which came through the inbox's
    // link), a contact with an outbox and a record sent there.
    void seedAccount() {
        seedSignIn();
        const uint64_t registerRoot = rootOf(corvane::REGISTER_ROOT);
        const uint64_t contactsRoot = rootOf(corvane::CONTACTS_ROOT);
        ASSERT_NE(registerRoot, 0u);
        ASSERT_NE(contactsRoot, 0u);
        // The inbox as the application makes it, with the keys its link needs.
        std::set<uint64_t> before;
        for (const auto& node : service_.accounts().nodes(account()))
            before.insert(node.handle);
        ASSERT_EQ(run(corvane::CREATE_INBOX,
                      [](corvane::MutableActionData& a) {
                          a.setName("Invoices");
                          a.setText("Where suppliers send invoices");
                      })
                      .error,
                  0);
        uint64_t inboxId = 0;
        for (const auto& node : service_.accounts().nodes(account())) {
            if (node.type == corvane::INBOX_NODE && !before.count(node.handle)) inboxId = node.handle;
        }
        ASSERT_NE(inboxId, 0u);
        auto first = made(corvane::RECORD_NODE, "March invoice");
        first->setContactInfo("supplier@example.test");
        first->setRecordMessage("Attached.");
        add(inboxId, first);
        auto second = made(corvane::RECORD_NODE, "April invoice");
        second->setExtraNumber(1);
        add(inboxId, second);
        receiveThroughLink(inboxId);
        auto contact = made(corvane::CONTACT_NODE, "Bob");
        const uint64_t contactId = add(contactsRoot, contact);
        const uint64_t outboxId = add(contactId, made(corvane::OUTBOX_NODE, "Bob's inbox"));
        add(outboxId, made(corvane::RECORD_NODE, "Contract"));
        ASSERT_EQ(run(corvane::LOGOUT, [](corvane::MutableActionData&) {}).error, 0);
    }

    // The application from its start: the login window, as on a first run.
    void startApplication() {
        Tembra& tembra = start();
        ASSERT_NE(tembra.loginWindow(), nullptr);
        LoginWindow* window = tembra.loginWindow();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window));
        loginView_ = window->findChild<QQuickWidget*>(QStringLiteral("loginWidget"));
        ASSERT_NE(loginView_, nullptr);
        ASSERT_EQ(loginView_->status(), QQuickWidget::Ready);
    }

    QQuickItem* loginItem(const char* name) { return item(loginView_, QString::fromLatin1(name)); }

    void typeCredentials(const QString& password) {
        loginItem("emailField")->setProperty("text", QString::fromLatin1(kEmail));
        loginItem("passwordField")->setProperty("text", password);
        click(loginView_, loginItem("loginButton"));
    }

    bool opened(const char* popup) {
        QObject* object = find(loginView_, QString::fromLatin1(popup));
        return object != nullptr && object->property("opened").toBool();
    }

    void expectBlockedPopup(const char* artifact) {
        startApplication();
        typeCredentials(QString::fromLatin1(kPassword));
        ASSERT_TRUE(waitUntil([&] { return opened("blockedPopup"); }, 60000));
        EXPECT_EQ(controller_->mainWindow(), nullptr);
        QSettings native(nativeSettingsFile(), QSettings::IniFormat);
        EXPECT_NE(native.value("TEMBRA/LOGIN_STATUS").toInt(), 1);
        EXPECT_GT(distinctColours(saveFrame(loginView_, QString::fromLatin1(artifact))), 8);
    }

    QImage saveFrame(QQuickWidget* view, const QString& name) {
        const QImage frame = view->grabFramebuffer();
        saveArtifact(frame, name);
        return frame;
    }

    service::StandInService service_;
    corvane::test::TestTaskManager seedTasks_;
    corvane::CorvaneSettings seedSettings_;
    std::unique_ptr<corvane::Corvane> seed_;
    QQuickWidget* loginView_ = nullptr;
};

TEST_F(SignInTest, WrongPasswordShowsTheBanner) {
    registerUser();
    startApplication();
    typeCredentials(QStringLiteral("not the password"));
    ASSERT_TRUE(waitUntil([&] { return loginItem("errorBanner")->opacity() == 1.0; }, 60000));
    EXPECT_EQ(read(loginView_, "errorBannerText", "text").toString(), "Wrong credentials");
    EXPECT_TRUE(loginItem("loginButton")->isEnabled());
    EXPECT_EQ(controller_->mainWindow(), nullptr);
    EXPECT_GT(distinctColours(saveFrame(loginView_, "session-login-wrong-password")), 8);
}

// Refused (2) or signed in with an invoicing problem (19): both show the blocked popup, and
// the application stays signed out.
TEST_F(SignInTest, BlockedAccountShowsItsPopup) {
    registerUser();
    ASSERT_TRUE(service_.accounts().setBlocked(account(), true));
    expectBlockedPopup("session-login-blocked");
}

TEST_F(SignInTest, InvoicingProblemShowsTheBlockedPopup) {
    registerUser();
    ASSERT_TRUE(service_.accounts().setInvoicingProblem(account(), true));
    expectBlockedPopup("session-login-invoicing");
}

TEST_F(SignInTest, TwoFactorAccountAsksForTheCodeAndSignsInWithIt) {
    registerUser();
    seedSignIn();
    const ActionOutcome link = run(corvane::MANAGE_2FA, [](corvane::MutableActionData& a) { a.setOption(1); });
    ASSERT_EQ(link.error, 0);
    const std::string secret = corvane::test::signin::secretOfLink(link.text);
    ASSERT_EQ(run(corvane::MANAGE_2FA,
                  [&](corvane::MutableActionData& a) {
                      a.setOption(2);
                      a.setValue(corvane::test::signin::totpCode(secret));
                  })
                  .error,
              0);
    ASSERT_EQ(run(corvane::LOGOUT, [](corvane::MutableActionData&) {}).error, 0);

    startApplication();
    typeCredentials(QString::fromLatin1(kPassword));
    ASSERT_TRUE(waitUntil([&] { return opened("twoFactorDrawer"); }, 60000));
    ASSERT_TRUE(waitUntil([&] { return loginItem("codeField")->hasActiveFocus(); }));
    EXPECT_GT(distinctColours(saveFrame(loginView_, "session-login-two-factor")), 8);
    QTest::keyClicks(loginView_, QString::number(corvane::test::signin::totpCode(secret)).rightJustified(6, '0'));
    ASSERT_TRUE(waitUntil([&] { return loginItem("codeButton")->isEnabled(); }));
    click(loginView_, loginItem("codeButton"));
    ASSERT_TRUE(waitUntil([&] { return controller_->mainWindow() != nullptr; }, 60000));
    EXPECT_TRUE(controller_->mainWindow()->isVisible());
}

// What the stand-in holds, by type and parent, as decimal ids the way the window lists them.
struct Held {
    QSet<QString> inboxes, received, sent, contacts, outboxes;
    int unread = 0;  // received records whose status says unread
    std::map<QString, int> filesPerRecord;
};

Held heldBy(service::AccountDirectory& accounts, uint64_t account) {
    std::map<uint64_t, int8_t> typeOf;
    const auto nodes = accounts.nodes(account);
    for (const auto& node : nodes)
        typeOf[node.handle] = node.type;
    Held held;
    for (const auto& node : nodes) {
        const QString id = QString::number(node.handle);
        const int8_t parentType = node.parent != 0 ? typeOf[node.parent] : -1;
        switch (node.type) {
            case corvane::INBOX_NODE:
                held.inboxes << id;
                break;
            case corvane::CONTACT_NODE:
                held.contacts << id;
                break;
            case corvane::OUTBOX_NODE:
                held.outboxes << id;
                break;
            case corvane::RECORD_NODE:
                (parentType == corvane::OUTBOX_NODE ? held.sent : held.received) << id;
                if (parentType == corvane::INBOX_NODE && node.extraNumber == 0) ++held.unread;
                break;
            default:
                if (parentType == corvane::RECORD_NODE) ++held.filesPerRecord[QString::number(node.parent)];
                break;
        }
    }
    return held;
}

QSet<QString> setOf(const QStringList& list) {
    return QSet<QString>(list.begin(), list.end());
}

TEST_F(SignInTest, SignedInTheMainWindowHoldsTheAccountAsTheStandInDoes) {
    registerUser();
    seedAccount();
    const Held held = heldBy(service_.accounts(), account());
    ASSERT_EQ(held.inboxes.size(), 1);
    ASSERT_EQ(held.received.size(), 3);
    ASSERT_EQ(held.filesPerRecord.size(), 1u);
    ASSERT_EQ(held.contacts.size(), 1);
    ASSERT_EQ(held.outboxes.size(), 1);
    ASSERT_EQ(held.sent.size(), 1);

    startApplication();
    EXPECT_GT(distinctColours(saveFrame(loginView_, "session-login-form")), 8);
    typeCredentials(QString::fromLatin1(kPassword));
    ASSERT_TRUE(waitUntil([&] { return controller_->mainWindow() != nullptr; }, 60000));
    MainWindow* window = controller_->mainWindow();
    const auto outboxIds = [&] {
        QSet<QString> ids;
        for (const QString& contact : window->getContactsIds())
            ids.unite(setOf(window->getOutboxesIds(contact)));
        return ids;
    };
    // The walk ends when the last listed branch has been answered.
    ASSERT_TRUE(waitUntil(
        [&] {
            return setOf(window->getInboxesIds()) == held.inboxes && setOf(window->getRecordIds()) == held.received &&
                   setOf(window->getSentRecordIds()) == held.sent && setOf(window->getContactsIds()) == held.contacts &&
                   outboxIds() == held.outboxes;
        },
        60000))
        << "inboxes " << window->getInboxesIds().join(' ').toStdString() << ", received "
        << window->getRecordIds().join(' ').toStdString() << ", sent "
        << window->getSentRecordIds().join(' ').toStdString() << ", contacts "
        << window->getContactsIds().join(' ').toStdString() << ", outboxes " << outboxIds().size() << " of "
        << held.outboxes.size() << ", sent held " << held.sent.size();
    for (const QString& record : held.received) {
        const auto files = held.filesPerRecord.find(record);
        EXPECT_EQ(window->getRecordFileNamesById(record).size(), files == held.filesPerRecord.end() ? 0 : files->second)
            << record.toStdString();
    }
    // Names, sealed by the other device, open with the keys of this sign-in.
    const QString inbox = *held.inboxes.begin();
    EXPECT_EQ(window->getInboxName(inbox), "Invoices");
    EXPECT_EQ(window->getContactNames(), QStringList{"Bob"});
    const QString sent = *held.sent.begin();
    EXPECT_EQ(window->getSentRecordSubjectById(sent), "Contract");
    EXPECT_EQ(window->getSentRecordReceiverById(sent), "Bob");
    QStringList subjects;
    for (const QString& record : window->getRecordIds())
        subjects << window->getRecordSubjectById(record);
    subjects.sort();
    EXPECT_EQ(subjects, (QStringList{"April invoice", "Delivery note", "March invoice"}));
    const QString delivered = held.filesPerRecord.begin()->first;
    EXPECT_EQ(window->getRecordFileNamesById(delivered), QStringList{"delivery-note.txt"});
    EXPECT_EQ(window->getRecordSenderById(delivered), "carrier@example.test");

    // The main screen: toolbar, the user's initials in the storage ring, the unread badge.
    QQuickWidget* view = window->findChild<QQuickWidget*>(QStringLiteral("mainWidget"));
    ASSERT_NE(view, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    ASSERT_TRUE(waitUntil([&] { return read(view, "initialsText", "text").toString() == "AL"; }, 60000));
    EXPECT_EQ(read(view, "userNameText", "text").toString(), "Ada Lovelace");
    EXPECT_EQ(read(view, "userEmailText", "text").toString(), kEmail);
    EXPECT_TRUE(item(view, "toolBar")->isVisible());
    EXPECT_TRUE(item(view, "userArea")->isVisible());
    EXPECT_TRUE(item(view, "storageRing")->isVisible());
    EXPECT_TRUE(item(view, "receivedCounterRect")->isVisible());
    EXPECT_TRUE(read(view, "receivedRecordsButton", "enabled").toBool());
    // A record's status reported anew brings the badge to the count of unread records.
    window->setRecordStatus(0, 0);
    EXPECT_EQ(read(view, "receivedCounterText", "text").toString(), QString::number(window->getUnreadRecordCount()));
    EXPECT_EQ(window->getUnreadRecordCount(), held.unread);
    EXPECT_GE(held.unread, 1);
    const QImage frame = saveFrame(view, "session-main");
    EXPECT_EQ(frame.size(), view->size());
    EXPECT_GT(distinctColours(frame), 8);
}

}  // namespace
