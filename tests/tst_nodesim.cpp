// The receiver simulator: its program driven as a user drives it, streaming
// into the serial link, and its reusable parts.
#include "datalogger.h"
#include "logreplay.h"
#include "pseudoterminal.h"
#include "serialtest.h"
#include "sinesource.h"
#include "streamer.h"

#include <QDirIterator>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace serialtest;

namespace
{

// One run of the nodesim program, its output read line by line.
struct Simulator {
    QProcess process;
    QStringList lines;
    QString device;
    bool linked = false;
    bool wantsLink;

    explicit Simulator(const QStringList &arguments)
        : wantsLink(arguments.contains(QStringLiteral("--link")))
    {
        process.setProgram(QStringLiteral(NODESIM_BINARY));
        process.setArguments(arguments);
        process.start();
    }
    ~Simulator()
    {
        if (process.state() != QProcess::NotRunning) {
            process.terminate();
            process.waitForFinished(5000);
        }
    }
    void takeOutput()
    {
        while (process.canReadLine())
            lines << QString::fromUtf8(process.readLine()).trimmed();
    }
    // Waits for the line with the device path (and the link's, if asked for).
    bool started()
    {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < 10000) {
            process.waitForReadyRead(100);
            takeOutput();
            for (const QString &line : lines)
                if (line.startsWith(QLatin1String("nodesim: device ")))
                    device = line.mid(16);
                else if (line.startsWith(QLatin1String("nodesim: link ")))
                    linked = true;
            if (!device.isEmpty() && linked == wantsLink)
                return true;
        }
        return false;
    }
    bool finished()
    {
        const bool done = process.state() == QProcess::NotRunning || process.waitForFinished(10000);
        process.waitForReadyRead(0);
        takeOutput();
        return done && process.exitStatus() == QProcess::NormalExit;
    }
    QString summary() const { return lines.isEmpty() ? QString() : lines.last(); }
};

int noiseTotal(const QString &summary)
{
    const auto match = QRegularExpression(QStringLiteral("\\((\\d+) noise bytes")).match(summary);
    return match.hasMatch() ? match.captured(1).toInt() : -1;
}

QStringList rowsIn(const QString &directory)
{
    QStringList rows;
    QDirIterator files(directory, {QStringLiteral("*.txt")}, QDir::Files);
    QStringList names;
    while (files.hasNext())
        names << files.next();
    names.sort();
    for (const QString &name : names) {
        QFile file(name);
        if (file.open(QIODevice::ReadOnly | QIODevice::Text))
            rows << QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
    return rows;
}

} // namespace

class TestNodesim : public QObject
{
    Q_OBJECT
private slots:
    void helpDescribesTheOptions();
    void badArguments_data();
    void badArguments();
    void streamsEveryFrameItSends_data();
    void streamsEveryFrameItSends();
    void replaysALogTheProgramWrote();
    void hangsUpAfterFrames();
    void waitsForTheInitMessage();
    void encodingRoundTrip_data();
    void encodingRoundTrip();
    void logFileErrors_data();
    void logFileErrors();
    void initMessageReader();
};

void TestNodesim::helpDescribesTheOptions()
{
    QProcess process;
    process.start(QStringLiteral(NODESIM_BINARY), {QStringLiteral("--help")});
    QVERIFY(process.waitForFinished(10000));
    QCOMPARE(process.exitCode(), 0);
    const QString help = QString::fromUtf8(process.readAllStandardOutput());
    for (const char *option :
         {"--link", "--rate", "--count", "--data-bytes", "--start1", "--end2", "--slot1",
          "--replay", "--noise", "--split", "--hangup-after", "--wait-init"})
        QVERIFY2(help.contains(QLatin1String(option)), option);
}

