#include "gbkliteral.h"
#include "keywordgraph.h"
#include "simprocess.h"

#include <QDeadlineTimer>
#include <QDomDocument>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QTcpSocket>
#include <QTest>
#include <QUrl>
#include <algorithm>
#include <deque>

using testsupport::gbk;

using testsupport::SimProcess;

namespace {

struct HttpAnswer
{
    int status = 0; // 0: no status line arrived
    QByteArray head;
    QByteArray body;
    qint64 contentLength = -1;
    bool closed = false; // the server closed the connection

    QByteArray header(QByteArrayView name) const
    {
        for (const QByteArray &line : head.split('\n')) {
            const qsizetype colon = line.indexOf(':');
            if (colon > 0 && line.first(colon).trimmed().compare(name, Qt::CaseInsensitive) == 0)
                return line.sliced(colon + 1).trimmed();
        }
        return {};
    }
};

// A blocking HTTP/1.1 client on one kept-alive connection that sends request
// targets byte for byte, raw spaces and GBK bytes included.
class Client
{
public:
    explicit Client(quint16 port)
    {
        m_socket.connectToHost(QStringLiteral("127.0.0.1"), port);
        m_socket.waitForConnected(5000);
    }

    void send(const QByteArray &target)
    {
        m_socket.write("GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
        m_socket.flush();
    }

    // The next answer, or what arrived of it within timeoutMs.
    HttpAnswer next(int timeoutMs = 10'000)
    {
        HttpAnswer answer;
        const QDeadlineTimer deadline(timeoutMs);
        qsizetype headEnd;
        while ((headEnd = m_buffer.indexOf("\r\n\r\n")) < 0) {
            if (!fill(deadline, answer))
                return answer;
        }
        answer.head = m_buffer.first(headEnd);
        m_buffer.remove(0, headEnd + 4);
        answer.status = answer.head.split(' ').value(1).toInt();
        bool hasLength = false;
        answer.contentLength = answer.header("Content-Length").toLongLong(&hasLength);
        if (!hasLength)
            answer.contentLength = -1;
        while (m_buffer.size() < answer.contentLength && fill(deadline, answer)) {
        }
        answer.body = m_buffer.first(qMin(m_buffer.size(), answer.contentLength));
        m_buffer.remove(0, answer.body.size());
        return answer;
    }

    HttpAnswer get(const QByteArray &target)
    {
        send(target);
        return next();
    }

private:
    bool fill(const QDeadlineTimer &deadline, HttpAnswer &answer)
    {
        if (m_socket.bytesAvailable() == 0 && !m_socket.waitForReadyRead(int(deadline.remainingTime()))) {
            answer.closed = m_socket.state() != QAbstractSocket::ConnectedState;
            m_buffer += m_socket.readAll();
            return false;
        }
        m_buffer += m_socket.readAll();
        return true;
    }

    QTcpSocket m_socket;
    QByteArray m_buffer;
};

QString decoded(const QByteArray &body, const QString &encoding)
{
    QStringDecoder decoder(encoding == QLatin1String("utf8") ? "UTF-8" : "GBK");
    return decoder.decode(body);
}

QByteArray searchTarget(const QByteArray &q)
{
    return "/search?q=" + q + "&sort=sale-desc";
}

QByteArray percentUtf8(const QString &keyword)
{
    return searchTarget(QUrl::toPercentEncoding(keyword));
}

QStringList relatedEntries(const QString &page)
{
    static const QRegularExpression block(QStringLiteral("你是不是想找：(.*?)</div>"));
    static const QRegularExpression entry(QStringLiteral("<dd><a [^>]*>([^<]*)</a></dd>"));
    QStringList entries;
    for (const auto &match : entry.globalMatch(block.match(page).captured(1)))
        entries.append(match.captured(1));
    return entries;
}

QStringList allCaptures(const QString &pattern, const QString &page)
{
    QStringList values;
    for (const auto &match : QRegularExpression(pattern).globalMatch(page))
        values.append(match.captured(1));
    return values;
}

// Breadth-first over the related entries as the program walks them; returns
// the distinct keywords fetched.
int walk(quint16 port, const QString &seed, bool mustContain)
{
    Client client(port);
    std::deque<QString> queue{seed};
    QSet<QString> seen{seed.toCaseFolded()};
    int fetched = 0;
    while (!queue.empty() && fetched < 10'000) {
        const HttpAnswer answer = client.get(percentUtf8(queue.front()));
        queue.pop_front();
        ++fetched;
        if (answer.status != 200)
            return -1;
        for (const QString &entry : relatedEntries(decoded(answer.body, QStringLiteral("gbk")))) {
            if ((!mustContain || entry.contains(seed)) && !seen.contains(entry.toCaseFolded())) {
                seen.insert(entry.toCaseFolded());
                queue.push_back(entry);
            }
        }
    }
    return fetched;
}

} // namespace

class TestSim : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void loginAnswer_data()
    {
        QTest::addColumn<QString>("encoding");
        QTest::addColumn<QByteArray>("target");
        QTest::addColumn<bool>("accepted");
        const QByteArray demo = "/click_user.asp?user=demo&pass=demo&softname=Tolvanic";
        QTest::newRow("demo, gbk") << QStringLiteral("gbk") << demo << true;
        QTest::newRow("demo, utf8") << QStringLiteral("utf8") << demo << true;
        QTest::newRow("wrong password")
            << QStringLiteral("gbk") << QByteArray("/click_user.asp?user=demo&pass=demo2&softname=Tolvanic")
            << false;
        QTest::newRow("empty values")
            << QStringLiteral("gbk") << QByteArray("/click_user.asp?user=&pass=&softname=Tolvanic") << false;
        // What the login client sends for a Chinese name with a space: raw GBK bytes.
        QTest::newRow("raw gbk and space")
            << QStringLiteral("gbk")
            << QByteArray("/click_user.asp?user=" + gbk(QStringLiteral("演示 用户")) +
                          "&pass=demo&softname=Tolvanic")
            << false;
    }
    void loginAnswer()
    {
        QFETCH(QString, encoding);
        QFETCH(QByteArray, target);
        QFETCH(bool, accepted);
        SimProcess sim(
            {QStringLiteral("--encoding"), encoding, QStringLiteral("--fail-share"), QStringLiteral("1")});
        QVERIFY(sim.port());
        Client client(sim.port());
        const HttpAnswer answer = client.get(target);
        QCOMPARE(answer.status, 200);
        QCOMPARE(answer.body.startsWith("<?xml version=\"1.0\""), accepted);
        if (!accepted) {
            QCOMPARE(answer.body, QByteArray("<result>0</result>"));
            return;
        }
        QVERIFY(answer.body.startsWith(encoding == QLatin1String("gbk")
                                           ? "<?xml version=\"1.0\" encoding=\"GB2312\""
                                           : "<?xml version=\"1.0\" encoding=\"UTF-8\""));
        QDomDocument document;
        QVERIFY(document.setContent(answer.body));
        const QDomNodeList fields = document.documentElement().childNodes();
        QCOMPARE(fields.size(), 11);
        QCOMPARE(fields.at(1).toElement().text(), QStringLiteral("demo"));
        QCOMPARE(fields.at(2).toElement().text(), QStringLiteral("注册会员"));
        QCOMPARE(fields.at(6).toElement().text(), QStringLiteral("2560"));
        QCOMPARE(fields.at(7).toElement().text(), QStringLiteral("demo@example.com"));
    }

