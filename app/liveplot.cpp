#include "liveplot.h"

#include "liveplotgraph.h"

LivePlot::LivePlot(QWidget *parent) : QCustomPlot(parent), pace(new QTimer(this))
{
    pace->setSingleShot(true);
    connect(pace, &QTimer::timeout, this, &LivePlot::drawNow);
    // The overlay layer holds nothing here (no selection rectangle, no
    // items), yet as a buffered layer it costs a buffer to clear and blend at
    // every redraw. Drawn with the other layers, it is free.
    layer("overlay")->setMode(QCPLayer::lmLogical);
}

LivePlotGraph *LivePlot::addLiveGraph()
{
    // The graph registers itself with the plot, which owns it from then on.
    auto *graph = new LivePlotGraph(xAxis, yAxis);
    graph->setName(QLatin1String("Graph ") + QString::number(graphCount()));
    liveGraphs.append(graph);
    return graph;
}

LivePlotGraph *LivePlot::liveGraph(int index) const
{
    return liveGraphs.value(index);
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
    if (!isVisible()) {
        redrawPending = true;
        return;
    }
    redrawPending = false;
    if (now) {
        drawNow();
    } else if (!pace->isActive()) {
        const double gap = std::max(1000.0 / 30, 10 * replotTime());
        pace->start(sinceDrawn.isValid() ? std::max(0, int(gap - sinceDrawn.elapsed())) : 0);
    }
}

void LivePlot::drawNow()
{
    pace->stop();
    sinceDrawn.start();
    replot(rpQueuedRefresh);
}

void LivePlot::showEvent(QShowEvent *event)
{
    QCustomPlot::showEvent(event);
    if (redrawPending)
        redraw(true);
}
