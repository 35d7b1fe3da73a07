#include "login/userlogin.h"

#include "app/apperror.h"
#include "app/browser.h"
#include "app/usermessages.h"
#include "login/usersession.h"
#include "net/hosts.h"
#include "text/bytetext.h"
#include "text/gbk.h"

#include <QDomDocument>
#include <QRegularExpression>
#include <QScopeGuard>

namespace {

// The profile answer carries eleven fields; children after them are ignored.
constexpr int profileFieldCount = 11;

QDomDocument parseAnswer(const QList<QByteArray> &lines)
{
    QDomDocument document;
    if (lines.isEmpty())
        return document;
    QString reason;
    int line = 0;
    int column = 0;
    if (!document.setContent(lines.join("\r\n") + "\r\n", &reason, &line, &column)) {
        // The source text is the line the parser stopped in, from its start.
        const QString source = text::fromGbk(lines.value(line - 1)).left(40);
        throw AppError(reason + QStringLiteral("\nLine: ") + QString::number(line) + QLatin1Char('\n') +
                       source);
    }
    return document;
}

// The version of the XML declaration; empty without one.
QString declaredVersion(const QDomDocument &document)
{
    static const QRegularExpression version(QStringLiteral(R"(\bversion\s*=\s*(["'])(.*?)\1)"));
    for (QDomNode node = document.firstChild(); !node.isNull(); node = node.nextSibling()) {
        const QDomProcessingInstruction instruction = node.toProcessingInstruction();
        if (!instruction.isNull() && instruction.target() == QLatin1String("xml"))
            return version.match(instruction.data()).captured(2);
    }
    return {};
}

QDomNode childAt(const QDomNode &parent, int index)
{
    const QDomNodeList children = parent.childNodes();
    if (index >= children.size())
        throw AppError(QStringLiteral("List index out of bounds (%1)").arg(index));
    return children.at(index);
}

bool holdsCharacterData(const QDomNode &node)
{
    return node.nodeType() == QDomNode::TextNode || node.nodeType() == QDomNode::CDATASectionNode;
}

// A field's value: the character data of a text or CDATA node, the single text
// of an element, or the node value of anything else (a comment, a processing
// instruction). For character data the node value is that data.
QString fieldText(const QDomNode &node)
{
    if (!node.isElement())
        return node.nodeValue();
    const QDomNodeList children = node.childNodes();
    if (children.isEmpty())
        return {};
    if (children.size() > 1 || !holdsCharacterData(children.at(0)))
        throw AppError(QStringLiteral("Element does not contain a single text node"));
    return children.at(0).nodeValue();
}

} // namespace

UserLogin::UserLogin(UserSession &session, LoginForm &form, AccountMenuEntries &entries, Browser &browser,
                     UserMessages &messages)
    : m_session(session), m_form(form), m_entries(entries), m_browser(browser), m_messages(messages)
{
}

LoginResult UserLogin::userlogin(const QByteArray &user, const QByteArray &password)
{
    // The exchange runs the event loop, so the window could start another login
    // meanwhile; two attempts at once would mix their profiles.
    if (m_pending)
        return LoginResult::Busy;
    m_pending = true;
    const auto endPending = qScopeGuard([this] { m_pending = false; });

    m_session.resetUserinfo();
    const QByteArray service = "http://" + hosts::accountHost();
    QList<QByteArray> answerLines;
    try {
        const AccountRequest request(m_requestSettings);
        answerLines = text::splitLines(request.get(service + "/click_user.asp?user=" + user +
                                                   "&pass=" + password + "&softname=Tolvanic"));
    } catch (const AccountRequestError &) {
        m_messages.showPlain(QString::fromUtf8("网络不通。"));
    }

    const QDomDocument answer = parseAnswer(answerLines);
    if (declaredVersion(answer).isEmpty())
        return LoginResult::Refused;
    const QDomElement profile = answer.documentElement();
    for (int k = 0; k < profileFieldCount; ++k)
        m_session.appendUserinfo(text::toGbk(fieldText(childAt(childAt(profile, k), 0))));

    if (m_form.syncLoginTicked()) {
        m_browser.open(service + "/jump.asp?user=" + m_form.userNameText() + "&pass=" + m_form.passwordText(),
                       Browser::Show::Hidden);
        m_entries.enableAccountEntries();
    }
    m_session.setLoggedin(1);
    return LoginResult::Accepted;
}
