#include "acquisition.h"

#include "datalogger.h"
#include "serialdevices.h"
#include "serialhandler.h"

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
    clock.start();
}

Acquisition::~Acquisition() = default;

void Acquisition::setOptions(const OptionSet &options)
{
    current = options;
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

bool Acquisition::openPort(int intervalMs)
{
    switch (serial->OpenUsb(intervalMs)) {
    case -1:
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

bool Acquisition::start(int intervalMs)
{
    if (!current.testMode && !openPort(intervalMs))
        return false;
    // A refused init message is reported by the link itself; the port stays
    // open until Stop.
    if (current.initMsgOn && !serial->SendInitMsg())
        return false;
    ticks->start(intervalMs);
    if (!current.testMode)
        watch.start(clock.elapsed());
    watchTicks->start();
    emit statusChanged();
    return true;
}

void Acquisition::stop()
{
    // A port left open by a switch to test mode is closed too.
    const bool closed = serial->CloseUsb() == 1;
    if (current.testMode)
        emit message("Test stopped", true);
    else if (closed)
        emit message("USB closed", true);
    else
        emit message("Port already closed", false);
    ticks->stop();
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

void Acquisition::tick()
{
    source().poll();
}

void Acquisition::take(const Sample &s, Source from)
{
    if (!logging)
        return;
    if (from != logSource)
        log->startNewFile();
    logSource = from;
    log->Log(s.acc[0], s.acc[1], s.acc[2], s.gyro[0], s.gyro[1], s.gyro[2]);
}

void Acquisition::watchLink()
{
    if (!current.testMode) {
        bool reopened = false;
        for (const QString &line : watch.check(clock.elapsed(), &reopened))
            emit message(line, false);
        if (reopened && current.initMsgOn)
            serial->SendInitMsg();
    }
    emit statusChanged();
}

Acquisition::Status Acquisition::status() const
{
    Status s;
    s.acquiring = isAcquiring();
    s.testMode = current.testMode;
    s.device = serial->deviceName();
    s.samplesPerSecond = watch.samplesPerSecond();
    s.frames = serial->frameSearch().framesFound();
    s.strayBytes = serial->frameSearch().bytesDropped();
    s.logFile = log->currentFile();
    s.logRows = log->rowCount();
    return s;
}
