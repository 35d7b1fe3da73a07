#include "app/accountmenu.h"
#include "app/qttranslations.h"
#include "app/quillmarshapp.h"
#include "app/widgetmessages.h"
#include "common/apperror.h"
#include "login/loginwindow.h"
#include "login/usersession.h"
#include "query/querywindow.h"
#include "rawhttpserver.h"
#include "recorders.h"
#include "resultpage.h"
#include "results/savefiledialog.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTranslator>
#include <QWidget>
#include <optional>

using testsupport::RawHttpServer;
using testsupport::RecordedRequest;
using testsupport::RecordingBrowser;
using testsupport::RecordingMessages;
using testsupport::ScriptedResponse;

namespace {

QByteArray profile(const QByteArray &name, const QByteArray &points, const QByteArray &email)
{
    QByteArray fields = "<id>7</id><name>" + name + "</name>";
    for (int i = 2; i <= 5; ++i)
        fields += "<f" + QByteArray::number(i) + ">-</f" + QByteArray::number(i) + '>';
    fields += "<points>" + points + "</points><email>" + email + "</email><f8>-</f8><f9>-</f9><f10>-</f10>";
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<user>" + fields + "</user>";
}

// The account service: two accounts; anything else is refused.
ScriptedResponse accountService(const RecordedRequest &request)
{
    if (request.target.startsWith("/click_user.asp?user=demo&pass=demo&"))
        return ScriptedResponse::ok(profile("demo", "120", "demo@example.com"));
    if (request.target.startsWith("/click_user.asp?user=second&pass=pw2&"))
        return ScriptedResponse::ok(profile("second", "7", "second@example.com"));
    if (request.target.startsWith("/click_user.asp?user=silent&"))
        return ScriptedResponse::silence();
    return ScriptedResponse::ok("<refused/>");
}

// The marketplace: every keyword's page lists two longer keywords, so a batch
// never runs dry; each page comes a little late, so a batch takes a while.
ScriptedResponse marketplace(const RecordedRequest &request)
{
    const QByteArray query = request.target.mid(request.target.indexOf("q=") + 2);
    const QString keyword =
        QString::fromUtf8(QByteArray::fromPercentEncoding(query.left(query.indexOf('&'))));
    sim::ResultPage page;
    page.keyword = keyword;
    page.related = {keyword + QStringLiteral(" a"), keyword + QStringLiteral(" b")};
    page.itemCount = QStringLiteral("1234");
    page.items = {{keyword + QStringLiteral(" item"), QStringLiteral("25.00"), 88}};
    ScriptedResponse response = ScriptedResponse::ok(sim::renderResultPage(page, sim::PageEncoding::Gbk),
                                                     "Content-Type: text/html; charset=gbk\r\n");
    response.delayMs = 20;
    return response;
}

class CancellingSaveDialog final : public SaveFileDialog
{
public:
    std::optional<QString> askFileName(const QString &) override { return std::nullopt; }
};

} // namespace

// The whole program, built by the same start-up code as main(), against a
// loopback account service and marketplace, with recorders for boxes and browser.
class ProgramFixture
{
public:
    // beforeStart runs in the working directory before the program is built.
    explicit ProgramFixture(bool trayAvailable = false, const std::function<void()> &beforeStart = {})
        : available(trayAvailable)
    {
        QDir::setCurrent(directory.path());
        if (beforeStart)
            beforeStart();
        accounts.setHandler(accountService);
        market.setHandler(marketplace);
        qputenv("QUILLMARSH_ACCOUNT_HOST", accounts.hostAndPort());
        qputenv("QUILLMARSH_MARKET_HOST", market.hostAndPort());
        program = std::make_unique<QuillmarshApp>(
            QuillmarshApp::Platform{messages, browser, saveDialog, [this] { return available; }});
    }
    ~ProgramFixture()
    {
        program.reset();
        qunsetenv("QUILLMARSH_ACCOUNT_HOST");
        qunsetenv("QUILLMARSH_MARKET_HOST");
        QDir::setCurrent(QDir::tempPath());
    }
    Q_DISABLE_COPY_MOVE(ProgramFixture)

