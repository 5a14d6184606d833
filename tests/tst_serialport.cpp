// The serial link's port: opening and closing, the init message on the wire,
// and surviving a receiver that is pulled out, over real pseudo-terminals.
#include "pseudoterminal.h"
#include "serialtest.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <chrono>
#include <future>
#include <memory>

using namespace serialtest;
using Clock = std::chrono::steady_clock;

namespace
{

const QString finnishRefusal =
    QStringLiteral("Virheelliset asetukset, koita uudestaan (Jos vai 1 anturi, käytä S1:tä)");
const QString deviceLost = QStringLiteral("Serial device lost: Input/output error");

QString pathOf(const nodesim::PseudoTerminal &pty)
{
    return QString::fromStdString(pty.devicePath());
}

Bytes defaultFrames(int count)
{
    Bytes bytes;
    for (int n = 0; n < count; ++n)
        nodesim::appendFrame(bytes, nodesim::Sample(), nodesim::FrameFormat());
    return bytes;
}

using Arrivals = std::vector<std::pair<uint8_t, Clock::time_point>>;

// Takes the bytes the program writes, with their arrival times, in a thread
// of its own while the blocking init message is being written; ends when
// `count` came or after `ms`.
std::future<Arrivals> watchWire(nodesim::PseudoTerminal &pty, size_t count, int ms)
{
    return std::async(std::launch::async, [&pty, count, ms] {
        Arrivals arrivals;
        const auto end = Clock::now() + std::chrono::milliseconds(ms);
        while (arrivals.size() < count && Clock::now() < end)
            if (pty.waitReadable(5))
                for (uint8_t byte : pty.readAvailable())
                    arrivals.emplace_back(byte, Clock::now());
        return arrivals;
    });
}

} // namespace

class TestSerialPort : public QObject
{
    Q_OBJECT
private slots:
    void openAndClose_data();
    void openAndClose();
    void openPortKeptUntilClosed();
    void initMessage_data();
    void initMessage();
    void releasedWhateverTheDeviceState_data();
    void releasedWhateverTheDeviceState();
    void unplugWhileReading();
};

void TestSerialPort::openAndClose_data()
{
    QTest::addColumn<QString>("device");
    QTest::addColumn<int>("opened");
    QTest::addColumn<QStringList>("debugLines"); // %1: the path
    QTest::addColumn<QString>("reason");         // on the message text channel
    const QString notOpened = QStringLiteral("Serial port could not be opened: ");
    QTest::newRow("missing") << "missing" << -1 << QStringList{"device does not exist", "\"%1\""}
                             << QString();
    // A regular file and a directory fail for root too, unlike a missing permission.
    QTest::newRow("regular file") << "file" << 0 << QStringList{"Serial port is not open"}
                                  << notOpened + "Inappropriate ioctl for device";
    QTest::newRow("directory") << "directory" << 0 << QStringList{"Serial port is not open"}
                               << notOpened + "Is a directory";
    QTest::newRow("pseudo-terminal") << "pty" << 1 << QStringList() << QString();
}

void TestSerialPort::openAndClose()
{
    QFETCH(QString, device);
    QFETCH(int, opened);
    QFETCH(QStringList, debugLines);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("ttyUSB0"));
    std::unique_ptr<nodesim::PseudoTerminal> pty;
    QFile file(path);
    if (device == "file")
        QVERIFY(file.open(QIODevice::WriteOnly));
    else if (device == "directory")
        QVERIFY(QDir().mkdir(path));
    else if (device == "pty")
        (pty = std::make_unique<nodesim::PseudoTerminal>())->makeLink(path.toStdString());
    file.close();

    serialhandler serial;
    TextLog text(serial);
    serial.receiveDevicename(path);
    const int descriptors = openDescriptorCount();
    // Twice: each failure, and each close, releases what the open took.
    for (int round = 0; round < 2; ++round) {
        DebugLog debug;
        QCOMPARE(serial.OpenUsb(10), opened);
        QVERIFY(!pty || pty->clientReady());
        QCOMPARE(serial.CloseUsb(), opened == 1 ? 1 : 0);
        QCOMPARE(serial.CloseUsb(), 0);
        serial.readSerial(); // with no port: reads nothing, writes no line
        QCOMPARE(debug.lines, debugLines.replaceInStrings("%1", path));
        QCOMPARE(openDescriptorCount(), descriptors);
    }
    QCOMPARE(text.lines, reason.isEmpty() ? QStringList() : QStringList(2, reason));
    QVERIFY(!pty || !pty->clientAttached());
}

