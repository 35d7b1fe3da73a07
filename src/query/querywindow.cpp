#include "query/querywindow.h"

#include "common/apperror.h"
#include "common/datafolder.h"
#include "common/marketcookie.h"
#include "common/usermessages.h"
#include "common/windowfont.h"
#include "common/windowplacement.h"
#include "query/querywindowcaption.h"
#include "results/keywordvisit.h"
#include "results/opportunitychart.h"
#include "results/resultsfilterbar.h"
#include "results/resultsview.h"
#include "text/gbk.h"

#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QSettings>
#include <QStatusBar>
#include <algorithm>
#include <utility>

namespace {

constexpr int clientWidth = 910;
constexpr int clientHeight = 513;
constexpr int toolRowHeight = 57;
constexpr int statusBarHeight = 19;
constexpr int crawlBarHeight = 22;
constexpr int figuresIntervalMs = 500;
constexpr int statusIntervalMs = 100;
constexpr int totalPanelWidth = 100;
constexpr int donePanelMinimumWidth = 50;
// Panels 2 and "失败：" stay readable up to this count.
constexpr int largestShownCount = 1'000'000;
// Added below the tool row; the table area keeps its size below it.
constexpr int filterBarHeight = 30;
constexpr int chartWidth = 430;
const QString exclusionKey = QStringLiteral("filter/excludedWords");

QSettings userSettings()
{
    return QSettings(datafolder::filePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
}

QString settingsFile()
{
    return datafolder::filePath(QStringLiteral("settings.ini"));
}

const QString profileKey = QStringLiteral("crawling/profile");

} // namespace

QueryWindow::QueryWindow(UserSession &session, UserMessages &messages, Browser &browser,
                         SaveFileDialog &saveDialog, QWidget *parent)
    : QWidget(parent), m_session(session), m_messages(messages), m_browser(browser), m_save(saveDialog),
      m_scheduler(&m_results, [this] { return keywordFilter(); })
{
    setWindowTitle(QStringLiteral("Quillmarsh"));
    setFont(tableWindowFont());
    setFixedSize(clientWidth, clientHeight + filterBarHeight);
    centreOnScreen(this);

    m_toolRow = new QFrame(this);
    m_toolRow->setObjectName(QStringLiteral("Panel1"));
    m_toolRow->setFrameStyle(QFrame::Panel | QFrame::Raised);
    m_toolRow->setGeometry(0, 0, clientWidth, toolRowHeight);
    m_filterBar = new QFrame(this);
    m_filterBar->setObjectName(QStringLiteral("FilterBar"));
    m_filterBar->setGeometry(0, toolRowHeight, clientWidth, filterBarHeight);
    m_tableArea = new QFrame(this);
    m_tableArea->setObjectName(QStringLiteral("Panel2"));
    m_tableArea->setGeometry(0, toolRowHeight + filterBarHeight, clientWidth, clientHeight - toolRowHeight);

    createToolRow();
    createTable();
    createCrawlBar();
    // The status bar holds the filter bar's count.
    createFilterBar(saveDialog);
    createStatusBar();

    const auto showMessage = [this](const QString &text) {
        Q_EMIT messageDue();
        m_messages.showPlain(text);
    };
    connect(&m_scheduler, &BatchScheduler::message, this, showMessage);
    // The next page is fetched as soon as the window is idle, as on the
    // command line: a Qt timer of 1 ms really waits that long.
    m_scheduler.setDispatchInterval(0);
    m_statusTimer.setSingleShot(true);
    m_statusTimer.setInterval(statusIntervalMs);
    connect(&m_statusTimer, &QTimer::timeout, this, &QueryWindow::showPendingStatus);
    connect(&m_scheduler, &BatchScheduler::totalTextChanged, this,
            [this](const QString &text) { showStatusText(1, text); });
    connect(&m_scheduler, &BatchScheduler::doneTextChanged, this,
            [this](const QString &text) { showStatusText(2, text); });
    connect(&m_scheduler, &BatchScheduler::failedCountChanged, this, &QueryWindow::showFailedCount);
    connect(&m_scheduler, &BatchScheduler::excludedCountChanged, this, &QueryWindow::showExcludedCount);
    connect(&m_scheduler, &BatchScheduler::batchButtonEnabledChanged, m_batchButton, &QWidget::setEnabled);
    m_batchButton->setEnabled(m_scheduler.batchButtonEnabled());
    // Not the must-contain box, which one stray Space would untick.
    m_batchButton->setFocus();
    connect(&m_scheduler, &BatchScheduler::seedPageUnrecognised, this, showMessage);
    // The figures follow a running batch twice a second rather than every
    // page, which would cost more than the pages themselves on a fast link.
    m_figuresTimer.setInterval(figuresIntervalMs);
    connect(&m_figuresTimer, &QTimer::timeout, this, &QueryWindow::showCrawlFigures);
    connect(&m_scheduler, &BatchScheduler::batchButtonEnabledChanged, this, [this](bool enabled) {
        if (enabled)
            m_figuresTimer.stop();
        else
            m_figuresTimer.start();
        showPendingStatus();
        showCrawlFigures();
    });
    connect(&m_scheduler, &BatchScheduler::ended, this, [this] {
        m_figuresTimer.stop();
        showPendingStatus();
        showCrawlFigures();
    });
    loadSettings();
}

QueryWindow::~QueryWindow() = default;

KeywordFilter QueryWindow::keywordFilter() const
{
    return KeywordFilter{text::toGbk(m_keywordEdit->text()), m_mustContainBox->isChecked(), m_excludedWords};
}

void QueryWindow::setKeywordFilter(const KeywordFilter &filter)
{
    m_keywordEdit->setText(text::fromGbk(filter.boxText));
    m_mustContainBox->setChecked(filter.mustContain);
    m_exclusionEdit->setText(text::fromGbk(filter.excludedWords.join(' ')));
}

void QueryWindow::createToolRow()
{
    auto *label1 = new QLabel(QStringLiteral("关键词"), m_toolRow);
    label1->setObjectName(QStringLiteral("Label1"));
    label1->move(16, 24);
    label1->adjustSize();

    m_keywordEdit = new QLineEdit(BatchScheduler::keywordPrompt(), m_toolRow);
    m_keywordEdit->setObjectName(QStringLiteral("Edit1"));
    m_keywordEdit->setGeometry(60, 20, 125, 20);
    m_keywordEdit->installEventFilter(this);

    m_mustContainBox = new QCheckBox(QStringLiteral("必须包含关键词"), m_toolRow);
    m_mustContainBox->setObjectName(QStringLiteral("CheckBox1"));
    m_mustContainBox->setGeometry(196, 20, 101, 17);
    // Seven characters at 12 px leave the indicator 17 px of the 101; the
    // platform style's wider gap would clip the last character.
    m_mustContainBox->setStyleSheet(QStringLiteral("QCheckBox { spacing: 3px; }"));
    m_mustContainBox->setChecked(true);

    struct ButtonLayout
    {
        const char *caption;
        QRect geometry;
        void (QueryWindow::*click)();
    };
    // Button1 to Button6.
    const ButtonLayout layouts[] = {
        {"按成交笔数排序", {684, 16, 100, 25}, &QueryWindow::sortBySales},
        {"按成交价格排序", {792, 16, 100, 25}, &QueryWindow::sortByPrice},
        {"按宝贝数量排序", {576, 16, 100, 25}, &QueryWindow::sortByItemCount},
        {"批量查询", {312, 16, 80, 25}, &QueryWindow::startBatch},
        {"停止查询", {400, 16, 80, 25}, &QueryWindow::stopBatch},
        {"保存结果", {488, 16, 80, 25}, &QueryWindow::saveResults},
    };
    QPushButton *buttons[6];
    for (int i = 0; i < 6; ++i) {
        buttons[i] = new QPushButton(QString::fromUtf8(layouts[i].caption), m_toolRow);
        buttons[i]->setObjectName(QStringLiteral("Button%1").arg(i + 1));
        buttons[i]->setGeometry(layouts[i].geometry);
        connect(buttons[i], &QPushButton::clicked, this, layouts[i].click);
        // Return presses the focused button, as Space does.
        buttons[i]->setAutoDefault(true);
    }
    m_batchButton = buttons[3];
    // Below the sort buttons, in the room the tool row leaves under them.
    auto *historyButton = new QPushButton(QStringLiteral("历史"), m_toolRow);
    historyButton->setObjectName(QStringLiteral("HistoryButton"));
    historyButton->setFlat(true);
    historyButton->setGeometry(852, 42, 40, 14);
    // Outside the tool row's tab chain, which stays as it was.
    historyButton->setFocusPolicy(Qt::NoFocus);
    connect(historyButton, &QPushButton::clicked, this, &QueryWindow::historyRequested);

    QWidget *const tabOrder[] = {buttons[0], buttons[1], buttons[2], m_keywordEdit,
                                 buttons[3], buttons[4], buttons[5], m_mustContainBox};
    for (int i = 1; i < int(std::size(tabOrder)); ++i)
        setTabOrder(tabOrder[i - 1], tabOrder[i]);
}

void QueryWindow::createTable()
{
    m_resultsView = new ResultsView(&m_results, &m_shown, m_tableArea);
    m_resultsView->setObjectName(QStringLiteral("ListView1"));
    m_resultsView->setGeometry(0, 0, clientWidth, m_tableArea->height() - statusBarHeight - crawlBarHeight);
    setTabOrder(m_mustContainBox, m_resultsView);

    m_rowMenu = new QMenu(this);
    m_rowMenu->setObjectName(QStringLiteral("PopupMenu1"));
    QAction *n6 = m_rowMenu->addAction(QStringLiteral("访问关键词"));
    n6->setObjectName(QStringLiteral("N6"));
    connect(n6, &QAction::triggered, this, &QueryWindow::visitSelectedKeyword);
    QAction *copyKeyword = m_rowMenu->addAction(QStringLiteral("复制关键词"));
    copyKeyword->setObjectName(QStringLiteral("CopyKeyword"));
    connect(copyKeyword, &QAction::triggered, this, &QueryWindow::copySelectedKeyword);
    connect(m_resultsView, &ResultsView::visitRequested, this, &QueryWindow::visitSelectedKeyword);
    m_resultsView->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_resultsView, &QWidget::customContextMenuRequested, this, [this](const QPoint &at) {
        // Pointing at no row means no row: the command must not visit an earlier selection.
        if (!m_resultsView->indexAt(at).isValid())
            m_resultsView->clearSelection();
        m_rowMenu->popup(m_resultsView->viewport()->mapToGlobal(at));
    });
}

