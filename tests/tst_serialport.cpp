// The serial link's port: opening and closing, the init message on the wire,
// and surviving a receiver that is pulled out, over real pseudo-terminals.
#include "pseudoterminal.h"
#include "serialtest.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <chrono>
#include <memory>
#include <thread>

using namespace serialtest;
using Bytes = std::vector<uint8_t>;

namespace
{

void configure(serialhandler &serial, OptionArray options = defaultOptions())
{
    serial.updateOptions(options.data());
}

// Configures `serial` and opens it on `device`.
bool openOn(serialhandler &serial, const std::string &device,
            OptionArray options = defaultOptions())
{
    configure(serial, options);
    serial.receiveDevicename(QString::fromStdString(device));
    return serial.OpenUsb(10) == 1;
}

Bytes defaultFrames(int count)
{
    Bytes bytes;
    nodesim::FrameFormat format;
    for (int n = 0; n < count; ++n) {
        nodesim::Sample sample;
        sample.acc = {int16_t(n), int16_t(2 * n), int16_t(3 * n)};
        nodesim::appendFrame(bytes, sample, format);
    }
    return bytes;
}

// Takes the bytes the program writes, with their arrival times, in a thread
// of its own so that the blocking init message can be watched.
struct WireWatcher {
    using Clock = std::chrono::steady_clock;
    nodesim::PseudoTerminal &pty;
    std::vector<std::pair<uint8_t, Clock::time_point>> bytes;
    std::atomic<bool> stop{false};
    std::thread thread;

    explicit WireWatcher(nodesim::PseudoTerminal &pty)
        : pty(pty), thread([this] {
              while (!stop)
                  if (this->pty.waitReadable(5))
                      for (uint8_t byte : this->pty.readAvailable())
                          bytes.emplace_back(byte, Clock::now());
          })
    {
    }
    // Stops watching; bytes already sent have arrived by then when the
    // caller waited for them.
    Bytes finish()
    {
        stop = true;
        thread.join();
        Bytes values;
        for (const auto &entry : bytes)
            values.push_back(entry.first);
        return values;
    }
};

// Waits up to `timeoutMs` for bytes from the program; returns what came.
Bytes bytesFromProgram(nodesim::PseudoTerminal &pty, int timeoutMs)
{
    pty.waitReadable(timeoutMs);
    return pty.readAvailable();
}

} // namespace

Q_DECLARE_METATYPE(Bytes)

class TestSerialPort : public QObject
{
    Q_OBJECT
private slots:
    void missingDevice();
    void openCloseClose();
    void openWhileOpenKeepsThePort();
    void deviceThatCannotBeOpened_data();
    void deviceThatCannotBeOpened();
    void newDeviceNameTakesEffectAtNextOpen();
    void initMessageOnTheWire_data();
    void initMessageOnTheWire();
    void initMessageRefused_data();
    void initMessageRefused();
    void initMessageWithoutPort_data();
    void initMessageWithoutPort();
    void unplugWhileReading();
    void unplugDuringInitMessage();
    void unplugWhileStopped();
    void twentyUnplugsLeaveNoDescriptor();
    void releasedOnDestructionAndDeleteStuff();
};

void TestSerialPort::missingDevice()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("ttyGone"));
    serialhandler serial;
    configure(serial);
    serial.receiveDevicename(path);
    DebugLog debug;
    QCOMPARE(serial.OpenUsb(10), -1);
    QCOMPARE(debug.lines(), QStringList({QStringLiteral("device does not exist"),
                                         QLatin1Char('"') + path + QLatin1Char('"')}));
    QCOMPARE(serial.CloseUsb(), 0);
}

void TestSerialPort::openCloseClose()
{
    nodesim::PseudoTerminal pty;
    serialhandler serial;
    configure(serial);
    serial.receiveDevicename(QString::fromStdString(pty.devicePath()));
    const int descriptors = openDescriptorCount();
    QCOMPARE(serial.OpenUsb(10), 1);
    QVERIFY(pty.clientReady());
    QCOMPARE(serial.CloseUsb(), 1);
    QVERIFY(!pty.clientAttached());
    QCOMPARE(serial.CloseUsb(), 0);
    QCOMPARE(openDescriptorCount(), descriptors);
}

