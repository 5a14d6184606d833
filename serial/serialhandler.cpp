#include "serialhandler.h"

#include "sensordatabase.h"

// TODO(serial): everything below is a placeholder for the serial link.
serialhandler::serialhandler(QObject *parent)
    : QObject(parent), sensorDatabase(new SensorDatabase(nullptr)), gyro{0, 0, 0}, acc{0, 0, 0},
      port(nullptr), msgBuffer{}, frameData{}, msgReceived(false), portOpen(false), msgIndex(0),
      dataBytes(12), startByte1(-1), startByte2(-1), endByte1(37), endByte2(1), frameLength(0),
      sensor1Type(-1), sensor2Type(-1), sensor1Bytes(0), sensor2Bytes(0), initCode(0),
      devicename("/dev/ttyUSB0")
{
}

serialhandler::~serialhandler() { delete sensorDatabase; }

int serialhandler::OpenUsb(int) { return 0; }
int serialhandler::CloseUsb() { return 0; }
bool serialhandler::SendInitMsg() { return true; }
void serialhandler::updateOptions(int *) {}
void serialhandler::receiveDevicename(QString devicename_) { devicename = devicename_; }
void serialhandler::readSerial() {}
void serialhandler::deleteStuff() {}
bool serialhandler::initializeSerial() { return false; }
bool serialhandler::checkBytesCorrect(int) { return false; }
