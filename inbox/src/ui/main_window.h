#pragma once

#include <QMainWindow>
#include <QString>

class QSettings;
class Ui_MainWindow;

// The main window after sign-in: a QML view of the main screen whose context property
// "mainWindow" is this object. Remembers its size and position in the "WINDOW" group of the
// application's INI settings. GUI thread only.
class MainWindow : public QMainWindow {
    Q_OBJECT
    Q_PROPERTY(
        int applicationLanguage READ getApplicationLanguage WRITE setApplicationLanguage NOTIFY setDefaultLanguage)

public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // Plays the new-record sound; each call has a player of its own, so quick calls overlap.
    void playNotificationSound();

    // 0 English, 1 Spanish. The writer notifies also when the value does not change.
    int getApplicationLanguage() const;
    void setApplicationLanguage(int language);

    // Forwarders the controller calls to notify the screens; each only emits its signal.
    void emitError(int errorType);
    void emitSystemError(int errorType);
    void emitReloadApplication();
    void emitUpdateDebugStatus(bool status);
    void emitSendUpdateAlert();
    void emitUpdateRecordTransferData(QString percentage, QString currentFile, QString totalFiles, QString currentSize,
                                      QString totalSize);

    Q_INVOKABLE void onCopy2FALinkClicked(QString link);
    // The version the information pages show.
    Q_INVOKABLE QString getAppVersion() const;

signals:
    void error(int errorType);
    void systemError(int errorType);
    void reloadApplication();
    void setDefaultLanguage();
    void translateToES();
    void translateToEN();
    void updateRecordTransferData(QString percentage, QString currentFile, QString totalFiles, QString currentSize,
                                  QString totalSize);
    void sendUpdateAlert();
    void showMessage(QString message);
    void updateDebugStatus(bool status);

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    Ui_MainWindow* ui;
    QSettings* settings;
    int applicationLanguage = 0;
};
