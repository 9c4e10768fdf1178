#include <gtest/gtest.h>

#include <QDesktopServices>
#include <QQuickItem>
#include <QQuickWidget>
#include <QSignalSpy>
#include <QTranslator>
#include <QtTest/QTest>
#include <memory>

#include "quick_view.h"
#include "ui/login_window.h"
#include "util/deployment.h"

using namespace quick_view;

namespace {

const char* const kConnectionToast =
    "We seem to be unable to connect you to Corvane. Please check your Internet connection.";
const char* const kCodeToast = "The authentication code entered is not correct.";

class LoginWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        window = std::make_unique<LoginWindow>();
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        // Typed keys reach the focused field only in the active window (a display without a
        // window manager activates nothing by itself).
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
        view = window->findChild<QQuickWidget*>(QStringLiteral("loginWidget"));
        ASSERT_NE(view, nullptr);
        ASSERT_EQ(view->status(), QQuickWidget::Ready) << errorsOf(view);
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

    bool formEnabled() {
        return at("loginButton")->isEnabled() && at("emailField")->isEnabled() && at("passwordField")->isEnabled();
    }

    bool formDisabled() {
        return !at("loginButton")->isEnabled() && !at("emailField")->isEnabled() && !at("passwordField")->isEnabled();
    }

    bool isOpen(const char* popup) { return find(view, QString::fromLatin1(popup))->property("opened").toBool(); }

    bool isClosed(const char* popup) { return !find(view, QString::fromLatin1(popup))->property("visible").toBool(); }

    QString text(const char* name) { return read(view, QString::fromLatin1(name), "text").toString(); }

    // Starts an attempt from the form, as a click on the login button does.
    void startSignIn(const QString& email = QStringLiteral("ada@example.com"),
                     const QString& password = QStringLiteral("secret")) {
        at("emailField")->setProperty("text", email);
        at("passwordField")->setProperty("text", password);
        click(view, at("loginButton"));
        ASSERT_TRUE(waitUntil([&] { return formDisabled(); }));
    }

    void openDrawer() {
        startSignIn();
        window->emitError(9);
        ASSERT_TRUE(waitUntil([&] { return isOpen("twoFactorDrawer"); }));
    }

    void typeCode(const QString& digits) {
        focus(at("codeField"));
        QTest::keyClicks(view, digits);
    }

    std::unique_ptr<LoginWindow> window;
    QQuickWidget* view = nullptr;
};

TEST_F(LoginWindowTest, DialogIsFixedAt750By500AndTitled) {
    EXPECT_EQ(window->size(), QSize(750, 500));
    window->resize(900, 700);
    QCoreApplication::processEvents();
    EXPECT_EQ(window->size(), QSize(750, 500));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Login to Corvane"));
}

enum class Start { Button, Return, KeypadEnter };

struct SignInCase {
    const char* name;
    QString email;
    QString password;
    Start start;
};

void PrintTo(const SignInCase& c, std::ostream* os) {
    *os << c.name;
}

class LoginWindowSignIn : public LoginWindowTest, public ::testing::WithParamInterface<SignInCase> {};

// Whatever the user typed, empty or not, reaches the controller unchecked; both keys and the
// button start the attempt and put the form into its waiting state.
TEST_P(LoginWindowSignIn, HandsTypedValuesToTheControllerAndWaits) {
    const SignInCase& c = GetParam();
    QSignalSpy login(window.get(), &LoginWindow::login);
    focus(at("emailField"));
    QTest::keyClicks(view, c.email);
    focus(at("passwordField"));
    QTest::keyClicks(view, c.password);
    switch (c.start) {
        case Start::Button:
            click(view, at("loginButton"));
            break;
        case Start::Return:
            QTest::keyClick(view, Qt::Key_Return);
            break;
        case Start::KeypadEnter:
            QTest::keyClick(view, Qt::Key_Enter, Qt::KeypadModifier);
            break;
    }
    ASSERT_EQ(login.count(), 1);
    EXPECT_EQ(window->getUsername(), c.email);
    EXPECT_EQ(window->getPassword(), c.password);
    EXPECT_TRUE(formDisabled());
    EXPECT_TRUE(waitUntil([&] { return text("loginButtonText") == QStringLiteral("Loading..."); }));
    EXPECT_TRUE(waitUntil([&] { return text("informativeText") == QStringLiteral("Validating user..."); }));
    EXPECT_TRUE(waitUntil([&] { return at("loadingImage")->opacity() == 1.0; }));
}

