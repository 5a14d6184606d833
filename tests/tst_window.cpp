// The running window as the user drives it: the test mode through the
// displays, the message log and the log, "Datalog" read at every sample,
// plots from the menu, the status bar, and the receiver from end to end: every
// frame at the line's pace, and back after an unplug.
#include "mmtest.h"
#include "samplesource.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLCDNumber>
#include <QLabel>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTimer>
#include <qcustomplot.h>

using namespace mmtest;

namespace
{

void setDatalog(MainWindow &w, bool on)
{
    widget<QCheckBox>(&w, "LogBox1")->setChecked(on);
}

QString statusBar(const MainWindow &w)
{
    return widget<QLabel>(&w, "linkState")->text();
}

// Runs `count` ticks at a read interval of `ms`; Stop follows the last at
// once. `atTick` runs after each tick, with its number.
bool runTicks(MainWindow &window, int count, int ms, const std::function<void(int)> &atTick = {})
{
    int ticks = 0;
    widget<QSpinBox>(&window, "TaajuusSBox")->setValue(ms);
    QTimer *timer = acquisitionTimer(window);
    const auto c = QObject::connect(timer, &QTimer::timeout, [&] {
        if (atTick)
            atTick(ticks);
        if (++ticks == count)
            press(window, "Stop_Button");
    });
    press(window, "Start_Button");
    const bool done = QTest::qWaitFor([timer] { return !timer->isActive(); }, 30000);
    QObject::disconnect(c);
    return done && ticks == count;
}

OptionsEditor options(bool test, bool plots, const QString &logDir, const QString &device = {})
{
    return [=](Options &o) {
        setTestMode(o, test);
        setDrawPlots(o, plots);
        setLogDirectory(o, logDir);
        if (!device.isEmpty())
            setDevice(o, device);
    };
}

} // namespace

class TestWindow : public QObject
{
    Q_OBJECT
private slots:
    // Twenty ticks with "Datalog" off for five: every other sample logged,
    // the index running on; the displays show the newest; the message log
    // holds the acceptance's lines, then Stop's alone.
    void testModeThroughTheWindow()
    {
        QTemporaryDir dir;
        auto window = startMainWindow(options(true, true, dir.path()));
        QCOMPARE(messageLog(*window), QString("options updated.\n****************\nTEST MODE"));
        setDatalog(*window, true);
        QVERIFY(
            runTicks(*window, 20, 5, [&](int tick) { setDatalog(*window, tick < 4 || tick > 8); }));
        QStringList expected;
        for (int t = 0, row = 0; t < 20; ++t)
            if (t < 5 || t > 9)
                expected << logRow(row++, valuesOf(TestWaves::at(t)));
        QCOMPARE(logRows(dir.path()), expected);
        QTRY_COMPARE(lcdValues(*window), valuesOf(TestWaves::at(19)));
        QCOMPARE(messageLog(*window), QString("Test stopped"));
        // A display too narrow for a value would keep showing the previous one.
        auto *lcd = widget<QLCDNumber>(window.get(), "gyro_Z");
        QSignalSpy overflow(lcd, &QLCDNumber::overflow);
        lcd->display(-32768);
        QVERIFY(overflow.isEmpty());
    }

    // Without plots the waves stand still; plots turned on from the menu are
    // built and the window grows; turned off, they stay and go on drawing.
    void plotsFromTheMenu()
    {
        QTemporaryDir dir;
        auto window = startMainWindow(options(true, false, dir.path()));
        QCOMPARE(window->size(), QSize(450, 780));
        QVERIFY(runTicks(*window, 5, 2));
        QTRY_COMPARE(lcdValues(*window), valuesOf(TestWaves::at(0)));
        QVERIFY(reopenOptions(*window, options(true, true, dir.path())));
        QCOMPARE(window->size(), QSize(1000, 780));
        QVERIFY(reopenOptions(*window, options(true, false, dir.path())));
        QVERIFY(runTicks(*window, 5, 2));
        QCOMPARE(widget<QCustomPlot>(window.get(), "gyroPlot")->graph(2)->dataCount(), 5);
        QTRY_COMPARE(lcdValues(*window), valuesOf(TestWaves::at(4)));
    }

