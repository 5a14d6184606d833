// The live plots as the user meets them: the sliding window of points, the
// time axis under each "Autoscale" state and after a drag, the arrangement for
// each sensor set-up, "Clear plots", a long random run against a plain model
// of the rules, and a picture of both plots.
#include "mmtest.h"

#include <QCheckBox>
#include <QPushButton>
#include <QtTest>
#include <qcustomplot.h>

#include <array>
#include <random>

namespace
{

using Sample = std::array<int16_t, 6>; // accelerometer X Y Z, gyroscope X Y Z

// A sample whose values tell its key and its run apart.
Sample marked(int key, int run = 0)
{
    const auto v = [&](int channel) { return int16_t(run * 1000 + channel * 100 + key % 100); };
    return {v(0), v(1), v(2), v(3), v(4), v(5)};
}

// One point of the six graphs: "key: values".
template <class Values> QString pointLine(double key, const Values &values)
{
    QStringList fields{QString::number(key, 'g', 10) + ":"};
    for (double v : values)
        fields << QString::number(v, 'g', 10);
    return fields.join(' ');
}

// The points held for the marked samples of keys first..last.
QStringList marks(int first, int last, int run = 0)
{
    QStringList lines;
    for (int key = first; key <= last; ++key)
        lines << pointLine(key, marked(key, run));
    return lines;
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

// Pixels of the graphs' colours outside the legend, as shown on the screen:
// one channel strong, the others weak (antialiasing blends the curves' edges).
int curvePixels(QCustomPlot *plot)
{
    const QImage image = plot->grab().toImage();
    const QRect legend = plot->legend->outerRect();
    int n = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            int strong = 0, weak = 0;
            for (int v : {c.red(), c.green(), c.blue()}) {
                strong += v >= 200;
                weak += v <= 120;
            }
            n += strong == 1 && weak == 2 && !legend.contains(x, y);
        }
    }
    return n;
}

} // namespace

class TestPlots : public QObject
{
    Q_OBJECT
    std::unique_ptr<MainWindow> w;

    // Starts the window with the plot window `lines` and more edits, shown on
    // the screen when `show` (the plots draw only then).
    bool start(int lines, bool show = false, const mmtest::OptionsEditor &edit = {})
    {
        w = mmtest::startMainWindow([&](Options &o) {
            mmtest::setAutoClearLines(o, lines);
            if (edit)
                edit(o);
        });
        if (w && show)
            w->show();
        return w && (!show || QTest::qWaitForWindowExposed(w.get()));
    }
    QCustomPlot *acc() const { return mmtest::widget<QCustomPlot>(w.get(), "accPlot"); }
    QCustomPlot *gyro() const { return mmtest::widget<QCustomPlot>(w.get(), "gyroPlot"); }
    void setAutoscale(Qt::CheckState s)
    {
        mmtest::widget<QCheckBox>(w.get(), "Autoscale")->setCheckState(s);
    }
    void clickClear() { mmtest::widget<QPushButton>(w.get(), "clearPlotsButton")->click(); }
    // A sample as the serial link hands it to the window.
    void receive(const Sample &s)
    {
        QVERIFY(QMetaObject::invokeMethod(w.get(), "OtaVastaanData", Q_ARG(int16_t, s[0]),
                                          Q_ARG(int16_t, s[1]), Q_ARG(int16_t, s[2]),
                                          Q_ARG(int16_t, s[3]), Q_ARG(int16_t, s[4]),
                                          Q_ARG(int16_t, s[5])));
    }
    void receiveMarked(int first, int last, int run = 0)
    {
        for (int key = first; key <= last; ++key)
            receive(marked(key, run));
    }
    // What the six graphs hold, one pointLine per key.
    QStringList held() const
    {
        const QCPGraph *graphs[6] = {acc()->graph(0),  acc()->graph(1),  acc()->graph(2),
                                     gyro()->graph(0), gyro()->graph(1), gyro()->graph(2)};
        QStringList lines;
        for (int i = 0; i < graphs[0]->dataCount(); ++i) {
            std::array<double, 6> values;
            for (int g = 0; g < 6; ++g) {
                if (graphs[g]->dataCount() != graphs[0]->dataCount() ||
                    graphs[g]->data()->at(i)->key != graphs[0]->data()->at(i)->key)
                    return {QStringLiteral("graph %1 holds other keys than graph 0").arg(g)};
                values[g] = graphs[g]->data()->at(i)->value;
            }
            lines << pointLine(graphs[0]->data()->at(i)->key, values);
        }
        return lines;
    }

private slots:
    void cleanup() { w.reset(); }

