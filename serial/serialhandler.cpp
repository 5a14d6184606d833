#include "serialhandler.h"

#include "portrelease.h"
#include "sensordatabase.h"

#include <QDebug>
#include <QFile>
#include <QThread>

#include <libserial/SerialPort.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <unistd.h>
#include <vector>

namespace
{

// Gyroscope offsets added to the decoded X, Y and Z words.
constexpr int gyroOffset[3] = {15, 130, -313};

// 16-bit two's-complement addition: wraps at the ends of the int16_t range.
int16_t addWrapping(int16_t value, int offset)
{
    return static_cast<int16_t>(static_cast<uint16_t>(value + offset));
}

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

serialhandler::serialhandler(QObject *parent)
    : QObject(parent), sensorDatabase(new SensorDatabase(nullptr)), gyro{0, 0, 0}, acc{0, 0, 0},
      port(nullptr), msgBuffer{}, frameData{}, msgReceived(false), portOpen(false), msgIndex(0),
      dataBytes(12), startByte1(-1), startByte2(-1), endByte1(37), endByte2(1), frameLength(0),
      sensor1Type(-1), sensor2Type(-1), sensor1Bytes(0), sensor2Bytes(0), initCode(0),
      devicename("/dev/ttyUSB0")
{
}

serialhandler::~serialhandler()
{
    releasePort();
    delete sensorDatabase;
}

void serialhandler::updateOptions(int *optionFrame)
{
    if (!optionFrame)
        return;
    dataBytes = optionFrame[0];
    startByte1 = optionFrame[1];
    startByte2 = optionFrame[2];
    endByte1 = optionFrame[3];
    endByte2 = optionFrame[4];
    sensor1Type = optionFrame[5];
    sensor2Type = optionFrame[6];
    sensor1Bytes = optionFrame[7];
    sensor2Bytes = optionFrame[8];
    qDebug() << sensor1Type << sensor2Type << sensor1Bytes << sensor2Bytes;

    long long length = dataBytes;
    for (int framing : {startByte1, startByte2, endByte1, endByte2})
        length += framing != -1;
    frameLength = static_cast<int>(std::clamp<long long>(length, INT_MIN, INT_MAX));
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

bool serialhandler::checkBytesCorrect(int p)
{
    // A frame longer than frameData cannot be kept, and a negative data byte
    // count describes no frame: neither ever matches.
    if (dataBytes < 0 || frameLength > static_cast<int>(sizeof frameData) || p < 0 ||
        p >= static_cast<int>(sizeof msgBuffer))
        return false;
    const int first = p - frameLength + 1;
    if (first < 0)
        return false;
    int head = first;
    if (startByte1 != -1 && msgBuffer[head++] != startByte1)
        return false;
    if (startByte2 != -1 && msgBuffer[head] != startByte2)
        return false;
    int tail = p;
    if (endByte2 != -1 && msgBuffer[tail--] != endByte2)
        return false;
    if (endByte1 != -1 && msgBuffer[tail] != endByte1)
        return false;
    return true;
}

bool serialhandler::storeByte(unsigned char byte)
{
    if (msgIndex >= static_cast<int>(sizeof msgBuffer)) {
        // Full: keep only the newest bytes that can still be the front of a
        // frame, so a frame in progress survives.
        const int keep = std::min(
            {std::max(frameLength - 1, 0), static_cast<int>(sizeof frameData) - 1, msgIndex});
        std::memmove(msgBuffer, msgBuffer + msgIndex - keep, keep);
        qDebug() << "Receive buffer full, dropped" << msgIndex - keep << "bytes";
        msgIndex = keep;
    }
    msgBuffer[msgIndex] = byte;
    if (checkBytesCorrect(msgIndex)) {
        std::memcpy(frameData, msgBuffer + msgIndex - frameLength + 1, frameLength);
        msgReceived = true;
        return true;
    }
    ++msgIndex;
    return false;
}

void serialhandler::readSerial()
{
    msgReceived = false;
    if (!portOpen || !port)
        return;
    try {
        while (bytesWaiting()) {
            unsigned char byte = 0;
            port->ReadByte(byte, 20);
            if (storeByte(byte))
                break;
        }
    } catch (const LibSerial::ReadTimeout &) {
        // A byte announced but not delivered in time ends the pass as an
        // empty port does.
    } catch (const std::exception &e) {
        loseDevice(e.what());
        return;
    }
    finishPass();
}

int serialhandler::searchFrames(const unsigned char *bytes, int count)
{
    msgReceived = false;
    int taken = 0;
    while (taken < count)
        if (storeByte(bytes[taken++]))
            break;
    finishPass();
    return taken;
}

void serialhandler::finishPass()
{
    if (msgReceived) {
        decodeAndEmit();
        msgIndex = 0;
        return;
    }
    if (msgIndex > 0) {
        if (msgIndex < frameLength - 1)
            qDebug() << "Too short msg!";
        else
            qDebug() << "Check bytes not correct!";
    }
    if (msgIndex > 1000)
        msgIndex = 0;
}

void serialhandler::decodeAndEmit()
{
    const int start = (startByte1 != -1) + (startByte2 != -1);
    const auto word = [this, start](int k) {
        return static_cast<int16_t>(
            static_cast<uint16_t>(frameData[start + k] << 8 | frameData[start + k + 1]));
    };
    bool accDecoded = false;
    bool gyroDecoded = false;
    // A slot is decoded only when the frame carries all six of its bytes.
    const auto decodeSlot = [&](int type, int firstByte) {
        if (dataBytes < firstByte + 6 || (type != 0 && type != 1))
            return;
        int16_t *target = type == 0 ? gyro : acc;
        for (int axis = 0; axis < 3; ++axis)
            target[axis] = word(firstByte + 2 * axis);
        (type == 0 ? gyroDecoded : accDecoded) = true;
    };
    decodeSlot(sensor1Type, 0);
    if (sensor1Type != -1)
        decodeSlot(sensor2Type, 6);

    if (accDecoded)
        for (int16_t &value : acc)
            value = sensorDatabase->SCA3100_transformValues(value);
    if (gyroDecoded)
        for (int axis = 0; axis < 3; ++axis)
            gyro[axis] = addWrapping(gyro[axis], gyroOffset[axis]);
    emit SendData(acc[0], acc[1], acc[2], gyro[0], gyro[1], gyro[2]);
}

bool serialhandler::SendInitMsg()
{
    initCode = 0;
    if (!portOpen || !port) {
        qDebug() << "INIT MSG: no open port, nothing sent";
        return true;
    }
    int code = 0;
    if (sensor1Type != -1) {
        if (sensor2Type != -1)
            code = '1';
        else if (sensor1Type == 0)
            code = '2';
        else if (sensor1Type == 1)
            code = '3';
    }
    if (code == 0) {
        emit SendText(QStringLiteral(
            "Virheelliset asetukset, koita uudestaan (Jos vai 1 anturi, käytä S1:tä)"));
        return false;
    }
    initCode = code;
    const unsigned char message[3] = {static_cast<unsigned char>(code),
                                      static_cast<unsigned char>(endByte1 & 0xFF),
                                      static_cast<unsigned char>(endByte2 & 0xFF)};
    // The receiver needs time to take in each byte.
    const unsigned long pauseMs[3] = {200, 200, 100};
    try {
        for (int i = 0; i < 3; ++i) {
            port->WriteByte(message[i]);
            QThread::msleep(pauseMs[i]);
        }
    } catch (const std::exception &e) {
        initCode = 0;
        loseDevice(e.what());
        return false;
    }
    qDebug() << "INIT MSG:" << initCode << endByte1 << endByte2;
    return true;
}
