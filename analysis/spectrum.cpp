#include "spectrum.h"

#include "stretches.h"
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

Spectrum Spectrum::of(const Recording &recording, std::int64_t first, std::int64_t end, int length,
                      double givenRate, const Calibration &calibration)
{
    Spectrum s;
    std::vector<Stretch> stretches = continuousStretches(recording, first, end);
    s.rate = recording.timeline() ? rowsPerSecond(recording, stretches) : givenRate;
    s.length = length > 0 ? length : Welch::defaultLength(stretches);
    s.stretches = int(stretches.size());
    const auto isShort = [&](const Stretch &t) { return t.rows() < s.length; };
    for (const Stretch &t : stretches)
        if (isShort(t)) {
            ++s.shortStretches;
            s.shortRows += t.rows();
            if (const Timeline *timeline = recording.timeline())
                s.shortSeconds += timeline->seconds(t.end - 1) - timeline->seconds(t.first);
        }
    stretches.erase(std::remove_if(stretches.begin(), stretches.end(), isShort), stretches.end());
    s.segments = Welch::segmentsIn(stretches, s.length);
    if (s.segments == 0)
        return s;
    const Welch welch(s.length);
    const auto compute = [&](int c) {
        std::vector<double> &d = s.density[std::size_t(c)];
        d = welch.density(recording.column(c).data(), stretches, s.rate > 0 ? s.rate : 1);
        // Offsets vanish with each segment's mean; the scale squares.
        const double scale = calibration.known(c) ? calibration.axes[std::size_t(c)].scale : 1;
        for (double &v : d)
            v *= scale * scale;
    };
    // The gyroscope on a second thread: the transforms dominate, and the
    // columns share nothing but the plan.
    std::thread gyroscope([&] {
        for (int c = Recording::GyroX; c <= Recording::GyroZ; ++c)
            compute(c);
    });
    for (int c = Recording::AccX; c <= Recording::AccZ; ++c)
        compute(c);
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
