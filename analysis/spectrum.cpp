#include "spectrum.h"

#include "welch.h"

#include <QFile>

#include <algorithm>
#include <charconv>
#include <thread>

std::size_t Spectrum::peak(int column) const
{
    const std::vector<double> &d = density[std::size_t(column)];
    return d.size() < 2 ? 0 : std::size_t(std::max_element(d.begin() + 1, d.end()) - d.begin());
}

Spectrum Spectrum::of(const Recording &recording, std::int64_t first, std::int64_t end,
                      int length, double givenRate, const Calibration &calibration)
{
    const std::vector<Stretch> stretches = continuousStretches(recording, first, end);
    Columns columns;
    for (int c = 0; c < Recording::columnCount; ++c)
        columns[std::size_t(c)] = recording.column(c).data();
    const Timeline *timeline = recording.timeline();
    return of(columns, stretches, timeline ? rowsPerSecond(recording, stretches) : givenRate,
              length, calibration,
              timeline ? [timeline](std::int64_t row) { return timeline->seconds(row); }
                       : std::function<double(std::int64_t)>());
}

Spectrum Spectrum::of(const Columns &columns, std::vector<Stretch> stretches, double rate,
                      int length, const Calibration &calibration,
                      const std::function<double(std::int64_t)> &seconds)
{
    Spectrum s;
    s.rate = rate;
    s.length = length > 0 ? length : Welch::defaultLength(stretches);
    s.stretches = int(stretches.size());
    const auto isShort = [&](const Stretch &t) { return t.rows() < s.length; };
    for (const Stretch &t : stretches)
        if (isShort(t)) {
            ++s.shortStretches;
            s.shortRows += t.rows();
            if (seconds)
                s.shortSeconds += seconds(t.end - 1) - seconds(t.first);
        }
    stretches.erase(std::remove_if(stretches.begin(), stretches.end(), isShort), stretches.end());
    s.segments = Welch::segmentsIn(stretches, s.length);
    if (s.segments == 0)
        return s;
    const Welch welch(s.length);
    const auto compute = [&](int c) {
        std::vector<double> &d = s.density[std::size_t(c)];
        d = welch.density(columns[std::size_t(c)], stretches, s.rate > 0 ? s.rate : 1);
        // Offsets vanish with each segment's mean; the scale squares.
        const double scale = calibration.known(c) ? calibration.axes[std::size_t(c)].scale : 1;
        for (double &v : d)
            v *= scale * scale;
    };
    // The gyroscope on a second thread once there is enough to share: the
    // transforms dominate, and the columns share nothing but the plan.
    const bool share = s.segments * s.length >= (1 << 16);
    std::thread gyroscope;
    if (share)
        gyroscope = std::thread([&] {
            for (int c = Recording::GyroX; c <= Recording::GyroZ; ++c)
                compute(c);
        });
    for (int c = 0; c < (share ? int(Recording::GyroX) : Recording::columnCount); ++c)
        compute(c);
    if (share)
        gyroscope.join();
    return s;
}

bool Spectrum::writeCsv(const QString &path, const Calibration &calibration, QString *error) const
{
    QByteArray text = rate > 0 ? "frequency_hz" : "cycles_per_row";
    for (int c = 0; c < Recording::columnCount; ++c)
        text += ',' + calibration.csvName(c).toUtf8();
    text += '\n';
    const std::size_t bins = empty() ? 0 : density[0].size();
    char line[7 * 32];
    for (std::size_t k = 0; k < bins; ++k) {
        char *p = std::to_chars(line, line + sizeof line, frequency(k)).ptr;
        for (const std::vector<double> &d : density) {
            *p++ = ',';
            p = std::to_chars(p, line + sizeof line, d[k]).ptr;
        }
        *p++ = '\n';
        text.append(line, p - line);
    }
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(text) == text.size() &&
        file.flush())
        return true;
    *error = path + QStringLiteral(": ") + file.errorString();
    return false;
}
