// The main window's item model: the operations the controller calls to fill and change the
// lists and figures, and the notifications they send.
#include <QDateTime>

#include "ui/display_format.h"
#include "ui/main_window.h"
#include "ui/main_window_lists.h"

using namespace main_window_lists;

void MainWindow::addInbox(uint64_t id, QString name, QString description, uint64_t date) {
    InboxItem inbox;
    inbox.id = id;
    inbox.name = std::move(name);
    inbox.description = std::move(description);
    inbox.date = date;
    inboxes.append(inbox);
    sortNewestFirst(inboxes);
}

void MainWindow::addOutbox(uint64_t id, uint64_t contactId, QString name, QString link, QString inboxOwner) {
    OutboxItem outbox;
    outbox.id = id;
    outbox.contactId = contactId;
    outbox.name = std::move(name);
    outbox.link = std::move(link);
    outbox.inboxOwner = std::move(inboxOwner);
    outboxes.append(outbox);
    emit updateContacts();
}

void MainWindow::addContact(uint64_t id, uint64_t userId, QString name) {
    insertContact(contacts.size(), id, userId, std::move(name));
}

void MainWindow::insertContact(int index, uint64_t id, uint64_t userId, QString name) {
    ContactItem contact;
    contact.id = id;
    contact.userId = userId;
    contact.name = std::move(name);
    // The list is sorted right after, so an index out of range only decides the end it goes to.
    contacts.insert(std::clamp(index, 0, contacts.size()), contact);
    sortByName(contacts);
    emit updateContacts();
}

void MainWindow::addRecord(uint64_t parentId, uint64_t id, QString sender, QString receiver, QString subject,
                           QString message, uint64_t date, bool read) {
    int otherInboxes = 0;
    for (int i = 0; i < inboxes.size(); ++i) {
        if (inboxes.at(i).id != parentId) {
            ++otherInboxes;
            continue;
        }
        RecordItem record;
        record.id = id;
        record.parentId = parentId;
        record.party = sender;
        record.subject = subject;
        record.message = message;
        record.date = date;
        record.read = read;
        receivedRecords.prepend(record);
        sortRecordLists();
    }
    if (otherInboxes == inboxes.size()) {
        addSentRecord(parentId, id, std::move(receiver), std::move(subject), std::move(message), date);
    }
}

void MainWindow::addSentRecord(uint64_t parentId, uint64_t id, QString receiver, QString subject, QString message,
                               uint64_t date) {
    RecordItem record;
    record.id = id;
    record.parentId = parentId;
    record.party = std::move(receiver);
    record.subject = std::move(subject);
    record.message = std::move(message);
    record.date = date;
    sentRecords.prepend(record);
    sortRecordLists();
}

void MainWindow::sortRecordLists() {
    sortNewestFirst(receivedRecords);
    sortNewestFirst(sentRecords);
}

void MainWindow::addRecordFile(uint64_t recordId, uint64_t fileId, QString name, uint64_t size, uint64_t date) {
    RecordFileItem file;
    file.fileId = fileId;
    file.recordId = recordId;
    file.name = std::move(name);
    file.size = size;
    file.date = date;
    recordFiles.append(file);
}

void MainWindow::updateInbox(uint64_t id, QString name, QString description) {
    const int index = indexOfId(inboxes, id);
    if (index >= 0) {
        inboxes[index].name = std::move(name);
        inboxes[index].description = std::move(description);
    }
    emit reloadApplication();
}

void MainWindow::updateInboxDate(uint64_t id, uint64_t date) {
    const int index = indexOfId(inboxes, id);
    if (index >= 0) inboxes[index].date = date;
    emit reloadApplication();
}

void MainWindow::renameOutbox(QString contactId, QString outboxId, QString newName) {
    const uint64_t contact = idFromText(contactId);
    const uint64_t outbox = idFromText(outboxId);
    const int index =
        firstIndex(outboxes, [&](const OutboxItem& item) { return item.id == outbox && item.contactId == contact; });
    if (index >= 0) outboxes[index].name = std::move(newName);
    emit updateOutboxes();
}

void MainWindow::setOutboxInboxOwner(QString link, QString ownerName) {
    const int index = firstIndex(outboxes, [&](const OutboxItem& item) { return item.link == link; });
    if (index >= 0) outboxes[index].inboxOwner = std::move(ownerName);
    emit updateOutboxes();
}

void MainWindow::renameContact(uint64_t id, QString newName) {
    const int index = indexOfId(contacts, id);
    if (index >= 0) {
        const QString oldName = contacts.at(index).name;
        contacts[index].name = newName;
        for (RecordItem& record : sentRecords) {
            if (record.party == oldName) record.party = newName;
        }
    }
    emit updateContacts();
}

void MainWindow::setRecordStatus(uint64_t id, int status) {
    const int index = indexOfId(receivedRecords, id);
    if (index >= 0) receivedRecords[index].read = status != 0;
    emit updateUnreadCount();
    if (status == 0) {
        emit showUnreadIndicator();
    } else if (status == 1) {
        emit hideUnreadIndicator();
    }
}

