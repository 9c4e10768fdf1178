// The main window's queries and selections for the screens: getters, counts, id lists, the
// checked and visible flags with their bulk forms, filters, sorts and bulk deletes.
#include <QDateTime>
#include <QDir>
#include <QFileInfo>

#include "app_paths.h"
#include "ui/display_format.h"
#include "ui/main_window.h"
#include "ui/main_window_lists.h"

using namespace main_window_lists;

namespace {

const char* const kDocManagerInbox = "CVN_DOCMANAGER_DEFAULT";
const char* const kDocManagerSubjectPrefix = "[CVN_";

template <typename Item, typename Field>
QString fieldById(const QVector<Item>& list, const QString& id, Field field) {
    const int index = indexOfId(list, idFromText(id));
    return index >= 0 ? field(list.at(index)) : QString();
}

template <typename Item>
QString visibleText(const QVector<Item>& list, const QString& id) {
    return fieldById(list, id, [](const Item& item) { return QString::number(item.visible); });
}

template <typename Item>
QString checkedText(const QVector<Item>& list, const QString& id) {
    return fieldById(list, id, [](const Item& item) { return QString::number(item.checked); });
}

template <typename Item>
void setChecked(QVector<Item>& list, const QString& id, int check) {
    const int index = indexOfId(list, idFromText(id));
    if (index >= 0) list[index].checked = check;
}

// Only shown items change: a selection made before a filter survives it.
template <typename Item, typename Predicate>
void checkVisible(QVector<Item>& list, int check, Predicate belongs) {
    for (Item& item : list) {
        if (item.visible == 1 && belongs(item)) item.checked = check;
    }
}

template <typename Item>
void checkVisible(QVector<Item>& list, int check) {
    checkVisible(list, check, [](const Item&) { return true; });
}

template <typename Item>
int visibleCount(const QVector<Item>& list) {
    return countIf(list, [](const Item& item) { return item.visible == 1; });
}

template <typename Item>
int checkedCount(const QVector<Item>& list) {
    return countIf(list, [](const Item& item) { return item.checked == 1; });
}

template <typename Item, typename Field>
void filterBy(QVector<Item>& list, const QString& filter, Field field) {
    for (Item& item : list)
        item.visible = field(item).contains(filter, Qt::CaseInsensitive) ? 1 : 0;
}

template <typename Item, typename Predicate, typename Field>
QStringList collect(const QVector<Item>& list, Predicate belongs, Field field) {
    QStringList values;
    for (const Item& item : list) {
        if (belongs(item)) values.append(field(item));
    }
    return values;
}

template <typename Item>
QStringList allIds(const QVector<Item>& list) {
    return collect(
        list, [](const Item&) { return true; }, [](const Item& item) { return idText(item.id); });
}

// Ids of the checked items as they stand now: each delete request removes its item from the
// live list before it returns.
template <typename Item>
QStringList checkedIds(const QVector<Item>& list) {
    return collect(
        list, [](const Item& item) { return item.checked == 1; }, [](const Item& item) { return idText(item.id); });
}

}  // namespace

// Received records.

int MainWindow::getRecordCount() const {
    return receivedRecords.size();
}

int MainWindow::getVisibleRecordCount() const {
    return visibleCount(receivedRecords);
}

int MainWindow::getUnreadRecordCount() const {
    return countIf(receivedRecords, [](const RecordItem& record) { return !record.read; });
}

QStringList MainWindow::getRecordIds() const {
    return allIds(receivedRecords);
}

QString MainWindow::getRecordSubjectById(QString recordId) const {
    return fieldById(receivedRecords, recordId, [](const RecordItem& record) { return record.subject; });
}

QString MainWindow::getRecordMessageById(QString recordId) const {
    return fieldById(receivedRecords, recordId, [](const RecordItem& record) { return record.message; });
}

QString MainWindow::getRecordSenderById(QString recordId) const {
    return fieldById(receivedRecords, recordId, [](const RecordItem& record) { return record.party; });
}

QString MainWindow::getRecordDateById(QString recordId) const {
    const QDateTime current = now();
    return fieldById(receivedRecords, recordId,
                     [&](const RecordItem& record) { return display_format::relativeDate(record.date, current); });
}

QString MainWindow::getRecordSizeById(QString recordId) const {
    const uint64_t id = idFromText(recordId);
    uint64_t total = 0;
    for (const RecordFileItem& file : recordFiles) {
        if (file.recordId == id) total += file.size;
    }
    return display_format::sizeText(total);
}

QString MainWindow::getRecordStatusById(QString recordId) const {
    return fieldById(receivedRecords, recordId,
                     [](const RecordItem& record) { return QString::number(record.read ? 1 : 0); });
}

