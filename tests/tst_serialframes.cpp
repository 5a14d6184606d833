// The frame search, decoding and conversion of the serial link, driven over a
// real pseudo-terminal through libserial with the receiver simulator's code
// on the other end.
#include "pseudoterminal.h"
#include "serialtest.h"

#include <QTest>

using namespace serialtest;
using Bytes = std::vector<uint8_t>;

Q_DECLARE_METATYPE(Bytes)

namespace
{

// One serial link opened on a fresh pseudo-terminal.
struct Link {
    nodesim::PseudoTerminal pty;
    serialhandler serial;
    SampleLog samples{serial};

    explicit Link(std::array<int, 9> options = defaultOptions())
    {
        setOptions(options);
        serial.receiveDevicename(QString::fromStdString(pty.devicePath()));
        QCOMPARE(serial.OpenUsb(10), 1);
    }
    void setOptions(std::array<int, 9> options) { serial.updateOptions(options.data()); }
    // Writes `bytes` and waits until they wait in the port.
    bool send(const Bytes &bytes)
    {
        const int before = queuedOn(pty.devicePath());
        return pty.write(bytes) &&
               waitQueued(pty.devicePath(), before + static_cast<int>(bytes.size()));
    }
    int queued() const { return queuedOn(pty.devicePath()); }
};

nodesim::Sample sample(int n)
{
    nodesim::Sample s;
    s.acc = {int16_t(100 + n), int16_t(-200 - n), int16_t(8000 - n)};
    s.gyro = {int16_t(-3000 + n), int16_t(42 * n), int16_t(-7 - n)};
    return s;
}

Bytes frames(const nodesim::FrameFormat &format, int first, int count)
{
    Bytes bytes;
    for (int n = first; n < first + count; ++n)
        nodesim::appendFrame(bytes, sample(n), format);
    return bytes;
}

// Bytes that never equal the default framing values 55 and 1.
Bytes noise(int count, int seed)
{
    Bytes bytes;
    for (int i = 0; i < count; ++i) {
        uint8_t byte = static_cast<uint8_t>((seed + 37 * i) & 0xFF);
        if (byte == 55 || byte == 1)
            byte = 0xAA;
        bytes.push_back(byte);
    }
    return bytes;
}

nodesim::FrameFormat formatOf(std::array<int, 9> options)
{
    return nodesim::FrameFormat::fromOptionArray(options.data());
}

} // namespace

class TestSerialFrames : public QObject
{
    Q_OBJECT
private slots:
    void exampleFrame();
    void oneSamplePerPass();
    void frameSplitAcrossPasses_data();
    void frameSplitAcrossPasses();
    void streamJoinedMidFrame();
    void noiseBetweenFrames_data();
    void noiseBetweenFrames();
    void framingBytes_data();
    void framingBytes();
    void shortFramesAllEmitted_data();
    void shortFramesAllEmitted();
    void slotSettings_data();
    void slotSettings();
    void gyroscopeOffsetsWrapAround();
    void slotsBeyondTheDataBytesKeepTheirValues();
    void longPassWithoutMatch_data();
    void longPassWithoutMatch();
    void newOptionsWhileBytesHeld();
    void optionDebugLine_data();
    void optionDebugLine();
    void noPortReadsNothing();
};

void TestSerialFrames::exampleFrame()
{
    Link link;
    QVERIFY(link.send(
        {0x00, 0x0A, 0xFF, 0xF6, 0x01, 0x00, 0x00, 0x40, 0xFF, 0xC0, 0x10, 0x00, 0x37, 0x01}));
    link.serial.readSerial();
    QCOMPARE(link.samples.count(), 1);
    QCOMPARE(link.samples.tuples[0], (Tuple{16, -16, 1024, 25, 120, -57}));
    QCOMPARE(link.serial.heldBytes(), 0);
}

void TestSerialFrames::oneSamplePerPass()
{
    Link link;
    const auto format = formatOf(defaultOptions());
    QVERIFY(link.send(frames(format, 0, 3)));
    for (int n = 0; n < 3; ++n) {
        link.serial.readSerial();
        QCOMPARE(link.samples.count(), n + 1);
        QCOMPARE(link.samples.tuples[n], tupleOf(sample(n)));
        // The frames behind the first stay in the port for later passes.
        QCOMPARE(link.queued(), 14 * (2 - n));
    }
    DebugLog debug;
    link.serial.readSerial();
    QCOMPARE(link.samples.count(), 3);
    QCOMPARE(debug.lines(), QStringList());
}

