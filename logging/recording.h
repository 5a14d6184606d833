#pragma once

#include "timeline.h"

#include <QString>

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

class QIODevice;

// A recording read back: the six values of every row, and for a session its
// timeline.
//
// A log file read on its own keys its rows by their position in the file
// (0, 1, 2, ... across the whole file, also across the header lines that a
// file appended to by a second start holds); see LogReader for the rules a
// log file must keep. A session (see SessionReader) holds its own rows of
// all its log files in order, with their times.
class Recording
{
public:
    enum Column { AccX, AccY, AccZ, GyroX, GyroY, GyroZ };
    static constexpr int columnCount = 6;

    Recording();
    ~Recording();

    // What a user opens as a recording: a session file; a log file that a
    // session file in the same folder names (the whole session then); any
    // other log file on its own, as also one that several sessions name or
    // whose session is refused (the note says so). False with *error as
    // read() or SessionReader::read() give it.
    bool open(const QString &path, QString *error);
    // Replaces the rows with those of the log file at path. On refusal, or
    // when the file cannot be read, the recording is left empty, *error
    // reads "PATH:LINE: what is wrong" (or "PATH: reason") and false is
    // returned.
    bool read(const QString &path, QString *error);
    // The same from an open device; `name` stands for the file in messages.
    bool read(QIODevice &device, const QString &name, QString *error);

    std::int64_t rows() const { return std::int64_t(columns[0].size()); }
    const std::vector<std::int16_t> &column(int c) const { return columns[size_t(c)]; }
    // A session's timeline; null for a log file read on its own.
    const Timeline *timeline() const { return time.get(); }
    // What was left out of what the files hold (a line cut short), one line
    // each; empty when nothing was.
    const QString &note() const { return notes; }

    // How writeCsv writes a column: under `name`, each count as it is or,
    // with a scale other than 0, as (count - offset) * scale with `decimals`
    // decimals.
    struct CsvColumn {
        QString name;
        double offset = 0, scale = 0;
        int decimals = 0;
    };
    using CsvColumns = std::array<CsvColumn, columnCount>;
    // The counts as they are, named acc_x, acc_y, acc_z, gyro_x, gyro_y, gyro_z.
    static CsvColumns countColumns();

    // Writes the rows as CSV, a header line first: "time_s,acc_x,...,gyro_z"
    // with the time in seconds from the start for a session, "row,acc_x,..."
    // with the row's position otherwise (the columns as `format` says; a
    // value takes at most 38 characters).
    // False with *error naming the file and the reason when it cannot be
    // written.
    bool writeCsv(const QString &path, QString *error,
                  const CsvColumns &format = countColumns()) const;

    // Writes a session's notes of the user (Timeline::notes) as CSV:
    // "time_s,text", then one line per note, the time in seconds from the
    // start, the text quoted where it holds a comma, a quote or a line end
    // (RFC 4180). A recording without a timeline has no notes: only the
    // header. False with *error as writeCsv() gives it.
    bool writeNotesCsv(const QString &path, QString *error) const;

private:
    friend class SessionReader;
    void clear();

    std::array<std::vector<std::int16_t>, columnCount> columns;
    std::unique_ptr<Timeline> time;
    QString notes;
};
