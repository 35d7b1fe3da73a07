#pragma once

#include "login/userlogin.h"

#include <QWidget>

class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;

// The login window: banner, user name and password, the remember and sync
// login boxes, the login button and the registration link. It is the
// program's main window; the login routine reads its fields through LoginForm.
class LoginWindow final : public QWidget, public LoginForm
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(LoginWindow)

public:
    // Builds the window and runs loadSavedState.
    LoginWindow(UserSession &session, Browser &browser, UserMessages &messages, QWidget *parent = nullptr);

    QByteArray userNameText() const override;
    QByteArray passwordText() const override;
    bool syncLoginTicked() const override;

    // Loads the banner, then the saved credentials.
    void loadSavedState();
    // Saves the credentials, logs in, and reports a refusal or announces the acceptance.
    void logIn();
    void openRegistrationPage();

Q_SIGNALS:
    // An accepted login: the query window is to be shown.
    void loginAccepted();
    // See UserLogin::syncLoginDone.
    void syncLoginDone();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void loadBanner();
    void loadCredentials();

    Browser &m_browser;
    UserMessages &m_messages;
    UserLogin m_userLogin;

    QLabel *const m_banner;
    QFrame *const m_bannerRule;
    QLabel *const m_userNameLabel;
    QLineEdit *const m_userNameEdit;
    QCheckBox *const m_syncLoginBox;
    QLabel *const m_passwordLabel;
    QLineEdit *const m_passwordEdit;
    QCheckBox *const m_rememberBox;
    QPushButton *const m_loginButton;
    QLabel *const m_registerLink;
    QFrame *const m_footerRule;
    QLabel *const m_footerLabel;
};
