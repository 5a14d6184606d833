// The live plots as the user meets them: a long random run against a plain
// model of the window, time-axis and arrangement rules and a hidden plot; one
// redraw per tick and after "Clear plots"; "Save image…"; a window that grows.
#include "mmtest.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <qcustomplot.h>

#include <random>

namespace
{

// Pixels of the graphs' colours outside the legend, as shown on the screen.
int curvePixels(QCustomPlot *plot)
{
    return mmtest::curvePixels(plot->grab().toImage(), plot->legend->outerRect());
}

} // namespace

class TestPlots : public QObject
{
    Q_OBJECT
    std::unique_ptr<MainWindow> w;

    // The window with the plot window `lines`, shown (the plots draw only then).
    bool start(int lines, const mmtest::OptionsEditor &edit = {})
    {
        w.reset(); // before any event loop runs, so no earlier plot redraws
        w = mmtest::startMainWindow([&](Options &o) {
            mmtest::setAutoClearLines(o, lines);
            if (edit)
                edit(o);
        });
        w->show();
        return QTest::qWaitForWindowExposed(w.get());
    }
    QCustomPlot *plot(const char *name) { return mmtest::widget<QCustomPlot>(w.get(), name); }
    // The six graphs' points, "key: values" a line.
    QStringList points()
    {
        const auto point = [&](int g, int i) {
            return *plot(g < 3 ? "accPlot" : "gyroPlot")->graph(g % 3)->data()->at(i);
        };
        QStringList lines;
        for (int i = 0; i < plot("accPlot")->graph(0)->dataCount(); ++i) {
            QString line = QString::number(point(0, i).key) + ":";
            for (int g = 0; g < 6; ++g)
                line += point(g, i).key == point(0, i).key
                            ? " " + QString::number(point(g, i).value)
                            : " (other key)";
            lines << line;
        }
        return lines;
    }
    // A sample as the serial link hands it to the window.
    void receive(const mmtest::Values &v)
    {
        QMetaObject::invokeMethod(w.get(), "OtaVastaanData", Q_ARG(int16_t, v[0]),
                                  Q_ARG(int16_t, v[1]), Q_ARG(int16_t, v[2]), Q_ARG(int16_t, v[3]),
                                  Q_ARG(int16_t, v[4]), Q_ARG(int16_t, v[5]));
    }
    void receive(int first, int last)
    {
        for (int key = first; key <= last; ++key)
            receive({key, key + 1, key + 2, -key, 7, key % 9});
    }
    void clickClear() { mmtest::widget<QPushButton>(w.get(), "clearPlotsButton")->click(); }

private slots:
    void cleanup() { w.reset(); }

    // The rules, plainly: a sample drops the oldest point once more samples
    // than the window have been drawn since the start or the last clear, and
    // appends one at key sampleCount; the time axis follows by "Autoscale"
    // (unchecked, it stays where the user dragged it); a clear empties
    // everything and restarts the keys at 0; the sensor set-up places the
    // plots (a hidden one keeps its place and takes its points).
    void randomRunMatchesModel()
    {
        int lines = 100, count = 0;
        QStringList model;
        QCPRange range(0, 100);
        Qt::CheckState state = Qt::Checked;
        QRect acc(400, 23, 600, 375), gyro(400, 398, 600, 375);
        bool accShown = true, gyroShown = true;
        QVERIFY(start(lines));
        std::mt19937 random(20240611);
        const auto between = [&](int lo, int hi) {
            return std::uniform_int_distribution<int>(lo, hi)(random);
        };
        for (int step = 0; step < 4000; ++step) {
            const int dice = between(0, 99);
            if (dice < 2) {
                const int size = between(0, 9); // a window of 0 now and then, seldom a long one
                lines = size == 0 ? 0 : size == 1 ? between(1000, 3000) : between(1, 60);
                const bool s1 = between(0, 9) < 7, s2 = between(0, 9) < 7;
                const int type = between(0, 1);
                QVERIFY(mmtest::reopenOptions(*w, [&](Options &o) {
                    mmtest::setAutoClearLines(o, lines);
                    mmtest::setSensor(o, 1, s1, type, 6);
                    mmtest::setSensor(o, 2, s2, 1 - type, 6);
                }));
                accShown = (s1 && s2) || (!s2 && type == 1);
                gyroShown = (s1 && s2) || (!s2 && type == 0);
                if (s1 && s2)
                    acc = QRect(400, 23, 600, 375), gyro = QRect(400, 398, 600, 375);
                else if (!s2)
                    (type ? acc : gyro) = QRect(400, 23, 600, 700);
            } else if (dice < 3) {
                range = QCPRange(between(-500, 500), between(600, 5000)); // a drag
                for (const char *name : {"accPlot", "gyroPlot"})
                    plot(name)->xAxis->setRange(range);
            } else if (dice < 4) {
                clickClear();
                count = 0;
                model.clear();
            } else if (dice < 7) {
                state = Qt::CheckState(between(0, 2));
                mmtest::widget<QCheckBox>(w.get(), "Autoscale")->setCheckState(state);
            } else {
                mmtest::Values v;
                QString line = QString::number(count) + ":";
                for (int &value : v)
                    line += " " + QString::number(value = between(-32768, 32767));
                receive(v);
                if (count > lines)
                    model.removeFirst();
                model << line;
                double upper = count + 20;
                if (state == Qt::Checked)
                    upper = count > lines && lines > 0 ? count + lines / 5.0 : count * 1.2;
                const QCPRange next(count - lines, upper);
                // QCustomPlot keeps its range rather than take an empty one.
                if (state != Qt::Unchecked && QCPRange::validRange(next))
                    range = next;
                ++count;
            }
            QCOMPARE(points(), model);
            QCOMPARE(plot("accPlot")->xAxis->range(), range);
            QCOMPARE(plot("gyroPlot")->xAxis->range(), range);
            QCOMPARE(plot("accPlot")->isVisible(), accShown);
            QCOMPARE(plot("gyroPlot")->isVisible(), gyroShown);
            QCOMPARE(plot("accPlot")->geometry(), acc);
            QCOMPARE(plot("gyroPlot")->geometry(), gyro);
        }
    }