void TestNodesim::badArguments_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::newRow("end byte out of range") << QStringList{"--end1", "300"} << 2;
    QTest::newRow("unknown sensor") << QStringList{"--slot1", "magnetometer"} << 2;
    QTest::newRow("loop without replay") << QStringList{"--loop"} << 2;
    QTest::newRow("missing log file") << QStringList{"--replay", "/nonexistent/log.txt"} << 1;
}

void TestNodesim::badArguments()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QProcess process;
    process.start(QStringLiteral(NODESIM_BINARY), arguments);
    QVERIFY(process.waitForFinished(10000));
    QCOMPARE(process.exitCode(), exitCode);
    QVERIFY(process.readAllStandardError().startsWith("nodesim: "));
}

void TestNodesim::streamsEveryFrameItSends_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<OptionArray>("options");
    QTest::addColumn<QString>("initLine");
    QTest::addColumn<int>("noise");
    QTest::newRow("default format")
        << QStringList() << defaultOptions()
        << "nodesim: init message 31 37 01: both sensors, end bytes 55 1" << 0;
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
    QTest::newRow("noise and split frames")
        << QStringList{"--noise", "9", "--split", "3", "--seed", "7"} << defaultOptions()
        << "nodesim: init message 31 37 01: both sensors, end bytes 55 1" << 9;
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
    QVERIFY(simulator.started());
    QVERIFY(simulator.lines.contains(
        QStringLiteral("nodesim: link %1 -> %2").arg(link, simulator.device)));

    serialhandler serial;
    SampleLog samples(serial);
    serial.updateOptions(options.data());
    serial.receiveDevicename(link);
    QCOMPARE(serial.OpenUsb(10), 1);
    QVERIFY(serial.SendInitMsg());
    QVERIFY(readUntil(serial, samples, frames));
    QCOMPARE(serial.CloseUsb(), 1);
    QVERIFY(simulator.finished());
    QCOMPARE(simulator.process.exitCode(), 0);

    QVERIFY2(simulator.lines.contains(initLine), qPrintable(simulator.lines.join('\n')));
    const QString summary = simulator.summary();
    QVERIFY2(summary.startsWith(QStringLiteral("nodesim: sent %1 frames").arg(frames)),
             qPrintable(summary));
    QCOMPARE(noiseTotal(summary), noise * (frames - 1));
    QVERIFY(summary.contains(QLatin1String("1 init message received; line left open")));
    QVERIFY(!QFileInfo::exists(link));

    // Exactly the samples it sent, in order, and no more.
    nodesim::SineSource sine(nodesim::FrameFormat::fromOptionArray(options.data()));
    QCOMPARE(samples.count(), frames);
    for (int n = 0; n < frames; ++n) {
        Tuple expected = tupleOf(sine.next());
        if (options[5] != 0 && options[6] != 0)
            expected[3] = expected[4] = expected[5] = 0;
        if (options[5] != 1 && options[6] != 1)
            expected[0] = expected[1] = expected[2] = 0;
        QCOMPARE(samples.tuples[n], expected);
    }
}

