#include "qt_task_manager.h"

QtTaskManager::QtTaskManager() : QObject(nullptr) {
    connect(this, SIGNAL(runOnGuiThread()), this, SLOT(runningOnGuiThread()), Qt::AutoConnection);
}

void QtTaskManager::wakeUp() {
    emit runOnGuiThread();
}

void QtTaskManager::runningOnGuiThread() {
    runTasks();
}
