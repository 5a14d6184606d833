#pragma once

#include <QStringList>

// The receiver's device until the options name another.
inline constexpr char defaultSerialDevice[] = "/dev/ttyUSB0";

// The serial devices present under `root` (the system's /dev): USB serial
// adapters (ttyUSB*, ttyACM*) and their stable names under serial/by-id/,
// which name the adapter, each group sorted.
QStringList serialDevices(const QString &root = QStringLiteral("/dev"));

// One line for the message log: the devices present, or that there are none.
QString describeSerialDevices(const QString &root = QStringLiteral("/dev"));
