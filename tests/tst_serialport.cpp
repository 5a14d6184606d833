// The serial link over real pseudo-terminals: opening and closing, the read
// pass, the init message on the wire, surviving a receiver that is pulled
// out, and the watch over an acquiring link.
#include "linkwatch.h"
#include "serialhandler.h"
#include "testcore.h"

#include <QSignalSpy>
#include <QTemporaryDir>

#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <future>
#include <termios.h>
#include <unistd.h>

using namespace mmtest;
using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

namespace
{

const Bytes example{0x00, 0x0A, 0xFF, 0xF6, 0x01, 0x00, 0x00,
                    0x40, 0xFF, 0xC0, 0x10, 0x00, 0x37, 0x01};

// Opened in the frame format the link starts with.
bool openOn(serialhandler &serial, const std::string &path)
{
    serial.receiveDevicename(QString::fromStdString(path));
    return serial.OpenUsb(10) == 1;
}

auto openDescriptors()
{
    return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {});
}

// `count` copies of `frame` after `bytes`.
Bytes repeated(const Bytes &frame, int count, Bytes bytes = {})
{
    while (count-- > 0)
        bytes.insert(bytes.end(), frame.begin(), frame.end());
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
        QTest::addColumn<QString>("reason"); // on the message text channel
        QTest::newRow("missing") << "missing" << -1 << QString();
        // Fails for root too, unlike a missing permission.
        QTest::newRow("directory") << "directory" << 0 << "Is a directory";
        QTest::newRow("pseudo-terminal") << "pty" << 1 << QString();
    }
    // Each failure, and each close, releases what the open took.
    void openAndClose()
    {
        QFETCH(QString, device);
        QFETCH(int, opened);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        nodesim::PseudoTerminal pty;
        const QString path =
            device == "pty" ? QString::fromStdString(pty.devicePath()) : dir.filePath("ttyUSB0");
        QVERIFY(device != "directory" || QDir().mkdir(path));
        serialhandler serial;
        QSignalSpy text(&serial, &serialhandler::SendText);
        serial.receiveDevicename(path);
        const auto descriptors = openDescriptors();
        QCOMPARE(serial.OpenUsb(10), opened);
        QCOMPARE(pty.clientReady(), opened == 1);
        QCOMPARE(serial.OpenUsb(10), opened); // an open port stays as it is
        QCOMPARE(serial.CloseUsb(), opened == 1 ? 1 : 0);
        QCOMPARE(serial.CloseUsb(), 0);
        serial.readSerial(); // with no port: reads nothing
        QCOMPARE(openDescriptors(), descriptors);
        QCOMPARE(text.size(), reason.isEmpty() ? 0 : 2); // each failure said
        QVERIFY(text.isEmpty() ||
                text.last().at(0) == "Serial port could not be opened: " + reason);
        QVERIFY(!pty.clientAttached());
        // Left raw and without echo, also once closed: nothing that comes is sent back.
        termios line{};
        const int fd = ::open(QFile::encodeName(path), O_RDWR | O_NOCTTY | O_NONBLOCK);
        QVERIFY(device != "pty" ||
                (::tcgetattr(fd, &line) == 0 && !(line.c_lflag & (ECHO | ICANON))));
        ::close(fd);
    }

    void initMessage_data()
    {
        QTest::addColumn<OptionArray>("options");
        QTest::addColumn<bool>("open");
        QTest::addColumn<Bytes>("wire"); // empty with an open port: refused
        QTest::newRow("both slots")
            << FrameFormat().toOptionArray() << true << Bytes{0x31, 0x37, 0x01};
        QTest::newRow("gyroscope alone, end byte 1 off")
            << OptionArray{12, -1, -1, -1, 1, 0, -1, 6, 6} << true << Bytes{0x32, 0xFF, 0x01};
        QTest::newRow("accelerometer alone")
            << OptionArray{12, -1, -1, 200, 7, 1, -1, 6, 6} << true << Bytes{0x33, 0xC8, 0x07};
        QTest::newRow("slot 1 off")
            << OptionArray{12, -1, -1, 55, 1, -1, 1, 6, 6} << true << Bytes();
        // Test mode starts only on true: with no port, whatever the settings.
        QTest::newRow("no port") << OptionArray{12, -1, -1, 55, 1, -1, 1, 6, 6} << false << Bytes();
    }
    void initMessage()
    {
        QFETCH(OptionArray, options);
        QFETCH(bool, open);
        QFETCH(Bytes, wire);
        nodesim::PseudoTerminal pty;
        serialhandler serial;
        QSignalSpy text(&serial, &serialhandler::SendText);
        QVERIFY(!open || openOn(serial, pty.devicePath()));
        serial.updateOptions(options.data());
        // The bytes' arrival, watched from a thread while the blocking init message is written.
        auto arrivals = std::async(std::launch::async, [&pty, n = wire.size()] {
            Bytes seen;
            std::vector<Clock::time_point> read; // when each byte was read
            const auto end = Clock::now() + std::chrono::milliseconds(n ? 5000 : 300);
            while (seen.size() < std::max<size_t>(n, 1) && Clock::now() < end)
                if (pty.waitReadable(5)) {
                    seen = repeated(pty.readAvailable(), 1, seen);
                    read.resize(seen.size(), Clock::now());
                }
            return std::pair{seen, read};
        });
        const auto start = Clock::now();
        QCOMPARE(serial.SendInitMsg(), !open || !wire.empty());
        const auto took = Clock::now() - start;
        const auto [seen, read] = arrivals.get();
        QCOMPARE(seen, wire);
        // 200 ms after the code, 200 after end byte 1 (less if read late), 100 before it returns.
        using std::chrono::milliseconds;
        QVERIFY(wire.empty() ||
                (read[1] - start >= milliseconds(200) && read[2] - read[1] >= milliseconds(150) &&
                 took >= milliseconds(500)));
        QCOMPARE(text.size(), open && wire.empty() ? 1 : 0);
        QVERIFY(text.isEmpty() || text.at(0).at(0) == "Virheelliset asetukset, koita uudestaan "
                                                      "(Jos vai 1 anturi, käytä S1:tä)");
        QCOMPARE(serial.CloseUsb(), open ? 1 : 0); // a refusal leaves the port open
    }

    void releasedWhenTheDeviceIsGone_data()
    {
        QTest::addColumn<QString>("release");
        for (const char *release : {"destructor", "SendInitMsg"})
            QTest::newRow(release) << release;
    }
    // libserial's close throws once the device is gone; neither may end the
    // process or leave a descriptor open, and a lost write says so. (The release
    // after a lost read: readPassesAndLinkWatch.)
    void releasedWhenTheDeviceIsGone()
    {
        QFETCH(QString, release);
        const auto descriptors = openDescriptors();
        auto serial = std::make_unique<serialhandler>();
        QSignalSpy text(serial.get(), &serialhandler::SendText);
        QVERIFY(openOn(*serial, nodesim::PseudoTerminal().devicePath())); // gone once open
        if (release == "SendInitMsg")
            QVERIFY(!serial->SendInitMsg() && serial->CloseUsb() == 0);
        else
            serial.reset();
        QCOMPARE(text.size(), release == "SendInitMsg" ? 1 : 0);
        QVERIFY(text.isEmpty() || text.at(0).at(0) == "Serial device lost: Input/output error");
        QCOMPARE(openDescriptors(), descriptors);
    }

    // When each frame reached the computer. Thirty frames that came at once, just after the
    // port opened, faster than the line: spread evenly between the opening and the pass, none
    // before the opening. Then three at a time: the line's pace, 14 bytes = 14/960 s apart,
    // the last at the moment the pass began; the times rise across passes.
    void arrivalTimes()
    {
        nodesim::PseudoTerminal pty;
        serialhandler serial;
        std::vector<SteadyNs> at;
        connect(&serial, &serialhandler::SendData, [&] { at.push_back(serial.arrival()); });
        const SteadyNs opening = steadyNow();
        QVERIFY(openOn(serial, pty.devicePath()));
        const SteadyNs opened = steadyNow();
        QVERIFY(arrive(pty, repeated(example, 30)));
        serial.readSerial();
        const SteadyNs read = steadyNow();
        QCOMPARE(at.size(), size_t(30));
        const SteadyNs even = at[1] - at[0];
        QVERIFY(at[0] - even >= opening - 1 && at[0] - even <= opened && at[29] < read);
        for (size_t i = 1; i < 30; ++i)
            QVERIFY(qAbs(at[i] - at[i - 1] - even) <= 1 && even < 14583333);
        QVERIFY(QTest::qWaitFor([&] { return steadyNow() - read > 100000000; }));
        QVERIFY(arrive(pty, repeated(example, 3)));
        const SteadyNs before = steadyNow();
        serial.readSerial();
        QCOMPARE(at.size(), size_t(33));
        QVERIFY(at[32] >= before && at[32] <= steadyNow() && at[30] > at[29]);
        QVERIFY(qAbs(at[31] - at[30] - 14583333) <= 1 && qAbs(at[32] - at[31] - 14583333) <= 1);
    }

    // A read pass takes every frame waiting and keeps a partial one for the
    // next. Then the watch over the acquiring link, on a clock of its own:
    // bytes that make no frame, then silence, then frames with the same stray
    // bytes in front, each said once; the rate right at a read interval of a
    // second and the counts from its start.
    void readPassesAndLinkWatch()
    {
        QTemporaryDir dir;
        const auto descriptors = openDescriptors();
        const QString path = dir.filePath("ttyUSB0");
        auto pty = std::make_unique<nodesim::PseudoTerminal>();
        pty->makeLink(path.toStdString());
        serialhandler serial;
        QSignalSpy samples(&serial, &serialhandler::SendData);
        QVERIFY(openOn(serial, path.toStdString()) && arrive(*pty, repeated(example, 2)) &&
                arrive(*pty, Bytes(example.begin(), example.begin() + 5)));
        serial.readSerial();
        QCOMPARE(samples.size(), 2);
        QCOMPARE(queuedOn(QString::fromStdString(pty->devicePath())), 0);
        QVERIFY(arrive(*pty, Bytes(example.begin() + 5, example.end())));
        serial.readSerial();
        QCOMPARE(samples.size(), 3);
        for (const QList<QVariant> &s : samples)
            QCOMPARE(s, (QList<QVariant>{16, -16, 1024, 25, 120, -57}));
        QCOMPARE(serial.frameSearch().bytesDropped(), 0);
        LinkWatch watch(serial);
        watch.start(0);
        bool reopened = false;
        QStringList lines;
        // Junk for 5 s, then nothing, then 68 clean frames, then frames two bytes longer than
        // the format, 68 and then 136 a second.
        const Bytes longer = repeated(example, 1, {0xAB, 0xCD});
        for (qint64 t = 500; t <= 12000; t += t < 9000 ? 500 : 1000) {
            QVERIFY(t > 5000 || arrive(*pty, Bytes(20, 0x42)));
            QVERIFY(t < 10000 ||
                    arrive(*pty, repeated(t == 10000 ? example : longer, t == 12000 ? 136 : 68)));
            serial.readSerial();
            watch.noteRead(t);
            for (const QString &line : watch.check(t, &reopened))
                lines << QString::number(t) + " " + line.left(20);
        }
        QCOMPARE(lines, (QStringList{"2000 No frame matches the", "7000 No data from the rec",
                                     "11000 Each frame comes wit"}));
        QCOMPARE(watch.samplesPerSecond(), 136); // over the last second only
        QCOMPARE(watch.frames(), 4 * 68);
        QCOMPARE(watch.strayBytes(), 20 * 10 + 2 * 3 * 68);
        // Pulled out (noticed by a read) and plugged in again at the same
        // path, twenty times: tried again a second after the last try, the
        // quiet time counted from the reopening, and no descriptor left
        // behind; stopped, it tries no more.
        watch.start(100000);
        for (qint64 t = 100000; t <= 2100000; t += 100000) {
            const bool watching = t <= 2000000;
            if (!watching)
                watch.stop();
            QVERIFY(pty->write(example));
            pty.reset();
            serial.readSerial();
            QVERIFY(watch.check(t, &reopened).isEmpty() && !reopened);
            pty = std::make_unique<nodesim::PseudoTerminal>();
            pty->makeLink(path.toStdString());
            QVERIFY(watch.check(t + 999, &reopened).isEmpty() && !reopened);
            QCOMPARE(watch.lost(), watching);
            QVERIFY(watch.check(t + 1000, &reopened).isEmpty());
            QCOMPARE(reopened && pty->clientReady() && !watch.lost(), watching);
            QVERIFY(watch.check(t + 2500, &reopened).isEmpty());
        }
        pty.reset();
        QCOMPARE(openDescriptors(), descriptors);
    }
};

QTEST_GUILESS_MAIN(TestSerialPort)
#include "tst_serialport.moc"
