#pragma once

#include "columnstatistics.h"
#include "recording.h"

#include <QJsonObject>
#include <QString>

#include <array>

// How the counts of a recording's columns become units: for each axis an
// offset (counts) and a scale (units per count), the accelerometer's in g,
// the gyroscope's in °/s; value = (count - offset) * scale. An axis without
// a scale stays in counts. docs/calibration-format.md describes the file.
//
// Calibration is applied where values are shown or exported for analysis;
// the log files always hold counts.
class Calibration
{
public:
    // What a file may give: offsets in counts, scales in units per count.
    static constexpr double maxOffset = 1e6, maxScale = 1e3;
    struct Axis {
        double offset = 0;
        double scale = 0; // 0: unknown, the axis stays in counts
        bool known() const { return scale != 0; }
    };
    std::array<Axis, Recording::columnCount> axes;

    bool any() const;
    bool known(int column) const { return axes[std::size_t(column)].known(); }
    // The value of `count` in the column's unit, or the count itself when
    // the column is not calibrated.
    double value(int column, double count) const;
    // "g" for the accelerometer, "°/s" for the gyroscope, "" when the column
    // is not calibrated.
    QString unit(int column) const;
    // The figures of counts of the column in its unit (as they are when it
    // is not calibrated).
    ColumnStatistics::Figures figures(int column, const ColumnStatistics::Figures &counts) const;
    // The CSV name of the column: "acc_x" ... "gyro_z", with "_g" or "_dps"
    // appended when calibrated.
    QString csvName(int column) const;
    // The columns of a CSV export in these units.
    Recording::CsvColumns csvColumns() const;
    // Decimals that show a calibrated value one place finer than a count's
    // step; 0 for counts.
    int decimals(int column) const;

    // The file's object; refuses anything the format does not allow, with
    // *error saying what (the key and what is wrong with it).
    static bool fromJson(const QJsonObject &object, Calibration *calibration, QString *error);
    QJsonObject toJson() const;
    // The calibration a session recorded (see Timeline::Facts); none for a
    // log file on its own or a session that recorded none. False with *error
    // saying why when the recorded one is refused (*calibration then none).
    static bool ofRecording(const Recording &recording, Calibration *calibration, QString *error);
    // Reads the file at path: false with *error "PATH: what is wrong" when it
    // cannot be read or is refused, *calibration then unchanged.
    static bool read(const QString &path, Calibration *calibration, QString *error);
    // Writes toJson() plus `extra` keys (where the calibration came from) to
    // path: false with *error naming the file and the reason.
    bool write(const QString &path, const QJsonObject &extra, QString *error) const;
};
