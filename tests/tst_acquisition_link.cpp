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

// Samples as the simulator sends them (none touches the framing values),
// after the first `skip`.
std::vector<nodesim::Sample> sineSamples(int count, int skip = 0)
{
    nodesim::SineSource source{nodesim::FrameFormat()};
    for (int i = 0; i < skip; ++i)
        source.next();
    std::vector<nodesim::Sample> samples;
    for (int i = 0; i < count; ++i)
        samples.push_back(source.next());
    return samples;
}

bool sendFrames(nodesim::PseudoTerminal &pty, const std::vector<nodesim::Sample> &samples)
{
    std::vector<uint8_t> bytes;
    for (const auto &s : samples)
        nodesim::appendFrame(bytes, s, nodesim::FrameFormat());
    return pty.write(bytes);
}

// The log rows of the samples, indexed from 0.
QStringList rowsOf(const std::vector<nodesim::Sample> &samples)
{
    QStringList rows;
    for (const auto &s : samples)
        rows << logRow(int(rows.size()), serialtest::tupleOf(s));
    return rows;
}

// Wireless mode on `device`, plots on, "Datalog" checked into `logDir`, and a
// read interval that outpaces the frames.
std::unique_ptr<MainWindow> wirelessWindow(const QString &device, const QString &logDir)
{
    auto window = mmtest::startMainWindow([&](Options &o) {
        mmtest::setDevice(o, device);
        mmtest::setLogDirectory(o, logDir);
    });
    if (window) {
        setDatalog(*window, true);
        setReadInterval(*window, 2);
    }
    return window;
}

QCPGraph *accXGraph(const MainWindow &window)
{
    return mmtest::widget<QCustomPlot>(&window, "accPlot")->graph(0);
}

} // namespace

class TestAcquisitionLink : public QObject
{
    Q_OBJECT
private slots:
    void everyFrameShownPlottedAndLogged()
    {
        const int frames = 150;
        const auto samples = sineSamples(frames);
        QTemporaryDir logDir;
        nodesim::PseudoTerminal pty;

        // The simulator sends nothing before the program's init message, so
        // the frames prove that it arrived.
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

        QTRY_VERIFY_WITH_TIMEOUT(logRows(logDir.path()).size() >= frames, 60000);
        QCOMPARE(lcdValues(*window), serialtest::tupleOf(samples.back()));
        QCOMPARE(accXGraph(*window)->dataCount(), 101); // the window of 100, and the newest
        QCOMPARE(int(accXGraph(*window)->data()->at(100)->value), int(samples.back().acc[0]));
        int files = 0;
        QCOMPARE(logRows(logDir.path(), &files), rowsOf(samples));
        QCOMPARE(files, 1);
        QVERIFY(messageLog(*window).contains("New file created: "));

        // Any tick from now on finds nothing new.
        QSignalSpy ticks(acquisitionTimer(*window), &QTimer::timeout);
        QTRY_VERIFY_WITH_TIMEOUT(ticks.count() >= 10, 10000);
        QCOMPARE(logRows(logDir.path()).size(), frames);

        press(*window, "sendInit"); // one more while acquiring
        press(*window, "Stop_Button");
        QCOMPARE(messageLog(*window), QString("USB closed"));
        finish.dismiss();
        simulator.join(); // it ends once every frame is sent and the line is closed
        QCOMPARE(report.frames, long(frames));
        QCOMPARE(report.initMessages, 2);
        QVERIFY2(events.contains("init message 31 37 01: both sensors, end bytes 55 1"),
                 qPrintable(events.join('\n')));
    }

    void receiverPulledOutAndBack()
    {
        QTemporaryDir dir;
        const QString logDir = dir.filePath("logs"), link = dir.filePath("ttyUSB0");
        QVERIFY(QDir().mkdir(logDir));
        const auto samples = sineSamples(20);
        const std::vector<nodesim::Sample> first(samples.begin(), samples.begin() + 10),
            second(samples.begin() + 10, samples.end());

        auto pty = std::make_unique<nodesim::PseudoTerminal>();
        pty->makeLink(link.toStdString());
        auto window = wirelessWindow(link, logDir);
        QVERIFY(window);
        QTimer *timer = acquisitionTimer(*window);
        press(*window, "Start_Button");
        QVERIFY(messageLog(*window).endsWith("\nSerial port opened"));
        QVERIFY(sendFrames(*pty, first));
        QTRY_COMPARE_WITH_TIMEOUT(logRows(logDir).size(), 10, 20000);

        pty->hangUp();
        QTRY_VERIFY_WITH_TIMEOUT(messageLog(*window).contains("Serial device lost: "), 10000);
        // The ticks go on, and none of them says it again.
        QSignalSpy ticks(timer, &QTimer::timeout);
        QTRY_VERIFY_WITH_TIMEOUT(ticks.count() >= 20, 10000);
        QCOMPARE(messageLog(*window).count("Serial device lost: "), 1);
        QCOMPARE(lcdValues(*window), serialtest::tupleOf(first.back()));
        press(*window, "Stop_Button");
        QVERIFY(messageLog(*window).endsWith("\nPort already closed"));
        QVERIFY(!timer->isActive());

        // Plugged in again at the same path: logging goes on in the same file.
        pty = std::make_unique<nodesim::PseudoTerminal>();
        pty->makeLink(link.toStdString());
        press(*window, "Start_Button");
        QVERIFY(messageLog(*window).endsWith("\nSerial port opened"));
        QVERIFY(timer->isActive());
        QVERIFY(sendFrames(*pty, second));
        QTRY_COMPARE_WITH_TIMEOUT(logRows(logDir).size(), 20, 20000);
        QCOMPARE(lcdValues(*window), serialtest::tupleOf(second.back()));
        int files = 0;
        QCOMPARE(logRows(logDir, &files), rowsOf(samples));
        QCOMPARE(files, 1);
        press(*window, "Stop_Button");
        QCOMPARE(messageLog(*window), QString("USB closed"));
    }

    // Shown and plotted but not logged; re-checked, the same file goes on.
    void sampleWhileDatalogUnchecked()
    {
        QTemporaryDir logDir;
        nodesim::PseudoTerminal pty;
        const auto samples = sineSamples(3, 40);
        auto window = wirelessWindow(QString::fromStdString(pty.devicePath()), logDir.path());
        QVERIFY(window);
        press(*window, "Start_Button");
        QVERIFY(sendFrames(pty, {samples[0]}));
        QTRY_COMPARE_WITH_TIMEOUT(logRows(logDir.path()).size(), 1, 20000);

        setDatalog(*window, false);
        QVERIFY(sendFrames(pty, {samples[1]}));
        QTRY_COMPARE_WITH_TIMEOUT(lcdValues(*window), serialtest::tupleOf(samples[1]), 20000);
        QCOMPARE(accXGraph(*window)->dataCount(), 2);
        QCOMPARE(int(accXGraph(*window)->data()->at(1)->value), int(samples[1].acc[0]));
        QCOMPARE(logRows(logDir.path()).size(), 1);

        setDatalog(*window, true);
        QVERIFY(sendFrames(pty, {samples[2]}));
        QTRY_COMPARE_WITH_TIMEOUT(logRows(logDir.path()).size(), 2, 20000);
        int files = 0;
        QCOMPARE(logRows(logDir.path(), &files), rowsOf({samples[0], samples[2]}));
        QCOMPARE(files, 1);
        QCOMPARE(accXGraph(*window)->dataCount(), 3);
    }
};

QTEST_MAIN(TestAcquisitionLink)
#include "tst_acquisition_link.moc"
