// The live plots as the user meets them: the sliding window of points, the
// time axis under each "Autoscale" state and after a drag, the arrangement of
// the two plots for each sensor set-up, "Clear plots", a long random run
// against a plain model of the rules, and a picture of both plots.
#include "mmtest.h"

#include <QCheckBox>
#include <QPushButton>
#include <QtTest>
#include <qcustomplot.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <deque>
#include <memory>
#include <random>

namespace
{

using Sample = std::array<int16_t, 6>; // accelerometer X Y Z, gyroscope X Y Z

QCustomPlot *accPlot(const MainWindow &w)
{
    return mmtest::widget<QCustomPlot>(&w, "accPlot");
}
QCustomPlot *gyroPlot(const MainWindow &w)
{
    return mmtest::widget<QCustomPlot>(&w, "gyroPlot");
}
QCheckBox *autoscale(const MainWindow &w)
{
    return mmtest::widget<QCheckBox>(&w, "Autoscale");
}

// A sample as the serial link hands it to the window.
void receive(MainWindow &w, const Sample &s)
{
    QVERIFY(QMetaObject::invokeMethod(
        &w, "OtaVastaanData", Q_ARG(int16_t, s[0]), Q_ARG(int16_t, s[1]), Q_ARG(int16_t, s[2]),
        Q_ARG(int16_t, s[3]), Q_ARG(int16_t, s[4]), Q_ARG(int16_t, s[5])));
}

// A sample whose values tell its key and its run apart.
Sample marked(int key, int run = 0)
{
    const auto v = [&](int channel) { return int16_t(run * 1000 + channel * 100 + key % 100); };
    return {v(0), v(1), v(2), v(3), v(4), v(5)};
}

QVector<double> keysOf(const QCPGraph *graph)
{
    QVector<double> keys;
    for (auto it = graph->data()->constBegin(); it != graph->data()->constEnd(); ++it)
        keys.append(it->key);
    return keys;
}

QVector<double> keyRange(int first, int last)
{
    QVector<double> keys;
    for (int k = first; k <= last; ++k)
        keys.append(k);
    return keys;
}

// The six graphs: accelerometer X Y Z, then gyroscope X Y Z.
std::array<QCPGraph *, 6> graphsOf(const MainWindow &w)
{
    return {accPlot(w)->graph(0),  accPlot(w)->graph(1),  accPlot(w)->graph(2),
            gyroPlot(w)->graph(0), gyroPlot(w)->graph(1), gyroPlot(w)->graph(2)};
}

mmtest::OptionsEditor plotOptions(int lines)
{
    return [lines](Options &o) {
        mmtest::setDrawPlots(o, true);
        mmtest::setAutoClearLines(o, lines);
    };
}

// Records the time-axis range that each redraw of a plot draws with.
struct RedrawRecorder {
    QVector<QCPRange> ranges;
    explicit RedrawRecorder(QCustomPlot *plot)
    {
        QObject::connect(plot, &QCustomPlot::afterReplot,
                         [this, plot] { ranges.append(plot->xAxis->range()); });
    }
};

void drag(QCustomPlot *plot, QPoint from, QPoint to)
{
    QTest::mousePress(plot, Qt::LeftButton, {}, from);
    QMouseEvent move(QEvent::MouseMove, to, plot->mapToGlobal(to), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QApplication::sendEvent(plot, &move);
    QTest::mouseRelease(plot, Qt::LeftButton, {}, to);
}

// Pixels of the graphs' colours outside the legend, as shown on the screen:
// one channel strong, the others weak (antialiasing blends the curves' edges
// with the background).
int curvePixels(QCustomPlot *plot)
{
    const QImage image = plot->grab().toImage();
    const QRect legend = plot->legend->outerRect();
    int n = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            const int channels[3] = {c.red(), c.green(), c.blue()};
            const auto strong =
                std::count_if(channels, channels + 3, [](int v) { return v >= 200; });
            const auto weak = std::count_if(channels, channels + 3, [](int v) { return v <= 120; });
            if (strong == 1 && weak == 2 && !legend.contains(x, y))
                ++n;
        }
    }
    return n;
}

} // namespace

class TestPlots : public QObject
{
    Q_OBJECT
private slots:
    void slidingWindow_data();
    void slidingWindow();
    void windowChangedWhileRunning();
    void timeAxisFollowsAutoscale_data();
    void timeAxisFollowsAutoscale();
    void draggedTimeAxis_data();
    void draggedTimeAxis();
    void arrangement_data();
    void arrangement();
    void hiddenPlotKeepsUp();
    void clearPlots();
    void randomRunMatchesModel();
    void screenshot();
};

