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

    // Draws the plot now if it can be seen, else as soon as it is shown. The
    // plot is drawn into its buffer at once, with the axis ranges as they
    // stand, while the widget's repaint is queued: several plots redrawn for
    // one sample reach the screen in one paint.
    void redraw();

protected:
    void showEvent(QShowEvent *event) override;

private:
    QVector<LivePlotGraph *> liveGraphs;
    bool redrawPending = false;
};
