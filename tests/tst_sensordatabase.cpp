#include "sensordatabase.h"

#include <QTest>

class TestSensorDatabase : public QObject
{
    Q_OBJECT
private slots:
    void transform_data();
    void transform();
    void shift_data();
    void shift();
    void transformIsArithmeticShiftForEveryWord();
};

void TestSensorDatabase::transform_data()
{
    QTest::addColumn<int>("word");
    QTest::addColumn<int>("count");
    QTest::newRow("zero") << 0 << 0;
    QTest::newRow("low bits only") << 3 << 0;
    QTest::newRow("one count") << 4 << 1;
    QTest::newRow("largest, low bits clear") << 32764 << 8191;
    QTest::newRow("largest") << 32767 << 8191;
    QTest::newRow("minus one") << -1 << -1;
    QTest::newRow("minus four") << -4 << -1;
    QTest::newRow("rounds toward minus infinity") << -5 << -2;
    QTest::newRow("smallest") << -32768 << -8192;
}

void TestSensorDatabase::transform()
{
    QFETCH(int, word);
    QFETCH(int, count);
    SensorDatabase database;
    QCOMPARE(int(database.SCA3100_transformValues(short(word))), count);
}

void TestSensorDatabase::shift_data()
{
    QTest::addColumn<int>("word");
    QTest::addColumn<int>("position");
    QTest::addColumn<int>("bit");
    QTest::newRow("5, bit 1") << 5 << 1 << 1;
    QTest::newRow("5, bit 2") << 5 << 2 << 0;
    QTest::newRow("4, bit 3") << 4 << 3 << 1;
    QTest::newRow("-1, bit 16") << -1 << 16 << 1;
    QTest::newRow("sign bit of a positive word") << 32767 << 16 << 0;
    QTest::newRow("sign bit of the smallest word") << -32768 << 16 << 1;
}

void TestSensorDatabase::shift()
{
    QFETCH(int, word);
    QFETCH(int, position);
    QFETCH(int, bit);
    SensorDatabase database;
    QCOMPARE(database.shift(short(word), position), bit);
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
