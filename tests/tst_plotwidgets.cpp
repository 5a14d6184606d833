// The plot widgets' own rules, without a window: the live graph chooses the points
// QCustomPlot's own graph would draw.
#include "liveplotgraph.h"

#include <QtTest>
#include <qcustomplot.h>

#include <algorithm>
#include <cmath>
#include <random>

namespace
{

// The points a graph would draw for the current view: as QCPGraph chooses
// them (reference) or as the live graph does.
struct Probe : LivePlotGraph {
    using LivePlotGraph::LivePlotGraph;
    QStringList chosen(bool reference) const
    {
        QCPGraphDataContainer::const_iterator begin, end;
        getVisibleDataBounds(begin, end, QCPDataRange(0, dataCount()));
        QVector<QCPGraphData> points;
        if (begin != end)
            reference ? QCPGraph::getOptimizedLineData(&points, begin, end)
                      : getOptimizedLineData(&points, begin, end);
        QStringList lines;
        for (const QCPGraphData &p : points)
            lines << QString::number(p.key, 'g', 17) + " " + QString::number(p.value, 'g', 17);
        return lines;
    }
};

} // namespace

class TestPlotWidgets : public QObject
{
    Q_OBJECT

private slots:
    void liveGraphChoosesAsQCPGraph_data()
    {
        QTest::addColumn<int>("window");   // points kept: window + 1
        QTest::addColumn<int>("samples");  // appended in all, keys from 0
        QTest::addColumn<int>("clearAt");  // clearPoints() before this sample; -1: none
        QTest::addColumn<int>("oddKeyAt"); // a point off the keys' order before this sample
        QTest::newRow("sparse") << 300 << 1000 << -1 << -1;
        QTest::newRow("dense, window filling") << 20000 << 15000 << -1 << -1;
        QTest::newRow("dense, window sliding round its ring") << 20000 << 70000 << -1 << -1;
        QTest::newRow("window of one point") << 0 << 500 << -1 << -1;
        QTest::newRow("a key out of order") << 5000 << 8000 << -1 << 7990;
        QTest::newRow("a key out of order, then a clear") << 5000 << 30000 << 21111 << 20000;
    }
    // For any view, the same points QCPGraph would draw from the same data.
    void liveGraphChoosesAsQCPGraph()
    {
        QFETCH(int, window);
        QFETCH(int, samples);
        QFETCH(int, clearAt);
        QFETCH(int, oddKeyAt);
        QCustomPlot plot;
        plot.resize(600, 375);
        auto *graph = new Probe(plot.xAxis, plot.yAxis);
        std::mt19937 random(window + samples);
        long count = 0;
        for (int i = 0; i < samples; ++i, ++count) {
            if (i == clearAt) {
                graph->clearPoints();
                count = 0;
            }
            if (i == oddKeyAt)
                graph->appendPoint(count - 1.5, 1000);
            if (count > window)
                graph->dropBefore(double(count - window));
            // Slow waves with jumps, so that pixel columns differ.
            graph->appendPoint(double(count), std::trunc(150 * std::sin(0.05 * double(count))) +
                                                  std::uniform_int_distribution(-40, 40)(random));
        }
        QCOMPARE(graph->summarises(), oddKeyAt < 0 || clearAt > oddKeyAt);
        const double first = graph->data()->constBegin()->key;
        const double last = (graph->data()->constEnd() - 1)->key, span = last - first;
        QVector<QCPRange> views = {{double(count - 1 - window), (count - 1) * 1.2},
                                   {first, last},
                                   {first + span * 0.4, first + span * 0.45},
                                   {first - span, first + span * 0.3},
                                   {last + 10, last + 1000}};
        std::uniform_real_distribution<double> around(first - span / 2 - 5, last + span / 2 + 5);
        for (int i = 0; i < 60; ++i)
            views.append(QCPRange(around(random), around(random)).sanitizedForLinScale());
        for (const QCPRange &view : views) {
            plot.xAxis->setRange(view);
            plot.replot(); // lays the axes out for this view
            QCOMPARE(graph->chosen(false), graph->chosen(true));
        }
    }
};

QTEST_MAIN(TestPlotWidgets)
#include "tst_plotwidgets.moc"