    LoginWindow &form1() { return program->loginWindow(); }
    QueryWindow &form2() { return program->queryWindow(); }
    AccountMenu &menu() { return program->accountMenu(); }

    void logIn(const QString &user, const QString &password)
    {
        form1().findChild<QLineEdit *>(QStringLiteral("bsSkinEdit1"))->setText(user);
        form1().findChild<QLineEdit *>(QStringLiteral("bsSkinPasswordEdit1"))->setText(password);
        QTest::mouseClick(form1().findChild<QPushButton *>(QStringLiteral("bsSkinButton1")), Qt::LeftButton);
    }

    // Runs the event loop as main() does, with `action` as its first event;
    // returns the loop's exit code, or -1 when the program did not end.
    int runUntilEnd(const std::function<void()> &action)
    {
        QTimer::singleShot(0, &form1(), action);
        QTimer::singleShot(5000, &form1(), [] { QCoreApplication::exit(-1); });
        return QCoreApplication::exec();
    }

    QTemporaryDir directory;
    RawHttpServer accounts;
    RawHttpServer market;
    RecordingMessages messages;
    RecordingBrowser browser;
    CancellingSaveDialog saveDialog;
    bool available;
    std::unique_ptr<QuillmarshApp> program;
};

class TstProgram : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void startsAtLoginWindow();
    void minimizedStart_data();
    void minimizedStart();
    void acceptedLoginShowsQueryWindowOnly();
    void refusedLoginStaysAtLoginWindow();
    void switchAccountDuringBatch();
    void trayBringsBackWindowByLoggedin();
    void programEnds_data();
    void programEnds();
    void closingAnotherWindowInTrayKeepsRunning();
    void startUpBoxHasTheTrayIcon();
    void batchEndingInTrayShowsQueryWindow();
    void realBoxes_data();
    void realBoxes();
    void qtTextsInTheUsersLanguage();
};

void TstProgram::startsAtLoginWindow()
{
    ProgramFixture fixture;
    fixture.program->start();
    QCOMPARE(QApplication::applicationName(), QStringLiteral("Quillmarsh"));
    QVERIFY(fixture.form1().isVisible());
    QVERIFY(!fixture.form2().isVisible());
    QCOMPARE(fixture.form2().windowTitle(), QStringLiteral("Quillmarsh"));
    QVERIFY(!fixture.menu().myPosts->isEnabled());
    QVERIFY(!fixture.menu().changePassword->isEnabled());
    QCOMPARE(fixture.messages.shown, {});
}

void TstProgram::minimizedStart_data()
{
    QTest::addColumn<bool>("trayAvailable");
    QTest::newRow("notification area") << true;
    QTest::newRow("no notification area") << false;
}

void TstProgram::minimizedStart()
{
    QFETCH(bool, trayAvailable);
    QVERIFY(QuillmarshApp::startsMinimized({QStringLiteral("quillmarsh"), QStringLiteral("-minimized")}));
    QVERIFY(!QuillmarshApp::startsMinimized({QStringLiteral("quillmarsh")}));
    ProgramFixture fixture(trayAvailable);
    fixture.program->start(true);
    if (trayAvailable) {
        QTRY_VERIFY(!fixture.form1().isVisible());
    } else {
        QVERIFY(fixture.form1().isVisible());
        QVERIFY(fixture.form1().isMinimized());
    }
    QVERIFY(!fixture.form2().isVisible());
    // Brought back from the tray or the taskbar, it is the login window.
    Q_EMIT fixture.program->tray().icon().activated(QSystemTrayIcon::DoubleClick);
    QVERIFY(fixture.form1().isVisible());
    QVERIFY(!fixture.form1().isMinimized());
}

