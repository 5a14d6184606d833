#pragma once

#include "frameformat.h"
#include "sample.h"

#include <QByteArray>
#include <QString>

// The words a sample goes out in, with its time: JSON, which PlotJuggler's
// JSON parser and any MQTT subscriber read, and InfluxDB's line protocol,
// which Telegraf stores as it is. Only the sensors of the slots in use are
// written, the same keys in every message of one format.
class SampleText
{
public:
    // `format`'s slots in use give the keys; `host` and `device` (its file
    // name is kept) tag the influx lines.
    SampleText(const FrameFormat &format, const QString &host, const QString &device);

    // {"timestamp":1733650000.123456,"acc":{"x":380,"y":948,"z":97},
    //  "gyro":{"x":264,"y":128,"z":-392}}: seconds since the Unix epoch with
    // microseconds, values as integers.
    void appendJson(QByteArray &out, const Sample &s, qint64 unixNs) const;
    // motion,host=lab-pc,device=ttyUSB0 acc_x=380i,...,gyro_z=-392i 1733650000123456000
    // (no line end): integer fields, the time in nanoseconds.
    void appendInflux(QByteArray &out, const Sample &s, qint64 unixNs) const;
    // A tag value as the line protocol needs it: commas, equals signs and
    // spaces escaped with a backslash, line ends (never valid) made spaces.
    static QByteArray influxTag(const QString &value);

private:
    bool acc = false;
    bool gyro = false;
    QByteArray influxHead; // the measurement and the tags, and the space after them
};
