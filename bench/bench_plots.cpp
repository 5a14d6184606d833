// Cost of one sample on the live plots, both plots together, in CPU time of
// the GUI thread, at plot windows of 100, 1 000, 10 000 and 100 000 points:
//
//  - plots: the two LivePlots as the main window builds them (the plots' look,
//    three live graphs each, 600 x 375 each, shown), fed one sample at a time
//    as LivePlots::append feeds them with "Autoscale" checked;
//  - copy-all: two plain QCustomPlots set up alike, fed by copying every
//    buffer into the graphs and redrawing both plots at every sample.
//
// Each sample is followed by the plots' redraw (a LivePlot draws at most 25
// times a second, so the benchmark waits for its paint event; waiting costs
// no CPU time).
// The samples are the test mode's sine waves; the plots are full before
// timing starts. Then resident memory at a window of 100 000 points.
//
//   bench_plots [samples]     (timed samples per run, default 200)

#include "liveplot.h"
#include "liveplotgraph.h"
#include "plotlook.h"
#include "sample.h"

#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <qcustomplot.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace
{

double threadCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

long residentKiB()
{
    long kib = 0;
    if (FILE *f = std::fopen("/proc/self/status", "r")) {
        char line[256];
        while (std::fgets(line, sizeof line, f))
            if (std::sscanf(line, "VmRSS: %ld kB", &kib) == 1)
                break;
        std::fclose(f);
    }
    return kib;
}

// The program's test-mode waves: accelerometer X Y Z, gyroscope X Y Z.
struct Values {
    int16_t v[6];
};
Values wave(long t)
{
    const double x = double(t);
    return {{int16_t(10 * std::sin(0.2 * x)), int16_t(5 * std::cos(0.1 * x)),
             int16_t(15 * std::sin(0.05 * x)), int16_t(20 * std::sin(0.2 * x)),
             int16_t(55 * std::cos(0.3 * x)), int16_t(150 * std::sin(0.05 * x))}};
}

// Builds the accelerometer and the gyroscope plot on `top` as the main
// window places them when both sensors are in use, with the plots' look;
// addCurve(plot) adds one graph to a plot.
template <class Plot, class AddCurve>
void setUpPlots(QWidget &top, Plot *(&plots)[2], AddCurve addCurve)
{
    top.resize(1000, 780);
    const int sensors[2] = {sensor::accelerometer, sensor::gyroscope};
    const char *titles[2] = {"acc", "gyro"};
    for (int p = 0; p < 2; ++p) {
        Plot *plot = plots[p] = new Plot(&top);
        plot->setGeometry(400, 23 + 375 * p, 600, 375);
        plotlook::setUp(plot, sensors[p], titles[p], top.font());
        for (int axis = 0; axis < 3; ++axis)
            plotlook::styleCurve(addCurve(plot), sensors[p], axis);
    }
}

// Ends an event loop at the next paint event of the widgets it watches.
class PaintWatch : public QObject
{
public:
    QEventLoop loop;
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            loop.quit();
        return false;
    }
};

// Mean CPU ms per sample of `samples` samples, each followed by the redraw
// of `drawn` (a pass of the event loop when null); t is the running sample
// number.
template <class Step> double timeSamples(int samples, long &t, Step step, QWidget *drawn = nullptr)
{
    PaintWatch paints;
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, &paints.loop, &QEventLoop::quit);
    if (drawn)
        drawn->installEventFilter(&paints);
    const double start = threadCpuMs();
    for (int i = 0; i < samples; ++i) {
        step(wave(t++));
        if (!drawn) {
            QCoreApplication::processEvents();
            continue;
        }
        limit.start(1000);
        paints.loop.exec();
    }
    return (threadCpuMs() - start) / samples;
}

// The live plots, fed as LivePlots::append feeds them with "Autoscale"
// checked: the oldest point dropped once the window is full, one point
// appended to each graph, a redraw asked for, the time axis moved on.
class LivePlotPair
{
public:
    explicit LivePlotPair(int window) : window(window)
    {
        setUpPlots(top, plots, [](LivePlot *plot) { return plot->addLiveGraph(); });
    }

    void sample(const Values &s)
    {
        const bool full = count > window;
        for (int p = 0; p < 2; ++p) {
            if (full)
                plots[p]->dropOldest();
            const int16_t *v = s.v + 3 * p;
            plots[p]->appendPoints(count, {double(v[0]), double(v[1]), double(v[2])});
            plots[p]->redraw();
        }
        for (LivePlot *plot : plots)
            plot->xAxis->setRange(count - window,
                                  count > window ? count + window / 5.0 : count * 1.2);
        ++count;
    }
    void show()
    {
        top.show();
        QCoreApplication::processEvents();
    }
    QCustomPlot *gyroPlot() const { return plots[1]; }

private:
    const int window;
    int count = 0;
    QWidget top;
    LivePlot *plots[2];
};

