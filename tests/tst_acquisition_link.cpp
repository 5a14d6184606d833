// Acquisition from end to end over a pseudo-terminal: the receiver simulator
// streams frames, the window shows, plots and logs them; the receiver is
// pulled out and plugged in again; "Datalog" is switched off and on.
#include "acquisitiontest.h"
#include "pseudoterminal.h"
#include "sinesource.h"
#include "streamer.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <qcustomplot.h>

#include <atomic>
#include <mutex>
#include <thread>

using namespace acqtest;

namespace
{

// Samples that the simulator would send, none of them touching the framing
// byte values.
std::vector<nodesim::Sample> sineSamples(int count, int skip = 0)
{
    nodesim::SineSource source{nodesim::FrameFormat()};
    std::vector<nodesim::Sample> samples;
    for (int i = 0; i < skip + count; ++i) {
        const auto sample = source.next();
        if (i >= skip)
            samples.push_back(sample);
    }
    return samples;
}

bool sendFrames(nodesim::PseudoTerminal &pty, const std::vector<nodesim::Sample> &samples)
{
    std::vector<uint8_t> bytes;
    for (const auto &s : samples)
        nodesim::appendFrame(bytes, s, nodesim::FrameFormat());
    return pty.write(bytes);
}

// Wireless mode on `device`, plots on, logging into `logDir` with "Datalog"
// checked and a read interval that outpaces the frames.
std::unique_ptr<MainWindow> wirelessWindow(const QString &device, const QString &logDir)
{
    auto window = mmtest::startMainWindow([&](Options &o) {
        mmtest::setTestMode(o, false);
        mmtest::setDrawPlots(o, true);
        mmtest::setDevice(o, device);
        mmtest::setLogDirectory(o, logDir);
    });
    if (window) {
        setDatalog(*window, true);
        setReadInterval(*window, 2);
    }
    return window;
}

// The accelerometer plot, known by its first graph's name.
QCustomPlot *accelerometerPlot(const MainWindow &window)
{
    for (QCustomPlot *plot : window.findChildren<QCustomPlot *>())
        if (plot->graphCount() > 0 && plot->graph(0)->name() == QLatin1String("Acc_Xaxis"))
            return plot;
    return nullptr;
}

std::vector<Row> rowsOf(const std::vector<nodesim::Sample> &samples, int firstIndex = 0)
{
    std::vector<Row> rows;
    for (const auto &s : samples)
        rows.push_back({firstIndex + int(rows.size()), serialtest::tupleOf(s)});
    return rows;
}

// Compares log rows, naming the first difference in *why.
bool sameRows(const std::vector<Row> &have, const std::vector<Row> &want, QString *why)
{
    const auto text = [](const Row &r) {
        QStringList fields{QString::number(r.index)};
        for (int v : r.values)
            fields << QString::number(v);
        return fields.join(',');
    };
    for (size_t i = 0; i < std::max(have.size(), want.size()); ++i) {
        const QString h = i < have.size() ? text(have[i]) : QStringLiteral("(none)");
        const QString w = i < want.size() ? text(want[i]) : QStringLiteral("(none)");
        if (h != w) {
            *why = QStringLiteral("row %1 is %2, expected %3").arg(i).arg(h, w);
            return false;
        }
    }
    return true;
}

int linesStartingWith(const QString &log, const QString &prefix)
{
    int n = 0;
    for (const QString &line : log.split('\n'))
        n += line.startsWith(prefix);
    return n;
}

} // namespace

class TestAcquisitionLink : public QObject
{
    Q_OBJECT
private slots:
    void everyFrameShownPlottedAndLogged();
    void receiverPulledOutAndBack();
    void sampleWhileDatalogUnchecked();
};

void TestAcquisitionLink::everyFrameShownPlottedAndLogged()
{
    const int frames = 150;
    const auto samples = sineSamples(frames);
    QTemporaryDir logDir;
    nodesim::PseudoTerminal pty;

    // The simulator sends nothing before the program's init message, so the
    // frames prove that it arrived.
    nodesim::StreamConfig config;
    config.rate = 100;
    config.count = frames;
    config.waitForInit = true;
    size_t next = 0;
    std::mutex eventsLock;
    QStringList events;
    nodesim::Streamer streamer(
        pty, config, [&]() -> std::optional<nodesim::Sample> { return samples.at(next++); },
        [&](const std::string &line) {
            std::lock_guard<std::mutex> lock(eventsLock);
            events << QString::fromStdString(line);
        });
    std::atomic<bool> stop{false};
    nodesim::StreamReport report;
    std::thread simulator([&] { report = streamer.run(stop); });
    auto finish = qScopeGuard([&] {
        stop = true;
        simulator.join();
    });

    auto window = wirelessWindow(QString::fromStdString(pty.devicePath()), logDir.path());
    QVERIFY(window);
    const QString before = messageLog(*window);
    press(*window, "Start_Button");
    QCOMPARE(messageLog(*window), before + "\nSerial port opened");

    QTRY_VERIFY_WITH_TIMEOUT(loggedRows(logDir.path()) >= frames, 60000);
    QCOMPARE(lcdValues(*window), serialtest::tupleOf(samples.back()));
    QCustomPlot *plot = accelerometerPlot(*window);
    QVERIFY(plot);
    QCOMPARE(plot->graph(0)->dataCount(), 101); // the window of 100 points, and the newest
    QCOMPARE(int(plot->graph(0)->data()->at(100)->value), int(samples.back().acc[0]));

    const LogContents log = readLogs(logDir.path());
    QVERIFY(log.ok);
    QCOMPARE(log.files.size(), 1);
    QString why;
    QVERIFY2(sameRows(log.rows, rowsOf(samples), &why), qPrintable(why));
    QVERIFY(messageLog(*window).contains("New file created: "));

    // Any tick from now on finds nothing new.
    QSignalSpy ticks(acquisitionTimer(*window), &QTimer::timeout);
    QTRY_VERIFY_WITH_TIMEOUT(ticks.count() >= 10, 10000);
    QCOMPARE(loggedRows(logDir.path()), frames);

    // "Init Msg" sends one more while acquiring.
    press(*window, "sendInit");

    press(*window, "Stop_Button");
    QCOMPARE(messageLog(*window), QString("USB closed"));
    finish.dismiss();
    simulator.join(); // it ends once every frame is sent and the line is closed
    QCOMPARE(report.frames, long(frames));
    QCOMPARE(report.initMessages, 2);
    QVERIFY2(events.contains("init message 31 37 01: both sensors, end bytes 55 1"),
             qPrintable(events.join('\n')));
}

