// The serial link's port over real pseudo-terminals: opening and closing, the
// read pass, the init message on the wire, surviving a receiver that is
// pulled out, and the simulator's frames as its program sends them.
#include "linktest.h"
#include "linkwatch.h"
#include "serialdevices.h"
#include "sinesource.h"

#include <QProcess>
#include <QTemporaryDir>

#include <chrono>
#include <future>

using namespace linktest;
using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

namespace
{

const QString deviceLost = "Serial device lost: Input/output error";

Bytes defaultFrames(int count)
{
    Bytes bytes;
    for (int n = 0; n < count; ++n)
        FrameFormat().append(bytes, Sample());
    return bytes;
}

} // namespace

class TestSerialPort : public QObject
{
    Q_OBJECT
private slots:
    void openAndClose_data()
    {
        QTest::addColumn<QString>("device");
        QTest::addColumn<int>("opened");
        QTest::addColumn<QStringList>("debugLines"); // %1: the path
        QTest::addColumn<QString>("reason");         // on the message text channel
        QTest::newRow("missing") << "missing" << -1
                                 << QStringList{"device does not exist", "\"%1\""} << QString();
        // These fail for root too, unlike a missing permission.
        QTest::newRow("regular file") << "file" << 0 << QStringList{"Serial port is not open"}
                                      << "Inappropriate ioctl for device";
        QTest::newRow("directory")
            << "directory" << 0 << QStringList{"Serial port is not open"} << "Is a directory";
        QTest::newRow("pseudo-terminal") << "pty" << 1 << QStringList() << QString();
    }
    void openAndClose()
    {
        QFETCH(QString, device);
        QFETCH(int, opened);
        QFETCH(QStringList, debugLines);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        const QString path = dir.filePath("ttyUSB0");
        nodesim::PseudoTerminal pty;
        QFile file(path);
        QVERIFY(device != "file" || file.open(QIODevice::WriteOnly));
        QVERIFY(device != "directory" || QDir().mkdir(path));
        if (device == "pty")
            pty.makeLink(path.toStdString());
        serialhandler serial;
        TextLog text(serial);
        serial.receiveDevicename(path);
        const auto descriptors = openDescriptors().size();
        // Twice: each failure, and each close, releases what the open took.
        for (int round = 0; round < 2; ++round) {
            DebugLog debug;
            QCOMPARE(serial.OpenUsb(10), opened);
            QCOMPARE(pty.clientReady(), opened == 1);
            QCOMPARE(serial.OpenUsb(10), opened); // an open port stays as it is
            QCOMPARE(serial.CloseUsb(), opened == 1 ? 1 : 0);
            QCOMPARE(serial.CloseUsb(), 0);
            serial.readSerial(); // with no port: reads nothing, writes no line
            QCOMPARE(debug.lines, (debugLines + debugLines).replaceInStrings("%1", path));
            QCOMPARE(openDescriptors().size(), descriptors);
        }
        const QStringList expected(4, "Serial port could not be opened: " + reason);
        QCOMPARE(text.lines, reason.isEmpty() ? QStringList() : expected);
        QVERIFY(!pty.clientAttached());
    }

    // A pass takes every frame waiting, in order, and keeps a partial one
    // for the next; a pass that finds none says what it holds.
    void readPasses()
    {
        nodesim::PseudoTerminal pty;
        serialhandler serial;
        SampleLog samples(serial);
        QVERIFY(openOn(serial, pathOf(pty)));
        Bytes bytes = defaultFrames(3);
        bytes.pop_back();
        QVERIFY(pty.write(bytes));
        QVERIFY(QTest::qWaitFor([&] { return queuedOn(pathOf(pty)) == int(bytes.size()); }));
        DebugLog debug;
        serial.readSerial();
        QCOMPARE(samples.count(), 2);
        QCOMPARE(queuedOn(pathOf(pty)), 0);
        serial.readSerial();
        QCOMPARE(debug.lines, QStringList("Check bytes not correct!"));
        QVERIFY(pty.write(defaultFrames(1)));
        QVERIFY(readUntil(serial, samples, 3));
        QCOMPARE(serial.bytesReceived(), 3 * 14 - 1 + 14);
        QCOMPARE(serial.frameSearch().bytesDropped(), 13);
    }

