// The screens' queries and selections: flags, filters, sorts, aggregates, bulk operations and
// the requests the invokables send to the controller.
#include <QMetaMethod>
#include <QtTest/QTest>

#include "model_tests.h"

using namespace model_tests;

namespace {

QStringList list(std::initializer_list<const char*> values) {
    QStringList items;
    for (const char* value : values)
        items << value;
    return items;
}

// "id:visible/checked" of every item of a list, in list order.
template <typename Ids, typename Visible, typename Checked>
QString flags(const Ids& ids, Visible visible, Checked checked) {
    QStringList parts;
    for (const QString& id : ids)
        parts << id + ":" + visible(id) + "/" + checked(id);
    return parts.join(",");
}

QString inboxFlags(const MainWindow& w) {
    return flags(
        w.getInboxesIds(), [&](const QString& id) { return w.getInboxVisibilityById(id); },
        [&](const QString& id) { return w.getInboxCheckById(id); });
}

QString recordFlags(const MainWindow& w) {
    return flags(
        w.getRecordIds(), [&](const QString& id) { return w.getRecordVisibilityById(id); },
        [&](const QString& id) { return w.getRecordCheckById(id); });
}

QString sentFlags(const MainWindow& w) {
    return flags(
        w.getSentRecordIds(), [&](const QString& id) { return w.getSentRecordVisibilityById(id); },
        [&](const QString& id) { return w.getSentRecordCheckById(id); });
}

QString contactFlags(const MainWindow& w) {
    return flags(
        w.getContactsIds(), [&](const QString& id) { return w.getContactVisibilityById(id); },
        [&](const QString& id) { return w.getContactCheckById(id); });
}

QString outboxFlags(const MainWindow& w) {
    QStringList ids = w.getOutboxesIds("30") + w.getOutboxesIds("31");
    return flags(
        ids, [&](const QString& id) { return w.getOutboxVisibilityById(id); },
        [&](const QString& id) { return w.getOutboxCheckById(id); });
}

// One request invokable: what QML calls and what the controller receives.
struct Request {
    const char* invokable;
    QVariantList arguments;
    const char* signal;
    QStringList received;
};

}  // namespace

class MainWindowQueriesTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { qRegisterMetaType<uint64_t>("uint64_t"); }
    void init() {
        fixture = std::make_unique<WindowFixture>();
        fillAccount(fixture->window());
    }
    void cleanup() { fixture.reset(); }

    // The flags the screens keep their selection and filter in (account of fillAccount: inboxes
    // 11 Home, 10 Work; records 100 unread "Invoice", 101 read "Photos"; sent 200, 201, 202).
    void selections_data() {
        QTest::addColumn<Operation>("operation");
        QTest::addColumn<Read>("read");
        QTest::addColumn<QString>("expected");

        QTest::newRow("inbox filter ignores case and matches inside") << Operation([](MainWindow& w) {
            w.addInbox(12, "Homework", "", 3000);
            w.filterInboxes("WORK");
        }) << Read(inboxFlags) << "12:1/0,11:0/0,10:1/0";
        QTest::newRow("an empty filter shows every inbox") << Operation([](MainWindow& w) {
            w.filterInboxes("nothing");
            w.filterInboxes("");
        }) << Read(inboxFlags) << "11:1/0,10:1/0";
        QTest::newRow("bulk check leaves hidden inboxes") << Operation([](MainWindow& w) {
            w.filterInboxes("home");
            w.checkVisibleInboxes();
        }) << Read([](const MainWindow& w) {
            return inboxFlags(w) + " " + QString::number(w.getCheckedInboxesCount()) + " " +
                   QString::number(w.getVisibleInboxesCount());
        }) << "11:1/1,10:0/0 1 1";
        QTest::newRow("a check of 2 is stored and not counted") << Operation([](MainWindow& w) {
            w.setInboxCheckById("10", 2);
            w.setInboxCheckById("11", 1);
        }) << Read([](const MainWindow& w) {
            return inboxFlags(w) + " " + QString::number(w.getCheckedInboxesCount());
        }) << "11:1/1,10:1/2 1";
        QTest::newRow("inboxes by name, capitals aside") << Operation([](MainWindow& w) {
            w.addInbox(12, "B", "", 1);
            w.addInbox(13, "a", "", 2);
            w.sortInboxesByName();
        }) << Read([](const MainWindow& w) { return w.getInboxesIds().join(","); })
                                                         << "13,12,11,10";
        QTest::newRow("inboxes by date again") << Operation([](MainWindow& w) {
            w.sortInboxesByName();
            w.sortInboxesByDate();
        }) << Read([](const MainWindow& w) { return w.getInboxesIds().join(","); })
                                               << "11,10";
        QTest::newRow("a selection survives the filter that hides it") << Operation([](MainWindow& w) {
            w.setRecordCheckById("100", 1);
            w.filterRecordsBySubject("photo");
            w.uncheckVisibleRecords();
            w.checkVisibleRecords();
        }) << Read([](const MainWindow& w) {
            return recordFlags(w) + " " + QString::number(w.getCheckedRecordsCount());
        }) << "100:0/1,101:1/1 2";
        QTest::newRow("unchecking what is shown keeps what is hidden") << Operation([](MainWindow& w) {
            w.checkVisibleRecords();
            w.filterRecordsBySubject("INVOICE");
            w.uncheckVisibleRecords();
        }) << Read(recordFlags) << "100:1/0,101:0/1";
        QTest::newRow("checking the unread ones") << Operation([](MainWindow& w) {
            w.addRecord(10, 102, "x", "", "More", "", 6000, false);
            w.showUnreadRecords();
            w.checkVisibleRecords();
        }) << Read([](const MainWindow& w) {
            return recordFlags(w) + " " + QString::number(w.getCheckedRecordsCount()) + "=" +
                   QString::number(w.getUnreadRecordCount());
        }) << "102:1/1,100:1/1,101:0/0 2=2";
        QTest::newRow("show all after show unread") << Operation([](MainWindow& w) {
            w.showUnreadRecords();
            w.showAllRecords();
        }) << Read([](const MainWindow& w) { return QString::number(w.getVisibleRecordCount()); })
                                                    << "2";
        QTest::newRow("the last filter or view wins") << Operation([](MainWindow& w) {
            w.filterRecordsBySubject("photos");
            w.showUnreadRecords();
        }) << Read(recordFlags) << "100:1/0,101:0/0";
        QTest::newRow("a record added under a filter is shown") << Operation([](MainWindow& w) {
            w.filterRecordsBySubject("photos");
            w.addRecord(10, 102, "x", "", "Unrelated", "", 6000, false);
        }) << Read(recordFlags) << "102:1/0,100:0/0,101:1/0";
        QTest::newRow("checking one inbox's records") << Operation([](MainWindow& w) {
            w.addRecord(10, 102, "x", "", "Second", "", 6000, false);
            w.addRecord(10, 103, "x", "", "Bill", "", 7000, false);
            w.filterRecordsBySubject("o");
            w.checkVisibleRecords("10");
        }) << Read(recordFlags) << "103:0/0,102:1/1,100:1/1,101:1/0";
        QTest::newRow("unchecking one inbox's records") << Operation([](MainWindow& w) {
            w.checkVisibleRecords();
            w.uncheckVisibleRecords("11");
        }) << Read(recordFlags) << "100:1/1,101:1/0";
        QTest::newRow("sent records by subject") << Operation([](MainWindow& w) {
            w.filterSentRecordsBySubject("RE");
            w.checkVisibleSentRecords();
        }) << Read([](const MainWindow& w) {
            return sentFlags(w) + " " + QString::number(w.getCheckedSentRecordsCount()) + " " +
                   QString::number(w.getVisibleSentRecordCount());
        }) << "200:0/0,201:1/1,202:0/0 1 1";
        QTest::newRow("checking one outbox's sent records") << Operation([](MainWindow& w) {
            w.checkVisibleSentRecords("41");
            w.setSentRecordCheckById("202", 1);
            w.uncheckVisibleSentRecords("42");
        }) << Read(sentFlags) << "200:1/0,201:1/1,202:1/0";
        QTest::newRow("unchecking the shown sent records") << Operation([](MainWindow& w) {
            w.checkVisibleSentRecords();
            w.filterSentRecordsBySubject("hello");
            w.uncheckVisibleSentRecords();
        }) << Read(sentFlags) << "200:0/1,201:0/1,202:1/0";
        QTest::newRow("contacts by name filter") << Operation([](MainWindow& w) {
            w.filterContacts("NN");
            w.checkVisibleContacts();
        }) << Read([](const MainWindow& w) {
            return contactFlags(w) + " " + QString::number(w.getCheckedContactsCount()) + " " +
                   QString::number(w.getVisibleContactsCount());
        }) << "30:1/1,31:0/0 1 1";
        QTest::newRow("unchecking contacts") << Operation([](MainWindow& w) {
            w.setContactCheckById("31", 1);
            w.setContactCheckById("30", 1);
            w.filterContacts("bob");
            w.uncheckVisibleContacts();
        }) << Read(contactFlags) << "30:0/1,31:1/0";
        QTest::newRow("a renamed contact waits for the next sort")
            << Operation([](MainWindow& w) { w.renameContact(30, "Zoe"); })
            << Read([](const MainWindow& w) { return w.getContactNames().join(","); }) << "Zoe,Bob";
        QTest::newRow("sorting contacts") << Operation([](MainWindow& w) {
            w.renameContact(30, "Zoe");
            w.sortContactsByName();
        }) << Read([](const MainWindow& w) { return w.getContactNames().join(","); })
                                          << "Bob,Zoe";
        QTest::newRow("outboxes by name filter") << Operation([](MainWindow& w) {
            w.filterOutboxes("ANN");
            w.checkVisibleOutboxes();
        }) << Read([](const MainWindow& w) {
            return outboxFlags(w) + " " + QString::number(w.getCheckedOutboxesCount());
        }) << "40:1/1,41:1/1,42:0/0 2";
        QTest::newRow("unchecking outboxes") << Operation([](MainWindow& w) {
            w.setOutboxCheckById("42", 1);
            w.setOutboxCheckById("40", 1);
            w.filterOutboxes("desk");
            w.uncheckVisibleOutboxes();
        }) << Read(outboxFlags) << "40:0/1,41:0/0,42:1/0";
        QTest::newRow("flags of an unknown id") << Operation([](MainWindow& w) {
            w.setInboxCheckById("abc", 1);
            w.setRecordCheckById("99", 1);
        }) << Read([](const MainWindow& w) {
            return inboxFlags(w) + " " + recordFlags(w) + " [" + w.getInboxCheckById("99") +
                   w.getRecordVisibilityById("abc") + "]";
        }) << "11:1/0,10:1/0 100:1/0,101:1/0 []";
        QTest::newRow("document-manager inbox checked") << Operation([](MainWindow& w) {
            w.addInbox(12, "CVN_DOCMANAGER_DEFAULT", "", 1);
            w.addInbox(13, "cvn_docmanager_default", "", 1);
        }) << Read([](MainWindow& w) {
            QString answers;
            for (const char* id : {"13", "10", "12"}) {
                w.setInboxCheckById(id, 1);
                answers += w.getDocManagerInboxIsChecked() ? "1" : "0";
            }
            w.setInboxCheckById("12", 2);
            return answers + (w.getDocManagerInboxIsChecked() ? "1" : "0");
        }) << "0010";
        QTest::newRow("document-manager record checked") << Operation([](MainWindow& w) {
            w.addRecord(10, 102, "x", "", "[cvn_lower", "", 1, false);
            w.addRecord(10, 103, "x", "", "Re: [CVN_inside", "", 1, false);
            w.addRecord(10, 104, "x", "", "[CVN_DOC] contract", "", 1, false);
        }) << Read([](MainWindow& w) {
            QString answers;
            for (const char* id : {"102", "103", "100", "104"}) {
                w.setRecordCheckById(id, 1);
                answers += w.getDocManagerRecordIsChecked() ? "1" : "0";
            }
            return answers;
        }) << "0001";
    }

    void selections() {
        QFETCH(Operation, operation);
        QFETCH(Read, read);
        QFETCH(QString, expected);
        operation(fixture->window());
        QCOMPARE(read(fixture->window()), expected);
    }

    // Sums, counts and per-container lists; files of the account: 900 (1024 bytes) and 901 (512)
    // of record 100 in inbox 10, 902 (10 bytes) of sent record 200 in outbox 40.
    void aggregates_data() {
        QTest::addColumn<Read>("read");
        QTest::addColumn<QString>("expected");

        QTest::newRow("record size") << Read([](const MainWindow& w) { return w.getRecordSizeById("100"); })
                                     << "1.5 KB";
        QTest::newRow("record without files")
            << Read([](const MainWindow& w) { return w.getRecordSizeById("101"); }) << "0 Bytes";
        QTest::newRow("record files") << Read([](const MainWindow& w) {
            return w.getRecordFilesCount("100") + " " + w.getRecordFileNamesById("100").join("+") + " " +
                   w.getRecordFileSizesById("100").join("+");
        }) << "2 invoice.pdf+terms.txt 1024 Bytes+512 Bytes";
        QTest::newRow("files of a sent record") << Read([](const MainWindow& w) {
            return w.getRecordFilesCount("200") + " " + w.getRecordFileNamesById("200").join("+");
        }) << "1 offer.pdf";
        QTest::newRow("file by index") << Read([](const MainWindow& w) {
            return w.getFileId("100", 0) + "," + w.getFileId("100", 1) + "," + w.getFileId("100", 2) + "," +
                   w.getFileId("100", -1) + "," + w.getFileId("101", 0);
        }) << "900,901,,,";
        QTest::newRow("inbox aggregates") << Read([](const MainWindow& w) {
            return w.getInboxRecordCount("10") + " " + w.getInboxUnreadRecordCount("10") + " " +
                   w.getInboxFileCount("10") + " " + w.getInboxSize("10") + " " +
                   w.getInboxRecordNumberFiles("10").join("+") + " " + w.getInboxRecordIds("10").join("+");
        }) << "1 1 2 1.5 KB 1024+512 100";
        QTest::newRow("inbox without records") << Read([](const MainWindow& w) {
            return w.getInboxRecordCount("11") + " " + w.getInboxUnreadRecordCount("11") + " " +
                   w.getInboxFileCount("11") + " " + w.getInboxSize("11") + " [" +
                   w.getInboxRecordNumberFiles("11").join("+") + "]";
        }) << "1 0 0 0 Bytes []";
        QTest::newRow("unknown inbox") << Read([](const MainWindow& w) {
            return w.getInboxRecordCount("99") + " " + w.getInboxSize("99") + " [" + w.getInboxName("99") +
                   w.getInboxDescription("99") + w.getInboxDate("99") + "]";
        }) << "0 0 Bytes []";
        QTest::newRow("inbox fields") << Read([](const MainWindow& w) {
            return w.getInboxName("10") + "/" + w.getInboxDescription("10") + " " +
                   QString::number(w.getInboxesCount());
        }) << "Work/Office mail 2";
        QTest::newRow("record fields") << Read([](const MainWindow& w) {
            return w.getRecordSubjectById("100") + "/" + w.getRecordMessageById("100") + "/" +
                   w.getRecordSenderById("100") + "/" + w.getInboxNameByRecordId("101") + " " +
                   QString::number(w.getRecordCount()) + " " + QString::number(w.getUnreadRecordCount());
        }) << "Invoice/Please pay/sender@a/Home 2 1";
        QTest::newRow("record of no inbox") << Read([](const MainWindow& w) {
            return "[" + w.getInboxNameByRecordId("200") + w.getRecordSubjectById("200") + "]";
        }) << "[]";
        QTest::newRow("sent record fields") << Read([](const MainWindow& w) {
            return w.getSentRecordSubjectById("201") + "/" + w.getSentRecordMessageById("201") + "/" +
                   w.getSentRecordReceiverById("201") + "/" + w.getOutboxNameByRecordId("201") + " " +
                   QString::number(w.getSentRecordsCount());
        }) << "Reminder/Still there?/Ann/Ann home 3";
        QTest::newRow("sent records of an outbox") << Read([](const MainWindow& w) {
            return w.getRecordIds("40").join("+") + " " + QString::number(w.getRecordCount("40")) + " " +
                   w.getRecordSenders("40").join("+") + " " + w.getRecordSubjects("40").join("+") + " " +
                   w.getRecordMessages("40").join("+") + " " + w.getRecordSizes("40").join("+") + " " +
                   w.getRecordNumberFiles("40").join("+");
        }) << "200 1 Ann Offer Our offer 10 Bytes 1";
        QTest::newRow("an inbox is no outbox") << Read([](const MainWindow& w) {
            return w.getRecordIds("10").join("+") + QString::number(w.getRecordCount("10")) +
                   w.getRecordSizes("10").join("+") + w.getRecordNumberFiles("10").join("+");
        }) << "0";
        QTest::newRow("outboxes of a contact") << Read([](const MainWindow& w) {
            return QString::number(w.getOutboxesCount("30")) + " " + w.getOutboxesIds("30").join("+") + " " +
                   w.getOutboxesNames("30").join("+") + " " + w.getOutboxesLinks("30").join("+") + " " +
                   QString::number(w.getOutboxesCount());
        }) << "2 40+41 Ann office+Ann home https://l/40+https://l/41 3";
        QTest::newRow("outbox owners") << Read([](MainWindow& w) {
            w.setOutboxInboxOwner("https://l/41", "Ann Smith");
            return w.getOutboxesReceivers("30").join("+") + "|" + w.getOutboxesInboxOwners("30").join("+");
        }) << "+Ann Smith|+Ann Smith";
        QTest::newRow("inbox link by outbox name, ignoring case") << Read([](const MainWindow& w) {
            return w.getInboxLink("30", "ANN HOME") + "|" + w.getInboxLink("30", "Ann") + "|" +
                   w.getInboxLink("31", "ann home");
        }) << "https://l/41||";
        QTest::newRow("no external contact")
            << Read([](const MainWindow& w) { return w.getExternalContactId(); }) << "";
    }

    void aggregates() {
        QFETCH(Read, read);
        QFETCH(QString, expected);
        QCOMPARE(read(fixture->window()), expected);
    }

    void markCheckedRecords_data() {
        QTest::addColumn<bool>("read");
        QTest::addColumn<QStringList>("emitted");
        QTest::addColumn<QString>("statuses");

        QTest::newRow("read") << true
                              << list({"modifyRecordStatus(102,1)", "updateUnreadCount", "modifyRecordStatus(100,1)",
                                       "updateUnreadCount", "modifyRecordStatus(101,1)", "updateUnreadCount"})
                              << "1111";
        QTest::newRow("unread") << false
                                << list({"modifyRecordStatus(102,0)", "updateUnreadCount", "modifyRecordStatus(100,0)",
                                         "updateUnreadCount", "modifyRecordStatus(101,0)", "updateUnreadCount"})
                                << "0001";
    }

    // Every checked record is marked, also one that already was, one request per record in list
    // order; the unchecked one stays as it was.
    void markCheckedRecords() {
        QFETCH(bool, read);
        QFETCH(QStringList, emitted);
        QFETCH(QString, statuses);
        MainWindow& window = fixture->window();
        window.addRecord(10, 102, "x", "", "New", "", 6000, false);
        window.addRecord(10, 103, "x", "", "Old", "", 10, true);
        for (const char* id : {"100", "101", "102"})
            window.setRecordCheckById(id, 1);
        SignalLog log(window);

        read ? window.readCheckedRecords() : window.unreadCheckedRecords();

        QCOMPARE(log.entries, emitted);
        QString actual;
        for (const char* id : {"102", "100", "101", "103"})
            actual += window.getRecordStatusById(id);
        QCOMPARE(actual, statuses);
        QCOMPARE(window.getCheckedRecordsCount(), 3);
    }

    // The controller removes each item as soon as it hears the request; every checked item is
    // still asked for, and the window ends without them.
    void deleteChecked_data() {
        QTest::addColumn<Operation>("select");
        QTest::addColumn<Operation>("deleteChecked");
        QTest::addColumn<QStringList>("emitted");
        QTest::addColumn<QString>("part");
        QTest::addColumn<QString>("remaining");

        QTest::newRow("inboxes") << Operation([](MainWindow& w) {
            w.setInboxCheckById("10", 1);
            w.setInboxCheckById("11", 1);
        }) << Operation([](MainWindow& w) { w.onDeleteSelectedInboxesClicked(); })
                                 << list({"deleteInbox(11)", "deleteInbox(10)"}) << "inboxes"
                                 << "";
        QTest::newRow("received records") << Operation([](MainWindow& w) {
            w.setRecordCheckById("100", 1);
            w.setRecordCheckById("101", 1);
        }) << Operation([](MainWindow& w) { w.onDeleteSelectedRecordsClicked(); })
                                          << list({"deleteRecord(100)", "deleteRecord(101)"}) << "received"
                                          << "";
        QTest::newRow("sent records, a hidden one too")
            << Operation([](MainWindow& w) {
                   w.setSentRecordCheckById("200", 1);
                   w.setSentRecordCheckById("202", 1);
                   w.filterSentRecordsBySubject("offer");
               })
            << Operation([](MainWindow& w) { w.onDeleteSelectedSentRecordsClicked(); })
            << list({"deleteSentRecord(200)", "reloadSentRecords", "deleteSentRecord(202)", "reloadSentRecords"})
            << "sent"
            << "201 Ann";
        QTest::newRow("contacts") << Operation([](MainWindow& w) {
            w.setContactCheckById("30", 1);
            w.setContactCheckById("31", 1);
        }) << Operation([](MainWindow& w) { w.onDeleteSelectedContactsClicked(); })
                                  << list({"deleteContact(30)", "reloadSentRecords", "reloadSentRecords",
                                           "updateOutboxes", "updateOutboxes", "updateContacts", "deleteContact(31)",
                                           "reloadSentRecords", "updateOutboxes", "updateContacts"})
                                  << "contacts"
                                  << "";
        QTest::newRow("outboxes") << Operation([](MainWindow& w) {
            w.setOutboxCheckById("40", 1);
            w.setOutboxCheckById("42", 1);
        }) << Operation([](MainWindow& w) { w.onDeleteSelectedOutboxesClicked(); })
                                  << list({"deleteOutbox(40)", "updateOutboxes", "reloadSentRecords",
                                           "deleteOutbox(42)", "updateOutboxes", "reloadSentRecords"})
                                  << "outboxes of 30"
                                  << "41 Ann home/";
        QTest::newRow("nothing checked") << Operation([](MainWindow&) {}) << Operation([](MainWindow& w) {
            w.onDeleteSelectedInboxesClicked();
            w.onDeleteSelectedRecordsClicked();
            w.onDeleteSelectedSentRecordsClicked();
            w.onDeleteSelectedContactsClicked();
            w.onDeleteSelectedOutboxesClicked();
        }) << QStringList() << "sent"
                                         << "200 Ann,201 Ann,202 Bob";
    }

    void deleteChecked() {
        QFETCH(Operation, select);
        QFETCH(Operation, deleteChecked);
        QFETCH(QStringList, emitted);
        QFETCH(QString, part);
        QFETCH(QString, remaining);
        MainWindow& window = fixture->window();
        SignalLog log(window);
        // What the controller does before the service answers.
        connect(&window, &MainWindow::deleteInbox, &window, [&](uint64_t id) { window.removeInbox(id); });
        connect(&window, &MainWindow::deleteRecord, &window, [&](uint64_t id) { window.removeRecord(id); });
        connect(&window, &MainWindow::deleteSentRecord, &window,
                [&](const QString& id) { window.removeSentRecord(id); });
        connect(&window, &MainWindow::deleteContact, &window, [&](uint64_t id) { window.removeContact(id); });
        connect(&window, &MainWindow::deleteOutbox, &window,
                [&](const QString& id) { window.removeOutbox(id.toULongLong()); });
        select(window);

        deleteChecked(window);

        QCOMPARE(log.entries, emitted);
        QCOMPARE(snapshot(window).value(part), remaining);
    }

    // Each request invokable emits its signal once, with the id texts read as unsigned decimal
    // numbers where the signal carries a number; the signal's signature is the one the
    // controller connects by.
    void requests_data() {
        QTest::addColumn<QByteArray>("invokable");
        QTest::addColumn<QVariantList>("arguments");
        QTest::addColumn<QByteArray>("signal");
        QTest::addColumn<QStringList>("received");

        const std::vector<Request> requests = {
            {"onLogoutButtonClicked", {}, "logout()", {}},
            {"onDeleteInboxClicked", {QString("42")}, "deleteInbox(uint64_t)", {"42"}},
            {"onDeleteInboxClicked", {QString("abc")}, "deleteInbox(uint64_t)", {"0"}},
            {"onDeleteInboxClicked",
             {QString("18446744073709551615")},
             "deleteInbox(uint64_t)",
             {"18446744073709551615"}},
            {"onDeleteInboxClicked", {QString("18446744073709551616")}, "deleteInbox(uint64_t)", {"0"}},
            {"onDeleteRecordClicked", {QString("7")}, "deleteRecord(uint64_t)", {"7"}},
            {"onEditInboxClicked",
             {QString("9"), QString("New"), QString("Desc")},
             "editInbox(uint64_t,QString,QString)",
             {"9", "New", "Desc"}},
            {"onCreateInboxClicked", {QString("N"), QString("D")}, "createInbox(QString,QString)", {"N", "D"}},
            {"onShareNodeClicked", {QString("12")}, "shareNode(uint64_t)", {"12"}},
            {"onDownloadNodeClicked",
             {QString("13"), QString("a.pdf")},
             "downloadNode(uint64_t,QString)",
             {"13", "a.pdf"}},
            {"onUploadFilesClicked", {}, "uploadFiles()", {}},
            {"onDragFile", {QString("/tmp/x")}, "dragFile(QString)", {"/tmp/x"}},
            {"onDeleteUploadedFileClicked", {2}, "deleteUploadedFile(int)", {"2"}},
            {"onSendRecordClicked",
             {QString("L"), QString("C"), QString("S"), QString("M")},
             "sendRecord(QString,QString,QString,QString)",
             {"L", "C", "S", "M"}},
            {"onCreateContactClicked", {QString("Ann"), QString("L")}, "createContact(QString,QString)", {"Ann", "L"}},
            {"onCreateOutboxClicked", {QString("x30"), QString("L")}, "createOutbox(QString,QString)", {"x30", "L"}},
            {"onDeleteContactClicked", {QString("30")}, "deleteContact(uint64_t)", {"30"}},
            {"onEditContactClicked", {QString("30"), QString("Anna")}, "editContact(uint64_t,QString)", {"30", "Anna"}},
            {"onDeleteOutboxClicked", {QString("x40")}, "deleteOutbox(QString)", {"x40"}},
            {"onEditOutboxClicked",
             {QString("30"), QString("x40"), QString("N")},
             "editOutbox(QString,QString,QString)",
             {"30", "x40", "N"}},
            {"onDeleteSentRecordClicked", {QString("x200")}, "deleteSentRecord(QString)", {"x200"}},
            {"onGetRecoveryKeyClicked", {}, "getRecoveryKey()", {}},
            {"onShowPrivacyPolicyClicked", {}, "showPrivacyPolicy()", {}},
            {"onSetLanguageClicked", {1}, "changeLanguage(int)", {"1"}},
            {"onModifyRecordStatusClicked", {QString("100"), 1}, "modifyRecordStatus(uint64_t,int)", {"100", "1"}},
            {"onGetOriginalInboxOwnerStarted", {QString("L")}, "getOriginalInboxOwner(QString)", {"L"}},
            {"onMakeTransferClicked",
             {QString("R"), QString("S"), QString("M")},
             "makeTransfer(QString,QString,QString)",
             {"R", "S", "M"}},
            {"cleanApplicationTempData", {}, "cleanTempData()", {}},
            {"onCreate2FALinkClicked", {}, "create2FALink()", {}},
            {"onEnable2FAClicked", {QString("123456")}, "enable2FA(QString)", {"123456"}},
            {"onDisable2FAClicked", {QString("654321")}, "disable2FA(QString)", {"654321"}},
            {"onGetFileMetadata",
             {QString("900"), QString("a.png")},
             "downloadFileMetadata(uint64_t,QString)",
             {"900", "a.png"}},
            {"onUpdateClicked", {}, "updateTembra()", {}},
            {"onModifyDebugStatusClicked", {true}, "modifyDebugStatus(bool)", {"true"}},
            {"getDebugStatus", {}, "getDebugStatusSignal()", {}},
            {"getUserPlan", {}, "getPlanInfo()", {}},
            {"onSendAnywayClicked", {}, "sendAnyway()", {}},
            {"onDeleteAccountClicked", {QString("Too expensive")}, "deleteAccount(QString)", {"Too expensive"}},
        };
        for (const Request& request : requests) {
            const QString name = QString(request.invokable) + "(" +
                                 (request.arguments.isEmpty() ? QString() : request.arguments.first().toString()) + ")";
            QTest::newRow(qPrintable(name))
                << QByteArray(request.invokable) << request.arguments << QByteArray(request.signal) << request.received;
        }
    }

    void requests() {
        QFETCH(QByteArray, invokable);
        QFETCH(QVariantList, arguments);
        QFETCH(QByteArray, signal);
        QFETCH(QStringList, received);
        MainWindow& window = fixture->window();
        const QMetaObject* meta = window.metaObject();
        const int signalIndex = meta->indexOfSignal(signal);
        QVERIFY2(signalIndex >= 0, signal.constData());
        QSignalSpy spy(&window, ("2" + signal).constData());
        QVERIFY(spy.isValid());

        QByteArray signature = invokable + "(";
        QList<QByteArray> types;
        for (const QVariant& argument : arguments)
            types << argument.typeName();
        signature += types.join(",") + ")";
        const int methodIndex = meta->indexOfMethod(signature);
        QVERIFY2(methodIndex >= 0, signature.constData());
        QGenericArgument generic[4];
        for (int i = 0; i < arguments.size(); ++i) {
            generic[i] = QGenericArgument(arguments[i].typeName(), arguments[i].constData());
        }
        QVERIFY(meta->method(methodIndex)
                    .invoke(&window, Qt::DirectConnection, generic[0], generic[1], generic[2], generic[3]));

        QCOMPARE(spy.count(), 1);
        QStringList actual;
        const QMetaMethod method = meta->method(signalIndex);
        for (int i = 0; i < spy.at(0).size(); ++i) {
            const QVariant value = spy.at(0).at(i);
            // A uint64_t argument arrives as the platform's 64-bit integer type.
            actual << (method.parameterTypes().at(i) == "uint64_t"
                           ? QString::number(*static_cast<const uint64_t*>(value.constData()))
                           : value.toString());
        }
        QCOMPARE(actual, received);
    }

private:
    std::unique_ptr<WindowFixture> fixture;
};

TEMBRA_REGISTER_TEST(MainWindowQueriesTest);

#include "main_window_queries_test.moc"
