#include "app/accountmenu.h"
#include "app/trayicon.h"
#include "login/usersession.h"
#include "recorders.h"

#include <QAction>
#include <QTest>
#include <QWidget>
#include <memory>

using testsupport::RecordingBrowser;

// The tray icon and its menu over two plain windows standing for the login and
// the query window.
class TrayFixture
{
public:
    explicit TrayFixture(bool trayAvailable)
        : tray(menu, session, browser, [this] { return available; }), available(trayAvailable)
    {
        tray.setWindows(&loginWindow, &queryWindow);
        loginWindow.show();
    }

    UserSession session;
    RecordingBrowser browser;
    AccountMenu menu;
    QWidget loginWindow;
    QWidget queryWindow;
    TrayIcon tray;
    bool available;
};

class TstTrayIcon : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void menuEntriesAtStart();
    void accountEntriesStayEnabled();
    void forumPagesOnAccountHost();
    void bringsBackWindowByLoggedin_data();
    void bringsBackWindowByLoggedin();
    void switchAccountShowsLoginWindow();
    void hideWindows_data();
    void hideWindows();
    void minimizingHidesToTray_data();
    void minimizingHidesToTray();
    void exitClosesLoginWindow();
};

void TstTrayIcon::menuEntriesAtStart()
{
    TrayFixture fixture(true);
    QStringList captions;
    QList<bool> enabled;
    for (const QAction *action : fixture.menu.actions()) {
        captions.append(action->isSeparator() ? QStringLiteral("-") : action->text());
        enabled.append(action->isEnabled());
    }
    const QStringList expected = {QString::fromUtf8("切换帐号(&C)"),
                                  QString::fromUtf8("隐藏窗口(&H)"),
                                  QString::fromUtf8("显示窗口(&S)"),
                                  QStringLiteral("-"),
                                  QString::fromUtf8("我的帖子(&T)"),
                                  QString::fromUtf8("修改密码(&P)"),
                                  QStringLiteral("-"),
                                  QString::fromUtf8("退出程序(&E)")};
    QCOMPARE(captions, expected);
    QCOMPARE(enabled, (QList<bool>{true, true, true, true, false, false, true, true}));
    QCOMPARE(fixture.tray.icon().contextMenu(), &fixture.menu);
    QVERIFY(fixture.tray.icon().toolTip().isEmpty());
    const QList<QSize> sizes = fixture.tray.icon().icon().availableSizes();
    for (const QSize size : {QSize(16, 16), QSize(32, 32), QSize(48, 48)})
        QVERIFY2(sizes.contains(size), qPrintable(QStringLiteral("%1 px icon missing").arg(size.width())));
    QVERIFY(fixture.menu.defaultAction() == nullptr);
}

void TstTrayIcon::accountEntriesStayEnabled()
{
    TrayFixture fixture(true);
    fixture.menu.enableAccountEntries();
    fixture.menu.switchAccount->trigger();
    QVERIFY(fixture.menu.myPosts->isEnabled());
    QVERIFY(fixture.menu.changePassword->isEnabled());
}

void TstTrayIcon::forumPagesOnAccountHost()
{
    qputenv("QUILLMARSH_ACCOUNT_HOST", "127.0.0.1:8123");
    const auto restore = qScopeGuard([] { qunsetenv("QUILLMARSH_ACCOUNT_HOST"); });
    TrayFixture fixture(true);
    fixture.menu.enableAccountEntries();
    fixture.menu.myPosts->trigger();
    fixture.menu.changePassword->trigger();
    using Opened = QPair<QByteArray, Browser::Show>;
    QCOMPARE(
        fixture.browser.opened,
        (QList<Opened>{{"http://127.0.0.1:8123/my.php?item=threads", Browser::Show::Hidden},
                       {"http://127.0.0.1:8123/memcp.php?action=profile&typeid=1", Browser::Show::Hidden}}));
}

void TstTrayIcon::bringsBackWindowByLoggedin_data()
{
    QTest::addColumn<int>("loggedin");
    QTest::addColumn<bool>("fromMenu"); // else a double-click on the icon
    QTest::addColumn<bool>("loginVisible");
    QTest::addColumn<bool>("queryVisible");
    QTest::newRow("menu, logged out") << 0 << true << true << false;
    QTest::newRow("double-click, logged out") << 0 << false << true << false;
    QTest::newRow("menu, logged in") << 1 << true << false << true;
    QTest::newRow("double-click, logged in") << 1 << false << false << true;
}

