// Acquisition as the user drives it: the test mode's waves on the displays
// and in the log, every text of the message log, a mode change while
// acquiring, plots from the menu, and the receiver from end to end over a
// pseudo-terminal.
#include "mmtest.h"
#include "pseudoterminal.h"
#include "sinesource.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLCDNumber>
#include <QLabel>
#include <QProcess>
#include <QRegularExpression>
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

OptionsEditor testMode(bool plots, const QString &logDir = QString())
{
    return [=](Options &o) {
        setTestMode(o, true);
        setDrawPlots(o, plots);
        if (!logDir.isEmpty())
            setLogDirectory(o, logDir);
    };
}

OptionsEditor wireless(const QString &device, const QString &logDir = QString(), bool test = false)
{
    return [=](Options &o) {
        setDrawPlots(o, !logDir.isEmpty());
        setDevice(o, device);
        setTestMode(o, test);
        if (!logDir.isEmpty())
            setLogDirectory(o, logDir);
    };
}

// The rows the simulator's first `count` samples become.
QStringList sineRows(int count, int first = 0, const FrameFormat &format = FrameFormat())
{
    nodesim::SineSource source{format};
    QStringList rows;
    for (int n = 0; n < count; ++n)
        rows << logRow(first + n, valuesOf(source.next()));
    return rows;
}

// The simulator program on `link`, its output collected.
struct Nodesim {
    QProcess process;
    QString output;
    Nodesim(const QString &link, const QStringList &arguments)
    {
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(NODESIM_BINARY, arguments + QStringList{"--link", link});
        QVERIFY(QTest::qWaitFor([&] { return QFileInfo(link).isSymLink(); }));
    }
    ~Nodesim()
    {
        process.terminate();
        process.waitForFinished();
    }
    // How many of its lines so far contain `text`.
    int said(const QString &text)
    {
        output += QString::fromLocal8Bit(process.readAll());
        return int(output.count(text));
    }
};

void setSpin(Options &o, const char *name, const char *typed)
{
    widget<QSpinBox>(&o, name)->selectAll();
    QTest::keyClicks(widget<QSpinBox>(&o, name), typed);
}

} // namespace

class TestAcquisition : public QObject
{
    Q_OBJECT
    // One test-mode run with plots and "Datalog", which is unchecked for
    // ticks 50 to 59; shared by the wave tests.
    QTemporaryDir waveLogDir;
    QStringList waves; // the log's rows
    QString messagesAtTick10;
    Values displayed;

private slots:
    void initTestCase()
    {
        auto window = startMainWindow(testMode(true, waveLogDir.path()));
        setDatalog(*window, true);
        QVERIFY(runTicks(*window, 101, 5, [&](int tick) {
            setDatalog(*window, tick < 49 || tick > 58);
            if (tick == 10)
                messagesAtTick10 = messageLog(*window);
        }));
        waves = logRows(waveLogDir.path());
        QTRY_COMPARE(lcdValues(*window), (Values{9, -4, -14, 18, 8, -143})); // the newest
    }

    void testModeWaves_data()
    {
        QTest::addColumn<int>("tick");
        QTest::addColumn<Values>("expected");
        // At t = 31 accelerometer X is just below zero and truncates to 0.
        QTest::newRow("t=0") << 0 << Values{0, 5, 0, 0, 55, 0};
        QTest::newRow("t=1") << 1 << Values{1, 4, 0, 3, 52, 7};
        QTest::newRow("t=20") << 20 << Values{-7, -2, 12, -15, 52, 126};
        QTest::newRow("t=31") << 31 << Values{0, -4, 14, -1, -54, 149};
        QTest::newRow("t=100") << 100 << Values{9, -4, -14, 18, 8, -143};
    }
    // Logged accelerometer first; the row index goes on after the pause.
    void testModeWaves()
    {
        QFETCH(int, tick);
        QFETCH(Values, expected);
        const int row = tick < 50 ? tick : tick - 10;
        QCOMPARE(waves.value(row), logRow(row, expected));
    }

    // Every sample while "Datalog" is checked, in one file.
    void testModeLogsWhileDatalogChecked()
    {
        int files = 0;
        QCOMPARE(logRows(waveLogDir.path(), &files).size(), 91);
        QCOMPARE(files, 1);
        QVERIFY(messagesAtTick10.contains("New file created: " + waveLogDir.path() + "//"));
    }

