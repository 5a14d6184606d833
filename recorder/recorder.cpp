#include "recorder.h"

#include "datalogger.h"
#include "notesignal.h"
#include "serialhandler.h"
#include "terminationsignals.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QSocketNotifier>

#include <algorithm>
#include <climits>
#include <cstring>
#include <sys/ioctl.h>
#include <unistd.h>

namespace
{

QString clockText(qint64 ms)
{
    const qint64 s = ms / 1000;
    return QStringLiteral("%1:%2:%3")
        .arg(s / 3600)
        .arg(s / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(s % 60, 2, 10, QLatin1Char('0'));
}

int terminalColumns(std::FILE *out)
{
    winsize size{};
    return ::ioctl(fileno(out), TIOCGWINSZ, &size) == 0 && size.ws_col > 0 ? size.ws_col : 80;
}

} // namespace

Recorder::Recorder(const RecorderOptions &options, std::FILE *out, bool terminal, QObject *parent)
    : QObject(parent), given(options), out(out), terminal(terminal),
      notes([this](SteadyNs at, const QString &text, QString *said) {
          return addNote(at, text, said);
      })
{
    acquisition.applyOptions(given.options);
    acquisition.setLogging(true);
    acquisition.setReadOnArrival(true);
    connect(acquisition.timer(), &QTimer::timeout, &acquisition, &Acquisition::tick);
    connect(&acquisition, &Acquisition::message, this,
            [this](const QString &text, bool) { say(text); });
    connect(acquisition.link(), &serialhandler::SendText, this, &Recorder::say);
    // The logger's own line for a file it could not create adds nothing to
    // the failure's line, which names the file and the reason.
    connect(acquisition.logger(), &Datalogger::fileStarted, this,
            [this](const QString &path) { say(QStringLiteral("New file created: ") + path); });
    connect(&acquisition, &Acquisition::statusChanged, this, [this] {
        opened = opened || acquisition.link()->isOpen();
        if (this->terminal && !stopped)
            showStatus();
    });
    connect(&acquisition, &Acquisition::taken, &outputs, &Outputs::take);
    connect(&acquisition, &Acquisition::polled, &outputs, &Outputs::polled);
    connect(&acquisition, &Acquisition::sessionLine, &outputs, &Outputs::sessionLine);
    connect(&outputs, &Outputs::message, this, &Recorder::say);
    summaries.setInterval(60 * 1000);
    connect(&summaries, &QTimer::timeout, this, [this] { say(statusText()); });
}

bool Recorder::start()
{
    elapsed.start();
    outputs.open(given.outputs, given.options.devicename, given.options.frameFormat());
    if (!acquisition.start(given.intervalMs, /*waitForDevice=*/true))
        return false;
    if (!terminal)
        summaries.start();
    QString error;
    const QString device = given.options.devicename;
    const bool typing = ::isatty(STDIN_FILENO);
    say(notes.listen(device, &error)
            ? QStringLiteral("Notes: motionmonitor --note TEXT --device %1, kill -USR1 %2%3")
                  .arg(device)
                  .arg(QCoreApplication::applicationPid())
                  .arg(typing ? QStringLiteral(", or a line typed here") : QString())
            : QStringLiteral("Notes cannot come from --note: %1; kill -USR1 %2 adds one")
                  .arg(error)
                  .arg(QCoreApplication::applicationPid()));
    if (typing)
        takeTypedNotes();
    stopWhenDue();
    return true;
}

bool Recorder::addNote(SteadyNs at, const QString &text, QString *said)
{
    return acquisition.addNote(at, text, said);
}

void Recorder::takeTypedNotes()
{
    auto *input = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this);
    connect(input, &QSocketNotifier::activated, this, [this, input] {
        char chunk[4096];
        const ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
        if (n <= 0) { // the end of input (Ctrl-D) or a terminal gone
            input->setEnabled(false);
            return;
        }
        const SteadyNs at = steadyNow();
        typed.append(chunk, n);
        for (qsizetype end; (end = typed.indexOf('\n')) >= 0; typed.remove(0, end + 1))
            addNote(at, QString::fromLocal8Bit(typed.left(end)).trimmed());
    });
}

void Recorder::stopWhenDue()
{
    if (given.durationMs < 0 || stopped)
        return;
    const qint64 left = given.durationMs - elapsed.elapsed();
    if (left <= 0)
        return stop();
    QTimer::singleShot(int(std::min<qint64>(left, INT_MAX)), Qt::PreciseTimer, this,
                       &Recorder::stopWhenDue);
}