    // Rows that cannot be written: the status bar says so while acquiring.
    void statusBarSaysTheLogFails()
    {
        QTemporaryDir dir;
        auto window = startMainWindow(options(true, false, dir.filePath("missing")));
        setDatalog(*window, true);
        press(*window, "Start_Button");
        QTRY_VERIFY(statusBar(*window).startsWith("Test mode\nlog failing: Log file "));
        press(*window, "Stop_Button");
        QCOMPARE(statusBar(*window), QString());
    }

    // The simulator at the line's pace and the default read interval for
    // 20 s, framing bytes above 99 typed into the options: every frame shown,
    // plotted and logged once, in order, none left waiting; the status bar
    // counts what came.
    void everyFrameAtTheLinesPace()
    {
        QTemporaryDir dir;
        const QString link = dir.filePath("ttyUSB0"), logDir = dir.filePath("logs");
        QVERIFY(QDir().mkdir(logDir));
        Nodesim sim(link, {"--count", "1360", "--start1", "170", "--end2", "255"});
        auto window = startMainWindow([&](Options &o) {
            options(false, true, logDir, link)(o);
            widget<QGroupBox>(&o, "XSB1")->setChecked(true);
            for (const auto &[name, typed] :
                 {std::pair{"StartByte1", "170"}, {"EndByte2", "255"}}) {
                widget<QSpinBox>(&o, name)->selectAll();
                QTest::keyClicks(widget<QSpinBox>(&o, name), typed);
            }
        });
        setDatalog(*window, true);
        press(*window, "Start_Button");
        QTRY_VERIFY_WITH_TIMEOUT(sim.said("all 1360 frames sent"), 60000);
        QTRY_COMPARE_WITH_TIMEOUT(logRows(logDir).size(), 1360, 1000);
        FrameFormat format;
        format.startByte1 = 170;
        format.endByte2 = 255;
        const QStringList rows = sineRows(1360, 0, format);
        QCOMPARE(logRows(logDir), rows);
        QCOMPARE(sim.said("init message 31 37 FF"), 1);
        QTRY_COMPARE(logRow(1359, lcdValues(*window)), rows.last());
        auto *accX = widget<QCustomPlot>(window.get(), "accPlot")->graph(0);
        QCOMPARE(int(accX->data()->at(accX->dataCount() - 1)->value), lcdValues(*window)[0]);
        QTRY_VERIFY2(statusBar(*window).startsWith("ttyUSB0 · 0 samples/s · 1360 frames · 0 stray "
                                                   "bytes\nlog ") &&
                         statusBar(*window).endsWith(": 1360 rows"),
                     qPrintable(statusBar(*window)));
    }

    // Pulled out while acquiring and plugged in again at the same path:
    // the status bar says so meanwhile, and acquisition and logging go on by
    // themselves, in the same file.
    void reconnectsAfterAnUnplug()
    {
        QTemporaryDir dir;
        const QString link = dir.filePath("ttyUSB0"), logDir = dir.filePath("logs");
        QVERIFY(QDir().mkdir(logDir));
        auto first = std::make_unique<Nodesim>(link, QStringList{"--hangup-after", "50"});
        auto window = startMainWindow(options(false, false, logDir, link));
        setDatalog(*window, true);
        press(*window, "Start_Button");
        QTRY_VERIFY_WITH_TIMEOUT(messageLog(*window).contains("Serial device lost: "), 20000);
        QTRY_VERIFY(statusBar(*window).startsWith("ttyUSB0 · lost, reopening · "));
        first.reset();
        Nodesim second(link, {"--count", "50"});
        QTRY_VERIFY_WITH_TIMEOUT(second.said("all 50 frames sent"), 30000);
        // The frames that reached the port before the unplug, then the 50.
        const QString last = sineRows(50).last().section(',', 1);
        QTRY_VERIFY(logRows(logDir).last().endsWith("," + last));
        const int before = int(logRows(logDir).size()) - 50;
        QCOMPARE(logRows(logDir), sineRows(before) + sineRows(50, before));
        QCOMPARE(messageLog(*window).count("Serial port reopened"), 1);
        QCOMPARE(second.said("init message 31"), 1);
        press(*window, "Stop_Button");
        QCOMPARE(messageLog(*window), QString("USB closed"));
    }
};

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
