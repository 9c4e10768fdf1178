#include "ui/main_window.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDateTime>
#include <QMediaPlayer>
#include <QMenuBar>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickWidget>
#include <QSettings>
#include <QUrl>
#include <QVBoxLayout>

#include "ui/main_window_lists.h"

namespace {

const char* const kWindowGroup = "WINDOW";
const char* const kSizeKey = "SIZE";
const char* const kPositionKey = "POSITION";
const char* const kEnglishTitle = QT_TRANSLATE_NOOP("MainWindow", "Tembra | The Business Mail");
const char* const kSpanishTitle = "Tembra | Correo seguro para profesionales y empresas";
const char* const kNotificationSound = "qrc:/sounds/Sounds/cvnNotification.wav";
const int kNotificationVolume = 50;
const char* const kAppVersion = "1.0.0.0";

void registerQmlType() {
    static const bool registered = [] {
        qmlRegisterType<MainWindow>("Tembra.MainWindow", 1, 0, "MainWindow");
        return true;
    }();
    (void)registered;
}

}  // namespace

class Ui_MainWindow {
public:
    QWidget* centralwidget = nullptr;
    QVBoxLayout* verticalLayout = nullptr;
    QQuickWidget* mainWidget = nullptr;
    QMenuBar* menubar = nullptr;

    void setupUi(QMainWindow* window) {
        if (window->objectName().isEmpty()) window->setObjectName(QStringLiteral("MainWindow"));
        window->resize(950, 600);
        QSizePolicy policy(QSizePolicy::Fixed, QSizePolicy::Fixed);
        policy.setHorizontalStretch(0);
        policy.setVerticalStretch(0);
        policy.setHeightForWidth(window->sizePolicy().hasHeightForWidth());
        window->setSizePolicy(policy);
        window->setMinimumSize(QSize(0, 0));
        window->setBaseSize(QSize(0, 0));
        centralwidget = new QWidget(window);
        centralwidget->setObjectName(QStringLiteral("centralwidget"));
        verticalLayout = new QVBoxLayout(centralwidget);
        verticalLayout->setObjectName(QStringLiteral("verticalLayout"));
        mainWidget = new QQuickWidget(centralwidget);
        mainWidget->setObjectName(QStringLiteral("mainWidget"));
        mainWidget->setResizeMode(QQuickWidget::SizeRootObjectToView);
        verticalLayout->addWidget(mainWidget);
        window->setCentralWidget(centralwidget);
        menubar = new QMenuBar(window);
        menubar->setObjectName(QStringLiteral("menubar"));
        menubar->setGeometry(QRect(0, 0, 950, 22));
        window->setMenuBar(menubar);
        window->setWindowTitle(QCoreApplication::translate("MainWindow", kEnglishTitle));
    }
};

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent),
      ui(new Ui_MainWindow),
      settings(new QSettings(QSettings::defaultFormat(), QSettings::UserScope, QCoreApplication::organizationName(),
                             QCoreApplication::applicationName(), this)),
      clock([] { return QDateTime::currentDateTime(); }) {
    ui->setupUi(this);
    setMinimumSize(950, 600);

    settings->beginGroup(kWindowGroup);
    const QVariant size = settings->value(kSizeKey);
    const QVariant position = settings->value(kPositionKey);
    settings->endGroup();
    // An invalid size leaves the window at its minimum size.
    resize(size.canConvert<QSize>() ? size.toSize() : QSize());
    move(position.canConvert<QPoint>() ? position.toPoint() : QPoint(0, 0));

    registerQmlType();
    // Set before the source is loaded so the screen can use it from its first binding.
    ui->mainWidget->rootContext()->setContextProperty(QStringLiteral("mainWindow"), this);
    ui->mainWidget->setSource(QUrl(QStringLiteral("qrc:/MainWidget.qml")));
    ui->verticalLayout->setContentsMargins(0, 0, 0, 0);
}

MainWindow::~MainWindow() {
    delete ui;
}

void MainWindow::closeEvent(QCloseEvent* event) {
    settings->beginGroup(kWindowGroup);
    settings->setValue(kSizeKey, size());
    settings->endGroup();
    settings->beginGroup(kWindowGroup);
    settings->setValue(kPositionKey, pos());
    settings->endGroup();
    QMainWindow::closeEvent(event);
}

void MainWindow::changeEvent(QEvent* event) {
    if (event->type() == QEvent::LanguageChange) {
        // The title still shows the language that is being left.
        const QString title = windowTitle();
        if (title == QLatin1String(kSpanishTitle)) {
            emit translateToEN();
        } else if (title == QLatin1String(kEnglishTitle)) {
            emit translateToES();
        }
        setWindowTitle(QCoreApplication::translate("MainWindow", kEnglishTitle));
    }
    QMainWindow::changeEvent(event);
}

void MainWindow::playNotificationSound() {
    auto* player = new QMediaPlayer;
    // Released once it stops or fails; without a sound device it fails silently.
    connect(player, &QMediaPlayer::stateChanged, player, [player](QMediaPlayer::State state) {
        if (state == QMediaPlayer::StoppedState) player->deleteLater();
    });
    connect(player, QOverload<QMediaPlayer::Error>::of(&QMediaPlayer::error), player,
            [player](QMediaPlayer::Error) { player->deleteLater(); });
    player->setMedia(QUrl(QLatin1String(kNotificationSound)));
    player->setVolume(kNotificationVolume);
    player->play();
}

