// Qt Test program of the main window's model, queries and display formatting.
#include <QApplication>
#include <QtTest/QTest>

#include "model_tests.h"

namespace model_tests {

std::vector<Factory>& registry() {
    static std::vector<Factory> tests;
    return tests;
}

WindowFixture::WindowFixture() {
    QCoreApplication::setOrganizationName(QStringLiteral("TembraModelTest"));
    QCoreApplication::setApplicationName(QStringLiteral("Tembra"));
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, folder_.path());
    QSettings::setDefaultFormat(QSettings::IniFormat);
    window_ = std::make_unique<MainWindow>();
}

WindowFixture::~WindowFixture() {
    window_.reset();
    QSettings::setDefaultFormat(QSettings::NativeFormat);
}

SignalLog::SignalLog(MainWindow& window) {
    const auto id = [](uint64_t value) { return QString::number(value); };
    connect(&window, &MainWindow::error, this, [this](int type) { record("error", {QString::number(type)}); });
    connect(&window, &MainWindow::reloadApplication, this, [this] { record("reloadApplication"); });
    connect(&window, &MainWindow::updateUploadedFiles, this, [this] { record("updateUploadedFiles"); });
    connect(&window, &MainWindow::processFinished, this,
            [this](const QString& message) { record("processFinished", {message}); });
    connect(&window, &MainWindow::updateContacts, this, [this] { record("updateContacts"); });
    connect(&window, &MainWindow::updateOutboxes, this, [this] { record("updateOutboxes"); });
    connect(&window, &MainWindow::reloadSentRecords, this, [this] { record("reloadSentRecords"); });
    connect(&window, &MainWindow::userLoaded, this, [this](const QString& first, const QString& last) {
        record("userLoaded", {first, last});
    });
    connect(&window, &MainWindow::emailLoaded, this, [this](const QString& email) { record("emailLoaded", {email}); });
    connect(&window, &MainWindow::planLoaded, this,
            [this](const QString& plan, const QString& used, const QString& total, const QString& ratio) {
                record("planLoaded", {plan, used, total, ratio});
            });
    connect(&window, &MainWindow::updateUnreadCount, this, [this] { record("updateUnreadCount"); });
    connect(&window, &MainWindow::showUnreadIndicator, this, [this] { record("showUnreadIndicator"); });
    connect(&window, &MainWindow::hideUnreadIndicator, this, [this] { record("hideUnreadIndicator"); });
    connect(&window, &MainWindow::link2FAcreated, this, [this](const QString& link, const QString& qr) {
        record("link2FAcreated", {link, qr});
    });
    connect(&window, &MainWindow::enabled2FA, this, [this] { record("enabled2FA"); });
    connect(&window, &MainWindow::disabled2FA, this, [this] { record("disabled2FA"); });
    connect(&window, &MainWindow::reloadMetadataSignal, this,
            [this](const QString& fileId) { record("reloadMetadataSignal", {fileId}); });
    connect(&window, &MainWindow::deleteInbox, this, [this, id](uint64_t v) { record("deleteInbox", {id(v)}); });
    connect(&window, &MainWindow::deleteRecord, this, [this, id](uint64_t v) { record("deleteRecord", {id(v)}); });
    connect(&window, &MainWindow::deleteContact, this, [this, id](uint64_t v) { record("deleteContact", {id(v)}); });
    connect(&window, &MainWindow::deleteOutbox, this, [this](const QString& v) { record("deleteOutbox", {v}); });
    connect(&window, &MainWindow::deleteSentRecord, this,
            [this](const QString& v) { record("deleteSentRecord", {v}); });
    connect(&window, &MainWindow::modifyRecordStatus, this, [this, id](uint64_t v, int status) {
        record("modifyRecordStatus", {id(v), QString::number(status)});
    });
}

void SignalLog::record(const QString& name, const QStringList& arguments) {
    entries.append(arguments.isEmpty() ? name : name + "(" + arguments.join(",") + ")");
}

void fillAccount(MainWindow& window) {
    window.addInbox(10, "Work", "Office mail", 1000);
    window.addInbox(11, "Home", "Family", 2000);
    window.addContact(30, 300, "Ann");
    window.addContact(31, 301, "Bob");
    window.addOutbox(40, 30, "Ann office", "https://l/40", "");
    window.addOutbox(41, 30, "Ann home", "https://l/41", "");
    window.addOutbox(42, 31, "Bob desk", "https://l/42", "");
    window.addRecord(10, 100, "sender@a", "", "Invoice", "Please pay", 5000, false);
    window.addRecord(11, 101, "sender@b", "", "Photos", "Holiday", 4000, true);
    window.addRecord(40, 200, "", "Ann", "Offer", "Our offer", 3000, false);
    window.addRecord(41, 201, "", "Ann", "Reminder", "Still there?", 2000, false);
    window.addRecord(42, 202, "", "Bob", "Hello", "Hi Bob", 1000, false);
    window.addRecordFile(100, 900, "invoice.pdf", 1024, 5000);
    window.addRecordFile(100, 901, "terms.txt", 512, 5000);
    window.addRecordFile(200, 902, "offer.pdf", 10, 3000);
}

QMap<QString, QString> snapshot(const MainWindow& window) {
    QMap<QString, QString> parts;
    QStringList inboxes;
    for (const QString& id : window.getInboxesIds())
        inboxes << id + " " + window.getInboxName(id);
    parts["inboxes"] = inboxes.join(",");
    parts["received"] = window.getRecordIds().join(",");
    QStringList sent;
    for (const QString& id : window.getSentRecordIds())
        sent << id + " " + window.getSentRecordReceiverById(id);
    parts["sent"] = sent.join(",");
    const QStringList contactIds = window.getContactsIds();
    const QStringList contactNames = window.getContactNames();
    QStringList contacts;
    for (int i = 0; i < contactIds.size(); ++i)
        contacts << contactIds[i] + " " + contactNames.value(i);
    parts["contacts"] = contacts.join(",");
    for (const char* contact : {"30", "31"}) {
        const QStringList ids = window.getOutboxesIds(contact);
        const QStringList names = window.getOutboxesNames(contact);
        const QStringList owners = window.getOutboxesInboxOwners(contact);
        QStringList outboxes;
        for (int i = 0; i < ids.size(); ++i)
            outboxes << ids[i] + " " + names[i] + "/" + owners[i];
        parts[QString("outboxes of ") + contact] = outboxes.join(",");
    }
    QStringList files;
    for (const char* record : {"100", "101", "200"}) {
        files << QString(record) + ":" + window.getRecordFileNamesById(record).join("+");
    }
    parts["files"] = files.join(",");
    return parts;
}

}  // namespace model_tests

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    int status = 0;
    for (const model_tests::Factory& make : model_tests::registry()) {
        const std::unique_ptr<QObject> test = make();
        status |= QTest::qExec(test.get(), argc, argv);
    }
    return status;
}
