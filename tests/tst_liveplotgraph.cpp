// The live graph against QCustomPlot's own graph: for any window, view and
// history of appends, drops and clears, it must choose the same points for
// drawing as a QCPGraph holding the same data, and a plot drawn with it must
// have the same pixels.
#include "liveplot.h"
#include "liveplotgraph.h"

#include <QtTest>

#include <cmath>
#include <random>

namespace
{

// Opens up the points each graph would draw for the current view.
class Probe : public LivePlotGraph
{
public:
    using LivePlotGraph::LivePlotGraph;

    // reference: as QCPGraph chooses them; else as this graph does. As
    // text, so that a comparison names the first point that differs.
    QStringList chosen(bool reference) const
    {
        QCPGraphDataContainer::const_iterator begin, end;
        getVisibleDataBounds(begin, end, QCPDataRange(0, dataCount()));
        QVector<QCPGraphData> points;
        if (begin != end && reference)
            QCPGraph::getOptimizedLineData(&points, begin, end);
        else if (begin != end)
            getOptimizedLineData(&points, begin, end);
        QStringList lines;
        for (const QCPGraphData &p : points)
            lines << QString::number(p.key, 'g', 17) + " " + QString::number(p.value, 'g', 17);
        return lines;
    }
};

// Values with both slow waves and jumps, so that columns differ.
double valueAt(long key, std::mt19937 &random)
{
    return std::trunc(150 * std::sin(0.05 * double(key))) +
           std::uniform_int_distribution<int>(-40, 40)(random);
}

} // namespace

class TestLivePlotGraph : public QObject
{
    Q_OBJECT
private slots:
    void choosesThePointsQCPGraphChooses_data()
    {
        QTest::addColumn<int>("window");  // points kept: window + 1
        QTest::addColumn<int>("samples"); // appended in all, keys from 0
        QTest::addColumn<int>("clearAt"); // clearPoints() before this sample; -1 for none
        // Before this sample, a point whose key is not the next: the graph
        // then leaves the choice to QCPGraph until the next clear. -1 for none.
        QTest::addColumn<int>("oddKeyAt");
        QTest::newRow("sparse, fewer points than pixels") << 300 << 1000 << -1 << -1;
        QTest::newRow("just dense") << 1200 << 3000 << -1 << -1;
        QTest::newRow("dense, window filling") << 20000 << 15000 << -1 << -1;
        QTest::newRow("dense, window sliding") << 20000 << 47000 << -1 << -1;
        QTest::newRow("dense, after a clear") << 5000 << 30000 << 21111 << -1;
        QTest::newRow("window of one point") << 0 << 500 << -1 << -1;
        QTest::newRow("large window") << 100000 << 130000 << -1 << -1;
        QTest::newRow("a key out of order") << 5000 << 8000 << -1 << 7990;
        QTest::newRow("a key out of order, then a clear") << 5000 << 30000 << 21111 << 20000;
    }

    void choosesThePointsQCPGraphChooses()
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
        bool odd = false; // an odd key held
        for (int i = 0; i < samples; ++i) {
            if (i == clearAt) {
                graph->clearPoints();
                count = 0;
                odd = false;
            }
            if (i == oddKeyAt) {
                graph->appendPoint(count - 1.5, 1000);
                odd = true;
            }
            if (count > window)
                graph->dropBefore(double(count - window));
            graph->appendPoint(double(count), valueAt(count, random));
            ++count;
        }
        QCOMPARE(graph->dataCount(), int(std::min<long>(count, window + 1)) + odd);
        QCOMPARE(graph->summarises(), !odd);

        // Views: the program's two following modes, the whole data, zoomed in,
        // panned partly and wholly off the data, and random ones.
        const double first = graph->data()->constBegin()->key;
        const double last = (graph->data()->constEnd() - 1)->key;
        QVector<QCPRange> views = {
            {double(count - 1 - window), (count - 1) * 1.2},
            {double(count - 1 - window), double(count - 1 + 20)},
            {first, last},
            {first + (last - first) * 0.4, first + (last - first) * 0.45},
            {first - (last - first), first + (last - first) * 0.3},
            {last + 10, last + 1000},
        };
        std::uniform_real_distribution<double> around(first - 0.5 * (last - first + 10),
                                                      last + 0.5 * (last - first + 10));
        for (int i = 0; i < 60; ++i) {
            const double a = around(random), b = around(random);
            if (a != b)
                views.append(QCPRange(a, b));
        }
        int dense = 0;
        for (const QCPRange &view : views) {
            plot.xAxis->setRange(view);
            plot.replot(); // lays the axes out for this view
            const QStringList reference = graph->chosen(true);
            if (graph->chosen(false) != reference)
                qWarning("view %.3f .. %.3f", view.lower, view.upper);
            QCOMPARE(graph->chosen(false), reference);
            dense += reference.size() < graph->dataCount() / 2;
        }
        // The dense rows must have exercised the summary, not only the sparse path.
        if (window > 1000 && count > 2000)
            QVERIFY(dense > 0);
    }

    void drawsTheSamePixelsAsQCPGraph()
    {
        LivePlot live;
        QCustomPlot reference;
        std::mt19937 random(11);
        const QColor colours[3] = {QColor(0, 0, 255), QColor(0, 255, 0), QColor(255, 0, 0)};
        for (const QColor &colour : colours) {
            live.addLiveGraph()->setPen(QPen(colour));
            reference.addGraph()->setPen(QPen(colour));
        }
        const int window = 30000;
        long count = 0;
        for (; count < 45000; ++count) {
            for (int g = 0; g < 3; ++g) {
                const double value = valueAt(count, random) * (g + 1) / 3;
                if (count > window) {
                    live.liveGraph(g)->dropBefore(double(count - window));
                    reference.graph(g)->data()->removeBefore(double(count - window));
                }
                live.liveGraph(g)->appendPoint(double(count), value);
                reference.graph(g)->addData(double(count), value);
            }
        }
        for (const QCPRange &view : {QCPRange(count - window, count * 1.2), QCPRange(20000, 21500),
                                     QCPRange(count - 200, count + 20)}) {
            for (QCustomPlot *plot : {static_cast<QCustomPlot *>(&live), &reference}) {
                plot->xAxis->setRange(view);
                plot->yAxis->setRange(-250, 250);
            }
            const QImage image = live.toPixmap(600, 375).toImage();
            QVERIFY(!image.isNull());
            QVERIFY2(image == reference.toPixmap(600, 375).toImage(),
                     qPrintable(QString("view %1 .. %2").arg(view.lower).arg(view.upper)));
        }
    }
};

QTEST_MAIN(TestLivePlotGraph)
#include "tst_liveplotgraph.moc"
