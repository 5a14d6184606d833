#pragma once

#include "linkwatch.h"
#include "optionset.h"
#include "sample.h"
#include "samplesource.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>

class Datalogger;
class serialhandler;

// Acquisition, without a window: the receiver's serial link or the test
// mode's generator as the source of samples, the watch over the link, and
// the logger, driven by start(), stop() and the ticks of timer(). The main
// window and the recorder both sit on it; everything runs in one thread.
//
// The road of a sample: each tick polls the source in use. The link's
// samples leave on the link's own SendData signal, generated ones on
// generated(); the acquisition itself logs every sample of either source
// while logging is on, and no log file holds samples of both sources.
//
// The link and the logger have their own message signals (SendText,
// NewFileCreated); message() carries the acquisition's own lines.
class Acquisition : public QObject
{
    Q_OBJECT
public:
    explicit Acquisition(QObject *parent = nullptr);
    ~Acquisition() override;

    serialhandler *link() const { return serial.get(); }
    Datalogger *logger() const { return log.get(); }
    // Paces the ticks while acquiring. Its owner connects its timeout() to
    // tick() (the window does so through its own slot).
    QTimer *timer() const { return ticks; }

    // The options in force: the source (test mode or the receiver) and the
    // init message. A switch of source while logging starts a new log file
    // at the next sample.
    void setOptions(const OptionSet &options);
    const OptionSet &options() const { return current; }
    // setOptions, and the link's and the logger's settings handed over as
    // the options dialog's signals hand them (for users without the dialog).
    void applyOptions(const OptionSet &options);
    // The test mode's time base; until set, the number of samples generated.
    void setTestTimeBase(std::function<double()> t) { waves.setTimeBase(std::move(t)); }

    // Start: opens the port in wireless mode, sends the init message when
    // asked for, then ticks every intervalMs. False, with the reason said,
    // when a step fails; a running acquisition then goes on as it was.
    bool start(int intervalMs);
    // Stop: closes an open port (in either mode) and stops the ticks. Its
    // line begins a new page of the message log.
    void stop();
    bool isAcquiring() const { return ticks->isActive(); }
    // "Init Msg": sends the init message now, whatever the state.
    void sendInitMessage();

    // What the status bar shows while acquiring.
    struct Status {
        bool acquiring = false;
        bool testMode = false;
        QString device;
        long long samplesPerSecond = 0;
        long long frames = 0;
        long long strayBytes = 0;
        QString logFile; // empty while no file is open
        int logRows = 0;
    };
    Status status() const;

public slots:
    void tick();
    // Whether samples are logged ("Datalog").
    void setLogging(bool on) { logging = on; }

signals:
    // A line for the user; newPage: it begins a new page of the message log
    // (the window then clears the log first).
    void message(const QString &text, bool newPage);
    void generated(const Sample &sample);
    // The figures of status() have changed; about twice a second while
    // acquiring, and at Start and Stop.
    void statusChanged();

private:
    enum class Source { Port, Test };
    void take(const Sample &sample, Source source);
    bool openPort(int intervalMs);
    // Twice a second while acquiring: the link's warnings and reopening.
    void watchLink();
    SampleSource &source();

    std::unique_ptr<serialhandler> serial;
    std::unique_ptr<Datalogger> log;
    LinkWatch watch;
    PortSource port;
    TestWaves waves;
    OptionSet current;
    QTimer *ticks;
    QTimer *watchTicks;
    QElapsedTimer clock;
    bool logging = false;
    // The source whose samples the open log file holds.
    Source logSource = Source::Port;
};
