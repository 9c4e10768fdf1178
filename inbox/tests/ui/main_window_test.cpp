#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QCoreApplication>
#include <QDirIterator>
#include <QFile>
#include <QFontDatabase>
#include <QQuickItem>
#include <QQuickWidget>
#include <QRegularExpression>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTranslator>
#include <QtEndian>
#include <QtTest/QTest>
#include <memory>

#include "quick_view.h"
#include "ui/main_window.h"

using namespace quick_view;

namespace {

const char* const kEnglishTitle = "Tembra | The Business Mail";
const char* const kSpanishTitle = "Tembra | Correo seguro para profesionales y empresas";

// The window's keys live in the INI file of the organisation and application, here kept in
// a temporary folder.
class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(folder.isValid());
        QCoreApplication::setOrganizationName(QStringLiteral("TembraUiTest"));
        QCoreApplication::setApplicationName(QStringLiteral("Tembra"));
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, folder.path());
        QSettings::setDefaultFormat(QSettings::IniFormat);
    }

    void TearDown() override { QSettings::setDefaultFormat(QSettings::NativeFormat); }

    // Written with a settings object of its own, as a previous run of the program left it.
    void store(const char* key, const QVariant& value) {
        QSettings settings(QSettings::IniFormat, QSettings::UserScope, QCoreApplication::organizationName(),
                           QCoreApplication::applicationName());
        settings.setValue(QStringLiteral("WINDOW/") + QLatin1String(key), value);
    }

    QVariant stored(const char* key) {
        QSettings settings(QSettings::IniFormat, QSettings::UserScope, QCoreApplication::organizationName(),
                           QCoreApplication::applicationName());
        return settings.value(QStringLiteral("WINDOW/") + QLatin1String(key));
    }

    static QQuickWidget* viewOf(MainWindow& window) {
        return window.findChild<QQuickWidget*>(QStringLiteral("mainWidget"));
    }

    QTemporaryDir folder;
};

struct GeometryCase {
    const char* name;
    QVariant size;      // invalid: not stored
    QVariant position;  // invalid: not stored
    QSize expectedSize;
    QPoint expectedPosition;
};

void PrintTo(const GeometryCase& c, std::ostream* os) {
    *os << c.name;
}

class MainWindowGeometry : public MainWindowTest, public ::testing::WithParamInterface<GeometryCase> {};

TEST_P(MainWindowGeometry, ConstructionTakesTheStoredGeometry) {
    const GeometryCase& c = GetParam();
    if (c.size.isValid()) store("SIZE", c.size);
    if (c.position.isValid()) store("POSITION", c.position);
    MainWindow window;
    EXPECT_EQ(window.size(), c.expectedSize);
    EXPECT_EQ(window.pos(), c.expectedPosition);
    EXPECT_EQ(window.minimumSize(), QSize(950, 600));
}

INSTANTIATE_TEST_SUITE_P(
    Stored, MainWindowGeometry,
    ::testing::Values(GeometryCase{"FirstStart", QVariant(), QVariant(), QSize(950, 600), QPoint(0, 0)},
                      GeometryCase{"Stored", QSize(1100, 720), QPoint(40, 30), QSize(1100, 720), QPoint(40, 30)},
                      GeometryCase{"SmallerThanMinimum", QSize(400, 300), QPoint(5, 6), QSize(950, 600), QPoint(5, 6)},
                      GeometryCase{"Unreadable", QStringLiteral("wide"), QStringLiteral("left"), QSize(950, 600),
                                   QPoint(0, 0)}),
    [](const ::testing::TestParamInfo<GeometryCase>& info) { return std::string(info.param.name); });

TEST_F(MainWindowTest, ClosingStoresTheGeometryForTheNextWindow) {
    {
        MainWindow window;
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        window.resize(1000, 650);
        window.move(70, 80);
        const QPoint position = window.pos();
        ASSERT_TRUE(window.close());
        EXPECT_EQ(stored("SIZE").toSize(), QSize(1000, 650));
        EXPECT_EQ(stored("POSITION").toPoint(), position);
    }
    MainWindow next;
    EXPECT_EQ(next.size(), QSize(1000, 650));
}

// A translator that knows only the window's title, as the Spanish translation does.
class SpanishTitle : public QTranslator {
public:
    bool isEmpty() const override { return false; }
    QString translate(const char* context, const char* source, const char* disambiguation = nullptr,
                      int n = -1) const override {
        if (QLatin1String(context) == QLatin1String("MainWindow") &&
            QLatin1String(source) == QLatin1String(kEnglishTitle))
            return QString::fromUtf8(kSpanishTitle);
        return QString();
    }
};