void Recorder::stop()
{
    if (stopped)
        return;
    stopped = true;
    summaries.stop();
    acquisition.stop();
    outputs.close();
    const Acquisition::Status s = acquisition.status();
    const QString session = acquisition.sessionFile();
    say(QStringLiteral("Recording ended after %1: %2 rows logged, %3 frames, %4 stray bytes; %5")
            .arg(clockText(elapsed.elapsed()))
            .arg(acquisition.logger()->rowsWritten())
            .arg(s.frames)
            .arg(s.strayBytes)
            .arg(session.isEmpty() ? QStringLiteral("no session file")
                                   : "session file " + session));
    emit finished();
}

QString Recorder::statusText() const
{
    // What matters most first: a narrow terminal cuts the end.
    const Acquisition::Status s = acquisition.status();
    const QString link = acquisition.link()->isOpen() ? QStringLiteral("link up")
                         : opened                     ? QStringLiteral("link lost, reopening")
                                                      : QStringLiteral("waiting for ") + s.device;
    const QString file = !s.logFailure.isEmpty() ? QStringLiteral("log failing")
                         : s.logFile.isEmpty()   ? QStringLiteral("no log file yet")
                                                 : "logging to " + QFileInfo(s.logFile).fileName();
    const QString sent = outputs.isOpen() ? " · " + outputs.statusText() : QString();
    return QStringLiteral("%1 · %2%3 · %4 · %5 samples/s · %6 rows · %7 stray bytes")
        .arg(link, file, sent, clockText(elapsed.elapsed()))
        .arg(s.samplesPerSecond)
        .arg(acquisition.logger()->rowsWritten())
        .arg(s.strayBytes);
}

void Recorder::showStatus()
{
    // Cut to the width, so that the line never wraps and \r finds its start.
    const QString line = statusText().left(terminalColumns(out) - 1);
    std::fprintf(out, "\r%s\033[K", line.toLocal8Bit().constData());
    std::fflush(out);
}

void Recorder::say(const QString &line)
{
    // On a terminal the event goes above the status line.
    std::fprintf(out, terminal ? "\r\033[K%s\n" : "%s\n", line.toLocal8Bit().constData());
    if (terminal && !stopped && elapsed.isValid())
        showStatus();
    std::fflush(out);
}

int runRecorder(int argc, char **argv, const QString &version)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("motionmonitor");
    QCoreApplication::setApplicationVersion(version);
    // The serial link's debugging lines would flood a journal; QT_LOGGING_RULES
    // can bring them back.
    QLoggingCategory::setFilterRules("default.debug=false");
    TerminationSignals termination;
    NoteSignal noteSignal;

    for (int i = 1; i < argc; ++i)
        for (const char *other : {"--view", "--export"})
            if (!std::strncmp(argv[i], other, std::strlen(other))) {
                std::fprintf(stderr,
                             "motionmonitor: --record and %s cannot be combined: --record "
                             "records, --view shows a recording (see --help)\n",
                             other);
                return 2;
            }
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Acquires and logs the sensor node's frames without a window or a display:\n"
        "the same log files and session file as the window's, reconnecting after an\n"
        "unplug. On a terminal it shows one status line; elsewhere it writes one line\n"
        "per event and a summary line every minute.");
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption versionOption = parser.addVersionOption();
    RecorderOptions::addTo(parser);
    RecorderOptions options;
    QString error;
    if (!parser.parse(app.arguments()))
        error = parser.errorText();
    else if (parser.isSet(help))
        parser.showHelp(0);
    else if (parser.isSet(versionOption))
        parser.showVersion();
    else
        RecorderOptions::read(parser, &options, &error);
    if (!error.isEmpty()) {
        std::fprintf(stderr, "motionmonitor: %s (see --record --help)\n", qPrintable(error));
        return 2;
    }

    Recorder recorder(options, stdout, ::isatty(STDOUT_FILENO));
    QObject::connect(&termination, &TerminationSignals::arrived, &recorder, &Recorder::stop);
    QObject::connect(&noteSignal, &NoteSignal::requested, &recorder,
                     [&recorder](SteadyNs at) { recorder.addNote(at, QString()); });
    QObject::connect(&recorder, &Recorder::finished, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    if (!recorder.start())
        return 1;
    return app.exec();
}
