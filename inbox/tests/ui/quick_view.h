#pragma once

#include <QColor>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QImage>
#include <QQuickItem>
#include <QQuickWidget>
#include <QSet>
#include <QString>
#include <QVariant>
#include <QWindow>
#include <QtTest/QTest>
#include <functional>

// Helpers for tests that drive a real QQuickWidget: find items by objectName, wait for a
// condition while the event loop runs (animations, queued signals), grab and judge frames.
namespace quick_view {

inline QObject* find(QQuickWidget* view, const QString& name) {
    QObject* root = view->rootObject();
    if (!root) return nullptr;
    if (root->objectName() == name) return root;
    return root->findChild<QObject*>(name);
}

inline QQuickItem* item(QQuickWidget* view, const QString& name) {
    return qobject_cast<QQuickItem*>(find(view, name));
}

inline QVariant read(QQuickWidget* view, const QString& name, const char* property) {
    QObject* object = find(view, name);
    return object ? object->property(property) : QVariant();
}

// Runs the event loop until the condition holds; waits for events, never sleeps.
inline bool waitUntil(const std::function<bool()>& condition, int timeoutMs = 5000) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents | QEventLoop::AllEvents, 20);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return true;
}

inline QPoint centreOf(QQuickItem* item) {
    return item->mapToScene(QPointF(item->width() / 2, item->height() / 2)).toPoint();
}

inline void click(QQuickWidget* view, QQuickItem* item) {
    QTest::mouseClick(view, Qt::LeftButton, Qt::NoModifier, centreOf(item));
}

inline void focus(QQuickItem* item) {
    item->forceActiveFocus();
}

// Distinct colours in the frame: a blank or failed grab has one (or none).
inline int distinctColours(const QImage& image) {
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); y += 2) {
        for (int x = 0; x < image.width(); x += 2) {
            colours.insert(image.pixel(x, y));
            if (colours.size() > 64) return colours.size();
        }
    }
    return colours.size();
}

inline bool near(QColor actual, QColor expected, int tolerance = 24) {
    return std::abs(actual.red() - expected.red()) <= tolerance &&
           std::abs(actual.green() - expected.green()) <= tolerance &&
           std::abs(actual.blue() - expected.blue()) <= tolerance;
}

// Kept as test artifacts under the build folder the test runs in.
inline QString saveArtifact(const QImage& image, const QString& name) {
    QDir dir(QDir::current().filePath(QStringLiteral("ui-artifacts")));
    dir.mkpath(QStringLiteral("."));
    const QString path = dir.filePath(name + QStringLiteral(".png"));
    image.save(path);
    return path;
}

}  // namespace quick_view