    // A display too narrow for a value keeps showing the previous one.
    void displaysShowEveryValue()
    {
        auto window = startMainWindow(testMode(false));
        for (QLCDNumber *lcd : window->findChildren<QLCDNumber *>()) {
            QSignalSpy overflow(lcd, &QLCDNumber::overflow);
            const QImage zero = lcd->grab().toImage();
            lcd->display(-32768);
            QVERIFY(overflow.isEmpty() && lcd->grab().toImage() != zero);
        }
    }

    void messageTexts_data()
    {
        QTest::addColumn<bool>("testMode");
        QTest::addColumn<QString>("device"); // "missing", "file" or "pty"
        QTest::addColumn<QStringList>("buttons");
        QTest::addColumn<QString>("expected"); // %1: the log as it was before
        QTest::addColumn<bool>("running");
        QTest::newRow("test mode: Start")
            << true << "missing" << QStringList{"Start_Button"} << "%1" << true;
        QTest::newRow("test mode: Start, Stop")
            << true << "missing" << QStringList{"Start_Button", "Stop_Button"} << "Test stopped"
            << false;
        QTest::newRow("missing device") << false << "missing" << QStringList{"Start_Button"}
                                        << "%1\nUSB open failed. Device does not exist.\nNo "
                                           "device at .*/ttyUSB0. (Serial devices present: "
                                           ".*|No serial device is present: .*)"
                                        << false;
        QTest::newRow("no tty") << false << "file" << QStringList{"Start_Button"}
                                << "%1\nSerial port could not be opened: .*\nUnknown error!"
                                << false;
        QTest::newRow("two Stops")
            << false << "pty" << QStringList{"Start_Button", "Stop_Button", "Stop_Button"}
            << "USB closed\nPort already closed" << false;
        QTest::newRow("Start after Stop")
            << false << "pty" << QStringList{"Start_Button", "Stop_Button", "Start_Button"}
            << "USB closed\nSerial port opened" << true;
        QTest::newRow("Init Msg, no port")
            << true << "missing" << QStringList{"sendInit"}
            << "%1\nInit message not sent: no serial port is open .*" << false;
    }
    void messageTexts()
    {
        QFETCH(bool, testMode);
        QFETCH(QString, device);
        QFETCH(QStringList, buttons);
        QFETCH(QString, expected);
        QFETCH(bool, running);
        QTemporaryDir dir;
        nodesim::PseudoTerminal pty;
        QString path = dir.filePath("ttyUSB0");
        if (device == "pty")
            path = QString::fromStdString(pty.devicePath());
        QFile file(path);
        QVERIFY(device != "file" || file.open(QIODevice::WriteOnly));
        auto window = startMainWindow(wireless(path, QString(), testMode));
        // The start-up acceptance wrote its lines before the summary box.
        const QString before = messageLog(*window);
        QCOMPARE(before,
                 QString("options updated.\n****************") + (testMode ? "\nTEST MODE" : ""));
        for (const QString &button : buttons)
            press(*window, qPrintable(button));
        const QString pattern = expected.replace("%1", QRegularExpression::escape(before));
        QVERIFY2(QRegularExpression("^" + pattern + "$").match(messageLog(*window)).hasMatch(),
                 qPrintable(messageLog(*window)));
        QCOMPARE(acquisitionTimer(*window)->isActive(), running);
        QCOMPARE(pty.clientAttached(), device == "pty" && running);
    }

    // A switch to test mode while logging takes effect at the next tick and
    // starts a new file, so that no file holds both sources; Stop then
    // closes the port.
    void modeChangeWhileLogging()
    {
        QTemporaryDir dir;
        nodesim::PseudoTerminal pty;
        const QString device = QString::fromStdString(pty.devicePath());
        auto window = startMainWindow(wireless(device, dir.path()));
        setDatalog(*window, true);
        press(*window, "Start_Button");
        std::vector<uint8_t> bytes;
        nodesim::SineSource sine{FrameFormat()};
        for (int n = 0; n < 5; ++n)
            FrameFormat().append(bytes, sine.next());
        QVERIFY(pty.write(bytes));
        QTRY_COMPARE(logRows(dir.path()).size(), 5);
        QVERIFY(reopenOptions(*window, wireless(device, dir.path(), true)));
        QTRY_VERIFY(logRows(dir.path()).size() >= 8);
        QTRY_VERIFY(
            widget<QLabel>(window.get(), "linkState")->text().startsWith("Test mode\nlog "));
        press(*window, "Stop_Button");
        QCOMPARE(messageLog(*window), QString("Test stopped"));
        QVERIFY(!acquisitionTimer(*window)->isActive() && !pty.clientAttached());
        int files = 0;
        const QStringList rows = logRows(dir.path(), &files);
        QCOMPARE(files, 2);
        QCOMPARE(rows.mid(0, 5), sineRows(5));
        QVERIFY(rows.at(5).startsWith("0,"));
    }

