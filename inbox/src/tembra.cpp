#include "tembra.h"

#include <QApplication>
#include <QClipboard>
#include <QCoreApplication>
#include <QDateTime>
#include <QDebug>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QInputMethod>
#include <QLocale>
#include <QStandardPaths>

#include <spdlog/spdlog.h>

#include <algorithm>
#include <cctype>

#include "app_logging.h"
#include "app_paths.h"
#include "client/corvane.h"
#include "corvane/account_info_data.h"
#include "corvane/action_data.h"
#include "corvane/action_types.h"
#include "corvane/corvane_settings.h"
#include "corvane/event_data.h"
#include "corvane/node_data.h"
#include "corvane/node_type.h"
#include "corvane/user_info_data.h"
#include "crash_handler.h"
#include "platform.h"
#include "qt_task_manager.h"
#include "ui/display_format.h"
#include "ui/login_window.h"
#include "ui/main_window.h"
#include "util/deployment.h"
#include "util/log.h"

namespace {

const QString kGroup = QStringLiteral("TEMBRA");
const QString kLoginStatus = QStringLiteral("LOGIN_STATUS");
const QString kLoginSession = QStringLiteral("LOGIN_SESSION");
const QString kLanguage = QStringLiteral("LANGUAGE");
const QString kCrashReports = QStringLiteral("CrashReports");

// The controller's stores are the native ones even when another settings object switched the
// default format earlier in the process.
QSettings::Format nativeFormat() {
    return QSettings::NativeFormat;
}

std::string toStd(const QString& text) {
    return text.toStdString();
}

QString fromStd(const char* text) {
    return QString::fromUtf8(text != nullptr ? text : "");
}

// The pending operations that outlive one action (see the handlers that set them).
enum Pending {
    kNone = 0,
    kSendingRecord = 1,
    kDeletingContact = 3,
    kDeletingOutbox = 5,
    kCreating2faLink = 7,
    kEnabling2fa = 8,
    kDisabling2fa = 9,
    kReadingTree = 10,
    kTransfer = 11,
};

// Children requested with this order are listed the way the screens expect them.
constexpr int32_t kChildrenOrder = -5;
constexpr int32_t kOutboxChildrenOrder = 3;
const QString kDocManagerSubject = QStringLiteral("[CVN_");
const QString kPrivacyPolicyPath = QStringLiteral("/privacy-policy/");

}  // namespace

Tembra::Tembra() : Tembra(nullptr) {
}

Tembra::Tembra(std::unique_ptr<Platform> platform)
    : QObject(nullptr),
      platform_(platform ? std::move(platform) : std::make_unique<Platform>()),
      loginSettings_(nativeFormat(), QSettings::UserScope, QCoreApplication::organizationName(),
                     QCoreApplication::applicationName()),
      languageSettings_(nativeFormat(), QSettings::UserScope, QCoreApplication::organizationName(),
                        QCoreApplication::applicationName()) {
}

Tembra::~Tembra() {
    if (corvane_) {
        corvane_->removeEventListener(this);
    }
    // The facades end their threads before the task manager they post to goes.
    corvane_.reset();
    linkCorvane_.reset();
    taskManager_.reset();
}

void Tembra::initApplication() {
    dataFolder_ = apppaths::dataFolder();
    if (QDir(dataFolder_).exists()) {
        onCleanTempData();
    } else {
        QDir(dataFolder_).mkpath(QStringLiteral("."));
    }

    sdkSettings_ = std::make_unique<corvane::CorvaneSettings>();
    sdkSettings_->setUserAgent("Tembra/1.0.0.0 ()");
    sdkSettings_->setDataPath(toStd(dataFolder_));
    nodeEventGate_ = true;
    taskManager_ = std::make_unique<QtTaskManager>();
    corvane_ = std::make_unique<corvane::Corvane>(taskManager_.get(), sdkSettings_.get());
    linkCorvane_ = std::make_unique<corvane::Corvane>(taskManager_.get(), nullptr);
    pendingOperation_ = 0;
    loginStatusAtStart_ = readLoginInt(kLoginStatus);
    mailAfterSending_ = false;
    pendingRecoveryKey_.clear();

    platform_->showTrayIcon(this);

    // Loaded at every start; only installing it changes the language. Missing files leave
    // the English texts.
    translator_.load(QStringLiteral(":/Translations/es"));
    language_ = readLanguage();
    if (language_.isEmpty()) {
        language_ = QGuiApplication::inputMethod()->locale().name().left(2);
    }
    applyLanguage(language_);

    corvane_->addEventListener(this);
    QDesktopServices::setUrlHandler(QStringLiteral("corvane"), this, "corvaneProtocolHandler");

    setUpLogging();
    QSettings::setDefaultFormat(QSettings::IniFormat);
    sendCrashReports();
}

