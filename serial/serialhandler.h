#pragma once

#include <QObject>
#include <QString>
#include <cstdint>

namespace LibSerial
{
class SerialPort;
}
class SensorDatabase;

// The link to the sensor receiver: opens and closes its serial device, finds
// frames among the received bytes, decodes them into samples and sends the
// init message. Everything runs in the GUI thread; no exception leaves it.
//
// A receiver that disappears while the port is open (a failed availability
// test, read or write) is reported once on SendText ("Serial device lost:
// <reason>"); the port is then released and counts as closed.
class serialhandler : public QObject
{
    Q_OBJECT
public:
    explicit serialhandler(QObject *parent = nullptr);
    ~serialhandler() override;

    // 1: the port is open (also when it already was); -1: no file exists at
    // the device path; 0: the device exists but could not be opened (the
    // reason goes out on SendText).
    int OpenUsb(int);
    // 1: an open port was closed; 0: no port was open.
    int CloseUsb();
    // Writes the three-byte init message. False when the sensor settings allow
    // none or a write failed; true with no open port (nothing is written).
    bool SendInitMsg();

    // One read pass over `bytes` instead of the port: stores them one at a
    // time until the first complete frame, emits its sample as readSerial()
    // does and ends the pass as readSerial() ends it. Returns how many bytes
    // were taken; the rest belong to later passes. Lets the frame search run
    // without a device (fuzzing, benchmarks).
    int searchFrames(const unsigned char *bytes, int count);
    // Bytes held in the receive buffer for the next pass (0 to 1256).
    int heldBytes() const { return msgIndex; }

signals:
    void SendText(QString);
    void SendData(int16_t a0, int16_t a1, int16_t a2, int16_t g0, int16_t g1, int16_t g2);
    void SendData(int16_t *dataTable);

public slots:
    // optionFrame: the nine-entry option array; read only during the call.
    void updateOptions(int *optionFrame);
    void receiveDevicename(QString devicename_);
    // Reads waiting bytes until the first complete frame; emits SendData at
    // most once. Reads nothing when no port is open.
    void readSerial();
    // Releases the port object; the port then counts as closed.
    void deleteStuff();

private:
    bool initializeSerial();
    bool checkBytesCorrect(int);

    // Stores one received byte; true when a frame ends with it (then copied
    // to frameData and msgIndex left on its last byte).
    bool storeByte(unsigned char byte);
    // Ends a read pass: emits the matched frame's sample, or writes the
    // pass's debug line and drops an overlong hold.
    void finishPass();
    void decodeAndEmit();
    // True while a byte waits; throws std::runtime_error when the line is gone.
    bool bytesWaiting();
    // Closes and destroys the port object without throwing, whatever state
    // the device is in; port is null afterwards.
    void releasePort() noexcept;
    void loseDevice(const char *reason);

    SensorDatabase *sensorDatabase;
    int16_t gyro[3];
    int16_t acc[3];
    LibSerial::SerialPort *port;
    unsigned char msgBuffer[1256];
    unsigned char frameData[200];
    bool msgReceived;
    bool portOpen;
    int msgIndex;
    int dataBytes;
    int startByte1;
    int startByte2;
    int endByte1;
    int endByte2;
    int frameLength;
    int sensor1Type;
    int sensor2Type;
    int sensor1Bytes;
    int sensor2Bytes;
    int initCode;
    QString devicename;
};