QString MainWindow::getRecordVisibilityById(QString recordId) const {
    return visibleText(receivedRecords, recordId);
}

QString MainWindow::getRecordCheckById(QString recordId) const {
    return checkedText(receivedRecords, recordId);
}

QString MainWindow::getInboxNameByRecordId(QString recordId) const {
    const int record = indexOfId(receivedRecords, idFromText(recordId));
    if (record < 0) return QString();
    const int inbox = indexOfId(inboxes, receivedRecords.at(record).parentId);
    return inbox >= 0 ? inboxes.at(inbox).name : QString();
}

int MainWindow::getCheckedRecordsCount() const {
    return checkedCount(receivedRecords);
}

bool MainWindow::getDocManagerRecordIsChecked() const {
    return firstIndex(receivedRecords, [](const RecordItem& record) {
               return record.checked == 1 && record.subject.startsWith(QLatin1String(kDocManagerSubjectPrefix));
           }) >= 0;
}

void MainWindow::setRecordCheckById(QString recordId, int check) {
    setChecked(receivedRecords, recordId, check);
}

void MainWindow::checkVisibleRecords() {
    checkVisible(receivedRecords, 1);
}

void MainWindow::uncheckVisibleRecords() {
    checkVisible(receivedRecords, 0);
}

void MainWindow::checkVisibleRecords(QString inboxId) {
    const uint64_t id = idFromText(inboxId);
    checkVisible(receivedRecords, 1, [id](const RecordItem& record) { return record.parentId == id; });
}

void MainWindow::uncheckVisibleRecords(QString inboxId) {
    const uint64_t id = idFromText(inboxId);
    checkVisible(receivedRecords, 0, [id](const RecordItem& record) { return record.parentId == id; });
}

void MainWindow::readCheckedRecords() {
    markCheckedRecords(1);
}

void MainWindow::unreadCheckedRecords() {
    markCheckedRecords(0);
}

void MainWindow::markCheckedRecords(int status) {
    // By index: the controller hears each request before the next record is marked.
    for (int i = 0; i < receivedRecords.size(); ++i) {
        if (receivedRecords.at(i).checked != 1) continue;
        receivedRecords[i].read = status == 1;
        emit modifyRecordStatus(receivedRecords.at(i).id, status);
        emit updateUnreadCount();
    }
}

void MainWindow::showAllRecords() {
    for (RecordItem& record : receivedRecords)
        record.visible = 1;
}

void MainWindow::showUnreadRecords() {
    for (RecordItem& record : receivedRecords)
        record.visible = record.read ? 0 : 1;
}

void MainWindow::filterRecordsBySubject(QString filter) {
    filterBy(receivedRecords, filter, [](const RecordItem& record) { return record.subject; });
}

void MainWindow::sortRecordsByDate() {
    sortRecordLists();
}

void MainWindow::onDeleteSelectedRecordsClicked() {
    for (const QString& id : checkedIds(receivedRecords))
        onDeleteRecordClicked(id);
}

// Files of a record.

QString MainWindow::getRecordFilesCount(QString recordId) const {
    const uint64_t id = idFromText(recordId);
    return QString::number(countIf(recordFiles, [id](const RecordFileItem& file) { return file.recordId == id; }));
}

QStringList MainWindow::getRecordFileNamesById(QString recordId) const {
    const uint64_t id = idFromText(recordId);
    return collect(
        recordFiles, [id](const RecordFileItem& file) { return file.recordId == id; },
        [](const RecordFileItem& file) { return file.name; });
}

QStringList MainWindow::getRecordFileSizesById(QString recordId) const {
    const uint64_t id = idFromText(recordId);
    return collect(
        recordFiles, [id](const RecordFileItem& file) { return file.recordId == id; },
        [](const RecordFileItem& file) { return display_format::sizeText(file.size); });
}

QString MainWindow::getFileId(QString recordId, int fileIndex) const {
    const uint64_t id = idFromText(recordId);
    int seen = 0;
    for (const RecordFileItem& file : recordFiles) {
        if (file.recordId != id) continue;
        if (seen == fileIndex) return idText(file.fileId);
        ++seen;
    }
    return QString();
}

// Sent records.

int MainWindow::getSentRecordsCount() const {
    return sentRecords.size();
}

int MainWindow::getVisibleSentRecordCount() const {
    return visibleCount(sentRecords);
}

QStringList MainWindow::getSentRecordIds() const {
    return allIds(sentRecords);
}

