#include "results/opportunitychart.h"

#include "results/resultsfiltermodel.h"
#include "results/resultsmodel.h"
#include "text/gbk.h"

#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>
#include <algorithm>
#include <array>
#include <cmath>

namespace {

// Low opportunity blue, high red, through pale middles.
constexpr size_t colourCount = 8;
const std::array<QColor, colourCount> opportunityColours = {
    QColor(59, 76, 192),   QColor(98, 130, 234),  QColor(141, 176, 254), QColor(184, 208, 249),
    QColor(245, 196, 173), QColor(244, 154, 123), QColor(222, 96, 77),   QColor(180, 4, 38)};
constexpr int marginRight = 12;
constexpr int axisRoom = 44;   // left and bottom, for the tick labels
constexpr int legendRoom = 34; // top, for the title and the colour legend
constexpr double pickRadius = 6;

float log10AtLeastOne(double value)
{
    return float(std::log10(std::max(1.0, value)));
}

// "1", "10", "100", "1k" … for a power of ten.
QString tickLabel(int power)
{
    static const char *const units[] = {"", "k", "M", "G"};
    const int unit = std::clamp(power / 3, 0, 3);
    return QString::number(qint64(std::pow(10, power - unit * 3))) + QLatin1String(units[unit]);
}

} // namespace

OpportunityChart::OpportunityChart(ResultsModel *results, ResultsFilterModel *shown, QWidget *parent)
    : QWidget(parent), m_results(results), m_shown(shown)
{
    setMouseTracking(true);
    setMinimumSize(240, 180);
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Base);
    connect(shown, &QAbstractItemModel::rowsInserted, this, [this](const QModelIndex &, int first, int last) {
        // Rows a batch adds arrive at the bottom; anything else reorders.
        if (!m_stale && first == m_rowsSeen)
            appendRows(first, last);
        else
            m_stale = true;
        update();
    });
    connect(shown, &QAbstractItemModel::rowsRemoved, this, &OpportunityChart::markStale);
    connect(shown, &QAbstractItemModel::modelReset, this, &OpportunityChart::markStale);
    connect(shown, &QAbstractItemModel::layoutChanged, this, &OpportunityChart::markStale);
}

void OpportunityChart::markStale()
{
    m_stale = true;
    update();
}

int OpportunityChart::pointCount() const
{
    refresh();
    return int(m_points.size());
}

void OpportunityChart::refresh() const
{
    if (!m_stale)
        return;
    m_stale = false;
    m_points.clear();
    m_rowsSeen = 0;
    m_maxX = m_maxY = 1;
    m_minOpportunity = m_maxOpportunity = 0;
    if (m_shown->rowCount() > 0)
        appendRows(0, m_shown->rowCount() - 1);
}

void OpportunityChart::appendRows(int first, int last) const
{
    m_points.reserve(m_points.size() + (last - first + 1));
    for (int row = first; row <= last; ++row) {
        const int position = m_shown->mapToSource(m_shown->index(row, 0)).row();
        const auto number = [this, position](int column) {
            return ResultsModel::numberIn(m_results->cell(position, column));
        };
        const std::optional<double> items = number(ResultsModel::ItemCount);
        const std::optional<double> sales = number(ResultsModel::Sales);
        if (!items || !sales)
            continue;
        const float opportunity = float(number(ResultsModel::Opportunity).value_or(0));
        const Point point{log10AtLeastOne(*items), log10AtLeastOne(*sales), opportunity, row};
        if (m_points.empty())
            m_minOpportunity = m_maxOpportunity = opportunity;
        m_minOpportunity = std::min(m_minOpportunity, opportunity);
        m_maxOpportunity = std::max(m_maxOpportunity, opportunity);
        m_maxX = std::max(m_maxX, point.x);
        m_maxY = std::max(m_maxY, point.y);
        m_points.push_back(point);
    }
    m_rowsSeen = last + 1;
}

QRectF OpportunityChart::plotArea() const
{
    return QRectF(axisRoom, legendRoom, width() - axisRoom - marginRight, height() - legendRoom - axisRoom);
}

QPointF OpportunityChart::toWidget(const Point &point) const
{
    const QRectF area = plotArea();
    // Whole decades on both axes, from 1.
    const double spanX = std::ceil(m_maxX);
    const double spanY = std::ceil(m_maxY);
    return {area.left() + point.x / spanX * area.width(), area.bottom() - point.y / spanY * area.height()};
}

int OpportunityChart::colourIndex(float opportunity) const
{
    // Opportunity spans decades, so its colours are spread on a log scale.
    const double low = std::log1p(double(m_minOpportunity));
    const double high = std::log1p(double(m_maxOpportunity));
    if (high <= low)
        return int(opportunityColours.size()) - 1;
    const double share = (std::log1p(double(opportunity)) - low) / (high - low);
    return std::clamp(int(share * opportunityColours.size()), 0, int(opportunityColours.size()) - 1);
}

