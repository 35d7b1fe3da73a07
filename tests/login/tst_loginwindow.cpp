#include "app/accountmenu.h"
#include "login/loginwindow.h"
#include "login/usersession.h"
#include "rawhttpserver.h"
#include "recorders.h"
#include "text/gbk.h"

#include <QBuffer>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <memory>

using testsupport::RawHttpServer;
using testsupport::RecordingBrowser;
using testsupport::RecordingMessages;
using testsupport::ScriptedResponse;
using Kind = RecordingMessages::Kind;
using Shown = RecordingMessages::Shown;

namespace {

const QString refusalText = QString::fromUtf8("用户名或密码错误！请重试。");

QByteArray acceptedProfile()
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><user><id>7</id><name>demo</name><a>-</a><b>-</b>"
           "<c>-</c><d>-</d><points>120</points><email>demo@example.com</email><e>-</e><f>-</f><g>-</g></"
           "user>";
}

void writeFile(const QString &name, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(name).absolutePath());
    QFile file(name);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QByteArray readFile(const QString &name)
{
    QFile file(name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

// A login window in a fresh working directory, talking to a loopback account
// service through the environment's host override.
class LoginFixture
{
public:
    LoginFixture()
    {
        QDir::setCurrent(directory.path());
        qputenv("QUILLMARSH_ACCOUNT_HOST", server.hostAndPort());
    }
    ~LoginFixture()
    {
        qunsetenv("QUILLMARSH_ACCOUNT_HOST");
        QDir::setCurrent(QDir::tempPath());
    }
    Q_DISABLE_COPY_MOVE(LoginFixture)

    LoginWindow &window()
    {
        if (!form) {
            form = std::make_unique<LoginWindow>(session, browser, messages);
            QObject::connect(form.get(), &LoginWindow::syncLoginDone, &menu,
                             &AccountMenu::enableAccountEntries);
        }
        return *form;
    }
    template <typename Control> Control *control(const char *name)
    {
        return window().findChild<Control *>(QLatin1String(name));
    }
    QLineEdit *userField() { return control<QLineEdit>("bsSkinEdit1"); }
    QLineEdit *passwordField() { return control<QLineEdit>("bsSkinPasswordEdit1"); }
    QCheckBox *rememberBox() { return control<QCheckBox>("bsSkinCheckRadioBox1"); }
    QCheckBox *syncBox() { return control<QCheckBox>("bsSkinCheckRadioBox2"); }
    QPushButton *loginButton() { return control<QPushButton>("bsSkinButton1"); }

    QTemporaryDir directory;
    RawHttpServer server;
    UserSession session;
    AccountMenu menu;
    RecordingBrowser browser;
    RecordingMessages messages;
    std::unique_ptr<LoginWindow> form;
};

class TestLoginWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void layout_data();
    void layout();
    void startState();
    void tabOrder();
    void startWithSavedFiles_data();
    void startWithSavedFiles();
    void unreadableCredentialsShownAtStart();
    void enterDoesNotLogIn();
    void refusal_data();
    void refusal();
    void acceptedLoginAnnounced_data();
    void acceptedLoginAnnounced();
    void buttonDisabledWhilePending();
    void failedSaveMakesNoRequest();
    void registrationLink();
};

void TestLoginWindow::layout_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("geometry"); // an empty size: sized to the text
    QTest::addColumn<QString>("text");
    const auto row = [](const char *name, QRect geometry, const char *text = "") {
        QTest::newRow(name) << QString::fromLatin1(name) << geometry << QString::fromUtf8(text);
    };
    row("bsSkinLinkImage1", {0, 0, 362, 65});
    row("bsSkinBevel2", {0, 65, 362, 8});
    row("bsSkinStdLabel1", {24, 77, 0, 0}, "帐号");
    row("bsSkinEdit1", {72, 75, 193, 18});
    row("bsSkinCheckRadioBox2", {272, 73, 150, 25}, "同步登录");
    row("bsSkinStdLabel2", {24, 109, 0, 0}, "密码");
    row("bsSkinPasswordEdit1", {72, 104, 193, 21});
    row("bsSkinCheckRadioBox1", {272, 101, 73, 25}, "记住密码");
    row("bsSkinButton1", {144, 136, 121, 25}, "登录");
    row("bsSkinLinkLabel1", {72, 142, 48, 14}, "注册帐号");
    row("bsSkinBevel1", {0, 169, 361, 16});
    row("bsSkinStdLabel3", {72, 173, 204, 13}, "请使用Corvyn站长论坛帐号和密码登录");
}

