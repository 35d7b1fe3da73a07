#include "app/quillmarshapp.h"

#include "app/accountmenu.h"
#include "app/desktopbrowser.h"
#include "app/widgetmessages.h"
#include "common/datafolder.h"
#include "history/historyrecorder.h"
#include "history/historywindow.h"
#include "history/runrestore.h"
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

    openHistory(platform.messages);
    m_historyWindow =
        std::make_unique<HistoryWindow>(m_history.get(), platform.messages, platform.saveDialog);
    connect(m_queryWindow.get(), &QueryWindow::historyRequested, m_historyWindow.get(), [this] {
        m_historyWindow->show();
        m_historyWindow->raise();
    });
    connect(m_historyWindow.get(), &HistoryWindow::resumeRequested, this,
            [this, &messages = platform.messages](qint64 run) { resumeRun(run, messages); });

    // An accepted login sets `loggedin`, so bringing back the current window shows the query window.
    connect(m_loginWindow.get(), &LoginWindow::loginAccepted, m_tray.get(), &TrayIcon::showWindow);
    // The login window is the main window: closing it ends the program, even
    // while the query window is hidden rather than closed. Nothing else does:
    // a message box closed while both windows sit in the tray is the last
    // visible window, and must not end the program.
    QApplication::setQuitOnLastWindowClosed(false);
    m_loginWindow->installEventFilter(this);
}

void QuillmarshApp::openHistory(UserMessages &messages)
{
    const QString fileName = datafolder::filePath(QStringLiteral("history.sqlite"));
    if (fileName.isEmpty())
        return;
    try {
        m_history = std::make_unique<history::Database>(fileName);
    } catch (const history::HistoryError &error) {
        messages.showPlain(error.message());
        return;
    }
    if (!m_history->notice().isEmpty())
        messages.showPlain(m_history->notice());
    m_recorder = std::make_unique<HistoryRecorder>(m_history.get(), &m_queryWindow->scheduler(), [this] {
        const KeywordFilter filter = m_queryWindow->keywordFilter();
        const CrawlSettings &crawl = m_queryWindow->scheduler().crawlSettings();
        return history::RunOptions{filter.boxText,
                                   filter.boxText,
                                   filter.mustContain,
                                   filter.excludedWords,
                                   m_session->userinfoLine(1),
                                   crawl.maxKeywords,
                                   crawl.maxDepth,
                                   crawl.retries};
    });
    connect(m_recorder.get(), &HistoryRecorder::stopped, this,
            [&messages](const QString &text) { messages.showPlain(text); });
}

void QuillmarshApp::resumeRun(qint64 id, UserMessages &messages)
{
    std::optional<history::StoredRun> run;
    try {
        if (m_history)
            run = m_history->run(id);
    } catch (const history::HistoryError &error) {
        messages.showPlain(error.message());
        return;
    }
    if (!run)
        return;
    if (run->summary.state == history::RunState::Running ||
        !m_queryWindow->scheduler().batchButtonEnabled()) {
        messages.showPlain(QStringLiteral("查询正在进行，请先停止。"));
        return;
    }
    // The scheduler reads the box and the tick as each page is parsed.
    m_queryWindow->setKeywordFilter(
        {run->options.filterText, run->options.mustContain, run->options.excludedWords});
    history::resume(*run, m_queryWindow->results(), m_queryWindow->scheduler(), m_recorder.get());
    m_queryWindow->show();
    m_queryWindow->raise();
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
