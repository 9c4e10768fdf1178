#include "platform.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QGuiApplication>
#include <QIcon>
#include <QSystemTrayIcon>
#include <QUrl>

#include "ui/main_window.h"

bool Platform::showTrayIcon(QObject* owner) {
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        return false;
    }
    auto* icon = new QSystemTrayIcon(QIcon(QStringLiteral(":/icons/Icons/icon.svg")), owner);
    icon->setVisible(true);
    return true;
}

void Platform::playNotificationSound(MainWindow* window) {
    if (window) {
        window->playNotificationSound();
    }
}

QString Platform::askSaveFileName(const QString& caption, const QString& proposedPath) {
    return QFileDialog::getSaveFileName(nullptr, caption, proposedPath);
}

Qt::KeyboardModifiers Platform::keyboardModifiers() {
    return QGuiApplication::queryKeyboardModifiers();
}

bool Platform::openUrl(const QUrl& url) {
    return QDesktopServices::openUrl(url);
}
