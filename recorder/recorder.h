#pragma once

#include "acquisition.h"
#include "noteserver.h"
#include "outputs.h"
#include "recorderoptions.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <cstdio>

// Records without a window: the acquisition of the options given, logging
// every sample as the window does (the same log files, session file and
// reconnection), reading the port as bytes arrive, and sending every sample
// to the live outputs asked for, until stop(). What it
// has to say goes to `out`: on a terminal, one status line rewritten in
// place with the events printed above it; elsewhere (a service's journal, a
// pipe) one line per event and a summary line every minute.
//
// Notes (see Acquisition::addNote) come from `motionmonitor --note` through
// a NoteServer, from SIGUSR1 (runRecorder connects it), and, when standard
// input is a terminal, from each line typed there.
class Recorder : public QObject
{
    Q_OBJECT
public:
    Recorder(const RecorderOptions &options, std::FILE *out, bool terminal,
             QObject *parent = nullptr);

    // Starts acquiring, waiting for a device that is not there yet, and
    // takes notes; false, with the reason said, when it cannot acquire (a
    // note server that cannot listen is said, and the recording goes on).
    bool start();
    // A note asked for at `at`: see Acquisition::addNote.
    bool addNote(SteadyNs at, const QString &text, QString *said = nullptr);
    // Ends the recording: takes every frame waiting on the port, closes the
    // session file with its totals, says what was recorded and emits
    // finished(). Only the first call acts.
    void stop();

signals:
    void finished();

private:
    void say(const QString &line);
    // The link's state, the log file, the outputs' states, elapsed time,
    // rate, rows and stray bytes.
    QString statusText() const;
    void showStatus();
    // Stops once the duration asked for is over; a timer runs for 24 days
    // at most, so a longer one is waited for in steps.
    void stopWhenDue();
    // Each line typed on the terminal that is standard input is a note.
    void takeTypedNotes();

    RecorderOptions given;
    std::FILE *out;
    bool terminal;
    Acquisition acquisition;
    Outputs outputs;
    QElapsedTimer elapsed;
    QTimer summaries;
    NoteServer notes;
    QByteArray typed;    // on the terminal, not yet ended by a line feed
    bool opened = false; // the port has been open since the start
    bool stopped = false;
};

// `motionmonitor --record ...`, on a QCoreApplication of its own, so that
// it needs no display. Returns the exit status: 0 once stopped (a signal,
// the duration's end), 1 when acquisition cannot start, 2 for options it
// refuses. `version` is what --version prints.
int runRecorder(int argc, char **argv, const QString &version);
