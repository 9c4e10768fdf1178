#include <gtest/gtest.h>
#include <QMetaMethod>
#include <QSignalSpy>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "corvane/action_types.h"
#include "corvane/mutable_action_data.h"
#include "corvane/node_type.h"
#include "database/mutable_node_data.h"

#include "controller_fixture.h"

namespace {

std::shared_ptr<corvane::MutableActionData> result(int32_t type, int32_t code = 0) {
    auto action = std::make_shared<corvane::MutableActionData>(type);
    action->setError(corvane::Error(code));
    return action;
}

std::shared_ptr<corvane::MutableNodeData> node(uint64_t id, int32_t type, uint64_t parent, const char* name) {
    auto made = std::make_shared<corvane::MutableNodeData>();
    made->setId(id);
    made->setType(type);
    made->setParent(parent);
    made->setName(name);
    return made;
}

// Signed in (or not), with both windows shown; nothing answers the facade's requests, so no
// result arrives unless a test hands it over.
class ActionResultsTest : public ControllerTest {
protected:
    void startWithWindows(bool signedIn) {
        if (signedIn) {
            QSettings native(nativeSettingsFile(), QSettings::IniFormat);
            native.setValue("TEMBRA/LOGIN_STATUS", 1);
            native.setValue("TEMBRA/LOGIN_SESSION", "saved-session");
        }
        Tembra& tembra = start();
        if (!tembra.loginWindow()) {
            tembra.showLoginWindow();
        }
        if (!tembra.mainWindow()) {
            tembra.showMainWindow();
        }
    }