void TestSerialPort::openPortKeptUntilClosed()
{
    nodesim::PseudoTerminal first;
    nodesim::PseudoTerminal second;
    serialhandler serial;
    SampleLog samples(serial);
    QVERIFY(openOn(serial, pathOf(first)));
    const int descriptors = openDescriptorCount();
    // A new device name and a second open leave the open port as it is.
    serial.receiveDevicename(pathOf(second));
    QCOMPARE(serial.OpenUsb(10), 1);
    QCOMPARE(openDescriptorCount(), descriptors);
    QVERIFY(first.clientReady());
    QVERIFY(!second.clientAttached());
    QVERIFY(first.write(defaultFrames(1)));
    QVERIFY(readUntil(serial, samples, 1));
    // The next open after a close uses the new name.
    QCOMPARE(serial.CloseUsb(), 1);
    QCOMPARE(serial.OpenUsb(10), 1);
    QVERIFY(second.clientReady());
    QVERIFY(!first.clientAttached());
}

void TestSerialPort::initMessage_data()
{
    QTest::addColumn<int>("slot1");
    QTest::addColumn<int>("slot2");
    QTest::addColumn<int>("end1");
    QTest::addColumn<int>("end2");
    QTest::addColumn<bool>("open");
    QTest::addColumn<Bytes>("wire"); // empty with an open port: refused
    QTest::addColumn<QString>("debugLine");
    QTest::newRow("both slots") << 0 << 1 << 55 << 1 << true << Bytes{0x31, 0x37, 0x01}
                                << "INIT MSG: 49 55 1";
    QTest::newRow("end byte 1 off")
        << 0 << 1 << -1 << 1 << true << Bytes{0x31, 0xFF, 0x01} << "INIT MSG: 49 -1 1";
    QTest::newRow("gyroscope alone")
        << 0 << -1 << 55 << -1 << true << Bytes{0x32, 0x37, 0xFF} << "INIT MSG: 50 55 -1";
    QTest::newRow("accelerometer alone")
        << 1 << -1 << 200 << 7 << true << Bytes{0x33, 0xC8, 0x07} << "INIT MSG: 51 200 7";
    QTest::newRow("slot 1 off") << -1 << 1 << 55 << 1 << true << Bytes() << QString();
    QTest::newRow("unknown sensor alone") << 2 << -1 << 55 << 1 << true << Bytes() << QString();
    // Test mode starts only on true, whatever the sensor settings.
    QTest::newRow("no port") << 0 << 1 << 55 << 1 << false << Bytes() << QString();
    QTest::newRow("no port, slot 1 off") << -1 << 1 << 55 << 1 << false << Bytes() << QString();
}

void TestSerialPort::initMessage()
{
    QFETCH(int, slot1);
    QFETCH(int, slot2);
    QFETCH(int, end1);
    QFETCH(int, end2);
    QFETCH(bool, open);
    QFETCH(Bytes, wire);
    QFETCH(QString, debugLine);
    nodesim::PseudoTerminal pty;
    serialhandler serial;
    TextLog text(serial);
    DebugLog debug;
    OptionArray options{12, -1, -1, end1, end2, slot1, slot2, 6, 6};
    serial.updateOptions(options.data());
    QCOMPARE(debug.lines, QStringList(QStringLiteral("%1 %2 6 6").arg(slot1).arg(slot2)));
    serial.receiveDevicename(pathOf(pty));
    QVERIFY(!open || serial.OpenUsb(10) == 1);
    debug.lines.clear();

    auto watched = watchWire(pty, open && wire.empty() ? 1 : 3, wire.empty() ? 300 : 5000);
    const auto start = Clock::now();
    QCOMPARE(serial.SendInitMsg(), !open || !wire.empty());
    const auto duration = Clock::now() - start;
    const Arrivals arrivals = watched.get();
    Bytes written;
    for (const auto &arrival : arrivals)
        written.push_back(arrival.first);
    QCOMPARE(written, wire);
    QCOMPARE(text.lines, open && wire.empty() ? QStringList(finnishRefusal) : QStringList());
    QCOMPARE(serial.CloseUsb(), open ? 1 : 0); // a refusal leaves the port open
    if (!open) {
        QVERIFY(!pty.clientAttached());
        QVERIFY(duration < std::chrono::milliseconds(400));
        return;
    }
    QCOMPARE(debug.lines, debugLine.isEmpty() ? QStringList() : QStringList(debugLine));
    if (wire.empty())
        return;
    // No byte can arrive before its pause has passed: 200 ms after the code,
    // 200 ms more after end byte 1, and the call lasts the 100 ms after that.
    using std::chrono::milliseconds;
    QVERIFY(arrivals[1].second - start >= milliseconds(200));
    QVERIFY(arrivals[2].second - start >= milliseconds(400));
    QVERIFY(duration >= milliseconds(500));
    QVERIFY(duration < milliseconds(5000));
}

