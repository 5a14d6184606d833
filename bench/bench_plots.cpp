// Cost of one sample on the live plots, both plots together, in CPU time of
// the GUI thread, at plot windows of 100, 1 000, 10 000 and 100 000 points:
//
//  - program: the main window as a user sets it up (both plots shown, 600 x 375
//    each, "Autoscale" checked), fed through its sample slot OtaVastaanData;
//  - displays: the same window without plots, fed alike: the share of the
//    numeric displays, taken off the program's figure to give the plots' own;
//  - copy-all: two plain QCustomPlots set up alike, fed by copying every
//    buffer into the graphs and redrawing both plots at every sample.
//
// Each sample is followed by the plots' redraw (the program draws them at most
// 25 times a second, so the benchmark waits for it; waiting costs
// no CPU time).
// The samples are the test mode's sine waves; the plots are full before
// timing starts. Then resident memory at a window of 100 000 points.
//
//   bench_plots [samples]     (timed samples per run, default 200)

#include "benchwindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QEventLoop>
#include <QSpinBox>
#include <QTimer>
#include <qcustomplot.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>

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

// The main window as a user builds it: "Draw plots" and the plot window given.
std::unique_ptr<MainWindow> startWindow(bool plots, int window)
{
    return bench::startWindow([&](Options &o) {
        bench::child<QCheckBox>(&o, "checkBox")->setChecked(plots);
        bench::child<QSpinBox>(&o, "AutoClearLines")->setValue(window);
    });
}

void feed(MainWindow &window, const Values &s)
{
    QMetaObject::invokeMethod(&window, "OtaVastaanData", Q_ARG(int16_t, s.v[0]),
                              Q_ARG(int16_t, s.v[1]), Q_ARG(int16_t, s.v[2]),
                              Q_ARG(int16_t, s.v[3]), Q_ARG(int16_t, s.v[4]),
                              Q_ARG(int16_t, s.v[5]));
}

// Mean CPU ms per sample of `samples` samples, each followed by the redraw
// of `drawn` (a pass of the event loop when null); t is the running sample
// number.
template <class Step>
double timeSamples(int samples, long &t, Step step, QCustomPlot *drawn = nullptr)
{
    const double start = threadCpuMs();
    for (int i = 0; i < samples; ++i) {
        step(wave(t++));
        if (!drawn) {
            QCoreApplication::processEvents();
            continue;
        }
        QEventLoop loop;
        QObject::connect(drawn, &QCustomPlot::afterReplot, &loop, &QEventLoop::quit);
        QTimer::singleShot(1000, &loop, &QEventLoop::quit);
        loop.exec();
        QCoreApplication::processEvents(); // the repaint that shows it
    }
    return (threadCpuMs() - start) / samples;
}

// The program: the window hidden while the plots fill (a hidden plot is not
// drawn), then shown and timed.
double programCost(bool plots, int window, int samples)
{
    auto w = startWindow(plots, window);
    long t = 0;
    for (; t <= window; ++t)
        feed(*w, wave(t));
    w->show();
    QCoreApplication::processEvents();
    auto *drawn = plots ? w->findChild<QCustomPlot *>("gyroPlot") : nullptr;
    timeSamples(5, t, [&](const Values &s) { feed(*w, s); }, drawn);
    return timeSamples(samples, t, [&](const Values &s) { feed(*w, s); }, drawn);
}

// Copy-everything: plots configured as the program's, fed by handing the whole
// buffers to the graphs and redrawing both plots completely at every sample.
class CopyAllPlots
{
public:
    explicit CopyAllPlots(int window) : window(window)
    {
        top.resize(1000, 780);
        const char *titles[2] = {"acc", "gyro"};
        const double ranges[2][2] = {{-150, 1100}, {-500, 500}};
        const QColor colours[3] = {QColor(0, 0, 255), QColor(0, 255, 0), QColor(255, 0, 0)};
        for (int p = 0; p < 2; ++p) {
            QCustomPlot *plot = plots[p] = new QCustomPlot(&top);
            plot->setGeometry(400, 23 + 375 * p, 600, 375);
            plot->setInteractions(QCP::iRangeDrag | QCP::iRangeZoom | QCP::iSelectAxes |
                                  QCP::iSelectLegend | QCP::iSelectPlottables | QCP::iSelectOther);
            plot->xAxis->setRange(0, 100);
            plot->yAxis->setRange(ranges[p][0], ranges[p][1]);
            plot->axisRect()->setupFullAxesBox(false);
            plot->plotLayout()->insertRow(0);
            plot->plotLayout()->addElement(0, 0, new QCPTextElement(plot, titles[p]));
            plot->xAxis->setLabel("Time");
            plot->yAxis->setLabel("Magnitude");
            plot->legend->setVisible(true);
            QFont legendFont = top.font();
            legendFont.setPointSize(10);
            plot->legend->setFont(legendFont);
            const QPen grid(QColor(0, 0, 0), 1, Qt::DotLine);
            plot->xAxis->grid()->setPen(grid);
            plot->yAxis->grid()->setPen(grid);
            for (const QColor &colour : colours)
                plot->addGraph()->setPen(QPen(colour));
            plot->setBackground(QColor(240, 235, 226));
        }
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
            plot->xAxis->setRange(count - window, count * 1.2);
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
    // The program's own diagnostics would break up the table.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &msg) {
        if (type >= QtCriticalMsg)
            std::fprintf(stderr, "%s\n", qPrintable(msg));
    });
    QApplication app(argc, argv);
    const int samples = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;

    std::printf("Live plots, both plots, CPU ms per sample (platform %s, %d samples a run)\n",
                qPrintable(QGuiApplication::platformName()), samples);
    std::printf("%8s %9s %9s %9s %10s %7s\n", "window", "program", "displays", "plots", "copy-all",
                "ratio");
    for (int window : {100, 1000, 10000, 100000}) {
        const double program = programCost(true, window, samples);
        const double displays = programCost(false, window, samples);
        // The copy-all way takes tens of milliseconds a sample at large windows.
        const double copyAll =
            copyAllCost(window, window >= 100000 ? std::max(1, samples / 10) : samples);
        const double plots = program - displays;
        std::printf("%8d %9.3f %9.3f %9.3f %10.3f %6.1fx\n", window, program, displays, plots,
                    copyAll, copyAll / plots);
        std::fflush(stdout);
    }
    std::printf("program: the window's sample slot with plots; displays: the same without plots;\n"
                "plots = program - displays; ratio = copy-all / plots.\n");

    // Memory: the program's window hidden (nothing is drawn), filled to
    // 100 000 points, then fed ten times as many samples again.
    auto w = startWindow(true, 100000);
    long t = 0;
    for (; t <= 100000; ++t)
        feed(*w, wave(t));
    long kib[3] = {residentKiB(), 0, 0};
    for (int round = 1; round <= 2; ++round) {
        for (const long end = t + 1000000; t < end; ++t)
            feed(*w, wave(t));
        kib[round] = residentKiB();
    }
    std::printf("Resident memory at window 100 000: %ld KiB when full, %ld KiB after a further "
                "million samples, %ld KiB after another million.\n",
                kib[0], kib[1], kib[2]);
    return 0;
}
