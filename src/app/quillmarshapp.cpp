#include "app/quillmarshapp.h"

#include "app/accountmenu.h"
#include "app/desktopbrowser.h"
#include "app/widgetmessages.h"
#include "login/loginwindow.h"
#include "login/skin.h"
#include "login/usersession.h"
#include "query/querywindow.h"
#include "results/widgetsavefiledialog.h"

#include <QApplication>
#include <QEvent>

struct QuillmarshApp::DesktopAdapters
{
    WidgetMessages messages;
    DesktopBrowser browser;
    WidgetSaveFileDialog saveDialog;
};

QuillmarshApp::QuillmarshApp() : m_desktop(std::make_unique<DesktopAdapters>())
{
    build({m_desktop->messages, m_desktop->browser, m_desktop->saveDialog,
           &QSystemTrayIcon::isSystemTrayAvailable});
}

QuillmarshApp::QuillmarshApp(const Platform &platform)
{
    build(platform);
}

QuillmarshApp::~QuillmarshApp() = default;

void QuillmarshApp::build(const Platform &platform)
{
    // Message boxes without a title of their own carry the program's name.
    QApplication::setApplicationName(QStringLiteral("Quillmarsh"));
    QApplication::setWindowIcon(skin::programIcon());

    m_session = std::make_unique<UserSession>();
    m_menu = std::make_unique<AccountMenu>();
    // First, so a box shown while the windows are made (a damaged info.dat)
    // already has the icon beside it. It belongs to the application object,
    // where such a box can find it too.
    m_tray = std::make_unique<TrayIcon>(*m_menu, *m_session, platform.browser, platform.trayAvailable,
                                        QCoreApplication::instance());
    m_loginWindow = std::make_unique<LoginWindow>(*m_session, platform.browser, platform.messages);
    connect(m_loginWindow.get(), &LoginWindow::syncLoginDone, m_menu.get(),
            &AccountMenu::enableAccountEntries);
    m_queryWindow =
        std::make_unique<QueryWindow>(*m_session, platform.messages, platform.browser, platform.saveDialog);
    m_queryWindow->setLoginWindow(m_loginWindow.get());
    m_tray->setWindows(m_loginWindow.get(), m_queryWindow.get());
    // The end of a batch run in the tray is announced over the query window, not over nothing.
    connect(m_queryWindow.get(), &QueryWindow::messageDue, m_tray.get(), &TrayIcon::showWindowIfAllHidden);

    // An accepted login sets `loggedin`, so bringing back the current window shows the query window.
    connect(m_loginWindow.get(), &LoginWindow::loginAccepted, m_tray.get(), &TrayIcon::showWindow);
    // The login window is the main window: closing it ends the program, even
    // while the query window is hidden rather than closed. Nothing else does:
    // a message box closed while both windows sit in the tray is the last
    // visible window, and must not end the program.
    QApplication::setQuitOnLastWindowClosed(false);
    m_loginWindow->installEventFilter(this);
}

void QuillmarshApp::start(bool minimized)
{
    if (minimized)
        m_loginWindow->showMinimized();
    else
        m_loginWindow->show();
}

bool QuillmarshApp::startsMinimized(const QStringList &arguments)
{
    return arguments.contains(QStringLiteral("-minimized"));
}

bool QuillmarshApp::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_loginWindow.get() && event->type() == QEvent::Close)
        QCoreApplication::exit(0);
    return QObject::eventFilter(watched, event);
}
