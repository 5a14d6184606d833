// Rows per second through Datalogger::Log, which hands every row to the system
// before it returns, beside a plain QFile + QTextStream loop that writes and
// flushes the same rows, in the same run. At the fastest read interval the
// program logs fewer than 70 rows per second, so the logger must be far from
// being what holds a timer tick back. Then what the session file costs: it
// writes no line per row, only a time mark twice a second (and events), so
// its share per row at the line's pace is a fraction of a mark.

#include "datalogger.h"
#include "session.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <cstdio>

namespace
{

constexpr int rowsPerRun = 200000;
constexpr int runs = 5;
constexpr int newfileLines = 50000; // the options' default
constexpr double goalRate = 50000;
constexpr double goalRatio = 0.8;

// Sample i: six values spread over the int16 range, signs mixed.
int value(int i, int axis)
{
    return (i * (37 + 11 * axis)) % 65536 - 32768;
}

double rate(qint64 nsecs)
{
    return rowsPerRun * 1e9 / double(nsecs);
}

double runLogger(const QString &dir)
{
    Datalogger logger;
    logger.ReceiveFilename(dir);
    logger.ReceiveNewfileIndex(newfileLines);
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < rowsPerRun; ++i)
        logger.Log(value(i, 0), value(i, 1), value(i, 2), value(i, 3), value(i, 4), value(i, 5));
    return rate(timer.nsecsElapsed());
}

double runPlain(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::Append | QIODevice::Text))
        return 0;
    QTextStream out(&file);
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < rowsPerRun; ++i) {
        out << i % newfileLines;
        for (int axis = 0; axis < 6; ++axis)
            out << ',' << value(i, axis);
        out << '\n';
        out.flush();
    }
    return rate(timer.nsecsElapsed());
}

// Data rows (lines but the headers) in all files of dir.
qint64 rowsOnDisk(const QString &dir)
{
    qint64 rows = 0;
    for (const QFileInfo &info : QDir(dir).entryInfoList(QDir::Files)) {
        QFile f(info.filePath());
        if (!f.open(QIODevice::ReadOnly))
            return -1;
        while (!f.atEnd())
            rows += f.readLine().startsWith("indeksi,") ? 0 : 1;
    }
    return rows;
}

const char *verdict(bool met)
{
    return met ? "met" : "NOT MET";
}

} // namespace

int main()
{
    QTemporaryDir tmp;
    if (!tmp.isValid()) {
        std::fprintf(stderr, "no temporary directory\n");
        return 1;
    }
    double bestLog = 0, bestPlain = 0;
    bool allOnDisk = true;
    for (int run = 0; run < runs; ++run) {
        const QString dir = tmp.filePath(QStringLiteral("log%1").arg(run));
        QDir().mkpath(dir);
        // Alternate the order so that neither side always runs on a warmer cache.
        const bool logFirst = run % 2 == 0;
        double plain = logFirst ? 0 : runPlain(tmp.filePath(QStringLiteral("plain%1").arg(run)));
        const double log = runLogger(dir);
        if (logFirst)
            plain = runPlain(tmp.filePath(QStringLiteral("plain%1").arg(run)));
        allOnDisk = allOnDisk && rowsOnDisk(dir) == rowsPerRun;
        bestLog = std::max(bestLog, log);
        bestPlain = std::max(bestPlain, plain);
    }
    const double ratio = bestPlain > 0 ? bestLog / bestPlain : 0;

    std::printf("Data logger: %d rows per run, best of %d runs, in %s (removed at exit)\n",
                rowsPerRun, runs, qPrintable(tmp.path()));
    std::printf("  Log, each row written through:      %9.0f rows/s  goal >= %.0f: %s\n", bestLog,
                goalRate, verdict(bestLog >= goalRate));
    std::printf("  plain QFile + QTextStream loop,\n"
                "  flushed after each row:             %9.0f rows/s\n",
                bestPlain);
    std::printf("  ratio Log / plain loop:             %9.2f         goal >= %.2f: %s\n", ratio,
                goalRatio, verdict(ratio >= goalRatio));
    std::printf("  every logged row read back from disk: %s\n", allOnDisk ? "yes" : "NO");

    // The session file: marks written as the acquisition writes them.
    Session session;
    Session::Origin origin;
    origin.start = QDateTime::currentDateTime();
    origin.startNs = steadyNow();
    QString error;
    if (!session.begin(tmp.path(), origin, tmp.filePath("log.txt"), 0, 0, &error)) {
        std::printf("  session file: %s\n", qPrintable(error));
        return 1;
    }
    constexpr int marks = 20000;
    QElapsedTimer clock;
    clock.start();
    for (int m = 0; m < marks; ++m)
        session.mark();
    const double markUs = double(clock.nsecsElapsed()) / 1000 / marks;
    // Each row tells the session when it arrived.
    constexpr int rows = 1000000;
    clock.start();
    for (int r = 0; r < rows; ++r)
        session.rowLogged(origin.startNs + r);
    const double rowNs = double(clock.nsecsElapsed()) / rows;
    session.end(0, 0);
    // Two marks a second whatever the rate, and a few nanoseconds per row.
    const double share = markUs * 2 / 1e6 * 100;
    std::printf("  session file, one time mark:        %9.2f us\n"
                "  two a second, as a share of a core: %9.4f %%     goal <= 0.01 %%: %s\n"
                "  per row logged:                     %9.2f ns\n",
                markUs, share, verdict(share <= 0.01), rowNs);
    return allOnDisk ? 0 : 1;
}