    void slidingWindow_data()
    {
        QTest::addColumn<int>("lines");
        QTest::addColumn<int>("samples");
        QTest::addColumn<int>("firstKey");
        QTest::addColumn<int>("lastKey");
        QTest::newRow("filling") << 5 << 3 << 0 << 2;
        QTest::newRow("full, N + 1 points") << 5 << 6 << 0 << 5;
        QTest::newRow("key N + 1 pushes key 0 out") << 5 << 7 << 1 << 6;
        QTest::newRow("window 0 keeps one point") << 0 << 1 << 0 << 0;
        QTest::newRow("window 0, later") << 0 << 12 << 11 << 11;
        QTest::newRow("default window") << 100 << 250 << 149 << 249;
    }
    void slidingWindow()
    {
        QFETCH(int, lines);
        QFETCH(int, samples);
        QFETCH(int, firstKey);
        QFETCH(int, lastKey);
        QVERIFY(start(lines));
        receiveMarked(0, samples - 1);
        QCOMPARE(held(), marks(firstKey, lastKey));
    }

    void windowChangedWhileRunning()
    {
        QVERIFY(start(10));
        receiveMarked(0, 29);
        QCOMPARE(held(), marks(19, 29));
        // Lowered: the points held stay as many, one out and one in per
        // sample, while the view narrows to the new window at once.
        QVERIFY(mmtest::reopenOptions(*w, [](Options &o) { mmtest::setAutoClearLines(o, 3); }));
        receiveMarked(30, 34);
        QCOMPARE(held(), marks(24, 34));
        QCOMPARE(acc()->xAxis->range(), QCPRange(34 - 3, 34 * 1.2));
        // Raised above the sample count: the points grow while the sample
        // count stays within the new window, then slide again.
        QVERIFY(mmtest::reopenOptions(*w, [](Options &o) { mmtest::setAutoClearLines(o, 100); }));
        receiveMarked(35, 59);
        QCOMPARE(held(), marks(24, 59));
        receiveMarked(60, 110);
        QCOMPARE(held(), marks(34, 110));
    }