TEST_F(MainWindowTest, LanguageChangeRetitlesAndTellsTheScreens) {
    MainWindow window;
    QSignalSpy toSpanish(&window, &MainWindow::translateToES);
    QSignalSpy toEnglish(&window, &MainWindow::translateToEN);
    EXPECT_EQ(window.windowTitle(), QString::fromUtf8(kEnglishTitle));

    SpanishTitle spanish;
    QCoreApplication::installTranslator(&spanish);
    ASSERT_TRUE(waitUntil([&] { return window.windowTitle() == QString::fromUtf8(kSpanishTitle); }));
    EXPECT_EQ(toSpanish.count(), 1);
    EXPECT_EQ(toEnglish.count(), 0);

    QCoreApplication::removeTranslator(&spanish);
    ASSERT_TRUE(waitUntil([&] { return window.windowTitle() == QString::fromUtf8(kEnglishTitle); }));
    EXPECT_EQ(toSpanish.count(), 1);
    EXPECT_EQ(toEnglish.count(), 1);
}

TEST_F(MainWindowTest, LanguageWriteNotifiesEvenWhenUnchanged) {
    MainWindow window;
    QSignalSpy notified(&window, &MainWindow::setDefaultLanguage);
    EXPECT_EQ(window.getApplicationLanguage(), 0);
    window.setApplicationLanguage(0);
    window.setApplicationLanguage(1);
    window.setApplicationLanguage(1);
    EXPECT_EQ(notified.count(), 3);
    EXPECT_EQ(window.property("applicationLanguage").toInt(), 1);
}

TEST_F(MainWindowTest, CopiedLinkReplacesTheClipboard) {
    MainWindow window;
    for (const QString& link : {QStringLiteral("otpauth://totp/Corvane:ada?secret=ABC"), QString()}) {
        QApplication::clipboard()->setText(QStringLiteral("before"), QClipboard::Clipboard);
        QMetaObject::invokeMethod(&window, "onCopy2FALinkClicked", Q_ARG(QString, link));
        EXPECT_EQ(QApplication::clipboard()->text(QClipboard::Clipboard), link);
    }
}

TEST_F(MainWindowTest, ForwardersEmitTheirSignalsWithTheirArguments) {
    MainWindow window;
    QSignalSpy error(&window, &MainWindow::error);
    QSignalSpy systemError(&window, &MainWindow::systemError);
    QSignalSpy transfer(&window, &MainWindow::updateRecordTransferData);
    window.emitError(-1);
    window.emitSystemError(18);
    window.emitUpdateRecordTransferData("50", "1", "2", "1 MB", "2 MB");
    ASSERT_EQ(error.count(), 1);
    EXPECT_EQ(error.at(0).at(0).toInt(), -1);
    ASSERT_EQ(systemError.count(), 1);
    EXPECT_EQ(systemError.at(0).at(0).toInt(), 18);
    ASSERT_EQ(transfer.count(), 1);
    EXPECT_EQ(transfer.at(0).at(4).toString(), QStringLiteral("2 MB"));
}

// The empty main window and the two information pages render with their texts.
struct PageCase {
    const char* name;
    const char* pageKey;     // nullptr: the start page
    const char* textObject;  // nullptr: an image, no text
    QString mustContain;
};

void PrintTo(const PageCase& c, std::ostream* os) {
    *os << c.name;
}

class MainWindowRender : public MainWindowTest, public ::testing::WithParamInterface<PageCase> {};

