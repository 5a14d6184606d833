#pragma once

#include "frameformat.h"
#include "serialdevices.h"

#include <QString>

// The whole run-time configuration as the options dialog accepted it, or as
// the command line gives it. The defaults are those of the untouched dialog.
struct OptionSet {
    // The frame format. Its slot types are the sensors chosen for the slots,
    // kept also while a slot is off: frameFormat() is the format in use.
    FrameFormat frame;
    bool s1On = true;
    bool s2On = true;
    // The byte counts the user gave the slots; they describe no byte of the
    // frame and only travel in the option array.
    int sensor1Bytes = 6;
    int sensor2Bytes = 6;

    QString filename = QStringLiteral("logs"); // logging directory
    int newfileLines = 50000;                  // rows per log file; 0: no limit
    QString devicename = QString::fromLatin1(defaultSerialDevice);
    bool drawPlots = true;
    int autoClearLines = 100; // points the live plots keep
    bool testMode = false;
    bool initMsgOn = true;

    int s1Sensor() const { return frame.slot1Type; }
    int s2Sensor() const { return frame.slot2Type; }

    // The format the receiver's frames are read in: a slot that is off
    // carries no sensor.
    FrameFormat frameFormat() const
    {
        FrameFormat f = frame;
        f.slot1Type = s1On ? frame.slot1Type : sensor::none;
        f.slot2Type = s2On ? frame.slot2Type : sensor::none;
        return f;
    }
    // What the dialog emits to the serial link.
    OptionArray optionArray() const
    {
        return frameFormat().toOptionArray(sensor1Bytes, sensor2Bytes);
    }
};
