#include "results/resultsfilterbar.h"

#include "common/apperror.h"
#include "common/usermessages.h"
#include "results/resultsfiltermodel.h"
#include "results/resultsmodel.h"
#include "text/gbk.h"

#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <utility>

namespace {

// The count keeps its room up to a million rows.
constexpr int largestShownCount = 1'000'000;

// A bound typed in a filter box: empty or unreadable means none.
std::optional<double> boundIn(const QLineEdit *edit)
{
    return ResultsModel::numberIn(edit->text().toLatin1());
}

} // namespace

ResultsFilterBar::ResultsFilterBar(ResultsModel &results, ResultsFilterModel &shown, UserMessages &messages,
                                   SaveFileDialog &saveDialog, QWidget *parent)
    : QWidget(parent), m_results(results), m_shown(shown), m_messages(messages), m_export(saveDialog)
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    const auto label = [this, layout](const char *caption) {
        layout->addWidget(new QLabel(QString::fromUtf8(caption), this));
    };
    const auto box = [this, layout](const char *name, int width, const char *hint) {
        auto *edit = new QLineEdit(this);
        edit->setObjectName(QString::fromLatin1(name));
        edit->setFixedWidth(width);
        edit->setPlaceholderText(QString::fromUtf8(hint));
        layout->addWidget(edit);
        return edit;
    };
    // A caption, then the lower and the upper bound.
    const auto range = [&label, &box](const char *caption, const char *lowName, const char *lowHint,
                                      const char *highName, const char *highHint, int width) {
        label(caption);
        QLineEdit *low = box(lowName, width, lowHint);
        label("–");
        return std::pair{low, box(highName, width, highHint)};
    };
    std::tie(m_minItemsEdit, m_maxItemsEdit) =
        range("宝贝数量", "MinItemsEdit", "最少", "MaxItemsEdit", "最多", 46);
    label("成交≥");
    m_minSalesEdit = box("MinSalesEdit", 40, "");
    std::tie(m_minPriceEdit, m_maxPriceEdit) =
        range("价格", "MinPriceEdit", "最低", "MaxPriceEdit", "最高", 40);
    label("机会≥");
    m_minOpportunityEdit = box("MinOpportunityEdit", 40, "");
    m_textFilterEdit = box("TextFilterEdit", 90, "筛选文字");
    layout->addStretch(1);

    auto *exportButton = new QPushButton(QStringLiteral("导出…"), this);
    exportButton->setObjectName(QStringLiteral("ExportButton"));
    auto *exportMenu = new QMenu(exportButton);
    exportMenu->setObjectName(QStringLiteral("ExportMenu"));
    const std::pair<const char *, tableexport::Format> formats[] = {
        {"CSV（UTF-8）…", tableexport::Format::Utf8Csv},
        {"Excel 工作簿（XLSX）…", tableexport::Format::Xlsx},
        {"JSON…", tableexport::Format::Json}};
    for (const auto &[caption, format] : formats) {
        connect(exportMenu->addAction(QString::fromUtf8(caption)), &QAction::triggered, this,
                [this, format] { exportResults(format); });
    }
    exportMenu->addSeparator();
    m_exportShownOnly = exportMenu->addAction(QStringLiteral("只导出显示的行"));
    m_exportShownOnly->setCheckable(true);
    exportButton->setMenu(exportMenu);
    exportButton->setFixedWidth(64);
    layout->addWidget(exportButton);
    m_exportButton = exportButton;

    m_shownLabel = new QLabel(this);
    m_shownLabel->setObjectName(QStringLiteral("ShownCount"));
    const QFontMetrics metrics(font());
    m_shownLabel->setFixedWidth(
        metrics.horizontalAdvance(QStringLiteral("显示 %1 / %1").arg(largestShownCount)) +
        metrics.averageCharWidth());

    for (QLineEdit *bound : {m_minItemsEdit, m_maxItemsEdit, m_minSalesEdit, m_minPriceEdit, m_maxPriceEdit,
                             m_minOpportunityEdit, m_textFilterEdit})
        connect(bound, &QLineEdit::textChanged, this, &ResultsFilterBar::applyViewFilter);
    for (const auto rowsChanged : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
        connect(&m_shown, rowsChanged, this, &ResultsFilterBar::showShownCount);
    connect(&m_shown, &QAbstractItemModel::modelReset, this, &ResultsFilterBar::showShownCount);
    connect(&m_results, &QAbstractItemModel::rowsInserted, this, &ResultsFilterBar::showShownCount);
    showShownCount();
}

QList<QWidget *> ResultsFilterBar::tabChain() const
{
    return {m_minItemsEdit, m_maxItemsEdit,       m_minSalesEdit,   m_minPriceEdit,
            m_maxPriceEdit, m_minOpportunityEdit, m_textFilterEdit, m_exportButton};
}

void ResultsFilterBar::applyViewFilter()
{
    ViewFilter filter;
    filter.minItems = boundIn(m_minItemsEdit);
    filter.maxItems = boundIn(m_maxItemsEdit);
    filter.minSales = boundIn(m_minSalesEdit);
    filter.minPrice = boundIn(m_minPriceEdit);
    filter.maxPrice = boundIn(m_maxPriceEdit);
    filter.minOpportunity = boundIn(m_minOpportunityEdit);
    filter.text = text::toGbk(m_textFilterEdit->text());
    m_shown.setViewFilter(filter);
    showShownCount();
}

void ResultsFilterBar::showShownCount()
{
    m_shownLabel->setText(QStringLiteral("显示 %1 / %2").arg(m_shown.rowCount()).arg(m_results.rowCount()));
    m_shownLabel->setVisible(!(m_shown.viewFilter() == ViewFilter{}));
}

void ResultsFilterBar::exportResults(tableexport::Format format)
{
    const QList<int> positions =
        m_exportShownOnly->isChecked() ? m_shown.shownPositions() : tableexport::allPositions(m_results);
    try {
        m_export.run(format, m_results, positions);
    } catch (const AppError &error) {
        m_messages.showError(error);
    }
}