// The plots hidden while they fill (a hidden plot is not drawn), then shown
// and timed.
double liveCost(int window, int samples)
{
    LivePlotPair plots(window);
    long t = 0;
    for (; t <= window; ++t)
        plots.sample(wave(t));
    plots.show();
    const auto step = [&](const Values &s) { plots.sample(s); };
    timeSamples(5, t, step, plots.gyroPlot());
    return timeSamples(samples, t, step, plots.gyroPlot());
}

// Copy-everything: plain QCustomPlots set up as the live plots, fed by handing
// the whole buffers to the graphs and redrawing both plots completely at
// every sample.
class CopyAllPlots
{
public:
    explicit CopyAllPlots(int window) : window(window)
    {
        setUpPlots(top, plots, [](QCustomPlot *plot) { return plot->addGraph(); });
    }

    // Fills the buffers to the window without drawing, then shows the plots.
    void fill(long &t)
    {
        for (; t <= window; ++t, ++count)
            add(wave(t));
        for (int c = 0; c < 6; ++c)
            plots[c / 3]->graph(c % 3)->setData(keys, values[c]);
        top.show();
        QCoreApplication::processEvents();
    }

    void sample(const Values &s)
    {
        add(s);
        for (int p = 0; p < 2; ++p) {
            for (int g = 0; g < 3; ++g)
                plots[p]->graph(g)->setData(keys, values[3 * p + g]);
            plots[p]->replot();
        }
        for (QCustomPlot *plot : plots)
            plot->xAxis->setRange(count - window,
                                  count > window ? count + window / 5.0 : count * 1.2);
        ++count;
    }

private:
    void add(const Values &s)
    {
        if (count > window) {
            keys.remove(0);
            for (QVector<double> &v : values)
                v.remove(0);
        }
        keys.append(count);
        for (int c = 0; c < 6; ++c)
            values[c].append(s.v[c]);
    }

    const int window;
    int count = 0;
    QWidget top;
    QCustomPlot *plots[2];
    QVector<double> keys, values[6];
};

double copyAllCost(int window, int samples)
{
    CopyAllPlots plots(window);
    long t = 0;
    plots.fill(t);
    timeSamples(3, t, [&](const Values &s) { plots.sample(s); });
    return timeSamples(samples, t, [&](const Values &s) { plots.sample(s); });
}

} // namespace

int main(int argc, char **argv)
{
    // Qt's own diagnostics would break up the table.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &msg) {
        if (type >= QtCriticalMsg)
            std::fprintf(stderr, "%s\n", qPrintable(msg));
    });
    QApplication app(argc, argv);
    const int samples = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;

    std::printf("Live plots, both plots, CPU ms per sample (platform %s, %d samples a run)\n",
                qPrintable(QGuiApplication::platformName()), samples);
    std::printf("%8s %9s %10s %7s\n", "window", "plots", "copy-all", "ratio");
    for (int window : {100, 1000, 10000, 100000}) {
        const double plots = liveCost(window, samples);
        // The copy-all way takes tens of milliseconds a sample at large windows.
        const double copyAll =
            copyAllCost(window, window >= 100000 ? std::max(1, samples / 10) : samples);
        std::printf("%8d %9.3f %10.3f %6.1fx\n", window, plots, copyAll, copyAll / plots);
        std::fflush(stdout);
    }
    std::printf("plots: the live plots fed one sample at a time and redrawn;\n"
                "ratio = copy-all / plots.\n");

    // Memory: the plots hidden (nothing is drawn), filled to 100 000 points,
    // then fed ten times as many samples again.
    LivePlotPair plots(100000);
    long t = 0;
    for (; t <= 100000; ++t)
        plots.sample(wave(t));
    long kib[3] = {residentKiB(), 0, 0};
    for (int round = 1; round <= 2; ++round) {
        for (const long end = t + 1000000; t < end; ++t)
            plots.sample(wave(t));
        kib[round] = residentKiB();
    }
    std::printf("Resident memory at window 100 000: %ld KiB when full, %ld KiB after a further "
                "million samples, %ld KiB after another million.\n",
                kib[0], kib[1], kib[2]);
    return 0;
}