    // Without plots the waves stand still; plots turned on from the menu are
    // built and the window grows; turned off, they stay and go on drawing.
    void plotsFromTheMenu()
    {
        auto window = startMainWindow(testMode(false));
        QCOMPARE(window->size(), QSize(450, 780));
        QVERIFY(runTicks(*window, 5, 2));
        QTRY_COMPARE(lcdValues(*window), (Values{0, 5, 0, 0, 55, 0})); // still at t = 0
        QVERIFY(reopenOptions(*window, testMode(true)));
        QCOMPARE(window->size(), QSize(1000, 780));
        window->resize(700, 500);
        QVERIFY(reopenOptions(*window, {}, false)); // a Cancel sizes again
        QCOMPARE(window->size(), QSize(1000, 780));
        window->resize(900, 700);
        QVERIFY(reopenOptions(*window, testMode(false)));
        QCOMPARE(window->size(), QSize(900, 700));
        QVERIFY(runTicks(*window, 5, 2));
        QCOMPARE(widget<QCustomPlot>(window.get(), "gyroPlot")->graph(2)->dataCount(), 5);
        QTRY_COMPARE(lcdValues(*window), (Values{7, 4, 2, 14, 19, 29})); // t = 4
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
            wireless(link, logDir)(o);
            widget<QGroupBox>(&o, "XSB1")->setChecked(true);
            setSpin(o, "StartByte1", "170");
            setSpin(o, "EndByte2", "255");
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
        const auto *state = widget<QLabel>(window.get(), "linkState");
        QTRY_VERIFY2(state->text().startsWith("ttyUSB0 · 0 samples/s · 1360 frames · 0 stray "
                                              "bytes\nlog ") &&
                         state->text().endsWith(": 1360 rows"),
                     qPrintable(state->text()));
    }

    // Start and Stop while frames stream: nothing but init messages goes
    // back to the receiver.
    void startStopSendsNothingBack()
    {
        QTemporaryDir dir;
        const QString link = dir.filePath("ttyUSB0");
        Nodesim sim(link, {});
        auto window = startMainWindow(wireless(link));
        for (int round = 1; round <= 6; ++round) {
            press(*window, "Start_Button");
            QSignalSpy ticks(acquisitionTimer(*window), &QTimer::timeout);
            QTRY_VERIFY(ticks.count() >= 5);
            press(*window, "Stop_Button");
            QTRY_COMPARE(sim.said("program closed the line"), round);
        }
        sim.process.terminate();
        QVERIFY(sim.process.waitForFinished());
        QCOMPARE(sim.said("unexpected byte"), 0);
        QCOMPARE(sim.said("init message 31 37 01"), 6);
    }

    // Pulled out while acquiring and plugged in again at the same path:
    // acquisition and logging go on by themselves, in the same file.
    void reconnectsAfterAnUnplug()
    {
        QTemporaryDir dir;
        const QString link = dir.filePath("ttyUSB0"), logDir = dir.filePath("logs");
        QVERIFY(QDir().mkdir(logDir));
        auto first = std::make_unique<Nodesim>(link, QStringList{"--hangup-after", "50"});
        auto window = startMainWindow(wireless(link, logDir));
        setDatalog(*window, true);
        press(*window, "Start_Button");
        QTRY_VERIFY_WITH_TIMEOUT(messageLog(*window).contains("Serial device lost: "), 20000);
        first.reset();
        Nodesim second(link, {"--count", "50"});
        QTRY_VERIFY_WITH_TIMEOUT(second.said("all 50 frames sent"), 30000);
        const QString last = sineRows(50).last().section(',', 1);
        QTRY_VERIFY(logRows(logDir).value(logRows(logDir).size() - 1).endsWith("," + last));
        const QStringList rows = logRows(logDir);
        const int before = int(rows.size()) - 50;
        QCOMPARE(rows, sineRows(before) + sineRows(50, before));
        QCOMPARE(messageLog(*window).count("Serial port reopened"), 1);
        QCOMPARE(second.said("init message 31 37 01"), 1);
        press(*window, "Stop_Button");
        QCOMPARE(messageLog(*window), QString("USB closed"));
    }
};

QTEST_MAIN(TestAcquisition)
#include "tst_acquisition.moc"