    void initMessage_data()
    {
        QTest::addColumn<OptionArray>("options");
        QTest::addColumn<bool>("open");
        QTest::addColumn<Bytes>("wire"); // empty with an open port: refused
        QTest::addColumn<QString>("debugLine");
        QTest::newRow("both slots")
            << defaultOptions() << true << Bytes{0x31, 0x37, 0x01} << "INIT MSG: 49 55 1";
        QTest::newRow("gyroscope alone, end byte 1 off")
            << OptionArray{12, -1, -1, -1, 1, 0, -1, 6, 6} << true << Bytes{0x32, 0xFF, 0x01}
            << "INIT MSG: 50 -1 1";
        QTest::newRow("accelerometer alone") << OptionArray{12, -1, -1, 200, 7, 1, -1, 6, 6} << true
                                             << Bytes{0x33, 0xC8, 0x07} << "INIT MSG: 51 200 7";
        QTest::newRow("slot 1 off")
            << OptionArray{12, -1, -1, 55, 1, -1, 1, 6, 6} << true << Bytes() << QString();
        // Test mode starts only on true, whatever the sensor settings.
        QTest::newRow("no port, slot 1 off")
            << OptionArray{12, -1, -1, 55, 1, -1, 1, 6, 6} << false << Bytes() << QString();
    }
    void initMessage()
    {
        QFETCH(OptionArray, options);
        QFETCH(bool, open);
        QFETCH(Bytes, wire);
        QFETCH(QString, debugLine);
        nodesim::PseudoTerminal pty;
        serialhandler serial;
        TextLog text(serial);
        QVERIFY(!open || openOn(serial, pathOf(pty), options));
        serial.updateOptions(options.data());
        DebugLog debug;
        // The bytes as they arrive, taken in a thread of their own while the
        // blocking init message is written.
        auto arrivals = std::async(std::launch::async, [&pty, n = wire.size()] {
            std::vector<std::pair<uint8_t, Clock::time_point>> seen;
            for (auto end = Clock::now() + milliseconds(n ? 5000 : 300);
                 seen.size() < std::max<size_t>(n, 1) && Clock::now() < end;)
                if (pty.waitReadable(5))
                    for (uint8_t byte : pty.readAvailable())
                        seen.emplace_back(byte, Clock::now());
            return seen;
        });
        const auto start = Clock::now();
        QCOMPARE(serial.SendInitMsg(), !open || !wire.empty());
        const auto duration = Clock::now() - start;
        const auto seen = arrivals.get();
        Bytes written;
        for (const auto &arrival : seen)
            written.push_back(arrival.first);
        QCOMPARE(written, wire);
        const QString refusal = "Virheelliset asetukset, koita uudestaan (Jos vai 1 anturi, "
                                "käytä S1:tä)";
        QCOMPARE(text.lines, open && wire.empty() ? QStringList(refusal) : QStringList());
        QCOMPARE(serial.CloseUsb(), open ? 1 : 0); // a refusal leaves the port open
        QCOMPARE(debug.lines.filter("INIT MSG: ").filter(QRegularExpression("\\d$")),
                 debugLine.isEmpty() ? QStringList() : QStringList(debugLine));
        // No byte arrives before its pause has passed: 200 ms after the code,
        // 200 ms more after end byte 1, and the call lasts 100 ms after that.
        QVERIFY(wire.empty() ||
                (seen[1].second - start >= milliseconds(200) &&
                 seen[2].second - start >= milliseconds(400) && duration >= milliseconds(500)));
    }

    void releasedWhateverTheDeviceState_data()
    {
        QTest::addColumn<QString>("release");
        QTest::addColumn<bool>("unplugged"); // no pass noticed it
        for (const char *release : {"CloseUsb", "destructor"})
            for (bool unplugged : {false, true})
                QTest::addRow("%s, %s", release, unplugged ? "device gone" : "device present")
                    << release << unplugged;
        QTest::newRow("SendInitMsg, device gone") << "SendInitMsg" << true;
    }
    // libserial's close throws once the device is gone; none of this may end
    // the process or leave a descriptor open, and a lost write says so.
    void releasedWhateverTheDeviceState()
    {
        QFETCH(QString, release);
        QFETCH(bool, unplugged);
        const auto descriptors = openDescriptors().size();
        auto receiver = std::make_unique<nodesim::PseudoTerminal>();
        auto serial = std::make_unique<serialhandler>();
        TextLog text(*serial);
        QVERIFY(openOn(*serial, pathOf(*receiver)));
        if (unplugged)
            receiver.reset();
        if (release == "CloseUsb")
            QCOMPARE(serial->CloseUsb(), 1);
        else if (release == "SendInitMsg")
            QVERIFY(!serial->SendInitMsg() && serial->CloseUsb() == 0);
        else
            serial.reset();
        QCOMPARE(text.lines, release == "SendInitMsg" ? QStringList(deviceLost) : QStringList());
        QVERIFY(!receiver || !receiver->clientAttached());
        receiver.reset();
        QCOMPARE(openDescriptors().size(), descriptors);
    }

