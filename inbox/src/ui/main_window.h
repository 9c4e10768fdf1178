#pragma once

#include <QMainWindow>
#include <QString>
#include <QStringList>
#include <QVector>
#include <cstdint>
#include <functional>

#include "ui/main_window_items.h"

class QDateTime;
class QSettings;
class Ui_MainWindow;

// The main window after sign-in: a QML view of the main screen whose context property
// "mainWindow" is this object. It holds the lists the screens show (inboxes, contacts with
// their outboxes, received and sent records with their files, the files to attach) and the
// account's figures; the controller fills them, the screens read them through the invokables
// below and keep their selection and filter in the items' checked and visible flags. Ids
// cross to QML as decimal text. Remembers its size and position in the "WINDOW" group of the
// application's INI settings. GUI thread only.
class MainWindow : public QMainWindow {
    Q_OBJECT
    Q_PROPERTY(
        int applicationLanguage READ getApplicationLanguage WRITE setApplicationLanguage NOTIFY setDefaultLanguage)

public:
    using Clock = std::function<QDateTime()>;

    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // Plays the new-record sound; each call has a player of its own, so quick calls overlap.
    void playNotificationSound();

    // The "now" of the relative dates; the local clock unless replaced.
    void setClock(Clock clock);

    // 0 English, 1 Spanish. The writer notifies also when the value does not change.
    int getApplicationLanguage() const;
    void setApplicationLanguage(int language);

    // Forwarders the controller calls to notify the screens; each only emits its signal.
    void emitError(int errorType);
    void emitSystemError(int errorType);
    void emitReloadApplication();
    void emitUpdateDebugStatus(bool status);
    void emitSendUpdateAlert();
    void emitUpdateRecordTransferData(QString percentage, QString currentFile, QString totalFiles, QString currentSize,
                                      QString totalSize);

    // The model's operations the controller calls. Lists stay newest first (inboxes, records)
    // or by lower-cased name (contacts) after every addition.
    void addInbox(uint64_t id, QString name, QString description, uint64_t date);
    void addOutbox(uint64_t id, uint64_t contactId, QString name, QString link, QString inboxOwner);
    void addContact(uint64_t id, uint64_t userId, QString name);
    void insertContact(int index, uint64_t id, uint64_t userId, QString name);
    // Files the record as received when its parent is an own inbox, else as sent to receiver.
    void addRecord(uint64_t parentId, uint64_t id, QString sender, QString receiver, QString subject, QString message,
                   uint64_t date, bool read);
    void addSentRecord(uint64_t parentId, uint64_t id, QString receiver, QString subject, QString message,
                       uint64_t date);
    void addRecordFile(uint64_t recordId, uint64_t fileId, QString name, uint64_t size, uint64_t date);
    void updateInbox(uint64_t id, QString name, QString description);
    void updateInboxDate(uint64_t id, uint64_t date);
    void renameOutbox(QString contactId, QString outboxId, QString newName);
    void setOutboxInboxOwner(QString link, QString ownerName);
    void renameContact(uint64_t id, QString newName);
    void setRecordStatus(uint64_t id, int status);
    void removeInbox(uint64_t id);
    void removeRecord(uint64_t id);
    void removeSentRecord(QString id);
    void removeOutbox(uint64_t id);
    void removeContact(uint64_t id);
    // Empties inboxes, contacts and both record lists; outboxes, files and figures stay.
    void clearLists();
    // 3 (and error(3)) when another inbox has exactly this name, else -1 (and error(-1)).
    int checkInboxName(QString name, uint64_t id);
    // The outbox's id, or the all-ones value when no outbox has the link.
    uint64_t getOutboxIdByLink(QString link) const;
    QString getContactNameByOutboxId(uint64_t outboxId) const;
    QStringList getContactsUserIds() const;
    void setUserEmail(QString email);
    void setUserName(QString firstName, QString lastName);
    void setPlanInfo(QString plan, uint64_t usedBytes, uint64_t totalBytes);
    void set2FAStatus(bool enabled);
    void set2FAEnabled();
    void set2FADisabled();
    void set2FALink(QString link, QString qrPath);
    void setExternalInbox(QString link);
    void setUploadedFiles(QStringList paths);
    void finishProcess(QString message);
    void reloadMetadata(uint64_t fileId);
    QString formatStorageSize(QString bytes) const;