void TestSerialFrames::frameSplitAcrossPasses_data()
{
    QTest::addColumn<int>("cut");
    QTest::addColumn<QString>("debugLine");
    QTest::newRow("1 byte held") << 1 << "Too short msg!";
    QTest::newRow("12 bytes held") << 12 << "Too short msg!";
    QTest::newRow("13 bytes held") << 13 << "Check bytes not correct!";
}

void TestSerialFrames::frameSplitAcrossPasses()
{
    QFETCH(int, cut);
    QFETCH(QString, debugLine);
    Link link;
    const Bytes frame = frames(formatOf(defaultOptions()), 5, 1);
    QVERIFY(link.send(Bytes(frame.begin(), frame.begin() + cut)));
    {
        DebugLog debug;
        link.serial.readSerial();
        // A pass with nothing new repeats the line.
        link.serial.readSerial();
        QCOMPARE(debug.lines(), QStringList({debugLine, debugLine}));
    }
    QCOMPARE(link.samples.count(), 0);
    QCOMPARE(link.serial.heldBytes(), cut);
    QVERIFY(link.send(Bytes(frame.begin() + cut, frame.end())));
    link.serial.readSerial();
    QCOMPARE(link.samples.count(), 1);
    QCOMPARE(link.samples.tuples[0], tupleOf(sample(5)));
}

void TestSerialFrames::streamJoinedMidFrame()
{
    Link link;
    const Bytes stream = frames(formatOf(defaultOptions()), 0, 3);
    // The tail of frame 0, end bytes included, then frames 1 and 2.
    QVERIFY(link.send(Bytes(stream.begin() + 5, stream.end())));
    link.serial.readSerial();
    QCOMPARE(link.samples.count(), 1);
    QCOMPARE(link.samples.tuples[0], tupleOf(sample(1)));
    link.serial.readSerial();
    QCOMPARE(link.samples.count(), 2);
    QCOMPARE(link.samples.tuples[1], tupleOf(sample(2)));
}

void TestSerialFrames::noiseBetweenFrames_data()
{
    QTest::addColumn<int>("noiseBytes");
    QTest::newRow("1") << 1;
    QTest::newRow("7") << 7;
    QTest::newRow("300") << 300;
}

void TestSerialFrames::noiseBetweenFrames()
{
    QFETCH(int, noiseBytes);
    Link link;
    const auto format = formatOf(defaultOptions());
    Bytes stream;
    for (int n = 0; n < 4; ++n) {
        const Bytes junk = noise(noiseBytes, n);
        stream.insert(stream.end(), junk.begin(), junk.end());
        nodesim::appendFrame(stream, sample(n), format);
    }
    QVERIFY(link.send(stream));
    for (int n = 0; n < 4; ++n)
        link.serial.readSerial();
    QCOMPARE(link.samples.count(), 4);
    for (int n = 0; n < 4; ++n)
        QCOMPARE(link.samples.tuples[n], tupleOf(sample(n)));
    QCOMPARE(link.queued(), 0);
}

void TestSerialFrames::framingBytes_data()
{
    QTest::addColumn<int>("start1");
    QTest::addColumn<int>("start2");
    QTest::addColumn<int>("end1");
    QTest::addColumn<int>("end2");
    QTest::newRow("start byte 1 and both end bytes") << 0xA5 << -1 << 55 << 1;
    QTest::newRow("start byte 2 only") << -1 << 0xA5 << -1 << -1;
    QTest::newRow("both start bytes, no end bytes") << 0xA5 << 0x5A << -1 << -1;
    QTest::newRow("all four") << 0xA5 << 0x5A << 55 << 1;
    QTest::newRow("end byte 1 only") << -1 << -1 << 0x0D << -1;
    QTest::newRow("start byte 0") << 0 << -1 << -1 << 0xFF;
}

void TestSerialFrames::framingBytes()
{
    QFETCH(int, start1);
    QFETCH(int, start2);
    QFETCH(int, end1);
    QFETCH(int, end2);
    const std::array<int, 9> options{12, start1, start2, end1, end2, 0, 1, 6, 6};
    Link link(options);
    const auto format = formatOf(options);
    // Bytes before the frame, unlike any framing byte, are dropped with it.
    Bytes stream{0x77, 0x66, 0x44};
    nodesim::appendFrame(stream, sample(3), format);
    nodesim::appendFrame(stream, sample(4), format);
    QVERIFY(link.send(stream));
    link.serial.readSerial();
    link.serial.readSerial();
    QCOMPARE(link.samples.count(), 2);
    QCOMPARE(link.samples.tuples[0], tupleOf(sample(3)));
    QCOMPARE(link.samples.tuples[1], tupleOf(sample(4)));
}