void MainWindow::setClock(Clock replacement) {
    clock = std::move(replacement);
}

QDateTime MainWindow::now() const {
    return clock();
}

int MainWindow::getApplicationLanguage() const {
    return applicationLanguage;
}

void MainWindow::setApplicationLanguage(int language) {
    applicationLanguage = language;
    emit setDefaultLanguage();
}

void MainWindow::emitError(int errorType) {
    emit error(errorType);
}

void MainWindow::emitSystemError(int errorType) {
    emit systemError(errorType);
}

void MainWindow::emitReloadApplication() {
    emit reloadApplication();
}

void MainWindow::emitUpdateDebugStatus(bool status) {
    emit updateDebugStatus(status);
}

void MainWindow::emitSendUpdateAlert() {
    emit sendUpdateAlert();
}

void MainWindow::emitUpdateRecordTransferData(QString percentage, QString currentFile, QString totalFiles,
                                              QString currentSize, QString totalSize) {
    emit updateRecordTransferData(percentage, currentFile, totalFiles, currentSize, totalSize);
}

void MainWindow::onCopy2FALinkClicked(QString link) {
    QApplication::clipboard()->setText(link, QClipboard::Clipboard);
}

QString MainWindow::getAppVersion() const {
    return QLatin1String(kAppVersion);
}

// Requests to the controller.

using main_window_lists::idFromText;

void MainWindow::onLogoutButtonClicked() {
    emit logout();
}

void MainWindow::onDeleteInboxClicked(QString inboxId) {
    emit deleteInbox(idFromText(inboxId));
}

void MainWindow::onDeleteRecordClicked(QString recordId) {
    emit deleteRecord(idFromText(recordId));
}

void MainWindow::onEditInboxClicked(QString inboxId, QString newName, QString newDescription) {
    emit editInbox(idFromText(inboxId), newName, newDescription);
}

void MainWindow::onCreateInboxClicked(QString inboxName, QString inboxDescription) {
    emit createInbox(inboxName, inboxDescription);
}

void MainWindow::onShareNodeClicked(QString nodeId) {
    emit shareNode(idFromText(nodeId));
}

void MainWindow::onDownloadNodeClicked(QString nodeId, QString nodeName) {
    emit downloadNode(idFromText(nodeId), nodeName);
}

void MainWindow::onUploadFilesClicked() {
    emit uploadFiles();
}

void MainWindow::onDragFile(QString fileName) {
    emit dragFile(fileName);
}

void MainWindow::onDeleteUploadedFileClicked(int uploadedFileIndex) {
    emit deleteUploadedFile(uploadedFileIndex);
}

void MainWindow::onSendRecordClicked(QString inboxLink, QString contactInfo, QString subject, QString message) {
    emit sendRecord(inboxLink, contactInfo, subject, message);
}

void MainWindow::onCreateContactClicked(QString contactName, QString inboxLink) {
    emit createContact(contactName, inboxLink);
}

void MainWindow::onCreateOutboxClicked(QString contactId, QString inboxLink) {
    emit createOutbox(contactId, inboxLink);
}

void MainWindow::onDeleteContactClicked(QString contactId) {
    emit deleteContact(idFromText(contactId));
}

void MainWindow::onEditContactClicked(QString contactId, QString newContactName) {
    emit editContact(idFromText(contactId), newContactName);
}

void MainWindow::onDeleteOutboxClicked(QString outboxId) {
    emit deleteOutbox(outboxId);
}

void MainWindow::onEditOutboxClicked(QString contactId, QString inboxId, QString newName) {
    emit editOutbox(contactId, inboxId, newName);
}

void MainWindow::onDeleteSentRecordClicked(QString recordId) {
    emit deleteSentRecord(recordId);
}

void MainWindow::onGetRecoveryKeyClicked() {
    emit getRecoveryKey();
}

void MainWindow::onShowPrivacyPolicyClicked() {
    emit showPrivacyPolicy();
}

void MainWindow::onSetLanguageClicked(int languageIndex) {
    emit changeLanguage(languageIndex);
}

void MainWindow::onModifyRecordStatusClicked(QString recordId, int status) {
    emit modifyRecordStatus(idFromText(recordId), status);
}

void MainWindow::onGetOriginalInboxOwnerStarted(QString originalInboxLink) {
    emit getOriginalInboxOwner(originalInboxLink);
}

void MainWindow::onMakeTransferClicked(QString receiver, QString subject, QString message) {
    emit makeTransfer(receiver, subject, message);
}

void MainWindow::cleanApplicationTempData() {
    emit cleanTempData();
}

void MainWindow::onCreate2FALinkClicked() {
    emit create2FALink();
}

void MainWindow::onEnable2FAClicked(QString code) {
    emit enable2FA(code);
}

void MainWindow::onDisable2FAClicked(QString code) {
    emit disable2FA(code);
}

void MainWindow::onGetFileMetadata(QString fileId, QString fileName) {
    emit downloadFileMetadata(idFromText(fileId), fileName);
}

void MainWindow::onUpdateClicked() {
    emit updateTembra();
}

void MainWindow::onModifyDebugStatusClicked(bool status) {
    emit modifyDebugStatus(status);
}

void MainWindow::getDebugStatus() {
    emit getDebugStatusSignal();
}

void MainWindow::getUserPlan() {
    emit getPlanInfo();
}

void MainWindow::onSendAnywayClicked() {
    emit sendAnyway();
}

void MainWindow::onDeleteAccountClicked(QString reason) {
    emit deleteAccount(reason);
}
