#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QQuickItem>
#include <QQuickWidget>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTranslator>
#include <QtTest/QTest>
#include <memory>

#include "quick_view.h"
#include "ui/main_window.h"

using namespace quick_view;

namespace {

const char* const kGeneric = "An error has occurred. Please check that your data is correct.";

// The main screen's frame in a real window, offscreen, driven through the window's
// notifications the way the controller drives it.
class MainShellTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(folder.isValid());
        QCoreApplication::setOrganizationName(QStringLiteral("TembraShellTest"));
        QCoreApplication::setApplicationName(QStringLiteral("Tembra"));
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, folder.path());
        QSettings::setDefaultFormat(QSettings::IniFormat);
        window = std::make_unique<MainWindow>();
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        view = window->findChild<QQuickWidget*>(QStringLiteral("mainWidget"));
        ASSERT_NE(view, nullptr);
        ASSERT_EQ(view->status(), QQuickWidget::Ready) << errorsOf(view);
        stack = find(view, QStringLiteral("stack"));
        ASSERT_NE(stack, nullptr);
    }

    void TearDown() override {
        window.reset();
        QSettings::setDefaultFormat(QSettings::NativeFormat);
    }

    static std::string errorsOf(QQuickWidget* view) {
        std::string text;
        for (const auto& error : view->errors())
            text += error.toString().toStdString() + "\n";
        return text;
    }

    QQuickItem* at(const char* name) {
        QQuickItem* found = item(view, QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }

    QString text(const char* name) { return read(view, QString::fromLatin1(name), "text").toString(); }
    // A mouse area's own switch, which its "enabled" property names.
    bool enabled(const char* name) { return read(view, QString::fromLatin1(name), "enabled").toBool(); }
    int depth() { return stack->property("depth").toInt(); }
    bool settled() { return !stack->property("busy").toBool(); }

    // The walk has been read: the menu answers.
    void loaded() {
        window->emitReloadApplication();
        ASSERT_TRUE(at("userArea")->isVisible());
    }

    QTemporaryDir folder;
    std::unique_ptr<MainWindow> window;
    QQuickWidget* view = nullptr;
    QObject* stack = nullptr;
};

TEST_F(MainShellTest, MenuAndUserAreaWaitForTheAccountToBeRead) {
    EXPECT_FALSE(enabled("receivedRecordsButton"));
    EXPECT_FALSE(at("userArea")->isVisible());
    EXPECT_EQ(text("receivedCounterText"), "0");
    loaded();
    for (const char* button :
         {"receivedRecordsButton", "sentRecordsButton", "myInboxesButton", "contactsButton", "exitButton"}) {
        EXPECT_TRUE(enabled(button)) << button;
    }
    // Offline disables them again, back online enables them, without a toast.
    window->emitError(5);
    EXPECT_FALSE(enabled("contactsButton"));
    window->emitError(6);
    EXPECT_TRUE(enabled("contactsButton"));
}

TEST_F(MainShellTest, NavigationPushesOnlyForAnotherEntry) {
    loaded();
    EXPECT_EQ(depth(), 1);
    click(view, at("receivedRecordsRect"));
    EXPECT_EQ(depth(), 1) << "the selected entry pushes nothing";
    click(view, at("sentRecordsRect"));
    ASSERT_TRUE(waitUntil([&] { return settled(); }));
    EXPECT_EQ(depth(), 2);
    EXPECT_TRUE(QColor(at("sentRecordsRect")->property("color").value<QColor>()) == QColor("#0040ff"));
    EXPECT_TRUE(QColor(at("receivedRecordsRect")->property("color").value<QColor>()) == QColor("white"));
    click(view, at("receivedRecordsRect"));
    ASSERT_TRUE(waitUntil([&] { return settled(); }));
    EXPECT_EQ(depth(), 3) << "a page shown before is pushed anew";

    QQuickItem* settings = at("settingsButton");
    click(view, settings);
    ASSERT_TRUE(waitUntil([&] { return settled(); }));
    click(view, settings);
    ASSERT_TRUE(waitUntil([&] { return settled(); }));
    EXPECT_EQ(depth(), 4) << "Settings twice pushes the profile once";
    EXPECT_EQ(settings->property("pPrimaryColor").toString(), "#e7edff");

    click(view, at("exitRect"));
    ASSERT_TRUE(waitUntil([&] { return find(view, "logoutPopup")->property("opened").toBool(); }));
    EXPECT_EQ(depth(), 4);
}

