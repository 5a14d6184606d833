// The frame search, decoding and conversion of the serial link, driven over a
// real pseudo-terminal through libserial with the receiver simulator's code
// on the other end.
#include "pseudoterminal.h"
#include "serialtest.h"

#include <QTest>

using namespace serialtest;
using Words = std::array<int16_t, 6>;

namespace
{

nodesim::FrameFormat formatOf(OptionArray options)
{
    return nodesim::FrameFormat::fromOptionArray(options.data());
}

// One serial link opened on a fresh pseudo-terminal.
struct Link {
    nodesim::PseudoTerminal pty;
    serialhandler serial;
    SampleLog samples{serial};

    explicit Link(OptionArray options = defaultOptions())
    {
        QVERIFY(openOn(serial, QString::fromStdString(pty.devicePath()), options));
    }
    void setOptions(OptionArray options) { serial.updateOptions(options.data()); }
    // Writes `bytes` and waits until they wait in the port (a pseudo-terminal
    // hands them over a moment later).
    bool send(const Bytes &bytes)
    {
        const int after = queued() + static_cast<int>(bytes.size());
        return pty.write(bytes) && QTest::qWaitFor([&] { return queued() == after; }, 10000);
    }
    int queued() const { return queuedOn(pty.devicePath()); }
    void read(int passes = 1)
    {
        while (passes-- > 0)
            serial.readSerial();
    }
};

nodesim::Sample sample(int n)
{
    nodesim::Sample s;
    s.acc = {int16_t(100 + n), int16_t(-200 - n), int16_t(8000 - n)};
    s.gyro = {int16_t(-3000 + n), int16_t(42 * n), int16_t(-7 - n)};
    return s;
}

Bytes frames(OptionArray options, int first, int count)
{
    Bytes bytes;
    for (int n = first; n < first + count; ++n)
        nodesim::appendFrame(bytes, sample(n), formatOf(options));
    return bytes;
}

Bytes frameOfWords(OptionArray options, const Words &words)
{
    Bytes bytes;
    nodesim::appendWords(bytes, words, formatOf(options));
    return bytes;
}

// Bytes that never equal a framing byte of `format`.
Bytes noise(int count, int seed, const nodesim::FrameFormat &format)
{
    Bytes bytes;
    for (int i = 0; i < count; ++i) {
        uint8_t byte = static_cast<uint8_t>(seed + 37 * i);
        while (format.isFramingValue(byte))
            ++byte;
        bytes.push_back(byte);
    }
    return bytes;
}

} // namespace

class TestSerialFrames : public QObject
{
    Q_OBJECT
private slots:
    void decoding_data();
    void decoding();
    void frameSplitAcrossPasses_data();
    void frameSplitAcrossPasses();
    void framesAmongOtherBytes_data();
    void framesAmongOtherBytes();
    void shortFramesAllEmitted_data();
    void shortFramesAllEmitted();
    void longPassWithoutMatch_data();
    void longPassWithoutMatch();
};

void TestSerialFrames::decoding_data()
{
    QTest::addColumn<OptionArray>("options");
    QTest::addColumn<Bytes>("frame");
    QTest::addColumn<Tuple>("expected");
    const auto sensors = [](int slot1, int slot2) {
        return OptionArray{12, -1, -1, 55, 1, slot1, slot2, 6, 6};
    };
    // Words 64, -64, 4096 in slot 1 and 10, -10, 256 in slot 2.
    const Words words{64, -64, 4096, 10, -10, 256};
    QTest::newRow("example frame")
        << defaultOptions()
        << Bytes{0x00, 0x0A, 0xFF, 0xF6, 0x01, 0x00, 0x00, 0x40, 0xFF, 0xC0, 0x10, 0x00, 0x37, 0x01}
        << Tuple{16, -16, 1024, 25, 120, -57};
    QTest::newRow("gyroscope offsets wrap around")
        << defaultOptions() << frameOfWords(defaultOptions(), {32767, 32767, -32768, 0, 0, 0})
        << Tuple{0, 0, 0, -32768 + 14, -32768 + 129, 32767 - 312};
    QTest::newRow("slot 1 off: stored values")
        << sensors(-1, 1) << frameOfWords(sensors(-1, 1), words) << Tuple{0, 0, 0, 0, 0, 0};
    QTest::newRow("two gyroscopes: slot 2 wins")
        << sensors(0, 0) << frameOfWords(sensors(0, 0), words) << Tuple{0, 0, 0, 25, 120, -57};
    QTest::newRow("two accelerometers: slot 2 wins")
        << sensors(1, 1) << frameOfWords(sensors(1, 1), words) << Tuple{2, -3, 64, 0, 0, 0};
    QTest::newRow("accelerometer alone")
        << sensors(1, -1) << frameOfWords(sensors(1, -1), words) << Tuple{16, -16, 1024, 0, 0, 0};
    QTest::newRow("accelerometer, then gyroscope")
        << sensors(1, 0) << frameOfWords(sensors(1, 0), words)
        << Tuple{16, -16, 1024, 25, 120, -57};
}

