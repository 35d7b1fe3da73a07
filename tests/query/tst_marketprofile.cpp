#include "common/apperror.h"
#include "common/marketcookie.h"
#include "common/marketprofile.h"
#include "gbkliteral.h"
#include "query/keywordqueue.h"
#include "query/pageparser.h"
#include "resultpage.h"
#include "simprocess.h"

#include <QTemporaryDir>
#include <QTest>

using testsupport::gbk;

Q_DECLARE_METATYPE(sim::PageEncoding)

namespace {

const KeywordFilter noFilter{QByteArray(), false};

sim::ResultPage samplePage()
{
    return {QStringLiteral("连衣裙"),
            {QStringLiteral("连衣裙 夏"), QStringLiteral("碎花连衣裙"), QStringLiteral("连衣裙 长款")},
            QStringLiteral("4321"),
            {{QStringLiteral("连衣裙 夏季 新款"), QStringLiteral("89.00"), 765},
             {QStringLiteral("连衣裙 长款"), QStringLiteral("120.00"), 300}}};
}

MarketProfile modernProfile()
{
    return MarketProfile::fromFile(testsupport::sourceFile(QStringLiteral("tools/sim/modern-profile.ini")));
}

QString loadError(const QByteArray &ini)
{
    try {
        MarketProfile::fromIni(ini, QStringLiteral("/some/where/shop.ini"));
    } catch (const AppError &error) {
        return error.message();
    }
    return QString();
}

} // namespace

