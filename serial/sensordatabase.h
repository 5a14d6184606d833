#pragma once

#include <QObject>

// Converts raw SCA3100 accelerometer words into signed acceleration counts.
class SensorDatabase : public QObject
{
    Q_OBJECT
public:
    explicit SensorDatabase(QObject *parent = nullptr);

    // The upper fourteen bits of `value` as a signed count (-8192..8191):
    // an arithmetic shift right by two, exact for every input.
    short SCA3100_transformValues(short value);

    // Bit `position` of `value`, counted from 1 (least significant) to 16; 0 or 1.
    // Positions below 1 give 0, positions above 16 the sign bit.
    int shift(short value, int position);
};
