// Viewing a long recording: a log file of 1 000 000 rows, written by the
// program's own logger (the test mode's waves), then
//
//  - export: the built program's `--view FILE --export out.png`, wall time
//    and peak resident memory (the child's, from wait4), against
//    `awk -F, '{s+=$2} END {print s}' FILE` reading the same file; the best
//    of three runs each;
//  - redraw: the viewer window shown (1000 x 780), one plot redrawn after a
//    drag step and after a wheel-zoom step, with all 1 000 000 rows per curve
//    in view at first; mean wall time over many steps.
//
//   bench_viewer [rows]     (default 1000000)

#include "datalogger.h"
#include "recordingviewer.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <qcustomplot.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

extern char **environ;

namespace
{

struct Run {
    double seconds = 1e9;
    long maxRssKiB = 0;
    int status = -1;
};

// Runs argv with its output thrown away; the best wall time of `times` runs
// and the largest peak resident memory among them.
Run best(const QStringList &arguments, int times)
{
    Run result;
    for (int i = 0; i < times; ++i) {
        std::vector<QByteArray> bytes;
        for (const QString &a : arguments)
            bytes.push_back(a.toLocal8Bit());
        std::vector<char *> argv;
        for (QByteArray &b : bytes)
            argv.push_back(b.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        QElapsedTimer wall;
        wall.start();
        pid_t pid = 0;
        if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
            qFatal("cannot start %s", argv[0]);
        int status = 0;
        rusage usage{};
        wait4(pid, &status, 0, &usage);
        const double seconds = wall.nsecsElapsed() / 1e9;
        posix_spawn_file_actions_destroy(&actions);
        result.seconds = std::min(result.seconds, seconds);
        result.maxRssKiB = std::max(result.maxRssKiB, usage.ru_maxrss);
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    return result;
}

// Mean milliseconds of `steps` redraws of plot, each after step() moved its axes.
template <class Step> double redrawMs(QCustomPlot *plot, int steps, Step step)
{
    QElapsedTimer wall;
    wall.start();
    for (int i = 0; i < steps; ++i) {
        step(i);
        plot->replot(QCustomPlot::rpImmediateRefresh);
    }
    return wall.nsecsElapsed() / 1e6 / steps;
}

const char *verdict(bool met)
{
    return met ? "met" : "NOT MET";
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const long rows = argc > 1 ? std::max(1L, std::atol(argv[1])) : 1000000;
    QTemporaryDir dir;
    {
        Datalogger logger;
        logger.ReceiveFilename(dir.path());
        logger.ReceiveNewfileIndex(0);
        for (long t = 0; t < rows; ++t) {
            const double x = double(t);
            logger.Log(int(10 * std::sin(0.2 * x)), int(5 * std::cos(0.1 * x)),
                       int(15 * std::sin(0.05 * x)), int(20 * std::sin(0.2 * x)),
                       int(55 * std::cos(0.3 * x)), int(150 * std::sin(0.05 * x)));
        }
    }
    const QString file = QDir(dir.path()).filePath(QDir(dir.path()).entryList(QDir::Files).at(0));
    std::printf("Recording of %ld rows, %.1f MB, written by the program's logger\n", rows,
                QFileInfo(file).size() / 1e6);
    std::fflush(stdout);

    const Run program = best({MM_BINARY, "--view", file, "--export", dir.filePath("out.png")}, 3);
    const Run awk = best({"awk", "-F,", "{s+=$2} END {print s}", file}, 3);
    if (program.status != 0)
        std::printf("the program's export failed with status %d\n", program.status);
    const bool fast =
        program.status == 0 && program.seconds <= 2 && program.seconds <= 3 * awk.seconds;
    const bool small = program.maxRssKiB <= 150 * 1024;
    std::printf("export --view --export out.png: %.3f s (goal: at most 2 s and 3x awk's %.3f s, "
                "here %.1fx) %s\n",
                program.seconds, awk.seconds, program.seconds / awk.seconds, verdict(fast));
    std::printf("export peak resident memory: %.1f MB (goal: at most 150 MB) %s\n",
                program.maxRssKiB / 1024.0, verdict(small));
    std::fflush(stdout);

    QString error;
    std::unique_ptr<RecordingViewer> viewer(RecordingViewer::open(file, nullptr, &error));
    if (!viewer)
        qFatal("%s", qPrintable(error));
    viewer->resize(1000, 780);
    viewer->show();
    QCoreApplication::processEvents();
    auto *plot = viewer->findChild<QCustomPlot *>("gyroPlot");
    const QCPRange all = plot->xAxis->range();
    const int steps = 200;
    // A drag step moves the view by a few pixels, a wheel step zooms by 15 %.
    const double drag = redrawMs(plot, steps, [&](int i) {
        const double shift = (i % 20) * all.size() / 200;
        plot->xAxis->setRange(all.lower + shift, all.upper + shift);
    });
    plot->xAxis->setRange(all);
    const double zoom = redrawMs(plot, steps, [&](int i) {
        plot->xAxis->scaleRange(i % 20 < 10 ? 0.85 : 1 / 0.85);
        plot->yAxis->scaleRange(i % 20 < 10 ? 0.85 : 1 / 0.85);
    });
    const bool quick = std::max(drag, zoom) <= 20;
    std::printf("redraw of one plot, %ld rows per curve, %dx%d pixels: drag step %.2f ms, "
                "zoom step %.2f ms (goal: at most 20 ms) %s\n",
                rows, plot->width(), plot->height(), drag, zoom, verdict(quick));
    std::fflush(stdout);
    return fast && small && quick ? 0 : 1;
}
