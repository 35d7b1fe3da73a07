#include "login/profileanswer.h"

#include "common/apperror.h"
#include "login/usersession.h"
#include "text/gbk.h"

#include <QDomDocument>
#include <QXmlStreamReader>
#include <optional>
#include <utility>

namespace {

// The profile answer carries eleven fields; children after them are ignored.
constexpr int profileFieldCount = 11;

// The DOM builder takes time that grows with the square of the nesting depth:
// a few hundred kilobytes of nested elements would hold the login for
// minutes. A profile needs three levels, so deeper answers are refused
// before it runs. (The answer's size limit, AccountRequest::Settings,
// bounds what grows with the attribute count.)
constexpr int maxNestingDepth = 256;

// A parse error as the login reports it: the reason, then the line number and
// the start of the line the parser stopped in.
AppError parseError(const QString &reason, int line, const QList<QByteArray> &lines)
{
    const QString source = text::fromGbk(lines.value(line - 1)).left(40);
    return AppError(reason + QStringLiteral("\nLine: ") + QString::number(line) + QLatin1Char('\n') + source);
}

// Throws when the answer nests deeper than the limit. An answer that is not
// well-formed is left to the DOM parser to report.
void checkShape(const QByteArray &answer, const QList<QByteArray> &lines)
{
    QXmlStreamReader reader(answer);
    int depth = 0;
    while (!reader.atEnd()) {
        switch (reader.readNext()) {
        case QXmlStreamReader::StartElement:
            if (++depth > maxNestingDepth)
                throw parseError(QStringLiteral("Elements nested too deeply"), int(reader.lineNumber()),
                                 lines);
            break;
        case QXmlStreamReader::EndElement:
            --depth;
            break;
        default:
            break;
        }
    }
}

bool isWordByte(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

bool isSpaceByte(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

// Where the value of the pseudo-attribute version="…" (or '…') stands in the
// text of an XML declaration: its first byte and its length.
std::optional<std::pair<qsizetype, qsizetype>> versionValue(QByteArrayView declaration)
{
    static constexpr QByteArrayView name("version");
    for (qsizetype at = declaration.indexOf(name); at >= 0; at = declaration.indexOf(name, at + 1)) {
        if (at > 0 && isWordByte(declaration[at - 1]))
            continue;
        qsizetype i = at + name.size();
        const auto skipSpaces = [&] {
            while (i < declaration.size() && isSpaceByte(declaration[i]))
                ++i;
        };
        skipSpaces();
        if (i >= declaration.size() || declaration[i] != '=')
            continue;
        ++i;
        skipSpaces();
        if (i >= declaration.size() || (declaration[i] != '"' && declaration[i] != '\''))
            continue;
        const char quote = declaration[i];
        const qsizetype end = declaration.indexOf(quote, i + 1);
        if (end < 0)
            continue;
        return std::pair{i + 1, end - i - 1};
    }
    return std::nullopt;
}

// The XML reader knows only version 1.0 and refuses any other; the version an
// answer declares is never looked at beyond being there, so it is read as 1.0.
QByteArray readAsVersionOne(QByteArray answer)
{
    const qsizetype declarationEnd = answer.indexOf("?>");
    if (!answer.startsWith("<?xml") || declarationEnd < 0)
        return answer;
    const auto value = versionValue(QByteArrayView(answer).first(declarationEnd));
    if (value && value->second > 0) {
        const QByteArrayView version = QByteArrayView(answer).sliced(value->first, value->second);
        if (!version.contains('"') && !version.contains('\''))
            answer.replace(value->first, value->second, "1.0");
    }
    return answer;
}

QDomDocument parseAnswer(const QList<QByteArray> &lines)
{
    QDomDocument document;
    if (lines.isEmpty())
        return document;
    const QByteArray answer = readAsVersionOne(lines.join("\r\n") + "\r\n");
    checkShape(answer, lines);
    QString reason;
    int line = 0;
    int column = 0;
    if (!document.setContent(answer, &reason, &line, &column))
        throw parseError(reason, line, lines);
    return document;
}

// The version of the XML declaration; empty without one.
QString declaredVersion(const QDomDocument &document)
{
    for (QDomNode node = document.firstChild(); !node.isNull(); node = node.nextSibling()) {
        const QDomProcessingInstruction instruction = node.toProcessingInstruction();
        if (!instruction.isNull() && instruction.target() == QLatin1String("xml")) {
            const QByteArray data = instruction.data().toUtf8();
            const auto value = versionValue(data);
            return value ? QString::fromUtf8(data.sliced(value->first, value->second)) : QString();
        }
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
