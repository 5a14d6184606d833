// Acquisition as the user drives it: Start and Stop in test and wireless mode,
// the simulated waves on the displays and in the log, every text of the
// message log, and the options opened again from the menu.
#include "acquisitiontest.h"
#include "pseudoterminal.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <qcustomplot.h>

#include <memory>

using namespace acqtest;

Q_DECLARE_METATYPE(serialtest::Tuple)

namespace
{

// Records the displays after every tick of the window's timer, and presses
// Stop once `limit` ticks are recorded so that no further tick happens. The
// message log, which Stop may clear, is kept as it was before.
struct TickRecorder {
    std::vector<Values> ticks;
    QString messagesBeforeStop;
    explicit TickRecorder(MainWindow &window, int limit = -1)
    {
        // Connected after the window's own slot, so it runs after the tick.
        QObject::connect(acquisitionTimer(window), &QTimer::timeout, [this, &window, limit] {
            ticks.push_back(lcdValues(window));
            if (int(ticks.size()) == limit) {
                messagesBeforeStop = messageLog(window);
                press(window, "Stop_Button");
            }
        });
    }
    int count() const { return int(ticks.size()); }
};

mmtest::OptionsEditor testModeOptions(bool plots, const QString &logDir = QString())
{
    return [plots, logDir](Options &o) {
        mmtest::setTestMode(o, true);
        mmtest::setDrawPlots(o, plots);
        if (!logDir.isEmpty())
            mmtest::setLogDirectory(o, logDir);
    };
}

mmtest::OptionsEditor wirelessOptions(const QString &device, bool plots = false)
{
    return [device, plots](Options &o) {
        mmtest::setTestMode(o, false);
        mmtest::setDrawPlots(o, plots);
        mmtest::setDevice(o, device);
    };
}

QList<QCustomPlot *> plotsOf(const MainWindow &window)
{
    return window.findChildren<QCustomPlot *>();
}

// Lines of the expected message log; "<before>" stands for the whole log as
// it was before the first button was pressed, and a line ending in "*"
// matches any line that begins with the text before it.
bool logMatches(const QString &log, const QString &before, const QStringList &expected)
{
    QStringList want;
    for (const QString &line : expected)
        want << (line == QLatin1String("<before>") ? before.split('\n') : QStringList(line));
    const QStringList have = log.split('\n');
    if (have.size() != want.size())
        return false;
    for (int i = 0; i < have.size(); ++i) {
        const bool prefix = want[i].endsWith('*');
        if (prefix ? !have[i].startsWith(want[i].chopped(1)) : have[i] != want[i])
            return false;
    }
    return true;
}

} // namespace

class TestAcquisition : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();

    void testModeWaves_data();
    void testModeWaves();
    void testModeLogsEverySample();
    void testModeWithoutPlotsStandsStill();

    void messageTexts_data();
    void messageTexts();
    void optionsAcceptanceLines_data();
    void optionsAcceptanceLines();
    void failedStartKeepsTheRunningTimer();
    void modeChangeWhileAcquiring();

    void plotsFromTheMenu();

private:
    // One test-mode run with plots and "Datalog", shared by the wave tests.
    QTemporaryDir waveLogDir;
    std::vector<Values> waveTicks;
    QString waveMessages;
};

void TestAcquisition::initTestCase()
{
    QVERIFY(waveLogDir.isValid());
    auto window = mmtest::startMainWindow(testModeOptions(true, waveLogDir.path()));
    QVERIFY(window);
    setDatalog(*window, true);
    setReadInterval(*window, 5);
    TickRecorder recorder(*window, 101);
    press(*window, "Start_Button");
    QTRY_VERIFY_WITH_TIMEOUT(!acquisitionTimer(*window)->isActive(), 30000);
    waveTicks = recorder.ticks;
    waveMessages = recorder.messagesBeforeStop;
}

