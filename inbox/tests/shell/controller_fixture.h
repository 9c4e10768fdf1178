#pragma once

#include <gtest/gtest.h>
#include <QCoreApplication>
#include <QFile>
#include <QList>
#include <QSettings>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>

#include <memory>

#include <spdlog/spdlog.h>

#include "platform.h"
#include "tembra.h"
#include "ui/login_window.h"
#include "ui/main_window.h"
#include "util/deployment.h"
#include "util/log.h"

namespace {

// Watches the desktop calls; the debug-log dialog answers what the test set.
struct FakePlatform : Platform {
    int trayCalls = 0;
    QStringList dialogCaptions;
    QString chosenFile;
    Qt::KeyboardModifiers modifiers = Qt::NoModifier;
    QList<QUrl> openedUrls;

    bool showTrayIcon(QObject*) override {
        ++trayCalls;
        return false;  // as under Xvfb: no tray
    }
    void playNotificationSound(MainWindow*) override {}
    QString askSaveFileName(const QString& caption, const QString&) override {
        dialogCaptions << caption;
        return chosenFile;
    }
    Qt::KeyboardModifiers keyboardModifiers() override { return modifiers; }
    bool openUrl(const QUrl& url) override {
        openedUrls << url;
        return true;
    }
};

class ControllerTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(root_.isValid());
        configHome_ = root_.filePath("config");
        dataHome_ = root_.filePath("data");
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(configHome_));
        qputenv("XDG_DATA_HOME", QFile::encodeName(dataHome_));
        // Qt reads the config folder once per process: point both formats at this test's.
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, configHome_);
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, configHome_);
        QSettings::setDefaultFormat(QSettings::NativeFormat);
        QCoreApplication::setOrganizationName("Corvane");
        QCoreApplication::setApplicationName("Tembra");
        // Nothing answers here: no result arrives unless a test hands it over.
        corvane::setDeployment({"https://127.0.0.1:9/api", "sha256//AAAA", "https://127.0.0.1:9", ""});
        dataFolder_ = dataHome_ + "/Corvane/Tembra";
    }

    void TearDown() override {
        if (controller_) {
            delete controller_->loginWindow();
            if (controller_->mainWindow() != nullptr) {
                delete controller_->mainWindow();
            }
            controller_.reset();
        }
        corvane::log::set(nullptr);
        spdlog::disable_backtrace();
        spdlog::drop_all();
    }

    Tembra& start() {
        auto platform = std::make_unique<FakePlatform>();
        platform_ = platform.get();
        platform_->chosenFile = startDebugFile_;
        platform_->modifiers = startModifiers_;
        controller_ = std::make_unique<Tembra>(std::move(platform));
        controller_->initApplication();
        return *controller_;
    }

    static void touch(const QString& path) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("x");
    }

    QString nativeSettingsFile() const { return configHome_ + "/Corvane/Tembra.conf"; }

    QTemporaryDir root_;
    QString configHome_;
    QString dataHome_;
    QString dataFolder_;
    QString startDebugFile_;
    Qt::KeyboardModifiers startModifiers_ = Qt::NoModifier;
    FakePlatform* platform_ = nullptr;
    std::unique_ptr<Tembra> controller_;
};

}  // namespace
