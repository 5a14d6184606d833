#include "sampletext.h"

#include <QFileInfo>

#include <charconv>

namespace
{

void number(QByteArray &out, long long n)
{
    char text[24];
    const auto end = std::to_chars(text, text + sizeof text, n).ptr;
    out.append(text, int(end - text));
}

// Seconds with six decimals, from nanoseconds (before 1970 too).
void seconds(QByteArray &out, qint64 ns)
{
    const qint64 us = ns >= 0 ? ns / 1000 : -((-ns + 999) / 1000);
    qint64 whole = us / 1000000, fraction = us % 1000000;
    if (fraction < 0) {
        fraction += 1000000;
        --whole;
    }
    number(out, whole);
    char digits[7] = "000000";
    for (int i = 5; i >= 0; --i, fraction /= 10)
        digits[i] = char('0' + fraction % 10);
    out.append('.').append(digits, 6);
}

void jsonAxes(QByteArray &out, const char *key, const std::array<int16_t, 3> &v)
{
    out.append(",\"").append(key).append("\":{\"x\":");
    number(out, v[0]);
    out.append(",\"y\":");
    number(out, v[1]);
    out.append(",\"z\":");
    number(out, v[2]);
    out.append('}');
}

void influxAxes(QByteArray &out, const char *key, const std::array<int16_t, 3> &v, bool first)
{
    for (int axis = 0; axis < 3; ++axis) {
        if (!first || axis > 0)
            out.append(',');
        out.append(key).append('_').append(char('x' + axis)).append('=');
        number(out, v[axis]);
        out.append('i');
    }
}

bool uses(const FrameFormat &f, int type)
{
    // Slot 2 is read only behind slot 1.
    return f.slot1Type == type || (f.slot1Type != sensor::none && f.slot2Type == type);
}

} // namespace

SampleText::SampleText(const FrameFormat &format, const QString &host, const QString &device)
    : acc(uses(format, sensor::accelerometer)), gyro(uses(format, sensor::gyroscope)),
      influxHead("motion,host=" + influxTag(host) +
                 ",device=" + influxTag(QFileInfo(device).fileName()) + ' ')
{
}

void SampleText::appendJson(QByteArray &out, const Sample &s, qint64 unixNs) const
{
    out.append("{\"timestamp\":");
    seconds(out, unixNs);
    if (acc)
        jsonAxes(out, "acc", s.acc);
    if (gyro)
        jsonAxes(out, "gyro", s.gyro);
    out.append('}');
}

void SampleText::appendInflux(QByteArray &out, const Sample &s, qint64 unixNs) const
{
    out.append(influxHead);
    if (acc)
        influxAxes(out, "acc", s.acc, true);
    if (gyro)
        influxAxes(out, "gyro", s.gyro, !acc);
    out.append(' ');
    number(out, unixNs);
}

QByteArray SampleText::influxTag(const QString &value)
{
    QByteArray out;
    for (char c : value.toUtf8()) {
        if (c == '\n' || c == '\r')
            c = ' ';
        if (c == ',' || c == '=' || c == ' ')
            out.append('\\');
        out.append(c);
    }
    return out;
}