void MainWindow::removeInbox(uint64_t id) {
    const int index = indexOfId(inboxes, id);
    if (index >= 0) inboxes.remove(index);
    receivedRecords.erase(std::remove_if(receivedRecords.begin(), receivedRecords.end(),
                                         [id](const RecordItem& record) { return record.parentId == id; }),
                          receivedRecords.end());
}

void MainWindow::removeRecord(uint64_t id) {
    const int index = indexOfId(receivedRecords, id);
    if (index >= 0) receivedRecords.remove(index);
}

void MainWindow::removeSentRecord(QString id) {
    const int index = indexOfId(sentRecords, idFromText(id));
    if (index >= 0) sentRecords.remove(index);
    emit reloadSentRecords();
}

void MainWindow::removeOutbox(uint64_t id) {
    const int index = indexOfId(outboxes, id);
    if (index >= 0) {
        outboxes.remove(index);
        emit updateOutboxes();
    }
    // A copy: every removal notifies, and a listener may change the live list meanwhile.
    const QVector<RecordItem> sent = sentRecords;
    for (const RecordItem& record : sent) {
        if (record.parentId == id) removeSentRecord(idText(record.id));
    }
}

void MainWindow::removeContact(uint64_t id) {
    const int index = indexOfId(contacts, id);
    if (index >= 0) {
        const QString name = contacts.at(index).name;
        contacts.remove(index);
        const QVector<RecordItem> sent = sentRecords;
        for (const RecordItem& record : sent) {
            if (record.party == name) removeSentRecord(idText(record.id));
        }
    }
    const QVector<OutboxItem> owned = outboxes;
    for (const OutboxItem& outbox : owned) {
        if (outbox.contactId == id) removeOutbox(outbox.id);
    }
    emit updateContacts();
}

void MainWindow::clearLists() {
    inboxes.clear();
    contacts.clear();
    receivedRecords.clear();
    sentRecords.clear();
}

int MainWindow::checkInboxName(QString name, uint64_t id) {
    const bool taken =
        firstIndex(inboxes, [&](const InboxItem& inbox) { return inbox.id != id && inbox.name == name; }) >= 0;
    const int result = taken ? 3 : -1;
    emit error(result);
    return result;
}

uint64_t MainWindow::getOutboxIdByLink(QString link) const {
    const int index = firstIndex(outboxes, [&](const OutboxItem& outbox) { return outbox.link == link; });
    return index >= 0 ? outboxes.at(index).id : UINT64_MAX;
}

QString MainWindow::getContactNameByOutboxId(uint64_t outboxId) const {
    const int outbox = indexOfId(outboxes, outboxId);
    if (outbox < 0) return QString();
    const int contact = indexOfId(contacts, outboxes.at(outbox).contactId);
    return contact >= 0 ? contacts.at(contact).name : QString();
}

QStringList MainWindow::getContactsUserIds() const {
    QStringList ids;
    for (const ContactItem& contact : contacts)
        ids.append(idText(contact.userId));
    return ids;
}

void MainWindow::setUserEmail(QString email) {
    userEmail = email;
    emit emailLoaded(email);
}

void MainWindow::setUserName(QString firstName, QString lastName) {
    userFirstName = firstName;
    userLastName = lastName;
    emit userLoaded(firstName, lastName);
}

void MainWindow::setPlanInfo(QString plan, uint64_t usedBytes, uint64_t totalBytes) {
    planName = plan;
    usedStorage = formatStorageSize(QString::number(usedBytes));
    totalStorage = formatStorageSize(QString::number(totalBytes));
    storageRatio = display_format::storageRatio(usedBytes, totalBytes);
    emit planLoaded(planName, usedStorage, totalStorage, storageRatio);
}

QString MainWindow::formatStorageSize(QString bytes) const {
    return display_format::storageText(bytes);
}

void MainWindow::set2FAStatus(bool enabled) {
    twoFactorStatus = enabled ? 1 : 0;
}

void MainWindow::set2FAEnabled() {
    twoFactorStatus = 1;
    emit enabled2FA();
}

void MainWindow::set2FADisabled() {
    twoFactorStatus = 0;
    emit disabled2FA();
}

void MainWindow::set2FALink(QString link, QString qrPath) {
    emit link2FAcreated(link, qrPath);
}

void MainWindow::setExternalInbox(QString link) {
    externalInbox = std::move(link);
}

void MainWindow::setUploadedFiles(QStringList paths) {
    uploadedFiles = std::move(paths);
    emit updateUploadedFiles();
}

void MainWindow::finishProcess(QString message) {
    uploadedFiles.clear();
    emit processFinished(message);
}

void MainWindow::reloadMetadata(uint64_t fileId) {
    emit reloadMetadataSignal(idText(fileId));
}
