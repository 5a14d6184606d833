#include "serialdevices.h"

#include <QDir>

QStringList serialDevices(const QString &root)
{
    const auto list = [](const QString &dir, const QStringList &patterns) {
        QStringList paths;
        for (const QString &name : QDir(dir).entryList(
                 patterns, QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name))
            paths << QDir(dir).filePath(name);
        return paths;
    };
    return list(root, {"ttyUSB*", "ttyACM*"}) + list(root + "/serial/by-id", {});
}

QString describeSerialDevices(const QString &root)
{
    const QStringList devices = serialDevices(root);
    return devices.isEmpty()
               ? QStringLiteral("No serial device is present: is the receiver plugged in?")
               : "Serial devices present: " + devices.join(", ");
}
