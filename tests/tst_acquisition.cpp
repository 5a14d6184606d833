// Acquisition as the user drives it: Start and Stop in test and wireless mode,
// the simulated waves on the displays and in the log, every text of the
// message log, and the options opened again from the menu.
#include "acquisitiontest.h"
#include "pseudoterminal.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <qcustomplot.h>

#include <memory>

using namespace acqtest;

Q_DECLARE_METATYPE(serialtest::Tuple)

namespace
{

struct Ticks {
    std::vector<Values> values; // the displays after each tick
    QString messagesBeforeStop;
};

// Starts acquisition at a read interval of `ms` and records `count` ticks;
// Stop follows the last at once, so that no further tick happens.
Ticks runTicks(MainWindow &window, int count, int ms)
{
    Ticks t;
    setReadInterval(window, ms);
    QTimer *timer = acquisitionTimer(window);
    // Connected after the window's own slot, so it runs after the tick.
    const auto c = QObject::connect(timer, &QTimer::timeout, [&] {
        t.values.push_back(lcdValues(window));
        if (int(t.values.size()) == count) {
            t.messagesBeforeStop = messageLog(window);
            press(window, "Stop_Button");
        }
    });
    press(window, "Start_Button");
    if (!QTest::qWaitFor([timer] { return !timer->isActive(); }, 30000))
        press(window, "Stop_Button"); // the caller finds ticks missing
    QObject::disconnect(c);
    return t;
}

mmtest::OptionsEditor testModeOptions(bool plots, const QString &logDir = QString())
{
    return [plots, logDir](Options &o) {
        mmtest::setTestMode(o, true);
        mmtest::setDrawPlots(o, plots);
        if (!logDir.isEmpty())
            mmtest::setLogDirectory(o, logDir);
    };
}

mmtest::OptionsEditor wirelessOptions(const QString &device, bool testMode = false)
{
    return [device, testMode](Options &o) {
        mmtest::setDrawPlots(o, false);
        mmtest::setDevice(o, device);
        mmtest::setTestMode(o, testMode);
    };
}

QList<QCustomPlot *> plotsOf(const MainWindow &window)
{
    return window.findChildren<QCustomPlot *>();
}

// Whether the message log matches `pattern`, a regular expression in which
// %1 stands for the whole log as it was before.
bool logMatches(const QString &log, const QString &before, const QString &pattern)
{
    const QString whole = QString(pattern).replace("%1", QRegularExpression::escape(before));
    return QRegularExpression(QRegularExpression::anchoredPattern(whole)).match(log).hasMatch();
}

} // namespace

class TestAcquisition : public QObject
{
    Q_OBJECT
    // One test-mode run with plots and "Datalog", shared by the wave tests.
    QTemporaryDir waveLogDir;
    Ticks waves;

private slots:
    void initTestCase()
    {
        auto window = mmtest::startMainWindow(testModeOptions(true, waveLogDir.path()));
        QVERIFY(window);
        setDatalog(*window, true);
        waves = runTicks(*window, 101, 5);
        QCOMPARE(int(waves.values.size()), 101);
    }

    void testModeWaves_data()
    {
        QTest::addColumn<int>("tick");
        QTest::addColumn<Values>("expected");
        // t = 0, 1 and 20 as the program's users know them; the rest computed
        // apart from the program. At t = 31 accelerometer X is just below
        // zero and truncates to 0, not to -1.
        QTest::newRow("t=0") << 0 << Values{0, 5, 0, 0, 55, 0};
        QTest::newRow("t=1") << 1 << Values{1, 4, 0, 3, 52, 7};
        QTest::newRow("t=5") << 5 << Values{8, 4, 3, 16, 3, 37};
        QTest::newRow("t=20") << 20 << Values{-7, -2, 12, -15, 52, 126};
        QTest::newRow("t=31") << 31 << Values{0, -4, 14, -1, -54, 149};
        QTest::newRow("t=100") << 100 << Values{9, -4, -14, 18, 8, -143};
    }
    void testModeWaves()
    {
        QFETCH(int, tick);
        QFETCH(Values, expected);
        QCOMPARE(waves.values.at(tick), expected);
    }

