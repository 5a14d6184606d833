#include "frameoptions.h"

#include <QCommandLineParser>

#include <climits>

namespace frameoptions
{

namespace
{

const char *const framingNames[4] = {"start1", "start2", "end1", "end2"};
const char *const framingTitles[4] = {"Start byte 1", "Start byte 2", "End byte 1", "End byte 2"};

int *framingField(FrameFormat &f, int i)
{
    int *const fields[4] = {&f.startByte1, &f.startByte2, &f.endByte1, &f.endByte2};
    return fields[i];
}

QString framingText(int value)
{
    return value == FrameFormat::off ? QStringLiteral("off") : QString::number(value);
}

QString slotText(int type)
{
    return type == sensor::gyroscope       ? QStringLiteral("gyro")
           : type == sensor::accelerometer ? QStringLiteral("acc")
                                           : QStringLiteral("off");
}

} // namespace

void add(QCommandLineParser &parser)
{
    FrameFormat defaults;
    parser.addOption(
        {QStringLiteral("data-bytes"),
         QStringLiteral("Data bytes per frame, 0-99 (default %1).").arg(defaults.dataBytes),
         QStringLiteral("n")});
    for (int i = 0; i < 4; ++i)
        parser.addOption(
            {QLatin1String(framingNames[i]),
             QStringLiteral("%1: 0-255 or off (default %2).")
                 .arg(QLatin1String(framingTitles[i]), framingText(*framingField(defaults, i))),
             QStringLiteral("byte")});
    for (int slot : {1, 2})
        parser.addOption({QStringLiteral("slot%1").arg(slot),
                          QStringLiteral("Sensor in slot %1: gyro, acc or off (default %2).")
                              .arg(slot)
                              .arg(slotText(slot == 1 ? defaults.slot1Type : defaults.slot2Type)),
                          QStringLiteral("sensor")});
}

bool number(const QCommandLineParser &parser, const QString &name, long long low, long long high,
            long long *value, QString *error)
{
    if (!parser.isSet(name))
        return true;
    bool ok = false;
    const long long given = parser.value(name).toLongLong(&ok);
    if (ok && given >= low && given <= high) {
        *value = given;
        return true;
    }
    *error = QStringLiteral("--%1 takes a whole number from %2 to %3, not \"%4\"")
                 .arg(name)
                 .arg(low)
                 .arg(high)
                 .arg(parser.value(name));
    return false;
}

bool read(const QCommandLineParser &parser, FrameFormat *format, QString *error)
{
    FrameFormat f = *format;
    long long dataBytes = f.dataBytes;
    if (!number(parser, QStringLiteral("data-bytes"), 0, 99, &dataBytes, error))
        return false;
    f.dataBytes = int(dataBytes);
    for (int i = 0; i < 4; ++i) {
        const QString name = QLatin1String(framingNames[i]);
        long long value = *framingField(f, i);
        if (parser.value(name) == QLatin1String("off")) {
            value = FrameFormat::off;
        } else if (!number(parser, name, 0, 255, &value, error)) {
            *error = QStringLiteral("--%1 takes 0 to 255 or off, not \"%2\"")
                         .arg(name, parser.value(name));
            return false;
        }
        *framingField(f, i) = int(value);
    }
    for (int slot : {1, 2}) {
        const QString name = QStringLiteral("slot%1").arg(slot);
        int &type = slot == 1 ? f.slot1Type : f.slot2Type;
        if (!parser.isSet(name))
            continue;
        const QString value = parser.value(name);
        type = value == QLatin1String("gyro")  ? sensor::gyroscope
               : value == QLatin1String("acc") ? sensor::accelerometer
               : value == QLatin1String("off") ? sensor::none
                                               : INT_MIN;
        if (type == INT_MIN) {
            *error = QStringLiteral("--%1 takes gyro, acc or off, not \"%2\"").arg(name, value);
            return false;
        }
    }
    *format = f;
    return true;
}

} // namespace frameoptions
