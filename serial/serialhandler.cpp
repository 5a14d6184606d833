#include "serialhandler.h"

#include "portrelease.h"
#include "serialdevices.h"

#include <QDebug>
#include <QFile>
#include <QThread>

#include <libserial/SerialPort.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace
{

// libserial words a refused open() by the errno of its own clean-up, which
// hides the cause (a missing permission reads "Bad file descriptor"). Asks
// the system again for the real reason, and says how to get a permission.
QString openFailureReason(const std::string &path, const char *libraryText, bool descriptorOpened)
{
    if (!descriptorOpened) {
        const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0 && errno == EACCES)
            return QString::fromLocal8Bit(std::strerror(errno)) +
                   ". On Debian, serial devices belong to the group dialout: run "
                   "\"sudo usermod -aG dialout $USER\", then log in again.";
        if (fd < 0)
            return QString::fromLocal8Bit(std::strerror(errno));
        ::close(fd);
    }
    return QString::fromLocal8Bit(libraryText);
}

// Puts the line into raw mode, without echo, before libserial opens it, and
// returns the descriptor that holds it so (-1 if it cannot). libserial saves
// the settings it finds at open and puts them back at close, while bytes may
// still arrive: settings with echo on (a freshly plugged adapter's) would
// send those bytes back to the receiver. The speed is left to libserial,
// which sets it last.
int quietLine(const std::string &path)
{
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios settings;
    if (fd >= 0 && ::tcgetattr(fd, &settings) == 0) {
        const speed_t speed = ::cfgetospeed(&settings);
        ::cfmakeraw(&settings);
        settings.c_cflag |= CLOCAL | CREAD;
        ::cfsetspeed(&settings, speed);
        ::tcsetattr(fd, TCSANOW, &settings);
    }
    return fd;
}

} // namespace

serialhandler::serialhandler(QObject *parent)
    : QObject(parent), devicename(QString::fromLatin1(defaultSerialDevice))
{
}

serialhandler::~serialhandler() = default;

void serialhandler::updateOptions(int *optionFrame)
{
    if (!optionFrame)
        return;
    search.setFormat(FrameFormat::fromOptionArray(optionFrame));
    qDebug() << optionFrame[Sensor1TypeIndex] << optionFrame[Sensor2TypeIndex]
             << optionFrame[Sensor1BytesIndex] << optionFrame[Sensor2BytesIndex];
}

void serialhandler::receiveDevicename(QString devicename_)
{
    devicename = devicename_;
}

int serialhandler::OpenUsb(int)
{
    if (isOpen())
        return 1;
    if (!QFile::exists(devicename)) {
        qDebug() << "device does not exist";
        qDebug() << devicename;
        return -1;
    }
    QString reason;
    if (initializeSerial(&reason))
        return 1;
    qDebug() << "Serial port is not open";
    emit SendText(QStringLiteral("Serial port could not be opened: ") + reason);
    return 0;
}

bool serialhandler::reopen()
{
    return isOpen() || (QFile::exists(devicename) && initializeSerial(nullptr));
}

bool serialhandler::initializeSerial(QString *reason)
{
    port.reset();
    const std::string name = QFile::encodeName(devicename).toStdString();
    const int quiet = quietLine(name);
    std::unique_ptr<LibSerial::SerialPort, SerialPortRelease> opening(new LibSerial::SerialPort);
    bool opened = false;
    try {
        opening->Open(name);
        // The speed is set last: a peer watching the line (the receiver
        // simulator) takes 9600 baud as the sign that set-up, with the input
        // flushes that libserial makes on the way, is finished.
        opening->SetFlowControl(LibSerial::FlowControl::FLOW_CONTROL_NONE);
        opening->SetCharacterSize(LibSerial::CharacterSize::CHAR_SIZE_8);
        opening->SetParity(LibSerial::Parity::PARITY_NONE);
        opening->SetStopBits(LibSerial::StopBits::STOP_BITS_1);
        opening->SetBaudRate(LibSerial::BaudRate::BAUD_9600);
        opened = opening->IsOpen();
    } catch (const std::exception &e) {
        if (reason)
            *reason = openFailureReason(name, e.what(), opening->IsOpen());
    }
    if (quiet >= 0)
        ::close(quiet);
    if (opened) {
        port = std::move(opening);
        lastPass = steadyNow(); // what came before is flushed
    }
    return opened;
}

int serialhandler::descriptor() const
{
    return port ? port->GetFileDescriptor() : -1;
}

