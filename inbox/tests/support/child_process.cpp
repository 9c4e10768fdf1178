#include "support/child_process.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTimer>

namespace tembratest {

ChildProcess::ChildProcess(const QString& program, const QProcessEnvironment& environment, bool withErrors)
    : process_(std::make_unique<QProcess>()) {
    process_->setProcessEnvironment(environment);
    if (withErrors) {
        process_->setProcessChannelMode(QProcess::MergedChannels);
    } else {
        process_->setProcessChannelMode(QProcess::SeparateChannels);
        process_->setStandardErrorFile(QProcess::nullDevice());
    }
    process_->start(program, QStringList());
}

ChildProcess::~ChildProcess() {
    if (process_->state() != QProcess::NotRunning) {
        process_->kill();
        process_->waitForFinished(10000);
    }
}

void ChildProcess::readLines() {
    pending_ += process_->readAllStandardOutput();
    int end;
    while ((end = pending_.indexOf('\n')) >= 0) {
        lines_ << QString::fromUtf8(pending_.left(end));
        pending_.remove(0, end + 1);
    }
}

QString ChildProcess::waitForLine(const QString& prefix, int timeoutMs) {
    return waitFor([&prefix](const QString& line) { return line.startsWith(prefix); }, timeoutMs);
}

QString ChildProcess::waitForLineContaining(const QString& text, int timeoutMs) {
    return waitFor([&text](const QString& line) { return line.contains(text); }, timeoutMs);
}

template <typename Match>
QString ChildProcess::waitFor(Match match, int timeoutMs) {
    QEventLoop loop;
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(process_.get(), &QProcess::readyReadStandardOutput, &loop, &QEventLoop::quit);
    QObject::connect(process_.get(), qOverload<int, QProcess::ExitStatus>(&QProcess::finished), &loop,
                     &QEventLoop::quit);
    guard.start(timeoutMs);
    for (;;) {
        readLines();
        while (consumed_ < lines_.size()) {
            const QString line = lines_[consumed_++];
            if (match(line)) {
                return line;
            }
        }
        if (!guard.isActive() || process_->state() == QProcess::NotRunning) {
            return QString();
        }
        loop.exec();
    }
}

void ChildProcess::send(const QByteArray& line) {
    process_->write(line + '\n');
    process_->waitForBytesWritten(10000);
}

bool ChildProcess::waitForExit(int timeoutMs) {
    const bool done = process_->state() == QProcess::NotRunning || process_->waitForFinished(timeoutMs);
    readLines();
    return done;
}

int ChildProcess::exitCode() const {
    return process_->exitCode();
}

bool ChildProcess::crashed() const {
    return process_->exitStatus() == QProcess::CrashExit;
}

void ChildProcess::kill() {
    process_->kill();
    process_->waitForFinished(10000);
}

QProcessEnvironment isolatedEnvironment(const QString& root) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // The home folder's name is part of the single-instance keys: unique per root.
    const QString home = root + "/home-" + QDir(root).dirName();
    QDir(home).mkpath(".config");
    QDir(home).mkpath(".local/share");
    QDir(root).mkpath("runtime");
    QFile::setPermissions(root + "/runtime", QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    environment.insert("HOME", home);
    environment.insert("XDG_CONFIG_HOME", home + "/.config");
    environment.insert("XDG_DATA_HOME", home + "/.local/share");
    environment.insert("XDG_CACHE_HOME", home + "/.cache");
    environment.insert("XDG_RUNTIME_DIR", root + "/runtime");
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert("QT_QUICK_BACKEND", "software");
    return environment;
}

}  // namespace tembratest
