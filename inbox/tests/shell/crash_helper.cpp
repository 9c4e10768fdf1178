// Runs the program's entry with a stand-in controller that sets up settings and logging the
// way the controller does and then faults with SIGSEGV, as many starts in a row as
// TEMBRA_TEST_CRASHES says (counted in the file "starts" of the data folder); later starts
// end cleanly. Each start tells the test what it does through the local socket named by
// TEMBRA_TEST_SOCKET: "start <n>", then "crash" or "exit".

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLocalSocket>
#include <QSettings>
#include <QTimer>

#include <spdlog/spdlog.h>

#include "app_logging.h"
#include "app_paths.h"
#include "program.h"
#include "util/log.h"

namespace {

int* volatile gNull = nullptr;
QLocalSocket* gSocket = nullptr;

void tell(const QByteArray& line) {
    if (gSocket) {
        gSocket->write(line + '\n');
        gSocket->flush();
        gSocket->waitForBytesWritten(5000);
    }
}

int countStart(const QString& dataFolder) {
    QDir().mkpath(dataFolder);
    QFile starts(dataFolder + QStringLiteral("/starts"));
    starts.open(QIODevice::ReadWrite | QIODevice::Append);
    starts.write("x");
    const int count = static_cast<int>(starts.size());
    starts.close();
    return count;
}

}  // namespace

int main(int argc, char* argv[]) {
    program::Seams seams;
    seams.updaterPath = QStringLiteral("/nonexistent/Tembra-updater");
    seams.startController = [] {
        const QString dataFolder = apppaths::dataFolder();
        // Normal logging of the controller: level off, the ring written out by a crash.
        applog::setPattern();
        applog::setLevel(static_cast<int>(corvane::log::Level::off));
        applog::enableBacktrace(applog::kBacktraceMessages);
        auto logger = applog::makeFileLogger("tembra", (dataFolder + "/corvane_backtraces.txt").toStdString());
        logger->set_level(spdlog::level::off);
        applog::installDefault(logger);
        QSettings::setDefaultFormat(QSettings::IniFormat);

        gSocket = new QLocalSocket(QCoreApplication::instance());
        gSocket->connectToServer(qEnvironmentVariable("TEMBRA_TEST_SOCKET"));
        gSocket->waitForConnected(5000);

        const int start = countStart(dataFolder);
        tell("start " + QByteArray::number(start));
        if (start <= qEnvironmentVariableIntValue("TEMBRA_TEST_CRASHES")) {
            QTimer::singleShot(0, [] {
                CLOG_INFO("About to fault");
                tell("crash");
                *gNull = 1;
            });
        } else {
            QTimer::singleShot(0, [] {
                tell("exit");
                QCoreApplication::exit(0);
            });
        }
    };
    return program::run(argc, argv, seams);
}
