#pragma once

#include "app/trayicon.h"

#include <QObject>
#include <QStringList>
#include <memory>

class AccountMenu;
class Browser;
class SaveFileDialog;
class LoginWindow;
class QueryWindow;
class UserMessages;
class UserSession;

// The program as main() runs it: the user session, the adapters to the
// desktop, the login window, the hidden query window and the tray icon, wired
// together. Tests build it the same way with recorders in place of the adapters.
class QuillmarshApp final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QuillmarshApp)

public:
    // What the program reaches outside itself.
    struct Platform
    {
        UserMessages &messages;
        Browser &browser;
        SaveFileDialog &saveDialog;
        TrayIcon::Availability trayAvailable;
    };

    // Real message boxes, the desktop's browser, the file dialog and notification area.
    QuillmarshApp();
    explicit QuillmarshApp(const Platform &platform);
    ~QuillmarshApp() override;

    // Shows the login window, or starts minimized, which with a notification
    // area means straight to the tray.
    void start(bool minimized = false);
    // "-minimized" on the command line asks for a minimized start.
    static bool startsMinimized(const QStringList &arguments);

    UserSession &session() { return *m_session; }
    AccountMenu &accountMenu() { return *m_menu; }
    LoginWindow &loginWindow() { return *m_loginWindow; }
    QueryWindow &queryWindow() { return *m_queryWindow; }
    TrayIcon &tray() { return *m_tray; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    struct DesktopAdapters;
    void build(const Platform &platform);

    std::unique_ptr<DesktopAdapters> m_desktop; // only when the desktop's own adapters are used
    std::unique_ptr<UserSession> m_session;
    std::unique_ptr<AccountMenu> m_menu;
    std::unique_ptr<LoginWindow> m_loginWindow;
    std::unique_ptr<QueryWindow> m_queryWindow;
    std::unique_ptr<TrayIcon> m_tray;
};