void TestPlots::slidingWindow_data()
{
    QTest::addColumn<int>("lines");
    QTest::addColumn<int>("samples");
    QTest::addColumn<int>("firstKey");
    QTest::addColumn<int>("lastKey");

    QTest::newRow("filling") << 5 << 3 << 0 << 2;
    QTest::newRow("full, N + 1 points") << 5 << 6 << 0 << 5;
    QTest::newRow("key N + 1 pushes key 0 out") << 5 << 7 << 1 << 6;
    QTest::newRow("sliding") << 5 << 40 << 34 << 39;
    QTest::newRow("window 0 keeps one point") << 0 << 1 << 0 << 0;
    QTest::newRow("window 0, later") << 0 << 12 << 11 << 11;
    QTest::newRow("default window") << 100 << 250 << 149 << 249;
}

void TestPlots::slidingWindow()
{
    QFETCH(int, lines);
    QFETCH(int, samples);
    QFETCH(int, firstKey);
    QFETCH(int, lastKey);

    auto w = mmtest::startMainWindow(plotOptions(lines));
    QVERIFY(w);
    for (int k = 0; k < samples; ++k)
        receive(*w, marked(k));

    const auto graphs = graphsOf(*w);
    for (int g = 0; g < 6; ++g) {
        QCOMPARE(keysOf(graphs[g]), keyRange(firstKey, lastKey));
        // Each graph holds its own channel's values, unscaled.
        for (auto it = graphs[g]->data()->constBegin(); it != graphs[g]->data()->constEnd(); ++it)
            QCOMPARE(it->value, double(marked(int(it->key))[g]));
    }
}

void TestPlots::windowChangedWhileRunning()
{
    auto w = mmtest::startMainWindow(plotOptions(10));
    QVERIFY(w);
    int key = 0;
    for (; key < 30; ++key)
        receive(*w, marked(key));
    QCOMPARE(keysOf(accPlot(*w)->graph(0)), keyRange(19, 29));

    // Lowered: the points held stay as many, one out and one in per sample,
    // while the view narrows to the new window at once.
    QVERIFY(mmtest::reopenOptions(*w, [](Options &o) { mmtest::setAutoClearLines(o, 3); }));
    for (; key < 35; ++key)
        receive(*w, marked(key));
    for (QCPGraph *graph : graphsOf(*w))
        QCOMPARE(keysOf(graph), keyRange(24, 34));
    QCOMPARE(accPlot(*w)->xAxis->range(), QCPRange(34 - 3, 34 * 1.2));

    // Raised above the sample count: the points grow while the sample count
    // stays within the new window, then slide again.
    QVERIFY(mmtest::reopenOptions(*w, [](Options &o) { mmtest::setAutoClearLines(o, 100); }));
    for (; key < 60; ++key)
        receive(*w, marked(key));
    for (QCPGraph *graph : graphsOf(*w))
        QCOMPARE(keysOf(graph), keyRange(24, 59));
    for (; key <= 110; ++key)
        receive(*w, marked(key));
    for (QCPGraph *graph : graphsOf(*w))
        QCOMPARE(keysOf(graph), keyRange(34, 110));
}

void TestPlots::timeAxisFollowsAutoscale_data()
{
    QTest::addColumn<Qt::CheckState>("state");
    QTest::addColumn<int>("samples");
    QTest::addColumn<QCPRange>("afterLast"); // the range once the last sample is drawn
    QTest::addColumn<QCPRange>("drawnLast"); // the range the last sample was drawn with

    QTest::newRow("checked, first sample")
        << Qt::Checked << 1 << QCPRange(-100, 0) << QCPRange(0, 100);
    QTest::newRow("checked, key 250")
        << Qt::Checked << 251 << QCPRange(150, 300) << QCPRange(149, 249 * 1.2);
    QTest::newRow("partly checked, key 250")
        << Qt::PartiallyChecked << 251 << QCPRange(150, 270) << QCPRange(149, 269);
    QTest::newRow("unchecked") << Qt::Unchecked << 251 << QCPRange(0, 100) << QCPRange(0, 100);
}