void TestSerialFrames::decoding()
{
    QFETCH(OptionArray, options);
    QFETCH(Bytes, frame);
    QFETCH(Tuple, expected);
    Link link(options);
    // The second frame shows that stored values are not converted again.
    Bytes twice = frame;
    twice.insert(twice.end(), frame.begin(), frame.end());
    QVERIFY(link.send(twice));
    link.read(2);
    QCOMPARE(link.samples.tuples, std::vector<Tuple>(2, expected));
    QCOMPARE(link.serial.heldBytes(), 0);
}

void TestSerialFrames::frameSplitAcrossPasses_data()
{
    QTest::addColumn<int>("cut");
    QTest::addColumn<QString>("debugLine");
    QTest::addColumn<OptionArray>("then"); // set while the bytes are held
    QTest::newRow("1 byte held") << 1 << "Too short msg!" << defaultOptions();
    QTest::newRow("12 bytes held") << 12 << "Too short msg!" << defaultOptions();
    QTest::newRow("13 bytes held") << 13 << "Check bytes not correct!" << defaultOptions();
    // The held bytes lie before the next frame, 13 bytes long from now on.
    QTest::newRow("end byte 1 switched off while 6 bytes held")
        << 6 << "Too short msg!" << OptionArray{12, -1, -1, -1, 1, 0, 1, 6, 6};
}

void TestSerialFrames::frameSplitAcrossPasses()
{
    QFETCH(int, cut);
    QFETCH(QString, debugLine);
    QFETCH(OptionArray, then);
    Link link;
    // No data byte equals an end byte, so only a frame's own end matches.
    const Words words{0x1234, 0x2345, 0x3456, 0x4560, 0x5670, 0x6780};
    const Bytes frame = frameOfWords(defaultOptions(), words);
    QVERIFY(link.send(Bytes(frame.begin(), frame.begin() + cut)));
    {
        DebugLog debug;
        link.read(2); // a pass with nothing new repeats the line
        QCOMPARE(debug.lines, QStringList({debugLine, debugLine}));
    }
    QCOMPARE(link.samples.count(), 0);
    link.setOptions(then);
    QCOMPARE(link.serial.heldBytes(), cut);
    QVERIFY(link.send(then == defaultOptions() ? Bytes(frame.begin() + cut, frame.end())
                                               : frameOfWords(then, words)));
    link.read();
    QCOMPARE(link.samples.tuples, std::vector<Tuple>{(Tuple{4440, 5532, 6624, 4675, 9159, 13085})});
    QCOMPARE(link.serial.heldBytes(), 0);
}

void TestSerialFrames::framesAmongOtherBytes_data()
{
    QTest::addColumn<OptionArray>("options");
    QTest::addColumn<int>("noiseBytes"); // before each frame
    const auto framing = [](int start1, int start2, int end1, int end2) {
        return OptionArray{12, start1, start2, end1, end2, 0, 1, 6, 6};
    };
    QTest::newRow("no noise") << defaultOptions() << 0;
    QTest::newRow("1 noise byte") << defaultOptions() << 1;
    QTest::newRow("300 noise bytes") << defaultOptions() << 300;
    QTest::newRow("start byte 1 and both end bytes") << framing(0xA5, -1, 55, 1) << 3;
    QTest::newRow("start byte 2 only") << framing(-1, 0xA5, -1, -1) << 3;
    QTest::newRow("both start bytes, no end bytes") << framing(0xA5, 0x5A, -1, -1) << 3;
    QTest::newRow("all four") << framing(0xA5, 0x5A, 55, 1) << 3;
    QTest::newRow("end byte 1 only") << framing(-1, -1, 0x0D, -1) << 3;
    QTest::newRow("start byte 0, end byte 2 255") << framing(0, -1, -1, 0xFF) << 3;
}