QString MainWindow::getSentRecordReceiverById(QString recordId) const {
    return fieldById(sentRecords, recordId, [](const RecordItem& record) { return record.party; });
}

QString MainWindow::getSentRecordSubjectById(QString recordId) const {
    return fieldById(sentRecords, recordId, [](const RecordItem& record) { return record.subject; });
}

QString MainWindow::getSentRecordMessageById(QString recordId) const {
    return fieldById(sentRecords, recordId, [](const RecordItem& record) { return record.message; });
}

QString MainWindow::getSentRecordDateById(QString recordId) const {
    const QDateTime current = now();
    return fieldById(sentRecords, recordId,
                     [&](const RecordItem& record) { return display_format::relativeDate(record.date, current); });
}

QString MainWindow::getOutboxNameByRecordId(QString recordId) const {
    const int record = indexOfId(sentRecords, idFromText(recordId));
    if (record < 0) return QString();
    const int outbox = indexOfId(outboxes, sentRecords.at(record).parentId);
    return outbox >= 0 ? outboxes.at(outbox).name : QString();
}

QString MainWindow::getSentRecordVisibilityById(QString recordId) const {
    return visibleText(sentRecords, recordId);
}

QString MainWindow::getSentRecordCheckById(QString recordId) const {
    return checkedText(sentRecords, recordId);
}

int MainWindow::getCheckedSentRecordsCount() const {
    return checkedCount(sentRecords);
}

void MainWindow::setSentRecordCheckById(QString recordId, int check) {
    setChecked(sentRecords, recordId, check);
}

void MainWindow::checkVisibleSentRecords() {
    checkVisible(sentRecords, 1);
}

void MainWindow::uncheckVisibleSentRecords() {
    checkVisible(sentRecords, 0);
}

void MainWindow::filterSentRecordsBySubject(QString filter) {
    filterBy(sentRecords, filter, [](const RecordItem& record) { return record.subject; });
}

void MainWindow::onDeleteSelectedSentRecordsClicked() {
    for (const QString& id : checkedIds(sentRecords))
        onDeleteSentRecordClicked(id);
}

// Sent records of one outbox.

namespace {

auto underParent(const QString& parentId) {
    const uint64_t id = idFromText(parentId);
    return [id](const RecordItem& record) { return record.parentId == id; };
}

}  // namespace

QStringList MainWindow::getRecordIds(QString outboxId) const {
    return collect(sentRecords, underParent(outboxId), [](const RecordItem& record) { return idText(record.id); });
}

int MainWindow::getRecordCount(QString outboxId) const {
    return countIf(sentRecords, underParent(outboxId));
}

QStringList MainWindow::getRecordSenders(QString outboxId) const {
    return collect(sentRecords, underParent(outboxId), [](const RecordItem& record) { return record.party; });
}

QStringList MainWindow::getRecordSubjects(QString outboxId) const {
    return collect(sentRecords, underParent(outboxId), [](const RecordItem& record) { return record.subject; });
}

QStringList MainWindow::getRecordMessages(QString outboxId) const {
    return collect(sentRecords, underParent(outboxId), [](const RecordItem& record) { return record.message; });
}

QStringList MainWindow::getRecordDates(QString outboxId) const {
    const QDateTime current = now();
    return collect(sentRecords, underParent(outboxId),
                   [&](const RecordItem& record) { return display_format::relativeDate(record.date, current); });
}

// Like their siblings, one entry per sent record of the outbox.
QStringList MainWindow::getRecordSizes(QString outboxId) const {
    return collect(sentRecords, underParent(outboxId),
                   [this](const RecordItem& record) { return getRecordSizeById(idText(record.id)); });
}

QStringList MainWindow::getRecordNumberFiles(QString outboxId) const {
    return collect(sentRecords, underParent(outboxId),
                   [this](const RecordItem& record) { return getRecordFilesCount(idText(record.id)); });
}

void MainWindow::checkVisibleSentRecords(QString outboxId) {
    checkVisible(sentRecords, 1, underParent(outboxId));
}

void MainWindow::uncheckVisibleSentRecords(QString outboxId) {
    checkVisible(sentRecords, 0, underParent(outboxId));
}

// Inboxes.

int MainWindow::getInboxesCount() const {
    return inboxes.size();
}

int MainWindow::getVisibleInboxesCount() const {
    return visibleCount(inboxes);
}

QStringList MainWindow::getInboxesIds() const {
    return allIds(inboxes);
}

QString MainWindow::getInboxName(QString inboxId) const {
    return fieldById(inboxes, inboxId, [](const InboxItem& inbox) { return inbox.name; });
}

