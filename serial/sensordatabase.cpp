#include "sensordatabase.h"

SensorDatabase::SensorDatabase(QObject *parent) : QObject(parent) {}

short SensorDatabase::SCA3100_transformValues(short value)
{
    // Clearing the two value-less low bits leaves a multiple of four, so the
    // division is exact and equals the floor of value / 4 for negative words too.
    const int word = value;
    return static_cast<short>((word - (word & 3)) / 4);
}

int SensorDatabase::shift(short value, int position)
{
    if (position < 1)
        return 0;
    // Past bit 16 only copies of the sign bit remain.
    if (position > 16)
        position = 16;
    return (static_cast<int>(value) >> (position - 1)) & 1;
}
