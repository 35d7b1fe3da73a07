#include "gbkliteral.h"
#include "query/keywordqueue.h"
#include "query/pageparser.h"
#include "resultpage.h"
#include "text/gbk.h"

#include <QTest>

using testsupport::gbk;

using ByteList = QList<QByteArray>;

namespace QTest {
template <> char *toString(const ListedItem &item)
{
    return qstrdup(item.title.toHex(' ') + " / " + item.price + " / " + item.sales);
}
} // namespace QTest

namespace {

// A GBK page around a related block: head, item count, the heading, then the block as given.
QByteArray relatedPage(const QByteArray &block)
{
    return "<html><head><title>t</title></head><body>" + gbk("共找到相关宝贝<em>10</em>件") + "\n" +
           gbk("<div>你是不是想找：") + block;
}

QByteArray items(const ByteList &keywords)
{
    QByteArray html;
    for (const QByteArray &keyword : keywords)
        html += "<dd><a href=\"/s\">" + keyword + "</a></dd>";
    return html + "</div>";
}

struct RowPage
{
    QByteArray count = "1234";
    QByteArray sales = gbk("最近成交56笔");
    QByteArray price = "<li class=\"price\"><em>25.00</em></li>";
    QByteArray title = "class=\"EventCanSelect\" title=\"" + gbk("红色连衣裙") + "\">";

    QByteArray render() const
    {
        return "<html><head><title>t</title></head><body>" + gbk("共找到相关宝贝<em>") + count + "</em>" +
               gbk("件") + "\n<h3><a " + title + "x</a></h3>\n<ul>" + price + "<li>" + sales + "</li></ul>\n";
    }
};

const KeywordFilter noFilter{QByteArray(), false};

ByteList gbkList(const QStringList &strings)
{
    ByteList list;
    for (const QString &string : strings)
        list.append(text::toGbk(string));
    return list;
}

sim::ResultPage realisticPage()
{
    sim::ResultPage page;
    page.keyword = QStringLiteral("连衣裙");
    page.related = {QStringLiteral("连衣裙 夏"),  QStringLiteral("碎花连衣裙"),
                    QStringLiteral("Dress 长款"), QStringLiteral("连衣裙&外套"),
                    QStringLiteral("雪纺连衣裙"), QStringLiteral("连衣裙 2026")};
    page.itemCount = QStringLiteral("0012345");
    for (int i = 0; i < 44; ++i)
        page.items.append({QStringLiteral("韩版修身连衣裙 第%1款 \"新品\"").arg(i),
                           QStringLiteral("%1.90").arg(99 - i), 5000 - i * 10});
    return page;
}

} // namespace