void TestNodesim::replaysALogTheProgramWrote()
{
    QTemporaryDir recorded;
    QTemporaryDir replayed;
    // A recording with the extremes of every value, written by the logger.
    QList<Tuple> values{{0, 0, 0, 0, 0, 0},
                        {-8192, 8191, -1, -32768, 32767, -32768},
                        {8191, -8192, 4, 32767, -32768, 32767},
                        {12, -7, 1003, -2, 5, 0}};
    for (int n = 0; n < 40; ++n)
        values.append({n * 100 - 2000, -n, n * n, 3 * n - 60, n * 811 % 32768, -n * 97});
    {
        Datalogger logger;
        logger.ReceiveFilename(recorded.path());
        logger.ReceiveNewfileIndex(1000);
        for (const Tuple &v : values)
            logger.Log(v[0], v[1], v[2], v[3], v[4], v[5]);
    }
    const QStringList original = rowsIn(recorded.path());
    QCOMPARE(original.size(), values.size() + 1);
    QDir recordedDir(recorded.path());
    const QString logFile = recordedDir.filePath(recordedDir.entryList({"*.txt"}).value(0));

    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("ttyREPLAY"));
    Simulator simulator({"--replay", logFile, "--rate", "0", "--link", link});
    QVERIFY(simulator.started());
    serialhandler serial;
    SampleLog samples(serial);
    Datalogger logger;
    logger.ReceiveFilename(replayed.path());
    logger.ReceiveNewfileIndex(1000);
    QObject::connect(
        &serial,
        qOverload<int16_t, int16_t, int16_t, int16_t, int16_t, int16_t>(&serialhandler::SendData),
        &logger, &Datalogger::Log);
    auto options = defaultOptions();
    serial.updateOptions(options.data());
    serial.receiveDevicename(link);
    QCOMPARE(serial.OpenUsb(10), 1);
    QVERIFY(readUntil(serial, samples, int(values.size())));
    QCOMPARE(serial.CloseUsb(), 1);
    QVERIFY(simulator.finished());
    QVERIFY(simulator.summary().startsWith(
        QStringLiteral("nodesim: sent %1 frames").arg(values.size())));
    QCOMPARE(rowsIn(replayed.path()), original);
}

void TestNodesim::hangsUpAfterFrames()
{
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("ttyPULLED"));
    Simulator simulator({"--hangup-after", "10", "--rate", "200", "--link", link});
    QVERIFY(simulator.started());
    serialhandler serial;
    SampleLog samples(serial);
    TextLog text(serial);
    auto options = defaultOptions();
    serial.updateOptions(options.data());
    serial.receiveDevicename(link);
    QCOMPARE(serial.OpenUsb(10), 1);
    // Read until the line goes; frames still waiting then are lost with it.
    QElapsedTimer timer;
    timer.start();
    while (text.lines.isEmpty() && timer.elapsed() < 20000) {
        serial.readSerial();
        QTest::qWait(2);
    }
    QCOMPARE(text.lines, QStringList(QStringLiteral("Serial device lost: Input/output error")));
    QVERIFY(samples.count() <= 10);
    QVERIFY(simulator.finished());
    QVERIFY(simulator.lines.contains(QStringLiteral("nodesim: hung up the line after 10 frames")));
    QVERIFY(simulator.summary().startsWith(QStringLiteral("nodesim: sent 10 frames")));
    QVERIFY(simulator.summary().endsWith(QStringLiteral("hung up the line")));
    QVERIFY(!QFileInfo::exists(link));
    QCOMPARE(serial.CloseUsb(), 0);
}

void TestNodesim::waitsForTheInitMessage()
{
    Simulator simulator({"--wait-init", "--count", "5", "--rate", "400"});
    QVERIFY(simulator.started());
    serialhandler serial;
    SampleLog samples(serial);
    auto options = defaultOptions();
    serial.updateOptions(options.data());
    serial.receiveDevicename(simulator.device);
    QCOMPARE(serial.OpenUsb(10), 1);
    QTRY_VERIFY_WITH_TIMEOUT((simulator.takeOutput(), simulator.lines.contains(QStringLiteral(
                                                          "nodesim: program opened the line"))),
                             10000);
    // Streaming at 400 frames a second would have filled the port by now.
    QTest::qWait(200);
    QCOMPARE(queuedOn(simulator.device.toStdString()), 0);
    QVERIFY(serial.SendInitMsg());
    QVERIFY(readUntil(serial, samples, 5));
    QCOMPARE(serial.CloseUsb(), 1);
    QVERIFY(simulator.finished());
    QVERIFY(simulator.summary().startsWith(QStringLiteral("nodesim: sent 5 frames")));
}