void TestSerialPort::openWhileOpenKeepsThePort()
{
    nodesim::PseudoTerminal pty;
    serialhandler serial;
    SampleLog samples(serial);
    QVERIFY(openOn(serial, pty.devicePath()));
    const int descriptors = openDescriptorCount();
    QCOMPARE(serial.OpenUsb(10), 1);
    QCOMPARE(openDescriptorCount(), descriptors);
    QVERIFY(pty.write(defaultFrames(1)));
    QVERIFY(readUntil(serial, samples, 1));
}

void TestSerialPort::deviceThatCannotBeOpened_data()
{
    QTest::addColumn<bool>("directory");
    QTest::addColumn<QString>("reason");
    // Both fail for root too, unlike a missing permission.
    QTest::newRow("regular file") << false << "Inappropriate ioctl for device";
    QTest::newRow("directory") << true << "Is a directory";
}

void TestSerialPort::deviceThatCannotBeOpened()
{
    QFETCH(bool, directory);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("ttyUSB0"));
    if (directory) {
        QVERIFY(QDir().mkdir(path));
    } else {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    serialhandler serial;
    TextLog text(serial);
    configure(serial);
    serial.receiveDevicename(path);
    const int descriptors = openDescriptorCount();
    {
        DebugLog debug;
        QCOMPARE(serial.OpenUsb(10), 0);
        QVERIFY(debug.lines().contains(QStringLiteral("Serial port is not open")));
    }
    QCOMPARE(text.lines, QStringList(QStringLiteral("Serial port could not be opened: ") + reason));
    QCOMPARE(openDescriptorCount(), descriptors);
    QCOMPARE(serial.CloseUsb(), 0);
    // And again: each failure releases what it took.
    QCOMPARE(serial.OpenUsb(10), 0);
    QCOMPARE(openDescriptorCount(), descriptors);
}

void TestSerialPort::newDeviceNameTakesEffectAtNextOpen()
{
    nodesim::PseudoTerminal first;
    nodesim::PseudoTerminal second;
    serialhandler serial;
    SampleLog samples(serial);
    QVERIFY(openOn(serial, first.devicePath()));
    serial.receiveDevicename(QString::fromStdString(second.devicePath()));
    QVERIFY(first.clientReady());
    QVERIFY(!second.clientAttached());
    QVERIFY(first.write(defaultFrames(1)));
    QVERIFY(readUntil(serial, samples, 1));
    QCOMPARE(serial.CloseUsb(), 1);
    QCOMPARE(serial.OpenUsb(10), 1);
    QVERIFY(second.clientReady());
    QVERIFY(!first.clientAttached());
}

void TestSerialPort::initMessageOnTheWire_data()
{
    QTest::addColumn<int>("slot1");
    QTest::addColumn<int>("slot2");
    QTest::addColumn<int>("end1");
    QTest::addColumn<int>("end2");
    QTest::addColumn<Bytes>("wire");
    QTest::addColumn<QString>("debugLine");
    QTest::newRow("both slots") << 0 << 1 << 55 << 1 << Bytes{0x31, 0x37, 0x01}
                                << "INIT MSG: 49 55 1";
    QTest::newRow("end byte 1 off")
        << 0 << 1 << -1 << 1 << Bytes{0x31, 0xFF, 0x01} << "INIT MSG: 49 -1 1";
    QTest::newRow("gyroscope alone")
        << 0 << -1 << 55 << -1 << Bytes{0x32, 0x37, 0xFF} << "INIT MSG: 50 55 -1";
    QTest::newRow("accelerometer alone")
        << 1 << -1 << 200 << 7 << Bytes{0x33, 0xC8, 0x07} << "INIT MSG: 51 200 7";
}

