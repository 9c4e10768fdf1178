#include "tembra.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDebug>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QInputMethod>
#include <QLocale>
#include <QStandardPaths>

#include <spdlog/spdlog.h>

#include "app_logging.h"
#include "app_paths.h"
#include "client/corvane.h"
#include "corvane/action_data.h"
#include "corvane/action_types.h"
#include "corvane/corvane_settings.h"
#include "crash_handler.h"
#include "platform.h"
#include "qt_task_manager.h"
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
    pendingOperation_ = 0;
    mainWindow_->show();
    mainWindow_->raise();
    mainWindow_->activateWindow();
    mainWindow_->setApplicationLanguage(language_ == QLatin1String("es") ? 1 : 0);
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
    // "Unknown error" ends an action the same way as success.
    if (code != 0 && code != 9) {
        actionFailed(action);
        return;
    }
    switch (action->getType()) {
        case corvane::LOGIN:
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
        default:
            break;
    }
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
        pendingOperation_ = 0;
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
        if (mainWindow_ && (type == corvane::LOGIN_LINK || pendingOperation_ == 11)) {
            mainWindow_->emitError(pendingOperation_ == 11 ? 15 : 13);
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
