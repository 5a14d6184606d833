#pragma once

#include "linkwatch.h"
#include "optionset.h"
#include "sample.h"
#include "samplesource.h"
#include "session.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>

class Datalogger;
class QSocketNotifier;
class serialhandler;

// Acquisition, without a window: the receiver's serial link or the test
// mode's generator as the source of samples, the watch over the link, the
// logger and the session file, driven by start(), stop() and the ticks of
// timer(). The main window and the recorder both sit on it; everything runs
// in one thread.
//
// The road of a sample: each tick polls the source in use. The link's
// samples leave on the link's own SendData signal, generated ones on
// generated(); the acquisition itself logs every sample of either source
// while logging is on, no log file holds samples of both sources, and the
// session file (begun at the first row logged after Start, ended by Stop)
// says which rows are the session's and when they came.
//
// The link and the logger have their own message signals (SendText,
// NewFileCreated); message() carries the acquisition's own lines.
class Acquisition : public QObject
{
    Q_OBJECT
public:
    // The read interval the window starts with.
    static constexpr int defaultIntervalMs = 42;

    explicit Acquisition(QObject *parent = nullptr);
    // Ends a session that is still running.
    ~Acquisition() override;

    serialhandler *link() const { return serial.get(); }
    Datalogger *logger() const { return log.get(); }
    // Paces the ticks while acquiring. Its owner connects its timeout() to
    // tick() (the window does so through its own slot).
    QTimer *timer() const { return ticks; }

    // The options in force: the source (test mode or the receiver) and the
    // init message. A switch of source while logging starts a new log file
    // at the next sample; a switch back to the receiver drops what it sent
    // meanwhile, unread.
    void setOptions(const OptionSet &options);
    const OptionSet &options() const { return current; }
    // setOptions, and the link's and the logger's settings handed over as
    // the options dialog's signals hand them (for users without the dialog).
    void applyOptions(const OptionSet &options);
    // The test mode's time base; until set, the number of samples generated.
    void setTestTimeBase(std::function<double()> t) { waves.setTimeBase(std::move(t)); }

    // Start: opens the port in wireless mode, sends the init message when
    // asked for, then ticks every intervalMs. False, with the reason said,
    // when a step fails; a running acquisition then goes on as it was. A
    // logger that cannot write is said again. With waitForDevice, a device
    // that does not exist yet is waited for as a lost one is reopened.
    bool start(int intervalMs, bool waitForDevice = false);
    // Stop: takes every complete frame waiting on the port, closes it (in
    // either mode), stops the ticks and ends the session. Its line begins a
    // new page of the message log.
    void stop();
    bool isAcquiring() const { return ticks->isActive(); }
    // "Init Msg": sends the init message now, whatever the state.
    void sendInitMessage();
    // Whether the open port is also read as soon as bytes arrive, besides
    // at each tick, so that a line that holds little (a pseudo-terminal
    // holds about 4 kB) does not bound the rate by the read interval. Off
    // unless set; a port reopened after a loss is followed.
    void setReadOnArrival(bool on);
    // A note of the user, asked for at `at`, with its text (empty for
    // none): written into the running session (see Session::addNote) and
    // said as a message, which *said gets too. False when no session is
    // being written (no row logged since Start, "Datalog" off): the note is
    // then said as not recorded.
    bool addNote(SteadyNs at, const QString &text, QString *said = nullptr);
    // The running or the last session's file; empty before the first.
    QString sessionFile() const { return session.fileName(); }
    // The wall-clock time (nanoseconds since the Unix epoch) of a moment on
    // the steady clock, as this run of acquisition counts it: the system's
    // clock read once at Start, so that times never jump within a run.
    qint64 unixNs(SteadyNs t) const { return wallAtStart + (t - steadyAtStart); }

    // What the status bar shows while acquiring; counts are from the Start.
    struct Status {
        bool acquiring = false;
        bool testMode = false;
        bool lost = false; // the receiver is away and being reopened
        QString device;
        long long samplesPerSecond = 0;
        long long frames = 0;
        long long strayBytes = 0;
        QString logFile; // empty while no file is open
        int logRows = 0;
        QString logFailure; // why rows are not written; empty while they are
    };
    Status status() const;

public slots:
    void tick();
    // Whether samples are logged ("Datalog").
    void setLogging(bool on);

signals:
    // A line for the user; newPage: it begins a new page of the message log
    // (the window then clears the log first).
    void message(const QString &text, bool newPage);
    void generated(const Sample &sample);
    // Every sample of either source as it is taken (logged or not), with
    // when it reached the computer, in nanoseconds since the Unix epoch;
    // strictly rising within a run. Emitted before the sample's SendData or
    // generated() reaches the window.
    void taken(const Sample &sample, qint64 unixNs);
    // A poll of the source is over: the samples it took have been taken.
    void polled();
    // A line the session file got (`event` "session" for its first line),
    // but the time marks, without its line feed.
    void sessionLine(const char *event, const QByteArray &line);
    // The figures of status() have changed; about twice a second while
    // acquiring, and at Start and Stop.
    void statusChanged();

private:
    enum class Source { Port, Test };
    void take(const Sample &sample, Source source, SteadyNs arrival);
    // Polls the source in use, then says so.
    void poll();
    bool openPort(int intervalMs, bool waitForDevice);
    // Twice a second while acquiring: the link's warnings, reopening, and
    // the session's time mark.
    void watchLink();
    SampleSource &source();
    void beginSession(SteadyNs firstArrival);
    void endSession();
    // Watches the open port for arriving bytes while that is asked for and
    // the receiver is the source, or stops watching: after every change of
    // the port or the source.
    void followPort();

    std::unique_ptr<serialhandler> serial;
    std::unique_ptr<Datalogger> log;
    LinkWatch watch;
    PortSource port;
    TestWaves waves;
    OptionSet current;
    QTimer *ticks;
    QTimer *watchTicks;
    bool readOnArrival = false;
    QSocketNotifier *arrival = nullptr;
    QElapsedTimer clock;
    qint64 wallAtStart = 0;
    SteadyNs steadyAtStart = 0;
    SteadyNs lastArrival = 0;
    bool portOpened = false; // the port has been open since Start
    bool logging = false;
    // The source whose samples the open log file holds.
    Source logSource = Source::Port;
    Session session;
    // Where the row that begins a session went.
    struct {
        QString file;
        qint64 offset;
        int index;
    } firstRowAt;
    // A session may begin (acquiring, and its file has not failed).
    bool sessionAllowed = false;
};