    // Received records.
    Q_INVOKABLE int getRecordCount() const;
    Q_INVOKABLE int getVisibleRecordCount() const;
    Q_INVOKABLE int getUnreadRecordCount() const;
    Q_INVOKABLE QStringList getRecordIds() const;
    Q_INVOKABLE QString getRecordSubjectById(QString recordId) const;
    Q_INVOKABLE QString getRecordMessageById(QString recordId) const;
    Q_INVOKABLE QString getRecordSenderById(QString recordId) const;
    Q_INVOKABLE QString getRecordDateById(QString recordId) const;
    Q_INVOKABLE QString getRecordSizeById(QString recordId) const;
    Q_INVOKABLE QString getRecordStatusById(QString recordId) const;
    Q_INVOKABLE QString getRecordVisibilityById(QString recordId) const;
    Q_INVOKABLE QString getRecordCheckById(QString recordId) const;
    Q_INVOKABLE QString getInboxNameByRecordId(QString recordId) const;
    Q_INVOKABLE int getCheckedRecordsCount() const;
    Q_INVOKABLE bool getDocManagerRecordIsChecked() const;
    Q_INVOKABLE void setRecordCheckById(QString recordId, int check);
    Q_INVOKABLE void checkVisibleRecords();
    Q_INVOKABLE void uncheckVisibleRecords();
    Q_INVOKABLE void checkVisibleRecords(QString inboxId);
    Q_INVOKABLE void uncheckVisibleRecords(QString inboxId);
    Q_INVOKABLE void readCheckedRecords();
    Q_INVOKABLE void unreadCheckedRecords();
    Q_INVOKABLE void showAllRecords();
    Q_INVOKABLE void showUnreadRecords();
    Q_INVOKABLE void filterRecordsBySubject(QString filter);
    Q_INVOKABLE void sortRecordsByDate();
    Q_INVOKABLE void onDeleteSelectedRecordsClicked();

    // Files of a record, received or sent.
    Q_INVOKABLE QString getRecordFilesCount(QString recordId) const;
    Q_INVOKABLE QStringList getRecordFileNamesById(QString recordId) const;
    Q_INVOKABLE QStringList getRecordFileSizesById(QString recordId) const;
    Q_INVOKABLE QString getFileId(QString recordId, int fileIndex) const;

    // Sent records.
    Q_INVOKABLE int getSentRecordsCount() const;
    Q_INVOKABLE int getVisibleSentRecordCount() const;
    Q_INVOKABLE QStringList getSentRecordIds() const;
    Q_INVOKABLE QString getSentRecordReceiverById(QString recordId) const;
    Q_INVOKABLE QString getSentRecordSubjectById(QString recordId) const;
    Q_INVOKABLE QString getSentRecordMessageById(QString recordId) const;
    Q_INVOKABLE QString getSentRecordDateById(QString recordId) const;
    Q_INVOKABLE QString getOutboxNameByRecordId(QString recordId) const;
    Q_INVOKABLE QString getSentRecordVisibilityById(QString recordId) const;
    Q_INVOKABLE QString getSentRecordCheckById(QString recordId) const;
    Q_INVOKABLE int getCheckedSentRecordsCount() const;
    Q_INVOKABLE void setSentRecordCheckById(QString recordId, int check);
    Q_INVOKABLE void checkVisibleSentRecords();
    Q_INVOKABLE void uncheckVisibleSentRecords();
    Q_INVOKABLE void filterSentRecordsBySubject(QString filter);
    Q_INVOKABLE void onDeleteSelectedSentRecordsClicked();

