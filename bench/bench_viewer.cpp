// Viewing a long session: 2 500 000 rows (ten hours at the line's pace) in
// 50 log files of 50 000 rows, written by the program's own logger and
// session file (the test mode's waves, a time mark every 34 rows; the
// session's clock runs while they are written, so its lines say seconds
// where the real ones say hours: the same lines, rows and files to read), then
//
//  - export: the built program's `--view SESSION --export out.png`, wall
//    time and peak resident memory (the child's, from wait4), against
//    `awk -F, '{s+=$2} END {print s}'` over the same log files; then
//    `--export out.csv`; the best of three runs each;
//  - the viewer window (1000 x 780) on the session, both plots redrawn after
//    a drag step and after a wheel-zoom step of the upper plot (the lower
//    follows, the statistics of the rows in view are updated), with all
//    rows in view at first; mean wall time over many steps.
//
//   bench_viewer [rows]     (default 2500000)

#include "datalogger.h"
#include "recordingviewer.h"
#include "samplesource.h"
#include "session.h"

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
        const double seconds = double(wall.nsecsElapsed()) / 1e9;
        posix_spawn_file_actions_destroy(&actions);
        result.seconds = std::min(result.seconds, seconds);
        result.maxRssKiB = std::max(result.maxRssKiB, usage.ru_maxrss);
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    return result;
}

// Writes the session into dir as the acquisition does: the session begins
// at the first row, each log file started is a `file` line, a time mark
// follows every 34 rows. Returns the session file.
QString writeSession(const QString &dir, long rows)
{
    Datalogger logger;
    Session session;
    Session::Origin origin;
    origin.start = QDateTime::currentDateTime();
    origin.startNs = steadyNow();
    origin.device = "/dev/ttyUSB0";
    origin.testMode = true;
    origin.intervalMs = 15;
    long written = 0;
    // Rows arrive at the line's pace, and files are named after their times.
    const auto arrival = [&] { return origin.startNs + SteadyNs(written) * 1000000000 / 68; };
    logger.setClock([&] { return origin.start.addMSecs(written * 1000 / 68); });
    logger.ReceiveFilename(dir);
    logger.ReceiveNewfileIndex(50000);
    QObject::connect(&logger, &Datalogger::fileStarted, [&](const QString &path, qint64 offset) {
        QString error;
        if (session.isActive())
            session.logFile(path, offset, 0);
        else if (!session.begin(dir, origin, path, offset, 0, &error))
            qFatal("%s", qPrintable(error));
    });
    for (; written < rows; ++written) {
        const Sample s = TestWaves::at(double(written));
        logger.Log(s.acc[0], s.acc[1], s.acc[2], s.gyro[0], s.gyro[1], s.gyro[2]);
        if (written > 0)
            session.rowLogged(arrival());
        if (written % 34 == 33)
            session.mark();
    }
    session.end(written, 0);
    return session.fileName();
}

// Mean milliseconds of `steps` redraws of both plots, each after step()
// moved the upper one's axes.
template <class Step> double redrawMs(const QList<QCustomPlot *> &plots, int steps, Step step)
{
    QElapsedTimer wall;
    wall.start();
    for (int i = 0; i < steps; ++i) {
        step(i);
        for (QCustomPlot *plot : plots)
            plot->replot(QCustomPlot::rpImmediateRefresh);
    }
    return double(wall.nsecsElapsed()) / 1e6 / steps;
}

const char *verdict(bool met)
{
    return met ? "met" : "NOT MET";
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const long rows = argc > 1 ? std::max(1L, std::atol(argv[1])) : 2500000;
    QTemporaryDir dir;
    const QString session = writeSession(dir.path(), rows);
    QStringList logs;
    qint64 bytes = 0;
    for (const QString &name : QDir(dir.path()).entryList({"*.txt"}, QDir::Files, QDir::Name)) {
        logs << dir.filePath(name);
        bytes += QFileInfo(logs.last()).size();
    }
    std::printf("Session of %ld rows in %lld log files, %.1f MB, written by the program's logger "
                "and session file\n",
                rows, static_cast<long long>(logs.size()), double(bytes) / 1e6);
    std::fflush(stdout);

    const Run image = best({MM_BINARY, "--view", session, "--export", dir.filePath("out.png")}, 3);
    const Run awk = best(QStringList{"awk", "-F,", "{s+=$2} END {print s}"} + logs, 3);
    const Run csv = best({MM_BINARY, "--view", session, "--export", dir.filePath("out.csv")}, 3);
    if (image.status != 0 || csv.status != 0)
        std::printf("the program's export failed with status %d (image), %d (CSV)\n", image.status,
                    csv.status);
    const bool fast = image.status == 0 && image.seconds <= 2 && image.seconds <= 3 * awk.seconds;
    const bool csvFast = csv.status == 0 && csv.seconds <= 3;
    const long rssKiB = std::max(image.maxRssKiB, csv.maxRssKiB);
    const bool small = rssKiB <= 200 * 1024;
    std::printf("--view SESSION --export out.png: %.3f s (goal: at most 2 s and 3x awk's %.3f s, "
                "here %.1fx) %s\n",
                image.seconds, awk.seconds, image.seconds / awk.seconds, verdict(fast));
    std::printf("--view SESSION --export out.csv: %.3f s, %.1f MB written (goal: at most 3 s) %s\n",
                csv.seconds, double(QFileInfo(dir.filePath("out.csv")).size()) / 1e6,
                verdict(csvFast));
    std::printf("peak resident memory: %.1f MB for the image, %.1f MB for the CSV (goal: at most "
                "200 MB) %s\n",
                double(image.maxRssKiB) / 1024, double(csv.maxRssKiB) / 1024, verdict(small));
    std::fflush(stdout);

    QString error;
    std::unique_ptr<RecordingViewer> viewer(RecordingViewer::open(session, nullptr, &error));
    if (!viewer)
        qFatal("%s", qPrintable(error));
    viewer->resize(1000, 780);
    viewer->show();
    QCoreApplication::processEvents();
    auto *acc = viewer->findChild<QCustomPlot *>("accPlot");
    const QList<QCustomPlot *> plots{acc, viewer->findChild<QCustomPlot *>("gyroPlot")};
    const QCPRange all = acc->xAxis->range();
    const int steps = 200;
    // A drag step moves the view by a few pixels, a wheel step zooms by 15 %.
    const double drag = redrawMs(plots, steps, [&](int i) {
        const double shift = (i % 20) * all.size() / 200;
        acc->xAxis->setRange(all.lower + shift, all.upper + shift);
    });
    acc->xAxis->setRange(all);
    const double zoom = redrawMs(plots, steps, [&](int i) {
        acc->xAxis->scaleRange(i % 20 < 10 ? 0.85 : 1 / 0.85);
        acc->yAxis->scaleRange(i % 20 < 10 ? 0.85 : 1 / 0.85);
    });
    const bool quick = std::max(drag, zoom) <= 20;
    std::printf("viewer, both plots %dx%d with the statistics, %ld rows: drag step %.2f ms, zoom "
                "step %.2f ms (goal: at most 20 ms) %s\n",
                acc->width(), acc->height(), rows, drag, zoom, verdict(quick));
    std::fflush(stdout);
    return fast && csvFast && small && quick ? 0 : 1;
}
