// The item model's operations as the controller calls them: filing, order, changes, the
// removal cascades and the notifications each sends.
#include <QtTest/QTest>

#include "model_tests.h"

using namespace model_tests;

namespace {

using Changes = QMap<QString, QString>;

QStringList ids(std::initializer_list<const char*> values) {
    QStringList list;
    for (const char* value : values)
        list << value;
    return list;
}

}  // namespace

class MainWindowModelTest : public QObject {
    Q_OBJECT

private slots:
    void init() { fixture = std::make_unique<WindowFixture>(); }
    void cleanup() { fixture.reset(); }

    void addRecordFilesByParent_data() {
        QTest::addColumn<QStringList>("inboxes");
        QTest::addColumn<quint64>("parentId");
        QTest::addColumn<bool>("received");

        QTest::newRow("parent is an own inbox") << ids({"10", "11"}) << quint64(11) << true;
        QTest::newRow("parent is no own inbox") << ids({"10", "11"}) << quint64(40) << false;
        QTest::newRow("no inboxes yet") << QStringList() << quint64(10) << false;
    }

    void addRecordFilesByParent() {
        QFETCH(QStringList, inboxes);
        QFETCH(quint64, parentId);
        QFETCH(bool, received);
        MainWindow& window = fixture->window();
        for (const QString& inbox : inboxes)
            window.addInbox(inbox.toULongLong(), "Inbox " + inbox, "", 1);

        window.addRecord(parentId, 500, "sender text", "Receiver Name", "Subject", "Message", 10, true);

        QCOMPARE(window.getRecordIds(), received ? ids({"500"}) : QStringList());
        QCOMPARE(window.getSentRecordIds(), received ? QStringList() : ids({"500"}));
        if (received) {
            QCOMPARE(window.getRecordSenderById("500"), QString("sender text"));
            QCOMPARE(window.getRecordStatusById("500"), QString("1"));
            QCOMPARE(window.getInboxNameByRecordId("500"), "Inbox " + QString::number(parentId));
        } else {
            QCOMPARE(window.getSentRecordReceiverById("500"), QString("Receiver Name"));
            QCOMPARE(window.getRecordIds(QString::number(parentId)), ids({"500"}));
        }
    }

    // Each list keeps its order after every addition, whatever order the tree walk delivers.
    void additionsKeepListOrder_data() {
        QTest::addColumn<Operation>("operation");
        QTest::addColumn<QString>("part");
        QTest::addColumn<QString>("expected");

        QTest::newRow("inboxes newest first") << Operation([](MainWindow& w) {
            w.addInbox(1, "a", "", 100);
            w.addInbox(2, "b", "", 300);
            w.addInbox(3, "c", "", 200);
        }) << "inboxes"
                                              << "2 b,3 c,1 a";
        QTest::newRow("received newest first") << Operation([](MainWindow& w) {
            w.addInbox(1, "in", "", 1);
            w.addRecord(1, 11, "", "", "s", "", 100, false);
            w.addRecord(1, 12, "", "", "s", "", 300, false);
            w.addRecord(1, 13, "", "", "s", "", 200, false);
        }) << "received"
                                               << "12,13,11";
        QTest::newRow("dates beyond 32 bits compare as numbers") << Operation([](MainWindow& w) {
            w.addRecord(9, 11, "", "x", "s", "", 1, false);
            w.addRecord(9, 12, "", "y", "s", "", quint64(1) << 40, false);
            w.addRecord(9, 13, "", "z", "s", "", 1u << 31, false);
        }) << "sent"
                                                                 << "12 y,13 z,11 x";
        QTest::newRow("contacts by lower-cased name") << Operation([](MainWindow& w) {
            w.addContact(1, 0, "bob");
            w.addContact(2, 0, "Carol");
            w.addContact(3, 0, "alice");
            w.addContact(4, 0, "B");
        }) << "contacts"
                                                      << "3 alice,4 B,1 bob,2 Carol";
        QTest::newRow("an inserted contact is sorted too") << Operation([](MainWindow& w) {
            w.addContact(1, 0, "alice");
            w.addContact(2, 0, "carol");
            w.insertContact(0, 3, 0, "bob");
            w.insertContact(99, 4, 0, "aaron");
        }) << "contacts"
                                                           << "4 aaron,1 alice,3 bob,2 carol";
    }

