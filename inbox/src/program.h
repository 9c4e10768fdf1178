#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

class QMessageBox;
class QObject;

// The program's entry: single instance, logger, the SDK's process-wide set-up, the display
// scale factor, the self-updater, the crash handler, the controller and the event loop.
namespace program {

// The scale factor for a primary screen of this available width (pixels) and logical DPI
// (truncated to an integer), as the text given to QT_SCALE_FACTOR.
QByteArray scaleFactorText(int availableWidth, qreal logicalDpi);

// The "already running" text for an input locale's name.
QString alreadyRunningText(const QString& localeName);

// Where the self-updater would stand: next to the program.
QString updaterPath();
// Starts the updater detached, without arguments; false when it could not be started.
bool startUpdater(const QString& path);

// What a test or a helper program replaces; the defaults are the program's own behaviour.
struct Seams {
    // Between two attempts of the single-instance check.
    std::function<void()> instancePause;
    // Called with the "already running" box right before it is shown modally.
    std::function<void(QMessageBox&)> aboutToShowBox;
    // Makes and starts the controller; the default creates Tembra and runs its start-up.
    std::function<void()> startController;
    QString updaterPath;
    int updaterIntervalMs = 3600000;
};

int run(int argc, char* argv[], const Seams& seams);

}  // namespace program