void TestPlots::timeAxisFollowsAutoscale()
{
    QFETCH(Qt::CheckState, state);
    QFETCH(int, samples);
    QFETCH(QCPRange, afterLast);
    QFETCH(QCPRange, drawnLast);

    auto w = mmtest::startMainWindow(plotOptions(100));
    QVERIFY(w);
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    autoscale(*w)->setCheckState(state);
    RedrawRecorder accRedraws(accPlot(*w)), gyroRedraws(gyroPlot(*w));
    for (int k = 0; k < samples; ++k)
        receive(*w, marked(k));

    for (QCustomPlot *plot : {accPlot(*w), gyroPlot(*w)})
        QCOMPARE(plot->xAxis->range(), afterLast);
    for (RedrawRecorder *redraws : {&accRedraws, &gyroRedraws}) {
        QCOMPARE(redraws->ranges.size(), samples);
        QCOMPARE(redraws->ranges.last(), drawnLast);
    }
    // The value axes are left alone.
    QCOMPARE(accPlot(*w)->yAxis->range(), QCPRange(-150, 1100));
    QCOMPARE(gyroPlot(*w)->yAxis->range(), QCPRange(-500, 500));
}

void TestPlots::draggedTimeAxis_data()
{
    QTest::addColumn<Qt::CheckState>("state");
    QTest::newRow("checked") << Qt::Checked;
    QTest::newRow("partly checked") << Qt::PartiallyChecked;
    QTest::newRow("unchecked") << Qt::Unchecked;
}

void TestPlots::draggedTimeAxis()
{
    QFETCH(Qt::CheckState, state);

    auto w = mmtest::startMainWindow(plotOptions(100));
    QVERIFY(w);
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    autoscale(*w)->setCheckState(state);
    for (int k = 0; k < 50; ++k)
        receive(*w, marked(k));

    QCustomPlot *plot = accPlot(*w);
    const QCPRange before = plot->xAxis->range();
    const QPoint centre = plot->axisRect()->rect().center();
    drag(plot, centre, centre + QPoint(120, 40));
    const QCPRange dragged = plot->xAxis->range();
    QVERIFY2(dragged.lower < before.lower - 1, "the drag moved the time axis");
    const QCPRange draggedValues = plot->yAxis->range();
    QVERIFY(draggedValues != QCPRange(-150, 1100));

    RedrawRecorder redraws(plot);
    receive(*w, marked(50));
    // The drag stays on the screen for the next sample in every state...
    QCOMPARE(redraws.ranges.size(), 1);
    QCOMPARE(redraws.ranges.first(), dragged);
    // ...after which only "unchecked" keeps it; the value axis is kept always.
    if (state == Qt::Unchecked)
        QCOMPARE(plot->xAxis->range(), dragged);
    else
        QCOMPARE(plot->xAxis->range().lower, 50.0 - 100);
    QCOMPARE(plot->yAxis->range(), draggedValues);
}

void TestPlots::arrangement_data()
{
    QTest::addColumn<bool>("s1On");
    QTest::addColumn<bool>("s2On");
    QTest::addColumn<int>("s1Sensor");
    QTest::addColumn<bool>("accShown");
    QTest::addColumn<QRect>("accGeometry");
    QTest::addColumn<bool>("gyroShown");
    QTest::addColumn<QRect>("gyroGeometry");

    const QRect upper(400, 23, 600, 375), lower(400, 398, 600, 375), tall(400, 23, 600, 700);
    QTest::newRow("both slots") << true << true << 0 << true << upper << true << lower;
    QTest::newRow("both slots, accelerometer first")
        << true << true << 1 << true << upper << true << lower;
    QTest::newRow("slot 2 only") << false << true << 0 << false << upper << false << lower;
    QTest::newRow("slot 1 gyroscope") << true << false << 0 << false << upper << true << tall;
    QTest::newRow("slot 1 accelerometer") << true << false << 1 << true << tall << false << lower;
    QTest::newRow("neither, slot 1 gyroscope")
        << false << false << 0 << false << upper << true << tall;
    QTest::newRow("neither, slot 1 accelerometer")
        << false << false << 1 << true << tall << false << lower;
}