    void additionsKeepListOrder() {
        QFETCH(Operation, operation);
        QFETCH(QString, part);
        QFETCH(QString, expected);
        operation(fixture->window());
        QCOMPARE(snapshot(fixture->window()).value(part), expected);
    }

    // Changes and removals on a filled account: what changes, what stays, and the notifications
    // in the order the screens hear them.
    void changesAndCascades_data() {
        QTest::addColumn<Operation>("operation");
        QTest::addColumn<QStringList>("emitted");
        QTest::addColumn<Changes>("changes");

        QTest::newRow("remove a contact with two outboxes")
            << Operation([](MainWindow& w) { w.removeContact(30); })
            << ids({"reloadSentRecords", "reloadSentRecords", "updateOutboxes", "updateOutboxes", "updateContacts"})
            << Changes{{"contacts", "31 Bob"}, {"outboxes of 30", ""}, {"sent", "202 Bob"}};
        QTest::newRow("remove an unknown contact")
            << Operation([](MainWindow& w) { w.removeContact(99); }) << ids({"updateContacts"}) << Changes{};
        QTest::newRow("remove an outbox and its sent records")
            << Operation([](MainWindow& w) { w.removeOutbox(42); }) << ids({"updateOutboxes", "reloadSentRecords"})
            << Changes{{"outboxes of 31", ""}, {"sent", "200 Ann,201 Ann"}};
        QTest::newRow("remove an unknown outbox")
            << Operation([](MainWindow& w) { w.removeOutbox(99); }) << QStringList() << Changes{};
        QTest::newRow("remove a sent record") << Operation([](MainWindow& w) { w.removeSentRecord("201"); })
                                              << ids({"reloadSentRecords"}) << Changes{{"sent", "200 Ann,202 Bob"}};
        QTest::newRow("remove a sent record by text that is no number")
            << Operation([](MainWindow& w) { w.removeSentRecord("abc"); }) << ids({"reloadSentRecords"}) << Changes{};
        QTest::newRow("remove an inbox with its records, files stay")
            << Operation([](MainWindow& w) { w.removeInbox(10); }) << QStringList()
            << Changes{{"inboxes", "11 Home"}, {"received", "101"}};
        QTest::newRow("remove a received record")
            << Operation([](MainWindow& w) { w.removeRecord(101); }) << QStringList() << Changes{{"received", "100"}};
        QTest::newRow("rename a contact and its sent records")
            << Operation([](MainWindow& w) { w.renameContact(30, "Anna"); }) << ids({"updateContacts"})
            << Changes{{"contacts", "30 Anna,31 Bob"}, {"sent", "200 Anna,201 Anna,202 Bob"}};
        QTest::newRow("rename an unknown contact")
            << Operation([](MainWindow& w) { w.renameContact(99, "Ann"); }) << ids({"updateContacts"}) << Changes{};
        QTest::newRow("rename an outbox of its contact")
            << Operation([](MainWindow& w) { w.renameOutbox("31", "42", "Bob home"); }) << ids({"updateOutboxes"})
            << Changes{{"outboxes of 31", "42 Bob home/"}};
        QTest::newRow("rename an outbox under another contact")
            << Operation([](MainWindow& w) { w.renameOutbox("30", "42", "Bob home"); }) << ids({"updateOutboxes"})
            << Changes{};
        QTest::newRow("outbox owner by exact link")
            << Operation([](MainWindow& w) {
                   w.setOutboxInboxOwner("https://l/41", "Ann Smith");
                   w.setOutboxInboxOwner("HTTPS://L/40", "Nobody");
               })
            << ids({"updateOutboxes", "updateOutboxes"})
            << Changes{{"outboxes of 30", "40 Ann office/,41 Ann home/Ann Smith"}};
        QTest::newRow("update an inbox") << Operation([](MainWindow& w) { w.updateInbox(10, "Office", "New"); })
                                         << ids({"reloadApplication"}) << Changes{{"inboxes", "11 Home,10 Office"}};
        QTest::newRow("update an unknown inbox") << Operation([](MainWindow& w) {
            w.updateInbox(99, "Office", "New");
            w.updateInboxDate(99, 1);
        }) << ids({"reloadApplication", "reloadApplication"})
                                                 << Changes{};
        QTest::newRow("a new inbox date does not re-sort")
            << Operation([](MainWindow& w) { w.updateInboxDate(10, 9000); }) << ids({"reloadApplication"}) << Changes{};
        QTest::newRow("clearing keeps outboxes and files")
            << Operation([](MainWindow& w) { w.clearLists(); }) << QStringList()
            << Changes{{"inboxes", ""}, {"received", ""}, {"sent", ""}, {"contacts", ""}};
        QTest::newRow("a contact added notifies") << Operation([](MainWindow& w) {
            w.addContact(32, 302, "Al");
            w.addOutbox(43, 32, "Al desk", "https://l/43", "Al Smith");
        }) << ids({"updateContacts", "updateContacts"})
                                                  << Changes{{"contacts", "32 Al,30 Ann,31 Bob"}};
    }

