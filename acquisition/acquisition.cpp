#include "acquisition.h"

#include "datalogger.h"
#include "serialdevices.h"
#include "serialhandler.h"

#include <QFileInfo>
#include <QSocketNotifier>

Acquisition::Acquisition(QObject *parent)
    : QObject(parent), serial(std::make_unique<serialhandler>()),
      log(std::make_unique<Datalogger>()), watch(*serial), port(*serial),
      waves([this](const Sample &s) {
          take(s, Source::Test);
          emit generated(s);
      }),
      ticks(new QTimer(this)), watchTicks(new QTimer(this))
{
    ticks->setObjectName("acquisitionTimer");
    watchTicks->setInterval(500);
    connect(watchTicks, &QTimer::timeout, this, &Acquisition::watchLink);
    connect(serial.get(), &serialhandler::SendData, this,
            [this](int16_t a0, int16_t a1, int16_t a2, int16_t g0, int16_t g1, int16_t g2) {
                take({{a0, a1, a2}, {g0, g1, g2}}, Source::Port);
            });
    connect(serial.get(), &serialhandler::lost, this, [this](const QString &reason) {
        followPort();
        if (session.isActive())
            session.note("lost", sessionRows(), "reason", reason);
    });
    connect(log.get(), &Datalogger::fileStarted, this, [this](const QString &path, qint64 offset) {
        if (session.isActive())
            session.logFile(path, offset, 0, sessionRows());
        else
            firstRowAt = {path, offset, 0};
    });
    connect(log.get(), &Datalogger::failing, this, [this](const QString &reason) {
        if (session.isActive())
            session.note("log_failed", sessionRows(), "reason", reason);
    });
    connect(log.get(), &Datalogger::resumed, this, [this] {
        if (session.isActive())
            session.note("log_resumed", sessionRows());
    });
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
        session.note("source", sessionRows(), "source", current.testMode ? "test" : "receiver");
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
    if (!current.testMode && !openPort(intervalMs, waitForDevice))
        return false;
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
        port.poll();
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
    connect(arrival, &QSocketNotifier::activated, this, [this] { port.poll(); });
}

void Acquisition::tick()
{
    source().poll();
    if (!current.testMode)
        watch.noteRead(clock.elapsed());
}

void Acquisition::setLogging(bool on)
{
    if (on == logging)
        return;
    logging = on;
    if (session.isActive())
        session.datalog(on, sessionRows());
}

void Acquisition::take(const Sample &s, Source from)
{
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
    if (first && log->rowsWritten() > before)
        beginSession();
}

void Acquisition::beginSession()
{
    Session::Origin origin;
    origin.start = QDateTime::currentDateTime();
    origin.options = current;
    origin.device = serial->deviceName();
    origin.testMode = current.testMode;
    origin.intervalMs = ticks->interval();
    QString error;
    if (!session.begin(QFileInfo(firstRowAt.file).absolutePath(), origin, &error)) {
        // Said once; the rows go on without a session file.
        sessionAllowed = false;
        emit message(error, false);
        return;
    }
    rowsBefore = log->rowsWritten() - 1;
    session.logFile(firstRowAt.file, firstRowAt.offset, firstRowAt.index, 0);
}

void Acquisition::endSession()
{
    if (!session.isActive())
        return;
    session.end(sessionRows(), watch.isActive() ? watch.frames() : 0,
                watch.isActive() ? watch.strayBytes() : 0);
}

long long Acquisition::sessionRows() const
{
    return log->rowsWritten() - rowsBefore;
}

void Acquisition::watchLink()
{
    if (!current.testMode) {
        bool reopened = false;
        const QStringList warnings = watch.check(clock.elapsed(), &reopened);
        if (reopened) {
            emit message("Serial port reopened", false);
            followPort();
            if (session.isActive())
                session.note("reopened", sessionRows());
            if (current.initMsgOn)
                serial->SendInitMsg();
        }
        for (const QString &line : warnings) {
            emit message(line, false);
            if (session.isActive())
                session.note("warning", sessionRows(), "text", line);
        }
    }
    if (session.isActive())
        session.mark(sessionRows());
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