    // Sent records of one outbox.
    Q_INVOKABLE QStringList getRecordIds(QString outboxId) const;
    Q_INVOKABLE int getRecordCount(QString outboxId) const;
    Q_INVOKABLE QStringList getRecordSenders(QString outboxId) const;
    Q_INVOKABLE QStringList getRecordSubjects(QString outboxId) const;
    Q_INVOKABLE QStringList getRecordMessages(QString outboxId) const;
    Q_INVOKABLE QStringList getRecordDates(QString outboxId) const;
    Q_INVOKABLE QStringList getRecordSizes(QString outboxId) const;
    Q_INVOKABLE QStringList getRecordNumberFiles(QString outboxId) const;
    Q_INVOKABLE void checkVisibleSentRecords(QString outboxId);
    Q_INVOKABLE void uncheckVisibleSentRecords(QString outboxId);

    // Inboxes.
    Q_INVOKABLE int getInboxesCount() const;
    Q_INVOKABLE int getVisibleInboxesCount() const;
    Q_INVOKABLE QStringList getInboxesIds() const;
    Q_INVOKABLE QString getInboxName(QString inboxId) const;
    Q_INVOKABLE QString getInboxDescription(QString inboxId) const;
    Q_INVOKABLE QString getInboxDate(QString inboxId) const;
    Q_INVOKABLE QStringList getInboxRecordIds(QString inboxId) const;
    Q_INVOKABLE QString getInboxRecordCount(QString inboxId) const;
    Q_INVOKABLE QString getInboxUnreadRecordCount(QString inboxId) const;
    Q_INVOKABLE QString getInboxFileCount(QString inboxId) const;
    Q_INVOKABLE QString getInboxSize(QString inboxId) const;
    Q_INVOKABLE QStringList getInboxRecordNumberFiles(QString inboxId) const;
    Q_INVOKABLE QString getInboxVisibilityById(QString inboxId) const;
    Q_INVOKABLE QString getInboxCheckById(QString inboxId) const;
    Q_INVOKABLE int getCheckedInboxesCount() const;
    Q_INVOKABLE bool getDocManagerInboxIsChecked() const;
    Q_INVOKABLE void setInboxCheckById(QString inboxId, int check);
    Q_INVOKABLE void checkVisibleInboxes();
    Q_INVOKABLE void uncheckVisibleInboxes();
    Q_INVOKABLE void sortInboxesByName();
    Q_INVOKABLE void sortInboxesByDate();
    Q_INVOKABLE void filterInboxes(QString filter);
    Q_INVOKABLE QString getExternalInbox() const;
    Q_INVOKABLE void onDeleteSelectedInboxesClicked();

    // Contacts and outboxes.
    Q_INVOKABLE int getContactsCount() const;
    Q_INVOKABLE int getVisibleContactsCount() const;
    Q_INVOKABLE QStringList getContactsIds() const;
    Q_INVOKABLE QStringList getContactNames() const;
    Q_INVOKABLE QString getContactVisibilityById(QString contactId) const;
    Q_INVOKABLE QString getContactCheckById(QString contactId) const;
    Q_INVOKABLE void setContactCheckById(QString contactId, int check);
    Q_INVOKABLE void checkVisibleContacts();
    Q_INVOKABLE void uncheckVisibleContacts();
    Q_INVOKABLE int getCheckedContactsCount() const;
    Q_INVOKABLE void sortContactsByName();
    Q_INVOKABLE void filterContacts(QString filter);
    Q_INVOKABLE QString getExternalContactId() const;
    Q_INVOKABLE int getOutboxesCount() const;
    Q_INVOKABLE int getOutboxesCount(QString contactId) const;
    Q_INVOKABLE QStringList getOutboxesIds(QString contactId) const;
    Q_INVOKABLE QStringList getOutboxesNames(QString contactId) const;
    Q_INVOKABLE QStringList getOutboxesReceivers(QString contactId) const;
    Q_INVOKABLE QStringList getOutboxesInboxOwners(QString contactId) const;
    Q_INVOKABLE QStringList getOutboxesLinks() const;
    Q_INVOKABLE QStringList getOutboxesLinks(QString contactId) const;
    Q_INVOKABLE QString getInboxLink(QString contactId, QString inboxName) const;
    Q_INVOKABLE QString getOutboxVisibilityById(QString outboxId) const;
    Q_INVOKABLE QString getOutboxCheckById(QString outboxId) const;
    Q_INVOKABLE void setOutboxCheckById(QString outboxId, int check);
    Q_INVOKABLE void checkVisibleOutboxes();
    Q_INVOKABLE void uncheckVisibleOutboxes();
    Q_INVOKABLE int getCheckedOutboxesCount() const;
    Q_INVOKABLE void filterOutboxes(QString filter);
    Q_INVOKABLE void onDeleteSelectedContactsClicked();
    Q_INVOKABLE void onDeleteSelectedOutboxesClicked();

