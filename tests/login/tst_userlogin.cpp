#include "gbkliteral.h"
#include "login/userlogin.h"
#include "login/usersession.h"
#include "rawhttpserver.h"
#include "recorders.h"
#include "text/gbk.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <optional>

using testsupport::gbk;

using testsupport::RawHttpServer;
using testsupport::RecordingBrowser;
using testsupport::RecordingMessages;
using testsupport::ScriptedResponse;

Q_DECLARE_METATYPE(LoginResult)
Q_DECLARE_METATYPE(testsupport::ScriptedResponse)

namespace {

using namespace std::chrono_literals;

// The login window's fields as the routine reads them.
struct FormFields final : LoginForm
{
    QByteArray userName = "typed user";
    QByteArray password = "typed pass";
    bool syncLogin = false;

    QByteArray userNameText() const override { return userName; }
    QByteArray passwordText() const override { return password; }
    bool syncLoginTicked() const override { return syncLogin; }
};

// Eleven fields in the given markup, with a declaration unless told otherwise.
QByteArray profileAnswer(const QByteArrayList &fields,
                         const QByteArray &declaration = R"(<?xml version="1.0"?>)",
                         const QByteArray &separator = {})
{
    QByteArray answer = declaration + separator + "<user>";
    for (const QByteArray &field : fields)
        answer += separator + field;
    return answer + separator + "</user>";
}

QByteArrayList plainFields(int count)
{
    QByteArrayList fields;
    for (int i = 0; i < count; ++i)
        fields.append("<f" + QByteArray::number(i) + ">v" + QByteArray::number(i) + "</f" +
                      QByteArray::number(i) + ">");
    return fields;
}

QByteArrayList plainValues(int count)
{
    QByteArrayList values;
    for (int i = 0; i < count; ++i)
        values.append("v" + QByteArray::number(i));
    return values;
}

QByteArrayList withField(QByteArrayList fields, int index, const QByteArray &field)
{
    fields[index] = field;
    return fields;
}

// Everything one login touches, on a fresh server that the account host points to.
class Fixture
{
public:
    Fixture()
    {
        qputenv("QUILLMARSH_ACCOUNT_HOST", server.hostAndPort());
        AccountRequest::Settings settings;
        settings.readTimeout = 1s;
        settings.errorBodyTimeout = 1s;
        login.setRequestSettings(settings);
        // A previous attempt's profile, which every attempt replaces.
        session.appendUserinfo("stale");
    }
    ~Fixture() { qunsetenv("QUILLMARSH_ACCOUNT_HOST"); }
    Q_DISABLE_COPY_MOVE(Fixture)

    RawHttpServer server;
    UserSession session;
    FormFields form;
    RecordingBrowser browser;
    RecordingMessages messages;
    UserLogin login{session, form, browser, messages};
    QSignalSpy syncLogins{&login, &UserLogin::syncLoginDone};
};

} // namespace

