#pragma once

#include "net/accountrequest.h"

#include <QByteArray>
#include <QObject>
#include <QString>

class Browser;
class UserMessages;
class UserSession;

// What the login routine reads from the login window at the moment it needs it.
class LoginForm
{
public:
    virtual ~LoginForm() = default;
    virtual QByteArray userNameText() const = 0;
    virtual QByteArray passwordText() const = 0;
    virtual bool syncLoginTicked() const = 0;
};

// What the login window (and the command line) says after a refused login.
QString loginRefusedText();

enum class LoginResult
{
    Refused, // wrong user name or password, or the request failed
    Accepted,
    Busy,      // a login is already pending; nothing was done
    Cancelled, // the program quit while the service had not answered; nothing was shown
};

// One login attempt against the account service. Errors in the answer
// (not well-formed XML, missing fields) are thrown as AppError for the caller's
// standard error box. The exchange keeps the event loop running while it waits.
class UserLogin final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(UserLogin)

public:
    UserLogin(UserSession &session, LoginForm &form, Browser &browser, UserMessages &messages);

    LoginResult logIn(const QByteArray &user, const QByteArray &password);
    bool isPending() const { return m_pending; }

    // Time-outs and limits of the exchange; tests shorten them.
    void setRequestSettings(const AccountRequest::Settings &settings) { m_requestSettings = settings; }

Q_SIGNALS:
    // An accepted login with sync login ticked has signed the browser in to
    // the forum, whose pages the tray menu can now open.
    void syncLoginDone();

private:
    UserSession &m_session;
    LoginForm &m_form;
    Browser &m_browser;
    UserMessages &m_messages;
    AccountRequest::Settings m_requestSettings;
    bool m_pending = false;
};
