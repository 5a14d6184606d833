#include "liveplot.h"

#include "liveplotgraph.h"

#include <QElapsedTimer>
#include <QStaticText>

namespace
{

// A legend entry that lays its name out once, not at every redraw: laying
// out text is a good part of what a redraw of a small plot costs.
class CachedLegendItem : public QCPPlottableLegendItem
{
public:
    using QCPPlottableLegendItem::QCPPlottableLegendItem;

protected:
    void draw(QCPPainter *painter) override
    {
        prepare();
        const QSize icon = mParentLegend->iconSize();
        painter->setFont(getFont());
        painter->setPen(QPen(getTextColor()));
        painter->drawStaticText(mRect.x() + icon.width() + mParentLegend->iconTextPadding(),
                                mRect.y(), text);
        painter->save();
        const QRect iconRect(mRect.topLeft(), icon);
        painter->setClipRect(iconRect, Qt::IntersectClip);
        static_cast<LivePlotGraph *>(mPlottable)->drawIcon(painter, iconRect);
        painter->restore();
    }
    QSize minimumOuterSizeHint() const override
    {
        prepare();
        const QSize icon = mParentLegend->iconSize();
        return {icon.width() + mParentLegend->iconTextPadding() + textSize.width() +
                    mMargins.left() + mMargins.right(),
                std::max(textSize.height(), icon.height()) + mMargins.top() + mMargins.bottom()};
    }

private:
    void prepare() const
    {
        if (text.text() == mPlottable->name() && font == getFont())
            return;
        font = getFont();
        text.setText(mPlottable->name());
        text.prepare(QTransform(), font);
        textSize = QFontMetrics(font)
                       .boundingRect(0, 0, 0, mParentLegend->iconSize().height(), Qt::TextDontClip,
                                     mPlottable->name())
                       .size();
    }

    mutable QStaticText text;
    mutable QFont font;
    mutable QSize textSize;
};

} // namespace

LivePlot::LivePlot(QWidget *parent)
    : QCustomPlot(parent), pace(new Pacer([this] { return std::max(1000.0 / 25, 20 * drawMs); },
                                          [this] { update(); }, this))
{
    // The plot paints all of itself: nothing behind it needs painting first.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

LivePlotGraph *LivePlot::addLiveGraph()
{
    // The graph registers itself with the plot, which owns it from then on.
    auto *graph = new LivePlotGraph(xAxis, yAxis);
    graph->setName(QLatin1String("Graph ") + QString::number(graphCount()));
    legend->removeItem(legend->itemWithPlottable(graph));
    legend->addItem(new CachedLegendItem(legend, graph));
    liveGraphs.append(graph);
    return graph;
}

void LivePlot::appendPoints(double key, std::initializer_list<double> values)
{
    int i = 0;
    for (double value : values)
        liveGraphs.at(i++)->appendPoint(key, value);
}

void LivePlot::dropOldest()
{
    // Keys grow by one from point to point.
    for (LivePlotGraph *graph : std::as_const(liveGraphs))
        if (!graph->data()->isEmpty())
            graph->dropBefore(graph->data()->constBegin()->key + 1);
}

void LivePlot::clearPoints()
{
    for (LivePlotGraph *graph : std::as_const(liveGraphs))
        graph->clearPoints();
}

void LivePlot::redraw(bool now)
{
    // Qt paints a plot afresh when it is shown again.
    if (!isVisible())
        return;
    if (now)
        pace->runNow();
    else
        pace->request();
}

void LivePlot::paintEvent(QPaintEvent *)
{
    QElapsedTimer drawing;
    drawing.start();
    // What replot() and then QCustomPlot's paintEvent() would show: the
    // background, then every layer, laid out afresh.
    QCPPainter painter(this);
    if (mBackgroundBrush.style() != Qt::NoBrush)
        painter.fillRect(mViewport, mBackgroundBrush);
    draw(&painter);
    // Averaged over about ten drawings, so that a slow one (the first, with
    // its fonts to load) does not hold the next ones back.
    drawMs += (drawing.nsecsElapsed() / 1e6 - drawMs) / 10;
}
