#pragma once

#include "sample.h"

#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QSet>
#include <QString>

#include <functional>

// The session file of one Start to Stop while rows are logged: how and when
// the recording was made, the log files its rows went to, when its rows
// arrived and what happened on the way, as JSON Lines (the format is written
// down in docs/session-format.md; SessionReader reads it). Each line is
// appended and flushed as it happens, so a crash loses nothing written
// before it.
//
// Times are those of the steady clock (steadyNow()): `t_ms` counts from the
// first row's arrival, which is the session's start. Lines that follow
// rows say when the last of them arrived (`last_row_ms`), so a reader
// places every row at its arrival, not when it was read or written.
class Session
{
public:
    // The settings the session was recorded with, as the first line keeps
    // them. A framing byte or slot that is off is -1 (sensor::none).
    struct Settings {
        int dataBytes = 0;
        int start1 = -1, start2 = -1, end1 = -1, end2 = -1;
        int slot1 = sensor::none, slot2 = sensor::none;
        int sensor1Bytes = 0, sensor2Bytes = 0;
        int rowsPerFile = 0;
        QString logDir;
        bool initMessage = false;
    };
    // What the first line tells of the session.
    struct Origin {
        QDateTime start;      // the first row's arrival, local time
        SteadyNs startNs = 0; // the same moment on the steady clock
        Settings settings;
        QString device;
        bool testMode = false;
        int intervalMs = 0;
    };

    // The calibration a session records from its folder (see begin).
    static constexpr char calibrationFile[] = "calibration.json";

    // Begins the session: creates its file in `dir`, named after the start
    // (with _2, _3, ... when that name is taken), and writes the first line
    // and the first `file` line in one write: the first row is in the log
    // file at `path`, from byte `offset`, with row index `index`. The first
    // line keeps the content of calibrationFile in `dir` under "calibration"
    // when that file holds a JSON object (the session keeps describing its
    // values when the file changes later); nothing else is checked there.
    // False with *error when the file cannot be created; nothing is written
    // then.
    bool begin(const QString &dir, const Origin &origin, const QString &path, qint64 offset,
               int index, QString *error);
    bool isActive() const { return file.isOpen(); }
    QString fileName() const { return file.fileName(); }
    // Rows of the session logged so far (the first counts from begin()).
    long long rows() const { return count; }

    // A row of the session was logged; it arrived at `arrival`. The first
    // row after a gap (the receiver reopened, the source switched, logging
    // on again or resumed) also gets a mark, so that its time is kept; so do
    // the rows on both sides of a pause longer than `pauseNs` (the receiver
    // silent). A reader spreads the rows between two lines evenly between
    // their arrivals: where that would put a row further than `smearNs` from
    // its own arrival (the rows came unevenly), the row before it is marked,
    // so every row read back lies within smearNs (and the file's millisecond)
    // of when it arrived, with marks only where arrivals bend.
    void rowLogged(SteadyNs arrival);
    static constexpr SteadyNs pauseNs = 100'000'000;
    static constexpr SteadyNs smearNs = 10'000'000;
    // The session's rows go on in the log file at `path` (relative to the
    // working directory or absolute), from byte `offset`, the first of them
    // with row index `index`.
    void logFile(const QString &path, qint64 offset, int index);
    void mark();
    // An event with one further key and its text (none when key is null).
    void note(const char *event, const char *key = nullptr, const QString &value = QString());
    void datalog(bool on);
    // A note of the user: the moment `at` it was asked for, with its text
    // (empty for none). It is written once its text is complete, so later
    // than its moment, which its own key `at_ms` keeps: clamped to the
    // session, not before its start nor after now. Returns at_ms; -1, with
    // nothing written, when no session is active.
    qint64 addNote(SteadyNs at, const QString &text);
    // logResumed: rows are written again after `lost` rows were lost.
    void logResumed(long long lost);
    // Writes the totals and closes the file.
    void end(long long frames, long long strayBytes);

    // Called with each line written but the marks (its event and the line,
    // without its line feed): for those who pass the session on.
    void setListener(std::function<void(const char *event, const QByteArray &line)> listener)
    {
        heard = std::move(listener);
    }

private:
    class Line;
    // A line that begins with the time, the rows and the event.
    Line event(const char *kind) const;
    Line fileLine(const QString &path, qint64 offset, int index);
    void write(const char *kind, const Line &line);
    // After these events, the next row's arrival is marked.
    void gap() { anchorNext = true; }
    // A line has placed the rows so far: the evenly spread rows after it
    // start from the last one's arrival.
    void anchor();

    QFile file;
    SteadyNs startNs = 0;
    long long count = 0;
    SteadyNs lastArrival = 0;
    bool anchorNext = false;
    long long anchored = 0;  // the rows whose last one a line has placed
    SteadyNs anchoredNs = 0; // that row's arrival
    // The slopes (ns per row) from that row that keep every row since within
    // smearNs of its arrival.
    double lowestSlope = 0, highestSlope = 0;
    QSet<QString> files; // the log files written to (one may be started twice in a second)
    std::function<void(const char *, const QByteArray &)> heard;
};