    void timeAxis_data()
    {
        QTest::addColumn<Qt::CheckState>("state");
        QTest::addColumn<int>("samples");
        QTest::addColumn<bool>("drag"); // the time axis dragged before the last sample
        // The ranges once the last sample is drawn, and that it was drawn
        // with; QCPRange(): the dragged range.
        QTest::addColumn<QCPRange>("afterLast");
        QTest::addColumn<QCPRange>("drawnLast");
        QTest::newRow("checked, first sample")
            << Qt::Checked << 1 << false << QCPRange(-100, 0) << QCPRange(0, 100);
        QTest::newRow("checked, key 250")
            << Qt::Checked << 251 << false << QCPRange(150, 300) << QCPRange(149, 249 * 1.2);
        QTest::newRow("partly checked, key 250")
            << Qt::PartiallyChecked << 251 << false << QCPRange(150, 270) << QCPRange(149, 269);
        QTest::newRow("unchecked")
            << Qt::Unchecked << 251 << false << QCPRange(0, 100) << QCPRange(0, 100);
        // A drag stays on the screen for the next sample in every state;
        // after it only "unchecked" keeps it.
        QTest::newRow("checked, dragged")
            << Qt::Checked << 51 << true << QCPRange(-50, 60) << QCPRange();
        QTest::newRow("partly checked, dragged")
            << Qt::PartiallyChecked << 51 << true << QCPRange(-50, 70) << QCPRange();
        QTest::newRow("unchecked, dragged")
            << Qt::Unchecked << 51 << true << QCPRange() << QCPRange();
    }
    void timeAxis()
    {
        QFETCH(Qt::CheckState, state);
        QFETCH(int, samples);
        QFETCH(bool, drag);
        QFETCH(QCPRange, afterLast);
        QFETCH(QCPRange, drawnLast);
        QVERIFY(start(100, true));
        setAutoscale(state);
        receiveMarked(0, samples - 2);
        const QCPRange before = acc()->xAxis->range();
        if (drag) {
            const QPoint from = acc()->axisRect()->rect().center(), to = from + QPoint(120, 40);
            QTest::mousePress(acc(), Qt::LeftButton, {}, from);
            QMouseEvent move(QEvent::MouseMove, to, acc()->mapToGlobal(to), Qt::NoButton,
                             Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(acc(), &move);
            QTest::mouseRelease(acc(), Qt::LeftButton, {}, to);
        }
        const QCPRange dragged = acc()->xAxis->range(), values = acc()->yAxis->range();
        QCOMPARE(dragged != before && values != QCPRange(-150, 1100), drag);
        const auto orDragged = [&](QCPRange r) { return r == QCPRange() ? dragged : r; };
        RedrawRecorder accRedraws(acc()), gyroRedraws(gyro());
        receive(marked(samples - 1));
        QCOMPARE(accRedraws.ranges, QVector<QCPRange>{orDragged(drawnLast)});
        QCOMPARE(acc()->xAxis->range(), orDragged(afterLast));
        QCOMPARE(acc()->yAxis->range(), values); // the value axis is left alone
        if (!drag) {
            QCOMPARE(gyroRedraws.ranges, accRedraws.ranges);
            QCOMPARE(gyro()->xAxis->range(), afterLast);
            QCOMPARE(gyro()->yAxis->range(), QCPRange(-500, 500));
        }
    }

    void arrangement_data()
    {
        QTest::addColumn<bool>("s1On");
        QTest::addColumn<bool>("s2On");
        QTest::addColumn<int>("s1Sensor");
        QTest::addColumn<QRect>("accGeometry"); // null: hidden
        QTest::addColumn<QRect>("gyroGeometry");
        const QRect upper(400, 23, 600, 375), lower(400, 398, 600, 375), tall(400, 23, 600, 700);
        QTest::newRow("both slots") << true << true << 0 << upper << lower;
        QTest::newRow("both slots, accelerometer first") << true << true << 1 << upper << lower;
        QTest::newRow("slot 2 only") << false << true << 0 << QRect() << QRect();
        QTest::newRow("slot 1 gyroscope") << true << false << 0 << QRect() << tall;
        QTest::newRow("slot 1 accelerometer") << true << false << 1 << tall << QRect();
        QTest::newRow("neither, slot 1 gyroscope") << false << false << 0 << QRect() << tall;
        QTest::newRow("neither, slot 1 accelerometer") << false << false << 1 << tall << QRect();
    }
    // At start-up, and from the menu after both plots were shown, where a
    // hidden plot keeps its place. "Clear plots" is there in every case.
    void arrangement()
    {
        QFETCH(bool, s1On);
        QFETCH(bool, s2On);
        QFETCH(int, s1Sensor);
        QFETCH(QRect, accGeometry);
        QFETCH(QRect, gyroGeometry);
        const auto sensors = [=](Options &o) {
            mmtest::setSensor(o, 1, s1On, s1Sensor, 6);
            mmtest::setSensor(o, 2, s2On, 1 - s1Sensor, 6);
        };
        for (const bool fromMenu : {false, true}) {
            QVERIFY(start(100, false, fromMenu ? mmtest::OptionsEditor() : sensors));
            if (fromMenu)
                QVERIFY(mmtest::reopenOptions(*w, sensors));
            const QRect upper(400, 23, 600, 375), lower(400, 398, 600, 375);
            QCOMPARE(acc()->isHidden(), accGeometry.isNull());
            QCOMPARE(gyro()->isHidden(), gyroGeometry.isNull());
            if (!accGeometry.isNull() || fromMenu)
                QCOMPARE(acc()->geometry(), accGeometry.isNull() ? upper : accGeometry);
            if (!gyroGeometry.isNull() || fromMenu)
                QCOMPARE(gyro()->geometry(), gyroGeometry.isNull() ? lower : gyroGeometry);
            QCOMPARE(w->size(), QSize(1000, 780));
            auto *clear = mmtest::widget<QPushButton>(w.get(), "clearPlotsButton");
            QCOMPARE(clear->text(), QString("Clear plots"));
            QCOMPARE(clear->pos(), QPoint(300, 650));
            QVERIFY(!clear->isHidden());
        }
    }

    void hiddenPlotKeepsUp()
    {
        // Slot 1 gyroscope alone: the accelerometer plot is hidden.
        QVERIFY(start(10, true, [](Options &o) { mmtest::setSensor(o, 2, false, 1, 6); }));
        QVERIFY(acc()->isHidden());
        RedrawRecorder accRedraws(acc()), gyroRedraws(gyro());
        receiveMarked(0, 29);
        // Every point reached the hidden plot, which was not drawn.
        QCOMPARE(held(), marks(19, 29));
        QCOMPARE(accRedraws.ranges.size(), 0);
        QCOMPARE(gyroRedraws.ranges.size(), 30);

        // Shown again: drawn at once, with the same keys as the other plot.
        QVERIFY(mmtest::reopenOptions(*w, [](Options &o) { mmtest::setSensor(o, 2, true, 1, 6); }));
        QVERIFY(!acc()->isHidden());
        QTRY_VERIFY_WITH_TIMEOUT(!accRedraws.ranges.isEmpty(), 5000);
        QCOMPARE(accRedraws.ranges.last(), gyro()->xAxis->range());
        const int redrawsWhenShown = accRedraws.ranges.size();
        receive(marked(30));
        QCOMPARE(held(), marks(20, 30));
        QCOMPARE(accRedraws.ranges.size(), redrawsWhenShown + 1);
        QVERIFY(curvePixels(acc()) > 0);
    }

    void clearPlots()
    {
        QVERIFY(start(10, true));
        receiveMarked(0, 24, 1);
        QVERIFY(curvePixels(acc()) > 0);
        clickClear();
        QCOMPARE(held(), QStringList());
        // The cleared plots are redrawn at once, also with acquisition stopped.
        QCOMPARE(curvePixels(acc()), 0);
        QCOMPARE(curvePixels(gyro()), 0);
        // The next sample is key 0 on empty plots; nothing of the first run
        // comes back, and the window fills as after start-up.
        receive(marked(0, 2));
        QCOMPARE(held(), marks(0, 0, 2));
        receiveMarked(1, 15, 2);
        QCOMPARE(held(), marks(5, 15, 2));
    }

    void randomRunMatchesModel()
    {
        // The rules, plainly: a sample drops the oldest point once more
        // samples than the window have been drawn since the start or the last
        // clear, and appends one at key sampleCount; the time axis moves after
        // the redraw; a clear empties everything and restarts the keys at 0.
        int lines = 100, count = 0;
        QStringList points;
        QCPRange range(0, 100);
        Qt::CheckState state = Qt::Checked;

        QVERIFY(start(lines, true));
        std::mt19937 random(20240611);
        const auto between = [&](int lo, int hi) {
            return std::uniform_int_distribution<int>(lo, hi)(random);
        };
        for (int step = 0; step < 4000; ++step) {
            const int dice = between(0, 99);
            if (dice < 2) {
                // Window and arrangement through the options dialog, as a user.
                lines = between(0, 9) ? between(0, 60) : between(1000, 3000);
                const bool s1 = between(0, 9) < 7, s2 = between(0, 9) < 7;
                const int type = between(0, 1);
                QVERIFY(mmtest::reopenOptions(*w, [&](Options &o) {
                    mmtest::setAutoClearLines(o, lines);
                    mmtest::setSensor(o, 1, s1, type, 6);
                    mmtest::setSensor(o, 2, s2, 1 - type, 6);
                }));
            } else if (dice < 4) {
                clickClear();
                count = 0;
                points.clear();
            } else if (dice < 7) {
                state = Qt::CheckState(between(0, 2));
                setAutoscale(state);
            } else {
                Sample s;
                for (int16_t &v : s)
                    v = int16_t(between(-32768, 32767));
                receive(s);
                if (count > lines)
                    points.removeFirst();
                points << pointLine(count, s);
                QCPRange next = range;
                if (state != Qt::Unchecked)
                    next = QCPRange(count - lines, state == Qt::Checked ? count * 1.2 : count + 20);
                // QCustomPlot keeps its range rather than take an empty one
                // (window 0, first sample, "checked").
                if (QCPRange::validRange(next))
                    range = next;
                ++count;
            }
            QCOMPARE(held(), points);
            QCOMPARE(acc()->xAxis->range(), range);
            QCOMPARE(gyro()->xAxis->range(), range);
        }
    }

    void screenshot()
    {
        QVERIFY(start(100, true, [](Options &o) { mmtest::setTestMode(o); }));
        for (int tick = 0; tick < 300; ++tick)
            QVERIFY(QMetaObject::invokeMethod(w.get(), "MainTimeout"));
        QCoreApplication::processEvents();
        const QString path = QDir::temp().filePath("motionmonitor-plots.png");
        QVERIFY(w->grab().save(path));
        qInfo("both plots after 300 test-mode samples: %s", qPrintable(path));
        QVERIFY(curvePixels(acc()) > 500);
        QVERIFY(curvePixels(gyro()) > 500);
    }
};

QTEST_MAIN(TestPlots)
#include "tst_plots.moc"
