#include "calibrator.h"

#include <cmath>

QString Calibrator::faceName(int face)
{
    return face == tilted
               ? QStringLiteral("tilted")
               : QStringLiteral("%1 %2").arg(QChar("XYZ"[face / 2]), face % 2 ? "down" : "up");
}

Calibrator::Calibrator(const Recording &recording, double rate, double minimumSeconds,
                       double gyroScale)
    : finder(recording, rate, minimumSeconds)
{
    const std::vector<RestFinder::Rest> &rests = finder.rests();
    if (rests.empty()) {
        missing << (finder.longestShort() > 0
                        ? QStringLiteral("nothing: no rest of %1 s or more (the longest still "
                                         "stretch lasted %2 s)")
                              .arg(minimumSeconds)
                              .arg(finder.longestShort(), 0, 'f', 1)
                        : QStringLiteral("nothing: the node never rested (every axis nearly "
                                         "still for %1 s or more)")
                              .arg(minimumSeconds));
        return;
    }
    // Sums over rows: of each rest's means, for the gyroscope over all rests,
    // for each accelerometer face over its rests.
    double rows = 0;
    std::array<double, 3> gyro{};
    std::array<double, 6> faceSum{}, faceRows{};
    for (const RestFinder::Rest &r : rests) {
        const double n = double(r.rows.rows());
        rows += n;
        for (int a = 0; a < 3; ++a)
            gyro[std::size_t(a)] += n * r.mean[std::size_t(Recording::GyroX + a)];
        int face = tilted;
        for (int a = 0; a < 3; ++a) {
            const double m = std::abs(r.mean[std::size_t(a)]);
            if (m > 0 && m >= 3 * std::abs(r.mean[std::size_t((a + 1) % 3)]) &&
                m >= 3 * std::abs(r.mean[std::size_t((a + 2) % 3)]))
                face = 2 * a + (r.mean[std::size_t(a)] < 0);
        }
        faces.push_back(face);
        if (face != tilted) {
            faceSum[std::size_t(face)] += n * r.mean[std::size_t(face / 2)];
            faceRows[std::size_t(face)] += n;
        }
    }
    for (int a = 0; a < 3; ++a) {
        Calibration::Axis &g = calibration.axes[std::size_t(Recording::GyroX + a)];
        g.offset = gyro[std::size_t(a)] / rows;
        g.scale = gyroScale;
        const std::size_t upFace = std::size_t(2 * a), downFace = upFace + 1;
        if (faceRows[upFace] > 0 && faceRows[downFace] > 0) {
            const double up = faceSum[upFace] / faceRows[upFace];
            const double down = faceSum[downFace] / faceRows[downFace];
            calibration.axes[std::size_t(a)] = {(up + down) / 2, 2 / (up - down)};
            continue;
        }
        QStringList faces;
        for (std::size_t f : {upFace, downFace})
            if (faceRows[f] == 0)
                faces << faceName(int(f));
        missing << QStringLiteral("accelerometer %1: offset and scale, as it never rested %2")
                       .arg(QChar("XYZ"[a]), faces.join(QStringLiteral(" nor ")));
    }
    if (gyroScale == 0)
        missing << QStringLiteral("gyroscope: scale, which no rest shows: give --gyro-scale "
                                  "(see the manual: one turn of a known angle)");
    if (!calibration.known(Recording::AccX) || !calibration.known(Recording::AccY) ||
        !calibration.known(Recording::AccZ))
        return;
    double squares = 0, used = 0;
    for (std::size_t i = 0; i < rests.size(); ++i) {
        if (faces[i] == tilted)
            continue;
        double g2 = 0;
        for (int a = 0; a < 3; ++a)
            g2 += std::pow(calibration.value(a, rests[i].mean[std::size_t(a)]), 2);
        squares += std::pow(std::sqrt(g2) - 1, 2);
        ++used;
    }
    residual = std::sqrt(squares / used);
}
