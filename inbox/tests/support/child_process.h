#pragma once

#include <QByteArray>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <memory>

class QProcess;

namespace tembratest {

// A child program whose standard output the test reads line by line, waiting on the
// process's own events (never on sleeps), with a generous guard against a hung child.
class ChildProcess {
public:
    // With `withErrors` the child's standard error is read as lines too (its log lines).
    ChildProcess(const QString& program, const QProcessEnvironment& environment, bool withErrors = false);
    ~ChildProcess();

    // Waits until a line starting with `prefix` arrives; returns it (empty on timeout or exit).
    QString waitForLine(const QString& prefix, int timeoutMs = 60000);
    // The same for a line that holds `text` anywhere.
    QString waitForLineContaining(const QString& text, int timeoutMs = 60000);
    void send(const QByteArray& line);
    // Waits for the end; false on timeout.
    bool waitForExit(int timeoutMs = 60000);
    int exitCode() const;
    bool crashed() const;
    QStringList lines() const { return lines_; }
    void kill();

private:
    void readLines();
    template <typename Match>
    QString waitFor(Match match, int timeoutMs);

    std::unique_ptr<QProcess> process_;
    QByteArray pending_;
    QStringList lines_;
    int consumed_ = 0;
};

// An environment with its own home (named after `root`), XDG folders and runtime folder
// under `root`, without a display.
QProcessEnvironment isolatedEnvironment(const QString& root);

}  // namespace tembratest
