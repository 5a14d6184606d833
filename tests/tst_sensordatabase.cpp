#include "sensordatabase.h"

#include <QTest>

class TestSensorDatabase : public QObject
{
    Q_OBJECT
private slots:
    void knownValues_data();
    void knownValues();
    void transformIsArithmeticShiftForEveryWord();
};

void TestSensorDatabase::knownValues_data()
{
    QTest::addColumn<int>("word");
    QTest::addColumn<int>("bit"); // 0: the converted count
    QTest::addColumn<int>("expected");
    const int counts[][2] = {{0, 0},   {3, 0},   {4, 1},   {32764, 8191},  {32767, 8191},
                             {-1, -1}, {-4, -1}, {-5, -2}, {-32768, -8192}};
    for (const auto &c : counts)
        QTest::addRow("count of %d", c[0]) << c[0] << 0 << c[1];
    const int bits[][3] = {{5, 1, 1}, {5, 2, 0}, {4, 3, 1}, {-1, 16, 1}, {32767, 16, 0}};
    for (const auto &b : bits)
        QTest::addRow("bit %d of %d", b[1], b[0]) << b[0] << b[1] << b[2];
}

void TestSensorDatabase::knownValues()
{
    QFETCH(int, word);
    QFETCH(int, bit);
    QFETCH(int, expected);
    SensorDatabase database;
    QCOMPARE(bit ? database.shift(short(word), bit) : database.SCA3100_transformValues(short(word)),
             expected);
}

void TestSensorDatabase::transformIsArithmeticShiftForEveryWord()
{
    SensorDatabase database;
    for (int word = -32768; word <= 32767; ++word) {
        // The datasheet's weighting: b15 counts -8192, b14..b2 count 4096..1.
        int weighted = -8192 * database.shift(short(word), 16);
        for (int k = 2; k <= 14; ++k)
            weighted += (1 << (k - 2)) * database.shift(short(word), k + 1);
        const int floorQuarter = word >= 0 ? word / 4 : -((-word + 3) / 4);
        const int converted = database.SCA3100_transformValues(short(word));
        if (converted != floorQuarter || converted != weighted)
            QFAIL(qPrintable(QStringLiteral("word %1: %2, expected %3 (bit weights %4)")
                                 .arg(word)
                                 .arg(converted)
                                 .arg(floorQuarter)
                                 .arg(weighted)));
    }
}

QTEST_GUILESS_MAIN(TestSensorDatabase)
#include "tst_sensordatabase.moc"