void TstTrayIcon::bringsBackWindowByLoggedin()
{
    QFETCH(int, loggedin);
    QFETCH(bool, fromMenu);
    QFETCH(bool, loginVisible);
    QFETCH(bool, queryVisible);
    TrayFixture fixture(true);
    fixture.session.setLoggedin(loggedin);
    fixture.menu.hideWindows->trigger();
    QVERIFY(!fixture.loginWindow.isVisible());
    QVERIFY(!fixture.queryWindow.isVisible());

    // A single click does nothing.
    Q_EMIT fixture.tray.icon().activated(QSystemTrayIcon::Trigger);
    QVERIFY(!fixture.loginWindow.isVisible());
    QVERIFY(!fixture.queryWindow.isVisible());

    if (fromMenu)
        fixture.menu.showWindow->trigger();
    else
        Q_EMIT fixture.tray.icon().activated(QSystemTrayIcon::DoubleClick);
    // The query window's own activation hides the login window; the plain
    // stand-in does not, so only the window brought back is checked.
    QCOMPARE(fixture.loginWindow.isVisible(), loginVisible);
    QCOMPARE(fixture.queryWindow.isVisible(), queryVisible);
}

void TstTrayIcon::switchAccountShowsLoginWindow()
{
    TrayFixture fixture(true);
    fixture.session.setLoggedin(1);
    fixture.loginWindow.hide();
    fixture.queryWindow.show();
    fixture.menu.switchAccount->trigger();
    QCOMPARE(fixture.session.loggedin(), 0);
    QVERIFY(fixture.loginWindow.isVisible());
    QVERIFY(!fixture.queryWindow.isVisible());
}

void TstTrayIcon::hideWindows_data()
{
    QTest::addColumn<bool>("trayAvailable");
    QTest::newRow("notification area") << true;
    QTest::newRow("no notification area") << false;
}

void TstTrayIcon::hideWindows()
{
    QFETCH(bool, trayAvailable);
    TrayFixture fixture(trayAvailable);
    fixture.queryWindow.show();
    fixture.menu.hideWindows->trigger();
    for (const QWidget *window : {&fixture.loginWindow, &fixture.queryWindow}) {
        // Without a notification area the windows stay reachable from the taskbar.
        QCOMPARE(window->isVisible(), !trayAvailable);
        QCOMPARE(window->isMinimized(), !trayAvailable);
    }
    fixture.session.setLoggedin(0);
    fixture.menu.showWindow->trigger();
    QVERIFY(fixture.loginWindow.isVisible());
    QVERIFY(!fixture.loginWindow.isMinimized());
}

void TstTrayIcon::minimizingHidesToTray_data()
{
    hideWindows_data();
}

void TstTrayIcon::minimizingHidesToTray()
{
    QFETCH(bool, trayAvailable);
    TrayFixture fixture(trayAvailable);
    fixture.loginWindow.showMinimized();
    if (trayAvailable) {
        QTRY_VERIFY(!fixture.loginWindow.isVisible());
    } else {
        QCoreApplication::processEvents();
        QVERIFY(fixture.loginWindow.isVisible());
        QVERIFY(fixture.loginWindow.isMinimized());
    }
    QVERIFY(!fixture.queryWindow.isVisible());
}

void TstTrayIcon::exitClosesLoginWindow()
{
    TrayFixture fixture(true);
    fixture.menu.hideWindows->trigger();
    bool closed = false;
    struct CloseWatch : QObject
    {
        bool &closed;
        explicit CloseWatch(bool &flag) : closed(flag) {}
        bool eventFilter(QObject *, QEvent *event) override
        {
            closed |= event->type() == QEvent::Close;
            return false;
        }
    } watch(closed);
    fixture.loginWindow.installEventFilter(&watch);
    fixture.menu.exitProgram->trigger();
    QVERIFY(closed);
}

QTEST_MAIN(TstTrayIcon)
#include "tst_trayicon.moc"
