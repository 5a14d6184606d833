// The frame search on bytes in memory: where frames are found, what they
// decode to, what is held between passes and what is dropped; and the
// accelerometer conversion.
#include "framesearch.h"
#include "values.h"

#include <QTest>

using mmtest::Values;
using Bytes = std::vector<uint8_t>;
using Words = std::array<int16_t, 6>;

namespace
{

OptionArray options(int dataBytes, int start1, int start2, int end1, int end2, int slot1 = 0,
                    int slot2 = 1)
{
    return {dataBytes, start1, start2, end1, end2, slot1, slot2, 6, 6};
}

FrameFormat formatOf(const OptionArray &o)
{
    return FrameFormat::fromOptionArray(o.data());
}

Bytes frameOf(const OptionArray &o, const Words &words)
{
    Bytes bytes;
    formatOf(o).appendWords(bytes, words);
    return bytes;
}

Sample sample(int n)
{
    return {{int16_t(100 + n), int16_t(-200 - n), int16_t(8000 - n)},
            {int16_t(-3000 + n), int16_t(42 * n), int16_t(-7 - n)}};
}

// Bytes that never equal a framing byte of `format`.
Bytes noise(int count, int seed, const FrameFormat &format)
{
    Bytes bytes;
    for (int i = 0; i < count; ++i) {
        auto byte = uint8_t(seed + 37 * i);
        while (format.isFramingValue(byte))
            ++byte;
        bytes.push_back(byte);
    }
    return bytes;
}

// Feeds `bytes` as one pass; returns the samples found, each with the index
// of the byte that ended its frame.
std::vector<std::pair<int, Values>> feed(FrameSearch &search, const Bytes &bytes)
{
    std::vector<std::pair<int, Values>> found;
    for (size_t i = 0; i < bytes.size(); ++i)
        if (search.take(bytes[i]))
            found.emplace_back(int(i), mmtest::valuesOf(search.sample()));
    return found;
}

} // namespace

class TestFrameSearch : public QObject
{
    Q_OBJECT
private slots:
    void decoding_data()
    {
        QTest::addColumn<OptionArray>("format");
        QTest::addColumn<Bytes>("frame");
        QTest::addColumn<Values>("expected"); // after a full default frame of sample(20)
        const Words words{64, -64, 4096, 10, -10, 256};
        const Values before = mmtest::valuesOf(sample(20));
        const auto sensors = [](int slot1, int slot2) {
            return options(12, -1, -1, 55, 1, slot1, slot2);
        };
        QTest::newRow("example frame")
            << FrameFormat().toOptionArray() << Bytes{0x00, 0x0A, 0xFF, 0xF6, 0x01, 0x00, 0x00,
                                                      0x40, 0xFF, 0xC0, 0x10, 0x00, 0x37, 0x01}
            << Values{16, -16, 1024, 25, 120, -57};
        QTest::newRow("gyroscope offsets wrap around")
            << FrameFormat().toOptionArray()
            << frameOf(sensors(0, 1), {32767, 32767, -32768, 0, 0, 0})
            << Values{0, 0, 0, -32768 + 14, -32768 + 129, 32767 - 312};
        QTest::newRow("slot 1 off: nothing decoded")
            << sensors(-1, 1) << frameOf(sensors(-1, 1), words) << before;
        QTest::newRow("two gyroscopes: slot 2 wins")
            << sensors(0, 0) << frameOf(sensors(0, 0), words)
            << Values{before[0], before[1], before[2], 25, 120, -57};
        QTest::newRow("two accelerometers: slot 2 wins")
            << sensors(1, 1) << frameOf(sensors(1, 1), words)
            << Values{2, -3, 64, before[3], before[4], before[5]};
        QTest::newRow("accelerometer, then gyroscope")
            << sensors(1, 0) << frameOf(sensors(1, 0), words)
            << Values{16, -16, 1024, 25, 120, -57};
        // A slot whose six bytes a short frame does not carry keeps its values.
        QTest::newRow("13 bytes: no end byte 1")
            << options(12, -1, -1, -1, 1) << frameOf(options(12, -1, -1, -1, 1), words)
            << Values{2, -3, 64, 79, 66, 3783};
        QTest::newRow("10 bytes: a third of slot 2")
            << options(8, -1, -1, 55, 1) << frameOf(options(8, -1, -1, 55, 1), words)
            << Values{before[0], before[1], before[2], 79, 66, 3783};
        QTest::newRow("2 bytes: end bytes only")
            << options(0, -1, -1, 55, 1) << frameOf(options(0, -1, -1, 55, 1), words) << before;
    }
    void decoding()
    {
        QFETCH(OptionArray, format);
        QFETCH(Bytes, frame);
        QFETCH(Values, expected);
        FrameSearch search;
        QCOMPARE(feed(search, FrameFormat().encode(sample(20))).size(), size_t(1));
        search.setFormat(formatOf(format));
        // Twice: stored values are not converted again.
        Bytes twice = frame;
        twice.insert(twice.end(), frame.begin(), frame.end());
        const auto found = feed(search, twice);
        const int last = int(frame.size()) - 1;
        QCOMPARE(found,
                 (std::vector<std::pair<int, Values>>{{last, expected}, {2 * last + 1, expected}}));
        QCOMPARE(search.heldBytes(), 0);
    }

