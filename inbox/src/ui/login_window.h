#pragma once

#include <QDialog>
#include <QString>
#include <QVariant>

class Ui_LoginWindow;

// The sign-in dialog. It hosts the QML login screen, hands what the user typed to the
// controller through its signals and hears back through setLoginStatus and emitError.
// GUI thread only.
class LoginWindow : public QDialog {
    Q_OBJECT
    Q_PROPERTY(int loginStatus READ getLoginStatus WRITE setLoginStatus NOTIFY loginStatusChanged)

public:
    explicit LoginWindow(QWidget* parent = nullptr);
    ~LoginWindow() override;

    QString getUsername() const;
    QString getPassword() const;

    int getLoginStatus() const;
    // 1 signed in, 0 the last attempt failed. Notifies on every call, so two failures in a
    // row both reach the screen.
    void setLoginStatus(int status);
    // Window error codes: 5 connection lost, 6 connection back, 8 unreadable two-factor
    // code, 9 two-factor code needed, 12 account blocked.
    void emitError(int errorType);

signals:
    void login();
    void loginStatusChanged();
    void error(int errorType);
    void login2FA(QString code);
    void activateLogin(bool activate);

public:
    Q_INVOKABLE void onLoginButtonClicked(QVariant username, QVariant password);
    Q_INVOKABLE void onLogin2FAClicked(QString code);
    Q_INVOKABLE void onActivateLoginClicked(bool activate);

private:
    Ui_LoginWindow* ui;
    int loginStatus = -1;  // not set until the controller reports an attempt
    QString username;
    QString password;
};
