#pragma once

#include "common/browser.h"
#include "common/usermessages.h"
#include "login/userlogin.h"
#include "login/usersession.h"

#include <QByteArray>

// The login as the command line runs it: the login routine the window uses,
// with the console in the window's place. Sync login is never ticked (there is
// no browser session to log in), and the boxes become lines on standard error.
class ConsoleLogin final : public LoginForm, public Browser, public UserMessages
{
public:
    // Both GBK bytes, as the window would pass them.
    ConsoleLogin(QByteArray user, QByteArray password);

    // Runs one attempt and reports it on standard error; returns the exit code
    // (Success, LoginRefused or AnswerError).
    int run();
    const UserSession &session() const { return m_session; }

    QByteArray userNameText() const override { return m_user; }
    QByteArray passwordText() const override { return m_password; }
    bool syncLoginTicked() const override { return false; }
    void open(const QByteArray &address, Show show) override;

protected:
    void plainBox(const QString &text) override;
    void errorBox(const QString &text) override;
    void informationBox(const QString &text) override;

private:
    QByteArray m_user;
    QByteArray m_password;
    UserSession m_session;
};