    void changesAndCascades() {
        QFETCH(Operation, operation);
        QFETCH(QStringList, emitted);
        QFETCH(Changes, changes);
        MainWindow& window = fixture->window();
        fillAccount(window);
        QMap<QString, QString> expected = snapshot(window);
        for (auto change = changes.cbegin(); change != changes.cend(); ++change) {
            QVERIFY2(expected.contains(change.key()), qPrintable(change.key()));
            expected[change.key()] = change.value();
        }
        SignalLog log(window);

        operation(window);

        QCOMPARE(log.entries, emitted);
        const QMap<QString, QString> actual = snapshot(window);
        for (auto part = expected.cbegin(); part != expected.cend(); ++part) {
            QCOMPARE(part.key() + ": " + actual.value(part.key()), part.key() + ": " + part.value());
        }
    }

    void setRecordStatus_data() {
        QTest::addColumn<quint64>("id");
        QTest::addColumn<int>("status");
        QTest::addColumn<QStringList>("emitted");
        QTest::addColumn<int>("unread");

        // Record 100 is unread, 101 read.
        QTest::newRow("read") << quint64(100) << 1 << ids({"updateUnreadCount", "hideUnreadIndicator"}) << 0;
        QTest::newRow("unread") << quint64(101) << 0 << ids({"updateUnreadCount", "showUnreadIndicator"}) << 2;
        QTest::newRow("unknown id still notifies")
            << quint64(99) << 0 << ids({"updateUnreadCount", "showUnreadIndicator"}) << 1;
        QTest::newRow("sent records are not received ones")
            << quint64(200) << 1 << ids({"updateUnreadCount", "hideUnreadIndicator"}) << 1;
    }

    void setRecordStatus() {
        QFETCH(quint64, id);
        QFETCH(int, status);
        QFETCH(QStringList, emitted);
        QFETCH(int, unread);
        MainWindow& window = fixture->window();
        fillAccount(window);
        SignalLog log(window);

        window.setRecordStatus(id, status);

        QCOMPARE(log.entries, emitted);
        QCOMPARE(window.getUnreadRecordCount(), unread);
    }

    void checkInboxName_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<quint64>("id");
        QTest::addColumn<int>("expected");