QString MainWindow::getInboxDescription(QString inboxId) const {
    return fieldById(inboxes, inboxId, [](const InboxItem& inbox) { return inbox.description; });
}

QString MainWindow::getInboxDate(QString inboxId) const {
    const QDateTime current = now();
    return fieldById(inboxes, inboxId,
                     [&](const InboxItem& inbox) { return display_format::relativeDate(inbox.date, current); });
}

QStringList MainWindow::getInboxRecordIds(QString inboxId) const {
    return collect(receivedRecords, underParent(inboxId), [](const RecordItem& record) { return idText(record.id); });
}

QString MainWindow::getInboxRecordCount(QString inboxId) const {
    return QString::number(countIf(receivedRecords, underParent(inboxId)));
}

QString MainWindow::getInboxUnreadRecordCount(QString inboxId) const {
    const auto belongs = underParent(inboxId);
    return QString::number(
        countIf(receivedRecords, [&](const RecordItem& record) { return belongs(record) && !record.read; }));
}

QVector<const RecordFileItem*> MainWindow::inboxFiles(const QString& inboxId) const {
    QVector<const RecordFileItem*> files;
    const auto belongs = underParent(inboxId);
    for (const RecordItem& record : receivedRecords) {
        if (!belongs(record)) continue;
        for (const RecordFileItem& file : recordFiles) {
            if (file.recordId == record.id) files.append(&file);
        }
    }
    return files;
}

QString MainWindow::getInboxFileCount(QString inboxId) const {
    return QString::number(inboxFiles(inboxId).size());
}

QString MainWindow::getInboxSize(QString inboxId) const {
    uint64_t total = 0;
    for (const RecordFileItem* file : inboxFiles(inboxId))
        total += file->size;
    return display_format::sizeText(total);
}

QStringList MainWindow::getInboxRecordNumberFiles(QString inboxId) const {
    QStringList sizes;
    for (const RecordFileItem* file : inboxFiles(inboxId))
        sizes.append(QString::number(file->size));
    return sizes;
}

QString MainWindow::getInboxVisibilityById(QString inboxId) const {
    return visibleText(inboxes, inboxId);
}

QString MainWindow::getInboxCheckById(QString inboxId) const {
    return checkedText(inboxes, inboxId);
}

int MainWindow::getCheckedInboxesCount() const {
    return checkedCount(inboxes);
}

bool MainWindow::getDocManagerInboxIsChecked() const {
    return firstIndex(inboxes, [](const InboxItem& inbox) {
               return inbox.checked == 1 && inbox.name == QLatin1String(kDocManagerInbox);
           }) >= 0;
}

void MainWindow::setInboxCheckById(QString inboxId, int check) {
    setChecked(inboxes, inboxId, check);
}

void MainWindow::checkVisibleInboxes() {
    checkVisible(inboxes, 1);
}

void MainWindow::uncheckVisibleInboxes() {
    checkVisible(inboxes, 0);
}

void MainWindow::sortInboxesByName() {
    sortByName(inboxes);
}

void MainWindow::sortInboxesByDate() {
    sortNewestFirst(inboxes);
}

void MainWindow::filterInboxes(QString filter) {
    filterBy(inboxes, filter, [](const InboxItem& inbox) { return inbox.name; });
}

QString MainWindow::getExternalInbox() const {
    return externalInbox;
}

void MainWindow::onDeleteSelectedInboxesClicked() {
    for (const QString& id : checkedIds(inboxes))
        onDeleteInboxClicked(id);
}

// Contacts and outboxes.

int MainWindow::getContactsCount() const {
    return contacts.size();
}

int MainWindow::getVisibleContactsCount() const {
    return visibleCount(contacts);
}

QStringList MainWindow::getContactsIds() const {
    return allIds(contacts);
}

QStringList MainWindow::getContactNames() const {
    return collect(
        contacts, [](const ContactItem&) { return true; }, [](const ContactItem& contact) { return contact.name; });
}

QString MainWindow::getContactVisibilityById(QString contactId) const {
    return visibleText(contacts, contactId);
}

QString MainWindow::getContactCheckById(QString contactId) const {
    return checkedText(contacts, contactId);
}

void MainWindow::setContactCheckById(QString contactId, int check) {
    setChecked(contacts, contactId, check);
}

void MainWindow::checkVisibleContacts() {
    checkVisible(contacts, 1);
}

void MainWindow::uncheckVisibleContacts() {
    checkVisible(contacts, 0);
}

int MainWindow::getCheckedContactsCount() const {
    return checkedCount(contacts);
}

void MainWindow::sortContactsByName() {
    sortByName(contacts);
}