int OpportunityChart::shownRowAt(QPointF at) const
{
    refresh();
    int nearest = -1;
    double nearestDistance = pickRadius * pickRadius;
    for (const Point &point : m_points) {
        const QPointF offset = toWidget(point) - at;
        const double distance = QPointF::dotProduct(offset, offset);
        if (distance <= nearestDistance) {
            nearestDistance = distance;
            nearest = point.shownRow;
        }
    }
    return nearest;
}

std::optional<QPointF> OpportunityChart::pointOf(int shownRow) const
{
    refresh();
    const auto found = std::lower_bound(m_points.begin(), m_points.end(), shownRow,
                                        [](const Point &point, int row) { return point.shownRow < row; });
    if (found == m_points.end() || found->shownRow != shownRow)
        return std::nullopt;
    return toWidget(*found);
}

QString OpportunityChart::describe(int shownRow) const
{
    const int position = m_shown->mapToSource(m_shown->index(shownRow, 0)).row();
    const auto cell = [this, position](int column) {
        return text::fromGbk(m_results->cell(position, column));
    };
    return QStringLiteral("%1\n宝贝数量 %2\n最高成交笔数 %3\n机会指数 %4")
        .arg(cell(ResultsModel::Keyword), cell(ResultsModel::ItemCount), cell(ResultsModel::Sales),
             cell(ResultsModel::Opportunity));
}

void OpportunityChart::paintEvent(QPaintEvent *)
{
    refresh();
    QPainter painter(this);
    const QRectF area = plotArea();
    const QColor axisColour(96, 96, 96);
    const QColor gridColour(225, 225, 225);

    painter.setPen(axisColour);
    painter.drawText(QRectF(axisRoom, 2, area.width() * 0.45, 16), Qt::AlignLeft | Qt::AlignVCenter,
                     QStringLiteral("机会指数"));
    // The colour legend: low to high.
    const double swatch = std::min(24.0, area.width() * 0.5 / opportunityColours.size());
    const double legendLeft = area.right() - swatch * opportunityColours.size();
    for (size_t i = 0; i < opportunityColours.size(); ++i)
        painter.fillRect(QRectF(legendLeft + swatch * i, 6, swatch, 10), opportunityColours[i]);
    painter.drawText(QRectF(legendLeft - 60, 2, 56, 16), Qt::AlignRight | Qt::AlignVCenter,
                     QString::number(m_minOpportunity, 'g', 3));
    painter.drawText(QRectF(legendLeft, 18, swatch * opportunityColours.size(), 14), Qt::AlignRight,
                     QString::number(m_maxOpportunity, 'g', 3));

    // Grid and ticks at every power of ten.
    const int decadesX = int(std::ceil(m_maxX));
    const int decadesY = int(std::ceil(m_maxY));
    for (int power = 0; power <= decadesX; ++power) {
        const double x = area.left() + area.width() * power / decadesX;
        painter.setPen(gridColour);
        painter.drawLine(QPointF(x, area.top()), QPointF(x, area.bottom()));
        painter.setPen(axisColour);
        painter.drawText(QRectF(x - 20, area.bottom() + 2, 40, 14), Qt::AlignHCenter | Qt::AlignTop,
                         tickLabel(power));
    }
    for (int power = 0; power <= decadesY; ++power) {
        const double y = area.bottom() - area.height() * power / decadesY;
        painter.setPen(gridColour);
        painter.drawLine(QPointF(area.left(), y), QPointF(area.right(), y));
        painter.setPen(axisColour);
        painter.drawText(QRectF(0, y - 7, axisRoom - 4, 14), Qt::AlignRight | Qt::AlignVCenter,
                         tickLabel(power));
    }
    painter.drawRect(area);
    painter.drawText(QRectF(area.left(), area.bottom() + 16, area.width(), 16), Qt::AlignHCenter,
                     QStringLiteral("宝贝数量（对数）"));
    painter.save();
    painter.translate(10, area.center().y());
    painter.rotate(-90);
    painter.drawText(QRectF(-area.height() / 2, -8, area.height(), 16), Qt::AlignHCenter,
                     QStringLiteral("最高成交笔数（对数）"));
    painter.restore();

    // Points, one batch per colour, low opportunity first so the best lie on top.
    std::array<std::vector<QPointF>, colourCount> byColour;
    for (const Point &point : m_points)
        byColour[colourIndex(point.opportunity)].push_back(toWidget(point));
    painter.setClipRect(area.adjusted(-3, -3, 3, 3));
    for (size_t i = 0; i < byColour.size(); ++i) {
        painter.setPen(QPen(opportunityColours[i], 4, Qt::SolidLine, Qt::SquareCap));
        painter.drawPoints(byColour[i].data(), int(byColour[i].size()));
    }
}

void OpportunityChart::mouseMoveEvent(QMouseEvent *event)
{
    const int row = shownRowAt(event->position());
    if (row < 0)
        QToolTip::hideText();
    else
        QToolTip::showText(event->globalPosition().toPoint(), describe(row), this);
}

void OpportunityChart::mousePressEvent(QMouseEvent *event)
{
    if (const int row = shownRowAt(event->position()); row >= 0 && event->button() == Qt::LeftButton)
        Q_EMIT shownRowClicked(row);
}