void Tembra::setUpLogging() {
    applog::setPattern();
    savedLogger_ = applog::current();
    applog::setLevel(static_cast<int>(corvane::log::Level::info));

    const Qt::KeyboardModifiers modifiers = platform_->keyboardModifiers();
    if (modifiers.testFlag(Qt::ShiftModifier) && modifiers.testFlag(Qt::ControlModifier)) {
        const QString file = askDebugLogFile();
        if (!file.isEmpty()) {
            auto logger = applog::makeFileLogger("tembra", toStd(QDir::toNativeSeparators(file)));
            if (logger) {
                debugLogsOn_ = true;
                applog::setLevel(static_cast<int>(corvane::log::Level::debug));
                logger->set_level(spdlog::level::debug);
                applog::installDefault(logger);
                return;
            }
        }
    }

    applog::setLevel(static_cast<int>(corvane::log::Level::off));
    applog::enableBacktrace(applog::kBacktraceMessages);
    QDir(dataFolder_).mkpath(QStringLiteral("."));
    auto logger = applog::makeFileLogger(
        "tembra", toStd(QDir::toNativeSeparators(dataFolder_ + QStringLiteral("/corvane_backtraces.txt"))));
    if (logger) {
        logger->set_level(spdlog::level::off);
        savedLogger_ = logger;
        applog::installDefault(logger);
    }
}

void Tembra::sendCrashReports() {
    QDir reports(dataFolder_ + QLatin1Char('/') + kCrashReports);
    const QFileInfoList entries =
        reports.exists() ? reports.entryInfoList(QDir::Files | QDir::NoDotAndDotDot, QDir::Time) : QFileInfoList();
    if (entries.isEmpty()) {
        CLOG_INFO("No crash reports found");
        resumeStartup();
        return;
    }
    crash::removeCacheFiles(dataFolder_);
    crashReportsLeft_ = entries.size();
    CLOG_INFO("Sending {} crash reports", crashReportsLeft_);
    for (const QFileInfo& entry : entries) {
        corvane_->sendCrashReport(toStd(QDir::toNativeSeparators(entry.absoluteFilePath())).c_str(), this);
    }
}

void Tembra::resumeStartup() {
    if (loginStatusAtStart_ == 1) {
        corvane_->loginWithSession(toStd(readLoginString(kLoginSession)).c_str(), this);
        showMainWindow();
    } else {
        showLoginWindow();
    }
}

void Tembra::showLoginWindow() {
    loginWindow_ = new LoginWindow();
    connect(loginWindow_, SIGNAL(login()), this, SLOT(onLogin()), Qt::AutoConnection);
    connect(loginWindow_, SIGNAL(login2FA(QString)), this, SLOT(onLogin2FA(QString)), Qt::AutoConnection);
    connect(loginWindow_, SIGNAL(activateLogin(bool)), this, SLOT(onActivateLogin(bool)), Qt::AutoConnection);
    loginWindow_->show();
    loginWindow_->raise();
    loginWindow_->activateWindow();
}

void Tembra::showMainWindow() {
    mainWindow_ = new MainWindow();
    pendingOperation_ = kNone;
    connectMainWindow();
    mainWindow_->show();
    mainWindow_->raise();
    mainWindow_->activateWindow();
    mainWindow_->setApplicationLanguage(language_ == QLatin1String("es") ? 1 : 0);
}