void TestPlots::arrangement()
{
    QFETCH(bool, s1On);
    QFETCH(bool, s2On);
    QFETCH(int, s1Sensor);
    QFETCH(bool, accShown);
    QFETCH(QRect, accGeometry);
    QFETCH(bool, gyroShown);
    QFETCH(QRect, gyroGeometry);
    const auto sensors = [=](Options &o) {
        mmtest::setSensor(o, 1, s1On, s1Sensor, 6);
        mmtest::setSensor(o, 2, s2On, 1 - s1Sensor, 6);
    };

    // At start-up; hidden plots keep the geometry of the set-up, the upper
    // and lower places of both.
    auto w = mmtest::startMainWindow(sensors);
    QVERIFY(w);
    QCOMPARE(!accPlot(*w)->isHidden(), accShown);
    QCOMPARE(!gyroPlot(*w)->isHidden(), gyroShown);
    if (accShown)
        QCOMPARE(accPlot(*w)->geometry(), accGeometry);
    if (gyroShown)
        QCOMPARE(gyroPlot(*w)->geometry(), gyroGeometry);
    QCOMPARE(w->size(), QSize(1000, 780));

    // From the menu, after both plots were shown: a hidden plot keeps its
    // place, and "Clear plots" is there whatever the arrangement.
    auto again = mmtest::startMainWindow();
    QVERIFY(again);
    QVERIFY(mmtest::reopenOptions(*again, sensors));
    QCOMPARE(!accPlot(*again)->isHidden(), accShown);
    QCOMPARE(!gyroPlot(*again)->isHidden(), gyroShown);
    QCOMPARE(accPlot(*again)->geometry(), accGeometry);
    QCOMPARE(gyroPlot(*again)->geometry(), gyroGeometry);
    QCOMPARE(again->size(), QSize(1000, 780));
    auto *clear = mmtest::widget<QPushButton>(again.get(), "clearPlotsButton");
    QCOMPARE(clear->text(), QString("Clear plots"));
    QCOMPARE(clear->pos(), QPoint(300, 650));
    QVERIFY(!clear->isHidden());
}

void TestPlots::hiddenPlotKeepsUp()
{
    // Slot 1 gyroscope alone: the accelerometer plot is hidden.
    auto w = mmtest::startMainWindow([](Options &o) {
        mmtest::setAutoClearLines(o, 10);
        mmtest::setSensor(o, 1, true, 0, 6);
        mmtest::setSensor(o, 2, false, 1, 6);
    });
    QVERIFY(w);
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    QVERIFY(accPlot(*w)->isHidden());
    RedrawRecorder accRedraws(accPlot(*w)), gyroRedraws(gyroPlot(*w));
    for (int k = 0; k < 30; ++k)
        receive(*w, marked(k));
    // Every point reached the hidden plot, which was not drawn.
    for (QCPGraph *graph : graphsOf(*w))
        QCOMPARE(keysOf(graph), keyRange(19, 29));
    QCOMPARE(accRedraws.ranges.size(), 0);
    QCOMPARE(gyroRedraws.ranges.size(), 30);

    // Shown again: drawn at once, with the same keys as the other plot.
    QVERIFY(mmtest::reopenOptions(*w, [](Options &o) {
        mmtest::setSensor(o, 1, true, 0, 6);
        mmtest::setSensor(o, 2, true, 1, 6);
    }));
    QVERIFY(!accPlot(*w)->isHidden());
    QTRY_VERIFY_WITH_TIMEOUT(!accRedraws.ranges.isEmpty(), 5000);
    QCOMPARE(accRedraws.ranges.last(), gyroPlot(*w)->xAxis->range());
    const int redrawsWhenShown = accRedraws.ranges.size();
    receive(*w, marked(30));
    for (QCPGraph *graph : graphsOf(*w))
        QCOMPARE(keysOf(graph), keyRange(20, 30));
    QCOMPARE(accRedraws.ranges.size(), redrawsWhenShown + 1);
    QVERIFY(curvePixels(accPlot(*w)) > 0);
}

void TestPlots::clearPlots()
{
    auto w = mmtest::startMainWindow(plotOptions(10));
    QVERIFY(w);
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    for (int k = 0; k < 25; ++k)
        receive(*w, marked(k, 1));
    QVERIFY(curvePixels(accPlot(*w)) > 0);

    mmtest::widget<QPushButton>(w.get(), "clearPlotsButton")->click();
    for (QCPGraph *graph : graphsOf(*w))
        QCOMPARE(graph->dataCount(), 0);
    // The cleared plots are redrawn at once, also with acquisition stopped.
    QCOMPARE(curvePixels(accPlot(*w)), 0);
    QCOMPARE(curvePixels(gyroPlot(*w)), 0);

    // The next sample is key 0 on empty plots; nothing of the first run
    // comes back, and the window fills as after start-up.
    receive(*w, marked(0, 2));
    for (QCPGraph *graph : graphsOf(*w))
        QCOMPARE(keysOf(graph), keyRange(0, 0));
    for (int k = 1; k < 16; ++k)
        receive(*w, marked(k, 2));
    const auto graphs = graphsOf(*w);
    for (int g = 0; g < 6; ++g) {
        QCOMPARE(keysOf(graphs[g]), keyRange(5, 15));
        for (auto it = graphs[g]->data()->constBegin(); it != graphs[g]->data()->constEnd(); ++it)
            QCOMPARE(it->value, double(marked(int(it->key), 2)[g]));
    }
}