    // Every sample logged, accelerometer first (at t = 1 accelerometer X is 1
    // and gyroscope X 3).
    void testModeLogsEverySample()
    {
        QStringList expected;
        for (const Values &v : waves.values)
            expected << logRow(int(expected.size()), v);
        int files = 0;
        QCOMPARE(logRows(waveLogDir.path(), &files), expected);
        QCOMPARE(files, 1);
        QCOMPARE(expected.at(1), QString("1,1,4,0,3,52,7"));
        QVERIFY(waves.messagesBeforeStop.contains(
            "New file created: " + QDir::toNativeSeparators(waveLogDir.path()) + "//"));
    }

    void testModeWithoutPlotsStandsStill()
    {
        auto window = mmtest::startMainWindow(testModeOptions(false));
        QVERIFY(window);
        QVERIFY(plotsOf(*window).isEmpty());
        const Ticks ticks = runTicks(*window, 20, 2);
        QCOMPARE(ticks.values, std::vector<Values>(20, Values{0, 5, 0, 0, 55, 0}));
    }

    void messageTexts_data()
    {
        QTest::addColumn<bool>("testMode");
        QTest::addColumn<QString>("device"); // "missing", "file" or "pty"
        QTest::addColumn<QStringList>("buttons");
        QTest::addColumn<QString>("expected"); // see logMatches
        QTest::addColumn<bool>("running");
        const QStringList start{"Start"}, stopped{"Start", "Stop"};
        QTest::newRow("test mode: Start writes nothing")
            << true << "missing" << start << "%1" << true;
        QTest::newRow("test mode: Start, Stop")
            << true << "missing" << stopped << "Test stopped" << false;
        QTest::newRow("missing device") << false << "missing" << start
                                        << "%1\nUSB open failed. Device does not exist." << false;
        QTest::newRow("device that is no tty")
            << false << "file" << start << "%1\nSerial port could not be opened: .*\nUnknown error!"
            << false;
        QTest::newRow("two Stops after one Start")
            << false << "pty" << QStringList{"Start", "Stop", "Stop"}
            << "USB closed\nPort already closed" << false;
        QTest::newRow("Start after Stop") << false << "pty" << QStringList{"Start", "Stop", "Start"}
                                          << "USB closed\nSerial port opened" << true;
    }
    void messageTexts()
    {
        QFETCH(bool, testMode);
        QFETCH(QString, device);
        QFETCH(QStringList, buttons);
        QFETCH(QString, expected);
        QFETCH(bool, running);
        QTemporaryDir dir;
        std::unique_ptr<nodesim::PseudoTerminal> pty;
        QString path = dir.filePath("ttyUSB0");
        if (device == "pty") {
            pty = std::make_unique<nodesim::PseudoTerminal>();
            path = QString::fromStdString(pty->devicePath());
        } else if (device == "file") {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        auto window = mmtest::startMainWindow(wirelessOptions(path, testMode));
        QVERIFY(window);
        const QString before = messageLog(*window);
        for (const QString &button : buttons)
            press(*window, qPrintable(button + "_Button"));
        QVERIFY2(logMatches(messageLog(*window), before, expected),
                 qPrintable(messageLog(*window)));
        QCOMPARE(acquisitionTimer(*window)->isActive(), running);
        if (pty)
            QCOMPARE(pty->clientAttached(), running);
    }

    void optionsAcceptanceLines_data()
    {
        QTest::addColumn<bool>("accept");
        QTest::addColumn<bool>("testMode");
        QTest::addColumn<QStringList>("added");
        QTest::newRow("accepted, wireless")
            << true << false << QStringList{"options updated.", "****************"};
        QTest::newRow("accepted, test mode")
            << true << true << QStringList{"options updated.", "****************", "TEST MODE"};
        QTest::newRow("cancelled, test mode") << false << true << QStringList{};
    }
    void optionsAcceptanceLines()
    {
        QFETCH(bool, accept);
        QFETCH(bool, testMode);
        QFETCH(QStringList, added);
        auto window = mmtest::startMainWindow(testModeOptions(false));
        QVERIFY(window);
        // The start-up acceptance wrote its lines before the summary box.
        const QString before = messageLog(*window);
        QCOMPARE(before, QString("options updated.\n****************\nTEST MODE"));
        QVERIFY(mmtest::reopenOptions(
            *window, [testMode](Options &o) { mmtest::setTestMode(o, testMode); }, accept));
        QCOMPARE(messageLog(*window).split('\n'), before.split('\n') + added);
    }

    void failedStartKeepsTheRunningTimer()
    {
        QTemporaryDir dir;
        auto window = mmtest::startMainWindow(testModeOptions(false));
        QVERIFY(window);
        QTimer *timer = acquisitionTimer(*window);
        setReadInterval(*window, 30);
        press(*window, "Start_Button");
        QVERIFY(mmtest::reopenOptions(*window, wirelessOptions(dir.filePath("ttyGone"))));
        setReadInterval(*window, 7);
        press(*window, "Start_Button");
        QVERIFY(messageLog(*window).endsWith("\nUSB open failed. Device does not exist."));
        QVERIFY(timer->isActive());
        QCOMPARE(timer->interval(), 30);
    }

    // A mode change while acquiring takes effect at the next tick and the
    // next Stop.
    void modeChangeWhileAcquiring()
    {
        nodesim::PseudoTerminal pty;
        const QString device = QString::fromStdString(pty.devicePath());
        auto window = mmtest::startMainWindow(wirelessOptions(device));
        QVERIFY(window);
        QTimer *timer = acquisitionTimer(*window);
        setReadInterval(*window, 5);
        press(*window, "Start_Button");
        QVERIFY(pty.clientReady());

        // Into test mode: the next ticks simulate, and Stop leaves the port open.
        QVERIFY(mmtest::reopenOptions(*window, wirelessOptions(device, true)));
        QTRY_COMPARE_WITH_TIMEOUT(lcdValues(*window), (Values{0, 5, 0, 0, 55, 0}), 10000);
        press(*window, "Stop_Button");
        QCOMPARE(messageLog(*window), QString("Test stopped"));
        QVERIFY(!timer->isActive());
        QVERIFY(pty.clientAttached());

        // Back to wireless: Stop closes the port that stayed open.
        QVERIFY(mmtest::reopenOptions(*window, wirelessOptions(device)));
        press(*window, "Stop_Button");
        QCOMPARE(messageLog(*window), QString("USB closed"));
        QVERIFY(!pty.clientAttached());
    }

    void plotsFromTheMenu()
    {
        auto window = mmtest::startMainWindow(testModeOptions(false));
        QVERIFY(window);
        QCOMPARE(window->size(), QSize(450, 780));
        QVERIFY(plotsOf(*window).isEmpty());
        QVERIFY(mmtest::reopenOptions(*window, testModeOptions(true)));
        QCOMPARE(plotsOf(*window).size(), 2);
        QCOMPARE(window->size(), QSize(1000, 780));

        // A Cancel with "Draw plots" still on lays the plots out and sizes again.
        window->resize(700, 500);
        QVERIFY(mmtest::reopenOptions(*window, {}, false));
        QCOMPARE(window->size(), QSize(1000, 780));

        // Turned off: the plots stay, keep the window's size and go on drawing.
        window->resize(900, 700);
        QVERIFY(mmtest::reopenOptions(*window, testModeOptions(false)));
        QCOMPARE(window->size(), QSize(900, 700));
        QCOMPARE(plotsOf(*window).size(), 2);
        const Ticks ticks = runTicks(*window, 5, 2);
        for (QCustomPlot *plot : plotsOf(*window))
            for (int g = 0; g < 3; ++g)
                QCOMPARE(plot->graph(g)->dataCount(), 5);
        // The waves moved on, which they do only while points are drawn.
        QCOMPARE(ticks.values.at(1), (Values{1, 4, 0, 3, 52, 7}));
    }
};

QTEST_MAIN(TestAcquisition)
#include "tst_acquisition.moc"