// Each request signal X goes to the slot onX, by signature text as the window declares it.
void Tembra::connectMainWindow() {
    static const char* const kRequests[] = {
        "logout()",
        "deleteInbox(uint64_t)",
        "deleteRecord(uint64_t)",
        "editInbox(uint64_t,QString,QString)",
        "createInbox(QString,QString)",
        "shareNode(uint64_t)",
        "downloadNode(uint64_t,QString)",
        "uploadFiles()",
        "dragFile(QString)",
        "deleteUploadedFile(int)",
        "sendRecord(QString,QString,QString,QString)",
        "createContact(QString,QString)",
        "createOutbox(QString,QString)",
        "deleteContact(uint64_t)",
        "editContact(uint64_t,QString)",
        "deleteOutbox(QString)",
        "editOutbox(QString,QString,QString)",
        "deleteSentRecord(QString)",
        "getRecoveryKey()",
        "showPrivacyPolicy()",
        "changeLanguage(int)",
        "modifyRecordStatus(uint64_t,int)",
        "getOriginalInboxOwner(QString)",
        "makeTransfer(QString,QString,QString)",
        "cleanTempData()",
        "create2FALink()",
        "enable2FA(QString)",
        "disable2FA(QString)",
        "downloadFileMetadata(uint64_t,QString)",
        "updateTembra()",
        "modifyDebugStatus(bool)",
        "getPlanInfo()",
        "sendAnyway()",
        "deleteAccount(QString)",
    };
    for (const char* request : kRequests) {
        const QByteArray name(request);
        QByteArray slot = "on" + name;
        slot[2] = static_cast<char>(std::toupper(static_cast<unsigned char>(slot[2])));
        // The texts SIGNAL() and SLOT() would make: the codes 2 and 1 in front.
        connect(mainWindow_, QByteArray("2" + name).constData(), this, QByteArray("1" + slot).constData(),
                Qt::AutoConnection);
    }
    // The one request whose slot is not named after it.
    connect(mainWindow_, SIGNAL(getDebugStatusSignal()), this, SLOT(onGetDebugStatus()), Qt::AutoConnection);
}

void Tembra::closeLoginWindow() {
    if (loginWindow_) {
        loginWindow_->close();
    }
}

void Tembra::closeMainWindow() {
    if (mainWindow_) {
        mainWindow_->close();
    }
}

void Tembra::applyLanguage(const QString& language) {
    if (language == QLatin1String("es")) {
        QCoreApplication::installTranslator(&translator_);
    } else {
        QCoreApplication::removeTranslator(&translator_);
    }
}

void Tembra::onActionFinish(std::shared_ptr<corvane::ActionData> action) {
    const int32_t code = action->getErrorCode();
    // "Unknown error" ends an action the same way as success, except for a download: the
    // transfer layer ends a damaged or incomplete file with an error, and a download that
    // ended with any error has no trustworthy file to announce.
    const bool failed = action->getType() == corvane::DOWNLOAD ? code != 0 : code != 0 && code != 9;
    if (failed) {
        actionFailed(action);
        return;
    }
    actionSucceeded(action);
}

void Tembra::actionSucceeded(const std::shared_ptr<corvane::ActionData>& action) {
    switch (action->getType()) {
        case corvane::LOGIN:
            loginDone(action);
            break;
        case corvane::CRASH_REPORT:
            crashReportDone(action);
            break;
        case corvane::NEW_SESSION:
            if (!urlPath_.isEmpty()) {
                const QString address = QString::fromStdString(corvane::getDeployment().webAddress) + urlPath_ +
                                        QStringLiteral("?session=") +
                                        QString::fromStdString(action->getSessionString());
                platform_->openUrl(QUrl(address));
                urlPath_.clear();
            }
            break;
        case corvane::LOGOUT:
        case corvane::DELETE_ACCOUNT:
            signedOut();
            break;
        case corvane::CREATE_LINK:
            createLinkDone(action);
            break;
        case corvane::USER_INFO:
            if (auto user = action->getUserInfo()) {
                userEmail_ = QString::fromStdString(user->getEmail());
                userFirstName_ = QString::fromStdString(user->getFirstName());
                userLastName_ = QString::fromStdString(user->getLastName());
                if (mainWindow_) {
                    mainWindow_->setUserEmail(userEmail_);
                    mainWindow_->setUserName(userFirstName_, userLastName_);
                    mainWindow_->set2FAStatus(user->getMultiFactorAuth() != 0);
                }
            }
            break;
        case corvane::RECOVERY_KEY:
            pendingRecoveryKey_ = QString::fromStdString(action->getTextString());
            corvane_->getAccountInfo(this);
            break;
        case corvane::ACCOUNT_INFO:
            accountInfoDone(action);
            break;
        case corvane::SET_RECORD_STATUS: {
            auto node = action->getNode();
            if (node && mainWindow_) {
                const int current = mainWindow_->getRecordStatusById(QString::number(node->getId())).toInt();
                if (current != requestedRecordStatus_) {
                    mainWindow_->setRecordStatus(node->getId(), requestedRecordStatus_);
                }
            }
            break;
        }
        case corvane::MANAGE_2FA:
            if (mainWindow_) {
                if (pendingOperation_ == kEnabling2fa) {
                    mainWindow_->set2FAEnabled();
                } else if (pendingOperation_ == kDisabling2fa) {
                    mainWindow_->set2FADisabled();
                }
            }
            pendingOperation_ = kNone;
            break;
        case corvane::DOWNLOAD:
            if (mainWindow_) {
                mainWindow_->finishProcess(tr("The download has been successfully completed."));
            }
            break;
        case corvane::DOWNLOAD_METADATA:
            if (auto node = action->getNode(); node && mainWindow_) {
                mainWindow_->reloadMetadata(node->getId());
            }
            break;
        case corvane::GET_ROOT:
            rootListed(action);
            break;
        case corvane::GET_CHILDREN:
            childrenListed(action);
            break;
        default:
            break;
    }
}

