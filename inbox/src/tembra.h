#pragma once

#include <QObject>
#include <QSettings>
#include <QString>
#include <QStringList>
#include <QTranslator>
#include <QUrl>

#include <cstdint>
#include <memory>

#include "corvane/action_listener.h"
#include "corvane/event_listener.h"

namespace corvane {
class Corvane;
class CorvaneSettings;
class NodeData;
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

    // The one place where action results reach the windows.
    void onActionFinish(std::shared_ptr<corvane::ActionData> action) override;
    void onActionProgress(std::shared_ptr<corvane::ActionData> action) override;
    void onEvent(std::shared_ptr<corvane::EventData> event) override;

    // Bytes, KB, MB or GB (of 1024, strictly above each) raised to two decimals.
    static QString formatSize(uint64_t bytes);

    QString dataFolder() const { return dataFolder_; }
    QString language() const { return language_; }
    bool debugLogsOn() const { return debugLogsOn_; }
    int crashReportsLeft() const { return crashReportsLeft_; }
    LoginWindow* loginWindow() const { return loginWindow_; }
    MainWindow* mainWindow() const { return mainWindow_; }
    int pendingOperation() const { return pendingOperation_; }
    QStringList attachments() const { return attachments_; }

public slots:
    // The windows' requests, one slot per request signal named "on" + the signal's name.
    void onLogin();
    void onLogout();
    void onDeleteInbox(uint64_t inboxId);
    void onDeleteRecord(uint64_t recordId);
    void onEditInbox(uint64_t inboxId, QString newName, QString newDescription);
    void onCreateInbox(QString inboxName, QString inboxDescription);
    void onShareNode(uint64_t nodeId);
    void onDownloadNode(uint64_t nodeId, QString nodeName);
    void onUploadFiles();
    void onDragFile(QString fileName);
    void onDeleteUploadedFile(int uploadedFileIndex);
    void onSendRecord(QString inboxLink, QString contactInfo, QString subject, QString message);
    void onCreateContact(QString contactName, QString inboxLink);
    void onCreateOutbox(QString contactId, QString inboxLink);
    void onDeleteContact(uint64_t contactId);
    void onEditContact(uint64_t contactId, QString newContactName);
    void onDeleteOutbox(QString outboxId);
    void onEditOutbox(QString contactId, QString inboxId, QString newName);
    void onBuildSentRecordByRecordLink(QString recordLink, QString recordReceiver);
    void onDeleteSentRecord(QString recordId);
    void onGetRecoveryKey();
    void onShowPrivacyPolicy();
    void onChangeLanguage(int languageIndex);
    void onModifyRecordStatus(uint64_t recordId, int status);
    void onGetOriginalInboxOwner(QString inboxLink);
    void onMakeTransfer(QString receiver, QString subject, QString message);
    void onCleanTempData();
    void onCreate2FALink();
    void onEnable2FA(QString code);
    void onDisable2FA(QString code);
    void onLogin2FA(QString code);
    void onDownloadFileMetadata(uint64_t fileId, QString fileName);
    void corvaneProtocolHandler(QUrl url);
    void onActivateLogin(bool activate);
    void onUpdateTembra();
    void onModifyDebugStatus(bool status);
    void onGetDebugStatus();
    void onGetPlanInfo();
    void onSendAnyway();
    void onDeleteAccount(QString reason);

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
    void actionSucceeded(const std::shared_ptr<corvane::ActionData>& action);
    void loginDone(const std::shared_ptr<corvane::ActionData>& action);
    void signedOut();
    void createLinkDone(const std::shared_ptr<corvane::ActionData>& action);
    void accountInfoDone(const std::shared_ptr<corvane::ActionData>& action);
    // The walk of the account's tree into the main window's lists.
    void rootListed(const std::shared_ptr<corvane::ActionData>& action);
    void childrenListed(const std::shared_ptr<corvane::ActionData>& action);
    void connectMainWindow();
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
    std::shared_ptr<corvane::NodeData> lastListedNode_;
    int requestedRecordStatus_ = 0;
    QStringList attachments_;
    // Index of the attachment being uploaded while a record is sent; -1 otherwise.
    int currentAttachment_ = -1;
    QStringList contactIds_;
    QStringList contactUserIds_;
    double storageRatio_ = 0;
    int planAmount_ = 0;
    QString userFirstName_;
    QString userLastName_;
    QString userEmail_;
    QString pendingRecoveryKey_;
    bool mailAfterSending_ = false;
    QTranslator translator_;
    QSettings languageSettings_;
    QString language_;
    QString dataFolder_;
};