void TestSerialPort::releasedWhateverTheDeviceState_data()
{
    QTest::addColumn<QString>("release");
    QTest::addColumn<bool>("unplugged"); // no pass noticed it
    for (const char *release : {"CloseUsb", "destructor"})
        for (bool unplugged : {false, true})
            QTest::addRow("%s, %s", release, unplugged ? "device gone" : "device present")
                << release << unplugged;
    QTest::newRow("SendInitMsg, device gone") << "SendInitMsg" << true;
}

// libserial's close throws once the device is gone; none of this may end the
// process or leave a descriptor open, and a lost write says so.
void TestSerialPort::releasedWhateverTheDeviceState()
{
    QFETCH(QString, release);
    QFETCH(bool, unplugged);
    const int descriptors = openDescriptorCount();
    auto receiver = std::make_unique<nodesim::PseudoTerminal>();
    auto serial = std::make_unique<serialhandler>();
    QVERIFY(openOn(*serial, pathOf(*receiver)));
    if (unplugged)
        receiver.reset();
    if (release == "CloseUsb") {
        QCOMPARE(serial->CloseUsb(), 1);
    } else if (release == "SendInitMsg") {
        TextLog text(*serial);
        QVERIFY(!serial->SendInitMsg());
        QCOMPARE(text.lines, QStringList(deviceLost));
        QCOMPARE(serial->CloseUsb(), 0);
    } else {
        serial.reset();
    }
    QVERIFY(!receiver || !receiver->clientAttached());
    receiver.reset();
    QCOMPARE(openDescriptorCount(), descriptors);
}

// The receiver is pulled out mid-stream, with frames still waiting, and
// plugged in again at the same path, twenty times in one process.
void TestSerialPort::unplugWhileReading()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("ttyUSB0"));
    serialhandler serial;
    SampleLog samples(serial);
    TextLog text(serial);
    DebugLog debug;
    int descriptors = -1;
    for (int cycle = 0; cycle < 21; ++cycle) {
        {
            nodesim::PseudoTerminal receiver;
            receiver.makeLink(path.toStdString());
            QVERIFY(openOn(serial, path));
            QVERIFY(receiver.write(defaultFrames(5)));
            QVERIFY(readUntil(serial, samples, samples.count() + 2));
        }
        serial.readSerial();
        QCOMPARE(text.lines, QStringList(cycle + 1, deviceLost));
        const int samplesBefore = samples.count();
        debug.lines.clear();
        serial.readSerial();
        serial.readSerial();
        QCOMPARE(debug.lines, QStringList());
        QCOMPARE(text.lines.size(), cycle + 1);
        QCOMPARE(samples.count(), samplesBefore);
        // What Stop then sees: no open port ("Port already closed").
        QCOMPARE(serial.CloseUsb(), 0);
        QCOMPARE(serial.OpenUsb(10), -1); // the link went with the receiver
        // The first cycle settles what the process opens once (Qt, libc).
        if (cycle == 0)
            descriptors = openDescriptorCount();
    }
    QCOMPARE(openDescriptorCount(), descriptors);
}

QTEST_GUILESS_MAIN(TestSerialPort)
#include "tst_serialport.moc"