    void passEnds_data()
    {
        QTest::addColumn<int>("cut");
        QTest::addColumn<FrameSearch::Held>("held");
        QTest::addColumn<OptionArray>("then"); // the format while the bytes are held
        const auto sameFormat = FrameFormat().toOptionArray();
        QTest::newRow("1 byte held") << 1 << FrameSearch::Held::ShortOfAFrame << sameFormat;
        QTest::newRow("12 bytes held") << 12 << FrameSearch::Held::ShortOfAFrame << sameFormat;
        QTest::newRow("13 bytes held") << 13 << FrameSearch::Held::FramingMismatch << sameFormat;
        // The held bytes lie before the next frame, 13 bytes long from now on.
        QTest::newRow("end byte 1 off while 6 bytes held")
            << 6 << FrameSearch::Held::ShortOfAFrame << options(12, -1, -1, -1, 1);
    }
    void passEnds()
    {
        QFETCH(int, cut);
        QFETCH(FrameSearch::Held, held);
        QFETCH(OptionArray, then);
        FrameSearch search;
        // No data byte equals an end byte, so only a frame's own end matches.
        const Words words{0x1234, 0x2345, 0x3456, 0x4560, 0x5670, 0x6780};
        const Bytes frame = frameOf(FrameFormat().toOptionArray(), words);
        QVERIFY(feed(search, Bytes(frame.begin(), frame.begin() + cut)).empty());
        QCOMPARE(search.endPass(), held);
        QCOMPARE(search.endPass(), held); // a pass with nothing new
        search.setFormat(formatOf(then));
        QCOMPARE(search.heldBytes(), cut);
        const Bytes rest = then == FrameFormat().toOptionArray()
                               ? Bytes(frame.begin() + cut, frame.end())
                               : frameOf(then, words);
        QCOMPARE(feed(search, rest).size(), size_t(1));
        QCOMPARE(mmtest::valuesOf(search.sample()), (Values{4440, 5532, 6624, 4675, 9159, 13085}));
        QCOMPARE(search.heldBytes(), 0);
        QCOMPARE(search.endPass(), FrameSearch::Held::Nothing);
        QCOMPARE(search.bytesDropped(), then == FrameFormat().toOptionArray() ? 0 : cut);
    }

    void longHolds_data()
    {
        QTest::addColumn<int>("noiseBytes");
        QTest::addColumn<bool>("frameFollows");
        QTest::addColumn<int>("heldAfter");
        QTest::newRow("1001 bytes: dropped at the end of the pass") << 1001 << false << 0;
        QTest::newRow("1000 bytes: kept") << 1000 << false << 1000;
        // A full hold keeps its newest 13 bytes: 1300 - 1256 + 13 are held.
        QTest::newRow("1300 bytes: never stored past the hold") << 1300 << false << 57;
        QTest::newRow("a frame across the full hold survives") << 1250 << true << 0;
    }
    void longHolds()
    {
        QFETCH(int, noiseBytes);
        QFETCH(bool, frameFollows);
        QFETCH(int, heldAfter);
        Bytes stream = noise(noiseBytes, 11, FrameFormat());
        if (frameFollows)
            FrameFormat().append(stream, sample(9));
        FrameSearch search;
        QCOMPARE(feed(search, stream).size(), size_t(frameFollows));
        search.endPass();
        QCOMPARE(search.heldBytes(), heldAfter);
        QCOMPARE(search.bytesDropped(), noiseBytes - heldAfter);
    }

    void accelerometerConversion_data()
    {
        QTest::addColumn<int>("word");
        QTest::addColumn<int>("count");
        for (const auto &[word, count] : std::vector<std::pair<int, int>>{{0, 0},
                                                                          {3, 0},
                                                                          {4, 1},
                                                                          {32764, 8191},
                                                                          {32767, 8191},
                                                                          {-1, -1},
                                                                          {-4, -1},
                                                                          {-5, -2},
                                                                          {-32768, -8192}})
            QTest::addRow("%d", word) << word << count;
    }
    void accelerometerConversion()
    {
        QFETCH(int, word);
        QFETCH(int, count);
        SensorDatabase db;
        QCOMPARE(int(db.SCA3100_transformValues(short(word))), count);
        QCOMPARE(int(db.SCA3100_transformValues(accelerometerWord(int16_t(count)))), count);
        QCOMPARE(db.shift(short(word), 16), word < 0);
        QCOMPARE(db.shift(short(word), 3), (word >> 2) & 1);
    }
};

QTEST_GUILESS_MAIN(TestFrameSearch)
#include "tst_framesearch.moc"