TEST_P(MainWindowRender, PageRenders) {
    const PageCase& c = GetParam();
    MainWindow window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QQuickWidget* view = viewOf(window);
    ASSERT_NE(view, nullptr);
    ASSERT_EQ(view->status(), QQuickWidget::Ready);
    QObject* stack = find(view, QStringLiteral("stack"));
    ASSERT_NE(stack, nullptr);
    if (c.pageKey) {
        QMetaObject::invokeMethod(view->rootObject(), "loadPage", Q_ARG(QVariant, QString::fromLatin1(c.pageKey)));
        ASSERT_TRUE(waitUntil([&] { return !stack->property("busy").toBool(); }));
        EXPECT_EQ(stack->property("depth").toInt(), 2);
    }
    if (c.textObject) {
        const QString shown = read(view, QString::fromLatin1(c.textObject), "text").toString();
        EXPECT_TRUE(shown.contains(c.mustContain)) << shown.left(200).toStdString();
    } else {
        auto* current = stack->property("currentItem").value<QQuickItem*>();
        ASSERT_NE(current, nullptr);
        EXPECT_EQ(current->objectName(), c.mustContain);
    }
    EXPECT_EQ(window.windowTitle(), QString::fromUtf8(kEnglishTitle));

    const QImage frame = view->grabFramebuffer();
    saveArtifact(frame, QStringLiteral("main-") + QString::fromLatin1(c.name));
    EXPECT_EQ(frame.size(), view->size());
    EXPECT_GT(distinctColours(frame), 8);
}

INSTANTIATE_TEST_SUITE_P(Pages, MainWindowRender,
                         ::testing::Values(PageCase{"Empty", nullptr, nullptr, "emptyPage"},
                                           PageCase{"VersionLog", "VersionLogPage", "versionText", "version 1.0.0.0:"},
                                           PageCase{"ThirdParty", "ThirdPartyPage", "noticesText",
                                                    "Third-party libraries"}),
                         [](const ::testing::TestParamInfo<PageCase>& info) { return std::string(info.param.name); });

TEST_F(MainWindowTest, UnknownPageKeyPushesNothing) {
    MainWindow window;
    QQuickWidget* view = viewOf(window);
    QObject* stack = find(view, QStringLiteral("stack"));
    QMetaObject::invokeMethod(view->rootObject(), "loadPage", Q_ARG(QVariant, QStringLiteral("NoSuchPage")));
    EXPECT_EQ(stack->property("depth").toInt(), 1);
}

// Every resource a screen names by path is in the compiled tree; a misspelt path would only
// show as a missing picture.
TEST(Resources, EveryPathTheScreensNameExists) {
    const QRegularExpression reference(
        QStringLiteral("\"(?:qrc:)?/?((?:images/Images|vectors/Vectors|fonts/Fonts|icons/Icons|mimetypes/"
                       "Mimetypes|sounds/Sounds)/[^\"]+)\""));
    int screens = 0;
    int references = 0;
    QDirIterator files(QStringLiteral(":/"), {QStringLiteral("*.qml")}, QDir::Files);
    while (files.hasNext()) {
        QFile file(files.next());
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << file.fileName().toStdString();
        ++screens;
        const QString source = QString::fromUtf8(file.readAll());
        for (auto match = reference.globalMatch(source); match.hasNext();) {
            const QString path = QStringLiteral(":/") + match.next().captured(1);
            ++references;
            EXPECT_TRUE(QFile::exists(path)) << file.fileName().toStdString() << " names " << path.toStdString();
        }
    }
    EXPECT_GE(screens, 7);
    EXPECT_GT(references, 10);
    for (const char* path : {":/icons/Icons/icon.png", ":/icons/Icons/icon.svg", ":/icons/Icons/icon3D.png",
                             ":/images/Images/corvaneLogoRecovery.png", ":/images/Images/favicon-32x32.png"}) {
        EXPECT_TRUE(QFile::exists(QLatin1String(path))) << path;
    }
}

TEST(Resources, FontsAndIconsLoad) {
    for (const char* path : {":/fonts/Fonts/Poppins/Poppins-Regular.ttf", ":/fonts/Fonts/Poppins/Poppins-SemiBold.ttf",
                             ":/fonts/Fonts/Brandon/brandon-bold.otf"}) {
        QFile font{QString::fromLatin1(path)};
        ASSERT_TRUE(font.open(QIODevice::ReadOnly)) << path;
        EXPECT_NE(QFontDatabase::addApplicationFontFromData(font.readAll()), -1) << path;
    }
    EXPECT_EQ(QImage(QStringLiteral(":/icons/Icons/icon.png")).size(), QSize(256, 256));
    EXPECT_EQ(QImage(QStringLiteral(":/icons/Icons/icon3D.png")).size(), QSize(1024, 1024));
    EXPECT_EQ(QImage(QStringLiteral(":/images/Images/corvaneLogoRecovery.png")).size(), QSize(1200, 630));
    EXPECT_EQ(QImage(QStringLiteral(":/images/Images/favicon-32x32.png")).size(), QSize(32, 32));
}

