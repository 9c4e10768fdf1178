#include <gtest/gtest.h>
#include <QDateTime>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <openssl/evp.h>

#include "support/child_process.h"

namespace {

std::string sha224Hex(const QByteArray& data) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(data.constData(), static_cast<size_t>(data.size()), digest, &length, EVP_sha224(), nullptr);
    static const char* hex = "0123456789abcdef";
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        text += hex[digest[i] >> 4];
        text += hex[digest[i] & 15];
    }
    return text;
}

// Every start of the crash helper (the first one and any restart the crash handler makes)
// reports to this server; a start's end shows as its connection closing.
class CrashRestartTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(root_.isValid());
        environment_ = tembratest::isolatedEnvironment(root_.path());
        const QString home = environment_.value("HOME");
        dataFolder_ = environment_.value("XDG_DATA_HOME") + "/Corvane/Tembra";
        iniFile_ = environment_.value("XDG_CONFIG_HOME") + "/Corvane/Tembra.ini";
        ASSERT_TRUE(QDir().mkpath(dataFolder_));
        server_.setSocketOptions(QLocalServer::UserAccessOption);
        ASSERT_TRUE(server_.listen(root_.path() + "/events"));
        environment_.insert("TEMBRA_TEST_SOCKET", server_.fullServerName());
        QObject::connect(&server_, &QLocalServer::newConnection, [this] {
            while (QLocalSocket* socket = server_.nextPendingConnection()) {
                const int index = static_cast<int>(starts_.size());
                starts_.push_back({});
                QObject::connect(socket, &QLocalSocket::readyRead, [this, socket, index] {
                    while (socket->canReadLine()) {
                        starts_[index].lines << QString::fromUtf8(socket->readLine()).trimmed();
                    }
                });
                QObject::connect(socket, &QLocalSocket::disconnected, [this, index] { starts_[index].ended = true; });
            }
        });
    }

    // Runs the event loop until `done` holds (guarded against a hung helper).
    template <typename Done>
    bool waitFor(Done done, int timeoutMs = 90000) {
        QEventLoop loop;
        QTimer guard;
        guard.setSingleShot(true);
        guard.start(timeoutMs);
        while (!done() && guard.isActive()) {
            loop.processEvents(QEventLoop::WaitForMoreEvents, 200);
        }
        return done();
    }

    QStringList reportFiles() const { return QDir(dataFolder_ + "/CrashReports").entryList(QDir::Files); }

    qint64 lastCrash() const { return QSettings(iniFile_, QSettings::IniFormat).value("lastCrash", 0).toLongLong(); }

    QByteArray backtraceFile() const {
        QFile file(dataFolder_ + "/corvane_backtraces.txt");
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    void checkReport(const QString& name) {
        QFile file(dataFolder_ + "/CrashReports/" + name);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        EXPECT_EQ(name.toStdString(), sha224Hex(bytes));
        // The SDK's size-prefixed crash-report message: length, root offset, identifier.
        ASSERT_GT(bytes.size(), 12);
        EXPECT_EQ(bytes.mid(8, 4), QByteArray("CRRM"));
    }

    struct Start {
        QStringList lines;
        bool ended = false;
    };

    QTemporaryDir root_;
    QProcessEnvironment environment_;
    QString dataFolder_;
    QString iniFile_;
    QLocalServer server_;
    std::vector<Start> starts_;
};

TEST_F(CrashRestartTest, CrashSavesTheReportDropsTheCacheAndRestartsOnce) {
    environment_.insert("TEMBRA_TEST_CRASHES", "1");
    for (const char* name : {"cloud-v31-abcdefgh", "keep.txt"}) {
        QFile file(dataFolder_ + "/" + name);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    const qint64 before = QDateTime::currentMSecsSinceEpoch();
    tembratest::ChildProcess first(QStringLiteral(TEMBRA_CRASH_HELPER), environment_);

    ASSERT_TRUE(waitFor([&] { return starts_.size() >= 2 && starts_[1].ended; }));
    EXPECT_EQ(starts_[0].lines, (QStringList{"start 1", "crash"}));
    EXPECT_TRUE(starts_[0].ended);
    EXPECT_EQ(starts_[1].lines, (QStringList{"start 2", "exit"}));
    ASSERT_TRUE(first.waitForExit());
    EXPECT_EQ(first.exitCode(), 1) << "the crash handler ends the process with 1";

    const QStringList reports = reportFiles();
    ASSERT_EQ(reports.size(), 1);
    checkReport(reports.front());
    EXPECT_FALSE(QFile::exists(dataFolder_ + "/cloud-v31-abcdefgh"));
    EXPECT_TRUE(QFile::exists(dataFolder_ + "/keep.txt"));
    const qint64 last = lastCrash();
    EXPECT_GE(last, before);
    EXPECT_LE(last, QDateTime::currentMSecsSinceEpoch());
    // The ring of the level-off logger went to the file at the crash.
    const QByteArray log = backtraceFile();
    EXPECT_TRUE(log.contains("About to fault")) << log.toStdString();
    EXPECT_TRUE(log.contains("Tembra has crashed: "));
    EXPECT_TRUE(log.contains("Restarting..."));
}

TEST_F(CrashRestartTest, SecondCrashWithinTheThrottleSavesItsReportWithoutRestart) {
    environment_.insert("TEMBRA_TEST_CRASHES", "2");
    tembratest::ChildProcess first(QStringLiteral(TEMBRA_CRASH_HELPER), environment_);

    ASSERT_TRUE(waitFor([&] { return starts_.size() >= 2 && starts_[1].ended; }));
    EXPECT_EQ(starts_[0].lines, (QStringList{"start 1", "crash"}));
    EXPECT_EQ(starts_[1].lines, (QStringList{"start 2", "crash"}));
    const qint64 firstRestart = lastCrash();
    EXPECT_GT(firstRestart, 0);

    // Both reports are kept (the two crashes differ in time, so in bytes), the restart time is
    // still the first one's, and the second crash said why it did not restart.
    const QStringList reports = reportFiles();
    EXPECT_EQ(reports.size(), 2);
    for (const QString& report : reports) {
        checkReport(report);
    }
    EXPECT_EQ(lastCrash(), firstRestart);
    EXPECT_TRUE(backtraceFile().contains("Skipping restart due to a recent crash")) << backtraceFile().toStdString();
    QFile starts(dataFolder_ + "/starts");
    ASSERT_TRUE(starts.open(QIODevice::ReadOnly));
    EXPECT_EQ(starts.readAll(), QByteArray("xx")) << "no third start";
}

TEST_F(CrashRestartTest, CrashLongAfterTheLastRestartRestartsAgain) {
    environment_.insert("TEMBRA_TEST_CRASHES", "1");
    const qint64 old = QDateTime::currentMSecsSinceEpoch() - 120001 - 1000;
    QDir().mkpath(QFileInfo(iniFile_).path());
    {
        QSettings settings(iniFile_, QSettings::IniFormat);
        settings.setValue("lastCrash", old);
    }
    tembratest::ChildProcess first(QStringLiteral(TEMBRA_CRASH_HELPER), environment_);
    ASSERT_TRUE(waitFor([&] { return starts_.size() >= 2 && starts_[1].ended; }));
    EXPECT_EQ(starts_[1].lines, (QStringList{"start 2", "exit"}));
    EXPECT_GT(lastCrash(), old);
}

}  // namespace
