#include "acquisition.h"

#include "datalogger.h"
#include "serialdevices.h"
#include "serialhandler.h"

#include <QFileInfo>
#include <QSocketNotifier>

#include <chrono>

Acquisition::Acquisition(QObject *parent)
    : QObject(parent), serial(std::make_unique<serialhandler>()),
      log(std::make_unique<Datalogger>()), watch(*serial), port(*serial),
      waves([this](const Sample &s) {
          take(s, Source::Test, steadyNow());
          emit generated(s);
      }),
      ticks(new QTimer(this)), watchTicks(new QTimer(this))
{
    ticks->setObjectName("acquisitionTimer");
    watchTicks->setInterval(500);
    connect(watchTicks, &QTimer::timeout, this, &Acquisition::watchLink);
    connect(serial.get(), &serialhandler::SendData, this,
            [this](int16_t a0, int16_t a1, int16_t a2, int16_t g0, int16_t g1, int16_t g2) {
                take({{a0, a1, a2}, {g0, g1, g2}}, Source::Port, serial->arrival());
            });
    connect(serial.get(), &serialhandler::lost, this, [this](const QString &reason) {
        followPort();
        if (session.isActive())
            session.note("lost", "reason", reason);
    });
    connect(log.get(), &Datalogger::fileStarted, this, [this](const QString &path, qint64 offset) {
        if (session.isActive())
            session.logFile(path, offset, 0);
        else
            firstRowAt = {path, offset, 0};
    });
    connect(log.get(), &Datalogger::failing, this, [this](const QString &reason) {
        emit message(reason, false);
        if (session.isActive())
            session.note("log_failed", "reason", reason);
    });
    connect(log.get(), &Datalogger::resumed, this, [this](long long lost) {
        emit message(QStringLiteral("Logging resumed in %1; %2 %3 lost while it failed")
                         .arg(log->currentFile())
                         .arg(lost)
                         .arg(lost == 1 ? "row was" : "rows were"),
                     false);
        if (session.isActive())
            session.logResumed(lost);
    });
    session.setListener(
        [this](const char *event, const QByteArray &line) { emit sessionLine(event, line); });
    clock.start();
}

Acquisition::~Acquisition()
{
    endSession();
}

void Acquisition::setOptions(const OptionSet &options)
{
    const bool switched = options.testMode != current.testMode;
    current = options;
    if (!switched)
        return;
    if (!current.testMode) {
        // What the receiver sent while test mode ran is old news.
        serial->discardPending();
        watch.resume(clock.elapsed());
    }
    followPort();
    if (session.isActive())
        session.note("source", "source", current.testMode ? "test" : "receiver");
}

void Acquisition::applyOptions(const OptionSet &options)
{
    setOptions(options);
    OptionArray optionFrame = options.optionArray();
    serial->updateOptions(optionFrame.data());
    log->ReceiveFilename(options.filename);
    serial->receiveDevicename(options.devicename);
    log->ReceiveNewfileIndex(options.newfileLines);
}

SampleSource &Acquisition::source()
{
    if (current.testMode)
        return waves;
    return port;
}

bool Acquisition::openPort(int intervalMs, bool waitForDevice)
{
    switch (serial->OpenUsb(intervalMs)) {
    case -1:
        if (waitForDevice) {
            emit message("Waiting for " + current.devicename + " to appear", false);
            return true;
        }
        emit message("USB open failed. Device does not exist.", false);
        emit message("No device at " + current.devicename + ". " + describeSerialDevices(), false);
        return false;
    case 1:
        emit message("Serial port opened", false);
        return true;
    default:
        emit message("Unknown error!", false);
        return false;
    }
}

bool Acquisition::start(int intervalMs, bool waitForDevice)
{
    if (!isAcquiring()) {
        wallAtStart = std::chrono::duration_cast<std::chrono::nanoseconds>(
                          std::chrono::system_clock::now().time_since_epoch())
                          .count();
        steadyAtStart = steadyNow();
    }
    if (!current.testMode && !openPort(intervalMs, waitForDevice))
        return false;
    portOpened = serial->isOpen();
    // A refused init message is reported by the link itself; the port stays
    // open until Stop. A device waited for gets its own when it appears.
    const bool waiting = !current.testMode && !serial->isOpen();
    if (current.initMsgOn && !waiting && !serial->SendInitMsg())
        return false;
    if (logging && !log->failure().isEmpty())
        emit message(log->failure(), false);
    ticks->start(intervalMs);
    if (!current.testMode)
        watch.start(clock.elapsed());
    watchTicks->start();
    followPort();
    sessionAllowed = true;
    emit statusChanged();
    return true;
}

void Acquisition::stop()
{
    // What has arrived since the last tick is the session's too.
    if (!current.testMode)
        poll();
    // A port left open by a switch to test mode is closed too.
    const bool closed = serial->CloseUsb() == 1;
    if (current.testMode)
        emit message("Test stopped", true);
    else if (closed)
        emit message("USB closed", true);
    else
        emit message("Port already closed", false);
    ticks->stop();
    followPort();
    endSession();
    sessionAllowed = false;
    watch.stop();
    watchTicks->stop();
    emit statusChanged();
}

void Acquisition::sendInitMessage()
{
    if (!serial->isOpen())
        emit message("Init message not sent: no serial port is open (press Start in wireless "
                     "mode first)",
                     false);
    serial->SendInitMsg();
}