void MainWindow::filterContacts(QString filter) {
    filterBy(contacts, filter, [](const ContactItem& contact) { return contact.name; });
}

QString MainWindow::getExternalContactId() const {
    const int index = firstIndex(outboxes, [this](const OutboxItem& outbox) { return outbox.link == externalInbox; });
    return index >= 0 ? idText(outboxes.at(index).contactId) : QString();
}

namespace {

auto ofContact(const QString& contactId) {
    const uint64_t id = idFromText(contactId);
    return [id](const OutboxItem& outbox) { return outbox.contactId == id; };
}

}  // namespace

int MainWindow::getOutboxesCount() const {
    return outboxes.size();
}

int MainWindow::getOutboxesCount(QString contactId) const {
    return countIf(outboxes, ofContact(contactId));
}

QStringList MainWindow::getOutboxesIds(QString contactId) const {
    return collect(outboxes, ofContact(contactId), [](const OutboxItem& outbox) { return idText(outbox.id); });
}

QStringList MainWindow::getOutboxesNames(QString contactId) const {
    return collect(outboxes, ofContact(contactId), [](const OutboxItem& outbox) { return outbox.name; });
}

QStringList MainWindow::getOutboxesReceivers(QString contactId) const {
    return getOutboxesInboxOwners(contactId);
}

QStringList MainWindow::getOutboxesInboxOwners(QString contactId) const {
    return collect(outboxes, ofContact(contactId), [](const OutboxItem& outbox) { return outbox.inboxOwner; });
}

QStringList MainWindow::getOutboxesLinks() const {
    return collect(
        outboxes, [](const OutboxItem&) { return true; }, [](const OutboxItem& outbox) { return outbox.link; });
}

QStringList MainWindow::getOutboxesLinks(QString contactId) const {
    return collect(outboxes, ofContact(contactId), [](const OutboxItem& outbox) { return outbox.link; });
}

QString MainWindow::getInboxLink(QString contactId, QString inboxName) const {
    const auto belongs = ofContact(contactId);
    const int index = firstIndex(outboxes, [&](const OutboxItem& outbox) {
        return belongs(outbox) && outbox.name.compare(inboxName, Qt::CaseInsensitive) == 0;
    });
    return index >= 0 ? outboxes.at(index).link : QString();
}

QString MainWindow::getOutboxVisibilityById(QString outboxId) const {
    return visibleText(outboxes, outboxId);
}

QString MainWindow::getOutboxCheckById(QString outboxId) const {
    return checkedText(outboxes, outboxId);
}

void MainWindow::setOutboxCheckById(QString outboxId, int check) {
    setChecked(outboxes, outboxId, check);
}

void MainWindow::checkVisibleOutboxes() {
    checkVisible(outboxes, 1);
}

void MainWindow::uncheckVisibleOutboxes() {
    checkVisible(outboxes, 0);
}

int MainWindow::getCheckedOutboxesCount() const {
    return checkedCount(outboxes);
}

void MainWindow::filterOutboxes(QString filter) {
    filterBy(outboxes, filter, [](const OutboxItem& outbox) { return outbox.name; });
}

void MainWindow::onDeleteSelectedContactsClicked() {
    for (const QString& id : checkedIds(contacts))
        onDeleteContactClicked(id);
}

void MainWindow::onDeleteSelectedOutboxesClicked() {
    for (const QString& id : checkedIds(outboxes))
        onDeleteOutboxClicked(id);
}

// Profile, shell and other values.

QString MainWindow::getUserEmail() const {
    return userEmail;
}

QString MainWindow::getUserFirstName() const {
    return userFirstName;
}

QString MainWindow::getUserLastName() const {
    return userLastName;
}

int MainWindow::get2FAStatus() const {
    return twoFactorStatus;
}

QStringList MainWindow::getUploadedFiles() const {
    return uploadedFiles;
}

QString MainWindow::getDataPath() const {
    return apppaths::dataFolder();
}

QString MainWindow::mediaPath(const char* prefix, const QString& nodeId) const {
    const QString path =
        QDir::toNativeSeparators(QDir::fromNativeSeparators(apppaths::dataFolder()) + QLatin1Char('/') + nodeId +
                                 QLatin1Char('/') + QLatin1String(prefix) + nodeId + QLatin1String(".jpg"));
    return QFileInfo::exists(path) ? path : QString();
}

QString MainWindow::getThumbnailPath(QString fileName, QString nodeId) const {
    return mediaPath("thumb_", nodeId);
}

QString MainWindow::getPreviewPath(QString fileName, QString nodeId) const {
    return mediaPath("preview_", nodeId);
}
