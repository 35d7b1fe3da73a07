#pragma once

#include <QWidget>
#include <optional>
#include <vector>

class ResultsFilterModel;
class ResultsModel;

// Item count (x) against top sales (y) of the rows the view filter shows,
// both on log scales, each point coloured by its opportunity. Painted
// directly: a scatter of a hundred thousand points is one drawPoints call per
// colour. It follows the filter model (rows added, filtered, sorted,
// cleared), shows a row's keyword and numbers under the mouse, and reports a
// click on a point with the point's row in the filter model.
class OpportunityChart final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(OpportunityChart)

public:
    OpportunityChart(ResultsModel *results, ResultsFilterModel *shown, QWidget *parent = nullptr);

    int pointCount() const;
    // The shown row whose point lies nearest a widget position, within a few
    // pixels; -1 when none does.
    int shownRowAt(QPointF at) const;
    // Where the point of a shown row is drawn; nothing when it has none.
    std::optional<QPointF> pointOf(int shownRow) const;
    // The hover text of a shown row: keyword, item count, sales, opportunity.
    QString describe(int shownRow) const;

    QSize sizeHint() const override { return {430, 500}; }

Q_SIGNALS:
    void shownRowClicked(int shownRow);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;

private:
    struct Point
    {
        float x; // log10 of the item count
        float y; // log10 of the sales
        float opportunity;
        int shownRow;
    };

    void markStale();
    void refresh() const;
    void appendRows(int first, int last) const;
    QRectF plotArea() const;
    QPointF toWidget(const Point &point) const;
    int colourIndex(float opportunity) const;

    ResultsModel *m_results;
    ResultsFilterModel *m_shown;
    // Built lazily: a filter change arrives as many row removals and
    // insertions, and the points are rebuilt once, when next needed.
    mutable std::vector<Point> m_points;
    mutable int m_rowsSeen = 0;
    mutable bool m_stale = true;
    // Extents in log10 units, grown as points arrive.
    mutable float m_maxX = 1, m_maxY = 1;
    mutable float m_minOpportunity = 0, m_maxOpportunity = 0;
};
