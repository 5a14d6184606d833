#pragma once

#include <QString>

#include <array>
#include <cstdint>
#include <vector>

class QIODevice;

// A log file read back: the six values of every row, keyed by the row's
// position in the file (0, 1, 2, ... across the whole file, also across the
// header lines that a file appended to by a second start holds).
//
// Only a file as the Datalogger writes it is accepted: the header line first,
// then rows of seven decimal integers (no sign but a leading "-", no leading
// zeros) "index,accX,accY,accZ,gyroX,gyroY,gyroZ", with index 0..2147483647,
// accelerometer values -8192..8191 and gyroscope values -32768..32767; the
// header line may recur anywhere below. Any other file is refused as a whole
// with a message naming the file, the first line that breaks these rules and
// the rule it breaks.
//
// Reading streams: beside the columns it holds one read buffer of 64 KiB.
class Recording
{
public:
    enum Column { AccX, AccY, AccZ, GyroX, GyroY, GyroZ };
    static constexpr int columnCount = 6;

    // Replaces the rows with those of the file at path. On refusal, or when
    // the file cannot be read, the recording is left empty, *error reads
    // "PATH:LINE: what is wrong" (or "PATH: reason") and false is returned.
    bool read(const QString &path, QString *error);
    // The same from an open device; `name` stands for the file in messages.
    bool read(QIODevice &device, const QString &name, QString *error);

    std::int64_t rows() const { return std::int64_t(columns[0].size()); }
    const std::vector<std::int16_t> &column(int c) const { return columns[size_t(c)]; }

private:
    std::array<std::vector<std::int16_t>, columnCount> columns;
};
