#pragma once

#include "framesearch.h"

#include "portrelease.h"

#include <QObject>
#include <QString>
#include <cstdint>
#include <memory>
#include <vector>

// The link to the sensor receiver: opens and closes its serial device, hands
// the received bytes to the frame search, emits the samples it finds and
// sends the init message. Nothing but the init message is ever written to
// the receiver. Everything runs in the GUI thread; no exception leaves it.
//
// A receiver that disappears while the port is open (a failed read or
// write) is reported once on SendText ("Serial device lost: <reason>"); the
// port is then released and counts as closed.
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
    // Opens the device path again after a loss, saying nothing either way.
    bool reopen();
    bool isOpen() const { return port != nullptr; }
    // The open port's file descriptor, to watch for bytes arriving; -1 while
    // no port is open. A reopened port may have another.
    int descriptor() const;
    const QString &deviceName() const { return devicename; }
    // 1: an open port was closed; 0: no port was open.
    int CloseUsb();
    // Writes the three-byte init message. False when the sensor settings allow
    // none or a write failed; true with no open port (nothing is written).
    bool SendInitMsg();

    // Drops what the receiver has sent and is not read yet, and the bytes of
    // a frame begun: reading goes on from what arrives after this.
    void discardPending();

    const FrameSearch &frameSearch() const { return search; }
    // While SendData is delivered: when the frame of the sample it carries
    // reached the computer. A pass reads what waits when it begins, so its
    // last frame came by then and the earlier ones at the line's pace before
    // it, though never before the previous pass began nor the port opened
    // (a faster source is spread evenly between them); the times of a
    // port's samples rise strictly.
    SteadyNs arrival() const { return arrivalOfSample; }
    // Bytes read from the receiver since construction.
    long long bytesReceived() const { return received; }

signals:
    void SendText(QString);
    void SendData(int16_t a0, int16_t a1, int16_t a2, int16_t g0, int16_t g1, int16_t g2);
    // The open port failed (the receiver was unplugged); it counts as closed
    // now. Emitted after the SendText that says so.
    void lost(const QString &reason);

public slots:
    // optionFrame: the nine-entry option array; read only during the call.
    // Bytes held from earlier passes are searched with the new format.
    void updateOptions(int *optionFrame);
    // Takes effect at the next open.
    void receiveDevicename(QString devicename_);
    // Reads every byte waiting and emits SendData for each frame they
    // complete, oldest first; a partial frame waits for the next call.
    // Reads nothing when no port is open.
    void readSerial();
    // Releases the port object; the port then counts as closed.
    void deleteStuff();

private:
    // Opens the port on devicename; on failure sets *reason, when given.
    bool initializeSerial(QString *reason);
    void loseDevice(const char *reason);

    // Gives the samples found in a pass that began at `began` their times.
    void stampArrivals(SteadyNs began, long long passBytes);

    FrameSearch search;
    std::vector<Sample> found;        // the samples of one read pass
    std::vector<long long> foundEnds; // the byte of the pass that ended each, counted from 1
    std::vector<SteadyNs> foundAt;
    SteadyNs lastPass = 0; // when the previous pass began, or the port opened
    SteadyNs arrivalOfSample = 0;
    // Set while the port is open; released safely whatever the device's state.
    std::unique_ptr<LibSerial::SerialPort, SerialPortRelease> port;
    long long received = 0;
    QString devicename;
};