int serialhandler::CloseUsb()
{
    if (!isOpen())
        return 0;
    port.reset();
    return 1;
}

void serialhandler::deleteStuff()
{
    port.reset();
}

void serialhandler::loseDevice(const char *reason)
{
    const QString text = QStringLiteral("Serial device lost: ") + QString::fromLocal8Bit(reason);
    qDebug().noquote() << text;
    port.reset();
    emit SendText(text);
    emit lost(QString::fromLocal8Bit(reason));
}

void serialhandler::discardPending()
{
    if (isOpen())
        ::tcflush(port->GetFileDescriptor(), TCIFLUSH);
    search.drop();
    lastPass = steadyNow();
}

void serialhandler::readSerial()
{
    if (!isOpen())
        return;
    // Everything waiting is read in a few calls, and every frame it
    // completes is taken; the samples go out once reading is done.
    const int fd = port->GetFileDescriptor();
    int waiting = 0;
    const SteadyNs began = steadyNow();
    if (::ioctl(fd, FIONREAD, &waiting) < 0)
        return loseDevice(std::strerror(errno));
    found.clear();
    foundEnds.clear();
    long long passBytes = 0;
    while (waiting > 0) {
        uint8_t chunk[4096];
        const ssize_t got = ::read(fd, chunk, std::min<size_t>(size_t(waiting), sizeof chunk));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0 && errno != EAGAIN)
            return loseDevice(std::strerror(errno));
        if (got <= 0)
            break;
        received += got;
        waiting -= int(got);
        for (ssize_t i = 0; i < got; ++i)
            if (search.take(chunk[i])) {
                found.push_back(search.sample());
                foundEnds.push_back(passBytes + i + 1);
            }
        passBytes += got;
    }
    const FrameSearch::Held held = search.endPass();
    if (found.empty() && held == FrameSearch::Held::ShortOfAFrame)
        qDebug() << "Too short msg!";
    else if (found.empty() && held == FrameSearch::Held::FramingMismatch)
        qDebug() << "Check bytes not correct!";
    stampArrivals(began, passBytes);
    for (size_t i = 0; i < found.size(); ++i) {
        const Sample &s = found[i];
        arrivalOfSample = foundAt[i];
        emit SendData(s.acc[0], s.acc[1], s.acc[2], s.gyro[0], s.gyro[1], s.gyro[2]);
    }
}

void serialhandler::stampArrivals(SteadyNs began, long long passBytes)
{
    const SteadyNs floor = std::max(lastPass, arrivalOfSample);
    lastPass = began;
    const size_t n = found.size();
    foundAt.resize(n);
    const double nsPerByte = 1e9 / FrameFormat::lineBytesPerSecond;
    const auto backFrom = [&](size_t i) {
        return began - SteadyNs(double(passBytes - foundEnds[i]) * nsPerByte);
    };
    const bool linePace = n > 0 && backFrom(0) > floor;
    SteadyNs previous = floor;
    for (size_t i = 0; i < n; ++i) {
        const SteadyNs t =
            linePace ? backFrom(i) : floor + (began - floor) * SteadyNs(i + 1) / SteadyNs(n);
        foundAt[i] = previous = std::max(t, previous + 1);
    }
}

bool serialhandler::SendInitMsg()
{
    if (!isOpen()) {
        qDebug() << "INIT MSG: no open port, nothing sent";
        return true;
    }
    const FrameFormat &format = search.format();
    int code = 0;
    if (format.slot1Type != sensor::none) {
        if (format.slot2Type != sensor::none)
            code = '1';
        else if (format.slot1Type == sensor::gyroscope)
            code = '2';
        else if (format.slot1Type == sensor::accelerometer)
            code = '3';
    }
    if (code == 0) {
        emit SendText(QStringLiteral(
            "Virheelliset asetukset, koita uudestaan (Jos vai 1 anturi, käytä S1:tä)"));
        return false;
    }
    const unsigned char message[3] = {static_cast<unsigned char>(code),
                                      static_cast<unsigned char>(format.endByte1 & 0xFF),
                                      static_cast<unsigned char>(format.endByte2 & 0xFF)};
    // The receiver needs time to take in each byte.
    const unsigned long pauseMs[3] = {200, 200, 100};
    try {
        for (int i = 0; i < 3; ++i) {
            port->WriteByte(message[i]);
            QThread::msleep(pauseMs[i]);
        }
    } catch (const std::exception &e) {
        loseDevice(e.what());
        return false;
    }
    qDebug() << "INIT MSG:" << code << format.endByte1 << format.endByte2;
    return true;
}
