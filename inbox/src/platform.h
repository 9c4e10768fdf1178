#pragma once

#include <QObject>
#include <QString>
#include <Qt>

class MainWindow;
class QUrl;

// The desktop services the controller uses. Each call fails silently where the desktop has
// no such service (no tray under Xvfb, no sound output); tests replace it to watch the calls.
class Platform {
public:
    virtual ~Platform() = default;

    // Shows the program's tray icon, owned by `owner`; false when the desktop has no tray.
    virtual bool showTrayIcon(QObject* owner);
    virtual void playNotificationSound(MainWindow* window);
    // A save-file dialog; empty when the user chose nothing.
    virtual QString askSaveFileName(const QString& caption, const QString& proposedPath);
    virtual Qt::KeyboardModifiers keyboardModifiers();
    virtual bool openUrl(const QUrl& url);
};
