// The spectrum of a long session: 2 500 000 rows (ten hours at the line's
// pace) of three sines and noise per column, in one log file with its
// session file (a time mark every 68 rows), then
//
//  - the spectrum of all six columns of the whole session in the program
//    (Spectrum::of, its default segment length; the best of three, after one
//    run that made the plan), beside scipy.signal.welch on the same arrays
//    with the same rate, segment length and defaults, run by Debian's
//    /usr/bin/python3 in the same run (the computations alone, best of
//    three), and the largest relative difference between the two;
//
//   bench_spectrum [rows]     (default 2500000)

#include "logformat.h"
#include "recording.h"
#include "spectrum.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>

namespace
{

constexpr double pace = 960.0 / 14;

const char *verdict(bool met)
{
    return met ? "met" : "NOT MET";
}

// Writes log.txt and s.session.jsonl into dir; returns the session file.
QString writeSession(const QDir &dir, long rows)
{
    QFile log(dir.filePath("log.txt")), session(dir.filePath("s.session.jsonl"));
    if (!log.open(QIODevice::WriteOnly) || !session.open(QIODevice::WriteOnly))
        qFatal("cannot write into %s", qPrintable(dir.path()));
    std::mt19937 random(1);
    std::normal_distribution<double> noise(0, 40);
    QByteArray text = QByteArray(logformat::header) + '\n';
    QByteArray lines = R"({"format":"motionmonitor-session","version":1,)"
                       R"("start":"2026-12-08T10:00:00.000+01:00","source":"receiver"})"
                       "\n"
                       R"({"t_ms":0,"rows":0,"event":"file","path":"log.txt","offset":0,)"
                       R"("index":0})"
                       "\n";
    const auto ms = [](long row) { return std::llround(double(row) * 1000 / pace); };
    for (long r = 0; r < rows; ++r) {
        const double t = double(r) / pace;
        text += QByteArray::number(r % 2147483647);
        for (int c = 0; c < Recording::columnCount; ++c) {
            const double f = 0.7 + 3.1 * c, amplitude = c < 3 ? 1500 : 9000;
            const double v = amplitude * std::sin(2 * M_PI * f * t) +
                             amplitude / 4 * std::sin(2 * M_PI * 5.3 * f * t + c) + noise(random);
            text += ',' + QByteArray::number(std::clamp(std::lround(v), c < 3 ? -8192L : -32768L,
                                                        c < 3 ? 8191L : 32767L));
        }
        text += '\n';
        if (r % 68 == 67)
            lines += QByteArray(R"({"t_ms":)") + QByteArray::number(ms(r)) + R"(,"rows":)" +
                     QByteArray::number(r + 1) + R"(,"event":"mark"})" + '\n';
        if (text.size() > (1 << 20) && log.write(text) == text.size())
            text.clear();
    }
    lines += QByteArray(R"({"t_ms":)") + QByteArray::number(ms(rows - 1)) + R"(,"rows":)" +
             QByteArray::number(rows) + R"(,"event":"end","frames":0,"stray_bytes":0,"files":1})" +
             '\n';
    if (log.write(text) != text.size() || session.write(lines) != lines.size())
        qFatal("cannot write the session");
    return session.fileName();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const long rows = argc > 1 ? std::max(1000L, std::atol(argv[1])) : 2500000;
    QTemporaryDir dir;
    Recording recording;
    QString error;
    if (!recording.open(writeSession(QDir(dir.path()), rows), &error))
        qFatal("%s", qPrintable(error));
    std::printf("Session of %ld rows, one log file\n", rows);
    std::fflush(stdout);

    const Calibration counts;
    Spectrum spectrum = Spectrum::of(recording, 0, rows, 0, 0, counts); // makes the plan
    double seconds = 1e9;
    for (int i = 0; i < 3; ++i) {
        QElapsedTimer wall;
        wall.start();
        spectrum = Spectrum::of(recording, 0, rows, 0, 0, counts);
        seconds = std::min(seconds, double(wall.nsecsElapsed()) / 1e9);
    }

    // The same arrays for scipy.
    QFile values(dir.filePath("values.i16"));
    if (!values.open(QIODevice::WriteOnly))
        qFatal("cannot write the values");
    for (int c = 0; c < Recording::columnCount; ++c)
        values.write(reinterpret_cast<const char *>(recording.column(c).data()),
                     qint64(rows * sizeof(std::int16_t)));
    values.close();
    QProcess python;
    python.start("/usr/bin/python3",
                 {QStringLiteral(MM_BENCH_DIR "/welch_reference.py"), values.fileName(),
                  QString::number(rows), QString::number(spectrum.rate, 'g', 17),
                  QString::number(spectrum.length), dir.filePath("scipy.f64")});
    double scipy = -1, difference = -1;
    if (python.waitForFinished(600000) && python.exitCode() == 0) {
        scipy = python.readAllStandardOutput().trimmed().toDouble();
        QFile f(dir.filePath("scipy.f64"));
        f.open(QIODevice::ReadOnly);
        const QByteArray bytes = f.readAll();
        const auto *reference = reinterpret_cast<const double *>(bytes.constData());
        const std::size_t bins = spectrum.density[0].size();
        if (std::size_t(bytes.size()) == 6 * bins * sizeof(double)) {
            difference = 0;
            for (int c = 0; c < Recording::columnCount; ++c)
                for (std::size_t k = 0; k < bins; ++k) {
                    const double a = spectrum.density[std::size_t(c)][k],
                                 b = reference[c * bins + k];
                    difference = std::max(difference, std::abs(a - b) / std::abs(b));
                }
        }
    } else {
        std::printf("scipy.signal.welch could not be run (/usr/bin/python3 with python3-scipy): "
                    "%s\n",
                    qPrintable(python.readAllStandardError()));
    }
    const bool fast = seconds <= 0.3 && scipy > 0 && seconds <= scipy;
    const bool agree = difference >= 0 && difference <= 1e-9;
    std::printf("spectrum of 6 columns x %ld rows, %lld segments of %d rows at %.3f rows/s: "
                "%.3f s, scipy.signal.welch %.3f s (goal: at most 0.3 s and not slower than "
                "scipy) %s\n",
                rows, static_cast<long long>(spectrum.segments), spectrum.length, spectrum.rate,
                seconds, scipy, verdict(fast));
    std::printf("largest relative difference from scipy over all %zu densities: %.2g (goal: at "
                "most 1e-9) %s\n",
                6 * spectrum.density[0].size(), difference, verdict(agree));
    std::fflush(stdout);
    return fast && agree ? 0 : 1;
}
