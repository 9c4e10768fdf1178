#include <gtest/gtest.h>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QInputMethod>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QUrl>

#include <spdlog/spdlog.h>

#include "app_logging.h"
#include "corvane/action_types.h"
#include "corvane/mutable_action_data.h"
#include "platform.h"
#include "tembra.h"
#include "ui/login_window.h"
#include "ui/main_window.h"
#include "util/deployment.h"
#include "util/log.h"

#include "controller_fixture.h"

namespace {

TEST_F(ControllerTest, FirstStartMakesTheDataFolderAndShowsTheLoginWindow) {
    ASSERT_FALSE(QDir(dataFolder_).exists());
    Tembra& tembra = start();
    EXPECT_EQ(tembra.dataFolder(), dataFolder_);
    EXPECT_TRUE(QDir(dataFolder_).exists());
    ASSERT_NE(tembra.loginWindow(), nullptr);
    EXPECT_TRUE(tembra.loginWindow()->isVisible());
    EXPECT_EQ(tembra.mainWindow(), nullptr);
    EXPECT_EQ(platform_->trayCalls, 1);
    EXPECT_EQ(tembra.language(), QGuiApplication::inputMethod()->locale().name().left(2));
    // Normal logging: a level-off logger on the data folder's ring file.
    EXPECT_TRUE(QFile::exists(dataFolder_ + "/corvane_backtraces.txt"));
    EXPECT_FALSE(corvane::log::enabled(corvane::log::Level::critical) &&
                 corvane::log::get()->should_log(spdlog::level::critical));
    EXPECT_EQ(corvane::log::get()->name(), "tembra");
    // The INI format is the default from here on (crash time, window geometry).
    EXPECT_EQ(QSettings::defaultFormat(), QSettings::IniFormat);
}

TEST_F(ControllerTest, LanguageChoicesLandInTheNativeSettingsFile) {
    Tembra& tembra = start();
    const struct {
        int index;
        const char* language;  // null: nothing changes, nothing is written
    } cases[] = {{1, "es"}, {2, nullptr}, {0, "en"}, {-1, nullptr}, {1, "es"}};
    QString expected = tembra.language();
    for (const auto& c : cases) {
        const QByteArray before = [&] {
            QFile file(nativeSettingsFile());
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        }();
        tembra.onChangeLanguage(c.index);
        if (c.language) {
            expected = c.language;
        }
        EXPECT_EQ(tembra.language(), expected) << c.index;
        QSettings native(nativeSettingsFile(), QSettings::IniFormat);
        if (c.language) {
            EXPECT_EQ(native.value("TEMBRA/LANGUAGE").toString(), expected) << c.index;
        } else {
            QFile file(nativeSettingsFile());
            EXPECT_EQ(file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray(), before) << c.index;
        }
    }
}

TEST_F(ControllerTest, StoredLanguageDecidesTheCatalogueBeforeAnyWindow) {
    const struct {
        const char* stored;
        const char* cancel;
    } cases[] = {{"es", "Cancelar"}, {"en", "Cancel"}};
    for (const auto& c : cases) {
        {
            QSettings native(nativeSettingsFile(), QSettings::IniFormat);
            native.setValue("TEMBRA/LANGUAGE", c.stored);
        }
        Tembra& tembra = start();
        EXPECT_EQ(tembra.language(), c.stored);
        EXPECT_EQ(QCoreApplication::translate("CorvanePopup", "Cancel"), c.cancel) << c.stored;
        delete tembra.loginWindow();
        controller_.reset();
        EXPECT_EQ(QCoreApplication::translate("CorvanePopup", "Cancel"), "Cancel") << "the catalogue goes with it";
    }
}

TEST_F(ControllerTest, SavedSessionShowsTheMainWindowAtOnce) {
    {
        QSettings native(nativeSettingsFile(), QSettings::IniFormat);
        native.setValue("TEMBRA/LOGIN_STATUS", 1);
        native.setValue("TEMBRA/LOGIN_SESSION", "saved-session");
    }
    Tembra& tembra = start();
    EXPECT_NE(tembra.mainWindow(), nullptr);
    EXPECT_EQ(tembra.loginWindow(), nullptr);
}

TEST_F(ControllerTest, CrashReportsAtStartEndStartUpEvenWhenOneFails) {
    const QString reports = dataFolder_ + "/CrashReports";
    ASSERT_TRUE(QDir().mkpath(reports));
    ASSERT_TRUE(QDir().mkpath(dataFolder_ + "/12345"));  // a thumbnail folder
    touch(reports + "/first");
    touch(reports + "/second");
    touch(dataFolder_ + "/cloud-v31-abcdefgh");
    touch(dataFolder_ + "/qrSVG.svg");

    Tembra& tembra = start();
    // The clean-up kept the reports, removed the thumbnail folder, and the caches went.
    EXPECT_FALSE(QDir(dataFolder_ + "/12345").exists());
    EXPECT_FALSE(QFile::exists(dataFolder_ + "/cloud-v31-abcdefgh"));
    EXPECT_TRUE(QFile::exists(dataFolder_ + "/qrSVG.svg"));
    EXPECT_EQ(tembra.crashReportsLeft(), 2);
    EXPECT_EQ(tembra.loginWindow(), nullptr) << "no window while reports are being sent";

    auto result = [](const QString& path, int code) {
        auto action = std::make_shared<corvane::MutableActionData>(corvane::CRASH_REPORT);
        action->setName(QDir::toNativeSeparators(path).toStdString().c_str());
        action->setError(corvane::Error(code));
        return action;
    };
    // Sending failed: the report stays for the next start, and it still counts.
    tembra.onActionFinish(result(reports + "/first", 8));
    EXPECT_TRUE(QFile::exists(reports + "/first"));
    EXPECT_EQ(tembra.crashReportsLeft(), 1);
    EXPECT_EQ(tembra.loginWindow(), nullptr);

    tembra.onActionFinish(result(reports + "/second", 0));
    EXPECT_FALSE(QFile::exists(reports + "/second"));
    EXPECT_EQ(tembra.crashReportsLeft(), 0);
    ASSERT_NE(tembra.loginWindow(), nullptr) << "start-up went on";
}

struct DebugCase {
    const char* name;
    bool chooseFile;
};

class DebugLogSwitchTest : public ControllerTest, public testing::WithParamInterface<DebugCase> {};

TEST_P(DebugLogSwitchTest, DialogDecidesTheMode) {
    const DebugCase& c = GetParam();
    Tembra& tembra = start();
    tembra.showMainWindow();
    MainWindow* window = tembra.mainWindow();
    QSignalSpy status(window, &MainWindow::updateDebugStatus);
    QSignalSpy messages(window, &MainWindow::showMessage);
    const QString file = root_.filePath("debug.txt");
    platform_->chosenFile = c.chooseFile ? file : QString();

    tembra.onModifyDebugStatus(true);
    EXPECT_EQ(platform_->dialogCaptions.size(), 1);
    EXPECT_EQ(tembra.debugLogsOn(), c.chooseFile);
    ASSERT_EQ(status.size(), 1);
    EXPECT_EQ(status.front().front().toBool(), c.chooseFile);
    CLOG_DEBUG("[test] while switched on");
    corvane::log::flush();
    QFile debug(file);
    const bool written = debug.open(QIODevice::ReadOnly) && debug.readAll().contains("[test] while switched on");
    EXPECT_EQ(written, c.chooseFile);
    if (!c.chooseFile) {
        EXPECT_TRUE(messages.isEmpty());
        return;
    }
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages.front().front().toString().endsWith(file));

