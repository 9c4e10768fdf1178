#include "single_instance.h"

#include <QSharedMemory>
#include <QSystemSemaphore>

#include <spdlog/spdlog.h>

// The check runs before the program installs its logger: these lines go to the logging
// library's initial default logger.

SingleInstance::SingleInstance(const QString& homeName)
    : segmentKey_(QStringLiteral("TembraShdMemory") + homeName),
      semaphore_(
          std::make_unique<QSystemSemaphore>(QStringLiteral("TembraSemaphore") + homeName, 1, QSystemSemaphore::Open)),
      segment_(std::make_unique<QSharedMemory>(segmentKey_)) {
}

SingleInstance::~SingleInstance() {
    release();
}

bool SingleInstance::acquire(int attempts, const std::function<void()>& pause) {
    for (int attempt = 0; attempt < attempts; ++attempt) {
        if (attempt > 0 && pause) {
            pause();
        }
        semaphore_->acquire();
        {
            // Attaching and detaching at once removes a segment that nobody holds any more:
            // the one a crashed instance left behind.
            QSharedMemory stale(segmentKey_);
            stale.attach(QSharedMemory::ReadWrite);
        }
        if (segment_->attach(QSharedMemory::ReadWrite)) {
            segment_->detach();
            semaphore_->release();
            spdlog::info("App already started");
            continue;
        }
        const bool created = segment_->create(1, QSharedMemory::ReadWrite);
        semaphore_->release();
        if (created) {
            return true;
        }
        spdlog::info("Unable to start. Restart in progress?");
    }
    return false;
}

void SingleInstance::release() {
    if (segment_ && segment_->isAttached()) {
        segment_->detach();
    }
}
