#include "common/marketprofile.h"
#include "gbkliteral.h"
#include "login/usersession.h"
#include "query/querywindow.h"
#include "query/settingsdialog.h"
#include "rawhttpserver.h"
#include "recorders.h"
#include "recordingsavedialog.h"
#include "resultpage.h"
#include "results/opportunitychart.h"
#include "results/resultsview.h"
#include "results/widgetsavefiledialog.h"
#include "simprocess.h"
#include "text/gbk.h"

#include <QCheckBox>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScrollBar>
#include <QSettings>
#include <QSpinBox>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using testsupport::gbk;

using testsupport::RawHttpServer;
using testsupport::RecordedRequest;
using testsupport::RecordingBrowser;
using testsupport::RecordingMessages;
using testsupport::RecordingSaveDialog;
using testsupport::ScriptedResponse;

namespace {

// A marketplace on loopback: each keyword of pages gets its result page,
// one ending in "broken" a closed connection, any other keyword a page with no items.
void serveMarketplace(RawHttpServer &server, const QList<sim::ResultPage> &pages)
{
    QHash<QString, QByteArray> bodies;
    for (const sim::ResultPage &page : pages)
        bodies.insert(page.keyword, sim::renderResultPage(page, sim::PageEncoding::Gbk));
    server.setHandler([bodies](const RecordedRequest &request) {
        const qsizetype from = request.target.indexOf("?q=") + 3;
        const qsizetype to = request.target.lastIndexOf("&sort=sale-desc");
        const QString keyword =
            text::fromGbk(QByteArray::fromPercentEncoding(request.target.mid(from, to - from)));
        if (keyword.endsWith(QLatin1String("broken")))
            return ScriptedResponse::closed();
        return ScriptedResponse::ok(bodies.value(
            keyword, sim::renderResultPage({keyword, {}, QStringLiteral("0"), {}}, sim::PageEncoding::Gbk)));
    });
    qputenv("QUILLMARSH_MARKET_HOST", server.hostAndPort());
}

sim::ResultPage resultPage(const char *keyword, const QStringList &related, const char *itemCount)
{
    const QString name = QString::fromUtf8(keyword);
    return {name,
            related,
            QString::fromLatin1(itemCount),
            {{name + QStringLiteral(" 正品"), QStringLiteral("25.00"), 50}}};
}

// Counts the close requests the login window receives.
class LoginWindowStandIn final : public QWidget
{
public:
    int closeRequests = 0;

protected:
    void closeEvent(QCloseEvent *event) override
    {
        ++closeRequests;
        QWidget::closeEvent(event);
    }
};

// A query window with recorders for everything it would show or open.
struct Fixture
{
    UserSession session;
    RecordingMessages messages;
    RecordingBrowser browser;
    RecordingSaveDialog saveDialog;
    QueryWindow form2{session, messages, browser, saveDialog};

    Fixture() { form2.scheduler().setEndCheckInterval(50); }