    // Profile, shell and other values.
    Q_INVOKABLE QString getUserEmail() const;
    Q_INVOKABLE QString getUserFirstName() const;
    Q_INVOKABLE QString getUserLastName() const;
    Q_INVOKABLE int get2FAStatus() const;
    Q_INVOKABLE QStringList getUploadedFiles() const;
    Q_INVOKABLE QString getAppVersion() const;
    Q_INVOKABLE QString getDataPath() const;
    Q_INVOKABLE QString getThumbnailPath(QString fileName, QString nodeId) const;
    Q_INVOKABLE QString getPreviewPath(QString fileName, QString nodeId) const;
    Q_INVOKABLE void onCopy2FALinkClicked(QString link);

    // Requests to the controller: each converts its id texts and emits its signal.
    Q_INVOKABLE void onLogoutButtonClicked();
    Q_INVOKABLE void onDeleteInboxClicked(QString inboxId);
    Q_INVOKABLE void onDeleteRecordClicked(QString recordId);
    Q_INVOKABLE void onEditInboxClicked(QString inboxId, QString newName, QString newDescription);
    Q_INVOKABLE void onCreateInboxClicked(QString inboxName, QString inboxDescription);
    Q_INVOKABLE void onShareNodeClicked(QString nodeId);
    Q_INVOKABLE void onDownloadNodeClicked(QString nodeId, QString nodeName);
    Q_INVOKABLE void onUploadFilesClicked();
    Q_INVOKABLE void onDragFile(QString fileName);
    Q_INVOKABLE void onDeleteUploadedFileClicked(int uploadedFileIndex);
    Q_INVOKABLE void onSendRecordClicked(QString inboxLink, QString contactInfo, QString subject, QString message);
    Q_INVOKABLE void onCreateContactClicked(QString contactName, QString inboxLink);
    Q_INVOKABLE void onCreateOutboxClicked(QString contactId, QString inboxLink);
    Q_INVOKABLE void onDeleteContactClicked(QString contactId);
    Q_INVOKABLE void onEditContactClicked(QString contactId, QString newContactName);
    Q_INVOKABLE void onDeleteOutboxClicked(QString outboxId);
    Q_INVOKABLE void onEditOutboxClicked(QString contactId, QString inboxId, QString newName);
    Q_INVOKABLE void onDeleteSentRecordClicked(QString recordId);
    Q_INVOKABLE void onGetRecoveryKeyClicked();
    Q_INVOKABLE void onShowPrivacyPolicyClicked();
    Q_INVOKABLE void onSetLanguageClicked(int languageIndex);
    Q_INVOKABLE void onModifyRecordStatusClicked(QString recordId, int status);
    Q_INVOKABLE void onGetOriginalInboxOwnerStarted(QString originalInboxLink);
    Q_INVOKABLE void onMakeTransferClicked(QString receiver, QString subject, QString message);
    Q_INVOKABLE void cleanApplicationTempData();
    Q_INVOKABLE void onCreate2FALinkClicked();
    Q_INVOKABLE void onEnable2FAClicked(QString code);
    Q_INVOKABLE void onDisable2FAClicked(QString code);
    Q_INVOKABLE void onGetFileMetadata(QString fileId, QString fileName);
    Q_INVOKABLE void onUpdateClicked();
    Q_INVOKABLE void onModifyDebugStatusClicked(bool status);
    Q_INVOKABLE void getDebugStatus();
    Q_INVOKABLE void getUserPlan();
    Q_INVOKABLE void onSendAnywayClicked();
    Q_INVOKABLE void onDeleteAccountClicked(QString reason);

signals:
    // Requests, connected by the controller to its slot "on" + the name (64-bit ids are
    // declared uint64_t: the controller connects by these signature texts).
    void logout();
    void deleteInbox(uint64_t inboxId);
    void deleteRecord(uint64_t recordId);
    void editInbox(uint64_t inboxId, QString newName, QString newDescription);
    void createInbox(QString inboxName, QString inboxDescription);
    void shareNode(uint64_t nodeId);
    void downloadNode(uint64_t nodeId, QString nodeName);
    void uploadFiles();
    void dragFile(QString fileName);
    void deleteUploadedFile(int uploadedFileIndex);
    void sendRecord(QString inboxLink, QString contactInfo, QString subject, QString message);
    void createContact(QString contactName, QString inboxLink);
    void createOutbox(QString contactId, QString inboxLink);
    void deleteContact(uint64_t contactId);
    void editContact(uint64_t contactId, QString newContactName);
    void deleteOutbox(QString outboxId);
    void editOutbox(QString contactId, QString inboxId, QString newName);
    void deleteSentRecord(QString recordId);
    void getRecoveryKey();
    void showPrivacyPolicy();
    void changeLanguage(int languageIndex);
    void modifyRecordStatus(uint64_t recordId, int status);
    void getOriginalInboxOwner(QString originalInboxLink);
    void makeTransfer(QString receiver, QString subject, QString message);
    void cleanTempData();
    void create2FALink();
    void enable2FA(QString code);
    void disable2FA(QString code);
    void downloadFileMetadata(uint64_t fileId, QString fileName);
    void updateTembra();
    void modifyDebugStatus(bool status);
    void getDebugStatusSignal();
    void getPlanInfo();
    void sendAnyway();
    void deleteAccount(QString reason);

