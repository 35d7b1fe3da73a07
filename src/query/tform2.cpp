#include "query/tform2.h"

#include "app/apperror.h"
#include "app/usermessages.h"
#include "query/querywindowcaption.h"
#include "results/keywordvisit.h"
#include "results/resultsview.h"
#include "text/gbk.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFontDatabase>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>

namespace {

constexpr int clientWidth = 910;
constexpr int clientHeight = 513;
constexpr int toolRowHeight = 57;
constexpr int statusBarHeight = 19;
constexpr int statusPanelWidths[] = {700, 100, 50};

// SimSun where it is installed, otherwise the first font with
// Chinese characters; 12 pixels high either way.
QFont windowFont()
{
    QFont font;
    const QStringList chinese = QFontDatabase::families(QFontDatabase::SimplifiedChinese);
    const QString simSun = QStringLiteral("SimSun");
    font.setFamily(chinese.contains(simSun) ? simSun : chinese.value(0, font.family()));
    font.setPixelSize(12);
    return font;
}

} // namespace

TForm2::TForm2(UserSession &session, UserMessages &messages, Browser &browser, SaveFileDialog &saveDialog,
               QWidget *parent)
    : QWidget(parent), m_session(session), m_messages(messages), m_browser(browser), m_save(saveDialog),
      m_scheduler(&m_results, [this] {
          return KeywordFilter{text::toGbk(m_edit1->text()), m_checkBox1->isChecked()};
      })
{
    setWindowTitle(QStringLiteral("Quillmarsh"));
    setFont(windowFont());
    setFixedSize(clientWidth, clientHeight);
    if (const QScreen *desktop = screen())
        move(desktop->availableGeometry().center() - rect().center());

    m_panel1 = new QFrame(this);
    m_panel1->setObjectName(QStringLiteral("Panel1"));
    m_panel1->setFrameStyle(QFrame::Panel | QFrame::Raised);
    m_panel1->setGeometry(0, 0, clientWidth, toolRowHeight);
    m_panel2 = new QFrame(this);
    m_panel2->setObjectName(QStringLiteral("Panel2"));
    m_panel2->setGeometry(0, toolRowHeight, clientWidth, clientHeight - toolRowHeight);

    createToolRow();
    createTable();
    createStatusBar();

    connect(&m_scheduler, &BatchScheduler::message, this,
            [this](const QString &text) { m_messages.showPlain(text); });
    connect(&m_scheduler, &BatchScheduler::totalTextChanged, m_statusPanels[1], &QLabel::setText);
    connect(&m_scheduler, &BatchScheduler::doneTextChanged, m_statusPanels[2], &QLabel::setText);
    connect(&m_scheduler, &BatchScheduler::failedCountChanged, this, &TForm2::showFailedCount);
    connect(&m_scheduler, &BatchScheduler::batchButtonEnabledChanged, m_button4, &QWidget::setEnabled);
    m_button4->setEnabled(m_scheduler.batchButtonEnabled());
}

TForm2::~TForm2() = default;

void TForm2::createToolRow()
{
    auto *label1 = new QLabel(QStringLiteral("关键词"), m_panel1);
    label1->setObjectName(QStringLiteral("Label1"));
    label1->move(16, 24);
    label1->adjustSize();

    m_edit1 = new QLineEdit(BatchScheduler::keywordPrompt(), m_panel1);
    m_edit1->setObjectName(QStringLiteral("Edit1"));
    m_edit1->setGeometry(60, 20, 125, 20);
    m_edit1->installEventFilter(this);

    m_checkBox1 = new QCheckBox(QStringLiteral("必须包含关键词"), m_panel1);
    m_checkBox1->setObjectName(QStringLiteral("CheckBox1"));
    m_checkBox1->setGeometry(196, 20, 101, 17);
    // Seven characters at 12 px leave the indicator 17 px of the 101; the
    // platform style's wider gap would clip the last character.
    m_checkBox1->setStyleSheet(QStringLiteral("QCheckBox { spacing: 3px; }"));
    m_checkBox1->setChecked(true);

    struct ButtonLayout
    {
        const char *caption;
        QRect geometry;
        void (TForm2::*click)();
    };
    // Button1 to Button6.
    const ButtonLayout layouts[] = {
        {"按成交笔数排序", {684, 16, 100, 25}, &TForm2::Button1Click},
        {"按成交价格排序", {792, 16, 100, 25}, &TForm2::Button2Click},
        {"按宝贝数量排序", {576, 16, 100, 25}, &TForm2::Button3Click},
        {"批量查询", {312, 16, 80, 25}, &TForm2::Button4Click},
        {"停止查询", {400, 16, 80, 25}, &TForm2::Button5Click},
        {"保存结果", {488, 16, 80, 25}, &TForm2::Button6Click},
    };
    QPushButton *buttons[6];
    for (int i = 0; i < 6; ++i) {
        buttons[i] = new QPushButton(QString::fromUtf8(layouts[i].caption), m_panel1);
        buttons[i]->setObjectName(QStringLiteral("Button%1").arg(i + 1));
        buttons[i]->setGeometry(layouts[i].geometry);
        connect(buttons[i], &QPushButton::clicked, this, layouts[i].click);
    }
    m_button4 = buttons[3];

    QWidget *const tabOrder[] = {buttons[0], buttons[1], buttons[2], m_edit1,
                                 buttons[3], buttons[4], buttons[5], m_checkBox1};
    for (int i = 1; i < int(std::size(tabOrder)); ++i)
        setTabOrder(tabOrder[i - 1], tabOrder[i]);
}

