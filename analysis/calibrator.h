#pragma once

#include "calibration.h"
#include "restfinder.h"

#include <QStringList>

#include <vector>

// A calibration measured from a recording of the node at rest.
//
// The gyroscope's offset is its mean over every rest. The accelerometer's
// axes need the node resting on its faces: a rest is on a face when one
// accelerometer axis reads at least three times what either other does (in
// counts: the offsets are taken to be small beside 1 g); that axis is then
// up (reading more than 0) or down. An axis that rested both up and down
// gets offset = (up + down) / 2 counts and scale = 2 g / (up - down), up and
// down being the means of its rests on those faces, weighted by their rows.
// The gyroscope's scale cannot be found at rest: it is given.
struct Calibrator {
    // Faces by accelerometer axis and direction: 2 * axis + (down ? 1 : 0).
    static constexpr int tilted = -1;

    // Measures from `recording` (a log file's rows `rate` per second) with
    // rests of at least `minimumSeconds`; `gyroScale` (°/s per count, 0:
    // unknown) becomes the gyroscope's scale.
    Calibrator(const Recording &recording, double rate, double minimumSeconds, double gyroScale);

    Calibration calibration;
    RestFinder finder;
    std::vector<int> faces; // of each rest
    // The root mean square of each face rest's calibrated acceleration's
    // magnitude less 1 g; negative when the accelerometer's three axes are not
    // all calibrated.
    double residual = -1;
    // What could not be determined, and why: one line each.
    QStringList missing;

    // "up"/"down" of a face, "tilted" otherwise, with the axis: "X up".
    static QString faceName(int face);
};
