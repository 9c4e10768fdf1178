// The texts the screens show for sizes, storage figures, relative dates and local images.
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest/QTest>

#include "model_tests.h"
#include "ui/display_format.h"

using namespace model_tests;

namespace {

// Noon of a fixed local day, so the cases do not depend on when or where they run.
const QDateTime kNow(QDate(2026, 3, 15), QTime(12, 0));

quint64 localSeconds(const QDate& day, const QTime& time) {
    return static_cast<quint64>(QDateTime(day, time).toSecsSinceEpoch());
}

}  // namespace

class DisplayFormatTest : public QObject {
    Q_OBJECT

private slots:
    void sizeText_data() {
        QTest::addColumn<quint64>("bytes");
        QTest::addColumn<QString>("expected");

        QTest::newRow("nothing") << quint64(0) << "0 Bytes";
        QTest::newRow("one KB is still bytes") << quint64(1024) << "1024 Bytes";
        QTest::newRow("just over a KB rounds up") << quint64(1025) << "1.01 KB";
        QTest::newRow("no trailing zero") << quint64(1536) << "1.5 KB";
        QTest::newRow("whole number") << quint64(2048) << "2 KB";
        QTest::newRow("one MB is still KB") << quint64(1048576) << "1024 KB";
        QTest::newRow("just over a MB rounds up") << quint64(1048577) << "1.01 MB";
        QTest::newRow("megabytes") << quint64(123456789) << "117.74 MB";
        QTest::newRow("one GB is still MB") << quint64(1073741824) << "1024 MB";
        QTest::newRow("gigabytes") << quint64(5000000000) << "4.66 GB";
        QTest::newRow("six significant digits") << quint64(1099511627776ull * 1000) << "1.024e+06 GB";
    }

    void sizeText() {
        QFETCH(quint64, bytes);
        QFETCH(QString, expected);
        QCOMPARE(display_format::sizeText(bytes), expected);
    }

    void storageText_data() {
        QTest::addColumn<QString>("bytes");
        QTest::addColumn<QString>("expected");

        QTest::newRow("no number") << "abc"
                                   << "";
        QTest::newRow("empty") << ""
                               << "";
        QTest::newRow("number with a tail") << "12abc"
                                            << "";
        QTest::newRow("nothing") << "0"
                                 << "0 Bytes";
        QTest::newRow("bytes") << "1024"
                               << "1024 Bytes";
        QTest::newRow("whole KB only") << "1536"
                                       << "1 KB";
        QTest::newRow("one GB is still MB") << "1073741824"
                                            << "1024 MB";
        QTest::newRow("whole GB only") << "1610612736"
                                       << "1 GB";
        QTest::newRow("ten GB") << "10737418240"
                                << "10 GB";
    }

    void storageText() {
        QFETCH(QString, bytes);
        QFETCH(QString, expected);
        QCOMPARE(display_format::storageText(bytes), expected);
        WindowFixture fixture;
        QCOMPARE(fixture.window().formatStorageSize(bytes), expected);
    }

    void relativeDate_data() {
        QTest::addColumn<quint64>("date");
        QTest::addColumn<QString>("expected");

        const QDate today = kNow.date();
        QTest::newRow("earlier today") << localSeconds(today, QTime(0, 1)) << "Today";
        QTest::newRow("later today") << localSeconds(today, QTime(23, 59)) << "Today";
        QTest::newRow("yesterday, under 24 hours ago")
            << localSeconds(today.addDays(-1), QTime(23, 59)) << "1 days ago";
        QTest::newRow("29 days") << localSeconds(today.addDays(-29), QTime(12, 0)) << "29 days ago";
        QTest::newRow("30 days") << localSeconds(today.addDays(-30), QTime(12, 0)) << "1 months ago";
        QTest::newRow("359 days") << localSeconds(today.addDays(-359), QTime(12, 0)) << "11 months ago";
        QTest::newRow("360 days") << localSeconds(today.addDays(-360), QTime(12, 0)) << "1 years ago";
        QTest::newRow("1000 days") << localSeconds(today.addDays(-1000), QTime(12, 0)) << "2 years ago";
        // A date after today (a clock ahead of this one) is no huge count of years.
        QTest::newRow("tomorrow") << localSeconds(today.addDays(1), QTime(0, 30)) << "Today";
        QTest::newRow("next year") << localSeconds(today.addDays(400), QTime(12, 0)) << "Today";
    }

    void relativeDate() {
        QFETCH(quint64, date);
        QFETCH(QString, expected);
        QCOMPARE(display_format::relativeDate(date, kNow), expected);
    }

    // The getters read the window's clock, so a window left open past midnight moves on.
    void gettersUseTheWindowClock() {
        WindowFixture fixture;
        MainWindow& window = fixture.window();
        const quint64 date = localSeconds(kNow.date().addDays(-3), QTime(9, 0));
        window.addInbox(10, "Work", "", date);
        window.addRecord(10, 100, "a", "", "s", "", date, false);
        window.addRecord(40, 200, "", "Ann", "s", "", date, false);
        QDateTime now = kNow;
        window.setClock([&now] { return now; });

        const auto dates = [&] {
            return QStringList{window.getInboxDate("10"), window.getRecordDateById("100"),
                               window.getSentRecordDateById("200"), window.getRecordDates("40").join("+")};
        };
        QCOMPARE(dates(), QStringList({"3 days ago", "3 days ago", "3 days ago", "3 days ago"}));
        now = kNow.addDays(1);
        QCOMPARE(dates(), QStringList({"4 days ago", "4 days ago", "4 days ago", "4 days ago"}));
        QCOMPARE(window.getRecordDateById("999"), QString());
    }

    void mediaPaths_data() {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("thumbnail");
        QTest::addColumn<QString>("preview");

        QTest::newRow("nothing downloaded") << ""
                                            << ""
                                            << "";
        QTest::newRow("thumbnail only") << "thumb_"
                                        << "thumb_"
                                        << "";
        QTest::newRow("both") << "thumb_,preview_"
                              << "thumb_"
                              << "preview_";
    }

    // A path is given only for a file that is there; the screens show an icon otherwise.
    void mediaPaths() {
        QFETCH(QString, stored);
        QFETCH(QString, thumbnail);
        QFETCH(QString, preview);
        QTemporaryDir data;
        QVERIFY(data.isValid());
        const QByteArray previousData = qgetenv("XDG_DATA_HOME");
        qputenv("XDG_DATA_HOME", data.path().toUtf8());
        WindowFixture fixture;
        MainWindow& window = fixture.window();
        const QString folder = window.getDataPath();
        QVERIFY(folder.startsWith(data.path()));
        QVERIFY(QDir().mkpath(folder + "/900"));
        for (const QString& prefix : stored.split(',', Qt::SkipEmptyParts)) {
            QFile file(folder + "/900/" + prefix + "900.jpg");
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        const auto expected = [&](const QString& prefix) {
            return prefix.isEmpty() ? QString() : folder + "/900/" + prefix + "900.jpg";
        };

        QCOMPARE(window.getThumbnailPath("photo.png", "900"), expected(thumbnail));
        QCOMPARE(window.getPreviewPath("photo.png", "900"), expected(preview));
        QCOMPARE(window.getThumbnailPath("photo.png", "901"), QString());
        qputenv("XDG_DATA_HOME", previousData);
    }

    void appVersion() {
        WindowFixture fixture;
        QCOMPARE(fixture.window().getAppVersion(), QString("1.0.0.0"));
    }
};

TEMBRA_REGISTER_TEST(DisplayFormatTest);

#include "display_format_test.moc"
