#pragma once

#include <QObject>

#include "corvane/task_manager.h"

// Runs the tasks that SDK threads post on the GUI thread, inside the Qt event loop. A post
// from another thread becomes a queued slot call; a post from the GUI thread itself drains the
// queue before it returns.
class QtTaskManager : public QObject, public corvane::TaskManager {
    Q_OBJECT

public:
    QtTaskManager();

    void wakeUp() override;

signals:
    void runOnGuiThread();

protected slots:
    void runningOnGuiThread();
};