// The stream joins in the middle of a frame; noise precedes every frame. One
// pass takes one frame and leaves the rest in the port.
void TestSerialFrames::framesAmongOtherBytes()
{
    QFETCH(OptionArray, options);
    QFETCH(int, noiseBytes);
    Link link(options);
    const auto format = formatOf(options);
    Bytes stream = nodesim::encodeFrame(sample(9), format);
    stream.erase(stream.begin(), stream.begin() + 5);
    std::vector<size_t> ends;
    for (int n = 0; n < 4; ++n) {
        const Bytes junk = noise(noiseBytes, n, format);
        stream.insert(stream.end(), junk.begin(), junk.end());
        nodesim::appendFrame(stream, sample(n), format);
        ends.push_back(stream.size());
    }
    QVERIFY(link.send(stream));
    for (int n = 0; n < 4; ++n) {
        link.read();
        QCOMPARE(link.samples.count(), n + 1);
        QCOMPARE(link.samples.tuples[n], tupleOf(sample(n)));
        QCOMPARE(link.queued(), int(stream.size() - ends[n]));
    }
    DebugLog debug;
    link.read();
    QCOMPARE(link.samples.count(), 4);
    QCOMPARE(debug.lines, QStringList());
}

void TestSerialFrames::shortFramesAllEmitted_data()
{
    QTest::addColumn<int>("dataBytes");
    QTest::addColumn<int>("end1");
    QTest::addColumn<int>("end2");
    QTest::addColumn<int>("slot2");
    QTest::newRow("13 bytes: 12 data, one end byte") << 12 << -1 << 1 << 1;
    QTest::newRow("12 bytes: no framing at all") << 12 << -1 << -1 << 1;
    QTest::newRow("10 bytes: a third of slot 2") << 8 << 55 << 1 << 1;
    QTest::newRow("8 bytes: one slot and two end bytes") << 6 << 55 << 1 << -1;
    QTest::newRow("2 bytes: end bytes only") << 0 << 55 << 1 << -1;
}

// Every short frame yields a sample; a slot whose six bytes the frame does
// not carry keeps the values of the last full frame.
void TestSerialFrames::shortFramesAllEmitted()
{
    QFETCH(int, dataBytes);
    QFETCH(int, end1);
    QFETCH(int, end2);
    QFETCH(int, slot2);
    Link link;
    QVERIFY(link.send(frames(defaultOptions(), 20, 1)));
    link.read();
    const OptionArray options{dataBytes, -1, -1, end1, end2, 0, slot2, 6, 6};
    link.setOptions(options);
    QVERIFY(link.send(frames(options, 0, 6)));
    link.read(6);
    QCOMPARE(link.samples.count(), 7);
    const Tuple last = tupleOf(sample(20));
    for (int n = 0; n < 6; ++n) {
        Tuple expected = tupleOf(sample(n));
        for (int i = 0; i < 3; ++i) {
            if (slot2 == -1 || dataBytes < 12)
                expected[i] = last[i];
            if (dataBytes < 6)
                expected[3 + i] = last[3 + i];
        }
        QCOMPARE(link.samples.tuples[n + 1], expected);
    }
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
    Bytes stream = noise(noiseBytes, 11, formatOf(defaultOptions()));
    if (frameFollows)
        nodesim::appendFrame(stream, sample(9), formatOf(defaultOptions()));
    QVERIFY(link.send(stream));
    link.read();
    QCOMPARE(link.serial.heldBytes(), heldAfter);
    QCOMPARE(link.queued(), 0);
    QCOMPARE(link.samples.tuples,
             frameFollows ? std::vector<Tuple>{tupleOf(sample(9))} : std::vector<Tuple>());
}

QTEST_GUILESS_MAIN(TestSerialFrames)
#include "tst_serialframes.moc"
