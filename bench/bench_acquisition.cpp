// The program at the receiver's line rate: the simulator sends 14-byte frames
// at the pace of a 9600-baud line (about 68 frames per second) on a
// pseudo-terminal, and the main window, set up as a user sets it (wireless
// mode, plots on, "Datalog" checked), reads, shows, plots and logs them for a
// minute. At the default read interval of 42 ms and at 10 ms, each with a plot
// window of 100 points and of 100 000; the large window is filled before the
// timed part, by samples handed to the window as the link hands them. Prints
// per run: frames sent, samples logged, lost and duplicated (the log read back
// against what was sent), frames still waiting when the simulator finished
// (when its next frame would have been due), and the program's CPU time as a
// share of one core over the streaming.
//
//   bench_acquisition [seconds [interval [window]]]   (default 60; every run)
//
// The simulator runs in a thread of this process; its own CPU time is taken
// out of the process's. The window is shown on the platform Qt is given
// (./build.sh bench sets offscreen, where it paints into memory as it would
// for a screen; the goals are set for a virtual display, on which
// bench/compare_plotter.sh runs it).

#include "benchwindow.h"
#include "pseudoterminal.h"
#include "recording.h"
#include "recordingsource.h"
#include "sinesource.h"
#include "streamer.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <optional>
#include <sys/resource.h>
#include <thread>

