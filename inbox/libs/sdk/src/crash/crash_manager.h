#pragma once

#include <functional>
#include <string>

namespace corvane {

// Receives the readable crash report and the size-prefixed "CRRM" message. Called once, on the
// faulting thread, from inside the signal handler; the process ends when it returns.
using CrashCallback = std::function<void(std::string report, std::string message)>;

// Turns a fatal fault anywhere in the process into a crash report for the application.
//
// Everything it keeps is process-wide: the object holds nothing of its own, and once enabled
// the handlers stay installed for the life of the process. Faults arrive as the signals
// SIGSEGV, SIGBUS, SIGILL, SIGFPE and SIGABRT, handled on an alternate stack so that a stack
// overflow of the enabling thread is still reported. Failed allocations (the new handler) and
// pure virtual calls set a failure text and abort, so they are reported through SIGABRT;
// uncaught exceptions reach it the same way through std::terminate. After the callback the
// process ends with the signal's default action, so its exit status still tells the signal.
// The report's exception code is the signal number; the module offsets are those that
// addr2line takes.
class CrashManager {
public:
    // Build identifier of the SDK written into every report.
    static constexpr const char* kSdkVersion = "7438a6d2";

    // Stores the application's name, version text and callback and installs the handlers.
    // A second call logs an error and replaces the stored values. Call it on the thread whose
    // stack overflow should be caught too (the application's main thread).
    void enable(std::string appName, std::string appVersion, CrashCallback callback);
};

}  // namespace corvane
