#pragma once

#include <QObject>
#include <QSettings>
#include <QString>
#include <QTranslator>
#include <QUrl>

#include <memory>

#include "corvane/action_listener.h"
#include "corvane/event_listener.h"

namespace corvane {
class Corvane;
class CorvaneSettings;
}  // namespace corvane
namespace spdlog {
class logger;
}
class LoginWindow;
class MainWindow;
class Platform;
class QtTaskManager;

// The application controller: owns the two SDK facades and the GUI task manager, keeps the
// application's settings, sets up logging, decides at start whether the user is signed in and
// drives the login and main windows. GUI thread only.
class Tembra : public QObject, public corvane::ActionListener, public corvane::EventListener {
    Q_OBJECT

public:
    Tembra();
    // The platform seam is the desktop's tray, sound, dialogs and URL opener; null takes the
    // real one.
    explicit Tembra(std::unique_ptr<Platform> platform);
    ~Tembra() override;

    // Start-up: data folder, SDK settings, facades, language, logging, crash reports, then
    // resumeStartup (at once, or when the last crash report has been sent).
    void initApplication();
    // Signs in with the saved session and shows the main window, or shows the login window.
    void resumeStartup();

    void showLoginWindow();
    void showMainWindow();
    void closeLoginWindow();
    void closeMainWindow();
    void applyLanguage(const QString& language);

    void onActionFinish(std::shared_ptr<corvane::ActionData> action) override;

    QString dataFolder() const { return dataFolder_; }
    QString language() const { return language_; }
    bool debugLogsOn() const { return debugLogsOn_; }
    int crashReportsLeft() const { return crashReportsLeft_; }
    LoginWindow* loginWindow() const { return loginWindow_; }
    MainWindow* mainWindow() const { return mainWindow_; }

public slots:
    void onLogin();
    void onLogin2FA(QString code);
    void onActivateLogin(bool activate);
    void onChangeLanguage(int languageIndex);
    void onCleanTempData();
    void corvaneProtocolHandler(QUrl url);
    void onModifyDebugStatus(bool status);
    void onGetDebugStatus();

private:
    // Login settings (group "TEMBRA").
    int readLoginInt(const QString& key);
    QString readLoginString(const QString& key);
    void writeLoginInt(const QString& key, int value);
    void writeLoginString(const QString& key, const QString& value);
    QString readLanguage();
    void writeLanguage(const QString& value);

    void setUpLogging();
    void sendCrashReports();
    void crashReportDone(const std::shared_ptr<corvane::ActionData>& action);
    void actionFailed(const std::shared_ptr<corvane::ActionData>& action);
    QString askDebugLogFile();

    std::unique_ptr<Platform> platform_;
    std::unique_ptr<QtTaskManager> taskManager_;
    std::unique_ptr<corvane::CorvaneSettings> sdkSettings_;
    std::unique_ptr<corvane::Corvane> corvane_;
    std::unique_ptr<corvane::Corvane> linkCorvane_;
    int crashReportsLeft_ = 0;
    QString urlPath_;
    bool nodeEventGate_ = false;
    std::shared_ptr<spdlog::logger> savedLogger_;
    bool debugLogsOn_ = false;
    LoginWindow* loginWindow_ = nullptr;
    MainWindow* mainWindow_ = nullptr;
    // Native store, made before the default format switches to INI.
    QSettings loginSettings_;
    int loginStatusAtStart_ = 0;
    int pendingOperation_ = 0;
    QString userEmail_;
    QString pendingRecoveryKey_;
    bool mailAfterSending_ = false;
    QTranslator translator_;
    QSettings languageSettings_;
    QString language_;
    QString dataFolder_;
};
