#include "app/trayicon.h"

#include "app/accountmenu.h"
#include "common/browser.h"
#include "login/skin.h"
#include "login/usersession.h"
#include "net/hosts.h"

#include <QEvent>
#include <QWidget>

namespace {
// Restored from the taskbar or the tray, shown and made the active window.
void bringToFront(QWidget *window)
{
    window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    window->show();
    window->raise();
    window->activateWindow();
}
} // namespace

TrayIcon::TrayIcon(AccountMenu &menu, UserSession &session, Browser &browser, Availability available,
                   QObject *parent)
    : QObject(parent), m_session(session), m_browser(browser), m_available(std::move(available)),
      m_icon(skin::programIcon(), this)
{
    m_icon.setContextMenu(&menu);
    connect(&m_icon, &QSystemTrayIcon::activated, this, &TrayIcon::activated);
    connect(menu.switchAccount, &QAction::triggered, this, &TrayIcon::switchAccount);
    connect(menu.hideWindows, &QAction::triggered, this, &TrayIcon::hideWindows);
    connect(menu.showWindow, &QAction::triggered, this, &TrayIcon::showWindow);
    connect(menu.myPosts, &QAction::triggered, this, &TrayIcon::openMyPosts);
    connect(menu.changePassword, &QAction::triggered, this, &TrayIcon::openChangePassword);
    connect(menu.exitProgram, &QAction::triggered, this, &TrayIcon::exitProgram);
    m_icon.show();
}

void TrayIcon::setWindows(QWidget *loginWindow, QWidget *queryWindow)
{
    m_loginWindow = loginWindow;
    m_queryWindow = queryWindow;
    loginWindow->installEventFilter(this);
    queryWindow->installEventFilter(this);
}

bool TrayIcon::windowsSet() const
{
    return m_loginWindow && m_queryWindow;
}

void TrayIcon::switchAccount()
{
    if (!windowsSet())
        return;
    m_session.setLoggedin(0);
    m_queryWindow->hide();
    bringToFront(m_loginWindow);
}

void TrayIcon::hideWindows()
{
    if (!windowsSet())
        return;
    if (m_available()) {
        m_loginWindow->hide();
        m_queryWindow->hide();
        return;
    }
    for (QWidget *window : {m_loginWindow.data(), m_queryWindow.data()}) {
        if (window->isVisible())
            window->showMinimized();
    }
}

void TrayIcon::showWindow()
{
    if (!windowsSet())
        return;
    if (m_session.loggedin() == 1) {
        // Hidden and shown again so it comes to the front; its activation hides the login window.
        m_queryWindow->hide();
        bringToFront(m_queryWindow);
    } else {
        bringToFront(m_loginWindow);
    }
}

void TrayIcon::showWindowIfAllHidden()
{
    if (!windowsSet())
        return;
    if (!m_loginWindow->isVisible() && !m_queryWindow->isVisible())
        showWindow();
}

void TrayIcon::openMyPosts()
{
    openForumPage("/my.php?item=threads");
}

void TrayIcon::openChangePassword()
{
    openForumPage("/memcp.php?action=profile&typeid=1");
}

void TrayIcon::exitProgram()
{
    if (!windowsSet())
        return;
    m_loginWindow->close();
}

bool TrayIcon::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::WindowStateChange && static_cast<QWidget *>(watched)->isMinimized() &&
        m_available()) {
        // Hiding from inside the state change confuses some window managers; do it next.
        QMetaObject::invokeMethod(this, &TrayIcon::hideWindows, Qt::QueuedConnection);
    }
    return QObject::eventFilter(watched, event);
}

void TrayIcon::activated(QSystemTrayIcon::ActivationReason reason)
{
    if (reason == QSystemTrayIcon::DoubleClick)
        showWindow();
}

void TrayIcon::openForumPage(const char *pathAndQuery)
{
    m_browser.open(hosts::accountUrl(pathAndQuery), Browser::Show::Hidden);
}