void QueryWindow::createStatusBar()
{
    m_statusBar = new QStatusBar(m_tableArea);
    m_statusBar->setObjectName(QStringLiteral("StatusBar1"));
    m_statusBar->setSizeGripEnabled(false);
    m_statusBar->setGeometry(0, m_tableArea->height() - statusBarHeight, clientWidth, statusBarHeight);
    for (int i = 0; i < 3; ++i) {
        m_statusPanels[i] = new QLabel(m_statusBar);
        m_statusPanels[i]->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
    }
    // The counts keep their room up to a million; the tip takes what is
    // left, about its 700 pixels, and yields to the failure count when one shows.
    const QFontMetrics metrics(font());
    const auto roomFor = [&metrics](const QString &caption) {
        return metrics.horizontalAdvance(caption + QString::number(largestShownCount)) +
               metrics.averageCharWidth();
    };
    m_statusPanels[0]->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    m_statusPanels[1]->setFixedWidth(totalPanelWidth);
    m_statusPanels[2]->setFixedWidth(std::max(donePanelMinimumWidth, roomFor(QStringLiteral("完成："))));
    m_statusBar->addWidget(m_statusPanels[0], 1);
    m_statusBar->addWidget(m_statusPanels[1]);
    m_statusBar->addWidget(m_statusPanels[2]);
    m_statusPanels[0]->setAlignment(Qt::AlignCenter);
    m_statusPanels[0]->setText(
        QStringLiteral("宝贝数量越少竞争越小，宝贝获得展示的机会越大！"
                       "避免热门关键词，使用长尾关键词来提高宝贝浏览量，以获得更多成交机会！"));
    // Keywords skipped after a failed fetch, right of the last panel.
    m_failedPanel = new QLabel(m_statusBar);
    m_failedPanel->setObjectName(QStringLiteral("FailedPanel"));
    m_failedPanel->setFixedWidth(roomFor(QStringLiteral("失败：")));
    m_statusBar->addWidget(m_failedPanel);
    m_failedPanel->hide();
    // "显示 X / Y" while a view filter is set.
    m_statusBar->addWidget(m_viewFilters->shownCount());
}

