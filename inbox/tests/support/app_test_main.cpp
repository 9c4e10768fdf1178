#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <cstdio>

namespace {

// Tests are silent: Qt's own messages show only with CORVANE_TEST_LOG=1, like the SDK's lines.
void quietMessages(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (qEnvironmentVariableIntValue("CORVANE_TEST_LOG") == 1 || type == QtFatalMsg) {
        fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, message)));
    }
}

}  // namespace

// GoogleTest main of the application's test programs: one QApplication for the whole program,
// without a display unless the environment chose a platform, and a private runtime folder.
int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    if (qEnvironmentVariableIsEmpty("QT_QUICK_BACKEND")) {
        qputenv("QT_QUICK_BACKEND", "software");
    }
    QTemporaryDir runtime(QDir::tempPath() + "/tembra-test-runtime-XXXXXX");
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR") && runtime.isValid()) {
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    }
    qInstallMessageHandler(quietMessages);
    testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