void Tembra::loginDone(const std::shared_ptr<corvane::ActionData>& action) {
    if (readLoginInt(kLoginStatus) != 1) {
        writeLoginInt(kLoginStatus, 1);
        writeLoginString(kLoginSession, QString::fromStdString(action->getSessionString()));
        if (loginWindow_) {
            loginWindow_->setLoginStatus(1);
        }
        // The main window first: closing the last visible window would end the program.
        showMainWindow();
        closeLoginWindow();
    }
    corvane_->getUserInfo(this);
    corvane_->getAccountInfo(this);
    if (mainWindow_) {
        mainWindow_->clearLists();
    }
    corvane_->getNodes(this);
}

void Tembra::signedOut() {
    pendingOperation_ = kNone;
    loginSettings_.clear();
    closeMainWindow();
    showLoginWindow();
}

void Tembra::createLinkDone(const std::shared_ptr<corvane::ActionData>& action) {
    const QString link = QString::fromStdString(action->getLinkString());
    if (pendingOperation_ == kReadingTree) {
        if (mainWindow_) {
            mainWindow_->setExternalInbox(link);
        }
        pendingOperation_ = kNone;
    } else if (pendingOperation_ != kTransfer) {
        QApplication::clipboard()->setText(link, QClipboard::Clipboard);
    }
}

void Tembra::accountInfoDone(const std::shared_ptr<corvane::ActionData>& action) {
    auto account = action->getAccountInfo();
    if (!account) {
        return;
    }
    if (!pendingRecoveryKey_.isEmpty()) {
        // The recovery document is written elsewhere; the key must not linger here.
        pendingRecoveryKey_.clear();
        return;
    }
    const auto used = static_cast<uint64_t>(std::max<int64_t>(account->getStorageUsed(), 0));
    const auto total = static_cast<uint64_t>(std::max<int64_t>(account->getStorageTotal(), 0));
    if (mainWindow_) {
        mainWindow_->setPlanInfo(QString::fromStdString(account->getPlan()), used, total);
    }
    storageRatio_ = total != 0 ? static_cast<double>(used) / static_cast<double>(total) : 0;
    planAmount_ = account->getAmount();
}

void Tembra::rootListed(const std::shared_ptr<corvane::ActionData>& action) {
    lastListedNode_ = action->getNode();
    // A root the account does not have answers an empty node: nothing below it to list.
    if (!lastListedNode_) {
        return;
    }
    corvane_->getChildren(lastListedNode_->getId(), kChildrenOrder, this);
    pendingOperation_ = kReadingTree;
    if (mainWindow_ && mainWindow_->getExternalInbox().isEmpty()) {
        corvane_->createLink(this);
    }
}