namespace
{

using bench::child;

constexpr double lineRate = 9600.0 / 10 / 14; // 8N1: ten bits a byte
// The logger's files; the session file beside them is not one.
const QStringList logFiles{QStringLiteral("*.txt")};

double processCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double threadCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

// Wireless mode on `device`, plots on with `plotWindow` points (filled with
// samples), logging into `logDir`; then the read interval and "Datalog"
// checked, as a user sets them.
std::unique_ptr<MainWindow> startWindow(const QString &device, const QString &logDir,
                                        int plotWindow, int readIntervalMs)
{
    auto window = bench::startWindow([&](Options &o) {
        child<QRadioButton>(&o, "RealProgram")->setChecked(true);
        child<QCheckBox>(&o, "checkBox")->setChecked(true);
        child<QGroupBox>(&o, "groupBox_2")->setChecked(true);
        child<QLineEdit>(&o, "devicenameField")->setText(device);
        child<QLineEdit>(&o, "filenameField")->setText(logDir);
        child<QSpinBox>(&o, "AutoClearLines")->setValue(plotWindow);
    });
    window->show();
    // The simulator's own waves, so that the window looks as it will.
    nodesim::SineSource sine{FrameFormat()};
    for (int i = 0; i <= plotWindow; ++i) {
        const Sample s = sine.next();
        QMetaObject::invokeMethod(window.get(), "OtaVastaanData", Q_ARG(int16_t, s.acc[0]),
                                  Q_ARG(int16_t, s.acc[1]), Q_ARG(int16_t, s.acc[2]),
                                  Q_ARG(int16_t, s.gyro[0]), Q_ARG(int16_t, s.gyro[1]),
                                  Q_ARG(int16_t, s.gyro[2]));
    }
    QCoreApplication::processEvents();
    child<QSpinBox>(window.get(), "TaajuusSBox")->setValue(readIntervalMs);
    child<QCheckBox>(window.get(), "LogBox1")->setChecked(true);
    return window;
}

// Rows written so far, headers left out; each row is written whole.
long completeRows(const QString &dir)
{
    long rows = 0;
    for (const QString &name : QDir(dir).entryList(logFiles, QDir::Files)) {
        QFile file(QDir(dir).filePath(name));
        if (file.open(QIODevice::ReadOnly))
            rows += file.readAll().count('\n') - 1; // less the header
    }
    return rows;
}

struct Result {
    long sent = 0;
    long logged = 0;
    long lost = 0;
    long duplicated = 0;
    long waiting = 0;
    double cpuShare = 0;
    double cpuSeconds = 0;
    double seconds = 0;
};

// What the simulator saw at the moment its last frame was out, and the rows
// logged one read interval later.
struct LastFrame {
    std::atomic<bool> sent{false};
    double processCpu = 0;
    double simulatorCpu = 0;
    qint64 elapsedMs = 0;
    long logged = 0;
};

Result run(int plotWindow, int readIntervalMs, int seconds)
{
    QTemporaryDir logDir;
    nodesim::PseudoTerminal pty;
    auto window = startWindow(QString::fromStdString(pty.devicePath()), logDir.path(), plotWindow,
                              readIntervalMs);
    child<QPushButton>(window.get(), "Start_Button")->click();

    nodesim::StreamConfig config;
    config.rate = lineRate;
    config.count = static_cast<long>(lineRate * seconds);
    nodesim::SineSource sine(config.format);
    LastFrame last;
    QElapsedTimer wall;
    std::atomic<bool> stop{false};
    nodesim::StreamReport report;
    const double cpuAtStart = processCpuSeconds();
    wall.start();
    std::thread simulator([&] {
        nodesim::Streamer streamer(
            pty, config, [&] { return std::optional<Sample>(sine.next()); },
            [&](const std::string &event) {
                if (event.rfind("all ", 0) != 0)
                    return;
                last.processCpu = processCpuSeconds();
                last.simulatorCpu = threadCpuSeconds();
                last.elapsedMs = wall.elapsed();
                // Counted one read interval later: a frame may wait for the
                // next tick, but no longer.
                QMetaObject::invokeMethod(qApp, [&, readIntervalMs] {
                    QTimer::singleShot(readIntervalMs + 5, [&] {
                        last.logged = completeRows(logDir.path());
                        last.sent = true;
                    });
                });
            });
        report = streamer.run(stop);
    });

    // Runs the program until the simulator is done and the program has
    // caught up (or plainly will not).
    QEventLoop loop;
    QTimer poll;
    QElapsedTimer drain;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (!last.sent)
            return;
        if (!drain.isValid())
            drain.start();
        if (completeRows(logDir.path()) >= config.count || drain.elapsed() > 5000)
            loop.quit();
    });
    poll.start(100);
    loop.exec();
    child<QPushButton>(window.get(), "Stop_Button")->click();
    stop = true;
    simulator.join();

    Result r;
    r.sent = report.frames;
    r.waiting = report.frames - last.logged;
    r.seconds = last.elapsedMs / 1000.0;
    r.cpuSeconds = last.processCpu - cpuAtStart - last.simulatorCpu;
    r.cpuShare = r.cpuSeconds / r.seconds;

    // The log against the frames sent, in order: a row that is the next frame
    // matches; frames passed over are lost, rows that match nothing are
    // duplicates (or garbage).
    std::vector<Sample> rows;
    for (const QString &name : QDir(logDir.path()).entryList(logFiles, QDir::Files, QDir::Name)) {
        Recording recording;
        QString error;
        if (!recording.read(QDir(logDir.path()).filePath(name), &error))
            std::fprintf(stderr, "%s\n", qPrintable(error));
        nodesim::RecordingSource read(recording, false);
        while (const auto sample = read.next())
            rows.push_back(*sample);
    }
    nodesim::SineSource replay(config.format);
    std::vector<Sample> sent;
    for (long i = 0; i < r.sent; ++i)
        sent.push_back(replay.next());
    size_t next = 0;
    long matched = 0;
    for (const auto &row : rows) {
        size_t k = next;
        while (k < sent.size() && !(sent[k] == row))
            ++k;
        if (k < sent.size()) {
            ++matched;
            next = k + 1;
        }
    }
    r.logged = static_cast<long>(rows.size());
    r.lost = r.sent - matched;
    r.duplicated = r.logged - matched;
    return r;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 60;
    // Runs of that read interval and window only, when given.
    const int onlyInterval = argc > 2 ? std::atoi(argv[2]) : 0;
    const int onlyWindow = argc > 3 ? std::atoi(argv[3]) : 0;
    std::printf("nodesim at %.1f frames/s of 14 bytes (9600 baud) for %d s into the program; "
                "plots on, \"Datalog\" on; platform %s\n",
                lineRate, seconds, qPrintable(QApplication::platformName()));
    // The goals for the CPU share: tighter at the default read interval.
    struct Run {
        int interval, plotWindow;
        double goal;
    };
    bool met = true;
    for (const auto &[interval, plotWindow, goal] :
         {Run{42, 100, 0.05}, Run{42, 100000, 0.15}, Run{10, 100, 0.10}, Run{10, 100000, 0.25}}) {
        if ((onlyInterval && interval != onlyInterval) || (onlyWindow && plotWindow != onlyWindow))
            continue;
        const Result r = run(plotWindow, interval, seconds);
        const bool ok = r.lost == 0 && r.duplicated == 0 && r.waiting <= 1 && r.cpuShare <= goal;
        met = met && ok;
        std::printf("interval %2d ms, window %6d: %ld frames sent, %ld logged, %ld lost, %ld "
                    "duplicated, %ld waiting one tick after the last (goal 0, 0, at most 1); "
                    "CPU %.1f%% of one core (%.2f s in %.1f s; goal at most %.0f%%) %s\n",
                    interval, plotWindow, r.sent, r.logged, r.lost, r.duplicated, r.waiting,
                    100 * r.cpuShare, r.cpuSeconds, r.seconds, 100 * goal, ok ? "met" : "NOT MET");
        std::fflush(stdout);
    }
    return met ? 0 : 1;
}