void TestPlots::randomRunMatchesModel()
{
    // The rules, plainly: a sample drops the oldest point once more samples
    // than the window have been drawn since the start or the last clear, and
    // appends one at key sampleCount; the time axis moves after the redraw;
    // a clear empties everything and restarts the keys at 0.
    struct Model {
        int lines = 100;
        int count = 0;
        std::deque<std::pair<int, Sample>> points;
        QCPRange range{0, 100};
        Qt::CheckState state = Qt::Checked;
        void sample(const Sample &s)
        {
            if (count > lines)
                points.pop_front();
            points.emplace_back(count, s);
            QCPRange next = range;
            if (state == Qt::Checked)
                next = QCPRange(count - lines, count * 1.2);
            else if (state == Qt::PartiallyChecked)
                next = QCPRange(count - lines, count + 20);
            // QCustomPlot keeps its range rather than take an empty one
            // (window 0, first sample, "checked").
            if (QCPRange::validRange(next))
                range = next;
            ++count;
        }
        void clear()
        {
            count = 0;
            points.clear();
        }
    } model;

    auto w = mmtest::startMainWindow(plotOptions(model.lines));
    QVERIFY(w);
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    auto *clear = mmtest::widget<QPushButton>(w.get(), "clearPlotsButton");
    std::mt19937 random(20240611);
    auto chance = [&](int percent) {
        return std::uniform_int_distribution<int>(0, 99)(random) < percent;
    };
    auto between = [&](int lo, int hi) {
        return std::uniform_int_distribution<int>(lo, hi)(random);
    };

    for (int step = 0; step < 4000; ++step) {
        if (chance(2)) {
            // Window and arrangement through the options dialog, as a user.
            model.lines = chance(10) ? between(1000, 3000) : between(0, 60);
            const bool s1 = chance(70), s2 = chance(70);
            const int type = between(0, 1);
            QVERIFY(mmtest::reopenOptions(*w, [&](Options &o) {
                mmtest::setAutoClearLines(o, model.lines);
                mmtest::setSensor(o, 1, s1, type, 6);
                mmtest::setSensor(o, 2, s2, 1 - type, 6);
            }));
        } else if (chance(2)) {
            clear->click();
            model.clear();
        } else if (chance(3)) {
            model.state = Qt::CheckState(between(0, 2));
            autoscale(*w)->setCheckState(model.state);
        } else {
            Sample s;
            for (int16_t &v : s)
                v = int16_t(between(-32768, 32767));
            receive(*w, s);
            model.sample(s);
        }

        const auto graphs = graphsOf(*w);
        for (int g = 0; g < 6; ++g) {
            QCOMPARE(graphs[g]->dataCount(), int(model.points.size()));
            auto it = graphs[g]->data()->constBegin();
            for (const auto &[key, s] : model.points) {
                QCOMPARE(it->key, double(key));
                QCOMPARE(it->value, double(s[g]));
                ++it;
            }
        }
        QCOMPARE(accPlot(*w)->xAxis->range(), model.range);
        QCOMPARE(gyroPlot(*w)->xAxis->range(), model.range);
    }
}

void TestPlots::screenshot()
{
    auto w = mmtest::startMainWindow([](Options &o) {
        mmtest::setTestMode(o, true);
        mmtest::setDrawPlots(o, true);
    });
    QVERIFY(w);
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    for (int tick = 0; tick < 300; ++tick)
        QVERIFY(QMetaObject::invokeMethod(w.get(), "MainTimeout"));
    QCoreApplication::processEvents();

    const QString path = QDir::temp().filePath("motionmonitor-plots.png");
    QVERIFY(w->grab().save(path));
    qInfo("both plots after 300 test-mode samples: %s", qPrintable(path));
    QVERIFY(curvePixels(accPlot(*w)) > 500);
    QVERIFY(curvePixels(gyroPlot(*w)) > 500);
}

QTEST_MAIN(TestPlots)
#include "tst_plots.moc"