void TForm2::createTable()
{
    m_listView1 = new ResultsView(&m_results, m_panel2);
    m_listView1->setObjectName(QStringLiteral("ListView1"));
    m_listView1->setGeometry(0, 0, clientWidth, m_panel2->height() - statusBarHeight);
    setTabOrder(m_checkBox1, m_listView1);

    m_popupMenu1 = new QMenu(this);
    m_popupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    QAction *n6 = m_popupMenu1->addAction(QStringLiteral("访问关键词"));
    n6->setObjectName(QStringLiteral("N6"));
    connect(n6, &QAction::triggered, this, &TForm2::N6Click);
    m_listView1->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_listView1, &QWidget::customContextMenuRequested, this,
            [this](const QPoint &at) { m_popupMenu1->popup(m_listView1->viewport()->mapToGlobal(at)); });
}

void TForm2::createStatusBar()
{
    m_statusBar1 = new QStatusBar(m_panel2);
    m_statusBar1->setObjectName(QStringLiteral("StatusBar1"));
    m_statusBar1->setSizeGripEnabled(false);
    m_statusBar1->setGeometry(0, m_panel2->height() - statusBarHeight, clientWidth, statusBarHeight);
    for (int i = 0; i < 3; ++i) {
        m_statusPanels[i] = new QLabel(m_statusBar1);
        m_statusPanels[i]->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
        m_statusPanels[i]->setFixedWidth(statusPanelWidths[i]);
        m_statusBar1->addWidget(m_statusPanels[i]);
    }
    m_statusPanels[0]->setAlignment(Qt::AlignCenter);
    m_statusPanels[0]->setText(
        QStringLiteral("宝贝数量越少竞争越小，宝贝获得展示的机会越大！"
                       "避免热门关键词，使用长尾关键词来提高宝贝浏览量，以获得更多成交机会！"));
    // Keywords skipped after a failed fetch, in the room right of the last panel.
    m_failedPanel = new QLabel(m_statusBar1);
    m_failedPanel->setObjectName(QStringLiteral("FailedPanel"));
    m_statusBar1->addWidget(m_failedPanel, 1);
    m_failedPanel->hide();
}

void TForm2::showFailedCount(int failed)
{
    m_failedPanel->setText(QStringLiteral("失败：%1").arg(failed));
    m_failedPanel->setVisible(failed > 0);
}

void TForm2::Button4Click()
{
    m_scheduler.start(text::toGbk(m_edit1->text()));
}

void TForm2::Button5Click()
{
    m_scheduler.stop();
}

void TForm2::Button6Click()
{
    try {
        m_save.run(m_results);
    } catch (const AppError &error) {
        m_messages.showError(error);
    }
}

void TForm2::Button1Click()
{
    m_results.sortBySales();
}

void TForm2::Button2Click()
{
    m_results.sortByPrice();
}

void TForm2::Button3Click()
{
    m_results.sortByItemCount();
}

void TForm2::N6Click()
{
    visitKeyword(m_results, m_listView1->selectedPosition(), m_browser);
}

void TForm2::Edit1Click()
{
    m_edit1->clear();
}

void TForm2::FormActivate()
{
    if (m_form1)
        m_form1->hide();
    setWindowTitle(queryWindowCaption(m_session));
}

void TForm2::FormCloseQuery()
{
    if (m_form1)
        m_form1->close();
}

bool TForm2::event(QEvent *event)
{
    if (event->type() == QEvent::WindowActivate)
        FormActivate();
    return QWidget::event(event);
}

void TForm2::closeEvent(QCloseEvent *event)
{
    FormCloseQuery();
    event->accept();
}

bool TForm2::eventFilter(QObject *watched, QEvent *event)
{
    // A click empties the box; moving in with the keyboard selects its text instead.
    if (watched == m_edit1 && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton)
        Edit1Click();
    return QWidget::eventFilter(watched, event);
}
