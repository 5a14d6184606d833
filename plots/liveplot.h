#pragma once

#include "pacer.h"

#include <qcustomplot.h>

#include <initializer_list>

class LivePlotGraph;

// A plot whose graphs are fed one point each per sample (see LivePlotGraph),
// and which draws no more often than can be seen: not while it is hidden (a
// redraw asked for then is done when it is shown), at most once per event
// loop pass, and no more often than 25 times a second, nor than
// lets drawing take a tenth of the time (a plot of 100 000 dense points,
// whose picture moves by a pixel every few seconds, is drawn a few times a
// second).
class LivePlot : public QCustomPlot
{
    Q_OBJECT
public:
    explicit LivePlot(QWidget *parent = nullptr);

    // Adds a graph on the bottom and left axes, like QCustomPlot::addGraph.
    LivePlotGraph *addLiveGraph();

    // Appends (key, value i) to live graph i, for each value given.
    void appendPoints(double key, std::initializer_list<double> values);
    // Drops the oldest point of every live graph.
    void dropOldest();
    void clearPoints();

    // Draws the plot at once when `now`, else once the current event (a
    // timer tick that may carry many samples) is handled and the pace above
    // allows, however often it was asked for meanwhile.
    void redraw(bool now = false);

protected:
    void showEvent(QShowEvent *event) override;

private:
    QVector<LivePlotGraph *> liveGraphs;
    bool redrawPending = false;
    Pacer *pace;
};