INSTANTIATE_TEST_SUITE_P(Starts, LoginWindowSignIn,
                         ::testing::Values(SignInCase{"Button", "ada@example.com", "correct horse", Start::Button},
                                           SignInCase{"Return", "ada@example.com", "p4ss", Start::Return},
                                           SignInCase{"KeypadEnter", "bob@example.org", "x", Start::KeypadEnter},
                                           SignInCase{"EmptyValues", "", "", Start::Button}),
                         [](const ::testing::TestParamInfo<SignInCase>& info) { return std::string(info.param.name); });

TEST_F(LoginWindowTest, ReturnInTheEmailFieldStartsNothing) {
    QSignalSpy login(window.get(), &LoginWindow::login);
    focus(at("emailField"));
    QTest::keyClicks(view, QStringLiteral("ada@example.com"));
    QTest::keyClick(view, Qt::Key_Return);
    QTest::keyClick(view, Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(login.count(), 0);
    EXPECT_TRUE(formEnabled());
}

// The status notifies even when unchanged, so a second failure shows the banner again.
TEST_F(LoginWindowTest, EveryFailedAttemptShowsTheBannerAndReturnsTheFormToIdle) {
    QSignalSpy changed(window.get(), &LoginWindow::loginStatusChanged);
    for (int attempt = 0; attempt < 2; ++attempt) {
        startSignIn();
        if (attempt > 0) {
            // The new attempt first fades the previous banner out.
            ASSERT_TRUE(waitUntil([&] { return at("errorBanner")->opacity() == 0.0; }));
        }
        window->setLoginStatus(0);
        ASSERT_TRUE(waitUntil([&] { return at("errorBanner")->opacity() == 1.0; })) << "attempt " << attempt;
        EXPECT_TRUE(formEnabled());
        EXPECT_TRUE(waitUntil([&] { return text("loginButtonText") == QStringLiteral("Login"); }));
        EXPECT_TRUE(waitUntil([&] { return at("emailField")->opacity() == 1.0; }));
        EXPECT_EQ(at("informativeText")->opacity(), 0.0);
    }
    EXPECT_EQ(changed.count(), 2);
    EXPECT_EQ(text("errorBannerText"), QStringLiteral("Wrong credentials"));
}

TEST_F(LoginWindowTest, SuccessLeavesTheFormWaitingForTheControllerToClose) {
    startSignIn();
    window->setLoginStatus(1);
    QCoreApplication::processEvents();
    EXPECT_TRUE(formDisabled());
    EXPECT_EQ(at("errorBanner")->opacity(), 0.0);
}

struct ErrorCase {
    const char* name;
    int code;
    QString toast;  // empty: no toast
    bool idle;      // the form is enabled again
    bool drawerOpen;
    bool blockedOpen;
};

void PrintTo(const ErrorCase& c, std::ostream* os) {
    *os << c.name;
}

class LoginWindowErrors : public LoginWindowTest, public ::testing::WithParamInterface<ErrorCase> {};

TEST_P(LoginWindowErrors, EachCodeHasItsOwnReaction) {
    const ErrorCase& c = GetParam();
    startSignIn();
    window->emitError(c.code);
    if (c.idle) {
        ASSERT_TRUE(waitUntil([&] { return formEnabled(); }));
    }
    if (c.drawerOpen) {
        ASSERT_TRUE(waitUntil([&] { return isOpen("twoFactorDrawer"); }));
        EXPECT_TRUE(at("codeField")->hasActiveFocus());
    }
    if (c.blockedOpen) {
        ASSERT_TRUE(waitUntil([&] { return isOpen("blockedPopup"); }));
    }
    if (!c.toast.isEmpty()) {
        EXPECT_EQ(text("toastText"), c.toast);
        QQuickItem* toast = at("toast");
        EXPECT_TRUE(waitUntil([&] { return toast->y() == 500 - 40; }));
    } else {
        EXPECT_TRUE(text("toastText").isEmpty());
    }
    EXPECT_EQ(formEnabled(), c.idle);
    EXPECT_EQ(isClosed("twoFactorDrawer"), !c.drawerOpen);
    EXPECT_EQ(isClosed("blockedPopup"), !c.blockedOpen);
}

INSTANTIATE_TEST_SUITE_P(Codes, LoginWindowErrors,
                         ::testing::Values(ErrorCase{"ConnectionLost", 5, kConnectionToast, true, false, false},
                                           ErrorCase{"UnreadableCode", 8, kCodeToast, true, false, false},
                                           ErrorCase{"CodeNeeded", 9, QString(), false, true, false},
                                           ErrorCase{"AccountBlocked", 12, QString(), true, false, true},
                                           ErrorCase{"ConnectionBackIgnored", 6, QString(), false, false, false},
                                           ErrorCase{"UnknownCodeIgnored", 2, QString(), false, false, false}),
                         [](const ::testing::TestParamInfo<ErrorCase>& info) { return std::string(info.param.name); });

TEST_F(LoginWindowTest, ToastArrivingDuringAnotherReplacesItsText) {
    startSignIn();
    window->emitError(5);
    ASSERT_TRUE(waitUntil([&] { return at("toast")->y() == 460; }));
    startSignIn();
    window->emitError(8);
    EXPECT_EQ(text("toastText"), QString::fromLatin1(kCodeToast));
    EXPECT_EQ(at("toast")->y(), 460);
}

TEST_F(LoginWindowTest, SecondBlockedErrorKeepsOnePopupAndStillResetsTheForm) {
    startSignIn();
    window->emitError(12);
    ASSERT_TRUE(waitUntil([&] { return isOpen("blockedPopup"); }));
    QSignalSpy closed(find(view, QStringLiteral("blockedPopup")), SIGNAL(closed()));
    QSignalSpy opened(find(view, QStringLiteral("blockedPopup")), SIGNAL(opened()));
    at("loginButton")->setEnabled(false);
    window->emitError(12);
    EXPECT_TRUE(formEnabled());
    EXPECT_TRUE(isOpen("blockedPopup"));
    EXPECT_EQ(closed.count(), 0);
    EXPECT_EQ(opened.count(), 0);
}

struct BlockedChoice {
    const char* name;
    const char* button;
    bool activate;
};

void PrintTo(const BlockedChoice& c, std::ostream* os) {
    *os << c.name;
}

class LoginWindowBlocked : public LoginWindowTest, public ::testing::WithParamInterface<BlockedChoice> {};

TEST_P(LoginWindowBlocked, EitherButtonClosesThePopupAndTellsTheController) {
    const BlockedChoice& c = GetParam();
    QSignalSpy activate(window.get(), &LoginWindow::activateLogin);
    startSignIn();
    window->emitError(12);
    ASSERT_TRUE(waitUntil([&] { return isOpen("blockedPopup"); }));
    EXPECT_EQ(read(view, QStringLiteral("blockedPopup"), "pTitle").toString(), QStringLiteral("Account Blocked"));
    QQuickItem* button = item(view, QString::fromLatin1(c.button));
    ASSERT_NE(button, nullptr);
    click(view, button);
    ASSERT_EQ(activate.count(), 1);
    EXPECT_EQ(activate.at(0).at(0).toBool(), c.activate);
    EXPECT_TRUE(waitUntil([&] { return isClosed("blockedPopup"); }));
    EXPECT_TRUE(formEnabled());
}

INSTANTIATE_TEST_SUITE_P(Buttons, LoginWindowBlocked,
                         ::testing::Values(BlockedChoice{"Activate", "acceptButton", true},
                                           BlockedChoice{"Cancel", "cancelButton", false}),
                         [](const ::testing::TestParamInfo<BlockedChoice>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(LoginWindowTest, CodeButtonWantsExactlySixDigits) {
    openDrawer();
    QQuickItem* button = at("codeButton");
    EXPECT_FALSE(button->isEnabled());
    typeCode(QStringLiteral("12345"));
    EXPECT_FALSE(button->isEnabled());
    EXPECT_DOUBLE_EQ(button->opacity(), 0.3);
    typeCode(QStringLiteral("6"));
    EXPECT_TRUE(button->isEnabled());
    EXPECT_DOUBLE_EQ(button->opacity(), 1.0);
    // A seventh digit is refused by the field.
    typeCode(QStringLiteral("7"));
    EXPECT_EQ(text("codeField"), QStringLiteral("123456"));
    QTest::keyClick(view, Qt::Key_Backspace);
    EXPECT_FALSE(button->isEnabled());
    // Letters are refused too.
    typeCode(QStringLiteral("a"));
    EXPECT_EQ(text("codeField"), QStringLiteral("12345"));
}

TEST_F(LoginWindowTest, SendingTheCodeClosesTheDrawerAndKeepsWaiting) {
    QSignalSpy code(window.get(), &LoginWindow::login2FA);
    openDrawer();
    typeCode(QStringLiteral("042042"));
    click(view, at("codeButton"));
    ASSERT_EQ(code.count(), 1);
    EXPECT_EQ(code.at(0).at(0).toString(), QStringLiteral("042042"));
    ASSERT_TRUE(waitUntil([&] { return isClosed("twoFactorDrawer"); }));
    EXPECT_TRUE(formDisabled());
    EXPECT_EQ(text("loginButtonText"), QStringLiteral("Loading..."));
}

enum class CloseBy { Escape, CloseIcon, PressOutside };

struct DrawerClose {
    const char* name;
    CloseBy how;
};

void PrintTo(const DrawerClose& c, std::ostream* os) {
    *os << c.name;
}

class LoginWindowDrawerClose : public LoginWindowTest, public ::testing::WithParamInterface<DrawerClose> {};

// Closing the drawer without a code used to leave the form disabled for ever.
TEST_P(LoginWindowDrawerClose, ClosingWithoutACodeReturnsTheFormToIdle) {
    QSignalSpy code(window.get(), &LoginWindow::login2FA);
    QSignalSpy login(window.get(), &LoginWindow::login);
    openDrawer();
    switch (GetParam().how) {
        case CloseBy::Escape:
            QTest::keyClick(view, Qt::Key_Escape);
            break;
        case CloseBy::CloseIcon:
            click(view, at("drawerCloseIcon"));
            break;
        case CloseBy::PressOutside:
            QTest::mouseClick(view, Qt::LeftButton, Qt::NoModifier, QPoint(100, 250));
            break;
    }
    ASSERT_TRUE(waitUntil([&] { return isClosed("twoFactorDrawer"); }));
    EXPECT_TRUE(formEnabled());
    EXPECT_TRUE(waitUntil([&] { return text("loginButtonText") == QStringLiteral("Login"); }));
    EXPECT_TRUE(waitUntil([&] { return at("loadingImage")->opacity() == 0.0; }));
    EXPECT_EQ(code.count(), 0);
    // The form works again: a new attempt starts.
    startSignIn();
    EXPECT_EQ(login.count(), 2);
}

INSTANTIATE_TEST_SUITE_P(Ways, LoginWindowDrawerClose,
                         ::testing::Values(DrawerClose{"Escape", CloseBy::Escape},
                                           DrawerClose{"CloseIcon", CloseBy::CloseIcon},
                                           DrawerClose{"PressOutside", CloseBy::PressOutside}),
                         [](const ::testing::TestParamInfo<DrawerClose>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(LoginWindowTest, TabMovesTheBlueBorderBetweenTheFields) {
    QQuickItem* email = at("emailField");
    QQuickItem* password = at("passwordField");
    auto border = [](QQuickItem* field) {
        auto* background = field->property("background").value<QQuickItem*>();
        return background->property("border").value<QObject*>()->property("color").value<QColor>();
    };
    const QColor blue(0x00, 0x40, 0xff);
    const QColor grey(0xe8, 0xe8, 0xe8);
    click(view, email);
    ASSERT_TRUE(email->hasActiveFocus());
    EXPECT_EQ(border(email), blue);
    EXPECT_EQ(border(password), grey);
    QTest::keyClick(view, Qt::Key_Tab);
    ASSERT_TRUE(password->hasActiveFocus());
    EXPECT_EQ(border(email), grey);
    EXPECT_EQ(border(password), blue);
    QTest::keyClick(view, Qt::Key_Tab);
    EXPECT_TRUE(email->hasActiveFocus());
    EXPECT_EQ(border(email), blue);
}

// Records what the screen asks the desktop to open instead of starting a browser.
class UrlRecorder : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened.append(url); }
};

TEST(LoginWindowRegister, LinkOpensTheRegistrationPageOfTheWebSite) {
    const corvane::Deployment saved = corvane::getDeployment();
    corvane::Deployment deployment = saved;
    deployment.webAddress = "https://web.example.test";
    corvane::setDeployment(deployment);
    UrlRecorder recorder;
    QDesktopServices::setUrlHandler(QStringLiteral("https"), &recorder, "open");
    {
        LoginWindow window;
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        QQuickWidget* view = window.findChild<QQuickWidget*>(QStringLiteral("loginWidget"));
        QQuickItem* link = item(view, QStringLiteral("registerLink"));
        ASSERT_NE(link, nullptr);
        click(view, link);
    }
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
    corvane::setDeployment(saved);
    ASSERT_EQ(recorder.opened.size(), 1);
    EXPECT_EQ(recorder.opened.at(0), QUrl(QStringLiteral("https://web.example.test/register-tembra")));
}

TEST_F(LoginWindowTest, SlidesCycleThroughThreeAndBackToTheFirst) {
    QObject* timer = find(view, QStringLiteral("slideTimer"));
    ASSERT_NE(timer, nullptr);
    EXPECT_EQ(timer->property("interval").toInt(), 6000);
    EXPECT_TRUE(timer->property("running").toBool());
    EXPECT_TRUE(timer->property("repeat").toBool());
    QObject* slides = find(view, QStringLiteral("slideView"));
    std::vector<int> seen{slides->property("currentIndex").toInt()};
    startSignIn();  // the form does not stop the slides
    for (int i = 0; i < 3; ++i) {
        QMetaObject::invokeMethod(timer, "triggered");
        seen.push_back(slides->property("currentIndex").toInt());
    }
    EXPECT_EQ(seen, (std::vector<int>{0, 1, 2, 0}));
    EXPECT_EQ(read(view, QStringLiteral("slide1"), "heading").toString(), QStringLiteral("Privacy."));
    EXPECT_EQ(read(view, QStringLiteral("slide2"), "heading").toString(), QStringLiteral("Encryption."));
    EXPECT_EQ(read(view, QStringLiteral("slide3"), "heading").toString(), QStringLiteral("Work faster."));
}

// Each state of the screen renders: the frame is not blank, the colours of what is in front
// are where they belong, and the texts are the expected ones.
struct Settled {
    const char* object;
    const char* property;
    double value;
};

struct RenderCase {
    const char* name;
    std::function<void(LoginWindow*)> drive;
    std::vector<Settled> settled;                        // the state's animations have ended
    std::vector<std::pair<const char*, QString>> texts;  // objectName, text
    std::vector<std::pair<QPoint, QColor>> probes;
};

void PrintTo(const RenderCase& c, std::ostream* os) {
    *os << c.name;
}

class LoginWindowRender : public LoginWindowTest, public ::testing::WithParamInterface<RenderCase> {};

TEST_P(LoginWindowRender, FrameShowsTheState) {
    const RenderCase& c = GetParam();
    if (c.drive) {
        startSignIn();
        c.drive(window.get());
    }
    for (const Settled& s : c.settled) {
        QObject* object = find(view, QString::fromLatin1(s.object));
        ASSERT_NE(object, nullptr) << s.object;
        ASSERT_TRUE(waitUntil([&] { return object->property(s.property).toDouble() == s.value; }))
            << s.object << "." << s.property;
    }
    for (const auto& [name, expected] : c.texts) {
        EXPECT_EQ(text(name), expected) << name;
    }
    const QImage frame = view->grabFramebuffer();
    saveArtifact(frame, QStringLiteral("login-") + QString::fromLatin1(c.name));
    ASSERT_EQ(frame.size(), QSize(750, 500));
    EXPECT_GT(distinctColours(frame), 16);
    for (const auto& [point, colour] : c.probes) {
        const QColor actual = frame.pixelColor(point);
        EXPECT_TRUE(near(actual, colour)) << "at " << point.x() << "," << point.y() << " got "
                                          << actual.name().toStdString() << " want " << colour.name().toStdString();
    }
}

const QColor kWhite(255, 255, 255);
const QColor kBlue(0x00, 0x40, 0xff);
const QColor kRed(0xea, 0x48, 0x48);

INSTANTIATE_TEST_SUITE_P(
    States, LoginWindowRender,
    ::testing::Values(
        RenderCase{
            "Form",
            nullptr,
            {},
            {{"titleText", "Tembra Login"}, {"loginButtonText", "Login"}, {"registerLink", "Register in Corvane"}},
            // The white form pane and the blue slide pane.
            {{QPoint(20, 480), kWhite}, {QPoint(740, 10), kBlue}}},
        RenderCase{"Failed",
                   [](LoginWindow* w) { w->setLoginStatus(0); },
                   {{"errorBanner", "opacity", 1}, {"loginButtonText", "opacity", 1}, {"emailField", "opacity", 1}},
                   {{"errorBannerText", "Wrong credentials"}, {"loginButtonText", "Login"}},
                   {{QPoint(20, 480), kWhite}, {QPoint(740, 10), kBlue}}},
        RenderCase{"ConnectionToast",
                   [](LoginWindow* w) { w->emitError(5); },
                   {{"toast", "y", 460}},
                   {{"toastText", kConnectionToast}},
                   // The red bar along the bottom edge, over both panes.
                   {{QPoint(5, 495), kRed}, {QPoint(745, 462), kRed}}},
        RenderCase{"TwoFactorDrawer",
                   [](LoginWindow* w) { w->emitError(9); },
                   {{"twoFactorDrawer", "position", 1}},
                   {{"drawerTitle", "Two-Factor Authentication"}, {"loginButtonText", "Loading..."}},
                   // The white drawer covers the slides from the right edge.
                   {{QPoint(745, 250), kWhite}, {QPoint(380, 490), kWhite}}},
        RenderCase{"BlockedPopup",
                   [](LoginWindow* w) { w->emitError(12); },
                   {{"blockedPopup", "opened", 1}},
                   {{"loginButtonText", "Login"}},
                   // The white popup in the centre.
                   {{QPoint(595, 180), kWhite}}}),
    [](const ::testing::TestParamInfo<RenderCase>& info) { return std::string(info.param.name); });

}  // namespace

namespace {

// With the Spanish translation installed before the window is made, as the controller does
// at start, the dialog and its screen come up in Spanish.
TEST(LoginWindowSpanish, TitleAndScreenTextsComeFromTheTranslation) {
    QTranslator spanish;
    ASSERT_TRUE(spanish.load(QStringLiteral(":/Translations/es")));
    QCoreApplication::installTranslator(&spanish);
    {
        LoginWindow window;
        QQuickWidget* view = window.findChild<QQuickWidget*>(QStringLiteral("loginWidget"));
        ASSERT_NE(view, nullptr);
        EXPECT_EQ(window.windowTitle(), QStringLiteral("Acceso a Corvane"));
        const std::vector<std::pair<const char*, const char*>> texts = {
            {"titleText", "Acceso Tembra"},
            {"loginButtonText", "Iniciar Sesión"},
            {"errorBannerText", "Credenciales incorrectas"},
            {"registerLink", "Regístrate en Corvane"},
            {"drawerTitle", "Autenticación de Doble Factor"},
        };
        for (const auto& [name, expected] : texts) {
            EXPECT_EQ(read(view, QString::fromLatin1(name), "text").toString(), QString::fromUtf8(expected)) << name;
        }
        EXPECT_EQ(read(view, QStringLiteral("emailField"), "placeholderText").toString(),
                  QStringLiteral("Correo electrónico"));
        EXPECT_EQ(read(view, QStringLiteral("slide2"), "heading").toString(), QStringLiteral("Seguro."));
        EXPECT_EQ(read(view, QStringLiteral("blockedPopup"), "pTitle").toString(), QStringLiteral("Cuenta Bloqueada"));
    }
    QCoreApplication::removeTranslator(&spanish);
}

}  // namespace

#include "login_window_test.moc"
