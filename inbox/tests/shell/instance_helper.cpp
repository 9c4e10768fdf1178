// Runs the program's entry with a stand-in controller, for the single-instance tests.
// Prints "started" once it is the running instance (then "quit" on standard input ends its
// event loop with 0), "pause" between two instance checks, and "box: <text>" when it shows
// the "already running" box (then "close" on standard input closes the box).
// TEMBRA_TEST_UPDATER_MS replaces the hour between two starts of the self-updater.

#include <unistd.h>

#include <QCoreApplication>
#include <QMessageBox>
#include <QSocketNotifier>

#include <cstdio>

#include "program.h"

namespace {

void say(const QString& line) {
    std::printf("%s\n", line.toUtf8().constData());
    std::fflush(stdout);
}

// Calls `onLine` with every line that arrives on standard input.
template <typename OnLine>
QSocketNotifier* watchInput(QObject* parent, OnLine onLine) {
    auto* notifier = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, parent);
    QObject::connect(notifier, &QSocketNotifier::activated, [notifier, onLine] {
        char buffer[256];
        const ssize_t count = ::read(STDIN_FILENO, buffer, sizeof(buffer) - 1);
        if (count <= 0) {
            notifier->setEnabled(false);
            return;
        }
        onLine(QString::fromUtf8(buffer, static_cast<int>(count)).trimmed());
    });
    return notifier;
}

}  // namespace

int main(int argc, char* argv[]) {
    program::Seams seams;
    seams.instancePause = [] {
        say(QStringLiteral("pause"));
        ::usleep(100 * 1000);
    };
    seams.aboutToShowBox = [](QMessageBox& box) {
        say(QStringLiteral("box: ") + box.text());
        watchInput(&box, [&box](const QString& line) {
            if (line == QLatin1String("close")) {
                box.done(0);
            }
        });
    };
    seams.startController = [] {
        say(QStringLiteral("started"));
        watchInput(QCoreApplication::instance(), [](const QString& line) {
            if (line == QLatin1String("quit")) {
                QCoreApplication::exit(0);
            }
        });
    };
    seams.updaterPath = QStringLiteral("/nonexistent/Tembra-updater");
    if (qEnvironmentVariableIsSet("TEMBRA_TEST_UPDATER_MS")) {
        seams.updaterIntervalMs = qEnvironmentVariableIntValue("TEMBRA_TEST_UPDATER_MS");
    }
    return program::run(argc, argv, seams);
}
