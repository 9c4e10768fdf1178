#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "corvane/action_data.h"
#include "corvane/action_listener.h"
#include "corvane/event_listener.h"
#include "request/request_listener.h"

namespace corvane {
namespace test {

// Writes down every action notification as "<prefix><kind>", followed by ":<detail>" when a
// detail function is given, and the thread it came on. Safe from any thread.
class RecordingActionListener : public ActionListener {
public:
    using Detail = std::function<std::string(const ActionData&)>;

    struct Options {
        // Written before each kind ("start", "processed", "progress", "error", "finish").
        std::string prefix;
        Detail detail;
        // Also records setReleased as "held" / "released".
        bool ownership = false;
        // Records progress and error notifications too.
        bool progressAndErrors = true;
        // Appends here instead of to calls, so that several listeners share one order.
        std::vector<std::string>* sink = nullptr;
    };

    RecordingActionListener() = default;
    explicit RecordingActionListener(Options options) : options_(std::move(options)) {}
    // Shares the given list, each entry starting with the prefix.
    explicit RecordingActionListener(std::vector<std::string>* sink, std::string prefix = "") {
        options_.sink = sink;
        options_.prefix = std::move(prefix);
    }

    static std::string errorCode(const ActionData& action) { return std::to_string(action.getErrorCode()); }
    static std::string id(const ActionData& action) { return std::to_string(action.getId()); }

    void setReleased(bool released) override {
        if (options_.ownership) {
            record(released ? "released" : "held");
        }
    }
    void onActionStart(std::shared_ptr<ActionData> action) override { note("start", *action); }
    void onActionProcessed(std::shared_ptr<ActionData> action) override { note("processed", *action); }
    void onActionProgress(std::shared_ptr<ActionData> action) override {
        if (options_.progressAndErrors) {
            note("progress", *action);
        }
    }
    void onActionError(std::shared_ptr<ActionData> action) override {
        if (options_.progressAndErrors) {
            note("error", *action);
        }
    }
    void onActionFinish(std::shared_ptr<ActionData> action) override {
        note("finish", *action);
        std::lock_guard<std::mutex> guard(mutex);
        ++finishes;
        condition.notify_all();
    }

    void waitForFinishes(int count) {
        std::unique_lock<std::mutex> lock(mutex);
        condition.wait(lock, [&] { return finishes >= count; });
    }
    std::vector<std::string> snapshot() {
        std::lock_guard<std::mutex> guard(mutex);
        return calls;
    }

    std::mutex mutex;
    std::condition_variable condition;
    std::vector<std::string> calls;
    std::vector<std::thread::id> threads;
    int finishes = 0;

private:
    void note(const char* kind, const ActionData& action) {
        std::string call = options_.prefix + kind;
        if (options_.detail) {
            call += ":" + options_.detail(action);
        }
        record(call);
    }
    void record(const std::string& call) {
        std::lock_guard<std::mutex> guard(mutex);
        (options_.sink != nullptr ? *options_.sink : calls).push_back(call);
        threads.push_back(std::this_thread::get_id());
    }

    Options options_;
};

// Counts what a request listener hears.
class CountingRequestListener : public RequestListener {
public:
    void updated(std::shared_ptr<Request>) override { ++updatedCount; }
    void processed(std::shared_ptr<Request>) override { ++processedCount; }
    void finished(std::shared_ptr<Request>) override { ++finishedCount; }
    int updatedCount = 0;
    int processedCount = 0;
    int finishedCount = 0;
};

// Counts events and writes down how the SDK holds it (false: held, true: released).
class RecordingEventListener : public EventListener {
public:
    void setReleased(bool released) override { releases.push_back(released); }
    void onEvent(std::shared_ptr<EventData>) override { ++events; }
    std::vector<bool> releases;
    int events = 0;
};

}  // namespace test
}  // namespace corvane
