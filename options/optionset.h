#pragma once

#include "frameformat.h"

#include <QString>

// The whole run-time configuration as the options dialog accepted it. The
// defaults are those of the untouched dialog.
struct OptionSet {
    // The frame: data bytes, then the framing bytes (-1: switched off).
    int dataBytes = 12;
    int startByte1 = FrameFormat::off;
    int startByte2 = FrameFormat::off;
    int endByte1 = 55;
    int endByte2 = 1;
    // Sensor slots: in use, sensor type (the combo box index, kept also
    // while the slot is off) and the byte count the user gave.
    bool s1On = true;
    bool s2On = true;
    int s1Sensor = sensor::gyroscope;
    int s2Sensor = sensor::accelerometer;
    int sensor1Bytes = 6;
    int sensor2Bytes = 6;

    QString filename = QStringLiteral("logs"); // logging directory
    int newfileLines = 50000;                  // rows per log file; 0: no limit
    QString devicename = QStringLiteral("/dev/ttyUSB0");
    bool drawPlots = true;
    int autoClearLines = 100; // points the live plots keep
    bool testMode = false;
    bool initMsgOn = true;

    FrameFormat frameFormat() const
    {
        FrameFormat f;
        f.dataBytes = dataBytes;
        f.startByte1 = startByte1;
        f.startByte2 = startByte2;
        f.endByte1 = endByte1;
        f.endByte2 = endByte2;
        f.slot1Type = s1On ? s1Sensor : sensor::none;
        f.slot2Type = s2On ? s2Sensor : sensor::none;
        return f;
    }
    // What the dialog emits to the serial link.
    OptionArray optionArray() const
    {
        return frameFormat().toOptionArray(sensor1Bytes, sensor2Bytes);
    }
};
