#pragma once

#include "pacer.h"

#include <qcustomplot.h>

#include <initializer_list>

class LivePlotGraph;

// A plot whose graphs are fed one point each per sample (see LivePlotGraph),
// and which draws no more often than can be seen: not while it is hidden (it
// is drawn as it is when shown again), at most once per event loop pass, and
// no more often than 25 times a second, nor than lets its drawing take a
// twentieth of the time (a plot of 100 000 dense points, whose picture moves
// by a pixel every few seconds, is drawn a few times a second).
//
// It draws straight onto the screen when Qt repaints it, where QCustomPlot
// draws into a buffer of its own at every replot() and copies that at every
// repaint: the same picture, without a full-size fill and copy per redraw.
// A replot() (QCustomPlot's interactions call it) fills that buffer in vain
// and asks for a repaint, which draws the plot as it then is.
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

    // Draws the plot in the next event loop pass when `now`, else once the
    // current event (a timer tick that may carry many samples) is handled
    // and the pace above allows, however often it was asked for meanwhile.
    void redraw(bool now = false);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QVector<LivePlotGraph *> liveGraphs;
    double drawMs = 0; // the drawings' wall time, in the mean
    Pacer *pace;
};
