#include "login/profileanswer.h"

#include "app/apperror.h"
#include "login/usersession.h"
#include "text/gbk.h"

#include <QDomDocument>
#include <QRegularExpression>

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

bool readProfileAnswer(const QList<QByteArray> &answerLines, UserSession &session)
{
    const QDomDocument answer = parseAnswer(answerLines);
    if (declaredVersion(answer).isEmpty())
        return false;
    const QDomElement profile = answer.documentElement();
    for (int k = 0; k < profileFieldCount; ++k)
        session.appendUserinfo(text::toGbk(fieldText(childAt(childAt(profile, k), 0))));
    return true;
}
