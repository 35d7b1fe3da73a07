#include "common/marketprofile.h"

#include "common/apperror.h"
#include "net/hosts.h"
#include "text/gbk.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <QStringEncoder>

namespace {

// The largest offset a rule may give: far past any marker, and well inside int.
constexpr int maxOffset = 1'000'000;

QByteArray gbk(const char *utf8)
{
    return text::toGbk(QString::fromUtf8(utf8));
}

MarketProfile makeBuiltIn()
{
    MarketProfile profile;
    profile.searchUrl = QByteArrayLiteral("http://{host}/search?q={keyword}&sort=sale-desc");
    profile.relatedMarker = gbk("你是不是想找");
    // Two bytes past the 12-byte heading: after its full-width colon.
    profile.relatedOffset = 14;
    profile.relatedEnd = QByteArrayLiteral("</div>");
    profile.entryOpen = QByteArrayLiteral("<dd>");
    profile.entryClose = QByteArrayLiteral("</dd>");
    // Each value starts right after its opening marker.
    const auto rule = [](QByteArray open, QByteArray close) {
        const int offset = int(open.size());
        return MarketProfile::ValueRule{std::move(open), offset, std::move(close)};
    };
    profile.items = rule(gbk("找到相关宝贝<em>"), QByteArrayLiteral("</em>"));
    profile.sales = rule(gbk("最近成交"), gbk("笔"));
    profile.price = rule(QByteArrayLiteral("<li class=\"price\"><em>"), QByteArrayLiteral("</em>"));
    profile.title = rule(QByteArrayLiteral("EventCanSelect\" title=\""), QByteArrayLiteral("\">"));
    profile.reject = QByteArrayLiteral("head");
    return profile;
}

// Reads one INI file into a profile, naming the line and key of the first
// thing it cannot take.
class IniReader
{
public:
    IniReader(MarketProfile &profile, const QString &fileName) : m_profile(profile), m_fileName(fileName) {}

    void read(QByteArrayView ini)
    {
        int lineNumber = 0;
        for (QByteArrayView rawLine : QByteArray::fromRawData(ini.data(), ini.size()).split('\n')) {
            ++lineNumber;
            QStringDecoder utf8(QStringDecoder::Utf8);
            QString line = utf8.decode(rawLine);
            if (utf8.hasError())
                fail(lineNumber, QString(), QStringLiteral("not UTF-8 text"));
            if (lineNumber == 1 && line.startsWith(QChar(0xFEFF)))
                line.remove(0, 1);
            line = line.trimmed();
            if (line.isEmpty() || line.startsWith(QLatin1Char(';')) || line.startsWith(QLatin1Char('#')))
                continue;
            if (line.startsWith(QLatin1Char('['))) {
                if (!line.endsWith(QLatin1Char(']')))
                    fail(lineNumber, QString(), QStringLiteral("a section line ends with \"]\""));
                m_section = line.sliced(1, line.size() - 2).trimmed();
                if (!knownSection(m_section))
                    fail(lineNumber, QStringLiteral("[%1]").arg(m_section),
                         QStringLiteral("unknown section"));
                continue;
            }
            const qsizetype equals = line.indexOf(QLatin1Char('='));
            if (equals < 0)
                fail(lineNumber, QString(), QStringLiteral("expected \"key = value\" or \"[section]\""));
            const QString key = line.first(equals).trimmed();
            const QString name = QStringLiteral("[%1] %2").arg(m_section, key);
            if (m_section.isEmpty())
                fail(lineNumber, key, QStringLiteral("a key before the first section"));
            if (m_seen.contains(name))
                fail(lineNumber, name, QStringLiteral("given twice"));
            m_seen.append(name);
            set(lineNumber, name, key, line.sliced(equals + 1).trimmed());
        }
        m_section.clear();
    }

private:
    static bool knownSection(const QString &section)
    {
        static const QStringList sections = {QStringLiteral("search"), QStringLiteral("related"),
                                             QStringLiteral("items"),  QStringLiteral("sales"),
                                             QStringLiteral("price"),  QStringLiteral("title"),
                                             QStringLiteral("accept")};
        return sections.contains(section);
    }