    // Pulled out mid-stream, with frames waiting, and plugged in again at the
    // same path, twenty times in one process: said once each time, and no
    // descriptor is left behind.
    void unplugWhileReading()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("ttyUSB0");
        serialhandler serial;
        SampleLog samples(serial);
        TextLog text(serial);
        qsizetype descriptors = -1;
        for (int cycle = 0; cycle < 21; ++cycle) {
            {
                nodesim::PseudoTerminal receiver;
                receiver.makeLink(path.toStdString());
                QVERIFY(openOn(serial, path));
                QVERIFY(receiver.write(defaultFrames(5)));
                QVERIFY(readUntil(serial, samples, samples.count() + 2));
            }
            for (int pass = 0; pass < 3; ++pass)
                serial.readSerial();
            QCOMPARE(text.lines, QStringList(cycle + 1, deviceLost));
            QCOMPARE(serial.CloseUsb(), 0); // what Stop then sees
            // The first cycle settles what the process opens once (Qt, libc).
            if (cycle == 0)
                descriptors = openDescriptors().size();
        }
        QCOMPARE(openDescriptors().size(), descriptors);
    }

    // The watch over an acquiring link, on a clock of its own: bytes that
    // make no frame, then silence, then the receiver pulled out and plugged
    // in again; each is said once.
    void linkWatch()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("ttyUSB0");
        auto pty = std::make_unique<nodesim::PseudoTerminal>();
        pty->makeLink(path.toStdString());
        serialhandler serial;
        QVERIFY(openOn(serial, path));
        LinkWatch watch(serial);
        watch.start(0);
        bool reopened = false;
        QStringList lines;
        for (qint64 t = 500; t <= 9000; t += 500) {
            if (t <= 5000) {
                QVERIFY(pty->write(Bytes(20, 0x42)));
                QVERIFY(QTest::qWaitFor([&] { return queuedOn(pathOf(*pty)) == 20; }));
            }
            serial.readSerial();
            lines += watch.check(t, &reopened);
        }
        QCOMPARE(lines, (QStringList{"No frame matches the frame format: check the data, start "
                                     "and end bytes in the options",
                                     "No data from the receiver for 2 s"}));
        QCOMPARE(watch.summary(), path + " · 0 samples/s · 0 frames · 0 stray bytes");
        pty.reset();
        serial.readSerial();
        QVERIFY(!serial.isOpen() && watch.check(9500, &reopened).isEmpty() && !reopened);
        pty = std::make_unique<nodesim::PseudoTerminal>();
        pty->makeLink(path.toStdString());
        QVERIFY(watch.check(10000, &reopened).isEmpty() && !serial.isOpen());
        QCOMPARE(watch.check(10500, &reopened), QStringList("Serial port reopened"));
        QVERIFY(reopened && serial.isOpen() && pty->clientReady());
        // Stopped, it tries no more.
        pty.reset();
        serial.readSerial();
        watch.stop();
        pty = std::make_unique<nodesim::PseudoTerminal>();
        pty->makeLink(path.toStdString());
        QVERIFY(watch.check(20000, &reopened).isEmpty() && !serial.isOpen());
    }

    void serialDevicesPresent()
    {
        QTemporaryDir dev;
        QStringList made;
        for (const char *name : {"ttyACM0", "ttyS0", "ttyUSB0", "ttyUSB1",
                                 "serial/by-id/usb-FTDI_FT232R_A1-if00-port0"}) {
            QVERIFY(QDir().mkpath(QFileInfo(dev.filePath(name)).path()));
            QFile(dev.filePath(name)).open(QIODevice::WriteOnly);
            made << dev.filePath(name);
        }
        made.removeAt(1);
        QCOMPARE(serialDevices(dev.path()), made);
        QCOMPARE(describeSerialDevices(dev.filePath("serial")),
                 QString("No serial device is present: is the receiver plugged in?"));
    }

    void nodesimFormats_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<OptionArray>("options");
        QTest::newRow("default") << QStringList() << defaultOptions();
        QTest::newRow("all framing bytes, 14 data bytes, slots swapped")
            << QString("--start1 170 --start2 85 --end1 13 --end2 255 --data-bytes 14 --slot1 "
                       "acc --slot2 gyro")
                   .split(' ')
            << OptionArray{14, 170, 85, 13, 255, 1, 0, 6, 6};
        QTest::newRow("accelerometer alone, noise, split frames")
            << QString("--slot2 off --slot1 acc --noise 9 --split 3").split(' ')
            << OptionArray{12, -1, -1, 55, 1, 1, -1, 6, 6};
    }
    // The simulator program, as a user starts it, sends the frames it says.
    void nodesimFormats()
    {
        QFETCH(QStringList, arguments);
        QFETCH(OptionArray, options);
        QTemporaryDir dir;
        const QString link = dir.filePath("ttyNODE");
        QProcess simulator;
        simulator.start(NODESIM_BINARY,
                        arguments + QStringList{"--link", link, "--count", "40", "--rate", "400"});
        QVERIFY(QTest::qWaitFor([&] { return QFileInfo(link).isSymLink(); }));
        serialhandler serial;
        SampleLog samples(serial);
        QVERIFY(openOn(serial, link, options));
        QVERIFY(readUntil(serial, samples, 40));
        QCOMPARE(serial.CloseUsb(), 1);
        QVERIFY(simulator.waitForFinished(10000));
        QVERIFY(simulator.readAll().contains("nodesim: sent 40 frames"));
        nodesim::SineSource sine(FrameFormat::fromOptionArray(options.data()));
        for (int n = 0; n < 40; ++n) {
            Sample s = sine.next();
            if (options[Sensor2TypeIndex] == sensor::none)
                s.gyro = {};
            QCOMPARE(samples.tuples[n], mmtest::valuesOf(s));
        }
    }
};

QTEST_GUILESS_MAIN(TestSerialPort)
#include "tst_serialport.moc"
