#pragma once

#include <QByteArray>
#include <QString>

#include <atomic>
#include <functional>
#include <string>

// What the program does when it crashes: keep the report for the next start, drop the
// per-account cache that may be damaged, restart once unless the last restart is recent,
// write the log ring out and end the process.
namespace crash {

// A crash restarts the program only when the last restart-making crash is at least this old.
constexpr qint64 kRestartThrottleMs = 120001;

// Per-account cache files of the SDK in the data folder ("cloud-v*", any case).
void removeCacheFiles(const QString& dataFolder);

// Writes the report into "CrashReports" of the data folder under the lower-case hexadecimal
// SHA-224 of its bytes; returns the file's path, or an empty text when it cannot be written.
QString saveReport(const QString& dataFolder, const QByteArray& report);

bool restartAllowed(qint64 nowMs, qint64 lastCrashMs);

// The pieces a test replaces: where the data folder is, how the program restarts and how it
// ends. By default: the controller's data folder, a detached start of the program's own file
// followed by a 3-second pause, and _exit(1).
struct Seams {
    std::function<QString()> dataFolder;
    std::function<void()> restart;
    std::function<void(int)> exit;
};
Seams& seams();

// The callback handed to the SDK's crash manager. Never returns.
void handle(const std::atomic<bool>& cleaningUp, const std::string& reason, const std::string& report);

}  // namespace crash