    int loginStatus() {
        QSettings native(nativeSettingsFile(), QSettings::IniFormat);
        return native.value("TEMBRA/LOGIN_STATUS").toInt();
    }
};

// Every request signal X of the main window reaches the controller's slot onX, connected by
// its normalized signature.
TEST_F(ActionResultsTest, EveryRequestSignalOfTheMainWindowReachesItsSlot) {
    startWithWindows(false);
    Tembra& tembra = *controller_;
    MainWindow* window = tembra.mainWindow();
    const QMetaObject& windowMeta = MainWindow::staticMetaObject;
    const QMetaObject& controllerMeta = Tembra::staticMetaObject;
    QStringList connected;
    for (int i = windowMeta.methodOffset(); i < windowMeta.methodCount(); ++i) {
        const QMetaMethod signal = windowMeta.method(i);
        if (signal.methodType() != QMetaMethod::Signal) {
            continue;
        }
        QByteArray name = signal.name();
        if (name == "getDebugStatusSignal") {
            name = "getDebugStatus";
        }
        const QByteArray slotName = "on" + name.left(1).toUpper() + name.mid(1);
        const QByteArray slotSignature = slotName + signal.methodSignature().mid(signal.name().size());
        const int slotIndex = controllerMeta.indexOfSlot(QMetaObject::normalizedSignature(slotSignature).constData());
        if (slotIndex < 0) {
            continue;  // a notification to the screens
        }
        EXPECT_EQ(signal.methodSignature(), QMetaObject::normalizedSignature(signal.methodSignature().constData()));
        // A connection that exists is removed by this call: true tells it was there.
        EXPECT_TRUE(QObject::disconnect(window, signal, &tembra, controllerMeta.method(slotIndex)))
            << signal.methodSignature().toStdString();
        connected << QString::fromLatin1(signal.methodSignature());
    }
    EXPECT_EQ(connected.size(), 35) << connected.join(' ').toStdString();
    EXPECT_TRUE(connected.contains("deleteInbox(uint64_t)"));
    EXPECT_TRUE(connected.contains("getDebugStatusSignal()"));
}

// The facade is not touched: each case only reads what the windows were told.
struct FailureCase {
    const char* name;
    int32_t type;
    int32_t code;
    bool signedIn;
    int loginError;   // -100: none
    int mainError;    // -100: none
    int systemError;  // -100: none
    int loginStatus;  // -100: unchanged
    bool settingsCleared;
    bool processFinished;
};

void PrintTo(const FailureCase& c, std::ostream* os) {
    *os << c.name;
}

constexpr int kNone = -100;

class ActionResultCases : public ActionResultsTest, public testing::WithParamInterface<FailureCase> {};

TEST_P(ActionResultCases, ReachTheWindows) {
    const FailureCase& c = GetParam();
    startWithWindows(c.signedIn);
    Tembra& tembra = *controller_;
    QSignalSpy loginErrors(tembra.loginWindow(), &LoginWindow::error);
    QSignalSpy loginStatusChanged(tembra.loginWindow(), &LoginWindow::loginStatusChanged);
    QSignalSpy mainErrors(tembra.mainWindow(), &MainWindow::error);
    QSignalSpy systemErrors(tembra.mainWindow(), &MainWindow::systemError);
    QSignalSpy finished(tembra.mainWindow(), &MainWindow::processFinished);
    MainWindow* mainBefore = tembra.mainWindow();

    tembra.onActionFinish(result(c.type, c.code));

    auto only = [](QSignalSpy& spy, int expected) {
        if (expected == kNone) {
            EXPECT_TRUE(spy.isEmpty()) << spy.size();
        } else {
            ASSERT_EQ(spy.size(), 1);
            EXPECT_EQ(spy.front().front().toInt(), expected);
        }
    };
    only(loginErrors, c.loginError);
    only(mainErrors, c.mainError);
    only(systemErrors, c.systemError);
    if (c.loginStatus == kNone) {
        EXPECT_TRUE(loginStatusChanged.isEmpty());
    } else {
        EXPECT_EQ(loginStatusChanged.size(), 1);
        EXPECT_EQ(tembra.loginWindow()->getLoginStatus(), c.loginStatus);
    }
    EXPECT_EQ(loginStatus(), c.settingsCleared ? 0 : (c.signedIn ? 1 : 0));
    EXPECT_EQ(finished.size(), c.processFinished ? 1 : 0);
    EXPECT_EQ(tembra.mainWindow(), mainBefore) << "the main window stays";
}

INSTANTIATE_TEST_SUITE_P(
    Results, ActionResultCases,
    testing::Values(
        // A download that ended with an error never reads as completed.
        FailureCase{"DownloadUnknownErrorFails", corvane::DOWNLOAD, 9, true, kNone, kNone, 9, kNone, false, false},
        FailureCase{"DownloadIoErrorFails", corvane::DOWNLOAD, 18, true, kNone, kNone, 18, kNone, false, false},
        FailureCase{"DownloadDone", corvane::DOWNLOAD, 0, true, kNone, kNone, kNone, kNone, false, true},
        // Elsewhere "Unknown error" still counts as success.
        FailureCase{"DeleteUnknownErrorSucceeds", corvane::DELETE_NODE, 9, true, kNone, kNone, kNone, kNone, false,
                    false},
        // Signed out by the clearing, so the failure then reads as a refused sign-in.
        FailureCase{"InvoicingAtSignInBlocks", corvane::LOGIN, 19, true, 12, kNone, kNone, 0, true, false},
        FailureCase{"InvoicingOnNodesBlocks", corvane::GET_NODES, 19, true, 12, kNone, kNone, 0, true, false},
        FailureCase{"ForbiddenSignIn", corvane::LOGIN, 2, false, 12, 16, kNone, kNone, false, false},
        FailureCase{"TwoFactorNeeded", corvane::LOGIN, 16, false, 9, kNone, kNone, kNone, false, false},
        FailureCase{"WrongCredentials", corvane::LOGIN, 5, false, kNone, kNone, kNone, 0, false, false},
        FailureCase{"ChildrenFailureIsSilent", corvane::GET_CHILDREN, 1, true, kNone, kNone, kNone, kNone, false,
                    false},
        FailureCase{"MissingMetadataIsSilent", corvane::DOWNLOAD_METADATA, 1, true, kNone, kNone, kNone, kNone, false,
                    false},
        FailureCase{"QuotaOnLinkSignIn", corvane::LOGIN_LINK, 13, true, kNone, 13, kNone, kNone, false, false},
        FailureCase{"OtherFailureSignedIn", corvane::CREATE_LINK, 8, true, kNone, kNone, 8, kNone, false, false}),
    [](const testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

TEST_F(ActionResultsTest, UnknownErrorRunsTheSuccessHandler) {
    startWithWindows(true);
    Tembra& tembra = *controller_;
    MainWindow* window = tembra.mainWindow();
    window->addInbox(10, "Inbox", "", 1000);
    window->addRecord(10, 20, "ada@example.test", "", "Subject", "Message", 1000, false);
    tembra.onModifyRecordStatus(20, 1);
    auto done = result(corvane::SET_RECORD_STATUS, 9);
    done->setNode(node(20, corvane::RECORD_NODE, 10, "Subject"));
    tembra.onActionFinish(done);
    EXPECT_EQ(window->getRecordStatusById("20"), "1");
}

TEST_F(ActionResultsTest, UserAndPlanReachTheMainWindow) {
    startWithWindows(true);
    Tembra& tembra = *controller_;
    QSignalSpy user(tembra.mainWindow(), &MainWindow::userLoaded);
    QSignalSpy email(tembra.mainWindow(), &MainWindow::emailLoaded);
    QSignalSpy plan(tembra.mainWindow(), &MainWindow::planLoaded);

    auto info = std::make_shared<corvane::MutableActionData>(corvane::USER_INFO);
    auto userInfo = std::make_shared<corvane::UserInfoData>();
    info->setUserInfo(userInfo);
    tembra.onActionFinish(info);
    EXPECT_EQ(user.size(), 1);
    EXPECT_EQ(email.size(), 1);

    auto account = std::make_shared<corvane::MutableActionData>(corvane::ACCOUNT_INFO);
    account->setAccountInfo(std::make_shared<corvane::AccountInfoData>());
    tembra.onActionFinish(account);
    ASSERT_EQ(plan.size(), 1);
}

struct ProgressCase {
    const char* name;
    int32_t type;
    uint64_t current;
    uint64_t total;
    QStringList expected;  // empty: nothing shown
};

void PrintTo(const ProgressCase& c, std::ostream* os) {
    *os << c.name;
}

class ProgressCases : public ActionResultsTest, public testing::WithParamInterface<ProgressCase> {};

TEST_P(ProgressCases, ShowOnlyWhatCanBeDivided) {
    const ProgressCase& c = GetParam();
    startWithWindows(true);
    Tembra& tembra = *controller_;
    QSignalSpy shown(tembra.mainWindow(), &MainWindow::updateRecordTransferData);
    auto progress = result(c.type);
    progress->setCurrentSize(c.current);
    progress->setTotalSize(c.total);
    tembra.onActionProgress(progress);
    if (c.expected.isEmpty()) {
        EXPECT_TRUE(shown.isEmpty());
        return;
    }
    ASSERT_EQ(shown.size(), 1);
    QStringList texts;
    for (const QVariant& value : shown.front()) {
        texts << value.toString();
    }
    EXPECT_EQ(texts, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Progress, ProgressCases,
    testing::Values(
        ProgressCase{"DownloadHalf", corvane::DOWNLOAD, 1572864, 3145728, {"50", "1", "1", "1.5 MB", "3 MB"}},
        ProgressCase{"DownloadWithoutTotal", corvane::DOWNLOAD, 100, 0, {}},
        ProgressCase{"DownloadNotStarted", corvane::DOWNLOAD, 0, 100, {}},
        // No record is being sent: no attachment counter to show.
        ProgressCase{"UploadOutsideASend", corvane::UPLOAD_TO_RECORD, 10, 100, {}},
        ProgressCase{"UploadWithoutTotal", corvane::UPLOAD_TO_RECORD, 10, 0, {}},
        ProgressCase{"OtherAction", corvane::UPLOAD, 10, 100, {}}),
    [](const testing::TestParamInfo<ProgressCase>& info) { return std::string(info.param.name); });

TEST(FormatSize, StrictUnitsRaisedToTwoDecimals) {
    const struct {
        uint64_t bytes;
        const char* text;
    } cases[] = {{0, "0 Bytes"},      {1024, "1024 Bytes"},           {1025, "1.01 KB"},
                 {1572864, "1.5 MB"}, {uint64_t(1) << 30, "1024 MB"}, {(uint64_t(1) << 30) + 1, "1.01 GB"}};
    for (const auto& c : cases) {
        EXPECT_EQ(Tembra::formatSize(c.bytes), c.text) << c.bytes;
    }
}

// The window changes when the request is made; nothing answers here, so nothing else could
// have changed it.
TEST_F(ActionResultsTest, DeletesAndRenamesShowBeforeTheServiceAnswers) {
    startWithWindows(true);
    Tembra& tembra = *controller_;
    MainWindow* window = tembra.mainWindow();
    window->addInbox(10, "Inbox", "", 1000);
    window->addInbox(11, "Other", "", 1000);
    window->addRecord(10, 20, "ada@example.test", "", "Subject", "Message", 1000, false);
    window->addContact(30, 300, "Bob");
    window->addContact(31, 301, "Carol");
    window->addOutbox(40, 30, "Bob's inbox", "https://example.test/inbox/AAAA", "");

    tembra.onDeleteRecord(20);
    EXPECT_EQ(window->getRecordCount(), 0);
    tembra.onDeleteInbox(11);
    EXPECT_EQ(window->getInboxesIds(), QStringList{"10"});
    tembra.onEditContact(31, "Caroline");
    EXPECT_TRUE(window->getContactNames().contains("Caroline"));
    tembra.onEditOutbox("30", "40", "Bob at work");
    EXPECT_EQ(window->getOutboxesNames("30"), QStringList{"Bob at work"});
    tembra.onDeleteOutbox("40");
    EXPECT_EQ(window->getOutboxesCount(), 0);
    EXPECT_EQ(tembra.pendingOperation(), 5);
    tembra.onDeleteContact(31);
    EXPECT_EQ(window->getContactsIds(), QStringList{"30"});
    EXPECT_EQ(tembra.pendingOperation(), 3);
}

TEST_F(ActionResultsTest, AttachmentsFollowDropsAndRemovals) {
    startWithWindows(true);
    Tembra& tembra = *controller_;
    QSignalSpy refreshed(tembra.mainWindow(), &MainWindow::updateUploadedFiles);
    QSignalSpy errors(tembra.mainWindow(), &MainWindow::error);
    tembra.onDragFile("/home/me/photo.jpg");
    tembra.onDragFile("file:///home/me/notes.txt");
    EXPECT_EQ(tembra.attachments(), (QStringList{"/home/me/photo.jpg", "/home/me/notes.txt"}));
    tembra.onDeleteUploadedFile(-1);
    tembra.onDeleteUploadedFile(2);
    EXPECT_EQ(tembra.attachments().size(), 2);
    tembra.onDeleteUploadedFile(0);
    EXPECT_EQ(tembra.attachments(), QStringList{"/home/me/notes.txt"});
    tembra.onDragFile("/home/me/Documents");
    EXPECT_TRUE(tembra.attachments().isEmpty());
    ASSERT_EQ(errors.size(), 1);
    EXPECT_EQ(errors.front().front().toInt(), 11);
    EXPECT_EQ(refreshed.size(), 6);
}

TEST_F(ActionResultsTest, UnreadableTwoFactorCodesSendNothing) {
    startWithWindows(true);
    Tembra& tembra = *controller_;
    QSignalSpy errors(tembra.mainWindow(), &MainWindow::error);
    tembra.onEnable2FA("12a456");
    tembra.onDisable2FA("");
    EXPECT_EQ(errors.size(), 2);
    EXPECT_EQ(tembra.pendingOperation(), 0);
    tembra.onEnable2FA("123456");
    EXPECT_EQ(tembra.pendingOperation(), 8);
}

}  // namespace
