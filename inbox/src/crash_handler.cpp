#include "crash_handler.h"

#include <unistd.h>

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QThread>

#include "app_logging.h"
#include "app_paths.h"
#include "util/log.h"

namespace crash {

void removeCacheFiles(const QString& dataFolder) {
    QDir folder(dataFolder);
    folder.setNameFilters({QStringLiteral("cloud-v*")});
    folder.setFilter(QDir::Files | QDir::Hidden | QDir::System);
    for (const QString& name : folder.entryList()) {
        folder.remove(name);
    }
}

QString saveReport(const QString& dataFolder, const QByteArray& report) {
    QDir folder(dataFolder);
    folder.mkpath(QStringLiteral("CrashReports"));
    const QString name = QString::fromLatin1(QCryptographicHash::hash(report, QCryptographicHash::Sha224).toHex());
    const QString path = QDir::toNativeSeparators(folder.filePath(QStringLiteral("CrashReports/") + name));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(report) != report.size()) {
        CLOG_CRITICAL("Unable to save crash report to {}", path.toStdString());
        return QString();
    }
    file.close();
    return path;
}

bool restartAllowed(qint64 nowMs, qint64 lastCrashMs) {
    return nowMs - lastCrashMs >= kRestartThrottleMs;
}

Seams& seams() {
    static Seams instance{[] { return apppaths::dataFolder(); },
                          [] {
                              QProcess::startDetached(QDir::toNativeSeparators(QCoreApplication::applicationFilePath()),
                                                      QStringList(), QDir::currentPath());
                              QThread::sleep(3);
                          },
                          // The process is in an unknown state: end it without running static destructors.
                          [](int code) { ::_exit(code); }};
    return instance;
}

void handle(const std::atomic<bool>& cleaningUp, const std::string& reason, const std::string& report) {
    Seams& hooks = seams();
    if (cleaningUp.load()) {
        CLOG_CRITICAL("Tembra has crashed during cleanup: {}", reason);
    } else {
        CLOG_CRITICAL("Tembra has crashed: {}", reason);
        const QString dataFolder = hooks.dataFolder();
        removeCacheFiles(dataFolder);
        saveReport(dataFolder, QByteArray(report.data(), static_cast<int>(report.size())));

        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        QSettings settings;
        const qint64 last = settings.value(QStringLiteral("lastCrash"), 0).toLongLong();
        if (!restartAllowed(now, last)) {
            CLOG_INFO("Skipping restart due to a recent crash");
        } else {
            CLOG_INFO("Restarting...");
            settings.setValue(QStringLiteral("lastCrash"), now);
            settings.sync();
            hooks.restart();
        }
        CLOG_INFO("Closing Tembra {}", "1.0.0.0 ()");
    }
    applog::flushWithBacktrace();
    hooks.exit(1);
}

}  // namespace crash