void Tembra::childrenListed(const std::shared_ptr<corvane::ActionData>& action) {
    lastListedNode_ = action->getNode();
    const std::shared_ptr<corvane::NodeData> parent = lastListedNode_;
    const std::shared_ptr<corvane::NodeList> children = action->getNodes();
    if (!parent || !children) {
        return;
    }
    const auto listEach = [&](int32_t order) {
        for (const auto& child : *children) {
            if (child) {
                corvane_->getChildren(child->getId(), order, this);
            }
        }
    };
    switch (parent->getType()) {
        case corvane::REGISTER_ROOT:
        case corvane::CONTACTS_ROOT:
            listEach(kChildrenOrder);
            break;
        case corvane::INBOX_NODE:
            if (mainWindow_) {
                mainWindow_->addInbox(parent->getId(), fromStd(parent->getName()),
                                      fromStd(parent->getInboxDescription()),
                                      static_cast<uint64_t>(parent->getCreationTime()));
            }
            listEach(kChildrenOrder);
            break;
        case corvane::RECORD_NODE: {
            if (!mainWindow_) {
                break;
            }
            const QString subject = fromStd(parent->getName());
            if (!subject.startsWith(kDocManagerSubject)) {
                const QString contactName = mainWindow_->getContactNameByOutboxId(parent->getParent());
                mainWindow_->addRecord(parent->getParent(), parent->getId(), fromStd(parent->getContact()), contactName,
                                       subject, fromStd(parent->getRecordMessage()),
                                       static_cast<uint64_t>(parent->getModificationTime()), parent->getStatus() != 0);
            }
            // A document-manager record stays off the lists, its files do not.
            for (const auto& file : *children) {
                if (file) {
                    mainWindow_->addRecordFile(file->getParent(), file->getId(), fromStd(file->getName()),
                                               file->getSize(), static_cast<uint64_t>(file->getCreationTime()));
                }
            }
            break;
        }
        case corvane::CONTACT_NODE:
            if (mainWindow_) {
                mainWindow_->addContact(parent->getId(), parent->getExtraNumber(), fromStd(parent->getName()));
                contactIds_ = mainWindow_->getContactsIds();
                contactUserIds_ = mainWindow_->getContactsUserIds();
            }
            listEach(kOutboxChildrenOrder);
            break;
        case corvane::OUTBOX_NODE:
            if (mainWindow_) {
                mainWindow_->addOutbox(parent->getId(), parent->getParent(), fromStd(parent->getName()),
                                       QString::fromStdString(parent->getInboxLinkString()), QString());
            }
            listEach(kChildrenOrder);
            break;
        default:
            break;
    }
    if (mainWindow_) {
        mainWindow_->emitReloadApplication();
    }
}

void Tembra::onActionProgress(std::shared_ptr<corvane::ActionData> action) {
    if (!mainWindow_) {
        return;
    }
    const uint64_t current = action->getCurrentSize();
    const uint64_t total = action->getTotalSize();
    // A report without a total has no percentage to show.
    if (total == 0) {
        return;
    }
    const QString percentage = QString::number(current * 100 / total);
    if (action->getType() == corvane::UPLOAD_TO_RECORD && currentAttachment_ >= 0) {
        mainWindow_->emitUpdateRecordTransferData(percentage, QString::number(currentAttachment_ + 1),
                                                  QString::number(attachments_.size()), formatSize(current),
                                                  formatSize(total));
    } else if (action->getType() == corvane::DOWNLOAD && current != 0) {
        mainWindow_->emitUpdateRecordTransferData(percentage, QStringLiteral("1"), QStringLiteral("1"),
                                                  formatSize(current), formatSize(total));
    }
}

void Tembra::onEvent(std::shared_ptr<corvane::EventData> event) {
    qDebug() << "EVENT: " << corvane::getEventTypeName(event->getType());
    switch (event->getType()) {
        case corvane::EVENT_ACCOUNT_READY:
            if (mainWindow_) {
                nodeEventGate_ = false;
                corvane_->getRoot(corvane::REGISTER_ROOT, this);
                corvane_->getRoot(corvane::CONTACTS_ROOT, this);
            }
            break;
        case corvane::EVENT_CONNECTIVITY: {
            const int state = event->getConnectivity();
            if (state != 0 && state != 1) {
                break;
            }
            const int windowError = state == 0 ? 5 : 6;
            if (mainWindow_) {
                mainWindow_->emitError(windowError);
            } else if (loginWindow_) {
                loginWindow_->emitError(windowError);
            }
            break;
        }
        default:
            break;
    }
}

QString Tembra::formatSize(uint64_t bytes) {
    return display_format::sizeText(bytes);
}

