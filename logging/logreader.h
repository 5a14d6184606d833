#pragma once

#include <QString>

#include <cstdint>
#include <vector>

class QIODevice;

// The rows of a log file as the Datalogger writes it, read in order from a
// device, one chunk of 64 KiB at a time (the only buffer it holds).
//
// The rules: the header line first, then rows of seven decimal integers (no
// sign but a leading "-", no leading zeros) "index,accX,accY,accZ,gyroX,
// gyroY,gyroZ", with index 0..2147483647, accelerometer values -8192..8191
// and gyroscope values -32768..32767; the header line may recur anywhere
// below. A line may end in CR LF (a copy saved on Windows). Empty lines at
// the end are passed over (an editor or a spreadsheet adds one). A last line
// without its line feed was cut short (the program killed while writing
// it): when it is the start of a line the program writes, it is left out and
// note() says so. Any other line is refused, and error() names the file, the
// line and the rule it breaks.
class LogReader
{
public:
    static constexpr int valueCount = 6;
    struct Row {
        std::int32_t index;
        std::int16_t values[valueCount];
    };

    // Reads from the device's position, where line number `firstLine`
    // begins; only at line 1 must the header come first and a file without
    // any line is refused. `name` stands for the file in messages.
    LogReader(QIODevice &device, const QString &name, qint64 firstLine = 1);
    ~LogReader();
    LogReader(const LogReader &) = delete;
    LogReader &operator=(const LogReader &) = delete;

    // The next row: true with *row filled; false at the end of the file or
    // at a refused line (error() is then not empty).
    bool next(Row *row);
    // "NAME:LINE: what is wrong", or "NAME: reason" when the device failed.
    const QString &error() const { return problem; }
    // "NAME:LINE: the last line was cut short (it has no line end) and is
    // left out"; empty unless that happened.
    const QString &note() const { return cutNote; }
    // The number of the line read last, and the byte after it.
    qint64 line() const { return lineNumber; }
    qint64 position() const { return base + (p - buffer.data()); }

private:
    enum class Line { Header, Row, Refused };
    Line take(const char *first, const char *last, Row *row);
    bool refuse(const QString &what);
    // Refuses the first of the empty lines that another line follows.
    bool refuseBlank();

    QIODevice &device;
    const QString name;
    const bool atStart;
    std::vector<char> buffer;
    const char *p = nullptr, *end = nullptr; // the unread part of buffer
    qint64 base;                             // the device's byte at buffer[0]
    bool drained = false;                    // the device has nothing more
    qint64 lineNumber;
    qint64 blankAt = 0; // the first of the empty lines read last, if any
    QString problem, cutNote;
};