    tembra.onModifyDebugStatus(false);
    EXPECT_FALSE(tembra.debugLogsOn());
    EXPECT_EQ(corvane::log::get()->name(), "tembra") << "back to the ring logger";
    CLOG_INFO("[test] after switching off");
    corvane::log::flush();
    debug.seek(0);
    EXPECT_FALSE(debug.readAll().contains("[test] after switching off"));
    EXPECT_EQ(messages.size(), 2);
    tembra.onGetDebugStatus();
    EXPECT_FALSE(status.back().front().toBool());
}

INSTANTIATE_TEST_SUITE_P(Choices, DebugLogSwitchTest,
                         testing::Values(DebugCase{"file_chosen", true}, DebugCase{"dialog_cancelled", false}),
                         [](const testing::TestParamInfo<DebugCase>& info) { return std::string(info.param.name); });

TEST_F(ControllerTest, ShiftControlAtStartAsksForTheDebugFile) {
    startModifiers_ = Qt::ShiftModifier | Qt::ControlModifier;
    startDebugFile_ = root_.filePath("start-debug.txt");
    Tembra& tembra = start();
    EXPECT_TRUE(tembra.debugLogsOn());
    EXPECT_EQ(platform_->dialogCaptions.size(), 1);
    CLOG_DEBUG("[test] debug from the start");
    corvane::log::flush();
    QFile debug(startDebugFile_);
    ASSERT_TRUE(debug.open(QIODevice::ReadOnly));
    EXPECT_TRUE(debug.readAll().contains("[test] debug from the start"));
}

}  // namespace
