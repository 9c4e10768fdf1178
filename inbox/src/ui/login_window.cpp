#include "ui/login_window.h"

#include <QCoreApplication>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickWidget>
#include <QUrl>
#include <QVBoxLayout>

#include "util/deployment.h"

class Ui_LoginWindow {
public:
    QVBoxLayout* verticalLayout = nullptr;
    QQuickWidget* loginWidget = nullptr;

    void setupUi(QDialog* dialog) {
        if (dialog->objectName().isEmpty()) dialog->setObjectName(QStringLiteral("LoginWindow"));
        dialog->resize(750, 500);
        verticalLayout = new QVBoxLayout(dialog);
        verticalLayout->setObjectName(QStringLiteral("verticalLayout"));
        loginWidget = new QQuickWidget(dialog);
        loginWidget->setObjectName(QStringLiteral("loginWidget"));
        loginWidget->setResizeMode(QQuickWidget::SizeRootObjectToView);
        verticalLayout->addWidget(loginWidget);
        // Translated once, with the translator installed now: an open dialog keeps its title.
        dialog->setWindowTitle(QCoreApplication::translate("LoginWindow", "Login to Corvane"));
        QMetaObject::connectSlotsByName(dialog);
    }
};

namespace {

void registerQmlType() {
    static const bool registered = [] {
        qmlRegisterType<LoginWindow>("Tembra.LoginWindow", 1, 0, "LoginWindow");
        return true;
    }();
    (void)registered;
}

}  // namespace

LoginWindow::LoginWindow(QWidget* parent) : QDialog(parent), ui(new Ui_LoginWindow) {
    ui->setupUi(this);
    ui->verticalLayout->setSizeConstraint(QLayout::SetFixedSize);
    registerQmlType();
    QQmlContext* context = ui->loginWidget->rootContext();
    context->setContextProperty(QStringLiteral("loginWindow"), this);
    // Where the registration page lies; the same web address the SDK builds its links on.
    context->setContextProperty(QStringLiteral("webAddress"),
                                QString::fromStdString(corvane::getDeployment().webAddress));
    ui->loginWidget->setSource(QUrl(QStringLiteral("qrc:/LoginWidget.qml")));
    ui->verticalLayout->setContentsMargins(0, 0, 0, 0);
}

LoginWindow::~LoginWindow() {
    delete ui;
}

QString LoginWindow::getUsername() const {
    return username;
}

QString LoginWindow::getPassword() const {
    return password;
}

int LoginWindow::getLoginStatus() const {
    return loginStatus;
}

void LoginWindow::setLoginStatus(int status) {
    loginStatus = status;
    emit loginStatusChanged();
}

void LoginWindow::emitError(int errorType) {
    emit error(errorType);
}

void LoginWindow::onLoginButtonClicked(QVariant username, QVariant password) {
    this->username = username.toString();
    this->password = password.toString();
    emit login();
}

void LoginWindow::onLogin2FAClicked(QString code) {
    emit login2FA(code);
}

void LoginWindow::onActivateLoginClicked(bool activate) {
    emit activateLogin(activate);
}