        QTest::newRow("taken, creating") << "Work" << quint64(0) << 3;
        QTest::newRow("its own name, editing") << "Work" << quint64(10) << -1;
        QTest::newRow("another's name, editing") << "Home" << quint64(10) << 3;
        QTest::newRow("case differs") << "work" << quint64(0) << -1;
        QTest::newRow("part of a name") << "Wor" << quint64(0) << -1;
        QTest::newRow("free") << "Shop" << quint64(0) << -1;
    }

    void checkInboxName() {
        QFETCH(QString, name);
        QFETCH(quint64, id);
        QFETCH(int, expected);
        MainWindow& window = fixture->window();
        fillAccount(window);
        QSignalSpy errors(&window, &MainWindow::error);

        QCOMPARE(window.checkInboxName(name, id), expected);

        QCOMPARE(errors.count(), 1);
        QCOMPARE(errors.at(0).at(0).toInt(), expected);
    }

    // What the controller reads back while it walks the tree and files what it sends.
    void controllerLookups_data() {
        QTest::addColumn<Operation>("setup");
        QTest::addColumn<Read>("lookup");
        QTest::addColumn<QString>("expected");

        const Operation none = [](MainWindow&) {};
        QTest::newRow("outbox by link") << none << Read([](const MainWindow& w) {
            return QString::number(w.getOutboxIdByLink("https://l/41"));
        }) << "41";
        QTest::newRow("no outbox by link is all ones")
            << none << Read([](const MainWindow& w) { return QString::number(w.getOutboxIdByLink("https://l/41/")); })
            << "18446744073709551615";
        QTest::newRow("contact name by outbox")
            << none << Read([](const MainWindow& w) { return w.getContactNameByOutboxId(42); }) << "Bob";
        QTest::newRow("contact name by unknown outbox")
            << none << Read([](const MainWindow& w) { return w.getContactNameByOutboxId(99); }) << "";
        QTest::newRow("contact name of an outbox without contact")
            << Operation([](MainWindow& w) { w.addOutbox(44, 77, "Orphan", "https://l/44", ""); })
            << Read([](const MainWindow& w) { return w.getContactNameByOutboxId(44); }) << "";
        QTest::newRow("user ids pair with contact ids")
            << Operation([](MainWindow& w) { w.addContact(32, 302, "Al"); }) << Read([](const MainWindow& w) {
                   return w.getContactsIds().join(",") + " / " + w.getContactsUserIds().join(",");
               })
            << "32,30,31 / 302,300,301";
        QTest::newRow("record status") << none << Read([](const MainWindow& w) {
            return w.getRecordStatusById("100") + w.getRecordStatusById("101") + "|" + w.getRecordStatusById("99");
        }) << "01|";
        QTest::newRow("outbox links") << none
                                      << Read([](const MainWindow& w) { return w.getOutboxesLinks().join(","); })
                                      << "https://l/40,https://l/41,https://l/42";
        QTest::newRow("external inbox") << Operation([](MainWindow& w) {
            w.setExternalInbox("https://l/42");
        }) << Read([](const MainWindow& w) { return w.getExternalInbox() + " " + w.getExternalContactId(); })
                                        << "https://l/42 31";
    }

    void controllerLookups() {
        QFETCH(Operation, setup);
        QFETCH(Read, lookup);
        QFETCH(QString, expected);
        MainWindow& window = fixture->window();
        fillAccount(window);
        setup(window);
        QCOMPARE(lookup(window), expected);
    }

    // The account's figures: what each setter stores and which notification carries it.
    void accountFigures_data() {
        QTest::addColumn<Operation>("operation");
        QTest::addColumn<QStringList>("emitted");
        QTest::addColumn<Read>("read");
        QTest::addColumn<QString>("expected");

        const Read nothing = [](const MainWindow&) { return QString(); };
        QTest::newRow("user name") << Operation([](MainWindow& w) { w.setUserName("Ana", "Ruiz"); })
                                   << ids({"userLoaded(Ana,Ruiz)"}) << Read([](const MainWindow& w) {
                                          return w.getUserFirstName() + " " + w.getUserLastName();
                                      })
                                   << "Ana Ruiz";
        QTest::newRow("e-mail") << Operation([](MainWindow& w) { w.setUserEmail("ana@example.com"); })
                                << ids({"emailLoaded(ana@example.com)"})
                                << Read([](const MainWindow& w) { return w.getUserEmail(); }) << "ana@example.com";
        QTest::newRow("plan: used in whole units")
            << Operation([](MainWindow& w) { w.setPlanInfo("Business", 1610612736ull, 10737418240ull); })
            << ids({"planLoaded(Business,1 GB,10 GB,0.15)"}) << nothing << "";
        QTest::newRow("plan: nothing used") << Operation([](MainWindow& w) { w.setPlanInfo("Free", 0, 1073741824); })
                                            << ids({"planLoaded(Free,0 Bytes,1024 MB,0)"}) << nothing << "";
        QTest::newRow("plan: small ratio in exponent form")
            << Operation([](MainWindow& w) { w.setPlanInfo("Free", 1, 100000); })
            << ids({"planLoaded(Free,1 Bytes,97 KB,1e-05)"}) << nothing << "";
        QTest::newRow("plan: over quota") << Operation([](MainWindow& w) { w.setPlanInfo("Free", 3072, 2048); })
                                          << ids({"planLoaded(Free,3 KB,2 KB,1.5)"}) << nothing << "";
        QTest::newRow("two-factor status is silent")
            << Operation([](MainWindow& w) { w.set2FAStatus(true); }) << QStringList()
            << Read([](const MainWindow& w) { return QString::number(w.get2FAStatus()); }) << "1";
        QTest::newRow("two-factor on and off")
            << Operation([](MainWindow& w) {
                   w.set2FAEnabled();
                   w.set2FADisabled();
               })
            << ids({"enabled2FA", "disabled2FA"})
            << Read([](const MainWindow& w) { return QString::number(w.get2FAStatus()); }) << "0";
        QTest::newRow("two-factor link is passed on")
            << Operation([](MainWindow& w) { w.set2FALink("otpauth://x", "/tmp/qr.png"); })
            << ids({"link2FAcreated(otpauth://x,/tmp/qr.png)"}) << nothing << "";
        QTest::newRow("files to attach") << Operation([](MainWindow& w) {
            w.setUploadedFiles({"/a.pdf", "/b.txt"});
        }) << ids({"updateUploadedFiles"})
                                         << Read([](const MainWindow& w) { return w.getUploadedFiles().join("|"); })
                                         << "/a.pdf|/b.txt";
        QTest::newRow("a finished send empties the files to attach") << Operation([](MainWindow& w) {
            w.setUploadedFiles({"/a.pdf"});
            w.finishProcess("Sent");
        }) << ids({"updateUploadedFiles", "processFinished(Sent)"}) << Read([](const MainWindow& w) {
            return w.getUploadedFiles().join("|");
        }) << "";
        QTest::newRow("metadata of a 64-bit id")
            << Operation([](MainWindow& w) { w.reloadMetadata(18446744073709551615ull); })
            << ids({"reloadMetadataSignal(18446744073709551615)"}) << nothing << "";
    }

    void accountFigures() {
        QFETCH(Operation, operation);
        QFETCH(QStringList, emitted);
        QFETCH(Read, read);
        QFETCH(QString, expected);
        MainWindow& window = fixture->window();
        SignalLog log(window);
        operation(window);
        QCOMPARE(log.entries, emitted);
        QCOMPARE(read(window), expected);
    }

private:
    std::unique_ptr<WindowFixture> fixture;
};

TEMBRA_REGISTER_TEST(MainWindowModelTest);

#include "main_window_model_test.moc"