    // Many samples in one tick are drawn once, after the tick; cleared plots
    // are drawn anew, also with acquisition stopped.
    void drawing()
    {
        QVERIFY(start(100));
        QSignalSpy drawn(plot("accPlot"), &QCustomPlot::afterLayout); // each drawing lays out
        receive(0, 40);
        QCOMPARE(drawn.count(), 0);
        QVERIFY(drawn.wait(5000));
        QVERIFY(!drawn.wait(500)); // and no second drawing (the pace allows one per 40 ms)
        QVERIFY(curvePixels(plot("accPlot")) > 0);
        const auto before = drawn.count();
        clickClear();
        QTRY_VERIFY(drawn.count() > before);
        QCOMPARE(curvePixels(plot("accPlot")) + curvePixels(plot("gyroPlot")), 0);
    }

    // A double-click fits the value axis to the points in view and leaves the
    // time axis to Autoscale; a value axis the user zoomed stays until a value
    // falls outside it, which widens it on that side only (a node on its side,
    // a fast turn); "Save image…" writes both plots as shown.
    void valueAxesAndSaveImage()
    {
        QVERIFY(start(100));
        receive(0, 150); // in view: keys 50 to 150, accelerometer values 50 to 152
        QCustomPlot *acc = plot("accPlot");
        const QCPRange time = acc->xAxis->range();
        QTest::mouseDClick(acc, Qt::LeftButton, {}, acc->axisRect()->center());
        QCOMPARE(acc->xAxis->range(), time);
        const QCPRange values = acc->yAxis->range();
        QVERIFY(values.lower > 40 && values.lower <= 50 && values.upper >= 152 &&
                values.upper < 162);
        acc->yAxis->setRange(0, 200);
        receive({199, 1, 0, 0, 0, 0});
        QCOMPARE(acc->yAxis->range(), QCPRange(0, 200));
        QCOMPARE(plot("gyroPlot")->yAxis->range(), QCPRange(-500, 500)); // the starting range
        receive({-900, 1, 0, 1245, 0, 0});
        QVERIFY(acc->yAxis->range().lower < -900 && acc->yAxis->range().upper == 200);
        QVERIFY(plot("gyroPlot")->yAxis->range().upper > 1245);

        QTemporaryDir tmp;
        QCOMPARE(
            mmtest::trigger(*w, "actionSaveImage", {mmtest::chooseFiles(tmp.filePath("a.png"))}),
            1);
        const QImage image(tmp.filePath("a.png"));
        QCOMPARE(image.size(), QSize(600, 750));
        QVERIFY(mmtest::curvePixels(image) > 1000);
    }

    // Larger than designed, the window gives the shown plots more room and
    // the status bar its width below them; back at its designed size (as
    // Edit > Options leaves it), every widget is where it was at start-up.
    void windowGrows_data()
    {
        QTest::addColumn<int>("plots");
        QTest::newRow("two plots") << 2;
        QTest::newRow("one plot") << 1;
        QTest::newRow("no plots") << 0;
    }
    void windowGrows()
    {
        QFETCH(int, plots);
        QVERIFY(start(100, [&](Options &o) {
            mmtest::setDrawPlots(o, plots > 0);
            mmtest::setSensor(o, 2, plots == 2, 1, 6);
        }));
        const auto geometries = [&] {
            QStringList all;
            for (const QWidget *child : w->findChildren<QWidget *>())
                QDebug(&all.emplace_back()) << child << child->geometry();
            return all;
        };
        const QStringList designed = geometries();
        const QSize size = w->size();
        QMap<QCustomPlot *, QSize> shown;
        for (QCustomPlot *p : w->findChildren<QCustomPlot *>())
            if (p->isVisible())
                shown[p] = p->size();
        QCOMPARE(shown.size(), plots);
        w->resize(size + QSize(400, 220));
        const auto *label = mmtest::widget<QLabel>(w.get(), "linkState");
        QTRY_VERIFY(label->width() > w->width() - 50);
        const QRect bar(label->mapTo(w.get(), QPoint()), label->size());
        for (auto [p, small] : shown.asKeyValueRange())
            QVERIFY(p->width() > small.width() && p->height() > small.height() &&
                    !p->geometry().intersects(bar));
        QVERIFY(mmtest::reopenOptions(*w)); // lays the plots out anew, then resizes
        w->resize(size);
        QTRY_COMPARE(geometries(), designed);
    }
};

QTEST_MAIN(TestPlots)
#include "tst_plots.moc"