void QueryWindow::createFilterBar(SaveFileDialog &saveDialog)
{
    auto *layout = new QHBoxLayout(m_filterBar);
    layout->setContentsMargins(8, 3, 8, 3);
    layout->setSpacing(4);
    layout->addWidget(new QLabel(QStringLiteral("排除词"), m_filterBar));
    m_exclusionEdit = new QLineEdit(m_filterBar);
    m_exclusionEdit->setObjectName(QStringLiteral("ExclusionEdit"));
    m_exclusionEdit->setFixedWidth(130);
    m_exclusionEdit->setPlaceholderText(QStringLiteral("空格或逗号分隔"));
    m_exclusionEdit->setClearButtonEnabled(true);
    m_exclusionEdit->setToolTip(QStringLiteral("含有其中任一词（不分大小写）的相关关键词不再加入查询队列"));
    layout->addWidget(m_exclusionEdit);
    m_excludedLabel = new QLabel(m_filterBar);
    m_excludedLabel->setObjectName(QStringLiteral("ExcludedCount"));
    layout->addWidget(m_excludedLabel);
    layout->addSpacing(8);

    m_viewFilters = new ResultsFilterBar(m_results, m_shown, m_messages, saveDialog, m_filterBar);
    layout->addWidget(m_viewFilters, 1);

    m_chartButton = new QPushButton(QStringLiteral("图表"), m_filterBar);
    m_chartButton->setObjectName(QStringLiteral("ChartButton"));
    m_chartButton->setCheckable(true);
    m_chartButton->setFixedWidth(48);
    layout->addWidget(m_chartButton);
    connect(m_chartButton, &QPushButton::toggled, this, &QueryWindow::setChartShown);

    m_chart = new OpportunityChart(&m_results, &m_shown, this);
    m_chart->setObjectName(QStringLiteral("OpportunityChart"));
    m_chart->setGeometry(clientWidth, 0, chartWidth, clientHeight + filterBarHeight);
    m_chart->hide();
    connect(m_chart, &OpportunityChart::shownRowClicked, m_resultsView, &ResultsView::selectShownRow);

    m_exclusionEdit->setText(userSettings().value(exclusionKey).toString());
    m_excludedWords = KeywordFilter::exclusionWords(m_exclusionEdit->text());
    connect(m_exclusionEdit, &QLineEdit::textChanged, this, &QueryWindow::exclusionTextChanged);
    showExcludedCount(0);

    // After the table, in the order they stand.
    QList<QWidget *> chain{m_resultsView, m_exclusionEdit};
    chain += m_viewFilters->tabChain();
    chain.append(m_chartButton);
    for (int i = 1; i < chain.size(); ++i)
        setTabOrder(chain[i - 1], chain[i]);
}