class TestPageParser : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void relatedKeywords_data()
    {
        QTest::addColumn<QByteArray>("page");
        QTest::addColumn<ByteList>("queued");
        QTest::addColumn<KeywordFilter>("filter");
        QTest::addColumn<ByteList>("expected");

        QTest::newRow("items in order") << relatedPage(items({"alpha", gbk("连衣裙")})) << ByteList{}
                                        << noFilter << ByteList{"alpha", gbk("连衣裙")};
        // n items give n + 1 pieces: the text after the last "</dd>" is read too.
        QTest::newRow("text after the last item")
            << relatedPage(items({"alpha"}).replace("</div>", "<b>tail</b></div>")) << ByteList{} << noFilter
            << ByteList{"alpha", "tail"};
        // The text between the heading and the first "<dd>" starts the first piece.
        QTest::newRow("tag before the first item")
            << relatedPage("<span>tip</span>" + items({"alpha", "beta"})) << ByteList{} << noFilter
            << ByteList{"tip", "beta"};
        QTest::newRow("no closing div") << relatedPage(items({"alpha"}).replace("</div>", "</ul>"))
                                        << ByteList{} << noFilter << ByteList{};
        // Without the heading the block runs from byte 14: byte 14 is the ">" before "second".
        QTest::newRow("no heading") << QByteArray("<b>first</b>#>second<i></div>") << ByteList{} << noFilter
                                    << ByteList{"second"};
        QTest::newRow("piece without tags")
            << relatedPage("<dd>plain</dd></div>") << ByteList{} << noFilter << ByteList{};
        // Four spaces go first, then CR LF: six spaces keep two, and spaces that a
        // removed line end brings together stay.
        QTest::newRow("spaces and line ends")
            << relatedPage(items({"six      spaces", "line\r\nend", "lone\rcr\tand\nlf", "a  \r\n  b"}))
            << ByteList{} << noFilter << ByteList{"six  spaces", "lineend", "lone\rcr\tand\nlf", "a    b"};
        QTest::newRow("queued in another case")
            << relatedPage(items({"dress", "DRESS coat", "shoes"})) << ByteList{"Dress", "dress COAT"}
            << noFilter << ByteList{"shoes"};
        // 0x81 0x41 and 0x81 0x61 are two different characters: the trail byte is no letter.
        QTest::newRow("trail bytes like letters")
            << relatedPage(items({"\x81\x61", "\x81\x41x", "\x81\x41X"})) << ByteList{"\x81\x41"} << noFilter
            << ByteList{"\x81\x61", "\x81\x41x"};
        QTest::newRow("twice on one page") << relatedPage(items({"kw", "KW", "other", "kw"})) << ByteList{}
                                           << noFilter << ByteList{"kw", "other"};
        QTest::newRow("search excluded") << relatedPage(items({"research", "Search tool", "searches"}))
                                         << ByteList{} << noFilter << ByteList{"Search tool"};
        QTest::newRow("must contain the box text")
            << relatedPage(items({"red dress", "shoes", "Dress", gbk("红色连衣裙")})) << ByteList{}
            << KeywordFilter{"dress", true} << ByteList{"red dress"};
        QTest::newRow("must contain Chinese box text")
            << relatedPage(items({gbk("红色连衣裙"), gbk("衬衫")})) << ByteList{}
            << KeywordFilter{gbk("连衣裙"), true} << ByteList{gbk("红色连衣裙")};
        QTest::newRow("must contain an empty box") << relatedPage(items({"red dress", "shoes"})) << ByteList{}
                                                   << KeywordFilter{QByteArray(), true} << ByteList{};
        QTest::newRow("realistic page")
            << sim::renderResultPage(realisticPage(), sim::PageEncoding::Gbk)
            << ByteList{gbk("连衣裙"), gbk("碎花连衣裙")} << KeywordFilter{gbk("连衣裙"), true}
            << ByteList{gbk("连衣裙 夏"), gbk("连衣裙&amp;外套"), gbk("雪纺连衣裙"), gbk("连衣裙 2026")};
    }
    void relatedKeywords()
    {
        QFETCH(QByteArray, page);
        QFETCH(ByteList, queued);
        QFETCH(KeywordFilter, filter);
        QFETCH(ByteList, expected);
        KeywordQueue queue;
        for (const QByteArray &line : queued)
            queue.append(line);
        QCOMPARE(pageparser::parse(page, "seed", queue, filter).keywords, expected);
    }

    void row_data()
    {
        QTest::addColumn<QByteArray>("page");
        QTest::addColumn<ByteList>("expected"); // count, sales, price, description; empty: no row

        const RowPage plain;
        const ByteList plainCells{"1234", "56", "25.00", gbk("红色连衣裙")};
        QTest::newRow("plain") << plain.render() << plainCells;

        const auto withCount = [&](const QByteArray &count) {
            RowPage page;
            page.count = count;
            return page.render();
        };
        QTest::newRow("leading zeros")
            << withCount("0012") << ByteList{"12", "56", "25.00", gbk("红色连衣裙")};
        QTest::newRow("negative") << withCount("-5") << ByteList{"-5", "56", "25.00", gbk("红色连衣裙")};
        QTest::newRow("sign and spaces")
            << withCount("  +7") << ByteList{"7", "56", "25.00", gbk("红色连衣裙")};
        QTest::newRow("largest") << withCount("2147483647")
                                 << ByteList{"2147483647", "56", "25.00", gbk("红色连衣裙")};
        QTest::newRow("zero") << withCount("0") << ByteList{};
        QTest::newRow("thousands separator") << withCount("1,234") << ByteList{};
        QTest::newRow("empty count") << withCount("") << ByteList{};
        QTest::newRow("out of range") << withCount("2147483648") << ByteList{};
        QTest::newRow("trailing space") << withCount("12 ") << ByteList{};
        QTest::newRow("sign only") << withCount("-") << ByteList{};

        RowPage sales = plain;
        sales.sales = gbk("最近成交0012笔");
        QTest::newRow("sales leading zeros")
            << sales.render() << ByteList{"1234", "12", "25.00", gbk("红色连衣裙")};
        sales.sales = gbk("最近成交1,000笔");
        QTest::newRow("sales separator")
            << sales.render() << ByteList{"1234", "0", "25.00", gbk("红色连衣裙")};
        sales.sales = gbk("最近成交56");
        QTest::newRow("sales without end")
            << sales.render() << ByteList{"1234", "0", "25.00", gbk("红色连衣裙")};

        RowPage price = plain;
        price.price = "<li class=\"price\"><em></em></li>";
        QTest::newRow("empty price") << price.render() << ByteList{};
        price.price = "<li class=\"price\"><em>head</em></li>";
        QTest::newRow("price with head") << price.render() << ByteList{};
        // Cut from byte 22 up to the item count's "</em>", across the page head.
        price.price = "<li>25.00</li>";
        QTest::newRow("no price marker") << price.render() << ByteList{};
        QTest::newRow("price marker without end")
            << QByteArray(plain.render().replace("25.00</em>", "25.00</i>")) << ByteList{};
        QTest::newRow("price not trimmed") << QByteArray(plain.render().replace("25.00", " &yen;25 "))
                                           << ByteList{"1234", "56", " &yen;25 ", gbk("红色连衣裙")};

        RowPage title = plain;
        title.title = "class=\"EventCanSelect\" title=\"headphones\">";
        QTest::newRow("description with head") << title.render() << ByteList{};
        title.title = "class=\"EventCanSelect\" title=\"Headphones &amp; more\">";
        QTest::newRow("description kept as cut")
            << title.render() << ByteList{"1234", "56", "25.00", "Headphones &amp; more"};
    }
    void row()
    {
        QFETCH(QByteArray, page);
        QFETCH(ByteList, expected);
        const std::optional<ResultRow> row = pageparser::parse(page, "kw", KeywordQueue(), noFilter).row;
        if (expected.isEmpty()) {
            QVERIFY2(!row, row ? (*row)[ResultsModel::Price].constData() : "");
            return;
        }
        QVERIFY(row);
        QCOMPARE((ByteList{row->begin(), row->end()}),
                 (ByteList{QByteArray(), "kw", expected[0], expected[1], expected[2], expected[3]}));
    }

    // The loose UTF-8 rules decide whether a page is converted; the keyword
    // shows which way it went.
    void pageEncoding_data()
    {
        QTest::addColumn<QByteArray>("keyword");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("utf-8") << QByteArray("\xe8\xbf\x9e\xe8\xa1\xa3\xe8\xa3\x99") << gbk("连衣裙");
        QTest::newRow("gbk") << gbk("连衣裙") << gbk("连衣裙");
        QTest::newRow("two-byte utf-8") << QByteArray("caf\xc3\xa9") << gbk("café");
        QTest::newRow("not in gbk") << QByteArray("\xe0\xb8\x81x") << QByteArray("?x");
        // Only the low 16 bits count: F4 BD A0 reads as U+4F60.
        QTest::newRow("low 16 bits") << QByteArray("\xf4\xbd\xa0") << gbk("你");
        // A four-byte sequence leaves its last byte to open a sequence of its own.
        QTest::newRow("four bytes") << QByteArray("\xf0\x9f\x98\x80x") << QByteArray("\xf0\x9f\x98\x80x");
        QTest::newRow("cut short") << QByteArray("ab\xe8\xbf") << QByteArray("ab\xe8\xbf");
        QTest::newRow("lone surrogate") << QByteArray("\xed\xa0\x80x") << QByteArray("?x");
        QTest::newRow("bad follower") << QByteArray("\xc3\x41") << QByteArray("\xc3\x41");
    }
    void pageEncoding()
    {
        QFETCH(QByteArray, keyword);
        QFETCH(QByteArray, expected);
        // No heading: the block starts at byte 14, the "<" of "<dd>".
        const QByteArray page = "=============<dd><a>" + keyword + "</a></dd></div>";
        QCOMPARE(pageparser::parse(page, "kw", KeywordQueue(), noFilter).keywords, ByteList{expected});
    }

    void utf8PageReadsLikeGbk_data()
    {
        QTest::addColumn<int>("paddedTo");
        QTest::newRow("small") << 0;
        QTest::newRow("200 KB") << 200 * 1024;
    }
    void utf8PageReadsLikeGbk()
    {
        QFETCH(int, paddedTo);
        const sim::ResultPage page = realisticPage();
        const QByteArray gbkPage = sim::renderResultPage(page, sim::PageEncoding::Gbk, paddedTo);
        const QByteArray utf8Page = sim::renderResultPage(page, sim::PageEncoding::Utf8, paddedTo);
        QVERIFY(gbkPage != utf8Page);
        KeywordQueue queue;
        queue.append(gbk("连衣裙"));
        const pageparser::Harvest fromGbk = pageparser::parse(gbkPage, gbk("连衣裙"), queue, noFilter);
        const pageparser::Harvest fromUtf8 = pageparser::parse(utf8Page, gbk("连衣裙"), queue, noFilter);

        // Entities stay as they are on the page.
        ByteList expected = gbkList(page.related);
        expected[3] = gbk("连衣裙&amp;外套");
        QCOMPARE(fromGbk.keywords, expected);
        QVERIFY(fromGbk.row);
        QCOMPARE((ByteList{fromGbk.row->begin(), fromGbk.row->end()}),
                 (ByteList{QByteArray(), gbk("连衣裙"), "12345", "5000", "99.90",
                           gbk("韩版修身连衣裙 第0款 &quot;新品&quot;")}));
        QCOMPARE(fromUtf8.keywords, fromGbk.keywords);
        QVERIFY(fromUtf8.row);
        QCOMPARE(*fromUtf8.row, *fromGbk.row);

        // Ten of the 44 items are read, the first one being the row's.
        QCOMPARE(fromGbk.items.size(), pageparser::MaxListedItems);
        QCOMPARE(fromGbk.items.first().title, fromGbk.row->at(5));
        QCOMPARE(fromGbk.items[9],
                 (ListedItem{gbk("韩版修身连衣裙 第9款 &quot;新品&quot;"), "90.90", "4910"}));
        QCOMPARE(fromUtf8.items, fromGbk.items);
    }

    void listedItems_data()
    {
        QTest::addColumn<QByteArray>("page");
        QTest::addColumn<QList<ListedItem>>("expected");
        const auto item = [](const QByteArray &title, const QByteArray &price, const QByteArray &sales) {
            return "<a class=\"EventCanSelect\" title=\"" + title + "\">x</a><li class=\"price\"><em>" +
                   price + "</em></li><li>" + gbk("最近成交") + sales + gbk("笔") + "</li>\n";
        };
        QTest::newRow("items in page order")
            << item("a", "1.00", "30") + item("b", "2.50", "20") + item("c", "3", "10")
            << QList<ListedItem>{{"a", "1.00", "30"}, {"b", "2.50", "20"}, {"c", "3", "10"}};
        // Sales are read as the row reads them: a whole number or 0.
        QTest::newRow("sales normalised")
            << item("a", "1", "0012") + item("b", "2", "1,234") + item("c", "3", " -5")
            << QList<ListedItem>{{"a", "1", "12"}, {"b", "2", "0"}, {"c", "3", "-5"}};
        // An item's value without its closing marker is empty; an item whose
        // opening marker is missing ends the list.
        QTest::newRow("last price unclosed")
            << item("a", "1", "5") + "<a class=\"EventCanSelect\" title=\"b\"><li class=\"price\"><em>2" +
                   gbk("最近成交") + "7" + gbk("笔")
            << QList<ListedItem>{{"a", "1", "5"}, {"b", "", "7"}};
        QTest::newRow("second item without sales")
            << item("a", "1", "5") +
                   "<a class=\"EventCanSelect\" title=\"b\">x</a><li class=\"price\"><em>2</em>"
            << QList<ListedItem>{{"a", "1", "5"}};
        QByteArray twelve;
        QList<ListedItem> firstTen;
        for (int i = 0; i < 12; ++i) {
            twelve += item("t" + QByteArray::number(i), "9", QByteArray::number(100 - i));
            if (i < 10)
                firstTen.append({"t" + QByteArray::number(i), "9", QByteArray::number(100 - i)});
        }
        QTest::newRow("at most ten") << twelve << firstTen;
        QTest::newRow("no items") << QByteArray("<html></html>") << QList<ListedItem>{};
    }
    void listedItems()
    {
        QFETCH(QByteArray, page);
        QFETCH(QList<ListedItem>, expected);
        QCOMPARE(pageparser::listedItems(page), expected);
    }

    void exclusionWords()
    {
        const QList<QByteArray> words = KeywordFilter::exclusionWords(QStringLiteral(" 二手, KIDS，旧款、 "));
        QCOMPARE(words, (ByteList{gbk("二手"), "kids", gbk("旧款")}));
        KeywordFilter filter{gbk("连衣裙"), true, words};
        KeywordQueue queue;
        queue.append(gbk("连衣裙"));
        // Excluded with letter case folded; kept only among what would have been queued, as listed.
        const QByteArray page = relatedPage(items(
            {gbk("连衣裙 二手"), gbk("连衣裙 Kids"), gbk("连衣裙 夏"), gbk("二手衬衫"), gbk("连衣裙 kidS")}));
        const pageparser::Harvest harvest = pageparser::parse(page, gbk("连衣裙"), queue, filter);
        QCOMPARE(harvest.keywords, ByteList{gbk("连衣裙 夏")});
        QCOMPARE(harvest.excluded, (ByteList{gbk("连衣裙 二手"), gbk("连衣裙 Kids"), gbk("连衣裙 kidS")}));
    }

    void bodyWithoutContent_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("one byte") << QByteArray("x");
        QTest::newRow("one high byte") << QByteArray("\xb0");
    }
    void bodyWithoutContent()
    {
        QFETCH(QByteArray, body);
        const pageparser::Harvest harvest = pageparser::parse(body, "kw", KeywordQueue(), noFilter);
        QVERIFY(harvest.keywords.isEmpty());
        QVERIFY(!harvest.row);
    }
};

QTEST_GUILESS_MAIN(TestPageParser)
#include "tst_pageparser.moc"