    // Notifications to the screens.
    void error(int errorType);
    void systemError(int errorType);
    void reloadApplication();
    void updateUploadedFiles();
    void processFinished(QString message);
    void updateContacts();
    void updateOutboxes();
    void reloadSentRecords();
    void userLoaded(QString firstName, QString lastName);
    void emailLoaded(QString email);
    void planLoaded(QString plan, QString uStorage, QString tStorage, QString ratio);
    void recoveryKeyDownloaded();
    void setDefaultLanguage();
    void translateToES();
    void translateToEN();
    void updateUnreadCount();
    void showUnreadIndicator();
    void hideUnreadIndicator();
    void updateRecordTransferData(QString percentage, QString currentFile, QString totalFiles, QString currentSize,
                                  QString totalSize);
    void link2FAcreated(QString link, QString qrPath);
    void enabled2FA();
    void disabled2FA();
    void reloadMetadataSignal(QString fileId);
    void sendUpdateAlert();
    void showMessage(QString message);
    void updateDebugStatus(bool status);

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    QDateTime now() const;
    QString mediaPath(const char* prefix, const QString& nodeId) const;
    void sortRecordLists();
    void markCheckedRecords(int status);
    // The files of the inbox's received records, record by record in list order.
    QVector<const RecordFileItem*> inboxFiles(const QString& inboxId) const;

    Ui_MainWindow* ui;
    QSettings* settings;
    Clock clock;

    QVector<InboxItem> inboxes;
    QVector<OutboxItem> outboxes;
    QVector<ContactItem> contacts;
    QVector<RecordItem> receivedRecords;
    QVector<RecordItem> sentRecords;
    QVector<RecordFileItem> recordFiles;
    QStringList uploadedFiles;

    QString userEmail;
    QString userFirstName;
    QString userLastName;
    QString planName;
    QString usedStorage;
    QString totalStorage;
    QString storageRatio;
    QString externalInbox;
    int twoFactorStatus = 0;
    int applicationLanguage = 0;
};
