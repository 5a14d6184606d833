#include "sensordatabase.h"

SensorDatabase::SensorDatabase(QObject *parent) : QObject(parent) {}

short SensorDatabase::SCA3100_transformValues(short value)
{
    Q_UNUSED(value);
    return 0; // TODO(serial)
}

int SensorDatabase::shift(short value, int position)
{
    Q_UNUSED(value);
    Q_UNUSED(position);
    return 0; // TODO(serial)
}
