#pragma once

#include <QString>

#include <functional>
#include <memory>

class QSharedMemory;
class QSystemSemaphore;

// One running program per user: a 1-byte shared-memory segment that the running instance
// keeps created, with a system semaphore that serialises the check between starting
// processes. Both keys end with the name of the user's home folder.
class SingleInstance {
public:
    explicit SingleInstance(const QString& homeName);
    ~SingleInstance();

    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // Makes up to `attempts` tries, calling `pause` between them; true once this process is
    // the instance. A segment left by an instance that died is removed on the way.
    bool acquire(int attempts, const std::function<void()>& pause);

    // Gives the segment up (also done by the destructor).
    void release();

private:
    QString segmentKey_;
    std::unique_ptr<QSystemSemaphore> semaphore_;
    std::unique_ptr<QSharedMemory> segment_;
};