class TestMarketProfile : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Every key written out with the values the program always used reads
    // back as the built-in profile.
    void fileWithTheBuiltInValuesIsTheBuiltInProfile()
    {
        const QByteArray ini = "; the classic pages\n"
                               "[search]\r\n"
                               "url = http://{host}/search?q={keyword}&sort=sale-desc\r\n"
                               "[related]\n"
                               "marker = 你是不是想找\n"
                               "offset = 14\n"
                               "end = </div>\n"
                               "open = <dd>\n"
                               "close = </dd>\n"
                               "[items]\nopen = 找到相关宝贝<em>\noffset = 16\nclose = </em>\n"
                               "[sales]\nopen=最近成交\noffset=8\nclose=笔\n"
                               "[price]\nopen = <li class=\"price\"><em>\noffset = 22\nclose = </em>\n"
                               "[title]\nopen = EventCanSelect\" title=\"\noffset = 23\nclose = \">\n"
                               "[accept]\nreject = head\n";
        QVERIFY(MarketProfile::fromIni(ini, QStringLiteral("classic.ini")) == MarketProfile::builtIn());
        QVERIFY(MarketProfile::fromIni("# nothing set\n\n", QStringLiteral("empty.ini")) ==
                MarketProfile::builtIn());
    }

    void badFilesAreRefusedNamingLineAndKey_data()
    {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<QString>("message");
        QTest::newRow("offset not a number")
            << QByteArray("[price]\nopen = <b>\noffset = twelve\n")
            << QStringLiteral("shop.ini line 3: [price] offset: not a whole number from 0 to 1000000");
        QTest::newRow("negative offset") << QByteArray("\n[related]\noffset = -1\n")
                                         << QStringLiteral("shop.ini line 3: [related] offset: not a whole "
                                                           "number from 0 to 1000000");
        QTest::newRow("unknown key") << QByteArray("[items]\nopening = <em>\n")
                                     << QStringLiteral("shop.ini line 2: [items] opening: unknown key");
        QTest::newRow("unknown section") << QByteArray("[search]\n[prices]\n")
                                         << QStringLiteral("shop.ini line 2: [prices]: unknown section");
        QTest::newRow("key before a section")
            << QByteArray("url = x\n")
            << QStringLiteral("shop.ini line 1: url: a key before the first section");
        QTest::newRow("no equals sign")
            << QByteArray("[title]\nopen\n")
            << QStringLiteral("shop.ini line 2: expected \"key = value\" or \"[section]\"");
        QTest::newRow("given twice") << QByteArray("[sales]\nclose = a\nclose = b\n")
                                     << QStringLiteral("shop.ini line 3: [sales] close: given twice");
        QTest::newRow("address without keyword")
            << QByteArray("[search]\nurl = http://{host}/search\n")
            << QStringLiteral("shop.ini line 2: [search] url: the address needs {keyword}");
        QTest::newRow("empty entry marker")
            << QByteArray("[related]\nopen =\n")
            << QStringLiteral("shop.ini line 2: [related] open: may not be empty");
        QTest::newRow("character GBK lacks")
            << QByteArray("[sales]\nopen = 🙂\n")
            << QStringLiteral("shop.ini line 2: [sales] open: holds a character GBK cannot write");
        QTest::newRow("not UTF-8") << QByteArray("[sales]\nopen = \xD7\xEE\xBD\xFC\n")
                                   << QStringLiteral("shop.ini line 2: not UTF-8 text");
    }

    void badFilesAreRefusedNamingLineAndKey()
    {
        QFETCH(QByteArray, ini);
        QFETCH(QString, message);
        QCOMPARE(loadError(ini), message);
    }

    void missingFileIsRefused()
    {
        QTemporaryDir dir;
        const QString missing = dir.filePath(QStringLiteral("gone.ini"));
        QVERIFY_THROWS_EXCEPTION(AppError, MarketProfile::fromFile(missing));
    }

    // The file given wins over the environment, which wins over the built-in profile.
    void chosenProfile()
    {
        QTemporaryDir dir;
        const QString fromEnvironment = dir.filePath(QStringLiteral("env.ini"));
        QVERIFY(testsupport::writeFile(fromEnvironment, "[accept]\nreject = env\n"));

        qunsetenv("QUILLMARSH_MARKET_PROFILE");
        QVERIFY(MarketProfile::chosen(QString()) == MarketProfile::builtIn());
        qputenv("QUILLMARSH_MARKET_PROFILE", fromEnvironment.toLocal8Bit());
        QCOMPARE(MarketProfile::chosen(QString()).reject, QByteArray("env"));
        const QString given = testsupport::sourceFile(QStringLiteral("tools/sim/modern-profile.ini"));
        QCOMPARE(MarketProfile::chosen(given).items.open, QByteArray("<span class=\"total\">"));
        qunsetenv("QUILLMARSH_MARKET_PROFILE");
    }

    // The cookie file: the first line without a "Cookie:" prefix is read;
    // it is written owner-only, and an empty cookie removes it.
    void cookieFile()
    {
        QTemporaryDir dir;
        const QString pasted = dir.filePath(QStringLiteral("pasted"));
        QVERIFY(testsupport::writeFile(pasted, "  Cookie: session=abc; u=1 \r\nX-Injected: yes\n"));
        QCOMPARE(marketcookie::read(pasted), QByteArray("session=abc; u=1"));
        QCOMPARE(marketcookie::read(dir.filePath(QStringLiteral("none"))), QByteArray());

        const QString kept = dir.filePath(QStringLiteral("market-cookie"));
        marketcookie::write(kept, "session=abc\nX-Injected: yes");
        QFile file(kept);
        QCOMPARE(file.permissions() & ~(QFile::ReadUser | QFile::WriteUser),
                 QFile::ReadOwner | QFile::WriteOwner);
        QCOMPARE(marketcookie::read(kept), QByteArray("session=abc"));
        marketcookie::write(kept, {});
        QVERIFY(!QFile::exists(kept));
    }

    void searchAddress()
    {
        qputenv("QUILLMARSH_MARKET_HOST", "127.0.0.1:8080");
        const MarketProfile shop = MarketProfile::fromIni(
            "[search]\nurl = http://{host}/s?kw={keyword}&p=1\n", QStringLiteral("shop.ini"));
        QCOMPARE(shop.searchUrlFor(gbk("连衣裙") + " a&b"),
                 "http://127.0.0.1:8080/s?kw=" + gbk("连衣裙") + " a&b&p=1");
        QCOMPARE(MarketProfile::builtIn().searchUrlFor("x{host}"),
                 QByteArray("http://127.0.0.1:8080/search?q=x{host}&sort=sale-desc"));
        qunsetenv("QUILLMARSH_MARKET_HOST");
    }

    // The other page style read with its profile gives what the classic page
    // gives with the built-in one; each profile finds nothing it knows on the
    // other style.
    void modernPagesReadWithTheirProfile_data()
    {
        QTest::addColumn<sim::PageEncoding>("encoding");
        QTest::newRow("gbk") << sim::PageEncoding::Gbk;
        QTest::newRow("utf-8") << sim::PageEncoding::Utf8;
    }

    void modernPagesReadWithTheirProfile()
    {
        QFETCH(sim::PageEncoding, encoding);
        const MarketProfile modern = modernProfile();
        const QByteArray classicPage =
            sim::renderResultPage(samplePage(), encoding, 20'000, sim::PageStyle::Classic);
        const QByteArray modernPage =
            sim::renderResultPage(samplePage(), encoding, 20'000, sim::PageStyle::Modern);
        const QByteArray keyword = gbk("连衣裙");
        KeywordQueue queue;
        queue.append(keyword);

        const pageparser::Harvest classic =
            pageparser::parse(classicPage, keyword, queue, noFilter, MarketProfile::builtIn());
        const pageparser::Harvest read = pageparser::parse(modernPage, keyword, queue, noFilter, modern);
        QVERIFY(classic.row);
        QCOMPARE(classic.keywords.size(), 3);
        QCOMPARE(read.keywords, classic.keywords);
        QCOMPARE(read.row, classic.row);
        QVERIFY(read.recognised);

        for (const auto &[page, profile] :
             {std::pair{modernPage, MarketProfile::builtIn()}, std::pair{classicPage, modern}}) {
            const pageparser::Harvest wrong = pageparser::parse(page, keyword, queue, noFilter, profile);
            QVERIFY(!wrong.row);
            QVERIFY(!wrong.recognised);
        }
    }

    // A page that shows a marker but gives no row (no items found) is still
    // recognised: only pages with none of the markers count apart.
    void pageWithoutItemsIsRecognised()
    {
        sim::ResultPage empty = samplePage();
        empty.itemCount = QStringLiteral("0");
        empty.items.clear();
        const pageparser::Harvest harvest = pageparser::parse(
            sim::renderResultPage(empty, sim::PageEncoding::Gbk), gbk("连衣裙"), KeywordQueue(), noFilter);
        QVERIFY(!harvest.row);
        QVERIFY(harvest.recognised);
        const QByteArray signIn =
            "<html><head><title>login</title></head><body><form>password</form></body></html>";
        QVERIFY(!pageparser::parse(signIn, "kw", KeywordQueue(), noFilter).recognised);
    }
};

QTEST_GUILESS_MAIN(TestMarketProfile)
#include "tst_marketprofile.moc"
