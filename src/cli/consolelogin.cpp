#include "cli/consolelogin.h"

#include "cli/consoleoutput.h"
#include "cli/exitcode.h"
#include "text/gbk.h"

ConsoleLogin::ConsoleLogin(QByteArray user, QByteArray password)
    : m_user(std::move(user)), m_password(std::move(password))
{
}

int ConsoleLogin::run()
{
    UserLogin login(m_session, *this, *this, *this);
    try {
        if (login.logIn(m_user, m_password) == LoginResult::Accepted)
            return Success;
        showInformation(loginRefusedText());
        return LoginRefused;
    } catch (const AppError &error) {
        showError(error);
        return AnswerError;
    }
}

void ConsoleLogin::open(const QByteArray &address, Show)
{
    consoleoutput::printErrorLine(QStringLiteral("open in a browser: ") + text::fromGbk(address));
}

void ConsoleLogin::plainBox(const QString &text)
{
    consoleoutput::printErrorLine(text);
}

void ConsoleLogin::errorBox(const QString &text)
{
    consoleoutput::printErrorLine(text);
}

void ConsoleLogin::informationBox(const QString &text)
{
    consoleoutput::printErrorLine(text);
}
