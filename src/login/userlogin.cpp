#include "login/userlogin.h"

#include "common/browser.h"
#include "common/usermessages.h"
#include "login/profileanswer.h"
#include "login/usersession.h"
#include "net/hosts.h"
#include "text/bytetext.h"

#include <QScopeGuard>

UserLogin::UserLogin(UserSession &session, LoginForm &form, Browser &browser, UserMessages &messages)
    : m_session(session), m_form(form), m_browser(browser), m_messages(messages)
{
}

LoginResult UserLogin::logIn(const QByteArray &user, const QByteArray &password)
{
    // The exchange runs the event loop, so the window could start another login
    // meanwhile; two attempts at once would mix their profiles.
    if (m_pending)
        return LoginResult::Busy;
    m_pending = true;
    const auto endPending = qScopeGuard([this] { m_pending = false; });

    m_session.resetUserinfo();
    QList<QByteArray> answerLines;
    try {
        const AccountRequest request(m_requestSettings);
        answerLines = text::splitLines(request.get(
            hosts::accountUrl("/click_user.asp?user=" + user + "&pass=" + password + "&softname=Tolvanic")));
    } catch (const AccountRequestError &error) {
        if (error.kind() == AccountRequestError::Kind::Cancelled)
            return LoginResult::Cancelled;
        m_messages.showPlain(QString::fromUtf8("网络不通。"));
    }

    if (!readProfileAnswer(answerLines, m_session))
        return LoginResult::Refused;

    if (m_form.syncLoginTicked()) {
        m_browser.open(
            hosts::accountUrl("/jump.asp?user=" + m_form.userNameText() + "&pass=" + m_form.passwordText()),
            Browser::Show::Hidden);
        Q_EMIT syncLoginDone();
    }
    m_session.setLoggedin(1);
    return LoginResult::Accepted;
}

QString loginRefusedText()
{
    return QStringLiteral("用户名或密码错误！请重试。");
}
