#pragma once

#include "extremes.h"

#include <qcustomplot.h>

#include <cstdint>
#include <vector>

// A line graph fed one point at a time, whose keys are whole numbers that grow
// by one from point to point (0, 1, 2, ... and again from 0 after
// clearPoints()). Points are appended at the end and dropped from the front in
// place, never copied.
//
// The graph looks and behaves exactly like a QCPGraph. Only the work behind
// adaptive sampling differs: where many points fall on one pixel column, the
// base class reads every visible point at every redraw, while this graph keeps
// the extremes of each block of keys in a small tree and finds a column's
// minimum and maximum in logarithmic time. The points chosen for drawing are
// the same as the base class chooses, so a redraw costs about the same
// whether the graph holds a hundred points or a hundred thousand.
class LivePlotGraph : public QCPGraph
{
    Q_OBJECT
public:
    // Registers itself with the plot of keyAxis, like QCPGraph.
    LivePlotGraph(QCPAxis *keyAxis, QCPAxis *valueAxis);

    // Appends (key, value). The key must be one more than the last key held,
    // or any whole number from 0 on when the graph is empty; anything else is
    // stored all the same, but later redraws read every point as QCPGraph does.
    void appendPoint(double key, double value);
    // Drops every point whose key is less than key.
    void dropBefore(double key);
    void clearPoints();

    // Whether redraws find the extremes of dense columns in the summary (true
    // while every point held came through appendPoint in key order).
    bool summarises() const;

    // The graph's legend icon, for a legend entry of the plot's own.
    void drawIcon(QCPPainter *painter, const QRectF &rect) const { drawLegendIcon(painter, rect); }

protected:
    void getOptimizedLineData(QVector<QCPGraphData> *lineData,
                              const QCPGraphDataContainer::const_iterator &begin,
                              const QCPGraphDataContainer::const_iterator &end) const override;

private:
    bool summaryCovers(const QCPGraphDataContainer::const_iterator &begin,
                       const QCPGraphDataContainer::const_iterator &end) const;
    // Minimum and maximum of the values of keys first..last (inclusive), all held.
    Extremes<double> extremes(std::int64_t first, std::int64_t last) const;
    Extremes<double> scan(std::int64_t first, std::int64_t last) const;
    void setLeaf(std::int64_t block, Extremes<double> e);
    // Node i of the tree from its two children.
    void updateNode(std::size_t i);
    void rebuildSummary();

    // The tree of block extremes: leaves at [blocks, 2 * blocks), block b of
    // keys [b * 16, b * 16 + 16) at leaf blocks + (b mod blocks), so the tree
    // is a ring over the most recent keys. Leaves of blocks that have been
    // dropped keep stale values; they are never read.
    std::vector<Extremes<double>> tree;
    std::int64_t blocks = 0;
    std::int64_t endKey = 0; // one past the last key appended
    bool summaryValid = true;
};