void TestSerialFrames::shortFramesAllEmitted_data()
{
    QTest::addColumn<int>("dataBytes");
    QTest::addColumn<int>("end1");
    QTest::addColumn<int>("end2");
    QTest::addColumn<int>("slot2");
    QTest::newRow("13 bytes: 12 data, one end byte") << 12 << -1 << 1 << 1;
    QTest::newRow("12 bytes: no framing at all") << 12 << -1 << -1 << 1;
    QTest::newRow("8 bytes: one slot and two end bytes") << 6 << 55 << 1 << -1;
    QTest::newRow("2 bytes: end bytes only") << 0 << 55 << 1 << -1;
}

void TestSerialFrames::shortFramesAllEmitted()
{
    QFETCH(int, dataBytes);
    QFETCH(int, end1);
    QFETCH(int, end2);
    QFETCH(int, slot2);
    const std::array<int, 9> options{dataBytes, -1, -1, end1, end2, 0, slot2, 6, 6};
    Link link(options);
    QVERIFY(link.send(frames(formatOf(options), 0, 6)));
    for (int n = 0; n < 6; ++n)
        link.serial.readSerial();
    QCOMPARE(link.samples.count(), 6);
    for (int n = 0; n < 6; ++n) {
        Tuple expected = tupleOf(sample(n));
        if (dataBytes < 6)
            expected = {0, 0, 0, 0, 0, 0};
        if (slot2 == -1)
            expected[0] = expected[1] = expected[2] = 0;
        QCOMPARE(link.samples.tuples[n], expected);
    }
}

void TestSerialFrames::slotSettings_data()
{
    QTest::addColumn<int>("slot1");
    QTest::addColumn<int>("slot2");
    QTest::addColumn<Tuple>("expected");
    // Data words 64, -64, 4096 in slot 1 and 10, -10, 256 in slot 2.
    QTest::newRow("slot 1 off: stored values") << -1 << 1 << Tuple{0, 0, 0, 0, 0, 0};
    QTest::newRow("two gyroscopes: slot 2 wins") << 0 << 0 << Tuple{0, 0, 0, 25, 120, -57};
    QTest::newRow("two accelerometers: slot 2 wins") << 1 << 1 << Tuple{2, -3, 64, 0, 0, 0};
    QTest::newRow("accelerometer alone") << 1 << -1 << Tuple{16, -16, 1024, 0, 0, 0};
    QTest::newRow("gyroscope alone") << 0 << -1 << Tuple{0, 0, 0, 79, 66, 3783};
    QTest::newRow("accelerometer, then gyroscope") << 1 << 0 << Tuple{16, -16, 1024, 25, 120, -57};
}

void TestSerialFrames::slotSettings()
{
    QFETCH(int, slot1);
    QFETCH(int, slot2);
    QFETCH(Tuple, expected);
    const std::array<int, 9> options{12, -1, -1, 55, 1, slot1, slot2, 6, 6};
    Link link(options);
    Bytes stream;
    for (int n = 0; n < 2; ++n)
        nodesim::appendWords(stream, {64, -64, 4096, 10, -10, 256}, formatOf(options));
    QVERIFY(link.send(stream));
    link.serial.readSerial();
    link.serial.readSerial();
    // The second frame shows that stored values are not converted again.
    QCOMPARE(link.samples.count(), 2);
    QCOMPARE(link.samples.tuples[0], expected);
    QCOMPARE(link.samples.tuples[1], expected);
}

void TestSerialFrames::gyroscopeOffsetsWrapAround()
{
    Link link;
    Bytes stream;
    nodesim::appendWords(stream, {32767, 32767, -32768, 0, 0, 0}, formatOf(defaultOptions()));
    QVERIFY(link.send(stream));
    link.serial.readSerial();
    QCOMPARE(link.samples.count(), 1);
    QCOMPARE(link.samples.tuples[0], (Tuple{0, 0, 0, -32768 + 14, -32768 + 129, 32767 - 312}));
}