void TstProgram::acceptedLoginShowsQueryWindowOnly()
{
    ProgramFixture fixture;
    fixture.program->start();
    fixture.logIn(QStringLiteral("demo"), QStringLiteral("demo"));
    QTRY_VERIFY(fixture.form2().isVisible());
    QTRY_VERIFY(!fixture.form1().isVisible());
    QCOMPARE(fixture.form2().windowTitle(),
             QString::fromUtf8("Quillmarsh 1.0 帐号:demo 积分：120 电子邮件：demo@example.com"));
    QCOMPARE(fixture.program->session().loggedin(), 1);
    QVERIFY(fixture.menu().myPosts->isEnabled());
    QVERIFY(fixture.menu().changePassword->isEnabled());
    QCOMPARE(fixture.messages.shown, {});
}

void TstProgram::refusedLoginStaysAtLoginWindow()
{
    ProgramFixture fixture;
    fixture.program->start();
    fixture.logIn(QStringLiteral("demo"), QStringLiteral("wrong"));
    QCOMPARE(fixture.messages.texts(), QStringList{QString::fromUtf8("用户名或密码错误！请重试。")});
    QVERIFY(fixture.form1().isVisible());
    QVERIFY(!fixture.form2().isVisible());
    QCOMPARE(fixture.program->session().loggedin(), 0);
}

// The batch goes on in the hidden query window while the login window is
// back; after the next login the rows gathered meanwhile are there.
void TstProgram::switchAccountDuringBatch()
{
    ProgramFixture fixture;
    fixture.program->start();
    fixture.logIn(QStringLiteral("demo"), QStringLiteral("demo"));
    QTRY_VERIFY(fixture.form2().isVisible());
    fixture.form2().findChild<QLineEdit *>(QStringLiteral("Edit1"))->setText(QStringLiteral("seed"));
    fixture.form2().startBatch();
    QTRY_VERIFY(fixture.form2().results().rowCount() >= 2);

    fixture.menu().switchAccount->trigger();
    QCOMPARE(fixture.program->session().loggedin(), 0);
    QVERIFY(fixture.form1().isVisible());
    QVERIFY(!fixture.form2().isVisible());
    // The window system's activation of the query window may come late, when
    // it is hidden already: the login window stays.
    QEvent lateActivation(QEvent::WindowActivate);
    QApplication::sendEvent(&fixture.form2(), &lateActivation);
    QVERIFY(fixture.form1().isVisible());
    const int rowsAtSwitch = fixture.form2().results().rowCount();
    QTRY_VERIFY(fixture.form2().results().rowCount() > rowsAtSwitch + 2);

    fixture.logIn(QStringLiteral("second"), QStringLiteral("pw2"));
    QTRY_VERIFY(fixture.form2().isVisible());
    QTRY_VERIFY(!fixture.form1().isVisible());
    QVERIFY(fixture.form2().results().rowCount() > rowsAtSwitch + 2);
    QCOMPARE(fixture.form2().windowTitle(),
             QString::fromUtf8("Quillmarsh 1.0 帐号:second 积分：7 电子邮件：second@example.com"));
    fixture.form2().stopBatch();
}

void TstProgram::trayBringsBackWindowByLoggedin()
{
    ProgramFixture fixture(true);
    fixture.program->start();
    fixture.logIn(QStringLiteral("demo"), QStringLiteral("demo"));
    QTRY_VERIFY(fixture.form2().isVisible());

    fixture.menu().hideWindows->trigger();
    QVERIFY(!fixture.form1().isVisible());
    QVERIFY(!fixture.form2().isVisible());
    Q_EMIT fixture.program->tray().icon().activated(QSystemTrayIcon::DoubleClick);
    QTRY_VERIFY(fixture.form2().isVisible());
    QVERIFY(!fixture.form1().isVisible());

    // Minimizing the query window hides both to the tray; show window brings it back.
    fixture.form2().showMinimized();
    QTRY_VERIFY(!fixture.form2().isVisible());
    fixture.menu().showWindow->trigger();
    QTRY_VERIFY(fixture.form2().isVisible());
    QVERIFY(!fixture.form2().isMinimized());

    fixture.menu().switchAccount->trigger();
    fixture.menu().hideWindows->trigger();
    fixture.menu().showWindow->trigger();
    QVERIFY(fixture.form1().isVisible());
    QVERIFY(!fixture.form2().isVisible());
}

