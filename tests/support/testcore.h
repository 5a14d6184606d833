#pragma once
// Helpers of the tests that need no window: samples as the displays and the
// log show them, the rows of the log files in a folder, the working
// directory, and the receiver simulator run as a program.

#include "frameformat.h"
#include "pseudoterminal.h"
#include "recording.h"

#include <QDir>
#include <QProcess>
#include <QStringList>
#include <QTest>
#include <array>
#include <memory>

namespace mmtest
{

// Accelerometer X Y Z, gyroscope X Y Z: a sample as the displays show it.
using Values = std::array<int, 6>;
inline Values valuesOf(const Sample &s)
{
    return {s.acc[0], s.acc[1], s.acc[2], s.gyro[0], s.gyro[1], s.gyro[2]};
}

// Makes dir the working directory while it lives.
struct WorkingDirectory {
    const QString saved = QDir::currentPath();
    explicit WorkingDirectory(const QString &dir) { QDir::setCurrent(dir); }
    ~WorkingDirectory() { QDir::setCurrent(saved); }
};

// The rows of every log file in dir (files in name order, header lines left
// out), read as raw text; *files is the number of log files.
QStringList logRows(const QString &dir, int *files = nullptr);
// A row as the logger writes it.
QString logRow(int index, const Values &v);
// The rows that `count` of the simulator's sine samples in `format`, from
// sample `firstSample` on, become, indexed from `first`.
QStringList sineRows(int count, int first = 0, const FrameFormat &format = FrameFormat(),
                     int firstSample = 0);

// The CSV that `motionmonitor --view SESSION --export` writes (its header first), run in the
// root directory as a user elsewhere would; empty, with a warning, when it fails.
QStringList exportedCsv(const QString &session);
// The rows of each whole second of a CSV's time column (its first).
std::vector<int> rowsPerSecond(const QStringList &csv);
// The one session file in dir as the program reads it: its timeline, or null with a warning.
std::unique_ptr<Recording> readSession(const QString &dir);

// The frames of the simulator's sine samples first .. first + count - 1.
std::vector<uint8_t> sineFrames(int count, int first = 0);

// Bytes waiting on this process's descriptor of `device`; -1 when it has
// none open.
int queuedOn(const QString &device);
// Writes `bytes` to the receiver's end and waits until they wait on this
// process's end of the line.
bool arrive(nodesim::PseudoTerminal &pty, const std::vector<uint8_t> &bytes);

// The nodesim program, its device linked at `link`; ended with the object.
struct Nodesim {
    QProcess process;
    QString output;
    Nodesim(const QString &link, const QStringList &arguments);
    ~Nodesim();
    // How many times `text` occurs in its output so far.
    int said(const QString &text);
};

} // namespace mmtest

// Failure messages show the values.
template <> inline char *QTest::toString(const mmtest::Values &v)
{
    QByteArray text;
    for (int value : v)
        text += (text.isEmpty() ? "(" : ", ") + QByteArray::number(value);
    return qstrdup(text + ")");
}
