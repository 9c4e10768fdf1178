#include "program.h"

#include <signal.h>

#include <QApplication>
#include <QDir>
#include <QIcon>
#include <QInputMethod>
#include <QMessageBox>
#include <QProcess>
#include <QScreen>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <memory>

#include <spdlog/spdlog.h>

#include "app_logging.h"
#include "client/corvane.h"
#include "crash_handler.h"
#include "single_instance.h"
#include "tembra.h"
#include "util/log.h"

namespace program {

namespace {

constexpr int kInstanceAttempts = 8;

// Read by the crash handler: once the event loop has returned, a crash only logs.
std::atomic<bool> gCleaningUp{false};

void computeScaleFactor(int argc, char* argv[]) {
    int width = 0;
    qreal dpi = 0;
    {
        QApplication probe(argc, argv);
        if (QScreen* screen = QGuiApplication::primaryScreen()) {
            width = screen->availableGeometry().width();
            dpi = screen->logicalDotsPerInch();
        }
    }
    const QByteArray factor = scaleFactorText(width, dpi);
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling, true);
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps, true);
    QGuiApplication::setHighDpiScaleFactorRoundingPolicy(Qt::HighDpiScaleFactorRoundingPolicy::Floor);
    if (!factor.isEmpty()) {
        qputenv("QT_SCALE_FACTOR", factor);
    }
}

}  // namespace

QByteArray scaleFactorText(int availableWidth, qreal logicalDpi) {
    if (availableWidth <= 0) {
        // No screen: leave Qt's own factor.
        return QByteArray();
    }
    const double w = availableWidth;
    const double d = static_cast<int>(logicalDpi);
    const double factor = d / w + (w / 10000.0 + 0.9);
    return QString::number(factor, 'g', 6).replace(QLatin1Char(','), QLatin1Char('.')).toLatin1();
}

QString alreadyRunningText(const QString& localeName) {
    if (localeName.left(2) == QLatin1String("es")) {
        return QStringLiteral("Tembra ya se está ejecutando.");
    }
    return QStringLiteral("Tembra is already running.");
}

QString updaterPath() {
    return QCoreApplication::applicationDirPath() + QStringLiteral("/Tembra-updater");
}

bool startUpdater(const QString& path) {
    return QProcess::startDetached(path, QStringList());
}

int run(int argc, char* argv[], const Seams& seams) {
    // A restart is started from inside the crash handler, where the fault's signal is
    // blocked, and a new program inherits that mask: with the signal still blocked, its own
    // crash would kill it without a report.
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);

    auto instance = std::make_unique<SingleInstance>(QDir::home().dirName());
    const auto pause = seams.instancePause ? seams.instancePause : [] { QThread::sleep(1); };
    if (!instance->acquire(kInstanceAttempts, pause)) {
        {
            QApplication app(argc, argv);
            QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Tembra"),
                            alreadyRunningText(QGuiApplication::inputMethod()->locale().name()));
            if (seams.aboutToShowBox) {
                seams.aboutToShowBox(box);
            }
            box.exec();
        }
        spdlog::info("Unable to start. Bye!");
        return 0;
    }

    applog::installBootstrapLogger();
    corvane::Corvane::globalInit("com.corvane.tembra", 1000000);
    computeScaleFactor(argc, argv);

    auto app = std::make_unique<QApplication>(argc, argv);
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/Icons/icon.png")));
    QCoreApplication::setApplicationName(QStringLiteral("Tembra"));
    QCoreApplication::setApplicationVersion(QStringLiteral("1.0.0.0"));
    QCoreApplication::setOrganizationName(QStringLiteral("Corvane"));
    QCoreApplication::setOrganizationDomain(QStringLiteral("corvane.example"));

    const QString updater = seams.updaterPath.isEmpty() ? updaterPath() : seams.updaterPath;
    CLOG_INFO("Update tool started: {}", startUpdater(updater) ? "YES" : "NO");
    auto updaterTimer = std::make_unique<QTimer>();
    QObject::connect(updaterTimer.get(), &QTimer::timeout,
                     [updater] { CLOG_INFO("Update tool restarted: {}", startUpdater(updater) ? "YES" : "NO"); });
    updaterTimer->start(seams.updaterIntervalMs);

    CLOG_INFO("Enabling crash handler");
    corvane::Corvane::enableCrashHandler(
        [](std::string reason, std::string report) { crash::handle(gCleaningUp, reason, report); });

    if (seams.startController) {
        seams.startController();
    } else {
        // Never deleted: it lives until the process ends.
        auto* controller = new Tembra();
        controller->initApplication();
    }

    const int result = QApplication::exec();
    gCleaningUp = true;
    corvane::Corvane::globalCleanup();
    CLOG_INFO("Closing application");
    corvane::log::flush();
    updaterTimer.reset();
    app.reset();
    instance.reset();
    return result;
}

}  // namespace program