void Tembra::actionFailed(const std::shared_ptr<corvane::ActionData>& action) {
    const int32_t code = action->getErrorCode();
    const int32_t type = action->getType();
    CLOG_ERROR("Error in action {}: {}", action->getTypeName(), action->getErrorMessage());
    qDebug() << "ERROR: Error in action " << action->getTypeName() << " -> Error: " << action->getErrorMessage();

    if (type == corvane::CRASH_REPORT) {
        crashReportDone(action);
        return;
    }
    if ((type == corvane::LOGIN || type == corvane::GET_NODES) && code == 19) {
        loginSettings_.clear();
        pendingOperation_ = kNone;
        if (!loginWindow_) {
            showLoginWindow();
        }
        loginWindow_->emitError(12);
    }
    if (type == corvane::LOGIN && code == 2 && loginWindow_) {
        loginWindow_->emitError(12);
    }
    if (code == 16) {
        if (loginWindow_) {
            loginWindow_->emitError(9);
        }
    } else if (code == 13) {
        if (mainWindow_ && (type == corvane::LOGIN_LINK || pendingOperation_ == kTransfer)) {
            mainWindow_->emitError(pendingOperation_ == kTransfer ? 15 : 13);
        }
    } else if (code == 2) {
        if (mainWindow_) {
            mainWindow_->emitError(16);
        }
    } else if (type == corvane::DOWNLOAD_METADATA && code == 1) {
        // A file without stored metadata.
    } else if (readLoginInt(kLoginStatus) == 1) {
        if (mainWindow_ && type != corvane::GET_CHILDREN) {
            mainWindow_->emitSystemError(code);
        }
    } else if (loginWindow_) {
        loginWindow_->setLoginStatus(0);
    }
}

// A report that could not be sent still counts, so start-up goes on; its file stays for the
// next start.
void Tembra::crashReportDone(const std::shared_ptr<corvane::ActionData>& action) {
    if (action->getErrorCode() == 0 || action->getErrorCode() == 9) {
        QFile::remove(QString::fromStdString(action->getNameString()));
    }
    if (crashReportsLeft_ <= 0) {
        return;
    }
    if (--crashReportsLeft_ == 0) {
        CLOG_INFO("All crash reports sent");
        resumeStartup();
    }
}

void Tembra::onLogin() {
    if (!loginWindow_) {
        return;
    }
    const QString userName = loginWindow_->getUsername();
    const QString password = loginWindow_->getPassword();
    userEmail_ = userName;
    corvane_->login(toStd(userName).c_str(), toStd(password).c_str(), this);
}

void Tembra::onLogin2FA(QString code) {
    if (!loginWindow_) {
        return;
    }
    bool ok = false;
    const int number = code.toInt(&ok, 10);
    if (!ok) {
        loginWindow_->emitError(8);
        return;
    }
    const QString userName = loginWindow_->getUsername();
    const QString password = loginWindow_->getPassword();
    userEmail_ = userName;
    corvane_->loginWith2fa(toStd(userName).c_str(), toStd(password).c_str(), number, this);
}

void Tembra::onActivateLogin(bool activate) {
    if (activate) {
        platform_->openUrl(QUrl(QStringLiteral("corvane://profile/invoicing/plans")));
    }
    corvane_->logout(nullptr);
}

void Tembra::onLogout() {
    corvane_->logout(this);
}

// Deletes and renames show in the window at once, whatever the service then answers.
void Tembra::onDeleteInbox(uint64_t inboxId) {
    if (mainWindow_) {
        mainWindow_->removeInbox(inboxId);
    }
    corvane_->deleteNode(inboxId, this);
}

void Tembra::onDeleteRecord(uint64_t recordId) {
    if (mainWindow_) {
        mainWindow_->removeRecord(recordId);
    }
    corvane_->deleteNode(recordId, this);
}

void Tembra::onEditInbox(uint64_t inboxId, QString newName, QString newDescription) {
    if (!mainWindow_ || mainWindow_->checkInboxName(newName, inboxId) != -1) {
        return;
    }
    corvane_->editInbox(inboxId, toStd(newName).c_str(), toStd(newDescription).c_str(), this);
    mainWindow_->updateInbox(inboxId, newName, newDescription);
}

void Tembra::onCreateInbox(QString inboxName, QString inboxDescription) {
    if (!mainWindow_ || mainWindow_->checkInboxName(inboxName, 0) != -1) {
        return;
    }
    corvane_->createInbox(toStd(inboxName).c_str(), toStd(inboxDescription).c_str(), this);
}

void Tembra::onShareNode(uint64_t nodeId) {
    corvane_->shareNode(nodeId, this);
}

void Tembra::onDownloadNode(uint64_t nodeId, QString nodeName) {
    QWidget parent;
    const QString path =
        QFileDialog::getSaveFileName(&parent, QStringLiteral("Save File"), nodeName, QStringLiteral("All Files(*)"));
    corvane_->downloadNode(nodeId, toStd(path).c_str(), this);
}

void Tembra::onUploadFiles() {
    QFileDialog dialog(nullptr, QString(), QDir::homePath(), QStringLiteral("All Files (*)"));
    dialog.setFileMode(QFileDialog::ExistingFiles);
    if (dialog.exec() == QDialog::Accepted) {
        attachments_ << dialog.selectedFiles();
    }
    if (mainWindow_) {
        mainWindow_->setUploadedFiles(attachments_);
    }
}