void TestSerialFrames::slotsBeyondTheDataBytesKeepTheirValues()
{
    Link link;
    QVERIFY(link.send(frames(formatOf(defaultOptions()), 1, 1)));
    link.serial.readSerial();
    // Eight data bytes carry slot 1 whole but only a third of slot 2.
    const std::array<int, 9> shortFrames{8, -1, -1, 55, 1, 0, 1, 6, 6};
    link.setOptions(shortFrames);
    QVERIFY(link.send(frames(formatOf(shortFrames), 2, 1)));
    link.serial.readSerial();
    QCOMPARE(link.samples.count(), 2);
    Tuple expected = tupleOf(sample(2));
    for (int axis = 0; axis < 3; ++axis)
        expected[axis] = sample(1).acc[axis];
    QCOMPARE(link.samples.tuples[1], expected);
}

void TestSerialFrames::longPassWithoutMatch_data()
{
    QTest::addColumn<int>("noiseBytes");
    QTest::addColumn<bool>("frameFollows");
    QTest::addColumn<int>("heldAfter");
    QTest::newRow("1001 bytes: dropped at the end of the pass") << 1001 << false << 0;
    QTest::newRow("1000 bytes: kept") << 1000 << false << 1000;
    // A full buffer keeps its newest 13 bytes: 1300 - 1256 + 13 are held.
    QTest::newRow("1300 bytes: never stored past the buffer") << 1300 << false << 57;
    QTest::newRow("a frame across the buffer's end survives") << 1250 << true << 0;
}

void TestSerialFrames::longPassWithoutMatch()
{
    QFETCH(int, noiseBytes);
    QFETCH(bool, frameFollows);
    QFETCH(int, heldAfter);
    Link link;
    Bytes stream = noise(noiseBytes, 11);
    if (frameFollows)
        nodesim::appendFrame(stream, sample(9), formatOf(defaultOptions()));
    QVERIFY(link.send(stream));
    {
        DebugLog debug;
        link.serial.readSerial();
    }
    QCOMPARE(link.serial.heldBytes(), heldAfter);
    QCOMPARE(link.queued(), 0);
    QCOMPARE(link.samples.count(), frameFollows ? 1 : 0);
    if (frameFollows)
        QCOMPARE(link.samples.tuples[0], tupleOf(sample(9)));
}

void TestSerialFrames::newOptionsWhileBytesHeld()
{
    Link link;
    const Bytes old = frames(formatOf(defaultOptions()), 0, 1);
    QVERIFY(link.send(Bytes(old.begin(), old.begin() + 6)));
    {
        DebugLog debug;
        link.serial.readSerial();
    }
    QCOMPARE(link.serial.heldBytes(), 6);
    // 13-byte frames from now on: end byte 1 switched off. No data byte
    // equals the remaining end byte, so only the frame's own end matches.
    const std::array<int, 9> options{12, -1, -1, -1, 1, 0, 1, 6, 6};
    link.setOptions(options);
    QCOMPARE(link.serial.heldBytes(), 6);
    Bytes frame;
    nodesim::appendWords(frame, {0x1234, 0x2345, 0x3456, 0x4560, 0x5670, 0x6780},
                         formatOf(options));
    QVERIFY(link.send(frame));
    link.serial.readSerial();
    QCOMPARE(link.samples.count(), 1);
    QCOMPARE(link.samples.tuples[0], (Tuple{4440, 5532, 6624, 4675, 9159, 13085}));
    QCOMPARE(link.serial.heldBytes(), 0);
}

void TestSerialFrames::optionDebugLine_data()
{
    QTest::addColumn<int>("slot1");
    QTest::addColumn<int>("slot2");
    QTest::addColumn<QString>("line");
    QTest::newRow("untouched form") << 0 << 1 << "0 1 6 6";
    QTest::newRow("slot 1 off") << -1 << 1 << "-1 1 6 6";
}

void TestSerialFrames::optionDebugLine()
{
    QFETCH(int, slot1);
    QFETCH(int, slot2);
    QFETCH(QString, line);
    serialhandler serial;
    std::array<int, 9> options{12, -1, -1, 55, 1, slot1, slot2, 6, 6};
    DebugLog debug;
    serial.updateOptions(options.data());
    QCOMPARE(debug.lines(), QStringList(line));
}

void TestSerialFrames::noPortReadsNothing()
{
    serialhandler serial;
    SampleLog samples(serial);
    auto options = defaultOptions();
    serial.updateOptions(options.data());
    DebugLog debug;
    serial.readSerial();
    QCOMPARE(debug.lines(), QStringList());
    QCOMPARE(samples.count(), 0);
}

QTEST_GUILESS_MAIN(TestSerialFrames)
#include "tst_serialframes.moc"