void QueryWindow::exclusionTextChanged(const QString &text)
{
    m_excludedWords = KeywordFilter::exclusionWords(text);
    QSettings settings = userSettings();
    settings.setValue(exclusionKey, text);
}

void QueryWindow::showExcludedCount(int excluded)
{
    m_excludedLabel->setText(QStringLiteral("排除：%1").arg(excluded));
}

void QueryWindow::setChartShown(bool shown)
{
    m_chart->setVisible(shown);
    setFixedSize(clientWidth + (shown ? chartWidth : 0), clientHeight + filterBarHeight);
    m_chartButton->setChecked(shown);
}

void QueryWindow::copySelectedKeyword()
{
    if (const int position = m_resultsView->selectedPosition(); position >= 0)
        QGuiApplication::clipboard()->setText(text::fromGbk(m_results.cell(position, ResultsModel::Keyword)));
}

// Speed, waiting keywords and unrecognised pages of the batch, with 设置 at
// the right, between the table and the status bar.
void QueryWindow::createCrawlBar()
{
    auto *bar = new QWidget(m_tableArea);
    bar->setObjectName(QStringLiteral("CrawlBar"));
    bar->setGeometry(0, m_tableArea->height() - statusBarHeight - crawlBarHeight, clientWidth,
                     crawlBarHeight);
    m_crawlFigures = new QLabel(bar);
    m_crawlFigures->setObjectName(QStringLiteral("CrawlFigures"));
    auto *settingsButton = new QPushButton(QStringLiteral("设置"), bar);
    settingsButton->setObjectName(QStringLiteral("SettingsButton"));
    connect(settingsButton, &QPushButton::clicked, this, &QueryWindow::editSettings);
    setTabOrder(m_resultsView, settingsButton);
    auto *layout = new QHBoxLayout(bar);
    layout->setContentsMargins(4, 0, 2, 0);
    layout->addWidget(m_crawlFigures, 1);
    layout->addWidget(settingsButton);
}

void QueryWindow::showCrawlFigures()
{
    QString figures = QStringLiteral("速度：%1 页/秒　等待：%2")
                          .arg(m_scheduler.pagesPerSecond(), 0, 'f', 1)
                          .arg(m_scheduler.waitingCount());
    if (const int unrecognised = m_scheduler.unrecognisedCount(); unrecognised > 0)
        figures += QStringLiteral("　无法识别 %1").arg(unrecognised);
    m_crawlFigures->setText(figures);
}