void TestAcquisition::testModeWaves_data()
{
    QTest::addColumn<int>("tick");
    QTest::addColumn<Values>("expected");
    // t = 0, 1 and 20 as the program's users know them; the rest computed
    // apart from the program. 31, 47 and 62 have values just below zero that
    // truncate to 0, not to -1.
    QTest::newRow("t=0") << 0 << Values{0, 5, 0, 0, 55, 0};
    QTest::newRow("t=1") << 1 << Values{1, 4, 0, 3, 52, 7};
    QTest::newRow("t=5") << 5 << Values{8, 4, 3, 16, 3, 37};
    QTest::newRow("t=13") << 13 << Values{5, 1, 9, 10, -39, 90};
    QTest::newRow("t=20") << 20 << Values{-7, -2, 12, -15, 52, 126};
    QTest::newRow("t=31") << 31 << Values{0, -4, 14, -1, -54, 149};
    QTest::newRow("t=47") << 47 << Values{0, 0, 10, 0, 2, 106};
    QTest::newRow("t=62") << 62 << Values{-1, 4, 0, -3, 53, 6};
    QTest::newRow("t=100") << 100 << Values{9, -4, -14, 18, 8, -143};
}

void TestAcquisition::testModeWaves()
{
    QFETCH(int, tick);
    QFETCH(Values, expected);
    QCOMPARE(int(waveTicks.size()), 101);
    QCOMPARE(waveTicks[tick], expected);
}

void TestAcquisition::testModeLogsEverySample()
{
    const LogContents log = readLogs(waveLogDir.path());
    QVERIFY(log.ok);
    QCOMPARE(log.files.size(), 1);
    QVERIFY(waveMessages.contains(
        "New file created: " + QDir::toNativeSeparators(waveLogDir.path()) + "//"));
    QCOMPARE(int(log.rows.size()), int(waveTicks.size()));
    for (int i = 0; i < int(log.rows.size()); ++i) {
        QCOMPARE(log.rows[i].index, i);
        QCOMPARE(log.rows[i].values, waveTicks[i]);
    }
    // Accelerometer first: at t = 1 accelerometer X is 1 and gyroscope X 3.
    QCOMPARE(log.rows[1].values, (Values{1, 4, 0, 3, 52, 7}));
}

void TestAcquisition::testModeWithoutPlotsStandsStill()
{
    auto window = mmtest::startMainWindow(testModeOptions(false));
    QVERIFY(window);
    QVERIFY(plotsOf(*window).isEmpty());
    setReadInterval(*window, 2);
    TickRecorder recorder(*window, 20);
    press(*window, "Start_Button");
    QTRY_VERIFY_WITH_TIMEOUT(!acquisitionTimer(*window)->isActive(), 30000);
    QCOMPARE(recorder.count(), 20);
    for (const Values &v : recorder.ticks)
        QCOMPARE(v, (Values{0, 5, 0, 0, 55, 0}));
}

void TestAcquisition::messageTexts_data()
{
    QTest::addColumn<bool>("testMode");
    QTest::addColumn<QString>("device"); // "missing", "file" or "pty"
    QTest::addColumn<QStringList>("buttons");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<bool>("running");

    const QStringList start{"Start"};
    QTest::newRow("test mode: Start writes nothing")
        << true << "missing" << start << QStringList{"<before>"} << true;
    QTest::newRow("test mode: Stop when idle")
        << true << "missing" << QStringList{"Stop"} << QStringList{"Test stopped"} << false;
    QTest::newRow("test mode: Start, Stop") << true << "missing" << QStringList{"Start", "Stop"}
                                            << QStringList{"Test stopped"} << false;
    QTest::newRow("missing device")
        << false << "missing" << start
        << QStringList{"<before>", "USB open failed. Device does not exist."} << false;
    QTest::newRow("device that is no tty")
        << false << "file" << start
        << QStringList{"<before>", "Serial port could not be opened: *", "Unknown error!"} << false;
    QTest::newRow("port opened") << false << "pty" << start
                                 << QStringList{"<before>", "Serial port opened"} << true;
    QTest::newRow("Stop without Start") << false << "pty" << QStringList{"Stop"}
                                        << QStringList{"<before>", "Port already closed"} << false;
    QTest::newRow("two Stops after one Start")
        << false << "pty" << QStringList{"Start", "Stop", "Stop"}
        << QStringList{"USB closed", "Port already closed"} << false;
    QTest::newRow("Start after Stop") << false << "pty" << QStringList{"Start", "Stop", "Start"}
                                      << QStringList{"USB closed", "Serial port opened"} << true;
}