void TestAcquisitionLink::receiverPulledOutAndBack()
{
    QTemporaryDir dir;
    const QString logDir = dir.filePath("logs");
    QVERIFY(QDir().mkdir(logDir));
    const QString link = dir.filePath("ttyUSB0");
    const auto first = sineSamples(10);
    const auto second = sineSamples(10, 10);

    auto pty = std::make_unique<nodesim::PseudoTerminal>();
    pty->makeLink(link.toStdString());
    auto window = wirelessWindow(link, logDir);
    QVERIFY(window);
    QTimer *timer = acquisitionTimer(*window);
    press(*window, "Start_Button");
    QVERIFY(messageLog(*window).endsWith("\nSerial port opened"));
    QVERIFY(sendFrames(*pty, first));
    QTRY_COMPARE_WITH_TIMEOUT(loggedRows(logDir), 10, 20000);

    pty->hangUp();
    QTRY_VERIFY_WITH_TIMEOUT(messageLog(*window).contains("Serial device lost: "), 10000);
    // The ticks go on, and none of them says it again.
    QSignalSpy ticks(timer, &QTimer::timeout);
    QTRY_VERIFY_WITH_TIMEOUT(ticks.count() >= 20, 10000);
    QCOMPARE(linesStartingWith(messageLog(*window), "Serial device lost: "), 1);
    QCOMPARE(lcdValues(*window), serialtest::tupleOf(first.back()));

    press(*window, "Stop_Button");
    QVERIFY(messageLog(*window).endsWith("\nPort already closed"));
    QVERIFY(!timer->isActive());

    // Plugged in again at the same path.
    pty = std::make_unique<nodesim::PseudoTerminal>();
    pty->makeLink(link.toStdString());
    press(*window, "Start_Button");
    QVERIFY(messageLog(*window).endsWith("\nSerial port opened"));
    QVERIFY(timer->isActive());
    QVERIFY(sendFrames(*pty, second));
    QTRY_COMPARE_WITH_TIMEOUT(loggedRows(logDir), 20, 20000);
    QCOMPARE(lcdValues(*window), serialtest::tupleOf(second.back()));

    const LogContents log = readLogs(logDir);
    QVERIFY(log.ok);
    QCOMPARE(log.files.size(), 1);
    auto all = first;
    all.insert(all.end(), second.begin(), second.end());
    QString why;
    QVERIFY2(sameRows(log.rows, rowsOf(all), &why), qPrintable(why));
    press(*window, "Stop_Button");
    QCOMPARE(messageLog(*window), QString("USB closed"));
}

void TestAcquisitionLink::sampleWhileDatalogUnchecked()
{
    QTemporaryDir logDir;
    nodesim::PseudoTerminal pty;
    const auto samples = sineSamples(3, 40);
    auto window = wirelessWindow(QString::fromStdString(pty.devicePath()), logDir.path());
    QVERIFY(window);
    QCustomPlot *plot = accelerometerPlot(*window);
    QVERIFY(plot);
    press(*window, "Start_Button");

    QVERIFY(sendFrames(pty, {samples[0]}));
    QTRY_COMPARE_WITH_TIMEOUT(loggedRows(logDir.path()), 1, 20000);

    setDatalog(*window, false);
    QVERIFY(sendFrames(pty, {samples[1]}));
    QTRY_COMPARE_WITH_TIMEOUT(lcdValues(*window), serialtest::tupleOf(samples[1]), 20000);
    QCOMPARE(plot->graph(0)->dataCount(), 2);
    QCOMPARE(int(plot->graph(0)->data()->at(1)->value), int(samples[1].acc[0]));
    QCOMPARE(loggedRows(logDir.path()), 1);

    setDatalog(*window, true);
    QVERIFY(sendFrames(pty, {samples[2]}));
    QTRY_COMPARE_WITH_TIMEOUT(loggedRows(logDir.path()), 2, 20000);
    const LogContents log = readLogs(logDir.path());
    QVERIFY(log.ok);
    QCOMPARE(log.files.size(), 1);
    QString why;
    QVERIFY2(sameRows(log.rows,
                      {{0, serialtest::tupleOf(samples[0])}, {1, serialtest::tupleOf(samples[2])}},
                      &why),
             qPrintable(why));
    QCOMPARE(plot->graph(0)->dataCount(), 3);
}

QTEST_MAIN(TestAcquisitionLink)
#include "tst_acquisition_link.moc"