bool Acquisition::addNote(SteadyNs at, const QString &text, QString *said)
{
    const QString clock =
        QDateTime::fromMSecsSinceEpoch(unixNs(at) / 1000000).toString("hh:mm:ss.zzz");
    const qint64 atMs = session.addNote(at, text);
    QString line = atMs < 0 ? QStringLiteral("Note at %1 not recorded: no session is being logged "
                                             "(no row logged since Start, or \"Datalog\" off)")
                                  .arg(clock)
                            : QStringLiteral("Note at %1 (%2 s into the session)")
                                  .arg(clock)
                                  .arg(double(atMs) / 1000, 0, 'f', 3);
    if (!text.isEmpty())
        line += ": " + text;
    emit message(line, false);
    if (said)
        *said = line;
    return atMs >= 0;
}

void Acquisition::setReadOnArrival(bool on)
{
    readOnArrival = on;
    followPort();
}

void Acquisition::followPort()
{
    const int fd = readOnArrival && isAcquiring() && !current.testMode ? serial->descriptor() : -1;
    if (arrival && arrival->socket() == fd)
        return;
    if (arrival) {
        // This may run in the notifier's own slot (a read that lost the port).
        arrival->setEnabled(false);
        arrival->deleteLater();
        arrival = nullptr;
    }
    if (fd < 0)
        return;
    arrival = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(arrival, &QSocketNotifier::activated, this, &Acquisition::poll);
}

void Acquisition::poll()
{
    source().poll();
    emit polled();
}

void Acquisition::tick()
{
    poll();
    if (!current.testMode)
        watch.noteRead(clock.elapsed());
}

void Acquisition::setLogging(bool on)
{
    if (on == logging)
        return;
    logging = on;
    if (session.isActive())
        session.datalog(on);
}

void Acquisition::take(const Sample &s, Source from, SteadyNs arrival)
{
    // One clock for the whole run, rising whatever the source.
    arrival = std::max(arrival, lastArrival + 1);
    lastArrival = arrival;
    emit taken(s, unixNs(arrival));
    if (!logging)
        return;
    if (from != logSource)
        log->startNewFile();
    logSource = from;
    const bool first = sessionAllowed && !session.isActive();
    // Where the row goes, should it begin the session: on in the open file,
    // or in a file started for it (which says so itself).
    if (first)
        firstRowAt = {log->currentFile(), log->currentSize(), log->rowCount()};
    const long long before = log->rowsWritten();
    log->Log(s.acc[0], s.acc[1], s.acc[2], s.gyro[0], s.gyro[1], s.gyro[2]);
    if (log->rowsWritten() == before)
        return;
    if (first)
        beginSession(arrival);
    else if (session.isActive())
        session.rowLogged(arrival);
}

void Acquisition::beginSession(SteadyNs firstArrival)
{
    const OptionSet &o = current;
    const FrameFormat f = o.frameFormat();
    Session::Origin origin;
    origin.start = QDateTime::fromMSecsSinceEpoch(unixNs(firstArrival) / 1000000);
    origin.startNs = firstArrival;
    origin.settings = {f.dataBytes,    f.startByte1,   f.startByte2, f.endByte1,
                       f.endByte2,     f.slot1Type,    f.slot2Type,  o.sensor1Bytes,
                       o.sensor2Bytes, o.newfileLines, o.filename,   o.initMsgOn};
    origin.device = serial->deviceName();
    origin.testMode = current.testMode;
    origin.intervalMs = ticks->interval();
    QString error;
    if (!session.begin(QFileInfo(firstRowAt.file).absolutePath(), origin, firstRowAt.file,
                       firstRowAt.offset, firstRowAt.index, &error)) {
        // Said once; the rows go on without a session file.
        sessionAllowed = false;
        emit message(error, false);
    }
}

void Acquisition::endSession()
{
    if (!session.isActive())
        return;
    session.end(watch.isActive() ? watch.frames() : 0, watch.isActive() ? watch.strayBytes() : 0);
}

void Acquisition::watchLink()
{
    if (!current.testMode) {
        bool reopened = false;
        const QStringList warnings = watch.check(clock.elapsed(), &reopened);
        if (reopened) {
            // A device waited for since Start is opened, not reopened.
            emit message(portOpened ? "Serial port reopened" : "Serial port opened", false);
            portOpened = true;
            followPort();
            if (session.isActive())
                session.note("reopened");
            if (current.initMsgOn)
                serial->SendInitMsg();
        }
        for (const QString &line : warnings) {
            emit message(line, false);
            if (session.isActive())
                session.note("warning", "text", line);
        }
    }
    if (session.isActive())
        session.mark();
    emit statusChanged();
}

Acquisition::Status Acquisition::status() const
{
    Status s;
    s.acquiring = isAcquiring();
    s.testMode = current.testMode;
    s.lost = !current.testMode && watch.lost();
    s.device = serial->deviceName();
    s.samplesPerSecond = watch.samplesPerSecond();
    s.frames = watch.frames();
    s.strayBytes = watch.strayBytes();
    s.logFile = log->currentFile();
    s.logRows = log->rowCount();
    s.logFailure = logging ? log->failure() : QString();
    return s;
}
