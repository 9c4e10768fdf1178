// Test program of signing in through the real windows: the whole program runs on an X server
// of its own (Xvfb), so the windows are real X windows with their own events, while the
// other application tests stay offscreen.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

void quietMessages(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (qEnvironmentVariableIntValue("CORVANE_TEST_LOG") == 1 || type == QtFatalMsg) {
        fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, message)));
    }
}

// Starts Xvfb on the first free display; it writes the display's number to the pipe once it
// accepts clients. Returns the server's process id, or 0.
pid_t startXvfb(QByteArray& display) {
    int fds[2];
    if (pipe(fds) != 0) {
        return 0;
    }
    const pid_t child = fork();
    if (child == 0) {
        close(fds[0]);
        const int null = open("/dev/null", O_WRONLY);
        if (null >= 0) {
            dup2(null, STDOUT_FILENO);
            dup2(null, STDERR_FILENO);
        }
        const std::string fd = std::to_string(fds[1]);
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x800x24", "-nolisten", "tcp",
               static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    char buffer[32] = {};
    ssize_t got = 0;
    for (;;) {
        const ssize_t n = read(fds[0], buffer + got, sizeof(buffer) - 1 - static_cast<size_t>(got));
        if (n <= 0) break;
        got += n;
        if (buffer[got - 1] == '\n') break;
    }
    close(fds[0]);
    if (child < 0 || got <= 0) {
        return 0;
    }
    display = ":" + QByteArray(buffer, static_cast<int>(got)).trimmed();
    return child;
}

}  // namespace

int main(int argc, char* argv[]) {
    QByteArray display;
    const pid_t server = startXvfb(display);
    if (server == 0) {
        fprintf(stderr, "Xvfb did not start: these tests need an X server of their own\n");
        return 1;
    }
    qputenv("DISPLAY", display);
    qputenv("QT_QPA_PLATFORM", "xcb");
    // Qt Quick draws in software, as in the other application tests: the GL driver's own
    // allocations are no concern of these tests.
    qputenv("QT_QUICK_BACKEND", "software");
    for (const char* name : {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}) {
        unsetenv(name);
    }
    QTemporaryDir runtime(QDir::tempPath() + "/tembra-test-runtime-XXXXXX");
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR") && runtime.isValid()) {
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    }
    qInstallMessageHandler(quietMessages);
    testing::InitGoogleTest(&argc, argv);
    int result = 1;
    {
        QApplication app(argc, argv);
        result = RUN_ALL_TESTS();
    }
    kill(server, SIGTERM);
    waitpid(server, nullptr, 0);
    return result;
}