void TstProgram::programEnds_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("exit entry") << QStringLiteral("exit");
    QTest::newRow("exit entry with hidden windows") << QStringLiteral("hide, exit");
    QTest::newRow("closing the login window") << QStringLiteral("close login");
    QTest::newRow("closing the query window during a batch") << QStringLiteral("close query");
    // Quitting ends every wait of the account exchange at once.
    QTest::newRow("exit entry while a login waits") << QStringLiteral("login, exit");
    QTest::newRow("closing the login window while a login waits") << QStringLiteral("login, close login");
}

void TstProgram::programEnds()
{
    QFETCH(QString, how);
    ProgramFixture fixture(true);
    fixture.program->start();
    if (how == QStringLiteral("close query")) {
        fixture.logIn(QStringLiteral("demo"), QStringLiteral("demo"));
        QTRY_VERIFY(fixture.form2().isVisible());
        fixture.form2().findChild<QLineEdit *>(QStringLiteral("Edit1"))->setText(QStringLiteral("seed"));
        fixture.form2().startBatch();
    }
    QSignalSpy aboutToQuit(qApp, &QCoreApplication::aboutToQuit);
    const auto leave = [&] {
        if (how.startsWith(QStringLiteral("hide")))
            fixture.menu().hideWindows->trigger();
        if (how.endsWith(QStringLiteral("exit")))
            fixture.menu().exitProgram->trigger();
        else if (how.endsWith(QStringLiteral("close login")))
            fixture.form1().close();
        else
            fixture.form2().close();
    };
    const int exitCode = fixture.runUntilEnd([&] {
        if (how.startsWith(QStringLiteral("login"))) {
            // The service never answers: the exchange waits until the program leaves.
            QTimer::singleShot(100, &fixture.form1(), leave);
            fixture.logIn(QStringLiteral("silent"), QStringLiteral("pw"));
        } else {
            leave();
        }
    });
    QCOMPARE(exitCode, 0);
    QCOMPARE(aboutToQuit.count(), 1);
    QVERIFY(!fixture.form1().isVisible());
    QVERIFY(!fixture.form2().isVisible());
    // Nothing is asked on the way out.
    QCOMPARE(fixture.messages.shown, {});
}

// A box shown and closed while both windows are in the tray is the last
// visible window closing; the program goes on. The quit it could cause is
// posted, so the loop is given a moment to deliver it.
void TstProgram::closingAnotherWindowInTrayKeepsRunning()
{
    ProgramFixture fixture(true);
    fixture.program->start();
    QWidget box;
    const int exitCode = fixture.runUntilEnd([&] {
        fixture.menu().hideWindows->trigger();
        box.show();
        box.close();
        QTimer::singleShot(100, [] { QCoreApplication::exit(7); });
    });
    QCOMPARE(exitCode, 7);
    fixture.menu().showWindow->trigger();
    QVERIFY(fixture.form1().isVisible());
}

// A box shown while the windows are made (here a directory named info.dat)
// has the tray icon beside it already, and its menu is safe to use.
void TstProgram::startUpBoxHasTheTrayIcon()
{
    QList<bool> trayShown;
    ProgramFixture fixture(true, [&] {
        QVERIFY(QDir().mkdir(QStringLiteral("info.dat")));
        fixture.messages.whileOpen = [&](const RecordingMessages::Shown &) {
            const auto *icon = QCoreApplication::instance()->findChild<QSystemTrayIcon *>();
            trayShown.append(icon && icon->isVisible());
            // The windows do not exist yet: their entries do nothing.
            for (QAction *entry : icon->contextMenu()->actions())
                entry->trigger();
        };
    });
    QCOMPARE(fixture.messages.shown.size(), 1);
    QCOMPARE(fixture.messages.shown[0].kind, RecordingMessages::Kind::Error);
    QCOMPARE(trayShown, QList<bool>{true});
}

