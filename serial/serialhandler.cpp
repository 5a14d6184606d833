#include "serialhandler.h"

#include "portrelease.h"

#include <QDebug>
#include <QFile>
#include <QThread>

#include <libserial/SerialPort.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/ioctl.h>
#include <unistd.h>

namespace
{

// libserial words a refused open() by the errno of its own clean-up, which
// hides the cause (a missing permission reads "Bad file descriptor"). Asks
// the system again for the real reason.
QString openFailureReason(const std::string &path, const char *libraryText, bool descriptorOpened)
{
    if (!descriptorOpened) {
        const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            return QString::fromLocal8Bit(std::strerror(errno));
        ::close(fd);
    }
    return QString::fromLocal8Bit(libraryText);
}

} // namespace

serialhandler::serialhandler(QObject *parent) : QObject(parent), devicename("/dev/ttyUSB0") {}

serialhandler::~serialhandler()
{
    releasePort();
}

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
    if (portOpen)
        return 1;
    if (!QFile::exists(devicename)) {
        qDebug() << "device does not exist";
        qDebug() << devicename;
        return -1;
    }
    if (initializeSerial()) {
        portOpen = true;
        return 1;
    }
    qDebug() << "Serial port is not open";
    return 0;
}

bool serialhandler::initializeSerial()
{
    releasePort();
    const std::string name = QFile::encodeName(devicename).toStdString();
    port = new LibSerial::SerialPort();
    try {
        port->Open(name);
        // The speed is set last: a peer watching the line (the receiver
        // simulator) takes 9600 baud as the sign that set-up, with the input
        // flushes that libserial makes on the way, is finished.
        port->SetFlowControl(LibSerial::FlowControl::FLOW_CONTROL_NONE);
        port->SetCharacterSize(LibSerial::CharacterSize::CHAR_SIZE_8);
        port->SetParity(LibSerial::Parity::PARITY_NONE);
        port->SetStopBits(LibSerial::StopBits::STOP_BITS_1);
        port->SetBaudRate(LibSerial::BaudRate::BAUD_9600);
        if (port->IsOpen())
            return true;
        releasePort();
        return false;
    } catch (const std::exception &e) {
        const QString reason = openFailureReason(name, e.what(), port->IsOpen());
        releasePort();
        emit SendText(QStringLiteral("Serial port could not be opened: ") + reason);
        return false;
    }
}

int serialhandler::CloseUsb()
{
    if (!portOpen)
        return 0;
    releasePort();
    portOpen = false;
    return 1;
}

void serialhandler::deleteStuff()
{
    releasePort();
    portOpen = false;
}

void serialhandler::releasePort() noexcept
{
    if (!port)
        return;
    releaseSerialPort(port);
    port = nullptr;
}

void serialhandler::loseDevice(const char *reason)
{
    const QString text = QStringLiteral("Serial device lost: ") + QString::fromLocal8Bit(reason);
    qDebug().noquote() << text;
    releasePort();
    portOpen = false;
    emit SendText(text);
}

bool serialhandler::bytesWaiting()
{
    if (port->IsDataAvailable())
        return true;
    // libserial reports a failed test as "nothing waiting"; ask the line
    // itself so that a receiver that was pulled out is noticed.
    int waiting = 0;
    if (::ioctl(port->GetFileDescriptor(), FIONREAD, &waiting) < 0)
        throw std::runtime_error(std::strerror(errno));
    return false;
}

void serialhandler::readSerial()
{
    if (!portOpen || !port)
        return;
    bool msgReceived = false;
    try {
        while (!msgReceived && bytesWaiting()) {
            unsigned char byte = 0;
            port->ReadByte(byte, 20);
            msgReceived = search.take(byte);
        }
    } catch (const LibSerial::ReadTimeout &) {
        // A byte announced but not delivered in time ends the pass as an
        // empty port does.
    } catch (const std::exception &e) {
        loseDevice(e.what());
        return;
    }
    if (msgReceived) {
        emitSample();
        return;
    }
    switch (search.endPass()) {
    case FrameSearch::Held::ShortOfAFrame:
        qDebug() << "Too short msg!";
        break;
    case FrameSearch::Held::FramingMismatch:
        qDebug() << "Check bytes not correct!";
        break;
    case FrameSearch::Held::Nothing:
        break;
    }
}

void serialhandler::emitSample()
{
    const Sample &s = search.sample();
    emit SendData(s.acc[0], s.acc[1], s.acc[2], s.gyro[0], s.gyro[1], s.gyro[2]);
}

bool serialhandler::SendInitMsg()
{
    if (!portOpen || !port) {
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