void TestSerialPort::initMessageOnTheWire()
{
    QFETCH(int, slot1);
    QFETCH(int, slot2);
    QFETCH(int, end1);
    QFETCH(int, end2);
    QFETCH(Bytes, wire);
    QFETCH(QString, debugLine);
    nodesim::PseudoTerminal pty;
    serialhandler serial;
    QVERIFY(openOn(serial, pty.devicePath(), {12, -1, -1, end1, end2, slot1, slot2, 6, 6}));

    WireWatcher watcher(pty);
    DebugLog debug;
    const auto start = WireWatcher::Clock::now();
    QVERIFY(serial.SendInitMsg());
    const auto duration = WireWatcher::Clock::now() - start;
    QCOMPARE(debug.lines(), QStringList(debugLine));
    QTRY_COMPARE_WITH_TIMEOUT(int(watcher.bytes.size()) >= 3, true, 5000);
    const auto arrivals = watcher.bytes;
    QCOMPARE(watcher.finish(), wire);

    // No byte can arrive before its pause has passed: 200 ms after the code,
    // 200 ms more after end byte 1, and the call lasts the 100 ms after that.
    using std::chrono::milliseconds;
    QVERIFY(arrivals[1].second - start >= milliseconds(200));
    QVERIFY(arrivals[2].second - start >= milliseconds(400));
    QVERIFY(duration >= milliseconds(500));
    QVERIFY(duration < milliseconds(5000));
}

void TestSerialPort::initMessageRefused_data()
{
    QTest::addColumn<int>("slot1");
    QTest::addColumn<int>("slot2");
    QTest::newRow("slot 1 off, slot 2 on") << -1 << 1;
    QTest::newRow("both off") << -1 << -1;
    QTest::newRow("unknown sensor alone") << 2 << -1;
}

void TestSerialPort::initMessageRefused()
{
    QFETCH(int, slot1);
    QFETCH(int, slot2);
    nodesim::PseudoTerminal pty;
    serialhandler serial;
    TextLog text(serial);
    QVERIFY(openOn(serial, pty.devicePath(), {12, -1, -1, 55, 1, slot1, slot2, 6, 6}));
    QVERIFY(!serial.SendInitMsg());
    QCOMPARE(text.lines,
             QStringList(QStringLiteral(
                 "Virheelliset asetukset, koita uudestaan (Jos vai 1 anturi, käytä S1:tä)")));
    QCOMPARE(bytesFromProgram(pty, 300), Bytes());
    // The port stays open.
    QCOMPARE(serial.CloseUsb(), 1);
}

void TestSerialPort::initMessageWithoutPort_data()
{
    QTest::addColumn<int>("slot1");
    QTest::newRow("valid settings") << 0;
    QTest::newRow("slot 1 off") << -1;
}

void TestSerialPort::initMessageWithoutPort()
{
    QFETCH(int, slot1);
    nodesim::PseudoTerminal pty;
    serialhandler serial;
    TextLog text(serial);
    configure(serial, {12, -1, -1, 55, 1, slot1, 1, 6, 6});
    serial.receiveDevicename(QString::fromStdString(pty.devicePath()));
    // Test mode starts only on true, whatever the sensor settings.
    QElapsedTimer timer;
    timer.start();
    QVERIFY(serial.SendInitMsg());
    QVERIFY(timer.elapsed() < 400);
    QCOMPARE(text.lines, QStringList());
    QVERIFY(!pty.clientAttached());
}