TEST_F(MainShellTest, LogoutAsksBeforeSigningOut) {
    loaded();
    QSignalSpy logout(window.get(), &MainWindow::logout);
    click(view, at("exitRect"));
    ASSERT_TRUE(waitUntil([&] { return find(view, "logoutPopup")->property("opened").toBool(); }));
    click(view, at("logoutContinueButton"));
    EXPECT_EQ(logout.size(), 1);
}

struct ErrorCase {
    const char* name;
    int code;
    bool system;
    QString toast;  // empty: no toast
    const char* popup;
};

void PrintTo(const ErrorCase& c, std::ostream* os) {
    *os << c.name;
}

class MainShellErrors : public MainShellTest, public ::testing::WithParamInterface<ErrorCase> {};

TEST_P(MainShellErrors, EachCodeHasOneReaction) {
    const ErrorCase& c = GetParam();
    loaded();
    if (c.system) {
        window->emitSystemError(c.code);
    } else {
        window->emitError(c.code);
    }
    if (c.toast.isEmpty()) {
        QCoreApplication::processEvents();
        EXPECT_TRUE(text("notificationToastText").isEmpty());
    } else {
        EXPECT_EQ(text("notificationToastText"), c.toast);
        EXPECT_TRUE(waitUntil([&] { return at("notificationToast")->y() == view->height() - 40; }));
        EXPECT_EQ(at("notificationToast")->property("color").value<QColor>(), QColor("#ea4848"));
    }
    if (c.popup) {
        EXPECT_TRUE(waitUntil([&] { return find(view, c.popup)->property("opened").toBool(); })) << c.popup;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Codes, MainShellErrors,
    ::testing::Values(ErrorCase{"NoError", -1, false, QString(), nullptr},
                      ErrorCase{"ConnectionBack", 6, false, QString(), nullptr},
                      ErrorCase{"NameTaken", 3, false, "An inbox with the same name already exists.", nullptr},
                      ErrorCase{"ReadOnly", 16, false,
                                "You are not allowed to make changes on this account (read only access)", nullptr},
                      ErrorCase{"UnknownCode", 2, false, kGeneric, nullptr},
                      ErrorCase{"SystemError", 18, true, kGeneric, nullptr},
                      ErrorCase{"OwnStorageFull", 14, false, QString(), "storagePopup"},
                      ErrorCase{"TransferQuota", 15, false, QString(), "transferLimitPopup"}),
    [](const ::testing::TestParamInfo<ErrorCase>& info) { return std::string(info.param.name); });

TEST_F(MainShellTest, UserNameAndInitials) {
    const struct {
        QString first;
        QString last;
        QString initials;
        QString shown;
    } cases[] = {
        {"ada", "Lovelace", "aL", "ada Lovelace"},
        // 33 characters: the first 32 and "...".
        {"Maximiliana", "Abcdefghijklmnopqrstu", "MA", "Maximiliana Abcdefghijklmnopqrst..."},
        // 32 characters stay.
        {"Maximiliana", "Abcdefghijklmnopqrst", "MA", "Maximiliana Abcdefghijklmnopqrst"},
    };
    for (const auto& c : cases) {
        window->setUserName(c.first, c.last);
        EXPECT_EQ(text("initialsText"), c.initials);
        EXPECT_EQ(text("userNameText"), c.shown);
    }
    window->setUserEmail("ada@example.test");
    EXPECT_EQ(text("userEmailText"), "ada@example.test");
}

TEST_F(MainShellTest, StorageRingAndTooltip) {
    const struct {
        uint64_t used;
        uint64_t total;
        double ring;
        QString tooltip;
        QColor colour;
    } cases[] = {
        {1073741824, 10737418240, 0.1, "1024 MB of 10 GB (10%)", QColor("#0040ff")},
        {132559299, 1073741824, 0.123456, "126 MB of 1024 MB (12.3%)", QColor("#0040ff")},
        {2147483648, 1073741824, 1, "1024 MB of 1024 MB (100%)", QColor("red")},
        // No total: the ratio is no number, the ring shows full.
        {0, 0, 1, "0 Bytes of 0 Bytes (100%)", QColor("red")},
    };
    for (const auto& c : cases) {
        window->setPlanInfo("Business", c.used, c.total);
        EXPECT_NEAR(at("storageRing")->property("value").toDouble(), c.ring, 0.0001) << c.used;
        EXPECT_EQ(text("storageTooltipText"), c.tooltip) << c.used;
        EXPECT_EQ(read(view, "initialsText", "color").value<QColor>(), c.colour);
    }
}

TEST_F(MainShellTest, UnreadBadgeCountsUpToNinetyNine) {
    window->addInbox(1, "Inbox", "", 1000);
    for (uint64_t id = 100; id < 199; ++id) {
        window->addRecord(1, id, "a@example.test", "", "Subject", "", 1000, false);
    }
    window->setRecordStatus(100, 0);
    EXPECT_EQ(text("receivedCounterText"), "99");
    EXPECT_EQ(read(view, "receivedCounterRect", "color").value<QColor>(), QColor("#0040ff"));
    window->addRecord(1, 199, "a@example.test", "", "Subject", "", 1000, false);
    window->setRecordStatus(100, 0);
    EXPECT_EQ(text("receivedCounterText"), "+99");
    for (uint64_t id = 100; id < 200; ++id) {
        window->setRecordStatus(id, 1);
    }
    EXPECT_EQ(text("receivedCounterText"), "0");
    // "Received" is selected: the badge without unread records is white with blue digits.
    EXPECT_EQ(read(view, "receivedCounterRect", "color").value<QColor>(), QColor("white"));
    EXPECT_EQ(read(view, "receivedCounterText", "color").value<QColor>(), QColor("#0040ff"));
}

TEST_F(MainShellTest, ProgressToastResetsAfterAProcess) {
    window->emitUpdateRecordTransferData("50", "1", "2", "1 MB", "2 MB");
    EXPECT_EQ(text("sendToastPercent"), "50%");
    EXPECT_EQ(text("sendToastFiles"), "File 1 of 2");
    EXPECT_EQ(text("sendToastSizes"), "1 MB of 2 MB");
    window->finishProcess("The download has been successfully completed.");
    EXPECT_EQ(text("notificationToastText"), "The download has been successfully completed.");
    EXPECT_EQ(text("sendToastPercent"), "0%");
    EXPECT_EQ(text("sendToastFiles"), "File 0 of 0");
    EXPECT_EQ(text("sendToastSizes"), "0 Bytes of 0 Bytes");
    EXPECT_EQ(at("sendToastRing")->property("value").toDouble(), 0.0);
}

}  // namespace

namespace {

TEST(MainShellSpanish, TextsComeFromTheTranslation) {
    QTemporaryDir folder;
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, folder.path());
    QTranslator spanish;
    ASSERT_TRUE(spanish.load(QStringLiteral(":/Translations/es")));
    QCoreApplication::installTranslator(&spanish);
    {
        MainWindow window;
        QQuickWidget* view = window.findChild<QQuickWidget*>(QStringLiteral("mainWidget"));
        ASSERT_NE(view, nullptr);
        EXPECT_EQ(read(view, "receivedRecordsRect", "label").toString(), "Recibidos");
        EXPECT_EQ(read(view, "settingsButton", "pText").toString(), "Ajustes");
        EXPECT_EQ(read(view, "sendToastFiles", "text").toString(), "Fichero 0 de 0");
        window.emitError(16);
        EXPECT_EQ(read(view, "notificationToastText", "text").toString(),
                  QString::fromUtf8("No tienes permiso para realizar cambios en esta cuenta (sólo lectura)"));
    }
    QCoreApplication::removeTranslator(&spanish);
}

}  // namespace