class TestUserLogin : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void profile_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<LoginResult>("result"); // when no error is thrown
        QTest::addColumn<QString>("error");
        QTest::addColumn<QByteArrayList>("userinfo");

        const auto row = [](const char *name) -> QTestData & { return QTest::newRow(name); };
        const QByteArrayList eleven = plainFields(11);

        row("compact") << profileAnswer(eleven) << LoginResult::Accepted << QString() << plainValues(11);
        row("version 1.1") << profileAnswer(eleven, R"(<?xml version="1.1"?>)") << LoginResult::Accepted
                           << QString() << plainValues(11);
        row("version 2.0, single quotes")
            << profileAnswer(eleven, R"(<?xml version='2.0' encoding="UTF-8"?>)") << LoginResult::Accepted
            << QString() << plainValues(11);
        row("version 1.1, spaces around =")
            << profileAnswer(eleven, "<?xml version = \t\"1.1\" standalone='yes'?>") << LoginResult::Accepted
            << QString() << plainValues(11);
        row("indented") << profileAnswer(eleven, R"(<?xml version="1.0"?>)", "\r\n    ")
                        << LoginResult::Accepted << QString() << plainValues(11);
        row("twelve fields") << profileAnswer(plainFields(12)) << LoginResult::Accepted << QString()
                             << plainValues(11);
        row("ten fields") << profileAnswer(plainFields(10)) << LoginResult::Refused
                          << QStringLiteral("List index out of bounds (10)") << plainValues(10);
        row("empty field element") << profileAnswer(withField(eleven, 7, "<email/>")) << LoginResult::Refused
                                   << QStringLiteral("List index out of bounds (0)") << plainValues(7);
        row("CDATA with markup") << profileAnswer(
                                        withField(eleven, 1, "<name><![CDATA[<b>&amp;</b>]]></name>"))
                                 << LoginResult::Accepted << QString()
                                 << withField(plainValues(11), 1, "<b>&amp;</b>");
        row("entity resolved") << profileAnswer(withField(eleven, 1, "<name>a&amp;b&#x41;</name>"))
                               << LoginResult::Accepted << QString() << withField(plainValues(11), 1, "a&bA");
        row("element inside a field")
            << profileAnswer(withField(eleven, 2, "<f><b>inner</b></f>")) << LoginResult::Accepted
            << QString() << withField(plainValues(11), 2, "inner");
        row("empty element inside a field")
            << profileAnswer(withField(eleven, 2, "<f><b/></f>")) << LoginResult::Accepted << QString()
            << withField(plainValues(11), 2, "");
        row("element inside a field with two children")
            << profileAnswer(withField(eleven, 2, "<f><b>x<i/></b></f>")) << LoginResult::Refused
            << QStringLiteral("Element does not contain a single text node") << plainValues(2);
        row("comment as a field's first child")
            << profileAnswer(withField(eleven, 3, "<f><!--note--></f>")) << LoginResult::Accepted << QString()
            << withField(plainValues(11), 3, "note");
        {
            QByteArrayList chinese = eleven;
            chinese[1] = "<name>" + gbk("张三") + "</name>";
            chinese[6] = "<points>" + gbk("积分 100") + "</points>";
            row("GB2312 declared, Chinese fields")
                << profileAnswer(chinese, R"(<?xml version="1.0" encoding="GB2312"?>)")
                << LoginResult::Accepted << QString()
                << withField(withField(plainValues(11), 1, gbk("张三")), 6, gbk("积分 100"));
        }
        row("UTF-8 Chinese field arrives as GBK")
            << profileAnswer(withField(eleven, 1, "<name>" + QByteArray("张三") + "</name>"),
                             R"(<?xml version="1.0" encoding="UTF-8"?>)")
            << LoginResult::Accepted << QString() << withField(plainValues(11), 1, gbk("张三"));
        row("a zero byte ends the answer") << profileAnswer(eleven) + QByteArray("\0<broken", 8)
                                           << LoginResult::Accepted << QString() << plainValues(11);
        {
            // Deep nesting would hold the XML reader for minutes; the answer stays under the size limit.
            const QByteArray nested = profileAnswer(
                withField(eleven, 0, QByteArray("<a>").repeated(5'000) + QByteArray("</a>").repeated(5'000)));
            row("elements nested too deeply") << nested << LoginResult::Refused
                                              << QStringLiteral("Elements nested too deeply\nLine: 1\n") +
                                                     QString::fromLatin1(nested.left(40))
                                              << QByteArrayList();
        }
        row("no declaration") << profileAnswer(eleven, {}) << LoginResult::Refused << QString()
                              << QByteArrayList();
        row("empty answer") << QByteArray() << LoginResult::Refused << QString() << QByteArrayList();
        // The source text is the line the parser stopped in, cut to 40 characters.
        row("HTML error page") << QByteArray("<html>\r\n<body>\r\n"
                                             "<p>Internal error while checking the account<br></p>\r\n"
                                             "</body>\r\n</html>\r\n")
                               << LoginResult::Refused
                               << QStringLiteral("\nLine: 3\n<p>Internal error while checking the acc")
                               << QByteArrayList();
    }
    void profile()
    {
        QFETCH(QByteArray, answer);
        QFETCH(LoginResult, result);
        QFETCH(QString, error);
        QFETCH(QByteArrayList, userinfo);

        Fixture fixture;
        fixture.server.enqueue(ScriptedResponse::ok(answer));
        fixture.form.syncLogin = true;

        QString thrown;
        LoginResult returned = LoginResult::Refused;
        try {
            returned = fixture.login.logIn("u", "p");
        } catch (const AppError &appError) {
            thrown = appError.message();
        }

        QCOMPARE(fixture.server.requestCount(), 1);
        QCOMPARE(fixture.server.requests().at(0).target,
                 QByteArray("/click_user.asp?user=u&pass=p&softname=Tolvanic"));
        if (error.startsWith(QLatin1Char('\n'))) {
            // A parse error: the parser's own reason, then line and source text.
            QVERIFY2(thrown.endsWith(error) && thrown.size() > error.size(), qPrintable(thrown));
        } else {
            QCOMPARE(thrown, error);
        }
        QCOMPARE(fixture.session.userinfo(), userinfo);
        QVERIFY(fixture.messages.shown.isEmpty());
        QCOMPARE(fixture.login.isPending(), false);
        const bool accepted = thrown.isEmpty() && result == LoginResult::Accepted;
        if (thrown.isEmpty())
            QCOMPARE(returned, result);
        QCOMPARE(fixture.session.loggedin(), accepted ? 1 : 0);
        QCOMPARE(fixture.browser.opened.size(), accepted ? 1 : 0);
        QCOMPARE(fixture.syncLogins.count(), accepted ? 1 : 0);
    }

    void syncLogin_data()
    {
        QTest::addColumn<bool>("ticked");
        QTest::newRow("ticked") << true;
        QTest::newRow("not ticked") << false;
    }
    void syncLogin()
    {
        QFETCH(bool, ticked);
        Fixture fixture;
        fixture.server.enqueue(ScriptedResponse::ok(profileAnswer(plainFields(11))));
        fixture.form.syncLogin = ticked;
        // The jump address takes the fields as they stand, not the arguments.
        fixture.form.userName = gbk("张 三");
        fixture.form.password = "live#pass";

        QCOMPARE(fixture.login.logIn("argument user", "argument pass"), LoginResult::Accepted);

        QCOMPARE(fixture.session.loggedin(), 1);
        QCOMPARE(fixture.session.userinfo(), plainValues(11));
        if (ticked) {
            const QByteArray jump = "http://" + fixture.server.hostAndPort() +
                                    "/jump.asp?user=" + gbk("张 三") + "&pass=live#pass";
            QCOMPARE(fixture.browser.opened,
                     (QList<QPair<QByteArray, Browser::Show>>{{jump, Browser::Show::Hidden}}));
            QCOMPARE(fixture.syncLogins.count(), 1);
        } else {
            QVERIFY(fixture.browser.opened.isEmpty());
            QCOMPARE(fixture.syncLogins.count(), 0);
        }
    }

    void failedRequest_data()
    {
        QTest::addColumn<QByteArray>("host"); // empty: the fixture's server
        QTest::addColumn<ScriptedResponse>("response");

        QTcpServer closedPort;
        QVERIFY(closedPort.listen(QHostAddress::LocalHost));
        const QByteArray nothingListening = "127.0.0.1:" + QByteArray::number(closedPort.serverPort());
        closedPort.close();

        QTest::newRow("nothing listening") << nothingListening << ScriptedResponse();
        QTest::newRow("error status")
            << QByteArray() << ScriptedResponse::status(500, "Server Error", "oops");
        QTest::newRow("silent server") << QByteArray() << ScriptedResponse::silence();
        // Thousands of attributes in one element would hold the XML reader for minutes.
        QByteArray attributes = "<?xml version=\"1.0\"?><user";
        for (int i = 0; i < 100'000; ++i)
            attributes += " a" + QByteArray::number(i) + "=\"\"";
        QTest::newRow("answer over the size limit")
            << QByteArray() << ScriptedResponse::ok(attributes + plainFields(11).join() + "</user>");
    }
    void failedRequest()
    {
        QFETCH(QByteArray, host);
        QFETCH(ScriptedResponse, response);
        Fixture fixture;
        fixture.server.enqueue(response);
        fixture.form.syncLogin = true;
        if (!host.isEmpty())
            qputenv("QUILLMARSH_ACCOUNT_HOST", host);

        QCOMPARE(fixture.login.logIn("u", "p"), LoginResult::Refused);

        QCOMPARE(fixture.messages.shown,
                 (QList<RecordingMessages::Shown>{
                     {RecordingMessages::Kind::Plain, QString::fromUtf8("网络不通。")}}));
        QVERIFY(fixture.session.userinfo().isEmpty());
        QCOMPARE(fixture.session.loggedin(), 0);
        QVERIFY(fixture.browser.opened.isEmpty());
    }

    // While the answer is awaited the event loop runs: a timer fires, and a
    // second press of the login button is refused without touching the profile.
    // The server answers only once that second attempt has been made.
    void secondLoginWhilePending()
    {
        std::atomic<bool> secondAttemptMade = false;
        Fixture fixture;
        fixture.login.setRequestSettings({});
        fixture.server.setHandler([&](const testsupport::RecordedRequest &) {
            QDeadlineTimer deadline(10s);
            while (!secondAttemptMade && !deadline.hasExpired())
                QThread::msleep(5);
            return ScriptedResponse::ok(profileAnswer(plainFields(11)));
        });

        std::optional<LoginResult> nested;
        int userinfoSizeDuringWait = -1;
        QTimer::singleShot(0, [&] {
            userinfoSizeDuringWait = int(fixture.session.userinfo().size());
            nested = fixture.login.logIn("second", "attempt");
            secondAttemptMade = true;
        });

        QCOMPARE(fixture.login.logIn("u", "p"), LoginResult::Accepted);

        QCOMPARE(nested, std::optional(LoginResult::Busy));
        QCOMPARE(userinfoSizeDuringWait, 0);
        QCOMPARE(fixture.server.requestCount(), 1);
        QCOMPARE(fixture.session.userinfo(), plainValues(11));
        QVERIFY(!fixture.login.isPending());
    }
};

QTEST_GUILESS_MAIN(TestUserLogin)
#include "tst_userlogin.moc"