    void forumPages_data()
    {
        QTest::addColumn<QByteArray>("target");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("title");
        QTest::newRow("jump") << QByteArray("/jump.asp?user=demo&pass=demo") << 200
                              << QStringLiteral("登录成功");
        QTest::newRow("register") << QByteArray("/register.php") << 200 << QStringLiteral("注册");
        QTest::newRow("my posts") << QByteArray("/my.php?item=threads") << 200 << QStringLiteral("我的帖子");
        QTest::newRow("change password")
            << QByteArray("/memcp.php?action=profile&typeid=1") << 200 << QStringLiteral("修改密码");
        QTest::newRow("unknown") << QByteArray("/index.php") << 404 << QString();
    }
    void forumPages()
    {
        QFETCH(QByteArray, target);
        QFETCH(int, status);
        QFETCH(QString, title);
        SimProcess sim;
        QVERIFY(sim.port());
        Client client(sim.port());
        const HttpAnswer answer = client.get(target);
        QCOMPARE(answer.status, status);
        if (status == 200)
            QVERIFY(
                decoded(answer.body, QStringLiteral("gbk")).contains(QStringLiteral("<title>%1").arg(title)));
    }

    void searchPage_data()
    {
        QTest::addColumn<QString>("encoding");
        QTest::newRow("gbk") << QStringLiteral("gbk");
        QTest::newRow("utf8") << QStringLiteral("utf8");
    }
    void searchPage()
    {
        QFETCH(QString, encoding);
        SimProcess sim({QStringLiteral("--encoding"), encoding});
        QVERIFY(sim.port());
        Client client(sim.port());
        const HttpAnswer answer = client.get(percentUtf8(QStringLiteral("连衣裙")));
        QCOMPARE(answer.status, 200);
        QCOMPARE(answer.header("Content-Type"),
                 "text/html; charset=" + QByteArray(encoding == QLatin1String("gbk") ? "gbk" : "utf-8"));
        QVERIFY(answer.body.size() >= 200'000);
        const QString page = decoded(answer.body, encoding);

        // The heading's colon stands between the marker and the first entry.
        QVERIFY(page.contains(QStringLiteral("你是不是想找：<dd>")));
        const QStringList related = relatedEntries(page);
        QVERIFY(related.size() >= 8);
        // Deeper keywords of the seed, and on the seed's own page other products.
        QVERIFY(!related.filter(QRegularExpression(QStringLiteral("^连衣裙 \\S+$"))).isEmpty());
        QVERIFY(std::any_of(related.begin(), related.end(),
                            [](const QString &entry) { return !entry.contains(QStringLiteral("连衣裙")); }));
        QVERIFY(
            QRegularExpression(QStringLiteral("找到相关宝贝<em>[1-9][0-9]*</em>")).match(page).hasMatch());

        const QStringList sales = allCaptures(QStringLiteral("最近成交([^<]*)笔"), page);
        QVERIFY(sales.size() >= 40);
        for (qsizetype i = 1; i < sales.size(); ++i)
            QVERIFY2(sales[i - 1].toInt() >= sales[i].toInt(), qPrintable(sales.join(QLatin1Char(' '))));
        const QStringList prices = allCaptures(QStringLiteral("<li class=\"price\"><em>([^<]*)</em>"), page);
        QCOMPARE(prices.size(), sales.size());
        for (const QString &price : prices)
            QVERIFY2(QRegularExpression(QStringLiteral("^[1-9][0-9]*\\.[0-9]{2}$")).match(price).hasMatch(),
                     qPrintable(price));
        const QStringList titles = allCaptures(QStringLiteral("EventCanSelect\" title=\"([^\"]*)\">"), page);
        QCOMPARE(titles.size(), sales.size());
        QVERIFY(!titles.first().isEmpty());
    }

    // The program percent-encodes non-ASCII bytes; the login-style client and
    // browsers may send them raw; either encoding may arrive.
    void keywordForms_data()
    {
        QTest::addColumn<QByteArray>("q");
        const QString keyword = QStringLiteral("连衣裙 V领");
        QTest::newRow("percent-encoded utf8") << QUrl::toPercentEncoding(keyword);
        QTest::newRow("percent-encoded gbk") << gbk(keyword).toPercentEncoding();
        QTest::newRow("raw gbk") << gbk(keyword);
        QTest::newRow("raw utf8") << keyword.toUtf8();
    }
    void keywordForms()
    {
        QFETCH(QByteArray, q);
        SimProcess first;
        SimProcess second;
        QVERIFY(first.port() && second.port());
        Client reference(first.port());
        const HttpAnswer expected = reference.get(percentUtf8(QStringLiteral("连衣裙 V领")));
        QCOMPARE(expected.status, 200);
        QVERIFY(
            decoded(expected.body, QStringLiteral("gbk")).contains(QStringLiteral("<title>连衣裙 V领 - ")));
        Client client(second.port());
        const HttpAnswer answer = client.get(searchTarget(q));
        QCOMPARE(answer.status, 200);
        QVERIFY(answer.body == expected.body);
    }

    void keepAliveAnswersInOrder()
    {
        SimProcess sim({QStringLiteral("--latency"), QStringLiteral("20")});
        QVERIFY(sim.port());
        Client client(sim.port());
        client.send(percentUtf8(QStringLiteral("连衣裙")));
        client.send("/click_user.asp?user=demo&pass=demo&softname=Tolvanic");
        client.send(percentUtf8(QStringLiteral("衬衫")));
        QVERIFY(
            decoded(client.next().body, QStringLiteral("gbk")).contains(QStringLiteral("<title>连衣裙 - ")));
        QVERIFY(client.next().body.startsWith("<?xml"));
        const HttpAnswer third = client.next();
        QVERIFY(decoded(third.body, QStringLiteral("gbk")).contains(QStringLiteral("<title>衬衫 - ")));
        QVERIFY(!third.closed);
    }

    void graphIsFinite_data()
    {
        QTest::addColumn<bool>("mustContain");
        QTest::newRow("must contain the seed") << true;
        QTest::newRow("everything") << false;
    }
    void graphIsFinite()
    {
        QFETCH(bool, mustContain);
        const int size = 30;
        SimProcess sim({QStringLiteral("--graph-size"), QString::number(size), QStringLiteral("--page-size"),
                        QStringLiteral("0")});
        QVERIFY(sim.port());
        const int fetched = walk(sim.port(), QStringLiteral("连衣裙"), mustContain);
        if (mustContain) {
            QCOMPARE(fetched, size);
        } else {
            QVERIFY2(fetched > size && fetched <= (1 + sim::KeywordGraph::otherProducts().size()) * size,
                     qPrintable(QString::number(fetched)));
        }
    }

    void failureModes_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::newRow("drop") << QStringLiteral("drop");
        QTest::newRow("empty") << QStringLiteral("empty");
        QTest::newRow("silence") << QStringLiteral("silence");
    }
    void failureModes()
    {
        QFETCH(QString, mode);
        const double share = 0.5;
        SimProcess sim(
            {QStringLiteral("--fail-share"), QString::number(share), QStringLiteral("--fail-mode"), mode});
        QVERIFY(sim.port());
        int failed = 0;
        int served = 0;
        for (int i = 0; i < 12; ++i) {
            const QString keyword = QStringLiteral("连衣裙 %1").arg(i);
            Client client(sim.port());
            client.send(percentUtf8(keyword));
            if (!sim::KeywordGraph::failsAt(keyword, share)) {
                const HttpAnswer answer = client.next();
                QCOMPARE(answer.status, 200);
                QCOMPARE(answer.body.size(), answer.contentLength);
                QVERIFY(answer.body.size() >= 200'000);
                ++served;
                continue;
            }
            ++failed;
            if (mode == QLatin1String("silence")) {
                // A healthy request on another connection is answered meanwhile.
                Client other(sim.port());
                QCOMPARE(other.get("/register.php").status, 200);
                const HttpAnswer answer = client.next(200);
                QCOMPARE(answer.status, 0);
                QVERIFY(!answer.closed);
                continue;
            }
            const HttpAnswer answer = client.next();
            QCOMPARE(answer.status, 200);
            if (mode == QLatin1String("empty")) {
                QCOMPARE(answer.contentLength, 0);
                QVERIFY(!answer.closed);
            } else {
                QVERIFY(answer.closed);
                QVERIFY(answer.body.size() > 0);
                QVERIFY(answer.body.size() < answer.contentLength);
            }
        }
        QVERIFY(failed > 0 && served > 0);
    }

    void usageErrors_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("encoding") << QStringList{QStringLiteral("--encoding"), QStringLiteral("latin1")};
        QTest::newRow("share") << QStringList{QStringLiteral("--fail-share"), QStringLiteral("1.5")};
        QTest::newRow("mode") << QStringList{QStringLiteral("--fail-mode"), QStringLiteral("slow")};
        QTest::newRow("size") << QStringList{QStringLiteral("--graph-size"), QStringLiteral("many")};
        QTest::newRow("argument") << QStringList{QStringLiteral("extra")};
    }
    void usageErrors()
    {
        QFETCH(QStringList, arguments);
        QProcess process;
        process.start(testsupport::builtExecutable(QStringLiteral("tools/sim/quillmarsh-sim")), arguments);
        QVERIFY(process.waitForFinished(10'000));
        QCOMPARE(process.exitCode(), 2);
        QVERIFY(process.readAllStandardOutput().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestSim)
#include "tst_sim.moc"