void TestLoginWindow::layout()
{
    QFETCH(QString, name);
    QFETCH(QRect, geometry);
    QFETCH(QString, text);
    LoginFixture fixture;
    LoginWindow &window = fixture.window();
    QCOMPARE(window.windowTitle(), QString::fromUtf8("Brisalo - 用户登录"));
    QCOMPARE(window.minimumSize(), QSize(362, 189));
    QCOMPARE(window.maximumSize(), QSize(362, 189));

    const QWidget *control = window.findChild<QWidget *>(name);
    QVERIFY(control);
    QCOMPARE(control->pos(), geometry.topLeft());
    if (!geometry.isEmpty())
        QCOMPARE(control->size(), geometry.size());
    QCOMPARE(control->property("text").toString(), text);
}

void TestLoginWindow::startState()
{
    LoginFixture fixture;
    fixture.window();
    QVERIFY(fixture.rememberBox()->isChecked());
    QVERIFY(fixture.syncBox()->isChecked());
    QVERIFY(fixture.userField()->text().isEmpty());
    QCOMPARE(fixture.passwordField()->echoMode(), QLineEdit::Password);
    QVERIFY(!fixture.loginButton()->isDefault());
    QVERIFY(!fixture.control<QLabel>("bsSkinStdLabel3")->isEnabled());
    QVERIFY(fixture.messages.shown.isEmpty());
}

void TestLoginWindow::tabOrder()
{
    LoginFixture fixture;
    LoginWindow &window = fixture.window();
    window.show();
    QApplication::setActiveWindow(&window);
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QStringList visited{QApplication::focusWidget()->objectName()};
    for (int i = 0; i < 5; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        visited.append(QApplication::focusWidget()->objectName());
    }
    QCOMPARE(visited, (QStringList{QStringLiteral("bsSkinEdit1"), QStringLiteral("bsSkinPasswordEdit1"),
                                   QStringLiteral("bsSkinButton1"), QStringLiteral("bsSkinCheckRadioBox1"),
                                   QStringLiteral("bsSkinCheckRadioBox2"), QStringLiteral("bsSkinEdit1")}));
}

void TestLoginWindow::startWithSavedFiles_data()
{
    QTest::addColumn<QByteArray>("banner");  // bytes of pic/ad.jpg; empty: no file
    QTest::addColumn<QByteArray>("infoDat"); // empty: no file
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("remember");

    QByteArray ownBanner;
    {
        QImage picture(362, 65, QImage::Format_RGB32);
        picture.fill(Qt::darkGreen);
        QBuffer buffer(&ownBanner);
        buffer.open(QIODevice::WriteOnly);
        picture.save(&buffer, "JPG");
    }
    const QByteArray remembered = text::toGbk(QString::fromUtf8("张三")) + "\r\nse cret\r\n1\r\n";
    const QString chineseName = QString::fromUtf8("张三");
    QTest::newRow("first start") << QByteArray() << QByteArray() << QString() << QString() << true;
    QTest::newRow("remembered") << ownBanner << remembered << chineseName << QStringLiteral("se cret")
                                << true;
    QTest::newRow("forgotten") << ownBanner << QByteArray("xxx\r\nxxx\r\nxxx\r\n") << QString() << QString()
                               << false;
    QTest::newRow("two lines") << ownBanner << QByteArray("a\r\nb\r\n") << QString() << QString() << true;
    QTest::newRow("no banner, remembered")
        << QByteArray() << remembered << chineseName << QStringLiteral("se cret") << true;
    QTest::newRow("damaged banner, remembered")
        << ownBanner.left(40) << remembered << chineseName << QStringLiteral("se cret") << true;
}