// Shown at once when the panels have been quiet for a while, otherwise with
// the next redraw of the panels.
void QueryWindow::showStatusText(int panel, const QString &text)
{
    if (m_statusTimer.isActive()) {
        m_pendingStatus[panel] = text;
        return;
    }
    m_statusPanels[panel]->setText(text);
    m_statusTimer.start();
}

void QueryWindow::showPendingStatus()
{
    for (int panel : {1, 2})
        if (!m_pendingStatus[panel].isNull())
            m_statusPanels[panel]->setText(std::exchange(m_pendingStatus[panel], QString()));
}

void QueryWindow::loadSettings()
{
    const QSettings stored(settingsFile(), QSettings::IniFormat);
    SettingsDialog::Values values;
    values.crawl = CrawlSettings::read(stored);
    values.profileFile = stored.value(profileKey).toString();
    try {
        values.cookie = marketcookie::read(marketcookie::storedFile());
    } catch (const AppError &error) {
        m_messages.showError(error);
    }
    applySettings(values);
}

void QueryWindow::applySettings(const SettingsDialog::Values &values)
{
    m_settings = values;
    m_scheduler.setCrawlSettings(values.crawl);
    m_scheduler.setCookie(values.cookie);
    try {
        m_scheduler.setProfile(MarketProfile::chosen(values.profileFile));
    } catch (const AppError &error) {
        // Pages are read the way they always were until the file is put right.
        m_scheduler.setProfile(MarketProfile::builtIn());
        m_messages.showError(error);
    }
}

void QueryWindow::editSettings()
{
    auto *dialog = new SettingsDialog(m_settings, m_messages, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QDialog::accepted, this, [this, dialog] {
        const SettingsDialog::Values values = dialog->values();
        applySettings(values);
        QSettings stored(settingsFile(), QSettings::IniFormat);
        values.crawl.write(stored);
        stored.setValue(profileKey, values.profileFile);
        try {
            marketcookie::write(marketcookie::storedFile(), values.cookie);
        } catch (const AppError &error) {
            m_messages.showError(error);
        }
    });
    dialog->open();
}

void QueryWindow::showFailedCount(int failed)
{
    m_failedPanel->setText(QStringLiteral("失败：%1").arg(failed));
    m_failedPanel->setVisible(failed > 0);
    // Yielding room, the tip keeps its beginning readable.
    m_statusPanels[0]->setAlignment(failed > 0 ? Qt::AlignLeft | Qt::AlignVCenter : Qt::AlignCenter);
}

void QueryWindow::startBatch()
{
    m_scheduler.start(text::toGbk(m_keywordEdit->text()));
}

void QueryWindow::stopBatch()
{
    m_scheduler.stop();
}

void QueryWindow::saveResults()
{
    try {
        m_save.run(m_results);
    } catch (const AppError &error) {
        m_messages.showError(error);
    }
}

void QueryWindow::sortBySales()
{
    m_results.sortBySales();
}

void QueryWindow::sortByPrice()
{
    m_results.sortByPrice();
}

void QueryWindow::sortByItemCount()
{
    m_results.sortByItemCount();
}

void QueryWindow::visitSelectedKeyword()
{
    visitKeyword(m_results, m_resultsView->selectedPosition(), m_scheduler.profile(), m_browser);
}

void QueryWindow::clearKeywordBox()
{
    m_keywordEdit->clear();
}

void QueryWindow::onActivated()
{
    if (m_loginWindow)
        m_loginWindow->hide();
    setWindowTitle(queryWindowCaption(m_session));
}

void QueryWindow::closeLoginWindow()
{
    if (m_loginWindow)
        m_loginWindow->close();
}

bool QueryWindow::event(QEvent *event)
{
    // The window system's activation may arrive late, after the window was
    // hidden (switch account): it must not hide the login window then.
    if (event->type() == QEvent::WindowActivate && isVisible())
        onActivated();
    return QWidget::event(event);
}

void QueryWindow::closeEvent(QCloseEvent *event)
{
    closeLoginWindow();
    event->accept();
}

bool QueryWindow::eventFilter(QObject *watched, QEvent *event)
{
    // A click empties the box; moving in with the keyboard selects its text instead.
    if (watched == m_keywordEdit && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton)
        clearKeywordBox();
    return QWidget::eventFilter(watched, event);
}