// The new-record sound: PCM, 16-bit, stereo, 44100 Hz, about 0.29 s, read from its header.
TEST(Resources, NotificationSoundIsShortStereoPcm) {
    QFile file(QStringLiteral(":/sounds/Sounds/cvnNotification.wav"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray wav = file.readAll();
    ASSERT_GE(wav.size(), 44);
    const auto* bytes = reinterpret_cast<const uchar*>(wav.constData());
    EXPECT_EQ(wav.left(4), QByteArray("RIFF"));
    EXPECT_EQ(wav.mid(8, 4), QByteArray("WAVE"));
    EXPECT_EQ(wav.mid(12, 4), QByteArray("fmt "));
    EXPECT_EQ(qFromLittleEndian<quint16>(bytes + 20), 1);  // PCM
    const int channels = qFromLittleEndian<quint16>(bytes + 22);
    const int rate = static_cast<int>(qFromLittleEndian<quint32>(bytes + 24));
    const int bits = qFromLittleEndian<quint16>(bytes + 34);
    EXPECT_EQ(channels, 2);
    EXPECT_EQ(rate, 44100);
    EXPECT_EQ(bits, 16);
    EXPECT_EQ(wav.mid(36, 4), QByteArray("data"));
    const quint32 dataSize = qFromLittleEndian<quint32>(bytes + 40);
    EXPECT_EQ(dataSize, static_cast<quint32>(wav.size() - 44));
    const double seconds = double(dataSize) / (channels * (bits / 8) * rate);
    EXPECT_NEAR(seconds, 0.29, 0.02);
}

// Without a sound device nothing plays and nothing fails.
TEST_F(MainWindowTest, NotificationSoundFailsSilentlyWithoutADevice) {
    MainWindow window;
    window.playNotificationSound();
    window.playNotificationSound();
    QCoreApplication::processEvents();
    SUCCEED();
}

}  // namespace

namespace {

// The compiled Spanish translation holds the texts of each context the windows use.
TEST(Translation, SpanishMessagesByContext) {
    QTranslator spanish;
    ASSERT_TRUE(spanish.load(QStringLiteral(":/Translations/es")));
    struct Case {
        const char* context;
        const char* english;
        const char* spanish;
    };
    const std::vector<Case> cases = {
        {"MainWindow", "Tembra | The Business Mail", "Tembra | Correo seguro para profesionales y empresas"},
        {"LoginWindow", "Login to Corvane", "Acceso a Corvane"},
        {"CorvanePopup", "Continue", "Continuar"},
        {"CorvanePopup", "Cancel", "Cancelar"},
        {"LoginWidget", "Loading...", "Cargando..."},
        {"LoginWidget", "Work faster.", "Rápido."},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(spanish.translate(c.context, c.english), QString::fromUtf8(c.spanish))
            << c.context << ": " << c.english;
    }
    // A text of one context is not taken for another's.
    EXPECT_TRUE(spanish.translate("MainWindow", "Continue").isEmpty());
}

TEST_F(MainWindowTest, InformationPagesInSpanish) {
    QTranslator spanish;
    ASSERT_TRUE(spanish.load(QStringLiteral(":/Translations/es")));
    QCoreApplication::installTranslator(&spanish);
    {
        MainWindow window;
        QQuickWidget* view = viewOf(window);
        EXPECT_EQ(window.windowTitle(), QStringLiteral("Tembra | Correo seguro para profesionales y empresas"));
        QMetaObject::invokeMethod(view->rootObject(), "loadPage", Q_ARG(QVariant, QStringLiteral("VersionLogPage")));
        const QString log = read(view, QStringLiteral("versionText"), "text").toString();
        EXPECT_TRUE(log.contains(QStringLiteral("Novedades de la versión 1.0.0.0:"))) << log.toStdString();
        EXPECT_TRUE(log.contains(QStringLiteral("- Sección de perfil de usuario.<br>")));
        QMetaObject::invokeMethod(view->rootObject(), "loadPage", Q_ARG(QVariant, QStringLiteral("ThirdPartyPage")));
        const QString notices = read(view, QStringLiteral("noticesText"), "text").toString();
        EXPECT_TRUE(notices.contains(QStringLiteral("Licencias de Terceros"))) << notices.left(100).toStdString();
        EXPECT_TRUE(notices.contains(QStringLiteral("Licencia: zlib license")));
    }
    QCoreApplication::removeTranslator(&spanish);
}

}  // namespace
