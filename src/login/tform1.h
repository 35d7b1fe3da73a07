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
class TForm1 final : public QWidget, public LoginForm
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TForm1)

public:
    // Builds the window and runs FormCreate.
    TForm1(UserSession &session, AccountMenuEntries &accountEntries, Browser &browser, UserMessages &messages,
           QWidget *parent = nullptr);

    QByteArray userNameText() const override;
    QByteArray passwordText() const override;
    bool syncLoginTicked() const override;

    // Loads the banner, then the saved credentials.
    void FormCreate();
    // Saves the credentials, logs in, and reports a refusal or announces the acceptance.
    void bsSkinButton1Click();
    void bsSkinLinkLabel1Click();

Q_SIGNALS:
    // An accepted login: the query window is to be shown.
    void loginAccepted();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void loadBanner();
    void loadCredentials();

    Browser &m_browser;
    UserMessages &m_messages;
    UserLogin m_userLogin;

    QLabel *const bsSkinLinkImage1;
    QFrame *const bsSkinBevel2;
    QLabel *const bsSkinStdLabel1;
    QLineEdit *const bsSkinEdit1;
    QCheckBox *const bsSkinCheckRadioBox2;
    QLabel *const bsSkinStdLabel2;
    QLineEdit *const bsSkinPasswordEdit1;
    QCheckBox *const bsSkinCheckRadioBox1;
    QPushButton *const bsSkinButton1;
    QLabel *const bsSkinLinkLabel1;
    QFrame *const bsSkinBevel1;
    QLabel *const bsSkinStdLabel3;
};