    MarketProfile::ValueRule *valueRule()
    {
        if (m_section == QLatin1String("items"))
            return &m_profile.items;
        if (m_section == QLatin1String("sales"))
            return &m_profile.sales;
        if (m_section == QLatin1String("price"))
            return &m_profile.price;
        if (m_section == QLatin1String("title"))
            return &m_profile.title;
        return nullptr;
    }

    void set(int line, const QString &name, const QString &key, const QString &value)
    {
        const auto is = [&key](const char *k) { return key == QLatin1String(k); };
        if (m_section == QLatin1String("search") && is("url")) {
            if (!value.contains(QLatin1String("{keyword}")))
                fail(line, name, QStringLiteral("the address needs {keyword}"));
            m_profile.searchUrl = marker(line, name, value);
        } else if (m_section == QLatin1String("related") && is("marker")) {
            m_profile.relatedMarker = marker(line, name, value);
        } else if (m_section == QLatin1String("related") && is("offset")) {
            m_profile.relatedOffset = offset(line, name, value);
        } else if (m_section == QLatin1String("related") && is("end")) {
            m_profile.relatedEnd = marker(line, name, value);
        } else if (m_section == QLatin1String("related") && is("open")) {
            m_profile.entryOpen = nonEmptyMarker(line, name, value);
        } else if (m_section == QLatin1String("related") && is("close")) {
            m_profile.entryClose = nonEmptyMarker(line, name, value);
        } else if (m_section == QLatin1String("accept") && is("reject")) {
            m_profile.reject = marker(line, name, value);
        } else if (MarketProfile::ValueRule *rule = valueRule(); rule && is("open")) {
            rule->open = marker(line, name, value);
        } else if (rule && is("offset")) {
            rule->offset = offset(line, name, value);
        } else if (rule && is("close")) {
            rule->close = marker(line, name, value);
        } else {
            fail(line, name, QStringLiteral("unknown key"));
        }
    }

    QByteArray marker(int line, const QString &name, const QString &value) const
    {
        QStringEncoder encoder("GBK", QStringEncoder::Flag::Stateless);
        QByteArray bytes = encoder.encode(value);
        if (encoder.hasError())
            fail(line, name, QStringLiteral("holds a character GBK cannot write"));
        return bytes;
    }

    QByteArray nonEmptyMarker(int line, const QString &name, const QString &value) const
    {
        if (value.isEmpty())
            fail(line, name, QStringLiteral("may not be empty"));
        return marker(line, name, value);
    }

    int offset(int line, const QString &name, const QString &value) const
    {
        bool ok = false;
        const int number = value.toInt(&ok);
        if (!ok || number < 0 || number > maxOffset)
            fail(line, name, QStringLiteral("not a whole number from 0 to %1").arg(maxOffset));
        return number;
    }

    [[noreturn]] void fail(int line, const QString &name, const QString &problem) const
    {
        const QString where = QStringLiteral("%1 line %2").arg(QFileInfo(m_fileName).fileName()).arg(line);
        throw AppError(name.isEmpty() ? QStringLiteral("%1: %2").arg(where, problem)
                                      : QStringLiteral("%1: %2: %3").arg(where, name, problem));
    }

    MarketProfile &m_profile;
    QString m_fileName;
    QString m_section;
    QStringList m_seen;
};

} // namespace

const MarketProfile &MarketProfile::builtIn()
{
    static const MarketProfile profile = makeBuiltIn();
    return profile;
}

MarketProfile MarketProfile::fromIni(QByteArrayView ini, const QString &fileName)
{
    MarketProfile profile = builtIn();
    IniReader(profile, fileName).read(ini);
    return profile;
}

MarketProfile MarketProfile::fromFile(const QString &fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        throw fileError(QStringLiteral("Cannot open file"), fileName, file.errorString());
    return fromIni(file.readAll(), fileName);
}

MarketProfile MarketProfile::chosen(const QString &fileName)
{
    if (!fileName.isEmpty())
        return fromFile(fileName);
    const QString fromEnvironment = qEnvironmentVariable("QUILLMARSH_MARKET_PROFILE");
    return fromEnvironment.isEmpty() ? builtIn() : fromFile(fromEnvironment);
}

QByteArray MarketProfile::searchUrlFor(const QByteArray &keyword) const
{
    QByteArray url = searchUrl;
    return url.replace("{host}", hosts::marketHost()).replace("{keyword}", keyword);
}
