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
//  - the viewer window (1000 x 780) on the session with time plots and
//    spectrum shown, ten minutes in view: a drag step and a wheel-zoom step
//    of the upper time plot, each followed by the statistics, the spectrum of
//    the rows in view and the four plots redrawn; mean wall time;
//  - the live spectrum window fed a sample at the line's pace (68.57 a
//    second) for 15 s, shown: the process's CPU time beside the same 15 s
//    of samples without the window, as a share of one core.
//
//   QT_QPA_PLATFORM=offscreen bench_spectrum [rows]     (default 2500000)

#include "logformat.h"
#include "recording.h"
#include "recordingviewer.h"
#include "spectrum.h"
#include "spectrumwindow.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <qcustomplot.h>
#include <sys/resource.h>

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
    QApplication app(argc, argv);
    const long rows = argc > 1 ? std::max(1000L, std::atol(argv[1])) : 2500000;
    QTemporaryDir dir;
    Recording recording;
    QString error;
    const QString session = writeSession(QDir(dir.path()), rows);
    if (!recording.open(session, &error))
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

    std::unique_ptr<RecordingViewer> viewer(RecordingViewer::open(session, nullptr, &error));
    if (!viewer)
        qFatal("%s", qPrintable(error));
    viewer->resize(1000, 780);
    viewer->setShown(RecordingViewer::Shown::Both);
    viewer->show();
    QCoreApplication::processEvents();
    auto *acc = viewer->findChild<QCustomPlot *>("accPlot");
    QList<QCustomPlot *> plots;
    for (const char *name : {"accPlot", "gyroPlot", "accSpectrum", "gyroSpectrum"})
        plots << viewer->findChild<QCustomPlot *>(name);
    const QCPRange tenMinutes(3600, 4200);
    const int steps = 100;
    const auto redrawMs = [&](auto step) {
        acc->xAxis->setRange(tenMinutes);
        QElapsedTimer wall;
        wall.start();
        for (int i = 0; i < steps; ++i) {
            step(i);
            viewer->spectrum(); // computed now rather than once the event is handled
            for (QCustomPlot *plot : plots)
                plot->replot(QCustomPlot::rpImmediateRefresh);
        }
        return double(wall.nsecsElapsed()) / 1e6 / steps;
    };
    // A drag step moves the view by a few pixels, a wheel step zooms by 15 %.
    const double drag = redrawMs([&](int i) {
        const double shift = (i % 20) * tenMinutes.size() / 200;
        acc->xAxis->setRange(tenMinutes.lower + shift, tenMinutes.upper + shift);
    });
    const double zoom = redrawMs([&](int i) {
        acc->xAxis->scaleRange(i % 20 < 10 ? 0.85 : 1 / 0.85);
        acc->yAxis->scaleRange(i % 20 < 10 ? 0.85 : 1 / 0.85);
    });
    const Spectrum &inView = viewer->spectrum();
    const bool quick = std::max(drag, zoom) <= 100;
    std::printf("viewer, time plots and spectrum, ten minutes in view (%lld segments of %d rows): "
                "drag step %.2f ms, zoom step %.2f ms (goal: at most 100 ms) %s\n",
                static_cast<long long>(inView.segments), inView.length, drag, zoom, verdict(quick));
    std::fflush(stdout);
    viewer.reset();

    // The live window at the line's pace, against the same samples fed to nothing.
    const auto cpuSeconds = [] {
        rusage u{};
        getrusage(RUSAGE_SELF, &u);
        return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
               double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
    };
    const double liveSeconds = 15;
    const auto share = [&](SpectrumWindow *window) {
        QTimer line;
        line.setTimerType(Qt::PreciseTimer);
        long n = 0;
        QObject::connect(&line, &QTimer::timeout, [&] {
            const double t = double(n++) / pace;
            const auto v = [&](double f, double a) {
                return std::int16_t(a * std::sin(6.2832 * f * t));
            };
            const Sample s{{v(11.5, 300), v(2.1, 150), v(23, 80)},
                           {v(1.3, 800), v(2.1, 300), v(0.4, 400)}};
            if (window)
                window->append(s);
        });
        line.start(int(1000 / pace));
        const double before = cpuSeconds();
        QElapsedTimer wall;
        wall.start();
        QEventLoop loop;
        QTimer::singleShot(int(liveSeconds * 1000), &loop, &QEventLoop::quit);
        loop.exec();
        return (cpuSeconds() - before) / (double(wall.elapsed()) / 1000);
    };
    SpectrumWindow live;
    live.show();
    const double without = share(nullptr), with = share(&live);
    const bool light = with - without <= 0.01;
    std::printf("live spectrum window at the line's pace (%lld segments of %d rows in the last "
                "10 s, three redraws a second): %.2f%% of a core, %.2f%% without it, adds %.2f%% "
                "(goal: at most 1%%) %s\n",
                static_cast<long long>(live.spectrum().segments), live.spectrum().length,
                100 * with, 100 * without, 100 * (with - without), verdict(light));
    std::fflush(stdout);
    return fast && agree && quick && light ? 0 : 1;
}
