#pragma once

#include "frameformat.h"

#include <QTest>
#include <array>

namespace mmtest
{
// Accelerometer X Y Z, gyroscope X Y Z: a sample as the displays show it.
using Values = std::array<int, 6>;
inline Values valuesOf(const Sample &s)
{
    return {s.acc[0], s.acc[1], s.acc[2], s.gyro[0], s.gyro[1], s.gyro[2]};
}
} // namespace mmtest

// Failure messages show the values.
template <> inline char *QTest::toString(const mmtest::Values &v)
{
    QByteArray text;
    for (int value : v)
        text += (text.isEmpty() ? "(" : ", ") + QByteArray::number(value);
    return qstrdup(text + ")");
}