// Whatever the banner and info.dat look like, the window opens without an
// error box; a missing or damaged banner gives way to the built-in one.
void TestLoginWindow::startWithSavedFiles()
{
    QFETCH(QByteArray, banner);
    QFETCH(QByteArray, infoDat);
    QFETCH(QString, user);
    QFETCH(QString, password);
    QFETCH(bool, remember);
    LoginFixture fixture;
    if (!banner.isEmpty())
        writeFile(QStringLiteral("pic/ad.jpg"), banner);
    if (!infoDat.isEmpty())
        writeFile(QStringLiteral("info.dat"), infoDat);

    fixture.window();
    QCOMPARE(fixture.messages.shown, {});
    QCOMPARE(fixture.userField()->text(), user);
    QCOMPARE(fixture.passwordField()->text(), password);
    QCOMPARE(fixture.rememberBox()->isChecked(), remember);
    QVERIFY(fixture.syncBox()->isChecked());

    const QImage shown = fixture.control<QLabel>("bsSkinLinkImage1")->pixmap().toImage();
    const QImage ownPicture = QImage::fromData(banner);
    const QImage expected = ownPicture.isNull() ? QImage(QStringLiteral(":/banner.jpg")) : ownPicture;
    QVERIFY(!expected.isNull());
    QCOMPARE(shown.convertToFormat(QImage::Format_RGB32), expected.convertToFormat(QImage::Format_RGB32));
}

// An info.dat that exists but cannot be read ends the creation handler in the
// standard error box; the window is there all the same, banner included.
void TestLoginWindow::unreadableCredentialsShownAtStart()
{
    LoginFixture fixture;
    QVERIFY(QDir().mkdir(QStringLiteral("info.dat")));
    fixture.window();
    QCOMPARE(fixture.messages.shown.size(), 1);
    QCOMPARE(fixture.messages.shown.first().kind, Kind::Error);
    const QString expectedStart =
        QStringLiteral("Cannot open file \"") + QDir::current().absoluteFilePath(QStringLiteral("info.dat"));
    QVERIFY2(fixture.messages.shown.first().text.startsWith(expectedStart),
             qPrintable(fixture.messages.shown.first().text));
    QVERIFY(fixture.rememberBox()->isChecked());
    QVERIFY(fixture.userField()->text().isEmpty());
    QVERIFY(!fixture.control<QLabel>("bsSkinLinkImage1")->pixmap().isNull());
}

void TestLoginWindow::enterDoesNotLogIn()
{
    LoginFixture fixture;
    fixture.window().show();
    QTest::keyClicks(fixture.userField(), QStringLiteral("demo"));
    QTest::keyClick(fixture.userField(), Qt::Key_Return);
    QTest::keyClicks(fixture.passwordField(), QStringLiteral("demo"));
    QTest::keyClick(fixture.passwordField(), Qt::Key_Return);
    QTest::keyClick(fixture.passwordField(), Qt::Key_Enter);
    QCoreApplication::processEvents();
    QCOMPARE(fixture.server.requestCount(), 0);
    QVERIFY(!QFile::exists(QStringLiteral("info.dat")));
    QCOMPARE(fixture.messages.shown, {});
}

void TestLoginWindow::refusal_data()
{
    QTest::addColumn<bool>("serverListening");
    QTest::addColumn<QList<Shown>>("boxes");
    const Shown refusalBox{Kind::Information, refusalText};
    QTest::newRow("refused") << true << QList<Shown>{refusalBox};
    QTest::newRow("nothing listening")
        << false << QList<Shown>{Shown{Kind::Plain, QString::fromUtf8("网络不通。")}, refusalBox};
}

// The press saves info.dat first, then the refusal is reported in the skinned
// box and the fields keep what was typed.
void TestLoginWindow::refusal()
{
    QFETCH(bool, serverListening);
    QFETCH(QList<Shown>, boxes);
    LoginFixture fixture;
    if (!serverListening) {
        QTcpServer closedPort;
        QVERIFY(closedPort.listen(QHostAddress::LocalHost));
        qputenv("QUILLMARSH_ACCOUNT_HOST", "127.0.0.1:" + QByteArray::number(closedPort.serverPort()));
    }
    // Without an XML declaration the answer is a refusal.
    fixture.server.enqueue(ScriptedResponse::ok("<user><name>demo</name></user>"));
    QSignalSpy accepted(&fixture.window(), &LoginWindow::loginAccepted);
    fixture.userField()->setText(QString::fromUtf8("张三"));
    fixture.passwordField()->setText(QStringLiteral("wrong"));

    QTest::mouseClick(fixture.loginButton(), Qt::LeftButton);

    QCOMPARE(fixture.messages.shown, boxes);
    QCOMPARE(readFile(QStringLiteral("info.dat")),
             text::toGbk(QString::fromUtf8("张三")) + "\r\nwrong\r\n1\r\n");
    QCOMPARE(fixture.server.requestCount(), serverListening ? 1 : 0);
    QCOMPARE(fixture.userField()->text(), QString::fromUtf8("张三"));
    QCOMPARE(fixture.passwordField()->text(), QStringLiteral("wrong"));
    QVERIFY(fixture.loginButton()->isEnabled());
    QCOMPARE(accepted.count(), 0);
    QCOMPARE(fixture.session.loggedin(), 0);
}