void TestNodesim::encodingRoundTrip_data()
{
    QTest::addColumn<OptionArray>("options");
    QTest::newRow("default") << defaultOptions();
    QTest::newRow("all framing bytes") << OptionArray{12, 0xA5, 0x5A, 0x0D, 0x0A, 0, 1, 6, 6};
    QTest::newRow("slots swapped, 20 data bytes") << OptionArray{20, -1, -1, 55, 1, 1, 0, 6, 6};
    QTest::newRow("two accelerometers") << OptionArray{12, -1, -1, 55, 1, 1, 1, 6, 6};
}

// What the simulator encodes, the serial link decodes back, frame by frame,
// with the frames in one stream searched in memory.
void TestNodesim::encodingRoundTrip()
{
    QFETCH(OptionArray, options);
    const auto format = nodesim::FrameFormat::fromOptionArray(options.data());
    nodesim::SineSource sine(format);
    std::vector<nodesim::Sample> sent;
    std::vector<uint8_t> stream;
    for (int n = 0; n < 500; ++n) {
        sent.push_back(sine.next());
        QVERIFY(!nodesim::touchesFraming(sent.back(), format));
        nodesim::appendFrame(stream, sent.back(), format);
    }
    serialhandler serial;
    SampleLog samples(serial);
    serial.updateOptions(options.data());
    size_t offset = 0;
    while (offset < stream.size())
        offset += serial.searchFrames(stream.data() + offset, int(stream.size() - offset));
    QCOMPARE(samples.count(), 500);
    for (int n = 0; n < 500; ++n) {
        const Tuple got = samples.tuples[n];
        const Tuple want = tupleOf(sent[n]);
        if (options[5] == 0 || options[6] == 0)
            QCOMPARE((std::array<int, 3>{got[3], got[4], got[5]}),
                     (std::array<int, 3>{want[3], want[4], want[5]}));
        QCOMPARE((std::array<int, 3>{got[0], got[1], got[2]}),
                 (std::array<int, 3>{want[0], want[1], want[2]}));
    }
}

void TestNodesim::logFileErrors_data()
{
    QTest::addColumn<QString>("content");
    QTest::addColumn<int>("rows");
    QTest::addColumn<QString>("error");
    const QString header =
        QStringLiteral("indeksi,x-akseli1,y-akseli1,z-akseli1,x-akseli2,y-akseli2,z-akseli2\n");
    QTest::newRow("appended file: two headers")
        << header + "0,1,2,3,4,5,6\n" + header + "0,7,8,9,10,11,12\n"
        << 2 << QString();
    QTest::newRow("short row") << header + "0,1,2,3,4,5,6\n1,2,3\n" << 0 << ":3: not a row";
    QTest::newRow("text in a row") << header + "0,1,x,3,4,5,6\n" << 0 << ":2: not a row";
    QTest::newRow("accelerometer beyond 14 bits") << header + "0,8192,0,0,0,0,0\n"
                                                  << 0 << ":2: value out of range";
}

void TestNodesim::logFileErrors()
{
    QFETCH(QString, content);
    QFETCH(int, rows);
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
        QCOMPARE(int(samples.size()), rows);
        QCOMPARE(samples[1].acc[0], int16_t(7));
        QCOMPARE(samples[1].gyro[2], int16_t(12));
    } else {
        QVERIFY2(QString::fromStdString(message).contains(error), message.c_str());
    }
}

void TestNodesim::initMessageReader()
{
    nodesim::InitMessageReader reader;
    QCOMPARE(reader.feed({0x31, 0x37}), std::vector<std::string>());
    QCOMPARE(reader.feed({0x01, 0x00, 0x33, 0xFF, 0xFF}),
             (std::vector<std::string>{"init message 31 37 01: both sensors, end bytes 55 1",
                                       "unexpected byte 00 from the program",
                                       "init message 33 FF FF: sensor 1 only, accelerometer, end "
                                       "bytes 255 255"}));
    QCOMPARE(reader.messages(), 2);
}

QTEST_GUILESS_MAIN(TestNodesim)
#include "tst_nodesim.moc"
