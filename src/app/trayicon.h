#pragma once

#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>
#include <functional>

class AccountMenu;
class Browser;
class UserSession;
class QWidget;

// The notification-area icon and what its account menu does with the two
// windows. Minimizing either window hides both to the icon. Where the desktop
// has no notification area, hiding minimizes instead, so the program can
// always be reached from the taskbar.
class TrayIcon final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TrayIcon)

public:
    using Availability = std::function<bool()>;

    // Shows the icon at once, so it is there before any window or box.
    TrayIcon(AccountMenu &menu, UserSession &session, Browser &browser, Availability available,
             QObject *parent = nullptr);
    // The two windows the menu drives. Until they are set (a box shown while
    // they are made), the menu's window entries do nothing.
    void setWindows(QWidget *loginWindow, QWidget *queryWindow);

    QSystemTrayIcon &icon() { return m_icon; }

    void switchAccount();
    void hideWindows();
    // Brings back the window that fits `loggedin`: the query window or the login window.
    void showWindow();
    // A box about to open while both windows sit in the tray gets a window behind it.
    void showWindowIfAllHidden();
    void openMyPosts();
    void openChangePassword();
    void exitProgram();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool windowsSet() const;
    void activated(QSystemTrayIcon::ActivationReason reason);
    void openForumPage(const char *pathAndQuery);

    UserSession &m_session;
    Browser &m_browser;
    QPointer<QWidget> m_loginWindow;
    QPointer<QWidget> m_queryWindow;
    Availability m_available;
    QSystemTrayIcon m_icon;
};