void TestLoginWindow::acceptedLoginAnnounced_data()
{
    QTest::addColumn<bool>("byKeyboard");
    QTest::newRow("mouse click") << false;
    // Return on the focused button presses it, as Space does.
    QTest::newRow("Return on the focused button") << true;
}

void TestLoginWindow::acceptedLoginAnnounced()
{
    QFETCH(bool, byKeyboard);
    LoginFixture fixture;
    fixture.server.enqueue(ScriptedResponse::ok(acceptedProfile()));
    QSignalSpy accepted(&fixture.window(), &LoginWindow::loginAccepted);
    fixture.rememberBox()->setChecked(false);
    fixture.userField()->setText(QStringLiteral("demo"));
    fixture.passwordField()->setText(QStringLiteral("demo"));

    if (byKeyboard) {
        fixture.window().show();
        fixture.loginButton()->setFocus(Qt::TabFocusReason);
        QTest::keyClick(fixture.loginButton(), Qt::Key_Return);
    } else {
        QTest::mouseClick(fixture.loginButton(), Qt::LeftButton);
    }

    QCOMPARE(accepted.count(), 1);
    QCOMPARE(fixture.messages.shown, {});
    QCOMPARE(fixture.session.loggedin(), 1);
    QCOMPARE(fixture.session.userinfoLine(1), QByteArray("demo"));
    QCOMPARE(readFile(QStringLiteral("info.dat")), QByteArray("xxx\r\nxxx\r\nxxx\r\n"));
    // Sync login was ticked: the forum entries of the tray menu are enabled.
    QVERIFY(fixture.menu.myPosts->isEnabled());
    QVERIFY(fixture.menu.changePassword->isEnabled());
}

void TestLoginWindow::buttonDisabledWhilePending()
{
    LoginFixture fixture;
    ScriptedResponse slow = ScriptedResponse::ok(acceptedProfile());
    slow.delayMs = 300;
    fixture.server.enqueue(slow);
    fixture.window().show();
    bool enabledWhilePending = true;
    bool windowResponded = false;
    // Runs from the event loop the login keeps turning while it waits.
    QTimer::singleShot(0, &fixture.window(), [&] {
        windowResponded = true;
        enabledWhilePending = fixture.loginButton()->isEnabled();
        QTest::mouseClick(fixture.loginButton(), Qt::LeftButton);
        fixture.window().logIn();
    });

    QTest::mouseClick(fixture.loginButton(), Qt::LeftButton);

    QVERIFY(windowResponded);
    QVERIFY(!enabledWhilePending);
    QVERIFY(fixture.loginButton()->isEnabled());
    QCOMPARE(fixture.server.requestCount(), 1);
    QCOMPARE(fixture.messages.shown, {});
}

void TestLoginWindow::failedSaveMakesNoRequest()
{
    LoginFixture fixture;
    QSignalSpy accepted(&fixture.window(), &LoginWindow::loginAccepted);
    // A directory where the file should be: it cannot be created.
    QVERIFY(QDir().mkdir(QStringLiteral("info.dat")));

    QTest::mouseClick(fixture.loginButton(), Qt::LeftButton);

    QCOMPARE(fixture.messages.shown.size(), 1);
    QCOMPARE(fixture.messages.shown.first().kind, Kind::Error);
    QVERIFY2(fixture.messages.shown.first().text.startsWith(QStringLiteral("Cannot create file \"")),
             qPrintable(fixture.messages.shown.first().text));
    QCOMPARE(fixture.server.requestCount(), 0);
    QCOMPARE(accepted.count(), 0);
    QVERIFY(fixture.loginButton()->isEnabled());
}

void TestLoginWindow::registrationLink()
{
    LoginFixture fixture;
    fixture.window().show();
    QTest::mouseClick(fixture.control<QLabel>("bsSkinLinkLabel1"), Qt::LeftButton);
    using Opened = QPair<QByteArray, Browser::Show>;
    QCOMPARE(
        fixture.browser.opened,
        (QList<Opened>{{"http://" + fixture.server.hostAndPort() + "/register.php", Browser::Show::Normal}}));
}

QTEST_MAIN(TestLoginWindow)
#include "tst_loginwindow.moc"