    template <typename T> T *control(const char *name)
    {
        return form2.findChild<T *>(QString::fromLatin1(name));
    }
    ResultsView *table() { return control<ResultsView>("ListView1"); }
    QByteArrayList numbers()
    {
        QByteArrayList list;
        for (int position = 0; position < form2.results().rowCount(); ++position)
            list.append(form2.results().cell(position, ResultsModel::Number).toByteArray());
        return list;
    }
    // Rows numbered 1..3 with distinct counts, sales and prices.
    void addRows()
    {
        form2.results().addRow({"1", gbk("连衣裙"), "300", "15", "25.00", gbk("夏季")});
        form2.results().addRow({"2", "T&x", "20", "900", "9.90", "b"});
        form2.results().addRow({"3", "bag", "1,000", "40", "100.00", "c"});
    }
    QString statusPanel(int i)
    {
        return control<QLabel>(qPrintable(QStringLiteral("StatusPanel%1").arg(i)))->text();
    }
    bool waitForMessages(int count)
    {
        return QTest::qWaitFor([&] { return messages.shown.size() >= count; }, 10'000);
    }
    bool showActive()
    {
        form2.show();
        form2.activateWindow();
        return QTest::qWaitForWindowActive(&form2);
    }
};

} // namespace

class TestQueryWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void toolRow_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QRect>("geometry");
        QTest::addColumn<QString>("caption");
        auto row = [](const char *name, QRect geometry, const char *caption) {
            QTest::newRow(name) << QString::fromLatin1(name) << geometry << QString::fromUtf8(caption);
        };
        row("Edit1", {60, 20, 125, 20}, "请输入关键词");
        row("CheckBox1", {196, 20, 101, 17}, "必须包含关键词");
        row("Button4", {312, 16, 80, 25}, "批量查询");
        row("Button5", {400, 16, 80, 25}, "停止查询");
        row("Button6", {488, 16, 80, 25}, "保存结果");
        row("Button3", {576, 16, 100, 25}, "按宝贝数量排序");
        row("Button1", {684, 16, 100, 25}, "按成交笔数排序");
        row("Button2", {792, 16, 100, 25}, "按成交价格排序");
    }
    void toolRow()
    {
        QFETCH(QString, name);
        QFETCH(QRect, geometry);
        QFETCH(QString, caption);
        Fixture f;
        QWidget *control = f.form2.findChild<QWidget *>(name);
        QVERIFY(control);
        QCOMPARE(control->parentWidget()->objectName(), QStringLiteral("Panel1"));
        QCOMPARE(control->geometry(), geometry);
        const QString shown = qobject_cast<QLineEdit *>(control)
                                  ? qobject_cast<QLineEdit *>(control)->text()
                                  : qobject_cast<QAbstractButton *>(control)->text();
        QCOMPARE(shown, caption);
    }

    void windowLayout()
    {
        Fixture f;
        QVERIFY(f.showActive());
        // The filter bar sits between the tool row and the table area, which keep their sizes.
        QCOMPARE(f.form2.size(), QSize(910, 543));
        QCOMPARE(f.form2.minimumSize(), f.form2.maximumSize());
        QCOMPARE(f.control<QWidget>("Panel1")->geometry(), QRect(0, 0, 910, 57));
        QCOMPARE(f.control<QWidget>("FilterBar")->geometry(), QRect(0, 57, 910, 30));
        QCOMPARE(f.control<QWidget>("Panel2")->geometry(), QRect(0, 87, 910, 456));
        auto *label1 = f.control<QLabel>("Label1");
        QCOMPARE(label1->pos(), QPoint(16, 24));
        QCOMPARE(label1->text(), QStringLiteral("关键词"));
        QVERIFY(f.control<QCheckBox>("CheckBox1")->isChecked());
        QVERIFY(f.control<QPushButton>("Button4")->isEnabled());

        // Table, the batch figures with 设置, and the status bar fill the lower panel.
        QCOMPARE(f.table()->geometry(), QRect(0, 0, 910, 415));
        QCOMPARE(f.control<QWidget>("CrawlBar")->geometry(), QRect(0, 415, 910, 22));
        auto *statusBar = f.control<QStatusBar>("StatusBar1");
        QCOMPARE(statusBar->geometry(), QRect(0, 437, 910, 19));
        // The tip has its 700 pixels; panel 2 is wider than 50, to hold large counts.
        auto *tip = statusBar->findChild<QLabel *>(QStringLiteral("StatusPanel0"));
        QVERIFY2(tip->width() >= 700, qPrintable(QString::number(tip->width())));
        QCOMPARE(statusBar->findChild<QLabel *>(QStringLiteral("StatusPanel1"))->width(), 100);
        QVERIFY(statusBar->findChild<QLabel *>(QStringLiteral("StatusPanel2"))->width() >= 50);
        QVERIFY(tip->text().startsWith(QStringLiteral("宝贝数量越少竞争越小，")));
        QCOMPARE(tip->alignment(), Qt::AlignCenter);
        QVERIFY(statusBar->findChild<QLabel *>(QStringLiteral("StatusPanel1"))->text().isEmpty());
        QVERIFY(statusBar->findChild<QLabel *>(QStringLiteral("StatusPanel2"))->text().isEmpty());
        QVERIFY(!statusBar->findChild<QLabel *>(QStringLiteral("FailedPanel"))->isVisible());

        // A font with Chinese characters, 12 pixels high, on every control.
        const QFont font = f.control<QPushButton>("Button1")->font();
        QCOMPARE(font.pixelSize(), 12);
        QVERIFY2(QFontDatabase::writingSystems(font.family()).contains(QFontDatabase::SimplifiedChinese),
                 qPrintable(font.family()));
    }

    void table()
    {
        Fixture f;
        f.addRows();
        QVERIFY(f.showActive());
        ResultsView *view = f.table();
        const QAbstractItemModel *model = view->model();
        const char *headers[] = {"序号", "关键词", "宝贝数量", "最高成交笔数", "成交价格", "宝贝描述"};
        const int widths[] = {50, 150, 80, 100, 80, 410};
        const QColor colours[] = {Qt::black,
                                  QColor(0, 128, 0),
                                  QColor(0, 0, 128),
                                  QColor(128, 128, 128),
                                  QColor(128, 128, 128),
                                  QColor(128, 128, 128)};
        for (int column = 0; column < 6; ++column) {
            QCOMPARE(model->headerData(column, Qt::Horizontal).toString(),
                     QString::fromUtf8(headers[column]));
            QCOMPARE(view->columnWidth(column), widths[column]);
            for (int row = 0; row < 3; ++row) {
                const QModelIndex index = model->index(row, column);
                QCOMPARE(index.data(Qt::ForegroundRole).value<QColor>(), colours[column]);
                QCOMPARE(index.data(Qt::TextAlignmentRole).value<Qt::Alignment>() & Qt::AlignHorizontal_Mask,
                         Qt::AlignLeft);
                // Only the number cell may be edited in place.
                QCOMPARE(bool(index.flags() & Qt::ItemIsEditable), column == 0);
            }
        }
        QCOMPARE(model->index(0, 1).data().toString(), QStringLiteral("连衣裙"));
        QVERIFY(view->showGrid());
        QCOMPARE(view->selectionBehavior(), QAbstractItemView::SelectRows);
        QCOMPARE(view->selectionMode(), QAbstractItemView::SingleSelection);
        QVERIFY(view->rowHeight(0) >= 16);

        // The derived columns follow the six, each header explaining its formula.
        QCOMPARE(model->columnCount(), int(ResultsModel::ColumnCount));
        QCOMPARE(model->headerData(ResultsModel::Opportunity, Qt::Horizontal).toString(),
                 QStringLiteral("机会指数"));
        QVERIFY(model->headerData(ResultsModel::Opportunity, Qt::Horizontal, Qt::ToolTipRole)
                    .toString()
                    .contains(QStringLiteral("÷ (宝贝数量 + 1)")));
    }

    void headerClickSorts()
    {
        Fixture f;
        f.addRows();
        QVERIFY(f.showActive());
        ResultsView *view = f.table();
        QHeaderView *header = view->horizontalHeader();
        const auto clickHeader = [&](int column) {
            QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                              QPoint(header->sectionViewportPosition(column) + 10, 5));
        };
        // Item counts 300, 20, "1,000": fewest first, then reversed; no row gets selected.
        clickHeader(ResultsModel::ItemCount);
        QCOMPARE(f.numbers(), (QByteArrayList{"2", "1", "3"}));
        QCOMPARE(header->sortIndicatorSection(), int(ResultsModel::ItemCount));
        QCOMPARE(header->sortIndicatorOrder(), Qt::AscendingOrder);
        clickHeader(ResultsModel::ItemCount);
        QCOMPARE(f.numbers(), (QByteArrayList{"3", "1", "2"}));
        QCOMPARE(header->sortIndicatorOrder(), Qt::DescendingOrder);
        QCOMPARE(view->selectedPosition(), -1);
        // Text by collation, letter case ignored.
        clickHeader(ResultsModel::Keyword);
        QCOMPARE(f.numbers(), (QByteArrayList{"3", "2", "1"}));
        // Opportunity: the largest first (15/301, 900/21, 40/1001).
        clickHeader(ResultsModel::Opportunity);
        QCOMPARE(f.numbers(), (QByteArrayList{"2", "1", "3"}));
        // A sort button shows its order too; a row arriving afterwards clears it.
        QTest::mouseClick(f.control<QPushButton>("Button1"), Qt::LeftButton);
        QCOMPARE(header->sortIndicatorSection(), int(ResultsModel::Sales));
        f.form2.results().addRow({"4", "d", "1", "1", "1", "d"});
        QCOMPARE(header->sortIndicatorSection(), -1);
        QCOMPARE(f.numbers().last(), QByteArray("4"));
    }

    void viewFiltersHideRows()
    {
        Fixture f;
        f.addRows();
        QVERIFY(f.showActive());
        // The status shows the count only while a view filter is set.
        auto *shown = f.control<QLabel>("ShownCount");
        QVERIFY(!shown->isVisible());
        f.control<QLineEdit>("MinSalesEdit")->setText(QStringLiteral("20"));
        QVERIFY(shown->isVisible());
        QCOMPARE(shown->text(), QStringLiteral("显示 2 / 3"));
        f.control<QLineEdit>("MaxPriceEdit")->setText(QStringLiteral("50"));
        QCOMPARE(shown->text(), QStringLiteral("显示 1 / 3"));
        QCOMPARE(f.table()->model()->index(0, 1).data().toString(), QStringLiteral("T&x"));
        // Hidden rows stay in the table; selecting the row shown maps to its position.
        QCOMPARE(f.form2.results().rowCount(), 3);
        f.table()->selectRow(0);
        QCOMPARE(f.table()->selectedPosition(), 1);
        f.control<QLineEdit>("MinSalesEdit")->clear();
        f.control<QLineEdit>("MaxPriceEdit")->clear();
        f.control<QLineEdit>("TextFilterEdit")->setText(QStringLiteral("BAG"));
        QCOMPARE(shown->text(), QStringLiteral("显示 1 / 3"));
        // The chart plots only what the filter shows, and a click on a point selects its row.
        f.control<QPushButton>("ChartButton")->click();
        auto *chart = f.control<OpportunityChart>("OpportunityChart");
        QVERIFY(chart->isVisible());
        QCOMPARE(f.form2.width(), 910 + chart->width());
        QCOMPARE(chart->pointCount(), 1);
        f.control<QLineEdit>("TextFilterEdit")->clear();
        QCOMPARE(chart->pointCount(), 3);
        const std::optional<QPointF> point = chart->pointOf(2);
        QVERIFY(point);
        QVERIFY(chart->describe(2).startsWith(QStringLiteral("bag\n")));
        QTest::mouseClick(chart, Qt::LeftButton, {}, point->toPoint());
        QCOMPARE(f.table()->selectedPosition(), 2);
        // Live: a row added during a batch becomes a point.
        f.form2.results().addRow({"4", "d", "5", "5", "1", "d"});
        QCOMPARE(chart->pointCount(), 4);
    }

    void rowHabits()
    {
        qputenv("QUILLMARSH_MARKET_HOST", "market.test:8080");
        Fixture f;
        f.addRows();
        QVERIFY(f.showActive());
        ResultsView *view = f.table();
        view->selectRow(1);
        QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
        const QStringList copied = QGuiApplication::clipboard()->text().split(QLatin1Char('\t'));
        QCOMPARE(copied.size(), int(ResultsModel::ColumnCount));
        QCOMPARE(copied.mid(0, 6),
                 (QStringList{QStringLiteral("2"), QStringLiteral("T&x"), QStringLiteral("20"),
                              QStringLiteral("900"), QStringLiteral("9.90"), QStringLiteral("b")}));
        for (QAction *action : f.control<QMenu>("PopupMenu1")->actions()) {
            if (action->objectName() == QLatin1String("CopyKeyword"))
                action->trigger();
        }
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("T&x"));
        const QPoint at = view->visualRect(view->model()->index(2, 1)).center();
        // A double click arrives after the press and release of its first click.
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, at);
        qunsetenv("QUILLMARSH_MARKET_HOST");
        QCOMPARE(f.browser.opened.size(), 1);
        QCOMPARE(f.browser.opened.first().first,
                 QByteArray("http://market.test:8080/search?q=bag&sort=sale-desc"));
    }

    void exclusionWordsAreRemembered()
    {
        {
            Fixture f;
            f.control<QLineEdit>("ExclusionEdit")->setText(QStringLiteral("二手, Kids"));
        }
        Fixture f;
        QCOMPARE(f.control<QLineEdit>("ExclusionEdit")->text(), QStringLiteral("二手, Kids"));
        f.control<QLineEdit>("ExclusionEdit")->clear();
    }

    void sortButtonsKeepTheSelection_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QByteArrayList>("numbers");
        QTest::newRow("by item count") << QStringLiteral("Button3") << QByteArrayList{"2", "1", "3"};
        QTest::newRow("by sales") << QStringLiteral("Button1") << QByteArrayList{"2", "3", "1"};
        QTest::newRow("by price") << QStringLiteral("Button2") << QByteArrayList{"2", "1", "3"};
    }
    void sortButtonsKeepTheSelection()
    {
        QFETCH(QString, button);
        QFETCH(QByteArrayList, numbers);
        Fixture f;
        f.addRows();
        QVERIFY(f.showActive());
        ResultsView *view = f.table();
        view->selectRow(0);
        QTest::mouseClick(f.form2.findChild<QPushButton *>(button), Qt::LeftButton);
        QCOMPARE(f.numbers(), numbers);
        QCOMPARE(view->selectedPosition(), int(numbers.indexOf("1")));
    }

    // Counts up to a million stay whole, the failure count beside them too.
    void statusPanelsReadable()
    {
        Fixture f;
        QVERIFY(f.showActive());
        Q_EMIT f.form2.scheduler().totalTextChanged(QStringLiteral("总：1000000"));
        Q_EMIT f.form2.scheduler().doneTextChanged(QStringLiteral("完成：1000000"));
        Q_EMIT f.form2.scheduler().failedCountChanged(1'000'000);
        auto *statusBar = f.control<QStatusBar>("StatusBar1");
        statusBar->layout()->activate();
        QList<QLabel *> panels;
        for (const char *name : {"StatusPanel1", "StatusPanel2", "FailedPanel"})
            panels.append(f.control<QLabel>(name));
        for (qsizetype i = 0; i < panels.size(); ++i) {
            QLabel *panel = panels[i];
            QVERIFY(panel->isVisible());
            const int needed = panel->fontMetrics().horizontalAdvance(panel->text());
            QVERIFY2(panel->contentsRect().width() >= needed,
                     qPrintable(QStringLiteral("%1: %2 < %3")
                                    .arg(panel->objectName())
                                    .arg(panel->contentsRect().width())
                                    .arg(needed)));
            QVERIFY(panel->geometry().right() < statusBar->width());
            if (i > 0)
                QVERIFY(panels[i - 1]->geometry().right() < panel->geometry().left());
        }
    }

    // Not on the must-contain box, which one Space would untick.
    void focusStartsOnTheBatchButton()
    {
        Fixture f;
        QVERIFY(f.showActive());
        QCOMPARE(QApplication::focusWidget(), f.control<QWidget>("Button4"));
    }

    // Return presses the focused button, as Space does; in the keyword box it presses none.
    void returnPressesTheFocusedButton_data()
    {
        QTest::addColumn<QString>("focused");
        QTest::addColumn<QString>("pressed");
        for (const char *button : {"Button1", "Button2", "Button3", "Button4", "Button5", "Button6"})
            QTest::newRow(button) << QString::fromLatin1(button) << QString::fromLatin1(button);
        QTest::newRow("keyword box") << QStringLiteral("Edit1") << QString();
    }
    void returnPressesTheFocusedButton()
    {
        QFETCH(QString, focused);
        QFETCH(QString, pressed);
        Fixture f;
        QVERIFY(f.showActive());
        QStringList clicked;
        for (QPushButton *button : f.form2.findChildren<QPushButton *>())
            connect(button, &QPushButton::clicked, this,
                    [&clicked, button] { clicked.append(button->objectName()); });
        QWidget *control = f.control<QWidget>(qPrintable(focused));
        control->setFocus(Qt::TabFocusReason);
        QTest::keyClick(control, Qt::Key_Return);
        QCOMPARE(clicked, pressed.isEmpty() ? QStringList() : QStringList{pressed});
    }

    void tabOrder()
    {
        Fixture f;
        QVERIFY(f.showActive());
        f.control<QWidget>("Button1")->setFocus(Qt::TabFocusReason);
        QStringList order{QApplication::focusWidget()->objectName()};
        for (int i = 0; i < 8; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            order.append(QApplication::focusWidget()->objectName());
        }
        QCOMPARE(order,
                 (QStringList{QStringLiteral("Button1"), QStringLiteral("Button2"), QStringLiteral("Button3"),
                              QStringLiteral("Edit1"), QStringLiteral("Button4"), QStringLiteral("Button5"),
                              QStringLiteral("Button6"), QStringLiteral("CheckBox1"),
                              QStringLiteral("ListView1")}));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("ExclusionEdit"));
    }

    // From the exclusion words on through the view filters, 导出… and 图表, which
    // live in a bar of their own.
    void filterBarTabOrder()
    {
        Fixture f;
        QVERIFY(f.showActive());
        f.control<QWidget>("ExclusionEdit")->setFocus(Qt::TabFocusReason);
        QStringList order;
        for (int i = 0; i < 9; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            order.append(QApplication::focusWidget()->objectName());
        }
        QCOMPARE(order, QStringLiteral("MinItemsEdit MaxItemsEdit MinSalesEdit MinPriceEdit MaxPriceEdit "
                                       "MinOpportunityEdit TextFilterEdit ExportButton ChartButton")
                            .split(QLatin1Char(' ')));
    }

    void captionOnEveryActivation()
    {
        Fixture f;
        LoginWindowStandIn form1;
        f.form2.setLoginWindow(&form1);
        form1.show();
        QCOMPARE(f.form2.windowTitle(), QStringLiteral("Quillmarsh"));
        const QByteArrayList profile{"1", gbk("张三"), "", "", "", "", "120", "zs@example.com", "", "", ""};
        for (const QByteArray &line : profile)
            f.session.appendUserinfo(line);

        QVERIFY(f.showActive());
        QCOMPARE(f.form2.windowTitle(),
                 QStringLiteral("Quillmarsh 1.0 帐号:张三 积分：120 电子邮件：zs@example.com"));
        QVERIFY(form1.isHidden());

        // Another account logs in; the next activation shows it.
        f.session.resetUserinfo();
        for (const QByteArray &line : QByteArrayList{"1", "bob", "", "", "", "", "7", "b@x.org"})
            f.session.appendUserinfo(line);
        QWidget other;
        other.show();
        other.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&other));
        QVERIFY(f.showActive());
        QCOMPARE(f.form2.windowTitle(), QStringLiteral("Quillmarsh 1.0 帐号:bob 积分：7 电子邮件：b@x.org"));
    }

    void closingClosesTheLoginWindow()
    {
        Fixture f;
        LoginWindowStandIn form1;
        f.form2.setLoginWindow(&form1);
        QVERIFY(f.showActive());
        QVERIFY(f.form2.close());
        QCOMPARE(form1.closeRequests, 1);
        QVERIFY(f.form2.isHidden());
    }

    void keywordBoxClickEmptiesIt()
    {
        Fixture f;
        QVERIFY(f.showActive());
        auto *edit1 = f.control<QLineEdit>("Edit1");
        // Tabbing in selects the prompt, so typing replaces it.
        f.control<QWidget>("Button3")->setFocus(Qt::TabFocusReason);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), edit1);
        QCOMPARE(edit1->text(), QStringLiteral("请输入关键词"));
        QCOMPARE(edit1->selectedText(), QStringLiteral("请输入关键词"));
        // Every click empties it, not only the first.
        QTest::mouseClick(edit1, Qt::LeftButton);
        QCOMPARE(edit1->text(), QString());
        QTest::keyClicks(edit1, QStringLiteral("bag"));
        QCOMPARE(edit1->text(), QStringLiteral("bag"));
        QTest::mouseClick(edit1, Qt::LeftButton);
        QCOMPARE(edit1->text(), QString());
    }

    void visitThroughTheMenu()
    {
        qputenv("QUILLMARSH_MARKET_HOST", "market.test:8080");
        Fixture f;
        f.addRows();
        QVERIFY(f.showActive());
        auto *menu = f.control<QMenu>("PopupMenu1");
        QCOMPARE(menu->actions().size(), 2);
        QCOMPARE(menu->actions().at(1)->text(), QStringLiteral("复制关键词"));
        QAction *n6 = menu->actions().constFirst();
        QCOMPARE(n6->objectName(), QStringLiteral("N6"));
        QCOMPARE(n6->text(), QStringLiteral("访问关键词"));

        // Nothing selected: nothing opens.
        n6->trigger();
        QVERIFY(f.browser.opened.isEmpty());

        // A right-click as on X11: the press selects, the menu opens on it, and
        // the release goes to the menu.
        ResultsView *view = f.table();
        const auto rightClickAndVisit = [&](QPoint at) {
            QTest::mousePress(view->viewport(), Qt::RightButton, {}, at);
            QContextMenuEvent request(QContextMenuEvent::Mouse, at, view->viewport()->mapToGlobal(at));
            QApplication::sendEvent(view->viewport(), &request);
            QTRY_VERIFY(menu->isVisible());
            n6->trigger();
            menu->hide();
            QTest::mouseRelease(view->viewport(), Qt::RightButton, {}, at);
        };
        for (int row : {1, 0})
            rightClickAndVisit(view->visualRect(view->model()->index(row, 1)).center());
        // Below the rows it points at no row: the earlier selection is not visited.
        const QPoint empty(10, view->viewport()->height() - 5);
        QVERIFY(!view->indexAt(empty).isValid());
        rightClickAndVisit(empty);
        qunsetenv("QUILLMARSH_MARKET_HOST");
        // As the page fetcher requests them, GBK percent-encoded.
        const QList<QPair<QByteArray, Browser::Show>> expected{
            {"http://market.test:8080/search?q=T&x&sort=sale-desc", Browser::Show::Normal},
            {"http://market.test:8080/search?q=%C1%AC%D2%C2%C8%B9&sort=sale-desc", Browser::Show::Normal}};
        QCOMPARE(f.browser.opened, expected);
    }

    void saveButton()
    {
        QTemporaryDir dir;
        QFile plain(dir.filePath(QStringLiteral("plain")));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.close();
        Fixture f;
        f.addRows();
        f.form2.results().sortBySales();
        f.saveDialog.answers = {std::nullopt, dir.filePath(QStringLiteral("out")),
                                dir.filePath(QStringLiteral("plain/out"))};
        auto *button6 = f.control<QPushButton>("Button6");

        QTest::mouseClick(button6, Qt::LeftButton); // cancelled
        QTest::mouseClick(button6, Qt::LeftButton);
        QFile saved(dir.filePath(QStringLiteral("out.csv")));
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QCOMPARE(saved.readAll(), gbk("序号,关键词,宝贝数量,最高成交笔数,成交价格,宝贝描述\r\n"
                                      "1,T&x,20,900,9.90,b\r\n"
                                      "2,bag,\"1,000\",40,100.00,c\r\n"
                                      "3,连衣裙,300,15,25.00,夏季\r\n"));
        QVERIFY(f.messages.shown.isEmpty());

        QTest::mouseClick(button6, Qt::LeftButton); // the folder is a file
        QCOMPARE(f.saveDialog.offered,
                 (QStringList{QString(), QString(), dir.filePath(QStringLiteral("out"))}));
        QCOMPARE(f.messages.shown.size(), 1);
        QCOMPARE(f.messages.shown[0].kind, RecordingMessages::Kind::Error);
        QVERIFY2(f.messages.shown[0].text.startsWith(QStringLiteral("Cannot create file \"%1\". ")
                                                         .arg(dir.filePath(QStringLiteral("plain/out.csv")))),
                 qPrintable(f.messages.shown[0].text));
    }

    void promptIsRefused_data()
    {
        QTest::addColumn<QString>("seed");
        QTest::newRow("prompt") << QStringLiteral("请输入关键词");
        QTest::newRow("empty") << QString();
    }
    void promptIsRefused()
    {
        QFETCH(QString, seed);
        Fixture f;
        f.addRows();
        f.control<QLineEdit>("Edit1")->setText(seed);
        QTest::mouseClick(f.control<QPushButton>("Button4"), Qt::LeftButton);
        QCOMPARE(f.messages.shown, (QList<RecordingMessages::Shown>{
                                       {RecordingMessages::Kind::Plain, QStringLiteral("请输入关键词！")}}));
        QCOMPARE(f.form2.results().rowCount(), 3);
        QVERIFY(f.control<QPushButton>("Button4")->isEnabled());
    }

    // Rows added below the shown ones only lengthen the scroll bar; a sort
    // right after them still redraws the shown rows in the new order.
    void rowsAddedBelowTheShownOnes()
    {
        Fixture f;
        QVERIFY(f.showActive());
        ResultsView *table = f.table();
        const auto addRows = [&f](int from, int to) {
            for (int i = from; i <= to; ++i)
                f.form2.results().addRow({QByteArray::number(i), "kw" + QByteArray::number(i),
                                          QByteArray::number(1000 - i), "1", "1.00", "d"});
        };
        addRows(1, 60);
        QTRY_VERIFY(table->verticalScrollBar()->maximum() > 0);
        const int lastShown = table->rowAt(table->viewport()->height() - 1);
        QVERIFY(lastShown > 0 && lastShown < 59);
        const QImage before = table->viewport()->grab().toImage();
        const int maximum = table->verticalScrollBar()->maximum();
        addRows(61, 90);
        QTRY_COMPARE(table->verticalScrollBar()->maximum(), maximum + 30);
        QCOMPARE(table->viewport()->grab().toImage(), before);

        addRows(91, 91);
        f.form2.sortByItemCount(); // fewest items first: the last row added
        QTRY_COMPARE(table->model()->index(table->rowAt(0), 1).data().toString(), QStringLiteral("kw91"));
        QTest::qWait(50);
        QVERIFY(table->viewport()->grab().toImage() != before);
    }

    // The keyword box and the must-contain tick are read while pages arrive.
    // 设置 applies to the next batch and is remembered in the data folder;
    // the cookie file is owner-only; a bad profile is refused with its line
    // and key, the dialog staying open.
    void settingsAreAppliedAndRemembered()
    {
        QTemporaryDir dataFolder;
        qputenv("QUILLMARSH_DATA_DIR", dataFolder.path().toLocal8Bit());
        const QString modern = testsupport::sourceFile(QStringLiteral("tools/sim/modern-profile.ini"));
        const QString bad = dataFolder.filePath(QStringLiteral("bad.ini"));
        QVERIFY(testsupport::writeFile(bad, "[items]\nclose = </b>\nopen\n"));
        CrawlSettings expected;
        expected.parallel = 4;
        expected.retries = 2;
        expected.delayMs = 150;
        expected.jitterMs = 20;
        expected.maxKeywords = 30;
        expected.maxDepth = 2;
        {
            Fixture f;
            QCOMPARE(f.form2.scheduler().crawlSettings(), CrawlSettings());
            f.control<QPushButton>("SettingsButton")->click();
            auto *dialog = f.form2.findChild<SettingsDialog *>();
            QVERIFY(dialog && dialog->isVisible());
            auto set = [dialog](const char *name, int value) {
                dialog->findChild<QSpinBox *>(QString::fromLatin1(name))->setValue(value);
            };
            set("Parallel", 4);
            set("Retries", 2);
            set("Delay", 150);
            set("Jitter", 20);
            set("MaxKeywords", 30);
            set("MaxDepth", 2);
            dialog->findChild<QLineEdit *>(QStringLiteral("Cookie"))
                ->setText(QStringLiteral("session=abc; u=1"));
            QCOMPARE(dialog->findChild<QLineEdit *>(QStringLiteral("Cookie"))->echoMode(),
                     QLineEdit::Password);
            auto *profile = dialog->findChild<QLineEdit *>(QStringLiteral("ProfileFile"));
            QPushButton *ok = dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok);

            profile->setText(bad);
            ok->click();
            QCOMPARE(f.messages.texts(),
                     QStringList{QStringLiteral("bad.ini line 3: expected \"key = value\" or "
                                                "\"[section]\"")});
            QVERIFY(dialog->isVisible());
            QCOMPARE(f.form2.scheduler().crawlSettings(), CrawlSettings());

            profile->setText(modern);
            ok->click();
            QVERIFY(!dialog->isVisible());
            QCOMPARE(f.form2.scheduler().crawlSettings(), expected);
            QVERIFY(f.form2.scheduler().profile() == MarketProfile::fromFile(modern));
        }
        QFile cookie(dataFolder.filePath(QStringLiteral("market-cookie")));
        QVERIFY(cookie.open(QIODevice::ReadOnly));
        QCOMPARE(cookie.readAll(), QByteArray("session=abc; u=1\n"));
        QCOMPARE(cookie.permissions() & ~(QFile::ReadUser | QFile::WriteUser),
                 QFile::ReadOwner | QFile::WriteOwner);
        // The next start of the program finds them again.
        Fixture again;
        QCOMPARE(again.form2.scheduler().crawlSettings(), expected);
        QVERIFY(again.form2.scheduler().profile() == MarketProfile::fromFile(modern));
        qunsetenv("QUILLMARSH_DATA_DIR");
    }

    // Pages of the other markup, four at a time: the table a one-at-a-time
    // batch of the classic pages gives, the figures under it, and a warning
    // when the seed's page is not understood.
    void batchWithProfileAndFigures()
    {
        QTemporaryDir dataFolder;
        qputenv("QUILLMARSH_DATA_DIR", dataFolder.path().toLocal8Bit());
        QSettings stored(dataFolder.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
        stored.setValue(QStringLiteral("crawling/parallel"), 4);
        stored.setValue(QStringLiteral("crawling/profile"),
                        testsupport::sourceFile(QStringLiteral("tools/sim/modern-profile.ini")));
        stored.sync();
        testsupport::SimProcess modernSim({QStringLiteral("--graph-size"), QStringLiteral("30"),
                                           QStringLiteral("--page-style"), QStringLiteral("modern")});
        testsupport::SimProcess classicSim({QStringLiteral("--graph-size"), QStringLiteral("30")});
        QVERIFY(modernSim.port() && classicSim.port());
        Fixture modern;
        Fixture classic;
        // The classic pages one at a time, as the program reads them by default.
        classic.form2.scheduler().setCrawlSettings(CrawlSettings());
        classic.form2.scheduler().setProfile(MarketProfile::builtIn());
        QCOMPARE(modern.form2.scheduler().crawlSettings().parallel, 4);
        QCOMPARE(classic.form2.scheduler().crawlSettings().parallel, 1);
        for (auto [fixture, sim] : {std::pair{&modern, &modernSim}, std::pair{&classic, &classicSim}}) {
            qputenv("QUILLMARSH_MARKET_HOST", sim->hostAndPort());
            fixture->control<QLineEdit>("Edit1")->setText(QStringLiteral("连衣裙"));
            fixture->control<QPushButton>("Button4")->click();
            QTRY_COMPARE_WITH_TIMEOUT(fixture->messages.texts(), QStringList{QStringLiteral("查询完成！")},
                                      20'000);
        }
        QCOMPARE(modern.form2.results().rowCount(), classic.form2.results().rowCount());
        QVERIFY(modern.form2.results().rowCount() > 15);
        for (int position = 0; position < modern.form2.results().rowCount(); ++position)
            for (int column = 0; column < ResultsModel::ColumnCount; ++column)
                QCOMPARE(modern.form2.results().cell(position, column).toByteArray(),
                         classic.form2.results().cell(position, column).toByteArray());
        const QString figures = modern.control<QLabel>("CrawlFigures")->text();
        QVERIFY2(figures.startsWith(QStringLiteral("速度：")) && figures.endsWith(QStringLiteral("等待：0")),
                 qPrintable(figures));

        // The classic profile on the other markup: the seed's page is not understood.
        classic.control<QPushButton>("Button5")->click();
        qputenv("QUILLMARSH_MARKET_HOST", modernSim.hostAndPort());
        classic.control<QPushButton>("Button4")->click();
        QTRY_VERIFY_WITH_TIMEOUT(classic.messages.texts().size() == 3, 20'000);
        QVERIFY2(classic.messages.texts().value(1).startsWith(QStringLiteral("无法识别首个页面")),
                 qPrintable(classic.messages.texts().join(u'|')));
        QVERIFY(classic.control<QLabel>("CrawlFigures")->text().contains(QStringLiteral("无法识别 1")));
        QVERIFY(QFile::exists(dataFolder.filePath(QStringLiteral("unrecognised-page.html"))));
        qunsetenv("QUILLMARSH_DATA_DIR");
    }

    void batchThroughTheButtons_data()
    {
        QTest::addColumn<bool>("mustContain");
        QTest::addColumn<QByteArrayList>("keywords");
        QTest::addColumn<QString>("total");
        QTest::newRow("must contain the seed")
            << true << QByteArrayList{gbk("连衣裙"), gbk("连衣裙 夏")} << QStringLiteral("总：1");
        QTest::newRow("any related keyword")
            << false << QByteArrayList{gbk("连衣裙"), gbk("连衣裙 夏"), gbk("半身裙")}
            << QStringLiteral("总：2");
    }
    void batchThroughTheButtons()
    {
        QFETCH(bool, mustContain);
        QFETCH(QByteArrayList, keywords);
        QFETCH(QString, total);
        RawHttpServer server;
        serveMarketplace(
            server, {resultPage("连衣裙", {QStringLiteral("连衣裙 夏"), QStringLiteral("半身裙")}, "300"),
                     resultPage("连衣裙 夏", {}, "40"), resultPage("半身裙", {}, "70")});
        Fixture f;
        auto *button4 = f.control<QPushButton>("Button4");
        f.control<QLineEdit>("Edit1")->setText(QStringLiteral("连衣裙"));
        f.control<QCheckBox>("CheckBox1")->setChecked(mustContain);
        QTest::mouseClick(button4, Qt::LeftButton);
        QVERIFY(!button4->isEnabled());
        QVERIFY(f.waitForMessages(1));

        QCOMPARE(f.messages.texts(), QStringList{QStringLiteral("查询完成！")});
        QByteArrayList shown;
        for (int position = 0; position < f.form2.results().rowCount(); ++position)
            shown.append(f.form2.results().cell(position, ResultsModel::Keyword).toByteArray());
        QCOMPARE(shown, keywords);
        QCOMPARE(f.statusPanel(1), total);
        QCOMPARE(f.statusPanel(2), QStringLiteral("完成：%1").arg(keywords.size()));
        QVERIFY(!button4->isEnabled());
        QVERIFY(f.control<QLabel>("FailedPanel")->isHidden());

        // Stop, then a new batch: rows are numbered on.
        QTest::mouseClick(f.control<QPushButton>("Button5"), Qt::LeftButton);
        QVERIFY(button4->isEnabled());
        f.control<QLineEdit>("Edit1")->setText(QStringLiteral("半身裙"));
        QTest::mouseClick(button4, Qt::LeftButton);
        QVERIFY(f.waitForMessages(2));
        QCOMPARE(f.form2.results().rowCount(), 1);
        QCOMPARE(f.form2.results().cell(0, ResultsModel::Number).toByteArray(),
                 QByteArray::number(keywords.size() + 1));
        qunsetenv("QUILLMARSH_MARKET_HOST");
    }

    void failedFetchesAreShown()
    {
        RawHttpServer server;
        serveMarketplace(
            server, {resultPage("seed", {QStringLiteral("seed broken"), QStringLiteral("seed 2")}, "5")});
        Fixture f;
        f.control<QLineEdit>("Edit1")->setText(QStringLiteral("seed"));
        QTest::mouseClick(f.control<QPushButton>("Button4"), Qt::LeftButton);
        QVERIFY(f.waitForMessages(1));
        auto *failed = f.control<QLabel>("FailedPanel");
        QVERIFY(!failed->isHidden());
        QCOMPARE(failed->text(), QStringLiteral("失败：1"));
        QCOMPARE(f.statusPanel(2), QStringLiteral("完成：3"));

        // The next batch starts with no failures.
        QTest::mouseClick(f.control<QPushButton>("Button5"), Qt::LeftButton);
        QTest::mouseClick(f.control<QPushButton>("Button4"), Qt::LeftButton);
        QVERIFY(failed->isHidden());
        QVERIFY(f.waitForMessages(2));
        qunsetenv("QUILLMARSH_MARKET_HOST");
    }

    // The widget dialog: offers the previous name, one ".csv" filter showing
    // every file, no overwrite question.
    void widgetSaveDialog()
    {
        QTemporaryDir dir;
        const QString previous = dir.filePath(QStringLiteral("results"));
        QString seenFile;
        QStringList seenFilters;
        bool asksBeforeReplacing = true;
        QTimer::singleShot(0, this, [&] {
            auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            seenFile = dialog->selectedFiles().value(0);
            seenFilters = dialog->nameFilters();
            asksBeforeReplacing = !dialog->testOption(QFileDialog::DontConfirmOverwrite);
            dialog->selectFile(dir.filePath(QStringLiteral("chosen")));
            static_cast<QDialog *>(dialog)->accept(); // QFileDialog's own accept takes the typed name
        });
        WidgetSaveFileDialog widgetDialog;
        const std::optional<QString> chosen = widgetDialog.askFileName(previous);
        QCOMPARE(chosen, std::optional<QString>(dir.filePath(QStringLiteral("chosen"))));
        QCOMPARE(seenFile, previous);
        QCOMPARE(seenFilters, QStringList{QStringLiteral(".csv ()")});
        QVERIFY(!asksBeforeReplacing);

        QTimer::singleShot(0, this, [] { QApplication::activeModalWidget()->close(); });
        QCOMPARE(widgetDialog.askFileName(previous), std::nullopt);
    }
};

QTEST_MAIN(TestQueryWindow)
#include "tst_querywindow.moc"
