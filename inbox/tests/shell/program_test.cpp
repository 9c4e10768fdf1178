#include <gtest/gtest.h>
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <openssl/evp.h>

#include "crash_handler.h"
#include "program.h"

namespace {

struct ScaleCase {
    const char* name;
    int width;
    qreal dpi;
    const char* text;
};

class ScaleFactorTest : public testing::TestWithParam<ScaleCase> {};

TEST_P(ScaleFactorTest, GivesTheText) {
    const ScaleCase& c = GetParam();
    EXPECT_EQ(program::scaleFactorText(c.width, c.dpi), QByteArray(c.text));
}

INSTANTIATE_TEST_SUITE_P(Screens, ScaleFactorTest,
                         testing::Values(ScaleCase{"w1920_d96", 1920, 96, "1.142"},
                                         ScaleCase{"w1366_d96", 1366, 96, "1.10688"},
                                         ScaleCase{"w2560_d144", 2560, 144, "1.21225"},
                                         ScaleCase{"w3840_d192", 3840, 192, "1.334"},
                                         // The DPI is truncated before the division.
                                         ScaleCase{"w1920_d120_5", 1920, 120.5, "1.1545"},
                                         // No screen at all: Qt keeps its own factor.
                                         ScaleCase{"no_screen", 0, 96, ""}),
                         [](const testing::TestParamInfo<ScaleCase>& info) { return std::string(info.param.name); });

TEST(AlreadyRunningText, FollowsTheInputLocale) {
    const struct {
        const char* locale;
        const char* text;
    } cases[] = {{"es_ES", "Tembra ya se está ejecutando."},
                 {"es", "Tembra ya se está ejecutando."},
                 {"en_US", "Tembra is already running."},
                 {"de_DE", "Tembra is already running."},
                 {"", "Tembra is already running."}};
    for (const auto& c : cases) {
        EXPECT_EQ(program::alreadyRunningText(QString::fromLatin1(c.locale)), QString::fromUtf8(c.text)) << c.locale;
    }
}

TEST(CrashRestart, RestartsOnlyWhenTheLastRestartIsOldEnough) {
    const qint64 now = 1'800'000'000'000;
    const struct {
        const char* name;
        qint64 last;
        bool restart;
    } cases[] = {{"never crashed", 0, true},
                 {"60 s ago", now - 60'000, false},
                 {"exactly 120000 ms ago", now - 120'000, false},
                 {"120001 ms ago", now - 120'001, true},
                 {"an hour ago", now - 3'600'000, true},
                 // A clock set back: the stored time lies ahead.
                 {"in the future", now + 5'000, false}};
    for (const auto& c : cases) {
        EXPECT_EQ(crash::restartAllowed(now, c.last), c.restart) << c.name;
    }
}

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

TEST(CrashReportFile, IsNamedByTheSha224OfItsBytes) {
    QTemporaryDir data;
    ASSERT_TRUE(data.isValid());
    const QByteArray report("\x10\0\0\0CRRM binary \0 report", 24);
    const QString path = crash::saveReport(data.path(), report);
    ASSERT_FALSE(path.isEmpty());
    EXPECT_EQ(QFileInfo(path).dir().dirName(), QStringLiteral("CrashReports"));
    EXPECT_EQ(QFileInfo(path).fileName().toStdString(), sha224Hex(report));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), report);

    // The same crash again overwrites its file; another crash gets one of its own.
    EXPECT_EQ(crash::saveReport(data.path(), report), path);
    EXPECT_NE(crash::saveReport(data.path(), report + "x"), path);
    EXPECT_EQ(QDir(data.filePath("CrashReports")).entryList(QDir::Files).size(), 2);
}

TEST(CrashReportFile, UnwritableFolderGivesNoPath) {
    QTemporaryDir data;
    ASSERT_TRUE(data.isValid());
    // A file where the folder should be.
    QFile blocker(data.filePath("CrashReports"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    EXPECT_TRUE(crash::saveReport(data.path(), QByteArray("report")).isEmpty());
}

TEST(CrashCacheFiles, OnlyTheAccountCachesGo) {
    QTemporaryDir data;
    ASSERT_TRUE(data.isValid());
    const QStringList caches{"cloud-v31-abcdefgh", "CLOUD-V31-ABCDEFGH-journal", "cloud-v30-x"};
    const QStringList kept{"corvane_backtraces.txt", "qrSVG.svg", "mycloud-v31"};
    for (const QString& name : caches + kept) {
        QFile file(data.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    QDir(data.path()).mkpath("cloud-v31-folder");
    crash::removeCacheFiles(data.path());
    QStringList left = QDir(data.path()).entryList(QDir::Files);
    left.sort();
    QStringList expected = kept;
    expected.sort();
    EXPECT_EQ(left, expected);
    EXPECT_TRUE(QDir(data.filePath("cloud-v31-folder")).exists()) << "folders are not cache files";
}

}  // namespace
