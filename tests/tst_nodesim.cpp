// The receiver simulator: its program driven as a user drives it, streaming
// into the serial link, and its log file reader.
#include "datalogger.h"
#include "logreplay.h"
#include "serialtest.h"
#include "sinesource.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace serialtest;

namespace
{

// One run of the nodesim program, its output read line by line.
struct Simulator {
    QProcess process;
    QStringList lines;

    explicit Simulator(const QStringList &arguments)
    {
        process.start(QStringLiteral(NODESIM_BINARY), arguments);
    }
    ~Simulator()
    {
        process.terminate();
        process.waitForFinished(5000);
    }
    // Waits for an output line that starts with `start`; stores the rest of it.
    bool said(const QString &start, QString *rest = nullptr)
    {
        return QTest::qWaitFor(
            [&] {
                while (process.canReadLine())
                    lines << QString::fromUtf8(process.readLine()).trimmed();
                for (const QString &line : lines)
                    if (line.startsWith(start)) {
                        if (rest)
                            *rest = line.mid(start.size());
                        return true;
                    }
                return false;
            },
            10000);
    }
    // Waits for the end: a normal exit with code 0; its last line is then summary().
    bool finished()
    {
        process.waitForFinished(10000);
        lines += QString::fromUtf8(process.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
        return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    }
    QString summary() const { return lines.value(lines.size() - 1); }
};

} // namespace

class TestNodesim : public QObject
{
    Q_OBJECT
private slots:
    void streamsEveryFrameItSends_data();
    void streamsEveryFrameItSends();
    void replaysALogTheProgramWrote();
    void hangsUpAfterFrames();
    void logFileErrors_data();
    void logFileErrors();
};

void TestNodesim::streamsEveryFrameItSends_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<OptionArray>("options");
    QTest::addColumn<QString>("initLine");
    QTest::addColumn<int>("noise");
    const QString defaultInit = "nodesim: init message 31 37 01: both sensors, end bytes 55 1";
    QTest::newRow("default format") << QStringList() << defaultOptions() << defaultInit << 0;
    QTest::newRow("all framing bytes, 14 data bytes, slots swapped")
        << QStringList{"--start1",     "170", "--start2", "85",  "--end1",  "13",  "--end2", "10",
                       "--data-bytes", "14",  "--slot1",  "acc", "--slot2", "gyro"}
        << OptionArray{14, 170, 85, 13, 10, 1, 0, 6, 6}
        << "nodesim: init message 31 0D 0A: both sensors, end bytes 13 10" << 0;
    QTest::newRow("start bytes only, accelerometer alone")
        << QStringList{"--start1", "36",      "--end1", "off",     "--end2",
                       "off",      "--slot1", "acc",    "--slot2", "off"}
        << OptionArray{12, 36, -1, -1, -1, 1, -1, 6, 6}
        << "nodesim: init message 33 FF FF: sensor 1 only, accelerometer, end bytes 255 255" << 0;
    QTest::newRow("noise and split frames, after the init message")
        << QStringList{"--noise", "9", "--split", "3", "--seed", "7", "--wait-init"}
        << defaultOptions() << defaultInit << 9;
}

void TestNodesim::streamsEveryFrameItSends()
{
    QFETCH(QStringList, arguments);
    QFETCH(OptionArray, options);
    QFETCH(QString, initLine);
    QFETCH(int, noise);
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("ttyNODE"));
    const int frames = 40;
    Simulator simulator(arguments + QStringList{"--link", link, "--count", QString::number(frames),
                                                "--rate", "400"});
    QString device;
    QVERIFY(simulator.said(QStringLiteral("nodesim: device "), &device));
    QVERIFY(simulator.said(QStringLiteral("nodesim: link %1 -> %2").arg(link, device)));

    serialhandler serial;
    SampleLog samples(serial);
    QVERIFY(openOn(serial, link, options));
    if (arguments.contains(QStringLiteral("--wait-init"))) {
        QVERIFY(simulator.said(QStringLiteral("nodesim: program opened the line")));
        // Streaming at 400 frames a second would have filled the port by now.
        QTest::qWait(200);
        QCOMPARE(queuedOn(device.toStdString()), 0);
    }
    QVERIFY(serial.SendInitMsg());
    QVERIFY(readUntil(serial, samples, frames));
    QCOMPARE(serial.CloseUsb(), 1);
    QVERIFY(simulator.finished());

    QVERIFY2(simulator.lines.contains(initLine), qPrintable(simulator.lines.join('\n')));
    const QString summary = simulator.summary();
    QVERIFY2(summary.startsWith(QStringLiteral("nodesim: sent %1 frames").arg(frames)),
             qPrintable(summary));
    QVERIFY2(summary.contains(QStringLiteral("(%1 noise bytes").arg(noise * (frames - 1))),
             qPrintable(summary));
    QVERIFY(summary.contains(QLatin1String("1 init message received; line left open")));
    QVERIFY(!QFileInfo::exists(link));

    // Exactly the samples it sent, in order, and no more.
    nodesim::SineSource sine(nodesim::FrameFormat::fromOptionArray(options.data()));
    std::vector<Tuple> expected;
    for (int n = 0; n < frames; ++n) {
        expected.push_back(tupleOf(sine.next()));
        if (options[5] != 0 && options[6] != 0)
            expected[n][3] = expected[n][4] = expected[n][5] = 0;
        if (options[5] != 1 && options[6] != 1)
            expected[n][0] = expected[n][1] = expected[n][2] = 0;
    }
    QCOMPARE(samples.tuples, expected);
}