void TestSerialPort::unplugWhileReading()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("ttyUSB0"));
    serialhandler serial;
    SampleLog samples(serial);
    TextLog text(serial);
    configure(serial);
    serial.receiveDevicename(path);
    {
        nodesim::PseudoTerminal receiver;
        receiver.makeLink(path.toStdString());
        QCOMPARE(serial.OpenUsb(10), 1);
        QVERIFY(receiver.write(defaultFrames(5)));
        QVERIFY(readUntil(serial, samples, 2));
        // Pulled out mid-stream, with frames still waiting.
        receiver.hangUp();
    }
    DebugLog debug;
    serial.readSerial();
    QCOMPARE(text.lines, QStringList(QStringLiteral("Serial device lost: Input/output error")));
    const int samplesBefore = samples.count();
    debug.clear();
    serial.readSerial();
    serial.readSerial();
    QCOMPARE(debug.lines(), QStringList());
    QCOMPARE(text.lines.size(), 1);
    QCOMPARE(samples.count(), samplesBefore);
    // What Stop then sees: no open port ("Port already closed").
    QCOMPARE(serial.CloseUsb(), 0);
    // The link went with the receiver; plugged in again, Start opens it.
    QCOMPARE(serial.OpenUsb(10), -1);
    nodesim::PseudoTerminal again;
    again.makeLink(path.toStdString());
    QCOMPARE(serial.OpenUsb(10), 1);
    QVERIFY(again.write(defaultFrames(1)));
    QVERIFY(readUntil(serial, samples, samplesBefore + 1));
    QCOMPARE(serial.CloseUsb(), 1);
}

void TestSerialPort::unplugDuringInitMessage()
{
    auto receiver = std::make_unique<nodesim::PseudoTerminal>();
    serialhandler serial;
    TextLog text(serial);
    QVERIFY(openOn(serial, receiver->devicePath()));
    receiver.reset();
    QVERIFY(!serial.SendInitMsg());
    QCOMPARE(text.lines, QStringList(QStringLiteral("Serial device lost: Input/output error")));
    QCOMPARE(serial.CloseUsb(), 0);
}

void TestSerialPort::unplugWhileStopped()
{
    serialhandler serial;
    configure(serial);
    const int descriptors = openDescriptorCount();
    {
        nodesim::PseudoTerminal receiver;
        serial.receiveDevicename(QString::fromStdString(receiver.devicePath()));
        QCOMPARE(serial.OpenUsb(10), 1);
    }
    // No pass noticed the loss; closing must not throw out of libserial.
    QCOMPARE(serial.CloseUsb(), 1);
    QCOMPARE(openDescriptorCount(), descriptors);
}

void TestSerialPort::twentyUnplugsLeaveNoDescriptor()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("ttyNode"));
    serialhandler serial;
    SampleLog samples(serial);
    TextLog text(serial);
    configure(serial);
    serial.receiveDevicename(path);
    int descriptors = -1;
    for (int cycle = 0; cycle < 21; ++cycle) {
        {
            nodesim::PseudoTerminal receiver;
            receiver.makeLink(path.toStdString());
            QCOMPARE(serial.OpenUsb(10), 1);
            QVERIFY(receiver.write(defaultFrames(3)));
            QVERIFY(readUntil(serial, samples, samples.count() + 1));
        }
        serial.readSerial();
        QCOMPARE(serial.CloseUsb(), 0);
        QCOMPARE(text.lines.size(), cycle + 1);
        // The first cycle settles what the process opens once (Qt, libc).
        if (cycle == 0)
            descriptors = openDescriptorCount();
    }
    QCOMPARE(openDescriptorCount(), descriptors);
}

void TestSerialPort::releasedOnDestructionAndDeleteStuff()
{
    nodesim::PseudoTerminal pty;
    const int descriptors = openDescriptorCount();
    {
        serialhandler serial;
        configure(serial);
        serial.receiveDevicename(QString::fromStdString(pty.devicePath()));
        QCOMPARE(serial.OpenUsb(10), 1);
    }
    QCOMPARE(openDescriptorCount(), descriptors);
    QVERIFY(!pty.clientAttached());

    serialhandler serial;
    QVERIFY(openOn(serial, pty.devicePath()));
    serial.deleteStuff();
    QCOMPARE(openDescriptorCount(), descriptors);
    QCOMPARE(serial.CloseUsb(), 0);
    QCOMPARE(serial.OpenUsb(10), 1);
}

QTEST_GUILESS_MAIN(TestSerialPort)
#include "tst_serialport.moc"