void TestAcquisition::messageTexts()
{
    QFETCH(bool, testMode);
    QFETCH(QString, device);
    QFETCH(QStringList, buttons);
    QFETCH(QStringList, expected);
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
    auto window = mmtest::startMainWindow([&](Options &o) {
        wirelessOptions(path)(o);
        mmtest::setTestMode(o, testMode);
    });
    QVERIFY(window);
    const QString before = messageLog(*window);
    for (const QString &button : buttons)
        press(*window, qPrintable(button + "_Button"));
    QVERIFY2(logMatches(messageLog(*window), before, expected), qPrintable(messageLog(*window)));
    QCOMPARE(acquisitionTimer(*window)->isActive(), running);
    if (pty)
        QCOMPARE(pty->clientAttached(), running);
}

void TestAcquisition::optionsAcceptanceLines_data()
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

void TestAcquisition::optionsAcceptanceLines()
{
    QFETCH(bool, accept);
    QFETCH(bool, testMode);
    QFETCH(QStringList, added);
    auto window = mmtest::startMainWindow(testModeOptions(false));
    QVERIFY(window);
    // The start-up acceptance has written its lines already.
    QCOMPARE(messageLog(*window), QString("options updated.\n****************\nTEST MODE"));
    const QString before = messageLog(*window);
    QVERIFY(mmtest::reopenOptions(
        *window, [testMode](Options &o) { mmtest::setTestMode(o, testMode); }, accept));
    QCOMPARE(messageLog(*window).split('\n'), before.split('\n') + added);
}

void TestAcquisition::failedStartKeepsTheRunningTimer()
{
    QTemporaryDir dir;
    auto window = mmtest::startMainWindow(testModeOptions(false));
    QVERIFY(window);
    QTimer *timer = acquisitionTimer(*window);
    setReadInterval(*window, 30);
    press(*window, "Start_Button");
    QVERIFY(timer->isActive());
    QCOMPARE(timer->interval(), 30);

    QVERIFY(mmtest::reopenOptions(*window, wirelessOptions(dir.filePath("ttyGone"))));
    setReadInterval(*window, 7);
    press(*window, "Start_Button");
    QVERIFY(messageLog(*window).endsWith("\nUSB open failed. Device does not exist."));
    QVERIFY(timer->isActive());
    QCOMPARE(timer->interval(), 30);
}

void TestAcquisition::modeChangeWhileAcquiring()
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
    QVERIFY(mmtest::reopenOptions(*window, testModeOptions(false)));
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

    // A timer started in test mode goes on in wireless mode with no port: the
    // ticks read nothing, and Stop finds no port.
    QVERIFY(mmtest::reopenOptions(*window, testModeOptions(false)));
    press(*window, "Start_Button");
    QVERIFY(mmtest::reopenOptions(*window, wirelessOptions(device)));
    QSignalSpy ticks(timer, &QTimer::timeout);
    QTRY_VERIFY_WITH_TIMEOUT(ticks.count() >= 5, 10000);
    QVERIFY(!pty.clientAttached());
    press(*window, "Stop_Button");
    QVERIFY(messageLog(*window).endsWith("\nPort already closed"));
    QVERIFY(!timer->isActive());
}

void TestAcquisition::plotsFromTheMenu()
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
    QCOMPARE(plotsOf(*window).size(), 2);
    QCOMPARE(window->size(), QSize(1000, 780));

    // Turned off: the plots stay, keep the window's size and go on drawing.
    window->resize(900, 700);
    QVERIFY(mmtest::reopenOptions(*window, testModeOptions(false)));
    const auto plots = plotsOf(*window);
    QCOMPARE(plots.size(), 2);
    QCOMPARE(window->size(), QSize(900, 700));
    setReadInterval(*window, 2);
    TickRecorder recorder(*window, 5);
    press(*window, "Start_Button");
    QTRY_VERIFY_WITH_TIMEOUT(!acquisitionTimer(*window)->isActive(), 10000);
    for (QCustomPlot *plot : plots)
        for (int g = 0; g < 3; ++g)
            QCOMPARE(plot->graph(g)->dataCount(), 5);
    // The waves moved on, which they do only while points are drawn.
    QCOMPARE(recorder.ticks[1], (Values{1, 4, 0, 3, 52, 7}));
}

QTEST_MAIN(TestAcquisition)
#include "tst_acquisition.moc"