// A log file that the logger wrote, replayed into the serial link, gives the
// recorded values again.
void TestNodesim::replaysALogTheProgramWrote()
{
    QTemporaryDir recorded;
    // The extremes of every value, then some more.
    std::vector<Tuple> values{{0, 0, 0, 0, 0, 0},
                              {-8192, 8191, -1, -32768, 32767, -32768},
                              {8191, -8192, 4, 32767, -32768, 32767}};
    for (int n = 0; n < 20; ++n)
        values.push_back({n * 100 - 2000, -n, n * n, 3 * n - 60, n * 811 % 32768, -n * 97});
    {
        Datalogger logger;
        logger.ReceiveFilename(recorded.path());
        for (const Tuple &v : values)
            logger.Log(v[0], v[1], v[2], v[3], v[4], v[5]);
    }
    const QStringList logs = QDir(recorded.path()).entryList({QStringLiteral("*.txt")});
    QCOMPARE(logs.size(), 1);

    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("ttyREPLAY"));
    Simulator simulator({"--replay", recorded.filePath(logs[0]), "--rate", "0", "--link", link});
    QVERIFY(simulator.said(QStringLiteral("nodesim: link ")));
    serialhandler serial;
    SampleLog samples(serial);
    QVERIFY(openOn(serial, link));
    QVERIFY(readUntil(serial, samples, int(values.size())));
    QCOMPARE(serial.CloseUsb(), 1);
    QVERIFY(simulator.finished());
    QVERIFY(simulator.summary().startsWith(
        QStringLiteral("nodesim: sent %1 frames").arg(values.size())));
    QCOMPARE(samples.tuples, values);
}

void TestNodesim::hangsUpAfterFrames()
{
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("ttyPULLED"));
    Simulator simulator({"--hangup-after", "10", "--rate", "200", "--link", link});
    QVERIFY(simulator.said(QStringLiteral("nodesim: link ")));
    serialhandler serial;
    SampleLog samples(serial);
    TextLog text(serial);
    QVERIFY(openOn(serial, link));
    // Read until the line goes; frames still waiting then are lost with it.
    QVERIFY(QTest::qWaitFor(
        [&] {
            serial.readSerial();
            return !text.lines.isEmpty();
        },
        20000));
    QCOMPARE(text.lines, QStringList(QStringLiteral("Serial device lost: Input/output error")));
    QVERIFY(samples.count() <= 10);
    QVERIFY(simulator.finished());
    QVERIFY(simulator.lines.contains(QStringLiteral("nodesim: hung up the line after 10 frames")));
    QVERIFY(simulator.summary().startsWith(QStringLiteral("nodesim: sent 10 frames")));
    QVERIFY(simulator.summary().endsWith(QStringLiteral("hung up the line")));
    QVERIFY(!QFileInfo::exists(link));
    QCOMPARE(serial.CloseUsb(), 0);
}

void TestNodesim::logFileErrors_data()
{
    QTest::addColumn<QString>("content");
    QTest::addColumn<QString>("error"); // empty: read
    const QString header =
        QStringLiteral("indeksi,x-akseli1,y-akseli1,z-akseli1,x-akseli2,y-akseli2,z-akseli2\n");
    QTest::newRow("appended file: two headers")
        << header + "0,1,2,3,4,5,6\n" + header + "0,7,8,9,10,11,12\n"
        << QString();
    QTest::newRow("short row") << header + "0,1,2,3,4,5,6\n1,2,3\n"
                               << ":3: not a row";
    QTest::newRow("accelerometer beyond 14 bits") << header + "0,8192,0,0,0,0,0\n"
                                                  << ":2: value out of range";
}

void TestNodesim::logFileErrors()
{
    QFETCH(QString, content);
    QFETCH(QString, error);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("log.txt"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content.toUtf8());
    file.close();
    std::vector<nodesim::Sample> samples;
    std::string message;
    QCOMPARE(nodesim::readLogFile(path.toStdString(), samples, message), error.isEmpty());
    if (error.isEmpty()) {
        QCOMPARE(int(samples.size()), 2);
        QCOMPARE(tupleOf(samples[1]), (Tuple{7, 8, 9, 10, 11, 12}));
    } else {
        QVERIFY2(QString::fromStdString(message).contains(error), message.c_str());
    }
}

QTEST_GUILESS_MAIN(TestNodesim)
#include "tst_nodesim.moc"
