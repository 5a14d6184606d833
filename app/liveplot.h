#pragma once

#include <qcustomplot.h>

#include <initializer_list>

class LivePlotGraph;

// A plot whose graphs are fed one point each per sample (see LivePlotGraph),
// and which does no drawing while it cannot be seen: a redraw asked for while
// the plot is hidden is done when it is shown again.
class LivePlot : public QCustomPlot
{
    Q_OBJECT
public:
    explicit LivePlot(QWidget *parent = nullptr);

    // Adds a graph on the bottom and left axes, like QCustomPlot::addGraph.
    LivePlotGraph *addLiveGraph();
    LivePlotGraph *liveGraph(int index) const;

    // Appends (key, value i) to live graph i, for each value given.
    void appendPoints(double key, std::initializer_list<double> values);
    // Drops the oldest point of every live graph.
    void dropOldest();
    void clearPoints();

    // Draws the plot if it can be seen, else as soon as it is shown: at once
    // when `now`, else once the current event (a timer tick that may carry
    // many samples) is handled, however often it was asked for meanwhile.
    void redraw(bool now = false);

protected:
    void showEvent(QShowEvent *event) override;

private:
    QVector<LivePlotGraph *> liveGraphs;
    bool redrawPending = false;
};