void Tembra::onDragFile(QString fileName) {
    if (!fileName.contains(QLatin1Char('.'))) {
        // Taken for a folder: folders are not sent.
        if (mainWindow_) {
            mainWindow_->emitError(11);
        }
        attachments_.clear();
    } else {
        QString path = QDir::toNativeSeparators(fileName);
        const QString address = QStringLiteral("file://");
        const QString nativeAddress = QStringLiteral("file:\\\\\\");
        if (path.startsWith(address)) {
            path.remove(address);
        } else if (path.startsWith(nativeAddress)) {
            path.remove(nativeAddress);
        }
        attachments_ << path;
    }
    if (mainWindow_) {
        mainWindow_->setUploadedFiles(attachments_);
    }
}

void Tembra::onDeleteUploadedFile(int uploadedFileIndex) {
    if (uploadedFileIndex >= 0 && uploadedFileIndex < attachments_.size()) {
        attachments_.removeAt(uploadedFileIndex);
    }
    if (mainWindow_) {
        mainWindow_->setUploadedFiles(attachments_);
    }
}

// Sending a record and filing its recipient run as a chain of their own.
void Tembra::onSendRecord(QString, QString, QString, QString) {
}

void Tembra::onCreateContact(QString, QString) {
}

void Tembra::onCreateOutbox(QString, QString) {
}

void Tembra::onDeleteContact(uint64_t contactId) {
    pendingOperation_ = kDeletingContact;
    corvane_->deleteContact(contactId, this);
    if (mainWindow_) {
        mainWindow_->removeContact(contactId);
    }
}

void Tembra::onEditContact(uint64_t contactId, QString newContactName) {
    if (mainWindow_) {
        mainWindow_->renameContact(contactId, newContactName);
    }
    corvane_->editContact(contactId, toStd(newContactName).c_str(), this);
}

void Tembra::onDeleteOutbox(QString outboxId) {
    pendingOperation_ = kDeletingOutbox;
    const uint64_t id = outboxId.toULongLong(nullptr, 10);
    if (mainWindow_) {
        mainWindow_->removeOutbox(id);
    }
    corvane_->deleteOutbox(id, this);
}

void Tembra::onEditOutbox(QString contactId, QString inboxId, QString newName) {
    if (mainWindow_) {
        mainWindow_->renameOutbox(contactId, inboxId, newName);
    }
    corvane_->editOutbox(inboxId.toULongLong(nullptr, 10), toStd(newName).c_str(), this);
}

void Tembra::onBuildSentRecordByRecordLink(QString recordLink, QString) {
    linkCorvane_->getRecordInfo(toStd(recordLink).c_str(), this);
}

void Tembra::onDeleteSentRecord(QString recordId) {
    if (mainWindow_) {
        mainWindow_->removeSentRecord(recordId);
    }
    corvane_->deleteNode(recordId.toULongLong(nullptr, 10), this);
}

void Tembra::onGetRecoveryKey() {
    corvane_->getRecoveryKey(this);
}

void Tembra::onShowPrivacyPolicy() {
    platform_->openUrl(QUrl(QString::fromStdString(corvane::getDeployment().webAddress) + kPrivacyPolicyPath));
}

void Tembra::onModifyRecordStatus(uint64_t recordId, int status) {
    requestedRecordStatus_ = status;
    corvane_->setRecordStatus(recordId, static_cast<uint8_t>(status), this);
}

void Tembra::onGetOriginalInboxOwner(QString) {
}

void Tembra::onMakeTransfer(QString, QString, QString) {
}

void Tembra::onCreate2FALink() {
    pendingOperation_ = kCreating2faLink;
    corvane_->create2faLink(this);
}

void Tembra::onEnable2FA(QString code) {
    bool ok = false;
    const int number = code.toInt(&ok, 10);
    if (!ok) {
        if (mainWindow_) {
            mainWindow_->emitError(8);
        }
        return;
    }
    pendingOperation_ = kEnabling2fa;
    corvane_->enable2fa(number, this);
}

void Tembra::onDisable2FA(QString code) {
    bool ok = false;
    const int number = code.toInt(&ok, 10);
    if (!ok) {
        if (mainWindow_) {
            mainWindow_->emitError(8);
        }
        return;
    }
    pendingOperation_ = kDisabling2fa;
    corvane_->disable2fa(number, this);
}