// A batch that ends while both windows are in the tray brings the query
// window back before its end message.
void TstProgram::batchEndingInTrayShowsQueryWindow()
{
    ProgramFixture fixture(true);
    fixture.program->start();
    fixture.logIn(QStringLiteral("demo"), QStringLiteral("demo"));
    QTRY_VERIFY(fixture.form2().isVisible());
    QList<bool> queryWindowShown;
    fixture.messages.whileOpen = [&](const RecordingMessages::Shown &) {
        queryWindowShown.append(fixture.form2().isVisible());
    };
    fixture.form2().scheduler().setEndCheckInterval(50);
    auto *keywordBox = fixture.form2().findChild<QLineEdit *>(QStringLiteral("Edit1"));
    keywordBox->setText(QStringLiteral("seed"));
    fixture.form2().startBatch();
    // No harvested keyword holds this, so the batch ends after the seed.
    keywordBox->setText(QStringLiteral("nothing like it"));
    fixture.menu().hideWindows->trigger();
    QVERIFY(!fixture.form2().isVisible());
    QTRY_COMPARE(fixture.messages.texts(), QStringList{QStringLiteral("查询完成！")});
    QCOMPARE(queryWindowShown, QList<bool>{true});
}

// Real message boxes: wide enough for their caption, and modal to the window
// they are shown over only, so another window (the tray icon's) still takes clicks.
void TstProgram::realBoxes_data()
{
    QTest::addColumn<int>("kind");
    QTest::newRow("plain") << int(RecordingMessages::Kind::Plain);
    QTest::newRow("error") << int(RecordingMessages::Kind::Error);
    QTest::newRow("information") << int(RecordingMessages::Kind::Information);
}

void TstProgram::realBoxes()
{
    QFETCH(int, kind);
    QWidget owner;
    owner.resize(300, 200);
    owner.show();
    QWidget trayStandIn;
    trayStandIn.setGeometry(400, 0, 100, 50);
    auto *trayButton = new QPushButton(QStringLiteral("tray"), &trayStandIn);
    trayButton->setGeometry(0, 0, 100, 50);
    trayStandIn.show();
    QVERIFY(QTest::qWaitForWindowExposed(&trayStandIn));
    // The box is shown over the active window.
    owner.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&owner));
    QSignalSpy trayClicked(trayButton, &QPushButton::clicked);

    int boxWidth = 0;
    int captionWidth = 0;
    QTimer inspector;
    connect(&inspector, &QTimer::timeout, this, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        inspector.stop();
        boxWidth = box->width();
        captionWidth = box->fontMetrics().horizontalAdvance(box->windowTitle());
        QTest::mouseClick(trayStandIn.windowHandle(), Qt::LeftButton, {}, QPoint(50, 25));
        box->accept();
    });
    inspector.start(10);
    WidgetMessages messages;
    switch (RecordingMessages::Kind(kind)) {
    case RecordingMessages::Kind::Plain:
        messages.showPlain(QStringLiteral("查询完成！"));
        break;
    case RecordingMessages::Kind::Error:
        messages.showError(AppError(QStringLiteral("x")));
        break;
    case RecordingMessages::Kind::Information:
        messages.showInformation(QStringLiteral("用户名或密码错误！请重试。"));
        break;
    }
    QVERIFY(captionWidth > 0);
    // Room for the caption beside the title bar's own buttons.
    QVERIFY2(boxWidth >= captionWidth + 100,
             qPrintable(QStringLiteral("%1 < %2 + 100").arg(boxWidth).arg(captionWidth)));
    QCOMPARE(trayClicked.count(), 1);
}

// Qt's own texts (standard buttons, the file dialog) follow the user's language.
void TstProgram::qtTextsInTheUsersLanguage()
{
    QTranslator *translator = installQtTranslations(QLocale(QLocale::Chinese, QLocale::China));
    QVERIFY2(translator, "no Qt translation for zh_CN");
    const auto remove = qScopeGuard([translator] {
        QCoreApplication::removeTranslator(translator);
        delete translator;
    });
    QMessageBox box;
    box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
    QCOMPARE(box.button(QMessageBox::Cancel)->text(), QStringLiteral("取消"));
}

QTEST_MAIN(TstProgram)
#include "tst_program.moc"