// Thumbnails and previews have a handler of their own.
void Tembra::onDownloadFileMetadata(uint64_t, QString) {
}

// Restarts belong to the regular checks.
void Tembra::onUpdateTembra() {
}

void Tembra::onGetPlanInfo() {
    if (pendingOperation_ != kReadingTree) {
        corvane_->getAccountInfo(this);
    }
}

void Tembra::onSendAnyway() {
}

void Tembra::onDeleteAccount(QString reason) {
    corvane_->deleteAccount(toStd(reason).c_str(), this);
}

void Tembra::onChangeLanguage(int languageIndex) {
    if (languageIndex != 0 && languageIndex != 1) {
        return;
    }
    language_ = languageIndex == 1 ? QStringLiteral("es") : QStringLiteral("en");
    writeLanguage(language_);
    applyLanguage(language_);
    if (mainWindow_) {
        mainWindow_->setApplicationLanguage(languageIndex);
    }
}

void Tembra::onCleanTempData() {
    QDir folder(dataFolder_);
    for (const QString& name : folder.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden)) {
        if (name != kCrashReports) {
            QDir(folder.filePath(name)).removeRecursively();
        }
    }
}

void Tembra::corvaneProtocolHandler(QUrl url) {
    urlPath_ = url.toString().mid(9);
    corvane_->newSession(this);
}

QString Tembra::askDebugLogFile() {
    const QString proposed =
        QStandardPaths::writableLocation(QStandardPaths::DesktopLocation) + QStringLiteral("/tembra_debug_log.txt");
    return platform_->askSaveFileName(tr("Save debug logs"), proposed);
}

void Tembra::onModifyDebugStatus(bool status) {
    debugLogsOn_ = status;
    if (status) {
        const QString file = askDebugLogFile();
        std::shared_ptr<spdlog::logger> logger;
        if (!file.isEmpty()) {
            const std::string name = "cvnlog" + std::to_string(QDateTime::currentMSecsSinceEpoch());
            logger = applog::makeFileLogger(name, toStd(QDir::toNativeSeparators(file)));
        }
        if (logger) {
            applog::disableBacktrace();
            applog::setLevel(static_cast<int>(corvane::log::Level::debug));
            logger->set_level(spdlog::level::debug);
            applog::installDefault(logger);
            if (mainWindow_) {
                emit mainWindow_->showMessage(tr("Adding debug information to the file: ") + file);
            }
        } else {
            debugLogsOn_ = false;
        }
        if (mainWindow_) {
            mainWindow_->emitUpdateDebugStatus(debugLogsOn_);
        }
        return;
    }
    CLOG_INFO("Disabling debug logs");
    applog::setLevel(static_cast<int>(corvane::log::Level::off));
    applog::enableBacktrace(applog::kBacktraceMessages);
    applog::installDefault(savedLogger_);
    applog::setLevel(static_cast<int>(corvane::log::Level::off));
    if (mainWindow_) {
        emit mainWindow_->showMessage(tr("Debug logs disabled"));
    }
}

void Tembra::onGetDebugStatus() {
    if (mainWindow_) {
        mainWindow_->emitUpdateDebugStatus(debugLogsOn_);
    }
}

int Tembra::readLoginInt(const QString& key) {
    loginSettings_.beginGroup(kGroup);
    const int value = loginSettings_.value(key).toInt();
    loginSettings_.endGroup();
    return value;
}

QString Tembra::readLoginString(const QString& key) {
    loginSettings_.beginGroup(kGroup);
    const QString value = loginSettings_.value(key).toString();
    loginSettings_.endGroup();
    return value;
}

void Tembra::writeLoginInt(const QString& key, int value) {
    loginSettings_.beginGroup(kGroup);
    loginSettings_.setValue(key, value);
    loginSettings_.endGroup();
}

void Tembra::writeLoginString(const QString& key, const QString& value) {
    loginSettings_.beginGroup(kGroup);
    loginSettings_.setValue(key, value);
    loginSettings_.endGroup();
}

QString Tembra::readLanguage() {
    languageSettings_.beginGroup(kGroup);
    const QString value = languageSettings_.value(kLanguage).toString();
    languageSettings_.endGroup();
    return value;
}

void Tembra::writeLanguage(const QString& value) {
    languageSettings_.beginGroup(kGroup);
    languageSettings_.setValue(kLanguage, value);
    languageSettings_.endGroup();
}
